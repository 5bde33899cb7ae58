// Vector kernels of the hot filters and sums: their scalar reference forms, and the switch to
// the target's intrinsic forms.
//
// Naming: the decoder's stage routines carry the 3GPP TS 26.073 names and work on one
// subframe or frame (Syn_filt, Residu, Exc_combine); the kernels below carry CamelCase names,
// take a sample count and know nothing of the decoder (SynthesisFilter, ResidualFilter,
// CombineExcitation). A stage routine calls `kernels::Name`.
//
// amrnb::scalar holds the reference form of every kernel: portable C++, one output at a time,
// with no assumption on byte order or alignment. amrnb::sse2 (x86/vector_kernels_sse2.h),
// amrnb::neon (arm/vector_kernels_neon.h) and amrnb::simd128 (wasm/vector_kernels_simd128.h)
// hold the intrinsic forms with the same names, contracts and results: every sum wraps in 32
// bits (or is exact in 64), and wrapping sums do not depend on the order of their terms. `kernels` names the set a build uses: SSE2 where the
// target has it (the baseline of x86-64), NEON on ARM64, SIMD128 with the SSE2 forms beside it
// in the browser build (AMRCONV_WASM_SSE2_MAPPING: the SSE2 forms alone, for comparison),
// unless the build defines AMRCONV_NO_SIMD (CMake option AMRCONV_SIMD=OFF); the scalar forms
// otherwise.
#ifndef AMRDEC_VECTOR_KERNELS_H
#define AMRDEC_VECTOR_KERNELS_H

#include <bit>
#include <cstdint>

#include "fixed_point.h"

