// WebAssembly SIMD128 forms of the vector kernels (see vector_kernels.h for their contracts),
// for the browser build (emscripten, -msimd128 -msse2). Each kernel gives exactly what its
// scalar reference form in amrnb::scalar gives.
//
// emscripten maps the SSE2 intrinsics onto SIMD128 one for one where SIMD128 has the
// operation: the multiply-adds of pairs (i32x4.dot_i16x8_s), the shifts, the saturating packs
// and the lane shuffles. Those kernels, the filters among them, are the SSE2 forms. SIMD128
// lacks SSE2's high half of a 16-bit product, which the mapping builds from two widening
// multiplies and a shuffle, and a 16-bit product is widened there by two more shuffles; but
// SIMD128 multiplies into 32-bit lanes directly (i32x4.extmul_low/high_i16x8_s). The kernels
// that scale samples by a gain are written for SIMD128 below, on its widening multiplies.
#ifndef AMRDEC_WASM_VECTOR_KERNELS_SIMD128_H
#define AMRDEC_WASM_VECTOR_KERNELS_SIMD128_H

#include <wasm_simd128.h>

#include <bit>
#include <cstdint>

#include "../fixed_point.h"
#include "../x86/vector_kernels_sse2.h"

namespace amrnb::simd128 {

using sse2::HighPassZeros;
using sse2::InterpolateBlock;
using sse2::ResidualFilter;
using sse2::RoundToOutput;
using sse2::SynthesisFilter;
using sse2::SynthesisFilter2;
using sse2::SynthesisFilter2Beside;
using sse2::SynthesisFilter4;
using sse2::SynthesisFilterBeside;

namespace detail {

// The low 16 bits of each 32-bit lane of lo (lanes 0..3) and hi (lanes 4..7).
inline v128_t Low16(v128_t lo, v128_t hi) { return wasm_i16x8_shuffle(lo, hi, 0, 2, 4, 6, 8, 10, 12, 14); }

// (v[k] * g[k]) >> shift for the eight lanes, its low 16 bits.
inline v128_t ProductsShiftedWrap(v128_t v, v128_t g, int shift) {
  return Low16(wasm_i32x4_shr(wasm_i32x4_extmul_low_i16x8(v, g), shift),
               wasm_i32x4_shr(wasm_i32x4_extmul_high_i16x8(v, g), shift));
}

// The same, saturated to 16 bits.
inline v128_t ProductsShiftedSat(v128_t v, v128_t g, int shift) {
  return wasm_i16x8_narrow_i32x4(wasm_i32x4_shr(wasm_i32x4_extmul_low_i16x8(v, g), shift),
                                 wasm_i32x4_shr(wasm_i32x4_extmul_high_i16x8(v, g), shift));
}

}  // namespace detail

inline uint64_t SumSquares(const int16_t* x, int32_t n) {
  // A lane of the pair sums is at most 2 * 32768^2 = 2^31: exact when read unsigned.
  v128_t acc = wasm_i64x2_splat(0);
  for (int32_t i = 0; i < n; i += 8) {
    const v128_t v = wasm_v128_load(x + i);
    const v128_t sq = wasm_i32x4_dot_i16x8(v, v);
    acc = wasm_i64x2_add(acc, wasm_i64x2_add(wasm_u64x2_extend_low_u32x4(sq), wasm_u64x2_extend_high_u32x4(sq)));
  }
  return static_cast<uint64_t>(wasm_i64x2_extract_lane(acc, 0)) + static_cast<uint64_t>(wasm_i64x2_extract_lane(acc, 1));
}

inline int32_t DotWrap32(const int16_t* x, const int16_t* y, int32_t n) {
  v128_t acc = wasm_i32x4_splat(0);
  for (int32_t i = 0; i < n; i += 8) acc = wasm_i32x4_add(acc, wasm_i32x4_dot_i16x8(wasm_v128_load(x + i), wasm_v128_load(y + i)));
  acc = wasm_i32x4_add(acc, wasm_i32x4_shuffle(acc, acc, 2, 3, 0, 1));
  acc = wasm_i32x4_add(acc, wasm_i32x4_shuffle(acc, acc, 1, 0, 3, 2));
  return wasm_i32x4_extract_lane(acc, 0);
}

inline void CombineExcitation(int16_t* x, const int16_t* u, int32_t gx, int32_t gu, int32_t shift, int32_t n) {
  const v128_t gxv = wasm_i16x8_splat(static_cast<int16_t>(gx)), guv = wasm_i16x8_splat(static_cast<int16_t>(gu));
  const v128_t round = wasm_i32x4_splat(0x4000);
  for (int32_t i = 0; i < n; i += 8) {
    const v128_t xv = wasm_v128_load(x + i), uv = wasm_v128_load(u + i);
    v128_t lo = wasm_i32x4_add(wasm_i32x4_extmul_low_i16x8(xv, gxv), wasm_i32x4_extmul_low_i16x8(uv, guv));
    v128_t hi = wasm_i32x4_add(wasm_i32x4_extmul_high_i16x8(xv, gxv), wasm_i32x4_extmul_high_i16x8(uv, guv));
    // The shift drops the bits shifted out: the wrap of the reference form (shift is 0..31).
    lo = wasm_i32x4_shr(wasm_i32x4_add(wasm_i32x4_shl(lo, shift), round), 15);
    hi = wasm_i32x4_shr(wasm_i32x4_add(wasm_i32x4_shl(hi, shift), round), 15);
    wasm_v128_store(x + i, wasm_i16x8_narrow_i32x4(lo, hi));
  }
}

inline void EmphasisePitch(const int16_t* exc, const int16_t* total, int16_t* out, int32_t sharp,
                           int32_t gain, int32_t s, int32_t n) {
  const v128_t sharp_v = wasm_i16x8_splat(static_cast<int16_t>(sharp));
  const v128_t gain_v = wasm_i16x8_splat(static_cast<int16_t>(gain));
  const v128_t round = wasm_i32x4_splat(1 << (s - 1));
  for (int32_t i = 0; i < n; i += 8) {
    // (exc * sharp) >> 15 lies within 16 bits for sharp below 32768.
    const v128_t t = detail::ProductsShiftedWrap(wasm_v128_load(exc + i), sharp_v, 15);
    v128_t lo = wasm_i32x4_shr(wasm_i32x4_add(wasm_i32x4_extmul_low_i16x8(t, gain_v), round), s);
    v128_t hi = wasm_i32x4_shr(wasm_i32x4_add(wasm_i32x4_extmul_high_i16x8(t, gain_v), round), s);
    // total + the rounded term needs 17 bits: add in 32-bit lanes, then saturate.
    const v128_t tot = wasm_v128_load(total + i);
    lo = wasm_i32x4_add(lo, wasm_i32x4_extend_low_i16x8(tot));
    hi = wasm_i32x4_add(hi, wasm_i32x4_extend_high_i16x8(tot));
    wasm_v128_store(out + i, wasm_i16x8_narrow_i32x4(lo, hi));
  }
}

inline void CircularConvolveQ15(const int16_t* x, const int16_t* imp2, int16_t* out, int32_t n) {
  // The output stays in registers while the pulses are added: five vectors for 40 samples.
  constexpr int32_t kMaxBlocks = 5;
  const int32_t blocks = n / 8;
  const v128_t zero = wasm_i16x8_splat(0);
  v128_t acc[kMaxBlocks];
  uint64_t pulses = 0;
  for (int32_t b = 0; b < blocks; ++b) {
    acc[b] = zero;
    pulses |= static_cast<uint64_t>(wasm_i16x8_bitmask(wasm_i16x8_ne(wasm_v128_load(x + 8 * b), zero))) << (8 * b);
  }
  for (; pulses != 0; pulses &= pulses - 1) {
    const int32_t p = std::countr_zero(pulses);
    const v128_t v = wasm_i16x8_splat(x[p]);
    const int16_t* imp = imp2 + n - p;
    // Each product >> 15 kept to its low 16 bits, as the wrapping sum sees it.
    for (int32_t b = 0; b < blocks; ++b) {
      acc[b] = wasm_i16x8_add(acc[b], detail::ProductsShiftedWrap(wasm_v128_load(imp + 8 * b), v, 15));
    }
  }
  for (int32_t b = 0; b < blocks; ++b) wasm_v128_store(out + 8 * b, acc[b]);
}

inline void ScaleQ12Wrap(int16_t* x, int16_t g, int32_t n) {
  const v128_t gv = wasm_i16x8_splat(g);
  for (int32_t i = 0; i < n; i += 8) wasm_v128_store(x + i, detail::ProductsShiftedWrap(wasm_v128_load(x + i), gv, 12));
}

inline void ScaleQ12Sat(int16_t* x, const int16_t* g, int32_t n) {
  for (int32_t i = 0; i < n; i += 8) {
    wasm_v128_store(x + i, detail::ProductsShiftedSat(wasm_v128_load(x + i), wasm_v128_load(g + i), 12));
  }
}

inline void TiltCompensate(int16_t* r, int32_t tilt, int32_t before, int32_t n) {
  // From the top block down, so that each block still reads the samples below it unchanged.
  const v128_t tilt_v = wasm_i16x8_splat(static_cast<int16_t>(tilt));
  for (int32_t i = n - 8; i >= 0; i -= 8) {
    const v128_t cur = wasm_v128_load(r + i);
    const v128_t prev = i > 0 ? wasm_v128_load(r + i - 1)
                              : wasm_i16x8_shuffle(wasm_i16x8_splat(static_cast<int16_t>(before)), cur, 0, 8, 9, 10,
                                                   11, 12, 13, 14);
    wasm_v128_store(r + i, wasm_i16x8_sub(cur, detail::ProductsShiftedWrap(prev, tilt_v, 15)));
  }
}

}  // namespace amrnb::simd128

#endif  // AMRDEC_WASM_VECTOR_KERNELS_SIMD128_H
