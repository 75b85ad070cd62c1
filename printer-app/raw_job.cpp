#include "printer-app/raw_job.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>

#include "printer-app/device.h"
#include "printer-app/printer_state.h"

namespace zeruapp {

namespace {

constexpr const char* kSendFailed = "Unable to send the job to the printer";
constexpr const char* kRawReadFailed = "Unable to read the job's file: %s";

}  // namespace

bool printRawFile(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t* device) {
  if (cancelledBeforeStart(job)) return false;
  DeviceTurn turn(job, device);
  if (!turn.held()) return turn.duplicate();
  readJobDeviceStatus(job, turn.device());
  const char* filename = papplJobGetFilename(job);
  int fd = filename ? open(filename, O_RDONLY | O_CLOEXEC) : -1;
  if (fd < 0) {
    papplJobSetMessage(job, kRawReadFailed, strerror(errno));
    return false;
  }
  DeviceSink sink(job, turn.device());
  unsigned char buffer[65536];
  bool ok = true;
  for (;;) {
    if (papplJobIsCanceled(job)) break;
    ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      papplJobSetMessage(job, kRawReadFailed, strerror(errno));
      ok = false;
      break;
    }
    if (got == 0) break;
    if (!sink.write(buffer, static_cast<size_t>(got))) break;
  }
  close(fd);
  // What the device still buffers is sent here, where the write is
  // watched, not in PAPPL's close. A cancelled job's connection may have
  // been shut by the job itself: not the printer's refusal.
  if (ok && (sink.failed() || !sink.flush())) {
    if (!papplJobIsCanceled(job)) reportRefusedJob(papplJobGetPrinter(job));
    papplJobSetMessage(job, "%s: %s", kSendFailed, strerror(errno ? errno : EIO));
    ok = false;
  }
  return ok;
}

}  // namespace zeruapp
