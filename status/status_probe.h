// The per-page status probe through the CUPS side channel.
#pragma once

#include "driver/job_settings.h"
#include "status/device_id.h"

// Zero-fills the job's DeviceStatus (once, at job start).
void clearDeviceStatus();

// Probes the printer for a colour page. Reads DEVICE_URI and SOFTWARE; writes
// only log lines (worded by `loop`) and the job's DeviceStatus; never fails
// the job. SIGPIPE raised by a closed side channel is discarded.
void RequestDeviceStatus(PageLoop loop);

// The job's last decoded status block (for tests).
const DeviceStatus& deviceStatus();

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
