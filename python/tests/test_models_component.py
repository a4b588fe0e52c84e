"""Thousands of random elements per family, bit for bit against the component's own methods."""

import numpy as np
import pytest

from korvanex import models

import component_batch

SENTINEL = -999.0
FIELDS = models.Greeks._fields


@pytest.fixture(scope="module")
def component(tmp_path_factory):
    return component_batch.Component(tmp_path_factory.mktemp("registry"))


# Bad values per input, each refused by the methods' argument tests.
BAD_VALUES = {
    "spot": [0.0, -1.0, np.nan],
    "strike": [0.0, -5.0, np.nan],
    "rate": [-0.01, -1e-9, np.nan],
    "time": [0.0, -1.0],
    "vol": [-0.1, np.nan],
    "dividend": [-0.01, 1.5],
    "foreign_rate": [-0.01, 1.2],
}


def random_market(rng, n, with_vol=True):
    """Mostly valid random inputs with edge values (zero rate and volatility, tiny rates) and
    about 6 % refused ones."""
    spot = rng.uniform(20, 200, n)
    market = {
        "spot": spot,
        "strike": spot * rng.uniform(0.6, 1.5, n),
        "rate": rng.choice([0.0, 5e-9, 0.02, 0.05], n) * (rng.random(n) < 0.2)
        + rng.uniform(0, 0.1, n) * (rng.random(n) >= 0.2),
        "time": rng.uniform(0.02, 3, n),
        "vol": np.where(rng.random(n) < 0.03, 0.0, rng.uniform(0.05, 0.8, n)),
        "dividend": np.where(rng.random(n) < 0.3, 0.0, rng.uniform(0, 0.1, n)),
        "foreign_rate": rng.uniform(0, 0.1, n),
    }
    if not with_vol:
        del market["vol"]
    names = list(market)
    for i in np.flatnonzero(rng.random(n) < 0.06):
        name = names[rng.integers(len(names))]
        bad = BAD_VALUES[name]
        market[name][i] = bad[rng.integers(len(bad))]
    return market


def bits(values):
    values = np.asarray(values, dtype=np.float64)
    return np.where(np.isnan(values), 0, values.view(np.uint64))


TARGET_CODES = (models.BELOW_RANGE, models.ABOVE_RANGE, models.NOT_UNIQUE, models.NOT_REACHED)


def assert_like_component(ours, codes, expected, expected_codes):
    """ours/expected: {field: values}. Refused elements are NaN with the method's code; the
    method's -999.0 is NaN with NOT_COMPUTABLE; an implied volatility whose target has no single
    answer is NaN with its own code where the method gives a number (the bracket's bottom for a
    target below the range, its top for one above); every other value is the same double."""
    expected_codes = np.asarray(expected_codes)
    codes = np.asarray(codes)
    refused = expected_codes != 0
    unanswered = ~refused & np.isin(codes, TARGET_CODES)
    sentinel_any = np.zeros(len(expected_codes), dtype=bool)
    for field, values in expected.items():
        values = np.asarray(values, dtype=np.float64)
        mine = np.asarray(ours[field])
        sentinel = ~refused & (values == SENTINEL)
        sentinel_any |= sentinel
        assert np.isnan(mine[refused | sentinel | unanswered]).all(), field
        # The bisection never left the bottom or the top of its bracket.
        assert (values[codes == models.BELOW_RANGE] <= 25).all(), field
        assert (values[codes == models.ABOVE_RANGE] >= 75).all(), field
        plain = ~refused & ~sentinel & ~unanswered
        assert np.array_equal(np.isnan(mine[plain]), np.isnan(values[plain])), field
        mismatch = np.flatnonzero(bits(mine[plain]) != bits(values[plain]))
        assert mismatch.size == 0, (field, mine[plain][mismatch[:3]], values[plain][mismatch[:3]])
    wanted = np.where(refused, expected_codes, np.where(sentinel_any, models.NOT_COMPUTABLE, 0))
    wanted = np.where(unanswered, codes, wanted)
    np.testing.assert_array_equal(codes, wanted)
    # The comparison has teeth only if both kinds of element occur.
    assert refused.any() and (~refused & ~unanswered).sum() > len(expected_codes) // 2


