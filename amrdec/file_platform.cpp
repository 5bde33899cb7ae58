#include "file_platform.h"

#if defined(_WIN32)
#include <windows.h>
#include <io.h>

#include <cstdlib>
#include <cwchar>
#else
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace amrnb::file_platform {

#if defined(_WIN32)

const char* const kPathLengthUnit = "characters";

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

const char* const kPathLengthUnit = "bytes";

int LastError() { return errno; }
void SetLastError(int error) { errno = error; }

std::FILE* OpenPath(const char* path, const char* mode) { return std::fopen(path, mode); }

std::size_t PathLength(const char* path) { return std::strlen(path); }

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
