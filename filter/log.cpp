#include "filter/log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstring>

namespace {

// O_NONBLOCK: opening a FIFO without a reader fails at once instead of
// waiting for one. O_NOFOLLOW: a planted symbolic link is not followed.
constexpr int kLogFlags = O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
// The log holds job titles, user names and the job's options: only the
// user the filter runs as may read it.
constexpr mode_t kLogMode = 0600;

constexpr const char* kLeftOutFormat =
    "INFO: Further \"%s\" lines of this job are left out of the log";

// The job's log descriptor, -1 without a log. Written by logTruncate on the
// main thread before any other thread exists; read by every writer, the
// SIGALRM handler included.
std::atomic<int> logFd{-1};
static_assert(std::atomic<int>::is_always_lock_free, "read from a signal handler");

// Lines of each PerLineLog kind written in this job; incremented by the
// thread that writes one, reset by logTruncate.
std::atomic<unsigned> perLineCounts[static_cast<int>(PerLineLog::RasterLineUnreadable) + 1];

// One buffer with a single write(), so that concurrent lines stay whole.
void appendRaw(const char* data, size_t length) {
  int fd = logFd.load();
  if (fd < 0) return;
  ssize_t written = write(fd, data, length);
  (void)written;  // a lost log line is not worth failing the job for
}

// A log the filter may write: a regular file of its own user, under this
// one name only (no hard link to a file elsewhere).
bool isOwnLog(int fd) {
  struct stat info;
  return fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == geteuid() &&
         info.st_nlink == 1;
}

LogStart openLog(int& fd) {
  fd = open(kLogPath, kLogFlags | O_CREAT, kLogMode);
  if (fd >= 0 && isOwnLog(fd)) {
    int truncated = ftruncate(fd, 0);
    (void)truncated;  // an old job's lines left in the log harm no one
    // A log left by an earlier job may have been created readable by all.
    fchmod(fd, kLogMode);
    return LogStart::Opened;
  }
  struct stat info;
  bool somethingThere = fd >= 0 || lstat(kLogPath, &info) == 0;
  if (fd >= 0) close(fd);
  fd = -1;
  if (!somethingThere) return LogStart::Unavailable;

  // A link, a FIFO, a directory or another user's file holds the name: a new
  // file takes its place where the sticky directory lets the filter remove
  // it. O_EXCL: whatever appears at the name meanwhile is not opened either.
  if (unlink(kLogPath) != 0) return LogStart::Refused;
  fd = open(kLogPath, kLogFlags | O_CREAT | O_EXCL, kLogMode);
  return fd >= 0 ? LogStart::Opened : LogStart::Refused;
}

}  // namespace

LogStart logTruncate() {
  int old = logFd.exchange(-1);
  if (old >= 0) close(old);
  for (std::atomic<unsigned>& count : perLineCounts) count.store(0);
  int fd = -1;
  LogStart start = openLog(fd);
  logFd.store(fd);
  return start;
}

void logLine(const char* text) {
  char buffer[1024];
  size_t length = strnlen(text, sizeof buffer - 1);
  memcpy(buffer, text, length);
  buffer[length++] = '\n';
  appendRaw(buffer, length);
}

void logPerLine(PerLineLog kind, const char* text) {
  unsigned count = perLineCounts[static_cast<int>(kind)].fetch_add(1) + 1;
  if (count <= kPerLineLogLimit) {
    logLine(text);
  } else if (count == kPerLineLogLimit + 1) {
    char line[256];
    snprintf(line, sizeof line, kLeftOutFormat, text);
    logLine(line);
  }
}

void logBlock(const std::string& text) { appendRaw(text.data(), text.size()); }
