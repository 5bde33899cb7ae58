// The AMR-in-WAV reader (header printing, frame reads) and the wave header writer.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "container/amr_wave_reader.h"
#include "container/wave_writer.h"
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

// The statuses and lengths the jobs act on: a type without frames is one byte with status 15,
// a cut frame gives status 5 and length 0, and the call after it stops at the end-of-file flag.
TEST(AmrWaveReader, FrameStatusesAndLengths) {
  Bytes cut = Frame(0);
  cut.resize(5);
  Bytes bytes = Frame(9);
  Append(bytes, Frame(12));
  Append(bytes, Frame(15));
  Append(bytes, cut);
  Source frames(bytes);
  struct Step { int32_t status; uint32_t length; const char* out; };
  const Step steps[] = {{0, 32, " B0 L32"}, {15, 1, " B0 L0\nInvalid Packet Size.."}, {0, 1, " B0 L1"},
                        {5, 0, " B0 L13\n Read Lenght(5) Error(0)"}, {5, 0, "\nEOF."}};
  uint8_t buffer[kMaxFrameBytes] = {};
  uint32_t length = 99;
  int32_t layout = -1;
  for (const Step& step : steps) {
    CaptureStdout();
    EXPECT_EQ(ReadAmrFrame(&frames.handler, buffer, &length, &layout), step.status) << step.out;
    EXPECT_EQ(GetCapturedStdout(), step.out);
    EXPECT_EQ(length, step.length) << step.out;
  }
}

Bytes HeaderFor(uint32_t data_bytes, const Bytes& samples = {}) {
  TempDir dir;
  FILE* f = std::fopen(dir.Path("out.wav").c_str(), "wb+");
  EXPECT_EQ(WriteWaveHeader(0, f), 0);
  if (!samples.empty()) std::fwrite(samples.data(), 1, samples.size(), f);
  EXPECT_EQ(WriteWaveHeader(data_bytes, f), 0);  // a rewrite touches the first 62 bytes only
  EXPECT_EQ(std::ftell(f), 62);
  std::fclose(f);
  return ReadFile(dir.Path("out.wav"));
}

TEST(WaveWriter, HeaderBytesSizesAndWholeSecondSampleCount) {
  const Bytes empty = {
      0x52, 0x49, 0x46, 0x46, 0x36, 0x00, 0x00, 0x00, 0x57, 0x41, 0x56, 0x45, 0x66, 0x6D, 0x74, 0x20,
      0x16, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x40, 0x1F, 0x00, 0x00, 0x80, 0x3E, 0x00, 0x00,
      0x02, 0x00, 0x10, 0x00, 0x00, 0x00, 0x07, 0x00, 0x00, 0x00, 0x66, 0x61, 0x63, 0x74, 0x04, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x64, 0x61, 0x74, 0x61, 0x00, 0x00, 0x00, 0x00};
  EXPECT_EQ(HeaderFor(0), empty);
  struct Case { uint32_t data, riff, fact; };
  for (const Case c : {Case{320, 374, 0}, Case{16000, 16054, 8000}, Case{31999, 32053, 8000},
                       Case{32000, 32054, 16000}}) {
    const Bytes h = HeaderFor(c.data);
    ASSERT_EQ(h.size(), 62u);
    EXPECT_EQ((std::vector<uint32_t>{Le32(h, 4), Le32(h, 50), Le32(h, 58)}),
              (std::vector<uint32_t>{c.riff, c.fact, c.data})) << c.data;
  }
  const Bytes samples(640, 0xA5);
  const Bytes out = HeaderFor(640, samples);
  ASSERT_EQ(out.size(), 62u + 640u);
  EXPECT_EQ(Le32(out, 58), 640u);
  EXPECT_EQ(Bytes(out.begin() + 62, out.end()), samples);
}

}  // namespace
