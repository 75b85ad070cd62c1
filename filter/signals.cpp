#include "filter/signals.h"

#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "filter/log.h"
#include "filter/spool_files.h"

volatile sig_atomic_t cancelRequested = 0;

namespace {

constexpr int kTimerSeconds = 25;

// The running job's spool files, for the SIGPIPE handler.
std::atomic<SpoolFileTable*> spoolFilesForSignals{nullptr};
static_assert(std::atomic<SpoolFileTable*>::is_always_lock_free, "read from a signal handler");

void writeStderr(const char* text) {
  ssize_t written = write(STDERR_FILENO, text, strlen(text));
  (void)written;  // nothing more can be done from a handler
}

void onPipe(int) {
  writeStderr("ERROR: SIGPIPE Job Abort.\n");
  if (SpoolFileTable* files = spoolFilesForSignals.load()) files->removeAllFromSignal();
  _exit(0);
}

void onTerm(int) {
  writeStderr("INFO: Ready to print - Job canceled.\n");
  cancelRequested = 1;
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

void setSpoolFilesForSignals(SpoolFileTable* files) { spoolFilesForSignals.store(files); }

void installPipeHandler() { install(SIGPIPE, onPipe, 0); }

void installTimer() {
  install(SIGALRM, onAlarm, SA_RESTART);
  itimerval timer{};
  timer.it_value.tv_sec = kTimerSeconds;
  timer.it_interval.tv_sec = kTimerSeconds;
  setitimer(ITIMER_REAL, &timer, nullptr);
}

void installTermHandler() {
  cancelRequested = 0;
  install(SIGTERM, onTerm, SA_RESTART);
}
