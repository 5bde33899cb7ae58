// Frame synthesis core: one frame of parameters to 160 synthesized samples and the four LP
// coefficient sets the post-filter uses (Decoder_amr of 3GPP TS 26.073). Both paths, speech
// and comfort noise, hand their subframes to the same frame filters (frame_filters.cpp: the
// synthesis of speech subframes, the post-filter and the output stage): the speech path each
// subframe as soon as its excitation is decoded, the comfort-noise path its synthesized
// subframes. The speech path ends with its history updates, which read the synthesized frame.
//
// The frame's excitation stands in old_exc behind 154 samples of history and is shifted once
// at the end of the frame. The parameter vector is consumed through a single cursor in the
// order the unpacker laid it out.
#include <algorithm>
#include <cstdint>

#include "decoder_state.h"
#include "fixed_point.h"
#include "stages.h"
#include "tables/tables.h"
#include "trace.h"
#include "vector_kernels.h"

namespace amrnb {

namespace {

constexpr int32_t SHARPMAX = 13017;  // 0.7945 in Q14

// Reads the parameter vector front to back.
class ParamCursor {
 public:
  explicit ParamCursor(const int16_t* parm) : p_(parm) {}
  int32_t Next() { return *p_++; }
  // Hands a group of n parameters to a stage and moves past them.
  const int16_t* Take(int n) {
    const int16_t* group = p_;
    p_ += n;
    return group;
  }