namespace amrnb::scalar {

// ---- Filters and sums shared by several stages ----

// Order-10 all-pole recursion of Syn_filt and of the post-filter's tilt estimate, over n
// samples (a multiple of 4):
//   y[k] = sat16((4096 * x[k] - sum_{j=1..10} a_j * y[k-j] + 2048) >> 12), sum wrapping.
// y[-10..-1] hold the filter memory; y may equal x.
inline void SynthesisFilter(const int16_t* a, const int16_t* x, int16_t* y, int32_t n) {
  for (int32_t i = 0; i < n; ++i) {
    int32_t acc = x[i] * 4096;
    for (int j = 1; j <= 10; ++j) acc = sub_wrap32(acc, a[j - 1] * y[i - j]);
    y[i] = sat16(add_wrap32(acc, 2048) >> 12);
  }
}

// Two independent synthesis filters over n samples each (a multiple of 4).
inline void SynthesisFilter2(const int16_t* a0, const int16_t* x0, int16_t* y0, const int16_t* a1,
                             const int16_t* x1, int16_t* y1, int32_t n) {
  SynthesisFilter(a0, x0, y0, n);
  SynthesisFilter(a1, x1, y1, n);
}

// One or two synthesis filters with other work beside them: side(begin, end) covers [0, n) in
// pieces and must not touch what the filters read or write; the intrinsic forms interleave the
// pieces with the filter steps, so that independent chains of dependent steps overlap.
template <typename Side>
inline void SynthesisFilterBeside(const int16_t* a, const int16_t* x, int16_t* y, int32_t n, Side&& side) {
  SynthesisFilter(a, x, y, n);
  side(0, n);
}
template <typename Side>
inline void SynthesisFilter2Beside(const int16_t* a0, const int16_t* x0, int16_t* y0, const int16_t* a1,
                                   const int16_t* x1, int16_t* y1, int32_t n, Side&& side) {
  SynthesisFilter2(a0, x0, y0, a1, x1, y1, n);
  side(0, n);
}

// Four independent synthesis filters over n samples each (a multiple of 4).
inline void SynthesisFilter4(const int16_t* const a[4], const int16_t* const x[4], int16_t* const y[4], int32_t n) {
  for (int k = 0; k < 4; ++k) SynthesisFilter(a[k], x[k], y[k], n);
}

// Order-10 inverse filter over n samples (a multiple of 8), x[-10..-1] readable:
//   y[k] = wrap16((4096 * x[k] + sum_{j=1..10} a_j * x[k-j] + 2048) >> 12), sum wrapping.
inline void ResidualFilter(const int16_t* a, const int16_t* x, int16_t* y, int32_t n) {
  for (int32_t i = 0; i < n; ++i) {
    int32_t acc = x[i] * 4096;
    for (int j = 1; j <= 10; ++j) acc = add_wrap32(acc, a[j - 1] * x[i - j]);
    y[i] = wrap16(add_wrap32(acc, 2048) >> 12);
  }
}

// Exact sum of squares of n samples (n a multiple of 8).
inline uint64_t SumSquares(const int16_t* x, int32_t n) {
  uint64_t acc = 0;
  for (int32_t i = 0; i < n; ++i) acc += static_cast<uint64_t>(x[i] * x[i]);
  return acc;
}

// Sum of x[i] * y[i] over n samples (n a multiple of 8), wrapping in 32 bits.
inline int32_t DotWrap32(const int16_t* x, const int16_t* y, int32_t n) {
  int32_t acc = 0;
  for (int32_t i = 0; i < n; ++i) acc = add_wrap32(acc, x[i] * y[i]);
  return acc;
}

// ---- Kernels of one stage each ----

// Adaptive codebook: 20-tap interpolation over n outputs (a multiple of 8),
//   y[k] = sat16((16384 + sum_{m=0..19} taps[m] * x[k+m]) >> 15), sum wrapping.
// Every output of the call must depend only on samples written before the call: y and x may
// share a buffer only with x + 27 <= y (each block of eight reads 27 samples).
inline void InterpolateBlock(const int16_t* taps, const int16_t* x, int16_t* y, int32_t n) {
  for (int32_t k = 0; k < n; ++k) {
    int32_t s = 16384;
    for (int m = 0; m < 20; ++m) s = add_wrap32(s, taps[m] * x[k + m]);
    y[k] = sat16(s >> 15);
  }
}

// Exc_combine's weighted sum over n samples (a multiple of 8), gains within 16 bits:
//   x[k] = sat16(((x[k] * gx + u[k] * gu) << shift + 0x4000) >> 15), sum and shift wrapping.
inline void CombineExcitation(int16_t* x, const int16_t* u, int32_t gx, int32_t gu, int32_t shift, int32_t n) {
  for (int32_t i = 0; i < n; ++i) {
    const int32_t v = shl_wrap32(add_wrap32(x[i] * gx, u[i] * gu), shift);
    x[i] = sat16(add_wrap32(v, 0x4000) >> 15);
  }
}

// Pitch emphasis over n samples (a multiple of 8), sharp in 0..32767, gain within 16 bits:
// w = ((exc[k] * sharp) >> 15) * gain, then out[k] = sat16(total[k] + ((w + 2^(s-1)) >> s)),
// with s = 16 or 15.
inline void EmphasisePitch(const int16_t* exc, const int16_t* total, int16_t* out, int32_t sharp,
                           int32_t gain, int32_t s, int32_t n) {
  for (int32_t k = 0; k < n; ++k) {
    const int32_t w = ((exc[k] * sharp) >> 15) * gain;
    out[k] = sat16(total[k] + ((w + (1 << (s - 1))) >> s));
  }
}

// Phase dispersion: the circular convolution of n samples x (n a multiple of 8, at most 40)
// with an impulse response held twice over in imp2[0..2n-1], so that the response seen by a
// pulse at p starts at imp2 + n - p:
//   out[k] = wrap16(sum over p of ((imp2[n + k - p] * x[p]) >> 15)),
// each product truncated on its own and the sum wrapping in 16 bits. Only the nonzero samples
// of x are visited: their positions form a bit mask, built without a branch per sample (which
// samples are pulses is random, a test of each would be mispredicted often).
inline void CircularConvolveQ15(const int16_t* x, const int16_t* imp2, int16_t* out, int32_t n) {
  uint64_t pulses = 0;
  for (int32_t p = 0; p < n; ++p) pulses |= static_cast<uint64_t>(x[p] != 0) << p;
  for (int32_t k = 0; k < n; ++k) out[k] = 0;
  for (; pulses != 0; pulses &= pulses - 1) {
    const int32_t p = std::countr_zero(pulses);
    const int16_t* imp = imp2 + n - p;
    for (int32_t k = 0; k < n; ++k) out[k] = wrap16(out[k] + ((imp[k] * x[p]) >> 15));
  }
}

// agc2: one gain in Q12 over n samples (a multiple of 8): x[k] = wrap16((x[k] * g) >> 12).
inline void ScaleQ12Wrap(int16_t* x, int16_t g, int32_t n) {
  for (int32_t k = 0; k < n; ++k) x[k] = wrap16((x[k] * g) >> 12);
}

// agc: a gain in Q12 per sample over n samples (a multiple of 8): x[k] = sat16((x[k] * g[k]) >> 12).
inline void ScaleQ12Sat(int16_t* x, const int16_t* g, int32_t n) {
  for (int32_t k = 0; k < n; ++k) x[k] = sat16((x[k] * g[k]) >> 12);
}

// Post-filter: first-order tilt compensation over n samples (a multiple of 8), in place, tilt
// in 0..32767: r[k] = wrap16(r[k] - ((tilt * r[k-1]) >> 15)), every r[k-1] taken before this
// call changed it; r[-1] is read as `before`.
inline void TiltCompensate(int16_t* r, int32_t tilt, int32_t before, int32_t n) {
  for (int32_t k = n - 1; k > 0; --k) r[k] = wrap16(r[k] - ((tilt * r[k - 1]) >> 15));
  r[0] = wrap16(r[0] - ((tilt * before) >> 15));
}

// Output high-pass: its zeros over n samples (a multiple of 8), x[-2..-1] readable:
//   z[k] = 7699 * (x[k] - 2 * x[k-1] + x[k-2]).
inline void HighPassZeros(const int16_t* x, int32_t* z, int32_t n) {
  for (int32_t k = 0; k < n; ++k) z[k] = 7699 * (x[k] - 2 * x[k - 1] + x[k - 2]);
}

// Output high-pass: its output samples over n values (a multiple of 8):
//   y[k] = sat16((t[k] + 2048) >> 12) with the three lowest bits cleared.
inline void RoundToOutput(const int32_t* t, int16_t* y, int32_t n) {
  for (int32_t k = 0; k < n; ++k) y[k] = wrap16(sat16(add_wrap32(t[k], 2048) >> 12) & 0xFFF8);
}

}  // namespace amrnb::scalar

#if defined(__wasm_simd128__) && defined(__SSE2__) && !defined(AMRCONV_NO_SIMD) && !defined(AMRCONV_WASM_SSE2_MAPPING)
#include "wasm/vector_kernels_simd128.h"
namespace amrnb {
namespace kernels = simd128;
}
#elif defined(__SSE2__) && !defined(AMRCONV_NO_SIMD)
#include "x86/vector_kernels_sse2.h"
namespace amrnb {
namespace kernels = sse2;
}
#elif defined(__aarch64__) && defined(__ARM_NEON) && !defined(AMRCONV_NO_SIMD)
#include "arm/vector_kernels_neon.h"
namespace amrnb {
namespace kernels = neon;
}
#else
namespace amrnb {
namespace kernels = scalar;
}
#endif

#endif  // AMRDEC_VECTOR_KERNELS_H
