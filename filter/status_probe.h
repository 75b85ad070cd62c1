// The per-page status probe through the CUPS side channel.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <utility>

#include "zeru/status_block.h"

// The printer's status block as the probe last read it.
using DeviceStatus = std::array<uint8_t, zeru::kStatusBlockSize>;

// The status probe of one job, with the job's DeviceStatus.
class DeviceStatusProbe {
 public:
  // `log` takes the probe's log lines.
  explicit DeviceStatusProbe(std::function<void(const char*)> log) : log_(std::move(log)) {}

  // Zero-fills the job's DeviceStatus.
  void clear() { status_.fill(0); }

  // Probes the printer for a colour page. Reads DEVICE_URI and SOFTWARE;
  // writes only log lines (worded for a one- or two-sided job) and the job's DeviceStatus;
  // never fails the job. SIGPIPE raised by a closed side channel is discarded.
  // A request is sent only when the side-channel descriptor is a socket.
  void RequestDeviceStatus(bool twoSided);

  // The job's last decoded status block.
  const DeviceStatus& deviceStatus() const { return status_; }

 private:
  void logIfAny(const char* line) const {
    if (line != nullptr) log_(line);
  }

  // The device ID as received (2048 bytes at most) and its terminating NUL.
  static constexpr int kDeviceIdCapacity = 2048;

  std::function<void(const char*)> log_;
  char deviceIdBuffer_[kDeviceIdCapacity + 1] = {};
  int deviceIdLength_ = 0;
  DeviceStatus status_{};
};

// ---- Pure rules of the probe ----

// True when the spooler offers the side channel: SOFTWARE is set and its first
// eight characters are neither "CUPS/1.1" nor "CUPS/1.2".
bool sideChannelAvailable(const char* software);

// What the probe does for a device URI.
enum class DeviceUriClass {
  Unset,      // no DEVICE_URI: nothing at all
  NoScheme,   // empty, or none of the four scheme texts: the no-scheme line
  Direct,     // "usb://" or "hal://" anywhere
  Discovery,  // else "mdns://" or "dnssd://" anywhere
};
DeviceUriClass classifyDeviceUri(const char* uri);
