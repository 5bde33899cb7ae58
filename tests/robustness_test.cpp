// Sources and destinations that recorders, file transfers and full disks leave behind: a
// directory as source and odd paths; interrupts that find the program blocked on a pipe, and a
// reader of its output that goes away. Nothing may crash or hang, and no lost data may end with
// status 0. (A full device, an unrewindable destination and a FIFO without reader:
// file_reader_test's ConvertFile cases, where the program must match the library.)
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <thread>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/jobs.h"
#include "test_util.h"

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;
using namespace testutil;

namespace {

using Job = int32_t (*)(const char*, const char*);

struct JobRun {
  int32_t status;
  std::string out;
};

int OpenDescriptors() {
  DIR* dir = opendir("/proc/self/fd");
  int count = 0;
  while (readdir(dir) != nullptr) ++count;
  closedir(dir);
  return count;
}

// Runs a job in-process with its output captured; it must leave no descriptor open.
JobRun RunInProcess(Job job, const std::string& source, const std::string& destination) {
  CaptureStdout();
  const int before = OpenDescriptors();
  const int32_t status = job(source.c_str(), destination.c_str());
  const int after = OpenDescriptors();
  JobRun run{status, GetCapturedStdout()};
  EXPECT_EQ(after, before) << "descriptor left open";
  return run;
}

TEST(HostileSources, DirectoryIsRefusedWithoutADestination) {
  TempDir dir;
  const std::string directory = dir.Path("recordings");
  ASSERT_EQ(mkdir(directory.c_str(), 0755), 0);
  for (Job job : {RunHeaderJob, RunDecodeJob}) {
    const JobRun run = RunInProcess(job, directory, dir.Path("dst"));
    EXPECT_EQ(run.status, 12);
    EXPECT_EQ(run.out, "\nFailed to read AMR File. Error(21)Failed to Read File (" + directory + ")");
    EXPECT_FALSE(Exists(dir.Path("dst")));
  }
}

Bytes Frames7(int count) {
  Bytes source = AmrWaveHeader();
  for (int i = 0; i < count; ++i) Append(source, Frame(7, static_cast<uint8_t>(i * 7)));
  return source;
}

// Paths are data, never format strings or text to be cleaned up: spaces, '%' conversions and
// bytes that are not ASCII reach the file system and the messages unchanged.
TEST(OddPaths, SpacesPercentSignsAndNonAsciiBytes) {
  TempDir dir;
  const std::string name = "rec %s %n %d 100% \xC3\xA9t\xC3\xA9 \xFF\xFE";
  const std::string source = dir.Path(name + ".wav");
  WriteFile(source, Frames7(3));
  for (const char* event : {"1", "2"}) {
    SCOPED_TRACE(event);
    const std::string destination = dir.Path(name + " out" + event);
    EXPECT_EQ(RunAmrconv(dir, {source, destination, event}).exit_code, 0);
    EXPECT_EQ(ReadFile(destination).size(), event[0] == '1' ? 62u + 3 * 320 : 6u + 3 * 32);

    const std::string missing = dir.Path(name + " missing");
    const RunResult r = RunAmrconv(dir, {missing, destination, event});
    EXPECT_EQ(r.exit_code, 3);
    EXPECT_EQ(r.out, "Failed to open AMR File. Error(2)Failed to Read File (" + missing + ")");
  }
}

// 259 characters is the longest path: it is used as given; 260 is refused before any file is
// touched, as source or as destination.
TEST(OddPaths, LongestPathIsUsedAndOneMoreIsRefused) {
  TempDir dir;
  WriteFile(dir.Path("src.wav"), Frames7(2));
  const auto path_of_length = [&](size_t length) {
    return dir.Path(std::string(length - dir.Path("").size(), 'p'));
  };
  const std::string longest = path_of_length(259);
  const std::string too_long = path_of_length(260);
  EXPECT_EQ(RunAmrconv(dir, {dir.Path("src.wav"), longest, "2"}).exit_code, 0);
  EXPECT_EQ(ReadFile(longest).size(), 6u + 2 * 32);
  EXPECT_EQ(RunAmrconv(dir, {longest, dir.Path("copy.amr"), "2"}).exit_code, 14);  // opened: an AMR file, no tag 310
  for (const auto& args : {std::vector<std::string>{dir.Path("src.wav"), too_long, "1"},
                           std::vector<std::string>{too_long, dir.Path("dst"), "2"}}) {
    EXPECT_EQ(RunAmrconv(dir, args).exit_code, 1);
    EXPECT_FALSE(Exists(too_long));
    EXPECT_FALSE(Exists(dir.Path("dst")));
  }
}

// ---- Interrupts, closed output and concurrent writers: the program as a child process ----

using std::chrono::milliseconds;
using std::chrono::steady_clock;

// Starts amrconv with `args` on the given descriptors for standard input, output and error.
pid_t Start(const std::vector<std::string>& args, int in, int out, int err) {
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(in, 0), dup2(out, 1), dup2(err, 2);
    std::vector<char*> argv{const_cast<char*>(AMRCONV_BINARY)};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(AMRCONV_BINARY, argv.data());
    _exit(127);
  }
  return pid;
}

