// Gain decoding and concealment, phase dispersion and pitch emphasis; and a replay of the
// lag, codebook and gain stages over the all-good reference streams.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "amrdec/fixed_point.h"
#include "amrdec/stages.h"
#include "amrdec/tables/tables.h"

namespace amrnb {
namespace {

// Replays lag decoding, the algebraic codebooks with pitch sharpening, the gains and phase
// dispersion frame by frame, as the frame synthesis core sequences them for good frames,
// and compares each subframe's values with the reference S records.
void ReplayStream(const std::string& name) {
  const std::string dir = std::string(AMRCONV_TEST_DATA_DIR) + "/conformance/";
  std::ifstream params(dir + name + ".params.txt"), stages(dir + name + ".stages.txt");
  ASSERT_TRUE(params && stages) << "missing trace files for " << name;
  std::vector<std::vector<int32_t>> want;  // T0 frac gain_pit gain_code mix pit_sharp exc disp
  for (std::string line; std::getline(stages, line);) {
    std::istringstream in(line);
    std::string tag;
    int32_t n, k;
    if (!(in >> tag >> n >> k) || tag != "S") continue;
    want.emplace_back(8);
    for (auto& v : want.back()) in >> v;
  }
  DecoderState st;
  ResetDecoder(MR475, &st);
  size_t sub = 0;
  int32_t ft, rx, mode, gain_index = 0;
  for (std::string line; std::getline(params, line);) {
    std::istringstream in(line);
    int16_t parm[MAX_PRM];
    in >> ft >> rx >> mode;
    for (auto& p : parm) in >> p;
    ASSERT_EQ(rx, RX_SPEECH_GOOD) << name << " is not an all-good stream";
    const int16_t* prm = parm + (mode == MR122 ? 5 : 3);
    for (int32_t k = 0; k < 4; ++k, ++sub) {
      ASSERT_LT(sub, want.size());
      const int32_t pit_flag = (k == 0 || (k == 2 && mode >= MR59)) ? 0 : 40 * k;
      const int32_t even = (k % 2) == 0;
      const int32_t index = *prm++;
      int32_t T0 = st.old_T0, frac = 0, gp = 0, gc = 0;
      int16_t code[80];
      if (mode != MR122) {
        const int32_t low = mode == MR795 ? 10 : 5, range = mode == MR795 ? 19 : 9;
        int32_t t0_min = std::max(st.old_T0 - low, 20), t0_max = t0_min + range;
        if (t0_max > PIT_MAX) t0_max = PIT_MAX, t0_min = PIT_MAX - range;
        Dec_lag3(index, t0_min, t0_max, pit_flag, st.old_T0, &T0, &frac, mode <= MR67);
      } else {
        Dec_lag6(index, pit_flag, &T0, &frac);
        if (pit_flag != 0 && index > 60) T0 = st.old_T0, frac = 0;
        gp = qua_gain_pitch[*prm++] & 0xFFFC;
        ec_gain_pitch_update(st, 0, 0, &gp);
      }
      switch (mode) {
        case MR475: case MR515: decode_2i40_9bits(k, prm[1], prm[0], code); prm += 2; break;
        case MR59: decode_2i40_11bits(prm[1], prm[0], code); prm += 2; break;
        case MR67: decode_3i40_14bits(prm[1], prm[0], code); prm += 2; break;
        case MR74: case MR795: decode_4i40_17bits(prm[1], prm[0], code); prm += 2; break;
        case MR102: dec_8i40_31bits(prm, code); prm += 7; break;
        default: dec_10i40_35bits(prm, code); prm += 10; break;
      }
      const int32_t sharpen = mode == MR122 ? std::min(gp, 16383) : st.sharp;
      for (int32_t i = T0; i < L_SUBFR; ++i) code[i] = wrap16(code[i] + ((code[i - T0] * sharpen) >> 14));
      if (mode == MR795) {
        gp = qua_gain_pitch[*prm++];
        ec_gain_pitch_update(st, 0, 0, &gp);
      }
      if (mode == MR795 || mode == MR122) {
        d_gain_code(st, mode, *prm++, code, &gc);
      } else {
        if (mode != MR475 || even) gain_index = *prm++;
        Dec_gain(st, mode, gain_index, code, even, &gp, &gc);
        ec_gain_pitch_update(st, 0, 0, &gp);
      }
      ec_gain_code_update(st, 0, 0, &gc);
      int32_t pit_sharp = mode == MR122 ? gp : std::min(gp, 13017);
      if (mode == MR102 && st.old_T0 > 45) pit_sharp >>= 2;
      if (mode != MR475 || !even) st.sharp = std::min(gp, 13017);
      pit_sharp = pit_sharp > 16383 ? 32767 : 2 * pit_sharp;

      const std::vector<int32_t>& w = want[sub];
      const std::vector<int32_t> got = {T0, frac, gp, gc, pit_sharp};
      ASSERT_EQ(got, (std::vector<int32_t>{w[0], w[1], w[2], w[3], w[5]}))
          << name << " frame " << sub / 4 << " subframe " << k << " (T0 frac gain_pit gain_code pit_sharp)";
      if (mode == MR74 || mode == MR795 || mode == MR122) {
        ASSERT_EQ(w[4], gc);  // no smoothing in these modes
      }
      st.lockFull = 0;
      ASSERT_EQ(ph_disp(st, mode, gp, w[4], code), w[7]) << name << " frame " << sub / 4 << " subframe " << k;
      st.old_T0 = T0;
    }
  }
  EXPECT_EQ(sub, want.size());
}

TEST(StageReplay, AllGoodReferenceStreams) {
  for (const char* name : {"mode0", "mode1", "mode2", "mode3", "mode4", "mode5", "mode6", "mode7", "speechlike"}) {
    SCOPED_TRACE(name);
    ReplayStream(name);
  }
}

TEST(GainConcealment, RunOfBadFramesThenRecovery) {
  DecoderState st;
  ResetDecoder(MR475, &st);
  EXPECT_EQ(ec_gain_pitch(st, 0), 0);  // past gains are 0 after a reset
  for (int32_t g : {20000, 12000, 8000, 14000, 9000}) {
    ec_gain_pitch_update(st, 0, 0, &g);
    int32_t c = g / 10;
    ec_gain_code_update(st, 0, 0, &c);
  }
  EXPECT_EQ(st.pbuf[0], 16384);  // the history is limited to 1.0
  // Bad frame, state 1: min(median 12000, last 9000) * 32112 / 32768.
  int32_t gp = ec_gain_pitch(st, 1), gc = ec_gain_code(st, 1);
  EXPECT_EQ(gp, 8819);
  EXPECT_EQ(gc, 881);  // min(median 1200, last 900) * 32112 / 32768
  ec_gain_pitch_update(st, 1, 0, &gp);
  ec_gain_code_update(st, 1, 0, &gc);
  // State 4: median of 12000 8000 14000 9000 8819 is 9000, limited by the last 8819.
  gp = ec_gain_pitch(st, 4);
  EXPECT_EQ(gp, 2645);  // 8819 * 9830 / 32768
  ec_gain_pitch_update(st, 1, 1, &gp);
  // The first good frame may not exceed the last good gain (9000); the next one may.
  int32_t good = 15000;
  ec_gain_pitch_update(st, 0, 1, &good);
  EXPECT_EQ(good, 9000);
  good = 15000;
  ec_gain_pitch_update(st, 0, 0, &good);
  EXPECT_EQ(good, 15000);
}

TEST(GainDecoding, SaturatingShiftsOfLargePredictedGains) {
  DecoderState st;
  ResetDecoder(MR475, &st);
  for (int i = 0; i < 4; ++i) st.past_qua_en[i] = 23097, st.past_qua_en_MR122[i] = 3836;
  int16_t code[40] = {8191};
  int32_t e, f, gp, gc;
  gc_pred(st, MR67, code, &e, &f);
  ASSERT_GE(e, 11);  // the left-shift path
  Dec_gain(st, MR67, 127, code, 1, &gp, &gc);
  EXPECT_EQ(gc, 32767);
  for (int i = 0; i < 4; ++i) st.past_qua_en[i] = 23097, st.past_qua_en_MR122[i] = 3836;
  d_gain_code(st, MR795, 31, code, &gc);
  EXPECT_EQ(gc, 32767);
  d_gain_code(st, MR122, 31, code, &gc);
  EXPECT_EQ(gc, 32767);
}

// Disperses a single pulse of -1.0 at position 5, so the output is the negated impulse
// response rotated by five places; returns ph_disp's result and checks which response.
int32_t DisperseAndCheck(DecoderState& st, int32_t mode, int32_t gp, int32_t gc, const int16_t* imp) {
  int16_t code[80] = {};
  code[5] = -32768;
  for (int i = 40; i < 80; ++i) code[i] = 777;
  const int32_t r = ph_disp(st, mode, gp, gc, code);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(code[40 + i], imp ? -imp[(i + 35) % 40] : 777) << i;
  return r;
}

TEST(PhaseDispersion, OnsetLockAndRelaxation) {
  DecoderState st;
  ResetDecoder(MR475, &st);
  // A code gain jump is an onset: strong dispersion is softened to medium for two subframes.
  EXPECT_EQ(DisperseAndCheck(st, MR475, 0, 100, ph_imp_mid), 1);
  EXPECT_EQ(DisperseAndCheck(st, MR515, 0, 100, ph_imp_mid), 1);
  EXPECT_EQ(DisperseAndCheck(st, MR59, 0, 100, ph_imp_low), 1);
  EXPECT_EQ(DisperseAndCheck(st, MR795, 0, 100, ph_imp_low_MR795), 1);
  // High pitch gains: from strong, at most one step less per subframe.
  for (int i = 0; i < 5; ++i) st.gainMem[i] = 16000;
  EXPECT_EQ(DisperseAndCheck(st, MR67, 16000, 100, ph_imp_mid), 1);
  EXPECT_EQ(DisperseAndCheck(st, MR67, 16000, 100, nullptr), 0);
  // A tiny code gain switches dispersion off, unless the core locks it fully on.
  EXPECT_EQ(DisperseAndCheck(st, MR475, 0, 5, nullptr), 0);
  st.lockFull = 1;
  EXPECT_EQ(DisperseAndCheck(st, MR475, 16000, 5, ph_imp_low), 1);
  // MR74 never disperses but keeps tracking: its jump to 1000 is an onset for the next call.
  st.lockFull = 0;
  EXPECT_EQ(DisperseAndCheck(st, MR74, 0, 1000, nullptr), 0);
  EXPECT_EQ(st.onset, 2);
}

double Energy(const int16_t* x) {
  double e = 0;
  for (int i = 0; i < 40; ++i) e += static_cast<double>(x[i]) * x[i];
  return e;
}

TEST(PitchEmphasis, GainControlKeepsTheTotalExcitationEnergy) {
  std::mt19937 rng(3);
  for (int32_t amp : {0, 300, 3000, 20000}) {  // 20000: the sum of squares exceeds its limit
    std::uniform_int_distribution<int> d(-amp, amp);
    int16_t ltp[40], buf[80];
    for (int i = 0; i < 40; ++i) ltp[i] = static_cast<int16_t>(d(rng)), buf[i] = static_cast<int16_t>(d(rng));
    for (int32_t mode : {MR475, MR122}) {
      Pitch_emphasis(ltp, buf, 32767, 16384, mode);
      if (amp == 0) {
        EXPECT_EQ(Energy(buf + 40), 0.0);
      } else {
        EXPECT_NEAR(Energy(buf + 40) / Energy(buf), 1.0, 0.02) << amp << " mode " << mode;
      }
    }
  }
}

}  // namespace
}  // namespace amrnb
