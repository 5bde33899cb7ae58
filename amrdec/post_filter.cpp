// Formant post-filter with tilt compensation and gain control, and the output high-pass.
//
// Post_Filter shapes each 40-sample subframe of synthesized speech by A(z/g_num) / A(z/g_den),
// compensates the spectral tilt that this adds, and scales the result back toward the energy
// of the unfiltered speech. Post_Process then removes the DC with a second-order high-pass,
// doubles the signal and clears the three lowest bits of every output sample.
#include <algorithm>
#include <cassert>
#include <cstdint>

#include "decoder_state.h"
#include "fixed_point.h"
#include "stages.h"
#include "tables/tables.h"
#include "vector_kernels.h"

namespace amrnb {

namespace {

constexpr int L_IMPULSE = 22;          // samples of the impulse response used for the tilt
constexpr int32_t kAgcFactor = 29491;  // 0.9 in Q15: gain smoothing of agc

// Coefficients a[i] * gamma[i] with rounding, kept as 16 bits.
void WeightCoefficients(const int16_t* a, const int16_t* gamma, int16_t* out) {
  for (int i = 0; i < M; ++i) out[i] = wrap16((a[i] * gamma[i] + 16384) >> 15);
}

// Impulse responses are filtered in buffers with room for whole blocks of four: zero memory
// before the 22 samples, two more outputs after them (cleared once filtered, so that the
// sums run over 24 samples) and one more zero for the lagged product.
constexpr int kResponseBuf = M + 32;
constexpr int kResponseLen = 24;

// The tilt factor from a filtered impulse response g[0..21] followed by zeros.
int32_t TiltFromResponse(const int16_t* g) {
  // Energy of outputs 1..21: the sum of all squares, wrapping as an unsigned 32-bit value,
  // less g[0]^2 = 4096^2.
  const uint32_t all = static_cast<uint32_t>(kernels::DotWrap32(g, g, kResponseLen));
  const uint32_t energy = std::min<uint32_t>(all - 16777216u, 0x3FFFFFFF);
  const int32_t r0 = std::min((static_cast<int32_t>(energy) + 16777216 /* g[0]^2 */) >> 15, MAX_16);
  const int32_t corr = kernels::DotWrap32(g, g + 1, kResponseLen);  // g[22..24] are zero
  const int32_t r1 = std::min(corr >> 15, MAX_16);

  if (r1 <= 0) return 0;
  return div_s((r1 * 26214 /* 0.8 in Q15 */) >> 15, r0);
}

}  // namespace

// Tilt_factor of the four subframes at once: the four response filters run side by side.
void Tilt_factors(const int16_t (*num)[M], const int16_t (*den)[M], int32_t* tilt) {
  alignas(16) int16_t buf[4][kResponseBuf] = {};
  const int16_t* a[4];
  const int16_t* x[4];
  int16_t* y[4];
  for (int k = 0; k < 4; ++k) {
    int16_t* g = buf[k] + M;
    g[0] = 4096;  // 1.0 in Q12
    std::copy_n(num[k], M, g + 1);
    a[k] = den[k];
    x[k] = g;
    y[k] = g;
  }
  kernels::SynthesisFilter4(a, x, y, kResponseLen);
  for (int k = 0; k < 4; ++k) {
    int16_t* g = buf[k] + M;
    g[L_IMPULSE] = g[L_IMPULSE + 1] = 0;
    tilt[k] = TiltFromResponse(g);
  }
}

int32_t AgcStep(const int16_t* sig_in, const int16_t* sig_out) {
  int32_t exp_out = 0;
  const int32_t gain_out = agc_norm_energy(sig_out, 1, &exp_out);
  if (gain_out == 0) return -1;

  // g0 = 0.1 * sqrt(energy in / energy out): the per-sample step toward the target gain.
  int32_t exp_in = 0;
  const int32_t gain_in = agc_norm_energy(sig_in, 0, &exp_in);
  if (gain_in == 0) return 0;
  const int32_t q = div_s(gain_out, gain_in);
  const int32_t sh = 7 + exp_in - exp_out;
  int32_t z;
  if (sh > 0) {
    if (sh > 31) {
      z = q == 0 ? 0 : MAX_32;
    } else {
      // The shift wraps; a result that reads negative has lost its top bits: the maximum.
      z = shl_wrap32(q, sh);
      if (z < 0) z = MAX_32;
    }
  } else {
    z = shr_full(q, -sh);
  }
  // A quiet output against a loud reference asks for a gain far beyond 16 bits.
  const int32_t g = gain16_or_max((Inv_sqrt(z) + 64) >> 7);
  return (g * 3276 /* 1 - 0.9 in Q15 */) >> 15;
}

void agc(DecoderState& st, const int16_t* sig_in, int16_t* sig_out) {
  const int32_t g0 = AgcStep(sig_in, sig_out);
  if (g0 < 0) {
    st.past_gain = 0;
    return;
  }
  int32_t gain = st.past_gain;  // Q12
  assert(gain >= 0 && gain <= MAX_16);
  for (int n = 0; n < L_SUBFR; ++n) {
    gain = ((gain * kAgcFactor) >> 15) + g0;
    sig_out[n] = sat16((sig_out[n] * gain) >> 12);
  }
  st.past_gain = gain;
}

void Post_Filter(DecoderState& st, int32_t mode, DecoderScratch& scr) {
  const bool high_rate = mode == MR122 || mode == MR102;
  const int16_t* gamma_num = high_rate ? gamma3_MR122 : gamma3;
  const int16_t* gamma_den = high_rate ? gamma4_MR122 : gamma4;

  const int16_t* speech = scr.synth();
  int16_t* out = scr.pf_out();
  std::copy_n(st.mem_syn_pst, M, out - M);

  int16_t num[4][M], den[4][M];
  for (int k = 0; k < 4; ++k) {
    WeightCoefficients(scr.A_t + k * M, gamma_num, num[k]);
    WeightCoefficients(scr.A_t + k * M, gamma_den, den[k]);
  }
  // The tilt of each subframe depends on its coefficients alone (the impulse response of
  // num / den, as Tilt_factor forms it), so all four are found first.
  int32_t tilt[4];
  Tilt_factors(num, den, tilt);

  for (int k = 0; k < 4; ++k) {
    int16_t* r = out + k * L_SUBFR;
    Residu(num[k], speech + k * L_SUBFR, r);

    // First-order tilt compensation 1 - tilt z^-1 on the unchanged residual.
    const int16_t last = r[L_SUBFR - 1];
    kernels::TiltCompensate(r, tilt[k], st.mem_pre, L_SUBFR);
    st.mem_pre = last;

    Syn_filt(den[k], r, r);
  }
  std::copy_n(out + L_FRAME - M, M, st.mem_syn_pst);

  for (int k = 0; k < 4; ++k) scr.agc_step[k] = AgcStep(speech + k * L_SUBFR, out + k * L_SUBFR);
}

void Post_Process(DecoderState& st, DecoderScratch& scr, int16_t* out) {
  // The high-pass is 7699/8192 (1 - 2z^-1 + z^-2) / (1 - 31672/16384 z^-1 + 15334/16384 z^-2),
  // output doubled. Its accumulator y = 4 * c is carried as c, with the 4 in the constants
  // (4 * 31672 = 126688, 4 * -15334 = -61336); the stored accumulators are such multiples of 4.
  // The limit on c is a branch off the recursion's path, since it is rarely taken.
  assert(st.y1 % 4 == 0 && st.y2 % 4 == 0);
  int64_t c1 = st.y1 / 4, c2 = st.y2 / 4;
  int32_t x1 = st.x1, x2 = st.x2;
  auto limit = [](int32_t v) {
    if (static_cast<uint32_t>(v) + 0x10000000u > 0x1FFFFFFFu) [[unlikely]] v = std::clamp(v, -0x10000000, 0x0FFFFFFF);
    return int64_t{v};
  };
  // One sample of the high-pass: x in, the unrounded output t back; the state moves on.
  auto high_pass = [&](int32_t x) {
    const int32_t z = 7699 * (x - 2 * x1 + x2);
    x2 = x1;
    x1 = x;
    const int32_t t = static_cast<int32_t>(static_cast<uint32_t>(((c1 * 126688) >> 16) + (((c2 * -61336) >> 16) + z)));
    c2 = c1;
    c1 = limit(t);
    return t;
  };

  // agc's gain recursion and the high-pass recursion are two chains of dependent steps, one
  // product, one shift and one addition per sample each; run side by side in one loop, each
  // waits while the other works. The scaled samples stay in the post-filter output.
  int16_t* pf = scr.pf_out();
  alignas(16) int32_t t[L_FRAME];
  int32_t gain = st.past_gain;  // Q12, within 0..32767 (g0 is at most 3275)
  assert(gain >= 0 && gain <= MAX_16);
  for (int k = 0; k < 4; ++k) {
    const int32_t g0 = scr.agc_step[k];
    int16_t* x = pf + k * L_SUBFR;
    int32_t* tk = t + k * L_SUBFR;
    if (g0 < 0) {
      // A silent subframe passes unscaled, and the gain starts again from 0.
      for (int n = 0; n < L_SUBFR; ++n) tk[n] = high_pass(x[n]);
      gain = 0;
      continue;
    }
#pragma GCC unroll 4
    for (int n = 0; n < L_SUBFR; ++n) {
      gain = ((gain * kAgcFactor) >> 15) + g0;
      const int16_t v = sat16((x[n] * gain) >> 12);
      x[n] = v;
      tk[n] = high_pass(v);
    }
  }
  st.past_gain = gain;
  kernels::RoundToOutput(t, out, L_FRAME);
  st.x2 = x2;
  st.x1 = x1;
  st.y2 = static_cast<int32_t>(4 * c2);
  st.y1 = static_cast<int32_t>(4 * c1);
}

}  // namespace amrnb
