// Arithmetic and filter primitives: exact values at the corners where rounding, saturation
// or shift direction go wrong, and slow obvious references over input ranges.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "fixed_point.h"
#include "stages.h"

namespace amrnb {
namespace {

TEST(DivisionAndNormalisation, DivSMatchesTruncatedQuotient) {
  EXPECT_EQ(div_s(0, 7), 0);
  EXPECT_EQ(div_s(7, 7), 32767);
  EXPECT_EQ(div_s(9, 7), 32767);
  for (int32_t den = 1; den <= 3000; den += 7) {
    for (int32_t num = 0; num < den; num += 1 + den / 50) {
      ASSERT_EQ(div_s(num, den), (int64_t{num} << 15) / den) << num << "/" << den;
    }
  }
  // Denominators near 2^31 must not overflow the doubled remainder.
  EXPECT_EQ(div_s(0x7FFFFFFE, 0x7FFFFFFF), 32767);
  EXPECT_EQ(div_s(0x40000001, 0x7FFFFFFF), (int64_t{0x40000001} << 15) / 0x7FFFFFFF);
}

TEST(DivisionAndNormalisation, NormLMatchesShiftCount) {
  auto reference = [](int32_t x) {
    int64_t v = x < 0 ? ~int64_t{x} : x;
    if (v == 0) return 31;
    int n = 0;
    while (v < 0x40000000) { v <<= 1; ++n; }
    return n;
  };
  for (int k = 0; k < 31; ++k) {
    for (int32_t x : {int32_t{1} << k, (int32_t{1} << k) + 1, -(int32_t{1} << k), -(int32_t{1} << k) - 1}) {
      EXPECT_EQ(norm_l(x), reference(x)) << x;
    }
  }
  EXPECT_EQ(norm_l(0), 31);
  EXPECT_EQ(norm_l(-1), 31);
  EXPECT_EQ(norm_l(0x7FFFFFFF), 0);
  EXPECT_EQ(norm_l(INT32_MIN), 0);
}

TEST(Energies, SaturationAndWrapAtFullScale) {
  int16_t loud[40];
  std::fill_n(loud, 40, int16_t{32767});
  EXPECT_EQ(sum_sq_sat(40, loud), 0x3FFFFFFF);
  EXPECT_EQ(energy_old(loud), 0x7FFFFFFF);
  EXPECT_EQ(sum_sq(40, loud), -2621400);  // wraps modulo 2^32
  EXPECT_EQ(sum_sq(0, loud), 0);
}

TEST(Energies, EnergyOldShiftsSamplesArithmetically) {
  // -1 >> 2 is -1 (not 0): a logical or rounding-toward-zero shift would drop these terms.
  int16_t x[40];
  std::fill_n(x, 40, int16_t{-1});
  EXPECT_EQ(energy_old(x), 80);
  std::fill_n(x, 40, int16_t{3});
  EXPECT_EQ(energy_old(x), 0);
  EXPECT_EQ(sum_sq(40, x), 360);
  EXPECT_EQ(sum_sq_sat(40, x), 360);
}

TEST(LogPowSqrt, ExactCorners) {
  int32_t e = -5, f = -5;
  Log2(0, &e, &f);
  EXPECT_EQ(e, 0);
  EXPECT_EQ(f, 0);
  Log2(1, &e, &f);
  EXPECT_EQ(e, 0);
  EXPECT_EQ(f, 0);
  EXPECT_EQ(Pow2(14, 0), 16384);
  EXPECT_EQ(Pow2(-2, 32767), 0);
  EXPECT_EQ(Pow2(0, 16384), 1);   // sqrt(2) rounds to 1
  EXPECT_EQ(Pow2(1, 16384), 3);   // 2.83 rounds up
  EXPECT_EQ(Inv_sqrt(0), 0x3FFFFFFF);
  EXPECT_EQ(Inv_sqrt(-4), 0x3FFFFFFF);
  EXPECT_EQ(Inv_sqrt(1), 1073709056);
}

TEST(LogPowSqrt, TableInterpolationTracksTheRealFunction) {
  for (int32_t x = 3; x < 0x7FFFFFFF / 3; x = x * 3 + 1) {
    int32_t e, f;
    Log2(x, &e, &f);
    // Linear interpolation over 32 segments is within 2e-4 of the true logarithm.
    EXPECT_NEAR(e + f / 32768.0, std::log2(x), 2.5e-4) << x;

    const double inv = std::ldexp(1.0, 30) / std::sqrt(static_cast<double>(x));
    EXPECT_NEAR(Inv_sqrt(x), inv, inv * 1e-3 + 2) << x;

    int32_t shift;
    const int32_t m = sqrt_l_exp(x, &shift);
    EXPECT_EQ(shift % 2, 0);
    EXPECT_NEAR(m * std::pow(2.0, -15.5 - shift / 2.0), std::sqrt(static_cast<double>(x)),
                std::sqrt(static_cast<double>(x)) * 1e-3)
        << x;
  }
  for (int32_t exp = 0; exp <= 29; exp += 3) {
    for (int32_t frac = 0; frac < 32768; frac += 1111) {
      const double want = std::pow(2.0, exp + frac / 32768.0);
      EXPECT_NEAR(Pow2(exp, frac), want, want * 1e-4 + 1) << exp << " " << frac;
    }
  }
}

TEST(Filters, SynthesisPassThroughAndOutputClamp) {
  int16_t a[10] = {};
  int16_t buf[50] = {};
  int16_t in[40];
  for (int i = 0; i < 40; ++i) in[i] = static_cast<int16_t>(i * 1000 - 20000);
  Syn_filt(a, in, buf + 10);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(buf[10 + i], in[i]);

  // Pole at 1.0: the output clamps at 32767 instead of wrapping.
  a[0] = -4096;
  std::fill_n(buf, 50, int16_t{0});
  std::fill_n(in, 40, int16_t{32767});
  Syn_filt(a, in, buf + 10);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(buf[10 + i], 32767) << i;
}

TEST(Filters, SynthesisInPlaceUsesMemory) {
  // y[n] = x[n] + 0.5 y[n-1], filtered in place with y[-1] = 100 in memory.
  int16_t a[10] = {-2048};
  int16_t buf[50] = {};
  buf[9] = 100;
  buf[10] = 10;
  Syn_filt(a, buf + 10, buf + 10);
  EXPECT_EQ(buf[10], 60);
  EXPECT_EQ(buf[11], 30);
  EXPECT_EQ(buf[12], 15);
  EXPECT_EQ(buf[13], 8);  // 7.5 rounds up
}

TEST(Filters, ResidueKeepsLow16Bits) {
  int16_t a[10] = {4096};  // 1 + z^-1
  int16_t x[50] = {};
  std::fill_n(x + 9, 41, int16_t{30000});
  int16_t y[40];
  Residu(a, x + 10, y);
  for (int i = 0; i < 40; ++i) EXPECT_EQ(y[i], static_cast<int16_t>(60000 - 65536));
}

TEST(Filters, ExcCombineWrapsShiftAndClamps) {
  int16_t x[40], u[40];
  for (int i = 0; i < 40; ++i) {
    x[i] = static_cast<int16_t>(i * 1637 - 32000);
    u[i] = static_cast<int16_t>(31000 - i * 1511);
  }
  for (int32_t shift : {0, 1, 3, 7}) {
    int16_t got[40];
    std::copy_n(x, 40, got);
    Exc_combine(got, u, 12000, 9000, shift);
    for (int i = 0; i < 40; ++i) {
      // Reference: exact sum, wrapped to 32 bits after the shift, then rounded and clamped.
      const int64_t v = int64_t{x[i]} * 12000 + int64_t{u[i]} * 9000;
      const int32_t shifted = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(v) << shift));
      const int64_t r = (int64_t{shifted} + 0x4000) >> 15;
      ASSERT_EQ(got[i], std::clamp<int64_t>(r, -32768, 32767)) << shift << " " << i;
    }
  }
}

