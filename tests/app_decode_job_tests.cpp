#include <gtest/gtest.h>

#include <string>

#include "test_util.h"

using namespace testutil;

namespace {

class DecodeJob : public testing::Test, protected JobFiles {
 protected:
  DecodeJob() : JobFiles("1") {}
};

TEST_F(DecodeJob, SourceWithoutFramesGivesEmptyWave) {
  const RunResult r = RunJob(AmrWaveHeader());
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(MaskTimes(r.out),
            HeaderLines() + kNoMoreFrames + kTimingLines);
  const Bytes out = ReadFile(dst);
  ASSERT_EQ(out.size(), 62u);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 4), Bytes({'R', 'I', 'F', 'F'}));
  EXPECT_EQ(Le32(out, 58), 0u);
}

// 50 speech frames, a byte of a frame type without frames (decoded as one bad frame) and
// three no-data frames: 160 samples each, and a final header that counts them all.
TEST_F(DecodeJob, WritesOnePcmFramePerSourceFrame) {
  Bytes source = AmrWaveHeader();
  std::string progress;
  for (int i = 0; i < 50; ++i) {
    Append(source, Frame(7, static_cast<uint8_t>(i * 7)));
    progress += " B0 L32.";
  }
  Append(source, Frame(12));
  progress += " B0 L0\nInvalid Packet Size...";
  for (int i = 0; i < 3; ++i) {
    Append(source, Frame(15));
    progress += " B0 L1.";
  }
  const RunResult r = RunJob(source);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(MaskTimes(r.out), HeaderLines() + progress + kNoMoreFrames +
                                  kTimingLines);
  const Bytes out = ReadFile(dst);
  const uint32_t data_bytes = 54 * 320;
  ASSERT_EQ(out.size(), 62 + data_bytes);
  EXPECT_EQ(Le32(out, 4), data_bytes + 54);
  EXPECT_EQ(Le32(out, 50), 8000u);
  EXPECT_EQ(Le32(out, 58), data_bytes);
}

TEST_F(DecodeJob, FailuresBeforeTheDestinationIsOpened) {
  const RunResult wrong_tag = RunJob(AmrWaveHeader(1));
  EXPECT_EQ(wrong_tag.exit_code, 14);
  EXPECT_EQ(wrong_tag.out, HeaderLines("0", "1", "1") + "\nInvalid Encoded Format(1)" +
                               "Failed to Read File (" + src + ")");
  EXPECT_FALSE(Exists(dst));

  dst = dir.Path("no/such/dir/dst.wav");
  const RunResult no_dir = RunJob(AmrWaveHeader());
  EXPECT_EQ(no_dir.exit_code, 3);
  EXPECT_EQ(no_dir.out, HeaderLines() + "\nFailed to open(" + dst + ") Error(2)" +
                            "\nFailed to Initialize Wave File..");
}

}  // namespace
