// The file reader of amrnb_file.h: AMR-in-WAV and "#!AMR\n" files from a path, a memory
// buffer or a read callback, frame by frame or decoded to PCM in blocks of any size. Frames
// are cut with the library's one frame-size table (amrnb::kFrameBytesByLayout), as amrconv's
// ReadAmrFrame cuts them, and decoded with amrnb_decode on a decoder that lives inside the
// file object, exactly as amrconv's decode job passes them to DecodeFrame: a type 10..14 byte
// is a one-byte frame, concealed as bad. The file object is the only allocation.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "amrnb_decoder.h"
#include "amrnb_file.h"
#include "file_internal.h"
#include "file_platform.h"

namespace {

// Read-ahead of a path or callback input; a memory input is read in place.
constexpr size_t kBufferBytes = 16384;

enum class Use { kNone, kFrames, kPcm };

}  // namespace

struct amrnb_file {
  // Input: a stream (path), the caller's memory or a callback. The unread bytes are
  // data[pos, end); data is the caller's memory or `buffer`.
  std::FILE* stream = nullptr;
  amrnb_read_fn read = nullptr;
  void* user = nullptr;
  const uint8_t* data = nullptr;
  size_t pos = 0;
  size_t end = 0;
  bool at_end = false;  // the input has no more bytes
  bool failed = false;  // a read failed; sticky
  int read_error = 0;   // its error number (a stream's), else 0

  int kind = 0;
  amrnb_wave_header header{};
  Use use = Use::kNone;
  amrnb_file_stats stats{};

  // Decoding: the samples of the last frame that did not fit the caller's block.
  amrnb_decoder* decoder = nullptr;
  bool pcm_done = false;
  unsigned pcm_next = 0;
  unsigned pcm_count = 0;
  short pcm[AMRNB_FRAME_SAMPLES] = {};
  amrnb_decoder_storage decoder_memory;
  uint8_t buffer[kBufferBytes];
};

namespace {

using amrnb::file_platform::LastError;

size_t Available(const amrnb_file* f) { return f->end - f->pos; }

// Reads more input behind the unread bytes.
void Fill(amrnb_file* f) {
  uint8_t* buffer = f->buffer;
  if (f->pos > 0) {
    std::memmove(buffer, buffer + f->pos, f->end - f->pos);
    f->end -= f->pos;
    f->pos = 0;
  }
  const size_t room = kBufferBytes - f->end;
  if (f->stream != nullptr) {
    const size_t n = std::fread(buffer + f->end, 1, room, f->stream);
    f->end += n;
    if (n < room) {
      if (std::ferror(f->stream)) {
        f->failed = true;
        f->read_error = LastError();
      } else {
        f->at_end = true;
      }
    }
    return;
  }
  const long n = f->read(f->user, buffer + f->end, room);
  if (n < 0 || static_cast<unsigned long>(n) > room) {
    f->failed = true;  // an error, or a callback that claims more than it was given room for
  } else if (n == 0) {
    f->at_end = true;
  } else {
    f->end += static_cast<size_t>(n);
  }
}

// Whether `n` unread bytes are there, reading until they are or the input ends or fails.
bool Need(amrnb_file* f, size_t n) {
  while (Available(f) < n && !f->at_end && !f->failed) Fill(f);
  return Available(f) >= n;
}

// The next frame, in place (valid until the next read): AMRNB_OK, AMRNB_END_OF_STREAM (a last
// frame cut short is dropped and counted), or AMRNB_ERROR_READ.
amrnb_status NextFrame(amrnb_file* f, const uint8_t** frame, size_t* size, int* type) {
  if (!Need(f, 1)) return f->failed ? AMRNB_ERROR_READ : AMRNB_END_OF_STREAM;
  const int frame_type = (f->data[f->pos] >> 3) & 15;
  const size_t bytes = amrnb::kStorageFrameBytes[frame_type];
  if (!Need(f, bytes)) {
    if (f->failed) return AMRNB_ERROR_READ;
    f->stats.dropped_tail_bytes += Available(f);
    f->pos = f->end;
    return AMRNB_END_OF_STREAM;
  }
  *frame = f->data + f->pos;
  *size = bytes;
  *type = frame_type;
  f->pos += bytes;
  ++f->stats.frames;
  ++f->stats.by_type[frame_type];
  return AMRNB_OK;
}

long Field32(const uint8_t* h, int at) {
  const uint32_t v = static_cast<uint32_t>(h[at]) | static_cast<uint32_t>(h[at + 1]) << 8 |
                     static_cast<uint32_t>(h[at + 2]) << 16 | static_cast<uint32_t>(h[at + 3]) << 24;
  return static_cast<long>(static_cast<int32_t>(v));
}
unsigned Field16(const uint8_t* h, int at) { return static_cast<unsigned>(h[at] | h[at + 1] << 8); }

// Allocates a file with its decoder made; the caller sets its input.
amrnb_file* Create() {
  void* memory = std::malloc(sizeof(amrnb_file));
  if (memory == nullptr) return nullptr;
  amrnb_file* f = new (memory) amrnb_file;
  f->data = f->buffer;
  if (amrnb_init(&f->decoder_memory, sizeof f->decoder_memory, &f->decoder) != AMRNB_OK) {
    std::free(f);
    return nullptr;
  }
  return f;
}

void Destroy(amrnb_file* f) {
  if (f->stream != nullptr) std::fclose(f->stream);
  f->~amrnb_file();
  std::free(f);
}

// Reads the start of the input: the storage magic (when `detect`) or the 62-byte header.
amrnb_status ReadStart(amrnb_file* f, bool detect) {
  if (detect && Need(f, AMRNB_STORAGE_MAGIC_BYTES) &&
      std::memcmp(f->data + f->pos, AMRNB_STORAGE_MAGIC, AMRNB_STORAGE_MAGIC_BYTES) == 0) {
    f->pos += AMRNB_STORAGE_MAGIC_BYTES;
    f->kind = AMRNB_FILE_STORAGE;
    return AMRNB_OK;
  }
  if (!Need(f, AMRNB_WAVE_HEADER_BYTES)) {
    return f->failed ? AMRNB_ERROR_READ : AMRNB_ERROR_SHORT_HEADER;
  }
  const amrnb_status status = amrnb_parse_wave_header(f->data + f->pos, Available(f), &f->header);
  f->pos += AMRNB_WAVE_HEADER_BYTES;
  f->kind = AMRNB_FILE_AMR_WAVE;
  return status;
}

amrnb_status Finish(amrnb_file* f, bool detect, amrnb_file** file) {
  const amrnb_status status = ReadStart(f, detect);
  if (status != AMRNB_OK) {
    Destroy(f);
    return status;
  }
  *file = f;
  return AMRNB_OK;
}

}  // namespace

