// Decoder reset: the full reset's initial values, and which fields the partial reset at the
// start of comfort noise restores and which it must leave alone.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "decoder_state.h"

namespace amrnb {
namespace {

constexpr int32_t kLspInit[10] = {30000, 26000, 21000, 15000, 8000, 0, -8000, -15000, -21000, -26000};
constexpr int32_t kMeanLsf[10] = {1384, 2077, 3420, 5108, 6742, 8122, 9863, 11092, 12714, 13701};

template <typename T>
void ExpectAll(const T* v, int n, int32_t want, const char* what) {
  for (int i = 0; i < n; ++i) EXPECT_EQ(v[i], want) << what << "[" << i << "]";
}
template <typename T>
void ExpectRow(const T* v, const int32_t* want, const char* what) {
  for (int i = 0; i < 10; ++i) EXPECT_EQ(v[i], want[i]) << what << "[" << i << "]";
}

std::unique_ptr<DecoderState> Garbage(unsigned char byte) {
  auto st = std::make_unique<DecoderState>();
  std::memset(st.get(), byte, sizeof(DecoderState));
  return st;
}

TEST(Reset, FullResetGivesEveryInitialValue) {
  auto owner = Garbage(0xA5);
  const DecoderState& s = *owner;
  ResetDecoder(MR475, owner.get());
  EXPECT_EQ(s.reset_flag_old, 1);
  EXPECT_EQ(s.prev_ft, RX_SPEECH_GOOD);
  EXPECT_EQ(s.prev_mode, MR475);
  ExpectAll(s.old_exc, L_FRAME, 0, "old_exc");
  ExpectRow(s.lsp_old, kLspInit, "lsp_old");
  ExpectAll(s.mem_syn, M, 0, "mem_syn");
  EXPECT_EQ(s.sharp, 0);
  EXPECT_EQ(s.old_T0, 40);
  EXPECT_EQ(s.T0_lagBuff, 40);
  EXPECT_EQ(s.inBackgroundNoise, 0);
  EXPECT_EQ(s.voicedHangover, 0);
  ExpectAll(s.ltpGainHistory, 9, 0, "ltpGainHistory");
  ExpectAll(s.excEnergyHist, 9, 0, "excEnergyHist");
  EXPECT_EQ(s.prev_bf, 0);
  EXPECT_EQ(s.prev_pdf, 0);
  EXPECT_EQ(s.state, 0);
  EXPECT_EQ(s.nodataSeed, 21845);
  ExpectAll(s.frameEnergyHist, 60, 0, "frameEnergyHist");
  EXPECT_EQ(s.bgHangover, 0);
  EXPECT_EQ(s.hangCount, 0);
  ExpectAll(s.cbGainHistory, 7, 0, "cbGainHistory");
  EXPECT_EQ(s.hangVar, 0);
  ExpectRow(s.lsp_meanSave, kMeanLsf, "lsp_meanSave");
  ExpectAll(s.past_r_q, M, 0, "past_r_q");
  ExpectRow(s.past_lsf_q, kMeanLsf, "past_lsf_q");
  ExpectAll(s.pbuf, 5, 1640, "pbuf");
  EXPECT_EQ(s.past_gain_pit, 0);
  EXPECT_EQ(s.prevGP, 16384);
  ExpectAll(s.gbuf, 5, 1, "gbuf");
  EXPECT_EQ(s.past_gain_code, 0);
  EXPECT_EQ(s.prev_gc, 1);
  ExpectAll(s.past_qua_en, 4, -14336, "past_qua_en");
  ExpectAll(s.past_qua_en_MR122, 4, -2381, "past_qua_en_MR122");
  ExpectAll(s.gainMem, 5, 0, "gainMem");
  EXPECT_EQ(s.prevCbGain, 0);
  EXPECT_EQ(s.prevState, 0);
  EXPECT_EQ(s.lockFull, 0);
  EXPECT_EQ(s.onset, 0);
  EXPECT_EQ(s.dtxGlobalState, DTX);
  ExpectAll(s.mem_syn_pst, M, 0, "mem_syn_pst");
  EXPECT_EQ(s.mem_pre, 0);
  EXPECT_EQ(s.past_gain, 4096);
  EXPECT_EQ(s.x2 | s.x1 | s.y2 | s.y1, 0);

  const DtxDecState& d = s.dtx;
  EXPECT_EQ(d.log_en, 3500);
  EXPECT_EQ(d.old_log_en, 3500);
  EXPECT_EQ(d.L_pn_seed_rx, 0x70816958);
  ExpectRow(d.cn_lsp, kLspInit, "cn_lsp");
  ExpectRow(d.cn_lsp_old, kLspInit, "cn_lsp_old");
  for (int row = 0; row < 8; ++row) ExpectRow(d.lsf_hist + 10 * row, kMeanLsf, "lsf_hist");
  ExpectAll(d.lsf_hist_mean, 80, 0, "lsf_hist_mean");
  ExpectAll(d.log_en_hist, 8, 3500, "log_en_hist");
  EXPECT_EQ(d.true_sid_period_inv, 8192);
  const int16_t small[11] = {d.since_last_sid, d.lsf_hist_ptr, d.log_pg_mean, d.log_en_hist_ptr,
                             d.log_en_adjust, d.dtxHangoverCount, d.decAnaElapsedCount, d.sid_frame,
                             d.valid_data, d.dtxHangoverAdded, d.data_updated};
  const int16_t small_want[11] = {0, 0, 0, 0, 0, 7, 31, 0, 0, 0, 0};
  for (int i = 0; i < 11; ++i) EXPECT_EQ(small[i], small_want[i]) << "16-bit DTX field " << i;
}

TEST(Reset, PartialResetAfterFullResetChangesNothing) {
  auto a = Garbage(0x3C);
  ResetDecoder(MR475, a.get());
  auto b = std::make_unique<DecoderState>(*a);
  ResetDecoder(MRDTX, b.get());
  EXPECT_EQ(std::memcmp(a.get(), b.get(), sizeof(DecoderState)), 0);
}

// Copies the fields a partial reset must restore from `from`; everything else stays.
void CopyRestoredFields(const DecoderState& from, DecoderState& to) {
  std::memcpy(to.old_exc, from.old_exc, L_FRAME * sizeof(int16_t));
  to.sharp = from.sharp;
  to.old_T0 = from.old_T0;
  to.T0_lagBuff = from.T0_lagBuff;
  to.inBackgroundNoise = from.inBackgroundNoise;
  to.voicedHangover = from.voicedHangover;
  std::memcpy(to.ltpGainHistory, from.ltpGainHistory, sizeof to.ltpGainHistory);
  to.prev_bf = from.prev_bf;
  to.prev_pdf = from.prev_pdf;
  to.state = from.state;
  to.nodataSeed = from.nodataSeed;
  std::memcpy(to.frameEnergyHist, from.frameEnergyHist, sizeof to.frameEnergyHist);
  to.bgHangover = from.bgHangover;
  to.hangCount = from.hangCount;
  std::memcpy(to.cbGainHistory, from.cbGainHistory, sizeof to.cbGainHistory);
  to.hangVar = from.hangVar;
  std::memcpy(to.past_r_q, from.past_r_q, sizeof to.past_r_q);
  std::memcpy(to.past_lsf_q, from.past_lsf_q, sizeof to.past_lsf_q);
  std::memcpy(to.pbuf, from.pbuf, sizeof to.pbuf);
  to.past_gain_pit = from.past_gain_pit;
  to.prevGP = from.prevGP;
  std::memcpy(to.gbuf, from.gbuf, sizeof to.gbuf);
  to.past_gain_code = from.past_gain_code;
  to.prev_gc = from.prev_gc;
  std::memcpy(to.gainMem, from.gainMem, sizeof to.gainMem);
  to.prevCbGain = from.prevCbGain;
  to.prevState = from.prevState;
  to.lockFull = from.lockFull;
  to.onset = from.onset;
}

TEST(Reset, PartialResetRestoresOnlyTheSpeechHistory) {
  auto fresh = Garbage(0);
  ResetDecoder(MR475, fresh.get());
  for (unsigned char pattern : {0x5Au, 0xFFu}) {
    auto changed = Garbage(pattern);
    auto expected = Garbage(pattern);
    CopyRestoredFields(*fresh, *expected);
    ResetDecoder(MRDTX, changed.get());
    EXPECT_EQ(std::memcmp(changed.get(), expected.get(), sizeof(DecoderState)), 0) << int{pattern};
  }
}

}  // namespace
}  // namespace amrnb
