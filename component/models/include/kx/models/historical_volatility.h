// Annualised volatility of price series from raw prices.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace kx::models {

/// Sample standard deviation of the log returns ln(p_k) - ln(p_(k-1)), times sqrt(trading_days).
/// A mean or squared-deviation sum whose absolute value is below 1e-9 counts as 0. Two passes over
/// the prices, no storage. A zero or negative price gives a non-finite result. Needs 3 or more
/// prices (fewer gives NaN). Polls the abort request once per return in each pass: throws
/// AbortSignal, nothing else.
[[nodiscard]] double EstimateHistoricalVolatility(std::span<const double> prices,
                                                  std::int32_t trading_days);

/// The estimator over results.size() contiguous series of series_length prices each, series j
/// starting at prices[j * series_length]; results[j] is written as soon as it is known.
/// prices must hold results.size() * series_length values. Throws AbortSignal, nothing else.
void EstimateHistoricalVolatilities(std::span<const double> prices, std::size_t series_length,
                                    std::int32_t trading_days, std::span<double> results);

}  // namespace kx::models
