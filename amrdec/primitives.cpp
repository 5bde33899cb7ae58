// Arithmetic and filter primitives of the decoder: division and normalisation, energies,
// table-interpolated log2 / pow2 / square roots, the order-10 synthesis and inverse filters,
// LSF/LSP/LP conversions and the comfort-noise pulse generator.
//
// Everything is plain 32-bit two's-complement arithmetic; a value saturates only where the
// routine's comment says so, and sums that may exceed 32 bits wrap through the `_wrap`
// helpers instead of overflowing.
#include <algorithm>
#include <bit>
#include <cassert>

#include "fixed_point.h"
#include "stages.h"
#include "vector_kernels.h"
#include "tables/tables.h"

namespace amrnb {

// Restoring division giving 15 quotient bits: num / den in Q15, 0..32767. Every caller passes
// 0 <= num and 0 < den.
int32_t div_s(int32_t num, int32_t den) {
  assert(num >= 0 && den > 0);
  if (num >= den) return MAX_16;
  // Here 0 <= num < den, and the fifteen restoring steps yield floor(num * 2^15 / den): one
  // divide, in 32 bits where num << 15 fits them (the common case), else in 64.
  if (num < 0x10000) return static_cast<int32_t>((static_cast<uint32_t>(num) << 15) / static_cast<uint32_t>(den));
  return static_cast<int32_t>((static_cast<int64_t>(num) << 15) / den);
}

// Left shifts that bring |x| (one's complement for negatives) to 0x40000000 or above.
// 0 and -1 give 31.
int32_t norm_l(int32_t x) {
  const uint32_t v = static_cast<uint32_t>(x < 0 ? ~x : x);
  return v == 0 ? 31 : std::countl_zero(v) - 1;
}

// Plain sum of squares of n samples (40 or 160: a positive multiple of 8); wraps modulo 2^32
// when the true sum does not fit.
int32_t sum_sq(int32_t n, const int16_t* x) {
  assert(n > 0 && n % 8 == 0);
  return static_cast<int32_t>(static_cast<uint32_t>(kernels::SumSquares(x, n)));
}

// Sum of squares that stops at 0x3FFFFFFF (half the saturated doubled energy); n as for sum_sq.
// The running sum never falls, so stopping at the limit gives the exact sum capped there.
int32_t sum_sq_sat(int32_t n, const int16_t* x) {
  assert(n > 0 && n % 8 == 0);
  return static_cast<int32_t>(std::min<uint64_t>(kernels::SumSquares(x, n), 0x3FFFFFFF));
}

// Doubled energy of a subframe scaled down by 4, saturated at 0x7FFFFFFF.
int32_t energy_old(const int16_t* x) {
  uint32_t acc = 0;  // at most 40 * 8192^2, which fits in 32 unsigned bits
  for (int i = 0; i < L_SUBFR; ++i) {
    const int32_t s = x[i] >> 2;
    acc += static_cast<uint32_t>(s * s);
  }
  if (acc > 0x3FFFFFFFu) return MAX_32;
  return static_cast<int32_t>(acc * 2u);
}

// The energy measure of agc and agc2: the sum of squares / 8, or energy_old where that sum
// reaches 0x3FFFFFFF. It is shifted left by norm_l(energy) - headroom (right where that count
// is negative) and rounded to its high 16 bits, 32767 where the rounding would pass
// 0x7FFFFFFF. A silent subframe (a measure of 0) gives 0 with *exp = 0; any other gives at
// least 0x2000, since headroom is 0 or 1.
int32_t AgcNormEnergy(const int16_t* x, int32_t headroom, int32_t* exp) {
  const uint64_t sq = kernels::SumSquares(x, L_SUBFR);
  int32_t s = sq >= 0x3FFFFFFF ? energy_old(x) : static_cast<int32_t>(sq) >> 3;
  if (s == 0) {
    *exp = 0;
    return 0;
  }
  const int32_t e = norm_l(s) - headroom;
  s = e >= 0 ? shl_wrap32(s, e) : s >> -e;
  *exp = e;
  return round16_sat(s);
}

namespace {

// Linear interpolation shared by the table-driven routines: table entry i of a normalised
// value y plus the fraction taken from the 16 bits below the index. Result in Q16 of the table.
inline int32_t InterpolateQ16(const int16_t* tbl, int32_t i, int32_t y) {
  const int32_t a = (y >> 9) & 0xFFFE;
  return (tbl[i] << 16) - (tbl[i] - tbl[i + 1]) * a;
}

}  // namespace

// 1 / sqrt(x): Q30 result for x in Q0; 0x3FFFFFFF for x <= 0.
int32_t Inv_sqrt(int32_t x) {
  if (x <= 0) return 0x3FFFFFFF;
  const int32_t e = norm_l(x);
  int32_t y = x << e;
  const int32_t exp = 30 - e;
  if ((exp & 1) == 0) y >>= 1;
  const int32_t i = y >> 25;  // 16..63
  const int32_t t = InterpolateQ16(inv_sqrt_tbl, i - 16, y);
  return t >> ((exp >> 1) + 1);
}

void Log2_norm(int32_t x, int32_t e, int32_t* exponent, int32_t* fraction) {
  if (x <= 0) {
    *exponent = 0;
    *fraction = 0;
    return;
  }
  const int32_t i = x >> 25;  // 32..63 for a normalised x
  const int32_t t = InterpolateQ16(log2_tbl, i - 32, x);
  *fraction = t >> 16;
  *exponent = 30 - e;
}

void Log2(int32_t x, int32_t* exponent, int32_t* fraction) {
  if (x <= 0) {
    *exponent = 0;
    *fraction = 0;
    return;
  }
  const int32_t e = norm_l(x);
  Log2_norm(x << e, e, exponent, fraction);
}

// 2^(exponent + fraction / 32768), rounded to nearest (halves upward); 0 below 2^-1.
int32_t Pow2(int32_t exponent, int32_t fraction) {
  const int32_t i = fraction >> 10;             // 0..31
  const int32_t a = (fraction & 0x3FF) << 5;
  const int32_t t = (pow2_tbl[i] << 16) - 2 * (pow2_tbl[i] - pow2_tbl[i + 1]) * a;
  const int32_t s = 30 - exponent;
  if (s > 31) return 0;
  if (s == 0) return t;
  // Exponents above 30 lie outside the decoder's use; saturate like a widening shift would.
  if (s < 0) return sat32(static_cast<int64_t>(t) << std::min(-s, 32));
  return (t >> s) + ((t >> (s - 1)) & 1);
}

// Square root of x as a Q31 mantissa of the normalised value and an even shift count:
// sqrt(x) = mantissa * 2^(-15.5 - shift / 2).
int32_t sqrt_l_exp(int32_t x, int32_t* shift) {
  if (x <= 0) {
    *shift = 0;
    return 0;
  }
  const int32_t e = norm_l(x) & ~1;
  const int32_t y = x << e;
  const int32_t i = y >> 25;  // 16..63
  *shift = e;
  return InterpolateQ16(sqrt_l_tbl, i - 16, y);
}

// All-pole synthesis 1/A(z) over one subframe. The sum wraps in 32 bits; each output is
// rounded and clamped to 16 bits. y[-10..-1] hold the previous outputs; y may be x.
void Syn_filt(const int16_t* a, const int16_t* x, int16_t* y) { kernels::SynthesisFilter(a, x, y, L_SUBFR); }

// Inverse filter A(z) over one subframe; x[-10..-1] are the previous input samples.
// The result keeps only its low 16 bits.
void Residu(const int16_t* a, const int16_t* x, int16_t* y) { kernels::ResidualFilter(a, x, y, L_SUBFR); }

// x = round((x * gx + u * gu) << shift >> 15), clamped to 16 bits; the sum and the shift wrap.
// Both gains lie within 16 bits: pitch gains and code gains are limited to 0..32767 where they
// are decoded or concealed.
void Exc_combine(int16_t* x, const int16_t* u, int32_t gx, int32_t gu, int32_t shift) {
  assert(gx >= MIN_16 && gx <= MAX_16 && gu >= MIN_16 && gu <= MAX_16);
  kernels::CombineExcitation(x, u, gx, gu, shift, L_SUBFR);
}

// LSF (Q15 of f/fs, 0..16383) to LSP (cosine, Q15) by table interpolation.
void Lsf_lsp(const int32_t* lsf, int32_t* lsp) {
  for (int i = 0; i < M; ++i) {
    const int32_t f = std::clamp(lsf[i], 0, 16383);  // keeps the lookup inside the table
    const int32_t k = f >> 8;
    const int32_t frac = f & 0xFF;
    lsp[i] = lsp_cos_tbl[k] + (((lsp_cos_tbl[k + 1] - lsp_cos_tbl[k]) * frac) >> 8);
  }
}

// LSP to LSF: one downward search through the cosine table shared by all ten elements,
// then interpolation with the segment's inverse slope.
void Lsp_lsf(const int32_t* lsp, int32_t* lsf) {
  int32_t k = 63;
  for (int i = M - 1; i >= 0; --i) {
    while (k > 0 && lsp_cos_tbl[k] < lsp[i]) --k;
    lsf[i] = ((lsp_slope_tbl[k] * (lsp[i] - lsp_cos_tbl[k]) + 2048) >> 12) + (k << 8);
  }
}

// Enforces a minimum distance of 205 (about 50 Hz) between consecutive LSFs, from the bottom up.
void Reorder_lsf(int32_t* lsf) {
  constexpr int32_t kMinDist = 205;
  int32_t lower = kMinDist;
  for (int i = 0; i < M; ++i) {
    if (lsf[i] < lower) lsf[i] = lower;
    lower = lsf[i] + kMinDist;
  }
}

namespace {

// Sorts N entries into v by an odd-even transposition sort: N rounds of compare-exchanges of
// neighbours, alternately from the first and the second entry, sort any input. Every exchange
// is a min and a max, so no branch depends on the data.
template <int N>
void SortSmall(const int32_t* x, int32_t (&v)[N]) {
  std::copy_n(x, N, v);
  for (int round = 0; round < N; ++round) {
    for (int i = round & 1; i + 1 < N; i += 2) {
      const int32_t lo = std::min(v[i], v[i + 1]);
      v[i + 1] = std::max(v[i], v[i + 1]);
      v[i] = lo;
    }
  }
}

// The median of five or nine entries when the smallest is at least -32767, else kNoMedian.
constexpr int32_t kNoMedian = MIN_32;
template <int N>
int32_t SortedMiddle(const int32_t* x) {
  int32_t v[N];
  SortSmall(x, v);
  return v[0] >= -32767 ? v[N / 2] : kNoMedian;
}

}  // namespace

// (n + 1) / 2 rounds, each taking out the largest remaining entry (scanning from the first,
// a value equal to the current maximum takes over, so the last of equal values goes first);
// the entry taken in the last round is the median.
//
// While every entry is at least -32767 (the search's starting maximum), that is the middle
// value of the sorted entries, which the five- and nine-entry medians of the decoder take from
// a sorting network without branches; an entry below that takes the search itself.
int32_t MedianOf(const int32_t* x, int32_t n) {
  const int32_t sorted = n == 5 ? SortedMiddle<5>(x) : (n == 9 ? SortedMiddle<9>(x) : kNoMedian);
  if (sorted != kNoMedian) return sorted;
  int32_t work[9];
  std::copy_n(x, n, work);
  int32_t chosen = 0;
  for (int32_t round = 0; round < (n + 1) / 2; ++round) {
    int32_t ix = 0;
    for (int32_t i = 0, max = -32767; i < n; ++i) {
      if (work[i] >= max) {
        max = work[i];
        ix = i;
      }
    }
    chosen = work[ix];
    work[ix] = MIN_16;
  }
  return chosen;
}

namespace {

// Twice the Q22 x Q15 product, in Q22: (f * q) >> 14 from the exact 64-bit product.
inline int32_t MulPol(int32_t f, int32_t q) {
  return static_cast<int32_t>(static_cast<uint32_t>((static_cast<int64_t>(f) * q) >> 14));
}

}  // namespace

// Polynomial coefficients f[0..5] (Q22) of prod (1 - 2 q_i z^-1 + z^-2) over the five LSPs
// lsp[0], lsp[2], ..., lsp[8].
void Get_lsp_pol(const int32_t* lsp, int32_t* f) {
  f[0] = 0x400000;  // 1.0
  f[1] = sub_wrap32(0, shl_wrap32(lsp[0], 8));  // -2 * q0
#pragma GCC unroll 4
  for (int i = 2; i <= 5; ++i) {
    const int32_t q = lsp[2 * (i - 1)];
    f[i] = sub_wrap32(shl_wrap32(f[i - 2], 1), MulPol(f[i - 1], q));
    for (int j = i - 1; j >= 2; --j) f[j] = sub_wrap32(add_wrap32(f[j], f[j - 2]), MulPol(f[j - 1], q));
    f[1] = sub_wrap32(f[1], shl_wrap32(q, 8));
  }
}

// LSP vector to LP coefficients a1..a10 (Q12); a0 is not written.
void Lsp_Az(const int32_t* lsp, int16_t* a) {
  int32_t f1[6];
  int32_t f2[6];
  Get_lsp_pol(lsp, f1);
  Get_lsp_pol(lsp + 1, f2);
  for (int i = 5; i >= 1; --i) {
    f1[i] = add_wrap32(f1[i], f1[i - 1]);
    f2[i] = sub_wrap32(f2[i], f2[i - 1]);
  }
  // Q22 -> Q12 with rounding on bit 10.
  auto round_q12 = [](int32_t v) { return wrap16((v >> 11) + ((v >> 10) & 1)); };
  for (int i = 1; i <= 5; ++i) {
    a[i - 1] = round_q12(add_wrap32(f1[i], f2[i]));
    a[10 - i] = round_q12(sub_wrap32(f1[i], f2[i]));
  }
}

// Three quarters of the old vector plus one quarter of the new one.
void Lsp_mix_quarter(const int32_t* old_lsp, const int32_t* new_lsp, int32_t* out) {
  for (int i = 0; i < M; ++i) out[i] = old_lsp[i] + (new_lsp[i] >> 2) - (old_lsp[i] >> 2);
}

// Comfort-noise generator: a 31-bit linear feedback shift register (taps at bits 0 and 28).
// Returns the next no_bits output bits, the first one most significant.
int32_t pseudonoise(int32_t* shift_reg, int32_t no_bits) {
  int32_t s = *shift_reg;
  int32_t out = 0;
  for (int32_t i = 0; i < no_bits; ++i) {
    const int32_t bit = s & 1;
    const int32_t feedback = bit ^ ((s >> 28) & 1);
    out = (out << 1) | bit;
    s >>= 1;
    if (feedback) s |= 0x40000000;
  }
  *shift_reg = s;
  return out;
}

// Comfort-noise innovation: one pulse of +-amplitude/8 on each of the ten tracks k, at a
// random position p * 10 + k (p in 0..3).
void build_CN_code(int32_t amplitude, int32_t* seed, int16_t* code) {
  std::fill_n(code, L_SUBFR, int16_t{0});
  for (int k = 0; k < 10; ++k) {
    const int32_t p = pseudonoise(seed, 2);
    const int32_t sign = pseudonoise(seed, 1);
    code[p * 10 + k] = wrap16(sign ? (amplitude >> 3) : (sub_wrap32(0, amplitude) >> 3));
  }
}

}  // namespace amrnb
