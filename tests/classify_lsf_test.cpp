// Receive classification, LSF decoding and LP interpolation: concealment, ordering and SID
// prediction of the LSF decoder, the DTX state machine, and the conformance streams' traces.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "stage_trace.h"
#include "stages.h"
#include "tables/tables.h"

namespace amrnb {
namespace {

using Vec = std::vector<int32_t>;
Vec V(const int32_t* x, int n = M) { return Vec(x, x + n); }

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

// The core's comfort-noise frame as this state machine sees it: partial reset, and the
// comfort-noise decoder taking in SID data (or muting), which restarts the SID count.
void ComfortNoiseFrame(DecoderState& st, int32_t new_state) {
  ResetDecoder(MRDTX, &st);
  if (st.dtx.sid_frame && (st.dtx.valid_data || st.dtx.dtxHangoverAdded)) st.dtx.data_updated = 1;
  if ((st.dtx.sid_frame && st.dtx.valid_data) || new_state == DTX_MUTE) st.dtx.since_last_sid = 0;
  st.dtxGlobalState = new_state;
}

TEST(RxClassify, MutingAndHangover) {
  DecoderState st;
  ResetDecoder(MR475, &st);
  ASSERT_EQ(rx_dtx_handler(st, RX_SID_UPDATE), DTX);
  ComfortNoiseFrame(st, DTX);
  for (int i = 1; i <= 50; ++i) ASSERT_EQ(rx_dtx_handler(st, RX_NO_DATA), DTX) << i;  // not yet muted
  EXPECT_EQ(rx_dtx_handler(st, RX_NO_DATA), DTX_MUTE);  // 51 frames without an update
  ComfortNoiseFrame(st, DTX_MUTE);
  EXPECT_EQ(rx_dtx_handler(st, RX_SID_BAD), DTX_MUTE);  // muting persists
  ComfortNoiseFrame(st, DTX_MUTE);
  int16_t parm[MAX_PRM] = {};
  int32_t bfi = -1, pdfi = -1;
  ASSERT_EQ(rx_dtx_handler(st, RX_SPEECH_GOOD), SPEECH);
  rx_classify(st, RX_SPEECH_GOOD, MR475, parm, &bfi, &pdfi);
  EXPECT_EQ((Vec{bfi, pdfi, st.state, st.prev_bf}), (Vec{0, 0, 5, 1}));  // as after a bad frame

  // A bad speech frame keeps its parameters; a no-data frame decoded as speech draws new ones
  // (the concealment reads them for pitch and codebooks): seed 21845 -> 3242, window from 42.
  st.dtxGlobalState = SPEECH;
  parm[0] = 1;
  rx_classify(st, RX_SPEECH_BAD, MR475, parm, &bfi, &pdfi);
  EXPECT_EQ((Vec{bfi, st.state, parm[0]}), (Vec{1, 6, 1}));
  rx_classify(st, RX_NO_DATA, MR475, parm, &bfi, &pdfi);
  EXPECT_EQ(st.nodataSeed, 3242);
  for (int i = 0; i < 17; ++i) EXPECT_EQ(parm[i], window_200_40[42 + i] & ((1 << bitno_MR475[i]) - 1)) << i;

  // The sender's hangover is recognised at a SID_FIRST more than 30 frames after the last one.
  for (int gap : {29, 30}) {
    ResetDecoder(MR475, &st);
    rx_dtx_handler(st, RX_SID_FIRST);
    for (int i = 0; i < gap; ++i) rx_dtx_handler(st, RX_SPEECH_GOOD);
    rx_dtx_handler(st, RX_SID_FIRST);
    EXPECT_EQ(st.dtx.dtxHangoverAdded, gap == 30 ? 1 : 0) << gap;
  }
}

// Every frame of the conformance streams from a reset: the path, bfi, bad-frame counter and
// DTX state; and, until the first comfort-noise frame (whose LSF update belongs to the
// comfort-noise decoder), lsp_new, lsp_mid and A_t. After a comfort-noise frame since_last_sid
// is taken from its trace record.
TEST(ClassifyLsfConformance, Streams) {
  for (const char* name : {"mode0", "mode1", "mode2", "mode3", "mode4", "mode5", "mode6", "mode7",
                           "speechlike", "speechlike_bad", "dtx", "mixed"}) {
    auto frames = stagetrace::Load(name);
    ASSERT_FALSE(frames.empty()) << "missing trace " << name;
    DecoderState st;
    ResetDecoder(MR475, &st);
    bool lsf_known = true;
    for (size_t n = 0; n < frames.size(); ++n) {
      auto& f = frames[n];
      const Vec& F = f.rec["F"];  // rx mode bfi state dtx
      const int32_t new_state = rx_dtx_handler(st, F[0]);
      int32_t bfi = 0, pdfi = 0;
      if (new_state != SPEECH) {
        ASSERT_EQ(f.path, "cn") << name << " frame " << n;
        ComfortNoiseFrame(st, new_state);
        st.dtx.since_last_sid = static_cast<int16_t>(f.rec["C"].at(4));
        lsf_known = false;
      } else {
        ASSERT_EQ(f.path, "speech") << name << " frame " << n;
        rx_classify(st, F[0], F[1], f.parm.data(), &bfi, &pdfi);
        int32_t mid[M], lsp[M];
        int16_t A_t[4 * M];
        if (F[1] == MR122) {
          D_plsf_5(st, bfi, f.parm.data(), mid, lsp);
          Int_lpc_1and3(st.lsp_old, mid, lsp, A_t);
          if (lsf_known) {
            ASSERT_EQ(V(mid), f.rec["M"]) << name << " frame " << n;
          }
        } else {
          D_plsf_3(st, F[1], bfi, f.parm.data(), lsp);
          Int_lpc_1to3(st.lsp_old, lsp, A_t);
        }
        if (lsf_known) {
          ASSERT_EQ(V(lsp), f.rec["L"]) << name << " frame " << n;
          ASSERT_EQ(Vec(A_t, A_t + 4 * M), f.rec["A"]) << name << " frame " << n;
        }
        std::copy_n(lsp, M, st.lsp_old);
        st.prev_bf = static_cast<int16_t>(bfi);
        st.prev_pdf = static_cast<int16_t>(pdfi);
        st.dtxGlobalState = SPEECH;
      }
      ASSERT_EQ((Vec{bfi, st.state, st.dtxGlobalState}), (Vec{F[2], F[3], F[4]})) << name << " frame " << n;
    }
  }
}

}  // namespace
}  // namespace amrnb
