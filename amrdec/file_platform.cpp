// The file-level services in their two forms. Windows: paths travel as UTF-8 and are opened
// by their UTF-16 names, files are told apart by volume serial number and file index, and a
// destination is marked as being written with a byte-range lock; none of the helpers changes
// the last-error number that a caller is about to report, except the opens themselves.
// POSIX: paths are byte strings, files are told apart by device and inode, and destinations
// are locked with flock.
#include "file_platform.h"

#if defined(_WIN32)
#include <windows.h>
#include <io.h>

#include <fcntl.h>

#include <cstdlib>
#include <cwchar>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace amrnb::file_platform {

namespace {

// Hands out an opened destination's stream, made unbuffered before any other operation on it.
std::FILE* Opened(std::FILE* stream, DestinationOpen* result) {
  std::setvbuf(stream, nullptr, _IONBF, 0);
  *result = DestinationOpen::kOpened;
  return stream;
}

}  // namespace

#if defined(_WIN32)

int LastError() { return static_cast<int>(::GetLastError()); }
void SetLastError(int error) { ::SetLastError(static_cast<DWORD>(error)); }

namespace {

// `text` in `code_page` as a NUL-terminated UTF-16 string allocated with malloc, or null.
wchar_t* Decode(const char* text, UINT code_page, DWORD flags) {
  const int units = MultiByteToWideChar(code_page, flags, text, -1, nullptr, 0);
  if (units <= 0) return nullptr;
  auto* wide = static_cast<wchar_t*>(std::malloc(sizeof(wchar_t) * static_cast<size_t>(units)));
  if (wide != nullptr) MultiByteToWideChar(code_page, flags, text, -1, wide, units);
  return wide;
}

// A path as UTF-16 (free it with std::free): UTF-8 when the bytes are valid UTF-8, otherwise
// text in the console's input code page, or in the ANSI code page when there is no console.
wchar_t* WidePath(const char* path) {
  const DWORD saved = ::GetLastError();
  wchar_t* wide = Decode(path, CP_UTF8, MB_ERR_INVALID_CHARS);
  if (wide == nullptr) {
    const UINT console = GetConsoleCP();
    wide = Decode(path, console != 0 ? console : CP_ACP, 0);
  }
  ::SetLastError(saved);
  return wide;
}

bool IdentityOfHandle(HANDLE handle, Identity* identity) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (handle == INVALID_HANDLE_VALUE || GetFileType(handle) != FILE_TYPE_DISK ||
      !GetFileInformationByHandle(handle, &info)) {
    return false;
  }
  identity->volume = info.dwVolumeSerialNumber;
  identity->index = static_cast<uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
  return true;
}

}  // namespace

std::FILE* OpenPath(const char* path, const char* mode) {
  wchar_t* wide_path = WidePath(path);
  wchar_t wide_mode[8] = {};
  for (size_t i = 0; i + 1 < 8 && mode[i] != '\0'; ++i) wide_mode[i] = static_cast<wchar_t>(mode[i]);
  std::FILE* stream = _wfopen(wide_path != nullptr ? wide_path : L"", wide_mode);
  std::free(wide_path);
  return stream;
}

std::size_t PathLength(const char* path) {
  wchar_t* wide = WidePath(path);
  const std::size_t length = wide != nullptr ? std::wcslen(wide) : 0;
  std::free(wide);
  return length;
}

std::FILE* OpenDestination(const char* path, bool, DestinationOpen* result) {
  *result = DestinationOpen::kFailed;
  // Opened without truncation; a file another amrconv has locked is left untouched. Reading
  // and writing stay shared, as with fopen, so a player may look at the file meanwhile.
  wchar_t* wide = WidePath(path);
  const HANDLE handle = CreateFileW(wide != nullptr ? wide : L"", GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  std::free(wide);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  const auto abandon = [handle] {
    const DWORD error = ::GetLastError();
    CloseHandle(handle);
    ::SetLastError(error);
    return static_cast<std::FILE*>(nullptr);
  };
  if (GetFileType(handle) == FILE_TYPE_DISK) {
    // Windows locks byte ranges and enforces them, so the lock covers the last byte a file
    // can have, which no write ever reaches: it marks the file as being written without
    // stopping anyone from reading it. The lock goes with the handle when the stream closes.
    OVERLAPPED at{};
    at.Offset = 0xFFFFFFFEu;
    at.OffsetHigh = 0x7FFFFFFFu;
    if (!LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
      if (::GetLastError() == ERROR_LOCK_VIOLATION) *result = DestinationOpen::kBusy;
      return abandon();
    }
    if (!SetEndOfFile(handle)) return abandon();  // the handle stands at offset 0
  }
  const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), _O_BINARY);
  if (descriptor == -1) return abandon();
  std::FILE* stream = _fdopen(descriptor, "wb+");
  if (stream == nullptr) {
    _close(descriptor);  // closes the handle too
    return nullptr;
  }
  return Opened(stream, result);
}

