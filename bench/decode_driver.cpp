// amrdec_driver [-n FRAMES] STREAM.wav...: decodes each stream from a fresh reset with
// DecodeFrame (FRAMES frames, cycling through the stream; default: the stream once) and prints
// the frame count and a checksum of the output per stream. bench/callgrind.sh counts the
// instructions of this program.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "amrdec/amrnb_decoder.h"
#include "bench/stream_frames.h"

int main(int argc, char** argv) {
  long count = 0;
  int first = 1;
  if (argc > 2 && std::strcmp(argv[1], "-n") == 0) {
    count = std::atol(argv[2]);
    first = 3;
  }
  if (first >= argc) {
    std::fprintf(stderr, "usage: amrdec_driver [-n FRAMES] STREAM.wav...\n");
    return 2;
  }
  std::vector<unsigned char> state(amrnb::kDecoderStateSize), scratch(amrnb::kDecoderScratchSize);
  auto* st = reinterpret_cast<amrnb::DecoderState*>(state.data());
  auto* scr = reinterpret_cast<amrnb::DecoderScratch*>(scratch.data());
  for (int arg = first; arg < argc; ++arg) {
    const std::vector<bench::FrameSlot> frames = bench::LoadStream(argv[arg]);
    if (frames.empty()) {
      std::fprintf(stderr, "no frames in %s\n", argv[arg]);
      return 1;
    }
    const long n_frames = count > 0 ? count : static_cast<long>(frames.size());
    amrnb::ResetDecoder(0, st);
    uint32_t checksum = 0;
    int16_t pcm[amrnb::kFrameSamples];
    for (long n = 0; n < n_frames; ++n) {
      bench::FrameSlot slot = frames[static_cast<std::size_t>(n) % frames.size()];
      if (amrnb::DecodeFrame(slot.data(), st, scr, pcm, 0) != amrnb::AMRNBDEC_OK) return 1;
      for (int16_t s : pcm) checksum = checksum * 31u + static_cast<uint16_t>(s);
    }
    std::printf("%s: %ld frames, checksum %08x\n", argv[arg], n_frames, checksum);
  }
  return 0;
}
