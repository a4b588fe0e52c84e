"""The component through korvanex.automation: reference values, outputs, arrays, errors, events."""

import gc
import os
import math

import numpy as np
import pytest

from korvanex import automation as A

BS = (100, 100, 0.05, 1, 0.2, 0)
BJE = (42, 40, 0.04, 0.75, 0.35, 0.08, 1, None)
TREE = dict(StockPrice=100, ExercisePrice=100, InterestRate=0.05, TimeToMaturity=1,
            Volatility=0.2, DividendRate=0, ModelType=1, BinSteps=100)


class DoneRecorder:
    def __init__(self):
        self.done = []

    def OnDone(self, LastMethod, ErrorCode, ErrorString):
        self.done.append((LastMethod, ErrorCode, ErrorString))


@pytest.fixture
def q(registered_component):
    obj = A.Dispatch("Korvane.Quantorb")
    yield obj
    obj.close()


@pytest.fixture
def qe(registered_component):
    obj = A.DispatchWithEvents("Korvane.Quantorb", DoneRecorder)
    yield obj
    obj.close()


# Reference values of the component's own tests (10, 6 and 8 decimals given).
@pytest.mark.parametrize("member, args, kwargs, expected, tol", [
    ("BSCallPrice", BS, {}, 10.4505756193, 1e-9),
    ("BSPutPrice", BS, {}, 5.5735180694, 1e-9),
    ("BSDelta", BS, {}, (0.6368305905, -0.3631694095), 1e-9),
    ("BSTheta", BS, {}, (-6.4140276405, -1.6578805180), 1e-9),
    ("BSGamma", BS, {}, 0.0187620173, 1e-9),
    ("BSVega", BS, {}, 37.5240346917, 1e-9),
    ("BSRho", BS, {}, (53.2324834262, -41.8904590239), 1e-9),
    ("BJECallPrice", BJE, {}, 5.27040503, 5e-9),
    ("BJEPutPrice", BJE, {}, 4.36127987, 5e-9),
    ("BJEDelta", BJE, {}, (0.58160133, -0.39129835), 5e-9),
    ("BJETheta", BJE, {}, (-2.29173813, -3.59988787), 5e-9),
    ("BJEGamma", BJE, {}, 0.03284075, 5e-9),
    ("BJEVega", BJE, {}, 13.34314697, 5e-9),
    ("BJERho", BJE, {}, (10.76326517, -15.58852211), 5e-9),
    ("BJEImpliedVolatility", (42, 40, 0.04, 0.75, 0.08, 1, None, 5.27040503), {},
     0.35000034, 5e-8),
    ("BinPriceGreeks", (), dict(TREE, FlagEurAm=1, DoVega=1, DoRho=1),
     (10.430612, 5.553554, 0.636512, -0.363488, -6.445313, -1.686787, 0.018922, 37.439732,
      53.387672, -41.616466), 5e-7),
    ("BinPutPrice", (), dict(TREE, FlagEurAm=0), 6.082354, 5e-7),
    ("BinDelta", (), dict(TREE, FlagEurAm=0), (0.636512, -0.411636), 5e-7),
    ("BinImpliedVolatilityPut", (100, 100, 0.05, 1, 0, 1, None, 100, 0, 6.082354), {},
     0.2, 1e-6),
    ("HistoricalVolatility1", ([100, 110, 100], 252), {}, 2.1397082298, 1e-9),
])
def test_reference_values_of_every_family(q, member, args, kwargs, expected, tol):
    got = getattr(q, member)(*args, **kwargs)
    if isinstance(expected, tuple):
        assert isinstance(got, tuple) and len(got) == len(expected)
        np.testing.assert_allclose(got, expected, rtol=0, atol=tol)
    else:
        assert isinstance(got, float)
        assert got == pytest.approx(expected, abs=tol)


def test_retval_is_the_exact_double(q):
    assert q.BSCallPrice(100, 100, 0.05, 1, 0.2, 0) == 10.450575619322265


def test_keywords_in_any_order_and_any_case_equal_positions(q):
    by_position = q.BJECallPrice(42, 40, 0.04, 0.75, 0.35, 0.08, 1)
    by_name = q.BJECallPrice(modeltype=1, DividendRate=0.08, Volatility=0.35,
                             TimeToMaturity=0.75, InterestRate=0.04, ExercisePrice=40,
                             StockPrice=42)
    assert by_name == by_position


