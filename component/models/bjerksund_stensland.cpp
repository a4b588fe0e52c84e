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

namespace {

// The five phi terms of the closed form share S, T, I, r, b and sigma, and take only three
// gammas and two barriers: what depends on no more than those is computed once. Each value is
// written as BjePhi writes it, operand for operand, so the terms are the same doubles.
class PhiTerms {
 public:
  PhiTerms(double s, double t, double i, double r, double b, double sigma, double beta)
      : t_(t), b_(b), sigma2_(sigma * sigma), vol_root_t_(sigma * std::sqrt(t)) {
    shift_ = 2.0 * std::log(i / s) / vol_root_t_;
    const double ratio = i / s;
    const double gammas[kGammas] = {beta, 1.0, 0.0};
    for (int g = 0; g < kGammas; ++g) {
      const double gamma = gammas[g];
      const double lambda = -r + gamma * b + 0.5 * gamma * (gamma - 1.0) * sigma2_;
      const double kappa = 2.0 * b / sigma2_ + (2.0 * gamma - 1.0);
      gamma_[g] = gamma;
      power_s_[g] = std::pow(s, gamma);
      factor_[g] = std::exp(lambda * t) * power_s_[g];
      power_[g] = std::pow(ratio, kappa);
    }
  }

  // phi(S, T, gammas[g], h, I) with log_s_over_h = log(S / h).
  [[nodiscard]] double Phi(int g, double log_s_over_h) const {
    const double d = -(log_s_over_h + (b_ + (gamma_[g] - 0.5) * sigma2_) * t_) / vol_root_t_;
    return factor_[g] * (CumulativeNormal(d) - power_[g] * CumulativeNormal(d - shift_));
  }
  [[nodiscard]] double PowerOfSBeta() const { return power_s_[kBeta]; }
  static constexpr int kBeta = 0, kOne = 1, kZero = 2;

 private:
  static constexpr int kGammas = 3;
  double t_, b_, sigma2_, vol_root_t_, shift_ = 0.0;
  double gamma_[kGammas] = {}, power_s_[kGammas] = {}, factor_[kGammas] = {}, power_[kGammas] = {};
};

}  // namespace

double BjeApproximateCall(double s, double x, double r, double t, double sigma, double b) noexcept {
  // Every term divides by sigma^2; a flat volatility has no defined boundary.
  if (std::fabs(sigma) < kMinVolatility) return kNotComputable;
  const BjeBoundary boundary = BjeExerciseBoundary(x, r, t, sigma, b);
  const double beta = boundary.beta;
  const double i = boundary.trigger;
  const double alpha = (i - x) * std::pow(i, -beta);
  if (s >= i) return s - x;
  const PhiTerms phi(s, t, i, r, b, sigma, beta);
  const double log_s_over_i = std::log(s / i);
  const double log_s_over_x = std::log(s / x);
  // Accumulated left to right in this order.
  double value = alpha * phi.PowerOfSBeta();
  value -= alpha * phi.Phi(PhiTerms::kBeta, log_s_over_i);
  value += phi.Phi(PhiTerms::kOne, log_s_over_i);
  value -= phi.Phi(PhiTerms::kOne, log_s_over_x);
  value -= x * phi.Phi(PhiTerms::kZero, log_s_over_i);
  value += x * phi.Phi(PhiTerms::kZero, log_s_over_x);
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

BjeValues BjePriceAndGreeks(double s, double x, double r, double t, double q,
                            std::int32_t model_type, double rf, double sigma) noexcept {
  auto call = [&](double s_at, double r_at, double t_at, double sigma_at) {
    return BjeAmericanCall(s_at, x, r_at, t_at, q, model_type, rf, sigma_at);
  };
  auto put = [&](double s_at, double r_at, double t_at) {
    return BjeAmericanPut(s_at, x, r_at, t_at, q, model_type, rf, sigma);
  };
  BjeValues out;
  out.call = call(s, r, t, sigma);
  out.put = put(s, r, t);

  if (std::fabs(sigma) < kMinVolatility) {
    out.delta = {kNotComputable, kNotComputable};
    out.gamma = kNotComputable;
    out.vega = kNotComputable;
  } else {
    const double s_up = s * kUp;
    const double s_down = s * kDown;
    const double call_up = call(s_up, r, t, sigma);
    const double call_down = call(s_down, r, t, sigma);
    out.delta.call = CentredSlope(out.call, call_up, call_down, s, s_up, s_down);
    out.delta.put = CentredSlope(out.put, put(s_up, r, t), put(s_down, r, t), s, s_up, s_down);
    out.gamma = (call_down + (call_up - 2.0 * out.call)) / ((s - s_down) * (s_up - s));
    const double sigma_up = sigma * kUp;
    const double sigma_down = sigma * kDown;
    out.vega = CentredSlope(out.call, call(s, r, t, sigma_up), call(s, r, t, sigma_down), sigma,
                            sigma_up, sigma_down);
  }

  const double t_up = t * kUp;
  const double t_down = t * kDown;
  auto theta = [&](double mid, double up, double down) {
    return -0.5 * ((up - mid) / (t_up - t) + (mid - down) / (t - t_down));
  };
  out.theta.call = theta(out.call, call(s, r, t_up, sigma), call(s, r, t_down, sigma));
  out.theta.put = theta(out.put, put(s, r, t_up), put(s, r, t_down));

  const double rate = r < kMinRhoRate ? kMinRhoRate : r;
  const double r_up = rate * kRhoUp;
  const double r_down = rate * kRhoDown;
  // The unbumped prices at `rate` are the ones above unless the rate was raised.
  const bool same_rate = rate == r;
  const double call_mid = same_rate ? out.call : call(s, rate, t, sigma);
  const double put_mid = same_rate ? out.put : put(s, rate, t);
  auto rho = [&](double mid, double up, double down) {
    return 0.5 * ((up - mid) / (r_up - rate) + (mid - down) / (rate - r_down));
  };
  out.rho.call = rho(call_mid, call(s, r_up, t, sigma), call(s, r_down, t, sigma));
  out.rho.put = rho(put_mid, put(s, r_up, t), put(s, r_down, t));
  return out;
}

}  // namespace kx::models
