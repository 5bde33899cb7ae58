// The operating-system services the converter needs, in one place. The file-level ones (the
// error number of the last failed call, opening a file by its path, the path-length rule,
// opening and locking a destination, 64-bit seeks and truncation, telling whether two names
// lead to the same file) are the decoder library's own (amrdec/file_platform.h), which its
// file interface and amrnb_convert_file use too; this header gives them the names the program
// has always used. The process-level ones are the program's alone and live here: the
// millisecond tick counter for the timing lines, the standard descriptors, the interrupt
// signals, terminals and the command-line arguments; on Windows they are Windows' own
// (platform_win32.cpp), elsewhere POSIX stands in (platform_posix.cpp). No other file of the
// program calls the system directly.
#ifndef CONTAINER_PLATFORM_H
#define CONTAINER_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "amrdec/file_platform.h"

// ---- File-level services: the library's (amrdec/file_platform.h) ----

using amrnb::file_platform::kMaxPathChars;
using amrnb::file_platform::kPathBufferBytes;
using amrnb::file_platform::kPathLengthUnit;
using amrnb::file_platform::PathLength;
using amrnb::file_platform::DestinationOpen;
using amrnb::file_platform::OpenDestination;
using amrnb::file_platform::SeekStream;
using amrnb::file_platform::TruncateStream;
using amrnb::file_platform::StreamIdentity;
using amrnb::file_platform::PathIdentity;
using FileIdentity = amrnb::file_platform::Identity;

// Opens a file like fopen, by its UTF-8 path (amrnb::file_platform::OpenPath).
inline FILE* OpenFile(const char* path, const char* mode) {
  return amrnb::file_platform::OpenPath(path, mode);
}

// The error number of the last failed call, under the names of Windows' own functions.
// platform_win32.cpp includes <windows.h>, whose functions of these names these would clash with.
#if !defined(AMRCONV_PLATFORM_WIN32_SOURCE)
inline int GetLastError() { return amrnb::file_platform::LastError(); }
// Clears the error number before a call whose failure is reported, so that the number
// printed belongs to that call and not to an earlier, unrelated one.
inline void ClearLastError() { amrnb::file_platform::ClearLastError(); }
// Restores an error number saved earlier, for a report that follows a cleanup call.
inline void SetLastError(int error) { amrnb::file_platform::SetLastError(error); }
#endif

// ---- Process-level services: the program's (platform_posix.cpp, platform_win32.cpp) ----

// Opens the null device on any of descriptors 0, 1 and 2 that is closed, so that no file
// opened later can take the place of standard input, output or error.
void OpenMissingStandardDescriptors();

// SIGINT, SIGTERM and SIGHUP (those not ignored when the program started, as nohup leaves
// SIGHUP) ask the jobs to stop at the next frame boundary; a second one ends the program at
// once. They interrupt a blocked read, write or open (no restart), and after the first one
// every blocked call is woken within a tenth of a second, so a stalled pipe or FIFO cannot
// hold the job. A closed pipe on standard output (SIGPIPE) asks the jobs to stop as well. A
// file-size limit makes writes fail instead of ending the program. On Windows, Ctrl-C and
// SIGTERM through the C runtime's console handler.
void InstallInterruptHandlers();

// The signal number of the first interrupt received, or 0. kOutputClosed once standard output
// has failed after its reader went away.
int PendingInterrupt();

// What PendingInterrupt reports for a closed standard output: SIGPIPE's number where there is
// one (13 on every POSIX system in use).
inline constexpr int kOutputClosed = 13;

// On Windows the command-line arguments as UTF-8, read from the UTF-16 command line: the C
// runtime's own arguments are in the ANSI code page, which cannot hold every letter of a file
// name. Elsewhere the arguments are left as they are.
void UseUtf8Arguments(int* argc, char*** argv);

// Whether `stream` is a terminal (a console on Windows), where a progress line may redraw
// itself, rather than a file or a pipe.
bool IsTerminal(FILE* stream);

#if defined(_WIN32)

namespace platform_win32 {
uint32_t TickCount();
}  // namespace platform_win32

#if !defined(AMRCONV_PLATFORM_WIN32_SOURCE)
// Windows' GetTickCount: milliseconds since the system started, wrapping every 49.7 days.
inline uint32_t GetTickCount() { return platform_win32::TickCount(); }
#endif

#else

#include <ctime>

// Milliseconds of a monotonic clock, truncated to 32 bits. Callers subtract two readings
// as unsigned 32-bit values, which stays correct across a wrap of the counter.
inline uint32_t GetTickCount() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const uint64_t ms = static_cast<uint64_t>(now.tv_sec) * 1000u +
                      static_cast<uint64_t>(now.tv_nsec) / 1000000u;
  return static_cast<uint32_t>(ms);
}

#endif

#endif  // CONTAINER_PLATFORM_H
