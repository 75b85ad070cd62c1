#include "filter/log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace {

constexpr int kLogFlags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC;
// The log holds job titles, user names and the job's options: only the
// user the filter runs as may read it.
constexpr mode_t kLogMode = 0600;

// Appends one buffer with a single write(), so that concurrent lines stay whole.
void appendRaw(const char* data, size_t length) {
  int fd = open(kLogPath, kLogFlags | O_APPEND, kLogMode);
  if (fd < 0) return;
  ssize_t written = write(fd, data, length);
  (void)written;  // a lost log line is not worth failing the job for
  close(fd);
}

}  // namespace

void logTruncate() {
  int fd = open(kLogPath, kLogFlags | O_TRUNC, kLogMode);
  if (fd < 0) return;
  // A log left by an earlier job may have been created readable by all.
  fchmod(fd, kLogMode);
  close(fd);
}

void logLine(const char* text) {
  char buffer[1024];
  size_t length = strnlen(text, sizeof buffer - 1);
  memcpy(buffer, text, length);
  buffer[length++] = '\n';
  appendRaw(buffer, length);
}

LogBlock::LogBlock() {
  int fd = open(kLogPath, kLogFlags | O_APPEND, kLogMode);
  if (fd < 0) return;
  file_ = fdopen(fd, "a");
  if (!file_) close(fd);
}

LogBlock::~LogBlock() {
  if (file_) fclose(file_);
}

void LogBlock::printf(const char* format, ...) {
  if (!file_) return;
  va_list args;
  va_start(args, format);
  vfprintf(file_, format, args);
  va_end(args);
}
