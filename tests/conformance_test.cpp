// Conformance of the whole decoder against independently produced reference data, the
// program's own output on the same streams, and the decoder's isolation: everything of a
// stream lives in the caller's blocks.
//
// Each stream is decoded frame by frame through the traced entry. For every frame the
// unpacked parameters, the values between the stages, the synthesized and post-filtered
// samples and the final PCM are compared with the reference; a failure names the first
// frame, record and values that differ.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "amrnb_decoder.h"
#include "amrnb_decoder_c.h"
#include "decoder_state.h"
#include "test_util.h"
#include "trace.h"

namespace {

using namespace amrnb;
using Samples = std::vector<int16_t>;
using testutil::Bytes;

const std::string& kDataDir = testutil::kConformanceDir;
const auto& kStreams = testutil::kConformanceStreams;
Samples Pcm(const Bytes& bytes, size_t offset = 0) { return testutil::Samples16(bytes, offset); }

// The final samples of a stream's reference output file.
Samples Reference(const std::string& name) { return Pcm(testutil::ReadFile(kDataDir + name + ".out.wav"), 62); }

std::vector<Bytes> Frames(const std::string& name) { return testutil::WaveFrames(kDataDir + name + ".wav"); }

// Formats the decoder's hooks as the reference trace lines of one frame.
class Recorder : public DecodeTrace {
 public:
  void Begin(int n) { n_ = n, lines_.clear(), synth_.assign(L_FRAME, 0), post_.assign(L_FRAME, 0); }
  void Params(int32_t ft, int32_t rx, int32_t mode, const int16_t* parm) override {
    std::ostringstream s;
    s << ft << ' ' << rx << ' ' << mode;
    for (int i = 0; i < MAX_PRM; i++) s << ' ' << parm[i];
    params_ = s.str();
  }
  void LspNew(const int32_t* v) override { Add("L", v, M); }
  void LspMid(const int32_t* v) override { Add("M", v, M); }
  void Az(const int16_t* a) override { Add("A", a, 4 * M); }
  void Subframe(int32_t k, const SubframeTrace& t) override {
    Add("S", {k, t.T0, t.T0_frac, t.gain_pit, t.gain_code, t.gain_code_mix, t.pit_sharp, t.excEnergy, t.dispersed});
  }
  void Background(int32_t bg, int32_t vh) override { Add("B", {bg, vh}); }
  void ComfortNoise(const DtxDecState& d) override {
    Add("C", {d.log_en, d.old_log_en, d.log_en_adjust, d.log_pg_mean, d.since_last_sid, d.L_pn_seed_rx});
  }
  void PostFilter(int32_t past_gain, int32_t mem_pre) override { Add("P", {past_gain, mem_pre}); }
  void HighPass(int32_t x2, int32_t x1, int32_t y2, int32_t y1) override { Add("H", {x2, x1, y2, y1}); }
  void Synth(const int16_t* s) override { synth_.assign(s, s + L_FRAME); }
  void Post(const int16_t* s) override { post_.assign(s, s + L_FRAME); }
  void Frame(FramePath path, int32_t rx, int32_t mode, int32_t bfi, int32_t state, int32_t dtx) override {
    const char* name[] = {"speech", "cn", "homing"};
    std::string line = "F " + std::to_string(n_) + " " + name[static_cast<int>(path)];
    for (int32_t v : {rx, mode, bfi, state, dtx}) line.append(" ").append(std::to_string(v));
    lines_.insert(lines_.begin(), line);  // reported last, listed first in the reference
  }

  int n_ = 0;
  std::string params_;
  std::vector<std::string> lines_;
  Samples synth_, post_;

