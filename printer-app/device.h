// A job's way to the printer's device: its turn at the device, one job of a
// printer at a time, and its writes, watched.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>

#include <pappl/pappl.h>

#include "zeru/byte_sink.h"

namespace zeruapp {

// One job at a time at a printer's device, whatever PAPPL starts.
//
// PAPPL 1.3.1 marks a printer busy only when a job's thread has begun
// (printer->processing_job is set by the new thread, not by the code that
// starts it). A job submitted or cancelled in that gap makes PAPPL start a
// second job of the same printer beside the first, and a job cancelled while
// it waited for its thread is started all the same, its state set back to
// processing. Such jobs share the printer's one device, and PAPPL closes it
// as the first of them ends (for file: devices always) while the others may
// still write to it. The drivers' callbacks therefore take turns per
// printer, and a job does not return from PAPPL's callback while another
// job of its printer still writes or waits to, so that PAPPL's close runs
// only once no job writes to the device.

// A job's turn at its printer's device, from before its first write until
// it is destroyed. Waits while another job of the same printer holds its
// turn; a job cancelled while it waits gets no turn. Its destruction waits
// until no other job of the printer is inside a turn or waiting for one.
// A job of a file printer writes to a file device of its own: PAPPL closes
// a file printer's device as any of its jobs ends. A turn taken while the
// same job holds one on the same thread is part of that one.
class DeviceTurn {
 public:
  DeviceTurn(pappl_job_t* job, pappl_device_t* device);
  ~DeviceTurn();
  DeviceTurn(const DeviceTurn&) = delete;
  DeviceTurn& operator=(const DeviceTurn&) = delete;

  bool held() const { return held_; }
  // The job's second run, beside the one that prints it: it waits until
  // the server stops, and then ends as the job ended.
  bool duplicate() const { return duplicate_; }
  // The device the job writes to.
  pappl_device_t* device() const {
    return outer_ ? outer_->device() : own_ ? own_ : device_;
  }

 private:
  pappl_job_t* job_;
  pappl_printer_t* printer_;
  pappl_device_t* device_;
  pappl_device_t* own_ = nullptr;
  const DeviceTurn* outer_ = nullptr;
  bool held_ = false;
  bool duplicate_ = false;
};

// A job PAPPL started although it had been cancelled before it began: marks
// it cancelled (so that it ends as such) and says so; such a job must not
// print.
bool cancelledBeforeStart(pappl_job_t* job);

// The job stream's way to the printer: the printer's PAPPL device, its
// writes watched.

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
