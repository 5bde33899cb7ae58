// SSE2 forms of the vector kernels (see vector_kernels.h for their contracts). Each kernel
// gives exactly what its scalar reference form in amrnb::scalar gives.
#ifndef AMRDEC_X86_VECTOR_KERNELS_SSE2_H
#define AMRDEC_X86_VECTOR_KERNELS_SSE2_H

#include <emmintrin.h>

#include <bit>
#include <cstdint>
#include <cstring>

#include "../fixed_point.h"

// The scalar reference forms, which some kernels here fall back to. vector_kernels.h names
// this namespace when it includes this header, so it is declared before that header is read.
namespace amrnb::sse2 {}
#include "../vector_kernels.h"

namespace amrnb::sse2 {

namespace detail {

// The coefficients a1..a10 read zero-padded, c[i] = a_(i+1) and 0 beyond a10, eight at a time
// from c[m]: built in registers from two loads of `a`, so that a filter's first outputs do not
// wait for a copy through memory.
class PaddedCoefficients {
 public:
  explicit PaddedCoefficients(const int16_t* a) : lo_(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a))) {
    int32_t top;  // a9, a10
    std::memcpy(&top, a + 8, sizeof top);
    hi_ = _mm_cvtsi32_si128(top);
  }
  // c[m..m+7].
  template <int m>
  __m128i From() const {
    if constexpr (m == 0) {
      return lo_;
    } else if constexpr (m < 8) {
      return _mm_or_si128(_mm_srli_si128(lo_, 2 * m), _mm_slli_si128(hi_, 16 - 2 * m));
    } else {
      return _mm_srli_si128(hi_, 2 * (m - 8));
    }
  }

 private:
  __m128i lo_, hi_;
};

// The synthesis filter works on blocks of four outputs. Everything a block needs from outputs
// before it is one vector of sums (five pair products); the block's own outputs then follow
// one by one, each taking its products off the outputs above it in the block. One filter on
// its way through the blocks: its coefficients and history.
class SynthesisBlocks {
 public:
  SynthesisBlocks(const int16_t* a, const int16_t* x, int16_t* y) : x_(x), y_(y) {
    // The ten history samples y[n-10..n-1] form five pairs; pair j, (y[n-10+2j], y[n-9+2j]),
    // meets (a_(10+k-2j), a_(9+k-2j)) for output n+k, with a_m = 0 above a10. Reading the
    // coefficients zero-padded, lane k of pair j's operand is (c[9-2j+k], c[8-2j+k]).
    const PaddedCoefficients c(a);
    coef_[0] = _mm_unpacklo_epi16(c.From<9>(), c.From<8>());
    coef_[1] = _mm_unpacklo_epi16(c.From<7>(), c.From<6>());
    coef_[2] = _mm_unpacklo_epi16(c.From<5>(), c.From<4>());
    coef_[3] = _mm_unpacklo_epi16(c.From<3>(), c.From<2>());
    coef_[4] = _mm_unpacklo_epi16(c.From<1>(), c.From<0>());
    // What output n+j takes from output n+k of the same block (j > k): a_(j-k) in lane j, in
    // the half of the lane that meets y[n+k] when the 32-bit pair (y[n], y[n+1]) or
    // (y[n+2], y[n+3]) is broadcast.
    from0_ = _mm_set_epi32(static_cast<uint16_t>(a[2]), static_cast<uint16_t>(a[1]), static_cast<uint16_t>(a[0]), 0);
    from1_ = _mm_slli_epi32(_mm_slli_si128(from0_, 4), 16);
    from2_ = _mm_slli_si128(from0_, 8);
    // The history stays in registers from block to block (reloading it would wait for the
    // block's own stores): recent = y[n-8..n-1]; older = y[n-12..n-5], whose pair in 32-bit
    // lane 1 is (y[n-10], y[n-9]).
    recent_ = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y - 8));
    int32_t oldest_pair;
    std::memcpy(&oldest_pair, y - 10, sizeof oldest_pair);
    older_ = _mm_shuffle_epi32(_mm_cvtsi32_si128(oldest_pair), 0x00);
  }

  // Outputs i..i+3.
  void Block(int32_t i) {
    const __m128i zero = _mm_setzero_si128();
    __m128i past = _mm_madd_epi16(_mm_shuffle_epi32(older_, 0x55), coef_[0]);
    past = _mm_add_epi32(past, _mm_madd_epi16(_mm_shuffle_epi32(recent_, 0x00), coef_[1]));
    past = _mm_add_epi32(past, _mm_madd_epi16(_mm_shuffle_epi32(recent_, 0x55), coef_[2]));
    past = _mm_add_epi32(past, _mm_madd_epi16(_mm_shuffle_epi32(recent_, 0xAA), coef_[3]));
    past = _mm_add_epi32(past, _mm_madd_epi16(_mm_shuffle_epi32(recent_, 0xFF), coef_[4]));

    // 4096 x[n+k] + 2048 less everything from before the block.
    const __m128i x16 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(x_ + i));
    __m128i acc = _mm_sub_epi32(
        _mm_add_epi32(_mm_srai_epi32(_mm_unpacklo_epi16(zero, x16), 4), _mm_set1_epi32(2048)), past);

    // Output k is final once outputs 0..k-1 of the block are subtracted: saturate all lanes,
    // broadcast output k and take its products off the lanes above it.
    __m128i out = _mm_packs_epi32(_mm_srai_epi32(acc, 12), zero);
    acc = _mm_sub_epi32(acc, _mm_madd_epi16(_mm_shuffle_epi32(out, 0x00), from0_));
    out = _mm_packs_epi32(_mm_srai_epi32(acc, 12), zero);
    acc = _mm_sub_epi32(acc, _mm_madd_epi16(_mm_shuffle_epi32(out, 0x00), from1_));
    out = _mm_packs_epi32(_mm_srai_epi32(acc, 12), zero);
    acc = _mm_sub_epi32(acc, _mm_madd_epi16(_mm_shuffle_epi32(out, 0x55), from2_));
    out = _mm_packs_epi32(_mm_srai_epi32(acc, 12), zero);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(y_ + i), out);

    older_ = recent_;
    recent_ = _mm_unpacklo_epi64(_mm_srli_si128(recent_, 8), out);
  }

 private:
  const int16_t* x_;
  int16_t* y_;
  __m128i coef_[5], from0_, from1_, from2_, recent_, older_;
};

