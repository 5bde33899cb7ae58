#include "container/amr_wave_reader.h"

#include <cstring>

#include "container/platform.h"

AMRFileHandler::~AMRFileHandler() { Close(); }

void AMRFileHandler::Close() {
  if (stream_ != nullptr) {
    std::fclose(stream_);
    stream_ = nullptr;
  }
}

namespace {

void PrintFourCc(const char* label_format, const char* id) {
  std::printf(label_format, id[0], id[1], id[2], id[3]);
}

// Appends the decimal digits of v.
char* AppendDecimal(char* p, uint32_t v) {
  char digits[10];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  while (n > 0) *p++ = digits[--n];
  return p;
}

// Per-frame text goes to standard output or to the text the handler holds back.
void Say(const AMRFileHandler& handler, const char* text, size_t size) {
  if (handler.held_text() != nullptr) {
    handler.held_text()->append(text, size);
  } else {
    std::fwrite(text, 1, size, stdout);
  }
}

void Say(const AMRFileHandler& handler, const char* text) { Say(handler, text, std::strlen(text)); }


// The per-frame progress text " B<layout> L<size>", formed by hand: it is written for every
// frame, and printf's format parsing cost more than decoding the frame's header.
void PrintFrameTag(const AMRFileHandler& handler, int32_t layout, uint32_t size) {
  char text[32] = " B";
  char* p = text + 2;
  if (layout < 0) *p++ = '-';
  p = AppendDecimal(p, layout < 0 ? 0u - static_cast<uint32_t>(layout) : static_cast<uint32_t>(layout));
  *p++ = ' ';
  *p++ = 'L';
  p = AppendDecimal(p, size);
  Say(handler, text, static_cast<size_t>(p - text));
}

}  // namespace

int32_t ReadAmrWaveHeader(FILE* stream) {
  uint8_t h[kAmrWaveHeaderSize];
  std::memset(h, 0, sizeof h);
  if (stream == nullptr) {
    std::printf("Can not able to open wave file\n");
    return kReadNoStream;
  }
  std::rewind(stream);
  ClearLastError();
  if (std::fread(h, sizeof h, 1, stream) != 1) {
    std::printf("\nFailed to read AMR File. Error(%d)", GetLastError());
    return kReadHeaderFailed;
  }

  // The library parses the fields: 16-bit ones unsigned, 32-bit ones signed.
  amrnb_wave_header f;
  const amrnb_status parsed = amrnb_parse_wave_header(h, sizeof h, &f);
  PrintFourCc("RIFF header                           :%c%c%c%c\n", f.riff_id);
  std::printf("ChunkSize                             :%ld\n", f.chunk_size);
  PrintFourCc("WAVE header                           :%c%c%c%c\n", f.wave_id);
  PrintFourCc("FMT                                   :%c%c%c%c\n", f.fmt_id);
  std::printf("Subchunk1Size                         :%ld\n", f.fmt_size);
  std::printf("AudioFormat                           :%u\n", f.audio_format);
  std::printf("Number of channels                    :%u\n", f.channels);
  std::printf("bitsPerSample                         :%u\n", f.bits_per_sample);
  std::printf("Sampling Rate                         :%ld\n", f.sample_rate);
  std::printf("Number of bytes per second            :%ld\n", f.byte_rate);
  std::printf("blockAlign                            :%u\n", f.block_align);
  std::printf("Number of bits used                   :%u\n", f.bits_per_sample);
  std::printf("ExtraformatbytesLen                   :%u\n", f.extra_format_bytes_len);
  std::printf("Extraformatbytes                      :%ld\n", f.extra_format_bytes);
  PrintFourCc("Subchunk2ID                           :%c%c%c%c\n", f.fact_id);
  std::printf("Subchunk2Size                         :%ld\n", f.fact_size);
  std::printf("Format Dependant Data                 :%ld\n", f.fact_data);
  PrintFourCc("Subchunk3ID                           :%c%c%c%c\n", f.data_id);
  std::printf("Subchunk3Size                         :%ld\n", f.data_size);
  std::printf("-----------------------------------------------------------\n");

  if (parsed != AMRNB_OK) {
    std::printf("\nInvalid Encoded Format(%u)", f.audio_format);
    return kReadWrongFormat;
  }
  return kReadOk;
}

int32_t ReadAmrFrame(AMRFileHandler* handler, uint8_t* frame, uint32_t* length, int32_t* layout) {
  FILE* stream = handler != nullptr ? handler->stream() : nullptr;
  if (stream == nullptr) {
    std::printf("\nInvalid File Pointer NULL.");
    return kReadBadArgument;
  }
  if (frame == nullptr) {
    std::printf("\nInvalid Buffer Pointer NULL.");
    return kReadBadArgument;
  }
  if (std::feof(stream)) {
    Say(*handler, "\nEOF.");
    return kReadEndOfInput;
  }

  ClearLastError();
  *length = static_cast<uint32_t>(std::fread(frame, 1, 1, stream));
  if (*length == 0) {
    char text[64];
    const int size = std::snprintf(text, sizeof text, "\nRead Length returned 0 bytes. Error(%d)", GetLastError());
    Say(*handler, text, static_cast<size_t>(size));
    return kReadEndOfInput;
  }
  *layout = 0;

  const uint32_t frame_type = (frame[0] >> 3) & 15u;
  const uint32_t size = FrameSizeTable[frame_type];
  PrintFrameTag(*handler, *layout, size);
  if (size < 1) {
    Say(*handler, "\nInvalid Packet Size..");
    return kReadInvalidFrameType;
  }

  ClearLastError();
  *length += static_cast<uint32_t>(std::fread(frame + 1, 1, size - 1, stream));
  if (*length == size) return kReadOk;

  // "Lenght" is spelt as the program has always printed it: callers match the message.
  char text[64];
  const int text_size = std::snprintf(text, sizeof text, "\n Read Lenght(%d) Error(%d)",
                                      static_cast<int>(*length), GetLastError());
  Say(*handler, text, static_cast<size_t>(text_size));
  *length = 0;
  return kReadEndOfInput;
}
