// Decoder memory blocks and their reset.
#include <algorithm>
#include <cstring>

#include "decoder_state.h"
#include "stages.h"
#include "tables/tables.h"

namespace amrnb {

const std::size_t kDecoderStateSize = sizeof(DecoderState);
const std::size_t kDecoderScratchSize = sizeof(DecoderScratch);

namespace {

// The fields that the partial reset at the start of every comfort-noise frame restores.
void ResetSpeechHistory(DecoderState& st) {
  std::fill_n(st.old_exc, L_FRAME, int16_t{0});
  st.sharp = 0;
  st.old_T0 = 40;  // samples (5 ms)
  st.T0_lagBuff = 40;
  st.inBackgroundNoise = 0;
  st.voicedHangover = 0;
  std::fill_n(st.ltpGainHistory, 9, 0);
  st.prev_bf = 0;
  st.prev_pdf = 0;
  st.state = 0;
  st.nodataSeed = 21845;  // 0x5555
  std::fill_n(st.frameEnergyHist, 60, 0);
  st.bgHangover = 0;
  st.hangCount = 0;
  std::fill_n(st.cbGainHistory, 7, 0);
  st.hangVar = 0;
  std::fill_n(st.past_r_q, M, 0);
  std::copy_n(mean_lsf_5, M, st.past_lsf_q);
  std::fill_n(st.pbuf, 5, 1640);  // 0.1 in Q14
  st.past_gain_pit = 0;
  st.prevGP = 16384;  // 1.0 in Q14
  std::fill_n(st.gbuf, 5, 1);  // 0.5 in Q1
  st.past_gain_code = 0;
  st.prev_gc = 1;  // 0.5 in Q1
  std::fill_n(st.gainMem, 5, 0);
  st.prevCbGain = 0;
  st.prevState = 0;
  st.lockFull = 0;
  st.onset = 0;
}

void ResetDtxDecoder(DtxDecState& dtx) {
  dtx.log_en = 3500;  // 3.418 in Q10 (log2)
  dtx.old_log_en = 3500;
  dtx.L_pn_seed_rx = 0x70816958;  // start of the comfort-noise generator
  std::copy_n(lsp_init_data, M, dtx.cn_lsp);
  std::copy_n(lsp_init_data, M, dtx.cn_lsp_old);
  std::copy_n(mean_lsf_5, M, dtx.lsf_hist);
  for (int row = 1; row < DTX_HIST_SIZE; ++row) std::copy_n(dtx.lsf_hist, M, dtx.lsf_hist + row * M);
  std::fill_n(dtx.lsf_hist_mean, DTX_HIST_SIZE * M, 0);
  std::fill_n(dtx.log_en_hist, DTX_HIST_SIZE, dtx.log_en);
  dtx.true_sid_period_inv = 8192;  // 1/4 in Q15
  dtx.since_last_sid = 0;
  dtx.lsf_hist_ptr = 0;
  dtx.log_pg_mean = 0;
  dtx.log_en_hist_ptr = 0;
  dtx.log_en_adjust = 0;
  dtx.dtxHangoverCount = 7;     // the sender's hangover length
  dtx.decAnaElapsedCount = 31;  // just past the 30 frames between analyses
  dtx.sid_frame = 0;
  dtx.valid_data = 0;
  dtx.dtxHangoverAdded = 0;
  dtx.data_updated = 0;
}

}  // namespace

void ResetDecoder(int32_t mode, DecoderState* state) {
  DecoderState& st = *state;
  ResetSpeechHistory(st);
  if (mode == MRDTX) return;

  st.reset_flag_old = 1;
  st.prev_ft = RX_SPEECH_GOOD;
  st.prev_mode = MR475;
  // The upper half of the excitation buffer is rewritten every frame before it is read;
  // clearing it too keeps a fresh state block fully defined.
  std::fill_n(st.old_exc + L_FRAME, L_FRAME, int16_t{0});
  std::copy_n(lsp_init_data, M, st.lsp_old);
  std::fill_n(st.mem_syn, M, int16_t{0});
  std::fill_n(st.excEnergyHist, 9, 0);
  std::copy_n(mean_lsf_5, M, st.lsp_meanSave);
  std::fill_n(st.past_qua_en, 4, -14336);       // -14.0 dB in Q10
  std::fill_n(st.past_qua_en_MR122, 4, -2381);  // -14 dB as log2 in Q10 (-2.325)
  st.dtxGlobalState = DTX;  // a lost frame before any speech takes the comfort-noise path
  ResetDtxDecoder(st.dtx);
  std::fill_n(st.mem_syn_pst, M, int16_t{0});
  st.mem_pre = 0;
  st.past_gain = 4096;  // 1.0 in Q12
  st.x2 = st.x1 = st.y2 = st.y1 = 0;
}

}  // namespace amrnb