// The synthesis filter with a shorter chain from one output to the next, for a filter that runs
// alone (two or four side by side keep the processor busy with SynthesisBlocks already, whose
// fewer operations then tell).
//
// An output is taken into the sums of the outputs after it straight from its 32-bit lane,
// without packing to 16 bits first: the lane holds the sign-extended output, so its low half
// is the output as long as no output saturates. Each output then costs one broadcast, one
// multiply-add, one subtraction and one shift after the one before it, across blocks too: the
// last two outputs of a block reach the next block the same way, and only older outputs go
// through the packed history. A block whose outputs leave the 16-bit range (rare: saturated
// speech) is computed again exactly, one output at a time, and the filter state reloaded.
class SynthesisSteps {
 public:
  SynthesisSteps(const int16_t* a, const int16_t* x, int16_t* y) : a_(a), x_(x), y_(y) {
    // Pair j of the packed history, (y[n-10+2j], y[n-9+2j]) for j = 0..3, meets
    // (a_(10+k-2j), a_(9+k-2j)) for output n+k, with a_m = 0 above a10 (c[m] = a_(m+1)).
    const PaddedCoefficients c(a);
    pair_[0] = _mm_unpacklo_epi16(c.From<9>(), c.From<8>());
    pair_[1] = _mm_unpacklo_epi16(c.From<7>(), c.From<6>());
    pair_[2] = _mm_unpacklo_epi16(c.From<5>(), c.From<4>());
    pair_[3] = _mm_unpacklo_epi16(c.From<3>(), c.From<2>());
    // A single output, in the low half of a 32-bit lane, meets a_(d+k) in lane k when it lies
    // d samples before output n: d = 2 and d = 1 for the last two outputs of the block before;
    // within the block, output n+m meets a_(k-m) in lanes k > m.
    const __m128i zero = _mm_setzero_si128();
    back2_ = _mm_unpacklo_epi16(c.From<1>(), zero);
    back1_ = _mm_unpacklo_epi16(c.From<0>(), zero);
    in0_ = _mm_slli_si128(back1_, 4);
    in1_ = _mm_slli_si128(back1_, 8);
    in2_ = _mm_slli_si128(back1_, 12);
    Load(0);
  }

