"""The machinery under korvanex.models and korvanex.dask: argument handling, the native calls,
the element checks, pandas in and out. Imports neither public module: they import it.
"""

from __future__ import annotations

import numbers
from typing import Any, NamedTuple

import numpy as np

from korvanex import _targets
from korvanex._native import models as _native

KINDS = ("call", "put")
#: Cost-of-carry models: b = r, r - q, 0 and r - rf (ModelType 0 to 3).
CARRIES = {"stock": 0, "dividend": 1, "futures": 2, "currency": 3}
ERRORS = ("nan", "return", "raise")
#: Error code of an output the model has no value for (not one of the component's codes: the
#: component returns -999.0 there without an error).
NOT_COMPUTABLE = -1
#: Error codes of implied-volatility targets that no volatility in the search's bracket [0, 100]
#: reproduces: below the model's lowest price, above its price at volatility 100, or met by a
#: whole range of volatilities (an American option at its exercise value, a price of 0 out of
#: the money). The component returns a number there with "No Error"; these functions NaN.
BELOW_RANGE = -2
ABOVE_RANGE = -3
NOT_UNIQUE = -4
NOT_REACHED = -5

_INT32_MIN, _INT32_MAX = -(2**31), 2**31 - 1
_threads = 0  # 0: every core


class Greeks(NamedTuple):
    """Prices and Greeks of the call and the put of the same inputs.

    Theta per year, vega per 1.00 of volatility, rho per 1.00 of the interest rate.
    """

    call_price: Any
    put_price: Any
    call_delta: Any
    put_delta: Any
    call_theta: Any
    put_theta: Any
    gamma: Any
    vega: Any
    call_rho: Any
    put_rho: Any


class ElementErrors(NamedTuple):
    """Per element: the component's error code (0 when none), its error text and the reason."""

    code: Any
    text: Any
    reason: Any


class ModelError(ValueError):
    """An element the model refused, raised with ``errors="raise"``.

    Attributes ``index`` (the element's index in the whole result, also on a Dask block),
    ``code``, ``text`` and ``reason``.
    """

    def __init__(self, index, code, text, reason):
        where = "element" if index == () else f"element {index}"
        detail = f" ({reason})" if reason else ""
        super().__init__(f"{where}: error {code}: {text}{detail}")
        self.index = index
        self.code = code
        self.text = text
        self.reason = reason

    def __reduce__(self):
        # Travels intact from a Dask worker.
        return ModelError, (self.index, self.code, self.text, self.reason)


def set_threads(threads: int | None) -> None:
    """Sets the threads every later call uses; ``None`` or 0 means every core."""
    global _threads
    threads = 0 if threads is None else _integer("threads", threads)
    if threads < 0:
        raise ValueError("threads must be 0 or more")
    _threads = threads


def get_threads() -> int:
    """The threads a call uses when it is not told otherwise."""
    return _threads if _threads > 0 else _native.hardware_threads()


# Argument handling


def _integer(name, value):
    if isinstance(value, (bool, np.bool_)) or not isinstance(value, numbers.Integral):
        raise TypeError(f"{name} must be an integer, not {type(value).__name__}")
    return int(value)


def _int32(name, value):
    # Out-of-range counts stay out of range for the component's tests, without overflowing.
    return min(max(_integer(name, value), _INT32_MIN), _INT32_MAX)


def _choice(name, value, allowed):
    if not isinstance(value, str) or value not in allowed:
        raise ValueError(f"{name} must be one of {', '.join(map(repr, allowed))}, not {value!r}")
    return value


def _is_dask(value):
    return hasattr(value, "__dask_graph__")


def _float_array(name, value):
    array = np.asarray(value)
    if array.dtype.kind not in "fiu":
        raise TypeError(f"{name} must be real numbers, not {array.dtype}")
    return array.astype(np.float64, copy=False)


def _thread_count(threads):
    if threads is None:
        return _threads
    threads = _integer("threads", threads)
    if threads < 0:
        raise ValueError("threads must be 0 or more")
    return threads


