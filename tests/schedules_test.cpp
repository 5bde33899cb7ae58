// The frame filters' two schedules (stages.h) against each other: the plain serial schedule is
// the reference for the interleaved one. Both run on the same input in one process, and the
// output, the synthesized and post-filtered frames and the whole decoder state must agree
// after every frame: on every conformance stream, on random frames, and on filter inputs drawn
// to reach the extremes (saturating synthesis, agc's silent and largest gains, the high-pass
// accumulator at its limits).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "amrnb_decoder.h"
#include "decoder_state.h"
#include "fixed_point.h"
#include "stages.h"
#include "test_util.h"
#include "trace.h"

namespace {

using namespace amrnb;
using testutil::Bytes;

// One decoder's blocks; both of a pair start from the same garbage and the same reset.
struct Blocks {
  DecoderState st;
  DecoderScratch scr;
  int16_t out[L_FRAME];
};

// What differs between the two blocks after a frame, empty when nothing: the output, the two
// frames the contract writes, then the first byte of the state (offsetof tells its field).
std::string Difference(const Blocks& a, const Blocks& b) {
  auto first = [](const int16_t* x, const int16_t* y, int n) {
    return static_cast<int>(std::mismatch(x, x + n, y).first - x);
  };
  if (int i = first(a.out, b.out, L_FRAME); i < L_FRAME) {
    return "output sample " + std::to_string(i) + ": " + std::to_string(a.out[i]) + " / " + std::to_string(b.out[i]);
  }
  if (int i = first(a.scr.synth(), b.scr.synth(), L_FRAME); i < L_FRAME) return "synth sample " + std::to_string(i);
  if (int i = first(a.scr.pf_out(), b.scr.pf_out(), L_FRAME); i < L_FRAME) return "post-filtered sample " + std::to_string(i);
  const auto* x = reinterpret_cast<const unsigned char*>(&a.st);
  const auto* y = reinterpret_cast<const unsigned char*>(&b.st);
  const size_t at = static_cast<size_t>(std::mismatch(x, x + sizeof a.st, y).first - x);
  return at < sizeof a.st ? "state byte " + std::to_string(at) : "";
}

// Two decoders fed the same frames, one per schedule.
class Pair {
 public:
  Pair() {
    std::memset(&serial_, 0xA5, sizeof serial_);
    ResetDecoder(MR475, &serial_.st);
    interleaved_ = serial_;
  }
  // Decodes one frame both ways; the text of what differs afterwards, empty when nothing.
  std::string Decode(const Bytes& frame, int32_t layout = AMRNB_LAYOUT_STORAGE) {
    Bytes a = frame, b = frame;  // the unpacker may change the bytes
    DecodeFrameScheduled(a.data(), &serial_.st, &serial_.scr, serial_.out, layout, nullptr, Schedule::kSerial);
    DecodeFrameScheduled(b.data(), &interleaved_.st, &interleaved_.scr, interleaved_.out, layout, nullptr,
                         Schedule::kInterleaved);
    return Difference(serial_, interleaved_);
  }

