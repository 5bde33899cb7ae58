// The decoder keeps everything of a stream in the caller's blocks: decoders running on
// parallel threads, decoders sharing one scratch block, and a copied state block all give
// the samples that the same stream gives when decoded alone.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "amrdec/amrnb_decoder.h"
#include "amrdec/amrnb_decoder_c.h"
#include "container/amr_wave_reader.h"

namespace {

using Frame = std::array<uint8_t, kMaxFrameBytes>;
using Samples = std::vector<int16_t>;

// The frames of a reference AMR-in-WAV stream, each in a zero-padded 32-byte buffer.
std::vector<Frame> ReadStream(const std::string& name) {
  std::ifstream file(std::string(AMRCONV_TEST_DATA_DIR) + "/conformance/" + name + ".wav",
                     std::ios::binary);
  const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(file), {}};
  std::vector<Frame> frames;
  size_t pos = kAmrWaveHeaderSize;
  while (pos < bytes.size()) {
    // Frame types without frames of their own (size 0) are a header byte alone.
    const size_t size = std::max<size_t>(FrameSizeTable[(bytes[pos] >> 3) & 15], 1);
    if (pos + size > bytes.size()) break;
    Frame frame{};
    std::memcpy(frame.data(), &bytes[pos], size);
    frames.push_back(frame);
    pos += size;
  }
  return frames;
}

// A state or scratch block of `size` bytes, aligned for any scalar type.
std::vector<std::max_align_t> Block(size_t size) {
  return std::vector<std::max_align_t>((size + sizeof(std::max_align_t) - 1) /
                                       sizeof(std::max_align_t));
}

// Decodes frames [begin, end) through the C++ interface, appending to `out`.
void DecodeRange(const std::vector<Frame>& frames, size_t begin, size_t end, void* state,
                 void* scratch, Samples& out) {
  for (size_t i = begin; i < end; ++i) {
    Frame frame = frames[i];  // the decoder may modify its input
    int16_t pcm[amrnb::kFrameSamples];
    ASSERT_EQ(amrnb::DecodeFrame(frame.data(), static_cast<amrnb::DecoderState*>(state),
                                 static_cast<amrnb::DecoderScratch*>(scratch), pcm, 0),
              amrnb::AMRNBDEC_OK);
    out.insert(out.end(), pcm, pcm + amrnb::kFrameSamples);
  }
}

// The reference: one stream decoded alone with fresh blocks.
Samples DecodeAlone(const std::vector<Frame>& frames) {
  auto state = Block(amrnb::kDecoderStateSize);
  auto scratch = Block(amrnb::kDecoderScratchSize);
  amrnb::ResetDecoder(0, reinterpret_cast<amrnb::DecoderState*>(state.data()));
  Samples out;
  DecodeRange(frames, 0, frames.size(), state.data(), scratch.data(), out);
  return out;
}

// Streams that between them reach every decoding path: speech of every mode with bad
// frames, SID and no-data periods, invalid frame types, homing frames.
const char* const kStreams[] = {"mixed", "dtx", "speechlike_bad", "homing"};

TEST(DecoderIsolation, ParallelThreadsMatchDecodingAlone) {
  constexpr int kStreamCount = std::size(kStreams);
  constexpr int kRounds = 3;  // several passes so that the threads' work overlaps in time
  std::vector<std::vector<Frame>> frames;
  std::vector<Samples> alone;
  for (const char* name : kStreams) {
    frames.push_back(ReadStream(name));
    ASSERT_GT(frames.back().size(), 100u) << name << ": reference stream missing or short";
    alone.push_back(DecodeAlone(frames.back()));
  }

  // Each thread decodes its own stream through the C interface, after all have started.
  std::vector<std::vector<Samples>> parallel(kStreamCount, std::vector<Samples>(kRounds));
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (int s = 0; s < kStreamCount; ++s) {
    threads.emplace_back([&, s] {
      auto state = Block(amrnb_state_size());
      auto scratch = Block(amrnb_scratch_size());
      ready.fetch_add(1);
      while (ready.load() < kStreamCount) std::this_thread::yield();
      for (int round = 0; round < kRounds; ++round) {
        amrnb_reset(state.data(), AMRNB_RESET_FULL);
        for (Frame frame : frames[s]) {
          int16_t pcm[AMRNB_FRAME_SAMPLES];
          amrnb_decode_frame(frame.data(), state.data(), scratch.data(), pcm,
                             AMRNB_LAYOUT_STORAGE);
          parallel[s][round].insert(parallel[s][round].end(), pcm, pcm + AMRNB_FRAME_SAMPLES);
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();

  for (int s = 0; s < kStreamCount; ++s) {
    for (int round = 0; round < kRounds; ++round) {
      EXPECT_TRUE(parallel[s][round] == alone[s]) << kStreams[s] << ", pass " << round;
    }
  }
}

// One scratch block serving two streams frame by frame: nothing may carry over in it from
// one call to the next. A state block copied mid-stream continues exactly like the original.
TEST(DecoderIsolation, SharedScratchAndCopiedStateMatchDecodingAlone) {
  const std::vector<Frame> a = ReadStream("speechlike_bad");
  const std::vector<Frame> b = ReadStream("dtx");
  ASSERT_FALSE(a.empty());
  ASSERT_FALSE(b.empty());
  const Samples alone_a = DecodeAlone(a);
  const Samples alone_b = DecodeAlone(b);

  auto state_a = Block(amrnb::kDecoderStateSize);
  auto state_b = Block(amrnb::kDecoderStateSize);
  auto scratch = Block(amrnb::kDecoderScratchSize);
  amrnb_reset(state_a.data(), AMRNB_RESET_FULL);
  amrnb_reset(state_b.data(), AMRNB_RESET_FULL);
  Samples out_a, out_b;
  for (size_t i = 0; i < std::max(a.size(), b.size()); ++i) {
    if (i < a.size()) DecodeRange(a, i, i + 1, state_a.data(), scratch.data(), out_a);
    if (i < b.size()) DecodeRange(b, i, i + 1, state_b.data(), scratch.data(), out_b);
  }
  EXPECT_TRUE(out_a == alone_a);
  EXPECT_TRUE(out_b == alone_b);

  // Copy b's state in the middle of the stream (during a DTX period or speech alike).
  const size_t half = b.size() / 2;
  amrnb_reset(state_b.data(), AMRNB_RESET_FULL);
  Samples first_half;
  DecodeRange(b, 0, half, state_b.data(), scratch.data(), first_half);
  auto copy = Block(amrnb::kDecoderStateSize);
  std::memcpy(copy.data(), state_b.data(), amrnb::kDecoderStateSize);
  Samples rest_original = first_half, rest_copy = first_half;
  DecodeRange(b, half, b.size(), state_b.data(), scratch.data(), rest_original);
  DecodeRange(b, half, b.size(), copy.data(), scratch.data(), rest_copy);
  EXPECT_TRUE(rest_original == alone_b);
  EXPECT_TRUE(rest_copy == alone_b);
}

}  // namespace
