// The operating-system services the converter needs, in one place: the error number of the
// last failed system call, a millisecond tick counter for the timing lines, opening a file by
// its path, opening and locking a destination, 64-bit seeks and truncation, telling whether
// two names lead to the same file, the path-length rule, the standard descriptors and the
// interrupt signals. On Windows they are Windows' own (platform_win32.cpp); elsewhere POSIX
// stands in (platform_posix.cpp). No other file of the program calls the system directly.
#ifndef CONTAINER_PLATFORM_H
#define CONTAINER_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

// The longest path argument, in characters as the system counts them, without the NUL:
// Windows' MAX_PATH of 260 UTF-16 code units less the terminating NUL.
inline constexpr size_t kMaxPathChars = 259;
// Bytes that hold a path of kMaxPathChars characters and its NUL. A Windows path travels as
// UTF-8, in which one UTF-16 code unit takes up to 3 bytes; elsewhere a character is a byte.
#if defined(_WIN32)
inline constexpr size_t kPathBufferBytes = 3 * kMaxPathChars + 1;
inline constexpr const char* kPathLengthUnit = "characters";
#else
inline constexpr size_t kPathBufferBytes = kMaxPathChars + 1;
inline constexpr const char* kPathLengthUnit = "bytes";
#endif

// Length of `path` as the system counts it for its limit: UTF-16 code units of the decoded
// name on Windows, bytes elsewhere.
size_t PathLength(const char* path);

// Opens a file like fopen. On Windows the path is UTF-8, or else text in the console's code
// page, and the file is opened by its UTF-16 name, so names with any letters open.
FILE* OpenFile(const char* path, const char* mode);

// How OpenDestination ended.
enum class DestinationOpen {
  kOpened,
  kFailed,    // the system refused; the last-error number says why
  kBusy,      // another program (another amrconv) holds the file's lock: it is writing it
  kNoReader,  // a FIFO (named pipe) that no program has open for reading
};

// Opens the file a job writes, for writing and reading like fopen's "wb+", creating it if
// needed. A regular file is locked first (an advisory lock, which every amrconv takes on its
// destination and holds until the stream is closed) and only then truncated, so a file that
// another amrconv is writing is left untouched and reported as kBusy. With
// `fifo_needs_reader`, a FIFO is opened for writing alone and refused as kNoReader when no
// program reads it, instead of the data going nowhere. The stream comes back unbuffered,
// before any other operation on it: each write reaches the file, or fails, at once.
FILE* OpenDestination(const char* path, bool fifo_needs_reader, DestinationOpen* result);

// Puts the stream at byte `offset`; false (with the error number set) if it cannot seek,
// as for a pipe, a socket or a terminal.
bool SeekStream(FILE* stream, uint64_t offset);

// Cuts the file behind the stream to `size` bytes.
bool TruncateStream(FILE* stream, uint64_t size);

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

// What tells one file from another, whatever path leads to it: volume serial number and
// file index on Windows, device and inode elsewhere.
struct FileIdentity {
  uint64_t volume = 0;
  uint64_t index = 0;
  bool operator==(const FileIdentity&) const = default;
};

// The identity of the file behind an open stream, or of the file a path names (following
// symbolic links). False when there is none: no such file, or a device (a console, a
// terminal, /dev/null), which any number of streams may share; on Windows a pipe too.
bool StreamIdentity(FILE* stream, FileIdentity* identity);
bool PathIdentity(const char* path, FileIdentity* identity);

// On Windows the command-line arguments as UTF-8, read from the UTF-16 command line: the C
// runtime's own arguments are in the ANSI code page, which cannot hold every letter of a file
// name. Elsewhere the arguments are left as they are.
void UseUtf8Arguments(int* argc, char*** argv);

// Whether `stream` is a terminal (a console on Windows), where a progress line may redraw
// itself, rather than a file or a pipe.
bool IsTerminal(FILE* stream);

#if defined(_WIN32)

namespace platform_win32 {
int LastError();
void SetLastError(int error);
uint32_t TickCount();
}  // namespace platform_win32

// platform_win32.cpp includes <windows.h>, whose functions of these names these would clash with.
#if !defined(AMRCONV_PLATFORM_WIN32_SOURCE)
// Windows' own last-error number (GetLastError), which the C runtime's file calls leave
// behind as the system reported it.
inline int GetLastError() { return platform_win32::LastError(); }
inline void ClearLastError() { platform_win32::SetLastError(0); }
inline void SetLastError(int error) { platform_win32::SetLastError(error); }
// Windows' GetTickCount: milliseconds since the system started, wrapping every 49.7 days.
inline uint32_t GetTickCount() { return platform_win32::TickCount(); }
#endif

#else

#include <cerrno>
#include <ctime>

// Error number of the last failed runtime or system call.
inline int GetLastError() { return errno; }

// Clears the error number before a call whose failure is reported, so that the number
// printed belongs to that call and not to an earlier, unrelated one.
inline void ClearLastError() { errno = 0; }

// Restores an error number saved earlier, for a report that follows a cleanup call.
inline void SetLastError(int error) { errno = error; }

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
