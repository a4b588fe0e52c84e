"""The component's pricing models over numpy arrays and pandas objects.

Every function prices each element of its (broadcast) arguments with the same model functions,
argument tests and input adjustments as the component's method for it, so each element is the
very double the method returns. The work runs without the GIL and is shared out over all cores;
the results do not depend on the number of threads.

Units: rates, dividend yields and volatilities are decimal fractions per year (0.05 is 5 %),
times are in years. Theta is per year of elapsed time; vega and rho are per 1.00 of volatility
and of the interest rate (divide by 100 for "per point").

Accuracy: the closed forms use the normal distribution N(x) of Abramowitz and Stegun 26.2.17
(absolute error below 7.5e-8), so a Black-Scholes price differs from the exact formula by at most
7.5e-8 * (S exp(-qT) + K exp(-rT)) (1.5e-5 for S = K = 100). The implied-volatility searches
bisect [0, 100] until the bracket is 1e-6 wide (27 steps) or ``max_iter`` steps are done.

pandas: Series (or DataFrames) in give Series (or DataFrames) out with their index. Labelled
inputs are aligned as pandas arithmetic aligns them, on the union of their indexes; a row that
one input lacks has NaN there and is refused. Only unlabelled arrays pair by position.

Dask arrays among the arguments make the result a lazy dask array priced block by block, as
:mod:`korvanex.dask` does.

Bad elements: where the component's method refuses an input (its error code 6010, "Argument
error: Invalid input parameter(s)."), the element is NaN. So is an output for which the model
has no value (the component's -999.0, for instance a delta at zero volatility; code
``NOT_COMPUTABLE``), and an implied volatility whose target no volatility reproduces, or many
do (codes ``BELOW_RANGE``, ``ABOVE_RANGE``, ``NOT_UNIQUE``, ``NOT_REACHED``); never -999.0
or a made-up number.
``errors="return"`` also returns each element's error code, error text and reason,
``errors="raise"`` raises :class:`ModelError` naming the first bad element.
"""

from __future__ import annotations

from korvanex import _arrays
from korvanex._arrays import (ABOVE_RANGE, BELOW_RANGE, CARRIES, ERRORS, KINDS, NOT_COMPUTABLE,
                              NOT_REACHED, NOT_UNIQUE, ElementErrors, Greeks, ModelError,
                              get_threads, set_threads)

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
    "KINDS",
    "CARRIES",
    "ERRORS",
    "NOT_COMPUTABLE",
    "BELOW_RANGE",
    "ABOVE_RANGE",
    "NOT_UNIQUE",
    "NOT_REACHED",
]


def _is_dask(value):
    return hasattr(value, "__dask_graph__")


def _price(family, named, *, fields=None, as_frame=False, **keywords):
    if any(_is_dask(value) for _, value in named) or _is_dask(keywords.get("kind")):
        # The same call on dask arrays: lazy, block by block (korvanex.dask).
        from korvanex import dask as kxdask

        positional = [value for name, value in named if name != "foreign_rate"]
        foreign = {name: value for name, value in named if name == "foreign_rate"}
        return getattr(kxdask, family)(*positional, **foreign, **keywords, as_frame=as_frame)
    return _arrays.price(family, named, fields=fields, as_frame=as_frame, **keywords)


_BJS_NEGATIVE_RATES = ("the Bjerksund-Stensland (1993) approximation is not sound for negative "
                       "rates (its exercise boundary assumes r >= 0); price on the binomial tree "
                       "instead")


def _no_negative_rates(negative_rates):
    if negative_rates:
        raise ValueError(f"negative_rates: {_BJS_NEGATIVE_RATES}")


_COMMON_PARAMETERS = """spot : array_like
    Stock price S (> 0).
strike : array_like
    Exercise price K (> 0).
rate : array_like
    Risk-free interest rate r per year, continuously compounded (>= 0, or any number with
    ``negative_rates=True`` where offered; 0.05 is 5 %).
time : array_like
    Time to maturity T in years (> 0)."""
_VOL = """vol : array_like
    Volatility sigma per year (>= 0; 0.20 is 20 %)."""
_DIVIDEND = """dividend : array_like, optional
    Continuous dividend yield q per year, 0 to 1."""
_PRICE_TARGET = """price : array_like
    Market price of the option the volatility is searched for."""
_KIND = """kind : {"call", "put"} or array_like of them
    Which option: one for all, or one per element (broadcast like the numbers; a Series is
    aligned like the other labelled inputs)."""
