// Replays the frame fuzzers' committed seed corpus and every input that once found a fault
// (fuzz/corpus/TARGET, fuzz/regressions/TARGET) through the same entry functions the
// fuzzers drive, so that the normal test suite, sanitizer build included, keeps them fixed.
// (The jobs' corpus is left to the fuzzer: the program's tests cover what it finds.)
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "fuzz/fuzz_entries.h"
#include "test_util.h"

namespace {

namespace fs = std::filesystem;
using Entry = std::string (*)(const uint8_t*, size_t);

const fs::path kFuzzDir = fs::path(AMRCONV_TEST_DATA_DIR) / ".." / ".." / "fuzz";

void ReplayCorpus(const std::string& target, Entry entry) {
  size_t inputs = 0;
  for (const char* kind : {"corpus", "regressions"}) {
    const fs::path dir = kFuzzDir / kind / target;
    if (!fs::is_directory(dir)) continue;
    for (const auto& file : fs::directory_iterator(dir)) {
      const testutil::Bytes bytes = testutil::ReadFile(file.path().string());
      EXPECT_EQ(entry(bytes.data(), bytes.size()), "") << file.path();
      ++inputs;
    }
  }
  EXPECT_GE(inputs, 3u) << "corpus of " << target << " missing";
}

TEST(FuzzCorpus, DecodeFrames) { ReplayCorpus("decode_frames", fuzzentry::DecodeFrames); }
TEST(FuzzCorpus, Unpack) { ReplayCorpus("unpack", fuzzentry::Unpack); }

}  // namespace
