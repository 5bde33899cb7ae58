// Internal observation hooks of the two conductors (Decoder_amr and DecodeFrame).
//
// A DecodeTrace receives the values between the stages of one frame, so that a test can
// compare them with reference traces and name the first stage that differs. Decoding
// through DecodeFrame passes no trace: every hook is then skipped behind one pointer test,
// and the decoder keeps no trace state of its own.
#ifndef AMRDEC_TRACE_H
#define AMRDEC_TRACE_H

#include <cstdint>

#include "decoder_state.h"
#include "stages.h"

namespace amrnb {

// Which way a frame went through the decoder.
enum class FramePath : int32_t { kSpeech, kComfortNoise, kHoming };

// The values of one speech subframe, as the core used them.
struct SubframeTrace {
  int32_t T0;             // lag given to the adaptive codebook, after concealment
  int32_t T0_frac;
  int32_t gain_pit;       // after decoding/concealment and its update, before the noise limit
  int32_t gain_code;      // after the code gain update
  int32_t gain_code_mix;  // as given to phase dispersion
  int32_t pit_sharp;      // doubled sharpening factor
  int32_t excEnergy;      // before energy control
  int32_t dispersed;      // 1 when phase dispersion produced the innovation
};

// The hooks in the order they come within a frame. Each record kind is reported from one place
// of the decoder, except Az, which comes from whichever path (speech or comfort noise) made
// the coefficient sets.
class DecodeTrace {
 public:
  virtual ~DecodeTrace() = default;

  // DecodeFrame, after the frame type mapping: the unpacked parameters (before any
  // substitution), the receive type and speech mode handed on to the core.
  virtual void Params(int32_t frame_type, int32_t rx_type, int32_t mode, const int16_t* parm) = 0;
  // The core, speech path.
  virtual void LspNew(const int32_t* lsp_new) = 0;
  virtual void LspMid(const int32_t* lsp_mid) = 0;  // MR122 only
  virtual void Az(const int16_t* A_t) = 0;          // 4 x 10 coefficients
  virtual void Subframe(int32_t k, const SubframeTrace& sf) = 0;
  virtual void Background(int32_t inBackgroundNoise, int32_t voicedHangover) = 0;
  // The core, comfort-noise path (followed by Az).
  virtual void ComfortNoise(const DtxDecState& dtx) = 0;
  // 160 samples each, after the core and after the post-filter; neither is reported for a
  // frame answered by the homing test.
  virtual void Synth(const int16_t* synth) = 0;
  virtual void PostFilter(int32_t past_gain, int32_t mem_pre) = 0;
  virtual void Post(const int16_t* post) = 0;
  virtual void HighPass(int32_t x2, int32_t x1, int32_t y2, int32_t y1) = 0;
  // Last hook of every frame, from DecodeFrame: the way the frame went, the receive type and
  // speech mode given to the core, the core's bad-frame flag (0 off the speech path), the
  // bad-frame counter `state` as the frame left it before a homing reset, and dtxGlobalState
  // after DecodeFrame's work (after a homing reset, if one followed).
  virtual void Frame(FramePath path, int32_t rx_type, int32_t mode, int32_t bfi, int32_t state,
                     int32_t dtxGlobalState) = 0;
};

// DecodeFrame with observation hooks (none when `trace` is null) and the frame's filters in the
// given schedule; DecodeFrame and DecodeFrameTraced use the build's schedule.
int32_t DecodeFrameScheduled(uint8_t* frame, DecoderState* state, DecoderScratch* scratch, int16_t* output,
                             int32_t input_layout, DecodeTrace* trace, Schedule schedule);
int32_t DecodeFrameTraced(uint8_t* frame, DecoderState* state, DecoderScratch* scratch,
                          int16_t* output, int32_t input_layout, DecodeTrace* trace);

}  // namespace amrnb

#endif  // AMRDEC_TRACE_H
