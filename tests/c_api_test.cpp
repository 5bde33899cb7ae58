// The C interface: every misuse refused with its status and without effect, and decoding
// bit-exact with the frame-level entry on every conformance stream, in both layouts.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "amrnb_decoder.h"
#include "decoder_state.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Samples = std::vector<int16_t>;
namespace fs = std::filesystem;

Bytes ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Frames of a storage stream (after `skip` header bytes) or of an IF2 stream, each as long
// as the stream gives it.
std::vector<Bytes> Split(const Bytes& file, size_t skip, int layout) {
  std::vector<Bytes> frames;
  for (size_t pos = skip; pos < file.size();) {
    const size_t n = layout == AMRNB_LAYOUT_IF2
                         ? static_cast<size_t>(amrnb::FrameBytes(file[pos] & 15, 1))
                         : static_cast<size_t>(amrnb_storage_frame_bytes(file[pos]));
    if (pos + n > file.size()) break;
    frames.emplace_back(file.begin() + pos, file.begin() + pos + n);
    pos += n;
  }
  return frames;
}

// The frame-level entry on its own blocks; a frame left empty stands for a lost frame, which
// it receives as the storage header byte 0x78 (no data, quality bit 0).
Samples Reference(const std::vector<Bytes>& frames, int layout) {
  std::vector<uint32_t> state(amrnb::kDecoderStateSize / 4 + 1), scratch(amrnb::kDecoderScratchSize / 4 + 1);
  auto* st = reinterpret_cast<amrnb::DecoderState*>(state.data());
  auto* sc = reinterpret_cast<amrnb::DecoderScratch*>(scratch.data());
  amrnb::ResetDecoder(0, st);
  Samples out;
  for (Bytes frame : frames) {
    int16_t pcm[amrnb::kFrameSamples];
    const bool lost = frame.empty();
    if (lost) frame = {0x78};
    amrnb::DecodeFrame(frame.data(), st, sc, pcm, lost ? 0 : layout);
    out.insert(out.end(), pcm, pcm + amrnb::kFrameSamples);
  }
  return out;
}

// Receive type (second column) of each frame in a params trace, and the frames that the
// stage trace marks as answered with the homing pattern.
std::vector<amrnb_outcome> ExpectedOutcomes(const std::string& name) {
  const fs::path dir = fs::path(AMRCONV_TEST_DATA_DIR) / "conformance";
  std::vector<amrnb_outcome> out;
  std::ifstream params(dir / (name + ".params.txt"));
  for (std::string line; std::getline(params, line);) {
    int ft = 0, rx = 0;
    std::istringstream(line) >> ft >> rx;
    out.push_back(rx == 0 ? AMRNB_OUTCOME_SPEECH
                  : rx == 7 ? AMRNB_OUTCOME_NO_DATA
                  : rx >= 4 ? AMRNB_OUTCOME_COMFORT_NOISE : AMRNB_OUTCOME_CONCEALED);
  }
  std::ifstream stages(dir / (name + ".stages.txt"));
  for (std::string line; std::getline(stages, line);) {
    std::istringstream words(line);
    std::string tag, path;
    size_t frame = 0;
    if (words >> tag >> frame >> path && tag == "F" && path == "homing") out.at(frame) = AMRNB_OUTCOME_HOMING;
  }
  return out;
}

}  // namespace

