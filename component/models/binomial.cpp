#include "kx/models/binomial.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <limits>
#include <mutex>
#include <optional>
#include <utility>

#include "kx/models/abort.h"
#include "kx/models/implied_volatility.h"
#include "parallel.h"
#include "tree_internal.h"
#include "tree_search.h"

namespace kx::models {
namespace {

using detail::PriceTreeSides;
using detail::TreeInputs;
using detail::TreeSides;

constexpr double kMinVolatility = 1e-12;
constexpr double kMinRhoRate = 1e-12;
constexpr double kVegaBump = 1.01;
constexpr double kRhoBump = 1.05;
// TreeImpliedVolatility prices on this many steps while the bracket is wider than kCoarseWidth.
constexpr std::int32_t kCoarseSteps = 20;
constexpr std::int32_t kCoarseMaxSteps = 50;
constexpr double kCoarseWidth = 0.05;
// A helper thread costs some tens of microseconds to start; below this many tree nodes of work
// (about a millisecond) the computation stays on one thread.
constexpr double kParallelMinNodes = 1e6;
// The implied volatility prices its pairs of trees on two threads from this many nodes a tree (a
// few hundred microseconds of work).
constexpr double kPairParallelMinNodes = 2.5e5;

void Write(double* destination, double value) noexcept {
  if (destination != nullptr) *destination = value;
}

double NodesOf(std::int32_t steps) { return 0.5 * steps * (steps + 1.0); }

std::size_t TileDoubles() {
  // kAlignSlack doubles in front of the rows, which the kernels may read.
  return detail::kAlignSlack +
         static_cast<std::size_t>(detail::kBlockSteps) * detail::kTileStockStride;
}

}  // namespace

std::int32_t TreeWorkspace::StrideFor(std::int32_t) noexcept {
  // The height of a rollback tile: its stock prices (m rows of the tile's width) stay in the
  // first-level cache. Checkpoints take about N^2 / (2m) doubles.
  return detail::kBlockSteps;
}

std::size_t TreeWorkspace::RowLength(std::int32_t steps) noexcept {
  // The vector kernels read a few doubles past a row's last node.
  return static_cast<std::size_t>(steps) + 1 + detail::kRowPadding;
}

namespace {

// A buffer of `doubles` that starts on a 64-byte boundary.
std::size_t AlignedSize(std::size_t doubles) { return doubles + detail::kAlignSlack; }

}  // namespace

std::size_t TreeWorkspace::CheckpointOffset(std::int32_t index, std::int32_t stride) noexcept {
  // Checkpoint c holds step c * stride, which has c * stride + 1 nodes.
  const auto c = static_cast<std::size_t>(index);
  return c == 0 ? 0 : static_cast<std::size_t>(stride) * c * (c - 1) / 2 + c;
}

std::size_t TreeWorkspace::BytesFor(std::int32_t steps) noexcept {
  if (steps < 1) return 0;
  const std::int32_t stride = StrideFor(steps);
  const std::size_t checkpoints = CheckpointOffset((steps - 1) / stride + 1, stride);
  return (AlignedSize(RowLength(steps)) * 5 +
          AlignedSize(checkpoints + static_cast<std::size_t>(detail::kChainGroup)) +
          AlignedSize(stride * RowLength(steps)) + AlignedSize(TileDoubles())) *
         sizeof(double);
}

std::size_t TreeWorkspace::AllocatedBytes() const noexcept {
  const Buffers& b = buffers_;
  return (b.call.capacity() + b.put.capacity() + b.column.capacity() + b.column_next.capacity() +
          b.down.capacity() + b.checkpoints.capacity() + b.segment.capacity() + b.tile.capacity()) *
         sizeof(double);
}

namespace {

// Buffers of ended workspaces, for the next ones. Fixed slots: keeping never allocates, so a
// destructor can do it.
class KeptBuffers {
 public:
  static constexpr std::size_t kMaxBytes = 16u << 20;

  // Takes the smallest kept set for at least `steps` steps.
  bool Take(std::int32_t steps, std::int32_t& capacity, TreeWorkspace::Buffers& buffers) {
    const std::lock_guard<std::mutex> lock(mutex_);
    Slot* best = nullptr;
    for (Slot& slot : slots_) {
      if (slot.capacity >= steps && (best == nullptr || slot.capacity < best->capacity)) {
        best = &slot;
      }
    }
    if (best == nullptr) return false;
    capacity = std::exchange(best->capacity, 0);
    buffers = std::move(best->buffers);
    return true;
  }

