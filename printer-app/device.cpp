#include "printer-app/device.h"

#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

namespace zeruapp {

namespace {

constexpr const char* kWaiting = "Waiting for another job of this printer to end.";
constexpr const char* kWaitingToEnd =
    "Waiting for another job of this printer to finish with the device.";
constexpr const char* kStartedTwice =
    "The job was started a second time while it printed: this run prints nothing.";
constexpr const char* kCancelledBeforeStart = "The job was cancelled before it started.";
constexpr const char* kOwnFileFailed =
    "Unable to open a file of the job's own: writing to the printer's device.";
constexpr auto kTick = std::chrono::milliseconds(200);

struct Turns {
  std::mutex mutex;
  std::condition_variable changed;
  // Per printer: the job holding its turn, and how many jobs hold a turn or
  // wait for one.
  struct Printer {
    pappl_job_t* holder = nullptr;
    const DeviceTurn* turn = nullptr;
    std::thread::id thread;
    int inside = 0;
  };
  std::map<pappl_printer_t*, Printer> printers;
};

Turns& turns() {
  static Turns* state = new Turns;  // used until the process ends
  return *state;
}

}  // namespace

DeviceTurn::DeviceTurn(pappl_job_t* job, pappl_device_t* device)
    : job_(job), printer_(papplJobGetPrinter(job)), device_(device) {
  Turns& state = turns();
  std::unique_lock lock(state.mutex);
  if (Turns::Printer& printer = state.printers[printer_]; printer.holder == job) {
    if (printer.thread == std::this_thread::get_id()) {
      outer_ = printer.turn;
      held_ = true;
      return;
    }
    // PAPPL 1.3.1 may start the same job twice, when its printer is asked
    // for new jobs again before the job's first thread has marked it
    // processing. The job prints once, in its first run. This second run
    // does not return while the server runs: PAPPL would end the job a
    // second time, keep it twice among the completed jobs (and free it
    // twice when it cleans them), and ask for the next job twice over,
    // which starts that one twice as well.
    papplLogJob(job, PAPPL_LOGLEVEL_WARN, "%s", kStartedTwice);
    pappl_system_t* system = papplPrinterGetSystem(printer_);
    while (papplSystemIsRunning(system)) state.changed.wait_for(lock, std::chrono::seconds(1));
    duplicate_ = true;
    return;
  }
  // The job counts while it waits too: the job it waits for may share the
  // device, and must not end (PAPPL then closes the device) before it.
  ++state.printers[printer_].inside;
  bool logged = false;
  while (state.printers[printer_].holder != nullptr) {
    if (papplJobIsCanceled(job)) return;
    if (!logged) {
      papplLogJob(job, PAPPL_LOGLEVEL_INFO, "%s", kWaiting);
      logged = true;
    }
    state.changed.wait_for(lock, kTick);
  }
  state.printers[printer_].holder = job;
  state.printers[printer_].turn = this;
  state.printers[printer_].thread = std::this_thread::get_id();
  held_ = true;
  lock.unlock();

  // PAPPL 1.3.1 closes a file printer's device whenever one of its jobs
  // ends, also while a job it started beside that one writes to it; a file
  // device of the job's own is closed by the job alone. It is opened under
  // the name PAPPL gave the printer's device, so it is the same file.
  const char* uri = papplPrinterGetDeviceURI(printer_);
  if (uri != nullptr && strncmp(uri, "file:", 5) == 0) {
    own_ = papplDeviceOpen(uri, papplJobGetName(job), papplLogDevice,
                           papplPrinterGetSystem(printer_));
    if (own_ == nullptr) papplLogJob(job, PAPPL_LOGLEVEL_WARN, "%s", kOwnFileFailed);
  }
}

DeviceTurn::~DeviceTurn() {
  if (outer_ != nullptr || duplicate_) return;
  if (own_ != nullptr) papplDeviceClose(own_);
  Turns& state = turns();
  std::unique_lock lock(state.mutex);
  if (held_) {
    state.printers[printer_].holder = nullptr;
    state.printers[printer_].turn = nullptr;
  }
  --state.printers[printer_].inside;
  state.changed.notify_all();
  // PAPPL may close the printer's device as soon as this job returns: not
  // while another job of the printer writes to it or waits to.
  bool logged = false;
  while (state.printers[printer_].inside > 0) {
    if (!logged) {
      papplLogJob(job_, PAPPL_LOGLEVEL_DEBUG, "%s", kWaitingToEnd);
      logged = true;
    }
    state.changed.wait_for(lock, kTick);
  }
  if (state.printers[printer_].holder == nullptr) state.printers.erase(printer_);
}

bool cancelledBeforeStart(pappl_job_t* job) {
  // A cancel before the job began gave it its completion time; PAPPL then
  // started it anyway, as processing, without marking it cancelled.
  if (papplJobGetTimeCompleted(job) == 0 || papplJobIsCanceled(job)) return false;
  papplLogJob(job, PAPPL_LOGLEVEL_INFO, "%s", kCancelledBeforeStart);
  papplJobCancel(job);
  return true;
}

namespace {

constexpr const char* kNotTakingData = "The printer does not take data.";
constexpr const char* kTakingData = "The printer takes data again.";
constexpr const char* kShut =
    "The job was cancelled while the printer took no data: connection closed.";

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
