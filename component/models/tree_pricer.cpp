// The tree pricer: the plain node-by-node algorithm, and the row-vectorised one that gives the same
// doubles.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>
#include <utility>

#include "parallel.h"
#include "tree_internal.h"

namespace kx::models::detail {
namespace {

using Access = TreeWorkspaceAccess;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

struct TreeParameters {
  double dt = 0.0;
  double disc = 0.0;
  double u = 0.0;
  double d = 0.0;
  double p = 0.0;
  double p_down = 0.0;
};

TreeParameters ParametersOf(const TreeInputs& in) {
  const double b = CostOfCarry(in.model_type, in.r, in.q, in.rf);
  TreeParameters tp;
  tp.dt = in.t / in.steps;
  tp.disc = std::exp(-(tp.dt * in.r));
  tp.u = std::exp(std::sqrt(tp.dt) * in.sigma);
  tp.d = 1.0 / tp.u;
  tp.p = (std::exp(tp.dt * b) - tp.d) / (tp.u - tp.d);
  tp.p_down = 1.0 - tp.p;
  return tp;
}

TreeNodes NaNNodes() {
  TreeNodes nodes;
  std::fill(&nodes.call[0][0], &nodes.call[0][0] + 9, kNaN);
  std::fill(&nodes.put[0][0], &nodes.put[0][0] + 9, kNaN);
  return nodes;
}

void KeepStep(TreeNodes& nodes, std::int32_t step, const double* call, const double* put) {
  for (std::int32_t k = 0; k <= step; ++k) {
    if (call != nullptr) nodes.call[k][step] = call[k];
    if (put != nullptr) nodes.put[k][step] = put[k];
  }
}

using StockRowFunction = void (*)(const double* from, double* to, std::int32_t count, double u,
                                  double d);

void PlainStockRow(const double* from, double* to, std::int32_t count, double u, double d) {
  to[0] = d * from[0];
  for (std::int32_t k = 1; k <= count; ++k) to[k] = u * from[k - 1];
}

// Stock prices step by step, exactly as a full matrix would build them: step i from step i - 1 by
// one multiplication per node. The American rollback reads every step again in reverse order, so
// every stride-th step is kept and the ones between are rebuilt from it by the same
// multiplications.
class StockSteps {
 public:
  StockSteps(TreeWorkspace& w, std::int32_t steps, double u, double d, StockRowFunction row,
             bool keep)
      : steps_(steps),
        stride_(Access::Stride(w)),
        row_length_(Access::RowLength(w)),
        u_(u),
        d_(d),
        row_(row),
        keep_(keep),
        checkpoints_(Access::Checkpoints(w)),
        segment_(Access::Segment(w)),
        current_(Access::Column(w)),
        next_(Access::ColumnNext(w)) {}

  // Steps 1 to N from S; returns step N.
  const double* Forward(double s, const std::atomic<bool>* stop) {
    current_[0] = s;
    if (keep_) checkpoints_[0] = s;
    for (std::int32_t i = 1; i <= steps_; ++i) {
      PollAbort(stop);
      row_(current_, next_, i, u_, d_);
      std::swap(current_, next_);
      if (keep_ && i < steps_ && i % stride_ == 0) {
        std::memcpy(checkpoints_ + Access::CheckpointOffset(i / stride_, stride_), current_,
                    sizeof(double) * (static_cast<std::size_t>(i) + 1));
      }
    }
    return current_;
  }

  // Step `step` (below N) of a kept store; steps are asked for in descending order.
  const double* Step(std::int32_t step) {
    const std::int32_t block = step / stride_;
    const std::int32_t first = block * stride_;
    if (block != loaded_block_) {
      std::memcpy(segment_, checkpoints_ + Access::CheckpointOffset(block, stride_),
                  sizeof(double) * (static_cast<std::size_t>(first) + 1));
      for (std::int32_t j = 1; j < stride_ && first + j < steps_; ++j) {
        row_(segment_ + (j - 1) * row_length_, segment_ + j * row_length_, first + j, u_, d_);
      }
      loaded_block_ = block;
    }
    return segment_ + (step - first) * row_length_;
  }