bool SeekStream(std::FILE* stream, uint64_t offset) {
  return _fseeki64(stream, static_cast<__int64>(offset), SEEK_SET) == 0;
}

bool TruncateStream(std::FILE* stream, uint64_t size) {
  return _chsize_s(_fileno(stream), static_cast<__int64>(size)) == 0;
}

bool StreamIdentity(std::FILE* stream, Identity* identity) {
  const DWORD saved = ::GetLastError();
  const int descriptor = stream != nullptr ? _fileno(stream) : -1;
  const bool known = descriptor >= 0 &&
                     IdentityOfHandle(reinterpret_cast<HANDLE>(_get_osfhandle(descriptor)), identity);
  ::SetLastError(saved);
  return known;
}

bool PathIdentity(const char* path, Identity* identity) {
  const DWORD saved = ::GetLastError();
  wchar_t* wide = WidePath(path);
  // No access rights asked for and every kind of sharing allowed; directories open too.
  const HANDLE handle = CreateFileW(wide != nullptr ? wide : L"", 0,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  std::free(wide);
  bool known = false;
  if (handle != INVALID_HANDLE_VALUE) {
    known = IdentityOfHandle(handle, identity);
    CloseHandle(handle);
  }
  ::SetLastError(saved);
  return known;
}

#else

int LastError() { return errno; }
void SetLastError(int error) { errno = error; }

std::FILE* OpenPath(const char* path, const char* mode) { return std::fopen(path, mode); }

std::size_t PathLength(const char* path) { return std::strlen(path); }

namespace {

// Closes `fd` and returns null with the error number of the call that failed before.
std::FILE* Abandon(int fd) {
  const int error = errno;
  close(fd);
  errno = error;
  return nullptr;
}

}  // namespace

std::FILE* OpenDestination(const char* path, bool fifo_needs_reader, DestinationOpen* result) {
  *result = DestinationOpen::kFailed;
  // Opened for reading too, a FIFO always has a reader (this program) and swallows what is
  // written; opened for writing alone without blocking, it fails with ENXIO while no
  // program reads it.
  struct stat info {};
  const bool fifo = fifo_needs_reader && stat(path, &info) == 0 && S_ISFIFO(info.st_mode);
  const int fd = fifo ? open(path, O_WRONLY | O_NONBLOCK | O_CLOEXEC)
                      : open(path, O_RDWR | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) {
    if (fifo && errno == ENXIO) *result = DestinationOpen::kNoReader;
    return nullptr;
  }
  // Writes block again like those of fopen's streams; O_NONBLOCK only kept the open from
  // waiting for the other end of a FIFO.
  const int flags = fcntl(fd, F_GETFL);
  if (flags == -1 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == -1 || fstat(fd, &info) != 0) {
    return Abandon(fd);
  }
  if (S_ISREG(info.st_mode)) {
    // The lock belongs to this open file, so it holds until the stream is closed. Only then,
    // with no other amrconv writing the file, is it cut to nothing.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
      if (errno == EWOULDBLOCK) *result = DestinationOpen::kBusy;
      return Abandon(fd);
    }
    if (ftruncate(fd, 0) != 0) return Abandon(fd);
  }
  std::FILE* stream = fdopen(fd, fifo ? "wb" : "wb+");  // "w" on a descriptor truncates nothing
  return stream != nullptr ? Opened(stream, result) : Abandon(fd);
}

bool SeekStream(std::FILE* stream, uint64_t offset) {
  return fseeko(stream, static_cast<off_t>(offset), SEEK_SET) == 0;
}

bool TruncateStream(std::FILE* stream, uint64_t size) {
  return ftruncate(fileno(stream), static_cast<off_t>(size)) == 0;
}

namespace {
bool IdentityOf(const struct stat& info, Identity* identity) {
  if (S_ISCHR(info.st_mode)) return false;
  *identity = {static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
  return true;
}
}  // namespace

bool StreamIdentity(std::FILE* stream, Identity* identity) {
  const int saved = errno;
  struct stat info {};
  const bool known = stream != nullptr && fstat(fileno(stream), &info) == 0 && IdentityOf(info, identity);
  errno = saved;
  return known;
}

bool PathIdentity(const char* path, Identity* identity) {
  const int saved = errno;
  struct stat info {};
  const bool known = stat(path, &info) == 0 && IdentityOf(info, identity);
  errno = saved;
  return known;
}

#endif

}  // namespace amrnb::file_platform
