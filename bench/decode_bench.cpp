// Decoder benchmarks: DecodeFrame per mode on a random-payload and a plausible-speech stream,
// on a DTX stream, and the two jobs end to end on one hour of mixed-mode speech. On the same
// hour, the library's file reader (amrnb_file_read_pcm) against the program's decode loop
// (ReadAmrFrame and DecodeFrame, the samples not written), and amrnb_convert_file against the
// decode job, both end to end.
// x_realtime is audio time over decoding time (each frame is 20 ms of audio).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "amrdec/amrnb_decoder.h"
#include "amrdec/amrnb_file.h"
#include "app/jobs.h"
#include "container/amr_wave_reader.h"
#include "bench/stream_frames.h"

namespace {

const std::string kStreams = AMRCONV_BENCH_STREAMS_DIR;
constexpr double kFrameSeconds = 0.020;

void DecodeStream(benchmark::State& bs, const std::vector<bench::FrameSlot>& frames) {
  std::vector<unsigned char> state(amrnb::kDecoderStateSize), scratch(amrnb::kDecoderScratchSize);
  auto* st = reinterpret_cast<amrnb::DecoderState*>(state.data());
  auto* scr = reinterpret_cast<amrnb::DecoderScratch*>(scratch.data());
  amrnb::ResetDecoder(0, st);
  int16_t pcm[amrnb::kFrameSamples];
  std::size_t n = 0;
  for (auto _ : bs) {
    bench::FrameSlot slot = frames[n];
    if (++n == frames.size()) n = 0;
    amrnb::DecodeFrame(slot.data(), st, scr, pcm, 0);
    benchmark::DoNotOptimize(pcm);
  }
  bs.counters["x_realtime"] =
      benchmark::Counter(static_cast<double>(bs.iterations()) * kFrameSeconds, benchmark::Counter::kIsRate);
}

// Runs a job with standard output sent to /dev/null, as a user would when converting in bulk.
int32_t RunQuietly(int32_t (*job)(const char*, const char*), const std::string& in, const std::string& out) {
  std::fflush(stdout);
  const int saved = dup(STDOUT_FILENO);
  const int null_fd = open("/dev/null", O_WRONLY);
  dup2(null_fd, STDOUT_FILENO);
  close(null_fd);
  const int32_t status = job(in.c_str(), out.c_str());
  std::fflush(stdout);
  dup2(saved, STDOUT_FILENO);
  close(saved);
  return status;
}

void RunJob(benchmark::State& bs, int32_t (*job)(const char*, const char*), const std::string& in, long frames) {
  const std::string out = (std::filesystem::temp_directory_path() / ("amrconv_bench_" + std::to_string(getpid()))).string();
  for (auto _ : bs) {
    if (RunQuietly(job, in, out) != 0) bs.SkipWithError("job failed");
  }
  std::remove(out.c_str());
  bs.counters["x_realtime"] = benchmark::Counter(static_cast<double>(bs.iterations()) * frames * kFrameSeconds,
                                                 benchmark::Counter::kIsRate);
}

// The decode job's loop without its output: the source read with ReadAmrFrame (its per-frame
// text held back, as the job holds it, and dropped), each frame decoded with DecodeFrame.
void ProgramDecodeLoop(benchmark::State& bs, const std::string& in, long frames) {
  std::vector<unsigned char> state(amrnb::kDecoderStateSize), scratch(amrnb::kDecoderScratchSize);
  auto* st = reinterpret_cast<amrnb::DecoderState*>(state.data());
  auto* scr = reinterpret_cast<amrnb::DecoderScratch*>(scratch.data());
  std::string text;
  text.reserve(1 << 16);
  for (auto _ : bs) {
    AMRFileHandler source;
    source.set_stream(std::fopen(in.c_str(), "rb"));
    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    const int null_fd = open("/dev/null", O_WRONLY);
    dup2(null_fd, STDOUT_FILENO);
    close(null_fd);
    const int32_t header = ReadAmrWaveHeader(source.stream());
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    if (header != kReadOk) bs.SkipWithError("header");
    source.HoldFrameText(&text);
    amrnb::ResetDecoder(0, st);
    uint8_t frame[kMaxFrameBytes] = {};
    uint32_t length = 0;
    int32_t layout = -1;
    int16_t pcm[amrnb::kFrameSamples];
    while (ReadAmrFrame(&source, frame, &length, &layout) != kReadEndOfInput) {
      std::memset(pcm, 0, sizeof pcm);
      amrnb::DecodeFrame(frame, st, scr, pcm, layout);
      benchmark::DoNotOptimize(pcm);
      text.push_back('.');
      if (text.size() > 60000) text.clear();
      layout = -1;
    }
    text.clear();
  }
  bs.counters["x_realtime"] = benchmark::Counter(static_cast<double>(bs.iterations()) * frames * kFrameSeconds,
                                                 benchmark::Counter::kIsRate);
}

// The library's file reader: the file opened by path, decoded in blocks of `block` samples.
void FileReaderPcm(benchmark::State& bs, const std::string& in, long frames, std::size_t block) {
  std::vector<short> pcm(block);
  for (auto _ : bs) {
    amrnb_file* file = nullptr;
    if (amrnb_file_open_path(in.c_str(), &file) != AMRNB_OK) bs.SkipWithError("open");
    std::size_t got = 0;
    long samples = 0;
    while (amrnb_file_read_pcm(file, pcm.data(), block, &got) == AMRNB_OK && got > 0) {
      benchmark::DoNotOptimize(pcm.data());
      samples += static_cast<long>(got);
    }
    amrnb_file_close(file);
    if (samples != frames * 160) bs.SkipWithError("wrong sample count");
  }
  bs.counters["x_realtime"] = benchmark::Counter(static_cast<double>(bs.iterations()) * frames * kFrameSeconds,
                                                 benchmark::Counter::kIsRate);
}

int32_t ConvertToWave(const char* in, const char* out) {
  amrnb_convert_result result;
  return amrnb_convert_file(in, out, 1, &result) == AMRNB_OK ? result.exit_status : -1;
}

}  // namespace

