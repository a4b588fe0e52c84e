// American options by the Bjerksund-Stensland (1993) approximation with one flat exercise boundary.
//
// Price inputs, in this order: S, X, r, T, q, ModelType, rf, sigma. The callers have moved r away
// from zero (ClampRateAwayFromZero). The cost of carry b is recomputed from r at every evaluation.
// Greeks are difference quotients of the prices: theta per year, vega and rho per 1.0.
#pragma once

#include <cstdint>

#include "kx/models/common.h"

namespace kx::models {

/// American call: the European GbsCall when b >= r, else BjeApproximateCall.
[[nodiscard]] double BjeAmericanCall(double s, double x, double r, double t, double q,
                                     std::int32_t model_type, double rf, double sigma) noexcept;

/// American put by the put-call transformation BjeApproximateCall(X, S, r - b, T, sigma, -b);
/// kNotComputable when |sigma| < 1e-12. A direct call with r = 0 and b != 0 is not defined (NaN).
[[nodiscard]] double BjeAmericanPut(double s, double x, double r, double t, double q,
                                    std::int32_t model_type, double rf, double sigma) noexcept;

/// The flat exercise boundary of the closed form and the values leading to it.
struct BjeBoundary {
  double beta = 0.0;
  double b_infinity = 0.0;
  double b0 = 0.0;
  double h = 0.0;
  double trigger = 0.0;  // I: immediate exercise at S >= I
};

/// beta, B-infinity, B0 (X when r is exactly 0), h and the trigger price I for a call with carry b.
[[nodiscard]] BjeBoundary BjeExerciseBoundary(double x, double r, double t, double sigma,
                                              double b) noexcept;

/// The 1993 closed form for a call with carry b: S - X at S >= I, else the phi sum.
/// kNotComputable when |sigma| < 1e-12 (the formula divides by sigma^2).
[[nodiscard]] double BjeApproximateCall(double s, double x, double r, double t, double sigma,
                                        double b) noexcept;

/// The auxiliary function phi(S, T, gamma, H, I) of the closed form.
[[nodiscard]] double BjePhi(double s, double t, double gamma, double h, double i, double r,
                            double b, double sigma) noexcept;

/// Call and put delta: S bumped by 1.01 and 0.99; both kNotComputable when |sigma| < 1e-12.
[[nodiscard]] CallPut BjeDelta(double s, double x, double r, double t, double q,
                               std::int32_t model_type, double rf, double sigma) noexcept;

/// Call and put theta: T bumped by 1.01 and 0.99, the negative of the derivative in T. No guard.
[[nodiscard]] CallPut BjeTheta(double s, double x, double r, double t, double q,
                               std::int32_t model_type, double rf, double sigma) noexcept;

/// Gamma from call prices: S bumped by 1.01 and 0.99; kNotComputable when |sigma| < 1e-12.
[[nodiscard]] double BjeGamma(double s, double x, double r, double t, double q,
                              std::int32_t model_type, double rf, double sigma) noexcept;

/// Vega from call prices: sigma bumped by 1.01 and 0.99; kNotComputable when |sigma| < 1e-12.
[[nodiscard]] double BjeVega(double s, double x, double r, double t, double q,
                             std::int32_t model_type, double rf, double sigma) noexcept;

/// Call and put rho: r raised to 1e-12 if below, then bumped by 1.001 and 0.999. No guard.
[[nodiscard]] CallPut BjeRho(double s, double x, double r, double t, double q,
                             std::int32_t model_type, double rf, double sigma) noexcept;

/// Everything BjeAmericanCall, BjeAmericanPut, BjeDelta, BjeTheta, BjeGamma, BjeVega and BjeRho
/// give for the same inputs.
using BjeValues = OptionValues;

/// The seven functions above at once, the same doubles, with each distinct price computed once
/// (16 prices instead of 26: the unbumped prices and the spot bumps are shared).
[[nodiscard]] BjeValues BjePriceAndGreeks(double s, double x, double r, double t, double q,
                                          std::int32_t model_type, double rf,
                                          double sigma) noexcept;

}  // namespace kx::models
