// Receive classification: the DTX receive state machine, the speech-path bad-frame flags and
// state counter, and the substitute parameters of onset and no-data frames (3GPP TS 26.073
// rx_dtx_handler, build_CN_param and the bad-frame handling at the start of Decoder_amr).
#include "fixed_point.h"
#include "stages.h"
#include "tables/tables.h"

namespace amrnb {

namespace {

constexpr int32_t DTX_MAX_EMPTY_THRESH = 50;       // frames without a SID update before muting
constexpr int32_t DTX_ELAPSED_FRAMES_THRESH = 30;  // frames between two comfort-noise analyses
constexpr int16_t DTX_HANG_CONST = 7;              // length of the sender's hangover

}  // namespace

int32_t rx_dtx_handler(DecoderState& st, int32_t rx_type) {
  DtxDecState& dtx = st.dtx;
  const int32_t t = rx_type & 7;  // receive types are 0..7; the mask keeps the lookups in range
  int32_t new_state;

  // A SID frame, or a lost frame while the previous frame was already comfort noise, keeps
  // (or puts) the decoder in the comfort-noise period.
  if (rx_type_sid[t] != 0 || (rx_type_bad[t] != 0 && st.dtxGlobalState != SPEECH)) {
    new_state = DTX;
    if (st.dtxGlobalState == DTX_MUTE && rx_type_stays_muted[t] != 0) new_state = DTX_MUTE;
    dtx.since_last_sid = wrap16(dtx.since_last_sid + 1);
    // Too long without a SID update: mute, unless this frame is the update itself.
    if (t != RX_SID_UPDATE && dtx.since_last_sid > DTX_MAX_EMPTY_THRESH) new_state = DTX_MUTE;
  } else {
    new_state = SPEECH;
    dtx.since_last_sid = 0;
  }

  // A SID update that the comfort-noise decoder has not taken in yet restarts the count of
  // frames since the last analysis.
  if (dtx.data_updated == 0 && t == RX_SID_UPDATE) dtx.decAnaElapsedCount = 0;

  dtx.decAnaElapsedCount = wrap16(dtx.decAnaElapsedCount + 1);
  dtx.dtxHangoverAdded = 0;

  // Follow the sender's hangover: it re-analyses the comfort-noise parameters after a hangover
  // of seven speech frames once more than 30 frames have passed since the last analysis.
  if (rx_type_cn_period[t] == 0 || (t == RX_NO_DATA && new_state == SPEECH)) {
    dtx.dtxHangoverCount = DTX_HANG_CONST;
  } else if (dtx.decAnaElapsedCount > DTX_ELAPSED_FRAMES_THRESH) {
    dtx.dtxHangoverAdded = 1;
    dtx.decAnaElapsedCount = 0;
    dtx.dtxHangoverCount = 0;
  } else if (dtx.dtxHangoverCount == 0) {
    dtx.decAnaElapsedCount = 0;
  } else {
    dtx.dtxHangoverCount = wrap16(dtx.dtxHangoverCount - 1);
  }

  if (new_state != SPEECH) {
    dtx.sid_frame = 0;
    dtx.valid_data = 0;
    if (t == RX_SID_FIRST) {
      dtx.sid_frame = 1;
    } else if (t == RX_SID_UPDATE) {
      dtx.sid_frame = 1;
      dtx.valid_data = 1;
    } else if (t == RX_SID_BAD) {
      dtx.sid_frame = 1;
      dtx.dtxHangoverAdded = 0;
    }
  }
  return new_state;
}

void rx_classify(DecoderState& st, int32_t rx_type, int32_t mode, int16_t* parm, int32_t* bfi,
                 int32_t* pdfi) {
  const int32_t t = rx_type & 7;
  *pdfi = 0;
  if (rx_type_bad[t] != 0) {
    *bfi = 1;
    // An onset or no-data frame carries no usable parameters; a bad speech frame keeps its
    // unpacked ones (the concealment ignores the damaged fields).
    if (t != RX_SPEECH_BAD) build_CN_param(&st.nodataSeed, mode, parm);
    st.state = wrap16(st.state + 1);
  } else {
    *bfi = 0;
    if (t == RX_SPEECH_DEGRADED) *pdfi = 1;
    // One good frame after the deepest concealment steps back by one; otherwise recovered.
    st.state = (st.state == 6) ? 5 : 0;
  }
  if (st.state > 6) st.state = 6;

  // The first speech frame after comfort noise starts one step from the deepest concealment
  // state; after a muted period it is also treated as following a bad frame.
  if (st.dtxGlobalState == DTX) {
    st.state = 5;
    st.prev_bf = 0;
  } else if (st.dtxGlobalState == DTX_MUTE) {
    st.state = 5;
    st.prev_bf = 1;
  }
}

void build_CN_param(int16_t* seed, int32_t mode, int16_t* parm) {
  // Linear congruential generator on 16 bits; the product fits in 32 bits.
  *seed = wrap16(*seed * 31821 + 13849);
  if (mode < MR475 || mode > MR122) return;

  // The analysis window serves as a fixed source of pseudo-random values; each one is cut to
  // the parameter's bit width so that it is a valid index. Reads entries 0..127+56.
  const int32_t start = *seed & 127;
  const ModeTable& bits = bitno_by_mode[mode];
  for (int32_t i = 0; i < bits.count; ++i) {
    const int32_t mask = (1 << bits.values[i]) - 1;
    parm[i] = static_cast<int16_t>(window_200_40[start + i] & mask);
  }
}

}  // namespace amrnb