 private:
  const int16_t* p_;
};

// Interpolated LSF vector of subframe k from the previous and the current frame's vector.
void Int_lsf(const int32_t* lsf_old, const int32_t* lsf_new, int k, int32_t* lsf_out) {
  switch (k) {
    case 0:
      Lsp_mix_quarter(lsf_old, lsf_new, lsf_out);
      break;
    case 1:
      for (int i = 0; i < M; i++) lsf_out[i] = (lsf_old[i] >> 1) + (lsf_new[i] >> 1);
      break;
    case 2:
      Lsp_mix_quarter(lsf_new, lsf_old, lsf_out);
      break;
    default:
      std::copy_n(lsf_new, M, lsf_out);
      break;
  }
}

// Square-root energy of a 40-sample excitation, the measure energy control compares.
int32_t ExcitationEnergy(const int16_t* exc) {
  const uint64_t energy = kernels::SumSquares(exc, L_SUBFR);
  if (energy > 0x3FFFFFFF) return 11584;  // fixed value for an energy beyond 30 bits
  if (energy == 0) return 0;
  int32_t shift = 0;
  const int32_t mantissa = sqrt_l_exp(static_cast<int32_t>(energy), &shift);
  return (mantissa >> ((shift >> 1) + 15)) >> 2;
}

// Comfort-noise frame: the speech history is reset and dtx_dec synthesizes the noise.
void DecodeComfortNoise(DecoderScratch& scr, DecoderState& st, int32_t mode, int32_t new_state,
                        DecodeTrace* trace) {
  ResetDecoder(MRDTX, &st);
  dtx_dec(st, scr.synth(), scr.A_t, new_state, mode, scr.parm);
  st.dtxGlobalState = new_state;
  Lsf_lsp(st.past_lsf_q, st.lsp_old);
  lsp_avg(st, st.past_lsf_q);
  if (trace) {
    trace->ComfortNoise(st.dtx);
    trace->Az(scr.A_t);
  }
}

// Pitch lag of one subframe in modes 0..6 (1/3 resolution), concealed in bad frames.
void DecodeLag3(DecoderState& st, int32_t mode, int32_t index, int32_t pit_flag, int32_t bfi,
                int32_t* T0, int32_t* T0_frac) {
  const int32_t flag4 = mode <= MR67 ? 1 : 0;
  const int32_t delta_low = mode == MR795 ? 10 : 5;
  const int32_t range = mode == MR795 ? 19 : 9;
  int32_t t0_min = std::max(st.old_T0 - delta_low, int32_t{20});
  int32_t t0_max = t0_min + range;
  if (t0_max > PIT_MAX) {
    t0_max = PIT_MAX;
    t0_min = PIT_MAX - range;
  }
  Dec_lag3(index, t0_min, t0_max, pit_flag, st.old_T0, T0, T0_frac, flag4);
  st.T0_lagBuff = *T0;
  if (bfi) {
    if (st.old_T0 < PIT_MAX) st.old_T0++;
    *T0 = st.old_T0;
    *T0_frac = 0;
    // In background noise the low modes keep the (damaged) received lag.
    if (mode <= MR59 && st.voicedHangover > 4 && st.inBackgroundNoise != 0) *T0 = st.T0_lagBuff;
  }
}

// Pitch lag of one subframe in MR122 (1/6 resolution). A relative index above 60 is
// concealed like a bad frame; old_T0 is not advanced.
void DecodeLag6(DecoderState& st, int32_t index, int32_t pit_flag, int32_t bfi, int32_t* T0,
                int32_t* T0_frac) {
  *T0 = st.old_T0;
  Dec_lag6(index, pit_flag, T0, T0_frac);
  if (bfi || (pit_flag != 0 && index > 60)) {
    st.T0_lagBuff = *T0;
    *T0 = st.old_T0;
    *T0_frac = 0;
  }
}

// Algebraic codebook of modes 0..6.
void DecodeInnovation(int32_t mode, int k, ParamCursor& prm, int16_t* code) {
  if (mode == MR102) {
    dec_8i40_31bits(prm.Take(7), code);
    return;
  }
  const int32_t index = prm.Next();
  const int32_t sign = prm.Next();
  switch (mode) {
    case MR475:
    case MR515:
      decode_2i40_9bits(k, sign, index, code);
      break;
    case MR59:
      decode_2i40_11bits(sign, index, code);
      break;
    case MR67:
      decode_3i40_14bits(sign, index, code);
      break;
    default:  // MR74, MR795
      decode_4i40_17bits(sign, index, code);
      break;
  }
}

// Scalar pitch gain of MR795 and MR122 (MR122 clears the two lowest bits with `mask`),
// concealed in bad frames, then the concealment memory update.
int32_t ScalarPitchGain(DecoderState& st, int32_t index, int32_t bfi, int32_t mask) {
  int32_t gain_pit = bfi ? ec_gain_pitch(st, st.state) : (qua_gain_pitch[index] & mask);
  ec_gain_pitch_update(st, bfi, st.prev_bf, &gain_pit);
  return gain_pit;
}

// Adds the pitch-sharpened past of the innovation to itself; earlier results feed later
// ones when the lag is shorter than half a subframe. The sum wraps in 16 bits.
void SharpenInnovation(int16_t* code, int32_t T0, int32_t pit_sharp_Q14) {
  for (int32_t i = T0; i < L_SUBFR; i++) {
    code[i] = wrap16(code[i] + ((code[i - T0] * pit_sharp_Q14) >> 14));
  }
}

// What the four subframes of a speech frame share: the mode, the frame's flags and the read
// position in its parameters.
struct SpeechFrame {
  int32_t mode;
  int32_t bfi;   // bad frame: concealed
  int32_t pdfi;  // degraded frame
  ParamCursor prm;
  int32_t gain_index = 0;  // MR475: one joint index serves two subframes
};

// Pitch and code gains of one subframe, decoded or concealed, with the concealment memory
// updates. MR122's pitch gain was read with its lag and comes in as *gain_pit.
void DecodeGains(DecoderState& st, SpeechFrame& f, int k, const int16_t* code, int32_t* gain_pit,
                 int32_t* gain_code) {
  const int32_t mode = f.mode;
  if (mode == MR795 || mode == MR122) {
    if (mode == MR795) *gain_pit = ScalarPitchGain(st, f.prm.Next(), f.bfi, 0xFFFF);
    const int32_t code_index = f.prm.Next();
    if (f.bfi) {
      *gain_code = ec_gain_code(st, st.state);
    } else {
      d_gain_code(st, mode, code_index, code, gain_code);
    }
  } else {
    const int32_t evenSubfr = (k & 1) == 0 ? 1 : 0;
    if (mode != MR475 || evenSubfr) f.gain_index = f.prm.Next();
    if (f.bfi) {
      *gain_pit = ec_gain_pitch(st, st.state);
      *gain_code = ec_gain_code(st, st.state);
    } else {
      Dec_gain(st, mode, f.gain_index, code, evenSubfr, gain_pit, gain_code);
    }
    ec_gain_pitch_update(st, f.bfi, st.prev_bf, gain_pit);
  }
  ec_gain_code_update(st, f.bfi, st.prev_bf, gain_code);
}

// Subframe k of a speech frame: lag, codebooks and gains, and the excitation; the excitation
// history takes the subframe's excitation. Returns the excitation to synthesize from, which
// stays valid until the next subframe.
const int16_t* DecodeSubframe(DecoderScratch& scr, DecoderState& st, SpeechFrame& f, int k, DecodeTrace* trace) {
  const int32_t mode = f.mode;
  const int32_t bfi = f.bfi;
  const int32_t i_subfr = k * L_SUBFR;
  int16_t* const exc = st.old_exc + EXC_HIST + i_subfr;
  int16_t* const code = scr.code;
  int16_t* const exc_enh = scr.exc_enhanced;

  // Pitch lag and adaptive codebook; lags are absolute in subframe 1, and in subframe 3
  // except in MR475 and MR515. Then the innovation.
  const int32_t pit_flag = (i_subfr == 2 * L_SUBFR && mode > MR515) ? 0 : i_subfr;
  const int32_t lag_index = f.prm.Next();
  int32_t T0 = 0;
  int32_t T0_frac = 0;
  int32_t gain_pit = 0;
  int32_t gain_code = 0;
  if (mode == MR122) {
    DecodeLag6(st, lag_index, pit_flag, bfi, &T0, &T0_frac);
    Pred_lt_3or6(exc, T0, T0_frac, 0);
    gain_pit = ScalarPitchGain(st, f.prm.Next(), bfi, 0xFFFC);
    dec_10i40_35bits(f.prm.Take(10), code);
  } else {
    DecodeLag3(st, mode, lag_index, pit_flag, bfi, &T0, &T0_frac);
    Pred_lt_3or6(exc, T0, T0_frac, 1);
    DecodeInnovation(mode, k, f.prm, code);
  }
  SharpenInnovation(code, T0, mode == MR122 ? std::min(gain_pit, int32_t{16383}) : st.sharp);

  DecodeGains(st, f, k, code, &gain_pit, &gain_code);

  // Sharpening factor of the next subframe and, doubled, of the pitch emphasis.
  int32_t pit_sharp = gain_pit;
  if (mode != MR122) {
    pit_sharp = std::min(gain_pit, SHARPMAX);
    if (mode == MR102 && st.old_T0 > 45) pit_sharp >>= 2;
  }
  if (!(mode == MR475 && (k & 1) == 0)) st.sharp = std::min(gain_pit, SHARPMAX);
  pit_sharp = sat16(2 * pit_sharp);

  if (!bfi) PushHistory(st.ltpGainHistory, gain_pit);
  const int32_t gain_pit_kept = gain_pit;

  // Limit the pitch gain of concealed frames in background noise (low modes).
  if ((st.prev_bf != 0 || bfi != 0) && st.inBackgroundNoise != 0 && mode <= MR59) {
    if (gain_pit > 12288) gain_pit = ((gain_pit - 12288) >> 1) + 12288;  // 0.75 in Q14
    if (gain_pit > 14745) gain_pit = 14745;                              // 0.9 in Q14
  }

  Int_lsf(scr.prev_lsf, st.past_lsf_q, k, scr.lsf_i);
  const int32_t gain_code_mix =
      Cb_gain_average(st, mode, gain_code, scr.lsf_i, st.lsp_meanSave, bfi, st.prev_bf, f.pdfi,
                      st.prev_pdf, st.inBackgroundNoise, st.voicedHangover);

  const int32_t pitch_fac = mode == MR122 ? gain_pit >> 1 : gain_pit;
  const int32_t tmp_shift = mode == MR122 ? 2 : 1;

  st.lockFull = (mode <= MR59 && st.voicedHangover > 3 && st.inBackgroundNoise != 0 && bfi) ? 1 : 0;
  const int32_t dispersed = ph_disp(st, mode, gain_pit, gain_code_mix, code);
  std::copy_n(exc, L_SUBFR, exc_enh);
  Exc_combine(exc_enh, dispersed ? code + L_SUBFR : code, pitch_fac, gain_code_mix, tmp_shift);

  const int32_t excEnergy = ExcitationEnergy(exc_enh);
  if (mode <= MR59 && st.voicedHangover > 5 && st.state < 4 && st.inBackgroundNoise != 0 &&
      ((f.pdfi && st.prev_pdf) || bfi || st.prev_bf)) {
    const int32_t carefulFlag = (f.pdfi && !bfi) ? 1 : 0;
    Ex_ctrl(exc_enh, excEnergy, st.excEnergyHist, st.voicedHangover, st.prev_bf, carefulFlag);
  }
  if (!((bfi || st.prev_bf) && st.state < 4 && st.inBackgroundNoise != 0)) {
    PushHistory(st.excEnergyHist, excEnergy);
  }

  const int16_t* synthesis_in = exc_enh;
  if (pit_sharp > 16384) {
    Pitch_emphasis(exc, exc_enh, pit_sharp, gain_pit_kept, mode);
    synthesis_in = exc_enh + L_SUBFR;
  }

  // Excitation remembered by the adaptive codebook: undispersed, unaveraged gain.
  Exc_combine(exc, code, pitch_fac, gain_code, tmp_shift);
  st.old_T0 = T0;

  if (trace) {
    trace->Subframe(k, SubframeTrace{T0, T0_frac, gain_pit_kept, gain_code, gain_code_mix, pit_sharp,
                                     excEnergy, dispersed});
  }
  return synthesis_in;
}

// Speech frame: classification, the LP coefficients of the four subframes, the subframes'
// excitations each followed by the frame filters' share of the subframe, then the frame's
// history updates.
void DecodeSpeech(DecoderScratch& scr, DecoderState& st, int32_t mode, int32_t rx_type,
                  DecodeTrace* trace, int16_t* out, Schedule schedule) {
  SpeechFrame f{mode, 0, 0, ParamCursor(scr.parm)};
  rx_classify(st, rx_type, mode, scr.parm, &f.bfi, &f.pdfi);

  std::copy_n(st.past_lsf_q, M, scr.prev_lsf);
  if (mode == MR122) {
    D_plsf_5(st, f.bfi, f.prm.Take(5), scr.lsp_mid, scr.lsp_new);
    Int_lpc_1and3(st.lsp_old, scr.lsp_mid, scr.lsp_new, scr.A_t);
  } else {
    D_plsf_3(st, mode, f.bfi, f.prm.Take(3), scr.lsp_new);
    Int_lpc_1to3(st.lsp_old, scr.lsp_new, scr.A_t);
  }
  if (trace) {
    trace->LspNew(scr.lsp_new);
    if (mode == MR122) trace->LspMid(scr.lsp_mid);
    trace->Az(scr.A_t);
  }
  std::copy_n(scr.lsp_new, M, st.lsp_old);
  std::copy_n(st.mem_syn, M, scr.synth_buf);

  FrameFiltersBegin(scr, st, mode, schedule);
  for (int k = 0; k < 4; k++) FrameFiltersSubframe(scr, st, k, DecodeSubframe(scr, st, f, k, trace), out, schedule);
  FrameFiltersEnd(scr, st, out, schedule);

  const int16_t* const synth = scr.synth();
  std::copy_n(synth + L_FRAME - M, M, st.mem_syn);
  std::copy(st.old_exc + L_FRAME, st.old_exc + L_FRAME + EXC_HIST, st.old_exc);
  st.inBackgroundNoise = Bgn_scd(st, synth, st.ltpGainHistory, &st.voicedHangover);
  if (trace) trace->Background(st.inBackgroundNoise, st.voicedHangover);
  dtx_dec_activity_update(st, st.past_lsf_q, synth);
  st.prev_bf = static_cast<int16_t>(f.bfi);
  st.prev_pdf = static_cast<int16_t>(f.pdfi);
  st.dtxGlobalState = SPEECH;
  lsp_avg(st, st.past_lsf_q);
}

}  // namespace

void Decoder_amr(DecoderScratch& scr, DecoderState& st, int32_t mode, int32_t rx_type, DecodeTrace* trace,
                 int16_t* out, Schedule schedule) {
  const int32_t new_state = rx_dtx_handler(st, rx_type);
  if (new_state == SPEECH) {
    DecodeSpeech(scr, st, mode, rx_type, trace, out, schedule);
  } else {
    DecodeComfortNoise(scr, st, mode, new_state, trace);
    FrameFiltersBegin(scr, st, mode, schedule);
    for (int k = 0; k < 4; k++) FrameFiltersSubframe(scr, st, k, nullptr, out, schedule);
    FrameFiltersEnd(scr, st, out, schedule);
  }
  if (trace) trace->Synth(scr.synth());
}

}  // namespace amrnb
