// Diagnostic log: "/tmp/zemro_filter.log", the current job only.
//
// The job opens the log once, at start-up, and keeps the descriptor: every
// line is then a single write() on it, so that lines from the line workers and
// the timer never interleave, and the SIGALRM handler opens nothing.
//
// The name is fixed, in a world-writable directory. The filter writes only to
// a regular file of its own user that it opened without following a link and
// without blocking (a FIFO would hold the start-up). Anything else found at
// the name (a link, a FIFO, a file another user planted there) is replaced
// by a new file readable by the filter's user only; where the filter may not
// remove it (another user's file in the sticky /tmp), the job goes without a
// log.
#pragma once

#include <string>

inline constexpr const char* kLogPath = "/tmp/zemro_filter.log";

// Lines written once for every raster line; the log keeps the first
// kPerLineLogLimit of each kind in a job, then says once that the rest are
// left out.
inline constexpr unsigned kPerLineLogLimit = 2048;
enum class PerLineLog { RasterLineRead, RasterLineUnreadable };

// How the start of the job's log went.
enum class LogStart {
  Opened,       // the log is empty and open for the job
  Unavailable,  // no file can be made there (the directory cannot be written)
  Refused,      // the name holds something that is not the filter's own log
                // and that the filter may not remove
};

// Opens the job's log, empty, and keeps it open for the job; a log opened
// before is closed first. Without a log every line below is lost.
LogStart logTruncate();

// Appends text followed by one newline. Async-signal-safe: an atomic load,
// a stack buffer and one write() (longer texts are cut to the buffer).
void logLine(const char* text);

// Appends a line written once per raster line: the job's first
// kPerLineLogLimit lines of `kind` as logLine does, then one line saying that
// the rest are left out, then nothing. Thread-safe.
void logPerLine(PerLineLog kind, const char* text);

// Appends text as it is (its lines carry their own newlines), in one write.
void logBlock(const std::string& text);
