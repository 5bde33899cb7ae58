#include "app/system_io.h"

#include <csignal>

#ifdef _WIN32
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

bool SeekStream(FILE* stream, uint64_t offset) {
#ifdef _WIN32
  return _fseeki64(stream, static_cast<__int64>(offset), SEEK_SET) == 0;
#else
  return fseeko(stream, static_cast<off_t>(offset), SEEK_SET) == 0;
#endif
}

bool TruncateStream(FILE* stream, uint64_t size) {
#ifdef _WIN32
  return _chsize_s(_fileno(stream), static_cast<__int64>(size)) == 0;
#else
  return ftruncate(fileno(stream), static_cast<off_t>(size)) == 0;
#endif
}

#ifdef _WIN32
void OpenMissingStandardDescriptors() {}
#else
void OpenMissingStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    // open returns the lowest free descriptor, which is this one when it is closed.
    if (fcntl(fd, F_GETFD) == -1 && open("/dev/null", O_RDWR) != fd) return;
  }
}
#endif

namespace {

volatile std::sig_atomic_t pending_interrupt = 0;

extern "C" void OnInterrupt(int signal_number) {
  if (pending_interrupt != 0) {
    // The second interrupt: the default action ends the program as soon as this returns.
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
#ifdef SIGHUP
  std::signal(SIGHUP, OnInterrupt);
#endif
#ifdef SIGXFSZ
  std::signal(SIGXFSZ, SIG_IGN);
#endif
}

int PendingInterrupt() { return pending_interrupt; }
