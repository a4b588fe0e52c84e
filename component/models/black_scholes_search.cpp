#include "kx/models/black_scholes_search.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "kx/models/abort.h"
#include "kx/models/normal.h"

namespace kx::models {
namespace {

// Certified points lie this far from the target, relative to the size of the price's terms.
constexpr double kMarginToScale = 1e-9;
constexpr int kNewtonSteps = 60;
constexpr int kMaxPoints = 128;

struct PriceAndVega {
  double price;
  double vega;
};

// GbsCall or GbsPut of fixed inputs as a function of sigma: each price the same double as theirs
// (the same operations in the same order), with what does not depend on sigma computed once.
class GbsOfSigma {
 public:
  GbsOfSigma(OptionSide side, std::int32_t model_type, double s, double k, double r, double rf,
             double t, double q)
      : call_(side == OptionSide::kCall),
        t_(t),
        sqrt_t_(std::sqrt(t)),
        b_(CostOfCarry(model_type, r, q, rf)),
        replaced_log_(k < 1e-05),
        l_(replaced_log_ ? 1.0 : std::log(s / k)),
        s_carry_(s * std::exp((b_ - r) * t)),
        k_disc_(k * std::exp(-r * t)) {}

  [[nodiscard]] PriceAndVega operator()(double sigma) const {
    const double numerator = l_ + (sigma * sigma * 0.5 + b_) * t_;
    const double denominator = sqrt_t_ * sigma;
    const double d1 = (numerator == 0.0 && denominator == 0.0) ? 0.0 : numerator / denominator;
    const double d2 = d1 - sqrt_t_ * sigma;
    const NormalValues n1 = NormalValuesAt(d1);
    const NormalValues n2 = NormalValuesAt(d2);
    const double price = call_ ? s_carry_ * n1.cdf - k_disc_ * n2.cdf
                               : k_disc_ * n2.cdf_of_minus - s_carry_ * n1.cdf_of_minus;
    return {price, s_carry_ * n1.density * sqrt_t_};
  }

  [[nodiscard]] double TurningPoint() const {
    return std::sqrt(2.0 * std::fabs(l_ + b_ * t_) / t_);
  }

  // With a strike below 1e-5 the formula puts 1.0 in place of ln(S / K): the price need not rise
  // with sigma then.
  [[nodiscard]] bool Monotone() const { return !replaced_log_; }

  // The size of the two terms whose difference is the price: their rounding bounds its noise.
  [[nodiscard]] double Scale() const { return std::max(std::fabs(s_carry_), std::fabs(k_disc_)); }

 private:
  bool call_;
  double t_, sqrt_t_, b_;
  bool replaced_log_;
  double l_, s_carry_, k_disc_;
};

struct Point {
  double sigma;
  double value;  // what is compared with the target
};

class FastSearch {
 public:
  FastSearch(const GbsOfSigma& price, double target, CompareMode mode, AbortPolling polling)
      : price_(price),
        target_(target),
        mode_(mode),
        polling_(polling),
        margin_(kMarginToScale * std::max(std::fabs(target), price.Scale())) {}

  // The bisection's result, or NaN when it could not be shown without the plain search.
  double Run(std::int32_t limit) {
    if (!price_.Monotone() || !std::isfinite(target_) || !std::isfinite(margin_)) return kGiveUp;
    double root = 0.0;
    double vega = 0.0;
    if (!FindRoot(root, vega) || failed_) return kGiveUp;
    ProveAround(root, vega);
    if (failed_) return kGiveUp;
    double low = kVolatilityLow;
    double high = kVolatilityHigh;
    std::int32_t count = 0;
    do {
      const double mid = (low + high) * 0.5;
      bool above;
      if (mid <= proved_below_) {
        above = false;
      } else if (mid >= proved_above_) {
        above = true;
      } else {
        above = Evaluate(mid).value > target_;
        if (failed_) return kGiveUp;
      }
      if (above) {
        high = mid;
      } else {
        low = mid;
      }
      ++count;
    } while (!(high - low <= kVolatilityTolerance) && count < limit);
    if (!InOrder()) return kGiveUp;
    return BisectionResult(low, high);
  }

 private:
  static constexpr double kGiveUp = std::numeric_limits<double>::quiet_NaN();

