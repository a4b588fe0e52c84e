#include "kx/models/binomial.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "kx/models/abort.h"
#include "kx/models/implied_volatility.h"

namespace kx::models {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kMinVolatility = 1e-12;
constexpr double kMinRhoRate = 1e-12;
constexpr double kVegaBump = 1.01;
constexpr double kRhoBump = 1.05;
// TreeImpliedVolatility prices on this many steps while the bracket is wider than kCoarseWidth.
constexpr std::int32_t kCoarseSteps = 20;
constexpr std::int32_t kCoarseMaxSteps = 50;
constexpr double kCoarseWidth = 0.05;

void Write(double* destination, double value) noexcept {
  if (destination != nullptr) *destination = value;
}

void KeepStep(TreeNodes& nodes, std::int32_t step, const double* call, const double* put) {
  for (std::int32_t k = 0; k <= step; ++k) {
    nodes.call[k][step] = call[k];
    nodes.put[k][step] = put[k];
  }
}

}  // namespace

std::int32_t TreeWorkspace::StrideFor(std::int32_t steps) noexcept {
  // Checkpoints take about N^2 / (2m) doubles and a block m N: the sum is least near sqrt(N / 2).
  const auto stride = static_cast<std::int32_t>(std::ceil(std::sqrt(steps / 2.0)));
  return std::max(stride, 1);
}

std::size_t TreeWorkspace::CheckpointOffset(std::int32_t index, std::int32_t stride) noexcept {
  // Checkpoint c holds step c * stride, which has c * stride + 1 nodes.
  const auto c = static_cast<std::size_t>(index);
  return c == 0 ? 0 : static_cast<std::size_t>(stride) * c * (c - 1) / 2 + c;
}

std::size_t TreeWorkspace::BytesFor(std::int32_t steps) noexcept {
  if (steps < 1) return 0;
  const auto n = static_cast<std::size_t>(steps);
  const std::int32_t stride = StrideFor(steps);
  const std::size_t checkpoints = CheckpointOffset((steps - 1) / stride + 1, stride);
  const std::size_t segment = static_cast<std::size_t>(stride) * n;
  return (4 * (n + 1) + checkpoints + segment) * sizeof(double);
}

std::size_t TreeWorkspace::AllocatedBytes() const noexcept {
  return (call_.capacity() + put_.capacity() + column_.capacity() + column_next_.capacity() +
          checkpoints_.capacity() + segment_.capacity()) *
         sizeof(double);
}

void TreeWorkspace::Reserve(std::int32_t steps) {
  if (steps <= capacity_) return;
  const auto n = static_cast<std::size_t>(steps);
  const std::int32_t stride = StrideFor(steps);
  // Release the old buffers first so that growing never holds both sizes at once.
  *this = TreeWorkspace();
  call_.resize(n + 1);
  put_.resize(n + 1);
  column_.resize(n + 1);
  column_next_.resize(n + 1);
  checkpoints_.resize(CheckpointOffset((steps - 1) / stride + 1, stride));
  segment_.resize(static_cast<std::size_t>(stride) * n);
  capacity_ = steps;
}

