"""The component's pricing models over numpy arrays.

Every function prices each element of its (broadcast) arguments with the same model functions,
argument tests and input adjustments as the component's method for it, so each element is the
very double the method returns. The work runs without the GIL and is shared out over all cores;
the results do not depend on the number of threads.

Units: rates, dividend yields and volatilities are decimal fractions per year (0.05 is 5 %),
times are in years. Theta is per year of elapsed time; vega and rho are per 1.00 of volatility
and of the interest rate (divide by 100 for "per point").

Dask arrays among the arguments make the result a lazy dask array priced block by block, as
:mod:`korvanex.dask` does.

Bad elements: where the component's method refuses an input (its error code 6010, "Argument
error: Invalid input parameter(s)."), the element is NaN. So is an output for which the model
has no value (the component's -999.0, for instance a delta at zero volatility); never -999.0.
``errors="return"`` also returns each element's error code, error text and reason,
``errors="raise"`` raises :class:`ModelError` naming the first bad element.
"""

from __future__ import annotations

import numbers
from typing import Any, NamedTuple

import numpy as np

from korvanex._native import models as _native

__all__ = [
    "Greeks",
    "ElementErrors",
    "ModelError",
    "bs_price",
    "bs_greeks",
    "bs_implied_vol",
    "binomial_price",
    "binomial_greeks",
    "binomial_implied_vol",
    "bjs_price",
    "bjs_greeks",
    "bjs_implied_vol",
    "historical_volatility",
    "set_threads",
    "get_threads",
]

