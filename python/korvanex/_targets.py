"""Which implied volatilities answer their target.

The searches bisect [0, 100] and never fail: a target below every model price comes back as the
bottom of the bracket, one above the price at volatility 100 as its top, and one met by a whole
range of volatilities as whichever the bisection lands on. This check runs after the search, one
or two model prices per element, and tells those apart from true answers; the search itself and
the volatilities it finds are left as they are.
"""

from __future__ import annotations

import numpy as np

# The search's bracket and tolerance, as in the models.
HIGH = 100.0
TOLERANCE = 1e-6
DEFAULT_MAX_ITER = 50
# Bisection steps until the bracket is no wider than TOLERANCE: 100 / 2**27 < 1e-6.
FULL_STEPS = 27
# A target this close (relative) to the price at half the volatility is met there too.
FLAT = 1e-12
# The volatility (1 %) at which a target met at the bottom of the bracket is tried again.
FLAT_PROBE = 0.01


def search_steps(family, max_iter):
    """Prices the search evaluates: the tree search always runs to the tolerance."""
    if family.startswith("binomial"):
        return FULL_STEPS
    return min(max_iter if max_iter > 0 else DEFAULT_MAX_ITER, FULL_STEPS)


def classify(family, inputs, put, settings, vols, checks, price, codes):
    """Sets vols to NaN where the target has no single answer and returns the checks with the
    reason (checks may be None: then only the NaN are set).

    inputs are the broadcast arrays of the search (target, spot, strike, rate, time, dividend
    [, foreign rate]); price(family, arrays, put, settings, want_checks) prices the same
    elements at the volatilities given, as the search does.
    """
    target = inputs[0]
    priced = np.isfinite(vols) if checks is None else (checks == 0)
    steps = search_steps(family, settings[3])
    smallest = HIGH / 2.0**steps  # the lowest volatility the search tries
    bottom = smallest / 2 if smallest / 2 >= TOLERANCE else 0.0
    top = HIGH - smallest / 2
    pricing = family.replace("implied_vol", "price")

    def model(mask, sigma):
        """(price at sigma, target) of the masked elements, as 1-D arrays; sigma is given per
        masked element. Every element at once needs no copies of the inputs."""
        whole = bool(np.all(mask))
        args = list(inputs) if whole else [a[mask] for a in inputs]
        side = put if np.ndim(put) == 0 or whole else put[mask]
        if whole:
            sigma = np.broadcast_to(sigma.reshape(-1), (mask.size,)).reshape(np.shape(mask))
        sigma = np.asarray(sigma, dtype=np.float64)
        values, _ = price(pricing, args[1:5] + [sigma] + args[5:], side, settings, False)
        # The call search compares |price|, the put search the signed price.
        value = np.where(side, values[0], np.abs(values[0]))
        if whole:
            return np.reshape(value, -1), np.reshape(target, -1)
        return value, target[mask]

    def spot_root_time(mask):
        return np.abs(inputs[1][mask]) * np.sqrt(np.abs(inputs[4][mask]))

    verdict = np.zeros(np.shape(vols), dtype=np.uint8)
    at_bottom = priced & (vols <= bottom)
    if at_bottom.any():
        low, goal = model(at_bottom, np.full(np.count_nonzero(at_bottom), smallest))
        # Volatilities below the smallest tried move the price by at most vega * smallest, and
        # vega is below spot * sqrt(time).
        slack = spot_root_time(at_bottom) * smallest
        verdict[at_bottom] = np.where(goal < low - slack, codes["below"], 0)
        # A target met at the bottom is only an answer if a real volatility does not meet it
        # too (a deep put whose price is flat in volatility, a price of 0 out of the money).
        met = at_bottom & (verdict == 0)
        if met.any():
            one_percent, goal = model(met, np.full(np.count_nonzero(met), FLAT_PROBE))
            flat = np.abs(one_percent - goal) <= FLAT * np.abs(goal) + 1e-15 * spot_root_time(met)
            verdict[met] = np.where(flat, codes["not_unique"], 0)
    at_top = priced & (vols >= top)
    if at_top.any():
        high, goal = model(at_top, np.full(np.count_nonzero(at_top), HIGH))
        # A tree overflows long before volatility 100: an infinite price reaches nothing.
        verdict[at_top] = np.where(np.isfinite(high) & (goal <= high), 0, codes["above"])
    inside = priced & ~at_bottom & ~at_top
    if inside.any() and not family.startswith("bs"):
        # The trees and Bjerksund-Stensland can jump (to an overflowed price, or where a tree's
        # probabilities leave [0, 1]) inside the final bracket: the target then lies in the
        # jump, and no volatility gives it. Black-Scholes prices are continuous and finite up
        # to 100.
        mid = vols[inside]
        low, goal = model(inside, np.maximum(mid - smallest / 2, 0.0))
        high, _ = model(inside, mid + smallest / 2)
        slack = spot_root_time(inside) * smallest + FLAT * np.abs(goal)
        verdict[inside] = np.where(high - low <= slack, 0, codes["jump"])
        inside &= verdict == 0
    if inside.any():
        half, goal = model(inside, vols[inside] / 2)
        verdict[inside] = np.where(half >= goal - FLAT * np.abs(goal), codes["not_unique"], 0)
    refused = verdict != 0
    if refused.any():
        vols[refused] = np.nan
        if checks is not None:
            checks[refused] = verdict[refused]
    return checks
