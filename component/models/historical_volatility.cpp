#include "kx/models/historical_volatility.h"

#include <cmath>
#include <limits>

#include "kx/models/abort.h"

namespace kx::models {
namespace {

// A sum this close to 0 is taken as exactly 0 (so a steady trend gives a volatility of 0).
constexpr double kZeroSum = 1e-9;

}  // namespace

double EstimateHistoricalVolatility(std::span<const double> prices, std::int32_t trading_days) {
  const std::size_t n = prices.size();
  if (n < 3) return std::numeric_limits<double>::quiet_NaN();

  // Each return is the difference of two logarithms; carrying the previous logarithm gives the
  // same doubles as taking both again, at half the cost.
  double sum = 0.0;
  double previous = std::log(prices[0]);
  for (std::size_t k = 1; k < n; ++k) {
    CheckAbort();
    const double current = std::log(prices[k]);
    sum += current - previous;
    previous = current;
  }
  const double mean = std::fabs(sum) < kZeroSum ? 0.0 : sum / static_cast<double>(n - 1);

  double squares = 0.0;
  previous = std::log(prices[0]);
  for (std::size_t k = 1; k < n; ++k) {
    CheckAbort();
    const double current = std::log(prices[k]);
    const double deviation = (current - previous) - mean;
    squares += deviation * deviation;
    previous = current;
  }
  const double variance =
      std::fabs(squares) < kZeroSum ? 0.0 : squares / static_cast<double>(n - 2);
  return std::sqrt(variance) * std::sqrt(static_cast<double>(trading_days));
}

void EstimateHistoricalVolatilities(std::span<const double> prices, std::size_t series_length,
                                    std::int32_t trading_days, std::span<double> results) {
  for (std::size_t j = 0; j < results.size(); ++j) {
    results[j] = EstimateHistoricalVolatility(prices.subspan(j * series_length, series_length),
                                              trading_days);
  }
}

}  // namespace kx::models
