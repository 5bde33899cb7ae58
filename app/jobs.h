// The converter's two jobs. Each takes the source and destination paths and returns the
// status that becomes the process exit code (0 on success).
#ifndef APP_JOBS_H
#define APP_JOBS_H

#include <cstdint>
#include <cstdio>

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

// The decode job with a bound on the sample bytes (RunDecodeJob passes kMaxWaveDataBytes, the
// most a WAV header can count, about 74.5 hours). A source with more frames than fit stops
// there with a message and status 16; the destination holds the frames decoded so far under
// a header that counts them exactly. A destination that cannot be rewound (a pipe) is refused
// with status 3 before anything is written, and so is a destination that another amrconv is
// writing. When PendingInterrupt() reports a signal, the job stops after the current frame,
// completes the header and returns 128 + the signal number; the header job likewise. An
// interrupt before the first frame ends the job with 128 + the signal number too, with no
// destination opened when it came while the source was opening.
int32_t DecodeToWave(const char* source_path, const char* destination_path,
                     uint32_t max_data_bytes);

// Event type 2: copies every frame of the AMR-in-WAV source behind the "#!AMR\n" magic.
int32_t RunHeaderJob(const char* source_path, const char* destination_path);

// Shared by both jobs.
class AMRFileHandler;

// Opens the source into `source` and reads and checks its header. On failure prints the
// cause and the source path, leaves no stream open and returns 3, 12 or 14; when an interrupt
// came meanwhile (a FIFO source waits for its writer), reports it instead and returns 128 +
// the signal number.
int32_t OpenAmrSource(const char* source_path, AMRFileHandler* source);

// Opens the destination (OpenDestination). When it is refused, prints why (for an open that
// failed, `open_failure_line` follows the first line, formatted with `source_path`), closes
// the source and returns 3 with a null stream.
FILE* OpenJobDestination(const char* destination_path, bool fifo_needs_reader,
                         const char* open_failure_line, const char* source_path,
                         AMRFileHandler* source);

// Prints the line of a job stopped by signal `signal_number` after `frames` frames ("after 1
// decoded frame, <what>", `kind` being "decoded " or empty), and returns the exit status
// 128 + the signal number. With standard output closed the line goes to standard error.
int32_t ReportInterrupt(int signal_number, uint64_t frames, const char* kind, const char* what);

// Refuses a destination that is the source file itself (same device and inode, whatever
// the spelling of its path, a hard link or a symbolic link included): opening it "wb+" would
// truncate the recording before it is read. Refuses as well the file standard output goes
// to (a device such as /dev/null excepted). Then prints why, closes the source and returns 3;
// returns 0 for any other destination, existing or not.
int32_t RefuseSourceAsDestination(const char* source_path, const char* destination_path,
                                  AMRFileHandler* source);

// Flushes and closes the destination; true if both succeeded.
bool CloseDestination(FILE* destination);

// Prints the end-of-input line and the three timing lines.
void PrintEndOfFileTimes(uint32_t start_ms);

#endif  // APP_JOBS_H
