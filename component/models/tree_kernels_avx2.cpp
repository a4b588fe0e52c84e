// The tree kernels on AVX2: four doubles per vector. Compiled with -mavx2 (and without -mfma:
// a fused multiply-add would round once where the plain loop rounds twice).
#include <immintrin.h>

#include <cstdint>

#include "tree_kernels.h"

namespace kx::models::detail {
namespace avx2 {
namespace {

constexpr int W = 4;
using V = double __attribute__((vector_size(32)));
using M = decltype(V{} < V{});

inline bool AnyLess(V a, V b, unsigned lanes) {
  return (_mm256_movemask_pd(_mm256_cmp_pd(a, b, _CMP_LT_OQ)) & lanes) != 0;
}
inline bool AnyNotLess(V a, V b) {
  return _mm256_movemask_pd(_mm256_cmp_pd(a, b, _CMP_NLT_UQ)) != 0;
}
inline bool AnyTrue(M m) { return _mm256_movemask_pd(reinterpret_cast<__m256d>(m)) != 0; }
inline V Max(V a, V b) { return _mm256_max_pd(a, b); }

inline void StoreLanes(double* to, V v, int lo, int hi) {
  const __m256i lanes = _mm256_setr_epi64x(0, 1, 2, 3);
  const __m256i below_hi = _mm256_cmpgt_epi64(_mm256_set1_epi64x(hi), lanes);
  const __m256i below_lo = _mm256_cmpgt_epi64(_mm256_set1_epi64x(lo), lanes);
  _mm256_maskstore_pd(to, _mm256_andnot_si256(below_lo, below_hi), v);
}

inline V Keep(V v, unsigned lanes) {
  const __m256i bits = _mm256_setr_epi64x(1, 2, 4, 8);
  const __m256i set = _mm256_and_si256(_mm256_set1_epi64x(lanes), bits);
  return _mm256_and_pd(v, _mm256_castsi256_pd(_mm256_cmpeq_epi64(set, bits)));
}

}  // namespace

#include "tree_kernels.inc"

}  // namespace avx2

const TreeKernels& Avx2TreeKernels() noexcept {
  static constexpr TreeKernels kKernels{InstructionSet::kAvx2, &avx2::StockRow, &avx2::StockChains,
                                        &avx2::StockPower, &avx2::RollTile};
  return kKernels;
}

}  // namespace kx::models::detail
