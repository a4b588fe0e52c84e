"""korvanex.models: broadcasting, layouts, threads, bad input and bad elements."""

import os
import subprocess
import sys
import threading

import numpy as np
import pandas as pd
import pytest

from korvanex import models

BS_ARGS = (100.0, 100.0, 0.05, 1.0, 0.2, 0.0)


def bits(values):
    values = np.asarray(values, dtype=np.float64)
    return np.where(np.isnan(values), 0, values.view(np.uint64))


def same(a, b):
    return np.shape(a) == np.shape(b) and np.array_equal(bits(a), bits(b))


def random_book(n, seed=5):
    rng = np.random.default_rng(seed)
    spot = rng.uniform(50, 150, n)
    return (spot, spot * rng.uniform(0.7, 1.3, n), rng.uniform(0, 0.08, n),
            rng.uniform(0.05, 2, n), rng.uniform(0.05, 0.6, n), rng.uniform(0, 0.05, n))


# Every function with arguments that price one valid element.
CALLS = {
    "bs_price": (models.bs_price, BS_ARGS, {}),
    "bs_greeks": (models.bs_greeks, BS_ARGS, {}),
    "bs_implied_vol": (models.bs_implied_vol, (10.45, 100.0, 100.0, 0.05, 1.0, 0.0), {}),
    "binomial_price": (models.binomial_price, BS_ARGS, {"steps": 20}),
    "binomial_greeks": (models.binomial_greeks, BS_ARGS, {"steps": 20}),
    "binomial_implied_vol": (models.binomial_implied_vol, (10.4, 100.0, 100.0, 0.05, 1.0, 0.0),
                             {"steps": 20}),
    "bjs_price": (models.bjs_price, BS_ARGS, {}),
    "bjs_greeks": (models.bjs_greeks, BS_ARGS, {}),
    "bjs_implied_vol": (models.bjs_implied_vol, (10.4, 100.0, 100.0, 0.05, 1.0, 0.0), {}),
}


def as_arrays(result):
    return list(result) if isinstance(result, models.Greeks) else [result]


@pytest.mark.parametrize("name", CALLS)
def test_scalars_give_floats_and_arrays_broadcast(name):
    function, args, keywords = CALLS[name]
    scalar = as_arrays(function(*args, **keywords))
    assert all(type(v) is float and np.isfinite(v) for v in scalar)
    # The strike as a (3, 1) column and the spot as a (4,) row broadcast to (3, 4).
    strikes = np.array([[90.0], [100.0], [110.0]])
    spots = np.array([80.0, 95.0, 100.0, 120.0])
    grid = list(args)
    grid[-5], grid[-6] = strikes, spots  # strike and spot sit before rate, time, vol/dividend
    if name.endswith("implied_vol"):
        grid = list(args)
        grid[1], grid[2] = spots, strikes
    result = as_arrays(function(*grid, **keywords))
    for field in result:
        assert field.shape == (3, 4) and field.dtype == np.float64
    # Element (i, j) is the scalar call with the same inputs.
    for i, j in [(0, 0), (1, 2), (2, 3)]:
        one = list(grid)
        one = [v[i, 0] if v is strikes else v[j] if v is spots else v for v in one]
        expected = as_arrays(function(*one, **keywords))
        assert all(same(f[i, j], e) for f, e in zip(result, expected))


def test_strided_and_broadcast_views_match_contiguous_copies():
    book = random_book(6 * 5 * 4)
    cube = [a.reshape(6, 5, 4) for a in book]
    # Transposed, reversed and step-sliced views: the walk follows their strides.
    views = [cube[0].transpose(2, 0, 1), cube[1][::-1].transpose(2, 0, 1),
             cube[2].transpose(2, 0, 1)[:, ::1, :], np.asfortranarray(cube[3]).transpose(2, 0, 1),
             cube[4].transpose(2, 0, 1), 0.01]
    contiguous = [np.ascontiguousarray(v) for v in views]
    for function in (models.bs_greeks, models.bjs_greeks):
        assert all(same(a, b) for a, b in zip(function(*views), function(*contiguous)))
    stepped = [np.arange(100.0, 140.0)[::4], 100.0, 0.03, 1.0, 0.25]
    assert same(models.bs_price(*stepped), models.bs_price(np.arange(100.0, 140.0, 4.0),
                                                           100.0, 0.03, 1.0, 0.25))


