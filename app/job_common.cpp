#include <cstdio>

#include "app/jobs.h"
#include "container/amr_wave_reader.h"
#include "container/platform.h"

int32_t OpenAmrSource(const char* source_path, AMRFileHandler* source) {
  ClearLastError();
  source->set_stream(std::fopen(source_path, "rb"));
  int32_t status = kJobOpenFailed;
  if (source->stream() == nullptr) {
    std::printf("Failed to open AMR File. Error(%d)", GetLastError());
  } else {
    status = ReadAmrWaveHeader(source->stream());
  }
  if (status != kReadOk) {
    std::printf("Failed to Read File (%s)", source_path);
    source->Close();
  }
  return status;
}

void PrintEndOfFileTimes(uint32_t start_ms) {
  std::printf("\nReached End of File.");
  const uint32_t stop_ms = GetTickCount();
  std::printf("\nStartReading..Time(%u)\n", start_ms);
  std::printf("\nStop Reading..Time(%u)\n", stop_ms);
  // Unsigned subtraction gives the elapsed time across a wrap of the tick counter too.
  std::printf("\nTimeDiffernce(%u)", stop_ms - start_ms);
}
