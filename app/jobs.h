// The converter's two jobs. Each takes the source and destination paths and returns the
// status that becomes the process exit code (0 on success).
#ifndef APP_JOBS_H
#define APP_JOBS_H

#include <cstdint>

// Exit statuses of the jobs beyond the readers' own codes (12, 14, 15, 16).
enum JobStatus : int32_t {
  kJobOk = 0,
  kJobOpenFailed = 3,
  kJobWriteFailed = 6,
  kJobDecoderFailed = 10,
  kJobHeaderWriteFailed = 13,
  kJobDecoderSetupOrFinalHeaderFailed = 16,
};

// Event type 1: decodes every frame of the AMR-in-WAV source into a 16-bit 8000 Hz PCM WAV file.
int32_t RunDecodeJob(const char* source_path, const char* destination_path);

// Event type 2: copies every frame of the AMR-in-WAV source behind the "#!AMR\n" magic.
int32_t RunHeaderJob(const char* source_path, const char* destination_path);

// Prints the end-of-input line and the three timing lines shared by both jobs.
void PrintEndOfFileTimes(uint32_t start_ms);

#endif  // APP_JOBS_H
