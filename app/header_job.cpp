#include <cstdio>
#include <cstring>

#include "app/jobs.h"
#include "container/amr_wave_reader.h"
#include "container/platform.h"

namespace {
constexpr char kAmrMagic[] = "#!AMR\n";
constexpr size_t kAmrMagicSize = sizeof kAmrMagic - 1;
}  // namespace

int32_t RunHeaderJob(const char* source_path, const char* destination_path) {
  AMRFileHandler source;
  const int32_t source_status = OpenAmrSource(source_path, &source);
  if (source_status != kReadOk) return source_status;
  if (RefuseSourceAsDestination(source_path, destination_path, &source) != kJobOk) {
    return kJobOpenFailed;
  }

  ClearLastError();
  FILE* destination = OpenFile(destination_path, "wb+");
  int32_t status = kJobOk;
  if (destination == nullptr) {
    std::printf("\nFailed to open(%s) Error(%d)", destination_path, GetLastError());
    status = kJobOpenFailed;
  } else {
    ClearLastError();
    if (std::fwrite(kAmrMagic, 1, kAmrMagicSize, destination) < kAmrMagicSize) {
      std::printf("\n Failed to write. AMR Header. Error(%d)", GetLastError());
      status = kJobWriteFailed;
    }
  }
  if (status != kJobOk) {
    std::printf("Failed to open File (%s)", source_path);
    if (destination != nullptr) std::fclose(destination);
    source.Close();
    return status;
  }

  uint8_t frame[kMaxFrameBytes];
  std::memset(frame, 0, sizeof frame);
  uint32_t length = 0;
  int32_t layout = -1;

  const uint32_t start_ms = GetTickCount();
  int32_t read_status = ReadAmrFrame(&source, frame, &length, &layout);
  while (read_status != kReadEndOfInput) {
    if (length == 0) {
      std::printf("\nFailed to read AMR File");
      std::fclose(destination);
      source.Close();
      return read_status;
    }
    // A frame type without frames (status 15) leaves its single header byte, which is
    // copied like any frame; the next read starts at the byte after it.
    ClearLastError();
    if (std::fwrite(frame, 1, length, destination) != length) {
      std::printf("\n Failed to write. Error(%d)", GetLastError());
      std::printf("\nFailed to Decode AMR..");
      std::fclose(destination);
      source.Close();
      return kJobWriteFailed;
    }
    std::printf(".");
    layout = -1;
    read_status = ReadAmrFrame(&source, frame, &length, &layout);
  }

  // Frames still in the stdio buffer are written now; a failure here is a failed frame write.
  if (!CloseDestination(destination)) {
    std::printf("\n Failed to write. Error(%d)", GetLastError());
    std::printf("\nFailed to Decode AMR..");
    source.Close();
    return kJobWriteFailed;
  }
  PrintEndOfFileTimes(start_ms);
  source.Close();
  return kJobOk;
}