  // Keeps the set in a free slot or in place of a smaller one; else it is freed.
  void Keep(std::int32_t capacity, TreeWorkspace::Buffers&& buffers, std::size_t bytes) noexcept {
    if (bytes > kMaxBytes) return;
    TreeWorkspace::Buffers dropped;
    {
      const std::lock_guard<std::mutex> lock(mutex_);
      if (closed_) return;
      Slot* target = &slots_[0];
      for (Slot& slot : slots_) {
        if (slot.capacity < target->capacity) target = &slot;
      }
      if (target->capacity >= capacity) return;
      dropped = std::move(target->buffers);
      target->buffers = std::move(buffers);
      target->capacity = capacity;
    }
  }

  void Release() noexcept {
    std::array<TreeWorkspace::Buffers, kSlots> dropped;
    const std::lock_guard<std::mutex> lock(mutex_);
    for (std::size_t i = 0; i < kSlots; ++i) {
      dropped[i] = std::move(slots_[i].buffers);
      slots_[i].capacity = 0;
    }
  }

  // Workspaces that end after this (a thread still running at exit) free their own.
  ~KeptBuffers() {
    Release();
    const std::lock_guard<std::mutex> lock(mutex_);
    closed_ = true;
  }

 private:
  static constexpr std::size_t kSlots = 2;
  struct Slot {
    std::int32_t capacity = 0;
    TreeWorkspace::Buffers buffers;
  };
  std::mutex mutex_;
  bool closed_ = false;
  std::array<Slot, kSlots> slots_;
};

KeptBuffers g_kept;

}  // namespace

TreeWorkspace::~TreeWorkspace() {
  if (capacity_ > 0) {
    const std::size_t bytes = AllocatedBytes();
    g_kept.Keep(capacity_, std::move(buffers_), bytes);
  }
}

TreeWorkspace::TreeWorkspace(TreeWorkspace&& other) noexcept
    : capacity_(std::exchange(other.capacity_, 0)), buffers_(std::move(other.buffers_)) {}

TreeWorkspace& TreeWorkspace::operator=(TreeWorkspace&& other) noexcept {
  if (this != &other) {
    buffers_ = std::move(other.buffers_);
    capacity_ = std::exchange(other.capacity_, 0);
  }
  return *this;
}

void TreeWorkspace::ReleaseKept() noexcept { g_kept.Release(); }

void TreeWorkspace::Reserve(std::int32_t steps) {
  if (steps <= capacity_) return;
  // Release the old buffers first so that growing never holds both sizes at once.
  *this = TreeWorkspace();
  if (g_kept.Take(steps, capacity_, buffers_)) return;
  const std::size_t row = RowLength(steps);
  const std::int32_t stride = StrideFor(steps);
  Buffers& b = buffers_;
  b.call.resize(AlignedSize(row));
  b.put.resize(AlignedSize(row));
  b.column.resize(AlignedSize(row));
  b.column_next.resize(AlignedSize(row));
  b.down.resize(AlignedSize(row));
  // Tiles read a few checkpoint values past the last one.
  b.checkpoints.resize(
      AlignedSize(CheckpointOffset((steps - 1) / stride + 1, stride) + detail::kChainGroup));
  b.segment.resize(AlignedSize(static_cast<std::size_t>(stride) * row));
  b.tile.resize(AlignedSize(TileDoubles()));
  capacity_ = steps;
}

TreeNodes PriceTree(TreeWorkspace& workspace, double s, double k, double r, double t, double sigma,
                    double q, std::int32_t model_type, double rf, std::int32_t steps,
                    std::int32_t flag_eur_am) {
  return PriceTreeSides(workspace, {s, k, r, t, sigma, q, model_type, rf, steps, flag_eur_am},
                        TreeSides::kBoth, nullptr);
}

TreeNodes PriceTreePlain(TreeWorkspace& workspace, double s, double k, double r, double t,
                         double sigma, double q, std::int32_t model_type, double rf,
                         std::int32_t steps, std::int32_t flag_eur_am) {
  return detail::PriceTreePlainPolled(
      workspace, {s, k, r, t, sigma, q, model_type, rf, steps, flag_eur_am}, nullptr);
}

CallPut TreeDelta(double s, double u, double d, const TreeNodes& nodes) noexcept {
  const double den = s * (u - d);
  return {(nodes.call[1][1] - nodes.call[0][1]) / den, (nodes.put[1][1] - nodes.put[0][1]) / den};
}

void TreeGreeksWorker(double s, double k, double r, double t, double sigma, double q,
                      std::int32_t model_type, double rf, std::int32_t steps,
                      std::int32_t flag_eur_am, bool vega_wanted, bool rho_wanted,
                      const TreeGreeksDestinations& out, Parallelism parallelism) {
  const double dt = t / steps;
  const double u = std::exp(std::sqrt(dt) * sigma);
  const double d = 1.0 / u;
  const double u2 = u * u;
  const double d2 = d * d;
  const TreeInputs base{s, k, r, t, sigma, q, model_type, rf, steps, flag_eur_am};
  const bool flat = std::fabs(sigma) < kMinVolatility;
  const double r1 = (r < kMinRhoRate || std::isnan(r)) ? kMinRhoRate : r;
  const double r2 = r1 * kRhoBump;
  TreeInputs rho_inputs = base;
  rho_inputs.r = r2;

  TreeWorkspace workspace(steps);
  std::atomic<bool> stop{false};
  double call_price = 0.0;
  double put_price = 0.0;
  TreeNodes rho_nodes{};

  // The tree, then the vega tree (its call only), writing in the documented order.
  auto tree_and_vega = [&] {
    const TreeNodes nodes = PriceTreeSides(workspace, base, TreeSides::kBoth, &stop);
    call_price = nodes.call[0][0];
    put_price = nodes.put[0][0];
    Write(out.call_price, call_price);
    Write(out.put_price, put_price);

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
      TreeInputs bumped = base;
      bumped.sigma = sigma * kVegaBump;
      const TreeNodes vega_nodes = PriceTreeSides(workspace, bumped, TreeSides::kCall, &stop);
      Write(out.vega, (call_price - vega_nodes.call[0][0]) / (sigma - bumped.sigma));
    }
  };

