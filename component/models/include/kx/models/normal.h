// Standard normal density and distribution used by the closed-form models.
#pragma once

namespace kx::models {

/// n(x) = exp(x * x * -0.5) * 0.398942280401433 (the factor has these 15 digits, not full
/// 1/sqrt(2pi)).
[[nodiscard]] double NormalDensity(double x) noexcept;

/// N(x) by the five-term polynomial 26.2.17 of Abramowitz and Stegun (absolute error < 7.5e-8);
/// the lower tail is 1 - N(-x). N(0) = 0.50000000052481, not 0.5. NaN gives NaN.
[[nodiscard]] double CumulativeNormal(double x) noexcept;

/// N(x), N(-x) and n(x) of the same x.
struct NormalValues {
  double cdf = 0.0;
  double cdf_of_minus = 0.0;
  double density = 0.0;
};

/// The same doubles as CumulativeNormal(x), CumulativeNormal(-x) and NormalDensity(x), with one
/// polynomial and one exponential where CumulativeNormal takes one of them as 1 - the other.
[[nodiscard]] NormalValues NormalValuesAt(double x) noexcept;

}  // namespace kx::models
