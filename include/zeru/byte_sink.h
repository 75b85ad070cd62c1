// Where the job stream goes: the printer connection of a CUPS filter (its
// standard output), a device of a printer application, memory in a test.
#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>

namespace zeru {

class ByteSink {
 public:
  virtual ~ByteSink() = default;
  // Writes all of `data`; false when the sink refused it for good (errno
  // set). Nothing stays buffered: what was accepted is on its way.
  virtual bool write(const void* data, size_t length) = 0;
  // Hands on whatever the sink's own buffer still holds; false when that
  // failed (errno set). Sinks without a buffer have nothing to do.
  virtual bool flush() { return true; }
};

// A stdio stream: what the stream still buffers goes first, then each block
// straight to its descriptor (a stream without one is written through its
// buffer). A block refused for a passing reason (EINTR, EAGAIN) is offered
// again: a reader that stalls is waited for as long as `cancelled` says no,
// and about a second more once it says yes.
class FileSink : public ByteSink {
 public:
  explicit FileSink(FILE* out, std::function<bool()> cancelled = {})
      : out_(out), cancelled_(std::move(cancelled)) {}
  bool write(const void* data, size_t length) override;
  bool flush() override { return fflush(out_) == 0; }

 private:
  FILE* out_;
  std::function<bool()> cancelled_;
};

// The stream in memory.
class StringSink : public ByteSink {
 public:
  bool write(const void* data, size_t length) override {
    bytes.append(static_cast<const char*>(data), length);
    return true;
  }
  std::string bytes;
};

}  // namespace zeru
