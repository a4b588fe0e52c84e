// Implied volatility by bisection over any price function of sigma.
#pragma once

#include <cmath>
#include <cstdint>

#include "kx/models/abort.h"

namespace kx::models {

/// The search bracket [0, 100] (100 = 10 000 % a year), shared by every volatility search.
inline constexpr double kVolatilityLow = 0.0;
inline constexpr double kVolatilityHigh = 100.0;
/// The search stops once the bracket is no wider than this; a result below it is returned as 0.
inline constexpr double kVolatilityTolerance = 1e-6;
/// Iteration limit used when the caller's MaxIter is 0 or negative.
inline constexpr std::int32_t kDefaultMaxIter = 50;

/// kSigned compares price(sigma) with the target, kAbsolute compares |price(sigma)|.
enum class CompareMode { kSigned, kAbsolute };
/// kOn calls CheckAbort before every price evaluation (the search may then throw AbortSignal).
enum class AbortPolling { kOff, kOn };

/// MaxIter if it is positive, else kDefaultMaxIter.
[[nodiscard]] constexpr std::int32_t EffectiveMaxIter(std::int32_t max_iter) noexcept {
  return max_iter > 0 ? max_iter : kDefaultMaxIter;
}

/// The midpoint of the final bracket, or 0 when it is below kVolatilityTolerance.
[[nodiscard]] inline double BisectionResult(double low, double high) noexcept {
  const double result = (low + high) * 0.5;
  return result < kVolatilityTolerance ? 0.0 : result;
}

/// Sigma in [0, 100) at which price(sigma) meets target, assuming the price rises with sigma.
/// Never fails: a target below every price gives 0, one above the price at 100 gives 99.99999963.
/// At most EffectiveMaxIter(max_iter) evaluations, and exactly 27 when that limit is 27 or more.
/// A NaN price counts as "not above the target" and moves the lower end up.
/// `price` is any callable double(double). Throws only AbortSignal, and only with
/// AbortPolling::kOn.
template <typename PriceOfSigma>
[[nodiscard]] double BisectVolatility(PriceOfSigma&& price, double target, std::int32_t max_iter,
                                      CompareMode mode, AbortPolling polling) {
  const std::int32_t limit = EffectiveMaxIter(max_iter);
  double low = kVolatilityLow;
  double high = kVolatilityHigh;
  std::int32_t count = 0;
  do {
    if (polling == AbortPolling::kOn) CheckAbort();
    const double mid = (low + high) * 0.5;
    double p = price(mid);
    if (mode == CompareMode::kAbsolute) p = std::fabs(p);
    if (p > target) {
      high = mid;
    } else {
      low = mid;
    }
    ++count;
  } while (!(high - low <= kVolatilityTolerance) && count < limit);
  return BisectionResult(low, high);
}

}  // namespace kx::models