  void Block(int32_t i) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i x16 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(x_ + i));
    // 4096 x[n+k] + 2048 less everything from y[n-10..n-2]; then the chain from y[n-1] on.
    __m128i past = _mm_madd_epi16(_mm_shuffle_epi32(history_, 0x00), pair_[0]);
    past = _mm_add_epi32(past, _mm_madd_epi16(_mm_shuffle_epi32(history_, 0x55), pair_[1]));
    past = _mm_add_epi32(past, _mm_madd_epi16(_mm_shuffle_epi32(history_, 0xAA), pair_[2]));
    past = _mm_add_epi32(past, _mm_madd_epi16(_mm_shuffle_epi32(history_, 0xFF), pair_[3]));
    past = _mm_add_epi32(past, _mm_madd_epi16(_mm_shuffle_epi32(last_, 0xAA), back2_));
    __m128i acc = _mm_sub_epi32(
        _mm_add_epi32(_mm_srai_epi32(_mm_unpacklo_epi16(zero, x16), 4), _mm_set1_epi32(2048)), past);
    acc = _mm_sub_epi32(acc, _mm_madd_epi16(_mm_shuffle_epi32(last_, 0xFF), back1_));
    __m128i v = _mm_srai_epi32(acc, 12);  // output n final
    acc = _mm_sub_epi32(acc, _mm_madd_epi16(_mm_shuffle_epi32(v, 0x00), in0_));
    v = _mm_srai_epi32(acc, 12);  // outputs n, n+1 final
    const __m128i first_pair = _mm_packs_epi32(v, v);
    acc = _mm_sub_epi32(acc, _mm_madd_epi16(_mm_shuffle_epi32(v, 0x55), in1_));
    v = _mm_srai_epi32(acc, 12);
    acc = _mm_sub_epi32(acc, _mm_madd_epi16(_mm_shuffle_epi32(v, 0xAA), in2_));
    v = _mm_srai_epi32(acc, 12);  // all four final

    // In range when v + 32768 has no bits above the low 16.
    const __m128i above = _mm_srli_epi32(_mm_add_epi32(v, _mm_set1_epi32(32768)), 16);
    if (_mm_movemask_epi8(_mm_cmpeq_epi32(above, zero)) != 0xFFFF) [[unlikely]] {
      Exact(i);
      Load(i + 4);
      return;
    }
    _mm_storel_epi64(reinterpret_cast<__m128i*>(y_ + i), _mm_packs_epi32(v, v));
    // history_ moves on by four outputs: (y[n-6], y[n-5]), (y[n-4], y[n-3]), then
    // (y[n-2], y[n-1]) and (y[n], y[n+1]).
    const __m128i newer = _mm_unpacklo_epi32(_mm_srli_si128(_mm_packs_epi32(last_, last_), 4), first_pair);
    history_ = _mm_unpacklo_epi64(_mm_srli_si128(history_, 8), newer);
    last_ = v;
  }

 private:
  // The filter state before output i from the outputs in memory: history_ holds
  // y[i-10..i-3] as four pairs, last_ y[i-4..i-1] sign-extended to 32-bit lanes.
  void Load(int32_t i) {
    history_ = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y_ + i - 10));
    const __m128i recent = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(y_ + i - 4));
    last_ = _mm_srai_epi32(_mm_unpacklo_epi16(recent, recent), 16);
  }

  // Outputs i..i+3 one at a time, with saturation, by the reference form (vector_kernels.h
  // includes this header after it).
  void Exact(int32_t i) { scalar::SynthesisFilter(a_, x_ + i, y_ + i, 4); }

  const int16_t* a_;
  const int16_t* x_;
  int16_t* y_;
  __m128i pair_[4], back2_, back1_, in0_, in1_, in2_, history_, last_;
};

// Four 32-bit lanes holding the 16-bit pair (lo, hi) each, the operand of _mm_madd_epi16.
inline __m128i PairOf(int32_t lo, int32_t hi) {
  return _mm_set1_epi32(static_cast<int32_t>((static_cast<uint32_t>(hi) << 16) | static_cast<uint16_t>(lo)));
}

