// NEON forms of the vector kernels (see vector_kernels.h for their contracts), for ARM64, where
// NEON is always present. Each kernel gives exactly what its scalar reference form in
// amrnb::scalar gives.
//
// NEON multiplies 16-bit lanes into 32-bit lanes with a 16-bit scalar taken from a lane of
// another register (vmlal_lane), and narrows 32-bit lanes back to 16 bits with a shift, either
// wrapping (vshrn) or saturating (vqshrn). Most kernels are those three steps.
#ifndef AMRDEC_ARM_VECTOR_KERNELS_NEON_H
#define AMRDEC_ARM_VECTOR_KERNELS_NEON_H

#include <arm_neon.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#include "../fixed_point.h"

namespace amrnb::neon {

namespace detail {

// One synthesis filter on its way through blocks of four outputs. Output n+k of the block
// starting at n takes a_(d+k) * y[n-d] for every d = 1..10 with d+k <= 10: one
// multiply-subtract per history sample, against the coefficient vector (a_d, a_(d+1),
// a_(d+2), a_(d+3)), a_m = 0 above a10. The block's own outputs then follow one by one, each
// saturated and taken off the outputs above it in the block.
class SynthesisBlocks {
 public:
  SynthesisBlocks(const int16_t* a, const int16_t* x, int16_t* y) : x_(x), y_(y) {
    // c[2 + m] = a_m for m = 1..10, zero around: coef_[d] = c[2+d..5+d]; within the block,
    // output n+j meets (a_(0-j), .., a_(3-j)) = c[2-j..5-j], zero where the index is not
    // above j.
    int16_t c[16] = {};
    std::memcpy(c + 3, a, 10 * sizeof *a);
    for (int d = 1; d <= 10; ++d) coef_[d - 1] = vld1_s16(c + 2 + d);
    from0_ = vld1_s16(c + 2);
    from1_ = vld1_s16(c + 1);
    from2_ = vld1_s16(c);
    // recent_ = y[n-8..n-1]; older_ holds (y[n-10], y[n-9]) in lanes 2 and 3.
    recent_ = vld1q_s16(y - 8);
    int32_t oldest_pair;
    std::memcpy(&oldest_pair, y - 10, sizeof oldest_pair);
    older_ = vreinterpretq_s16_s32(vdupq_n_s32(oldest_pair));
  }

  // Outputs i..i+3.
  void Block(int32_t i) {
    int32x4_t acc = vaddq_s32(vshll_n_s16(vld1_s16(x_ + i), 12), vdupq_n_s32(2048));
    acc = vmlsl_laneq_s16(acc, coef_[9], older_, 2);  // y[n-10]
    acc = vmlsl_laneq_s16(acc, coef_[8], older_, 3);
    acc = vmlsl_laneq_s16(acc, coef_[7], recent_, 0);
    acc = vmlsl_laneq_s16(acc, coef_[6], recent_, 1);
    acc = vmlsl_laneq_s16(acc, coef_[5], recent_, 2);
    acc = vmlsl_laneq_s16(acc, coef_[4], recent_, 3);
    acc = vmlsl_laneq_s16(acc, coef_[3], recent_, 4);
    acc = vmlsl_laneq_s16(acc, coef_[2], recent_, 5);
    acc = vmlsl_laneq_s16(acc, coef_[1], recent_, 6);
    acc = vmlsl_laneq_s16(acc, coef_[0], recent_, 7);  // y[n-1]
    // Output k is final once outputs 0..k-1 of the block are taken off.
    int16x4_t out = vqshrn_n_s32(acc, 12);
    acc = vmlsl_lane_s16(acc, from0_, out, 0);
    out = vqshrn_n_s32(acc, 12);
    acc = vmlsl_lane_s16(acc, from1_, out, 1);
    out = vqshrn_n_s32(acc, 12);
    acc = vmlsl_lane_s16(acc, from2_, out, 2);
    out = vqshrn_n_s32(acc, 12);
    vst1_s16(y_ + i, out);
    older_ = recent_;
    recent_ = vcombine_s16(vget_high_s16(recent_), out);
  }

