// Long run: ten hours of generated speech with mode changes, bad frames, no-data frames and
// DTX periods through the decode job. The output must count every frame, and the peak memory
// must not grow with the length of the recording (compared with a one-minute run).
#include <sys/personality.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "test_util.h"

using namespace testutil;

namespace {

// Runs a program with standard output discarded; returns its exit code and peak RSS in KB.
struct Usage {
  int exit_code;
  long peak_rss_kb;
};

Usage Run(const std::vector<std::string>& argv) {
  const pid_t pid = fork();
  if (pid == 0) {
    // Address-space randomisation alone moves the peak by up to ~200 KB from run to run; a
    // fixed layout leaves only what the run itself allocates.
    personality(ADDR_NO_RANDOMIZE);
    const int null_fd = open("/dev/null", O_RDWR);
    dup2(null_fd, 0);
    dup2(null_fd, 1);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  int wstatus = 0;
  rusage usage{};
  wait4(pid, &wstatus, 0, &usage);
  return {WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1, usage.ru_maxrss};
}

// The first 62 bytes of a file and its size.
Bytes HeaderOf(const std::string& path, uint64_t* size) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  *size = static_cast<uint64_t>(in.tellg());
  Bytes header(62);
  in.seekg(0);
  in.read(reinterpret_cast<char*>(header.data()), 62);
  return header;
}

Usage DecodeGeneratedSpeech(const TempDir& dir, int seconds) {
  const std::string source = dir.Path("speech.wav");
  const std::string output = dir.Path("speech.out.wav");
  const Usage generated =
      Run({AMRSTREAMGEN_BINARY, "--seconds", std::to_string(seconds), "--mode-change", "0.01", "--bad",
           "0.01", "--nodata", "0.01", "--dtx", "0.005", "--seed", "11", source});
  EXPECT_EQ(generated.exit_code, 0);
  const Usage decoded = Run({AMRCONV_BINARY, source, output, "1"});
  EXPECT_EQ(decoded.exit_code, 0);

  // 50 frames per second, each one 320 bytes of samples, all counted by the final header.
  const uint32_t data_bytes = static_cast<uint32_t>(seconds) * 50 * 320;
  uint64_t size = 0;
  const Bytes header = HeaderOf(output, &size);
  EXPECT_EQ(size, 62u + data_bytes);
  EXPECT_EQ(Le32(header, 4), data_bytes + 54);
  EXPECT_EQ(Le32(header, 50), data_bytes / 16000 * 8000);
  EXPECT_EQ(Le32(header, 58), data_bytes);
  std::remove(source.c_str());
  std::remove(output.c_str());
  return decoded;
}

TEST(LongRun, TenHoursOfMixedSpeechWithFlatMemory) {
  TempDir dir;
  const Usage minute = DecodeGeneratedSpeech(dir, 60);
  const Usage ten_hours = DecodeGeneratedSpeech(dir, 10 * 3600);
  std::printf("peak RSS: one minute %ld KB, ten hours %ld KB\n", minute.peak_rss_kb, ten_hours.peak_rss_kb);
  EXPECT_LE(std::labs(ten_hours.peak_rss_kb - minute.peak_rss_kb), 100);
}

}  // namespace
