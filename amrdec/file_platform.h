// The operating-system services of the library's file interface (amrnb_file.h), internal: the
// error number of the last failed call, opening a file by its UTF-8 path, 64-bit seeks and
// truncation, and telling whether two names lead to the same file. They follow amrconv's
// platform layer (container/platform.h, app/system_io.h) rule for rule, so that
// amrnb_convert_file's messages carry the numbers amrconv's do: Windows' own calls there,
// POSIX elsewhere. Only the C library (and Windows' API) is used: no C++ runtime.
#ifndef AMRDEC_FILE_PLATFORM_H
#define AMRDEC_FILE_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace amrnb::file_platform {

// Error number of the last failed call (errno; Windows: GetLastError), and setting it.
int LastError();
void SetLastError(int error);
inline void ClearLastError() { SetLastError(0); }

// fopen with a UTF-8 path (on Windows opened by its UTF-16 name, or, for bytes that are not
// UTF-8, by the console's or the ANSI code page's reading of them, as amrconv does).
std::FILE* OpenPath(const char* path, const char* mode);

// Path length as the system counts it for amrconv's limit: bytes; Windows: UTF-16 code units.
std::size_t PathLength(const char* path);
// amrconv's longest path argument and its unit ("bytes"; Windows: "characters").
inline constexpr std::size_t kMaxPathChars = 259;
extern const char* const kPathLengthUnit;

bool SeekStream(std::FILE* stream, uint64_t offset);
bool TruncateStream(std::FILE* stream, uint64_t size);

// Device and inode (Windows: volume serial number and file index) of the file behind a
// stream or a path; false for none, or for a device (POSIX: a character device; Windows:
// anything not on a disk). The error number is left as it was.
struct Identity {
  uint64_t volume = 0;
  uint64_t index = 0;
  bool operator==(const Identity&) const = default;
};
bool StreamIdentity(std::FILE* stream, Identity* identity);
bool PathIdentity(const char* path, Identity* identity);

}  // namespace amrnb::file_platform

#endif  // AMRDEC_FILE_PLATFORM_H
