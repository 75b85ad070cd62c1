#include "job/page_stream.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace {

// A block that the printer connection refuses for a passing reason (EINTR,
// EAGAIN) is offered again whenever the connection can take data: a printer
// that stops reading (out of paper, a backend waiting) is waited for for as
// long as the job is not cancelled. Once it is, the block gets up to
// kOutputRetries more tries without progress, kOutputBackoffMs apart, about
// a second in all, so that a cancelled job ends even when nothing reads.
constexpr int kOutputRetries = 100;
constexpr int kOutputBackoffMs = 10;
// While the job goes on, how long one wait for the connection lasts before
// the cancel flag is looked at again.
constexpr int kOutputWaitMs = 200;

// Plane order inside a colour page record: the reverse of the order of the
// length fields (plane 3's field comes first, its data last).
constexpr int kColourPlaneOrder[4] = {2, 1, 0, 3};

// Writes all of `data` with unbuffered writes, going on after short writes
// and interruptions. False on any other failure (errno set).
bool writeAll(int fd, const uint8_t* data, size_t length) {
  while (length > 0) {
    ssize_t written = write(fd, data, length);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (written == 0) {
      errno = EIO;
      return false;
    }
    data += written;
    length -= static_cast<size_t>(written);
  }
  return true;
}

bool passingFailure(int error) { return error == EINTR || error == EAGAIN || error == EWOULDBLOCK; }

// After a passing failure: waits for the connection to take data again.
// False when the block is to be given up: the job was cancelled and the
// tries after the cancel are spent.
bool waitForOutput(int fd, const std::function<bool()>& cancelled, int& triesAfterCancel) {
  const bool stopping = cancelled && cancelled();
  if (stopping && ++triesAfterCancel > kOutputRetries) return false;
  const int waitMs = stopping ? kOutputBackoffMs : kOutputWaitMs;
  if (fd >= 0) {
    pollfd waiter{fd, POLLOUT, 0};
    poll(&waiter, 1, waitMs);
  } else {
    usleep(static_cast<useconds_t>(waitMs) * 1000);
  }
  return true;
}

// Output through the stream's buffer, for streams without a descriptor.
bool writeBuffered(FILE* out, const uint8_t* data, size_t length,
                   const std::function<bool()>& cancelled) {
  int tries = 0;
  while (length > 0) {
    size_t written = fwrite(data, 1, length, out);
    data += written;
    length -= written;
    if (length == 0) break;
    if (written > 0) tries = 0;
    if (!ferror(out) || !passingFailure(errno)) return false;
    clearerr(out);
    if (!waitForOutput(-1, cancelled, tries)) return false;
  }
  return true;
}

}  // namespace

bool WritePageRecord(int fd, PageStartRecord& record, const PlaneBuffers& planes) {
  // Only what the record announces may follow it: check that every plane's
  // bytes are there and match its length field before anything is written.
  for (int p = 0; p < 4; ++p) {
    uint32_t length = planes.usesPlane(p) ? planes.compressedLength[p] : 0;
    if (length > planes.compressed[p].size() || record.planeLength(p) != length) {
      errno = EINVAL;
      return false;
    }
  }
  const CommandRecord& bytes = record.sealed();
  if (!writeAll(fd, bytes.data(), bytes.size())) return false;

  for (int p : kColourPlaneOrder) {
    if (!planes.usesPlane(p)) continue;
    if (!writeAll(fd, planes.compressed[p].data(), planes.compressedLength[p])) return false;
  }
  return true;
}

bool writeOutputBlock(FILE* out, const void* data, size_t length,
                      const std::function<bool()>& cancelled) {
  const uint8_t* bytes = static_cast<const uint8_t*>(data);
  int fd = fileno(out);
  if (fd < 0) return writeBuffered(out, bytes, length, cancelled);

  // Whatever the stream still buffers goes first, then the block straight
  // to the descriptor: a failed buffered write may drop bytes it has
  // already taken, a direct write says exactly how much went through.
  if (fflush(out) != 0) return false;
  int tries = 0;
  while (length > 0) {
    ssize_t written = write(fd, bytes, length);
    if (written > 0) {
      bytes += written;
      length -= static_cast<size_t>(written);
      tries = 0;
      continue;
    }
    if (written == 0) errno = EIO;
    if (!passingFailure(errno)) return false;
    if (!waitForOutput(fd, cancelled, tries)) return false;
  }
  return true;
}

bool zeru::FileSink::write(const void* data, size_t length) {
  return writeOutputBlock(out_, data, length, cancelled_);
}

SendResult SendSpooledPage(zeru::ByteSink& out, const char* spoolName, std::vector<uint8_t>& copyBuffer,
                           const std::function<bool()>& cancelled) {
  bool outputOk = true;
  if (copyBuffer.empty()) copyBuffer.resize(kCopyBufferSize);
  int fd = spoolName ? open(spoolName, O_RDONLY | O_CLOEXEC) : -1;

  // A spool file that cannot be opened or read sends no page data; the
  // page-end record still closes the page for the printer.
  if (fd >= 0) {
    for (;;) {
      ssize_t got = read(fd, copyBuffer.data(), copyBuffer.size());
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      if (!out.write(copyBuffer.data(), static_cast<size_t>(got))) {
        outputOk = false;
        break;
      }
    }
  }

  // The cancel mark is read as the record is built, and the same reading
  // is reported to the caller.
  const bool cancelMark = cancelled();
  if (outputOk) {
    CommandRecord pageEnd = makePageEndRecord(cancelMark);
    outputOk = out.write(pageEnd.data(), pageEnd.size());
  }
  if (fd >= 0) close(fd);

  if (!outputOk) return SendResult::OutputFailed;
  return cancelMark ? SendResult::Cancelled : SendResult::Sent;
}
