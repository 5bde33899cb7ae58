// Formant post-filter with tilt compensation and gain control, and the output stage's pieces.
//
// The post-filter shapes each 40-sample subframe of synthesized speech by A(z/g_num) / A(z/g_den),
// compensates the spectral tilt that this adds, and finds agc's step toward the energy of the
// unfiltered speech. The output stage then scales the result with agc's gains, removes the DC
// with a second-order high-pass, doubles the signal and clears the three lowest bits of every
// output sample. The pieces here run in the order of either schedule of frame_filters.cpp.
#include <algorithm>
#include <cassert>
#include <cstdint>

#include "decoder_state.h"
#include "fixed_point.h"
#include "output_stage.h"
#include "stages.h"
#include "tables/tables.h"
#include "vector_kernels.h"

namespace amrnb {

namespace {

constexpr int L_IMPULSE = 22;          // samples of the impulse response used for the tilt

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
void TiltFactors(const int16_t (*num)[M], const int16_t (*den)[M], int32_t* tilt) {
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
  const int32_t gain_out = AgcNormEnergy(sig_out, 1, &exp_out);
  if (gain_out == 0) return -1;

  // g0 = 0.1 * sqrt(energy in / energy out): the per-sample step toward the target gain.
  int32_t exp_in = 0;
  const int32_t gain_in = AgcNormEnergy(sig_in, 0, &exp_in);
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

void PostFilterSetup(DecoderState& st, int32_t mode, DecoderScratch& scr) {
  const bool high_rate = mode == MR122 || mode == MR102;
  const int16_t* gamma_num = high_rate ? gamma3_MR122 : gamma3;
  const int16_t* gamma_den = high_rate ? gamma4_MR122 : gamma4;
  std::copy_n(st.mem_syn_pst, M, scr.pf_out() - M);
  for (int k = 0; k < 4; ++k) {
    WeightCoefficients(scr.A_t + k * M, gamma_num, scr.pf_num[k]);
    WeightCoefficients(scr.A_t + k * M, gamma_den, scr.pf_den[k]);
  }
  // The tilt of each subframe depends on its coefficients alone (the impulse response of
  // num / den, as Tilt_factor forms it), so all four are found first.
  TiltFactors(scr.pf_num, scr.pf_den, scr.pf_tilt);
}

void PostFilterResidual(DecoderState& st, DecoderScratch& scr, int k) {
  int16_t* r = scr.pf_out() + k * L_SUBFR;
  Residu(scr.pf_num[k], scr.synth() + k * L_SUBFR, r);
  // First-order tilt compensation 1 - tilt z^-1 on the unchanged residual.
  const int16_t last = r[L_SUBFR - 1];
  kernels::TiltCompensate(r, scr.pf_tilt[k], st.mem_pre, L_SUBFR);
  st.mem_pre = last;
}

void PostFilterFinish(DecoderState& st, DecoderScratch& scr, int k) {
  const int16_t* out = scr.pf_out() + k * L_SUBFR;
  scr.agc_step[k] = AgcStep(scr.synth() + k * L_SUBFR, out);
  if (k == 3) std::copy_n(out + L_SUBFR - M, M, st.mem_syn_pst);
}

void OutputBegin(const DecoderState& st, DecoderScratch& scr) {
  assert(st.past_gain >= 0 && st.past_gain <= MAX_16);
  assert(st.y1 % 4 == 0 && st.y2 % 4 == 0);  // the stored accumulators are 4 * c
  scr.out_gain = st.past_gain;
  scr.out_c1 = st.y1 / 4;
  scr.out_c2 = st.y2 / 4;
}

void OutputStepEnd(const DecoderState& st, DecoderScratch& scr, int j, int16_t* out) {
  if (j > 0) kernels::RoundToOutput(scr.out_z, out + (j - 1) * L_SUBFR, L_SUBFR);
  if (j < 4) {
    int16_t* const x = scr.pf_out() + j * L_SUBFR;
    if (j == 0) {
      // The high-pass's two earlier inputs stand before the frame, where the post-filter's
      // memory was (used and saved by now).
      x[-2] = wrap16(st.x2);
      x[-1] = wrap16(st.x1);
    }
    kernels::ScaleQ12Sat(x, scr.out_gains, L_SUBFR);
    kernels::HighPassZeros(x, scr.out_z, L_SUBFR);
  }
}

void OutputEnd(DecoderState& st, const DecoderScratch& scr) {
  st.past_gain = scr.out_gain;
  st.x2 = scr.pf_out()[L_FRAME - 2];
  st.x1 = scr.pf_out()[L_FRAME - 1];
  st.y2 = 4 * scr.out_c2;
  st.y1 = 4 * scr.out_c1;
}

void OutputStepsAlone(DecoderState& st, DecoderScratch& scr, int first, int16_t* out) {
  for (int j = first; j <= 4; ++j) {
    OutputChains chains(scr, j);
    chains(0, L_SUBFR);
    chains.Store();
    OutputStepEnd(st, scr, j, out);
  }
  OutputEnd(st, scr);
}

}  // namespace amrnb