def run_methods(component, methods, rows):
    """methods: (member, fields[, shape]) with shape(row) the call's arguments (default the row);
    rows: argument lists. Returns ({field: values}, codes)."""
    calls = [(member, shape(args)) for args in rows for member, _, shape in
             (method if len(method) == 3 else (*method, list) for method in methods)]
    results = component.call(calls)
    values = {field: [] for _, fields, *_ in methods for field in fields}
    codes = []
    for i in range(len(rows)):
        element = results[i * len(methods):(i + 1) * len(methods)]
        element_codes = {component_batch.error_code(r) for r in element}
        assert len(element_codes) == 1
        codes.append(element_codes.pop())
        for (member, fields, *_), result in zip(methods, element):
            outs = component_batch.outputs(result)
            assert len(outs) == len(fields), member
            for field, value in zip(fields, outs):
                values[field].append(value)
    return values, codes


def greeks_dict(greeks):
    return greeks._asdict()


GREEK_METHODS = [
    ("CallPrice", ["call_price"]),
    ("PutPrice", ["put_price"]),
    ("Delta", ["call_delta", "put_delta"]),
    ("Theta", ["call_theta", "put_theta"]),
    ("Gamma", ["gamma"]),
    ("Vega", ["vega"]),
    ("Rho", ["call_rho", "put_rho"]),
]


def test_black_scholes_prices_and_greeks(component):
    rng = np.random.default_rng(11)
    m = random_market(rng, 2000)
    args = [m[k] for k in ("spot", "strike", "rate", "time", "vol", "dividend")]
    greeks, errors = models.bs_greeks(*args, errors="return")
    expected, codes = run_methods(component, [("BS" + n, f) for n, f in GREEK_METHODS],
                                  [list(row) for row in zip(*args)])
    assert_like_component(greeks_dict(greeks), errors.code, expected, codes)
    for kind, field in (("call", "call_price"), ("put", "put_price")):
        price = models.bs_price(*args, kind=kind)
        assert np.array_equal(bits(price), bits(greeks_dict(greeks)[field]))


@pytest.mark.parametrize("carry", list(models.CARRIES))
def test_bjerksund_stensland_prices_and_greeks(component, carry):
    rng = np.random.default_rng(len(carry))
    m = random_market(rng, 800)
    args = [m[k] for k in ("spot", "strike", "rate", "time", "vol", "dividend")]
    model_type = models.CARRIES[carry]
    greeks, errors = models.bjs_greeks(*args, carry=carry, foreign_rate=m["foreign_rate"],
                                       errors="return")
    rows = [list(row[:6]) + [model_type, row[6]] for row in zip(*args, m["foreign_rate"])]
    expected, codes = run_methods(component, [("BJE" + n, f) for n, f in GREEK_METHODS], rows)
    assert_like_component(greeks_dict(greeks), errors.code, expected, codes)
    for kind, field in (("call", "call_price"), ("put", "put_price")):
        price = models.bjs_price(*args, kind=kind, carry=carry, foreign_rate=m["foreign_rate"])
        assert np.array_equal(bits(price), bits(greeks_dict(greeks)[field]))


@pytest.mark.parametrize("steps,american", [(1, True), (2, False), (7, True), (64, True),
                                             (65, False), (150, True)])
