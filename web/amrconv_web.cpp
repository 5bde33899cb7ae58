// WebAssembly entry points of the browser page. The page's worker puts the user's file in the
// module's in-memory file system and calls these; the conversions are the converter's own jobs,
// so the files and messages are those of `amrconv SOURCE DESTINATION 1` and `... 2`. Standard
// output is whatever the worker connected to it (it captures the jobs' text).
#include <emscripten/emscripten.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "app/jobs.h"
#include "container/amr_wave_reader.h"
#include "container/wave_writer.h"

namespace {

// Layout of the survey record filled by amrweb_survey, in 32-bit words.
enum SurveyField : int {
  kSurveyHeaderStatus = 0,  // the header reader's status: 0, 12 or 14
  kSurveyFrames = 1,        // frames the jobs handle (each gives 160 samples when decoded)
  kSurveyByType = 2,        // 16 counts by frame type (bits 6..3 of the header byte)
  kSurveyDamaged = 18,      // speech and SID frames whose quality bit is 0
  kSurveyTailBytes = 19,    // bytes of a frame cut short at the end, dropped by the jobs
  kSurveyWords = 20,
};

constexpr char kStorageMagic[] = "#!AMR\n";
constexpr size_t kStorageMagicSize = sizeof kStorageMagic - 1;
constexpr uint16_t kFrameTypeSid = 8;

long FileSize(FILE* stream) {
  const long position = std::ftell(stream);
  std::fseek(stream, 0, SEEK_END);
  const long size = std::ftell(stream);
  std::fseek(stream, position, SEEK_SET);
  return size;
}

}  // namespace

extern "C" {

// Runs event type 1 (decode) or 2 (AMR header) on `source`, writing `destination`, and returns
// the job's status: the exit code amrconv gives for the same files. Standard output is flushed
// before returning, so the caller has the job's whole text.
EMSCRIPTEN_KEEPALIVE int32_t amrweb_run_job(int32_t event_type, const char* source,
                                            const char* destination) {
  const int32_t status = event_type == 1 ? RunDecodeJob(source, destination)
                                         : RunHeaderJob(source, destination);
  std::fflush(stdout);
  return status;
}

// Reads `source` with the container reader exactly as the jobs do and fills `record`
// (kSurveyWords words, layout above): the header status and the frames by type. The header
// reader prints the header's fields on standard output, as it does for the jobs. Returns the
// header status.
EMSCRIPTEN_KEEPALIVE int32_t amrweb_survey(const char* source, uint32_t* record) {
  std::memset(record, 0, kSurveyWords * sizeof(uint32_t));
  AMRFileHandler handler;
  handler.set_stream(std::fopen(source, "rb"));
  if (handler.stream() == nullptr) {
    record[kSurveyHeaderStatus] = kJobOpenFailed;
    return kJobOpenFailed;
  }
  const int32_t header_status = ReadAmrWaveHeader(handler.stream());
  record[kSurveyHeaderStatus] = static_cast<uint32_t>(header_status);
  if (header_status == kReadOk) {
    const long size = FileSize(handler.stream());
    uint8_t frame[kMaxFrameBytes] = {};
    uint32_t length = 0;
    int32_t layout = -1;
    long frame_start = std::ftell(handler.stream());
    // The jobs stop at status 5 only; every other frame, a one-byte one of types 10..14
    // included, is decoded or copied.
    while (ReadAmrFrame(&handler, frame, &length, &layout) != kReadEndOfInput) {
      const uint32_t frame_type = (frame[0] >> 3) & 15u;
      ++record[kSurveyFrames];
      ++record[kSurveyByType + frame_type];
      if (frame_type <= kFrameTypeSid && (frame[0] & 4u) == 0) ++record[kSurveyDamaged];
      frame_start = std::ftell(handler.stream());
      layout = -1;
    }
    record[kSurveyTailBytes] = static_cast<uint32_t>(size - frame_start);
  }
  std::fflush(stdout);
  return header_status;
}

// Turns a "#!AMR\n" storage file into an AMR-in-WAV source for the jobs: the decoded WAV
// file's 62-byte header with the format tag set to 310, then the frames as they are. Returns 0,
// or 14 if `source` does not begin with the magic, or 3 if a file cannot be read or written.
EMSCRIPTEN_KEEPALIVE int32_t amrweb_wrap_storage_file(const char* source, const char* destination) {
  FILE* in = std::fopen(source, "rb");
  if (in == nullptr) return kJobOpenFailed;
  char magic[kStorageMagicSize] = {};
  const long frame_bytes = FileSize(in) - static_cast<long>(kStorageMagicSize);
  if (std::fread(magic, 1, kStorageMagicSize, in) != kStorageMagicSize ||
      std::memcmp(magic, kStorageMagic, kStorageMagicSize) != 0) {
    std::fclose(in);
    return kReadWrongFormat;
  }
  FILE* out = std::fopen(destination, "wb+");
  if (out == nullptr) {
    std::fclose(in);
    return kJobOpenFailed;
  }
  bool ok = WriteWaveHeader(static_cast<uint32_t>(frame_bytes), out) == 0;
  // The format tag, little-endian at offset 20, marks the data as AMR frames.
  const uint8_t tag[2] = {kAmrWaveFormatTag & 0xFF, kAmrWaveFormatTag >> 8};
  ok = ok && std::fseek(out, 20, SEEK_SET) == 0 && std::fwrite(tag, 1, 2, out) == 2 &&
       std::fseek(out, kAmrWaveHeaderSize, SEEK_SET) == 0;
  std::vector<char> chunk(64 * 1024);
  size_t n = 0;
  while (ok && (n = std::fread(chunk.data(), 1, chunk.size(), in)) > 0) {
    ok = std::fwrite(chunk.data(), 1, n, out) == n;
  }
  ok = ok && !std::ferror(in);
  std::fclose(in);
  ok = std::fclose(out) == 0 && ok;
  return ok ? kJobOk : kJobOpenFailed;
}

}  // extern "C"
