// The amrconv program as a user runs it: arguments, both jobs' messages, exit codes and the
// exact bytes they write.
#include <sys/resource.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <functional>
#include <string>
#include <thread>

#include "app/jobs.h"
#include "test_util.h"

using namespace testutil;

namespace {

const Bytes kMagic = {'#', '!', 'A', 'M', 'R', '\n'};

TEST(CommandLine, TooFewArgumentsPrintUsageAndWaitForAKey) {
  const std::string usage =
      "\n Invalied Arguments..\n ---------------------------------------"
      "\n Run the Exe with below 2 arguments\n 1: Source File Path\n 2: Destination File Path"
      "\n 3: Event Type. 1 For AMR to Wave, 2 For Adding AMR Header."
      "\n ---------------------------------------";
  TempDir dir;
  for (const auto& args : {std::vector<std::string>{}, std::vector<std::string>{"a", "b"}}) {
    const RunResult r = RunAmrconv(dir, args);  // end of input counts as the key
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, usage);
  }
  int keyboard = -1;
  const std::string out_path = dir.Path("stdout.txt");
  const pid_t pid = Spawn({"a"}, out_path, &keyboard);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(waitpid(pid, nullptr, WNOHANG), 0) << "exited without waiting for a key";
  ASSERT_EQ(write(keyboard, "\n", 1), 1);
  close(keyboard);
  EXPECT_EQ(Finish(pid, out_path).exit_code, 1);
}

// Event types parse like "%d": leading blanks accepted, trailing text and arguments ignored.
TEST(CommandLine, EventTypeParsedLikeScanfDecimal) {
  TempDir dir;
  WriteFile(dir.Path("src.wav"), AmrWaveHeader());
  for (const char* event : {"0", "3", "-1", "x", ""}) {
    const RunResult r = RunAmrconv(dir, {dir.Path("src.wav"), dir.Path("dst"), event});
    EXPECT_EQ(r.exit_code, 1) << event;
    EXPECT_EQ(r.out, "\nInvalid Argument. setting to default") << event;
    EXPECT_FALSE(Exists(dir.Path("dst"))) << event;
  }
  EXPECT_EQ(RunAmrconv(dir, {dir.Path("src.wav"), dir.Path("a.amr"), "2x", "extra"}).exit_code, 0);
  EXPECT_EQ(ReadFile(dir.Path("a.amr")), kMagic);
  EXPECT_EQ(RunAmrconv(dir, {dir.Path("src.wav"), dir.Path("b.wav"), " 1"}).exit_code, 0);
  EXPECT_EQ(ReadFile(dir.Path("b.wav")).size(), 62u);
}

Bytes WithFrames(Bytes header, const std::vector<Bytes>& frames) {
  for (const Bytes& f : frames) Append(header, f);
  return header;
}

// Runs a job that must succeed on `source`; returns the destination's bytes.
Bytes RunGoodJob(const char* event, const Bytes& source, const std::string& progress) {
  TempDir dir;
  WriteFile(dir.Path("src.wav"), source);
  const RunResult r = RunAmrconv(dir, {dir.Path("src.wav"), dir.Path("dst"), event});
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(MaskTimes(r.out), HeaderLines() + progress + kTimingLines);
  return ReadFile(dir.Path("dst"));
}

// Every frame type, types 10..14 as single bytes, copied in order behind the magic; a last
// frame cut short is dropped.
TEST(HeaderJob, CopiesCompleteFramesByteForByte) {
  EXPECT_EQ(RunGoodJob("2", AmrWaveHeader(), kNoMoreFrames), kMagic);

  Bytes frames;
  std::string progress;
  for (int type : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 7}) {
    Append(frames, Frame(type, static_cast<uint8_t>(type)));
    progress += " B0 L" + std::to_string(kFrameBytes[type]) + (kFrameBytes[type] ? "." : "\nInvalid Packet Size...");
  }
  EXPECT_EQ(RunGoodJob("2", WithFrames(AmrWaveHeader(), {frames}), progress + kNoMoreFrames),
            WithFrames(kMagic, {frames}));

  Bytes cut = Frame(0);
  cut.resize(12);  // one byte short
  EXPECT_EQ(RunGoodJob("2", WithFrames(AmrWaveHeader(), {Frame(7), Frame(8), cut}),
                       " B0 L32. B0 L6. B0 L13\n Read Lenght(12) Error(0)"),
            WithFrames(kMagic, {Frame(7), Frame(8)}));
}

