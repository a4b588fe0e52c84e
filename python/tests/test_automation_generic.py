"""korvanex.automation on a class it knows nothing of: the platform's KxTest.Recorder."""

import numpy as np
import pytest

from korvanex import automation as A


@pytest.fixture
def rec(registered_recorder):
    obj = A.Dispatch("KxTest.Recorder")
    yield obj
    obj.close()


def test_members_properties_and_retval(rec):
    assert {"Add", "Divide", "Describe", "Transpose", "Scale"} <= set(dir(rec))
    assert "BSCallPrice" not in dir(rec)
    assert rec.Add(1.5, 2) == 3.5
    rec.Scale = 2
    assert rec.Scale == 2.0
    assert rec.Add(B=1, A=2) == 6.0
    assert rec.Add.__doc__.startswith("(A + B) times Scale.")


def test_pure_outputs_are_results(rec):
    assert rec.Divide(7, 2) == (3.0, 1.0)
    assert rec.Divide(Numerator=-7, Denominator=2).Remainder == -1.0
    with pytest.raises(TypeError, match="Quotient is a result"):
        rec.Divide(7, 2, Quotient=1.0)


def test_failure_carries_error_information_and_outputs(rec):
    with pytest.raises(A.AutomationError) as caught:
        rec.Divide(1, 0)
    e = caught.value
    assert (e.hresult_name, e.dispatch_hresult) == ("E_INVALIDARG", -0x7FFDFFF7)
    assert (e.source, e.description) == ("KxTest.Recorder", "Denominator is zero.")
    assert e.outputs == {"Quotient": -1.0, "Remainder": -1.0}


@pytest.mark.parametrize("value, arrived", [
    (None, "omitted"),
    (2.5, "double 2.500000"),
    (7, "long 7"),
    (2**40, "double 1099511627776.000000"),
    (True, "bool true"),
    ("text", "text text"),
    (np.float64(1.25), "double 1.250000"),
    (np.int32(-3), "long -3"),
    ([1, 2, 3], "array 5 0..2"),
    ((1.0, 2.0), "array 5 0..1"),
    (np.zeros((2, 3)), "array 5 0..1 0..2"),
    (A.Array([1, 2, 3]), "array 5 1..3"),
    (A.Array(np.ones((2, 2)), -4), "array 5 -4..-3 -4..-3"),
])
def test_values_arrive_as_their_natural_automation_type(rec, value, arrived):
    assert rec.Describe(value) == arrived


def test_optional_output_left_out_is_omitted(rec):
    assert rec.Describe() == "omitted"
    assert rec.Describe(Value=None) == "omitted"


@pytest.mark.parametrize("lower", [0, 1, -2])
def test_two_dimensional_arrays_in_and_out_keep_their_order(rec, lower):
    matrix = np.arange(6.0).reshape(2, 3)
    values = matrix if lower == 0 else A.Array(matrix, lower)
    out = rec.Transpose(values)
    assert out.dtype == np.float64 and out.shape == (3, 2)
    assert np.array_equal(out, matrix.T)


def test_a_class_without_events_is_refused_by_dispatch_with_events(registered_recorder):
    class Handler:
        pass

    with pytest.raises(TypeError, match="no default source interface"):
        A.DispatchWithEvents("KxTest.Recorder", Handler)


def test_released_object_refuses_calls(rec):
    add = rec.Add
    rec.close()
    with pytest.raises(ValueError, match="released"):
        add(1, 2)
    assert "released" in repr(rec)


@pytest.mark.parametrize("args, argument", [((1, 2.0), "First"), ((1.0, "2"), "Second")])
def test_argument_the_dispatch_refuses_is_named(rec, args, argument):
    assert rec.Pair(1.0, 2.0) == 3.0
    with pytest.raises(A.AutomationError) as caught:
        rec.Pair(*args)
    e = caught.value
    assert (e.hresult_name, e.argument) == ("DISP_E_TYPEMISMATCH", argument)
    assert f"argument {argument}" in str(e)


@pytest.mark.parametrize("lower, error", [(1.0, TypeError), (True, TypeError), ("1", TypeError),
                                          (2**31, OverflowError)])
def test_array_lower_bound_must_be_a_32_bit_integer(rec, lower, error):
    with pytest.raises(error):
        rec.Describe(A.Array([1.0], lower))
    assert rec.Describe(A.Array([1.0], np.int64(-1))) == "array 5 -1..-1"
