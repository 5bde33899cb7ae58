// The 62-byte header of a decoded PCM WAV file (16-bit, mono, 8000 Hz), laid out like the
// AMR-in-WAV source header: a 22-byte format chunk and a fact chunk before the data. Internal,
// header-only: amrconv's WriteWaveHeader (container/wave_writer.cpp) and the library's
// amrnb_convert_file build it here, so that their files agree byte for byte.
#ifndef AMRDEC_PCM_WAVE_HEADER_H
#define AMRDEC_PCM_WAVE_HEADER_H

#include <cstdint>
#include <cstring>

namespace amrnb {

inline constexpr uint32_t kPcmWaveHeaderBytes = 62;
// Most sample bytes a header can count: the RIFF size field holds the data size plus 54.
inline constexpr uint32_t kMaxPcmWaveDataBytes = UINT32_MAX - (kPcmWaveHeaderBytes - 8);

inline void BuildPcmWaveHeader(uint32_t data_bytes, uint8_t* h) {
  constexpr uint32_t kSampleRate = 8000;
  constexpr uint32_t kBytesPerSecond = 16000;
  const auto put = [h](int offset, uint32_t value, int width) {
    for (int i = 0; i < width; ++i) h[offset + i] = static_cast<uint8_t>(value >> (8 * i));
  };
  std::memset(h, 0, kPcmWaveHeaderBytes);
  std::memcpy(h + 0, "RIFF", 4);
  put(4, data_bytes + (kPcmWaveHeaderBytes - 8), 4);
  std::memcpy(h + 8, "WAVE", 4);
  std::memcpy(h + 12, "fmt ", 4);
  put(16, 22, 4);              // format chunk size, extra-format fields included
  put(20, 1, 2);               // integer PCM
  put(22, 1, 2);               // mono
  put(24, kSampleRate, 4);
  put(28, kBytesPerSecond, 4);
  put(32, 2, 2);               // block alignment
  put(34, 16, 2);              // bits per sample
  put(36, 0, 2);               // extra format bytes length
  put(38, 7, 4);               // extra format bytes
  std::memcpy(h + 42, "fact", 4);
  put(46, 4, 4);
  // The fact chunk counts the samples of whole seconds only.
  put(50, data_bytes / kBytesPerSecond * kSampleRate, 4);
  std::memcpy(h + 54, "data", 4);
  put(58, data_bytes, 4);
}

}  // namespace amrnb

#endif  // AMRDEC_PCM_WAVE_HEADER_H