int main(int argc, char** argv) {
  // Frame vectors live until the benchmarks have run.
  static std::vector<std::vector<bench::FrameSlot>> loaded;
  std::vector<std::string> names;
  for (const char* kind : {"speech", "random"}) {
    for (int mode = 0; mode < 8; ++mode) names.push_back("mode" + std::to_string(mode) + "_" + kind);
  }
  names.push_back("dtx");
  loaded.reserve(names.size());
  for (const std::string& name : names) {
    loaded.push_back(bench::LoadStream(kStreams + "/" + name + ".wav"));
    if (loaded.back().empty()) {
      std::fprintf(stderr, "missing stream %s/%s.wav\n", kStreams.c_str(), name.c_str());
      return 1;
    }
    const auto& frames = loaded.back();
    benchmark::RegisterBenchmark(("DecodeFrame/" + name).c_str(),
                                 [&frames](benchmark::State& bs) { DecodeStream(bs, frames); });
  }
  const std::string hour = kStreams + "/hour_mixed.wav";
  const long hour_frames = static_cast<long>(bench::LoadStream(hour).size());
  if (hour_frames == 0) {
    std::fprintf(stderr, "missing stream %s\n", hour.c_str());
    return 1;
  }
  benchmark::RegisterBenchmark("DecodeJob/hour_mixed",
                               [&](benchmark::State& bs) { RunJob(bs, RunDecodeJob, hour, hour_frames); })
      ->Unit(benchmark::kMillisecond)
      ->Iterations(3);
  benchmark::RegisterBenchmark("HeaderJob/hour_mixed",
                               [&](benchmark::State& bs) { RunJob(bs, RunHeaderJob, hour, hour_frames); })
      ->Unit(benchmark::kMillisecond)
      ->Iterations(3);
  benchmark::RegisterBenchmark("ProgramDecodeLoop/hour_mixed",
                               [&](benchmark::State& bs) { ProgramDecodeLoop(bs, hour, hour_frames); })
      ->Unit(benchmark::kMillisecond)
      ->Iterations(3);
  for (const std::size_t block : {std::size_t{160}, std::size_t{4000}}) {
    benchmark::RegisterBenchmark(("FileReaderPcm/hour_mixed/" + std::to_string(block)).c_str(),
                                 [&, block](benchmark::State& bs) { FileReaderPcm(bs, hour, hour_frames, block); })
        ->Unit(benchmark::kMillisecond)
        ->Iterations(3);
  }
  benchmark::RegisterBenchmark("ConvertFile/hour_mixed",
                               [&](benchmark::State& bs) { RunJob(bs, ConvertToWave, hour, hour_frames); })
      ->Unit(benchmark::kMillisecond)
      ->Iterations(3);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
