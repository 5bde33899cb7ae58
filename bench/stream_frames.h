// Loads an AMR-in-WAV stream into memory as fixed 32-byte frame slots, so that benchmarks and
// the instruction-count driver time the decoder alone, without file reads.
#ifndef BENCH_STREAM_FRAMES_H
#define BENCH_STREAM_FRAMES_H

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "container/amr_wave_reader.h"

namespace bench {

using FrameSlot = std::array<uint8_t, kMaxFrameBytes>;

// Frames of the file after its 62-byte header, cut with the frame-size table; a frame type
// without frames is a one-byte frame, as the decode job reads it. A frame cut short at the
// end is dropped. Returns an empty vector when the file cannot be read.
inline std::vector<FrameSlot> LoadStream(const std::string& path) {
  std::vector<FrameSlot> frames;
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return frames;
  std::vector<uint8_t> bytes;
  uint8_t chunk[4096];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, f)) > 0;) bytes.insert(bytes.end(), chunk, chunk + n);
  std::fclose(f);
  std::size_t at = kAmrWaveHeaderSize;
  while (at < bytes.size()) {
    std::size_t size = FrameSizeTable[(bytes[at] >> 3) & 0x0F];
    if (size == 0) size = 1;
    if (at + size > bytes.size()) break;
    FrameSlot slot{};
    std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(at), size, slot.begin());
    frames.push_back(slot);
    at += size;
  }
  return frames;
}

}  // namespace bench

#endif  // BENCH_STREAM_FRAMES_H
