// Writer of the 62-byte header of the decoded PCM WAV file (16-bit, mono, 8000 Hz), laid out
// like the AMR-in-WAV source header: a 22-byte format chunk and a fact chunk before the data.
#ifndef CONTAINER_WAVE_WRITER_H
#define CONTAINER_WAVE_WRITER_H

#include <cstdint>
#include <cstdio>

#include "amrdec/pcm_wave_header.h"

inline constexpr uint32_t kWaveHeaderSize = amrnb::kPcmWaveHeaderBytes;
inline constexpr int32_t kWaveHeaderWriteFailed = 13;
// Most sample bytes a header can count: the RIFF size field holds the data size plus 54.
inline constexpr uint32_t kMaxWaveDataBytes = amrnb::kMaxPcmWaveDataBytes;

// Rewinds `stream` and writes the header for `data_bytes` bytes of samples; afterwards the
// stream stands at offset 62. Returns 0, or kWaveHeaderWriteFailed if the write failed.
int32_t WriteWaveHeader(uint32_t data_bytes, FILE* stream);

#endif  // CONTAINER_WAVE_WRITER_H
