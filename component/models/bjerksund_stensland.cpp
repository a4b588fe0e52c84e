#include "kx/models/bjerksund_stensland.h"

#include <algorithm>
#include <cmath>

#include "kx/models/black_scholes.h"
#include "kx/models/normal.h"

namespace kx::models {
namespace {

constexpr double kMinVolatility = 1e-12;
constexpr double kMinRhoRate = 1e-12;
constexpr double kUp = 1.01;
constexpr double kDown = 0.99;
constexpr double kRhoUp = 1.001;
constexpr double kRhoDown = 0.999;

using PriceFunction = double (*)(double, double, double, double, double, std::int32_t, double,
                                 double) noexcept;

// Mean of the two one-sided quotients (V(x) - V(xu)) / (x - xu) and (V(x) - V(xd)) / (x - xd);
// the unbumped price comes first, then the up price, then the down price.
double CentredSlope(double v, double v_up, double v_down, double x, double x_up, double x_down) {
  return 0.5 * ((v - v_up) / (x - x_up) + (v - v_down) / (x - x_down));
}

}  // namespace

double BjeAmericanCall(double s, double x, double r, double t, double q, std::int32_t model_type,
                       double rf, double sigma) noexcept {
  const double b = CostOfCarry(model_type, r, q, rf);
  // With b >= r early exercise never pays: the European price is the American one.
  if (b >= r) return GbsCall(model_type, s, x, r, rf, t, q, sigma);
  return BjeApproximateCall(s, x, r, t, sigma, b);
}

double BjeAmericanPut(double s, double x, double r, double t, double q, std::int32_t model_type,
                      double rf, double sigma) noexcept {
  if (std::fabs(sigma) < kMinVolatility) return kNotComputable;
  const double b = CostOfCarry(model_type, r, q, rf);
  return BjeApproximateCall(x, s, r - b, t, sigma, -b);
}

BjeBoundary BjeExerciseBoundary(double x, double r, double t, double sigma, double b) noexcept {
  BjeBoundary out;
  const double sigma2 = sigma * sigma;
  const double half_less_carry = 0.5 - b / sigma2;
  out.beta = half_less_carry + std::sqrt(half_less_carry * half_less_carry + 2.0 * r / sigma2);
  out.b_infinity = out.beta / (out.beta - 1.0) * x;
  out.b0 = r == 0.0 ? x : std::max(x, r / (r - b) * x);
  out.h = -(b * t + 2.0 * sigma * std::sqrt(t)) * out.b0 / (out.b_infinity - out.b0);
  out.trigger = out.b0 + (out.b_infinity - out.b0) * (1.0 - std::exp(out.h));
  return out;
}

double BjeApproximateCall(double s, double x, double r, double t, double sigma, double b) noexcept {
  // Every term divides by sigma^2; a flat volatility has no defined boundary.
  if (std::fabs(sigma) < kMinVolatility) return kNotComputable;
  const BjeBoundary boundary = BjeExerciseBoundary(x, r, t, sigma, b);
  const double beta = boundary.beta;
  const double i = boundary.trigger;
  const double alpha = (i - x) * std::pow(i, -beta);
  if (s >= i) return s - x;
  // Accumulated left to right in this order.
  double value = alpha * std::pow(s, beta);
  value -= alpha * BjePhi(s, t, beta, i, i, r, b, sigma);
  value += BjePhi(s, t, 1.0, i, i, r, b, sigma);
  value -= BjePhi(s, t, 1.0, x, i, r, b, sigma);
  value -= x * BjePhi(s, t, 0.0, i, i, r, b, sigma);
  value += x * BjePhi(s, t, 0.0, x, i, r, b, sigma);
  return value;
}

double BjePhi(double s, double t, double gamma, double h, double i, double r, double b,
              double sigma) noexcept {
  const double sigma2 = sigma * sigma;
  const double vol_root_t = sigma * std::sqrt(t);
  const double lambda = -r + gamma * b + 0.5 * gamma * (gamma - 1.0) * sigma2;
  const double d = -(std::log(s / h) + (b + (gamma - 0.5) * sigma2) * t) / vol_root_t;
  const double kappa = 2.0 * b / sigma2 + (2.0 * gamma - 1.0);
  return std::exp(lambda * t) * std::pow(s, gamma) *
         (CumulativeNormal(d) -
          std::pow(i / s, kappa) * CumulativeNormal(d - 2.0 * std::log(i / s) / vol_root_t));
}

CallPut BjeDelta(double s, double x, double r, double t, double q, std::int32_t model_type,
                 double rf, double sigma) noexcept {
  if (std::fabs(sigma) < kMinVolatility) return {kNotComputable, kNotComputable};
  const double s_up = s * kUp;
  const double s_down = s * kDown;
  auto slope = [&](PriceFunction v) {
    const double mid = v(s, x, r, t, q, model_type, rf, sigma);
    const double up = v(s_up, x, r, t, q, model_type, rf, sigma);
    const double down = v(s_down, x, r, t, q, model_type, rf, sigma);
    return CentredSlope(mid, up, down, s, s_up, s_down);
  };
  const double call = slope(&BjeAmericanCall);
  return {call, slope(&BjeAmericanPut)};
}

CallPut BjeTheta(double s, double x, double r, double t, double q, std::int32_t model_type,
                 double rf, double sigma) noexcept {
  const double t_up = t * kUp;
  const double t_down = t * kDown;
  auto theta = [&](PriceFunction v) {
    const double mid = v(s, x, r, t, q, model_type, rf, sigma);
    const double up = v(s, x, r, t_up, q, model_type, rf, sigma);
    const double down = v(s, x, r, t_down, q, model_type, rf, sigma);
    return -0.5 * ((up - mid) / (t_up - t) + (mid - down) / (t - t_down));
  };
  const double call = theta(&BjeAmericanCall);
  return {call, theta(&BjeAmericanPut)};
}

double BjeGamma(double s, double x, double r, double t, double q, std::int32_t model_type,
                double rf, double sigma) noexcept {
  if (std::fabs(sigma) < kMinVolatility) return kNotComputable;
  const double s_up = s * kUp;
  const double s_down = s * kDown;
  const double mid = BjeAmericanCall(s, x, r, t, q, model_type, rf, sigma);
  const double up = BjeAmericanCall(s_up, x, r, t, q, model_type, rf, sigma);
  const double down = BjeAmericanCall(s_down, x, r, t, q, model_type, rf, sigma);
  return (down + (up - 2.0 * mid)) / ((s - s_down) * (s_up - s));
}

double BjeVega(double s, double x, double r, double t, double q, std::int32_t model_type, double rf,
               double sigma) noexcept {
  if (std::fabs(sigma) < kMinVolatility) return kNotComputable;
  const double sigma_up = sigma * kUp;
  const double sigma_down = sigma * kDown;
  const double mid = BjeAmericanCall(s, x, r, t, q, model_type, rf, sigma);
  const double up = BjeAmericanCall(s, x, r, t, q, model_type, rf, sigma_up);
  const double down = BjeAmericanCall(s, x, r, t, q, model_type, rf, sigma_down);
  return CentredSlope(mid, up, down, sigma, sigma_up, sigma_down);
}

CallPut BjeRho(double s, double x, double r, double t, double q, std::int32_t model_type, double rf,
               double sigma) noexcept {
  const double rate = r < kMinRhoRate ? kMinRhoRate : r;
  const double r_up = rate * kRhoUp;
  const double r_down = rate * kRhoDown;
  auto rho = [&](PriceFunction v) {
    const double mid = v(s, x, rate, t, q, model_type, rf, sigma);
    const double up = v(s, x, r_up, t, q, model_type, rf, sigma);
    const double down = v(s, x, r_down, t, q, model_type, rf, sigma);
    return 0.5 * ((up - mid) / (r_up - rate) + (mid - down) / (rate - r_down));
  };
  const double call = rho(&BjeAmericanCall);
  return {call, rho(&BjeAmericanPut)};
}

}  // namespace kx::models
