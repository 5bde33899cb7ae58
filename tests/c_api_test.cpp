// The C interface: every misuse refused with its status and without effect, and decoding
// bit-exact with the frame-level entry on every conformance stream, in both layouts.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <map>
#include <cstring>
#include <sstream>

#include "amrnb_decoder.h"
#include "decoder_state.h"
#include "test_util.h"

namespace {

using testutil::Bytes;
using Samples = std::vector<int16_t>;
namespace fs = std::filesystem;

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

// Each frame's outcome as the traces record it: its receive type (second column of the
// parameter trace), or the homing answer (stage trace path "homing").
std::vector<amrnb_outcome> ExpectedOutcomes(const fs::path& dir, const std::string& name) {
  std::vector<amrnb_outcome> out;
  std::ifstream params(dir / (name + ".params.txt")), stages(dir / (name + ".stages.txt"));
  int ft = 0, rx = 0;
  for (std::string line; std::getline(params, line) && std::istringstream(line) >> ft >> rx;) {
    out.push_back(rx == 0 ? AMRNB_OUTCOME_SPEECH : rx == 7 ? AMRNB_OUTCOME_NO_DATA
                  : rx >= 4 ? AMRNB_OUTCOME_COMFORT_NOISE : AMRNB_OUTCOME_CONCEALED);
  }
  std::string tag, path;
  size_t frame = 0;
  for (std::string line; std::getline(stages, line);) {
    if (std::istringstream(line) >> tag >> frame >> path && tag == "F" && path == "homing") out.at(frame) = AMRNB_OUTCOME_HOMING;
  }
  return out;
}

}  // namespace

// Every int has a name: the enumerator's own for each status, "unknown status" for the rest,
// with no undefined behaviour for values outside the enum (the sanitizer build checks it).
TEST(CInterface, NamesEveryStatusAndAnyOtherInt) {
#define AMRNB_NAMED(s) {s, #s}
  const std::pair<int, const char*> statuses[] = {
      AMRNB_NAMED(AMRNB_OK), AMRNB_NAMED(AMRNB_ERROR_GENERAL), AMRNB_NAMED(AMRNB_ERROR_BITSTREAM),
      AMRNB_NAMED(AMRNB_ERROR_NULL), AMRNB_NAMED(AMRNB_ERROR_LAYOUT), AMRNB_NAMED(AMRNB_ERROR_RESET),
      AMRNB_NAMED(AMRNB_ERROR_NOT_RESET), AMRNB_NAMED(AMRNB_ERROR_FRAME_SIZE),
      AMRNB_NAMED(AMRNB_ERROR_MEMORY), AMRNB_NAMED(AMRNB_END_OF_STREAM), AMRNB_NAMED(AMRNB_ERROR_OPEN),
      AMRNB_NAMED(AMRNB_ERROR_READ), AMRNB_NAMED(AMRNB_ERROR_SHORT_HEADER),
      AMRNB_NAMED(AMRNB_ERROR_FORMAT_TAG), AMRNB_NAMED(AMRNB_ERROR_KIND), AMRNB_NAMED(AMRNB_ERROR_USAGE),
      AMRNB_NAMED(AMRNB_ERROR_WRITE)};
#undef AMRNB_NAMED
  std::map<int, std::string> expected(std::begin(statuses), std::end(statuses));
  for (int s = -1000; s <= 1000; ++s) {
    const auto known = expected.find(s);
    EXPECT_STREQ(amrnb_status_name(s), known == expected.end() ? "unknown status" : known->second.c_str()) << s;
  }
  for (int s : {INT_MIN, INT_MAX}) EXPECT_STREQ(amrnb_status_name(s), "unknown status");
  EXPECT_STREQ(amrnb_status_name(static_cast<amrnb_status>(7)), "AMRNB_ERROR_FRAME_SIZE");
}