@pytest.mark.parametrize("seed", range(8))
def test_random_layouts_walk_every_element_in_order(seed):
    # Shapes with broadcast axes, reversed and stepped views, chunks that start mid-row.
    rng = np.random.default_rng(seed)
    ndim = int(rng.integers(1, 5))
    shape = tuple(int(n) for n in rng.integers(1, 9, ndim) * rng.integers(1, 4, ndim))
    inputs = []
    for low, high in ((50, 150), (60, 140), (0, 0.1), (0.1, 2), (0.05, 0.5), (0, 0.05)):
        own = tuple(n if rng.random() < 0.7 else 1 for n in shape)
        base = rng.uniform(low, high, tuple(2 * n for n in own))
        view = base[tuple(slice(None, None, -2) if rng.random() < 0.5 else slice(None, None, 2)
                          for _ in own)]
        inputs.append(view[tuple(slice(0, n) for n in own)])
    order = rng.permutation(ndim)
    inputs = [np.transpose(a, order) for a in inputs]
    got = models.bs_price(*inputs, threads=3)
    contiguous = [np.ascontiguousarray(np.broadcast_to(a, got.shape)).ravel() for a in inputs]
    flat = models.bs_price(*contiguous, threads=1)
    assert same(got.ravel(), flat)
    for i in rng.integers(0, flat.size, 5):
        assert same(flat[i], models.bs_price(*(c[i] for c in contiguous)))


def test_pandas_in_pandas_out_aligned_by_label():
    index = pd.Index(["a", "b", "c"], name="ticker")
    spot = pd.Series([90.0, 100.0, 110.0], index=index)
    price = models.bs_price(spot, 100.0, 0.05, 1.0, 0.2)
    assert isinstance(price, pd.Series) and price.index.equals(index)
    assert same(price.to_numpy(), models.bs_price(spot.to_numpy(), 100.0, 0.05, 1.0, 0.2))
    frame = models.bs_greeks(spot, 100.0, 0.05, 1.0, 0.2, as_frame=True)
    assert list(frame.columns) == list(models.Greeks._fields) and frame.index.equals(index)
    assert same(frame["call_price"].to_numpy(), price.to_numpy())
    assert models.bjs_greeks(*BS_ARGS, as_frame=True).shape == (1, 10)
    with pytest.raises(ValueError, match="1-D"):
        models.bs_greeks(np.full((2, 2), 100.0), *BS_ARGS[1:], as_frame=True)
    # Labels pair up, not positions; a label one input lacks is a refused row.
    strike = pd.Series([105.0, 95.0, 100.0, 120.0], index=["b", "a", "c", "d"])
    kind = pd.Series(["put", "call", "put", "call"], index=["a", "b", "c", "d"])
    aligned, errors = models.bs_price(spot, strike, 0.05, 1.0, 0.2, kind=kind, errors="return")
    assert list(aligned.index) == ["a", "b", "c", "d"]
    for label, k in (("a", "put"), ("b", "call"), ("c", "put")):
        assert aligned[label] == models.bs_price(spot[label], strike[label], 0.05, 1.0, 0.2,
                                                 kind=k)
    assert np.isnan(aligned["d"]) and errors.code["d"] == 6010 and errors.code["a"] == 0
    # A DataFrame grid keeps its rows and columns; Series and DataFrames do not mix.
    grid = pd.DataFrame([[90.0, 100.0], [110.0, 120.0]], index=["x", "y"], columns=[0.5, 1.0])
    prices = models.bs_price(grid, 100.0, 0.05, 1.0, 0.2)
    assert isinstance(prices, pd.DataFrame) and prices.columns.equals(grid.columns)
    assert prices.loc["y", 1.0] == models.bs_price(120.0, 100.0, 0.05, 1.0, 0.2)
    with pytest.raises(ValueError, match="mix"):
        models.bs_price(grid, strike, 0.05, 1.0, 0.2)
    # A kind per element, numpy style.
    kinds = np.array(["call", "put", "put"])
    np.testing.assert_array_equal(
        models.bjs_price(spot.to_numpy(), 100.0, 0.05, 1.0, 0.2, kind=kinds),
        [models.bjs_price(s, 100.0, 0.05, 1.0, 0.2, kind=k) for s, k in zip(spot, kinds)])
    with pytest.raises(ValueError, match="per element"):
        models.bs_price(spot, 100.0, 0.05, 1.0, 0.2, kind=["call", "Put", "call"])


