// POSIX forms of the program's process-level services: the standard descriptors, terminals,
// and the interrupts, which come through sigaction. The file-level services are the library's
// (amrdec/file_platform.cpp).
#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

#include <csignal>

#include "container/platform.h"

static_assert(SIGPIPE == kOutputClosed, "the closed-output status is 128 + SIGPIPE");

void OpenMissingStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    // open returns the lowest free descriptor, which is this one when it is closed.
    if (fcntl(fd, F_GETFD) == -1 && open("/dev/null", O_RDWR) != fd) return;
  }
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
