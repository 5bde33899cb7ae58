// The frame's filters, fed subframe by subframe by the core with the excitation (speech) or
// with the samples already synthesized (comfort noise): the synthesis filter, the formant
// post-filter, agc and the output high-pass, in one of two schedules with the same results
// (stages.h has the contract).
//
// The serial schedule is the plain form: each filter over a subframe in turn, one sample after
// the other. The interleaved schedule runs the same filters three subframes deep in shared loops
// and keeps the output stage's chains in registers (output_stage.h); it pays off only with
// kernels that interleave those loops, and differs from the serial one in its order alone.
#include <algorithm>
#include <cstdint>

#include "decoder_state.h"
#include "fixed_point.h"
#include "output_stage.h"
#include "stages.h"
#include "vector_kernels.h"

namespace amrnb {

namespace {

// ---- The serial schedule ----

constexpr int32_t kAgcFactor = 29491;  // 0.9 in Q15: gain smoothing of agc

// agc's gains over one subframe in place: the gain moves from past_gain toward 10 g0 by a
// tenth of the distance per sample. A silent subframe (g0 < 0) passes unscaled, and the gain
// starts again from 0.
void ApplyAgc(DecoderState& st, int32_t g0, int16_t* x) {
  if (g0 < 0) {
    st.past_gain = 0;
    return;
  }
  int32_t gain = st.past_gain;
  for (int n = 0; n < L_SUBFR; ++n) {
    gain = ((gain * kAgcFactor) >> 15) + g0;
    x[n] = sat16((x[n] * gain) >> 12);
  }
  st.past_gain = gain;
}

// The output high-pass over one subframe: 7699/8192 (1 - 2z^-1 + z^-2) / (1 - 31672/16384 z^-1
// + 15334/16384 z^-2), output doubled, saturated and with its three lowest bits cleared. The
// accumulators y1 and y2 hold 4 t of the last two samples, t limited to 29 bits.
void HighPass(DecoderState& st, const int16_t* x, int16_t* y) {
  int32_t x1 = st.x1, x2 = st.x2, y1 = st.y1, y2 = st.y2;
  for (int n = 0; n < L_SUBFR; ++n) {
    int64_t t = ((int64_t{y1} * 31672) >> 16) + ((int64_t{y2} * -15334) >> 16);
    t += 7699 * (x[n] - 2 * x1 + x2);
    y[n] = wrap16(sat16(static_cast<int32_t>((t + 2048) >> 12)) & 0xFFF8);
    x2 = x1;
    x1 = x[n];
    y2 = y1;
    y1 = 4 * static_cast<int32_t>(std::clamp<int64_t>(t, -0x10000000, 0x0FFFFFFF));
  }
  st.x1 = x1, st.x2 = x2, st.y1 = y1, st.y2 = y2;
}

// Subframe k through the synthesis filter (speech frames) and the post-filter.
void SerialSubframe(DecoderScratch& scr, DecoderState& st, int k, const int16_t* excitation) {
  int16_t* const post = scr.pf_out() + k * L_SUBFR;
  if (excitation != nullptr) Syn_filt(scr.A_t + k * M, excitation, scr.synth() + k * L_SUBFR);
  PostFilterResidual(st, scr, k);
  Syn_filt(scr.pf_den[k], post, post);
  PostFilterFinish(st, scr, k);
}

// agc scales the post-filter's output in place, so it runs once the post-filter's synthesis of
// the next subframe has read the unscaled end of this one (its filter memory): at the end of
// the frame, then the output high-pass.
void SerialEnd(DecoderScratch& scr, DecoderState& st, int16_t* out) {
  for (int k = 0; k < 4; ++k) {
    int16_t* const post = scr.pf_out() + k * L_SUBFR;
    ApplyAgc(st, scr.agc_step[k], post);
    HighPass(st, post, out + k * L_SUBFR);
  }
}

// ---- The interleaved schedule ----

// The filters once subframe k is synthesized or its samples are there: three stages of the
// frame's output a subframe apart, the synthesis of subframe k (speech frames), the
// post-filter's synthesis of subframe k - 1 and the output stage's step k - 2 (agc's gains
// and the output high-pass). Each is a chain of dependent steps; run side by side, in the same
// loops, each fills the others' waits.
void FilterSubframe(DecoderScratch& scr, DecoderState& st, int k, const int16_t* excitation, int16_t* out) {
  const int16_t* const A = scr.A_t + k * M;
  int16_t* const speech = scr.synth() + k * L_SUBFR;
  if (k == 0) {
    if (excitation != nullptr) Syn_filt(A, excitation, speech);
  } else {
    int16_t* const r = scr.pf_out() + (k - 1) * L_SUBFR;
    const int j = k - 2;
    if (j < 0) {
      if (excitation != nullptr) {
        kernels::SynthesisFilter2(A, excitation, speech, scr.pf_den[k - 1], r, r, L_SUBFR);
      } else {
        kernels::SynthesisFilter(scr.pf_den[k - 1], r, r, L_SUBFR);
      }
    } else {
      OutputChains chains(scr, j);
      if (excitation != nullptr) {
        kernels::SynthesisFilter2Beside(A, excitation, speech, scr.pf_den[k - 1], r, r, L_SUBFR, chains);
      } else {
        kernels::SynthesisFilterBeside(scr.pf_den[k - 1], r, r, L_SUBFR, chains);
      }
      chains.Store();
      OutputStepEnd(st, scr, j, out);
    }
    PostFilterFinish(st, scr, k - 1);
  }
  PostFilterResidual(st, scr, k);
}

// The post-filter's synthesis of the last subframe beside the output stage's step 2, then its
// last two steps.
void FinishFilters(DecoderScratch& scr, DecoderState& st, int16_t* out) {
  int16_t* const r = scr.pf_out() + 3 * L_SUBFR;
  OutputChains beside(scr, 2);
  kernels::SynthesisFilterBeside(scr.pf_den[3], r, r, L_SUBFR, beside);
  beside.Store();
  OutputStepEnd(st, scr, 2, out);
  PostFilterFinish(st, scr, 3);
  OutputStepsAlone(st, scr, 3, out);
}

}  // namespace

void FrameFiltersBegin(DecoderScratch& scr, DecoderState& st, int32_t mode, Schedule schedule) {
  PostFilterSetup(st, mode, scr);
  if (schedule == Schedule::kInterleaved) OutputBegin(st, scr);
}

void FrameFiltersSubframe(DecoderScratch& scr, DecoderState& st, int k, const int16_t* excitation, int16_t* out,
                          Schedule schedule) {
  if (schedule == Schedule::kInterleaved) {
    FilterSubframe(scr, st, k, excitation, out);
  } else {
    SerialSubframe(scr, st, k, excitation);
  }
}

void FrameFiltersEnd(DecoderScratch& scr, DecoderState& st, int16_t* out, Schedule schedule) {
  if (schedule == Schedule::kInterleaved) {
    FinishFilters(scr, st, out);
  } else {
    SerialEnd(scr, st, out);
  }
}

}  // namespace amrnb
