#include "kx/models/normal.h"

#include <cmath>

namespace kx::models {

double NormalDensity(double x) noexcept { return std::exp(x * x * -0.5) * 0.398942280401433; }

namespace {

// N(x) for x >= 0 with n(x) given.
double UpperPart(double x, double density) {
  const double k = 1.0 / (1.0 + 0.2316419 * x);
  const double k2 = k * k;
  const double k3 = k2 * k;
  const double k4 = k3 * k;
  // Summed in this order on purpose: the published reference values depend on it.
  const double poly = (k4 * k) * 1.330274429 + k * 0.31938153 + k3 * 1.781477937 -
                      k2 * 0.356563782 - k4 * 1.821255978;
  return 1.0 - density * poly;
}

}  // namespace

double CumulativeNormal(double x) noexcept {
  // x >= 0 is false for NaN, so the lower-tail branch would recurse forever.
  if (std::isnan(x)) return x;
  if (x < 0.0) return 1.0 - CumulativeNormal(-x);
  return UpperPart(x, NormalDensity(x));
}

NormalValues NormalValuesAt(double x) noexcept {
  // n(-x) = n(x): (-x) * (-x) is x * x.
  if (x > 0.0) {
    const double density = NormalDensity(x);
    const double cdf = UpperPart(x, density);
    return {cdf, 1.0 - cdf, density};
  }
  if (x < 0.0) {
    const double density = NormalDensity(-x);
    const double cdf_of_minus = UpperPart(-x, density);
    return {1.0 - cdf_of_minus, cdf_of_minus, density};
  }
  return {CumulativeNormal(x), CumulativeNormal(-x), NormalDensity(x)};
}

}  // namespace kx::models
