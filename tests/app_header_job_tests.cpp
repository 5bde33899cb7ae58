#include <gtest/gtest.h>

#include <string>

#include "app/jobs.h"
#include "test_util.h"

using namespace testutil;

namespace {

const Bytes kMagic = {'#', '!', 'A', 'M', 'R', '\n'};

class HeaderJob : public testing::Test, protected JobFiles {
 protected:
  HeaderJob() : JobFiles("2") {}
};

// Every frame type, types 10..14 as single bytes, copied in order behind the magic.
TEST_F(HeaderJob, CopiesFramesOfEveryTypeByteForByte) {
  Bytes frames;
  std::string progress;
  for (int type : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 7}) {
    Append(frames, Frame(type, static_cast<uint8_t>(type)));
    progress += " B0 L" + std::to_string(kFrameBytes[type]);
    if (kFrameBytes[type] == 0) progress += "\nInvalid Packet Size..";
    progress += ".";
  }
  Bytes source = AmrWaveHeader();
  Append(source, frames);
  const RunResult r = RunJob(source);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(MaskTimes(r.out), HeaderLines() + progress + kNoMoreFrames + kTimingLines);
  Bytes expected = kMagic;
  Append(expected, frames);
  EXPECT_EQ(ReadFile(dst), expected);
}

TEST_F(HeaderJob, SourceWithoutFramesGivesMagicOnly) {
  const RunResult r = RunJob(AmrWaveHeader());
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(MaskTimes(r.out), HeaderLines() + kNoMoreFrames + kTimingLines);
  EXPECT_EQ(ReadFile(dst), kMagic);
}

TEST_F(HeaderJob, TruncatedLastFrameIsDropped) {
  Bytes source = AmrWaveHeader();
  Append(source, Frame(7));
  Append(source, Frame(8));
  Bytes cut = Frame(0);
  cut.resize(5);
  Append(source, cut);
  const RunResult r = RunJob(source);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(MaskTimes(r.out),
            HeaderLines() + " B0 L32. B0 L6. B0 L13\n Read Lenght(5) Error(0)" + kTimingLines);
  Bytes expected = kMagic;
  Append(expected, Frame(7));
  Append(expected, Frame(8));
  EXPECT_EQ(ReadFile(dst), expected);
}

TEST_F(HeaderJob, SourceFailuresCreateNoDestination) {
  Bytes frames_wrong_tag = AmrWaveHeader(1);
  Append(frames_wrong_tag, Frame(7));
  Bytes short_header = AmrWaveHeader();
  short_header.resize(40);
  const RunResult short_source = RunJob(short_header);
  EXPECT_EQ(short_source.exit_code, 12);
  EXPECT_EQ(short_source.out, "\nFailed to read AMR File. Error(0)Failed to Read File (" + src + ")");

  const RunResult wrong_tag = RunJob(frames_wrong_tag);
  EXPECT_EQ(wrong_tag.exit_code, 14);
  EXPECT_EQ(wrong_tag.out, HeaderLines("0", "1", "1") + "\nInvalid Encoded Format(1)" +
                               "Failed to Read File (" + src + ")");

  const std::string missing = dir.Path("missing.wav");
  const RunResult no_source = RunAmrconv(dir, {missing, dst, "2"});
  EXPECT_EQ(no_source.exit_code, 3);
  EXPECT_EQ(no_source.out, "Failed to open AMR File. Error(2)Failed to Read File (" + missing + ")");
  EXPECT_FALSE(Exists(dst));
}

TEST_F(HeaderJob, DestinationInMissingDirectory) {
  dst = dir.Path("no/such/dir/dst.amr");
  const RunResult r = RunJob(AmrWaveHeader());
  EXPECT_EQ(r.exit_code, 3);
  EXPECT_EQ(r.out, HeaderLines() + "\nFailed to open(" + dst + ") Error(2)" +
                       "Failed to open File (" + src + ")");
}

// A device that refuses writes: the failure shows once the stdio buffer is flushed, and the
// job stops there with status 6 instead of carrying on.
TEST_F(HeaderJob, FailedFrameWriteStopsWithStatusSix) {
  Bytes source = AmrWaveHeader();
  for (int i = 0; i < 400; ++i) Append(source, Frame(7, static_cast<uint8_t>(i)));
  WriteFile(src, source);
  testing::internal::CaptureStdout();
  const int32_t status = RunHeaderJob(src.c_str(), "/dev/full");
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(status, 6);
  EXPECT_NE(out.find(". B0 L32\n Failed to write. Error(28)\nFailed to Decode AMR.."), std::string::npos);
  EXPECT_EQ(out.find("Reached End of File"), std::string::npos);
}

}  // namespace
