// Reader of AMR-in-WAV sources: a 62-byte RIFF/WAVE header with audio format tag 310,
// followed by AMR-NB frames in the octet-aligned storage layout up to the end of the file.
#ifndef CONTAINER_AMR_WAVE_READER_H
#define CONTAINER_AMR_WAVE_READER_H

#include <array>
#include <cstdint>
#include <cstdio>
#include <string>

#include "amrdec/amrnb_decoder.h"

inline constexpr uint32_t kAmrWaveHeaderSize = AMRNB_WAVE_HEADER_BYTES;
inline constexpr uint16_t kAmrWaveFormatTag = AMRNB_WAVE_FORMAT_TAG;
// The largest storage-layout frame (12.2 kbit/s: header byte and 31 payload bytes).
inline constexpr uint32_t kMaxFrameBytes = 32;

// Total frame length in bytes, header byte included, by frame type (bits 6..3 of the
// header byte), as the reader prints and checks it: the decoder library's one frame-size
// table (amrnb_frame_bytes), except that the reserved types 10..14, which carry no frame and
// which the library counts as their header byte alone, are listed as 0.
inline constexpr auto FrameSizeTable = [] {
  std::array<uint8_t, 16> sizes{};
  for (uint32_t type = 0; type < 16; ++type) {
    sizes[type] = amrnb::IsReservedFrameType(type) ? 0 : amrnb::kStorageFrameBytes[type];
  }
  return sizes;
}();

// Status codes of the header and frame readers.
enum ReaderStatus : int32_t {
  kReadOk = 0,
  kReadNoStream = 2,
  kReadEndOfInput = 5,
  kReadHeaderFailed = 12,
  kReadWrongFormat = 14,
  kReadInvalidFrameType = 15,
  kReadBadArgument = 16,
};

// Owns the open source stream. A job closes the stream itself on each of its return
// paths; the destructor closes it only if a job is left while it is still open.
class AMRFileHandler {
 public:
  AMRFileHandler() = default;
  AMRFileHandler(const AMRFileHandler&) = delete;
  AMRFileHandler& operator=(const AMRFileHandler&) = delete;
  virtual ~AMRFileHandler();

  FILE* stream() const { return stream_; }
  // Takes over an open stream (or null when opening failed).
  void set_stream(FILE* stream) { stream_ = stream; }
  // Closes the stream if one is open; afterwards the handler holds none.
  void Close();
  // Where ReadAmrFrame prints its per-frame text: standard output (null, the default), or
  // the end of `text`, which a caller prints once it knows whether the frames it reports
  // on were written.
  void HoldFrameText(std::string* text) { held_text_ = text; }
  std::string* held_text() const { return held_text_; }

 private:
  FILE* stream_ = nullptr;
  std::string* held_text_ = nullptr;
};

// Rewinds the stream, reads the 62-byte header, prints its fields and checks the format
// tag. Returns kReadOk with the stream at the first frame, or kReadNoStream,
// kReadHeaderFailed or kReadWrongFormat.
int32_t ReadAmrWaveHeader(FILE* stream);

// Reads the next frame into `frame` (kMaxFrameBytes long) and sets `length` to the bytes
// read and `layout` to 0 (storage layout) once a header byte is read. Returns kReadOk for a
// complete frame, kReadInvalidFrameType for a frame type of size 0 (length 1),
// kReadEndOfInput at the end of the file or for a frame cut short (length 0), and
// kReadBadArgument without a stream or buffer.
int32_t ReadAmrFrame(AMRFileHandler* handler, uint8_t* frame, uint32_t* length, int32_t* layout);

#endif  // CONTAINER_AMR_WAVE_READER_H