  if (rho_wanted) {
    const bool two = parallelism == Parallelism::kTwoThreads && NodesOf(steps) >= kParallelMinNodes;
    if (two) {
      detail::RunOnTwoThreads(parallelism, stop, tree_and_vega, [&] {
        TreeWorkspace own(steps);
        rho_nodes = PriceTreeSides(own, rho_inputs, TreeSides::kBoth, &stop);
      });
    } else {
      tree_and_vega();
      rho_nodes = PriceTreeSides(workspace, rho_inputs, TreeSides::kBoth, &stop);
    }
    Write(out.c_rho, (call_price - rho_nodes.call[0][0]) / (r1 - r2));
    Write(out.p_rho, (put_price - rho_nodes.put[0][0]) / (r1 - r2));
  } else {
    tree_and_vega();
    Write(out.c_rho, 0.0);
    Write(out.p_rho, 0.0);
  }
}

namespace {

// The bisection of TreeImpliedVolatility, pricing every midpoint plainly or, when `shortcut`, only
// the few that decide the rest after the coarse phase.
void SearchTreeVolatility(const TreeInputs& inputs, OptionSide side, double target,
                          double* destination, bool shortcut, Parallelism parallelism) {
  const std::int32_t steps = inputs.steps;
  TreeWorkspace workspace(steps);
  const TreeSides sides = side == OptionSide::kCall ? TreeSides::kCall : TreeSides::kPut;
  const bool coarse_first = steps > kCoarseMaxSteps;
  TreeInputs in = inputs;
  in.steps = coarse_first ? kCoarseSteps : steps;
  detail::BisectionState state{kVolatilityLow, kVolatilityHigh, 0};
  auto halve = [&] {
    CheckAbort();
    const double mid = (state.low + state.high) * 0.5;
    in.sigma = mid;
    const TreeNodes nodes = PriceTreeSides(workspace, in, sides, nullptr);
    const double v = std::fabs(side == OptionSide::kCall ? nodes.call[0][0] : nodes.put[0][0]);
    if (v > target) {
      state.high = mid;
    } else {
      state.low = mid;
    }
    ++state.count;
  };
  // The coarse phase as it is: its pricings cost next to nothing.
  if (coarse_first) {
    do {
      halve();
    } while (!(state.high - state.low < kCoarseWidth));
    in.steps = steps;
  }
  std::optional<detail::BisectionState> fast;
  if (shortcut) {
    std::optional<TreeWorkspace> helper;
    if (parallelism == Parallelism::kTwoThreads && NodesOf(steps) >= kPairParallelMinNodes) {
      helper.emplace(steps);
    }
    fast = detail::FinishTreeBisection(workspace, helper ? &*helper : nullptr, in, sides, target,
                                       state, std::numeric_limits<std::int32_t>::max(), nullptr);
  }
  if (fast) {
    state = *fast;
  } else {
    do {
      halve();
    } while (!(state.high - state.low <= kVolatilityTolerance));
  }
  Write(destination, BisectionResult(state.low, state.high));
}

}  // namespace

