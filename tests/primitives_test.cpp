// Arithmetic and filter primitives at the corners where rounding, saturation or shift
// direction go wrong. Whole-range comparisons with plain forms (small divisions among them)
// are in fast_paths_test.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "fixed_point.h"
#include "stages.h"

namespace amrnb {
namespace {

TEST(Primitives, DivisionNormalisationLogPowAndSqrtCorners) {
  EXPECT_EQ(div_s(0x7FFFFFFE, 0x7FFFFFFF), 32767);  // the doubled remainder must not overflow
  const int32_t norm[][2] = {{0, 31}, {-1, 31}, {1, 30}, {0x40000000, 0}, {-0x40000000, 1}, {INT32_MIN, 0}};
  for (const auto& [x, n] : norm) EXPECT_EQ(norm_l(x), n) << x;

  int32_t e = -5, f = -5;
  Log2(0, &e, &f);
  EXPECT_EQ(e | f, 0);
  Log2(1, &e, &f);
  EXPECT_EQ(e | f, 0);
  EXPECT_EQ(Pow2(14, 0), 16384);
  EXPECT_EQ(Pow2(-2, 32767), 0);
  EXPECT_EQ(Pow2(0, 16384), 1);  // sqrt(2) rounds to 1
  EXPECT_EQ(Pow2(1, 16384), 3);  // 2.83 rounds up
  EXPECT_EQ(Inv_sqrt(0), 0x3FFFFFFF);
  EXPECT_EQ(Inv_sqrt(-4), 0x3FFFFFFF);
  EXPECT_EQ(Inv_sqrt(1), 1073709056);
  // Over the whole input range the table interpolations track the real functions.
  for (int32_t x = 3; x < 0x7FFFFFFF / 3; x = x * 3 + 1) {
    Log2(x, &e, &f);
    EXPECT_NEAR(e + f / 32768.0, std::log2(x), 2.5e-4) << x;
    const double inv = std::ldexp(1.0, 30) / std::sqrt(static_cast<double>(x));
    EXPECT_NEAR(Inv_sqrt(x), inv, inv * 1e-3 + 2) << x;
    int32_t shift;
    const int32_t m = sqrt_l_exp(x, &shift);
    EXPECT_EQ(shift % 2, 0);
    EXPECT_NEAR(m * std::pow(2.0, -15.5 - shift / 2.0), std::sqrt(x * 1.0), std::sqrt(x * 1.0) * 1e-3) << x;
  }
}

TEST(Primitives, EnergiesSaturateWrapAndShiftArithmetically) {
  int16_t x[40];
  std::fill_n(x, 40, int16_t{32767});
  EXPECT_EQ(sum_sq_sat(40, x), 0x3FFFFFFF);
  EXPECT_EQ(energy_old(x), 0x7FFFFFFF);
  EXPECT_EQ(sum_sq(40, x), -2621400);  // wraps modulo 2^32
  int32_t e = 0;
  EXPECT_EQ(AgcNormEnergy(x, 0, &e), 32767);  // 0x7FFFFFFF normalised: the rounding saturates
  std::fill_n(x, 40, int16_t{-1});
  EXPECT_EQ(energy_old(x), 80);  // -1 >> 2 is -1: a logical or truncating shift drops the terms
  std::fill_n(x, 40, int16_t{0});
  x[3] = 2, x[9] = -1;  // a sum of squares of 5 measures 5 >> 3 = 0: silence
  EXPECT_EQ(AgcNormEnergy(x, 1, &e), 0);
  EXPECT_EQ(e, 0);
}

TEST(Primitives, LsfConversionsReorderAndLspAz) {
  int32_t lsf[10] = {0, 16383, 8192, 4096, 12288, 1, 255, 256, 10000, 16000};
  int32_t lsp[10];
  Lsf_lsp(lsf, lsp);
  EXPECT_EQ((std::vector<int32_t>{lsp[0], lsp[1], lsp[2]}), (std::vector<int32_t>{32767, -32768, 0}));
  for (int i = 0; i < 10; ++i) EXPECT_NEAR(lsp[i], 32768 * std::cos(lsf[i] * M_PI / 16384), 40) << i;
  int32_t top[10] = {32767, 32767, 32767, 32767, 32767, 32767, 32767, 32767, 32767, 32767};
  Lsp_lsf(top, lsf);
  EXPECT_EQ(lsf[0], 0);

  int32_t mixed[10] = {0, 100, 3000, 2000, 5000, 5100, 5200, 9000, 9100, 16000};
  Reorder_lsf(mixed);
  EXPECT_EQ(std::vector<int32_t>(mixed, mixed + 10),
            (std::vector<int32_t>{205, 410, 3000, 3205, 5000, 5205, 5410, 9000, 9205, 16000}));

  // All LSPs at 0 give A(z) = (1 + z^-2)^5; 10.0 in Q12 does not fit 16 bits and wraps. Exactly
  // ten values are written.
  const int32_t zeros[10] = {};
  int16_t a[12];
  std::fill_n(a, 12, int16_t{0x5555});
  Lsp_Az(zeros, a + 1);
  EXPECT_EQ(std::vector<int16_t>(a, a + 12),
            (std::vector<int16_t>{0x5555, 0, 20480, 0, -24576, 0, -24576, 0, 20480, 0, 4096, 0x5555}));
}

}  // namespace
}  // namespace amrnb
