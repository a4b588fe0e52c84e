// The argument tests of the pricing methods, in the order the methods run them, as pure functions:
// the automation methods and the array functions refuse exactly the same inputs.
#pragma once

#include <cstdint>
#include <string_view>

namespace kx::models {

/// The first test an input fails (kPassed when none). Every test is an ordered comparison, so NaN
/// fails the first test it meets.
enum class ArgumentCheck : std::uint8_t {
  kPassed = 0,
  kStockPrice,
  kExercisePrice,
  kInterestRate,
  kTimeToMaturity,
  kVolatility,
  kDividendNegative,
  kDividendAboveOne,
  kModelTypeNegative,
  kModelTypeAboveThree,
  kForeignRateNegative,
  kForeignRateAboveOne,
  kBinStepsBelowOne,
  kBinStepsAboveMax,
  kFlagEurAm,
};

inline constexpr std::int32_t kMaxBinSteps = 5000;

/// S, K, r, T, sigma and q, as every pricing method tests them.
[[nodiscard]] constexpr ArgumentCheck FirstFailedOptionCheck(double s, double k, double r, double t,
                                                             double sigma, double q) noexcept {
  if (!(s > 0)) return ArgumentCheck::kStockPrice;
  if (!(k > 0)) return ArgumentCheck::kExercisePrice;
  if (!(r >= 0)) return ArgumentCheck::kInterestRate;
  if (!(t > 0)) return ArgumentCheck::kTimeToMaturity;
  if (!(sigma >= 0)) return ArgumentCheck::kVolatility;
  if (!(q >= 0)) return ArgumentCheck::kDividendNegative;
  if (!(q <= 1)) return ArgumentCheck::kDividendAboveOne;
  return ArgumentCheck::kPassed;
}

/// The option tests, then ModelType and rf (binomial and Bjerksund-Stensland).
[[nodiscard]] constexpr ArgumentCheck FirstFailedModelCheck(double s, double k, double r, double t,
                                                            double sigma, double q,
                                                            std::int32_t model_type,
                                                            double rf) noexcept {
  const ArgumentCheck option = FirstFailedOptionCheck(s, k, r, t, sigma, q);
  if (option != ArgumentCheck::kPassed) return option;
  if (model_type < 0) return ArgumentCheck::kModelTypeNegative;
  if (model_type > 3) return ArgumentCheck::kModelTypeAboveThree;
  if (!(rf >= 0)) return ArgumentCheck::kForeignRateNegative;
  if (!(rf <= 1)) return ArgumentCheck::kForeignRateAboveOne;
  return ArgumentCheck::kPassed;
}

/// BinSteps in [1, kMaxBinSteps].
[[nodiscard]] constexpr ArgumentCheck FirstFailedStepCheck(std::int32_t bin_steps) noexcept {
  if (bin_steps < 1) return ArgumentCheck::kBinStepsBelowOne;
  if (bin_steps > kMaxBinSteps) return ArgumentCheck::kBinStepsAboveMax;
  return ArgumentCheck::kPassed;
}

/// FlagEurAm 0 or 1.
[[nodiscard]] constexpr ArgumentCheck FlagEurAmCheck(std::int32_t flag_eur_am) noexcept {
  return flag_eur_am == 0 || flag_eur_am == 1 ? ArgumentCheck::kPassed : ArgumentCheck::kFlagEurAm;
}

/// The message a method posts for a failed test (the texts are the component's own, typos
/// included); empty for kPassed.
[[nodiscard]] constexpr std::string_view ArgumentCheckMessage(ArgumentCheck check) noexcept {
  switch (check) {
    case ArgumentCheck::kPassed:
      return {};
    case ArgumentCheck::kStockPrice:
      return "Stock Price must be greater than 0";
    case ArgumentCheck::kExercisePrice:
      return "Exercise Price must be greater than 0";
    case ArgumentCheck::kInterestRate:
      return "Interest Rate must be greater than than 0";
    case ArgumentCheck::kTimeToMaturity:
      return "Time To Maturity must be greater than 0";
    case ArgumentCheck::kVolatility:
      return "Volatility must be greater than 0";
    case ArgumentCheck::kDividendNegative:
      return "Dividend Rate cannot be less than 0";
    case ArgumentCheck::kDividendAboveOne:
      return "Dividend Rate cannot be greater than 1";
    case ArgumentCheck::kModelTypeNegative:
      return "Model Type cannot be less than 0";
    case ArgumentCheck::kModelTypeAboveThree:
      return "Model Type cannot be greater than 3";
    case ArgumentCheck::kForeignRateNegative:
      return "Foreign Interest Rate cannot be less than 0";
    case ArgumentCheck::kForeignRateAboveOne:
      return "Foreign Interest Rate cannot be greater than 1 (100%)";
    case ArgumentCheck::kBinStepsBelowOne:
      return "BinSteps must be greater than than 0";
    case ArgumentCheck::kBinStepsAboveMax:
      return "BinSteps cannot be greater than 5000";
    case ArgumentCheck::kFlagEurAm:
      return "FlagEurAm must be set to either 0 or 1.";
  }
  return {};
}

}  // namespace kx::models
