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
#pragma once

#include <pappl/pappl.h>

namespace zeruapp {

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

}  // namespace zeruapp