KINDS = ("call", "put")
#: Cost-of-carry models: b = r, r - q, 0 and r - rf (ModelType 0 to 3).
CARRIES = {"stock": 0, "dividend": 1, "futures": 2, "currency": 3}
ERRORS = ("nan", "return", "raise")
#: Error code of an output the model has no value for (not one of the component's codes: the
#: component returns -999.0 there without an error).
NOT_COMPUTABLE = -1

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

    Attributes ``index`` (the element's index in the result), ``code``, ``text`` and ``reason``.
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
    return codes, texts, reasons


_CODES, _TEXTS, _REASONS = _error_tables()


def _finish(outputs, checks, errors, scalar, pandas_index, fields=None, as_frame=False):
    if errors == "raise" and checks is not None and checks.any():
        flat = int(np.flatnonzero(checks.reshape(-1))[0])
        index = tuple(int(i) for i in np.unravel_index(flat, checks.shape)) if checks.ndim else ()
        check = int(checks.reshape(-1)[flat])
        raise ModelError(index, int(_CODES[check]), _TEXTS[check], _REASONS[check])
    if scalar:
        outputs = [float(o) for o in outputs]
    if fields is None:
        result = outputs[0]
    else:
        result = fields(*outputs)
        if as_frame:
            result = _frame(result, pandas_index)
    if errors != "return":
        return result
    if scalar:
        check = int(checks)
        details = ElementErrors(int(_CODES[check]), _TEXTS[check], _REASONS[check])
    else:
        details = ElementErrors(_CODES[checks], _TEXTS[checks], _REASONS[checks])
    return result, details


def _frame(result, index):
    import pandas as pd

    columns = {name: np.atleast_1d(value) for name, value in result._asdict().items()}
    first = next(iter(columns.values()))
    if first.ndim != 1:
        raise ValueError("as_frame needs scalar or 1-D inputs")
    if index is not None and len(index) != len(first):
        index = None
    return pd.DataFrame(columns, index=index)


def _pandas_index(values):
    for value in values:
        index = getattr(value, "index", None)
        if index is not None and getattr(value, "ndim", 0) == 1:
            return index
    return None


def _price(family, named, *, fields=None, as_frame=False, **keywords):
    if any(_is_dask(value) for _, value in named):
        # The same call on dask arrays: lazy, block by block (korvanex.dask).
        from korvanex import dask as kxdask

        positional = [value for name, value in named if name != "foreign_rate"]
        foreign = {name: value for name, value in named if name == "foreign_rate"}
        return getattr(kxdask, family)(*positional, **foreign, **keywords, as_frame=as_frame)
    return _price_arrays(family, named, fields=fields, as_frame=as_frame, **keywords)


def _price_arrays(family, named, *, kind="call", carry="dividend", steps=0, american=True,
                  max_iter=0, errors="nan", threads=None, fields=None, as_frame=False):
    put = _choice("kind", kind, KINDS) == "put"
    model_type = CARRIES[_choice("carry", carry, tuple(CARRIES))]
    steps = _int32("steps", steps)
    max_iter = _int32("max_iter", max_iter)
    if not isinstance(american, (bool, np.bool_)):
        raise TypeError("american must be True or False")
    _choice("errors", errors, ERRORS)
    threads = _thread_count(threads)
    arrays = [_float_array(name, value) for name, value in named]
    scalar = all(a.ndim == 0 for a in arrays)
    broadcast = np.broadcast_arrays(*arrays)
    outputs, checks = _native.price(family, broadcast, put, model_type, steps, bool(american),
                                    max_iter, threads, errors != "nan")
    index = _pandas_index(value for _, value in named) if as_frame else None
    return _finish(outputs, checks, errors, scalar, index, fields, as_frame)


_COMMON_PARAMETERS = """spot : array_like
    Stock price S (> 0).
strike : array_like
    Exercise price K (> 0).
rate : array_like
    Risk-free interest rate r per year, continuously compounded (>= 0; 0.05 is 5 %).
time : array_like
    Time to maturity T in years (> 0)."""
_VOL = """vol : array_like
    Volatility sigma per year (>= 0; 0.20 is 20 %)."""
_DIVIDEND = """dividend : array_like, optional
    Continuous dividend yield q per year, 0 to 1."""
_PRICE_TARGET = """price : array_like
    Market price of the option the volatility is searched for."""
_KIND = """kind : {"call", "put"}
    Which option."""
_CARRY = """carry : {"dividend", "stock", "futures", "currency"}
    Cost-of-carry model: b = r - q ("dividend"), r ("stock"), 0 ("futures") or r - rf
    ("currency")."""
_FOREIGN = """foreign_rate : array_like, optional
    Foreign interest rate rf per year, 0 to 1 (used by ``carry="currency"``)."""
_STEPS = """steps : int
    Steps of the binomial tree, 1 to 5000.
american : bool
    American (early exercise) or European options."""
_MAX_ITER = """max_iter : int, optional
    Bisection limit; 0 or less means 50. The search stops anyway once the bracket is 1e-6
    wide (27 steps)."""
_OPTIONS = """errors : {"nan", "return", "raise"}
    What bad elements give besides NaN: nothing, an :class:`ElementErrors` as second result,
    or a :class:`ModelError` for the first of them.
threads : int, optional
    Threads to use; default :func:`get_threads`. The result does not depend on it."""
_AS_FRAME = """as_frame : bool
    Return a pandas DataFrame with one column per field (scalar or 1-D inputs; the index of
    the first pandas Series among the inputs)."""
_RETURNS_VALUE = """Returns
-------
float or ndarray
    float64 of the broadcast shape of the inputs (a float when every input is a scalar); NaN
    where the element was refused. With ``errors="return"`` a tuple (values,
    :class:`ElementErrors`)."""
_RETURNS_GREEKS = """Returns
-------
Greeks or DataFrame
    :class:`Greeks` of float64 arrays of the broadcast shape: the call and put prices, deltas,
    thetas (per year), gamma, vega (per 1.00 of volatility) and rhos (per 1.00 of the rate);
    NaN where refused or not computable. With ``errors="return"`` a tuple (greeks,
    :class:`ElementErrors`)."""
_RAISES = """Raises
------
TypeError, ValueError
    Before any work, for inputs that are not real numbers or do not broadcast, and for
    unknown keyword values.
ModelError
    With ``errors="raise"``, for the first refused element."""


def _doc(summary, *parts, notes=""):
    text = summary + "\n\nParameters\n----------\n" + "\n".join(parts[:-2]) + "\n\n"
    text += parts[-2] + "\n\n" + parts[-1]
    if notes:
        text += "\n\nNotes\n-----\n" + notes
    return text


# Black-Scholes


def bs_price(spot, strike, rate, time, vol, dividend=0.0, *, kind="call", errors="nan",
             threads=None):
    named = [("spot", spot), ("strike", strike), ("rate", rate), ("time", time), ("vol", vol),
             ("dividend", dividend)]
    return _price("bs_price", named, kind=kind, errors=errors, threads=threads)


bs_price.__doc__ = _doc(
    "European option price by the Black-Scholes formula with a continuous dividend yield.",
    _COMMON_PARAMETERS, _VOL, _DIVIDEND, _KIND, _OPTIONS, _RETURNS_VALUE, _RAISES)


def bs_greeks(spot, strike, rate, time, vol, dividend=0.0, *, errors="nan", threads=None,
              as_frame=False):
    named = [("spot", spot), ("strike", strike), ("rate", rate), ("time", time), ("vol", vol),
             ("dividend", dividend)]
    return _price("bs_greeks", named, errors=errors, threads=threads, fields=Greeks,
                  as_frame=as_frame)


bs_greeks.__doc__ = _doc(
    "Black-Scholes prices and Greeks of the call and the put.",
    _COMMON_PARAMETERS, _VOL, _DIVIDEND, _OPTIONS, _AS_FRAME, _RETURNS_GREEKS, _RAISES,
    notes="Delta, gamma and vega are NaN (not computable) for a volatility below 1e-12.")


def bs_implied_vol(price, spot, strike, rate, time, dividend=0.0, *, kind="call", max_iter=0,
                   errors="nan", threads=None):
    named = [("price", price), ("spot", spot), ("strike", strike), ("rate", rate),
             ("time", time), ("dividend", dividend)]
    return _price("bs_implied_vol", named, kind=kind, max_iter=max_iter, errors=errors,
                  threads=threads)


bs_implied_vol.__doc__ = _doc(
    "Black-Scholes implied volatility by bisection of [0, 100].",
    _PRICE_TARGET, _COMMON_PARAMETERS, _DIVIDEND, _KIND, _MAX_ITER, _OPTIONS, _RETURNS_VALUE,
    _RAISES,
    notes="A price below every model price gives 0; one above the price at volatility 100 "
    "gives 99.99999963. The call search compares the absolute model price, the put search "
    "the signed one.")


# Binomial tree


def binomial_price(spot, strike, rate, time, vol, dividend=0.0, *, steps, american=True,
                   kind="call", carry="dividend", foreign_rate=0.0, errors="nan", threads=None):
    named = [("spot", spot), ("strike", strike), ("rate", rate), ("time", time), ("vol", vol),
             ("dividend", dividend), ("foreign_rate", foreign_rate)]
    return _price("binomial_price", named, kind=kind, carry=carry, steps=steps,
                  american=american, errors=errors, threads=threads)


binomial_price.__doc__ = _doc(
    "Option price on a Cox-Ross-Rubinstein binomial tree.",
    _COMMON_PARAMETERS, _VOL, _DIVIDEND, _STEPS, _KIND, _CARRY, _FOREIGN, _OPTIONS,
    _RETURNS_VALUE, _RAISES,
    notes="A rate in (-1e-8, 1e-8) is moved to +-1e-8 first. Each option is one tree; large "
    "inputs are shared out across options.")


def binomial_greeks(spot, strike, rate, time, vol, dividend=0.0, *, steps, american=True,
                    carry="dividend", foreign_rate=0.0, errors="nan", threads=None,
                    as_frame=False):
    named = [("spot", spot), ("strike", strike), ("rate", rate), ("time", time), ("vol", vol),
             ("dividend", dividend), ("foreign_rate", foreign_rate)]
    return _price("binomial_greeks", named, carry=carry, steps=steps, american=american,
                  errors=errors, threads=threads, fields=Greeks, as_frame=as_frame)


binomial_greeks.__doc__ = _doc(
    "Prices and Greeks of the call and the put from the binomial tree.",
    _COMMON_PARAMETERS, _VOL, _DIVIDEND, _STEPS, _CARRY, _FOREIGN, _OPTIONS, _AS_FRAME,
    _RETURNS_GREEKS, _RAISES,
    notes="Delta and gamma come from the tree's first nodes, vega from a tree at volatility "
    "* 1.01, the rhos from one at rate * 1.05. Thetas and gamma are NaN (not computable) "
    "for a one-step tree, delta, gamma and vega for a volatility below 1e-12.")


def binomial_implied_vol(price, spot, strike, rate, time, dividend=0.0, *, steps, american=True,
                         kind="call", carry="dividend", foreign_rate=0.0, errors="nan",
                         threads=None):
    named = [("price", price), ("spot", spot), ("strike", strike), ("rate", rate),
             ("time", time), ("dividend", dividend), ("foreign_rate", foreign_rate)]
    return _price("binomial_implied_vol", named, kind=kind, carry=carry, steps=steps,
                  american=american, errors=errors, threads=threads)


binomial_implied_vol.__doc__ = _doc(
    "Implied volatility on the binomial tree, by bisection of [0, 100] down to 1e-6.",
    _PRICE_TARGET, _COMMON_PARAMETERS, _DIVIDEND, _STEPS, _KIND, _CARRY, _FOREIGN, _OPTIONS,
    _RETURNS_VALUE, _RAISES,
    notes="Always 27 tree pricings (the component's binomial search has no iteration limit); "
    "for more than 50 steps the first 11 use a 20-step tree.")


# Bjerksund-Stensland


def bjs_price(spot, strike, rate, time, vol, dividend=0.0, *, kind="call", carry="dividend",
              foreign_rate=0.0, errors="nan", threads=None):
    named = [("spot", spot), ("strike", strike), ("rate", rate), ("time", time), ("vol", vol),
             ("dividend", dividend), ("foreign_rate", foreign_rate)]
    return _price("bjs_price", named, kind=kind, carry=carry, errors=errors, threads=threads)


bjs_price.__doc__ = _doc(
    "American option price by the Bjerksund-Stensland (1993) approximation.",
    _COMMON_PARAMETERS, _VOL, _DIVIDEND, _KIND, _CARRY, _FOREIGN, _OPTIONS, _RETURNS_VALUE,
    _RAISES, notes="A rate in (-1e-8, 1e-8) is moved to +-1e-8 first.")


def bjs_greeks(spot, strike, rate, time, vol, dividend=0.0, *, carry="dividend",
               foreign_rate=0.0, errors="nan", threads=None, as_frame=False):
    named = [("spot", spot), ("strike", strike), ("rate", rate), ("time", time), ("vol", vol),
             ("dividend", dividend), ("foreign_rate", foreign_rate)]
    return _price("bjs_greeks", named, carry=carry, errors=errors, threads=threads,
                  fields=Greeks, as_frame=as_frame)


bjs_greeks.__doc__ = _doc(
    "Bjerksund-Stensland prices and Greeks (difference quotients of the prices).",
    _COMMON_PARAMETERS, _VOL, _DIVIDEND, _CARRY, _FOREIGN, _OPTIONS, _AS_FRAME, _RETURNS_GREEKS,
    _RAISES, notes="Delta, gamma, vega and the put price are NaN (not computable) for a "
    "volatility below 1e-12.")


def bjs_implied_vol(price, spot, strike, rate, time, dividend=0.0, *, kind="call",
                    carry="dividend", foreign_rate=0.0, max_iter=0, errors="nan", threads=None):
    named = [("price", price), ("spot", spot), ("strike", strike), ("rate", rate),
             ("time", time), ("dividend", dividend), ("foreign_rate", foreign_rate)]
    return _price("bjs_implied_vol", named, kind=kind, carry=carry, max_iter=max_iter,
                  errors=errors, threads=threads)


bjs_implied_vol.__doc__ = _doc(
    "Bjerksund-Stensland implied volatility by bisection of [0, 100].",
    _PRICE_TARGET, _COMMON_PARAMETERS, _DIVIDEND, _KIND, _CARRY, _FOREIGN, _MAX_ITER, _OPTIONS,
    _RETURNS_VALUE, _RAISES)


# Historical volatility


def historical_volatility(prices, trading_days=252, axis=0, *, errors="nan", threads=None):
    """Annualised volatility of price series.

    The sample standard deviation of the log returns, times sqrt(trading_days).

    Parameters
    ----------
    prices : array_like
        Prices (> 0), at least 3 per series, the series running along ``axis``.
    trading_days : int
        Trading days per year, 1 to 367.
    axis : int
        The time axis.
    errors : {"nan", "return", "raise"}
        What bad series give besides NaN: nothing, an :class:`ElementErrors` as second result,
        or a :class:`ModelError` for the first of them.
    threads : int, optional
        Threads to use; default :func:`get_threads`. The result does not depend on it.

    Returns
    -------
    float or ndarray
        One volatility per series, per year: the shape of ``prices`` without ``axis`` (a
        float for one series). NaN for every series when ``trading_days`` is out of range
        (error 3053) or a series has fewer than 3 prices (error 5070). A zero or negative
        price gives a non-finite result, as in the component.

    Raises
    ------
    TypeError, ValueError
        Before any work, for prices that are not real numbers, a 0-d array or a bad axis.
    ModelError
        With ``errors="raise"``, for the first refused series.
    """
    if _is_dask(prices):
        from korvanex import dask as kxdask

        return kxdask.historical_volatility(prices, trading_days, axis, errors=errors,
                                            threads=threads)
    _choice("errors", errors, ERRORS)
    threads = _thread_count(threads)
    trading_days = _int32("trading_days", trading_days)
    array = _float_array("prices", prices)
    if array.ndim == 0:
        raise ValueError("prices must have at least one dimension")
    axis = _integer("axis", axis)
    series = np.moveaxis(array, axis, -1)  # a view: the series are walked by their strides
    result, checks = _native.historical_volatility(series, trading_days, threads,
                                                   errors != "nan")
    return _finish([result], checks, errors, array.ndim == 1, None)