# Element checks: the native ones (below 64) and those this module adds.
_CHECK_MISSING_PRICE = 64
_CHECK_BELOW = 65
_CHECK_ABOVE = 66
_CHECK_NOT_UNIQUE = 67
_CHECK_NOT_REACHED = 68
_OWN_CHECKS = {
    _CHECK_MISSING_PRICE: None,  # filled from the native table: the component's 5070
    _CHECK_BELOW: (BELOW_RANGE, "Price below the model's range",
                   "No volatility gives a price this low (below the price at volatility 0: "
                   "the intrinsic or discounted forward value)"),
    _CHECK_ABOVE: (ABOVE_RANGE, "Price above the model's range",
                   "No volatility up to 100 (10 000 %) gives a price this high"),
    _CHECK_NOT_UNIQUE: (NOT_UNIQUE, "Volatility not unique",
                        "The price is the same for a whole range of volatilities (an American "
                        "option at its exercise value, or a price of 0 out of the money)"),
    _CHECK_NOT_REACHED: (NOT_REACHED, "Price not reached",
                         "The model's price jumps over this price between two volatilities the "
                         "search's tolerance apart (a tree whose probabilities leave [0, 1] at "
                         "low volatility, or that overflows at high volatility)"),
}


_TARGET_CHECKS = {"below": _CHECK_BELOW, "above": _CHECK_ABOVE, "not_unique": _CHECK_NOT_UNIQUE,
                  "jump": _CHECK_NOT_REACHED}


def _error_tables():
    codes = np.zeros(256, dtype=np.int32)
    texts = np.empty(256, dtype=object)
    reasons = np.empty(256, dtype=object)
    for check in range(256):
        try:
            code, text, reason = _native.check_text(check)
        except ValueError:
            code, text, reason = 0, "No Error", ""
        codes[check], texts[check], reasons[check] = code, text, reason
    too_few = int(_native.too_few_prices_check)
    _OWN_CHECKS[_CHECK_MISSING_PRICE] = (
        int(codes[too_few]), texts[too_few],
        "A price is missing (NaN); skipna=True leaves missing prices out")
    for check, (code, text, reason) in _OWN_CHECKS.items():
        codes[check], texts[check], reasons[check] = code, text, reason
    return codes, texts, reasons


_CODES, _TEXTS, _REASONS = _error_tables()


def _raise_first(checks, offset=()):
    flat = int(np.flatnonzero(checks.reshape(-1))[0])
    index = tuple(int(i) for i in np.unravel_index(flat, checks.shape)) if checks.ndim else ()
    if offset:
        index = tuple(i + o for i, o in zip(index, offset))
    check = int(checks.reshape(-1)[flat])
    raise ModelError(index, int(_CODES[check]), _TEXTS[check], _REASONS[check])


def _finish(outputs, checks, errors, scalar, pandas_out, fields=None, as_frame=False):
    if errors == "raise" and checks is not None and checks.any():
        _raise_first(checks)
    if scalar:
        outputs = [float(o) for o in outputs]
    elif pandas_out is not None:
        outputs = [pandas_out(o) for o in outputs]
    if fields is None:
        result = outputs[0]
    else:
        result = fields(*outputs)
        if as_frame:
            result = _frame(result, pandas_out)
    if errors != "return":
        return result
    if scalar:
        check = int(checks)
        return result, ElementErrors(int(_CODES[check]), _TEXTS[check], _REASONS[check])
    details = [_CODES[checks], _TEXTS[checks], _REASONS[checks]]
    if pandas_out is not None:
        details = [pandas_out(d) for d in details]
    return result, ElementErrors(*details)


def _frame(result, pandas_out):
    import pandas as pd

    fields = result._asdict()
    if all(isinstance(value, pd.Series) for value in fields.values()):
        return pd.DataFrame(fields)
    columns = {name: np.atleast_1d(np.asarray(value)) for name, value in fields.items()}
    if next(iter(columns.values())).ndim != 1:
        raise ValueError("as_frame needs scalar or 1-D inputs")
    return pd.DataFrame(columns)


