// Comfort-noise decoding during DTX periods and the speech history it is built from.
//
// While the sender transmits only SID frames, dtx_dec produces the frame as synthetic noise:
// a sparse pseudo-random excitation scaled to the interpolated SID energy, through an LP
// filter built from the interpolated SID spectrum. On every speech frame
// dtx_dec_activity_update records the frame's LSFs and log energy; a SID for which the sender
// announced an added hangover takes its noise description from that eight-frame history.
//
// The 16-bit quantities of the comfort-noise state are kept in 32-bit fields and added in
// plain 32-bit arithmetic; fields the standard stores as 16 bits are wrapped explicitly.
#include <algorithm>

#include "decoder_state.h"
#include "fixed_point.h"
#include "stages.h"
#include "tables/tables.h"

namespace amrnb {

namespace {

constexpr int32_t kDeviationKnee = 655;         // 0.02 of the LSF range: deviation above it is quartered
constexpr int32_t kDeviationLimit = 1310;       // 0.04: largest deviation used for spectral variation
constexpr int32_t kMaxSidInterval = 32;         // longest SID interval used for interpolation
constexpr int32_t kMaPredFloor = -14436;        // lowest initial gain predictor energy
constexpr int32_t kMuteStep = 256;              // 0.125 in Q11: energy drop per muted frame
constexpr int32_t kSpeechLogEnOffset = 8521;    // log2(160) in Q10 (7497) plus 1024 for the doubled sum

// Moves the row index of an eight-row history forward by one row of `width` entries.
constexpr int32_t NextRow(int32_t ptr, int32_t width) {
  ptr += width;
  return ptr == DTX_HIST_SIZE * width ? 0 : ptr;
}

// Replaces the newest hangover description by the average of the speech history: the
// energy (less the mode correction) into log_en, the mean LSF vector into cn_lsp, and the
// limited deviation of every history entry from its column mean into lsf_hist_mean.
void AnalyseHangover(DtxDecState& dtx, int32_t mode) {
  dtx.log_en_adjust = dtx_log_en_adjust[mode];

  // Count the newest frame twice: copy it into the next slot without moving the pointers.
  const int32_t next_lsf = NextRow(dtx.lsf_hist_ptr, M);
  std::copy_n(dtx.lsf_hist + dtx.lsf_hist_ptr, M, dtx.lsf_hist + next_lsf);
  const int32_t next_en = NextRow(dtx.log_en_hist_ptr, 1);
  dtx.log_en_hist[next_en] = dtx.log_en_hist[dtx.log_en_hist_ptr];

  int32_t log_en = 0;
  for (int i = 0; i < DTX_HIST_SIZE; ++i) log_en += dtx.log_en_hist[i] >> 3;

  int32_t lsf_mean[M];
  for (int j = 0; j < M; ++j) {
    int32_t sum = 0;
    for (int i = 0; i < DTX_HIST_SIZE; ++i) sum += dtx.lsf_hist[i * M + j];
    lsf_mean[j] = sum >> 3;
  }
  Lsf_lsp(lsf_mean, dtx.cn_lsp);
  dtx.log_en = log_en - dtx.log_en_adjust;

  for (int j = 0; j < M; ++j) {
    for (int i = 0; i < DTX_HIST_SIZE; ++i) {
      int32_t x = dtx.lsf_hist[i * M + j] - lsf_mean[j];
      x = (x * lsf_hist_mean_scale[j]) >> 15;
      const bool negative = x < 0;
      if (negative) x = -x;
      if (x > kDeviationKnee) x = kDeviationKnee + ((x - kDeviationKnee) >> 2);
      if (x > kDeviationLimit) x = kDeviationLimit;
      dtx.lsf_hist_mean[i * M + j] = negative ? -x : x;
    }
  }
}

// Takes in a SID frame: shifts the latest description into the "old" slot and, for a good
// SID update, decodes the new LSPs and energy and measures the SID interval. Every SID frame
// also sets the gain predictor memory to the noise level, for the return to speech.
void TakeSid(DecoderState& st, const int16_t* parm) {
  DtxDecState& dtx = st.dtx;
  std::copy_n(dtx.cn_lsp, M, dtx.cn_lsp_old);
  dtx.old_log_en = dtx.log_en;

  if (dtx.valid_data != 0) {
    int32_t n = dtx.since_last_sid;
    dtx.since_last_sid = 0;
    if (n > kMaxSidInterval) n = kMaxSidInterval;
    dtx.true_sid_period_inv = n >= 2 ? div_s(1, n) : 16384 /* 0.5 in Q15 */;

    // The SID's LSF residual is predicted from its reference vector, not from speech.
    const int16_t* ref = past_rq_init + (parm[0] & 7) * M;  // a 3-bit index
    std::copy_n(ref, M, st.past_r_q);
    D_plsf_3(st, MRDTX, 0, parm + 1, dtx.cn_lsp);
    std::fill_n(st.past_r_q, M, 0);

    // Energy index 0 means silence: the lowest log energy rather than the formula's -5120.
    dtx.log_en = parm[4] == 0 ? MIN_16 : wrap16(parm[4] * 512 - 5120);

    // The first data ever, or an update straight after speech, is not interpolated.
    if (dtx.data_updated == 0 || st.dtxGlobalState == SPEECH) {
      std::copy_n(dtx.cn_lsp, M, dtx.cn_lsp_old);
      dtx.old_log_en = dtx.log_en;
    }
  }

  // The gain predictor starts from the noise's level. log_en is the log2 of the noise's RMS
  // amplitude in Q11 (of its mean sample energy in Q10), so log_en >> 1 is that log2 in Q10;
  // 9000 (8.79 in Q10) is the log2 of an RMS amplitude of 442, 37 dB below full scale, at and
  // above which the predictor starts neutral (0). Quieter noise starts it lower, down to the
  // floor (-14.1 dB); the difference goes in unscaled as the predictor's 20 log10 energy in
  // Q10, one dB per octave of amplitude.
  int32_t ma_pred_init = (dtx.log_en >> 1) - 9000;
  if (ma_pred_init > 0) ma_pred_init = 0;
  if (ma_pred_init < kMaPredFloor) ma_pred_init = kMaPredFloor;
  // The MR122 predictor keeps log2 energies, the others 20 log10 ones.
  const int32_t ma_pred_init_mr122 = (ma_pred_init * 5443 /* 1 / (20 log10 2) in Q15 */) >> 15;
  std::fill_n(st.past_qua_en, 4, ma_pred_init);
  std::fill_n(st.past_qua_en_MR122, 4, ma_pred_init_mr122);
}

// Log prediction gain (Q12) of the filter `a`, from its reflection coefficients.
int32_t LogPredictionGain(const int16_t* a) {
  int32_t refl[M];
  A_Refl(a, refl);
  int32_t pred_err = 32767;  // 1.0 in Q15
  for (int i = 0; i < M; ++i) pred_err = (pred_err * (32767 - ((refl[i] * refl[i]) >> 15))) >> 15;

  int32_t exponent = 0, fraction = 0;
  Log2(pred_err, &exponent, &fraction);
  int32_t g = (exponent - 15) * 4096;
  g = std::max(g, MIN_16);
  return (-(g + (fraction >> 3))) >> 1;
}

}  // namespace

void dtx_dec(DecoderState& st, int16_t* synth, int16_t* A_t, int32_t new_state, int32_t mode,
             const int16_t* parm) {
  DtxDecState& dtx = st.dtx;

  if (dtx.dtxHangoverAdded != 0 && dtx.sid_frame != 0) AnalyseHangover(dtx, mode);
  if (dtx.sid_frame != 0) TakeSid(st, parm);

  // Level correction glides toward the mode's value: 0.9 old + 0.1 table, kept in 16 bits.
  dtx.log_en_adjust = wrap16(((dtx.log_en_adjust * 29491 /* 0.9 in Q15 */) >> 15) +
                             ((dtx_log_en_adjust[mode] * 104864 /* 0.1 in Q20 */) >> 20));

  // Weight of the newest SID (Q14): grows by 1 / SID interval per frame since that SID.
  int32_t n = (dtx.since_last_sid + 1) * 1024;
  n = std::min(n, MAX_16);
  int32_t k = (dtx.true_sid_period_inv * n) >> 15;
  if (k > 1024) k = 1024;
  k *= 16;
  const int32_t k_old = 16384 - k;

  int32_t lsp_int[M];
  for (int i = 0; i < M; ++i) {
    lsp_int[i] = 2 * (((dtx.cn_lsp[i] * k) >> 15) + ((dtx.cn_lsp_old[i] * k_old) >> 15));
  }
  const int32_t log_en_int =  // Q26
      mul_wrap32(2, add_wrap32(mul_wrap32(dtx.log_en, k), mul_wrap32(dtx.old_log_en, k_old)));

  // Spectral variation: the less predictable the noise, the more the LSFs wander.
  int32_t variab = 4096 - (((dtx.log_pg_mean - 2457 /* 0.6 in Q12 */) * 9830) >> 15);
  if (variab >= 4096) {
    variab = 32767;
  } else if (variab < 0) {
    variab = 0;
  } else {
    variab *= 8;  // Q12 to Q15
  }
  const int32_t row = pseudonoise(&dtx.L_pn_seed_rx, 3) * M;

  int32_t lsf_int[M], lsf_var[M];
  Lsp_lsf(lsp_int, lsf_int);
  for (int i = 0; i < M; ++i) lsf_var[i] = lsf_int[i] + ((dtx.lsf_hist_mean[row + i] * variab) >> 15);
  Reorder_lsf(lsf_int);
  Reorder_lsf(lsf_var);
  // The next speech frame predicts its LSFs from the noise spectrum.
  std::copy_n(lsf_int, M, st.past_lsf_q);

  // The post-filter sees the smooth spectrum; the noise is shaped by the varied one.
  int32_t lsp[M];
  int16_t a[M], a_var[M];
  Lsf_lsp(lsf_int, lsp);
  Lsp_Az(lsp, a);
  Lsf_lsp(lsf_var, lsp);
  Lsp_Az(lsp, a_var);
  for (int s = 0; s < 4; ++s) std::copy_n(a, M, A_t + s * M);

  const int32_t log_pg = LogPredictionGain(a);
  dtx.log_pg_mean = wrap16(((dtx.log_pg_mean * 29491 /* 0.9 in Q15 */) >> 15) +
                           ((log_pg * 3277 /* 0.1 in Q15 */) >> 15));

  // Excitation level (Q16 log2): energy + 4, less the prediction gain, plus the correction.
  const int32_t log_level = (log_en_int >> 10) + 262144 /* 4.0 in Q16 */ - 16 * log_pg +
                            32 * dtx.log_en_adjust;
  const int32_t level_exp = wrap16(log_level >> 16);
  const int32_t level_frac = wrap16(sub_wrap32(log_level, shl_wrap32(level_exp, 16)) >> 1);
  const int32_t level = wrap16(Pow2(level_exp, level_frac));

  std::copy_n(st.mem_syn, M, synth - M);
  for (int s = 0; s < 4; ++s) {
    int16_t* sub = synth + s * L_SUBFR;
    build_CN_code(level, &dtx.L_pn_seed_rx, sub);
    Syn_filt(a_var, sub, sub);
  }
  std::copy_n(synth + L_FRAME - M, M, st.mem_syn);

  // The code-gain averaging starts the next speech period from a long hangover.
  st.hangVar = 20;
  st.hangCount = 0;

  if (new_state == DTX_MUTE) {
    int32_t interval = dtx.since_last_sid;
    if (interval > kMaxSidInterval) interval = kMaxSidInterval;
    dtx.true_sid_period_inv = interval <= 1 ? 32767 : div_s(1024, 1024 * interval);
    dtx.since_last_sid = 0;
    std::copy_n(dtx.cn_lsp, M, dtx.cn_lsp_old);
    dtx.old_log_en = dtx.log_en;
    dtx.log_en = std::max(dtx.log_en - kMuteStep, MIN_16);
  }

  if (dtx.sid_frame != 0 && (dtx.valid_data != 0 || dtx.dtxHangoverAdded != 0)) {
    dtx.since_last_sid = 0;
    dtx.data_updated = 1;
  }
}

void A_Refl(const int16_t* a, int32_t* refl) {
  int32_t s[M], next[M];
  std::copy_n(a, M, s);

  for (int i = M - 1; i >= 0; --i) {
    if (s[i] >= 4096 || s[i] <= -4096) {  // |coefficient| >= 1.0: unstable, give up
      std::fill_n(refl, M, 0);
      return;
    }
    refl[i] = 8 * s[i];  // Q12 to Q15

    int32_t d = MAX_32 - 2 * refl[i] * refl[i];
    const int32_t sh = norm_l(d);
    d = shl_wrap32(d, sh);
    const int32_t den = round16_sat(d);
    const int32_t q = div_s(16384, den);
    const int32_t scale = 15 - sh;

    for (int j = 0; j < i; ++j) {
      int32_t t = ((s[j] << 15) - s[i - 1 - j] * refl[i] + 16384) >> 15;
      t = mul_wrap32(mul_wrap32(2, t), q);
      t = add_wrap32(t, 1 << (scale - 1)) >> scale;
      if (t > MAX_16 || t < -MAX_16) {
        std::fill_n(refl, M, 0);
        return;
      }
      next[j] = t;
    }
    std::copy_n(next, i, s);
  }
}

void dtx_dec_activity_update(DecoderState& st, const int32_t* lsf, const int16_t* frame) {
  DtxDecState& dtx = st.dtx;
  dtx.lsf_hist_ptr = static_cast<int16_t>(NextRow(dtx.lsf_hist_ptr, M));
  std::copy_n(lsf, M, dtx.lsf_hist + dtx.lsf_hist_ptr);

  const int32_t energy = 2 * sum_sq_sat(L_FRAME, frame);  // at most 0x7FFFFFFE
  int32_t exponent = 0, fraction = 0;
  Log2(energy, &exponent, &fraction);
  dtx.log_en_hist_ptr = static_cast<int16_t>(NextRow(dtx.log_en_hist_ptr, 1));
  dtx.log_en_hist[dtx.log_en_hist_ptr] = (exponent << 10) + (fraction >> 5) - kSpeechLogEnOffset;
}

}  // namespace amrnb
