#include "printer-app/device_sink.h"

#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <optional>

namespace zeruapp {

namespace {

constexpr const char* kNotTakingData = "The printer does not take data.";
constexpr const char* kTakingData = "The printer takes data again.";
constexpr const char* kShut =
    "The job was cancelled while the printer took no data: connection closed.";
constexpr auto kTick = std::chrono::milliseconds(200);

// The connection of a network printer's device. PAPPL 1.3 and 1.4 keep it
// as the first member of the socket schemes' device data (their
// _pappl_socket_t); there is no call that gives it. Other versions are not
// watched (ZERU_PAPPL_SOCKET_FD is set by the build for these only).
int connectionOf(pappl_printer_t* printer, pappl_device_t* device) {
#ifdef ZERU_PAPPL_SOCKET_FD
  const char* uri = papplPrinterGetDeviceURI(printer);
  if (device == nullptr || uri == nullptr) return -1;
  if (strncmp(uri, "socket:", 7) != 0 && strncmp(uri, "dnssd:", 6) != 0 &&
      strncmp(uri, "snmp:", 5) != 0)
    return -1;
  const void* data = papplDeviceGetData(device);
  return data ? *static_cast<const int*>(data) : -1;
#else
  (void)printer;
  (void)device;
  return -1;
#endif
}

}  // namespace

WriteWatch::WriteWatch(pappl_job_t* job, pappl_device_t* device)
    : job_(job), printer_(papplJobGetPrinter(job)), fd_(connectionOf(printer_, device)) {
  if (fd_ >= 0) thread_ = std::thread([this] { run(); });
}

WriteWatch::~WriteWatch() {
  if (!thread_.joinable()) return;
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
  end();
}

void WriteWatch::begin() {
  if (fd_ < 0) return;
  std::lock_guard lock(mutex_);
  writing_ = true;
  since_ = std::chrono::steady_clock::now();
}

void WriteWatch::end() {
  if (fd_ < 0) return;
  std::lock_guard lock(mutex_);
  writing_ = false;
  if (reported_) {
    reported_ = false;
    if (!offlineBefore_)
      papplPrinterSetReasons(printer_, PAPPL_PREASON_NONE, PAPPL_PREASON_OFFLINE);
    papplLogJob(job_, PAPPL_LOGLEVEL_INFO, "%s", kTakingData);
  }
}

void WriteWatch::run() {
  std::unique_lock lock(mutex_);
  // When the job was first seen cancelled during the write in progress.
  std::optional<std::chrono::steady_clock::time_point> cancelSeen;
  std::chrono::steady_clock::time_point write;
  while (!stopping_) {
    changed_.wait_for(lock, kTick);
    if (!writing_ || shut_) continue;
    const auto now = std::chrono::steady_clock::now();
    if (!cancelSeen || write != since_) cancelSeen.reset();
    write = since_;
    if (papplJobIsCanceled(job_)) {
      if (!cancelSeen) cancelSeen = now;
      if (now - *cancelSeen >= kCancelledWriteGrace) {
        // The blocked write returns with an error, and so does every later
        // one: the job ends and PAPPL closes the device.
        papplLogJob(job_, PAPPL_LOGLEVEL_WARN, "%s", kShut);
        shutdown(fd_, SHUT_RDWR);
        shut_ = true;
      }
    }
    if (!reported_ && now - since_ >= kStalledWriteLimit) {
      reported_ = true;
      // The printer's own answers may have said so already: that stays.
      offlineBefore_ = (papplPrinterGetReasons(printer_) & PAPPL_PREASON_OFFLINE) != 0;
      papplLogJob(job_, PAPPL_LOGLEVEL_WARN, "%s", kNotTakingData);
      papplPrinterSetReasons(printer_, PAPPL_PREASON_OFFLINE, PAPPL_PREASON_NONE);
    }
  }
}

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