TEST(LsfLsp, TableEndpointsAndRoundTrip) {
  int32_t lsf[10] = {0, 16383, 8192, 4096, 12288, 1, 255, 256, 10000, 16000};
  int32_t lsp[10];
  Lsf_lsp(lsf, lsp);
  EXPECT_EQ(lsp[0], 32767);
  EXPECT_EQ(lsp[1], -32768);
  EXPECT_EQ(lsp[2], 0);
  for (int i = 0; i < 10; ++i) EXPECT_NEAR(lsp[i], 32768 * std::cos(lsf[i] * M_PI / 16384), 40) << i;

  // An increasing LSF set converts back within a few units.
  int32_t in[10], mid[10], back[10];
  for (int i = 0; i < 10; ++i) in[i] = 300 + i * 1500 + (i * i * 20);
  Lsf_lsp(in, mid);
  Lsp_lsf(mid, back);
  for (int i = 0; i < 10; ++i) EXPECT_NEAR(back[i], in[i], 4) << i;

  int32_t top[10] = {32767, 32767, 32767, 32767, 32767, 32767, 32767, 32767, 32767, 32767};
  Lsp_lsf(top, back);
  EXPECT_EQ(back[0], 0);
}

TEST(LsfLsp, ReorderEnforcesMinimumGap) {
  int32_t lsf[10] = {};
  Reorder_lsf(lsf);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(lsf[i], 205 * (i + 1));
  int32_t mixed[10] = {1000, 1100, 3000, 2000, 5000, 5100, 5200, 9000, 9100, 16000};
  Reorder_lsf(mixed);
  const int32_t want[10] = {1000, 1205, 3000, 3205, 5000, 5205, 5410, 9000, 9205, 16000};
  for (int i = 0; i < 10; ++i) EXPECT_EQ(mixed[i], want[i]) << i;
}

