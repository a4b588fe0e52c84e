#include "tree_search.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "kx/models/abort.h"
#include "kx/models/common.h"
#include "kx/models/implied_volatility.h"
#include "parallel.h"

namespace kx::models::detail {
namespace {

// Proved points lie this far from the target, relative to the size of the tree's terms. The
// rounding of a pricing stays below about 4 N eps of them (every node is a sum of non-negative
// terms), 2e-12 at N = 5000.
constexpr double kMarginToScale = 1e-9;
// The root is first estimated on a tree of steps / kCheapDivisor steps (1/64 of a pricing's
// work), when that tree has at least kCheapMinSteps; below that the exact prices are cheap anyway.
constexpr std::int32_t kCheapDivisor = 8;
constexpr std::int32_t kCheapMinSteps = 50;
// The first estimate of all comes from a tree of this many steps, bisected down to this width.
constexpr std::int32_t kGuessSteps = 20;
constexpr double kGuessWidth = 0.05;
// The second point of a secant, relative to the first.
constexpr double kSecantSpread = 1e-4;
constexpr int kSecantSteps = 30;
// The cheap tree's curvature is read from prices this far apart, relative to the estimate.
constexpr double kCurvatureSpread = 0.01;
constexpr int kMaxPricings = 64;  // exact pricings before the plain loop takes over
// Pairs around the root's cell before the remaining midpoints are priced one by one.
constexpr int kCellRounds = 4;
// The cheap tree's roots are found to this width (relative above 1): far below the last halving's
// 7e-7, and their distance from the full tree's is larger anyway.
constexpr double kCheapTolerance = 1e-10;
// The full tree's difference to the cheap tree over the quarter tree's, when each differs from the
// limit by c / steps: (1 - kCheapDivisor) / (4 - kCheapDivisor).
constexpr double kQuarterToFull = (1.0 - kCheapDivisor) / (4.0 - kCheapDivisor);
// p lies in [0, 1] once sigma >= |b| sqrt(dt); a little more keeps the rounding of p off the edge.
constexpr double kMonotoneFactor = 1.001;

struct Point {
  double sigma;
  double value;  // |root price|
};

class TreeBisection {
 public:
  TreeBisection(TreeWorkspace& workspace, TreeWorkspace* helper, const TreeInputs& in,
                TreeSides side, double target, const std::atomic<bool>* stop)
      : workspace_(workspace), helper_(helper), in_(in), side_(side), target_(target), stop_(stop) {
    const double b = CostOfCarry(in.model_type, in.r, in.q, in.rf);
    monotone_from_ = std::fabs(b) * std::sqrt(in.t / in.steps) * kMonotoneFactor;
    margin_ = kMarginToScale * (std::fabs(in.s) * std::exp(std::fabs(b) * in.t) +
                                std::fabs(in.strike) + std::fabs(target));
  }

  std::optional<BisectionState> Run(BisectionState state, std::int32_t limit) {
    if (!std::isfinite(target_) || !std::isfinite(margin_) || !std::isfinite(monotone_from_) ||
        !(in_.t > 0.0) || in_.steps < 1) {
      return std::nullopt;
    }
    const double estimate = EstimateRoot(state);
    if (failed_) return std::nullopt;
    double refined = in_.steps / kCheapDivisor >= kCheapMinSteps ? Extrapolate(estimate, state)
                                                                   : estimate;
    if (failed_) return std::nullopt;
    // The midpoints that enclose the root: their prices decide them exactly, and, clear of the
    // target, every other midpoint too. Two close prices that miss the root's cell still place it
    // far better than before: their secant (bent by the cheap tree's curvature) picks the next
    // pair, which then rarely misses.
    for (int round = 0; round < kCellRounds; ++round) {
      const BisectionState cell = Simulate(state, limit, [&](double mid) { return mid > refined; });
      const double a = cell.low != state.low ? cell.low : cell.high;
      const double b = cell.high != state.high ? cell.high : cell.low;
      PriceUndecided(a, b);
      if (failed_) return std::nullopt;
      bool decided = true;
      Simulate(state, limit, [&](double mid) {
        const std::optional<bool> above = Decided(mid);
        decided = decided && above.has_value();
        return above.value_or(mid > refined);
      });
      if (decided || a == b) break;
      refined = SecantRoot(a, b, refined, state);
    }

    const BisectionState end = Simulate(state, limit, [&](double mid) { return Above(mid); });
    if (failed_ || !InOrder()) return std::nullopt;
    return end;
  }

 private:
  [[nodiscard]] double RootOf(const TreeNodes& nodes) const {
    return side_ == TreeSides::kCall ? nodes.call[0][0] : nodes.put[0][0];
  }

  double Price(TreeWorkspace& w, double sigma, std::int32_t steps,
               const std::atomic<bool>* stop) {
    CheckAbort();
    TreeInputs at = in_;
    at.sigma = sigma;
    at.steps = steps;
    return std::fabs(RootOf(PriceTreeSides(w, at, side_, stop)));
  }

