// The decoder's fast routines against plain one-value-at-a-time forms kept here as references:
// the vector kernels and their scalar forms, and the primitives and stage routines built on
// them, compared over whole input ranges or dense random samples that include the extremes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "amrdec/fixed_point.h"
#include "amrdec/stages.h"
#include "amrdec/tables/tables.h"
#include "amrdec/vector_kernels.h"

namespace amrnb {
namespace {

// ---- Reference forms ----

int32_t RefDivS(int32_t num, int32_t den) {
  if (num >= den) return MAX_16;
  int64_t rem = num;
  int32_t quot = 0;
  for (int i = 0; i < 15; ++i) {
    rem <<= 1;
    quot <<= 1;
    if (rem >= den) {
      rem -= den;
      quot += 1;
    }
  }
  return quot;
}

int32_t RefNorm(int64_t v, int64_t top) {  // shifts that bring v (>= 0) to at least top / 2
  if (v == 0) return 31;
  int32_t n = 0;
  while (v < top / 2) v <<= 1, ++n;
  return n;
}

void RefSynthesis(const int16_t* a, const int16_t* x, int16_t* y, int n) {
  for (int i = 0; i < n; ++i) {
    int64_t acc = int64_t{x[i]} * 4096;
    for (int j = 1; j <= 10; ++j) acc -= int64_t{a[j - 1]} * y[i - j];
    y[i] = sat16(static_cast<int32_t>(static_cast<uint32_t>(acc + 2048)) >> 12);
  }
}

void RefResidual(const int16_t* a, const int16_t* x, int16_t* y, int n) {
  for (int i = 0; i < n; ++i) {
    int64_t acc = int64_t{x[i]} * 4096 + 2048;
    for (int j = 1; j <= 10; ++j) acc += int64_t{a[j - 1]} * x[i - j];
    y[i] = wrap16(static_cast<int32_t>(static_cast<uint32_t>(acc)) >> 12);
  }
}

class Random {
 public:
  int16_t Sample() {  // mostly moderate values, sometimes the extremes
    switch (gen_() % 8) {
      case 0: return MAX_16;
      case 1: return MIN_16;
      case 2: return static_cast<int16_t>(static_cast<int32_t>(gen_() % 65536) - 32768);
      default: return static_cast<int16_t>(static_cast<int32_t>(gen_() % 4001) - 2000);
    }
  }
  void Fill(int16_t* v, int n) { for (int i = 0; i < n; ++i) v[i] = Sample(); }
  uint32_t Below(uint32_t n) { return gen_() % n; }