TEST(CInterface, RefusesMisuseWithoutEffect) {
  EXPECT_STREQ(amrnb_version(), AMRNB_VERSION_STRING);
  EXPECT_LE(amrnb_decoder_size(), size_t{AMRNB_DECODER_MAX_BYTES});
  std::set<std::string> names;
  for (int s = AMRNB_OK; s <= AMRNB_ERROR_MEMORY; ++s) names.insert(amrnb_status_name(static_cast<amrnb_status>(s)));
  EXPECT_EQ(names.size(), 9u);
  EXPECT_STREQ(amrnb_status_name(AMRNB_ERROR_NOT_RESET), "AMRNB_ERROR_NOT_RESET");
  EXPECT_STREQ(amrnb_status_name(static_cast<amrnb_status>(9)), "unknown status");

  amrnb_decoder_storage storage;
  amrnb_decoder* dec = nullptr;
  ASSERT_EQ(amrnb_init(&storage, sizeof storage, &dec), AMRNB_OK);
  // Memory that was never made a decoder.
  std::vector<uint32_t> garbage(amrnb_decoder_size() / 4 + 1, 0xA5A5A5A5u);
  auto* never = reinterpret_cast<amrnb_decoder*>(garbage.data());

  uint8_t frame[AMRNB_MAX_FRAME_BYTES] = {0x3C};  // 12.2 kbit/s, storage layout
  for (int i = 1; i < AMRNB_MAX_FRAME_BYTES; ++i) frame[i] = static_cast<uint8_t>(37 * i);
  const uint8_t if2_frame[AMRNB_MAX_FRAME_BYTES] = {0x07};  // 12.2 kbit/s in 31 IF2 bytes
  short pcm[AMRNB_FRAME_SAMPLES];
  amrnb_outcome outcome = AMRNB_OUTCOME_HOMING;
  unsigned char* raw = storage.bytes;
  amrnb_decoder* unused = nullptr;
  const struct {
    amrnb_status expected;
    std::function<amrnb_status()> call;
  } cases[] = {
      {AMRNB_ERROR_NULL, [&] { return amrnb_decode(nullptr, frame, 32, 0, pcm, &outcome); }},
      {AMRNB_ERROR_NULL, [&] { return amrnb_decode(dec, nullptr, 32, 0, pcm, &outcome); }},
      {AMRNB_ERROR_NULL, [&] { return amrnb_decode(dec, frame, 32, 0, nullptr, &outcome); }},
      {AMRNB_ERROR_NULL, [&] { return amrnb_conceal(nullptr, pcm, &outcome); }},
      {AMRNB_ERROR_NULL, [&] { return amrnb_conceal(dec, nullptr, &outcome); }},
      {AMRNB_ERROR_NULL, [&] { return amrnb_reset(nullptr, AMRNB_RESET_FULL); }},
      {AMRNB_ERROR_NULL, [&] { return amrnb_init(nullptr, sizeof storage, &unused); }},
      {AMRNB_ERROR_NULL, [&] { return amrnb_init(raw, sizeof storage, nullptr); }},
      {AMRNB_ERROR_NULL, [&] { return amrnb_create(nullptr); }},
      {AMRNB_ERROR_LAYOUT, [&] { return amrnb_decode(dec, frame, 32, 2, pcm, &outcome); }},
      {AMRNB_ERROR_LAYOUT, [&] { return amrnb_decode(dec, frame, 32, -1, pcm, &outcome); }},
      {AMRNB_ERROR_RESET, [&] { return amrnb_reset(dec, 1); }},
      {AMRNB_ERROR_RESET, [&] { return amrnb_reset(dec, -8); }},
      {AMRNB_ERROR_NOT_RESET, [&] { return amrnb_decode(never, frame, 32, 0, pcm, &outcome); }},
      {AMRNB_ERROR_NOT_RESET, [&] { return amrnb_conceal(never, pcm, &outcome); }},
      {AMRNB_ERROR_NOT_RESET, [&] { return amrnb_reset(never, AMRNB_RESET_PARTIAL); }},
      {AMRNB_ERROR_FRAME_SIZE, [&] { return amrnb_decode(dec, frame, 31, 0, pcm, &outcome); }},
      {AMRNB_ERROR_FRAME_SIZE, [&] { return amrnb_decode(dec, if2_frame, 30, 1, pcm, &outcome); }},
      {AMRNB_ERROR_FRAME_SIZE, [&] { return amrnb_decode(dec, frame, 0, 0, pcm, &outcome); }},
      {AMRNB_ERROR_MEMORY, [&] { return amrnb_init(raw + 1, sizeof storage - 1, &unused); }},
      {AMRNB_ERROR_MEMORY, [&] { return amrnb_init(garbage.data(), amrnb_decoder_size() - 1, &unused); }},
  };
  const amrnb_decoder_storage before = storage;
  for (size_t i = 0; i < std::size(cases); ++i) {
    std::fill(std::begin(pcm), std::end(pcm), short{0x5555});
    EXPECT_EQ(cases[i].call(), cases[i].expected) << "case " << i;
    EXPECT_EQ(pcm[0], 0x5555) << "case " << i << " wrote samples";
    EXPECT_EQ(std::memcmp(&before, &storage, sizeof storage), 0) << "case " << i << " changed the decoder";
  }
  EXPECT_EQ(unused, nullptr);
  EXPECT_EQ(outcome, AMRNB_OUTCOME_HOMING);
  // A full reset makes any memory a decoder; a partial reset then is accepted.
  EXPECT_EQ(amrnb_reset(never, AMRNB_RESET_FULL), AMRNB_OK);
  EXPECT_EQ(amrnb_reset(never, AMRNB_RESET_PARTIAL), AMRNB_OK);
  EXPECT_EQ(amrnb_decode(never, frame, 32, 0, pcm, &outcome), AMRNB_OK);
  EXPECT_EQ(outcome, AMRNB_OUTCOME_SPEECH);
}