  void Record(Point point) {
    if (!std::isfinite(point.value) || ++pricings_ > kMaxPricings) failed_ = true;
    points_.push_back(point);
  }

  Point Exact(double sigma) {
    const Point point{sigma, Price(workspace_, sigma, in_.steps, stop_)};
    Record(point);
    return point;
  }

  // Prices those of a and b that are not decided yet: two on two threads, one on both.
  void PriceUndecided(double a, double b) {
    const bool price_a = !Decided(a).has_value();
    const bool price_b = a != b && !Decided(b).has_value();
    if (price_a && price_b) {
      PricePair(a, b);
    } else if (price_a || price_b) {
      const double sigma = price_a ? a : b;
      (void)(helper_ != nullptr ? ExactOnTwo(sigma) : Exact(sigma));
    }
  }

  // The exact price at sigma with the tree's rollback shared by both threads.
  Point ExactOnTwo(double sigma) {
    CheckAbort();
    TreeInputs at = in_;
    at.sigma = sigma;
    const Point point{
        sigma, std::fabs(RootOf(PriceTreeSidesOnTwoThreads(workspace_, *helper_, at, side_, stop_)))};
    Record(point);
    return point;
  }

  // Prices a and b at the full step count, on two threads when there is a helper workspace.
  void PricePair(double a, double b) {
    if (Known(a) && Known(b)) return;
    if (helper_ == nullptr || a == b || Known(a) || Known(b)) {
      if (!Known(a)) Exact(a);
      if (!Known(b)) Exact(b);
      return;
    }
    double va = 0.0;
    double vb = 0.0;
    std::atomic<bool> pair_stop{false};
    RunOnTwoThreads(
        Parallelism::kTwoThreads, pair_stop,
        [&] { va = Price(workspace_, a, in_.steps, &pair_stop); },
        [&] { vb = Price(*helper_, b, in_.steps, &pair_stop); });
    Record({a, va});
    Record({b, vb});
  }

  [[nodiscard]] double ValueAt(double sigma) const {
    for (const Point& p : points_) {
      if (p.sigma == sigma) return p.value;
    }
    return std::numeric_limits<double>::quiet_NaN();
  }

  [[nodiscard]] bool Known(double sigma) const {
    return std::any_of(points_.begin(), points_.end(),
                       [&](const Point& p) { return p.sigma == sigma; });
  }

  // Where the price meets the target, roughly: a bisection of a 20-step tree to a width of 0.05
  // (the search's own coarse phase when it has one), then secant steps on a tree of an eighth of
  // the steps, or on the tree itself when that is small (its prices then serve as proofs too).
  double EstimateRoot(const BisectionState& state) {
    double low = state.low;
    double high = state.high;
    const std::int32_t guess_steps = std::min(in_.steps, kGuessSteps);
    while (high - low >= kGuessWidth) {
      const double mid = (low + high) * 0.5;
      if (Price(workspace_, mid, guess_steps, stop_) > target_) {
        high = mid;
      } else {
        low = mid;
      }
    }
    const std::int32_t cheap = in_.steps / kCheapDivisor;
    const bool exact = cheap < kCheapMinSteps;
    auto f = [&](double sigma) {
      if (exact) return Exact(sigma).value - target_;
      return Price(workspace_, sigma, cheap, stop_) - target_;
    };
    return Secant(f, (low + high) * 0.5, state, exact ? 1e-12 : kCheapTolerance);
  }

  // Secant steps from x and x (1 + spread), kept inside the bracket.
  template <typename F>
  double Secant(F&& f, double x, const BisectionState& state, double tolerance) {
    auto clamp = [&](double v) { return std::clamp(v, Lowest(state), Highest(state)); };
    double x0 = clamp(x);
    double x1 = clamp(x0 * (1.0 + kSecantSpread) + 1e-9);
    double f0 = f(x0);
    if (failed_) return x0;
    double f1 = f(x1);
    for (int step = 0; step < kSecantSteps && !failed_; ++step) {
      if (!std::isfinite(f0) || !std::isfinite(f1) || f1 == f0) break;
      const double x2 = clamp(x1 - f1 * (x1 - x0) / (f1 - f0));
      if (std::fabs(x2 - x1) <= tolerance * std::max(1.0, x1)) return x2;
      x0 = x1;
      f0 = f1;
      x1 = x2;
      f1 = f(x1);
    }
    return x1;
  }

  // Where the full tree's price meets the target, from cheaper trees: a tree's price differs from
  // its limit by about c / steps, so the cheap tree's prices shifted by 7/4 of their difference to
  // a tree of a quarter of the steps meet the target near the full tree's root (within about
  // 1e-4 of it, often far closer).
  double Extrapolate(double estimate, const BisectionState& state) {
    const std::int32_t cheap = in_.steps / kCheapDivisor;
    const double at_estimate = Price(workspace_, estimate, cheap, stop_);
    const double shift =
        kQuarterToFull * (Price(workspace_, estimate, in_.steps / 4, stop_) - at_estimate);
    auto f = [&](double sigma) { return Price(workspace_, sigma, cheap, stop_) + shift - target_; };
    const double root = Secant(f, estimate, state, kCheapTolerance);
    return std::isfinite(root) ? root : estimate;
  }

