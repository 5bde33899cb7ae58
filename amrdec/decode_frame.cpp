// Per-frame entry of the decoder: unpacking, frame type to mode and receive type mapping,
// decoder homing (3GPP TS 26.073), then the core, which ends with the frame's filters (the
// post-filter and the output high-pass among them) in the build's schedule.
#include <algorithm>
#include <cstdint>

#include "amrnb_decoder.h"
#include "decoder_state.h"
#include "stages.h"
#include "tables/tables.h"
#include "trace.h"

namespace amrnb {

namespace {

constexpr int16_t EHF_MASK = 0x0008;  // output sample of a frame answered by the homing test

// The frame's filters in the plain serial schedule in the scalar-kernel build (AMRCONV_SIMD=OFF),
// interleaved where the build may use intrinsic kernels, which run the output stage inside the
// synthesis filters' loops.
#ifdef AMRCONV_NO_SIMD
constexpr Schedule kBuildSchedule = Schedule::kSerial;
#else
constexpr Schedule kBuildSchedule = Schedule::kInterleaved;
#endif

// True when the first `count` parameters equal those of the mode's decoder homing frame.
bool MatchesHomingFrame(const int16_t* parm, int32_t mode, int32_t count) {
  const int16_t* homing = dhf_by_mode[mode].values;
  return std::equal(parm, parm + count, homing);
}

}  // namespace

int32_t DecodeFrameScheduled(uint8_t* frame, DecoderState* state, DecoderScratch* scratch, int16_t* output,
                             int32_t input_layout, DecodeTrace* trace, Schedule schedule) {
  DecoderState& st = *state;
  DecoderScratch& scr = *scratch;

  // Two modes describe a frame: `mode`, the frame's own (a speech mode 0..7, or MRDTX for
  // comfort noise), which the homing test and prev_mode use; and `indicated`, the speech mode
  // that a SID frame announces (the previous mode for no data), which the core and the
  // post-filter get for comfort noise.
  int32_t indicated = 0;
  int32_t rx = RX_SPEECH_GOOD;
  int32_t bfi = 0;
  int32_t frame_type = 0;
  if (input_layout != 0) {
    frame_type = UnpackIf2Frame(frame, scr.parm, &rx, &indicated);
  } else {
    int16_t quality = 1;
    frame_type = UnpackStorageFrame(frame, scr.parm, &rx, &indicated, &quality);
    bfi = 1 - quality;
  }

  int32_t mode = frame_type;
  if (frame_type != FT_SID) {
    if (rx == RX_SPEECH_BAD) {
      // An invalid frame type: lost speech, or a lost SID inside a comfort-noise period.
      if (st.prev_ft > RX_SPEECH_BAD) {
        rx = RX_SID_BAD;
        mode = MRDTX;
      } else {
        mode = st.prev_mode;
      }
    } else if (rx == RX_NO_DATA) {
      mode = st.prev_mode;
      indicated = st.prev_mode;
    }
  }
  if (bfi == 1) rx = mode < MRDTX ? RX_SPEECH_BAD : RX_SID_BAD;

  const bool speech = mode >= MR475 && mode <= MR122;
  const int32_t core_mode = mode == MRDTX ? indicated : mode;
  if (trace) trace->Params(frame_type, rx, core_mode, scr.parm);

  // After a homing frame, a frame whose first subframe matches is answered with the fixed
  // pattern instead of being decoded.
  bool homing = false;  // the frame equals its mode's homing frame
  if (st.reset_flag_old == 1 && speech) homing = MatchesHomingFrame(scr.parm, mode, prmnofsf[mode]);
  const bool answered = homing;
  if (answered) {
    std::fill_n(output, L_FRAME, EHF_MASK);
  } else {
    Decoder_amr(scr, st, core_mode, rx, trace, output, schedule);
    if (trace) {
      trace->PostFilter(st.past_gain, st.mem_pre);
      trace->Post(scr.pf_out());
      trace->HighPass(st.x2, st.x1, st.y2, st.y1);
    }
  }

  if (st.reset_flag_old == 0 && speech) homing = MatchesHomingFrame(scr.parm, mode, prmno[mode]);
  // What the trace reports of the core, read before a homing reset clears it: the core leaves
  // dtxGlobalState at SPEECH only after the speech path, and prev_bf holds that frame's flag.
  const FramePath path = answered ? FramePath::kHoming
                                  : (st.dtxGlobalState == SPEECH ? FramePath::kSpeech : FramePath::kComfortNoise);
  const int32_t core_bfi = path == FramePath::kSpeech ? st.prev_bf : 0;
  const int32_t bad_frame_state = st.state;
  if (homing) ResetDecoder(MR475, &st);

  st.prev_ft = rx;
  st.reset_flag_old = homing ? 1 : 0;
  st.prev_mode = rx == RX_SPEECH_GOOD ? mode : indicated;

  if (trace) trace->Frame(path, rx, core_mode, core_bfi, bad_frame_state, st.dtxGlobalState);
  return AMRNBDEC_OK;
}

int32_t DecodeFrameTraced(uint8_t* frame, DecoderState* state, DecoderScratch* scratch, int16_t* output,
                          int32_t input_layout, DecodeTrace* trace) {
  return DecodeFrameScheduled(frame, state, scratch, output, input_layout, trace, kBuildSchedule);
}

int32_t DecodeFrame(uint8_t* frame, DecoderState* state, DecoderScratch* scratch, int16_t* output,
                    int32_t input_layout) {
  return DecodeFrameScheduled(frame, state, scratch, output, input_layout, nullptr, kBuildSchedule);
}

}  // namespace amrnb