# pandas: the labels of the inputs are aligned as pandas arithmetic aligns them (the union of
# the indexes, NaN where an input has no row, so the element is refused), and the result carries
# them. Positional pairing happens only between arrays without labels, as in numpy.


class _PandasOut:
    """Wraps a result array as a Series or DataFrame with the inputs' labels."""

    def __init__(self, index, columns, shape):
        self.index, self.columns, self.shape = index, columns, shape

    def __call__(self, values):
        import pandas as pd

        values = np.asarray(values)
        if values.shape != self.shape:
            return values
        if self.columns is None:
            return pd.Series(values, index=self.index)
        return pd.DataFrame(values, index=self.index, columns=self.columns)


def _align(named):
    """named with its pandas inputs aligned; and the labels for the results (or None)."""
    labelled = [(i, value) for i, (_, value) in enumerate(named)
                if hasattr(value, "index") and hasattr(value, "to_numpy")
                and getattr(value, "ndim", 0) in (1, 2)]
    if not labelled:
        return named, None
    frames = {value.ndim for _, value in labelled}
    if len(frames) > 1:
        raise ValueError("inputs mix pandas Series and DataFrames; their labels do not align "
                         "unambiguously (pass DataFrame columns as Series)")
    index = labelled[0][1].index
    columns = labelled[0][1].columns if frames == {2} else None
    for _, value in labelled[1:]:
        if not value.index.equals(index):
            index = index.union(value.index)
        if columns is not None and not value.columns.equals(columns):
            columns = columns.union(value.columns)
    named = list(named)
    for i, value in labelled:
        if columns is None:
            aligned = value.reindex(index)
        else:
            aligned = value.reindex(index=index, columns=columns)
        named[i] = (named[i][0], aligned.to_numpy())
    shape = (len(index),) if columns is None else (len(index), len(columns))
    return named, _PandasOut(index, columns, shape)


def kinds(kind):
    """False/True for one kind, or a bool array (True for put) for a kind per element."""
    if isinstance(kind, str):
        return _choice("kind", kind, KINDS) == "put"
    array = np.asarray(kind.to_numpy() if hasattr(kind, "to_numpy") else kind)
    if array.dtype.kind not in "OUS" or array.ndim == 0:
        raise ValueError(f"kind must be 'call', 'put' or an array of them, not {kind!r}")
    put = array == "put"
    bad = ~(put | (array == "call"))
    if bad.any():
        raise ValueError(f"kind must be 'call' or 'put' per element, not {array[bad][0]!r}")
    return put


def _labelled(value):
    return hasattr(value, "index") and hasattr(value, "to_numpy") and \
        getattr(value, "ndim", 0) in (1, 2)


def price(family, named, *, kind="call", carry="dividend", steps=0, american=True, max_iter=0,
          negative_rates=False, errors="nan", threads=None, fields=None, as_frame=False):
    """Prices one family over numpy or pandas inputs (no dask arrays)."""
    model_type = CARRIES[_choice("carry", carry, tuple(CARRIES))]
    steps = _int32("steps", steps)
    max_iter = _int32("max_iter", max_iter)
    if not isinstance(american, (bool, np.bool_)):
        raise TypeError("american must be True or False")
    if not isinstance(negative_rates, (bool, np.bool_)):
        raise TypeError("negative_rates must be True or False")
    _choice("errors", errors, ERRORS)
    threads = _thread_count(threads)
    # A kind per row aligns with the other labelled inputs like any of them.
    kind_labelled = not isinstance(kind, str) and _labelled(kind)
    named, pandas_out = _align(list(named) + ([("kind", kind)] if kind_labelled else []))
    if kind_labelled:
        kind = named.pop()[1]
    put = kinds(kind)
    arrays = [_float_array(name, value) for name, value in named]
    scalar = all(a.ndim == 0 for a in arrays) and np.ndim(put) == 0
    if np.ndim(put):
        *arrays, put = np.broadcast_arrays(*arrays, put)
    broadcast = np.broadcast_arrays(*arrays)
    settings = (model_type, steps, bool(american), max_iter, threads, bool(negative_rates))
    want_checks = errors != "nan"
    outputs, checks = _by_kind(family, broadcast, put, settings, want_checks)
    if family.endswith("implied_vol"):
        checks = _targets.classify(family, broadcast, put, settings, outputs[0], checks,
                                   _by_kind, _TARGET_CHECKS)
    return _finish(outputs, checks, errors, scalar, pandas_out, fields, as_frame)


