// POSIX forms of the platform services: paths are byte strings, files are told apart by
// device and inode, destinations are locked with flock, interrupts come through sigaction.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

#include "container/platform.h"

static_assert(SIGPIPE == kOutputClosed, "the closed-output status is 128 + SIGPIPE");

size_t PathLength(const char* path) { return std::strlen(path); }

FILE* OpenFile(const char* path, const char* mode) { return std::fopen(path, mode); }

namespace {

FileIdentity IdentityOf(const struct stat& info) {
  return {static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
}

// Closes `fd` and returns null with the error number of the call that failed before.
FILE* Abandon(int fd) {
  const int error = errno;
  close(fd);
  errno = error;
  return nullptr;
}

}  // namespace

FILE* OpenDestination(const char* path, bool fifo_needs_reader, DestinationOpen* result) {
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
  FILE* stream = fdopen(fd, fifo ? "wb" : "wb+");  // "w" on a descriptor truncates nothing
  if (stream == nullptr) return Abandon(fd);
  std::setvbuf(stream, nullptr, _IONBF, 0);
  *result = DestinationOpen::kOpened;
  return stream;
}

bool SeekStream(FILE* stream, uint64_t offset) {
  return fseeko(stream, static_cast<off_t>(offset), SEEK_SET) == 0;
}

bool TruncateStream(FILE* stream, uint64_t size) {
  return ftruncate(fileno(stream), static_cast<off_t>(size)) == 0;
}

void OpenMissingStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    // open returns the lowest free descriptor, which is this one when it is closed.
    if (fcntl(fd, F_GETFD) == -1 && open("/dev/null", O_RDWR) != fd) return;
  }
}

bool StreamIdentity(FILE* stream, FileIdentity* identity) {
  struct stat info {};
  if (stream == nullptr || fstat(fileno(stream), &info) != 0 || S_ISCHR(info.st_mode)) return false;
  *identity = IdentityOf(info);
  return true;
}

bool PathIdentity(const char* path, FileIdentity* identity) {
  struct stat info {};
  if (stat(path, &info) != 0 || S_ISCHR(info.st_mode)) return false;
  *identity = IdentityOf(info);
  return true;
}

void UseUtf8Arguments(int*, char***) {}

bool IsTerminal(FILE* stream) { return isatty(fileno(stream)) == 1; }
namespace {

volatile std::sig_atomic_t pending_interrupt = 0;
volatile std::sig_atomic_t output_closed = 0;

// Without SA_RESTART a read, write or open that the signal finds blocked returns with EINTR,
// and the job sees the interrupt at once.
void SetAction(int signal_number, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;
  sigaction(signal_number, &action, nullptr);
}

extern "C" void OnWakeUp(int) {}

extern "C" void OnOutputClosed(int) { output_closed = 1; }

extern "C" void OnInterrupt(int signal_number) {
  if (pending_interrupt != 0) {
    // The second interrupt: blocked while this handler runs, it takes the default action,
    // ending the program, as soon as the handler returns.
    SetAction(signal_number, SIG_DFL);
    raise(signal_number);
    return;
  }
  pending_interrupt = signal_number;
  // A signal that lands just before a blocking call, or a job that still has frames to hand
  // to a stalled pipe, would wait forever: from now on a timer interrupts every blocked call
  // within a tenth of a second until the job has wound down. (setitimer is a bare system call
  // on Linux and the BSDs, with no lock or state of the C library, so a handler may call it.)
  itimerval every_tenth{{0, 100000}, {0, 100000}};
  setitimer(ITIMER_REAL, &every_tenth, nullptr);
}

void CatchUnlessIgnored(int signal_number) {
  struct sigaction current {};
  if (sigaction(signal_number, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) return;
  SetAction(signal_number, OnInterrupt);
}

}  // namespace

void InstallInterruptHandlers() {
  SetAction(SIGALRM, OnWakeUp);
  SetAction(SIGPIPE, OnOutputClosed);
  SetAction(SIGXFSZ, SIG_IGN);
  CatchUnlessIgnored(SIGINT);
  CatchUnlessIgnored(SIGTERM);
  CatchUnlessIgnored(SIGHUP);
}

int PendingInterrupt() {
  if (pending_interrupt != 0) return pending_interrupt;
  // SIGPIPE also comes from a destination pipe whose reader left, which the job reports as a
  // failed write; only standard output's failure stops the job like an interrupt.
  if (output_closed != 0 && std::ferror(stdout)) return kOutputClosed;
  return 0;
}
