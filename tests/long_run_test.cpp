// Long run: ten hours of generated speech with mode changes, bad frames, no-data frames and
// DTX periods through the decode job. The output must count every frame, and the peak memory
// must not grow with the length of the recording (compared with a one-minute run).
#include <sys/personality.h>
#include <sys/resource.h>

#include <gtest/gtest.h>

#include "test_util.h"

using namespace testutil;

namespace {

// Runs a program with standard input and output on /dev/null; returns its peak RSS in KB,
// or -1 if it did not exit with 0.
long PeakRssKb(std::vector<std::string> argv) {
  const pid_t pid = fork();
  if (pid == 0) {
    // Address-space randomisation alone moves the peak by up to ~200 KB from run to run.
    personality(ADDR_NO_RANDOMIZE);
    dup2(open("/dev/null", O_RDWR), 0), dup2(0, 1);
    std::vector<char*> args;
    for (std::string& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  int wstatus = 0;
  rusage usage{};
  wait4(pid, &wstatus, 0, &usage);
  return WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0 ? usage.ru_maxrss : -1;
}

long DecodeGeneratedSpeech(const TempDir& dir, int seconds) {
  const std::string source = dir.Path("speech.wav"), output = dir.Path("speech.out.wav");
  EXPECT_GE(PeakRssKb({AMRSTREAMGEN_BINARY, "--seconds", std::to_string(seconds), "--mode-change", "0.01", "--bad",
                       "0.01", "--nodata", "0.01", "--dtx", "0.005", "--seed", "11", source}), 0);
  const long peak = PeakRssKb({AMRCONV_BINARY, source, output, "1"});
  EXPECT_GE(peak, 0);
  // 50 frames per second, each one 320 bytes of samples, all counted by the final header.
  const uint32_t data_bytes = static_cast<uint32_t>(seconds) * 50 * 320;
  Bytes header(62);
  std::ifstream(output, std::ios::binary).read(reinterpret_cast<char*>(header.data()), 62);
  EXPECT_EQ(std::filesystem::file_size(output), 62u + data_bytes);
  EXPECT_EQ((std::vector<uint32_t>{Le32(header, 4), Le32(header, 50), Le32(header, 58)}),
            (std::vector<uint32_t>{data_bytes + 54, data_bytes / 16000 * 8000, data_bytes}));
  std::filesystem::remove(source), std::filesystem::remove(output);
  return peak;
}

TEST(LongRun, TenHoursOfMixedSpeechWithFlatMemory) {
  TempDir dir;
  const long minute = DecodeGeneratedSpeech(dir, 60), ten_hours = DecodeGeneratedSpeech(dir, 10 * 3600);
  std::printf("peak RSS: one minute %ld KB, ten hours %ld KB\n", minute, ten_hours);
  EXPECT_LE(std::labs(ten_hours - minute), 100);
}

}  // namespace
