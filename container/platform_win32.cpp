// Windows forms of the platform services. Paths travel through the program as UTF-8 and are
// opened by their UTF-16 names; files are told apart by volume serial number and file index
// (the C runtime's st_ino is always 0 there). None of the helpers changes the last-error
// number that a caller is about to report, except the file open itself.
#define AMRCONV_PLATFORM_WIN32_SOURCE
#include <windows.h>
#include <shellapi.h>
#include <io.h>

#include <fcntl.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "container/platform.h"

namespace platform_win32 {
int LastError() { return static_cast<int>(::GetLastError()); }
void SetLastError(int error) { ::SetLastError(static_cast<DWORD>(error)); }
uint32_t TickCount() { return ::GetTickCount(); }
}  // namespace platform_win32

namespace {

// Keeps the caller's last-error number across the helper calls of one scope.
class KeepLastError {
 public:
  KeepLastError() : saved_(::GetLastError()) {}
  ~KeepLastError() { ::SetLastError(saved_); }

 private:
  DWORD saved_;
};

std::wstring Decode(const char* text, UINT code_page, DWORD flags) {
  const int units = MultiByteToWideChar(code_page, flags, text, -1, nullptr, 0);
  if (units <= 0) return {};
  std::wstring wide(static_cast<size_t>(units), L'\0');
  MultiByteToWideChar(code_page, flags, text, -1, wide.data(), units);
  wide.resize(static_cast<size_t>(units) - 1);  // drop the NUL
  return wide;
}

// A path as UTF-16: UTF-8 when the bytes are valid UTF-8 (ASCII is), otherwise text in the
// console's input code page, or in the ANSI code page when there is no console.
std::wstring WidePath(const char* path) {
  KeepLastError keep;
  if (*path == '\0') return {};
  std::wstring wide = Decode(path, CP_UTF8, MB_ERR_INVALID_CHARS);
  if (wide.empty()) {
    const UINT console = GetConsoleCP();
    wide = Decode(path, console != 0 ? console : CP_ACP, 0);
  }
  return wide;
}

std::string Utf8(const wchar_t* text) {
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return {};
  std::string utf8(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), bytes, nullptr, nullptr);
  utf8.resize(static_cast<size_t>(bytes) - 1);
  return utf8;
}

bool IdentityOfHandle(HANDLE handle, FileIdentity* identity) {
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

size_t PathLength(const char* path) { return WidePath(path).size(); }

FILE* OpenFile(const char* path, const char* mode) {
  const std::wstring wide_path = WidePath(path);
  const std::wstring wide_mode(mode, mode + std::char_traits<char>::length(mode));
  return _wfopen(wide_path.c_str(), wide_mode.c_str());
}

bool StreamIdentity(FILE* stream, FileIdentity* identity) {
  KeepLastError keep;
  if (stream == nullptr) return false;
  const int descriptor = _fileno(stream);
  if (descriptor < 0) return false;
  return IdentityOfHandle(reinterpret_cast<HANDLE>(_get_osfhandle(descriptor)), identity);
}

bool PathIdentity(const char* path, FileIdentity* identity) {
  KeepLastError keep;
  // No access rights are asked for and every kind of sharing is allowed, so the file can be
  // looked at while the program (or another) has it open; the backup-semantics flag lets a
  // directory be opened too.
  const HANDLE handle = CreateFileW(WidePath(path).c_str(), 0,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  const bool known = IdentityOfHandle(handle, identity);
  CloseHandle(handle);
  return known;
}

void UseUtf8Arguments(int* argc, char*** argv) {
  KeepLastError keep;
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return;
  // Kept for the whole run: main's argv points into them.
  static std::vector<std::string> arguments;
  static std::vector<char*> pointers;
  arguments.clear();
  for (int i = 0; i < count; ++i) arguments.push_back(Utf8(wide[i]));
  LocalFree(wide);
  pointers.clear();
  for (std::string& argument : arguments) pointers.push_back(argument.data());
  pointers.push_back(nullptr);
  *argc = count;
  *argv = pointers.data();
}

bool IsTerminal(FILE* stream) { return _isatty(_fileno(stream)) != 0; }

FILE* OpenDestination(const char* path, bool, DestinationOpen* result) {
  *result = DestinationOpen::kFailed;
  // Opened without truncation; a file another amrconv has locked is left untouched. Reading
  // and writing stay shared, as with fopen, so a player may look at the file meanwhile.
  const HANDLE handle = CreateFileW(WidePath(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return nullptr;
  const auto abandon = [handle] {
    const DWORD error = ::GetLastError();
    CloseHandle(handle);
    ::SetLastError(error);
    return static_cast<FILE*>(nullptr);
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
  FILE* stream = _fdopen(descriptor, "wb+");
  if (stream == nullptr) {
    _close(descriptor);  // closes the handle too
    return nullptr;
  }
  std::setvbuf(stream, nullptr, _IONBF, 0);
  *result = DestinationOpen::kOpened;
  return stream;
}

bool SeekStream(FILE* stream, uint64_t offset) {
  return _fseeki64(stream, static_cast<__int64>(offset), SEEK_SET) == 0;
}

bool TruncateStream(FILE* stream, uint64_t size) {
  return _chsize_s(_fileno(stream), static_cast<__int64>(size)) == 0;
}

// A Windows program started without standard handles gets no descriptors in their places.
void OpenMissingStandardDescriptors() {}

namespace {

volatile std::sig_atomic_t pending_interrupt = 0;

// The C runtime calls this from its console control handler, on a thread of its own. It
// resets the handler to the default before the call, so a second Ctrl-C ends the program.
extern "C" void OnInterrupt(int signal_number) {
  if (pending_interrupt != 0) {
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
    return;
  }
  pending_interrupt = signal_number;
}

}  // namespace

void InstallInterruptHandlers() {
  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);
}

int PendingInterrupt() { return pending_interrupt; }