  Point Evaluate(double sigma) {
    if (polling_ == AbortPolling::kOn) CheckAbort();
    const PriceAndVega pv = price_(sigma);
    last_vega_ = pv.vega;
    if (std::isnan(pv.price) || (mode_ == CompareMode::kAbsolute && pv.price < 0.0) ||
        count_ == kMaxPoints) {
      failed_ = true;
      return {sigma, pv.price};
    }
    const Point point{sigma, mode_ == CompareMode::kAbsolute ? std::fabs(pv.price) : pv.price};
    points_[count_++] = point;
    if (point.value <= target_ - margin_) proved_below_ = std::max(proved_below_, sigma);
    if (point.value > target_ + margin_) proved_above_ = std::min(proved_above_, sigma);
    return point;
  }

  // Newton steps on the price, kept inside the bracket the evaluations have found. They start at
  // sqrt(2 |ln(F / K)| / T), where the Black-Scholes price turns from convex to concave in sigma
  // (Manaster and Koehler's start, from which Newton converges), or at 0.3 for options near the
  // forward. Only speed depends on the start. The root is close enough once a step is small next
  // to the offset of the proved points.
  bool FindRoot(double& root, double& vega) {
    double lo = kVolatilityLow;
    double hi = kVolatilityHigh;
    double x = price_.TurningPoint();
    if (!(x > 0.05 && x < 50.0)) x = 0.3;
    for (int step = 0; step < kNewtonSteps; ++step) {
      const Point p = Evaluate(x);
      if (failed_) return false;
      if (p.value > target_) {
        hi = std::min(hi, x);
      } else {
        lo = std::max(lo, x);
      }
      double next = x - (p.value - target_) / last_vega_;
      if (!(next > lo && next < hi)) next = (lo + hi) * 0.5;
      const double close = std::max(margin_ / last_vega_, 1e-13 * std::max(1.0, x));
      if (std::fabs(next - x) <= close || hi - lo <= 1e-13) {
        root = next;
        vega = last_vega_;
        return true;
      }
      x = next;
    }
    return false;
  }

  // A point on each side of the root, clear of the target by the margin: every midpoint beyond
  // one of them is decided without its price.
  void ProveAround(double root, double vega) {
    double offset = vega > 0.0 ? 4.0 * margin_ / vega : 1e-9;
    for (int attempt = 0; attempt < 3 && !failed_; ++attempt, offset *= 16.0) {
      if (proved_below_ < root - offset && root - offset > kVolatilityLow) Evaluate(root - offset);
      if (proved_above_ > root + offset && root + offset < kVolatilityHigh) Evaluate(root + offset);
      if (proved_above_ - proved_below_ <= 2.0 * offset + 1e-12) return;
    }
  }

  // The evaluated prices rise with sigma up to the margin, as the proof assumes.
  bool InOrder() {
    std::sort(points_, points_ + count_,
              [](const Point& a, const Point& b) { return a.sigma < b.sigma; });
    double highest = -std::numeric_limits<double>::infinity();
    for (int i = 0; i < count_; ++i) {
      if (points_[i].value < highest - margin_) return false;
      highest = std::max(highest, points_[i].value);
    }
    return true;
  }

  const GbsOfSigma& price_;
  double target_;
  CompareMode mode_;
  AbortPolling polling_;
  double margin_;
  double proved_below_ = -1.0;  // the largest sigma proved below the target
  double proved_above_ = std::numeric_limits<double>::infinity();
  double last_vega_ = 0.0;
  bool failed_ = false;
  Point points_[kMaxPoints];
  int count_ = 0;
};

}  // namespace

double GbsBisectVolatility(OptionSide side, std::int32_t model_type, double s, double k, double r,
                           double rf, double t, double q, double target, std::int32_t max_iter,
                           CompareMode mode, AbortPolling polling) {
  const GbsOfSigma price(side, model_type, s, k, r, rf, t, q);
  FastSearch fast(price, target, mode, polling);
  const double result = fast.Run(EffectiveMaxIter(max_iter));
  if (!std::isnan(result)) return result;
  return BisectVolatility([&](double sigma) { return price(sigma).price; }, target, max_iter, mode,
                          polling);
}

}  // namespace kx::models
