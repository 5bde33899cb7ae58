// Public interface of the fixed-point AMR-NB speech decoder (3GPP TS 26.073 algorithm).
//
// The decoder owns no memory: the caller allocates one state block (persistent for a
// stream) and one scratch block (working memory of a single call) of the sizes declared
// below, calls ResetDecoder once on the state block, then DecodeFrame once per frame.
//
//   void* state = std::malloc(amrnb::kDecoderStateSize);
//   void* scratch = std::malloc(amrnb::kDecoderScratchSize);
//   auto* st = static_cast<amrnb::DecoderState*>(state);
//   auto* sc = static_cast<amrnb::DecoderScratch*>(scratch);
//   amrnb::ResetDecoder(0, st);
//   for each frame: amrnb::DecodeFrame(frame, st, sc, pcm, 0);   // pcm: 160 samples
//
// The decoder allocates nothing, opens no file and keeps no mutable global data; its
// constant tables are read-only. Everything a stream needs lives in the caller's blocks.
//
// Threading: one state block per stream. Any number of streams may be decoded at the
// same time on different threads, each with its own state block and its own scratch
// block; a block must never be used by two calls at once. No locking is needed.
//
// This header is self-contained (it includes only <cstddef> and <cstdint>). C programs
// use amrnb_decoder_c.h, which wraps the same calls.
#ifndef AMRDEC_AMRNB_DECODER_H
#define AMRDEC_AMRNB_DECODER_H

#include <cstddef>
#include <cstdint>

namespace amrnb {

// Frame types as carried in the frame header (bits 6..3 of the storage-format header byte,
// bits 3..0 of the first IF2 byte). Types 9 to 14 carry no AMR-NB frame: the decoder reads
// no payload for them and conceals them as bad frames.
enum FrameType : int32_t {
  FT_MR475 = 0, FT_MR515 = 1, FT_MR59 = 2, FT_MR67 = 3, FT_MR74 = 4, FT_MR795 = 5,
  FT_MR102 = 6, FT_MR122 = 7, FT_SID = 8, FT_NO_DATA = 15,
};

// Speech modes (bit rates 4.75 to 12.2 kbit/s); MRDTX stands for comfort noise and is
// also the mode value that selects the partial reset.
enum Mode : int32_t {
  MR475 = 0, MR515 = 1, MR59 = 2, MR67 = 3, MR74 = 4, MR795 = 5, MR102 = 6, MR122 = 7, MRDTX = 8,
};

// Receive types: the decoder derives them itself from the frame type and the quality bit;
// they are listed here because the numbering is shared with diagnostic traces.
enum RxType : int32_t {
  RX_SPEECH_GOOD = 0, RX_SPEECH_DEGRADED = 1, RX_ONSET = 2, RX_SPEECH_BAD = 3,
  RX_SID_FIRST = 4, RX_SID_UPDATE = 5, RX_SID_BAD = 6, RX_NO_DATA = 7,
};

// Status values of DecodeFrame. The decoder has no error exit: it returns AMRNBDEC_OK for
// every frame (damaged, invalid and missing frames are concealed); the other values exist
// so that callers can keep one status vocabulary.
enum DecodeStatus : int32_t {
  AMRNBDEC_OK = 0, AMRNBDEC_ERROR_GENERAL = 1, AMRNBDEC_ERROR_BITSTREAM = 2,
};

// Samples produced per frame: 160 signed 16-bit samples, 20 ms at 8000 Hz.
inline constexpr std::size_t kFrameSamples = 160;

// Opaque memory blocks; their layout is private to the decoder. Callers only ever hold
// pointers to them, obtained by casting memory of the sizes below.
struct DecoderState;
struct DecoderScratch;

// Sizes in bytes of the two blocks the caller allocates (any allocation aligned for
// int32_t, such as malloc's, will do; static or stack storage works as well).
//  - state block: persists from frame to frame for one stream; it holds garbage until the
//    first ResetDecoder. It contains no pointers, so it may be copied with memcpy: the copy
//    then decodes the rest of the stream exactly like the original.
//  - scratch block: working memory of one DecodeFrame call; its contents need not be kept
//    between calls, so one scratch block may serve several streams decoded one after the
//    other on the same thread. The caller never reads or clears it.
// Query the sizes at run time rather than assuming values: they belong to the library.
extern const std::size_t kDecoderStateSize;
extern const std::size_t kDecoderScratchSize;

// Resets the state block. Any mode other than MRDTX (8), conventionally 0, performs the
// full reset: every field gets its initial value, which a new stream needs before its first
// frame (and which a stream may use to start over). Mode MRDTX performs the partial reset
// that the decoder itself applies at the start of comfort noise: it clears the speech
// history (excitation, concealment and codebook-gain memories) and leaves the rest, the
// frame-control fields included. Callers normally need only the full reset; the decoder
// also performs a full reset by itself after a decoder homing frame. Touches only `state`.
void ResetDecoder(int32_t mode, DecoderState* state);

// Decodes one frame into 160 samples.
//  - `frame`: the frame's bytes, header byte first. The decoder reads as many bytes as the
//    frame type needs and does not check the length; pass a buffer of at least 32 bytes
//    (the largest frame) or exactly the frame's size. The bytes may be modified.
//  - `input_layout` selects the byte layout:
//      0: octet-aligned storage layout (RFC 4867 storage format, as in "#!AMR\n" files):
//         header byte with the frame type in bits 6..3 and the quality bit in bit 2, then
//         the speech bits most significant bit first. Sizes by frame type 0..8 with the
//         header byte: 13, 14, 16, 18, 20, 21, 27, 32, 6; type 15 (no data) is 1 byte.
//         A quality bit of 0 marks a damaged frame, which is concealed.
//      any other value: TS 26.101 interface format 2 (IF2): frame type in the low four
//         bits of the first byte, speech bits least significant bit first. Sizes by
//         frame type 0..8: 13, 14, 16, 18, 19, 21, 26, 31, 6; type 15 is 1 byte.
//    Frame types 9 to 14 need only their first byte.
//  - `output`: 160 samples written for every frame; no-data and bad frames give concealed
//    speech or comfort noise, and a decoder homing frame right after a reset gives 160
//    samples of 0x0008.
// Always returns AMRNBDEC_OK.
int32_t DecodeFrame(uint8_t* frame, DecoderState* state, DecoderScratch* scratch,
                    int16_t* output, int32_t input_layout);

// Number of bytes DecodeFrame reads for a frame whose type is `frame_type` (0..15) in the
// given layout (0 storage, any other value IF2): the sizes listed above; 1 for types 9 to
// 15; 0 for a value outside 0..15.
int32_t FrameBytes(int32_t frame_type, int32_t input_layout);

}  // namespace amrnb

#endif  // AMRDEC_AMRNB_DECODER_H
