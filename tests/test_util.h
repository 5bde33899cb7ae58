// Helpers shared by the converter's tests: a scratch directory, AMR-in-WAV sources built
// from bytes, and running the amrconv program as a child process.
#ifndef TESTS_TEST_UTIL_H
#define TESTS_TEST_UTIL_H

#if defined(_WIN32)
#include <process.h>
#else
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "amrdec/amrnb_decoder.h"

namespace testutil {

using Bytes = std::vector<uint8_t>;

#ifdef AMRCONV_TEST_DATA_DIR
// The conformance streams: NAME.wav, with the program's output NAME.out.wav and the traces.
inline const std::string kConformanceDir = std::string(AMRCONV_TEST_DATA_DIR) + "/conformance/";
inline const char* const kConformanceStreams[] = {"mode0", "mode1", "mode2", "mode3", "mode4", "mode5", "mode6", "mode7",
                                                  "mixed", "dtx", "homing", "speechlike", "speechlike_bad", "stress",
                                                  "lowmode_bad"};
#endif

// Little-endian 16-bit samples from `offset` on (62: after an output WAV file's header).
inline std::vector<int16_t> Samples16(const Bytes& bytes, size_t offset = 0) {
  std::vector<int16_t> s;
  for (size_t i = offset; i + 1 < bytes.size(); i += 2) s.push_back(static_cast<int16_t>(bytes[i] | bytes[i + 1] << 8));
  return s;
}

// Frame lengths by frame type, header byte included, as the program's reader takes them,
// worked out here from the payload bit counts of the 3GPP modes (not taken from the decoder's
// table, so that a wrong entry there fails the tests): types 0..8 are the eight speech modes
// and the SID frame, rounded up to whole bytes behind the header byte; type 9 is read as 32
// bytes, 10..14 have no frames (0), 15 (no data) is the header byte alone.
inline constexpr auto kFrameBytes = [] {
  constexpr int kPayloadBits[9] = {95, 103, 118, 134, 148, 159, 204, 244, 39};
  std::array<int, 16> bytes{};
  for (int i = 0; i < 9; ++i) bytes[i] = 1 + (kPayloadBits[i] + 7) / 8;
  bytes[9] = 32;
  bytes[15] = 1;
  return bytes;
}();

class TempDir {
 public:
  TempDir() {
#if defined(_WIN32)  // no mkdtemp: the process id and a count make the name unique
    static int count = 0;
    path_ = std::filesystem::temp_directory_path() /
            ("amrconv_" + std::to_string(_getpid()) + "_" + std::to_string(++count));
    std::filesystem::create_directories(path_);
#else
    std::string pattern = (std::filesystem::temp_directory_path() / "amrconv_XXXXXX").string();
    path_ = mkdtemp(pattern.data());
#endif
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  std::string Path(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

inline void Append(Bytes& to, const Bytes& from) { to.insert(to.end(), from.begin(), from.end()); }

// A 62-byte AMR-in-WAV header as a recorder writes it, with the given format tag.
inline Bytes AmrWaveHeader(uint16_t format_tag = 310) {
  Bytes h;
  h.reserve(62);
  auto put = [&h](uint32_t value, int width) {
    for (int i = 0; i < width; ++i) h.push_back(static_cast<uint8_t>(value >> (8 * i)));
  };
  auto id = [&h](const char* s) { h.insert(h.end(), s, s + 4); };
  id("RIFF"), put(0, 4), id("WAVE"), id("fmt "), put(22, 4), put(format_tag, 2), put(1, 2);
  put(8000, 4), put(1525, 4), put(32, 2), put(0, 2), put(2, 2), put(0x4001, 4);
  id("fact"), put(4, 4), put(0, 4), id("data"), put(0, 4);
  return h;
}

// One frame of `type`: header byte with the quality bit set, payload counting up from `seed`.
// Types without frames give their header byte alone.
inline Bytes Frame(int type, uint8_t seed = 0) {
  Bytes f{static_cast<uint8_t>(type << 3 | 4)};
  for (int i = 1; i < kFrameBytes[type]; ++i) f.push_back(static_cast<uint8_t>(seed + i));
  return f;
}

// The little-endian 32-bit field at `offset` of a file's bytes.
inline uint32_t Le32(const Bytes& b, size_t offset) {
  return b[offset] | b[offset + 1] << 8 | b[offset + 2] << 16 | static_cast<uint32_t>(b[offset + 3]) << 24;
}

inline void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
}

inline Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The frames of an AMR-in-WAV file as the decode job reads them (types 10..14 are one byte, a
// frame cut short is not decoded), each in a buffer of exactly its size (AddressSanitizer
// reports a read past it).
inline std::vector<Bytes> WaveFrames(const std::string& path) {
  const Bytes file = ReadFile(path);
  std::vector<Bytes> frames;
  for (size_t pos = 62, len; pos < file.size(); pos += len) {
    len = static_cast<size_t>(std::max(kFrameBytes[(file[pos] >> 3) & 15], 1));
    if (pos + len > file.size()) break;
    frames.emplace_back(file.begin() + static_cast<std::ptrdiff_t>(pos), file.begin() + static_cast<std::ptrdiff_t>(pos + len));
  }
  return frames;
}

inline bool Exists(const std::string& path) { return std::filesystem::exists(path); }

#ifdef AMRCONV_BINARY
struct RunResult {
  int exit_code;
  std::string out;
};

// Starts amrconv with `args`, standard output to `out_path`, standard input from /dev/null
// or, with `stdin_pipe`, from a pipe whose write end is returned there.
inline pid_t Spawn(const std::vector<std::string>& args, const std::string& out_path,
                   int* stdin_pipe = nullptr) {
  int fds[2] = {-1, -1};
  if (stdin_pipe != nullptr && pipe(fds) != 0) return -1;
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(stdin_pipe != nullptr ? fds[0] : open("/dev/null", O_RDONLY), 0);
    dup2(open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
    std::vector<char*> argv{const_cast<char*>(AMRCONV_BINARY)};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(AMRCONV_BINARY, argv.data());
    _exit(127);
  }
  if (stdin_pipe != nullptr) close(fds[0]), *stdin_pipe = fds[1];
  return pid;
}

inline RunResult Finish(pid_t pid, const std::string& out_path) {
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  const Bytes out = ReadFile(out_path);
  return {WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1, std::string(out.begin(), out.end())};
}

inline RunResult RunAmrconv(const TempDir& dir, const std::vector<std::string>& args) {
  const std::string out_path = dir.Path("stdout.txt");
  return Finish(Spawn(args, out_path), out_path);
}
#endif

// The lines printed for AmrWaveHeader(), with the given values for the fields tests vary.
inline std::string HeaderLines(const std::string& chunk_size = "0", const std::string& channels = "1",
                               const std::string& format_tag = "310") {
  const std::pair<const char*, std::string> lines[] = {
      {"RIFF header", "RIFF"}, {"ChunkSize", chunk_size}, {"WAVE header", "WAVE"}, {"FMT", "fmt "},
      {"Subchunk1Size", "22"}, {"AudioFormat", format_tag}, {"Number of channels", channels},
      {"bitsPerSample", "0"}, {"Sampling Rate", "8000"}, {"Number of bytes per second", "1525"},
      {"blockAlign", "32"}, {"Number of bits used", "0"}, {"ExtraformatbytesLen", "2"},
      {"Extraformatbytes", "16385"}, {"Subchunk2ID", "fact"}, {"Subchunk2Size", "4"},
      {"Format Dependant Data", "0"}, {"Subchunk3ID", "data"}, {"Subchunk3Size", "0"}};
  std::string s;
  for (const auto& [label, value] : lines) {
    s.append(label).append(38 - std::strlen(label), ' ').append(":").append(value).append("\n");
  }
  return s.append(59, '-').append("\n");
}

// Replaces the three millisecond values of the timing lines by "T".
inline std::string MaskTimes(const std::string& out) {
  return std::regex_replace(out, std::regex(R"((Time|TimeDiffernce)\(\d+\))"), "$1(T)");
}

// What a job prints when the source ends right after a complete frame, then its timing lines.
inline const std::string kNoMoreFrames = "\nRead Length returned 0 bytes. Error(0)";
inline const std::string kTimingLines =
    "\nReached End of File.\nStartReading..Time(T)\n\nStop Reading..Time(T)\n\nTimeDiffernce(T)";

}  // namespace testutil

#endif  // TESTS_TEST_UTIL_H
