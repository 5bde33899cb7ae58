// The operating-system services the converter needs, in one place: the error number of the
// last failed system call, a millisecond tick counter for the timing lines, opening a file by
// its path, telling whether two names lead to the same file, and the path-length rule.
// On Windows they are Windows' own (platform_win32.cpp); elsewhere POSIX stands in.
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