TEST(LsfLsp, LspAzMatchesFloatingPolynomials) {
  const int32_t lsp[10] = {30000, 26000, 21000, 15000, 8000, 0, -8000, -15000, -21000, -26000};
  int16_t a[12];
  std::fill_n(a, 12, int16_t{0x5555});
  Lsp_Az(lsp, a + 1);
  EXPECT_EQ(a[0], 0x5555);
  EXPECT_EQ(a[11], 0x5555);

  // A(z) = (P(z) + Q(z)) / 2 with P = (1 + z^-1) prod(1 - 2 q_even z^-1 + z^-2) and
  // Q = (1 - z^-1) prod(1 - 2 q_odd z^-1 + z^-2).
  double p[12] = {1}, q[12] = {1};
  for (int k = 0; k < 5; ++k) {
    for (double* poly : {p, q}) {
      const double c = (poly == p ? lsp[2 * k] : lsp[2 * k + 1]) / 32768.0;
      for (int i = 2 * k + 2; i >= 1; --i) poly[i] += -2 * c * poly[i - 1] + (i >= 2 ? poly[i - 2] : 0);
    }
  }
  for (int i = 11; i >= 1; --i) {
    p[i] += p[i - 1];
    q[i] -= q[i - 1];
  }
  for (int i = 1; i <= 10; ++i) EXPECT_NEAR(a[i], 4096 * (p[i] + q[i]) / 2, 2) << i;

  // All LSPs at 0 give A(z) = (1 + z^-2)^5 exactly; 10.0 in Q12 does not fit 16 bits and wraps.
  const int32_t zeros[10] = {};
  Lsp_Az(zeros, a + 1);
  const int16_t binomial[10] = {0, 20480, 0, -24576, 0, -24576, 0, 20480, 0, 4096};
  for (int i = 0; i < 10; ++i) EXPECT_EQ(a[i + 1], binomial[i]) << i;
}

TEST(ComfortNoise, GeneratorAndPulseVector) {
  int32_t seed = 0x70816958;
  EXPECT_EQ(pseudonoise(&seed, 3), 0);
  EXPECT_EQ(seed, 0x7E102D2B);

  // One pulse of +-amplitude/8 per track k (positions k, k+10, k+20, k+30), three generator
  // bits per pulse.
  int32_t s1 = 0x12345678, s2 = 0x12345678;
  int16_t code[40];
  build_CN_code(800, &s1, code);
  pseudonoise(&s2, 30);
  EXPECT_EQ(s1, s2);
  int positives = 0;
  for (int k = 0; k < 10; ++k) {
    int pulses = 0;
    for (int p = 0; p < 4; ++p) {
      const int16_t v = code[p * 10 + k];
      if (v == 0) continue;
      ++pulses;
      EXPECT_TRUE(v == 100 || v == -100) << v;
      positives += v > 0;
    }
    EXPECT_EQ(pulses, 1) << k;
  }
  EXPECT_GT(positives, 0);
  EXPECT_LT(positives, 10);

  // Negative pulses are (-A) >> 3, which rounds toward minus infinity: A = 7 gives 0 or -1.
  for (int32_t amplitude : {7, -7}) {
    build_CN_code(amplitude, &s1, code);
    int minus_ones = 0;
    for (int16_t v : code) {
      EXPECT_TRUE(v == 0 || v == -1) << v;
      minus_ones += v == -1;
    }
    EXPECT_GT(minus_ones, 0);
  }
}

}  // namespace
}  // namespace amrnb