def test_outputs_come_as_a_named_tuple_in_declared_order(q):
    greeks = q.BinPriceGreeks(**TREE, FlagEurAm=1, DoVega=1, DoRho=1)
    assert type(greeks)._fields == ("CallPrice", "PutPrice", "CDelta", "PDelta", "CTheta",
                                    "PTheta", "Gamma", "Vega", "CRho", "PRho")
    cdelta, pdelta = q.BSDelta(*BS)
    assert (cdelta, pdelta) == (q.BSDelta(*BS).CDelta, q.BSDelta(*BS).PDelta)
    # An in/out parameter the caller passes is an input, not a result.
    passed = q.BinPrice(**TREE, FlagEurAm=1, CPrice=0.0)
    assert passed == greeks.PutPrice


def test_omitted_optional_is_omitted_not_zero(q):
    # ModelType 3 carries at r - rf: an omitted rf and rf = 0 agree, rf = 0.03 does not.
    args = (100, 100, 0.05, 1, 0.2, 0, 3)
    omitted = q.BJECallPrice(*args)
    assert omitted == q.BJECallPrice(*args, None) == q.BJECallPrice(*args, 0.0)
    assert q.BJECallPrice(*args, ForeignInterestRate=0.03) != omitted


@pytest.mark.parametrize("base", [0, 1])
def test_skew_from_numpy_strikes_with_either_base(q, base):
    q.Base = base
    assert q.Base == base
    strikes = np.array([90.0, 100.0, 110.0])
    calls = np.array([q.BSCallPrice(100, k, 0.05, 1, 0.25, 0) for k in strikes])
    puts = np.array([q.BSPutPrice(100, k, 0.05, 1, 0.25, 0) for k in strikes])
    wrap = (lambda a: A.Array(a, 1)) if base == 1 else (lambda a: a)
    result = q.BSImpliedVolatilitySkew(100, wrap(strikes), 0.05, 1, 0, wrap(calls), wrap(puts))
    assert type(result)._fields == ("IVolatilityCall", "IVolatilityPut")
    for side in result:
        assert isinstance(side, np.ndarray) and side.dtype == np.float64 and side.shape == (3,)
        np.testing.assert_allclose(side, 0.25, atol=1e-4)


def test_base_one_refuses_arrays_starting_at_zero(q):
    q.Base = 1
    with pytest.raises(A.AutomationError) as caught:
        q.HistoricalVolatility([100, 110, 100], 252)
    assert caught.value.hresult_name == "DISP_E_BADINDEX"
    assert q.HistoricalVolatility(A.Array([100, 110, 100]), 252).tolist() == \
        pytest.approx([2.1397082298])


def test_two_dimensional_prices_keep_rows_and_columns(q):
    # Rows are days, columns are series: the second series is the first scaled by 2.
    prices = np.array([[100.0, 200.0, 50.0], [110.0, 220.0, 50.0], [100.0, 200.0, 50.0],
                       [105.0, 210.0, 50.0]])
    vols = q.HistoricalVolatility(prices, 252)
    assert vols.shape == (3,)
    assert vols[0] == pytest.approx(vols[1], rel=1e-12) and vols[2] == 0.0
    assert vols[0] == q.HistoricalVolatility1(prices[:, 0], 252)
    # The same values from a list of lists and from a C- or Fortran-ordered array.
    assert np.array_equal(q.HistoricalVolatility(prices.tolist(), 252), vols)
    assert np.array_equal(q.HistoricalVolatility(np.asfortranarray(prices), 252), vols)


def test_failure_raises_with_code_texts_and_sentinel_outputs(qe):
    with pytest.raises(A.AutomationError) as caught:
        qe.BSDelta(100, 100, 0.05, 1, -0.2, 0)
    e = caught.value
    assert (e.hresult, e.hresult_name) == (-0x7FFFBFFB, "E_FAIL")
    assert e.description == "Error in BSDelta: Invalid input parameter(s)."
    assert e.source == "Korvane.Quantorb.1"
    assert e.outputs == {"CDelta": -999.0, "PDelta": -999.0}
    assert e.member == "BSDelta" and "E_FAIL" in str(e)
    assert qe.done[-1] == (2, 6010, "Argument error: Invalid input parameter(s).")


