// The job stream's way to the printer: the printer's PAPPL device.
#pragma once

#include <pappl/pappl.h>

#include "zeru/byte_sink.h"

namespace zeruapp {

class DeviceSink : public zeru::ByteSink {
 public:
  explicit DeviceSink(pappl_device_t* device) : device_(device) {}
  bool write(const void* data, size_t length) override;
  bool flush() override;
  // A write was refused: the job is not what the printer got.
  bool failed() const { return failed_; }

 private:
  pappl_device_t* device_;
  bool failed_ = false;
};

}  // namespace zeruapp
