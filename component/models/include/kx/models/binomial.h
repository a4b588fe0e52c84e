// European and American options on one Cox-Ross-Rubinstein tree, call and put together.
//
// Tree inputs, in this order: S, K, r, T, sigma, q, ModelType, rf, N (steps), FlagEurAm (0
// American, anything else European). Discounting uses r whatever ModelType says; the drift is the
// cost of carry.
//
// Failures: every computation here may throw std::bad_alloc (its memory could not be allocated:
// nothing has been written then, unless a helper thread's workspace failed after the first results
// were written, which then keep their values) and AbortSignal (an abort was requested; the
// destinations written before it keep their new values, the others keep what they held). Nothing
// else is thrown.
// The abort request is polled every few thousand nodes (once per 16 steps of the stock prices and
// once per tile of 16 steps by 256 nodes of the rollback).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "kx/models/common.h"
#include "kx/models/parallelism.h"

namespace kx::models {

/// Node values of steps 0 to 2 of a priced tree, [k][i] = after i steps with k up-moves (k <= i).
/// These are the nodes the Greeks read. Entries of steps the tree does not have (N = 1) are NaN.
struct TreeNodes {
  double call[3][3];
  double put[3][3];
};

namespace detail {
struct TreeWorkspaceAccess;
}

/// The memory of tree pricings: one row of values per option, a few rows of stock prices and a
/// narrowed store of stock prices (every m-th row kept, the rows between rebuilt by the same
/// multiplications when the American rollback needs them): under 8 MB at N = 5000 instead of
/// three (N + 1)^2 matrices (600 MB). Allocate it once and reuse it for every pricing of a
/// computation.
class TreeWorkspace {
 public:
  TreeWorkspace() = default;
  /// Allocates for up to `steps` steps; throws std::bad_alloc.
  explicit TreeWorkspace(std::int32_t steps) { Reserve(steps); }
  /// Hands its buffers on to the next workspace that needs no more steps (see ReleaseKept).
  ~TreeWorkspace();
  TreeWorkspace(TreeWorkspace&& other) noexcept;
  TreeWorkspace& operator=(TreeWorkspace&& other) noexcept;
  TreeWorkspace(const TreeWorkspace&) = delete;
  TreeWorkspace& operator=(const TreeWorkspace&) = delete;

  /// Makes room for `steps` steps (allocates only when it grows and no kept buffers fit); throws
  /// std::bad_alloc.
  void Reserve(std::int32_t steps);
  [[nodiscard]] std::int32_t Capacity() const noexcept { return capacity_; }
  /// Bytes held by the workspace.
  [[nodiscard]] std::size_t AllocatedBytes() const noexcept;
  /// Bytes a workspace for `steps` steps holds.
  [[nodiscard]] static std::size_t BytesFor(std::int32_t steps) noexcept;
  /// The buffers of ended workspaces are kept for the next ones (two sets at most, none over
  /// 16 MB): fresh memory costs page faults that, on some machines, take as long as a pricing at
  /// N = 5000. Frees them.
  static void ReleaseKept() noexcept;

  /// What a workspace holds; public only so that ended workspaces can hand theirs on.
  struct Buffers {
    std::vector<double> call;  // option values of one step, rolled back in place
    std::vector<double> put;
    std::vector<double> column;  // stock prices of the current step (two buffers)
    std::vector<double> column_next;
    std::vector<double> down;         // node 0 of every step: S, d S, d (d S), ...
    std::vector<double> checkpoints;  // stock prices of steps 0, m, 2m, ... (step j*m has j*m+1)
    std::vector<double> segment;      // the m stock rows of one block, for the plain pricer
    std::vector<double> tile;         // the stock prices of one tile of the rollback
  };

 private:
  friend struct detail::TreeWorkspaceAccess;
  [[nodiscard]] static std::int32_t StrideFor(std::int32_t steps) noexcept;
  [[nodiscard]] static std::size_t RowLength(std::int32_t steps) noexcept;
  [[nodiscard]] static std::size_t CheckpointOffset(std::int32_t index,
                                                    std::int32_t stride) noexcept;