@pytest.mark.parametrize("call, error, text", [
    (lambda q: q.NoSuchMember, AttributeError, "no member 'NoSuchMember'"),
    (lambda q: q.BSCallPrice(*BS, 1), TypeError, "at most 6 arguments"),
    (lambda q: q.BSCallPrice(*BS, Strike=1), TypeError, "unexpected keyword argument 'Strike'"),
    (lambda q: q.BSCallPrice(*BS[:5]), TypeError, "missing required argument 'DividendRate'"),
    (lambda q: q.BSCallPrice(*BS[:5], DividendRate="0"), TypeError, "DividendRate takes a number"),
    (lambda q: q.BSCallPrice(100, [100], 0.05, 1, 0.2, 0), TypeError, "takes a number"),
    (lambda q: q.BSCallPrice(*BS, CPrice=1.0), TypeError, "CPrice is a result"),
    (lambda q: q.BSCallPrice(100, StockPrice=100), TypeError, "multiple values"),
    (lambda q: q.BinCallPrice(**TREE, FlagEurAm=1.0), TypeError, "FlagEurAm takes an integer"),
    (lambda q: q.BinCallPrice(**dict(TREE, BinSteps=2**40), FlagEurAm=1), OverflowError,
     "BinSteps"),
    (lambda q: q.HistoricalVolatility1(["a", "b", "c"], 252), TypeError, "array of numbers"),
    (lambda q: q.HistoricalVolatility1(np.zeros((2, 2, 2)), 252), TypeError, "1 or 2 dim"),
    (lambda q: q.HistoricalVolatility1([[1, 2], [3]], 252), TypeError, "rows of one length"),
    (lambda q: q.HistoricalVolatility1({1: 2}, 252), TypeError, "Prices takes"),
    (lambda q: setattr(q, "About", 1), AttributeError, "cannot be set"),
])
def test_bad_input_is_refused_before_the_call(qe, call, error, text):
    before = len(qe.done)
    with pytest.raises(error, match=text):
        call(qe)
    assert len(qe.done) == before  # no call reached the component


@pytest.mark.parametrize("value", [math.nan, math.inf, -math.inf])
def test_non_finite_doubles_reach_the_component(qe, value):
    # Whatever the component answers, the value reached it: one Done per call.
    for position in range(6):
        args = list(BS)
        args[position] = value
        before = len(qe.done)
        try:
            got = qe.BSCallPrice(*args)
            assert isinstance(got, float)
        except A.AutomationError as e:
            assert e.hresult_name == "E_FAIL" and qe.done[-1][1] == 6010
        assert len(qe.done) == before + 1


@pytest.mark.parametrize("text, name", [("No.Such.Class", "CO_E_CLASSSTRING"),
                                        ("{01234567-89AB-CDEF-0123-456789ABCDEF}",
                                         "REGDB_E_CLASSNOTREG")])
def test_unregistered_class_raises_the_activation_code(registered_component, text, name):
    with pytest.raises(A.AutomationError) as caught:
        A.Dispatch(text)
    assert caught.value.hresult_name == name
    # It names the registry files it searched, and how to register.
    assert f"registry files searched: {os.environ['KX_REGISTRY_DIR']}/" in str(caught.value)
    assert os.environ["KX_MACHINE_REGISTRY_DIR"] in str(caught.value)
    assert "python3 -m korvanex register" in str(caught.value)


def test_done_events_in_order_with_their_codes(qe):
    qe.BSCallPrice(*BS)
    with pytest.raises(A.AutomationError):
        qe.BinCallPrice(**dict(TREE, BinSteps=0), FlagEurAm=1)
    qe.HistoricalVolatility1([100, 110, 100], 252)
    assert [d[:2] for d in qe.done] == [(2, 0), (2, qe.done[1][1]), (2, 0)]
    assert qe.done[1][1] != 0 and qe.done[1][2].startswith("Argument error: ")
    assert qe.done[0][2] == "No Error"


