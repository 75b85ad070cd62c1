#include "driver/signals.h"

#include <fcntl.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "driver/log.h"
#include "driver/spool.h"

volatile sig_atomic_t cancelRequested = 0;

namespace {

constexpr int kTimerSeconds = 25;

// The raster input that a cancel ends, or -1. Written once before the
// SIGTERM handler is installed, read only by the handler.
volatile sig_atomic_t cancelledInputFd = -1;

void writeStderr(const char* text) {
  ssize_t written = write(STDERR_FILENO, text, strlen(text));
  (void)written;  // nothing more can be done from a handler
}

void onPipe(int) {
  writeStderr("ERROR: SIGPIPE Job Abort.\n");
  removeAllSpoolFilesFromSignal();
  _exit(0);
}

// A cancelled job needs no more input, and its input may never end: the
// program before the filter can stay alive, or keep its end of the pipe open.
// The raster descriptor is replaced by /dev/null, so that a read waiting on
// it (restarted after this handler) or any later read sees the end of the
// input, and the job takes its way to the shutdown.
void endCancelledInput() {
  int fd = cancelledInputFd;
  if (fd < 0) return;
  int null = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (null < 0) return;
  if (null != fd) {
    dup2(null, fd);
    close(null);
  }
}

void onTerm(int) {
  int savedErrno = errno;
  writeStderr("INFO: Ready to print - Job canceled.\n");
  cancelRequested = 1;
  endCancelledInput();
  errno = savedErrno;
}

void onAlarm(int) {
  int savedErrno = errno;
  logLine("INFO: Enter dummy command sub-routine\n");
  logLine("INFO: Exit dummy command sub-routine\n");
  errno = savedErrno;
}

void install(int signalNumber, void (*handler)(int), int flags) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = flags;
  sigaction(signalNumber, &action, nullptr);
}

}  // namespace

void installPipeHandler() { install(SIGPIPE, onPipe, 0); }

void installTimer() {
  install(SIGALRM, onAlarm, SA_RESTART);
  itimerval timer{};
  timer.it_value.tv_sec = kTimerSeconds;
  timer.it_interval.tv_sec = kTimerSeconds;
  setitimer(ITIMER_REAL, &timer, nullptr);
}

void cancelEndsInput(int rasterFd) { cancelledInputFd = rasterFd; }

void installTermHandler() {
  cancelRequested = 0;
  install(SIGTERM, onTerm, SA_RESTART);
}
