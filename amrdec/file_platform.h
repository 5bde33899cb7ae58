// The file-level operating-system services, internal to the library, and the one
// implementation of them: the library's file reader, storage writer and amrnb_convert_file
// use them, and so does the amrconv program, through container/platform.h, which names them
// as the program always has and adds the process-level services (interrupts, terminals,
// arguments, standard descriptors, the tick counter). They are the error number of the last
// failed call, opening a file by its UTF-8 path, the path-length rule, opening and locking a
// destination, 64-bit seeks and truncation, and telling whether two names lead to the same
// file: Windows' own calls there, POSIX elsewhere. One implementation means that
// amrnb_convert_file's messages carry the numbers amrconv's do and follow its path rules.
// Only the C library (and Windows' API) is used: no C++ runtime, and no mutable global data.
#ifndef AMRDEC_FILE_PLATFORM_H
#define AMRDEC_FILE_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace amrnb::file_platform {

// Error number of the last failed call (errno; Windows: GetLastError, which the C runtime's
// file calls leave behind as the system reported it), and setting it. Cleared before a call
// whose failure is reported, so that the number printed belongs to that call.
int LastError();
void SetLastError(int error);
inline void ClearLastError() { SetLastError(0); }

// fopen with a UTF-8 path. On Windows the file is opened by its UTF-16 name, so names with any
// letters open; bytes that are not UTF-8 are read as text in the console's input code page, or
// in the ANSI code page when there is no console.
std::FILE* OpenPath(const char* path, const char* mode);

// The longest path argument, in characters as the system counts them, without the NUL:
// Windows' MAX_PATH of 260 UTF-16 code units less the terminating NUL.
inline constexpr std::size_t kMaxPathChars = 259;
// Bytes that hold a path of kMaxPathChars characters and its NUL, and the unit the limit is
// told in. A Windows path travels as UTF-8, in which one UTF-16 code unit takes up to 3
// bytes; elsewhere a character is a byte.
#if defined(_WIN32)
inline constexpr std::size_t kPathBufferBytes = 3 * kMaxPathChars + 1;
inline constexpr const char* kPathLengthUnit = "characters";
#else
inline constexpr std::size_t kPathBufferBytes = kMaxPathChars + 1;
inline constexpr const char* kPathLengthUnit = "bytes";
#endif

// Length of `path` as the system counts it for its limit: UTF-16 code units of the decoded
// name on Windows, bytes elsewhere.
std::size_t PathLength(const char* path);

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
std::FILE* OpenDestination(const char* path, bool fifo_needs_reader, DestinationOpen* result);

// Puts the stream at byte `offset`; false (with the error number set) if it cannot seek,
// as for a pipe, a socket or a terminal.
bool SeekStream(std::FILE* stream, uint64_t offset);

// Cuts the file behind the stream to `size` bytes.
bool TruncateStream(std::FILE* stream, uint64_t size);

// What tells one file from another, whatever path leads to it: volume serial number and
// file index on Windows (the C runtime's st_ino is always 0 there), device and inode elsewhere.
struct Identity {
  uint64_t volume = 0;
  uint64_t index = 0;
  bool operator==(const Identity&) const = default;
};

// The identity of the file behind an open stream, or of the file a path names (following
// symbolic links). False when there is none: no such file, or a device (a console, a
// terminal, /dev/null), which any number of streams may share; on Windows a pipe too. The
// error number is left as it was.
bool StreamIdentity(std::FILE* stream, Identity* identity);
bool PathIdentity(const char* path, Identity* identity);

}  // namespace amrnb::file_platform

#endif  // AMRDEC_FILE_PLATFORM_H
