// Comfort-noise decoding: reflection coefficients, SID intake and interpolation, muting, the
// 16-bit excitation level and the speech history. The hangover analysis is covered by the
// whole-decoder conformance streams (dtx).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <numbers>

#include "amrdec/decoder_state.h"
#include "amrdec/stages.h"

namespace amrnb {
namespace {

TEST(ARefl, RecoversReflectionCoefficientsAndRejectsUnstableFilters) {
  int32_t refl[M];
  const int16_t flat[M] = {};
  A_Refl(flat, refl);
  for (int32_t r : refl) EXPECT_EQ(r, 0);

  // A(z) = 1 + 0.35 z^-1 - 0.3 z^-2 has the reflection coefficients 0.5 and -0.3.
  const int16_t second_order[M] = {1434, -1229};
  A_Refl(second_order, refl);
  EXPECT_EQ(refl[1], -1229 * 8);
  EXPECT_NEAR(refl[0], 16384, 16);
  for (int i = 2; i < M; ++i) EXPECT_EQ(refl[i], 0);

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

// A decoder state as the core leaves it before dtx_dec: fully reset, then the partial reset
// of every comfort-noise frame.
class DtxDec : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetDecoder(0, &st);
    ResetDecoder(MRDTX, &st);
  }
  void Run(int32_t new_state, int32_t mode, const int16_t* parm) {
    dtx_dec(st, buf + M, A_t, new_state, mode, parm);
    st.dtxGlobalState = new_state;
  }
  void SidUpdate(int16_t since_last_sid, int16_t energy_index) {
    st.dtx.sid_frame = 1;
    st.dtx.valid_data = 1;
    st.dtx.since_last_sid = since_last_sid;
    const int16_t parm[5] = {2, 17, 300, 200, energy_index};
    Run(DTX, MR122, parm);
  }
  int PeakOutput() const {
    int peak = 0;
    for (int i = M; i < M + L_FRAME; ++i) peak = std::max(peak, std::abs(buf[i]));
    return peak;
  }
  DecoderState st;
  int16_t buf[M + L_FRAME] = {};
  int16_t A_t[4 * M] = {};
};

TEST_F(DtxDec, SilentFirstSidAndInterpolationBetweenUpdates) {
  SidUpdate(1, 0);  // energy index 0: silence
  EXPECT_EQ(st.dtx.log_en, -32768);
  EXPECT_EQ(st.dtx.old_log_en, -32768);  // first data: no interpolation
  EXPECT_EQ(PeakOutput(), 0);
  EXPECT_EQ(st.dtx.data_updated, 1);
  EXPECT_EQ(st.dtx.since_last_sid, 0);
  EXPECT_EQ(st.dtx.true_sid_period_inv, 16384);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(st.past_qua_en[i], -14436);        // floor of (log_en >> 1) - 9000
  for (int i = 0; i < 4; ++i) EXPECT_EQ(st.past_qua_en_MR122[i], -2398);  // -14436 * 5443 >> 15

  int32_t first_lsp[M];
  std::copy_n(st.dtx.cn_lsp, M, first_lsp);
  SidUpdate(8, 20);  // eight frames later, during comfort noise: interpolated from the last SID
  EXPECT_EQ(st.dtx.true_sid_period_inv, 4096);
  EXPECT_EQ(st.dtx.log_en, 20 * 512 - 5120);
  EXPECT_EQ(st.dtx.old_log_en, -32768);
  EXPECT_TRUE(std::equal(first_lsp, first_lsp + M, st.dtx.cn_lsp_old));
  EXPECT_EQ(st.past_qua_en[0], 2560 - 9000);
  EXPECT_EQ(st.past_qua_en_MR122[0], -1070);  // -6440 * 5443 >> 15, rounded down

  st.dtxGlobalState = SPEECH;  // an update straight after speech starts afresh
  SidUpdate(40, 30);
  EXPECT_EQ(st.dtx.true_sid_period_inv, 1024);  // interval limited to 32 frames
  EXPECT_TRUE(std::equal(st.dtx.cn_lsp, st.dtx.cn_lsp + M, st.dtx.cn_lsp_old));
}

TEST_F(DtxDec, MutingLowersTheEnergyToItsFloor) {
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

TEST_F(DtxDec, ExcitationLevelIsKeptIn16Bits) {
  // Evenly spaced LSFs k/11 give A(z) close to 1, so the output is the pulses themselves:
  // ten per subframe of magnitude level / 8, level = 2^(log_en / 2048 + 4).
  for (int i = 0; i < M; ++i) {
    st.dtx.cn_lsp[i] = std::lround(32767 * std::cos((i + 1) * std::numbers::pi / 11));
    st.dtx.cn_lsp_old[i] = st.dtx.cn_lsp[i];
  }
  st.dtx.log_en = st.dtx.old_log_en = 52 * 512 - 5120;  // 2^14.5: level 23170, pulses 2896
  Run(DTX, MR122, nullptr);
  EXPECT_NEAR(PeakOutput(), 2896, 60);
  st.dtx.log_en = st.dtx.old_log_en = 56 * 512 - 5120;  // 2^15.5 = 46341 wraps to -19195
  Run(DTX, MR122, nullptr);
  EXPECT_NEAR(PeakOutput(), 2399, 60);  // not 5793 (no wrap) nor 4096 (saturated)
}

TEST(DtxActivityUpdate, RecordsLsfsAndLogEnergyInARing) {
  DecoderState st;
  ResetDecoder(0, &st);
  int16_t frame[L_FRAME];
  std::fill_n(frame, L_FRAME, 1024);  // mean square 2^20
  for (int32_t n = 1; n <= DTX_HIST_SIZE; ++n) {
    const int32_t lsf[M] = {n, n, n, n, n, n, n, n, n, n};
    if (n == DTX_HIST_SIZE) std::fill_n(frame, L_FRAME, 0);
    dtx_dec_activity_update(st, lsf, frame);
  }
  EXPECT_EQ(st.dtx.lsf_hist_ptr, 0);
  EXPECT_EQ(st.dtx.log_en_hist_ptr, 0);
  EXPECT_EQ(st.dtx.lsf_hist[10], 1);  // first update went to the second row
  EXPECT_EQ(st.dtx.lsf_hist[0], 8);   // the eighth wrapped to the first
  EXPECT_EQ(st.dtx.log_en_hist[1], 20 * 1024);  // log2 of the mean square, Q10
  EXPECT_EQ(st.dtx.log_en_hist[0], -8521);      // silence
}

}  // namespace
}  // namespace amrnb