 private:
  Blocks serial_, interleaved_;
};

TEST(Schedules, AgreeOnEveryConformanceStream) {
  int streams = 0;
  for (const auto& entry : std::filesystem::directory_iterator(std::string(AMRCONV_TEST_DATA_DIR) + "/conformance")) {
    const std::string path = entry.path().string();
    if (entry.path().extension() != ".wav" || path.ends_with(".out.wav")) continue;
    const std::vector<Bytes> frames = testutil::WaveFrames(path);
    ASSERT_FALSE(frames.empty()) << path;
    Pair pair;
    for (size_t n = 0; n < frames.size(); ++n) ASSERT_EQ(pair.Decode(frames[n]), "") << path << " frame " << n;
    ++streams;
  }
  EXPECT_GE(streams, 15);
}

// Random payloads in every frame type, with damaged, lost, SID and no-data frames between
// them: random parameters reach gains and filters that speech seldom does, and homing frames
// of every mode reset both decoders alike.
TEST(Schedules, AgreeOnRandomFramesOfEveryType) {
  std::mt19937 gen(2201);
  Pair pair;
  for (int n = 0; n < 6000; ++n) {
    const uint32_t pick = gen() % 32;
    const int type = pick < 22 ? static_cast<int>(gen() % 8) : pick < 26 ? 8 : pick < 29 ? 15 : 9 + static_cast<int>(gen() % 6);
    Bytes frame = testutil::Frame(type);
    for (size_t i = 1; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(gen());
    if (gen() % 16 == 0) frame[0] &= static_cast<uint8_t>(~4);  // quality bit off: a damaged frame
    if (n % 500 == 499 && type < 8) {
      // All-ones payloads: the largest indices, whose gains saturate the synthesis.
      std::fill(frame.begin() + 1, frame.end(), uint8_t{0xFF});
    }
    ASSERT_EQ(pair.Decode(frame), "") << "frame " << n << " type " << type;
  }
}

// The filters alone, on inputs no bitstream gives so readily: filter coefficients that are
// unstable or zero, full-scale and silent excitations and comfort-noise samples, agc's gain and
// the high-pass accumulators anywhere in their ranges, at their bounds too.
class ExtremeInputs {
 public:
  int16_t Sample() {
    switch (gen_() % 6) {
      case 0: return MAX_16;
      case 1: return MIN_16;
      case 2: return static_cast<int16_t>(gen_());
      case 3: return 0;
      default: return static_cast<int16_t>(static_cast<int32_t>(gen_() % 2001) - 1000);
    }
  }
  // A subframe of one kind: silent, full scale alternating, a single pulse, small, or mixed.
  void Signal(int16_t* x, int n) {
    const uint32_t kind = gen_() % 5;
    for (int i = 0; i < n; ++i) {
      switch (kind) {
        case 0: x[i] = 0; break;
        case 1: x[i] = i % 2 ? MAX_16 : MIN_16; break;
        case 2: x[i] = i == 0 ? Sample() : 0; break;
        case 3: x[i] = static_cast<int16_t>(static_cast<int32_t>(gen_() % 9) - 4); break;
        default: x[i] = Sample(); break;
      }
    }
  }
  // LP coefficients: small (a stable, quiet filter), the full 16-bit range (unstable), or zero.
  void Coefficients(int16_t* a) {
    const uint32_t kind = gen_() % 4;
    for (int i = 0; i < M; ++i) {
      a[i] = kind == 0 ? 0 : kind == 1 ? Sample() : static_cast<int16_t>(static_cast<int32_t>(gen_() % 8193) - 4096);
    }
  }
  // A high-pass accumulator 4c, c within -2^28..2^28-1, often at a bound.
  int32_t Accumulator() {
    const uint32_t kind = gen_() % 4;
    return 4 * (kind == 0 ? -0x10000000 : kind == 1 ? 0x0FFFFFFF : -0x10000000 + static_cast<int32_t>(gen_() % 0x20000000u));
  }
  int32_t Gain() { return gen_() % 4 == 0 ? 0 : gen_() % 3 == 0 ? MAX_16 : static_cast<int32_t>(gen_() % 32768); }
  uint32_t Next() { return gen_(); }

 private:
  std::mt19937 gen_{2202};
};

TEST(Schedules, AgreeOnExtremeFilterInputs) {
  ExtremeInputs in;
  int silent = 0, largest_step = 0, accumulator_at_bound = 0, saturated = 0;
  std::vector<Blocks> run(2);
  for (int n = 0; n < 10000; ++n) {
    Blocks& a = run[0];
    std::memset(&a, 0x5A, sizeof a);
    a.st.past_gain = in.Gain();
    a.st.mem_pre = in.Sample();
    for (int16_t& v : a.st.mem_syn_pst) v = in.Sample();
    a.st.x2 = in.Sample(), a.st.x1 = in.Sample();
    a.st.y2 = in.Accumulator(), a.st.y1 = in.Accumulator();
    for (int k = 0; k < 4; ++k) in.Coefficients(a.scr.A_t + k * M);
    in.Signal(a.scr.synth_buf, M);
    const bool speech = in.Next() % 4 != 0;
    int16_t excitation[4][L_SUBFR];
    for (int k = 0; k < 4; ++k) in.Signal(speech ? excitation[k] : a.scr.synth() + k * L_SUBFR, L_SUBFR);
    const int32_t mode = static_cast<int32_t>(in.Next() % 8);
    run[1] = a;

    const Schedule schedules[2] = {Schedule::kSerial, Schedule::kInterleaved};
    for (int s = 0; s < 2; ++s) {
      Blocks& b = run[s];
      FrameFiltersBegin(b.scr, b.st, mode, schedules[s]);
      for (int k = 0; k < 4; ++k) FrameFiltersSubframe(b.scr, b.st, k, speech ? excitation[k] : nullptr, b.out, schedules[s]);
      FrameFiltersEnd(b.scr, b.st, b.out, schedules[s]);
    }
    ASSERT_EQ(Difference(run[0], run[1]), "") << "case " << n;

    // How far the cases reach, counted on the serial run.
    silent += static_cast<int>(std::count(a.scr.agc_step, a.scr.agc_step + 4, -1));
    largest_step += static_cast<int>(std::count(a.scr.agc_step, a.scr.agc_step + 4, 3275));  // g = 32767
    for (int32_t y : {a.st.y1, a.st.y2}) accumulator_at_bound += y == -0x40000000 || y == 0x3FFFFFFC;
    saturated += static_cast<int>(std::count(a.out, a.out + L_FRAME, int16_t{32760}) + std::count(a.out, a.out + L_FRAME, MIN_16));
  }
  EXPECT_GT(silent, 1000);
  EXPECT_GT(largest_step, 40);
  EXPECT_GT(accumulator_at_bound, 1000);
  EXPECT_GT(saturated, 100000);
}

}  // namespace
