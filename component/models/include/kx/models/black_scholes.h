// European options by the generalised Black-Scholes formula with cost of carry b.
//
// Every function takes ModelType, S, K, r, rf, T, q, sigma in this order. Rates, yields and sigma
// are decimal fractions per year, T is in years. Theta is per year, vega and rho per 1.0 of sigma
// and r.
#pragma once

#include <cstdint>

#include "kx/models/common.h"

namespace kx::models {

struct D1D2 {
  double d1 = 0.0;
  double d2 = 0.0;
  double b = 0.0;  // the cost of carry used
};

/// d1 = (L + (sigma^2/2 + b) T) / (sqrt(T) sigma), d2 = d1 - sqrt(T) sigma, with L = ln(S/K), or
/// L = 1.0 when K < 1e-5. sigma = 0 gives d1 = d2 = +-inf; where the numerator is 0 as well
/// (forward at the strike) d1 = d2 = 0, the limit for sigma -> 0+, so the prices come out 0.
[[nodiscard]] D1D2 GbsD1D2(std::int32_t model_type, double s, double k, double r, double rf,
                           double t, double q, double sigma) noexcept;

/// C = S e^((b-r)T) N(d1) - K e^(-rT) N(d2). No volatility guard.
[[nodiscard]] double GbsCall(std::int32_t model_type, double s, double k, double r, double rf,
                             double t, double q, double sigma) noexcept;

/// P = K e^(-rT) N(-d2) - S e^((b-r)T) N(-d1). No volatility guard.
[[nodiscard]] double GbsPut(std::int32_t model_type, double s, double k, double r, double rf,
                            double t, double q, double sigma) noexcept;

/// Call and put delta per unit of S; both kNotComputable when |sigma| < 1e-12.
[[nodiscard]] CallPut GbsDelta(std::int32_t model_type, double s, double k, double r, double rf,
                               double t, double q, double sigma) noexcept;

/// Call and put theta per year of elapsed time (no volatility guard).
[[nodiscard]] CallPut GbsTheta(std::int32_t model_type, double s, double k, double r, double rf,
                               double t, double q, double sigma) noexcept;

/// Gamma (same for call and put); kNotComputable when |sigma| < 1e-12.
[[nodiscard]] double GbsGamma(std::int32_t model_type, double s, double k, double r, double rf,
                              double t, double q, double sigma) noexcept;

/// Vega per 1.0 of sigma (same for call and put); kNotComputable when |sigma| < 1e-12.
[[nodiscard]] double GbsVega(std::int32_t model_type, double s, double k, double r, double rf,
                             double t, double q, double sigma) noexcept;

/// Call and put rho per 1.0 of r. A rate below 1e-12 is raised to 1e-12 for everything, b included;
/// when b is then exactly 0 the rhos are -T times the call and put prices.
[[nodiscard]] CallPut GbsRho(std::int32_t model_type, double s, double k, double r, double rf,
                             double t, double q, double sigma) noexcept;

/// Everything the functions above give for one set of inputs.
using GbsValues = OptionValues;

/// GbsCall, GbsPut, GbsDelta, GbsTheta, GbsGamma, GbsVega and GbsRho of the same inputs, the same
/// doubles, with d1, d2, the discount factors and the normal values computed once.
[[nodiscard]] GbsValues GbsPriceAndGreeks(std::int32_t model_type, double s, double k, double r,
                                          double rf, double t, double q, double sigma) noexcept;

}  // namespace kx::models
