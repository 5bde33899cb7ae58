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

TEST(AmrWaveHeader, PrintsSixteenBitFieldsUnsignedAndThirtyTwoBitFieldsSigned) {
  Bytes bytes = AmrWaveHeader();
  bytes[4] = bytes[5] = bytes[6] = bytes[7] = 0xFF;  // ChunkSize -1 as a signed 32-bit field
  bytes[22] = bytes[23] = 0xFF;                      // 65535 channels as an unsigned 16-bit field
  Append(bytes, Frame(7));
  Source src(bytes);
  CaptureStdout();
  EXPECT_EQ(ReadAmrWaveHeader(src.handler.stream()), 0);
  EXPECT_EQ(GetCapturedStdout(), HeaderLines("-1", "65535", "310"));
  EXPECT_EQ(std::ftell(src.handler.stream()), 62);
}

TEST(AmrWaveHeader, RefusesMissingStream) {
  CaptureStdout();
  EXPECT_EQ(ReadAmrWaveHeader(nullptr), 2);
  EXPECT_EQ(GetCapturedStdout(), "Can not able to open wave file\n");
}

// Frames of every type back to back: each read returns exactly one frame, types 10..14
// a single byte with status 15; a last frame cut short ends the input with length 0.
TEST(AmrFrameReader, ReadsEveryFrameTypeBackToBack) {
  Bytes bytes = AmrWaveHeader();
  for (int type = 0; type < 16; ++type) Append(bytes, Frame(type, static_cast<uint8_t>(type * 16)));
  Bytes cut = Frame(0);
  cut.resize(5);
  Append(bytes, cut);
  Source src(bytes);
  ASSERT_EQ(std::fseek(src.handler.stream(), 62, SEEK_SET), 0);

  uint8_t buffer[kMaxFrameBytes] = {};
  for (int type = 0; type < 16; ++type) {
    SCOPED_TRACE(type);
    uint32_t length = 99;
    int32_t layout = -1;
    CaptureStdout();
    const int32_t status = ReadAmrFrame(&src.handler, buffer, &length, &layout);
    const std::string out = GetCapturedStdout();
    const Bytes expected = Frame(type, static_cast<uint8_t>(type * 16));
    EXPECT_EQ(layout, 0);
    EXPECT_EQ(length, expected.size());
    EXPECT_EQ(Bytes(buffer, buffer + length), expected);
    if (kFrameBytes[type] == 0) {
      EXPECT_EQ(status, 15);
      EXPECT_EQ(out, " B0 L0\nInvalid Packet Size..");
    } else {
      EXPECT_EQ(status, 0);
      EXPECT_EQ(out, " B0 L" + std::to_string(kFrameBytes[type]));
    }
  }
  uint32_t length = 7;
  int32_t layout = -1;
  CaptureStdout();
  EXPECT_EQ(ReadAmrFrame(&src.handler, buffer, &length, &layout), 5);
  EXPECT_EQ(GetCapturedStdout(), " B0 L13\n Read Lenght(5) Error(0)");
  EXPECT_EQ(length, 0u);
  // The short read has set the end-of-file flag; the next call stops before reading.
  CaptureStdout();
  EXPECT_EQ(ReadAmrFrame(&src.handler, buffer, &length, &layout), 5);
  EXPECT_EQ(GetCapturedStdout(), "\nEOF.");
}

TEST(AmrFrameReader, RefusesMissingStreamOrBuffer) {
  AMRFileHandler empty;
  uint8_t buffer[kMaxFrameBytes] = {};
  uint32_t length = 0;
  int32_t layout = -1;
  CaptureStdout();
  EXPECT_EQ(ReadAmrFrame(&empty, buffer, &length, &layout), 16);
  EXPECT_EQ(GetCapturedStdout(), "\nInvalid File Pointer NULL.");

  Source src(Frame(7));
  CaptureStdout();
  EXPECT_EQ(ReadAmrFrame(&src.handler, nullptr, &length, &layout), 16);
  EXPECT_EQ(GetCapturedStdout(), "\nInvalid Buffer Pointer NULL.");
}

}  // namespace