// A source with more frames than a WAV header can count stops at the limit (small ones
// here, one byte short of a frame and exactly on one) with status 16; the header counts
// exactly the frames written.
TEST(DecodeJob, StopsWhereTheHeaderCannotCountMoreSamples) {
  TempDir dir;
  Bytes source = AmrWaveHeader();
  for (int i = 0; i < 5; ++i) Append(source, Frame(7, static_cast<uint8_t>(i)));
  WriteFile(dir.Path("in.wav"), source);
  for (const uint32_t frames : {3u, 4u}) {
    const uint32_t limit = frames == 3 ? 3 * 320 + 319 : 4 * 320;
    EXPECT_EQ(DecodeToWave(dir.Path("in.wav").c_str(), dir.Path("out.wav").c_str(), limit), 16);
    const Bytes out = ReadFile(dir.Path("out.wav"));
    ASSERT_EQ(out.size(), 62u + frames * 320);
    EXPECT_EQ(Le32(out, 4), 54u + frames * 320);
    EXPECT_EQ(Le32(out, 58), frames * 320);
    EXPECT_EQ(Le32(out, 50), 0u);  // the fact chunk counts whole seconds only
  }
}

// Runs amrconv with the source fed through a pipe: `split` bytes, `between(pid)`, the rest.
// Standard output comes back through a pipe too, which no file-size limit applies to.
RunResult RunFed(const TempDir& dir, const Bytes& source, size_t split, const std::string& event,
                 const std::function<void(pid_t)>& before, const std::function<void(pid_t)>& between) {
  int out[2];
  if (mkfifo(dir.Path("pipe").c_str(), 0600) != 0 || pipe(out) != 0) return {-1, ""};
  const pid_t pid = Spawn({dir.Path("pipe"), dir.Path("dst"), event}, "/dev/fd/" + std::to_string(out[1]));
  close(out[1]);
  before(pid);
  RunResult r{-1, ""};
  std::thread reader([&] {
    char buffer[4096];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) r.out.append(buffer, n);
  });
  const int feed = open(dir.Path("pipe").c_str(), O_WRONLY);
  EXPECT_EQ(write(feed, source.data(), split), static_cast<ssize_t>(split));
  between(pid);
  // A job that `between` interrupted stops reading at once and closes its source, so the rest
  // may meet a FIFO without reader and go only in part, or not at all. The callers compare
  // what the job wrote with a full run, which a feed cut short otherwise would fail.
  std::signal(SIGPIPE, SIG_IGN);
  [[maybe_unused]] const ssize_t rest = write(feed, source.data() + split, source.size() - split);
  close(feed);
  reader.join();
  close(out[0]);
  r.exit_code = Finish(pid, "/dev/null").exit_code;
  return r;
}

// Frames of every speech mode, a different payload each.
Bytes SourceFrames(int count) {
  Bytes frames;
  for (int i = 0; i < count; ++i) Append(frames, Frame(i / 7 % 8, static_cast<uint8_t>(i * 13)));
  return frames;
}

