#include "printer-app/device_sink.h"

#include <cerrno>

namespace zeruapp {

namespace {

size_t bytesWritten(pappl_device_t* device) {
  pappl_devmetrics_t metrics{};
  papplDeviceGetMetrics(device, &metrics);
  return metrics.write_bytes;
}

}  // namespace

DeviceSink::DeviceSink(pappl_job_t* job, pappl_device_t* device)
    : device_(device), watch_(job, device), writtenBefore_(device ? bytesWritten(device) : 0) {}

bool DeviceSink::write(const void* data, size_t length) {
  if (failed_) {
    errno = EIO;
    return false;
  }
  if (length == 0) return true;
  errno = 0;
  watch_.begin();
  ssize_t written = papplDeviceWrite(device_, data, length);
  watch_.end();
  if (written < 0 || static_cast<size_t>(written) != length) {
    if (errno == 0) errno = EIO;
    failed_ = true;
    return false;
  }
  accepted_ += length;
  return true;
}

// papplDeviceWrite keeps small writes in the device's buffer, and
// papplDeviceFlush says nothing of how sending it went: the device's count
// of the bytes it sent tells whether everything accepted reached the
// printer.
bool DeviceSink::flush() {
  if (failed_) {
    errno = EIO;
    return false;
  }
  watch_.begin();
  papplDeviceFlush(device_);
  watch_.end();
  if (bytesWritten(device_) - writtenBefore_ < accepted_) {
    errno = EIO;
    failed_ = true;
    return false;
  }
  return true;
}

}  // namespace zeruapp
