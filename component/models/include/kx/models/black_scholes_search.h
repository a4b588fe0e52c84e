// The Black-Scholes implied-volatility search with a handful of price evaluations instead of 27.
#pragma once

#include <cstdint>

#include "kx/models/common.h"
#include "kx/models/implied_volatility.h"

namespace kx::models {

/// BisectVolatility(price, target, max_iter, mode, polling) with price(sigma) = GbsCall (kCall) or
/// GbsPut (kPut) of the other inputs: the same double for every input, limit and mode.
///
/// The bisection's result depends only on which side of the target each midpoint's price falls.
/// This search first finds the root by safeguarded Newton steps on the same prices, then proves
/// a point on each side of it to be clear of the target by a margin (1e-9 of the size of the
/// price's terms, far above their rounding), and then runs the bisection evaluating only the
/// midpoints between those two points: the price rises with sigma, so every other midpoint falls on
/// the side of the proved point beyond it. It falls back to the plain bisection wherever that
/// cannot be shown: a NaN target or price, in absolute mode a negative price, evaluated prices out
/// of order beyond the margin, or Newton steps that do not settle. CheckAbort is called before
/// every price evaluation when polling is on. Throws only AbortSignal, and only with
/// AbortPolling::kOn.
[[nodiscard]] double GbsBisectVolatility(OptionSide side, std::int32_t model_type, double s,
                                         double k, double r, double rf, double t, double q,
                                         double target, std::int32_t max_iter, CompareMode mode,
                                         AbortPolling polling);

}  // namespace kx::models
