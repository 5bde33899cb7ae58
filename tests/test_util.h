// Helpers shared by the converter's tests: a scratch directory, AMR-in-WAV sources built
// from bytes, and running the amrconv program as a child process.
#ifndef TESTS_TEST_UTIL_H
#define TESTS_TEST_UTIL_H

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

namespace testutil {

using Bytes = std::vector<uint8_t>;

// Frame lengths by frame type, header byte included, as a storage-layout file carries them.
inline constexpr int kFrameBytes[16] = {13, 14, 16, 18, 20, 21, 27, 32, 6, 32, 0, 0, 0, 0, 0, 1};

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "amrconv_XXXXXX").string();
    path_ = mkdtemp(pattern.data());
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  std::string Path(const std::string& name) const { return (path_ / name).string(); }

 private:
  std::filesystem::path path_;
};

inline void Put(Bytes& b, uint32_t value, int width) {
  for (int i = 0; i < width; ++i) b.push_back(static_cast<uint8_t>(value >> (8 * i)));
}
inline void PutId(Bytes& b, const char* id) { b.insert(b.end(), id, id + 4); }

// A 62-byte AMR-in-WAV header as a recorder writes it, with the given format tag.
inline Bytes AmrWaveHeader(uint16_t format_tag = 310) {
  Bytes h;
  PutId(h, "RIFF"); Put(h, 0, 4); PutId(h, "WAVE"); PutId(h, "fmt "); Put(h, 22, 4);
  Put(h, format_tag, 2); Put(h, 1, 2); Put(h, 8000, 4); Put(h, 1525, 4); Put(h, 32, 2);
  Put(h, 0, 2); Put(h, 2, 2); Put(h, 0x4001, 4); PutId(h, "fact"); Put(h, 4, 4);
  Put(h, 0, 4); PutId(h, "data"); Put(h, 0, 4);
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

inline void Append(Bytes& to, const Bytes& from) { to.insert(to.end(), from.begin(), from.end()); }

inline void WriteFile(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                              static_cast<std::streamsize>(bytes.size()));
}

inline Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
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
    const int in = stdin_pipe != nullptr ? fds[0] : open("/dev/null", O_RDONLY);
    const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(in, 0);
    dup2(out, 1);
    std::vector<char*> argv{const_cast<char*>(AMRCONV_BINARY)};
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(AMRCONV_BINARY, argv.data());
    _exit(127);
  }
  if (stdin_pipe != nullptr) {
    close(fds[0]);
    *stdin_pipe = fds[1];
  }
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

// A source and a destination in a scratch directory, and one job run on them.
struct JobFiles {
  explicit JobFiles(const char* event_type) : event(event_type) {}
  RunResult RunJob(const Bytes& source) {
    WriteFile(src, source);
    return RunAmrconv(dir, {src, dst, event});
  }
  std::string event;
  TempDir dir;
  std::string src = dir.Path("src.wav");
  std::string dst = dir.Path("dst");
};
#endif

inline std::string Label(const char* name) {
  std::string s(name);
  s.resize(38, ' ');
  return s + ":";
}

// The lines printed for AmrWaveHeader(), with the given values for the fields tests vary.
inline std::string HeaderLines(const std::string& chunk_size = "0", const std::string& channels = "1",
                               const std::string& format_tag = "310") {
  return Label("RIFF header") + "RIFF\n" + Label("ChunkSize") + chunk_size + "\n" +
         Label("WAVE header") + "WAVE\n" + Label("FMT") + "fmt \n" + Label("Subchunk1Size") +
         "22\n" + Label("AudioFormat") + format_tag + "\n" + Label("Number of channels") +
         channels + "\n" + Label("bitsPerSample") + "0\n" + Label("Sampling Rate") + "8000\n" +
         Label("Number of bytes per second") + "1525\n" + Label("blockAlign") + "32\n" +
         Label("Number of bits used") + "0\n" + Label("ExtraformatbytesLen") + "2\n" +
         Label("Extraformatbytes") + "16385\n" + Label("Subchunk2ID") + "fact\n" +
         Label("Subchunk2Size") + "4\n" + Label("Format Dependant Data") + "0\n" +
         Label("Subchunk3ID") + "data\n" + Label("Subchunk3Size") + "0\n" +
         std::string(59, '-') + "\n";
}

// Replaces the three millisecond values of the timing lines by "T".
inline std::string MaskTimes(const std::string& out) {
  return std::regex_replace(out, std::regex(R"((Time|TimeDiffernce)\(\d+\))"), "$1(T)");
}

// What the frame reader prints when the source ends right after a complete frame.
inline const std::string kNoMoreFrames = "\nRead Length returned 0 bytes. Error(0)";

inline const std::string kTimingLines =
    "\nReached End of File.\nStartReading..Time(T)\n\nStop Reading..Time(T)\n\nTimeDiffernce(T)";

}  // namespace testutil

#endif  // TESTS_TEST_UTIL_H
