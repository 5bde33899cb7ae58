#include <gtest/gtest.h>

#include <cstdio>

#include "container/wave_writer.h"
#include "test_util.h"

using namespace testutil;

namespace {

Bytes HeaderFor(uint32_t data_bytes) {
  TempDir dir;
  FILE* f = std::fopen(dir.Path("out.wav").c_str(), "wb+");
  EXPECT_EQ(WriteWaveHeader(data_bytes, f), 0);
  EXPECT_EQ(std::ftell(f), 62);
  std::fclose(f);
  return ReadFile(dir.Path("out.wav"));
}

TEST(WaveHeader, EmptyDataHeaderBytes) {
  const Bytes expected = {
      0x52, 0x49, 0x46, 0x46, 0x36, 0x00, 0x00, 0x00, 0x57, 0x41, 0x56, 0x45, 0x66, 0x6D, 0x74, 0x20,
      0x16, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x40, 0x1F, 0x00, 0x00, 0x80, 0x3E, 0x00, 0x00,
      0x02, 0x00, 0x10, 0x00, 0x00, 0x00, 0x07, 0x00, 0x00, 0x00, 0x66, 0x61, 0x63, 0x74, 0x04, 0x00,
      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x64, 0x61, 0x74, 0x61, 0x00, 0x00, 0x00, 0x00};
  EXPECT_EQ(HeaderFor(0), expected);
}

// RIFF size, fact sample count (whole seconds only) and data size.
TEST(WaveHeader, SizesAndWholeSecondSampleCount) {
  struct Case { uint32_t data, riff, fact; };
  for (const Case c : {Case{320, 374, 0}, Case{16000, 16054, 8000}, Case{31999, 32053, 8000},
                       Case{32000, 32054, 16000}}) {
    SCOPED_TRACE(c.data);
    const Bytes h = HeaderFor(c.data);
    ASSERT_EQ(h.size(), 62u);
    EXPECT_EQ(Le32(h, 4), c.riff);
    EXPECT_EQ(Le32(h, 50), c.fact);
    EXPECT_EQ(Le32(h, 58), c.data);
  }
}

TEST(WaveHeader, RewriteKeepsTheSamples) {
  TempDir dir;
  FILE* f = std::fopen(dir.Path("out.wav").c_str(), "wb+");
  ASSERT_EQ(WriteWaveHeader(0, f), 0);
  const Bytes samples(640, 0xA5);
  std::fwrite(samples.data(), 1, samples.size(), f);
  ASSERT_EQ(WriteWaveHeader(640, f), 0);
  std::fclose(f);
  const Bytes out = ReadFile(dir.Path("out.wav"));
  ASSERT_EQ(out.size(), 62u + 640u);
  EXPECT_EQ(Le32(out, 58), 640u);
  EXPECT_EQ(Bytes(out.begin() + 62, out.end()), samples);
}

}  // namespace
