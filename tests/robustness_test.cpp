// Sources and destinations that recorders, file transfers and full disks leave behind: write
// failures that stdio reports late, a directory as source, odd paths, and a destination
// that is the source itself. Nothing may crash, and no lost data may end with status 0.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

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

Bytes SourceWithFrames(int count) {
  Bytes source = AmrWaveHeader();
  for (int i = 0; i < count; ++i) Append(source, Frame(i % 8, static_cast<uint8_t>(i)));
  return source;
}

// The destination's first write fails at once, before any frame is read; a destination that
// cannot be rewound is refused before anything is written. Never a success.
TEST(WriteFailures, FullDeviceOrUnrewindableDestinationIsNeverASuccess) {
  const std::string kDecodeFailure =
      "\n Failed to write ret(0) Error(28)\nFailed to Write Header. File(/dev/full)\nFailed to Initialize Wave File..";
  struct Case {
    const char* name;
    Job job;
    int frames;
    const char* destination;
    int32_t status;
    std::string tail;
  } cases[] = {
      {"header job, full device", RunHeaderJob, 5, "/dev/full", 6, "\n Failed to write. AMR Header. Error(28)Failed to open File ("},
      {"decode job, full device", RunDecodeJob, 5, "/dev/full", 13, kDecodeFailure},
      {"decode job, pipe", RunDecodeJob, 5, "pipe", 3, "(a pipe, socket or terminal?). Error(29)"},
  };
  TempDir dir;
  ASSERT_EQ(mkfifo(dir.Path("pipe").c_str(), 0600), 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(dir.Path("src.wav"), SourceWithFrames(c.frames));
    const std::string destination = c.destination[0] == '/' ? c.destination : dir.Path(c.destination);
    const JobRun run = RunInProcess(c.job, dir.Path("src.wav"), destination);
    EXPECT_EQ(run.status, c.status);
    EXPECT_NE(run.out.find(c.tail), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find(" B0 L"), std::string::npos);
  }
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

// Paths are data, never format strings or text to be cleaned up: spaces, '%' conversions and
// bytes that are not ASCII reach the file system and the messages unchanged.
TEST(OddPaths, SpacesPercentSignsAndNonAsciiBytes) {
  TempDir dir;
  const std::string name = "rec %s %n %d 100% \xC3\xA9t\xC3\xA9 \xFF\xFE";
  const std::string source = dir.Path(name + ".wav");
  WriteFile(source, SourceWithFrames(3));
  for (const char* event : {"1", "2"}) {
    SCOPED_TRACE(event);
    const std::string destination = dir.Path(name + " out" + event);
    EXPECT_EQ(RunAmrconv(dir, {source, destination, event}).exit_code, 0);
    EXPECT_EQ(ReadFile(destination).size(), event[0] == '1' ? 62u + 3 * 320 : 6u + 13 + 14 + 16);

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
  WriteFile(dir.Path("src.wav"), SourceWithFrames(2));
  const auto path_of_length = [&](size_t length) {
    return dir.Path(std::string(length - dir.Path("").size(), 'p'));
  };
  const std::string longest = path_of_length(259);
  const std::string too_long = path_of_length(260);
  EXPECT_EQ(RunAmrconv(dir, {dir.Path("src.wav"), longest, "2"}).exit_code, 0);
  EXPECT_EQ(ReadFile(longest).size(), 6u + 13 + 14);
  EXPECT_EQ(RunAmrconv(dir, {longest, dir.Path("copy.amr"), "2"}).exit_code, 12);  // an AMR file, no header
  for (const auto& args : {std::vector<std::string>{dir.Path("src.wav"), too_long, "1"},
                           std::vector<std::string>{too_long, dir.Path("dst"), "2"}}) {
    EXPECT_EQ(RunAmrconv(dir, args).exit_code, 1);
    EXPECT_FALSE(Exists(too_long));
    EXPECT_FALSE(Exists(dir.Path("dst")));
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