def test_help_and_dir_come_from_the_type_information(q):
    assert {"BSCallPrice", "BinPriceGreeks", "Base", "Abort"} <= set(dir(q))
    method = q.BinPriceGreeks
    assert method.__doc__.startswith("Computes the Binomial put, call and greeks for an option.")
    assert "DoVega: long [in]" in method.__doc__
    import inspect
    params = inspect.signature(method).parameters
    assert list(params)[:3] == ["StockPrice", "ExercisePrice", "InterestRate"]
    assert params["ForeignInterestRate"].default is None
    assert params["CallPrice"].default is None
    # Inputs and by-reference parameters apart, each with its type.
    inputs, by_ref = method.__doc__.split("By reference")
    assert "Volatility: double [in]" in inputs and "CallPrice" not in inputs
    assert "CallPrice: double [in, out]" in by_ref
    # help(q) is the type information's own class, listing every member with its parameters.
    import pydoc
    page = pydoc.render_doc(q, renderer=pydoc.plaintext)
    assert type(q).__name__ == "IKvQuantorb" and "class IKvQuantorb" in page
    for member in ("BSDelta(self, /, StockPrice, ExercisePrice", "HistoricalVolatility1(self",
                   "Computes Delta for a European stockoption", "Base (property)"):
        assert member in page, member


def test_dropped_object_lets_its_module_unload(registered_component):
    q = A.DispatchWithEvents("Korvane.Quantorb", DoneRecorder)
    q.BSCallPrice(*BS)
    del q
    gc.collect()
    A.free_unused_libraries()
    assert not A.is_module_loaded(str(registered_component))
    # And it loads again on demand.
    assert A.Dispatch("Korvane.Quantorb").BSCallPrice(*BS) == 10.450575619322265


def test_out_asks_for_an_optional_output(q):
    strikes = np.array([95.0, 105.0])
    tree = dict(InterestRate=0.05, TimeToMaturity=1, DividendRate=0, ModelType=1, BinSteps=50,
                FlagEurAm=1)
    calls = [q.BinCallPrice(100, k, Volatility=0.25, **tree) for k in strikes]
    puts = [q.BinPutPrice(100, k, Volatility=0.25, **tree) for k in strikes]
    call_only = q.BinImpliedVolatilitySkew(100, strikes, CallValue=calls, **tree)
    assert isinstance(call_only, np.ndarray)  # IVolatilityPut left out is omitted
    both = q.BinImpliedVolatilitySkew(100, strikes, CallValue=calls, PutValue=puts,
                                      IVolatilityPut=A.Out, **tree)
    assert np.array_equal(both.IVolatilityCall, call_only)
    np.testing.assert_allclose(both.IVolatilityPut, 0.25, atol=1e-4)
    with pytest.raises(TypeError, match="not an output"):
        q.BinImpliedVolatilitySkew(100, strikes, CallValue=calls, MaxIter=A.Out, **tree)


def test_in_out_parameters_passed_by_position_are_inputs(q):
    # All twelve values given: CPrice and PPrice are inputs, so nothing is returned.
    assert q.BinPrice(100, 100, 0.05, 1, 0.2, 0, 1, None, 50, 1, 0.0, 0.0) is None
    assert q.BinPrice(100, 100, 0.05, 1, 0.2, 0, 1, None, 50, 1, 0.0) == \
        q.BinPutPrice(100, 100, 0.05, 1, 0.2, 0, 1, None, 50, 1)


def test_handler_exception_follows_the_call(registered_component):
    class Failing:
        def OnDone(self, LastMethod, ErrorCode, ErrorString):
            self.seen = ErrorCode
            raise RuntimeError("handler failed")

    q = A.DispatchWithEvents("Korvane.Quantorb", Failing)
    with pytest.raises(RuntimeError, match="handler failed"):
        q.BSCallPrice(*BS)
    assert q.seen == 0
    q.close()


def test_handler_without_the_event_method_is_left_alone(registered_component):
    class Nothing:
        def __init__(self):
            self.created = True

    q = A.DispatchWithEvents("Korvane.Quantorb", Nothing)
    assert q.created and q.BSCallPrice(*BS) == 10.450575619322265
    q.close()
