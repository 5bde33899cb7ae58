// Stage routines at the edges that the conformance streams do not reach or do not isolate:
// LSF concealment and ordering, the sender's hangover, lag windows, the frame packer, the
// background-noise detector and energy control, agc's gain limits, reflection coefficients and
// the comfort-noise decoder's muted levels.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

#include "amrdec/decoder_state.h"
#include "amrdec/fixed_point.h"
#include "amrdec/stages.h"
#include "amrdec/tables/tables.h"
#include "tools/frame_packer.h"

namespace amrnb {
namespace {

using Vec = std::vector<int32_t>;
template <typename T>
Vec V(const T* x, int n = M) { return Vec(x, x + n); }

TEST(LsfDecode, ConcealmentOrderingSidPredictionAndSmoothing) {
  const int16_t idx[5] = {0, 0, 0, 0, 0};  // first rows: 6 82 -131 | 50 71 -9 | 67 -17 66 -12
  int32_t mid[M], lsp[M];
  DecoderState st;
  ResetDecoder(MR475, &st);  // bad frames right after a reset decay mean_lsf_5
  D_plsf_3(st, MR67, 1, idx, lsp);
  EXPECT_EQ(V(st.past_lsf_q), (Vec{1399, 2096, 3454, 5145, 6764, 8147, 9880, 11104, 12718, 13701}));
  ResetDecoder(MR475, &st);
  D_plsf_5(st, 1, idx, mid, lsp);
  EXPECT_EQ(V(st.past_lsf_q), (Vec{1383, 2076, 3419, 5107, 6741, 8121, 9862, 11090, 12712, 13700}));
  EXPECT_EQ(V(mid), V(lsp));

  // From a zero history the bad frame gives offset3 (154, 227, ...), all gaps below 205; one
  // LSF of (20000 x 0.9) + 697 pushes all later ones, with no upper bound.
  std::fill_n(st.past_lsf_q, M, 0);
  st.past_lsf_q[4] = 20000;
  D_plsf_3(st, MR102, 1, idx, lsp);
  EXPECT_EQ(V(st.past_lsf_q), (Vec{205, 410, 615, 820, 18696, 18901, 19106, 19311, 19516, 19721}));

  // A SID frame adds the whole previous residual to residual + mean_lsf_3.
  std::fill_n(st.past_r_q, M, 1000);
  D_plsf_3(st, MRDTX, 0, idx, lsp);
  EXPECT_EQ(V(st.past_lsf_q), (Vec{2552, 3354, 4647, 6538, 8043, 9373, 11114, 12212, 13832, 14702}));

  // Mean smoothing rounds: 0.16 x 16384 is 2621.5 in Q15 arithmetic; an input equal to the mean stays.
  const int32_t lsf[M] = {16384, 13701};
  st.lsp_meanSave[0] = 0;
  st.lsp_meanSave[1] = 13701;
  lsp_avg(st, lsf);
  EXPECT_EQ(V(st.lsp_meanSave, 2), (Vec{2622, 13701}));
}

// The sender's hangover is recognised at a SID_FIRST more than 30 frames after the last one.
TEST(RxClassify, HangoverAfterMoreThanThirtyFrames) {
  DecoderState st;
  for (int gap : {29, 30}) {
    ResetDecoder(MR475, &st);
    rx_dtx_handler(st, RX_SID_FIRST);
    for (int i = 0; i < gap; ++i) rx_dtx_handler(st, RX_SPEECH_GOOD);
    rx_dtx_handler(st, RX_SID_FIRST);
    EXPECT_EQ(st.dtx.dtxHangoverAdded, gap == 30 ? 1 : 0) << gap;
  }
  // The count starts at 31 and wraps in 16 bits: 32736 frames later it reads negative.
  ResetDecoder(MR475, &st);
  for (int i = 0; i < 32736; ++i) rx_dtx_handler(st, RX_SPEECH_GOOD);
  rx_dtx_handler(st, RX_SID_FIRST);
  EXPECT_EQ(st.dtx.dtxHangoverAdded, 0);
}

// Random parameters of every mode and of SID frames, packed in both layouts, unpack unchanged.
TEST(FramePacker, RoundTripsThroughTheUnpackers) {
  std::mt19937 rng(5);
  for (int trial = 0; trial < 100; ++trial) {
    for (int32_t ft = 0; ft <= 8; ++ft) {
      int16_t parm[MAX_PRM] = {}, got[MAX_PRM];
      for (int i = 0; i < amrtools::ParamCount(ft); ++i) parm[i] = static_cast<int16_t>(rng() % (1u << amrtools::ParamBits(ft, i)));
      const amrtools::FrameInfo info{ft, 1, trial % 2, trial % 8};
      for (auto layout : {amrtools::Layout::kStorage, amrtools::Layout::kIf2}) {
        const std::vector<uint8_t> frame = amrtools::PackFrame(layout, info, parm);
        int32_t rx = -1, mode = ft == 8 ? -1 : trial % 8;
        int16_t quality = 0;
        EXPECT_EQ(layout == amrtools::Layout::kIf2 ? UnpackIf2Frame(frame.data(), got, &rx, &mode)
                                                   : UnpackStorageFrame(frame.data(), got, &rx, &mode, &quality), ft);
        ASSERT_EQ(V(got, MAX_PRM), V(parm, MAX_PRM)) << "type " << ft << ", trial " << trial;
        EXPECT_EQ(rx, ft < 8 ? RX_SPEECH_GOOD : trial % 2 ? RX_SID_UPDATE : RX_SID_FIRST);
        EXPECT_EQ(mode, trial % 8);
      }
    }
  }
}

TEST(LagDecoding, EdgesOfTheIndexRanges) {
  // {index, t0_min, t0_max, pit_flag, previous lag, flag4 (thirds) or -1 (sixths), T0, frac}
  const int32_t cases[][8] = {
      {0, 0, 0, 0, 40, 0, 19, 1},  {196, 0, 0, 0, 40, 0, 85, -1},  // absolute thirds
      {197, 0, 0, 0, 40, 0, 85, 0}, {255, 0, 0, 0, 40, 0, 143, 0},  // then integer lags
      {0, 0, 0, 0, 40, -1, 17, 3}, {462, 0, 0, 0, 40, -1, 94, 3},   // absolute sixths
      {463, 0, 0, 0, 40, -1, 95, 0}, {511, 0, 0, 0, 40, -1, 143, 0},
      // 4-bit relative around old_T0 = 60 in the window 55..64.
      {0, 55, 64, 40, 60, 1, 55, 0}, {3, 55, 64, 40, 60, 1, 58, 0}, {4, 55, 64, 40, 60, 1, 58, 1},
      {11, 55, 64, 40, 60, 1, 61, -1}, {12, 55, 64, 40, 60, 1, 61, 0}, {15, 55, 64, 40, 60, 1, 64, 0},
      // A previous lag far below a window at the top: centred as far as the window allows.
      {0, 134, 143, 40, 30, 1, 134, 0},
      // 5-bit relative at the top of a window ending at 143 reaches 144 with fraction -1.
      {31, 134, 143, 40, 143, 0, 144, -1}, {0, 134, 143, 40, 143, 0, 133, 1},
      // 6-bit relative sixths: the window starts at 18 at the lowest and 134 at the highest.
      {0, 0, 0, 40, 19, -1, 17, 3}, {63, 0, 0, 40, 19, -1, 28, 0},
      {0, 0, 0, 40, 143, -1, 133, 3}, {60, 0, 0, 40, 143, -1, 143, 3},
  };
  for (const auto& c : cases) {
    int32_t T0 = c[4], frac = 99;
    if (c[5] < 0) {
      Dec_lag6(c[0], c[3], &T0, &frac);
    } else {
      Dec_lag3(c[0], c[1], c[2], c[3], c[4], &T0, &frac, c[5]);
    }
    EXPECT_EQ(T0, c[6]) << "index " << c[0] << " prev " << c[4];
    EXPECT_EQ(frac, c[7]) << "index " << c[0] << " prev " << c[4];
  }
}

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

TEST(BgnScd, VoicingLimitAndMedianGrowWithTheNoiseRun) {
  DecoderState st;
  ResetDecoder(MR475, &st);
  // {run before the frame, the nine pitch gains (one value, or 16384 for the older five and 0
  // for the last four), voiced hangover after it}. From 16 frames the limit is 16383, from 21 the
  // median is of all nine gains.
  const int32_t cases[][3] = {{20, 16384, 0}, {20, 16383, 5}, {20, -1, 0}, {19, -1, 5}, {14, 15566, 0},
                              {15, 15566, 5}};
  for (const auto& [run, gain, voiced] : cases) {
    int32_t ltp[9], vh = 4;
    std::fill_n(ltp, 9, gain < 0 ? 0 : gain);
    if (gain < 0) std::fill_n(ltp, 5, 16384);
    std::fill_n(st.frameEnergyHist, 60, 195);
    st.bgHangover = static_cast<int16_t>(run);
    EXPECT_EQ(Frame(st, 100, ltp, &vh), 1);
    EXPECT_EQ(vh, voiced) << run << " " << gain;
  }
}

TEST(ExCtrl, RaisesWeakSubframeTowardMedianWithinLimits) {
  const int32_t flat[9] = {1000, 1000, 1000, 1000, 1000, 1000, 1000, 1000, 1000};
  const int32_t dropped[9] = {4000, 4000, 4000, 4000, 4000, 4000, 4000, 900, 500};
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
  // Median 4000, last energy 500 (below the mean of the last two, 700): target 4 x 500 (scale
  // 20478 in Q10), or 3 x 500 (15358) after a bad frame or a recent voiced frame; products are floored.
  EXPECT_EQ(run(10, 100, dropped, 7, 0, 0), (V{199, -200}));
  EXPECT_EQ(run(10, 100, dropped, 7, 1, 0), (V{149, -150}));
  EXPECT_EQ(run(10, 100, dropped, 6, 0, 0), (V{149, -150}));
  // Energy 10 against 1000: scale limited to 32767, or 3.0 when careful; results wrap in 16 bits.
  EXPECT_EQ(run(100, 10, flat, 10, 0, 0), (V{3199, -3200}));
  EXPECT_EQ(run(100, 10, flat, 10, 0, 1), (V{300, -300}));
  EXPECT_EQ(run(2000, 10, flat, 10, 0, 0), (V{63998 - 65536, 65536 - 63999}));
}

// The limits of agc's gain step g0. A near-silent output against a full-scale reference: the
// step (Inv_sqrt(0) + 64) >> 7 = 2^23 is limited to 32767, g0 = 3275 (the gain rises toward
// 32750). A loud output against a near-silent reference: the energy ratio shifted left wraps
// negative and is taken as the largest, g0 = 18 (the gain falls toward 180). An output whose
// energy measure is 0 (two samples of 1) is silent: -1, the gain starts again from 0.
TEST(Agc, GainStepLimits) {
  struct Case { int16_t in, out; int out_samples; int32_t g0; };
  for (const Case c : {Case{MAX_16, 1, 8, 3275}, Case{1, 23, L_SUBFR, 18}, Case{MAX_16, 1, 2, -1}}) {
    int16_t in[L_SUBFR], out[L_SUBFR] = {};
    std::fill_n(in, L_SUBFR, c.in);
    std::fill_n(out, c.out_samples, c.out);
    EXPECT_EQ(AgcStep(in, out), c.g0) << c.in << " " << c.out;
  }
}

TEST(ARefl, RecoversReflectionCoefficientsAndRejectsUnstableFilters) {
  int32_t refl[M];
  const int16_t flat[M] = {};
  A_Refl(flat, refl);
  for (int32_t r : refl) EXPECT_EQ(r, 0);

  // A coefficient of 1.0 or more at the step that examines it voids every coefficient,
  // including those already computed at higher orders.
  const int16_t unstable_top[M] = {0, 0, 0, 0, 0, 0, 0, 0, 0, -4096};
  const int16_t unstable_low[M] = {6000, 0, 0, 0, 0, 0, 0, 0, 0, 100};
  for (const int16_t* a : {unstable_top, unstable_low}) {
    std::fill_n(refl, M, 1);
    A_Refl(a, refl);
    for (int32_t r : refl) EXPECT_EQ(r, 0);
  }
}

TEST(DtxDec, MutingLowersTheEnergyToItsFloor) {
  // The state as the core leaves it before dtx_dec: fully reset, then partially (every
  // comfort-noise frame).
  DecoderState st;
  ResetDecoder(0, &st);
  ResetDecoder(MRDTX, &st);
  int16_t buf[M + L_FRAME] = {}, A_t[4 * M] = {};
  const auto Run = [&](int32_t new_state, int32_t mode, const int16_t* parm) {
    dtx_dec(st, buf + M, A_t, new_state, mode, parm);
    st.dtxGlobalState = new_state;
  };
  st.dtx.log_en = -32768 + 300;
  st.dtx.since_last_sid = 1;
  Run(DTX_MUTE, MR475, nullptr);
  EXPECT_EQ(st.dtx.true_sid_period_inv, 32767);
  EXPECT_EQ(st.dtx.old_log_en, -32768 + 300);
  EXPECT_EQ(st.dtx.log_en, -32768 + 44);
  EXPECT_EQ(st.dtx.since_last_sid, 0);

  st.dtx.since_last_sid = 3;
  Run(DTX_MUTE, MR475, nullptr);
  EXPECT_EQ(st.dtx.true_sid_period_inv, 10922);  // 32768 / 3, truncated
  EXPECT_EQ(st.dtx.log_en, -32768);
  Run(DTX_MUTE, MR475, nullptr);
  EXPECT_EQ(st.dtx.log_en, -32768);
}

}  // namespace
}  // namespace amrnb