  std::int32_t capacity_ = 0;
  Buffers buffers_;
};

/// Prices the call and the put on one tree of `steps` steps (1 or more; fewer gives all-NaN nodes).
/// The root prices are call[0][0] and put[0][0] of the result. Same doubles as the full-matrix
/// algorithm: stock prices by repeated multiplication, put before call, cont = (p V[k+1] +
/// (1-p) V[k]) disc. Several nodes of a row are computed at once (see instruction_set.h), and nodes
/// whose children are both exactly 0 are not recomputed (they stay 0). Grows the workspace if
/// needed. Throws std::bad_alloc, AbortSignal.
TreeNodes PriceTree(TreeWorkspace& workspace, double s, double k, double r, double t, double sigma,
                    double q, std::int32_t model_type, double rf, std::int32_t steps,
                    std::int32_t flag_eur_am);

/// The plain algorithm, one node at a time: the reference PriceTree reproduces, and what it falls
/// back to for inputs outside its fast path (a p outside (0, 1), zero or NaN volatility, ...).
TreeNodes PriceTreePlain(TreeWorkspace& workspace, double s, double k, double r, double t,
                         double sigma, double q, std::int32_t model_type, double rf,
                         std::int32_t steps, std::int32_t flag_eur_am);

/// Deltas from the nodes of step 1: (V[1][1] - V[0][1]) / (S (u - d)).
[[nodiscard]] CallPut TreeDelta(double s, double u, double d, const TreeNodes& nodes) noexcept;

/// Where TreeGreeksWorker writes, in the order it writes them. A null destination is skipped.
struct TreeGreeksDestinations {
  double* call_price = nullptr;
  double* put_price = nullptr;
  double* c_delta = nullptr;
  double* p_delta = nullptr;
  double* c_theta = nullptr;
  double* p_theta = nullptr;
  double* gamma = nullptr;
  double* vega = nullptr;
  double* c_rho = nullptr;
  double* p_rho = nullptr;
};

/// Prices, deltas, thetas and gamma from one tree; vega (sigma * 1.01, call prices only) and the
/// rhos (r raised to 1e-12, then * 1.05) by re-pricing when wanted, else exactly 0.0. Deltas are
/// kNotComputable for |sigma| < 1e-12 or NaN sigma, gamma and a wanted vega for |sigma| < 1e-12.
/// With N = 1 the tree has no step 2, so both thetas and gamma are kNotComputable. Theta per year,
/// vega and rho per 1.0.
/// With kTwoThreads the rho re-pricing runs on a helper thread while this thread prices the tree
/// and then the vega tree. The destinations are written in the order of TreeGreeksDestinations,
/// each as soon as it and all before it are known, so after an abort the written ones are a prefix
/// of that order. Throws std::bad_alloc, AbortSignal (from whichever thread met it, after both
/// have stopped).
void TreeGreeksWorker(double s, double k, double r, double t, double sigma, double q,
                      std::int32_t model_type, double rf, std::int32_t steps,
                      std::int32_t flag_eur_am, bool vega_wanted, bool rho_wanted,
                      const TreeGreeksDestinations& out,
                      Parallelism parallelism = Parallelism::kTwoThreads);

/// The sigma at which the tree's |root price| of `side` meets `target`: the result of the bisection
/// of [0, 100] down to a width of 1e-6 (27 halvings, no iteration limit) that prices the tree at
/// every midpoint, the first 11 on 20 steps when N > 50. After those 11 it prices only the few trees
/// that decide every remaining midpoint (detail::FinishTreeBisection), with kTwoThreads on large
/// trees two at a time, or one with its rollback shared by both threads, and falls back to pricing each midpoint where that cannot be shown.
/// Writes the result (0 below 1e-6) to *destination at the end. Throws std::bad_alloc,
/// AbortSignal (the destination is then untouched).
void TreeImpliedVolatility(double s, double k, double r, double t, double q,
                           std::int32_t model_type, double rf, std::int32_t steps,
                           std::int32_t flag_eur_am, OptionSide side, double target,
                           double* destination, Parallelism parallelism = Parallelism::kTwoThreads);

/// The same search pricing every one of its 27 midpoints, one after the other: the reference the
/// shortcut is tested and measured against. Throws std::bad_alloc, AbortSignal.
void TreeImpliedVolatilityPlain(double s, double k, double r, double t, double q,
                                std::int32_t model_type, double rf, std::int32_t steps,
                                std::int32_t flag_eur_am, OptionSide side, double target,
                                double* destination);

/// For every strike i: the call search against call_targets[i] into call_results[i] and, when
/// puts_wanted, the put search against put_targets[i] into put_results[i]; each is
/// BisectVolatility (absolute mode, abort polling, limit EffectiveMaxIter(max_iter)) over the root
/// price of an N-step tree, with the few pricings of TreeImpliedVolatility's shortcut where it
/// applies. The other spans must hold at least strikes.size() elements (the put
/// ones only when puts_wanted). With kTwoThreads the searches are shared out between this thread
/// (which uses `workspace`) and a helper thread with a workspace of its own, so they finish out of
/// order: every result is written as soon as it is known, and after an abort each result holds
/// either its final value or what it held before. Throws std::bad_alloc, AbortSignal (after both
/// threads have stopped).
void TreeSkewSearch(TreeWorkspace& workspace, double s, std::span<const double> strikes, double r,
                    double t, double q, std::int32_t model_type, double rf, std::int32_t steps,
                    std::int32_t flag_eur_am, std::span<const double> call_targets,
                    std::span<const double> put_targets, std::int32_t max_iter,
                    std::span<double> call_results, std::span<double> put_results, bool puts_wanted,
                    Parallelism parallelism = Parallelism::kTwoThreads);

}  // namespace kx::models
