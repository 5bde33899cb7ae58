// The platform layer seen through the jobs: which destinations are the source file itself,
// file names beyond ASCII, the path limit, the error numbers that failed opens report, and
// the lock that keeps a second writer off a destination.
// On Windows these are Windows' own rules (file index, UTF-16 names, GetLastError).
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/jobs.h"
#include "container/platform.h"
#include "test_util.h"

using namespace testutil;
namespace fs = std::filesystem;
using Job = int32_t (*)(const char*, const char*);

namespace {

// A conformance stream with every mode, SID and no-data frames.
const std::string kStream = AMRCONV_TEST_DATA_DIR "/conformance/mixed.wav";

// Runs a job in-process and returns its status; what it printed goes to `out`.
int32_t RunJob(Job job, const std::string& source, const std::string& destination,
               std::string* out = nullptr) {
  testing::internal::CaptureStdout();
  const int32_t status = job(source.c_str(), destination.c_str());
  const std::string printed = testing::internal::GetCapturedStdout();
  if (out != nullptr) *out = printed;
  return status;
}

std::string Utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

Bytes Contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

#if defined(_WIN32)
// Runs amrconv.exe with UTF-16 arguments, as a Windows shell starts it; returns its exit code.
int RunProgram(const std::vector<std::wstring>& args) {
  const std::wstring program = fs::path(AMRCONV_PROGRAM).wstring();
  std::vector<std::wstring> quoted{L"\"" + program + L"\""};
  for (const auto& arg : args) quoted.push_back(L"\"" + arg + L"\"");
  std::vector<const wchar_t*> argv;
  for (const auto& arg : quoted) argv.push_back(arg.c_str());
  argv.push_back(nullptr);
  return static_cast<int>(_wspawnv(_P_WAIT, program.c_str(), argv.data()));
}
constexpr const char* kRespelledSource = "out/../REC.WAV";  // case-blind names, either slash
constexpr int kDirectoryOpenError = 5;                      // ERROR_ACCESS_DENIED
#else
constexpr const char* kRespelledSource = "out/../rec.wav";
constexpr int kDirectoryOpenError = EISDIR;
#endif

}  // namespace

TEST(SameFileGuard, RefusesTheSourceUnderAnyNameAndAcceptsOtherFiles) {
  TempDir dir;
  const std::string source = dir.Path("rec.wav");
  fs::copy_file(kStream, source);
  fs::create_directory(dir.Path("out"));
  fs::create_hard_link(source, dir.Path("out/link.wav"));
#if !defined(_WIN32)  // creating symbolic links on Windows takes a privilege
  fs::create_symlink(source, dir.Path("out/symlink.wav"));
#endif
  for (const char* destination : {kRespelledSource, "out/link.wav", "out/symlink.wav"}) {
    if (!Exists(dir.Path(destination))) continue;
    for (Job job : {RunHeaderJob, RunDecodeJob}) {
      SCOPED_TRACE(destination);
      EXPECT_EQ(RunJob(job, source, dir.Path(destination)), 3);
      EXPECT_EQ(ReadFile(source), ReadFile(kStream));
    }
  }
  // An existing file in another folder of the same drive is another file.
  const std::string other = dir.Path("out/other.amr");
  WriteFile(other, Bytes(10, 0));
  EXPECT_EQ(RunJob(RunHeaderJob, source, other), 0);
  EXPECT_EQ(ReadFile(other).size(), 6 + fs::file_size(source) - 62);
}

TEST(FileNames, NonAsciiNamesConvert) {
  TempDir dir;
  const fs::path folder = fs::path(dir.Path("")) / u8"Aufnahmen_äöü";
  const fs::path source = folder / u8"grabación_日本語.wav";
  const fs::path destination = folder / u8"décodé_日本語.wav";
  fs::create_directory(folder);
  fs::copy_file(kStream, source);
  EXPECT_EQ(RunJob(RunDecodeJob, Utf8(source), Utf8(destination)), 0);
  const Bytes decoded = ReadFile(AMRCONV_TEST_DATA_DIR "/conformance/mixed.out.wav");
  EXPECT_EQ(Contents(destination), decoded);
#if defined(_WIN32)
  // The program itself reads its arguments from the UTF-16 command line.
  fs::remove(destination);
  EXPECT_EQ(RunProgram({source.wstring(), destination.wstring(), L"1"}), 0);
  EXPECT_EQ(Contents(destination), decoded);
#endif
}

#if defined(_WIN32)
TEST(FileNames, PathLimitCountsUtf16CodeUnits) {
  // 259 letters of two UTF-8 bytes each are within the limit (no such file: exit 3), 260 are not.
  EXPECT_EQ(RunProgram({std::wstring(259, L'\u00e4'), L"dst.amr", L"2"}), 3);
  EXPECT_EQ(RunProgram({std::wstring(260, L'\u00e4'), L"dst.amr", L"2"}), 1);
}
#endif

TEST(ErrorNumbers, FailedOpensReportTheSystemsOwnNumber) {
  TempDir dir;
  const std::string missing = dir.Path("missing.wav");
  const std::string folder = dir.Path("folder");
  std::string out;
  EXPECT_EQ(RunJob(RunHeaderJob, missing, dir.Path("dst"), &out), 3);
  EXPECT_EQ(out, "Failed to open AMR File. Error(2)Failed to Read File (" + missing + ")");
  fs::create_directory(folder);
  const std::string error = "Failed to open(" + folder + ") Error(" + std::to_string(kDirectoryOpenError) + ")";
  for (Job job : {RunHeaderJob, RunDecodeJob}) {
    EXPECT_EQ(RunJob(job, kStream, folder, &out), 3);
    EXPECT_NE(out.find(error), std::string::npos) << out;
  }
#if defined(_WIN32)  // a folder cannot be opened as a file there; POSIX opens it and fails the read
  RunJob(RunHeaderJob, folder, dir.Path("dst"), &out);
  EXPECT_EQ(out, "Failed to open AMR File. Error(5)Failed to Read File (" + folder + ")");
#endif
}

// A destination that another amrconv is writing (this test holds its lock, as that program
// would) is refused by both jobs and left as it is, still readable; once its writer has closed
// it, it is written. On Windows the lock is LockFileEx's.
TEST(DestinationLock, LockedDestinationIsRefusedAndLeftAsItIs) {
  TempDir dir;
  const std::string destination = dir.Path("dst");
  DestinationOpen how = DestinationOpen::kFailed;
  FILE* writer = OpenDestination(destination.c_str(), false, &how);
  ASSERT_NE(writer, nullptr);
  EXPECT_EQ(how, DestinationOpen::kOpened);
  ASSERT_EQ(std::fwrite("partial", 1, 7, writer), 7u);
  for (Job job : {RunHeaderJob, RunDecodeJob}) {
    std::string out;
    EXPECT_EQ(RunJob(job, kStream, destination, &out), 3);
    EXPECT_NE(out.find("is being written by another amrconv"), std::string::npos) << out;
    EXPECT_EQ(ReadFile(destination), Bytes({'p', 'a', 'r', 't', 'i', 'a', 'l'}));
  }
  std::fclose(writer);
  EXPECT_EQ(RunJob(RunHeaderJob, kStream, destination), 0);
  EXPECT_EQ(ReadFile(destination).size(), 6 + fs::file_size(kStream) - 62);
}
