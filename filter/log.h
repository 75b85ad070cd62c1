// Diagnostic log: "/tmp/zemro_filter.log", the current job only.
//
// Every append opens, writes and closes the file on its own, with one write()
// per line, so that lines from the line workers and the timer never interleave.
// The file is opened with O_NOFOLLOW: the name is fixed in a world-writable
// directory, and a planted symbolic link must not redirect our writes.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

inline constexpr const char* kLogPath = "/tmp/zemro_filter.log";

// Truncates the log (or creates it). A log that cannot be opened is not written.
void logTruncate();

// Appends text followed by one newline. Async-signal-safe: open, write, close
// and a stack buffer only (longer texts are cut to the buffer).
void logLine(const char* text);

// A block of lines written through one open file, for the settings dump.
// When the log cannot be opened, every write into the block is skipped.
class LogBlock {
public:
  LogBlock();
  ~LogBlock();
  LogBlock(const LogBlock&) = delete;
  LogBlock& operator=(const LogBlock&) = delete;
  bool isOpen() const { return file_ != nullptr; }
  void printf(const char* format, ...) __attribute__((format(printf, 2, 3)));

private:
  FILE* file_ = nullptr;
};