// Gives the child time to settle where it waits, after it has become amrconv: a signal sent
// before the exec would hit the test's own copy of itself.
void LetSettle(pid_t pid, milliseconds settle) {
  const std::string program = std::filesystem::canonical(AMRCONV_BINARY).string();
  const std::string exe = "/proc/" + std::to_string(pid) + "/exe";
  for (int i = 0; i < 2500; ++i) {
    std::error_code error;
    if (std::filesystem::read_symlink(exe, error).string() == program) break;
    std::this_thread::sleep_for(milliseconds(2));
  }
  std::this_thread::sleep_for(settle);
}

struct Ended {
  int wstatus;
  double seconds;  // from the call to the end
  bool hung;       // still running after the limit: killed with SIGKILL
};

// Waits for the child at most `limit`, then kills it.
Ended WaitAtMost(pid_t pid, milliseconds limit) {
  const auto start = steady_clock::now();
  int wstatus = 0;
  bool hung = false;
  while (waitpid(pid, &wstatus, WNOHANG) == 0) {
    if (steady_clock::now() - start > limit) {
      hung = true;
      kill(pid, SIGKILL);
      waitpid(pid, &wstatus, 0);
      break;
    }
    std::this_thread::sleep_for(milliseconds(2));
  }
  return {wstatus, std::chrono::duration<double>(steady_clock::now() - start).count(), hung};
}

int ExitCode(const Ended& e) { return WIFEXITED(e.wstatus) ? WEXITSTATUS(e.wstatus) : -1; }

std::string Text(const std::string& path) {
  const Bytes b = ReadFile(path);
  return std::string(b.begin(), b.end());
}