@pytest.mark.parametrize("name,size", [("bs_greeks", 20001), ("bjs_implied_vol", 700),
                                       ("binomial_greeks", 37), ("binomial_implied_vol", 9)])
def test_results_do_not_depend_on_the_thread_count(name, size):
    function, args, keywords = CALLS[name]
    book = random_book(size, seed=size)
    inputs = list(book[:len(args)])
    if name.endswith("implied_vol"):
        inputs[0] = models.bs_price(*book) * 1.01
    inputs[0][::97] = -1.0  # a few refused elements among them
    results = [as_arrays(function(*inputs, threads=t, **keywords)) for t in (1, 2, 3, 8)]
    for other in results[1:]:
        assert all(same(a, b) for a, b in zip(results[0], other))
    models.set_threads(1)
    try:
        assert models.get_threads() == 1
        assert all(same(a, b) for a, b in
                   zip(results[0], as_arrays(function(*inputs, **keywords))))
    finally:
        models.set_threads(None)
    assert models.get_threads() >= 1


@pytest.mark.parametrize("steps", [2, 300, 1200])
def test_a_single_tree_on_two_threads_matches_one_thread(steps):
    # With fewer trees than threads, each tree's rho tree runs on a helper thread.
    inputs = (*BS_ARGS[:5], [0.0, 0.02][: 1 + (steps == 300)])
    one = models.binomial_greeks(*inputs, steps=steps, threads=1)
    two = models.binomial_greeks(*inputs, steps=steps, threads=4)
    assert all(same(a, b) for a, b in zip(one, two))
    assert np.isfinite(np.asarray(list(one))).all()