 private:
  std::int32_t steps_;
  std::int32_t stride_;
  std::size_t row_length_;
  double u_;
  double d_;
  StockRowFunction row_;
  bool keep_;
  double* checkpoints_;
  double* segment_;
  double* current_;
  double* next_;
  std::int32_t loaded_block_ = -1;
};

// Values at maturity, put before call.
void MaturityValues(const double* stock, std::int32_t steps, double strike, double* call,
                    double* put) {
  for (std::int32_t k = 0; k <= steps; ++k) {
    if (put != nullptr) {
      const double put_exercise = strike - stock[k];
      put[k] = put_exercise > 0.0 ? put_exercise : 0.0;
    }
    if (call != nullptr) {
      const double call_exercise = stock[k] - strike;
      call[k] = call_exercise > 0.0 ? call_exercise : 0.0;
    }
  }
}

TreeNodes PricePlain(TreeWorkspace& w, const TreeInputs& in, const TreeParameters& tp,
                     const std::atomic<bool>* stop) {
  TreeNodes nodes = NaNNodes();
  const std::int32_t steps = in.steps;
  const bool american = in.flag_eur_am == kAmerican;
  const double strike = in.strike;
  const double p = tp.p;
  const double p_down = tp.p_down;
  const double disc = tp.disc;
  StockSteps stock(w, steps, tp.u, tp.d, &PlainStockRow, american);
  const double* terminal = stock.Forward(in.s, stop);

  double* call = Access::Call(w);
  double* put = Access::Put(w);
  PollAbort(stop);
  MaturityValues(terminal, steps, strike, call, put);
  if (steps <= 2) KeepStep(nodes, steps, call, put);

  // Roll back in place: node k of step i - 1 reads nodes k and k + 1 of step i, so an ascending k
  // never reads a value it has already replaced.
  for (std::int32_t i = steps; i >= 1; --i) {
    PollAbort(stop);
    const std::int32_t step = i - 1;
    if (american) {
      const double* row = stock.Step(step);
      for (std::int32_t k = 0; k <= step; ++k) {
        const double put_cont = (p * put[k + 1] + p_down * put[k]) * disc;
        double put_exercise = strike - row[k];
        if (!(put_exercise > 0.0)) put_exercise = 0.0;
        put[k] = put_cont > put_exercise ? put_cont : put_exercise;
        const double call_cont = (p * call[k + 1] + p_down * call[k]) * disc;
        double call_exercise = row[k] - strike;
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

// Where the vectorised pricer applies. The weights and the discount factor are positive and
// normal, so every value stays >= +0 and never NaN, a node with two +0 children is +0, and
// children of at least RollParams::small give normal arithmetic. u >= d > 0 and S >= 0 make every
// step's stock prices non-decreasing in k: node k + 1 of step i is g^k(u x) and node k is
// g^k(d x) for x = node 0 of step i - k - 1 and the rounded, monotone g(y) = u y; so the nodes
// with a positive exercise value form a prefix (put) or a suffix (call) of the step.
bool FastPathApplies(const TreeInputs& in, const TreeParameters& tp) {
  constexpr double kLow = 0x1p-60;
  constexpr double kHigh = 0x1p60;
  constexpr double kMax = std::numeric_limits<double>::max();
  return tp.p >= kLow && tp.p_down >= kLow && tp.disc >= kLow && tp.disc <= kHigh && tp.d > 0.0 &&
         tp.u >= tp.d && tp.u <= kMax && in.s >= 0.0 && in.s <= kMax &&
         std::fabs(in.strike) <= kMax;
}

double SmallThreshold(const TreeParameters& tp) {
  // p V, p_down V and (their sum) disc stay normal for children V >= this (a factor 4 to spare).
  return 0x1p-1022 / (std::min(tp.p, tp.p_down) * std::min(tp.disc, 1.0)) * 4.0;
}

std::int32_t FirstAbove(const double* row, std::int32_t count, double strike) {
  return static_cast<std::int32_t>(std::upper_bound(row, row + count, strike) - row);
}

std::int32_t FirstNotBelow(const double* row, std::int32_t count, double strike) {
  return static_cast<std::int32_t>(std::lower_bound(row, row + count, strike) - row);
}

// Fills the tile's stock prices for the steps first .. top - 1 of the window [left, right) of step
// top: column col of row t' holds node left - (top - first) + t' + col of step first + t', which
// is u^t' times node left - (top - first) + col of step first, or, left of node 0 of step first,
// u^k times node 0 (down) of a later step.
void FillTileStock(const TreeKernels& kernels, const double* checkpoint, const double* down,
                   std::int32_t first, std::int32_t top, std::int32_t left, std::int32_t right,
                   double u, double* tile) {
  const std::int32_t h = top - first;
  const std::int32_t chain_from = left - h;  // the chain of column 0
  const std::int32_t lo = std::max(chain_from, 0);
  const std::int32_t hi = std::min(right - h, first + 1);
  if (lo < hi) {
    kernels.stock_chains(checkpoint + lo, hi - lo, h, u, tile + (lo - chain_from),
                         kTileStockStride);
  }
  for (std::int32_t j = chain_from; j < std::min(0, right - h); ++j) {
    // Node k = j + t' of step first + t' for t' >= -j: u^k times node 0 of step first - j.
    double x = down[first - j];
    for (std::int32_t t = -j; t < h; ++t) {
      tile[t * kTileStockStride + (j - chain_from)] = x;
      x = u * x;
    }
  }
}

// The row-vectorised pricing, in parts that the one-thread and the two-thread rollbacks share.
class FastTree {
 public:
  FastTree(const TreeKernels& kernels, TreeWorkspace& w, const TreeInputs& in,
           const TreeParameters& tp, TreeSides sides)
      : kernels_(kernels),
        in_(in),
        tp_(tp),
        m_(Access::Stride(w)),
        american_(in.flag_eur_am == kAmerican),
        down_(Access::Down(w)),
        checkpoints_(Access::Checkpoints(w)),
        call_(sides == TreeSides::kPut ? nullptr : Access::Call(w)),
        put_(sides == TreeSides::kCall ? nullptr : Access::Put(w)),
        tile_(Access::Tile(w)),
        rp_{tp.p, tp.p_down, tp.disc, in.strike, SmallThreshold(tp)},
        nodes_(NaNNodes()) {}

  // The stock prices the rollback reads and the values at maturity.
  void Forward(TreeWorkspace& w, const std::atomic<bool>* stop) {
    const std::int32_t steps = in_.steps;
    const std::int32_t m = m_;
    const double u = tp_.u;
    // Node 0 of every step, then every m-th step from the one m steps before: node k of step
    // R + m is u^m times node k - m of step R (both are u^k times node 0 of step R + m - k), node
    // k < m is u^k times node 0 of step R + m - k. The American rollback keeps them all, the
    // European one needs only the last.
    double* down = down_;
    down[0] = in_.s;
    for (std::int32_t j = 1; j <= steps; ++j) down[j] = tp_.d * down[j - 1];
    const std::int32_t last_kept = (steps - 1) / m * m;
    double* current = Access::Column(w);
    double* next = Access::ColumnNext(w);
    auto kept_step = [&](std::int32_t index) {
      return american_ ? checkpoints_ + Access::CheckpointOffset(index, m)
                       : (index % 2 == 0 ? current : next);
    };
    kept_step(0)[0] = in_.s;
    for (std::int32_t index = 1; index * m <= last_kept; ++index) {
      PollAbort(stop);
      const std::int32_t row = index * m;
      double* to = kept_step(index);
      for (std::int32_t k = 0; k < m; ++k) {
        double x = down[row - k];
        for (std::int32_t j = 0; j < k; ++j) x = u * x;
        to[k] = x;
      }
      kernels_.stock_power(kept_step(index - 1), row - m + 1, m, u, to + m);
    }
    // The steps after the last kept one, step by step.
    const double* last = kept_step(last_kept / m);
    double* from = last == current ? next : current;
    double* into = last == current ? current : next;
    std::memcpy(from, last, sizeof(double) * (static_cast<std::size_t>(last_kept) + 1));
    for (std::int32_t i = last_kept + 1; i <= steps; ++i) {
      kernels_.stock_row(from, into, i, u, tp_.d);
      std::swap(from, into);
    }
    const double* terminal = from;
    PollAbort(stop);
    MaturityValues(terminal, steps, in_.strike, call_, put_);
    if (steps <= 2) KeepStep(nodes_, steps, call_, put_);
    // The call is 0 exactly at the nodes with stock <= K, a prefix of the step; the put at those
    // with stock >= K, a suffix.
    call_zeros_ = FirstAbove(terminal, steps + 1, in_.strike);
    put_zeros_from_ = FirstNotBelow(terminal, steps + 1, in_.strike);
  }

  // Rolls the steps top - 1 down to lowest of `block` over the nodes from `offset` on (a fixed
  // edge: node `offset` of every step is computed) up to the window's end `right` at step top,
  // which slides one node left per step. The values live in call and put (indexed by node) and
  // the tile's stock prices in tile, both the calling thread's own.
  void RollBlock(std::int32_t block, std::int32_t offset, std::int32_t right, double* call,
                 double* put, double* tile, const std::atomic<bool>* stop) const {
    const std::int32_t first = block * m_;
    const std::int32_t top = Top(block);
    const std::int32_t lowest = Lowest(block);
    const double* checkpoint = checkpoints_ + Access::CheckpointOffset(block, m_);
    for (std::int32_t left = offset; left < right; left += kTileWidth) {
      PollAbort(stop);
      const std::int32_t end = std::min(left + kTileWidth, right);
      if (american_) FillTileStock(kernels_, checkpoint, down_, first, top, left, end, tp_.u, tile);
      // The job sees the nodes from `offset` on as its own row: its node 0 is node `offset`.
      TileJob job;
      job.call = call != nullptr ? call + offset : nullptr;
      job.put = put != nullptr ? put + offset : nullptr;
      job.stock = tile;
      job.stock_stride = kTileStockStride;
      job.first = first;
      job.top = top;
      job.stop = lowest;
      job.left = left - offset;
      job.right = end - offset;
      job.call_zeros = call_zeros_ - offset;
      job.put_zeros_from = put_zeros_from_ - offset;
      job.american = american_;
      job.rp = rp_;
      kernels_.roll_tile(job);
    }
  }

  // The zeros of step lowest after `block`, exactly: nodes below call_zeros - (top - lowest) and
  // from put_zeros_from on were left +0. `call_at` and `put_at` read node k of that step.
  template <typename CallAt, typename PutAt>
  void UpdateZeros(std::int32_t block, CallAt&& call_at, PutAt&& put_at) {
    const std::int32_t lowest = Lowest(block);
    if (call_ != nullptr) {
      call_zeros_ = std::max(call_zeros_ - (Top(block) - lowest), 0);
      while (call_zeros_ <= lowest && call_at(call_zeros_) == 0.0) ++call_zeros_;
    }
    if (put_ != nullptr) {
      put_zeros_from_ = std::min(put_zeros_from_, lowest + 1);
      while (put_zeros_from_ > 0 && put_at(put_zeros_from_ - 1) == 0.0) --put_zeros_from_;
    }
  }

  // Steps 2, 1, 0 (those below N): their stock prices from S, every node rolled back. Column 0 of
  // a row is the window's node -1.
  TreeNodes KeptSteps(const std::atomic<bool>* stop) {
    double small_rows[kKeptSteps][1 + kKeptSteps + kRowPadding] = {};
    small_rows[0][1] = in_.s;
    for (std::int32_t r = 1; r < kKeptSteps; ++r) {
      PlainStockRow(small_rows[r - 1] + 1, small_rows[r] + 1, r, tp_.u, tp_.d);
    }
    for (std::int32_t r = std::min(in_.steps, kKeptSteps) - 1; r >= 0; --r) {
      PollAbort(stop);
      TileJob job;
      job.call = call_;
      job.put = put_;
      job.stock = small_rows[r];
      job.first = r;
      job.top = r + 1;
      job.stop = r;
      job.left = 0;
      job.right = r + 2;
      job.call_zeros = 0;
      job.put_zeros_from = r + 2;
      job.american = american_;
      job.rp = rp_;
      kernels_.roll_tile(job);
      KeepStep(nodes_, r, call_, put_);
    }
    return nodes_;
  }

  // Steps N - 1 down to 3 go in blocks (the last three one by one, to keep their nodes); a block
  // with nothing to roll is skipped.
  [[nodiscard]] std::int32_t LastBlock() const { return (in_.steps - 1) / m_; }
  [[nodiscard]] bool Rolls(std::int32_t block) const { return Top(block) - 1 >= Lowest(block); }
  [[nodiscard]] std::int32_t Top(std::int32_t block) const {
    return std::min(block * m_ + m_, in_.steps);
  }
  [[nodiscard]] std::int32_t Lowest(std::int32_t block) const {
    return std::max(block * m_, kKeptSteps);
  }
  [[nodiscard]] double* Call() const { return call_; }
  [[nodiscard]] double* Put() const { return put_; }
  [[nodiscard]] double* Tile() const { return tile_; }
  // Where the priced sides' nodes that are not +0 lie at step `top`: [first, end).
  [[nodiscard]] std::int32_t LiveFirst() const { return put_ != nullptr ? 0 : call_zeros_; }
  [[nodiscard]] std::int32_t LiveEnd(std::int32_t top) const {
    return call_ != nullptr ? top + 1 : std::min(put_zeros_from_, top + 1);
  }

  static constexpr std::int32_t kKeptSteps = 3;

 private:
  const TreeKernels& kernels_;
  TreeInputs in_;
  TreeParameters tp_;
  std::int32_t m_;
  bool american_;
  double* down_;
  double* checkpoints_;
  double* call_;
  double* put_;
  double* tile_;
  RollParams rp_;
  TreeNodes nodes_;
  std::int32_t call_zeros_ = 0;
  std::int32_t put_zeros_from_ = 0;
};

TreeNodes PriceFast(const TreeKernels& kernels, TreeWorkspace& w, const TreeInputs& in,
                    const TreeParameters& tp, TreeSides sides, const std::atomic<bool>* stop) {
  FastTree tree(kernels, w, in, tp, sides);
  tree.Forward(w, stop);
  double* call = tree.Call();
  double* put = tree.Put();
  for (std::int32_t block = tree.LastBlock(); block >= 0; --block) {
    if (!tree.Rolls(block)) continue;
    tree.RollBlock(block, 0, tree.Top(block) + 1, call, put, tree.Tile(), stop);
    tree.UpdateZeros(
        block, [&](std::int32_t k) { return call[k]; }, [&](std::int32_t k) { return put[k]; });
  }
  return tree.KeptSteps(stop);
}


// Below this many nodes still to roll in a step, one thread rolls a block alone: the hand-over
// between the threads costs more than the half it saves.
constexpr std::int32_t kSplitMinNodes = 512;
// How long the calling thread waits for its helper to start before it rolls the tree alone.
constexpr auto kHelperStartWait = std::chrono::milliseconds(2);

// Polls of a flag before a thread waiting on the other sleeps: a block takes microseconds when
// both threads run, and a sleeping thread no longer takes the processor from one the machine's
// other programs have preempted.
constexpr int kSplitSpins = 4000;

// Waits until `ready()`, polling `stop`: spins, then sleeps until `flag` changes (every change is
// notified, failures included).
template <typename Ready>
void AwaitSplit(const std::atomic<std::int32_t>& flag, Ready&& ready,
                const std::atomic<bool>* stop) {
  for (int spins = 0; !ready(); ++spins) {
    PollAbort(stop);
    if (spins >= kSplitSpins) {
      const std::int32_t seen = flag.load(std::memory_order_acquire);
      if (!ready()) flag.wait(seen, std::memory_order_acquire);
    }
  }
}

// One tree on two threads. Each block of steps is split at a node L: the caller rolls the nodes
// left of it (its window sliding left as always, from the nodes up to L + the block's height), the
// helper those from L on (a fixed left edge: they need no node left of L), each in its own
// buffers; the node values are the one-thread rollback's, as every node is computed by the same
// arithmetic from the same children. Between blocks, while the helper waits, the caller moves the
// nodes each needs for the next split and finds the zeros across both buffers.
TreeNodes PriceFastOnTwo(const TreeKernels& kernels, TreeWorkspace& w, TreeWorkspace& helper,
                         const TreeInputs& in, const TreeParameters& tp, TreeSides sides,
                         const std::atomic<bool>* stop) {
  FastTree tree(kernels, w, in, tp, sides);
  double* call = tree.Call();
  double* put = tree.Put();
  double* helper_call = call != nullptr ? Access::Call(helper) : nullptr;
  double* helper_put = put != nullptr ? Access::Put(helper) : nullptr;
  // 0: open; 1: the helper works; 2: the caller works alone.
  std::atomic<int> claim{0};
  std::atomic<std::int32_t> handed{-1};  // the block the helper is to roll; kNoMore to end
  std::atomic<std::int32_t> rolled{-1};  // the last block the helper has rolled
  constexpr std::int32_t kNoMore = -2;
  constexpr std::int32_t kFailed = -3;  // either thread's failure, to wake the other
  auto signal = [](std::atomic<std::int32_t>& flag, std::int32_t value) {
    flag.store(value, std::memory_order_release);
    flag.notify_one();
  };
  std::int32_t split = 0;  // written before `handed`
  std::atomic<bool> pair_stop{false};
  TreeNodes nodes;
  bool completed = false;

  auto move = [&](double* to_call, double* to_put, const double* from_call,
                  const double* from_put, std::int32_t begin, std::int32_t end) {
    if (begin >= end) return;
    const std::size_t bytes = sizeof(double) * static_cast<std::size_t>(end - begin);
    if (call != nullptr) std::memcpy(to_call + begin, from_call + begin, bytes);
    if (put != nullptr) std::memcpy(to_put + begin, from_put + begin, bytes);
  };

  // A thread that fails, or ends early, stops the other, which may be asleep in AwaitSplit.
  auto stop_other = [&](std::atomic<std::int32_t>& other_waits_on) {
    pair_stop.store(true);
    signal(other_waits_on, kFailed);
  };
  auto roll = [&] {
    tree.Forward(w, &pair_stop);
    const auto until = std::chrono::steady_clock::now() + kHelperStartWait;
    while (claim.load() == 0 && std::chrono::steady_clock::now() < until) {
      PollAbort(&pair_stop);
      std::this_thread::yield();
    }
    int open = 0;
    bool two = !claim.compare_exchange_strong(open, 2) && open == 1;
    std::int32_t owned_from = in.steps + 1;  // the helper holds the nodes from here on
    for (std::int32_t block = tree.LastBlock(); block >= 0; --block) {
      if (stop != nullptr && stop->load(std::memory_order_relaxed)) {
        stop_other(handed);
        return;
      }
      if (!tree.Rolls(block)) continue;
      const std::int32_t top = tree.Top(block);
      const std::int32_t height = top - tree.Lowest(block);
      std::int32_t next = top + 1;
      if (two) {
        const std::int32_t live_first = tree.LiveFirst();
        const std::int32_t live_end = tree.LiveEnd(top);
        if (live_end - live_first >= kSplitMinNodes) next = live_first + (live_end - live_first) / 2;
      }
      const std::int32_t window = std::min(next + height, top + 1);
      move(call, put, helper_call, helper_put, owned_from, std::min(window, top + 1));
      move(helper_call, helper_put, call, put, next, std::min(owned_from, top + 1));
      owned_from = next;
      if (next > top) {
        if (two) signal(handed, kNoMore);
        two = false;
        tree.RollBlock(block, 0, top + 1, call, put, tree.Tile(), &pair_stop);
        tree.UpdateZeros(
            block, [&](std::int32_t k) { return call[k]; }, [&](std::int32_t k) { return put[k]; });
        continue;
      }
      split = next;
      signal(handed, block);
      tree.RollBlock(block, 0, window, call, put, tree.Tile(), &pair_stop);
      AwaitSplit(
          rolled, [&] { return rolled.load(std::memory_order_acquire) == block; }, &pair_stop);
      tree.UpdateZeros(
          block, [&](std::int32_t k) { return k < next ? call[k] : helper_call[k]; },
          [&](std::int32_t k) { return k < next ? put[k] : helper_put[k]; });
    }
    if (two) {
      // The helper's nodes of step 3, for the last steps.
      move(call, put, helper_call, helper_put, owned_from, FastTree::kKeptSteps + 1);
      signal(handed, kNoMore);
    }
    nodes = tree.KeptSteps(&pair_stop);
    completed = true;
  };
  auto help = [&] {
    int open = 0;
    if (!claim.compare_exchange_strong(open, 1)) return;
    for (std::int32_t seen = -1;;) {
      std::int32_t block = seen;
      AwaitSplit(
          handed, [&] { return (block = handed.load(std::memory_order_acquire)) != seen; },
          &pair_stop);
      if (block == kNoMore) return;
      if (block < 0) throw StopRequested();  // the caller failed or ended early
      tree.RollBlock(block, split, tree.Top(block) + 1, helper_call, helper_put,
                     Access::Tile(helper), &pair_stop);
      signal(rolled, block);
      seen = block;
    }
  };
  auto stopping_other = [&](auto& body, std::atomic<std::int32_t>& other_waits_on) {
    return [&] {
      try {
        body();
      } catch (...) {
        stop_other(other_waits_on);
        throw;
      }
    };
  };
  RunOnTwoThreads(Parallelism::kTwoThreads, pair_stop, stopping_other(roll, handed),
                  stopping_other(help, rolled));
  if (!completed) throw StopRequested();  // the outer stop: the caller returned early
  return nodes;
}

}  // namespace

TreeNodes PriceTreeSides(TreeWorkspace& workspace, const TreeInputs& in, TreeSides sides,
                         const std::atomic<bool>* stop) {
  if (in.steps < 1) return NaNNodes();
  workspace.Reserve(in.steps);
  const TreeParameters tp = ParametersOf(in);
  if (!FastPathApplies(in, tp)) return PricePlain(workspace, in, tp, stop);
  return PriceFast(ActiveTreeKernels(), workspace, in, tp, sides, stop);
}

TreeNodes PriceTreePlainPolled(TreeWorkspace& workspace, const TreeInputs& in,
                               const std::atomic<bool>* stop) {
  if (in.steps < 1) return NaNNodes();
  workspace.Reserve(in.steps);
  return PricePlain(workspace, in, ParametersOf(in), stop);
}

TreeNodes PriceTreeSidesOnTwoThreads(TreeWorkspace& workspace, TreeWorkspace& helper,
                                     const TreeInputs& in, TreeSides sides,
                                     const std::atomic<bool>* stop) {
  if (in.steps < 1) return NaNNodes();
  workspace.Reserve(in.steps);
  helper.Reserve(in.steps);
  const TreeParameters tp = ParametersOf(in);
  if (!FastPathApplies(in, tp)) return PricePlain(workspace, in, tp, stop);
  return PriceFastOnTwo(ActiveTreeKernels(), workspace, helper, in, tp, sides, stop);
}

}  // namespace kx::models::detail
