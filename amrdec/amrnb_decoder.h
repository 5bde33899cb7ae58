// Public interface of the fixed-point AMR-NB speech decoder (3GPP TS 26.073 algorithm).
//
// The decoder owns no memory: the caller allocates one state block (persistent for a
// stream) and one scratch block (working memory of a single call) of the sizes declared
// below, calls ResetDecoder once on the state block, then DecodeFrame once per frame.
#ifndef AMRDEC_AMRNB_DECODER_H
#define AMRDEC_AMRNB_DECODER_H

#include <cstddef>
#include <cstdint>

namespace amrnb {

// Frame types as carried in the frame header (bits 6..3 of the storage-format header byte).
enum FrameType : int32_t {
  FT_MR475 = 0, FT_MR515 = 1, FT_MR59 = 2, FT_MR67 = 3, FT_MR74 = 4, FT_MR795 = 5,
  FT_MR102 = 6, FT_MR122 = 7, FT_SID = 8, FT_NO_DATA = 15,
};

// Speech modes.
enum Mode : int32_t {
  MR475 = 0, MR515 = 1, MR59 = 2, MR67 = 3, MR74 = 4, MR795 = 5, MR102 = 6, MR122 = 7, MRDTX = 8,
};

// Receive types.
enum RxType : int32_t {
  RX_SPEECH_GOOD = 0, RX_SPEECH_DEGRADED = 1, RX_ONSET = 2, RX_SPEECH_BAD = 3,
  RX_SID_FIRST = 4, RX_SID_UPDATE = 5, RX_SID_BAD = 6, RX_NO_DATA = 7,
};

// Status values of DecodeFrame.
enum DecodeStatus : int32_t {
  AMRNBDEC_OK = 0, AMRNBDEC_ERROR_GENERAL = 1, AMRNBDEC_ERROR_BITSTREAM = 2,
};

// Samples produced per frame (20 ms at 8000 Hz).
inline constexpr std::size_t kFrameSamples = 160;

// Opaque memory blocks; their layout is private to the decoder.
struct DecoderState;
struct DecoderScratch;

// Sizes in bytes of the two blocks the caller allocates (any allocation aligned for
// int32_t, such as malloc's, will do).
extern const std::size_t kDecoderStateSize;
extern const std::size_t kDecoderScratchSize;

// Mode MRDTX (8) performs the partial reset used at the start of comfort noise; any other
// value performs the full reset that a new stream needs.
void ResetDecoder(int32_t mode, DecoderState* state);

// Decodes one frame into 160 samples. `frame` holds the header byte and the payload and
// may be modified. `input_layout` 0 selects the octet-aligned storage layout (with its
// quality bit); any other value the IF2 layout. Always returns AMRNBDEC_OK.
int32_t DecodeFrame(uint8_t* frame, DecoderState* state, DecoderScratch* scratch,
                    int16_t* output, int32_t input_layout);

}  // namespace amrnb

#endif  // AMRDEC_AMRNB_DECODER_H
