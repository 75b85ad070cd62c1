#include "filter/status_probe.h"

#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>

#include <cups/sidechannel.h>

namespace {

constexpr double kRequestTimeout = 1.0;

// The probe's log lines; the two page loops word them differently, and some
// moments log nothing in one loop (nullptr).
struct ProbeLines {
  const char* noScheme;
  const char* directBeforeRequest[2];
  const char* discoveryBeforeRequest;
  const char* directRequestDone;
  const char* requestFailed;
  const char* statusDecoded[2];
};

constexpr char kSimplexNotBonjour[] = "INFO: Is Not Bonjour URI. ";

constexpr ProbeLines kSimplexLines = {
    "INFO: Is Bonjour URI. ",
    {kSimplexNotBonjour, "INFO: cupsSideChannelDoRequest START"},
    kSimplexNotBonjour,
    "INFO: cupsSideChannelDoRequest done",
    "INFO: cupsSideChannelDoRequest failed",
    {"INFO: DecodStatusFromDeviceID done", "INFO: pfUpdateScreenTRC done"},
};

constexpr ProbeLines kDuplexLines = {
    "if(isBonjour==0) ",
    {"cupsSideChannelDoRequest START", nullptr},
    nullptr,
    "cupsSideChannelDoRequest done",
    "cupsSideChannelDoRequest failed",
    {"DecodStatusFromDeviceID done", "pfUpdateScreenTRC done"},
};

// Only a socket on the side-channel descriptor leads to the backend: a
// request written to anything else (/dev/null, a pipe, a file the descriptor
// number was reused for) reaches no backend, and a file would keep it.
bool sideChannelIsSocket() {
  struct stat info;
  return fstat(CUPS_SC_FD, &info) == 0 && S_ISSOCK(info.st_mode);
}

// Asks the backend for the device ID; without a side-channel socket the
// request fails at once, as libcups's own does on a closed descriptor.
// libcups writes the request to the side channel with a plain write(); when
// the backend has closed its end, that write raises SIGPIPE, and our SIGPIPE
// handler would end the job as if the printer's output had gone. SIGPIPE is
// therefore blocked around the request and one that the request raised is
// taken off the pending set before the mask is restored. A SIGPIPE that was
// pending before stays pending.
cups_sc_status_t requestDeviceId(char* buffer, int* length) {
  if (!sideChannelIsSocket()) return CUPS_SC_STATUS_IO_ERROR;

  sigset_t pipeSet;
  sigemptyset(&pipeSet);
  sigaddset(&pipeSet, SIGPIPE);
  sigset_t savedMask;
  pthread_sigmask(SIG_BLOCK, &pipeSet, &savedMask);

  sigset_t pending;
  sigpending(&pending);
  bool pendingBefore = sigismember(&pending, SIGPIPE) == 1;

  cups_sc_status_t status = cupsSideChannelDoRequest(CUPS_SC_CMD_GET_DEVICE_ID, buffer, length,
                                                     kRequestTimeout);

  if (!pendingBefore) {
    sigpending(&pending);
    if (sigismember(&pending, SIGPIPE) == 1) {
      timespec noWait{};
      sigtimedwait(&pipeSet, nullptr, &noWait);
    }
  }
  pthread_sigmask(SIG_SETMASK, &savedMask, nullptr);
  return status;
}

}  // namespace

bool sideChannelAvailable(const char* software) {
  if (software == nullptr) return false;
  return strncmp(software, "CUPS/1.1", 8) != 0 && strncmp(software, "CUPS/1.2", 8) != 0;
}

DeviceUriClass classifyDeviceUri(const char* uri) {
  if (uri == nullptr) return DeviceUriClass::Unset;
  if (strstr(uri, "usb://") != nullptr || strstr(uri, "hal://") != nullptr)
    return DeviceUriClass::Direct;
  if (strstr(uri, "mdns://") != nullptr || strstr(uri, "dnssd://") != nullptr)
    return DeviceUriClass::Discovery;
  return DeviceUriClass::NoScheme;
}

void DeviceStatusProbe::RequestDeviceStatus(bool twoSided) {
  const ProbeLines& lines = twoSided ? kDuplexLines : kSimplexLines;
  bool available = sideChannelAvailable(getenv("SOFTWARE"));

  DeviceUriClass uriClass = classifyDeviceUri(getenv("DEVICE_URI"));
  if (uriClass == DeviceUriClass::Unset) return;
  if (uriClass == DeviceUriClass::NoScheme) {
    log_(lines.noScheme);
    return;
  }
  if (!available) return;

  bool direct = uriClass == DeviceUriClass::Direct;
  if (direct) {
    logIfAny(lines.directBeforeRequest[0]);
    logIfAny(lines.directBeforeRequest[1]);
  } else {
    logIfAny(lines.discoveryBeforeRequest);
  }

  deviceIdLength_ = kDeviceIdCapacity;
  cups_sc_status_t status = requestDeviceId(deviceIdBuffer_, &deviceIdLength_);
  if (direct) log_(lines.directRequestDone);

  // libcups sets the length only on a good answer: read it only then. The
  // bound check keeps the NUL inside the buffer whatever the library did.
  if (status != CUPS_SC_STATUS_OK || deviceIdLength_ < 1 || deviceIdLength_ > kDeviceIdCapacity) {
    deviceIdBuffer_[0] = '\0';
    log_(lines.requestFailed);
    return;
  }
  deviceIdBuffer_[deviceIdLength_] = '\0';

  zeru::StatusBlock block = zeru::decodeStatusBlock(deviceIdBuffer_);
  if (block.kind == zeru::StatusBlock::Valid) status_ = block.bytes;
  if (direct && block.kind == zeru::StatusBlock::Valid) {
    log_(lines.statusDecoded[0]);
    log_(lines.statusDecoded[1]);
  }
}
