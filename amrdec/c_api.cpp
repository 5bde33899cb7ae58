// The C interface: one checked handle around the frame-level entry points. A decoder is a
// single block, a tag that says amrnb_init made the block a decoder, then the stream's state,
// with no pointers, so that a memcpy copy is a decoder of its own. The scratch block that a
// frame needs only while it is decoded lives on the stack of the call, which keeps the
// decoder block well under the size bound that callers compile into their static storage.
#include <cstdlib>
#include <cstring>
#include <new>

#include "amrnb_decoder.h"
#include "decoder_state.h"

static_assert(sizeof(short) == 2 && sizeof(int16_t) == 2, "samples are 16-bit");
static_assert(AMRNB_MAX_FRAME_BYTES == 32, "the largest frame is a 12.2 kbit/s storage frame");

struct amrnb_decoder {
  uint32_t tag[2];
  amrnb::DecoderState state;
};

// The size bound (see AMRNB_DECODER_MAX_BYTES): programs built against any version 1 header
// hold static storage of that header's bound, and the first of them published 4096 bytes. A
// version 1 library never needs more than that, whatever later headers say, and the bound a
// header publishes never shrinks.
constexpr size_t kSmallestPublishedBound = 4096;
static_assert(sizeof(amrnb_decoder) <= kSmallestPublishedBound,
              "a version 1 decoder must fit the storage of every version 1 caller");
static_assert(AMRNB_DECODER_MAX_BYTES >= kSmallestPublishedBound, "the published bound never shrinks");
static_assert(alignof(amrnb_decoder) <= alignof(int32_t), "int32_t alignment suffices");

namespace {

// Written by amrnb_init (and so by amrnb_create), cleared by amrnb_destroy; every other call
// refuses a block without it. Two words, so that garbage passes for a decoder only by a 2^-64
// chance; neither is a repeated byte, as the fill patterns of debugging allocators are.
constexpr uint32_t kTag0 = 0x414D524Eu;  // "AMRN"
constexpr uint32_t kTag1 = 0x42444543u;  // "BDEC"

bool IsDecoder(const amrnb_decoder* d) { return d->tag[0] == kTag0 && d->tag[1] == kTag1; }

// A storage-layout header byte of frame type 15 (no data) with the quality bit cleared: the
// decoder takes it as a lost speech frame whatever layout the stream uses.
constexpr uint8_t kLostFrame = 0x78;

amrnb_outcome OutcomeOf(int32_t rx) {
  switch (rx) {
    case amrnb::RX_SPEECH_GOOD: return AMRNB_OUTCOME_SPEECH;
    case amrnb::RX_SID_FIRST:
    case amrnb::RX_SID_UPDATE:
    case amrnb::RX_SID_BAD: return AMRNB_OUTCOME_COMFORT_NOISE;
    case amrnb::RX_NO_DATA: return AMRNB_OUTCOME_NO_DATA;
    default: return AMRNB_OUTCOME_CONCEALED;
  }
}

amrnb_status Decode(amrnb_decoder* d, uint8_t* frame, int layout, short* pcm,
                    amrnb_outcome* outcome) {
  // A frame answered with the homing pattern leaves the homing flag set that it found set;
  // every other frame that finds it set clears it.
  const bool after_homing = d->state.reset_flag_old == 1;
  amrnb::DecoderScratch scratch;  // any contents: each frame writes what it reads
  const int32_t status = amrnb::DecodeFrame(frame, &d->state, &scratch, pcm, layout);
  if (status != amrnb::AMRNBDEC_OK) return static_cast<amrnb_status>(status);
  if (outcome) {
    *outcome = after_homing && d->state.reset_flag_old == 1 ? AMRNB_OUTCOME_HOMING
                                                            : OutcomeOf(d->state.prev_ft);
  }
  return AMRNB_OK;
}

}  // namespace

