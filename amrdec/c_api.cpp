// C entry points: thin wrappers that hand the caller's untyped blocks to the C++ interface.
#include "amrnb_decoder_c.h"

#include "amrnb_decoder.h"

static_assert(AMRNB_FRAME_SAMPLES == amrnb::kFrameSamples);
static_assert(AMRNB_RESET_PARTIAL == amrnb::MRDTX);
static_assert(AMRNB_OK == amrnb::AMRNBDEC_OK);
static_assert(AMRNB_ERROR_GENERAL == amrnb::AMRNBDEC_ERROR_GENERAL);
static_assert(AMRNB_ERROR_BITSTREAM == amrnb::AMRNBDEC_ERROR_BITSTREAM);

extern "C" {

size_t amrnb_state_size(void) { return amrnb::kDecoderStateSize; }

size_t amrnb_scratch_size(void) { return amrnb::kDecoderScratchSize; }

void amrnb_reset(void* state, int32_t mode) {
  amrnb::ResetDecoder(mode, static_cast<amrnb::DecoderState*>(state));
}

int32_t amrnb_decode_frame(uint8_t* frame, void* state, void* scratch, int16_t* output,
                           int32_t input_layout) {
  return amrnb::DecodeFrame(frame, static_cast<amrnb::DecoderState*>(state),
                            static_cast<amrnb::DecoderScratch*>(scratch), output, input_layout);
}

int32_t amrnb_frame_bytes(int32_t frame_type, int32_t input_layout) {
  return amrnb::FrameBytes(frame_type, input_layout);
}

}  // extern "C"
