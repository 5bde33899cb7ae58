// The AMR-in-WAV reader: header printing and the null-stream refusals.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "container/amr_wave_reader.h"
#include "test_util.h"

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;
using namespace testutil;

namespace {

struct Source {
  explicit Source(const Bytes& bytes) {
    WriteFile(dir.Path("src.wav"), bytes);
    handler.set_stream(std::fopen(dir.Path("src.wav").c_str(), "rb"));
  }
  TempDir dir;
  AMRFileHandler handler;
};

TEST(AmrWaveReader, HeaderPrintsSixteenBitFieldsUnsignedAndThirtyTwoBitFieldsSigned) {
  Bytes bytes = AmrWaveHeader();
  bytes[4] = bytes[5] = bytes[6] = bytes[7] = 0xFF;  // ChunkSize -1 as a signed 32-bit field
  bytes[22] = bytes[23] = 0xFF;                      // 65535 channels as an unsigned 16-bit field
  Append(bytes, Frame(7));
  Source src(bytes);
  CaptureStdout();
  EXPECT_EQ(ReadAmrWaveHeader(src.handler.stream()), 0);
  EXPECT_EQ(GetCapturedStdout(), HeaderLines("-1", "65535", "310"));
  EXPECT_EQ(std::ftell(src.handler.stream()), 62);

  CaptureStdout();
  EXPECT_EQ(ReadAmrWaveHeader(nullptr), 2);
  EXPECT_EQ(GetCapturedStdout(), "Can not able to open wave file\n");
  AMRFileHandler empty;
  uint8_t buffer[kMaxFrameBytes] = {};
  uint32_t length = 0;
  int32_t layout = -1;
  CaptureStdout();
  EXPECT_EQ(ReadAmrFrame(&empty, buffer, &length, &layout), 16);
  EXPECT_EQ(GetCapturedStdout(), "\nInvalid File Pointer NULL.");
}

}  // namespace