// Sum of the four lanes, wrapping.
inline int32_t LaneSum(__m128i v) {
  v = _mm_add_epi32(v, _mm_shuffle_epi32(v, 0x4E));
  v = _mm_add_epi32(v, _mm_shuffle_epi32(v, 0xB1));
  return _mm_cvtsi128_si32(v);
}

// Adds c_lo * x[k] + c_hi * x[k+1] for k = 0..7 to the two four-lane sums.
inline void MaddPair(const int16_t* x, __m128i pair, __m128i& lo, __m128i& hi) {
  const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x));
  const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + 1));
  lo = _mm_add_epi32(lo, _mm_madd_epi16(_mm_unpacklo_epi16(a, b), pair));
  hi = _mm_add_epi32(hi, _mm_madd_epi16(_mm_unpackhi_epi16(a, b), pair));
}

// Low 16 bits of each 32-bit lane, as a signed value.
inline __m128i Wrap16Lanes(__m128i v) { return _mm_srai_epi32(_mm_slli_epi32(v, 16), 16); }

// The full 32-bit products of eight 16-bit pairs, as two four-lane vectors.
inline void Products(__m128i a, __m128i b, __m128i& lo, __m128i& hi) {
  const __m128i pl = _mm_mullo_epi16(a, b);
  const __m128i ph = _mm_mulhi_epi16(a, b);
  lo = _mm_unpacklo_epi16(pl, ph);
  hi = _mm_unpackhi_epi16(pl, ph);
}

}  // namespace detail

template <typename Side>
inline void SynthesisFilterBeside(const int16_t* a, const int16_t* x, int16_t* y, int32_t n, Side&& side) {
  detail::SynthesisSteps f(a, x, y);
  // Unrolled over a subframe's ten blocks, the history passes from block to block in
  // registers without copies.
#pragma GCC unroll 2
  for (int32_t i = 0; i < n; i += 4) {
    f.Block(i);
    side(i, i + 4);
  }
}

inline void SynthesisFilter(const int16_t* a, const int16_t* x, int16_t* y, int32_t n) {
  SynthesisFilterBeside(a, x, y, n, [](int32_t, int32_t) {});
}

// Two filters block by block in turn (see SynthesisFilter4): about 10% faster than two
// SynthesisSteps side by side, which alone is about 15% faster than SynthesisBlocks.
template <typename Side>
inline void SynthesisFilter2Beside(const int16_t* a0, const int16_t* x0, int16_t* y0, const int16_t* a1,
                                   const int16_t* x1, int16_t* y1, int32_t n, Side&& side) {
  detail::SynthesisBlocks f0(a0, x0, y0), f1(a1, x1, y1);
#pragma GCC unroll 2
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

// Four filters block by block in turn: each filter's recursion is one long chain of dependent
// steps, and four of them side by side keep the processor busy while each chain waits.
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
  // Pair p, (a_(10-2p), a_(9-2p)), meets (x[n-10+2p], x[n-9+2p]): the coefficients reversed.
  __m128i r = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 2));  // a3..a10
  r = _mm_shufflehi_epi16(_mm_shufflelo_epi16(_mm_shuffle_epi32(r, 0x4E), 0x1B), 0x1B);  // a10..a3
  int32_t a21;  // (a1, a2) as they lie, swapped below
  std::memcpy(&a21, a, sizeof a21);
  const __m128i last = _mm_shufflelo_epi16(_mm_cvtsi32_si128(a21), 0xE1);  // (a2, a1)
  const __m128i pairs[5] = {_mm_shuffle_epi32(r, 0x00), _mm_shuffle_epi32(r, 0x55), _mm_shuffle_epi32(r, 0xAA),
                            _mm_shuffle_epi32(r, 0xFF), _mm_shuffle_epi32(last, 0x00)};
  const __m128i round = _mm_set1_epi32(2048);
  const __m128i zero = _mm_setzero_si128();
  for (int32_t i = 0; i < n; i += 8) {
    // x << 16 in each lane, then down by 4: 4096 x.
    const __m128i xi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + i));
    __m128i lo = _mm_add_epi32(_mm_srai_epi32(_mm_unpacklo_epi16(zero, xi), 4), round);
    __m128i hi = _mm_add_epi32(_mm_srai_epi32(_mm_unpackhi_epi16(zero, xi), 4), round);
    for (int p = 0; p < 5; ++p) detail::MaddPair(x + i - 10 + 2 * p, pairs[p], lo, hi);
    lo = detail::Wrap16Lanes(_mm_srai_epi32(lo, 12));
    hi = detail::Wrap16Lanes(_mm_srai_epi32(hi, 12));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(y + i), _mm_packs_epi32(lo, hi));
  }
}