_NEGATIVE = """negative_rates : bool
    Accept a negative ``rate`` (the model is sound for it). Off by default, as in the
    component, which refuses a rate below 0."""
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
    wide (27 steps), so the volatility is within 1e-6 of the answer (with fewer steps, within
    half the last bracket)."""
_TARGETS = """A target that no volatility in [0, 100] reproduces is NaN with code ``BELOW_RANGE``
(below the price at volatility 0, for instance a quote under the intrinsic value; the
component gives 0) or ``ABOVE_RANGE`` (above the price at volatility 100, for instance a call
above the spot; the component gives 99.99999963). One that a whole range of volatilities
reproduces is NaN with ``NOT_UNIQUE`` (an American option at its exercise value, a price of 0
out of the money; the component gives whichever volatility its bisection lands on). A tree or
Bjerksund-Stensland price that jumps over the target inside the search's last bracket (a tree
at a volatility too low for its steps, or overflowing) is NaN with ``NOT_REACHED``. The check
costs one (Black-Scholes) or three model prices per element, after the search."""
_OPTIONS = """errors : {"nan", "return", "raise"}
    What bad elements give besides NaN: nothing, an :class:`ElementErrors` as second result
    (per element: the code, 0 for none; the text; the reason, which names the argument or the
    rule), or a :class:`ModelError` for the first of them.
threads : int, optional
    Threads to use; default :func:`get_threads`. The result does not depend on it."""
_AS_FRAME = """as_frame : bool
    Return a pandas DataFrame with one column per field (scalar or 1-D inputs; indexed like
    the pandas Series among the inputs)."""
_RETURNS_VALUE = """Returns
-------
float or ndarray
    float64 of the broadcast shape of the inputs (a float when every input is a scalar; a
    Series or DataFrame with their labels for pandas inputs); NaN where the element was
    refused. With ``errors="return"`` a tuple (values,
    :class:`ElementErrors`)."""
_RETURNS_GREEKS = """Returns
-------
Greeks or DataFrame
    :class:`Greeks` of float64 arrays (or Series) of the broadcast shape: the call and put
    prices, deltas, thetas (per year), gamma, vega (per 1.00 of volatility) and rhos (per 1.00
    of the rate); NaN where refused or not computable. With ``errors="return"`` a tuple (greeks,
    :class:`ElementErrors`)."""
_RAISES = """Raises
------
TypeError, ValueError
    Before any work, for inputs that are not real numbers or do not broadcast, and for
    unknown keyword values.
