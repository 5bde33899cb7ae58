// Gain decoding of AMR-NB (3GPP TS 26.073): the MA-predicted fixed-codebook gain, the joint
// and scalar gain codebooks, gain concealment for bad frames, fixed-codebook gain smoothing
// in background noise, adaptive phase dispersion of the innovation, and the pitch-emphasised
// excitation with its gain control.
//
// gain_pit is Q14 throughout; gain_code is Q1. The MA predictor memory holds the quantized
// energies of the last four subframes, newest first: past_qua_en in 20*log10 units (Q10),
// past_qua_en_MR122 in log2 units (Q10).
#include <algorithm>
#include <cassert>

#include "fixed_point.h"
#include "stages.h"
#include "tables/tables.h"
#include "vector_kernels.h"

namespace amrnb {

namespace {

// The standard's doubled, saturated energy from a plain sum of squares: a sum of 0x3FFFFFFF or
// more, or one that wrapped past 2^31 and reads negative, becomes 0x7FFFFFFF.
int32_t DoubledEnergySat(int32_t sum) { return (sum >= 0x3FFFFFFF || sum < 0) ? MAX_32 : 2 * sum; }

// Pushes the newest quantized energies into the MA predictor memory.
void UpdatePredictor(DecoderState& st, int32_t qua_ener_MR122, int32_t qua_ener) {
  for (int i = 3; i > 0; --i) {
    st.past_qua_en[i] = st.past_qua_en[i - 1];
    st.past_qua_en_MR122[i] = st.past_qua_en_MR122[i - 1];
  }
  st.past_qua_en[0] = qua_ener;
  st.past_qua_en_MR122[0] = qua_ener_MR122;
}

// One term of the LSF distance in the standard's steps: |mean - lsf| and the mean are each
// normalised into div_s's range, divided, and the quotient is shifted back by the difference
// of the two normalisations (Q13).
int64_t DistanceTermInSteps(int32_t mean, int32_t lsf) {
  const int64_t d64 = static_cast<int64_t>(mean) - lsf;
  int32_t d = sat32(d64 < 0 ? -d64 : d64);
  // norm_s(d) - 1 brings 1..0x3FFF to 0x2000..0x3FFF; a distance of 0x4000 or more is halved
  // instead (norm_s gives 0 for 0x4000..0x7FFF and less above).
  const int32_t s1 = d == 0 ? 0 : std::max(norm_s(d) - 1, int32_t{-1});
  d = s1 >= 0 ? d << s1 : d >> 1;
  const int32_t s2 = norm_s(sat16(mean));  // 0 for a zero mean
  const int32_t t = shl_wrap32(mean, s2);
  const int32_t q = t > 0 ? div_s(d, t) : MAX_16;
  const int32_t k = s1 - s2 + 2;
  return k >= 0 ? (q >> k) : static_cast<int64_t>(q) << -k;
}

}  // namespace

// The sum of the ten terms. Where the mean lies in 1..32767 and d = |mean - lsf| is at most
// 0x3FFF and at most twice the mean, a term is exactly floor(d * 8192 / mean): both
// normalised values then lie in div_s's range with d's below the mean's, so no quotient
// saturates, and d <= 2 * mean keeps d's normalisation shift at least the mean's minus two, so
// the quotient is shifted right, by k >= 0, and the floor of a floor is one floor. The
// decoder's LSFs and means lie there. Such quotients come from double divisions, which
// overlap in the pipeline where integer ones wait for each other; they are exact: d * 8192 and
// the mean are exact doubles, a quotient below 2^27 is rounded by less than 2^-26, and one
// that is not a whole number lies at least 1 / mean >= 2^-15 below the next, so truncation
// gives the floor. Other vectors take the standard's steps.
int32_t LsfMeanDistance(const int32_t* lsf, const int32_t* mean) {
  // The test in wrapping 32-bit arithmetic, without branches. With the mean in 1..32767, the
  // wrapped difference lies within +-0x3FFF exactly when the true one does.
  uint32_t d[M];
  uint32_t out_of_range = 0;
  for (int i = 0; i < M; ++i) {
    const uint32_t m = static_cast<uint32_t>(mean[i]);
    const uint32_t diff = static_cast<uint32_t>(lsf[i]) - m;
    d[i] = static_cast<int32_t>(diff) < 0 ? 0u - diff : diff;
    out_of_range |= static_cast<uint32_t>(m - 1u > 32766u) | static_cast<uint32_t>(diff + 0x3FFFu > 0x7FFEu) |
                    static_cast<uint32_t>(d[i] > 2u * m);
  }
  int64_t dist = 0;
  if (!out_of_range) {
    for (int i = 0; i < M; ++i) dist += static_cast<int32_t>(static_cast<int32_t>(d[i]) * 8192.0 / mean[i]);
  } else {
    for (int i = 0; i < M; ++i) dist += DistanceTermInSteps(mean[i], lsf[i]);
  }
  return sat16_64(dist);
}

void gc_pred(const DecoderState& st, int32_t mode, const int16_t* code, int32_t* exp_gcode0,
             int32_t* frac_gcode0) {
  const int32_t ener2 = DoubledEnergySat(sum_sq(L_SUBFR, code));  // innovation energy

  if (mode == MR122) {
    // Mean innovation energy (times 1/40, doubled) in the log2 domain; the rounding addition
    // wraps when the energy is saturated.
    const int32_t ener_code = (add_wrap32(ener2, 0x8000) >> 16) * 52428;  // 52428: 1/40 in Q21
    int32_t e, f;
    Log2(ener_code, &e, &f);
    int32_t t = -e * 32768 - f;
    for (int i = 0; i < 4; ++i) t += pred_MR122[i] * st.past_qua_en_MR122[i];
    const int32_t v = (2 * t + 2749821) >> 1;  // 2749821: mean energy plus log2 scaling
    *exp_gcode0 = v >> 16;
    *frac_gcode0 = (v >> 1) - (*exp_gcode0 << 15);
    return;
  }

  int32_t n = 0, norm = 0;
  if (ener2 != 0) {
    n = norm_l(ener2);
    norm = shl_wrap32(ener2, n);
  }
  int32_t x = 0, f = 0;
  if (norm > 0) Log2_norm(norm, n, &x, &f);

  // Innovation energy in dB (times -10*log10(2), 24660 is 10*log10(2) in Q13), plus the
  // mode's mean energy.
  int32_t ener_db = (((f * -24660) >> 14) & ~1) - 49320 * x;
  switch (mode) {
    case MR67: ener_db += 2065152; break;
    case MR74: ener_db += 2085632; break;
    case MR795: ener_db += 2183936; break;
    default: ener_db += 2134784; break;  // MR475, MR515, MR59, MR102
  }
  int32_t pred_en = 0;  // MA prediction of the energy, Q23
  for (int i = 0; i < 4; ++i) pred_en += pred[i] * st.past_qua_en[i];
  const int32_t sum = add_wrap32(pred_en, shl_wrap32(ener_db, 9));
  const int32_t g_db = sum >> 15;  // predicted gain in dB, Q8
  // dB to log2: times log2(10)/20 = 0.166096 in Q16 (Q8 times Q16, shifted by 9: Q15). The
  // factor is twice its Q15 rounding, as the standard forms the product with a doubling
  // multiply: 10886 = 2 * 5443, and 5443 is 0.166096 * 32768 = 5442.6 rounded. MR74, the
  // mode that is also the IS-641 (TDMA) codec, keeps that codec's rounding, 2 * 5439
  // (0.16599): 0.07% less, a predicted gain lower by 0.03 dB at 40 dB. Its mean energy
  // (2085632 above) and gain tables go with that factor, so it stays for bit exactness.
  const int32_t v = (g_db * (mode == MR74 ? 10878 : 10886)) >> 9;
  *exp_gcode0 = v >> 15;
  *frac_gcode0 = v - (*exp_gcode0 << 15);
}

void Dec_gain(DecoderState& st, int32_t mode, int32_t index, const int16_t* code, int32_t evenSubfr,
              int32_t* gain_pit, int32_t* gain_cod) {
  int32_t g_code, qua_ener_MR122, qua_ener;
  if (mode == MR475) {
    const int16_t* row = table_gain_MR475 + 4 * index + (evenSubfr != 0 ? 0 : 2);
    *gain_pit = row[0];
    g_code = row[1];
    // The MR475 table has no energy columns: take the logarithms of the correction factor.
    int32_t e, f;
    Log2(g_code, &e, &f);
    e -= 12;
    qua_ener_MR122 = (f >> 5) + ((f >> 4) & 1) + e * 1024;
    qua_ener = wrap16((((((f * 24660) >> 14) & ~1) + 49320 * e) + 4) >> 3);
  } else {
    const int16_t* row = (mode == MR515 || mode == MR59) ? table_gain_lowrates + 4 * index
                                                          : table_gain_highrates + 4 * index;
    *gain_pit = row[0];
    g_code = row[1];
    qua_ener_MR122 = row[2];
    qua_ener = row[3];
  }

  int32_t exponent, fraction;
  gc_pred(st, mode, code, &exponent, &fraction);
  const int32_t gcode0 = Pow2(14, fraction);

  // gain_code = g_code * gcode0 * 2^exponent, scaled to Q1; the left shift saturates. The
  // product is not negative: both factors are positive.
  const int32_t p = g_code * gcode0;
  if (exponent >= 11) {
    *gain_cod = shl_sat32(p, exponent - 9) >> 16;
  } else {
    *gain_cod = shr_full(p, 25 - exponent);
  }

  UpdatePredictor(st, qua_ener_MR122, qua_ener);
}

void d_gain_code(DecoderState& st, int32_t mode, int32_t index, const int16_t* code, int32_t* gain_code) {
  int32_t exponent, fraction;
  gc_pred(st, mode, code, &exponent, &fraction);
  const int16_t* row = qua_gain_code + 3 * index;
  const int32_t factor = row[0];  // Q11

  int32_t g;
  if (mode == MR122) {
    int32_t gcode0 = Pow2(exponent, fraction);
    gcode0 = sat16(shl_sat32(gcode0, 4));  // 32767 above 2047
    g = ((factor * gcode0) >> 14) & ~1;
  } else {
    const int32_t gcode0 = Pow2(14, fraction);
    const int32_t acc = 2 * factor * gcode0;  // below 2^31: factor is at most 27485
    const int32_t s = 9 - exponent;
    g = (s > 0 ? shr_full(acc, s) : shl_sat32(acc, -s)) >> 16;
  }
  *gain_code = gain16_or_max(g);

  UpdatePredictor(st, row[1], row[2]);
}

void gc_pred_average_limited(const DecoderState& st, int32_t* ener_avg_MR122, int32_t* ener_avg) {
  int32_t sum = 0;
  for (int i = 0; i < 4; ++i) sum += st.past_qua_en_MR122[i];
  int32_t a = shl_wrap32(sum, 13) >> 15;
  if (a < -2381) a = -2381;  // -2381: floor of the MR122 energy (-14 dB in log2, Q10)
  *ener_avg_MR122 = a;

  sum = 0;
  for (int i = 0; i < 4; ++i) sum = sat16(sum + st.past_qua_en[i]);
  *ener_avg = (sum * 8192) >> 15;
}

int32_t ec_gain_pitch(const DecoderState& st, int32_t state) {
  int32_t m = MedianOf(st.pbuf, 5);
  if (m > st.past_gain_pit) m = st.past_gain_pit;
  return (m * pdown[state]) >> 15;
}

void ec_gain_pitch_update(DecoderState& st, int32_t bfi, int32_t prev_bf, int32_t* gain_pitch) {
  if (bfi == 0) {
    // A good frame right after a bad one may not raise the gain above the last good one.
    if (prev_bf != 0 && *gain_pitch > st.prevGP) *gain_pitch = st.prevGP;
    st.prevGP = *gain_pitch;
  }
  st.past_gain_pit = *gain_pitch > 16384 ? 16384 : *gain_pitch;  // 16384: 1.0 in Q14
  PushHistory(st.pbuf, st.past_gain_pit);
}

int32_t ec_gain_code(DecoderState& st, int32_t state) {
  int32_t m = MedianOf(st.gbuf, 5);
  if (m > st.past_gain_code) m = st.past_gain_code;
  const int32_t gain_code = (m * cdown[state]) >> 15;

  // The predictor continues from the average of its memory.
  int32_t ener_MR122, ener;
  gc_pred_average_limited(st, &ener_MR122, &ener);
  UpdatePredictor(st, ener_MR122, ener);
  return gain_code;
}

void ec_gain_code_update(DecoderState& st, int32_t bfi, int32_t prev_bf, int32_t* gain_code) {
  if (bfi == 0) {
    if (prev_bf != 0 && *gain_code > st.prev_gc) *gain_code = st.prev_gc;
    st.prev_gc = *gain_code;
  }
  st.past_gain_code = *gain_code;
  PushHistory(st.gbuf, *gain_code);
}

int32_t Cb_gain_average(DecoderState& st, int32_t mode, int32_t gain_code, const int32_t* lsp,
                        const int32_t* lspAver, int32_t bfi, int32_t prev_bf, int32_t pdfi,
                        int32_t prev_pdf, int32_t inBackgroundNoise, int32_t voicedHangover) {
  PushHistory(st.cbGainHistory, gain_code);

  // Relative spectral distance of this subframe's LSFs from their long-term mean, Q13.
  const int32_t diff = LsfMeanDistance(lsp, lspAver);

  constexpr int32_t kDiffThr = 5325;  // 0.65 in Q13
  st.hangVar = wrap16(st.hangVar + 1);
  if (diff <= kDiffThr) st.hangVar = 0;
  if (st.hangVar > 10) st.hangCount = 0;

  int32_t result = gain_code;  // MR74, MR795 and MR122 use the code gain unsmoothed
  if (mode <= MR67 || mode == MR102) {
    const bool bad_or_degraded = (pdfi != 0 && prev_pdf != 0) || bfi != 0 || prev_bf != 0;
    int32_t bgMix = 8192;  // 1.0 in Q13: no smoothing
    if (st.hangCount >= 40 && diff <= kDiffThr) {
      const int32_t x = (bad_or_degraded && mode < MR67 && inBackgroundNoise != 0 && voicedHangover > 1)
                            ? diff - 4506   // 0.55 in Q13
                            : diff - 3277;  // 0.4 in Q13
      if (x <= 0) {
        bgMix = 0;
      } else if (x <= 2048) {
        bgMix = 4 * x;
      }
    }

    const int32_t* h = st.cbGainHistory;
    const int32_t s5 = h[2] + h[3] + h[4] + h[5] + h[6];
    // 3277: 0.2 in Q14; the mean reaches 32767 from a sum of 163823 on.
    int32_t cbGainMean = sat16_64((int64_t{s5} * 3277 + 8192) >> 14);
    if ((bfi != 0 || prev_bf != 0) && mode < MR67 && inBackgroundNoise != 0) {
      const int64_t s7 = static_cast<int64_t>(s5) + h[0] + h[1];
      cbGainMean = static_cast<int32_t>((s7 * 9362 + 32768) >> 16);  // 9362: 1/7 in Q16
    }
    result = (bgMix * gain_code - bgMix * cbGainMean + cbGainMean * 8192 + 4096) >> 13;
  }

  st.hangCount = add_wrap32(st.hangCount, 1);
  if (st.hangCount < 0) st.hangCount = 40;
  return result;
}

int32_t ph_disp(DecoderState& st, int32_t mode, int32_t gain_pit, int32_t gain_code, int16_t* code) {
  constexpr int32_t kLtpThr1 = 9830;   // 0.6 in Q14
  constexpr int32_t kLtpThr2 = 14746;  // 0.9 in Q14

  for (int i = 4; i > 0; --i) st.gainMem[i] = st.gainMem[i - 1];
  st.gainMem[0] = gain_pit;

  // Dispersion level: 0 strong, 1 medium, 2 none.
  int32_t level = gain_pit >= kLtpThr2 ? 2 : (gain_pit > kLtpThr1 ? 1 : 0);

  // An onset is a code gain about twice that of the previous subframe; it is held for two
  // more subframes.
  if (gain_code > ((st.prevCbGain << 14) + 4096) >> 13) {
    st.onset = 2;
  } else if (st.onset > 0) {
    st.onset = static_cast<int16_t>(st.onset - 1);
  }

  if (st.onset == 0) {
    int32_t weak = 0;
    for (int i = 0; i < 5; ++i) weak += st.gainMem[i] < kLtpThr1;
    if (weak > 2) level = 0;
    if (level > st.prevState + 1) --level;  // relax at most one step per subframe
  }
  if (st.onset > 0 && level < 2) ++level;

  if (gain_code < 10) level = 2;
  if (st.lockFull == 1) level = 0;

  st.prevCbGain = gain_code;
  st.prevState = level;

  if (level >= 2 || mode == MR74 || mode == MR102 || mode == MR122) return 0;

  const int16_t* imp = mode == MR795 ? (level == 0 ? ph_imp_low_MR795 : ph_imp_mid_MR795)
                                     : (level == 0 ? ph_imp_low : ph_imp_mid);
  // Circular convolution of the innovation's pulses with the impulse response, held twice
  // over: output i of a pulse at p reads entry 40 + i - p, which wraps around the 40 samples
  // without a split.
  int16_t imp2[2 * L_SUBFR];
  std::copy_n(imp, L_SUBFR, imp2);
  std::copy_n(imp, L_SUBFR, imp2 + L_SUBFR);
  kernels::CircularConvolveQ15(code, imp2, code + L_SUBFR, L_SUBFR);
  return 1;
}

void Pitch_emphasis(const int16_t* exc, int16_t* exc_enhanced, int32_t pit_sharp, int32_t gain_pit,
                    int32_t mode) {
  const int16_t* total = exc_enhanced;
  int16_t* excp = exc_enhanced + L_SUBFR;
  const int32_t shift = mode == MR122 ? 16 : 15;  // rounded: 0x8000 or 0x4000 added first
  // The core calls this with the doubled sharpening factor above 16384 and a decoded pitch gain.
  assert(pit_sharp > 16384 && pit_sharp <= MAX_16 && gain_pit >= 0 && gain_pit <= MAX_16);
  kernels::EmphasisePitch(exc, total, excp, pit_sharp, gain_pit, shift, L_SUBFR);

  // agc2: scale the emphasised excitation to the energy of the total excitation.
  int32_t e = 0;
  const int32_t gain_out = AgcNormEnergy(excp, 1, &e);
  if (gain_out == 0) return;

  int32_t g0 = 0;
  int32_t i = 0;
  const int32_t gain_in = AgcNormEnergy(total, 0, &i);
  if (gain_in != 0) {
    const int32_t k = e - i;
    int32_t z = div_s(gain_out, gain_in) << 7;
    z = k > 0 ? z >> k : shl_wrap32(z, -k);
    g0 = wrap16(shl_wrap32(add_wrap32(Inv_sqrt(z), 64), 9) >> 16);  // Q12
  }
  kernels::ScaleQ12Wrap(excp, wrap16(g0), L_SUBFR);
}

}  // namespace amrnb