inline uint64_t SumSquares(const int16_t* x, int32_t n) {
  // A lane of _mm_madd_epi16(x, x) is at most 2 * 32768^2 = 2^31: exact when read unsigned.
  const __m128i zero = _mm_setzero_si128();
  __m128i acc = zero;
  for (int32_t i = 0; i < n; i += 8) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + i));
    const __m128i sq = _mm_madd_epi16(v, v);
    acc = _mm_add_epi64(acc, _mm_add_epi64(_mm_unpacklo_epi32(sq, zero), _mm_unpackhi_epi32(sq, zero)));
  }
  alignas(16) uint64_t half[2];
  _mm_store_si128(reinterpret_cast<__m128i*>(half), acc);
  return half[0] + half[1];
}

inline int32_t DotWrap32(const int16_t* x, const int16_t* y, int32_t n) {
  __m128i acc = _mm_setzero_si128();
  for (int32_t i = 0; i < n; i += 8) {
    acc = _mm_add_epi32(acc, _mm_madd_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(x + i)),
                                            _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + i))));
  }
  return detail::LaneSum(acc);
}

inline void InterpolateBlock(const int16_t* taps, const int16_t* x, int16_t* y, int32_t n) {
  // Pair p, (taps[2p], taps[2p+1]), is 32-bit lane p of the taps read as they lie.
  const __m128i t0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(taps));
  const __m128i t1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(taps + 8));
  const __m128i t2 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(taps + 16));
  const __m128i pairs[10] = {
      _mm_shuffle_epi32(t0, 0x00), _mm_shuffle_epi32(t0, 0x55), _mm_shuffle_epi32(t0, 0xAA),
      _mm_shuffle_epi32(t0, 0xFF), _mm_shuffle_epi32(t1, 0x00), _mm_shuffle_epi32(t1, 0x55),
      _mm_shuffle_epi32(t1, 0xAA), _mm_shuffle_epi32(t1, 0xFF), _mm_shuffle_epi32(t2, 0x00),
      _mm_shuffle_epi32(t2, 0x55)};
  const __m128i round = _mm_set1_epi32(16384);
  // U(s) holds (x[s+j], x[s+j+1]) in lane j = 0..3. Outputs i..i+3 take pair p against
  // U(i+2p), outputs i+4..i+7 against U(i+4+2p): a block needs u_q = U(i+2q) for q = 0..11.
  // Two neighbouring loads at s give U(s) and U(s+4); s = i + 8g + 2h (g = 0..2, h = 0..1)
  // covers every u_q. Each block loads its own samples and uses each u_q as soon as it is
  // formed: carried from block to block, the twelve vectors and the ten pairs would not fit
  // the sixteen registers, and the spills cost more than the loads.
  for (int32_t i = 0; i < n; i += 8) {
    __m128i lo = round, hi = round;
    for (int g = 0; g < 3; ++g) {
      for (int h = 0; h < 2; ++h) {
        const int32_t s = i + 8 * g + 2 * h;
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + s));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + s + 1));
        const int q = 4 * g + h;  // U(s) is u_q, U(s+4) is u_(q+2)
        const __m128i first = _mm_unpacklo_epi16(a, b);
        const __m128i fifth = _mm_unpackhi_epi16(a, b);
        if (q <= 9) lo = _mm_add_epi32(lo, _mm_madd_epi16(first, pairs[q]));
        if (q >= 2) hi = _mm_add_epi32(hi, _mm_madd_epi16(first, pairs[q - 2]));
        if (q + 2 <= 9) lo = _mm_add_epi32(lo, _mm_madd_epi16(fifth, pairs[q + 2]));
        hi = _mm_add_epi32(hi, _mm_madd_epi16(fifth, pairs[q]));
      }
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(y + i),
                     _mm_packs_epi32(_mm_srai_epi32(lo, 15), _mm_srai_epi32(hi, 15)));
  }
}