namespace amrnb::file_internal {

amrnb_status OpenWaveStream(std::FILE* stream, amrnb_file** file, amrnb_wave_header* header,
                            int* read_error) {
  *file = nullptr;
  *header = amrnb_wave_header{};
  *read_error = 0;
  amrnb_file* f = Create();
  if (f == nullptr) {
    std::fclose(stream);
    return AMRNB_ERROR_MEMORY;
  }
  f->stream = stream;
  const amrnb_status status = ReadStart(f, false);
  *header = f->header;
  *read_error = f->read_error;
  if (status != AMRNB_OK) {
    Destroy(f);
    return status;
  }
  *file = f;
  return AMRNB_OK;
}

std::FILE* StreamOf(const amrnb_file* file) { return file->stream; }

}  // namespace amrnb::file_internal

extern "C" {

int amrnb_frame_bytes(unsigned first_byte, int layout) {
  if (layout == AMRNB_LAYOUT_STORAGE) return amrnb::kFrameBytesByLayout[0][(first_byte >> 3) & 15];
  if (layout == AMRNB_LAYOUT_IF2) return amrnb::kFrameBytesByLayout[1][first_byte & 15];
  return 0;
}

amrnb_status amrnb_parse_wave_header(const void* bytes, size_t size, amrnb_wave_header* header) {
  if (bytes == nullptr || header == nullptr) return AMRNB_ERROR_NULL;
  if (size < AMRNB_WAVE_HEADER_BYTES) return AMRNB_ERROR_SHORT_HEADER;
  const auto* h = static_cast<const uint8_t*>(bytes);
  amrnb_wave_header w;
  std::memcpy(w.riff_id, h + 0, 4);
  w.chunk_size = Field32(h, 4);
  std::memcpy(w.wave_id, h + 8, 4);
  std::memcpy(w.fmt_id, h + 12, 4);
  w.fmt_size = Field32(h, 16);
  w.audio_format = Field16(h, 20);
  w.channels = Field16(h, 22);
  w.sample_rate = Field32(h, 24);
  w.byte_rate = Field32(h, 28);
  w.block_align = Field16(h, 32);
  w.bits_per_sample = Field16(h, 34);
  w.extra_format_bytes_len = Field16(h, 36);
  w.extra_format_bytes = Field32(h, 38);
  std::memcpy(w.fact_id, h + 42, 4);
  w.fact_size = Field32(h, 46);
  w.fact_data = Field32(h, 50);
  std::memcpy(w.data_id, h + 54, 4);
  w.data_size = Field32(h, 58);
  *header = w;
  return w.audio_format == AMRNB_WAVE_FORMAT_TAG ? AMRNB_OK : AMRNB_ERROR_FORMAT_TAG;
}

amrnb_status amrnb_file_open_path(const char* path, amrnb_file** file) {
  if (path == nullptr || file == nullptr) return AMRNB_ERROR_NULL;
  *file = nullptr;
  std::FILE* stream = amrnb::file_platform::OpenPath(path, "rb");
  if (stream == nullptr) return AMRNB_ERROR_OPEN;
  amrnb_file* f = Create();
  if (f == nullptr) {
    std::fclose(stream);
    return AMRNB_ERROR_MEMORY;
  }
  f->stream = stream;
  return Finish(f, true, file);
}

amrnb_status amrnb_file_open_memory(const void* data, size_t size, amrnb_file** file) {
  if ((data == nullptr && size > 0) || file == nullptr) return AMRNB_ERROR_NULL;
  *file = nullptr;
  amrnb_file* f = Create();
  if (f == nullptr) return AMRNB_ERROR_MEMORY;
  static const uint8_t kNothing = 0;
  f->data = size > 0 ? static_cast<const uint8_t*>(data) : &kNothing;
  f->end = size;
  f->at_end = true;
  return Finish(f, true, file);
}

amrnb_status amrnb_file_open_callback(amrnb_read_fn read, void* user, amrnb_file** file) {
  if (read == nullptr || file == nullptr) return AMRNB_ERROR_NULL;
  *file = nullptr;
  amrnb_file* f = Create();
  if (f == nullptr) return AMRNB_ERROR_MEMORY;
  f->read = read;
  f->user = user;
  return Finish(f, true, file);
}

void amrnb_file_close(amrnb_file* file) {
  if (file != nullptr) Destroy(file);
}

int amrnb_file_kind_of(const amrnb_file* file) { return file != nullptr ? file->kind : 0; }

amrnb_status amrnb_file_wave_header(const amrnb_file* file, amrnb_wave_header* header) {
  if (file == nullptr || header == nullptr) return AMRNB_ERROR_NULL;
  if (file->kind != AMRNB_FILE_AMR_WAVE) return AMRNB_ERROR_KIND;
  *header = file->header;
  return AMRNB_OK;
}

amrnb_status amrnb_file_read_frame(amrnb_file* file, unsigned char* frame, size_t* size,
                                   int* frame_type) {
  if (file == nullptr || frame == nullptr) return AMRNB_ERROR_NULL;
  if (file->use == Use::kPcm) return AMRNB_ERROR_USAGE;
  file->use = Use::kFrames;
  const uint8_t* bytes = nullptr;
  size_t n = 0;
  int type = 0;
  const amrnb_status status = NextFrame(file, &bytes, &n, &type);
  if (status != AMRNB_OK) return status;
  std::memcpy(frame, bytes, n);
  if (size != nullptr) *size = n;
  if (frame_type != nullptr) *frame_type = type;
  return AMRNB_OK;
}

amrnb_status amrnb_file_read_pcm(amrnb_file* file, short* pcm, size_t max_samples,
                                 size_t* samples) {
  if (file == nullptr || samples == nullptr || (pcm == nullptr && max_samples > 0)) {
    return AMRNB_ERROR_NULL;
  }
  *samples = 0;
  if (file->use == Use::kFrames) return AMRNB_ERROR_USAGE;
  file->use = Use::kPcm;
  size_t got = 0;
  amrnb_status status = AMRNB_OK;
  while (got < max_samples) {
    if (file->pcm_next < file->pcm_count) {
      const size_t n = std::min<size_t>(max_samples - got, file->pcm_count - file->pcm_next);
      std::memcpy(pcm + got, file->pcm + file->pcm_next, n * sizeof(short));
      file->pcm_next += static_cast<unsigned>(n);
      got += n;
      continue;
    }
    if (file->pcm_done) break;
    const uint8_t* frame = nullptr;
    size_t size = 0;
    int type = 0;
    status = NextFrame(file, &frame, &size, &type);
    if (status == AMRNB_END_OF_STREAM) {
      file->pcm_done = true;
      status = AMRNB_OK;
      break;
    }
    if (status != AMRNB_OK) break;
    // A whole frame's room in the caller's block takes the samples directly.
    const bool direct = max_samples - got >= AMRNB_FRAME_SAMPLES;
    amrnb_outcome outcome = AMRNB_OUTCOME_SPEECH;
    status = amrnb_decode(file->decoder, frame, size, AMRNB_LAYOUT_STORAGE,
                          direct ? pcm + got : file->pcm, &outcome);
    if (status != AMRNB_OK) break;
    ++file->stats.by_outcome[outcome];
    if (direct) {
      got += AMRNB_FRAME_SAMPLES;
    } else {
      file->pcm_next = 0;
      file->pcm_count = AMRNB_FRAME_SAMPLES;
    }
  }
  *samples = got;
  file->stats.samples += got;
  return status;
}

amrnb_status amrnb_file_get_stats(const amrnb_file* file, amrnb_file_stats* stats) {
  if (file == nullptr || stats == nullptr) return AMRNB_ERROR_NULL;
  *stats = file->stats;
  return AMRNB_OK;
}

}  // extern "C"
