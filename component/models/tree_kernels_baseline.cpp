// The tree kernels on SSE2, which every x86-64 processor has: two doubles per vector.
#include <emmintrin.h>

#include <cstdint>

#include "tree_kernels.h"

namespace kx::models::detail {
namespace baseline {
namespace {

constexpr int W = 2;
using V = double __attribute__((vector_size(16)));
using M = decltype(V{} < V{});

inline bool AnyLess(V a, V b, unsigned lanes) {
  return (_mm_movemask_pd(_mm_cmplt_pd(a, b)) & lanes) != 0;
}
inline bool AnyNotLess(V a, V b) { return _mm_movemask_pd(_mm_cmpnlt_pd(a, b)) != 0; }
inline bool AnyTrue(M m) { return _mm_movemask_pd(reinterpret_cast<__m128d>(m)) != 0; }
inline V Max(V a, V b) { return _mm_max_pd(a, b); }

inline void StoreLanes(double* to, V v, int lo, int hi) {
  if (lo == 0) _mm_store_sd(to, v);
  if (hi == 2) _mm_storeh_pd(to + 1, v);
}

inline V Keep(V v, unsigned lanes) {
  const V mask = {(lanes & 1) != 0 ? -1.0 : 0.0, (lanes & 2) != 0 ? -1.0 : 0.0};
  return _mm_and_pd(v, _mm_cmpneq_pd(mask, _mm_setzero_pd()));
}

}  // namespace

#include "tree_kernels.inc"

}  // namespace baseline

const TreeKernels& BaselineTreeKernels() noexcept {
  static constexpr TreeKernels kKernels{InstructionSet::kBaseline, &baseline::StockRow,
                                        &baseline::StockChains, &baseline::StockPower,
                                        &baseline::RollTile};
  return kKernels;
}

}  // namespace kx::models::detail