  // Where the price meets the target by the secant of the exact prices at a and b, bent by the
  // cheap tree's curvature near `estimate` (which the full tree's matches closely): within a small
  // fraction of the last halving's width of the full tree's root when a and b are close to it.
  double SecantRoot(double a, double b, double estimate, const BisectionState& state) {
    const double lowest = Lowest(state);
    const double highest = Highest(state);
    const double fa = ValueAt(a) - target_;
    const double fb = ValueAt(b) - target_;
    const double slope = (fb - fa) / (b - a);
    if (!(slope != 0.0) || !std::isfinite(slope)) return estimate;
    const double secant = a - fa / slope;
    // The curvature from three prices of the cheap tree a hundredth of the estimate apart.
    const std::int32_t cheap =
        in_.steps / kCheapDivisor >= kCheapMinSteps ? in_.steps / kCheapDivisor : in_.steps;
    const double h = std::min(estimate * kCurvatureSpread, estimate - lowest);
    double curvature = 0.0;
    if (h > 0.0 && estimate + h <= highest) {
      const double below = Price(workspace_, estimate - h, cheap, stop_);
      const double middle = Price(workspace_, estimate, cheap, stop_);
      const double above = Price(workspace_, estimate + h, cheap, stop_);
      curvature = (above - 2.0 * middle + below) / (h * h);
    }
    const double bend = 0.5 * curvature * (secant - a) * (secant - b);
    const double bend_slope = slope + 0.5 * curvature * (2.0 * secant - a - b);
    double refined = secant;
    if (std::isfinite(curvature) && bend_slope != 0.0) refined = secant - bend / bend_slope;
    if (!std::isfinite(refined)) refined = secant;
    return std::clamp(refined, lowest, highest);
  }

  // The search keeps its points strictly inside the bracket.
  static double Lowest(const BisectionState& state) {
    return state.low + (state.high - state.low) * 1e-9;
  }
  static double Highest(const BisectionState& state) {
    return state.high - (state.high - state.low) * 1e-9;
  }

  // The plain loop with `above(mid)` standing for "the price at mid is above the target".
  template <typename Above>
  BisectionState Simulate(BisectionState s, std::int32_t limit, Above&& above) {
    do {
      const double mid = (s.low + s.high) * 0.5;
      if (above(mid)) {
        s.high = mid;
      } else {
        s.low = mid;
      }
      ++s.count;
      if (failed_) return s;
    } while (!(s.high - s.low <= kVolatilityTolerance) && s.count < limit);
    return s;
  }

  // Whether the price at mid is above the target, when known without pricing it: its own price
  // when it has one; else proved by a point clear of the target on the same side (both where the
  // price cannot fall).
  [[nodiscard]] std::optional<bool> Decided(double mid) const {
    for (const Point& p : points_) {
      if (p.sigma == mid) return p.value > target_;
    }
    if (mid >= monotone_from_) {
      for (const Point& p : points_) {
        if (p.sigma < monotone_from_) continue;
        if (p.sigma >= mid && p.value <= target_ - margin_) return false;
        if (p.sigma <= mid && p.value > target_ + margin_) return true;
      }
    }
    return std::nullopt;
  }

  // Decided, else priced.
  bool Above(double mid) {
    if (const std::optional<bool> known = Decided(mid)) return *known;
    return (helper_ != nullptr ? ExactOnTwo(mid) : Exact(mid)).value > target_;
  }

  // The prices where they cannot fall rise with sigma up to the margin, as the proofs assume.
  bool InOrder() {
    std::vector<Point> sorted;
    for (const Point& p : points_) {
      if (p.sigma >= monotone_from_) sorted.push_back(p);
    }
    std::sort(sorted.begin(), sorted.end(),
              [](const Point& a, const Point& b) { return a.sigma < b.sigma; });
    double highest = -std::numeric_limits<double>::infinity();
    for (const Point& p : sorted) {
      if (p.value < highest - margin_) return false;
      highest = std::max(highest, p.value);
    }
    return true;
  }

  TreeWorkspace& workspace_;
  TreeWorkspace* helper_;
  TreeInputs in_;
  TreeSides side_;
  double target_;
  const std::atomic<bool>* stop_;
  double monotone_from_ = 0.0;
  double margin_ = 0.0;
  std::vector<Point> points_;
  int pricings_ = 0;
  bool failed_ = false;
};

}  // namespace

std::optional<BisectionState> FinishTreeBisection(TreeWorkspace& workspace, TreeWorkspace* helper,
                                                  const TreeInputs& in, TreeSides side,
                                                  double target, BisectionState state,
                                                  std::int32_t limit,
                                                  const std::atomic<bool>* stop) {
  TreeBisection search(workspace, helper, in, side, target, stop);
  return search.Run(state, limit);
}

}  // namespace kx::models::detail