def native_price(family, arrays, put, settings, want_checks):
    """One native call with one kind for every element."""
    model_type, steps, american, max_iter, threads, negative_rates = settings
    return _native.price(family, list(arrays), bool(put), model_type, steps, american, max_iter,
                         threads, want_checks, negative_rates)


def _by_kind(family, arrays, put, settings, want_checks):
    """Prices with a kind per element: the calls and the puts in one native call each."""
    if np.ndim(put) == 0 or not put.any() or put.all():
        one = bool(put) if np.ndim(put) == 0 else bool(put.size and put.all())
        return native_price(family, arrays, one, settings, want_checks)
    shape = arrays[0].shape
    outputs = None
    checks = np.zeros(shape, dtype=np.uint8)
    for side in (False, True):
        mask = put == side
        part, part_checks = native_price(family, [a[mask] for a in arrays], side, settings, True)
        if outputs is None:
            outputs = [np.empty(shape) for _ in part]
        for full, values in zip(outputs, part):
            full[mask] = values
        checks[mask] = part_checks
    return outputs, checks if want_checks else None


def historical_volatility(prices, trading_days=252, axis=0, *, skipna=False, errors="nan",
                          threads=None, offset=()):
    """korvanex.models.historical_volatility on numpy or pandas prices."""
    _choice("errors", errors, ERRORS)
    if not isinstance(skipna, (bool, np.bool_)):
        raise TypeError("skipna must be True or False")
    threads = _thread_count(threads)
    trading_days = _int32("trading_days", trading_days)
    labels = None
    if hasattr(prices, "index") and hasattr(prices, "to_numpy"):
        labels = prices
        prices = prices.to_numpy()
    array = _float_array("prices", prices)
    if array.ndim == 0:
        raise ValueError("prices must have at least one dimension")
    axis = _integer("axis", axis)
    series = np.moveaxis(array, axis, -1)  # a view: the series are walked by their strides
    result, checks = _native.historical_volatility(series, trading_days, threads, True)
    missing = np.isnan(series).any(axis=-1)
    if missing.any():
        gaps = missing & (checks == 0)
        if skipna:
            # Each series with gaps, its missing prices left out, priced on its own.
            for where in zip(*np.nonzero(gaps)) if gaps.ndim else [()]:
                kept = series[where][~np.isnan(series[where])]
                value, check = _native.historical_volatility(kept, trading_days, 1, True)
                result[where], checks[where] = value, check
        else:
            result[gaps] = np.nan
            checks[gaps] = _CHECK_MISSING_PRICE
    if errors == "raise" and checks.any():
        _raise_first(checks, offset)
    if array.ndim == 1:
        check = int(checks)
        result = float(result)
        if errors != "return":
            return result
        return result, ElementErrors(int(_CODES[check]), _TEXTS[check], _REASONS[check])
    details = [_CODES[checks], _TEXTS[checks], _REASONS[checks]]
    if labels is not None and labels.ndim == 2:
        # A DataFrame of series gives a Series: one volatility per column (axis 0) or row.
        names = labels.columns if axis in (0, -2) else labels.index
        wrap = _PandasOut(names, None, (len(names),))
        result, details = wrap(result), [wrap(d) for d in details]
    if errors != "return":
        return result
    return result, ElementErrors(*details)