// Started with standard input and output closed, the files must not take their places: the
// destination holds what a normal run writes. A destination that standard output goes to is
// refused before it is opened. Both jobs.
TEST(Jobs, StandardOutputNeverSharesTheDestination) {
  TempDir dir;
  WriteFile(dir.Path("src.wav"), WithFrames(AmrWaveHeader(), {SourceFrames(2000)}));
  for (const char* event : {"1", "2"}) {
    SCOPED_TRACE(event);
    ASSERT_EQ(RunAmrconv(dir, {dir.Path("src.wav"), dir.Path("normal"), event}).exit_code, 0);
    const std::string closed = std::string(AMRCONV_BINARY) + " " + dir.Path("src.wav") + " " + dir.Path("closed");
    EXPECT_EQ(std::system((closed + " " + event + " <&- >&-").c_str()), 0);
    EXPECT_EQ(ReadFile(dir.Path("closed")), ReadFile(dir.Path("normal")));

    const RunResult r = Finish(Spawn({dir.Path("src.wav"), dir.Path("normal"), event}, dir.Path("normal")), dir.Path("normal"));
    EXPECT_EQ(r.exit_code, 3);
    EXPECT_EQ(r.out, HeaderLines() + "\nDestination (" + dir.Path("normal") +
                         ") is where standard output goes; refusing to write both to it.");
  }
}

// The destination's file-size limit, set from outside, cuts frame 5 part-way; it is lifted
// while the job runs, or never. Each lost frame gets its message before its ".", the header
// counts the file's samples, and these are a full decode's without the lost frames, in order.
TEST(DecodeJob, WriteFailuresLoseOnlyTheirFrames) {
  const std::string kLost = "\n Failed to write. Error(27)";  // EFBIG
  for (const auto& [count, lift] : {std::pair{7000, true}, std::pair{20, false}}) {
    SCOPED_TRACE(count);
    TempDir dir;
    const Bytes source = WithFrames(AmrWaveHeader(), {SourceFrames(count)});
    WriteFile(dir.Path("src.wav"), source);
    ASSERT_EQ(RunAmrconv(dir, {dir.Path("src.wav"), dir.Path("full.wav"), "1"}).exit_code, 0);
    const Bytes full = ReadFile(dir.Path("full.wav"));
    rlimit limit{62 + 5 * 320 + 100, RLIM_INFINITY};
    const bool lift_limit = lift;  // a structured binding cannot be captured before clang 16
    // The pipe holds 64 KiB: the first write returns once the job has read all but that much.
    const RunResult r = RunFed(
        dir, source, source.size() * 6 / 7, "1", [&](pid_t pid) { EXPECT_EQ(prlimit(pid, RLIMIT_FSIZE, &limit, nullptr), 0); },
        [&](pid_t pid) { limit.rlim_cur = lift_limit ? RLIM_INFINITY : limit.rlim_cur, prlimit(pid, RLIMIT_FSIZE, &limit, nullptr); });
    EXPECT_EQ(r.exit_code, 0);

    const Bytes out = ReadFile(dir.Path("dst"));
    ASSERT_GE(out.size(), 62u);
    EXPECT_EQ(Le32(out, 58), out.size() - 62);
    std::string progress;
    Bytes expected(out.begin(), out.begin() + 62);
    int lost = 0, written_after_lost = 0;
    for (int i = 0; i < count; ++i) {
      const bool failed = r.out.compare(HeaderLines().size() + progress.size() + 7, kLost.size(), kLost) == 0;
      lost += failed;
      written_after_lost += lost > 0 && !failed;
      progress += " B0 L" + std::to_string(kFrameBytes[i / 7 % 8]) + (failed ? kLost : "") + ".";
      if (!failed) expected.insert(expected.end(), full.begin() + 62 + 320 * i, full.begin() + 62 + 320 * (i + 1));
    }
    EXPECT_EQ(MaskTimes(r.out), HeaderLines() + progress + kNoMoreFrames + kTimingLines);
    EXPECT_EQ(out, expected);
    EXPECT_GT(lost, lift ? 1000 : 14);
    EXPECT_EQ(written_after_lost > 0, lift);
  }
}

}  // namespace
