// The decoder's fast routines against plain forms: the build's kernels against the scalar
// reference kernels, and the primitives and stage routines that are computed differently from
// the plain formula (division, normalisation, the adaptive codebook's block path, the tilt
// factor), over whole input ranges or dense random samples that include the extremes. A build with AMRCONV_SIMD=OFF compares the scalar
// kernels with themselves; its conformance test checks them against the reference output.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <vector>

#include "amrdec/fixed_point.h"
#include "amrdec/stages.h"
#include "amrdec/tables/tables.h"
#include "amrdec/vector_kernels.h"

namespace amrnb {
namespace {

int32_t RefDivS(int32_t num, int32_t den) {  // the restoring steps, one quotient bit each
  if (num >= den) return MAX_16;
  int64_t rem = num;
  int32_t quot = 0;
  for (int i = 0; i < 15; ++i) {
    rem <<= 1;
    quot <<= 1;
    if (rem >= den) rem -= den, quot += 1;
  }
  return quot;
}

int32_t RefNorm(int64_t v) {  // shifts that bring v (>= 0) to at least 2^30
  if (v == 0) return 31;
  int32_t n = 0;
  while (v < 0x40000000) v <<= 1, ++n;
  return n;
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
  int32_t Below(uint32_t n) { return static_cast<int32_t>(gen_() % n); }

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
    const int32_t x = static_cast<int32_t>(gen() >> (gen() % 32));
    const int32_t v = i % 2 ? -x : x;
    ASSERT_EQ(norm_l(v), RefNorm(v < 0 ? ~int64_t{v} : v)) << v;
  }
  // norm_s counts leading zeros; the plain form shifts until 0x4000 is reached.
  for (int32_t x = MIN_16; x <= MAX_16; ++x) {
    int32_t plain = 0;
    for (int32_t v = x < 0 ? ~x : x; v != 0 && v < 0x4000; v <<= 1) ++plain;
    ASSERT_EQ(norm_s(x), plain) << x;
  }
}

int32_t RefNormS(int64_t v) {  // norm_s of a value (>= 0) that may lie beyond 16 bits
  if (v == 0) return 0;
  int32_t n = 0;
  for (; v < 0x4000; v <<= 1) ++n;
  for (; v > 0x7FFF; v >>= 1) --n;
  return n;
}

TEST(FastPaths, LsfDistanceMatchesTheNormalisedDivisionSteps) {
  std::mt19937 gen(5);
  for (int trial = 0; trial < 300000; ++trial) {
    // LSF-like vectors whose distance stays below saturation; then one element, in most
    // trials, at an edge of the direct form: a distance near twice a small mean, near 0x3FFF,
    // or zero, a mean of zero, below zero or beyond 16 bits, or a distance of 2 to 4 means.
    int32_t lsf[M], mean[M];
    int64_t plain = 0;
    const int edge = static_cast<int>(gen() % M);
    for (int i = 0; i < M; ++i) {
      mean[i] = 200 + static_cast<int32_t>(gen() % 16000);
      int32_t d = static_cast<int32_t>(gen() % static_cast<uint32_t>(mean[i] / 8 + 1));
      if (i == edge) {
        const int32_t near = static_cast<int32_t>(gen() % 5) - 2;
        switch (trial % 7) {
          case 0: mean[i] = 1 + static_cast<int32_t>(gen() % 64), d = 2 * mean[i] + near; break;
          case 1: mean[i] = 8192 + static_cast<int32_t>(gen() % 24576), d = 0x3FFF + near; break;
          case 2: d = 0; break;
          case 3: mean[i] = static_cast<int32_t>(gen() % 3) == 0 ? 0 : -static_cast<int32_t>(gen() % 40000); break;
          case 4: mean[i] = MAX_16 + static_cast<int32_t>(gen() % 100000); break;
          case 5: mean[i] = 1 + static_cast<int32_t>(gen() % 40), d = static_cast<int32_t>(gen() % (4 * mean[i] + 1)); break;
          default: break;  // the direct form throughout
        }
      }
      lsf[i] = gen() % 2 ? mean[i] - d : mean[i] + d;
      // The steps: |mean - lsf| (saturated) and the mean normalised, divided, shifted back.
      int64_t dd = std::min<int64_t>(std::abs(static_cast<int64_t>(mean[i]) - lsf[i]), MAX_32);
      const int32_t s1 = dd == 0 ? 0 : std::max(RefNormS(dd) - 1, -1);
      dd = s1 >= 0 ? dd << s1 : dd >> 1;
      const int32_t m16 = std::clamp(mean[i], MIN_16, MAX_16);
      const int32_t s2 = RefNormS(m16 < 0 ? ~m16 : m16);
      const int64_t t = static_cast<int64_t>(mean[i]) << s2;
      const int32_t q = t > 0 ? RefDivS(static_cast<int32_t>(dd), static_cast<int32_t>(t)) : MAX_16;
      const int32_t k = s1 - s2 + 2;
      plain += k >= 0 ? q >> k : static_cast<int64_t>(q) << -k;
    }
    ASSERT_EQ(LsfMeanDistance(lsf, mean), sat16_64(plain)) << "trial " << trial;
  }
}

TEST(FastPaths, MediansOfFiveAndNineMatchTheRoundsOfLargestRemoval) {
  std::mt19937 gen(11);
  for (int i = 0; i < 300000; ++i) {
    const int32_t n = i % 2 ? 9 : 5;
    int32_t x[9];
    // Few distinct values (ties), wide ones, and now and then one below -32767, where the
    // removal rounds no longer give the middle value.
    for (int32_t& v : x) v = i % 3 ? static_cast<int32_t>(gen() % 7) - 3 : static_cast<int32_t>(gen() % 131072) - 65536;
    int32_t work[9];
    std::copy_n(x, n, work);
    int32_t plain = 0;
    for (int round = 0; round < (n + 1) / 2; ++round) {
      int32_t ix = 0;
      for (int32_t j = 0, max = -32767; j < n; ++j) if (work[j] >= max) max = work[j], ix = j;
      plain = work[ix];
      work[ix] = MIN_16;
    }
    ASSERT_EQ(MedianOf(x, n), plain) << "trial " << i;
  }
}

// Runs a kernel on copies of `in` through the build's set and the scalar set; the results
// must be equal, the samples around the written ones included.
template <typename Fast, typename Plain>
void ExpectSame(const std::vector<int16_t>& in, Fast fast, Plain plain, int trial, const char* name) {
  std::vector<int16_t> a = in, b = in;
  fast(a.data());
  plain(b.data());
  ASSERT_EQ(a, b) << name << ", trial " << trial;
}

TEST(FastPaths, KernelsMatchTheScalarReferenceKernels) {
  Random rnd;
  for (int trial = 0; trial < 20000; ++trial) {
    // A buffer of 10 history samples, 160 samples and 8 more: coefficients and gains drawn
    // from the decoder's ranges most of the time, any 16-bit values otherwise.
    std::vector<int16_t> buf(10 + 160 + 8), other(10 + 160 + 8);
    rnd.Fill(buf.data(), static_cast<int>(buf.size()));
    rnd.Fill(other.data(), static_cast<int>(other.size()));
    if (trial % 2) for (int16_t& v : buf) v = static_cast<int16_t>(v / 64);  // sums below their limits
    int16_t coef[40];  // four coefficient sets, or 20 interpolation taps
    for (int16_t& c : coef) c = trial % 4 ? static_cast<int16_t>(rnd.Below(16385) - 8192) : rnd.Sample();
    const int16_t* a[4] = {coef, coef + 10, coef + 20, coef + 30};
    const int16_t* x = other.data() + 10;
    const int n = trial % 3 ? 40 : 24;
    const int32_t g = rnd.Sample(), g2 = rnd.Sample(), q15 = rnd.Below(32768), s = rnd.Below(32);

// The same call through the build's kernels and the scalar ones, on copies of buf.
#define SAME(name, ...)                                                                   \
  ExpectSame(buf, [&](int16_t* b) { kernels::__VA_ARGS__; }, [&](int16_t* b) { scalar::__VA_ARGS__; }, \
             trial, name)
    SAME("synthesis", SynthesisFilter(a[0], x, b + 10, n));
    SAME("in place", SynthesisFilter(a[0], b + 10, b + 10, n));
    SAME("two filters", SynthesisFilter2(a[0], x, b + 10, a[1], b + 70, b + 70, 40));
    const int16_t* xs[4] = {x, x + 40, x + 80, x + 120};  // four filters on four slices
    SAME("four filters", SynthesisFilter4(a, xs, std::array<int16_t*, 4>{b + 10, b + 50, b + 90, b + 130}.data(), 24));
    SAME("residual", ResidualFilter(a[0], x, b + 10, 40));
    SAME("interpolation", InterpolateBlock(coef, x, b + 10, 40));
    SAME("combination", CombineExcitation(b + 10, x, g, g2, s, 40));
    SAME("emphasis", EmphasisePitch(x, x + 40, b + 10, q15, g, 15 + trial % 2, 40));
    int16_t pulses[40];  // an innovation: a few pulses, now and then none, any 16-bit values
    for (int16_t& v : pulses) v = rnd.Below(trial % 5 ? 6 : 80) == 0 ? rnd.Sample() : 0;
    SAME("dispersion", CircularConvolveQ15(pulses, x, b + 10, n));
    SAME("agc2 scaling", ScaleQ12Wrap(b + 10, static_cast<int16_t>(g), 40));
    for (int16_t& v : other) v = static_cast<int16_t>(v & 0x7FFF);  // the gains of agc: 0..32767
    SAME("agc scaling", ScaleQ12Sat(b + 10, x, 40));
    SAME("tilt", TiltCompensate(b + 10, q15, g, 40));
    int32_t zf[160], zs[160];
    kernels::HighPassZeros(buf.data() + 10, zf, 160);
    scalar::HighPassZeros(buf.data() + 10, zs, 160);
    ASSERT_TRUE(std::equal(zf, zf + 160, zs)) << "high-pass zeros, trial " << trial;
    for (int i = 0; i < 160; ++i) zf[i] = zs[i] = mul_wrap32(zs[i], 1 + trial % 16);  // wider sums too
    ExpectSame(buf, [&](int16_t* b) { kernels::RoundToOutput(zf, b + 10, 160); },
               [&](int16_t* b) { scalar::RoundToOutput(zs, b + 10, 160); }, trial, "output rounding");
#undef SAME
    ASSERT_EQ(kernels::SumSquares(buf.data(), 160), scalar::SumSquares(buf.data(), 160)) << trial;
    ASSERT_EQ(kernels::DotWrap32(buf.data(), buf.data() + 1, 160), scalar::DotWrap32(buf.data(), buf.data() + 1, 160))
        << trial;
  }
}

TEST(FastPaths, AdaptiveCodebookMatchesPlainInterpolationForEveryLagAndPhase) {
  Random rnd;
  for (int32_t T0 = 17; T0 <= 144; ++T0) {
    for (int32_t frac = -2; frac <= 3; ++frac) {
      for (int32_t flag3 = 0; flag3 <= 1; ++flag3) {
        if (flag3 && frac > 1) continue;
        std::vector<int16_t> buf(154 + 40 + 8);
        rnd.Fill(buf.data(), 154);
        std::vector<int16_t> ref = buf;
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
      }
    }
  }
}

// Tilt_factor as the standard states it for one filter pair: filter h = (4096, num) through
// den over 22 samples, then the energy and lag-one correlation of the response.
int32_t PlainTiltFactor(const int16_t* num, const int16_t* den) {
  int16_t h[10 + 24] = {};
  h[10] = 4096;
  std::copy_n(num, 10, h + 11);
  scalar::SynthesisFilter(den, h + 10, h + 10, 22);
  uint32_t e = 0;
  int32_t cr = 0;
  for (int i = 1; i < 22; ++i) e += static_cast<uint32_t>(h[10 + i] * h[10 + i]);
  for (int i = 0; i < 21; ++i) cr = add_wrap32(cr, h[10 + i] * h[11 + i]);
  const int32_t r0 = std::min((static_cast<int32_t>(std::min(e, 0x3FFFFFFFu)) + 16777216) >> 15, MAX_16);
  const int32_t r1 = std::min(cr >> 15, MAX_16);
  return r1 <= 0 ? 0 : RefDivS((r1 * 26214) >> 15, r0);
}

TEST(FastPaths, TiltFactorsOfFourSubframesMatchThePlainForm) {
  Random rnd;
  for (int trial = 0; trial < 5000; ++trial) {
    int16_t num[4][M], den[4][M];
    for (int k = 0; k < 4; ++k) {
      rnd.Fill(num[k], M);
      for (int16_t& c : den[k]) c = trial % 4 ? static_cast<int16_t>(rnd.Below(16385) - 8192) : rnd.Sample();
    }
    int32_t tilt[4];
    TiltFactors(num, den, tilt);
    for (int k = 0; k < 4; ++k) ASSERT_EQ(tilt[k], PlainTiltFactor(num[k], den[k])) << "trial " << trial;
  }
}

}  // namespace
}  // namespace amrnb
