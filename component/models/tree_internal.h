// What the tree computations share inside the library.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "kx/models/binomial.h"
#include "tree_kernels.h"

namespace kx::models::detail {

/// The rollback goes through blocks of this many steps (the distance between checkpoints) and,
/// within a block, tiles of kTileWidth nodes, so that a tile's stock prices and values stay in the
/// first-level cache: 16 rows of 256 doubles are 32 KB.
inline constexpr std::int32_t kBlockSteps = 16;
inline constexpr std::int32_t kTileWidth = 256;
inline constexpr std::size_t kTileStockStride = kTileWidth + kChainGroup;

/// The inputs of one tree pricing, in the documented order.
struct TreeInputs {
  double s = 0.0;
  double strike = 0.0;
  double r = 0.0;
  double t = 0.0;
  double sigma = 0.0;
  double q = 0.0;
  std::int32_t model_type = 0;
  double rf = 0.0;
  std::int32_t steps = 0;
  std::int32_t flag_eur_am = 0;
};

/// Which options a pricing rolls back. The two never meet, so either one alone gives the doubles
/// it gives when both are priced; the nodes of the other are NaN then.
enum class TreeSides { kBoth, kCall, kPut };

/// Every workspace buffer carries this many doubles more, to start on a 64-byte boundary (and the
/// tile buffer as many again in front, which the kernels may read).
inline constexpr std::size_t kAlignSlack = 8;

/// The workspace's buffers, for the pricers; each starts on a 64-byte boundary.
struct TreeWorkspaceAccess {
  static double* Aligned(std::vector<double>& v) noexcept {
    const auto address = reinterpret_cast<std::uintptr_t>(v.data());
    return v.data() + ((64 - address % 64) % 64) / sizeof(double);
  }
  static std::int32_t Stride(const TreeWorkspace& w) noexcept { return w.StrideFor(w.capacity_); }
  static std::size_t RowLength(const TreeWorkspace& w) noexcept { return w.RowLength(w.capacity_); }
  static std::size_t CheckpointOffset(std::int32_t index, std::int32_t stride) noexcept {
    return TreeWorkspace::CheckpointOffset(index, stride);
  }
  static double* Call(TreeWorkspace& w) noexcept { return Aligned(w.buffers_.call); }
  static double* Put(TreeWorkspace& w) noexcept { return Aligned(w.buffers_.put); }
  static double* Column(TreeWorkspace& w) noexcept { return Aligned(w.buffers_.column); }
  static double* ColumnNext(TreeWorkspace& w) noexcept { return Aligned(w.buffers_.column_next); }
  static double* Checkpoints(TreeWorkspace& w) noexcept { return Aligned(w.buffers_.checkpoints); }
  static double* Segment(TreeWorkspace& w) noexcept { return Aligned(w.buffers_.segment); }
  static double* Down(TreeWorkspace& w) noexcept { return Aligned(w.buffers_.down); }
  static double* Tile(TreeWorkspace& w) noexcept { return Aligned(w.buffers_.tile) + kAlignSlack; }
};

/// PriceTree for the chosen sides, with the kernels of the active instruction set, polling `stop`
/// (may be null) next to the abort request.
TreeNodes PriceTreeSides(TreeWorkspace& workspace, const TreeInputs& in, TreeSides sides,
                         const std::atomic<bool>* stop);

/// PriceTreeSides with the rollback shared by the calling thread and one more thread, which uses
/// `helper`'s buffers: the same doubles, in about half the time on two free cores. Alone when no
/// thread can be started, when the helper is slow to start, and for the steps whose nodes are too
/// few to share.
TreeNodes PriceTreeSidesOnTwoThreads(TreeWorkspace& workspace, TreeWorkspace& helper,
                                     const TreeInputs& in, TreeSides sides,
                                     const std::atomic<bool>* stop);

/// The plain algorithm (both sides).
TreeNodes PriceTreePlainPolled(TreeWorkspace& workspace, const TreeInputs& in,
                               const std::atomic<bool>* stop);

}  // namespace kx::models::detail
