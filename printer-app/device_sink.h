// The job stream's way to the printer: the printer's PAPPL device, its
// writes watched.
#pragma once

#include <pappl/pappl.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>

#include "zeru/byte_sink.h"

namespace zeruapp {

// Watches a job's writes to a network printer. PAPPL 1.3.1's
// papplDeviceWrite blocks with no time-out while the printer takes no data
// (out of paper, jammed), and nothing looks at the job's cancel flag
// meanwhile: the watch ends such a write once the job is cancelled, and says
// on the printer when a write has waited long.

// How long a cancelled job's write may still wait for the printer (its
// abort trailer among them) before the connection is shut.
constexpr std::chrono::seconds kCancelledWriteGrace{2};
// How long a write waits before the printer is marked as not taking data.
constexpr std::chrono::seconds kStalledWriteLimit{20};

class WriteWatch {
 public:
  // Watches only devices whose connection it can shut (network printers);
  // for the others it does nothing.
  WriteWatch(pappl_job_t* job, pappl_device_t* device);
  ~WriteWatch();
  WriteWatch(const WriteWatch&) = delete;
  WriteWatch& operator=(const WriteWatch&) = delete;

  // Around every call that may write to the device.
  void begin();
  void end();

 private:
  void run();

  pappl_job_t* job_;
  pappl_printer_t* printer_;
  int fd_ = -1;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool writing_ = false;
  bool stopping_ = false;
  bool reported_ = false;
  bool offlineBefore_ = false;
  bool shut_ = false;
  std::chrono::steady_clock::time_point since_;
  std::thread thread_;
};

// A network printer's writes are watched: they end when the job is
// cancelled while the printer takes no data.
class DeviceSink : public zeru::ByteSink {
 public:
  DeviceSink(pappl_job_t* job, pappl_device_t* device);
  bool write(const void* data, size_t length) override;
  // Sends what the device still buffers; false when the device did not
  // send everything this sink accepted.
  bool flush() override;
  // A write was refused: the job is not what the printer got.
  bool failed() const { return failed_; }

 private:
  pappl_device_t* device_;
  WriteWatch watch_;
  // The device's count of bytes sent when the sink began, and the bytes the
  // sink has accepted since.
  size_t writtenBefore_ = 0;
  size_t accepted_ = 0;
  bool failed_ = false;
};

}  // namespace zeruapp
