// The tree's volatility bisection with a handful of tree pricings instead of one per halving.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>

#include "kx/models/binomial.h"
#include "tree_internal.h"

namespace kx::models::detail {

/// A bisection part way through: [low, high] after `count` halvings.
struct BisectionState {
  double low = 0.0;
  double high = 0.0;
  std::int32_t count = 0;
};

/// Continues `state` as the plain loop does: at least one more halving, then more while the width
/// is above kVolatilityTolerance and count < limit, each moving `high` down to the midpoint when the
/// |root price| of `side` on the tree of `in` (in.sigma set to the midpoint) is above `target`, else
/// `low` up. Returns the state that loop ends in, or nothing when it could not be shown without
/// the loop (the caller then runs it from `state`).
///
/// The loop's end depends only on which side of the target each midpoint's price falls. With p in
/// [0, 1] the tree's price never falls as sigma rises (a wider step is a mean-preserving spread, and
/// the node values are convex in the stock price), and the rounding of a tree of at most 5000 steps
/// stays far below kMarginToScale of its terms. So once one priced point lies clear below the
/// target and one clear above, every midpoint outside the two is decided without its price. The
/// points come from: the root of a tree of an eighth of the steps (cheap: 1/64 of a pricing),
/// shifted by 7/4 of its difference to a tree of a quarter of the steps; the two ends of the last
/// halving's cell around that estimate; when they miss the root, their secant (bent by the cheap
/// tree's curvature) places it within a small fraction of the cell, and the ends of that cell are
/// priced, only those not decided yet. Two ends are priced as a pair on two threads when `helper`
/// is given (a workspace for the second thread), one alone with its rollback shared by both.
/// Gives up on a non-finite target or price, prices out of order beyond the margin, or too many
/// pricings. Throws std::bad_alloc, AbortSignal (polled before every pricing and, through `stop`,
/// inside them).
std::optional<BisectionState> FinishTreeBisection(TreeWorkspace& workspace, TreeWorkspace* helper,
                                                  const TreeInputs& in, TreeSides side,
                                                  double target, BisectionState state,
                                                  std::int32_t limit,
                                                  const std::atomic<bool>* stop);

}  // namespace kx::models::detail