TreeNodes PriceTree(TreeWorkspace& workspace, double s, double strike, double r, double t,
                    double sigma, double q, std::int32_t model_type, double rf, std::int32_t steps,
                    std::int32_t flag_eur_am) {
  TreeNodes nodes;
  std::fill(&nodes.call[0][0], &nodes.call[0][0] + 9, kNaN);
  std::fill(&nodes.put[0][0], &nodes.put[0][0] + 9, kNaN);
  if (steps < 1) return nodes;
  workspace.Reserve(steps);

  const double b = CostOfCarry(model_type, r, q, rf);
  const double dt = t / steps;
  const double disc = std::exp(-(dt * r));
  const double u = std::exp(std::sqrt(dt) * sigma);
  const double d = 1.0 / u;
  const double p = (std::exp(dt * b) - d) / (u - d);
  const double p_down = 1.0 - p;
  const bool american = flag_eur_am == kAmerican;

  // Stock prices, one step at a time: column i from column i - 1 by one multiplication per node,
  // exactly as a full matrix would build them. The American rollback reads every column again in
  // reverse order, so every stride-th column is kept and the ones between are rebuilt from it.
  const std::int32_t stride = TreeWorkspace::StrideFor(workspace.capacity_);
  double* checkpoints = workspace.checkpoints_.data();
  double* current = workspace.column_.data();
  double* next = workspace.column_next_.data();
  current[0] = s;
  if (american) checkpoints[0] = s;
  for (std::int32_t i = 1; i <= steps; ++i) {
    CheckAbort();
    next[0] = d * current[0];
    for (std::int32_t k = 1; k <= i; ++k) next[k] = u * current[k - 1];
    std::swap(current, next);
    if (american && i < steps && i % stride == 0) {
      std::copy(current, current + i + 1,
                checkpoints + TreeWorkspace::CheckpointOffset(i / stride, stride));
    }
  }

  // Values at maturity, put before call.
  double* call = workspace.call_.data();
  double* put = workspace.put_.data();
  CheckAbort();
  for (std::int32_t k = 0; k <= steps; ++k) {
    const double put_exercise = strike - current[k];
    put[k] = put_exercise > 0.0 ? put_exercise : 0.0;
    const double call_exercise = current[k] - strike;
    call[k] = call_exercise > 0.0 ? call_exercise : 0.0;
  }
  if (steps <= 2) KeepStep(nodes, steps, call, put);

  // Roll back in place: node k of step i - 1 reads nodes k and k + 1 of step i, so an ascending k
  // never reads a value it has already replaced.
  double* segment = workspace.segment_.data();
  const auto segment_stride = static_cast<std::size_t>(workspace.capacity_);
  std::int32_t loaded_block = -1;
  for (std::int32_t i = steps; i >= 1; --i) {
    CheckAbort();
    const std::int32_t step = i - 1;
    if (american) {
      const std::int32_t block = step / stride;
      if (block != loaded_block) {
        // Rebuild the columns of this block from its checkpoint by the same multiplications.
        const std::int32_t first = block * stride;
        const double* start = checkpoints + TreeWorkspace::CheckpointOffset(block, stride);
        std::copy(start, start + first + 1, segment);
        for (std::int32_t j = 1; j < stride && first + j < steps; ++j) {
          const double* from = segment + (j - 1) * segment_stride;
          double* to = segment + j * segment_stride;
          to[0] = d * from[0];
          for (std::int32_t k = 1; k <= first + j; ++k) to[k] = u * from[k - 1];
        }
        loaded_block = block;
      }
      const double* stock = segment + (step - block * stride) * segment_stride;
      for (std::int32_t k = 0; k <= step; ++k) {
        const double put_cont = (p * put[k + 1] + p_down * put[k]) * disc;
        double put_exercise = strike - stock[k];
        if (!(put_exercise > 0.0)) put_exercise = 0.0;
        put[k] = put_cont > put_exercise ? put_cont : put_exercise;
        const double call_cont = (p * call[k + 1] + p_down * call[k]) * disc;
        double call_exercise = stock[k] - strike;
        if (!(call_exercise > 0.0)) call_exercise = 0.0;
        call[k] = call_cont > call_exercise ? call_cont : call_exercise;
      }
    } else {
      for (std::int32_t k = 0; k <= step; ++k) {
        put[k] = (p * put[k + 1] + p_down * put[k]) * disc;
        call[k] = (p * call[k + 1] + p_down * call[k]) * disc;
      }
    }
    if (step <= 2) KeepStep(nodes, step, call, put);
  }
  return nodes;
}

CallPut TreeDelta(double s, double u, double d, const TreeNodes& nodes) noexcept {
  const double den = s * (u - d);
  return {(nodes.call[1][1] - nodes.call[0][1]) / den, (nodes.put[1][1] - nodes.put[0][1]) / den};
}

