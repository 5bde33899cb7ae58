// C++ interface of the fixed-point AMR-NB speech decoder (3GPP TS 26.073 algorithm): the
// C interfaces of amrnb_decoder_c.h and amrnb_file.h (all their constants included), small
// owning classes around them (Decoder, File, StorageWriter), the frame-size table, and the
// frame-level entry points that amrconv itself uses.
//
//   amrnb::Decoder decoder;                         // allocates and resets one decoder
//   if (!decoder) ...out of memory...
//   int16_t pcm[amrnb::kFrameSamples];
//   amrnb_outcome outcome;
//   amrnb_status s = decoder.Decode(frame, size, AMRNB_LAYOUT_STORAGE, pcm, &outcome);
//
// The frame-level entries work on two caller-owned blocks without any check:
//
//   void* state = std::malloc(amrnb::kDecoderStateSize);
//   void* scratch = std::malloc(amrnb::kDecoderScratchSize);
//   auto* st = static_cast<amrnb::DecoderState*>(state);
//   auto* sc = static_cast<amrnb::DecoderScratch*>(scratch);
//   amrnb::ResetDecoder(0, st);
//   for each frame: amrnb::DecodeFrame(frame, st, sc, pcm, 0);   // pcm: 160 samples
//
// The decoder allocates nothing (the Decoder class and amrnb_create aside), opens no file
// and keeps no mutable global data; its constant tables are read-only.
//
// Threading: one decoder (or state block) per stream. Any number of streams may be decoded
// at the same time on different threads, each with its own memory; one decoder must never
// be used by two calls at once. No locking is needed.
//
// Language level: C++17 (the CMake target requires it of its users).
#ifndef AMRDEC_AMRNB_DECODER_H
#define AMRDEC_AMRNB_DECODER_H

#if !defined(__cplusplus) || (__cplusplus < 201703L && (!defined(_MSVC_LANG) || _MSVC_LANG < 201703L))
#error "amrnb_decoder.h needs C++17 or later; C programs include amrnb_decoder_c.h"
#else

#include <cstddef>
#include <cstdint>

#include "amrnb_decoder_c.h"
#include "amrnb_file.h"

namespace amrnb {

// ---- Owning decoder ----------------------------------------------------------------------

// One decoder for one stream, allocated and reset on construction and freed on destruction.
// Move-only. A default-constructed Decoder whose allocation failed converts to false, and
// its calls return AMRNB_ERROR_NULL.
class Decoder {
 public:
  Decoder() noexcept { amrnb_create(&decoder_); }
  ~Decoder() { amrnb_destroy(decoder_); }
  Decoder(Decoder&& other) noexcept : decoder_(other.decoder_) { other.decoder_ = nullptr; }
  Decoder& operator=(Decoder&& other) noexcept {
    if (this != &other) {
      amrnb_destroy(decoder_);
      decoder_ = other.decoder_;
      other.decoder_ = nullptr;
    }
    return *this;
  }
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;

  explicit operator bool() const noexcept { return decoder_ != nullptr; }
  amrnb_decoder* get() const noexcept { return decoder_; }

  amrnb_status Reset(int kind = AMRNB_RESET_FULL) noexcept { return amrnb_reset(decoder_, kind); }
  amrnb_status Decode(const uint8_t* frame, std::size_t frame_size, int layout, int16_t* pcm,
                      amrnb_outcome* outcome = nullptr) noexcept {
    return amrnb_decode(decoder_, frame, frame_size, layout, pcm, outcome);
  }
  amrnb_status Conceal(int16_t* pcm, amrnb_outcome* outcome = nullptr) noexcept {
    return amrnb_conceal(decoder_, pcm, outcome);
  }

