// The tree kernels on AVX-512F: eight doubles per vector. Compiled with -mavx512f; the
// -ffp-contract=off of the whole build keeps its fused multiply-adds out.
#include <immintrin.h>

#include <cstdint>

#include "tree_kernels.h"

// GCC 12 takes the undefined pass-through operand inside _mm512_max_pd for an uninitialised read.
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

namespace kx::models::detail {
namespace avx512 {
namespace {

constexpr int W = 8;
using V = double __attribute__((vector_size(64)));
using M = decltype(V{} < V{});

inline bool AnyLess(V a, V b, unsigned lanes) {
  return _mm512_mask_cmp_pd_mask(static_cast<__mmask8>(lanes), a, b, _CMP_LT_OQ) != 0;
}
inline bool AnyNotLess(V a, V b) { return _mm512_cmp_pd_mask(a, b, _CMP_NLT_UQ) != 0; }
inline bool AnyTrue(M m) {
  const auto bits = reinterpret_cast<__m512i>(m);
  return _mm512_test_epi64_mask(bits, bits) != 0;
}
inline V Max(V a, V b) { return _mm512_max_pd(a, b); }

inline void StoreLanes(double* to, V v, int lo, int hi) {
  _mm512_mask_storeu_pd(to, static_cast<__mmask8>((1u << hi) - (1u << lo)), v);
}

inline V Keep(V v, unsigned lanes) { return _mm512_maskz_mov_pd(static_cast<__mmask8>(lanes), v); }

}  // namespace

#include "tree_kernels.inc"

}  // namespace avx512

const TreeKernels& Avx512TreeKernels() noexcept {
  static constexpr TreeKernels kKernels{InstructionSet::kAvx512, &avx512::StockRow,
                                        &avx512::StockChains, &avx512::StockPower,
                                        &avx512::RollTile};
  return kKernels;
}

}  // namespace kx::models::detail
