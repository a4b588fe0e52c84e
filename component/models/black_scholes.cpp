#include "kx/models/black_scholes.h"

#include <cmath>

#include "kx/models/normal.h"

namespace kx::models {
namespace {

constexpr double kMinVolatility = 1e-12;
constexpr double kMinRhoRate = 1e-12;

// e^((b-r)T) and e^(-rT).
double CarryFactor(double b, double r, double t) { return std::exp((b - r) * t); }
double Discount(double r, double t) { return std::exp(-r * t); }

}  // namespace

D1D2 GbsD1D2(std::int32_t model_type, double s, double k, double r, double rf, double t, double q,
             double sigma) noexcept {
  const double b = CostOfCarry(model_type, r, q, rf);
  // A tiny strike would send the logarithm to +inf; the formula uses 1.0 in its place.
  const double l = k < 1e-05 ? 1.0 : std::log(s / k);
  const double numerator = l + (sigma * sigma * 0.5 + b) * t;
  const double denominator = std::sqrt(t) * sigma;
  // 0/0 (sigma or T zero with the forward at the strike): take the sigma -> 0+ limit, d1 = 0,
  // so that the prices come out as their intrinsic value 0 instead of NaN.
  const double d1 = (numerator == 0.0 && denominator == 0.0) ? 0.0 : numerator / denominator;
  const double d2 = d1 - std::sqrt(t) * sigma;
  return {d1, d2, b};
}

double GbsCall(std::int32_t model_type, double s, double k, double r, double rf, double t, double q,
               double sigma) noexcept {
  const D1D2 d = GbsD1D2(model_type, s, k, r, rf, t, q, sigma);
  return s * CarryFactor(d.b, r, t) * CumulativeNormal(d.d1) -
         k * Discount(r, t) * CumulativeNormal(d.d2);
}

double GbsPut(std::int32_t model_type, double s, double k, double r, double rf, double t, double q,
              double sigma) noexcept {
  const D1D2 d = GbsD1D2(model_type, s, k, r, rf, t, q, sigma);
  return k * Discount(r, t) * CumulativeNormal(-d.d2) -
         s * CarryFactor(d.b, r, t) * CumulativeNormal(-d.d1);
}

CallPut GbsDelta(std::int32_t model_type, double s, double k, double r, double rf, double t,
                 double q, double sigma) noexcept {
  if (std::fabs(sigma) < kMinVolatility) return {kNotComputable, kNotComputable};
  const D1D2 d = GbsD1D2(model_type, s, k, r, rf, t, q, sigma);
  const double carry = CarryFactor(d.b, r, t);
  const double n_d1 = CumulativeNormal(d.d1);
  return {carry * n_d1, carry * (n_d1 - 1.0)};
}

CallPut GbsTheta(std::int32_t model_type, double s, double k, double r, double rf, double t,
                 double q, double sigma) noexcept {
  const D1D2 d = GbsD1D2(model_type, s, k, r, rf, t, q, sigma);
  const double carry = CarryFactor(d.b, r, t);
  const double disc = Discount(r, t);
  const double common = -s * carry * NormalDensity(d.d1) * sigma / (2.0 * std::sqrt(t));
  const double call = -r * k * disc * CumulativeNormal(d.d2) -
                      (d.b - r) * s * carry * CumulativeNormal(d.d1) + common;
  const double put = r * k * disc * CumulativeNormal(-d.d2) +
                     (d.b - r) * s * carry * CumulativeNormal(-d.d1) + common;
  return {call, put};
}

double GbsGamma(std::int32_t model_type, double s, double k, double r, double rf, double t,
                double q, double sigma) noexcept {
  if (std::fabs(sigma) < kMinVolatility) return kNotComputable;
  const D1D2 d = GbsD1D2(model_type, s, k, r, rf, t, q, sigma);
  return NormalDensity(d.d1) * CarryFactor(d.b, r, t) / (std::sqrt(t) * s * sigma);
}

double GbsVega(std::int32_t model_type, double s, double k, double r, double rf, double t, double q,
               double sigma) noexcept {
  if (std::fabs(sigma) < kMinVolatility) return kNotComputable;
  const D1D2 d = GbsD1D2(model_type, s, k, r, rf, t, q, sigma);
  return s * CarryFactor(d.b, r, t) * NormalDensity(d.d1) * std::sqrt(t);
}

CallPut GbsRho(std::int32_t model_type, double s, double k, double r, double rf, double t, double q,
               double sigma) noexcept {
  // Raised before b is formed, so a zero rate under ModelType 1 with q = 0 still has b != 0.
  const double rate = r < kMinRhoRate ? kMinRhoRate : r;
  const D1D2 d = GbsD1D2(model_type, s, k, rate, rf, t, q, sigma);
  if (d.b == 0.0) {
    return {-t * GbsCall(model_type, s, k, rate, rf, t, q, sigma),
            -t * GbsPut(model_type, s, k, rate, rf, t, q, sigma)};
  }
  const double disc = Discount(rate, t);
  return {t * k * disc * CumulativeNormal(d.d2), -t * k * disc * CumulativeNormal(-d.d2)};
}

GbsValues GbsPriceAndGreeks(std::int32_t model_type, double s, double k, double r, double rf,
                            double t, double q, double sigma) noexcept {
  // Each value below is written as its own function writes it, operand for operand.
  const D1D2 d = GbsD1D2(model_type, s, k, r, rf, t, q, sigma);
  const double carry = CarryFactor(d.b, r, t);
  const double disc = Discount(r, t);
  const NormalValues v1 = NormalValuesAt(d.d1);
  const NormalValues v2 = NormalValuesAt(d.d2);
  const CallPut n1{v1.cdf, v1.cdf_of_minus};  // N(d1), N(-d1)
  const CallPut n2{v2.cdf, v2.cdf_of_minus};
  const double density = v1.density;
  const bool flat = std::fabs(sigma) < kMinVolatility;
  GbsValues out;
  out.call = s * carry * n1.call - k * disc * n2.call;
  out.put = k * disc * n2.put - s * carry * n1.put;
  out.delta = flat ? CallPut{kNotComputable, kNotComputable}
                   : CallPut{carry * n1.call, carry * (n1.call - 1.0)};
  const double common = -s * carry * density * sigma / (2.0 * std::sqrt(t));
  out.theta.call = -r * k * disc * n2.call - (d.b - r) * s * carry * n1.call + common;
  out.theta.put = r * k * disc * n2.put + (d.b - r) * s * carry * n1.put + common;
  out.gamma = flat ? kNotComputable : density * carry / (std::sqrt(t) * s * sigma);
  out.vega = flat ? kNotComputable : s * carry * density * std::sqrt(t);
  if (r < kMinRhoRate) {
    out.rho = GbsRho(model_type, s, k, r, rf, t, q, sigma);  // another rate: nothing to share
  } else if (d.b == 0.0) {
    out.rho = {-t * out.call, -t * out.put};
  } else {
    out.rho = {t * k * disc * n2.call, -t * k * disc * n2.put};
  }
  return out;
}

}  // namespace kx::models
