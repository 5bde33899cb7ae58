// Windows forms of the program's process-level services: the tick counter, the command-line
// arguments as UTF-8, consoles, and Ctrl-C through the C runtime. None of them changes the
// last-error number that a caller is about to report. The file-level services (UTF-16 names,
// file identities, the destination lock) are the library's (amrdec/file_platform.cpp).
#define AMRCONV_PLATFORM_WIN32_SOURCE
#include <windows.h>
#include <shellapi.h>
#include <io.h>

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "container/platform.h"

namespace platform_win32 {
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

std::string Utf8(const wchar_t* text) {
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return {};
  std::string utf8(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), bytes, nullptr, nullptr);
  utf8.resize(static_cast<size_t>(bytes) - 1);
  return utf8;
}

}  // namespace

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