 private:
  amrnb_decoder* decoder_ = nullptr;
};

// ---- Files (amrnb_file.h) ------------------------------------------------------------------

// An open AMR-in-WAV or "#!AMR\n" file, closed on destruction; move-only. Each Open* call
// closes the file held before. A File that is not open (never opened, failed to open, moved
// from) converts to false, and its calls return AMRNB_ERROR_NULL.
//
//   amrnb::File file;
//   if (file.OpenPath("call.wav") != AMRNB_OK) ...;
//   int16_t pcm[4000];
//   std::size_t got;
//   while (file.ReadPcm(pcm, 4000, &got) == AMRNB_OK && got > 0) consume(pcm, got);
class File {
 public:
  File() noexcept = default;
  ~File() { amrnb_file_close(file_); }
  File(File&& other) noexcept : file_(other.file_) { other.file_ = nullptr; }
  File& operator=(File&& other) noexcept {
    if (this != &other) {
      amrnb_file_close(file_);
      file_ = other.file_;
      other.file_ = nullptr;
    }
    return *this;
  }
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  amrnb_status OpenPath(const char* path) noexcept {
    Close();
    return amrnb_file_open_path(path, &file_);
  }
  // The `size` bytes at `data` are not copied: they must outlive the File.
  amrnb_status OpenMemory(const void* data, std::size_t size) noexcept {
    Close();
    return amrnb_file_open_memory(data, size, &file_);
  }
  amrnb_status OpenCallback(amrnb_read_fn read, void* user) noexcept {
    Close();
    return amrnb_file_open_callback(read, user, &file_);
  }
  void Close() noexcept {
    amrnb_file_close(file_);
    file_ = nullptr;
  }

  explicit operator bool() const noexcept { return file_ != nullptr; }
  amrnb_file* get() const noexcept { return file_; }

  // AMRNB_FILE_AMR_WAVE, AMRNB_FILE_STORAGE, or 0 when not open.
  int Kind() const noexcept { return amrnb_file_kind_of(file_); }
  amrnb_status WaveHeader(amrnb_wave_header* header) const noexcept {
    return amrnb_file_wave_header(file_, header);
  }
  amrnb_status ReadFrame(uint8_t* frame, std::size_t* size, int* frame_type = nullptr) noexcept {
    return amrnb_file_read_frame(file_, frame, size, frame_type);
  }
  amrnb_status ReadPcm(int16_t* pcm, std::size_t max_samples, std::size_t* samples) noexcept {
    return amrnb_file_read_pcm(file_, pcm, max_samples, samples);
  }
  amrnb_status Stats(amrnb_file_stats* stats) const noexcept { return amrnb_file_get_stats(file_, stats); }

 private:
  amrnb_file* file_ = nullptr;
};

// A "#!AMR\n" storage file being written; move-only. Close() reports whether everything
// reached the file; the destructor closes without telling.
class StorageWriter {
 public:
  StorageWriter() noexcept = default;
  ~StorageWriter() { Close(); }
  StorageWriter(StorageWriter&& other) noexcept : writer_(other.writer_) { other.writer_ = nullptr; }
  StorageWriter& operator=(StorageWriter&& other) noexcept {
    if (this != &other) {
      Close();
      writer_ = other.writer_;
      other.writer_ = nullptr;
    }
    return *this;
  }
  StorageWriter(const StorageWriter&) = delete;
  StorageWriter& operator=(const StorageWriter&) = delete;

  amrnb_status OpenPath(const char* path) noexcept {
    Close();
    return amrnb_storage_writer_open_path(path, &writer_);
  }
  amrnb_status OpenCallback(amrnb_write_fn write, void* user) noexcept {
    Close();
    return amrnb_storage_writer_open_callback(write, user, &writer_);
  }
  amrnb_status Write(const uint8_t* frame, std::size_t size) noexcept {
    return amrnb_storage_writer_write(writer_, frame, size);
  }
  // AMRNB_OK when nothing is open.
  amrnb_status Close() noexcept {
    amrnb_storage_writer* writer = writer_;
    writer_ = nullptr;
    return writer != nullptr ? amrnb_storage_writer_close(writer) : AMRNB_OK;
  }
  explicit operator bool() const noexcept { return writer_ != nullptr; }

