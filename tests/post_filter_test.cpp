// The post-filter and the output high-pass, checked in isolation on the reference streams.
//
// For every frame the traced synthesized speech and LP coefficient sets are fed to
// Post_Filter, whose output and memories must match the trace; the traced post-filter output
// is then fed to Post_Process, whose samples must match the reference PCM file. The state
// follows the decoder's resets: a full reset at the start and after every homing frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "amrdec/decoder_state.h"
#include "amrdec/stages.h"
#include "amrdec/tables/tables.h"

namespace amrnb {
namespace {

const std::string kDataDir = std::string(AMRCONV_TEST_DATA_DIR) + "/conformance/";
constexpr std::size_t kWavHeader = 62;

std::vector<int16_t> ReadPcm(const std::string& path, std::size_t offset) {
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> b(std::istreambuf_iterator<char>(in), {});
  std::vector<int16_t> s;
  for (std::size_t i = offset; i + 1 < b.size(); i += 2) s.push_back(static_cast<int16_t>(b[i] | b[i + 1] << 8));
  return s;
}

// The records of one frame that this test needs.
struct FrameTrace {
  std::string path;  // speech, cn or homing
  int mode = 0;
  std::vector<int> A, P, H, params;  // params: frame type, rx, mode, 57 parameters
};

std::vector<FrameTrace> ReadTrace(const std::string& name) {
  std::vector<FrameTrace> frames;
  std::ifstream stages(kDataDir + name + ".stages.txt");
  for (std::string line; std::getline(stages, line);) {
    std::istringstream ls(line);
    std::string tag;
    int n = 0;
    ls >> tag >> n;
    if (tag == "F") {
      frames.emplace_back();
      int rx = 0;
      ls >> frames.back().path >> rx >> frames.back().mode;
      continue;
    }
    std::vector<int>* dst = tag == "A" ? &frames.back().A : tag == "P" ? &frames.back().P
                          : tag == "H" ? &frames.back().H : nullptr;
    for (int v; dst != nullptr && ls >> v;) dst->push_back(v);
  }
  std::ifstream params(kDataDir + name + ".params.txt");
  std::size_t f = 0;
  for (std::string line; std::getline(params, line) && f < frames.size(); ++f) {
    std::istringstream ls(line);
    for (int v; ls >> v;) frames[f].params.push_back(v);
  }
  return frames;
}

// A decoded frame equal to its mode's homing frame resets the decoder after it.
bool IsHomingFrame(const FrameTrace& t) {
  const int ft = t.params.at(0);
  if (ft < 0 || ft > 7) return false;
  const ModeTable& dhf = dhf_by_mode[ft];
  for (int i = 0; i < dhf.count; ++i) {
    if (t.params.at(3 + i) != dhf.values[i]) return false;
  }
  return true;
}

class PostFilterConformance : public ::testing::TestWithParam<const char*> {};

TEST_P(PostFilterConformance, MatchesReferenceFrameByFrame) {
  const std::string name = GetParam();
  const std::vector<FrameTrace> frames = ReadTrace(name);
  const std::vector<int16_t> synth = ReadPcm(kDataDir + name + ".synth.pcm", 0);
  const std::vector<int16_t> post = ReadPcm(kDataDir + name + ".post.pcm", 0);
  const std::vector<int16_t> final_pcm = ReadPcm(kDataDir + name + ".out.wav", kWavHeader);
  ASSERT_FALSE(frames.empty()) << "missing trace for " << name;
  ASSERT_EQ(synth.size(), frames.size() * L_FRAME);
  ASSERT_EQ(post.size(), synth.size());
  ASSERT_EQ(final_pcm.size(), synth.size());

  DecoderState st;
  DecoderScratch scr;
  ResetDecoder(0, &st);
  bool reset_before = true;
  int checked = 0;
  for (std::size_t f = 0; f < frames.size(); ++f) {
    const FrameTrace& t = frames[f];
    if (t.path == "homing") {  // answered without decoding, then the decoder resets
      ResetDecoder(0, &st);
      reset_before = true;
      continue;
    }
    ASSERT_EQ(t.A.size(), 40u) << "frame " << f;
    const int16_t* in = &synth[f * L_FRAME];
    for (int i = 0; i < M; ++i) scr.synth_buf[i] = reset_before ? 0 : in[i - M];
    std::copy_n(in, L_FRAME, scr.synth());
    for (int i = 0; i < 4 * M; ++i) scr.A_t[i] = static_cast<int16_t>(t.A[i]);

    Post_Filter(st, t.mode, scr);
    ASSERT_TRUE(std::equal(post.begin() + f * L_FRAME, post.begin() + (f + 1) * L_FRAME, scr.pf_out()))
        << name << " frame " << f;
    ASSERT_EQ((std::vector<int>{st.past_gain, st.mem_pre}), t.P) << name << " frame " << f;

    int16_t out[L_FRAME];
    Post_Process(st, &post[f * L_FRAME], out);
    ASSERT_TRUE(std::equal(out, out + L_FRAME, final_pcm.begin() + f * L_FRAME)) << name << " frame " << f;
    ASSERT_EQ((std::vector<int>{st.x2, st.x1, st.y2, st.y1}), t.H) << name << " frame " << f;
    ++checked;

    reset_before = IsHomingFrame(t);
    if (reset_before) ResetDecoder(0, &st);
  }
  EXPECT_GT(checked, 0);
}

INSTANTIATE_TEST_SUITE_P(Streams, PostFilterConformance,
                         ::testing::Values("mode0", "mode1", "mode2", "mode3", "mode4", "mode5", "mode6",
                                           "mode7", "mixed", "dtx", "homing", "speechlike",
                                           "speechlike_bad", "stress"));

}  // namespace
}  // namespace amrnb
