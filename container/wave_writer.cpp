#include "container/wave_writer.h"

#include <cstring>

#include "container/byte_order.h"
#include "container/platform.h"

namespace {

constexpr uint32_t kSampleRate = 8000;
constexpr uint32_t kBytesPerSecond = 16000;

void BuildWaveHeader(uint32_t data_bytes, uint8_t* h) {
  std::memset(h, 0, kWaveHeaderSize);
  std::memcpy(h + 0, "RIFF", 4);
  StoreLe32(h + 4, data_bytes + (kWaveHeaderSize - 8));
  std::memcpy(h + 8, "WAVE", 4);
  std::memcpy(h + 12, "fmt ", 4);
  StoreLe32(h + 16, 22);               // format chunk size, extra-format fields included
  StoreLe16(h + 20, 1);                // integer PCM
  StoreLe16(h + 22, 1);                // mono
  StoreLe32(h + 24, kSampleRate);
  StoreLe32(h + 28, kBytesPerSecond);
  StoreLe16(h + 32, 2);                // block alignment
  StoreLe16(h + 34, 16);               // bits per sample
  StoreLe16(h + 36, 0);                // extra format bytes length
  StoreLe32(h + 38, 7);                // extra format bytes
  std::memcpy(h + 42, "fact", 4);
  StoreLe32(h + 46, 4);
  // The fact chunk counts the samples of whole seconds only.
  StoreLe32(h + 50, data_bytes / kBytesPerSecond * kSampleRate);
  std::memcpy(h + 54, "data", 4);
  StoreLe32(h + 58, data_bytes);
}

}  // namespace

int32_t WriteWaveHeader(uint32_t data_bytes, FILE* stream) {
  uint8_t header[kWaveHeaderSize];
  BuildWaveHeader(data_bytes, header);
  std::rewind(stream);
  ClearLastError();
  const size_t written = std::fwrite(header, sizeof header, 1, stream);
  if (written == 0) {
    std::printf("\n Failed to write ret(%d) Error(%d)", static_cast<int>(written), GetLastError());
    return kWaveHeaderWriteFailed;
  }
  return 0;
}
