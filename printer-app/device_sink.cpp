#include "printer-app/device_sink.h"

#include <cerrno>

namespace zeruapp {

bool DeviceSink::write(const void* data, size_t length) {
  if (failed_) {
    errno = EIO;
    return false;
  }
  if (length == 0) return true;
  errno = 0;
  ssize_t written = papplDeviceWrite(device_, data, length);
  if (written < 0 || static_cast<size_t>(written) != length) {
    if (errno == 0) errno = EIO;
    failed_ = true;
    return false;
  }
  return true;
}

bool DeviceSink::flush() {
  if (failed_) {
    errno = EIO;
    return false;
  }
  papplDeviceFlush(device_);
  return true;
}

}  // namespace zeruapp
