// Pitch lag decoders, adaptive codebook interpolation and algebraic codebook decoders.
// The whole-stream checks of lags and codebooks against the reference traces are in
// gains_test.cpp, which replays them together with the gains.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "amrdec/stages.h"
#include "amrdec/tables/tables.h"

namespace amrnb {
namespace {

TEST(LagDecoding, EdgesOfTheIndexRanges) {
  // {index, t0_min, t0_max, pit_flag, previous lag, flag4 (thirds) or -1 (sixths), T0, frac}
  const int32_t cases[][8] = {
      {0, 0, 0, 0, 40, 0, 19, 1},  {196, 0, 0, 0, 40, 0, 85, -1},  // absolute thirds
      {197, 0, 0, 0, 40, 0, 85, 0}, {255, 0, 0, 0, 40, 0, 143, 0},  // then integer lags
      {0, 0, 0, 0, 40, -1, 17, 3}, {462, 0, 0, 0, 40, -1, 94, 3},   // absolute sixths
      {463, 0, 0, 0, 40, -1, 95, 0}, {511, 0, 0, 0, 40, -1, 143, 0},
      // 4-bit relative around old_T0 = 60 in the window 55..64.
      {0, 55, 64, 40, 60, 1, 55, 0}, {3, 55, 64, 40, 60, 1, 58, 0}, {4, 55, 64, 40, 60, 1, 58, 1},
      {11, 55, 64, 40, 60, 1, 61, -1}, {12, 55, 64, 40, 60, 1, 61, 0}, {15, 55, 64, 40, 60, 1, 64, 0},
      // A previous lag far below a window at the top: centred as far as the window allows.
      {0, 134, 143, 40, 30, 1, 134, 0},
      // 5-bit relative at the top of a window ending at 143 reaches 144 with fraction -1.
      {31, 134, 143, 40, 143, 0, 144, -1}, {0, 134, 143, 40, 143, 0, 133, 1},
      // 6-bit relative sixths: the window starts at 18 at the lowest and 134 at the highest.
      {0, 0, 0, 40, 19, -1, 17, 3}, {63, 0, 0, 40, 19, -1, 28, 0},
      {0, 0, 0, 40, 143, -1, 133, 3}, {60, 0, 0, 40, 143, -1, 143, 3},
  };
  for (const auto& c : cases) {
    int32_t T0 = c[4], frac = 99;
    if (c[5] < 0) {
      Dec_lag6(c[0], c[3], &T0, &frac);
    } else {
      Dec_lag3(c[0], c[1], c[2], c[3], c[4], &T0, &frac, c[5]);
    }
    EXPECT_EQ(T0, c[6]) << "index " << c[0] << " prev " << c[4];
    EXPECT_EQ(frac, c[7]) << "index " << c[0] << " prev " << c[4];
  }
}

// Direct form of the interpolation: strided taps of inter_6 on both sides of the reference.
void SlowPredLt(int16_t* exc, int32_t T0, int32_t frac, bool thirds) {
  int32_t f = thirds ? -2 * frac : -frac;
  int32_t ref = -T0;
  if (f < 0) { f += 6; --ref; }
  for (int j = 0; j < 40; ++j) {
    int64_t s = 0;
    for (int i = 0; i < 10; ++i) {
      s += int64_t{exc[j + ref - i]} * inter_6[f + 6 * i];
      s += int64_t{exc[j + ref + 1 + i]} * inter_6[6 - f + 6 * i];
    }
    exc[j] = static_cast<int16_t>(std::clamp<int64_t>((s + 16384) >> 15, -32768, 32767));
  }
}

TEST(PredLt, MatchesDirectInterpolationForEveryLagAndFraction) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> sample(-32768, 32767);
  for (bool thirds : {true, false}) {
    for (int32_t T0 = 17; T0 <= 144; ++T0) {
      for (int32_t frac = thirds ? -1 : -2; frac <= (thirds ? 1 : 3); ++frac) {
        std::vector<int16_t> a(155 + 40);
        for (auto& v : a) v = static_cast<int16_t>(sample(rng));  // full scale: clipping too
        std::vector<int16_t> b = a;
        Pred_lt_3or6(a.data() + 155, T0, frac, thirds ? 1 : 0);
        SlowPredLt(b.data() + 155, T0, frac, thirds);
        ASSERT_EQ(a, b) << "T0 " << T0 << " frac " << frac << " thirds " << thirds;
      }
    }
  }
}

TEST(AlgebraicCodebooks, CollidingPulses) {
  int16_t cod[40];
  // MR59 (i0 = i1 = 2, j0 = 0, j1 = 1): both on position 11, the later pulse replaces the first.
  decode_2i40_11bits(/*sign=*/0b01, (2 << 6) | (1 << 4) | (2 << 1), cod);
  EXPECT_EQ(cod[11], -8192);
  // MR122: the two pulses of a track add up; a second pulse before the first flips its sign.
  int16_t idx[10] = {0, 8 | 7, 0, 0, 0, 0, 0, 0, 0, 0};  // track 1: position 36 negative, then 1
  dec_10i40_35bits(idx, cod);
  EXPECT_EQ(cod[0], 8192);
  EXPECT_EQ(cod[36], -4096);
  EXPECT_EQ(cod[1], 4096);
  // MR102: the same rules with +-8191.
  const int16_t w[7] = {1, 0, 0, 0, 0, 0, 0};
  dec_8i40_31bits(w, cod);
  EXPECT_EQ(cod[0], -16382);
  EXPECT_EQ(cod[1], 16382);
}

}  // namespace
}  // namespace amrnb