 private:
  std::mt19937 gen_{20240601};
};

TEST(FastPaths, DivisionAndNormalisationMatchTheirPlainForms) {
  for (int32_t den = 1; den <= 3000; ++den) {
    for (int32_t num = 0; num <= den + 1; ++num) ASSERT_EQ(div_s(num, den), RefDivS(num, den)) << num << "/" << den;
  }
  std::mt19937 gen(7);
  for (int i = 0; i < 2000000; ++i) {
    const int32_t den = static_cast<int32_t>(gen() >> (1 + gen() % 31)) | 1;
    const int32_t num = static_cast<int32_t>(gen() % static_cast<uint32_t>(den));
    ASSERT_EQ(div_s(num, den), RefDivS(num, den)) << num << "/" << den;
  }
  EXPECT_EQ(div_s(0x7FFFFFFE, 0x7FFFFFFF), RefDivS(0x7FFFFFFE, 0x7FFFFFFF));

  for (int i = 0; i < 2000000; ++i) {
    const int32_t x = static_cast<int32_t>(gen() >> (gen() % 32));
    const int32_t v = i % 2 ? -x : x;
    ASSERT_EQ(norm_l(v), RefNorm(v < 0 ? ~int64_t{v} : v, 0x80000000LL)) << v;
  }
  EXPECT_EQ(norm_l(MIN_32), 0);
  // norm_s counts leading zeros; the plain form shifts until 0x4000 is reached.
  for (int32_t x = MIN_16; x <= MAX_16; ++x) {
    int32_t plain = 0;
    if (x != 0 && x != -1) {
      for (int32_t v = x < 0 ? ~x : x; v < 0x4000; v <<= 1) ++plain;
    }
    ASSERT_EQ(norm_s(x), plain) << x;
  }
}

TEST(FastPaths, SynthesisAndResidualFiltersMatchPlainForms) {
  Random rnd;
  for (int trial = 0; trial < 20000; ++trial) {
    int16_t a[10];
    // LP-like coefficients most of the time, any 16-bit values otherwise (wrapping sums).
    for (int16_t& c : a) c = trial % 4 ? static_cast<int16_t>(static_cast<int32_t>(rnd.Below(16385)) - 8192) : rnd.Sample();
    const int n = trial % 3 ? 40 : 24;
    int16_t x[10 + 40], ref[10 + 40], fast[10 + 40], scalar[10 + 40], inplace[10 + 40];
    rnd.Fill(x, 10 + n);
    rnd.Fill(ref, 10);
    std::copy_n(ref, 10, fast);
    std::copy_n(ref, 10, scalar);
    std::copy_n(ref, 10, inplace);
    std::copy_n(x + 10, n, inplace + 10);

    RefSynthesis(a, x + 10, ref + 10, n);
    SynthesisFilter(a, x + 10, fast + 10, n);
    SynthesisFilterScalar(a, x + 10, scalar + 10, n);
    SynthesisFilter(a, inplace + 10, inplace + 10, n);
    ASSERT_TRUE(std::equal(ref, ref + 10 + n, fast)) << "trial " << trial;
    ASSERT_TRUE(std::equal(ref, ref + 10 + n, scalar)) << "trial " << trial;
    ASSERT_TRUE(std::equal(ref, ref + 10 + n, inplace)) << "trial " << trial;

    // The same filter as one of four run side by side.
    int16_t others[3][10 + 40] = {};
    const int16_t* as[4] = {a, a, a, a};
    const int16_t* xs[4] = {x + 10, x + 10, x + 10, x + 10};
    int16_t* ys[4] = {others[0] + 10, scalar + 10, others[1] + 10, others[2] + 10};
    std::copy_n(ref, 10, scalar);
    for (auto& o : others) std::copy_n(ref, 10, o);
    SynthesisFilter4(as, xs, ys, n);
    ASSERT_TRUE(std::equal(ref, ref + 10 + n, scalar)) << "trial " << trial;
    ASSERT_TRUE(std::equal(ref, ref + 10 + n, others[2])) << "trial " << trial;

    // Tilt_factor against its plain form: the response of num / den over 22 samples.
    if (trial % 4 == 1) {
      int16_t h[10 + 22] = {}, g[10 + 22] = {};
      h[10] = g[10] = 4096;
      for (int i = 0; i < 10; ++i) h[11 + i] = g[11 + i] = static_cast<int16_t>(x[i] / 4);
      RefSynthesis(a, g + 10, g + 10, 22);
      uint32_t e = 0;
      int32_t cr = 0;
      for (int i = 1; i < 22; ++i) e += static_cast<uint32_t>(g[10 + i] * g[10 + i]);
      for (int i = 0; i < 21; ++i) cr = add_wrap32(cr, g[10 + i] * g[11 + i]);
      const int32_t r0 = std::min((static_cast<int32_t>(std::min(e, 0x3FFFFFFFu)) + 16777216) >> 15, MAX_16);
      const int32_t r1 = std::min(cr >> 15, MAX_16);
      const int32_t expected = r1 <= 0 ? 0 : RefDivS((r1 * 26214) >> 15, r0);
      ASSERT_EQ(Tilt_factor(a, h + 10), expected) << "trial " << trial;
      ASSERT_TRUE(std::equal(g, g + 32, h)) << "trial " << trial;
    }

    RefResidual(a, x + 10, ref + 10, 40);
    ResidualFilter(a, x + 10, fast + 10, 40);
    ResidualFilterScalar(a, x + 10, scalar + 10, 40);
    ASSERT_TRUE(std::equal(ref + 10, ref + 50, fast + 10)) << "trial " << trial;
    ASSERT_TRUE(std::equal(ref + 10, ref + 50, scalar + 10)) << "trial " << trial;
  }
}

TEST(FastPaths, AdaptiveCodebookMatchesPlainInterpolationForEveryLagAndPhase) {
  Random rnd;
  for (int32_t T0 = 17; T0 <= 144; ++T0) {
    for (int32_t frac = -2; frac <= 3; ++frac) {
      for (int32_t flag3 = 0; flag3 <= 1; ++flag3) {
        if (flag3 && frac > 1) continue;
        std::vector<int16_t> buf(154 + 40 + 8), ref;
        rnd.Fill(buf.data(), 154);
        ref = buf;
        int16_t* exc = buf.data() + 154;
        int16_t* rexc = ref.data() + 154;
        Pred_lt_3or6(exc, T0, frac, flag3);
        // Plain form: each output one 20-tap product, written before the next is formed.
        int32_t phase = flag3 ? -2 * frac : -frac, at = -T0;
        if (phase < 0) phase += 6, --at;
        const int16_t* taps = inter_6_phase + 20 * phase;
        for (int j = 0; j < 40; ++j) {
          int32_t s = 16384;
          for (int m = 0; m < 20; ++m) s += taps[m] * rexc[j + at - 9 + m];
          rexc[j] = sat16(s >> 15);
        }
        ASSERT_TRUE(std::equal(exc, exc + 40, rexc)) << "T0 " << T0 << " frac " << frac;
        InterpolateBlockScalar(taps, ref.data() + 154 + at - 9, rexc, 40);
        ASSERT_TRUE(std::equal(exc, exc + 40, rexc)) << "scalar, T0 " << T0 << " frac " << frac;
      }
    }
  }
}

TEST(FastPaths, EnergiesAndExcitationCombinationMatchPlainForms) {
  Random rnd;
  int16_t x[160], u[40];
  std::fill_n(x, 160, MIN_16);  // every pair of squares at 2^31
  EXPECT_EQ(SumSquares(x, 160), 160ull << 30);
  EXPECT_EQ(sum_sq_sat(160, x), 0x3FFFFFFF);
  EXPECT_EQ(sum_sq(40, x), 0);  // 40 * 2^30 wraps to 0
  int32_t e = 0;
  EXPECT_EQ(agc_norm_energy(x, 0, &e), MAX_16);  // 0x7FFFFFFF saturated, rounding would pass it
  std::fill_n(x, 40, int16_t{0});
  x[3] = 2, x[9] = -1;  // a sum of squares of 5 measures 0: silence
  EXPECT_EQ(agc_norm_energy(x, 1, &e), 0);
  EXPECT_EQ(e, 0);
  for (int trial = 0; trial < 20000; ++trial) {
    rnd.Fill(x, 160);
    if (trial % 2) for (int16_t& v : x) v = static_cast<int16_t>(v / 64);  // below the limit
    const int n = trial % 3 ? 40 : 160;
    uint64_t exact = 0;
    int32_t dot = 0;
    for (int i = 0; i < n; ++i) exact += static_cast<uint64_t>(int64_t{x[i]} * x[i]);
    for (int i = 0; i + 1 < n; ++i) dot = add_wrap32(dot, x[i] * x[i + 1]);
    ASSERT_EQ(SumSquares(x, n), exact);
    ASSERT_EQ(SumSquaresScalar(x, n), exact);
    ASSERT_EQ(sum_sq(n, x), static_cast<int32_t>(static_cast<uint32_t>(exact)));
    ASSERT_EQ(sum_sq_sat(n, x), static_cast<int32_t>(std::min<uint64_t>(exact, 0x3FFFFFFF)));
    x[n - 1] = 0;  // the last product then falls out, as for an odd-length correlation
    dot = 0;
    for (int i = 0; i + 1 < n; ++i) dot = add_wrap32(dot, x[i] * x[i + 1]);
    ASSERT_EQ(add_wrap32(DotWrap32(x, x + 1, n - 8), DotWrap32Scalar(x + n - 8, x + n - 7, 7)), dot);

    // The gain controls' normalised energy: sum / 8, or at the limit twice the sum of
    // (x >> 2)^2 saturated; normalised with one bit free or none, rounded to 16 bits.
    uint64_t exact40 = 0, quarter = 0;
    for (int i = 0; i < 40; ++i) {
      exact40 += static_cast<uint64_t>(int64_t{x[i]} * x[i]);
      quarter += static_cast<uint64_t>((x[i] >> 2) * (x[i] >> 2));
    }
    const int64_t measure = exact40 < 0x3FFFFFFF ? static_cast<int64_t>(exact40 >> 3)
                                                 : std::min<int64_t>(2 * static_cast<int64_t>(quarter), MAX_32);
    for (int32_t headroom = 0; headroom <= 1; ++headroom) {
      int32_t e = -99;
      const int32_t g = agc_norm_energy(x, headroom, &e);
      int32_t ref_e = 0, ref_g = 0;
      if (measure != 0) {
        ref_e = RefNorm(measure, 0x80000000LL) - headroom;
        const int64_t v = ref_e >= 0 ? measure << ref_e : measure >> 1;
        ref_g = static_cast<int32_t>(std::min<int64_t>((v + 0x8000) >> 16, MAX_16));
      }
      ASSERT_EQ(g, ref_g) << "trial " << trial;
      ASSERT_EQ(e, ref_e) << "trial " << trial;
    }

    rnd.Fill(u, 40);
    const int32_t gx = rnd.Sample(), gu = rnd.Sample(), shift = static_cast<int32_t>(rnd.Below(32));
    int16_t ref[40], scalar[40];
    for (int i = 0; i < 40; ++i) {
      const uint32_t v = (static_cast<uint32_t>(x[i] * gx) + static_cast<uint32_t>(u[i] * gu)) << shift;
      ref[i] = sat16(static_cast<int32_t>(v + 0x4000u) >> 15);
    }
    std::copy_n(x, 40, scalar);
    CombineExcitationScalar(scalar, u, gx, gu, shift, 40);
    Exc_combine(x, u, gx, gu, shift);
    ASSERT_TRUE(std::equal(ref, ref + 40, x)) << "trial " << trial;
    ASSERT_TRUE(std::equal(ref, ref + 40, scalar)) << "trial " << trial;
  }
}

TEST(FastPaths, GainScalingEmphasisDispersionAndTiltMatchPlainForms) {
  Random rnd;
  for (int trial = 0; trial < 20000; ++trial) {
    int16_t x[1 + 40], g[40], total[40], ref[41], fast[41], scalar[41];
    rnd.Fill(x, 41);
    rnd.Fill(total, 40);
    for (int16_t& v : g) v = static_cast<int16_t>(rnd.Below(32768));  // gains of agc: 0..32767

    for (int k = 0; k < 40; ++k) ref[k] = sat16((x[k] * g[k]) >> 12);
    std::copy_n(x, 40, fast);
    std::copy_n(x, 40, scalar);
    ScaleQ12Sat(fast, g, 40);
    ScaleQ12SatScalar(scalar, g, 40);
    ASSERT_TRUE(std::equal(ref, ref + 40, fast)) << "trial " << trial;
    ASSERT_TRUE(std::equal(ref, ref + 40, scalar)) << "trial " << trial;

    const int16_t g0 = rnd.Sample();
    for (int k = 0; k < 40; ++k) ref[k] = wrap16((x[k] * g0) >> 12);
    std::copy_n(x, 40, fast);
    std::copy_n(x, 40, scalar);
    ScaleQ12Wrap(fast, g0, 40);
    ScaleQ12WrapScalar(scalar, g0, 40);
    ASSERT_TRUE(std::equal(ref, ref + 40, fast)) << "trial " << trial;
    ASSERT_TRUE(std::equal(ref, ref + 40, scalar)) << "trial " << trial;

    const int32_t sharp = static_cast<int32_t>(rnd.Below(32768)), gain = rnd.Sample(), s = trial % 2 ? 16 : 15;
    for (int k = 0; k < 40; ++k) {
      const int64_t w = int64_t{(x[k] * sharp) >> 15} * gain;
      ref[k] = sat16(static_cast<int32_t>(total[k] + ((w + (int64_t{1} << (s - 1))) >> s)));
    }
    EmphasisePitch(x, total, fast, sharp, gain, s, 40);
    EmphasisePitchScalar(x, total, scalar, sharp, gain, s, 40);
    ASSERT_TRUE(std::equal(ref, ref + 40, fast)) << "trial " << trial;
    ASSERT_TRUE(std::equal(ref, ref + 40, scalar)) << "trial " << trial;

    // One dispersed pulse added onto the output (both extremes give a 17-bit product).
    const int32_t v = rnd.Sample();
    for (int k = 0; k < 40; ++k) ref[k] = wrap16(total[k] + ((x[k] * v) >> 15));
    std::copy_n(total, 40, fast);
    std::copy_n(total, 40, scalar);
    AddScaledQ15(fast, x, v, 40);
    AddScaledQ15Scalar(scalar, x, v, 40);
    ASSERT_TRUE(std::equal(ref, ref + 40, fast)) << "trial " << trial;
    ASSERT_TRUE(std::equal(ref, ref + 40, scalar)) << "trial " << trial;

    // Tilt compensation on r = x[1..40] with the sample before it given separately.
    const int32_t tilt = static_cast<int32_t>(rnd.Below(32768)), before = rnd.Sample();
    for (int k = 0; k < 40; ++k) ref[1 + k] = wrap16(x[1 + k] - ((tilt * (k ? x[k] : before)) >> 15));
    std::copy_n(x, 41, fast);
    std::copy_n(x, 41, scalar);
    TiltCompensate(fast + 1, tilt, before, 40);
    TiltCompensateScalar(scalar + 1, tilt, before, 40);
    ASSERT_TRUE(std::equal(ref + 1, ref + 41, fast + 1)) << "trial " << trial;
    ASSERT_TRUE(std::equal(ref + 1, ref + 41, scalar + 1)) << "trial " << trial;
    ASSERT_EQ(fast[0], x[0]);  // the sample before the block is not written
  }
}

TEST(FastPaths, OutputHighPassMatchesThePlainRecursion) {
  Random rnd;
  std::vector<uint8_t> block(kDecoderStateSize);
  auto* st = reinterpret_cast<DecoderState*>(block.data());
  ResetDecoder(0, st);
  int32_t x1 = 0, x2 = 0, y1 = 0, y2 = 0;
  for (int frame = 0; frame < 3000; ++frame) {
    int16_t in[160], out[160], ref[160];
    rnd.Fill(in, 160);
    if (frame % 5 == 0) std::fill_n(in, 160, frame % 10 ? MAX_16 : MIN_16);  // drives the clamps
    for (int n = 0; n < 160; ++n) {
      const int32_t t = static_cast<int32_t>((int64_t{y1} * 31672) >> 16) +
                        static_cast<int32_t>((int64_t{y2} * -15334) >> 16) + 7699 * (in[n] - 2 * x1 + x2);
      ref[n] = wrap16(sat16((t + 2048) >> 12) & 0xFFF8);
      x2 = x1, x1 = in[n], y2 = y1, y1 = 4 * std::clamp(t, -0x10000000, 0x0FFFFFFF);
    }
    Post_Process(*st, in, out);
    ASSERT_TRUE(std::equal(ref, ref + 160, out)) << "frame " << frame;
  }
}

}  // namespace
}  // namespace amrnb
