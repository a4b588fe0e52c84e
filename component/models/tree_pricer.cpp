// The tree pricer: the plain node-by-node algorithm, and the row-vectorised one that gives the same
// doubles.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
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

TreeNodes PriceFast(const TreeKernels& kernels, TreeWorkspace& w, const TreeInputs& in,
                    const TreeParameters& tp, TreeSides sides, const std::atomic<bool>* stop) {
  TreeNodes nodes = NaNNodes();
  const std::int32_t steps = in.steps;
  const std::int32_t m = Access::Stride(w);
  const bool american = in.flag_eur_am == kAmerican;
  const double strike = in.strike;
  const double u = tp.u;

  // Node 0 of every step, then every m-th step from the one m steps before: node k of step R + m
  // is u^m times node k - m of step R (both are u^k times node 0 of step R + m - k), node k < m is
  // u^k times node 0 of step R + m - k. The American rollback keeps them all, the European one
  // needs only the last.
  double* down = Access::Down(w);
  down[0] = in.s;
  for (std::int32_t j = 1; j <= steps; ++j) down[j] = tp.d * down[j - 1];
  double* checkpoints = Access::Checkpoints(w);
  const std::int32_t last_kept = (steps - 1) / m * m;
  double* current = Access::Column(w);
  double* next = Access::ColumnNext(w);
  auto kept_step = [&](std::int32_t index) {
    return american ? checkpoints + Access::CheckpointOffset(index, m)
                    : (index % 2 == 0 ? current : next);
  };
  kept_step(0)[0] = in.s;
  for (std::int32_t index = 1; index * m <= last_kept; ++index) {
    PollAbort(stop);
    const std::int32_t row = index * m;
    double* to = kept_step(index);
    for (std::int32_t k = 0; k < m; ++k) {
      double x = down[row - k];
      for (std::int32_t j = 0; j < k; ++j) x = u * x;
      to[k] = x;
    }
    kernels.stock_power(kept_step(index - 1), row - m + 1, m, u, to + m);
  }
  // The steps after the last kept one, step by step.
  const double* last = kept_step(last_kept / m);
  double* from = last == current ? next : current;
  double* into = last == current ? current : next;
  std::memcpy(from, last, sizeof(double) * (static_cast<std::size_t>(last_kept) + 1));
  for (std::int32_t i = last_kept + 1; i <= steps; ++i) {
    kernels.stock_row(from, into, i, u, tp.d);
    std::swap(from, into);
  }
  const double* terminal = from;

  double* call = sides == TreeSides::kPut ? nullptr : Access::Call(w);
  double* put = sides == TreeSides::kCall ? nullptr : Access::Put(w);
  PollAbort(stop);
  MaturityValues(terminal, steps, strike, call, put);
  if (steps <= 2) KeepStep(nodes, steps, call, put);

  // The call is 0 exactly at the nodes with stock <= K, a prefix of the step; the put at those
  // with stock >= K, a suffix.
  std::int32_t call_zeros = FirstAbove(terminal, steps + 1, strike);
  std::int32_t put_zeros_from = FirstNotBelow(terminal, steps + 1, strike);
  const RollParams rp{tp.p, tp.p_down, tp.disc, strike, SmallThreshold(tp)};
  double* tile = Access::Tile(w);

  // Steps N - 1 down to 3 in tiles; the last three one by one, to keep their nodes.
  constexpr std::int32_t kKeptSteps = 3;
  for (std::int32_t block = (steps - 1) / m; block >= 0; --block) {
    const std::int32_t first = block * m;
    const std::int32_t top = std::min(first + m, steps);
    const std::int32_t lowest = std::max(first, kKeptSteps);
    if (top - 1 < lowest) continue;
    const double* checkpoint = checkpoints + Access::CheckpointOffset(block, m);
    for (std::int32_t left = 0; left <= top; left += kTileWidth) {
      PollAbort(stop);
      const std::int32_t right = std::min(left + kTileWidth, top + 1);
      if (american) FillTileStock(kernels, checkpoint, down, first, top, left, right, u, tile);
      TileJob job;
      job.call = call;
      job.put = put;
      job.stock = tile;
      job.stock_stride = kTileStockStride;
      job.first = first;
      job.top = top;
      job.stop = lowest;
      job.left = left;
      job.right = right;
      job.call_zeros = call_zeros;
      job.put_zeros_from = put_zeros_from;
      job.american = american;
      job.rp = rp;
      kernels.roll_tile(job);
    }
    // The zeros of step `lowest`, exactly: nodes below call_zeros - (top - lowest) and from
    // put_zeros_from on were left +0.
    if (call != nullptr) {
      call_zeros = std::max(call_zeros - (top - lowest), 0);
      while (call_zeros <= lowest && call[call_zeros] == 0.0) ++call_zeros;
    }
    if (put != nullptr) {
      put_zeros_from = std::min(put_zeros_from, lowest + 1);
      while (put_zeros_from > 0 && put[put_zeros_from - 1] == 0.0) --put_zeros_from;
    }
  }

  // Steps 2, 1, 0 (those below N): their stock prices from S, every node rolled back. Column 0 of
  // a row is the window's node -1.
  double small_rows[kKeptSteps][1 + kKeptSteps + kRowPadding] = {};
  small_rows[0][1] = in.s;
  for (std::int32_t r = 1; r < kKeptSteps; ++r) {
    PlainStockRow(small_rows[r - 1] + 1, small_rows[r] + 1, r, u, tp.d);
  }
  for (std::int32_t r = std::min(steps, kKeptSteps) - 1; r >= 0; --r) {
    PollAbort(stop);
    TileJob job;
    job.call = call;
    job.put = put;
    job.stock = small_rows[r];
    job.first = r;
    job.top = r + 1;
    job.stop = r;
    job.left = 0;
    job.right = r + 2;
    job.call_zeros = 0;
    job.put_zeros_from = r + 2;
    job.american = american;
    job.rp = rp;
    kernels.roll_tile(job);
    KeepStep(nodes, r, call, put);
  }
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

}  // namespace kx::models::detail