void TreeGreeksWorker(double s, double k, double r, double t, double sigma, double q,
                      std::int32_t model_type, double rf, std::int32_t steps,
                      std::int32_t flag_eur_am, bool vega_wanted, bool rho_wanted,
                      const TreeGreeksDestinations& out) {
  const double dt = t / steps;
  const double u = std::exp(std::sqrt(dt) * sigma);
  const double d = 1.0 / u;
  const double u2 = u * u;
  const double d2 = d * d;
  TreeWorkspace workspace(steps);

  const TreeNodes nodes =
      PriceTree(workspace, s, k, r, t, sigma, q, model_type, rf, steps, flag_eur_am);
  const double call_price = nodes.call[0][0];
  const double put_price = nodes.put[0][0];
  Write(out.call_price, call_price);
  Write(out.put_price, put_price);

  const bool flat = std::fabs(sigma) < kMinVolatility;
  if (flat || std::isnan(sigma)) {
    Write(out.c_delta, kNotComputable);
    Write(out.p_delta, kNotComputable);
  } else {
    const CallPut delta = TreeDelta(s, u, d, nodes);
    Write(out.c_delta, delta.call);
    Write(out.p_delta, delta.put);
  }

  // Theta and gamma read step 2, which a one-step tree does not have.
  const bool has_step_two = steps >= 2;
  if (has_step_two) {
    Write(out.c_theta, (nodes.call[1][2] - nodes.call[0][0]) / (2.0 * dt));
    Write(out.p_theta, (nodes.put[1][2] - nodes.put[0][0]) / (2.0 * dt));
  } else {
    Write(out.c_theta, kNotComputable);
    Write(out.p_theta, kNotComputable);
  }
  if (flat || !has_step_two) {
    Write(out.gamma, kNotComputable);
  } else {
    const auto& c = nodes.call;
    Write(out.gamma,
          ((c[2][2] - c[1][2]) / ((u2 - 1.0) * s) - (c[1][2] - c[0][2]) / ((1.0 - d2) * s)) /
              (0.5 * (u2 - d2) * s));
  }

  if (!vega_wanted) {
    Write(out.vega, 0.0);
  } else if (flat) {
    Write(out.vega, kNotComputable);
  } else {
    const double sigma2 = sigma * kVegaBump;
    const TreeNodes bumped =
        PriceTree(workspace, s, k, r, t, sigma2, q, model_type, rf, steps, flag_eur_am);
    Write(out.vega, (call_price - bumped.call[0][0]) / (sigma - sigma2));
  }

  if (!rho_wanted) {
    Write(out.c_rho, 0.0);
    Write(out.p_rho, 0.0);
  } else {
    const double r1 = (r < kMinRhoRate || std::isnan(r)) ? kMinRhoRate : r;
    const double r2 = r1 * kRhoBump;
    const TreeNodes bumped =
        PriceTree(workspace, s, k, r2, t, sigma, q, model_type, rf, steps, flag_eur_am);
    Write(out.c_rho, (call_price - bumped.call[0][0]) / (r1 - r2));
    Write(out.p_rho, (put_price - bumped.put[0][0]) / (r1 - r2));
  }
}

void TreeImpliedVolatility(double s, double k, double r, double t, double q,
                           std::int32_t model_type, double rf, std::int32_t steps,
                           std::int32_t flag_eur_am, OptionSide side, double target,
                           double* destination) {
  TreeWorkspace workspace(steps);
  double low = kVolatilityLow;
  double high = kVolatilityHigh;
  const bool coarse_first = steps > kCoarseMaxSteps;
  std::int32_t n = coarse_first ? kCoarseSteps : steps;
  double width = 0.0;
  do {
    CheckAbort();
    const double mid = (low + high) * 0.5;
    const TreeNodes nodes =
        PriceTree(workspace, s, k, r, t, mid, q, model_type, rf, n, flag_eur_am);
    const double v = std::fabs(side == OptionSide::kCall ? nodes.call[0][0] : nodes.put[0][0]);
    if (v > target) {
      high = mid;
    } else {
      low = mid;
    }
    width = high - low;
    if (coarse_first && width < kCoarseWidth) n = steps;
  } while (!(width <= kVolatilityTolerance));
  Write(destination, BisectionResult(low, high));
}

void TreeSkewSearch(TreeWorkspace& workspace, double s, std::span<const double> strikes, double r,
                    double t, double q, std::int32_t model_type, double rf, std::int32_t steps,
                    std::int32_t flag_eur_am, std::span<const double> call_targets,
                    std::span<const double> put_targets, std::int32_t max_iter,
                    std::span<double> call_results, std::span<double> put_results,
                    bool puts_wanted) {
  workspace.Reserve(steps);
  for (std::size_t i = 0; i < strikes.size(); ++i) {
    const double strike = strikes[i];
    auto root = [&](double sigma) {
      return PriceTree(workspace, s, strike, r, t, sigma, q, model_type, rf, steps, flag_eur_am);
    };
    call_results[i] =
        BisectVolatility([&](double sigma) { return root(sigma).call[0][0]; }, call_targets[i],
                         max_iter, CompareMode::kAbsolute, AbortPolling::kOn);
    if (puts_wanted) {
      put_results[i] =
          BisectVolatility([&](double sigma) { return root(sigma).put[0][0]; }, put_targets[i],
                           max_iter, CompareMode::kAbsolute, AbortPolling::kOn);
    }
  }
}

}  // namespace kx::models