def test_binomial_prices_and_greeks(component, steps, american):
    rng = np.random.default_rng(steps)
    n = 300 if steps < 100 else 120
    m = random_market(rng, n)
    args = [m[k] for k in ("spot", "strike", "rate", "time", "vol", "dividend")]
    carry = list(models.CARRIES)[steps % 4]
    model_type = models.CARRIES[carry]
    keywords = dict(steps=steps, american=american, carry=carry, foreign_rate=m["foreign_rate"])
    greeks, errors = models.binomial_greeks(*args, errors="return", **keywords)
    flag = 0 if american else 1
    rows = [list(row[:6]) + [model_type, row[6], steps, flag]
            for row in zip(*args, m["foreign_rate"])]
    fields = list(FIELDS)
    expected, codes = run_methods(
        component,
        [("BinPriceGreeks", fields, price_greeks_args), ("BinCallPrice", ["call"]),
         ("BinPutPrice", ["put"])],
        rows)
    call, put = expected.pop("call"), expected.pop("put")
    assert_like_component(greeks_dict(greeks), errors.code, expected, codes)
    for kind, values in (("call", call), ("put", put)):
        price, price_errors = models.binomial_price(*args, kind=kind, errors="return",
                                                    **keywords)
        assert_like_component({"p": price}, price_errors.code, {"p": values}, codes)


TREE_ARGUMENTS = ["StockPrice", "ExercisePrice", "InterestRate", "TimeToMaturity", "Volatility",
                  "DividendRate", "ModelType", "ForeignInterestRate", "BinSteps", "FlagEurAm"]


def price_greeks_args(row):
    return dict(zip(TREE_ARGUMENTS, row), DoVega=1, DoRho=1)


def implied_vol_inputs(rng, n, price_of_vol):
    m = random_market(rng, n, with_vol=False)
    vol = rng.uniform(0.01, 1.2, n)
    target = price_of_vol(m, vol)
    # Noise, targets no volatility reaches, negative and zero ones.
    target = np.where(np.isnan(target), 1.0, target) * rng.choice([1.0, 1.0, 1.0, 0.97, 1.03], n)
    special = rng.random(n)
    target = np.where(special < 0.03, -1.0, target)
    target = np.where((special >= 0.03) & (special < 0.05), 0.0, target)
    target = np.where((special >= 0.05) & (special < 0.07), m["spot"] * 2, target)
    return m, target


@pytest.mark.parametrize("kind", ["call", "put"])
@pytest.mark.parametrize("max_iter", [0, -3, 1, 8, 27, 200])
def test_black_scholes_implied_vol(component, kind, max_iter):
    rng = np.random.default_rng(max_iter + 100 * len(kind))
    names = ("spot", "strike", "rate", "time", "dividend")

    def price_of_vol(m, vol):
        return models.bs_price(*(m[k] for k in names[:4]), vol, m["dividend"], kind=kind)

    m, target = implied_vol_inputs(rng, 400, price_of_vol)
    args = [m[k] for k in names]
    ours, errors = models.bs_implied_vol(target, *args, kind=kind, max_iter=max_iter,
                                         errors="return")
    member = "BSImpliedVolatility" if kind == "call" else "BSImpliedVolatilityPut"
    rows = [list(row[1:]) + [row[0], max_iter] for row in zip(target, *args)]
    expected, codes = run_methods(component, [(member, ["vol"])], rows)
    assert_like_component({"vol": ours}, errors.code, expected, codes)


@pytest.mark.parametrize("kind", ["call", "put"])
@pytest.mark.parametrize("carry,max_iter", [("stock", 0), ("dividend", 12), ("futures", 40),
                                            ("currency", -1)])
