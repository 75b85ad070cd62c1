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
