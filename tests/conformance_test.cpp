// Conformance of the whole decoder against independently produced reference data.
//
// Each stream is decoded frame by frame through the traced entry. For every frame the
// unpacked parameters, the values between the stages, the synthesized and post-filtered
// samples and the final PCM are compared with the reference; a failure names the first
// frame, record and value that differ.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "amrnb_decoder.h"
#include "decoder_state.h"
#include "trace.h"

namespace {

using amrnb::DecodeTrace;
using amrnb::FramePath;

const std::string kDataDir = std::string(AMRCONV_TEST_DATA_DIR) + "/conformance/";
constexpr int kFrameSizes[16] = {13, 14, 16, 18, 20, 21, 27, 32, 6, 32, 0, 0, 0, 0, 0, 1};
constexpr size_t kWavHeader = 62;

bool ReadFile(const std::string& path, std::vector<uint8_t>* out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

bool ReadLines(const std::string& path, std::vector<std::string>* out) {
  std::ifstream in(path);
  if (!in) return false;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) out->push_back(line);
  }
  return true;
}

std::vector<int16_t> Samples(const std::vector<uint8_t>& bytes, size_t offset) {
  std::vector<int16_t> s;
  for (size_t i = offset; i + 1 < bytes.size(); i += 2) {
    s.push_back(static_cast<int16_t>(bytes[i] | (bytes[i + 1] << 8)));
  }
  return s;
}

// The frames of an AMR-in-WAV file as the decode job reads them: a frame type without a
// size is one byte long; a frame cut short at the end is not decoded.
std::vector<std::vector<uint8_t>> SplitFrames(const std::vector<uint8_t>& file) {
  std::vector<std::vector<uint8_t>> frames;
  size_t pos = kWavHeader;
  while (pos < file.size()) {
    const int size = kFrameSizes[(file[pos] >> 3) & 15];
    const size_t len = size < 1 ? 1 : static_cast<size_t>(size);
    if (pos + len > file.size()) break;
    frames.emplace_back(file.begin() + pos, file.begin() + pos + len);
    pos += len;
  }
  return frames;
}

