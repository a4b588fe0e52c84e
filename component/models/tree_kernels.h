// The inner loops of the tree pricer, one set per instruction set. Each set computes the same
// doubles as the plain scalar loops: the per-node arithmetic is unchanged, only several nodes of a
// row are computed at once.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kx/models/instruction_set.h"

namespace kx::models::detail {

/// Rows are read up to this many doubles past their last node, so every row buffer carries it.
inline constexpr std::int32_t kRowPadding = 16;

struct RollParams {
  double p = 0.0;       // weight of the up node V[k + 1]
  double p_down = 0.0;  // weight of V[k]
  double disc = 0.0;
  double strike = 0.0;
  // Children at or above this value give normal products and sums; smaller ones (zero included)
  // go through the exact emulation, so that no subnormal operand reaches the multiplier.
  double small = 0.0;
};

/// One tile of the rollback: the steps top - 1 down to stop of a block whose stock prices were
/// rebuilt from step `first`, over the window [left, right) of step top, which slides one node left
/// per step (node k of step top - t needs nodes k and k + 1 of step top - t + 1, so the window's
/// nodes of one step only need the window's nodes of the step above, plus the node just left of it,
/// which the tile to the left has already produced). Rolled in place.
struct TileJob {
  double* call = nullptr;  // null when the call is not priced
  double* put = nullptr;
  // American only: the stock price of node k of step r is stock[(r - first) * stock_stride + k -
  // (left - (top - r))]; the nodes of one step are contiguous.
  const double* stock = nullptr;
  std::size_t stock_stride = 0;
  std::int32_t first = 0;
  std::int32_t top = 0;
  std::int32_t stop = 0;
  std::int32_t left = 0;
  std::int32_t right = 0;
  // At step top the call is +0 below node call_zeros and the put from node put_zeros_from on. A
  // node with two +0 children is +0 (and has no exercise value: its up child's stock is at least
  // its own, its down child's at most), so nodes k < call_zeros - t and k >= put_zeros_from of
  // step top - t are left as they are.
  std::int32_t call_zeros = 0;
  std::int32_t put_zeros_from = 0;
  bool american = false;
  RollParams rp;
};

/// The kernels of one instruction set.
struct TreeKernels {
  InstructionSet isa;
  /// to[0] = d * from[0], then to[k] = u * from[k - 1] for k = 1 .. count.
  void (*stock_row)(const double* from, double* to, std::int32_t count, double u, double d);
  /// For c in [0, count) and t in [0, length): out[t * out_stride + c] = u^t starts[c], the powers
  /// by repeated multiplication. starts and out must be readable and writable up to count rounded
  /// up to kChainGroup.
  void (*stock_chains)(const double* starts, std::int32_t count, std::int32_t length, double u,
                       double* out, std::size_t out_stride);
  /// out[c] = u^times starts[c] for c in [0, count), by repeated multiplication.
  void (*stock_power)(const double* starts, std::int32_t count, std::int32_t times, double u,
                      double* out);
  void (*roll_tile)(const TileJob& job);
};

/// Chains are computed this many at a time; buffers they read or write carry this much slack.
inline constexpr std::int32_t kChainGroup = 64;

/// Defined by each instruction set's translation unit.
const TreeKernels& BaselineTreeKernels() noexcept;
const TreeKernels& Avx2TreeKernels() noexcept;
const TreeKernels& Avx512TreeKernels() noexcept;

/// The kernels selected for this process (the widest the processor supports, unless a test or a
/// benchmark chose others).
const TreeKernels& ActiveTreeKernels() noexcept;

}  // namespace kx::models::detail
