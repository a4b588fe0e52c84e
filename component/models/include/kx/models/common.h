// Shared inputs and helpers of every pricing model.
#pragma once

#include <cstdint>

namespace kx::models {

/// Stands in an output that a model cannot compute (for instance a Greek at |sigma| < 1e-12).
/// It is returned as an ordinary value; the caller decides whether it is a failure.
inline constexpr double kNotComputable = -999.0;

/// ModelType values: they select the cost of carry b.
inline constexpr std::int32_t kModelStock = 0;          // b = r
inline constexpr std::int32_t kModelDividendYield = 1;  // b = r - q
inline constexpr std::int32_t kModelFutures = 2;        // b = 0
inline constexpr std::int32_t kModelCurrency = 3;       // b = r - rf

/// FlagEurAm values of the binomial tree; any value other than kAmerican prices European options.
inline constexpr std::int32_t kAmerican = 0;
inline constexpr std::int32_t kEuropean = 1;

/// Which option of a pair a computation is about.
enum class OptionSide { kCall, kPut };

/// A call value and a put value of the same inputs.
struct CallPut {
  double call = 0.0;
  double put = 0.0;
};

/// Both prices and every Greek of one option, as one model gives them.
struct OptionValues {
  double call = 0.0;
  double put = 0.0;
  CallPut delta;
  CallPut theta;
  double gamma = 0.0;
  double vega = 0.0;
  CallPut rho;
};

/// Cost of carry b: r for ModelType 0, r - q for 1, 0 for 2, r - rf for 3, and r for any other
/// value.
[[nodiscard]] double CostOfCarry(std::int32_t model_type, double r, double q, double rf) noexcept;

/// Moves a rate out of (-1e-8, 1e-8): 0 <= r < 1e-8 gives 1e-8, -1e-8 < r < 0 gives -1e-8, anything
/// else (NaN included) is returned unchanged. The binomial and Bjerksund-Stensland callers apply
/// it.
[[nodiscard]] double ClampRateAwayFromZero(double r) noexcept;

}  // namespace kx::models