 private:
  const int16_t* x_;
  int16_t* y_;
  int16x4_t coef_[10], from0_, from1_, from2_;
  int16x8_t recent_, older_;
};

// x[k] * c for the eight samples of v, as two four-lane vectors.
inline void Products(int16x8_t v, int16_t c, int32x4_t& lo, int32x4_t& hi) {
  lo = vmull_n_s16(vget_low_s16(v), c);
  hi = vmull_high_n_s16(v, c);
}

// Adds c_m * x[step * m + k] for k = 0..7 and every m of the sequence to the two four-lane
// sums, c_m being lane m % 8 of coef[m / 8].
template <int... m>
inline void MulAddTaps(std::integer_sequence<int, m...>, const int16_t* x, int32_t step, const int16x8_t* coef,
                       int32x4_t& lo, int32x4_t& hi) {
  const auto tap = [&](auto index) {
    constexpr int k = decltype(index)::value;
    const int16x8_t v = vld1q_s16(x + step * k);
    lo = vmlal_laneq_s16(lo, vget_low_s16(v), coef[k / 8], k % 8);
    hi = vmlal_high_laneq_s16(hi, v, coef[k / 8], k % 8);
  };
  (tap(std::integral_constant<int, m>()), ...);
}

}  // namespace detail

// A filter alone and two side by side run the same blocks; the side work follows each block.
template <typename Side>
inline void SynthesisFilterBeside(const int16_t* a, const int16_t* x, int16_t* y, int32_t n, Side&& side) {
  detail::SynthesisBlocks f(a, x, y);
  for (int32_t i = 0; i < n; i += 4) {
    f.Block(i);
    side(i, i + 4);
  }
}

inline void SynthesisFilter(const int16_t* a, const int16_t* x, int16_t* y, int32_t n) {
  SynthesisFilterBeside(a, x, y, n, [](int32_t, int32_t) {});
}

template <typename Side>
inline void SynthesisFilter2Beside(const int16_t* a0, const int16_t* x0, int16_t* y0, const int16_t* a1,
                                   const int16_t* x1, int16_t* y1, int32_t n, Side&& side) {
  detail::SynthesisBlocks f0(a0, x0, y0), f1(a1, x1, y1);
  for (int32_t i = 0; i < n; i += 4) {
    f0.Block(i);
    f1.Block(i);
    side(i, i + 4);
  }
}

inline void SynthesisFilter2(const int16_t* a0, const int16_t* x0, int16_t* y0, const int16_t* a1,
                             const int16_t* x1, int16_t* y1, int32_t n) {
  SynthesisFilter2Beside(a0, x0, y0, a1, x1, y1, n, [](int32_t, int32_t) {});
}

// Four filters block by block in turn, so that their chains of dependent steps overlap.
inline void SynthesisFilter4(const int16_t* const a[4], const int16_t* const x[4], int16_t* const y[4], int32_t n) {
  detail::SynthesisBlocks f0(a[0], x[0], y[0]), f1(a[1], x[1], y[1]), f2(a[2], x[2], y[2]), f3(a[3], x[3], y[3]);
  for (int32_t i = 0; i < n; i += 4) {
    f0.Block(i);
    f1.Block(i);
    f2.Block(i);
    f3.Block(i);
  }
}

inline void ResidualFilter(const int16_t* a, const int16_t* x, int16_t* y, int32_t n) {
  // Coefficient a_(m+1) is lane m % 8 of coef[m / 8].
  int32_t top;  // a9, a10
  std::memcpy(&top, a + 8, sizeof top);
  const int16x8_t coef[2] = {vld1q_s16(a), vreinterpretq_s16_s32(vdupq_n_s32(top))};
  const int32x4_t round = vdupq_n_s32(2048);
  for (int32_t i = 0; i < n; i += 8) {
    const int16x8_t xi = vld1q_s16(x + i);
    int32x4_t lo = vaddq_s32(vshll_n_s16(vget_low_s16(xi), 12), round);
    int32x4_t hi = vaddq_s32(vshll_high_n_s16(xi, 12), round);
    // a_(m+1) meets x[i-1-m..i+6-m].
    detail::MulAddTaps(std::make_integer_sequence<int, 10>(), x + i - 1, -1, coef, lo, hi);
    // The narrowing shift keeps the low 16 bits: the wrap of the reference form.
    vst1q_s16(y + i, vshrn_high_n_s32(vshrn_n_s32(lo, 12), hi, 12));
  }
}

inline uint64_t SumSquares(const int16_t* x, int32_t n) {
  // A square is at most 2^30: exact in a 32-bit lane, then added pairwise into 64-bit lanes.
  int64x2_t acc = vdupq_n_s64(0);
  for (int32_t i = 0; i < n; i += 8) {
    const int16x8_t v = vld1q_s16(x + i);
    acc = vpadalq_s32(acc, vmull_s16(vget_low_s16(v), vget_low_s16(v)));
    acc = vpadalq_s32(acc, vmull_high_s16(v, v));
  }
  return static_cast<uint64_t>(vaddvq_s64(acc));
}

inline int32_t DotWrap32(const int16_t* x, const int16_t* y, int32_t n) {
  int32x4_t acc = vdupq_n_s32(0);
  for (int32_t i = 0; i < n; i += 8) {
    const int16x8_t a = vld1q_s16(x + i), b = vld1q_s16(y + i);
    acc = vmlal_s16(acc, vget_low_s16(a), vget_low_s16(b));
    acc = vmlal_high_s16(acc, a, b);
  }
  // The lanes' sum wraps in 32 bits as the reference form's does.
  return static_cast<int32_t>(vaddvq_u32(vreinterpretq_u32_s32(acc)));
}

inline void InterpolateBlock(const int16_t* taps, const int16_t* x, int16_t* y, int32_t n) {
  // Tap m is lane m % 8 of coef[m / 8].
  const int16x8_t coef[3] = {vld1q_s16(taps), vld1q_s16(taps + 8), vcombine_s16(vld1_s16(taps + 16), vdup_n_s16(0))};
  const int32x4_t round = vdupq_n_s32(16384);
  for (int32_t i = 0; i < n; i += 8) {
    int32x4_t lo = round, hi = round;
    // Tap m meets x[i+m..i+m+7]: the block reads x[i..i+26] before it stores y[i..i+7].
    detail::MulAddTaps(std::make_integer_sequence<int, 20>(), x + i, 1, coef, lo, hi);
    vst1q_s16(y + i, vqshrn_high_n_s32(vqshrn_n_s32(lo, 15), hi, 15));
  }
}

inline void CombineExcitation(int16_t* x, const int16_t* u, int32_t gx, int32_t gu, int32_t shift, int32_t n) {
  const int16_t gx16 = static_cast<int16_t>(gx), gu16 = static_cast<int16_t>(gu);
  // A left shift by a lane count drops the bits shifted out: the wrap of the reference form.
  const int32x4_t count = vdupq_n_s32(shift);
  const int32x4_t round = vdupq_n_s32(0x4000);
  for (int32_t i = 0; i < n; i += 8) {
    const int16x8_t xv = vld1q_s16(x + i), uv = vld1q_s16(u + i);
    int32x4_t lo = vmlal_n_s16(vmull_n_s16(vget_low_s16(xv), gx16), vget_low_s16(uv), gu16);
    int32x4_t hi = vmlal_high_n_s16(vmull_high_n_s16(xv, gx16), uv, gu16);
    lo = vaddq_s32(vshlq_s32(lo, count), round);
    hi = vaddq_s32(vshlq_s32(hi, count), round);
    vst1q_s16(x + i, vqshrn_high_n_s32(vqshrn_n_s32(lo, 15), hi, 15));
  }
}

inline void EmphasisePitch(const int16_t* exc, const int16_t* total, int16_t* out, int32_t sharp,
                           int32_t gain, int32_t s, int32_t n) {
  const int16_t sharp16 = static_cast<int16_t>(sharp), gain16 = static_cast<int16_t>(gain);
  // A rounding shift right by s: (w + 2^(s-1)) >> s.
  const int32x4_t down = vdupq_n_s32(-s);
  for (int32_t i = 0; i < n; i += 8) {
    int32x4_t lo, hi;
    detail::Products(vld1q_s16(exc + i), sharp16, lo, hi);
    // (exc * sharp) >> 15 lies within 16 bits for sharp below 32768.
    const int16x8_t t = vshrn_high_n_s32(vshrn_n_s32(lo, 15), hi, 15);
    detail::Products(t, gain16, lo, hi);
    // total + the rounded term needs 17 bits: add in 32-bit lanes, then saturate.
    const int16x8_t tot = vld1q_s16(total + i);
    lo = vaddw_s16(vrshlq_s32(lo, down), vget_low_s16(tot));
    hi = vaddw_high_s16(vrshlq_s32(hi, down), tot);
    vst1q_s16(out + i, vqmovn_high_s32(vqmovn_s32(lo), hi));
  }
}

inline void CircularConvolveQ15(const int16_t* x, const int16_t* imp2, int16_t* out, int32_t n) {
  // The output stays in registers while the pulses are added: five vectors for 40 samples.
  constexpr int32_t kMaxBlocks = 5;
  const int32_t blocks = n / 8;
  const uint16x8_t bits = {1, 2, 4, 8, 16, 32, 64, 128};
  int16x8_t acc[kMaxBlocks];
  uint64_t pulses = 0;
  for (int32_t b = 0; b < blocks; ++b) {
    acc[b] = vdupq_n_s16(0);
    // One bit per nonzero sample: the comparison's lanes masked to their bit and summed.
    const uint16x8_t nonzero = vtstq_s16(vld1q_s16(x + 8 * b), vld1q_s16(x + 8 * b));
    pulses |= static_cast<uint64_t>(vaddvq_u16(vandq_u16(nonzero, bits))) << (8 * b);
  }
  for (; pulses != 0; pulses &= pulses - 1) {
    const int32_t p = std::countr_zero(pulses);
    const int16_t v = x[p];
    const int16_t* imp = imp2 + n - p;
    for (int32_t b = 0; b < blocks; ++b) {
      int32x4_t lo, hi;
      detail::Products(vld1q_s16(imp + 8 * b), v, lo, hi);
      // Each product >> 15 kept to its low 16 bits, as the wrapping sum sees it.
      acc[b] = vaddq_s16(acc[b], vshrn_high_n_s32(vshrn_n_s32(lo, 15), hi, 15));
    }
  }
  for (int32_t b = 0; b < blocks; ++b) vst1q_s16(out + 8 * b, acc[b]);
}

inline void ScaleQ12Wrap(int16_t* x, int16_t g, int32_t n) {
  for (int32_t i = 0; i < n; i += 8) {
    int32x4_t lo, hi;
    detail::Products(vld1q_s16(x + i), g, lo, hi);
    vst1q_s16(x + i, vshrn_high_n_s32(vshrn_n_s32(lo, 12), hi, 12));
  }
}

inline void ScaleQ12Sat(int16_t* x, const int16_t* g, int32_t n) {
  for (int32_t i = 0; i < n; i += 8) {
    const int16x8_t xv = vld1q_s16(x + i), gv = vld1q_s16(g + i);
    const int32x4_t lo = vmull_s16(vget_low_s16(xv), vget_low_s16(gv));
    const int32x4_t hi = vmull_high_s16(xv, gv);
    vst1q_s16(x + i, vqshrn_high_n_s32(vqshrn_n_s32(lo, 12), hi, 12));
  }
}

inline void TiltCompensate(int16_t* r, int32_t tilt, int32_t before, int32_t n) {
  // From the top block down, so that each block still reads the samples below it unchanged.
  const int16_t tilt16 = static_cast<int16_t>(tilt);
  for (int32_t i = n - 8; i >= 0; i -= 8) {
    const int16x8_t cur = vld1q_s16(r + i);
    const int16x8_t prev =
        i > 0 ? vld1q_s16(r + i - 1) : vextq_s16(vdupq_n_s16(static_cast<int16_t>(before)), cur, 7);
    int32x4_t lo, hi;
    detail::Products(prev, tilt16, lo, hi);
    vst1q_s16(r + i, vsubq_s16(cur, vshrn_high_n_s32(vshrn_n_s32(lo, 15), hi, 15)));
  }
}

inline void HighPassZeros(const int16_t* x, int32_t* z, int32_t n) {
  for (int32_t i = 0; i < n; i += 8) {
    const int16x8_t x0 = vld1q_s16(x + i), x1 = vld1q_s16(x + i - 1), x2 = vld1q_s16(x + i - 2);
    int32x4_t lo = vmull_n_s16(vget_low_s16(x0), 7699);
    int32x4_t hi = vmull_high_n_s16(x0, 7699);
    lo = vmlal_n_s16(lo, vget_low_s16(x1), -15398);
    hi = vmlal_high_n_s16(hi, x1, -15398);
    lo = vmlal_n_s16(lo, vget_low_s16(x2), 7699);
    hi = vmlal_high_n_s16(hi, x2, 7699);
    vst1q_s32(z + i, lo);
    vst1q_s32(z + i + 4, hi);
  }
}

inline void RoundToOutput(const int32_t* t, int16_t* y, int32_t n) {
  const int32x4_t round = vdupq_n_s32(2048);
  const int16x8_t mask = vdupq_n_s16(static_cast<int16_t>(0xFFF8));
  for (int32_t i = 0; i < n; i += 8) {
    const int32x4_t lo = vaddq_s32(vld1q_s32(t + i), round);
    const int32x4_t hi = vaddq_s32(vld1q_s32(t + i + 4), round);
    vst1q_s16(y + i, vandq_s16(vqshrn_high_n_s32(vqshrn_n_s32(lo, 12), hi, 12), mask));
  }
}

}  // namespace amrnb::neon

#endif  // AMRDEC_ARM_VECTOR_KERNELS_NEON_H
