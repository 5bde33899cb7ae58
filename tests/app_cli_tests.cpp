#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "test_util.h"

using namespace testutil;

namespace {

const std::string kUsage =
    "\n Invalied Arguments..\n ---------------------------------------"
    "\n Run the Exe with below 2 arguments\n 1: Source File Path\n 2: Destination File Path"
    "\n 3: Event Type. 1 For AMR to Wave, 2 For Adding AMR Header."
    "\n ---------------------------------------";

size_t EntryCount(const TempDir& dir) {
  const auto parent = std::filesystem::path(dir.Path("x")).parent_path();
  return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(parent), {}));
}

TEST(CommandLine, TooFewArgumentsPrintUsageAndWaitForAKey) {
  TempDir dir;
  for (const auto& args : {std::vector<std::string>{}, std::vector<std::string>{"a", "b"}}) {
    const RunResult r = RunAmrconv(dir, args);  // end of input counts as the key
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, kUsage);
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

TEST(CommandLine, InvalidEventTypeRunsNoJob) {
  TempDir dir;
  WriteFile(dir.Path("src.wav"), AmrWaveHeader());
  for (const char* event : {"0", "3", "-1", "x", ""}) {
    SCOPED_TRACE(event);
    const RunResult r = RunAmrconv(dir, {dir.Path("src.wav"), dir.Path("dst"), event});
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_EQ(r.out, "\nInvalid Argument. setting to default");
    EXPECT_FALSE(Exists(dir.Path("dst")));
  }
}

// Event types parse like "%d": leading blanks accepted, trailing text and arguments ignored.
TEST(CommandLine, EventTypeParsedLikeScanfDecimal) {
  TempDir dir;
  WriteFile(dir.Path("src.wav"), AmrWaveHeader());
  EXPECT_EQ(RunAmrconv(dir, {dir.Path("src.wav"), dir.Path("a.amr"), "2x", "extra"}).exit_code, 0);
  EXPECT_EQ(ReadFile(dir.Path("a.amr")), Bytes({'#', '!', 'A', 'M', 'R', '\n'}));
  EXPECT_EQ(RunAmrconv(dir, {dir.Path("src.wav"), dir.Path("b.wav"), " 1"}).exit_code, 0);
  EXPECT_EQ(ReadFile(dir.Path("b.wav")).size(), 62u);
}

TEST(CommandLine, OverlongPathsAreRefusedBeforeAnyFileIsTouched) {
  TempDir dir;
  WriteFile(dir.Path("src.wav"), AmrWaveHeader());
  const std::string long_path = dir.Path(std::string(300, 'a'));
  WriteFile(dir.Path("stdout.txt"), {});
  const size_t entries = EntryCount(dir);
  for (const auto& args : {std::vector<std::string>{long_path, dir.Path("dst"), "2"},
                           std::vector<std::string>{dir.Path("src.wav"), long_path, "1"}}) {
    const RunResult r = RunAmrconv(dir, args);
    EXPECT_EQ(r.exit_code, 1);
    EXPECT_NE(r.out.find("longer than 259 characters"), std::string::npos) << r.out;
    EXPECT_EQ(EntryCount(dir), entries);
  }
  // 259 characters still fit: the job runs and reports the missing file.
  const std::string fits = dir.Path(std::string(259 - dir.Path("").size(), 'b'));
  ASSERT_EQ(fits.size(), 259u);
  EXPECT_EQ(RunAmrconv(dir, {fits, dir.Path("dst"), "2"}).exit_code, 3);
}

}  // namespace