TEST(CInterface, RefusesMisuseWithoutEffect) {
  EXPECT_STREQ(amrnb_version(), AMRNB_VERSION_STRING);
  // The size policy: no version 1 library outgrows the first version 1 header's storage.
  EXPECT_LE(amrnb_decoder_size(), size_t{4096});
  EXPECT_GE(AMRNB_DECODER_MAX_BYTES, 4096);

  amrnb_decoder_storage storage;
  amrnb_decoder *dec = nullptr, *unused = nullptr;
  ASSERT_EQ(amrnb_init(&storage, sizeof storage, &dec), AMRNB_OK);
  std::vector<uint32_t> garbage(amrnb_decoder_size() / 4 + 1, 0xA5A5A5A5u);  // never a decoder
  auto* never = reinterpret_cast<amrnb_decoder*>(garbage.data());
  uint8_t frame[AMRNB_MAX_FRAME_BYTES] = {0x3C};  // 12.2 kbit/s: 32 storage bytes, 31 in IF2
  for (int i = 1; i < AMRNB_MAX_FRAME_BYTES; ++i) frame[i] = static_cast<uint8_t>(37 * i);
  const uint8_t if2[AMRNB_MAX_FRAME_BYTES] = {0x07};
  short pcm[AMRNB_FRAME_SAMPLES];
  std::fill(std::begin(pcm), std::end(pcm), short{0x5555});
  amrnb_outcome outcome = AMRNB_OUTCOME_HOMING;
  const amrnb_decoder_storage before = storage;
  const std::pair<amrnb_status, amrnb_status> calls[] = {
      {amrnb_decode(nullptr, frame, 32, 0, pcm, &outcome), AMRNB_ERROR_NULL},
      {amrnb_decode(dec, nullptr, 32, 0, pcm, &outcome), AMRNB_ERROR_NULL},
      {amrnb_decode(dec, frame, 32, 0, nullptr, &outcome), AMRNB_ERROR_NULL},
      {amrnb_conceal(dec, nullptr, &outcome), AMRNB_ERROR_NULL},
      {amrnb_reset(nullptr, AMRNB_RESET_FULL), AMRNB_ERROR_NULL},
      {amrnb_init(nullptr, sizeof storage, &unused), AMRNB_ERROR_NULL},
      {amrnb_create(nullptr), AMRNB_ERROR_NULL},
      {amrnb_decode(dec, frame, 32, 2, pcm, &outcome), AMRNB_ERROR_LAYOUT},
      {amrnb_reset(dec, 1), AMRNB_ERROR_RESET},
      {amrnb_decode(never, frame, 32, 0, pcm, &outcome), AMRNB_ERROR_NOT_RESET},
      {amrnb_conceal(never, pcm, &outcome), AMRNB_ERROR_NOT_RESET},
      {amrnb_reset(never, AMRNB_RESET_PARTIAL), AMRNB_ERROR_NOT_RESET},
      {amrnb_reset(never, AMRNB_RESET_FULL), AMRNB_ERROR_NOT_RESET},
      {amrnb_decode(dec, frame, 31, 0, pcm, &outcome), AMRNB_ERROR_FRAME_SIZE},
      {amrnb_decode(dec, if2, 30, 1, pcm, &outcome), AMRNB_ERROR_FRAME_SIZE},
      {amrnb_init(storage.bytes + 1, sizeof storage - 1, &unused), AMRNB_ERROR_MEMORY},
      {amrnb_init(garbage.data(), amrnb_decoder_size() - 1, &unused), AMRNB_ERROR_MEMORY},
  };
  for (size_t i = 0; i < std::size(calls); ++i) EXPECT_EQ(calls[i].first, calls[i].second) << "call " << i;
  EXPECT_EQ(std::count(std::begin(pcm), std::end(pcm), 0x5555), AMRNB_FRAME_SAMPLES);
  EXPECT_EQ(std::memcmp(&before, &storage, sizeof storage), 0);
  EXPECT_TRUE(unused == nullptr && outcome == AMRNB_OUTCOME_HOMING && garbage[0] == 0xA5A5A5A5u);
  // Freshly allocated memory in a debugging allocator's fill is no decoder either; amrnb_init
  // makes it one, and amrnb_destroy unmakes what amrnb_create made.
  void* filled = std::malloc(amrnb_decoder_size());
  ASSERT_NE(filled, nullptr);
  std::memset(filled, 0xCD, amrnb_decoder_size());
  auto* fresh = static_cast<amrnb_decoder*>(filled);
  EXPECT_EQ(amrnb_reset(fresh, AMRNB_RESET_FULL), AMRNB_ERROR_NOT_RESET);
  EXPECT_EQ(amrnb_decode(fresh, frame, 32, 0, pcm, &outcome), AMRNB_ERROR_NOT_RESET);
  ASSERT_EQ(amrnb_init(filled, amrnb_decoder_size(), &fresh), AMRNB_OK);
  EXPECT_EQ(amrnb_reset(fresh, AMRNB_RESET_FULL), AMRNB_OK);
  EXPECT_EQ(amrnb_decode(fresh, frame, 32, 0, pcm, &outcome), AMRNB_OK);
  EXPECT_EQ(outcome, AMRNB_OUTCOME_SPEECH);
  std::free(filled);
  amrnb_decoder* created = nullptr;
  ASSERT_EQ(amrnb_create(&created), AMRNB_OK);
  amrnb_decoder_storage copy;
  std::memcpy(&copy, created, amrnb_decoder_size());
  EXPECT_EQ(amrnb_reset(reinterpret_cast<amrnb_decoder*>(&copy), AMRNB_RESET_PARTIAL), AMRNB_OK);
  amrnb_destroy(created);
}