 private:
  template <typename T>
  void Add(const char* tag, const T* v, int count) {
    std::string s = std::string(tag).append(" ").append(std::to_string(n_));
    for (int i = 0; i < count; i++) s.append(" ").append(std::to_string(v[i]));
    lines_.push_back(s);
  }
  void Add(const char* tag, std::initializer_list<int32_t> v) { Add(tag, v.begin(), static_cast<int>(v.size())); }
};

std::vector<std::string> Lines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

// Owns one decoder's memory blocks, filled with garbage, then reset: a field the reset forgets
// shows as a difference, whatever its initial value.
struct Decoder {
  Decoder() {
    std::memset(state(), 0xA5, kDecoderStateSize);
    std::memset(scratch(), 0x5A, kDecoderScratchSize);
    ResetDecoder(MR475, state());
  }
  DecoderState* state() { return reinterpret_cast<DecoderState*>(state_block.data()); }
  DecoderScratch* scratch() { return reinterpret_cast<DecoderScratch*>(scratch_block.data()); }
  Samples Decode(Bytes frame, DecodeTrace* trace = nullptr, int32_t layout = AMRNB_LAYOUT_STORAGE) {
    Samples out(L_FRAME);
    EXPECT_EQ(trace ? DecodeFrameTraced(frame.data(), state(), scratch(), out.data(), layout, trace)
                    : DecodeFrame(frame.data(), state(), scratch(), out.data(), layout), AMRNBDEC_OK);
    return out;
  }
  std::vector<std::max_align_t> state_block = std::vector<std::max_align_t>(kDecoderStateSize / sizeof(std::max_align_t) + 1);
  std::vector<std::max_align_t> scratch_block = std::vector<std::max_align_t>(kDecoderScratchSize / sizeof(std::max_align_t) + 1);
};

class Conformance : public ::testing::TestWithParam<const char*> {};

TEST_P(Conformance, BitExact) {
  const std::string base = kDataDir + GetParam();
  const std::vector<Bytes> frames = Frames(GetParam());
  const std::vector<std::string> params = Lines(base + ".params.txt");
  std::map<int, std::vector<std::string>> stages;
  for (const std::string& line : Lines(base + ".stages.txt")) stages[std::stoi(line.substr(2))].push_back(line);
  const Samples synth = Pcm(testutil::ReadFile(base + ".synth.pcm"));
  const Samples post = Pcm(testutil::ReadFile(base + ".post.pcm"));
  const Samples output = Pcm(testutil::ReadFile(base + ".out.wav"), 62);
  const size_t n_frames = frames.size();
  ASSERT_GT(n_frames, 0u) << "missing " << base << ".wav";
  ASSERT_EQ(params.size(), n_frames);
  ASSERT_EQ(stages.size(), n_frames);
  for (const Samples* s : {&synth, &post, &output}) ASSERT_EQ(s->size(), n_frames * L_FRAME);

  Decoder dec;
  Recorder rec;
  for (size_t n = 0; n < n_frames; n++) {
    rec.Begin(static_cast<int>(n));
    const Samples out = dec.Decode(frames[n], &rec);
    ASSERT_EQ(rec.params_, params[n]) << "frame " << n << ": parameters";
    const std::vector<std::string>& want = stages[static_cast<int>(n)];
    for (size_t i = 0; i < std::max(want.size(), rec.lines_.size()); i++) {
      ASSERT_EQ(i < rec.lines_.size() ? rec.lines_[i] : "<none>", i < want.size() ? want[i] : "<none>")
          << "frame " << n << ": first differing record";
    }
    const auto at = static_cast<std::ptrdiff_t>(n * L_FRAME);
    ASSERT_EQ(rec.synth_, Samples(synth.begin() + at, synth.begin() + at + L_FRAME)) << "frame " << n << ": synth";
    ASSERT_EQ(rec.post_, Samples(post.begin() + at, post.begin() + at + L_FRAME)) << "frame " << n << ": post";
    ASSERT_EQ(out, Samples(output.begin() + at, output.begin() + at + L_FRAME)) << "frame " << n << ": output";
  }
}

#ifdef AMRCONV_BINARY  // the program is started with fork (not on Windows)
// The program on the same stream: the decode job's file, header included, and its standard
// output, times masked.
TEST_P(Conformance, ProgramOutput) {
  const std::string base = kDataDir + GetParam();
  testutil::TempDir dir;
  const testutil::RunResult run = testutil::RunAmrconv(dir, {base + ".wav", dir.Path("out.wav"), "1"});
  EXPECT_EQ(run.exit_code, 0);
  const Bytes printed = testutil::ReadFile(base + ".stdout.txt");
  EXPECT_EQ(testutil::MaskTimes(run.out), testutil::MaskTimes(std::string(printed.begin(), printed.end())));
  const Bytes got = testutil::ReadFile(dir.Path("out.wav")), want = testutil::ReadFile(base + ".out.wav");
  const auto diff = std::mismatch(got.begin(), got.end(), want.begin(), want.end());
  EXPECT_TRUE(diff.first == got.end() && diff.second == want.end())
      << "sizes " << got.size() << " and " << want.size() << ", first difference at byte " << diff.first - got.begin();
}
#endif

INSTANTIATE_TEST_SUITE_P(Streams, Conformance, ::testing::ValuesIn(kStreams),
                         [](const auto& info) { return std::string(info.param); });

// Resets from two garbage fills. The full reset gives the same block both ways, except for bytes
// that no frame of the streams ever writes either (padding): a field it forgets shows. The
// partial reset writes only full-reset values and leaves every other byte as it was; which
// fields it restores, and the values themselves, the streams check.
TEST(Reset, FullResetLeavesNothingOfTheOldStatePartialResetOnlyItsValues) {
  Decoder a, b;
  std::memset(b.state(), 0x5A, kDecoderStateSize);
  ResetDecoder(MR475, b.state());
  const auto* full = reinterpret_cast<const unsigned char*>(a.state());
  const auto* other = reinterpret_cast<const unsigned char*>(b.state());
  std::vector<size_t> untouched;
  for (size_t i = 0; i < kDecoderStateSize; ++i) {
    if (full[i] == 0xA5 && other[i] == 0x5A) untouched.push_back(i);
    else EXPECT_EQ(full[i], other[i]) << "byte " << i;
  }
  for (unsigned char garbage : {0x5A, 0xFF}) {
    std::vector<unsigned char> partial(kDecoderStateSize, garbage);
    ResetDecoder(MRDTX, reinterpret_cast<DecoderState*>(partial.data()));
    for (size_t i = 0; i < partial.size(); ++i) {
      ASSERT_TRUE(partial[i] == garbage || partial[i] == full[i]) << "byte " << i;
    }
  }
  for (const char* name : {"mixed", "dtx", "homing"}) {
    for (const Bytes& frame : Frames(name)) {
      a.Decode(frame);
      for (size_t i : untouched) ASSERT_EQ(full[i], 0xA5) << name << ": byte " << i << " is state the reset leaves out";
    }
  }
}

// Streams that between them reach every decoding path.
const char* const kIsolationStreams[] = {"mixed", "dtx", "speechlike_bad", "homing"};

// Each thread decodes its own stream through the C interface, three passes after all started.
TEST(DecoderIsolation, ParallelThreadsMatchTheReference) {
  constexpr int kCount = std::size(kIsolationStreams), kRounds = 3;
  std::vector<std::vector<Bytes>> frames;
  for (const char* name : kIsolationStreams) frames.push_back(Frames(name));
  std::vector<std::vector<Samples>> parallel(kCount, std::vector<Samples>(kRounds));
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (int s = 0; s < kCount; ++s) {
    threads.emplace_back([&, s] {
      amrnb::Decoder decoder;
      ready.fetch_add(1);
      while (ready.load() < kCount) std::this_thread::yield();
      for (Samples& out : parallel[s]) {
        decoder.Reset();
        for (const Bytes& frame : frames[s]) {
          int16_t pcm[AMRNB_FRAME_SAMPLES];
          decoder.Decode(frame.data(), frame.size(), AMRNB_LAYOUT_STORAGE, pcm);
          out.insert(out.end(), pcm, pcm + AMRNB_FRAME_SAMPLES);
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int s = 0; s < kCount; ++s) {
    const Samples want = Reference(kIsolationStreams[s]);
    for (int round = 0; round < kRounds; ++round) EXPECT_TRUE(parallel[s][round] == want) << kIsolationStreams[s] << round;
  }
}

// The IF2 layout of the streams (frames re-laid from the storage frames independently of the
// bit-order tables), decoded from a full reset, each frame in a buffer of exactly its size (the
// sanitizer build reports a read past it). IF2 has no quality bit: where storage frames are
// marked damaged the expected samples are of their own (if2/NAME.pcm), elsewhere the same.
TEST(If2Layout, DecodesLikeTheReference) {
  for (const char* name : {"mode0", "mode1", "mode2", "mode3", "mode4", "mode5", "mode6", "mode7", "mixed", "dtx",
                           "speechlike_bad"}) {
    const Bytes file = testutil::ReadFile(kDataDir + "if2/" + name + ".if2");
    const Bytes own = testutil::ReadFile(kDataDir + "if2/" + name + ".pcm");
    const Samples want = own.empty() ? Reference(name) : Pcm(own);
    Decoder dec;
    size_t n = 0;
    for (size_t pos = 0, len; pos < file.size(); pos += len, ++n) {
      len = static_cast<size_t>(FrameBytes(file[pos] & 15, AMRNB_LAYOUT_IF2));
      ASSERT_LE(pos + len, file.size()) << name;
      ASSERT_LE((n + 1) * L_FRAME, want.size()) << name;
      const auto at = want.begin() + static_cast<std::ptrdiff_t>(n * L_FRAME);
      ASSERT_EQ(dec.Decode(Bytes(file.begin() + static_cast<std::ptrdiff_t>(pos),
                                 file.begin() + static_cast<std::ptrdiff_t>(pos + len)),
                           nullptr, AMRNB_LAYOUT_IF2),
                Samples(at, at + L_FRAME)) << name << " frame " << n;
    }
    EXPECT_EQ(n * L_FRAME, want.size()) << name;
  }
}

// One scratch block serving two streams frame by frame (nothing may carry over in it), and a
// state block copied mid-stream that continues exactly like the original.
TEST(DecoderIsolation, SharedScratchAndCopiedStateMatchTheReference) {
  const char* const names[2] = {"speechlike_bad", "dtx"};
  const std::vector<Bytes> frames[2] = {Frames(names[0]), Frames(names[1])};
  const size_t half = frames[1].size() / 2;
  Decoder dec[2], copy;
  Samples out[2], copied;
  for (size_t i = 0; i < std::max(frames[0].size(), frames[1].size()); ++i) {
    if (i == half) std::memcpy(copy.state(), dec[1].state(), kDecoderStateSize);
    for (int s = 0; s < 2; ++s) {
      if (i >= frames[s].size()) continue;
      Samples pcm(L_FRAME);
      Bytes f = frames[s][i];
      DecodeFrame(f.data(), dec[s].state(), dec[0].scratch(), pcm.data(), 0);
      out[s].insert(out[s].end(), pcm.begin(), pcm.end());
      if (s == 1 && i >= half) {
        const Samples c = copy.Decode(frames[1][i]);
        copied.insert(copied.end(), c.begin(), c.end());
      }
    }
  }
  for (int s = 0; s < 2; ++s) EXPECT_TRUE(out[s] == Reference(names[s])) << names[s];
  EXPECT_TRUE(copied == Samples(out[1].begin() + static_cast<std::ptrdiff_t>(half * L_FRAME), out[1].end()));
}

}  // namespace
