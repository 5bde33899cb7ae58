#include <cstdio>

#include "app/jobs.h"
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
  // A FIFO source blocks its open and its reads until a writer comes: an interrupt there
  // ends the job before anything else is opened.
  if (const int signal_number = PendingInterrupt(); signal_number != 0) {
    source->Close();
    std::printf("\nInterrupted by signal %d before the first frame; no destination was written.\n",
                signal_number);
    return 128 + signal_number;
  }
  if (status != kReadOk) {
    std::printf("Failed to Read File (%s)", source_path);
    source->Close();
  }
  return status;
}

FILE* OpenJobDestination(const char* destination_path, bool fifo_needs_reader,
                         const char* open_failure_line, const char* source_path,
                         AMRFileHandler* source) {
  DestinationOpen result = DestinationOpen::kFailed;
  ClearLastError();
  FILE* destination = OpenDestination(destination_path, fifo_needs_reader, &result);
  if (result == DestinationOpen::kBusy) {
    std::printf("\nDestination (%s) is being written by another amrconv; refusing to write it too.",
                destination_path);
  } else if (result == DestinationOpen::kNoReader) {
    // Written anyway, the data would be lost, or the job would wait for a reader forever.
    std::printf("\nDestination (%s) is a FIFO that no program is reading; refusing to write into it.",
                destination_path);
  } else if (destination == nullptr) {
    std::printf("\nFailed to open(%s) Error(%d)", destination_path, GetLastError());
    std::printf(open_failure_line, source_path);
  }
  if (destination == nullptr) source->Close();
  return destination;
}

int32_t ReportInterrupt(int signal_number, uint64_t frames, const char* kind, const char* what) {
  // With standard output gone, the line goes where it can still be read.
  const bool output_closed = signal_number == kOutputClosed;
  std::fprintf(output_closed ? stderr : stdout, "\nInterrupted by signal %d%s: stopped after %llu %sframe%s, %s\n",
               signal_number, output_closed ? " (standard output closed)" : "",
               static_cast<unsigned long long>(frames), kind, frames == 1 ? "" : "s", what);
  return 128 + signal_number;
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