// Storage streams through caller-owned memory, IF2 streams through the owning class with
// every 7th frame lost and concealed; both against the frame-level entry, sample for
// sample, with the input bytes untouched and, for storage, each frame's outcome as the
// traces record it.
TEST(CInterface, BitExactWithFrameLevelEntryOnEveryStream) {
  const fs::path data = fs::path(AMRCONV_TEST_DATA_DIR) / "conformance";
  int storage_streams = 0, if2_streams = 0;
  for (const auto& entry : fs::directory_iterator(data)) {
    if (entry.path().extension() != ".wav" || entry.path().stem().extension() == ".out") continue;
    const std::string name = entry.path().stem().string();
    const Bytes file = ReadFile(entry.path());
    const std::vector<Bytes> frames = Split(file, 62, AMRNB_LAYOUT_STORAGE);
    // The storage-file helper frames the stream as the program's reader does.
    ASSERT_EQ(frames.size() * 320, fs::file_size(data / (name + ".out.wav")) - 62) << name;
    const std::vector<amrnb_outcome> outcomes = ExpectedOutcomes(name);
    ASSERT_EQ(outcomes.size(), frames.size()) << name;

    amrnb_decoder_storage memory;
    amrnb_decoder* dec = nullptr;
    ASSERT_EQ(amrnb_init(&memory, sizeof memory, &dec), AMRNB_OK);
    Samples out;
    for (size_t i = 0; i < frames.size(); ++i) {
      short pcm[AMRNB_FRAME_SAMPLES];
      amrnb_outcome outcome;
      ASSERT_EQ(amrnb_decode(dec, frames[i].data(), frames[i].size(), AMRNB_LAYOUT_STORAGE, pcm, &outcome), AMRNB_OK);
      ASSERT_EQ(outcome, outcomes[i]) << name << " frame " << i;
      out.insert(out.end(), pcm, pcm + AMRNB_FRAME_SAMPLES);
    }
    EXPECT_TRUE(out == Reference(frames, AMRNB_LAYOUT_STORAGE)) << name;
    EXPECT_TRUE(frames == Split(file, 62, AMRNB_LAYOUT_STORAGE)) << name << ": input modified";
    ++storage_streams;
  }
  EXPECT_GE(storage_streams, 14);

  const fs::path if2_dir = data / "if2";
  ASSERT_TRUE(fs::exists(if2_dir)) << if2_dir;
  for (const auto& entry : fs::directory_iterator(if2_dir)) {
    if (entry.path().extension() != ".if2") continue;
    std::vector<Bytes> frames = Split(ReadFile(entry.path()), 0, AMRNB_LAYOUT_IF2);
    amrnb::Decoder dec;
    ASSERT_TRUE(dec);
    Samples out;
    for (size_t i = 0; i < frames.size(); ++i) {
      int16_t pcm[AMRNB_FRAME_SAMPLES];
      amrnb_outcome outcome;
      if (i % 7 == 6) {
        frames[i].clear();
        ASSERT_EQ(dec.Conceal(pcm, &outcome), AMRNB_OK);
        EXPECT_EQ(outcome, AMRNB_OUTCOME_CONCEALED);
      } else {
        ASSERT_EQ(dec.Decode(frames[i].data(), frames[i].size(), AMRNB_LAYOUT_IF2, pcm), AMRNB_OK);
      }
      out.insert(out.end(), pcm, pcm + AMRNB_FRAME_SAMPLES);
    }
    EXPECT_TRUE(out == Reference(frames, AMRNB_LAYOUT_IF2)) << entry.path();
    ++if2_streams;
  }
  EXPECT_GE(if2_streams, 11);
}