extern "C" {

const char* amrnb_version(void) { return AMRNB_VERSION_STRING; }

// Takes an int, not an amrnb_status: any int a caller passes is a defined value here, where an
// enum parameter outside the enumerators' range would be undefined behaviour to read.
const char* amrnb_status_name(int status) {
  static const char* const kNames[] = {
      "AMRNB_OK",              "AMRNB_ERROR_GENERAL",      "AMRNB_ERROR_BITSTREAM",
      "AMRNB_ERROR_NULL",      "AMRNB_ERROR_LAYOUT",       "AMRNB_ERROR_RESET",
      "AMRNB_ERROR_NOT_RESET", "AMRNB_ERROR_FRAME_SIZE",   "AMRNB_ERROR_MEMORY",
      "AMRNB_END_OF_STREAM",   "AMRNB_ERROR_OPEN",         "AMRNB_ERROR_READ",
      "AMRNB_ERROR_SHORT_HEADER", "AMRNB_ERROR_FORMAT_TAG", "AMRNB_ERROR_KIND",
      "AMRNB_ERROR_USAGE",     "AMRNB_ERROR_WRITE"};
  static_assert(sizeof kNames / sizeof kNames[0] == AMRNB_ERROR_WRITE + 1, "a name for every status");
  return status >= 0 && status <= AMRNB_ERROR_WRITE ? kNames[status] : "unknown status";
}

size_t amrnb_decoder_size(void) { return sizeof(amrnb_decoder); }

amrnb_status amrnb_init(void* memory, size_t size, amrnb_decoder** decoder) {
  if (!memory || !decoder) return AMRNB_ERROR_NULL;
  if (size < sizeof(amrnb_decoder) ||
      reinterpret_cast<uintptr_t>(memory) % alignof(amrnb_decoder) != 0) {
    return AMRNB_ERROR_MEMORY;
  }
  amrnb_decoder* d = new (memory) amrnb_decoder;
  amrnb::ResetDecoder(amrnb::MR475, &d->state);
  d->tag[0] = kTag0;
  d->tag[1] = kTag1;
  *decoder = d;
  return AMRNB_OK;
}

amrnb_status amrnb_create(amrnb_decoder** decoder) {
  if (!decoder) return AMRNB_ERROR_NULL;
  *decoder = nullptr;
  void* memory = std::malloc(sizeof(amrnb_decoder));
  if (!memory) return AMRNB_ERROR_MEMORY;
  return amrnb_init(memory, sizeof(amrnb_decoder), decoder);
}

void amrnb_destroy(amrnb_decoder* decoder) {
  if (!decoder) return;
  decoder->tag[0] = decoder->tag[1] = 0;  // a later call through a stale copy is refused
  std::free(decoder);
}

// Only a decoder is reset: a block that never went through amrnb_init (and so through its
// size and alignment checks) is refused, whichever reset is asked for.
amrnb_status amrnb_reset(amrnb_decoder* decoder, int kind) {
  if (!decoder) return AMRNB_ERROR_NULL;
  if (kind != AMRNB_RESET_FULL && kind != AMRNB_RESET_PARTIAL) return AMRNB_ERROR_RESET;
  if (!IsDecoder(decoder)) return AMRNB_ERROR_NOT_RESET;
  amrnb::ResetDecoder(kind == AMRNB_RESET_FULL ? amrnb::MR475 : amrnb::MRDTX, &decoder->state);
  return AMRNB_OK;
}

amrnb_status amrnb_decode(amrnb_decoder* decoder, const unsigned char* frame, size_t frame_size,
                          int layout, short* pcm, amrnb_outcome* outcome) {
  if (!decoder || !frame || !pcm) return AMRNB_ERROR_NULL;
  if (layout != AMRNB_LAYOUT_STORAGE && layout != AMRNB_LAYOUT_IF2) return AMRNB_ERROR_LAYOUT;
  if (!IsDecoder(decoder)) return AMRNB_ERROR_NOT_RESET;
  if (frame_size == 0) return AMRNB_ERROR_FRAME_SIZE;
  const int32_t type = layout == AMRNB_LAYOUT_IF2 ? frame[0] & 15 : (frame[0] >> 3) & 15;
  const auto needed = static_cast<size_t>(amrnb::FrameBytes(type, layout));
  if (frame_size < needed) return AMRNB_ERROR_FRAME_SIZE;
  // The frame-level entry takes a writable buffer; the caller's bytes stay untouched.
  uint8_t copy[AMRNB_MAX_FRAME_BYTES] = {};
  std::memcpy(copy, frame, needed);
  return Decode(decoder, copy, layout, pcm, outcome);
}

amrnb_status amrnb_conceal(amrnb_decoder* decoder, short* pcm, amrnb_outcome* outcome) {
  if (!decoder || !pcm) return AMRNB_ERROR_NULL;
  if (!IsDecoder(decoder)) return AMRNB_ERROR_NOT_RESET;
  uint8_t frame[1] = {kLostFrame};
  return Decode(decoder, frame, AMRNB_LAYOUT_STORAGE, pcm, outcome);
}

int amrnb_storage_frame_bytes(unsigned header_byte) {
  const int bytes = amrnb::kStorageFrameBytes[(header_byte >> 3) & 15];
  return bytes > 0 ? bytes : 1;
}

}  // extern "C"