// Every storage stream, and every IF2 stream with each 7th frame lost and concealed, through
// the C interface and through the frame-level entry: the same samples, the caller's bytes
// untouched, and each storage frame's outcome as the traces record it.
TEST(CInterface, BitExactWithFrameLevelEntryOnEveryStream) {
  const fs::path data = fs::path(AMRCONV_TEST_DATA_DIR) / "conformance";
  std::vector<fs::path> streams;
  for (const fs::path& dir : {data, data / "if2"}) {
    for (const auto& entry : fs::directory_iterator(dir)) {
      const fs::path& p = entry.path();
      if (p.extension() == ".if2" || (p.extension() == ".wav" && p.stem().extension() != ".out")) streams.push_back(p);
    }
  }
  EXPECT_GE(streams.size(), 15u + 11u);
  for (const fs::path& path : streams) {
    const bool if2 = path.extension() == ".if2";
    const int layout = if2 ? AMRNB_LAYOUT_IF2 : AMRNB_LAYOUT_STORAGE;
    const std::string name = path.stem().string();
    const Bytes file = testutil::ReadFile(path.string());
    std::vector<Bytes> frames = Split(file, if2 ? 0 : 62, layout);
    std::vector<amrnb_outcome> expected(frames.size(), AMRNB_OUTCOME_CONCEALED);
    if (!if2) {
      // The storage-file helper frames the stream as the program's reader does.
      ASSERT_EQ(frames.size() * 320, fs::file_size(data / (name + ".out.wav")) - 62) << name;
      expected = ExpectedOutcomes(data, name);
    }
    amrnb_decoder_storage memory;
    amrnb_decoder* dec = nullptr;
    ASSERT_EQ(amrnb_init(&memory, sizeof memory, &dec), AMRNB_OK);
    Samples out;
    for (size_t i = 0; i < frames.size(); ++i) {
      short pcm[AMRNB_FRAME_SAMPLES];
      amrnb_outcome outcome;
      if (if2 && i % 7 == 6) {
        frames[i].clear();
        ASSERT_EQ(amrnb_conceal(dec, pcm, &outcome), AMRNB_OK);
      } else {
        ASSERT_EQ(amrnb_decode(dec, frames[i].data(), frames[i].size(), layout, pcm, &outcome), AMRNB_OK);
        if (if2) expected[i] = outcome;
      }
      ASSERT_EQ(outcome, expected.at(i)) << path << " frame " << i;
      out.insert(out.end(), pcm, pcm + AMRNB_FRAME_SAMPLES);
    }
    EXPECT_TRUE(out == Reference(frames, layout)) << path;
    EXPECT_TRUE(if2 || frames == Split(file, 62, layout)) << path << ": input modified";
  }
}