def test_bjerksund_stensland_implied_vol(component, kind, carry, max_iter):
    rng = np.random.default_rng(max_iter + 7 * len(carry) + len(kind))
    names = ("spot", "strike", "rate", "time", "dividend")

    def price_of_vol(m, vol):
        return models.bjs_price(*(m[k] for k in names[:4]), vol, m["dividend"], kind=kind,
                                carry=carry, foreign_rate=m["foreign_rate"])

    m, target = implied_vol_inputs(rng, 300, price_of_vol)
    args = [m[k] for k in names]
    ours, errors = models.bjs_implied_vol(target, *args, kind=kind, carry=carry,
                                          foreign_rate=m["foreign_rate"], max_iter=max_iter,
                                          errors="return")
    member = "BJEImpliedVolatility" if kind == "call" else "BJEImpliedVolatilityPut"
    model_type = models.CARRIES[carry]
    rows = [list(row[1:6]) + [model_type, row[6], row[0], max_iter]
            for row in zip(target, *args, m["foreign_rate"])]
    expected, codes = run_methods(component, [(member, ["vol"])], rows)
    assert_like_component({"vol": ours}, errors.code, expected, codes)


@pytest.mark.parametrize("kind", ["call", "put"])
@pytest.mark.parametrize("steps,american,carry", [(3, True, "dividend"), (30, False, "stock"),
                                                  (51, True, "currency"), (80, True, "futures")])
def test_binomial_implied_vol(component, kind, steps, american, carry):
    rng = np.random.default_rng(steps + len(kind))
    names = ("spot", "strike", "rate", "time", "dividend")

    def price_of_vol(m, vol):
        return models.binomial_price(*(m[k] for k in names[:4]), vol, m["dividend"], kind=kind,
                                     steps=steps, american=american, carry=carry,
                                     foreign_rate=m["foreign_rate"])

    m, target = implied_vol_inputs(rng, 150, price_of_vol)
    args = [m[k] for k in names]
    ours, errors = models.binomial_implied_vol(target, *args, kind=kind, steps=steps,
                                               american=american, carry=carry,
                                               foreign_rate=m["foreign_rate"], errors="return")
    member = "BinImpliedVolatility" if kind == "call" else "BinImpliedVolatilityPut"
    model_type = models.CARRIES[carry]
    flag = 0 if american else 1
    # MaxIter varies: the tree search has no iteration limit.
    rows = [list(row[1:6]) + [model_type, row[6], steps, flag, row[0], i % 5]
            for i, row in enumerate(zip(target, *args, m["foreign_rate"]))]
    expected, codes = run_methods(component, [(member, ["vol"])], rows)
    assert_like_component({"vol": ours}, errors.code, expected, codes)


@pytest.mark.parametrize("length,trading_days", [(3, 252), (4, 1), (30, 367), (251, 252),
                                                 (2, 252), (30, 0), (30, 368)])
def test_historical_volatility(component, length, trading_days):
    rng = np.random.default_rng(length + trading_days)
    series = 60
    prices = 100 * np.exp(np.cumsum(rng.normal(0, 0.02, (length, series)), axis=0))
    prices[rng.integers(length), 3] = 0.0  # a zero price: non-finite, as in the component
    prices[rng.integers(length), 5] = np.nan
    prices[:, 7] = 50.0  # flat: no returns at all
    ours, errors = models.historical_volatility(prices, trading_days, errors="return")
    calls = [("HistoricalVolatility1", {"Prices": list(prices[:, j]), "TradingDays": trading_days})
             for j in range(series)]
    results = component.call(calls)
    codes = np.array([component_batch.error_code(r) for r in results])
    expected = np.array([r["outputs"]["Volatility"] if r["outputs"].get("Volatility") is not None
                         else np.nan for r in results], dtype=np.float64)
    # A missing price: the method gives NaN with "No Error"; these functions say why (5070).
    missing = np.isnan(prices).any(axis=0) & (codes == 0)
    assert np.isnan(expected[missing]).all()
    codes = np.where(missing, 5070, codes)
    np.testing.assert_array_equal(errors.code, codes)
    refused = codes != 0
    assert np.isnan(ours[refused]).all()
    ok = ~refused
    assert np.array_equal(bits(ours[ok]), bits(expected[ok]))
    valid_setup = length >= 3 and 1 <= trading_days <= 367
    assert refused.all() != valid_setup
