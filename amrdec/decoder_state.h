// Layout of the decoder's two caller-owned memory blocks.
//
// DecoderState persists from frame to frame; DecoderScratch holds the working arrays of a
// single DecodeFrame call. Both are plain structs with no pointers inside, so a state can
// be copied with memcpy and two copies decode identically.
#ifndef AMRDEC_DECODER_STATE_H
#define AMRDEC_DECODER_STATE_H

// Internal to the decoder: its own sources and the test-support target define AMRNBDEC_INTERNAL.
#ifndef AMRNBDEC_INTERNAL
#error "decoder-internal header: use amrnb_decoder.h, or link amrnbdec_testsupport"
#endif

#include <cstdint>

#include "amrnb_decoder.h"

namespace amrnb {

inline constexpr int M = 10;            // LPC order
inline constexpr int L_SUBFR = 40;      // samples per subframe
inline constexpr int L_FRAME = 160;     // samples per frame
inline constexpr int PIT_MAX = 143;     // largest pitch lag
inline constexpr int L_INTERPOL = 11;   // taps of the fractional interpolation, one side
inline constexpr int EXC_HIST = PIT_MAX + L_INTERPOL;  // 154 samples of excitation history
inline constexpr int MAX_PRM = 57;      // parameters of the largest mode (MR122)
inline constexpr int DTX_HIST_SIZE = 8; // comfort-noise LSF/energy history length

// DTX receive states.
enum DtxState : int32_t { SPEECH = 0, DTX = 1, DTX_MUTE = 2 };

// Comfort-noise decoder state (kept inside DecoderState).
struct DtxDecState {
  int32_t log_en;
  int32_t old_log_en;
  int32_t L_pn_seed_rx;
  int32_t cn_lsp[M];
  int32_t cn_lsp_old[M];
  int32_t lsf_hist[DTX_HIST_SIZE * M];
  int32_t lsf_hist_mean[DTX_HIST_SIZE * M];
  int32_t log_en_hist[DTX_HIST_SIZE];
  int32_t true_sid_period_inv;
  int16_t since_last_sid;
  int16_t lsf_hist_ptr;
  int16_t log_pg_mean;
  int16_t log_en_hist_ptr;
  int16_t log_en_adjust;
  int16_t dtxHangoverCount;
  int16_t decAnaElapsedCount;
  int16_t sid_frame;
  int16_t valid_data;
  int16_t dtxHangoverAdded;
  int16_t data_updated;
};

struct DecoderState {
  // Frame control (DecodeFrame). Despite its 3GPP TS 26.073 name, prev_ft holds the previous
  // frame's receive type (RX_*), not its frame type.
  int32_t reset_flag_old;
  int32_t prev_ft;
  int32_t prev_mode;

  // Frame synthesis core.
  int16_t old_exc[2 * L_FRAME];  // 154 history samples, then the current frame at 154..313
  int32_t lsp_old[M];
  int16_t mem_syn[M];
  int32_t sharp;
  int32_t old_T0;
  int32_t T0_lagBuff;
  int32_t inBackgroundNoise;
  int32_t voicedHangover;
  int32_t ltpGainHistory[9];
  int32_t excEnergyHist[9];

  // Bad-frame classification: the previous frame's bad and degraded flags, and `state`, the
  // concealment depth 0..6 (one step deeper per bad frame; a good frame returns it to 0, or
  // from 6 to 5).
  int16_t prev_bf;
  int16_t prev_pdf;
  int16_t state;
  int16_t nodataSeed;

  // Background-noise detector.
  int32_t frameEnergyHist[60];
  int16_t bgHangover;

  // Codebook gain averaging.
  int32_t hangCount;
  int32_t cbGainHistory[7];
  int16_t hangVar;

  // LSF decoding.
  int32_t lsp_meanSave[M];
  int32_t past_r_q[M];
  int32_t past_lsf_q[M];

  // Pitch gain concealment.
  int32_t pbuf[5];
  int32_t past_gain_pit;
  int32_t prevGP;

  // Code gain concealment.
  int32_t gbuf[5];
  int32_t past_gain_code;
  int32_t prev_gc;

  // MA gain predictor energies.
  int32_t past_qua_en[4];
  int32_t past_qua_en_MR122[4];

  // Phase dispersion.
  int32_t gainMem[5];
  int32_t prevCbGain;
  int32_t prevState;
  int16_t lockFull;
  int16_t onset;

  // DTX.
  int32_t dtxGlobalState;
  DtxDecState dtx;

  // Post-filter.
  int16_t mem_syn_pst[M];
  int16_t mem_pre;
  int32_t past_gain;

  // Output high-pass filter.
  int32_t x2, x1, y2, y1;
};

// Moves a history of the state one place toward its oldest end (entry 0 is dropped) and
// stores the newest value last.
template <int N>
constexpr void PushHistory(int32_t (&hist)[N], int32_t newest) {
  for (int i = 0; i < N - 1; ++i) hist[i] = hist[i + 1];
  hist[N - 1] = newest;
}

struct DecoderScratch {
  int32_t lsp_new[M];
  int32_t lsp_mid[M];
  int32_t prev_lsf[M];
  int32_t lsf_i[M];
  int16_t code[2 * L_SUBFR];          // innovation, then its phase-dispersed copy
  int16_t exc_enhanced[2 * L_SUBFR];  // synthesis excitation, then the pitch-emphasised one
  int16_t A_t[4 * M];                 // a1..a10 (Q12) of subframes 1..4
  int16_t synth_buf[M + L_FRAME];     // ten samples of filter memory, then synth
  int16_t parm[MAX_PRM];              // unpacked parameter vector
  int16_t pf_buf[M + L_FRAME];        // post-filter memory, then its output
  int16_t pf_num[4][M];               // post-filter numerator and denominator of each subframe
  int16_t pf_den[4][M];
  int32_t pf_tilt[4];                 // tilt compensation factor of each subframe
  int32_t agc_step[4];                // agc's gain step g0 per subframe, -1 for a silent one
  // The output stage (output_stage.h): agc's gains of one subframe, the high-pass zeros and
  // then the unrounded output of one subframe, and the two chains (c within 29 bits).
  int16_t out_gains[L_SUBFR];
  int32_t out_z[L_SUBFR];
  int32_t out_gain;
  int32_t out_c1, out_c2;

  int16_t* synth() { return synth_buf + M; }
  const int16_t* synth() const { return synth_buf + M; }
  int16_t* pf_out() { return pf_buf + M; }
  const int16_t* pf_out() const { return pf_buf + M; }
};

}  // namespace amrnb

#endif  // AMRDEC_DECODER_STATE_H
