// Frame unpacking in both layouts, checked against the packer (its inverse), the decoder
// homing vectors and hand-built header and SID bytes.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "frame_packer.h"
#include "stages.h"
#include "tables/tables.h"

namespace amrnb {
namespace {

using amrtools::FrameInfo;
using amrtools::Layout;
using amrtools::PackFrame;

struct Unpacked {
  int32_t ft;
  int32_t rx_type = -1;
  int32_t speech_mode = -1;
  int16_t quality = -1;
  int16_t parm[MAX_PRM];
};

Unpacked Unpack(Layout layout, std::vector<uint8_t> bytes) {
  Unpacked u;
  std::fill_n(u.parm, MAX_PRM, int16_t{-1});
  u.ft = layout == Layout::kStorage
             ? UnpackStorageFrame(bytes.data(), u.parm, &u.rx_type, &u.speech_mode, &u.quality)
             : UnpackIf2Frame(bytes.data(), u.parm, &u.rx_type, &u.speech_mode);
  return u;
}

// Payload bits that a frame type carries, counted from the first payload bit (STI and the
// mode indication included for SID).
int32_t CarriedBits(Layout layout, int32_t ft) {
  if (ft == FT_SID) return layout == Layout::kStorage ? 39 : 36 + 8;
  return ft <= FT_MR122 ? bitorder_by_mode[ft].count : 0;
}

// Random bytes with every bit that the layout ignores cleared, so pack(unpack(x)) must be x.
std::vector<uint8_t> RandomFrame(Layout layout, int32_t ft, int32_t quality, std::mt19937& rng) {
  const bool storage = layout == Layout::kStorage;
  std::vector<uint8_t> f(storage ? amrtools::StorageFrameSize(ft) : amrtools::If2FrameSize(ft));
  f[0] = static_cast<uint8_t>(storage ? (ft << 3) | (quality << 2) : ft);
  const int32_t bits = CarriedBits(layout, ft);
  for (int32_t k = 0; k < bits; ++k) {
    if (rng() & 1) {
      if (storage) f[1 + k / 8] |= static_cast<uint8_t>(0x80 >> (k % 8));
      else f[(k + 4) / 8] |= static_cast<uint8_t>(1 << ((k + 4) % 8));
    }
  }
  if (!storage && ft == FT_SID) f[5] &= 7;  // mode byte values above 7 are not kept
  return f;
}

TEST(UnpackRoundTrip, RandomFramesOfEveryModeRepackToTheSameBytes) {
  std::mt19937 rng(12345);
  for (Layout layout : {Layout::kStorage, Layout::kIf2}) {
    for (int32_t ft = 0; ft <= 8; ++ft) {
      for (int trial = 0; trial < 50; ++trial) {
        const int32_t quality = trial & 1;
        const std::vector<uint8_t> bytes = RandomFrame(layout, ft, quality, rng);
        const Unpacked u = Unpack(layout, bytes);
        ASSERT_EQ(u.ft, ft);
        const int32_t n = prmno[ft];
        for (int32_t i = 0; i < n; ++i) ASSERT_LT(u.parm[i], 1 << bitno_by_mode[ft].values[i]);
        for (int32_t i = n; i < MAX_PRM; ++i) ASSERT_EQ(u.parm[i], 0);
        FrameInfo info;
        info.frame_type = ft;
        info.quality = layout == Layout::kStorage ? u.quality : 1;
        info.sti = u.rx_type == RX_SID_UPDATE;
        info.sid_mode = u.speech_mode;
        if (ft != FT_SID) {
          EXPECT_EQ(u.rx_type, RX_SPEECH_GOOD);
        }
        ASSERT_EQ(PackFrame(layout, info, u.parm), bytes) << "ft " << ft << " trial " << trial;
      }
    }
  }
}

TEST(UnpackRoundTrip, HomingVectorsSurvivePackAndUnpack) {
  for (Layout layout : {Layout::kStorage, Layout::kIf2}) {
    for (int32_t mode = 0; mode <= 7; ++mode) {
      FrameInfo info;
      info.frame_type = mode;
      const Unpacked u = Unpack(layout, PackFrame(layout, info, dhf_by_mode[mode].values));
      for (int32_t i = 0; i < dhf_by_mode[mode].count; ++i) EXPECT_EQ(u.parm[i], dhf_by_mode[mode].values[i]) << i;
    }
  }
}

TEST(UnpackStorage, SidStiAndModeBits) {
  std::vector<uint8_t> f = {8 << 3 | 4, 0, 0, 0, 0, 0x10};
  Unpacked u = Unpack(Layout::kStorage, f);
  EXPECT_EQ(u.ft, 8);
  EXPECT_EQ(u.rx_type, RX_SID_UPDATE);
  EXPECT_EQ(u.speech_mode, 0);
  f[5] = 0x08;
  u = Unpack(Layout::kStorage, f);
  EXPECT_EQ(u.rx_type, RX_SID_FIRST);
  EXPECT_EQ(u.speech_mode, 1);
  f[5] = 0x02;
  EXPECT_EQ(Unpack(Layout::kStorage, f).speech_mode, 4);
  // The last three parameter bits sit at the top of byte 5; the energy index gets them.
  f[5] = 0xE1;
  u = Unpack(Layout::kStorage, f);
  EXPECT_EQ(u.parm[4], 7);
  EXPECT_EQ(u.speech_mode, 0);
  EXPECT_EQ(u.rx_type, RX_SID_FIRST);
}

TEST(UnpackIf2, SidStiAndModeByte) {
  std::vector<uint8_t> f = {8, 0, 0, 0, 0x80, 0x03};
  Unpacked u = Unpack(Layout::kIf2, f);
  EXPECT_EQ(u.ft, 8);
  EXPECT_EQ(u.rx_type, RX_SID_UPDATE);
  EXPECT_EQ(u.speech_mode, 3);
  f[4] = 0x7F;  // all of it parameter bits, STI clear
  u = Unpack(Layout::kIf2, f);
  EXPECT_EQ(u.rx_type, RX_SID_FIRST);
  EXPECT_EQ(u.parm[4], 63);
}

TEST(UnpackStorage, HeaderOnlyFramesReadOneByte) {
  // A one-byte heap buffer: AddressSanitizer reports any read past the header.
  for (uint8_t header : {uint8_t{0x7C}, uint8_t{0x48}, uint8_t{0x70}}) {
    std::vector<uint8_t> f = {header};
    const Unpacked u = Unpack(Layout::kStorage, f);
    EXPECT_EQ(u.ft, (header >> 3) & 15);
    EXPECT_EQ(u.rx_type, u.ft == 15 ? RX_NO_DATA : RX_SPEECH_BAD);
    EXPECT_EQ(u.quality, (header >> 2) & 1);
    EXPECT_EQ(u.speech_mode, -1);  // untouched
    for (int i = 0; i < 57; ++i) ASSERT_EQ(u.parm[i], 0);
    const Unpacked b = Unpack(Layout::kIf2, {static_cast<uint8_t>(u.ft)});
    EXPECT_EQ(b.rx_type, u.rx_type);
  }
}

TEST(FrameBytes, SizesOfBothLayouts) {
  // Header byte included; IF2 packs the frame type into the first byte's low half.
  const int32_t storage[9] = {13, 14, 16, 18, 20, 21, 27, 32, 6};
  const int32_t if2[9] = {13, 14, 16, 18, 19, 21, 26, 31, 6};
  for (int32_t ft = 0; ft < 9; ++ft) {
    EXPECT_EQ(FrameBytes(ft, 0), storage[ft]) << ft;
    EXPECT_EQ(FrameBytes(ft, 5), if2[ft]) << ft;
  }
  for (int32_t ft = 9; ft < 16; ++ft) EXPECT_EQ(FrameBytes(ft, 0) + FrameBytes(ft, 1), 2) << ft;
  EXPECT_EQ(FrameBytes(-1, 0), 0);
  EXPECT_EQ(FrameBytes(16, 1), 0);
}

}  // namespace
}  // namespace amrnb