// A FIFO destination whose reader has it open but reads nothing: the header job blocks on its
// write and SIGTERM must end it at once, with no SIGKILL. The signal arrives in a blocked
// frame write; in the blocked write of the magic (the pipe full from the start); and while the
// job waits for its FIFO source, so that the frames it still holds meet a pipe with room for
// the magic alone: that blocked write comes after the signal. What reached the pipe is the
// start of the magic and the source's frames.
TEST(Interrupts, StalledPipeEndsTheJobWithinASecondOfSigterm) {
  TempDir dir;
  WriteFile(dir.Path("big.wav"), Frames7(4000));
  Bytes expected = {'#', '!', 'A', 'M', 'R', '\n'};
  const Bytes source_bytes = Frames7(4000);
  expected.insert(expected.end(), source_bytes.begin() + 62, source_bytes.end());
  struct Case {
    const char* name;
    bool source_is_fifo;
    int room;  // bytes left in a 4 KiB pipe, or -1 for an empty pipe of the usual size
  } cases[] = {{"signal in a frame write", false, -1}, {"signal in the magic's write", false, 0},
               {"signal while reading the source", true, 6}};
  int count = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string fifo = dir.Path("dst" + std::to_string(++count));
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    const size_t prefilled = c.room < 0 ? 0 : 4096 - c.room;
    if (c.room >= 0) {
      const int filler = open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
      ASSERT_EQ(fcntl(filler, F_SETPIPE_SZ, 4096), 4096);
      ASSERT_EQ(write(filler, Bytes(prefilled, 'x').data(), prefilled), static_cast<ssize_t>(prefilled));
      close(filler);
    }
    const std::string source = dir.Path(c.source_is_fifo ? "src" : "big.wav");
    if (c.source_is_fifo) {
      ASSERT_EQ(mkfifo(source.c_str(), 0600), 0);
    }
    const int out = open(dir.Path("out.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const pid_t pid = Start({source, fifo, "2"}, open("/dev/null", O_RDONLY), out, out);
    int feed = -1;
    if (c.source_is_fifo) {
      feed = open(source.c_str(), O_WRONLY);
      const Bytes some = Frames7(10);
      ASSERT_EQ(write(feed, some.data(), some.size()), static_cast<ssize_t>(some.size()));
    }
    LetSettle(pid, milliseconds(300));
    kill(pid, SIGTERM);
    const Ended e = WaitAtMost(pid, milliseconds(3000));
    if (feed >= 0) close(feed);
    close(out);
    EXPECT_FALSE(e.hung);
    EXPECT_LT(e.seconds, 1.0);
    EXPECT_EQ(ExitCode(e), 143);
    EXPECT_NE(Text(dir.Path("out.txt")).find("\nInterrupted by signal 15: stopped after "), std::string::npos)
        << Text(dir.Path("out.txt"));

    Bytes piped(200000);
    const ssize_t n = read(reader, piped.data(), piped.size());
    close(reader);
    ASSERT_GE(n, static_cast<ssize_t>(prefilled));
    ASSERT_LE(static_cast<size_t>(n) - prefilled, expected.size());
    EXPECT_TRUE(std::equal(piped.begin() + prefilled, piped.begin() + n, expected.begin()));
  }
}

// Until a job starts, an interrupt ends the program at once: Ctrl-C at the usage prompt kills
// it by SIGINT. While the job waits for its FIFO source to open (no frame read yet), SIGTERM
// ends it with 143 and no destination; while it waits for a second frame, SIGINT ends it with
// 130 and a complete file of one frame.
TEST(Interrupts, AtTheUsagePromptAndBeforeTheFirstFrame) {
  TempDir dir;
  int keys[2];
  ASSERT_EQ(pipe(keys), 0);
  const int null = open("/dev/null", O_WRONLY);
  pid_t pid = Start({}, keys[0], null, null);
  close(keys[0]);
  LetSettle(pid, milliseconds(200));
  kill(pid, SIGINT);
  Ended e = WaitAtMost(pid, milliseconds(2000));
  close(keys[1]);
  EXPECT_TRUE(WIFSIGNALED(e.wstatus) && WTERMSIG(e.wstatus) == SIGINT) << "exit code " << ExitCode(e);

  ASSERT_EQ(mkfifo(dir.Path("src").c_str(), 0600), 0);
  for (const char* event : {"1", "2"}) {
    SCOPED_TRACE(event);
    const int out = open(dir.Path("out.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid = Start({dir.Path("src"), dir.Path("dst"), event}, open("/dev/null", O_RDONLY), out, out);
    LetSettle(pid, milliseconds(200));
    kill(pid, SIGTERM);
    e = WaitAtMost(pid, milliseconds(2000));
    close(out);
    EXPECT_FALSE(e.hung);
    EXPECT_EQ(ExitCode(e), 143);
    EXPECT_NE(Text(dir.Path("out.txt")).find("\nInterrupted by signal 15 before the first frame"), std::string::npos)
        << Text(dir.Path("out.txt"));
    EXPECT_FALSE(Exists(dir.Path("dst")));
  }

  // One frame, then the job waits for the next: Ctrl-C ends the read, and the destination
  // holds that frame under a header that counts it.
  const int out = open(dir.Path("out.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid = Start({dir.Path("src"), dir.Path("dst"), "1"}, open("/dev/null", O_RDONLY), out, out);
  const int feed = open(dir.Path("src").c_str(), O_WRONLY);
  const Bytes one = Frames7(1);
  ASSERT_EQ(write(feed, one.data(), one.size()), static_cast<ssize_t>(one.size()));
  LetSettle(pid, milliseconds(300));
  kill(pid, SIGINT);
  e = WaitAtMost(pid, milliseconds(2000));
  close(feed);
  close(out);
  EXPECT_EQ(ExitCode(e), 130);
  EXPECT_TRUE(Text(dir.Path("out.txt")).ends_with(
      "\nInterrupted by signal 2: stopped after 1 decoded frame, which the WAV file holds under a complete header.\n"))
      << Text(dir.Path("out.txt"));
  const Bytes dst = ReadFile(dir.Path("dst"));
  ASSERT_EQ(dst.size(), 62u + 320);
  EXPECT_EQ(Le32(dst, 58), 320u);
  close(null);
}

// `amrconv big.wav out 1 | head -n 3`: the reader of standard output leaves after three lines.
// The job stops like an interrupt with 141 (128 + SIGPIPE) and says so on standard error; the
// destination is a prefix of a full run's, of whole frames, under a header that counts them.
TEST(ClosedOutput, ReaderThatLeavesEndsTheJobWithAFinishedFile) {
  TempDir dir;
  WriteFile(dir.Path("big.wav"), Frames7(20000));
  for (const char* event : {"1", "2"}) {
    SCOPED_TRACE(event);
    const bool wav = event[0] == '1';
    ASSERT_EQ(RunAmrconv(dir, {dir.Path("big.wav"), dir.Path("full"), event}).exit_code, 0);
    int out[2];
    ASSERT_EQ(pipe2(out, O_CLOEXEC), 0);  // the child must not hold the read end itself
    const int err = open(dir.Path("err.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const pid_t pid = Start({dir.Path("big.wav"), dir.Path("dst"), event}, open("/dev/null", O_RDONLY), out[1], err);
    close(out[1]);
    close(err);
    int lines = 0;
    for (char c; lines < 3 && read(out[0], &c, 1) == 1;) lines += c == '\n';
    close(out[0]);
    const Ended e = WaitAtMost(pid, milliseconds(20000));
    EXPECT_EQ(lines, 3);
    EXPECT_EQ(ExitCode(e), 141);
    EXPECT_NE(Text(dir.Path("err.txt")).find("\nInterrupted by signal 13 (standard output closed): stopped after "),
              std::string::npos) << Text(dir.Path("err.txt"));

    const Bytes full = ReadFile(dir.Path("full"));
    const Bytes dst = ReadFile(dir.Path("dst"));
    const size_t head = wav ? 62 : 6;
    ASSERT_GT(dst.size(), head);
    ASSERT_LT(dst.size(), full.size());
    EXPECT_EQ((dst.size() - head) % (wav ? 320 : 32), 0u);
    EXPECT_TRUE(std::equal(dst.begin() + head, dst.end(), full.begin() + head));
    if (wav) {
      EXPECT_EQ(Le32(dst, 58), dst.size() - 62);
    }
  }
}

#if defined(__SANITIZE_ADDRESS__)
[[gnu::noinline]] void LeakBlocks() {
  for (int i = 0; i < 8; ++i) {
    void* volatile block = std::malloc(48);
    if (block == nullptr) _exit(2);
    block = nullptr;
  }
}

// The sanitizer build relies on LeakSanitizer to catch memory left allocated on any job path:
// make sure it runs here rather than being silently switched off (the leak is made in a child).
TEST(Sanitizers, LeakDetectionIsActive) {
  const pid_t pid = fork();
  if (pid == 0) {
    LeakBlocks();
    _exit(__lsan_do_recoverable_leak_check() != 0 ? 0 : 1);
  }
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  EXPECT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0) << "LeakSanitizer found no leak";
}
#endif

}  // namespace
