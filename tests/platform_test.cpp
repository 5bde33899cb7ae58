// The platform layer seen through the jobs: which destinations are the source file itself,
// file names beyond ASCII, and the error numbers that failed opens report. On Windows these
// are Windows' own rules (file index, UTF-16 names, GetLastError); elsewhere POSIX's.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/jobs.h"
#include "test_util.h"

using namespace testutil;
namespace fs = std::filesystem;

namespace {

using Job = int32_t (*)(const char*, const char*);

struct JobRun {
  int32_t status;
  std::string out;
};

JobRun RunJob(Job job, const std::string& source, const std::string& destination) {
  testing::internal::CaptureStdout();
  const int32_t status = job(source.c_str(), destination.c_str());
  return {status, testing::internal::GetCapturedStdout()};
}

// A conformance stream (all modes, SID and no-data frames) and its decoded form.
const Bytes& Source() {
  static const Bytes source = ReadFile(AMRCONV_TEST_DATA_DIR "/conformance/mixed.wav");
  return source;
}

Bytes Contents(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string Utf8(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
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

constexpr bool kWindows = true;
constexpr int kDirectoryOpenError = 5;  // ERROR_ACCESS_DENIED
#else
constexpr bool kWindows = false;
constexpr int kDirectoryOpenError = EISDIR;
#endif

}  // namespace

TEST(SameFileGuard, RefusesTheSourceUnderAnyNameAndAcceptsOtherFiles) {
  TempDir dir;
  const std::string source = dir.Path("rec.wav");
  WriteFile(source, Source());
  fs::create_directory(dir.Path("out"));
  fs::create_hard_link(source, dir.Path("out/link.wav"));
  // Windows names are case-blind and take either slash.
  const std::string respelled = dir.Path(kWindows ? "out/../REC.WAV" : "out/../rec.wav");
  for (const std::string& destination : {respelled, dir.Path("out/link.wav")}) {
    for (Job job : {RunHeaderJob, RunDecodeJob}) {
      SCOPED_TRACE(destination);
      const JobRun run = RunJob(job, source, destination);
      EXPECT_EQ(run.status, 3);
      EXPECT_NE(run.out.find("is the source file"), std::string::npos) << run.out;
      EXPECT_EQ(ReadFile(source), Source());
    }
  }
  // An existing file in another folder of the same drive is another file.
  const std::string other = dir.Path("out/other.amr");
  WriteFile(other, Bytes(10, 0));
  const JobRun run = RunJob(RunHeaderJob, source, other);
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(ReadFile(other).size(), 6 + Source().size() - 62);
}

TEST(FileNames, NonAsciiNamesConvert) {
  TempDir dir;
  const fs::path folder = fs::path(dir.Path("")) / u8"Aufnahmen_äöü";
  const fs::path source = folder / u8"grabación_日本語.wav";
  const fs::path destination = folder / u8"décodé_日本語.wav";
  fs::create_directory(folder);
  fs::copy_file(AMRCONV_TEST_DATA_DIR "/conformance/mixed.wav", source);
  const JobRun run = RunJob(RunDecodeJob, Utf8(source), Utf8(destination));
  EXPECT_EQ(run.status, 0) << run.out;
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
  JobRun run = RunJob(RunHeaderJob, missing, dir.Path("dst"));
  EXPECT_EQ(run.status, 3);
  EXPECT_EQ(run.out, "Failed to open AMR File. Error(2)Failed to Read File (" + missing + ")");

  const std::string folder = dir.Path("folder");
  fs::create_directory(folder);
  WriteFile(dir.Path("src.wav"), Source());
  for (Job job : {RunHeaderJob, RunDecodeJob}) {
    run = RunJob(job, dir.Path("src.wav"), folder);
    EXPECT_EQ(run.status, 3);
    EXPECT_NE(run.out.find("Failed to open(" + folder + ") Error(" + std::to_string(kDirectoryOpenError) + ")"),
              std::string::npos)
        << run.out;
  }
  if (kWindows) {  // a folder cannot be opened as a file there; POSIX opens it and fails the read
    run = RunJob(RunHeaderJob, folder, dir.Path("dst"));
    EXPECT_EQ(run.out, "Failed to open AMR File. Error(5)Failed to Read File (" + folder + ")");
  }
}