inline void CombineExcitation(int16_t* x, const int16_t* u, int32_t gx, int32_t gu, int32_t shift, int32_t n) {
  const __m128i gains = detail::PairOf(gx, gu);
  const __m128i count = _mm_cvtsi32_si128(shift);
  const __m128i round = _mm_set1_epi32(0x4000);
  for (int32_t i = 0; i < n; i += 8) {
    const __m128i xv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + i));
    const __m128i uv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(u + i));
    __m128i lo = _mm_sll_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(xv, uv), gains), count);
    __m128i hi = _mm_sll_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(xv, uv), gains), count);
    lo = _mm_srai_epi32(_mm_add_epi32(lo, round), 15);
    hi = _mm_srai_epi32(_mm_add_epi32(hi, round), 15);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(x + i), _mm_packs_epi32(lo, hi));
  }
}

inline void EmphasisePitch(const int16_t* exc, const int16_t* total, int16_t* out, int32_t sharp,
                           int32_t gain, int32_t s, int32_t n) {
  const __m128i sharp_v = _mm_set1_epi16(static_cast<int16_t>(sharp));
  const __m128i gain_v = _mm_set1_epi16(static_cast<int16_t>(gain));
  const __m128i round = _mm_set1_epi32(1 << (s - 1));
  const __m128i count = _mm_cvtsi32_si128(s);
  for (int32_t i = 0; i < n; i += 8) {
    __m128i lo, hi;
    detail::Products(_mm_loadu_si128(reinterpret_cast<const __m128i*>(exc + i)), sharp_v, lo, hi);
    // (exc * sharp) >> 15 lies within 16 bits for sharp below 32768.
    const __m128i t = _mm_packs_epi32(_mm_srai_epi32(lo, 15), _mm_srai_epi32(hi, 15));
    detail::Products(t, gain_v, lo, hi);
    lo = _mm_sra_epi32(_mm_add_epi32(lo, round), count);
    hi = _mm_sra_epi32(_mm_add_epi32(hi, round), count);
    // total + r needs 17 bits: add in 32-bit lanes, then saturate.
    const __m128i tot = _mm_loadu_si128(reinterpret_cast<const __m128i*>(total + i));
    const __m128i zero = _mm_setzero_si128();
    lo = _mm_add_epi32(lo, _mm_srai_epi32(_mm_unpacklo_epi16(zero, tot), 16));
    hi = _mm_add_epi32(hi, _mm_srai_epi32(_mm_unpackhi_epi16(zero, tot), 16));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packs_epi32(lo, hi));
  }
}

inline void CircularConvolveQ15(const int16_t* x, const int16_t* imp2, int16_t* out, int32_t n) {
  // The output stays in registers while the pulses are added: five vectors for 40 samples.
  constexpr int32_t kMaxBlocks = 5;
  const int32_t blocks = n / 8;
  const __m128i zero = _mm_setzero_si128();
  __m128i acc[kMaxBlocks];
  uint64_t pulses = 0;
  for (int32_t b = 0; b < blocks; ++b) {
    acc[b] = zero;
    // One bit per sample that is zero, from the bytes of the packed comparison.
    const __m128i is_zero = _mm_cmpeq_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(x + 8 * b)), zero);
    const uint32_t zeros = static_cast<uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(is_zero, zero)));
    pulses |= static_cast<uint64_t>(~zeros & 0xFFu) << (8 * b);
  }
  for (; pulses != 0; pulses &= pulses - 1) {
    const int32_t p = std::countr_zero(pulses);
    const __m128i v = _mm_set1_epi16(x[p]);
    const int16_t* imp = imp2 + n - p;
    for (int32_t b = 0; b < blocks; ++b) {
      const __m128i h = _mm_loadu_si128(reinterpret_cast<const __m128i*>(imp + 8 * b));
      // (h * v) >> 15 kept to 16 bits: the product's high half shifted up by one, above the
      // top bit of its low half.
      const __m128i term = _mm_or_si128(_mm_slli_epi16(_mm_mulhi_epi16(h, v), 1),
                                        _mm_srli_epi16(_mm_mullo_epi16(h, v), 15));
      acc[b] = _mm_add_epi16(acc[b], term);
    }
  }
  for (int32_t b = 0; b < blocks; ++b) _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8 * b), acc[b]);
}

