// The decoder's output stage as the interleaved schedule runs it (frame_filters.cpp): agc's
// gains and scaling of the post-filtered speech, then the output high-pass, which doubles the
// signal and clears the three lowest bits of every sample. The serial schedule has the plain
// form of the same stage, one subframe after the other.
//
// Its two recursions, agc's gain and the high-pass's accumulator, are chains of dependent
// steps (one product, one shift, one addition per sample) that leave the processor waiting.
// They run in steps j = 0..4, the gains of subframe j (j < 4) beside the high-pass of subframe
// j - 1 (j > 0), and a step may be cut into pieces of a few samples, so that the schedule
// can run it inside the loops of the synthesis filters: each chain then fills the others'
// waits. A step needs agc's gain step of subframe j (scr.agc_step) and the zeros of subframe
// j - 1; OutputStepEnd(j) follows step j.
//
// The high-pass is 7699/8192 (1 - 2z^-1 + z^-2) / (1 - 31672/16384 z^-1 + 15334/16384 z^-2),
// output doubled. Its zeros run as a vector pass; its accumulator y = 4 * c is carried as c,
// with the 4 in the constants (4 * 31672 = 126688, 4 * -15334 = -61336). c stays within
// -2^28..2^28-1, so the sum below stays within 31 bits (at most about 0.52e9 + 0.25e9 + 1.01e9
// in magnitude) and never wraps: it is formed in 64 bits, and the recursion needs no conversion
// between widths. The limit on c is a branch off the recursion's path, since it is rarely taken.
#ifndef AMRDEC_OUTPUT_STAGE_H
#define AMRDEC_OUTPUT_STAGE_H

#include <algorithm>
#include <cstdint>

#include "decoder_state.h"

// clang (and so the browser build) leaves a step's pieces as calls, which keep the chains in
// memory instead of registers: there they are forced inline (1% faster natively, 1 to 4% in the
// browser). GCC inlines them by itself, and forcing it there costs instructions.
#if defined(__clang__)
#define AMRDEC_INLINE_FOR_CLANG __attribute__((always_inline))
#else
#define AMRDEC_INLINE_FOR_CLANG
#endif

namespace amrnb {

// The state's gain and high-pass memory become the stage's start.
void OutputBegin(const DecoderState& st, DecoderScratch& scr);
// What follows step j: the rounded output of subframe j - 1 into out[(j-1)*40..], then
// subframe j scaled in place in scr.pf_out() and its high-pass zeros into scr.out_z. Subframe
// j of the post-filter output must be final (its memory and agc's gain step taken).
void OutputStepEnd(const DecoderState& st, DecoderScratch& scr, int j, int16_t* out);
// The memories back to the state.
void OutputEnd(DecoderState& st, const DecoderScratch& scr);
// Steps first..4, each whole and with nothing beside it, then OutputEnd.
void OutputStepsAlone(DecoderState& st, DecoderScratch& scr, int first, int16_t* out);

// Step j of the stage, run in pieces: the constructor takes the chains from scr, each call
// runs samples [begin, end) of the step (in order, covering 0..39), and Store puts the chains
// back. The chains stay in registers while the pieces run beside a filter. (No destructor:
// one would make the library's objects need the C++ runtime's unwinding support.)
class OutputChains {
 public:
  OutputChains(DecoderScratch& scr, int j)
      : scr_(scr), gain_(scr.out_gain), c1_(scr.out_c1), c2_(scr.out_c2), gains_(scr.out_gains), t_(scr.out_z) {
    const bool high_pass = j > 0;
    bool gain_chain = j < 4;
    g0_ = gain_chain ? scr.agc_step[j] : 0;
    if (gain_chain && g0_ < 0) {
      // A silent subframe passes unscaled, and the gain starts again from 0.
      std::fill_n(gains_, L_SUBFR, int16_t{4096});
      gain_ = 0;
      gain_chain = false;
    }
    work_ = (gain_chain ? kGain : 0) | (high_pass ? kHighPass : 0);
  }
  OutputChains(const OutputChains&) = delete;
  OutputChains& operator=(const OutputChains&) = delete;
  void Store() const {
    scr_.out_gain = gain_;
    scr_.out_c1 = static_cast<int32_t>(c1_);
    scr_.out_c2 = static_cast<int32_t>(c2_);
  }

  AMRDEC_INLINE_FOR_CLANG void operator()(int begin, int end) {
    switch (work_) {
      case kGain | kHighPass: Run<true, true>(begin, end); break;
      case kGain: Run<true, false>(begin, end); break;
      case kHighPass: Run<false, true>(begin, end); break;
      default: break;
    }
  }

 private:
  static constexpr int kGain = 1, kHighPass = 2;
  static constexpr int32_t kAgcFactor = 29491;  // 0.9 in Q15: gain smoothing of agc

  template <bool kWithGain, bool kWithHighPass>
  AMRDEC_INLINE_FOR_CLANG void Run(int begin, int end) {
    int32_t gain = gain_;  // Q12, within 0..32767: g0 is at most 3275
    int64_t c1 = c1_, c2 = c2_;
    for (int n = begin; n < end; ++n) {
      if constexpr (kWithGain) {
        gain = ((gain * kAgcFactor) >> 15) + g0_;
        gains_[n] = static_cast<int16_t>(gain);
      }
      if constexpr (kWithHighPass) {
        int64_t v = ((c1 * 126688) >> 16) + (((c2 * -61336) >> 16) + t_[n]);
        t_[n] = static_cast<int32_t>(v);
        if (static_cast<uint64_t>(v + 0x10000000) > 0x1FFFFFFFu) [[unlikely]] v = std::clamp<int64_t>(v, -0x10000000, 0x0FFFFFFF);
        c2 = c1;
        c1 = v;
      }
    }
    gain_ = gain;
    c1_ = c1;
    c2_ = c2;
  }

  DecoderScratch& scr_;
  int32_t gain_;
  int64_t c1_, c2_;
  int16_t* const gains_;
  int32_t* const t_;
  int32_t g0_;
  int work_;
};

}  // namespace amrnb

#endif  // AMRDEC_OUTPUT_STAGE_H
