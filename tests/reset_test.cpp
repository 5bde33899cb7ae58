// Decoder reset: the full reset's initial values, and which fields the partial reset at the
// start of comfort noise restores and which it must leave alone.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "decoder_state.h"

namespace amrnb {
namespace {

constexpr int32_t kLspInit[10] = {30000, 26000, 21000, 15000, 8000, 0, -8000, -15000, -21000, -26000};
constexpr int32_t kMeanLsf[10] = {1384, 2077, 3420, 5108, 6742, 8122, 9863, 11092, 12714, 13701};

// One field (or array) of the state: its full-reset value, a constant or rows of ten, and
// whether the partial reset restores it.
struct Field {
  const char* name;
  const void* at;
  int count, width;  // elements, bytes per element
  int32_t fill;
  const int32_t* row;
  bool partial;
  template <typename T>
  Field(const char* n, const T* p, int c, int32_t v, bool part, const int32_t* r = nullptr)
      : name(n), at(p), count(c), width(sizeof(T)), fill(v), row(r), partial(part) {}
  int32_t Value(int i) const {
    return width == 2 ? static_cast<const int16_t*>(at)[i] : static_cast<const int32_t*>(at)[i];
  }
};

std::vector<Field> Fields(const DecoderState& s) {
  const DtxDecState& d = s.dtx;
  return {{"reset_flag_old", &s.reset_flag_old, 1, 1, false}, {"prev_ft", &s.prev_ft, 1, RX_SPEECH_GOOD, false},
          {"prev_mode", &s.prev_mode, 1, MR475, false}, {"old_exc[0..159]", s.old_exc, L_FRAME, 0, true},
          {"old_exc[160..]", s.old_exc + L_FRAME, L_FRAME, 0, false}, {"lsp_old", s.lsp_old, M, 0, false, kLspInit},
          {"mem_syn", s.mem_syn, M, 0, false}, {"sharp", &s.sharp, 1, 0, true}, {"old_T0", &s.old_T0, 1, 40, true},
          {"T0_lagBuff", &s.T0_lagBuff, 1, 40, true}, {"inBackgroundNoise", &s.inBackgroundNoise, 1, 0, true},
          {"voicedHangover", &s.voicedHangover, 1, 0, true}, {"ltpGainHistory", s.ltpGainHistory, 9, 0, true},
          {"excEnergyHist", s.excEnergyHist, 9, 0, false}, {"prev_bf", &s.prev_bf, 1, 0, true},
          {"prev_pdf", &s.prev_pdf, 1, 0, true}, {"state", &s.state, 1, 0, true},
          {"nodataSeed", &s.nodataSeed, 1, 21845, true}, {"frameEnergyHist", s.frameEnergyHist, 60, 0, true},
          {"bgHangover", &s.bgHangover, 1, 0, true}, {"hangCount", &s.hangCount, 1, 0, true},
          {"cbGainHistory", s.cbGainHistory, 7, 0, true}, {"hangVar", &s.hangVar, 1, 0, true},
          {"lsp_meanSave", s.lsp_meanSave, M, 0, false, kMeanLsf}, {"past_r_q", s.past_r_q, M, 0, true},
          {"past_lsf_q", s.past_lsf_q, M, 0, true, kMeanLsf}, {"pbuf", s.pbuf, 5, 1640, true},
          {"past_gain_pit", &s.past_gain_pit, 1, 0, true}, {"prevGP", &s.prevGP, 1, 16384, true},
          {"gbuf", s.gbuf, 5, 1, true}, {"past_gain_code", &s.past_gain_code, 1, 0, true},
          {"prev_gc", &s.prev_gc, 1, 1, true}, {"past_qua_en", s.past_qua_en, 4, -14336, false},
          {"past_qua_en_MR122", s.past_qua_en_MR122, 4, -2381, false}, {"gainMem", s.gainMem, 5, 0, true},
          {"prevCbGain", &s.prevCbGain, 1, 0, true}, {"prevState", &s.prevState, 1, 0, true},
          {"lockFull", &s.lockFull, 1, 0, true}, {"onset", &s.onset, 1, 0, true},
          {"dtxGlobalState", &s.dtxGlobalState, 1, DTX, false}, {"mem_syn_pst", s.mem_syn_pst, M, 0, false},
          {"mem_pre", &s.mem_pre, 1, 0, false}, {"past_gain", &s.past_gain, 1, 4096, false},
          {"x2", &s.x2, 1, 0, false}, {"x1", &s.x1, 1, 0, false}, {"y2", &s.y2, 1, 0, false}, {"y1", &s.y1, 1, 0, false},
          {"log_en", &d.log_en, 1, 3500, false}, {"old_log_en", &d.old_log_en, 1, 3500, false},
          {"L_pn_seed_rx", &d.L_pn_seed_rx, 1, 0x70816958, false}, {"cn_lsp", d.cn_lsp, M, 0, false, kLspInit},
          {"cn_lsp_old", d.cn_lsp_old, M, 0, false, kLspInit}, {"lsf_hist", d.lsf_hist, 8 * M, 0, false, kMeanLsf},
          {"lsf_hist_mean", d.lsf_hist_mean, 8 * M, 0, false}, {"log_en_hist", d.log_en_hist, 8, 3500, false},
          {"true_sid_period_inv", &d.true_sid_period_inv, 1, 8192, false},
          {"since_last_sid..log_en_adjust", &d.since_last_sid, 5, 0, false},
          {"dtxHangoverCount", &d.dtxHangoverCount, 1, 7, false},
          {"decAnaElapsedCount", &d.decAnaElapsedCount, 1, 31, false},
          {"sid_frame..data_updated", &d.sid_frame, 4, 0, false}};
}

std::unique_ptr<DecoderState> Filled(unsigned char byte) {
  auto st = std::make_unique<DecoderState>();
  std::memset(st.get(), byte, sizeof(DecoderState));
  return st;
}

// From garbage, a full reset gives every field its initial value; a partial reset then
// changes nothing.
TEST(Reset, FullResetGivesEveryInitialValue) {
  auto s = Filled(0xA5);
  ResetDecoder(MR475, s.get());
  for (const Field& f : Fields(*s)) {
    for (int i = 0; i < f.count; ++i) EXPECT_EQ(f.Value(i), f.row ? f.row[i % 10] : f.fill) << f.name << "[" << i << "]";
  }
  auto partial = std::make_unique<DecoderState>(*s);
  ResetDecoder(MRDTX, partial.get());
  EXPECT_EQ(std::memcmp(s.get(), partial.get(), sizeof(DecoderState)), 0);
}

// On garbage, a partial reset restores exactly the marked fields and leaves every other
// byte as it was.
TEST(Reset, PartialResetRestoresOnlyTheSpeechHistory) {
  for (unsigned char pattern : {0x5Au, 0xFFu}) {
    auto before = Filled(pattern), s = Filled(pattern);
    ResetDecoder(MRDTX, s.get());
    const std::vector<Field> now = Fields(*s), was = Fields(*before);
    for (size_t k = 0; k < now.size(); ++k) {
      const Field& f = now[k];
      for (int i = 0; i < f.count; ++i) {
        EXPECT_EQ(f.Value(i), f.partial ? (f.row ? f.row[i % 10] : f.fill) : was[k].Value(i)) << f.name << "[" << i << "]";
      }
    }
    // Everything outside the restored fields, padding included, is untouched.
    auto expected = std::make_unique<DecoderState>(*before);
    for (size_t k = 0; k < now.size(); ++k) {
      if (now[k].partial) std::memcpy(const_cast<void*>(Fields(*expected)[k].at), now[k].at, now[k].count * now[k].width);
    }
    EXPECT_EQ(std::memcmp(s.get(), expected.get(), sizeof(DecoderState)), 0) << int{pattern};
  }
}

}  // namespace
}  // namespace amrnb