 private:
  amrnb_storage_writer* writer_ = nullptr;
};

// ---- Frame level: the program's own entry points, without argument checks ---------------

// Frame types, the same values as AMRNB_FT_*. Types 9 to 14 carry no AMR-NB frame: the
// decoder reads no payload for them and conceals them as bad frames.
enum FrameType : int32_t {
  FT_MR475 = AMRNB_FT_MR475, FT_MR515 = AMRNB_FT_MR515, FT_MR59 = AMRNB_FT_MR59,
  FT_MR67 = AMRNB_FT_MR67, FT_MR74 = AMRNB_FT_MR74, FT_MR795 = AMRNB_FT_MR795,
  FT_MR102 = AMRNB_FT_MR102, FT_MR122 = AMRNB_FT_MR122, FT_SID = AMRNB_FT_SID,
  FT_NO_DATA = AMRNB_FT_NO_DATA,
};

// Speech modes (bit rates 4.75 to 12.2 kbit/s); MRDTX stands for comfort noise and is
// also the mode value that selects the partial reset (AMRNB_RESET_PARTIAL).
enum Mode : int32_t {
  MR475 = 0, MR515 = 1, MR59 = 2, MR67 = 3, MR74 = 4, MR795 = 5, MR102 = 6, MR122 = 7,
  MRDTX = AMRNB_RESET_PARTIAL,
};

// Receive types: the decoder derives them itself from the frame type and the quality bit;
// they are listed here because the numbering is shared with diagnostic traces.
enum RxType : int32_t {
  RX_SPEECH_GOOD = 0, RX_SPEECH_DEGRADED = 1, RX_ONSET = 2, RX_SPEECH_BAD = 3,
  RX_SID_FIRST = 4, RX_SID_UPDATE = 5, RX_SID_BAD = 6, RX_NO_DATA = 7,
};

// Status values of DecodeFrame under the names the program prints; the same numbers as
// AMRNB_OK, AMRNB_ERROR_GENERAL and AMRNB_ERROR_BITSTREAM. DecodeFrame has no error exit
// and returns AMRNBDEC_OK for every frame (damaged, invalid and missing frames are
// concealed).
enum DecodeStatus : int32_t {
  AMRNBDEC_OK = AMRNB_OK, AMRNBDEC_ERROR_GENERAL = AMRNB_ERROR_GENERAL,
  AMRNBDEC_ERROR_BITSTREAM = AMRNB_ERROR_BITSTREAM,
};

// Samples produced per frame: 160 signed 16-bit samples, 20 ms at 8000 Hz.
inline constexpr std::size_t kFrameSamples = AMRNB_FRAME_SAMPLES;

// The library's one frame-size table: the bytes a frame occupies in a file, header byte
// included, by layout (AMRNB_LAYOUT_STORAGE, AMRNB_LAYOUT_IF2) and frame type. Storage: the
// storage-format sizes, 32 for type 9 (as in the recordings amrconv reads), and 1 for types
// 10 to 14, which carry no frame: their header byte alone is a one-byte frame that the decoder
// conceals as a bad frame. IF2: 1 for types 9 to 15. amrnb_frame_bytes,
// amrnb_storage_frame_bytes, the file reader and writer (amrnb_file.h) and amrconv's reader
// all answer from it; for types 0 to 8 it equals FrameBytes (what the decoder reads).
inline constexpr uint8_t kFrameBytesByLayout[2][16] = {
    {13, 14, 16, 18, 20, 21, 27, 32, 6, 32, 1, 1, 1, 1, 1, 1},
    {13, 14, 16, 18, 19, 21, 26, 31, 6, 1, 1, 1, 1, 1, 1, 1}};
inline constexpr const uint8_t (&kStorageFrameBytes)[16] = kFrameBytesByLayout[AMRNB_LAYOUT_STORAGE];

// Frame types 10 to 14 are reserved: no AMR-NB frame follows their header byte. amrconv's
// reader reports their size as 0 and refuses it (its status 15), then goes on with the one
// byte, as every reader of this library does.
inline constexpr bool IsReservedFrameType(uint32_t frame_type) {
  return frame_type >= 10 && frame_type <= 14;
}

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
AMRNB_API extern const std::size_t kDecoderStateSize;
AMRNB_API extern const std::size_t kDecoderScratchSize;

// Resets the state block. Any mode other than MRDTX (8), conventionally 0, performs the
// full reset; MRDTX the partial reset (see AMRNB_RESET_PARTIAL). No check of any kind.
AMRNB_API void ResetDecoder(int32_t mode, DecoderState* state);

// Decodes one frame into 160 samples at `output`, without any check (the frame is only read;
// its pointer is not const because the frame-level entry keeps its 3GPP form): `frame` must hold the
// bytes its type needs (FrameBytes), `state` must have been reset. A nonzero `input_layout`
// selects IF2, zero the storage layout (see amrnb_layout). A decoder homing frame right
// after a reset gives 160 samples of 0x0008. Always returns AMRNBDEC_OK.
AMRNB_API int32_t DecodeFrame(uint8_t* frame, DecoderState* state, DecoderScratch* scratch,
                              int16_t* output, int32_t input_layout);

// Number of bytes DecodeFrame reads for a frame whose type is `frame_type` (0..15) in the
// given layout (0 storage, any other value IF2): the sizes listed at amrnb_layout; 1 for
// types 9 to 15; 0 for a value outside 0..15.
AMRNB_API int32_t FrameBytes(int32_t frame_type, int32_t input_layout);

}  // namespace amrnb

#endif  // C++17
#endif  // AMRDEC_AMRNB_DECODER_H
