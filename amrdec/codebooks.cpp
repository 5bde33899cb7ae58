// Pitch lag decoding, the adaptive codebook (fractional-lag interpolation of the past
// excitation) and the six algebraic codebook decoders of AMR-NB (3GPP TS 26.073).
//
// Lags are integer part T0 plus a fraction T0_frac in thirds (modes MR475..MR102) or
// sixths (MR122). An algebraic code vector is 40 samples with 2 to 10 signed pulses.
#include "fixed_point.h"
#include "stages.h"
#include "tables/tables.h"
#include "vector_kernels.h"

namespace amrnb {

namespace {

constexpr int32_t PIT_MIN_MR122 = 18;  // lowest start of the MR122 relative lag window
constexpr int32_t ONE_THIRD_Q15 = 10923;  // 1/3 in Q15

// Truncated integer quotient n / d for 0 <= n < d * 32768, formed with the Q15 division.
int32_t Quotient(int32_t n, int32_t d) { return div_s(n, d * 32768); }

void ClearCode(int16_t* cod) {
  for (int i = 0; i < L_SUBFR; ++i) cod[i] = 0;
}

// Pulse of the codebooks of MR475..MR795: a set sign bit gives +1.0, a clear one -1.0 (Q13).
constexpr int16_t PulseQ13(int32_t sign, int32_t k) {
  return ((sign >> k) & 1) ? 8191 : -8192;
}

}  // namespace

void Dec_lag3(int32_t index, int32_t t0_min, int32_t t0_max, int32_t pit_flag, int32_t T0_prev,
              int32_t* T0, int32_t* T0_frac, int32_t flag4) {
  if (pit_flag == 0) {
    // Absolute 8-bit lag: 19 1/3 .. 84 2/3 in thirds, then integer lags 85..143.
    if (index < 197) {
      *T0 = (((index + 2) * ONE_THIRD_Q15) >> 15) + 19;
      *T0_frac = index - 3 * *T0 + 58;
    } else {
      *T0 = index - 112;
      *T0_frac = 0;
    }
    return;
  }
  if (flag4 == 0) {
    // Relative 5- or 6-bit lag in thirds around the window start.
    const int32_t i = (((index + 2) * ONE_THIRD_Q15) >> 15) - 1;
    *T0 = t0_min + i;
    *T0_frac = index - 3 * i - 2;
    return;
  }
  // Relative 4-bit lag: integer steps at the edges, thirds in the middle of the window,
  // centred on the previous lag as far as the window allows.
  int32_t tmp = T0_prev;
  if (tmp - t0_min > 5) tmp = t0_min + 5;
  if (t0_max - tmp > 4) tmp = t0_max - 4;
  if (index < 4) {
    *T0 = tmp - 5 + index;
    *T0_frac = 0;
  } else if (index < 12) {
    const int32_t i = (((index - 5) * ONE_THIRD_Q15) >> 15) - 1;
    *T0 = tmp + i;
    *T0_frac = index - (3 * i + 9);
  } else {
    *T0 = tmp + index - 11;
    *T0_frac = 0;
  }
}

void Dec_lag6(int32_t index, int32_t pit_flag, int32_t* T0, int32_t* T0_frac) {
  if (pit_flag == 0) {
    // Absolute 9-bit lag: 17 3/6 .. 94 3/6 in sixths, then integer lags 95..143.
    if (index < 463) {
      *T0 = Quotient(index + 5, 6) + 17;
      *T0_frac = index - 6 * *T0 + 105;
    } else {
      *T0 = index - 368;
      *T0_frac = 0;
    }
    return;
  }
  // Relative 6-bit lag in sixths; *T0 holds the previous subframe's lag on entry.
  int32_t t0_min = *T0 - 5;
  if (t0_min < PIT_MIN_MR122) t0_min = PIT_MIN_MR122;
  if (t0_min + 9 > PIT_MAX) t0_min = PIT_MAX - 9;
  const int32_t i = Quotient(index + 5, 6) - 1;
  *T0 = t0_min + i;
  *T0_frac = index - 6 * i - 3;
}

void Pred_lt_3or6(int16_t* exc, int32_t T0, int32_t frac, int32_t flag3) {
  int32_t phase = -frac;
  if (flag3 != 0) phase *= 2;  // thirds become sixths
  int32_t ref = -T0;           // reference sample of output 0, relative to exc
  if (phase < 0) {
    phase += 6;
    --ref;
  }
  const int16_t* taps = inter_6_phase + 20 * phase;
  // Outputs are produced in order and read back: for lags below 50 the filter reaches
  // samples written earlier in this same call. Blocks of eight outputs read nothing newer
  // than the block before them once the lag reaches 18 samples, which every decoded lag does.
  if (ref <= -18) {
    kernels::InterpolateBlock(taps, exc + ref - 9, exc, L_SUBFR);
    return;
  }
  for (int32_t j = 0; j < L_SUBFR; ++j) {
    const int16_t* x = exc + j + ref - 9;
    int32_t s = 16384;  // rounding of the Q15 result
    for (int m = 0; m < 20; ++m) s += taps[m] * x[m];
    exc[j] = sat16(s >> 15);
  }
}

void decode_2i40_9bits(int32_t subNr, int32_t sign, int32_t index, int16_t* cod) {
  const int32_t j = ((index >> 6) & 1) * 8 + 2 * subNr;
  const int32_t p0 = 5 * (index & 7) + startPos[j];
  const int32_t p1 = 5 * ((index >> 3) & 7) + startPos[j + 1];
  ClearCode(cod);
  cod[p0] = PulseQ13(sign, 0);
  cod[p1] = PulseQ13(sign, 1);  // a second pulse on the same position replaces the first
}

void decode_2i40_11bits(int32_t sign, int32_t index, int16_t* cod) {
  const int32_t j0 = index & 1;
  const int32_t i0 = (index >> 1) & 7;
  const int32_t j1 = (index >> 4) & 3;
  const int32_t i1 = (index >> 6) & 7;
  const int32_t p0 = 5 * i0 + 1 + 2 * j0;
  const int32_t p1 = j1 == 3 ? 5 * i1 + 4 : 5 * i1 + j1;
  ClearCode(cod);
  cod[p0] = PulseQ13(sign, 0);
  cod[p1] = PulseQ13(sign, 1);
}

void decode_3i40_14bits(int32_t sign, int32_t index, int16_t* cod) {
  const int32_t p0 = 5 * (index & 7);
  const int32_t p1 = 5 * ((index >> 4) & 7) + 1 + 2 * ((index >> 3) & 1);
  const int32_t p2 = 5 * ((index >> 8) & 7) + 2 + 2 * ((index >> 7) & 1);
  ClearCode(cod);
  cod[p0] = PulseQ13(sign, 0);
  cod[p1] = PulseQ13(sign, 1);
  cod[p2] = PulseQ13(sign, 2);
}

void decode_4i40_17bits(int32_t sign, int32_t index, int16_t* cod) {
  const int32_t p0 = 5 * dgray[index & 7];
  const int32_t p1 = 5 * dgray[(index >> 3) & 7] + 1;
  const int32_t p2 = 5 * dgray[(index >> 6) & 7] + 2;
  const int32_t p3 = 5 * dgray[(index >> 10) & 7] + 3 + ((index >> 9) & 1);
  ClearCode(cod);
  cod[p0] = PulseQ13(sign, 0);
  cod[p1] = PulseQ13(sign, 1);
  cod[p2] = PulseQ13(sign, 2);
  cod[p3] = PulseQ13(sign, 3);
}

namespace {

// One 10-bit word of the MR102 codebook: three positions (0..9) of three tracks, jointly
// coded in base 5 on the high bits, with one low bit per position.
void decompress10(int32_t value, int32_t* a, int32_t* b, int32_t* c) {
  int32_t msbs = value >> 3;
  if (msbs > 124) msbs = 124;
  const int32_t lsbs = value & 7;
  const int32_t q = Quotient(msbs, 25);
  const int32_t r = msbs - 25 * q;
  *a = 2 * (r % 5) + (lsbs & 1);
  *b = 2 * (r / 5) + ((lsbs >> 1) & 1);
  *c = 2 * q + (lsbs >> 2);
}

}  // namespace

void decompress_code(const int16_t* indx, int32_t* pos_indx) {
  decompress10(indx[0], &pos_indx[0], &pos_indx[4], &pos_indx[1]);
  decompress10(indx[1], &pos_indx[2], &pos_indx[6], &pos_indx[5]);

  // The 7-bit word codes two positions: 25 joint values scaled to 5 bits, then a base-5
  // pair whose low digit runs backwards on odd high digits.
  const int32_t msbs = indx[2] >> 2;
  const int32_t lsbs = indx[2] & 3;
  const int32_t m = (25 * msbs + 12) >> 5;
  const int32_t q = (m * 6554) >> 15;  // m / 5; 6554 is 0.2 in Q15
  int32_t r = m - 5 * q;
  if (q & 1) r = 4 - r;
  pos_indx[3] = 2 * r + (lsbs & 1);
  pos_indx[7] = 2 * q + (lsbs >> 1);
}

void dec_8i40_31bits(const int16_t* index, int16_t* cod) {
  constexpr int32_t kTracks = 4;
  int32_t pos[8];
  decompress_code(index + kTracks, pos);
  ClearCode(cod);
  for (int32_t t = 0; t < kTracks; ++t) {
    const int32_t p1 = 4 * pos[t] + t;
    const int32_t p2 = 4 * pos[t + kTracks] + t;
    int32_t s = index[t] != 0 ? -8191 : 8191;  // +-1.0 in Q13
    cod[p1] = static_cast<int16_t>(s);
    if (p2 < p1) s = -s;  // the order of the two pulses carries the second sign
    cod[p2] = static_cast<int16_t>(cod[p2] + s);
  }
}

void dec_10i40_35bits(const int16_t* index, int16_t* cod) {
  constexpr int32_t kTracks = 5;
  ClearCode(cod);
  for (int32_t t = 0; t < kTracks; ++t) {
    const int32_t p1 = 5 * dgray[index[t] & 7] + t;
    int32_t s = (index[t] & 8) ? -4096 : 4096;  // +-1.0 in Q12
    cod[p1] = static_cast<int16_t>(s);
    const int32_t p2 = 5 * dgray[index[t + kTracks] & 7] + t;
    if (p2 < p1) s = -s;
    cod[p2] = static_cast<int16_t>(cod[p2] + s);
  }
}

}  // namespace amrnb