void TreeImpliedVolatility(double s, double k, double r, double t, double q,
                           std::int32_t model_type, double rf, std::int32_t steps,
                           std::int32_t flag_eur_am, OptionSide side, double target,
                           double* destination, Parallelism parallelism) {
  SearchTreeVolatility({s, k, r, t, 0.0, q, model_type, rf, steps, flag_eur_am}, side, target,
                       destination, true, parallelism);
}

void TreeImpliedVolatilityPlain(double s, double k, double r, double t, double q,
                                std::int32_t model_type, double rf, std::int32_t steps,
                                std::int32_t flag_eur_am, OptionSide side, double target,
                                double* destination) {
  SearchTreeVolatility({s, k, r, t, 0.0, q, model_type, rf, steps, flag_eur_am}, side, target,
                       destination, false, Parallelism::kOneThread);
}

void TreeSkewSearch(TreeWorkspace& workspace, double s, std::span<const double> strikes, double r,
                    double t, double q, std::int32_t model_type, double rf, std::int32_t steps,
                    std::int32_t flag_eur_am, std::span<const double> call_targets,
                    std::span<const double> put_targets, std::int32_t max_iter,
                    std::span<double> call_results, std::span<double> put_results, bool puts_wanted,
                    Parallelism parallelism) {
  workspace.Reserve(steps);
  // Task 2i is the call search of strike i and 2i + 1 its put search (only i with no puts).
  const std::size_t per_strike = puts_wanted ? 2 : 1;
  const std::size_t tasks = strikes.size() * per_strike;
  std::atomic<std::size_t> next{0};
  std::atomic<bool> stop{false};
  auto search = [&](TreeWorkspace& w) {
    for (;;) {
      const std::size_t task = next.fetch_add(1, std::memory_order_relaxed);
      if (task >= tasks) return;
      if (stop.load(std::memory_order_relaxed)) throw detail::StopRequested();
      const std::size_t i = task / per_strike;
      const bool put = task % per_strike == 1;
      TreeInputs in{s, strikes[i], r, t, 0.0, q, model_type, rf, steps, flag_eur_am};
      auto root = [&](double sigma) {
        in.sigma = sigma;
        const TreeNodes nodes =
            PriceTreeSides(w, in, put ? TreeSides::kPut : TreeSides::kCall, &stop);
        return put ? nodes.put[0][0] : nodes.call[0][0];
      };
      const double target = put ? put_targets[i] : call_targets[i];
      const std::optional<detail::BisectionState> fast = detail::FinishTreeBisection(
          w, nullptr, in, put ? TreeSides::kPut : TreeSides::kCall, target,
          {kVolatilityLow, kVolatilityHigh, 0}, EffectiveMaxIter(max_iter), &stop);
      const double result =
          fast ? BisectionResult(fast->low, fast->high)
               : BisectVolatility(root, target, max_iter, CompareMode::kAbsolute,
                                  AbortPolling::kOn);
      (put ? put_results : call_results)[i] = result;
    }
  };
  // Every search makes up to 27 pricings (more only with a larger limit, which the width ends).
  const double work = static_cast<double>(tasks) * 27.0 * NodesOf(steps);
  if (parallelism == Parallelism::kTwoThreads && tasks >= 2 && work >= kParallelMinNodes) {
    detail::RunOnTwoThreads(
        parallelism, stop, [&] { search(workspace); },
        [&] {
          if (next.load(std::memory_order_relaxed) >= tasks) return;
          TreeWorkspace own(steps);
          search(own);
        });
  } else {
    search(workspace);
  }
}

}  // namespace kx::models