std::vector<std::string> Tokens(const std::string& line) {
  std::istringstream in(line);
  return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

// Formats the decoder's hooks as the reference trace lines of one frame.
class Recorder : public DecodeTrace {
 public:
  void Begin(int n) {
    n_ = n;
    params_.clear();
    lines_.clear();
    frame_line_.clear();
    synth_.assign(amrnb::L_FRAME, 0);
    post_.assign(amrnb::L_FRAME, 0);
  }

  void Params(int32_t ft, int32_t rx, int32_t mode, const int16_t* parm) override {
    std::ostringstream s;
    s << ft << ' ' << rx << ' ' << mode;
    for (int i = 0; i < amrnb::MAX_PRM; i++) s << ' ' << parm[i];
    params_ = s.str();
  }
  void Frame(FramePath path, int32_t rx, int32_t mode, int32_t bfi, int32_t state) override {
    const char* name = path == FramePath::kSpeech ? "speech"
                       : path == FramePath::kComfortNoise ? "cn" : "homing";
    std::ostringstream s;
    s << "F " << n_ << ' ' << name << ' ' << rx << ' ' << mode << ' ' << bfi << ' ' << state;
    frame_line_ = s.str();
  }
  void LspNew(const int32_t* v) override { Add("L", v, amrnb::M); }
  void LspMid(const int32_t* v) override { Add("M", v, amrnb::M); }
  void Az(const int16_t* a) override { Add("A", a, 4 * amrnb::M); }
  void Subframe(int32_t k, const amrnb::SubframeTrace& t) override {
    const int32_t v[] = {k, t.T0, t.T0_frac, t.gain_pit, t.gain_code, t.gain_code_mix,
                         t.pit_sharp, t.excEnergy, t.dispersed};
    Add("S", v, 9);
  }
  void Background(int32_t bg, int32_t vh) override {
    const int32_t v[] = {bg, vh};
    Add("B", v, 2);
  }
  void ComfortNoise(const amrnb::DtxDecState& d) override {
    const int32_t v[] = {d.log_en, d.old_log_en, d.log_en_adjust, d.log_pg_mean,
                         d.since_last_sid, d.L_pn_seed_rx};
    Add("C", v, 6);
  }
  void PostFilter(int32_t past_gain, int32_t mem_pre) override {
    const int32_t v[] = {past_gain, mem_pre};
    Add("P", v, 2);
  }
  void HighPass(int32_t x2, int32_t x1, int32_t y2, int32_t y1) override {
    const int32_t v[] = {x2, x1, y2, y1};
    Add("H", v, 4);
  }
  void Synth(const int16_t* s) override { synth_.assign(s, s + amrnb::L_FRAME); }
  void Post(const int16_t* s) override { post_.assign(s, s + amrnb::L_FRAME); }
  void FrameEnd(int32_t dtx) override {
    lines_.insert(lines_.begin(), frame_line_ + ' ' + std::to_string(dtx));
  }

  const std::string& params() const { return params_; }
  const std::vector<std::string>& lines() const { return lines_; }
  const std::vector<int16_t>& synth() const { return synth_; }
  const std::vector<int16_t>& post() const { return post_; }

 private:
  template <typename T>
  void Add(const char* tag, const T* v, int count) {
    std::ostringstream s;
    s << tag << ' ' << n_;
    for (int i = 0; i < count; i++) s << ' ' << v[i];
    lines_.push_back(s.str());
  }

  int n_ = 0;
  std::string params_;
  std::string frame_line_;
  std::vector<std::string> lines_;
  std::vector<int16_t> synth_;
  std::vector<int16_t> post_;
};

// Names the first differing value of two lines of the same record kind.
std::string LineDifference(const std::string& expected, const std::string& actual) {
  const auto e = Tokens(expected);
  const auto a = Tokens(actual);
  std::ostringstream s;
  for (size_t i = 0; i < std::max(e.size(), a.size()); i++) {
    const std::string ev = i < e.size() ? e[i] : "<none>";
    const std::string av = i < a.size() ? a[i] : "<none>";
    if (ev != av) {
      s << "value " << i << ": expected " << ev << ", got " << av;
      break;
    }
  }
  s << "\n  expected: " << expected << "\n  actual:   " << actual;
  return s.str();
}

std::string SampleDifference(const char* what, const std::vector<int16_t>& expected,
                             const int16_t* actual) {
  for (int i = 0; i < amrnb::L_FRAME; i++) {
    if (expected[i] != actual[i]) {
      std::ostringstream s;
      s << what << " sample " << i << ": expected " << expected[i] << ", got " << actual[i];
      return s.str();
    }
  }
  return {};
}

// The reference data of one stream.
struct Reference {
  std::vector<std::vector<uint8_t>> frames;
  std::vector<std::string> params;
  std::map<int, std::vector<std::string>> stages;  // by frame
  std::vector<int16_t> synth, post, output;
};

::testing::AssertionResult LoadReference(const std::string& name, Reference* ref) {
  std::vector<uint8_t> stream, out, synth, post;
  std::vector<std::string> stage_lines;
  const std::string base = kDataDir + name;
  if (!ReadFile(base + ".wav", &stream)) return ::testing::AssertionFailure() << "missing " << base << ".wav";
  if (!ReadFile(base + ".out.wav", &out)) return ::testing::AssertionFailure() << "missing " << base << ".out.wav";
  if (!ReadFile(base + ".synth.pcm", &synth)) return ::testing::AssertionFailure() << "missing " << base << ".synth.pcm";
  if (!ReadFile(base + ".post.pcm", &post)) return ::testing::AssertionFailure() << "missing " << base << ".post.pcm";
  if (!ReadLines(base + ".params.txt", &ref->params)) return ::testing::AssertionFailure() << "missing " << base << ".params.txt";
  if (!ReadLines(base + ".stages.txt", &stage_lines)) return ::testing::AssertionFailure() << "missing " << base << ".stages.txt";
  if (stream.size() < kWavHeader || out.size() < kWavHeader) {
    return ::testing::AssertionFailure() << name << ": file shorter than its header";
  }
  ref->frames = SplitFrames(stream);
  ref->synth = Samples(synth, 0);
  ref->post = Samples(post, 0);
  ref->output = Samples(out, kWavHeader);
  for (const auto& line : stage_lines) {
    const auto t = Tokens(line);
    if (t.size() < 2) return ::testing::AssertionFailure() << "bad stages line: " << line;
    ref->stages[std::stoi(t[1])].push_back(line);
  }
  const size_t n = ref->frames.size();
  if (n == 0 || ref->params.size() != n || ref->stages.size() != n ||
      ref->synth.size() != n * amrnb::L_FRAME || ref->post.size() != n * amrnb::L_FRAME ||
      ref->output.size() != n * amrnb::L_FRAME) {
    return ::testing::AssertionFailure()
           << name << ": reference sizes disagree with the " << n << " frames of the stream";
  }
  return ::testing::AssertionSuccess();
}

// Owns one decoder's memory blocks.
struct Decoder {
  Decoder()
      : state(static_cast<amrnb::DecoderState*>(::operator new(amrnb::kDecoderStateSize))),
        scratch(static_cast<amrnb::DecoderScratch*>(::operator new(amrnb::kDecoderScratchSize))) {
    amrnb::ResetDecoder(amrnb::MR475, state);
  }
  ~Decoder() {
    ::operator delete(state);
    ::operator delete(scratch);
  }
  Decoder(const Decoder&) = delete;
  Decoder& operator=(const Decoder&) = delete;

  // Decodes one frame from a 32-byte buffer, as the decode job hands it over.
  std::vector<int16_t> Decode(const std::vector<uint8_t>& frame, DecodeTrace* trace = nullptr) {
    uint8_t buffer[32] = {};
    std::memcpy(buffer, frame.data(), frame.size());
    std::vector<int16_t> out(amrnb::L_FRAME, 0);
    if (trace) {
      amrnb::DecodeFrameTraced(buffer, state, scratch, out.data(), 0, trace);
    } else {
      EXPECT_EQ(amrnb::DecodeFrame(buffer, state, scratch, out.data(), 0), amrnb::AMRNBDEC_OK);
    }
    return out;
  }

  amrnb::DecoderState* state;
  amrnb::DecoderScratch* scratch;
};

// Decodes a whole stream and returns a description of the first difference, or "".
std::string FirstDifference(const Reference& ref) {
  Decoder dec;
  Recorder rec;
  for (size_t n = 0; n < ref.frames.size(); n++) {
    rec.Begin(static_cast<int>(n));
    const std::vector<int16_t> out = dec.Decode(ref.frames[n], &rec);
    std::ostringstream where;
    where << "frame " << n << ": ";
    if (rec.params() != ref.params[n]) {
      return where.str() + "params " + LineDifference(ref.params[n], rec.params());
    }
    const auto& expected = ref.stages.at(static_cast<int>(n));
    const auto& actual = rec.lines();
    for (size_t i = 0; i < std::max(expected.size(), actual.size()); i++) {
      if (i >= expected.size()) return where.str() + "extra record: " + actual[i];
      if (i >= actual.size()) return where.str() + "missing record: " + expected[i];
      if (expected[i] != actual[i]) {
        const auto tag = Tokens(expected[i])[0];
        std::string record = tag;
        if (tag == "S") record += " subframe " + Tokens(expected[i])[2];
        return where.str() + "record " + record + ", " + LineDifference(expected[i], actual[i]);
      }
    }
    const size_t at = n * amrnb::L_FRAME;
    const std::vector<int16_t> es(ref.synth.begin() + at, ref.synth.begin() + at + amrnb::L_FRAME);
    const std::vector<int16_t> ep(ref.post.begin() + at, ref.post.begin() + at + amrnb::L_FRAME);
    const std::vector<int16_t> eo(ref.output.begin() + at, ref.output.begin() + at + amrnb::L_FRAME);
    for (const auto& d : {SampleDifference("synth", es, rec.synth().data()),
                          SampleDifference("post", ep, rec.post().data()),
                          SampleDifference("output", eo, out.data())}) {
      if (!d.empty()) return where.str() + d;
    }
  }
  return {};
}

class Conformance : public ::testing::TestWithParam<const char*> {};

TEST_P(Conformance, BitExact) {
  Reference ref;
  ASSERT_TRUE(LoadReference(GetParam(), &ref));
  const std::string diff = FirstDifference(ref);
  EXPECT_TRUE(diff.empty()) << GetParam() << ", " << diff;
}

INSTANTIATE_TEST_SUITE_P(Streams, Conformance,
                         ::testing::Values("mode0", "mode1", "mode2", "mode3", "mode4", "mode5",
                                           "mode6", "mode7", "mixed", "dtx", "homing",
                                           "speechlike", "speechlike_bad", "stress"),
                         [](const auto& info) { return std::string(info.param); });

// Homing: a homing frame right after a reset is answered with the fixed pattern, a decoded
// homing frame resets the decoder, and a second homing frame after it is answered again.
TEST(Homing, AnsweredFramesGiveTheFixedPattern) {
  Reference homing, speech;
  ASSERT_TRUE(LoadReference("homing", &homing));
  ASSERT_TRUE(LoadReference("mode7", &speech));
  const std::vector<uint8_t>& homing_frame = homing.frames[0];  // MR122 homing frame
  ASSERT_EQ((homing_frame[0] >> 3) & 15, 7);
  const std::vector<int16_t> pattern(amrnb::L_FRAME, 0x0008);

  Decoder dec;
  EXPECT_EQ(dec.Decode(homing_frame), pattern);  // first frame after reset
  EXPECT_EQ(dec.Decode(homing_frame), pattern);  // still in the homed state
  EXPECT_NE(dec.Decode(speech.frames[0]), pattern);
  EXPECT_EQ(dec.state->reset_flag_old, 0);
  EXPECT_NE(dec.Decode(homing_frame), pattern);  // decoded, then the decoder resets
  EXPECT_EQ(dec.state->reset_flag_old, 1);
  EXPECT_EQ(dec.Decode(homing_frame), pattern);

  // After the reset the decoder behaves as a fresh one: the next speech frame decodes to
  // what a fresh decoder gives for it.
  Decoder fresh;
  fresh.Decode(homing_frame);
  EXPECT_EQ(dec.Decode(speech.frames[1]), fresh.Decode(speech.frames[1]));
}

// Everything that persists lies in the state block: a copy of the state taken mid-stream,
// paired with a scratch block full of garbage, decodes the rest exactly like the original.
TEST(DecoderMemory, StateCopyWithFreshScratchDecodesIdentically) {
  Reference ref;
  ASSERT_TRUE(LoadReference("speechlike_bad", &ref));
  Decoder original;
  std::vector<std::vector<int16_t>> outputs;
  std::map<size_t, std::vector<uint8_t>> snapshots;  // state before frame n
  for (size_t n = 0; n < ref.frames.size(); n++) {
    if (n % 40 == 7) {
      const auto* bytes = reinterpret_cast<const uint8_t*>(original.state);
      snapshots[n].assign(bytes, bytes + amrnb::kDecoderStateSize);
    }
    outputs.push_back(original.Decode(ref.frames[n]));
  }
  for (const auto& [split, snapshot] : snapshots) {
    Decoder copy;
    std::memcpy(copy.state, snapshot.data(), amrnb::kDecoderStateSize);
    std::memset(copy.scratch, 0xA5, amrnb::kDecoderScratchSize);
    for (size_t n = split; n < std::min(split + 10, ref.frames.size()); n++) {
      ASSERT_EQ(copy.Decode(ref.frames[n]), outputs[n]) << "frame " << n;
    }
  }
}

}  // namespace