ModelError
    With ``errors="raise"``, for the first refused element."""


_ACCURACY = ("N(x) is the polynomial 26.2.17 of Abramowitz and Stegun (absolute error below "
             "7.5e-8): a price differs from the exact formula by at most "
             "7.5e-8 * (S exp(-qT) + K exp(-rT)).")
_BJS_RATES = ("A negative rate is refused (code 6010): " + _BJS_NEGATIVE_RATES + "; "
              "negative_rates=True raises ValueError.")


def _doc(summary, *parts, notes=""):
    text = summary + "\n\nParameters\n----------\n" + "\n".join(parts[:-2]) + "\n\n"
    text += parts[-2] + "\n\n" + parts[-1]
    if notes:
        text += "\n\nNotes\n-----\n" + notes
    return text


# Black-Scholes


def bs_price(spot, strike, rate, time, vol, dividend=0.0, *, kind="call", negative_rates=False,
             errors="nan", threads=None):
    named = [("spot", spot), ("strike", strike), ("rate", rate), ("time", time), ("vol", vol),
             ("dividend", dividend)]
    return _price("bs_price", named, kind=kind, negative_rates=negative_rates, errors=errors,
                  threads=threads)


bs_price.__doc__ = _doc(
    "European option price by the Black-Scholes formula with a continuous dividend yield.",
    _COMMON_PARAMETERS, _VOL, _DIVIDEND, _KIND, _NEGATIVE, _OPTIONS, _RETURNS_VALUE, _RAISES,
    notes=_ACCURACY)


def bs_greeks(spot, strike, rate, time, vol, dividend=0.0, *, negative_rates=False, errors="nan",
              threads=None, as_frame=False):
    named = [("spot", spot), ("strike", strike), ("rate", rate), ("time", time), ("vol", vol),
             ("dividend", dividend)]
    return _price("bs_greeks", named, negative_rates=negative_rates, errors=errors,
                  threads=threads, fields=Greeks, as_frame=as_frame)


bs_greeks.__doc__ = _doc(
    "Black-Scholes prices and Greeks of the call and the put.",
    _COMMON_PARAMETERS, _VOL, _DIVIDEND, _NEGATIVE, _OPTIONS, _AS_FRAME, _RETURNS_GREEKS, _RAISES,
    notes="Delta, gamma and vega are NaN (not computable) for a volatility below 1e-12. "
    + _ACCURACY)


def bs_implied_vol(price, spot, strike, rate, time, dividend=0.0, *, kind="call", max_iter=0,
                   negative_rates=False, errors="nan", threads=None):
    named = [("price", price), ("spot", spot), ("strike", strike), ("rate", rate),
             ("time", time), ("dividend", dividend)]
    return _price("bs_implied_vol", named, kind=kind, max_iter=max_iter,
                  negative_rates=negative_rates, errors=errors, threads=threads)


bs_implied_vol.__doc__ = _doc(
    "Black-Scholes implied volatility by bisection of [0, 100].",
    _PRICE_TARGET, _COMMON_PARAMETERS, _DIVIDEND, _KIND, _MAX_ITER, _NEGATIVE, _OPTIONS,
    _RETURNS_VALUE, _RAISES,
    notes=_TARGETS + " The call search compares the absolute model price, the put search the "
    "signed one.")


# Binomial tree


def binomial_price(spot, strike, rate, time, vol, dividend=0.0, *, steps, american=True,
                   kind="call", carry="dividend", foreign_rate=0.0, negative_rates=False,
                   errors="nan", threads=None):
    named = [("spot", spot), ("strike", strike), ("rate", rate), ("time", time), ("vol", vol),
             ("dividend", dividend), ("foreign_rate", foreign_rate)]
    return _price("binomial_price", named, kind=kind, carry=carry, steps=steps,
                  american=american, negative_rates=negative_rates, errors=errors,
                  threads=threads)


binomial_price.__doc__ = _doc(
    "Option price on a Cox-Ross-Rubinstein binomial tree.",
    _COMMON_PARAMETERS, _VOL, _DIVIDEND, _STEPS, _KIND, _CARRY, _FOREIGN, _NEGATIVE, _OPTIONS,
    _RETURNS_VALUE, _RAISES,
    notes="A rate in (-1e-8, 1e-8) is moved to +-1e-8 first. Each option is one tree; large "
    "inputs are shared out across options.")


def binomial_greeks(spot, strike, rate, time, vol, dividend=0.0, *, steps, american=True,
                    carry="dividend", foreign_rate=0.0, negative_rates=False, errors="nan",
                    threads=None, as_frame=False):
    named = [("spot", spot), ("strike", strike), ("rate", rate), ("time", time), ("vol", vol),
             ("dividend", dividend), ("foreign_rate", foreign_rate)]
    return _price("binomial_greeks", named, carry=carry, steps=steps, american=american,
                  negative_rates=negative_rates, errors=errors, threads=threads, fields=Greeks,
                  as_frame=as_frame)


binomial_greeks.__doc__ = _doc(
    "Prices and Greeks of the call and the put from the binomial tree.",
    _COMMON_PARAMETERS, _VOL, _DIVIDEND, _STEPS, _CARRY, _FOREIGN, _NEGATIVE, _OPTIONS,
    _AS_FRAME, _RETURNS_GREEKS, _RAISES,
    notes="Delta and gamma come from the tree's first nodes, vega from a tree at volatility "
    "* 1.01, the rhos from one at rate * 1.05. Thetas and gamma are NaN (not computable) "
    "for a one-step tree, delta, gamma and vega for a volatility below 1e-12.")


def binomial_implied_vol(price, spot, strike, rate, time, dividend=0.0, *, steps, american=True,
                         kind="call", carry="dividend", foreign_rate=0.0, negative_rates=False,
                         errors="nan", threads=None):
    named = [("price", price), ("spot", spot), ("strike", strike), ("rate", rate),
             ("time", time), ("dividend", dividend), ("foreign_rate", foreign_rate)]
    return _price("binomial_implied_vol", named, kind=kind, carry=carry, steps=steps,
                  american=american, negative_rates=negative_rates, errors=errors,
                  threads=threads)


binomial_implied_vol.__doc__ = _doc(
    "Implied volatility on the binomial tree, by bisection of [0, 100] down to 1e-6.",
    _PRICE_TARGET, _COMMON_PARAMETERS, _DIVIDEND, _STEPS, _KIND, _CARRY, _FOREIGN, _NEGATIVE,
    _OPTIONS, _RETURNS_VALUE, _RAISES,
    notes="Always 27 tree pricings (the component's binomial search has no iteration limit); "
    "for more than 50 steps the first 11 use a 20-step tree. " + _TARGETS)


# Bjerksund-Stensland


def bjs_price(spot, strike, rate, time, vol, dividend=0.0, *, kind="call", carry="dividend",
              foreign_rate=0.0, negative_rates=False, errors="nan", threads=None):
    _no_negative_rates(negative_rates)
    named = [("spot", spot), ("strike", strike), ("rate", rate), ("time", time), ("vol", vol),
             ("dividend", dividend), ("foreign_rate", foreign_rate)]
    return _price("bjs_price", named, kind=kind, carry=carry, errors=errors, threads=threads)


bjs_price.__doc__ = _doc(
    "American option price by the Bjerksund-Stensland (1993) approximation.",
    _COMMON_PARAMETERS, _VOL, _DIVIDEND, _KIND, _CARRY, _FOREIGN, _OPTIONS, _RETURNS_VALUE,
    _RAISES, notes="A rate in (-1e-8, 1e-8) is moved to +-1e-8 first. " + _BJS_RATES)


def bjs_greeks(spot, strike, rate, time, vol, dividend=0.0, *, carry="dividend",
               foreign_rate=0.0, negative_rates=False, errors="nan", threads=None,
               as_frame=False):
    _no_negative_rates(negative_rates)
    named = [("spot", spot), ("strike", strike), ("rate", rate), ("time", time), ("vol", vol),
             ("dividend", dividend), ("foreign_rate", foreign_rate)]
    return _price("bjs_greeks", named, carry=carry, errors=errors, threads=threads,
                  fields=Greeks, as_frame=as_frame)


bjs_greeks.__doc__ = _doc(
    "Bjerksund-Stensland prices and Greeks (difference quotients of the prices).",
    _COMMON_PARAMETERS, _VOL, _DIVIDEND, _CARRY, _FOREIGN, _OPTIONS, _AS_FRAME, _RETURNS_GREEKS,
    _RAISES, notes=_BJS_RATES + " Delta, gamma, vega and the put price are NaN (not computable) "
    "for a "
    "volatility below 1e-12.")


def bjs_implied_vol(price, spot, strike, rate, time, dividend=0.0, *, kind="call",
                    carry="dividend", foreign_rate=0.0, max_iter=0, negative_rates=False,
                    errors="nan", threads=None):
    _no_negative_rates(negative_rates)
    named = [("price", price), ("spot", spot), ("strike", strike), ("rate", rate),
             ("time", time), ("dividend", dividend), ("foreign_rate", foreign_rate)]
    return _price("bjs_implied_vol", named, kind=kind, carry=carry, max_iter=max_iter,
                  errors=errors, threads=threads)


bjs_implied_vol.__doc__ = _doc(
    "Bjerksund-Stensland implied volatility by bisection of [0, 100].",
    _PRICE_TARGET, _COMMON_PARAMETERS, _DIVIDEND, _KIND, _CARRY, _FOREIGN, _MAX_ITER, _OPTIONS,
    _RETURNS_VALUE, _RAISES, notes=_TARGETS + " " + _BJS_RATES)


# Historical volatility


def historical_volatility(prices, trading_days=252, axis=0, *, skipna=False, errors="nan",
                          threads=None):
    """Annualised volatility of price series.

    The sample standard deviation of the log returns, times sqrt(trading_days).

    Parameters
    ----------
    prices : array_like or DataFrame
        Prices (> 0), at least 3 per series, the series running along ``axis``.
    trading_days : int
        Trading days per year, 1 to 367.
    axis : int
        The time axis.
    skipna : bool
        False: a series with a missing price (NaN) is NaN (error 5070, reason "A price is
        missing"). True: each series' missing prices are left out and the log returns are
        taken between the prices that remain, each return counting as one trading day (so a
        ticker listed later is priced on its own history); it then needs 3 prices left.
    errors : {"nan", "return", "raise"}
        What bad series give besides NaN: nothing, an :class:`ElementErrors` as second result,
        or a :class:`ModelError` for the first of them.
    threads : int, optional
        Threads to use; default :func:`get_threads`. The result does not depend on it.

    Returns
    -------
    float, ndarray or Series
        One volatility per series, per year: the shape of ``prices`` without ``axis`` (a
        float for one series; a Series indexed by the columns of a DataFrame for ``axis=0``,
        by its rows for ``axis=1``). NaN for every series when ``trading_days`` is out of range
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

        return kxdask.historical_volatility(prices, trading_days, axis, skipna=skipna,
                                            errors=errors, threads=threads)
    return _arrays.historical_volatility(prices, trading_days, axis, skipna=skipna,
                                         errors=errors, threads=threads)
