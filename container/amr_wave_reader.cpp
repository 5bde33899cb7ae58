#include "container/amr_wave_reader.h"

#include <cstring>

#include "container/byte_order.h"
#include "container/platform.h"

AMRFileHandler::~AMRFileHandler() { Close(); }

void AMRFileHandler::Close() {
  if (stream_ != nullptr) {
    std::fclose(stream_);
    stream_ = nullptr;
  }
}

namespace {

// Header fields as the converter prints them: 16-bit fields unsigned, 32-bit fields signed.
unsigned Field16(const uint8_t* header, int offset) { return LoadLe16(header + offset); }
long Field32(const uint8_t* header, int offset) {
  return static_cast<int32_t>(LoadLe32(header + offset));
}

void PrintFourCc(const char* label_format, const uint8_t* id) {
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

  PrintFourCc("RIFF header                           :%c%c%c%c\n", h + 0);
  std::printf("ChunkSize                             :%ld\n", Field32(h, 4));
  PrintFourCc("WAVE header                           :%c%c%c%c\n", h + 8);
  PrintFourCc("FMT                                   :%c%c%c%c\n", h + 12);
  std::printf("Subchunk1Size                         :%ld\n", Field32(h, 16));
  std::printf("AudioFormat                           :%u\n", Field16(h, 20));
  std::printf("Number of channels                    :%u\n", Field16(h, 22));
  std::printf("bitsPerSample                         :%u\n", Field16(h, 34));
  std::printf("Sampling Rate                         :%ld\n", Field32(h, 24));
  std::printf("Number of bytes per second            :%ld\n", Field32(h, 28));
  std::printf("blockAlign                            :%u\n", Field16(h, 32));
  std::printf("Number of bits used                   :%u\n", Field16(h, 34));
  std::printf("ExtraformatbytesLen                   :%u\n", Field16(h, 36));
  std::printf("Extraformatbytes                      :%ld\n", Field32(h, 38));
  PrintFourCc("Subchunk2ID                           :%c%c%c%c\n", h + 42);
  std::printf("Subchunk2Size                         :%ld\n", Field32(h, 46));
  std::printf("Format Dependant Data                 :%ld\n", Field32(h, 50));
  PrintFourCc("Subchunk3ID                           :%c%c%c%c\n", h + 54);
  std::printf("Subchunk3Size                         :%ld\n", Field32(h, 58));
  std::printf("-----------------------------------------------------------\n");

  const unsigned format_tag = Field16(h, 20);
  if (format_tag != kAmrWaveFormatTag) {
    std::printf("\nInvalid Encoded Format(%u)", format_tag);
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