inline void ScaleQ12Wrap(int16_t* x, int16_t g, int32_t n) {
  const __m128i gv = _mm_set1_epi16(g);
  for (int32_t i = 0; i < n; i += 8) {
    __m128i lo, hi;
    detail::Products(_mm_loadu_si128(reinterpret_cast<const __m128i*>(x + i)), gv, lo, hi);
    lo = detail::Wrap16Lanes(_mm_srai_epi32(lo, 12));
    hi = detail::Wrap16Lanes(_mm_srai_epi32(hi, 12));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(x + i), _mm_packs_epi32(lo, hi));
  }
}

inline void ScaleQ12Sat(int16_t* x, const int16_t* g, int32_t n) {
  for (int32_t i = 0; i < n; i += 8) {
    __m128i lo, hi;
    detail::Products(_mm_loadu_si128(reinterpret_cast<const __m128i*>(x + i)),
                 _mm_loadu_si128(reinterpret_cast<const __m128i*>(g + i)), lo, hi);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(x + i),
                     _mm_packs_epi32(_mm_srai_epi32(lo, 12), _mm_srai_epi32(hi, 12)));
  }
}

inline void TiltCompensate(int16_t* r, int32_t tilt, int32_t before, int32_t n) {
  // From the top block down, so that each block still reads the samples below it unchanged.
  // A 16-bit product shifted right by 15 fits in 16 bits: (high << 1) | (low >> 15).
  const __m128i tilt_v = _mm_set1_epi16(static_cast<int16_t>(tilt));
  for (int32_t i = n - 8; i >= 0; i -= 8) {
    __m128i prev;
    if (i > 0) {
      prev = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r + i - 1));
    } else {
      prev = _mm_insert_epi16(_mm_slli_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(r)), 2), before, 0);
    }
    const __m128i t = _mm_or_si128(_mm_slli_epi16(_mm_mulhi_epi16(prev, tilt_v), 1),
                                   _mm_srli_epi16(_mm_mullo_epi16(prev, tilt_v), 15));
    const __m128i cur = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r + i));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(r + i), _mm_sub_epi16(cur, t));
  }
}

inline void HighPassZeros(const int16_t* x, int32_t* z, int32_t n) {
  const __m128i outer = detail::PairOf(7699, -15398);  // (x[k], x[k-1])
  const __m128i inner = detail::PairOf(7699, 0);       // (x[k-2], x[k-1]) with x[k-1] unused
  for (int32_t i = 0; i < n; i += 8) {
    const __m128i x0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + i));
    const __m128i x1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + i - 1));
    const __m128i x2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(x + i - 2));
    const __m128i lo = _mm_add_epi32(_mm_madd_epi16(_mm_unpacklo_epi16(x0, x1), outer),
                                     _mm_madd_epi16(_mm_unpacklo_epi16(x2, x1), inner));
    const __m128i hi = _mm_add_epi32(_mm_madd_epi16(_mm_unpackhi_epi16(x0, x1), outer),
                                     _mm_madd_epi16(_mm_unpackhi_epi16(x2, x1), inner));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(z + i), lo);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(z + i + 4), hi);
  }
}

inline void RoundToOutput(const int32_t* t, int16_t* y, int32_t n) {
  const __m128i round = _mm_set1_epi32(2048);
  const __m128i mask = _mm_set1_epi16(static_cast<int16_t>(0xFFF8));
  for (int32_t i = 0; i < n; i += 8) {
    const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + i));
    const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + i + 4));
    const __m128i v = _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(lo, round), 12),
                                      _mm_srai_epi32(_mm_add_epi32(hi, round), 12));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(y + i), _mm_and_si128(v, mask));
  }
}

}  // namespace amrnb::sse2

#endif  // AMRDEC_X86_VECTOR_KERNELS_SSE2_H
