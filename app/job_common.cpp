#include <cstdio>

#include "app/jobs.h"
#include "app/system_io.h"
#include "container/amr_wave_reader.h"
#include "container/platform.h"

int32_t OpenAmrSource(const char* source_path, AMRFileHandler* source) {
  ClearLastError();
  source->set_stream(OpenFile(source_path, "rb"));
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

int32_t RefuseSourceAsDestination(const char* source_path, const char* destination_path,
                                  AMRFileHandler* source) {
  // The open source stream is compared, not its path, so any spelling of the same file
  // matches; a destination that does not exist yet cannot be the source.
  FileIdentity destination;
  FileIdentity other;
  if (!PathIdentity(destination_path, &destination)) return kJobOk;
  if (StreamIdentity(source->stream(), &other) && other == destination) {
    std::printf("\nDestination (%s) is the source file (%s); refusing to overwrite it.",
                destination_path, source_path);
  } else if (StreamIdentity(stdout, &other) && other == destination) {
    // The progress text would be written into the converted file.
    std::printf("\nDestination (%s) is where standard output goes; refusing to write both to it.",
                destination_path);
  } else {
    return kJobOk;
  }
  source->Close();
  return kJobOpenFailed;
}

bool CloseDestination(FILE* destination) {
  ClearLastError();
  if (std::fflush(destination) != 0) {
    const int flush_error = GetLastError();
    std::fclose(destination);
    SetLastError(flush_error);  // report the flush's error, not the close's
    return false;
  }
  return std::fclose(destination) == 0;
}

void PrintEndOfFileTimes(uint32_t start_ms) {
  std::printf("\nReached End of File.");
  const uint32_t stop_ms = GetTickCount();
  std::printf("\nStartReading..Time(%u)\n", start_ms);
  std::printf("\nStop Reading..Time(%u)\n", stop_ms);
  // Unsigned subtraction gives the elapsed time across a wrap of the tick counter too.
  // "TimeDiffernce" is spelt as the program has always printed it, for the tools that read it.
  std::printf("\nTimeDiffernce(%u)", stop_ms - start_ms);
}