def test_concurrent_calls_from_python_threads():
    book = random_book(40000)
    expected = models.bs_greeks(*book, threads=1)
    failures = []

    def price():
        for _ in range(3):
            if not all(same(a, b) for a, b in zip(models.bs_greeks(*book, threads=2), expected)):
                failures.append("mismatch")

    threads = [threading.Thread(target=price) for _ in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join(timeout=120)
    assert not any(t.is_alive() for t in threads)
    assert failures == []


# One refused input per row: (function, position, value, component code, reason).
REFUSED = [
    ("bs_price", 0, 0.0, 6010, "Stock Price must be greater than 0"),
    ("bs_price", 1, -1.0, 6010, "Exercise Price must be greater than 0"),
    ("bs_greeks", 2, -1e-12, 6010, "Interest Rate must be greater than than 0"),
    ("bs_greeks", 3, 0.0, 6010, "Time To Maturity must be greater than 0"),
    ("bs_greeks", 4, -0.01, 6010, "Volatility must be greater than 0"),
    ("bs_price", 5, -0.01, 6010, "Dividend Rate cannot be less than 0"),
    ("bs_price", 5, 1.01, 6010, "Dividend Rate cannot be greater than 1"),
    ("bs_price", 4, np.nan, 6010, "Volatility must be greater than 0"),
    ("bs_implied_vol", 0, np.nan, 6010, "Option Price is not a number"),
    ("bs_implied_vol", 1, np.nan, 6010, "Stock Price must be greater than 0"),
    ("bjs_price", 2, np.nan, 6010, "Interest Rate must be greater than than 0"),
    ("bjs_implied_vol", 0, np.nan, 6010, "Option Price is not a number"),
    ("binomial_implied_vol", 0, np.nan, 6010, "Option Price is not a number"),
    ("binomial_greeks", 5, 2.0, 6010, "Dividend Rate cannot be greater than 1"),
]


@pytest.mark.parametrize("name,position,value,code,reason", REFUSED)
def test_refused_elements_are_nan_with_code_and_reason(name, position, value, code, reason):
    function, args, keywords = CALLS[name]
    inputs = list(args)
    column = np.full(3, float(args[position]))
    column[1] = value
    inputs[position] = column
    result, errors = function(*inputs, errors="return", **keywords)
    for field in as_arrays(result):
        assert np.isnan(field[1]) and np.isfinite(field[[0, 2]]).all()
    assert errors.code.tolist() == [0, code, 0]
    assert errors.text[1] == "Argument error: Invalid input parameter(s)."
    assert errors.reason.tolist() == ["", reason, ""]
    with pytest.raises(models.ModelError, match=f"element \\(1,\\): error {code}") as raised:
        function(*inputs, errors="raise", **keywords)
    assert (raised.value.index, raised.value.code, raised.value.reason) == ((1,), code, reason)


@pytest.mark.parametrize("keywords,reason", [
    ({"carry": "currency", "foreign_rate": -0.01}, "Foreign Interest Rate cannot be less than 0"),
    ({"carry": "currency", "foreign_rate": 1.5},
     "Foreign Interest Rate cannot be greater than 1 (100%)"),
    ({"steps": 0}, "BinSteps must be greater than than 0"),
    ({"steps": 5001}, "BinSteps cannot be greater than 5000"),
    ({"steps": 10**12}, "BinSteps cannot be greater than 5000"),
    ({"steps": -(10**12)}, "BinSteps must be greater than than 0"),
])
def test_tree_keywords_refused_like_the_methods(keywords, reason):
    keywords = {"steps": 10, **keywords}
    result, errors = models.binomial_price(*BS_ARGS, errors="return", **keywords)
    assert np.isnan(result) and errors.code == 6010 and errors.reason == reason


def test_not_computable_outputs_are_nan_never_the_sentinel():
    greeks, errors = models.bs_greeks(100.0, [90.0, 110.0], 0.05, 1.0, 0.0, errors="return")
    assert errors.code.tolist() == [models.NOT_COMPUTABLE] * 2
    assert np.isnan(greeks.call_delta).all() and np.isnan(greeks.gamma).all()
    assert np.isfinite(greeks.call_price).all() and np.isfinite(greeks.call_theta).all()
    one_step, errors = models.binomial_greeks(*BS_ARGS, steps=1, errors="return")
    assert np.isnan(one_step.call_theta) and np.isnan(one_step.gamma)
    assert np.isfinite(one_step.call_delta) and errors.code == models.NOT_COMPUTABLE
    put = models.bjs_price(*BS_ARGS[:4], 0.0, kind="put")
    assert np.isnan(put)
    for result in (greeks, one_step):
        assert not np.any(np.asarray(list(result)) == -999.0)


def test_implied_vol_search_rules():
    # max_iter 0 and below mean 50; one bisection step leaves the midpoint of [0, 50].
    assert models.bs_implied_vol(10.45, *BS_ARGS[:4], max_iter=0) == \
        models.bs_implied_vol(10.45, *BS_ARGS[:4], max_iter=-5)
    assert models.bs_implied_vol(10.45, *BS_ARGS[:4], max_iter=1) == 25.0
    assert models.bjs_implied_vol(10.45, *BS_ARGS[:4], max_iter=1) == 25.0
    true_vol = 0.3
    price = models.bs_price(*BS_ARGS[:4], true_vol, kind="put")
    assert models.bs_implied_vol(price, *BS_ARGS[:4], kind="put") == pytest.approx(true_vol,
                                                                                  abs=1e-6)


# Targets no volatility reproduces, or many do, where the component's search returns a number
# with "No Error": (call, code); and targets just inside, which keep their answer.
UNANSWERED = [
    (lambda **k: models.bs_implied_vol(0.0, 120.0, 100.0, 0.05, 1.0, **k), models.BELOW_RANGE),
    (lambda **k: models.bs_implied_vol(-1.0, *BS_ARGS[:4], kind="put", **k), models.BELOW_RANGE),
    (lambda **k: models.bs_implied_vol(100.5, *BS_ARGS[:4], **k), models.ABOVE_RANGE),
    (lambda **k: models.bs_implied_vol(100.5, *BS_ARGS[:4], max_iter=3, **k), models.ABOVE_RANGE),
    (lambda **k: models.bs_implied_vol(0.0, 100.0, 200.0, 0.05, 0.1, **k), models.NOT_UNIQUE),
    # A deep American put at its exercise value 40: every volatility up to some level gives it.
    (lambda **k: models.binomial_implied_vol(40.0, 60.0, 100.0, 0.05, 1.0, steps=200, kind="put",
                                             **k), models.NOT_UNIQUE),
    (lambda **k: models.bjs_implied_vol(40.0, 60.0, 100.0, 0.05, 1.0, kind="put", **k),
     models.NOT_UNIQUE),
    (lambda **k: models.bjs_implied_vol(39.0, 60.0, 100.0, 0.05, 1.0, kind="put", **k),
     models.BELOW_RANGE),
    # The 50-step tree's price overflows from about 20 up: it jumps from 100 to inf.
    (lambda **k: models.binomial_implied_vol(101.0, *BS_ARGS[:4], steps=50, **k),
     models.NOT_REACHED),
    (lambda **k: models.bjs_implied_vol(45.0, 60.0, 100.0, 0.05, 1.0, kind="put", **k), 0),
    (lambda **k: models.bs_implied_vol(99.0, *BS_ARGS[:4], **k), 0),
    (lambda **k: models.bs_implied_vol(1e-3, 100.0, 200.0, 0.05, 0.1, **k), 0),
]


@pytest.mark.parametrize("call,code", UNANSWERED)
def test_unanswered_implied_vol_targets_are_nan_with_a_reason(call, code):
    vol, errors = call(errors="return")
    assert errors.code == code and np.isnan(vol) == (code != 0)
    if code:
        assert errors.reason and np.isnan(call())
        with pytest.raises(models.ModelError, match=errors.text):
            call(errors="raise")


@pytest.mark.parametrize("call", [
    lambda: models.bs_price("100", *BS_ARGS[1:]),
    lambda: models.bs_price(np.array([1 + 2j]), *BS_ARGS[1:]),
    lambda: models.bs_price([None, 1.0], *BS_ARGS[1:]),
    lambda: models.binomial_price(*BS_ARGS, steps=10.0),
    lambda: models.binomial_price(*BS_ARGS, steps=True),
    lambda: models.binomial_price(*BS_ARGS, steps=10, american="yes"),
    lambda: models.bs_implied_vol(10.0, *BS_ARGS[:4], max_iter=2.5),
    lambda: models.bs_price(*BS_ARGS, threads="2"),
    lambda: models.historical_volatility(np.array([["a", "b", "c"]])),
    lambda: models.historical_volatility([1.0, 2.0, 3.0], trading_days=252.0),
])
def test_wrong_types_raise_type_error(call):
    with pytest.raises(TypeError):
        call()


@pytest.mark.parametrize("call", [
    lambda: models.bs_price([100.0, 90.0], [100.0, 90.0, 80.0], 0.05, 1.0, 0.2),
    lambda: models.bs_price(*BS_ARGS, kind="straddle"),
    lambda: models.bjs_price(*BS_ARGS, carry="bond"),
    lambda: models.bs_price(*BS_ARGS, errors="ignore"),
    lambda: models.bs_price(*BS_ARGS, threads=-1),
    lambda: models.historical_volatility(5.0),
    lambda: models.historical_volatility(np.ones((4, 3)), axis=2),
])
def test_bad_shapes_and_keywords_raise_value_error(call):
    with pytest.raises(ValueError):
        call()


def test_empty_inputs_give_empty_results():
    assert models.bs_price(np.array([]), *BS_ARGS[1:]).shape == (0,)
    greeks = models.binomial_greeks(np.empty((0, 3)), *BS_ARGS[1:], steps=5)
    assert all(g.shape == (0, 3) for g in greeks)


def test_integer_float32_and_big_endian_inputs_are_converted():
    assert models.bs_price(100, 100, 0, 1, 0) == models.bs_price(100.0, 100.0, 0.0, 1.0, 0.0)
    spots = [90.0, 100.5, 110.25]
    native = models.bs_price(spots, 100.0, 0.05, 1.0, 0.25)
    assert same(models.bs_price(np.array(spots, dtype=">f8"), 100.0, 0.05, 1.0, 0.25), native)
    assert same(models.bs_price(np.array(spots, dtype=np.float32), 100.0, 0.05, 1.0, 0.25),
                native)
    prices = np.array([100.0, 101.0, 99.5, 102.0])
    assert models.historical_volatility(prices.astype(">f8")) == \
        models.historical_volatility(prices)


def test_native_core_refuses_what_the_python_side_must_convert():
    from korvanex._native import models as native
    args = [np.ones(2)] * 5
    with pytest.raises(TypeError):
        native.price("bs_price", [np.ones(2, dtype=">f8")] + args, False, 1, 0, True, 0, 1, False)
    with pytest.raises(ValueError):
        native.price("bs_price", [np.ones(3)] + args, False, 1, 0, True, 0, 1, False)
    with pytest.raises(ValueError):
        native.price("bs_price", args, False, 1, 0, True, 0, 1, False)
    with pytest.raises(ValueError):
        native.price("no_such_model", [np.ones(2)] + args, False, 1, 0, True, 0, 1, False)


def series_reference(series, trading_days):
    returns = np.diff(np.log(series))
    return np.std(returns, ddof=1) * np.sqrt(trading_days)


def test_historical_volatility_axes_and_layouts():
    rng = np.random.default_rng(3)
    prices = 100 * np.exp(np.cumsum(rng.normal(0, 0.01, (50, 4, 3)), axis=0))
    by_series = models.historical_volatility(prices, 252)
    assert by_series.shape == (4, 3)
    for i, j in [(0, 0), (3, 2)]:
        one = models.historical_volatility(np.ascontiguousarray(prices[:, i, j]), 252)
        assert type(one) is float and same(by_series[i, j], one)
        assert one == pytest.approx(series_reference(prices[:, i, j], 252), rel=1e-9)
    moved = np.moveaxis(prices, 0, -1)
    assert same(models.historical_volatility(moved, 252, axis=-1), by_series)
    assert same(models.historical_volatility(np.ascontiguousarray(moved), 252, axis=2), by_series)
    frame = pd.DataFrame(prices[:, :, 0], columns=list("abcd"))
    assert same(models.historical_volatility(frame), by_series[:, 0])
    assert same(models.historical_volatility(prices, threads=1),
                models.historical_volatility(prices, threads=3))


@pytest.mark.parametrize("prices,trading_days,code", [
    ([100.0, 101.0], 252, 5070),
    ([100.0, 101.0, 102.0], 0, 3053),
    ([100.0, 101.0, 102.0], 368, 3053),
    ([100.0, 101.0], 0, 3053),  # the trading days are tested first
])
def test_historical_volatility_refusals(prices, trading_days, code):
    result, errors = models.historical_volatility(prices, trading_days, errors="return")
    assert np.isnan(result) and errors.code == code
    with pytest.raises(models.ModelError, match=f"error {code}"):
        models.historical_volatility(prices, trading_days, errors="raise")


def test_historical_volatility_missing_prices():
    # A ticker listed later (NaN first), and one with a gap in the middle.
    closes = pd.DataFrame({"old": [100.0, 101.0, 99.5, 102.0, 103.0],
                           "new": [np.nan, np.nan, 50.0, 51.0, 50.5],
                           "gap": [20.0, np.nan, 20.4, 20.1, 19.8]},
                          index=pd.date_range("2026-01-05", periods=5))
    vols, errors = models.historical_volatility(closes, errors="return")
    assert list(vols.index) == list(closes.columns) and not np.isnan(vols["old"])
    assert np.isnan(vols[["new", "gap"]]).all() and list(errors.code) == [0, 5070, 5070]
    assert "missing" in errors.reason["new"]
    # skipna: each series on the prices it has, as if given alone.
    skipped = models.historical_volatility(closes, skipna=True)
    for name in closes:
        alone = closes[name].dropna().to_numpy()
        assert skipped[name] == models.historical_volatility(alone)
    # Too few prices left is still refused.
    short = models.historical_volatility([np.nan, 100.0, np.nan, 101.0], skipna=True,
                                         errors="return")
    assert np.isnan(short[0]) and short[1].code == 5070
    # Along rows, a Series indexed by the rows.
    assert list(models.historical_volatility(closes.T, axis=1, skipna=True).index) == \
        list(closes.columns)


def bs_exact(spot, strike, rate, time, vol, dividend, put):
    """The Black-Scholes formula with scipy's exact normal distribution."""
    from scipy.stats import norm

    d1 = (np.log(spot / strike) + (rate - dividend + vol**2 / 2) * time) / (vol * np.sqrt(time))
    d2 = d1 - vol * np.sqrt(time)
    sign = -1.0 if put else 1.0
    return sign * (spot * np.exp(-dividend * time) * norm.cdf(sign * d1)
                   - strike * np.exp(-rate * time) * norm.cdf(sign * d2))


def test_negative_rates_on_request_against_the_exact_formula():
    rng = np.random.default_rng(11)
    n = 2000
    spot, strike = rng.uniform(50, 150, n), rng.uniform(50, 150, n)
    rate, time = rng.uniform(-0.03, 0.05, n), rng.uniform(0.05, 3.0, n)
    vol, dividend = rng.uniform(0.05, 0.8, n), rng.uniform(0.0, 0.05, n)
    # Refused by default, as the component does, with the argument named.
    refused, errors = models.bs_price(spot, strike, rate, time, vol, dividend, errors="return")
    assert np.isnan(refused[rate < 0]).all() and (errors.code[rate < 0] == 6010).all()
    assert "Interest Rate" in errors.reason[np.argmax(rate < 0)]
    # The stated accuracy: |price - exact| <= 7.5e-8 (S exp(-qT) + K exp(-rT)), either sign.
    bound = 7.5e-8 * (spot * np.exp(-dividend * time) + strike * np.exp(-rate * time)) + 1e-12
    for kind in ("call", "put"):
        ours = models.bs_price(spot, strike, rate, time, vol, dividend, kind=kind,
                               negative_rates=True)
        exact = bs_exact(spot, strike, rate, time, vol, dividend, kind == "put")
        assert (np.abs(ours - exact) <= bound).all()
        back = models.bs_implied_vol(ours, spot, strike, rate, time, dividend, kind=kind,
                                     negative_rates=True)
        # Prices of a thousandth and more determine the volatility (smaller ones are flat).
        ok = (ours > 1e-3) & ~np.isnan(back)
        assert ok.mean() > 0.9 and np.allclose(back[ok], vol[ok], atol=1e-5)
    # The tree: European within its discretisation error of the exact formula; an American
    # put at r < 0 without dividends is never exercised early, so it is the European one.
    few = slice(0, 40)
    args = (spot[few], strike[few], rate[few], time[few], vol[few])
    tree = models.binomial_price(*args, steps=1000, american=False, kind="put",
                                 negative_rates=True)
    assert np.allclose(tree, bs_exact(*args, 0.0, True), atol=0.02)
    negative = rate[few] < 0
    american = models.binomial_price(*args, steps=1000, american=True, kind="put",
                                     negative_rates=True)
    assert negative.any() and np.array_equal(american[negative], tree[negative])
    # Bjerksund-Stensland is not sound there: the keyword is refused with the reason.
    with pytest.raises(ValueError, match="not sound for negative rates"):
        models.bjs_price(*BS_ARGS, negative_rates=True)


INTERRUPTED_CHILD = """
import _thread, threading, numpy as np
from korvanex import models
n = 100_000  # about an hour of trees at N = 5000: only an interrupt ends it in time
spot = np.linspace(50.0, 150.0, n)
threading.Timer(0.5, _thread.interrupt_main).start()
try:
    if "{call}" == "greeks":
        models.binomial_greeks(spot, 100.0, 0.05, 1.0, 0.25, steps=5000)
    else:
        models.binomial_implied_vol(spot * 0.1, spot, 100.0, 0.05, 1.0, steps=5000, threads=1)
    print("finished")
except KeyboardInterrupt:
    print("interrupted", models.bs_price(100.0, 100.0, 0.05, 1.0, 0.2))
"""


@pytest.mark.parametrize("call", ["greeks", "implied_vol"])
def test_keyboard_interrupt_stops_a_long_call(call):
    done = subprocess.run([sys.executable, "-c", INTERRUPTED_CHILD.replace("{call}", call)],
                          capture_output=True, text=True, timeout=120, env=os.environ)
    assert done.returncode == 0, done.stderr
    # Interrupted, and the module still prices afterwards.
    assert done.stdout.split() == ["interrupted", repr(models.bs_price(*BS_ARGS[:5]))]
