// The job stream's way to the printer: the printer's PAPPL device.
#pragma once

#include <pappl/pappl.h>

#include "printer-app/write_watch.h"
#include "zeru/byte_sink.h"

namespace zeruapp {

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
