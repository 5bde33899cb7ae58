// Background-noise detector and excitation energy control: the first verdicts after a reset,
// the energy limits, the voicing medians, the scale factor and its limits, and the detector
// over the conformance streams.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "stage_trace.h"
#include "stages.h"

namespace amrnb {
namespace {

// The detector's verdict on a frame of constant amplitude.
int32_t Frame(DecoderState& st, int16_t amplitude, const int32_t* ltp, int32_t* vh) {
  const std::vector<int16_t> speech(L_FRAME, amplitude);
  return Bgn_scd(st, speech.data(), ltp, vh);
}

TEST(BgnScd, FirstVerdictsAfterResetAndEnergyLimits) {
  const int32_t ltp[9] = {};
  int32_t vh = 0;
  DecoderState st;
  ResetDecoder(MR475, &st);
  // Steady quiet noise (energy 195): noise-like from the 6th frame, reported from the 7th.
  for (int frame = 1; frame <= 40; ++frame) {
    ASSERT_EQ(Frame(st, 100, ltp, &vh), frame >= 7 ? 1 : 0) << frame;
    ASSERT_EQ(st.bgHangover, std::clamp(frame - 5, 0, 30)) << frame;
  }
  // Energy 20 (sum of squares 163840), silence and a full-scale frame all end the noise run.
  for (int16_t amplitude : {32, 0, 32767}) {
    Frame(st, 100, ltp, &vh);
    EXPECT_EQ(Frame(st, amplitude, ltp, &vh), 0) << amplitude;
    EXPECT_EQ(st.bgHangover, 0) << amplitude;
  }
}

TEST(BgnScd, VoicingMediansAndHangover) {
  DecoderState st;
  ResetDecoder(MR475, &st);
  const int32_t unvoiced[9] = {};
  int32_t vh = 0;
  for (int frame = 1; frame <= 12; ++frame) {
    Frame(st, 0, unvoiced, &vh);
    EXPECT_EQ(vh, std::min(frame, 10));
  }

  // Long noise (bgHangover 21): median of all nine gains against 16383.
  const int32_t all16384[9] = {16384, 16384, 16384, 16384, 16384, 16384, 16384, 16384, 16384};
  const int32_t all16383[9] = {16383, 16383, 16383, 16383, 16383, 16383, 16383, 16383, 16383};
  const int32_t older_voiced[9] = {16384, 16384, 16384, 16384, 16384, 0, 0, 0, 0};
  for (const int32_t* ltp : {all16384, all16383, older_voiced}) {
    std::fill_n(st.frameEnergyHist, 60, 195);
    st.bgHangover = 20;
    vh = 4;
    EXPECT_EQ(Frame(st, 100, ltp, &vh), 1);
    EXPECT_EQ(vh, ltp == all16383 ? 5 : 0);
  }
}

TEST(ExCtrl, RaisesWeakSubframeTowardMedianWithinLimits) {
  const int32_t flat[9] = {1000, 1000, 1000, 1000, 1000, 1000, 1000, 1000, 1000};
  const int32_t dropped[9] = {4000, 4000, 4000, 4000, 4000, 4000, 4000, 500, 500};
  // Scales a subframe of value, -value, value, value, ...; returns its first two samples.
  auto run = [](int16_t value, int32_t energy, const int32_t* hist, int32_t vh, int32_t bfi, int32_t careful) {
    int16_t x[L_SUBFR];
    std::fill_n(x, L_SUBFR, value);
    x[1] = static_cast<int16_t>(-value);
    EXPECT_EQ(Ex_ctrl(x, energy, hist, vh, bfi, careful), 0);
    return std::vector<int32_t>{x[0], x[1]};
  };
  using V = std::vector<int32_t>;
  EXPECT_EQ(run(100, 1000, flat, 10, 0, 0), (V{100, -100}));  // at the median
  EXPECT_EQ(run(100, 5, flat, 10, 0, 0), (V{100, -100}));     // nearly silent
  // Median 4000, last energy 500: target 4 x 500 (scale 20478 in Q10), or 3 x 500 (15358) after
  // a bad frame or a recent voiced frame; products are floored.
  EXPECT_EQ(run(10, 100, dropped, 7, 0, 0), (V{199, -200}));
  EXPECT_EQ(run(10, 100, dropped, 7, 1, 0), (V{149, -150}));
  EXPECT_EQ(run(10, 100, dropped, 6, 0, 0), (V{149, -150}));
  // Energy 10 against 1000: scale limited to 32767, or 3.0 when careful; results wrap in 16 bits.
  EXPECT_EQ(run(100, 10, flat, 10, 0, 0), (V{3199, -3200}));
  EXPECT_EQ(run(100, 10, flat, 10, 0, 1), (V{300, -300}));
  EXPECT_EQ(run(2000, 10, flat, 10, 0, 0), (V{63998 - 65536, 65536 - 63999}));
}

// Verdict and voicedHangover of every speech-path frame from the stream's synthesised speech
// and pitch gains; comfort-noise frames clear the histories through the partial reset.
TEST(BgnScdConformance, Streams) {
  for (const char* name : {"mode0", "mode1", "mode2", "mode3", "mode4", "mode5", "mode6", "mode7", "dtx",
                           "speechlike_bad"}) {
    auto frames = stagetrace::Load(name);
    ASSERT_FALSE(frames.empty()) << "missing trace " << name;
    DecoderState st;
    ResetDecoder(MR475, &st);
    for (size_t n = 0; n < frames.size(); ++n) {
      auto& f = frames[n];
      ASSERT_NE(f.path, "homing");
      if (f.path == "cn") {
        ResetDecoder(MRDTX, &st);
        continue;
      }
      ASSERT_EQ(f.S.size(), 4u);
      for (const auto& s : f.S) {
        if (f.rec["F"][2] != 0) break;  // bad frames leave the pitch gain history alone
        std::copy(st.ltpGainHistory + 1, st.ltpGainHistory + 9, st.ltpGainHistory);
        st.ltpGainHistory[8] = s.at(3);
      }
      const int32_t inBg = Bgn_scd(st, f.synth.data(), st.ltpGainHistory, &st.voicedHangover);
      ASSERT_EQ((std::vector<int32_t>{inBg, st.voicedHangover}), f.rec["B"]) << name << " frame " << n;
    }
  }
}

}  // namespace
}  // namespace amrnb
