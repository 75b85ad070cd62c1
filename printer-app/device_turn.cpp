#include "printer-app/device_turn.h"

#include <dlfcn.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>

namespace zeruapp {

namespace {

constexpr const char* kWaiting = "Waiting for another job of this printer to end.";
constexpr const char* kCancelledBeforeStart = "The job was cancelled before it started.";
constexpr const char* kOwnFile =
    "The device was another job's: writing to a file of the job's own.";
constexpr const char* kOwnFileFailed =
    "Unable to open a file of the job's own: writing after the other job.";

struct Turns {
  std::mutex mutex;
  std::condition_variable changed;
  // The printers whose device a job holds, and its turn.
  struct Holder {
    pappl_job_t* job;
    const DeviceTurn* turn;
  };
  std::map<pappl_printer_t*, Holder> holders;
  // The devices jobs were given, until PAPPL closes them: the first job
  // given the device, how many jobs write to it or wait to, and whether
  // PAPPL has asked to close it meanwhile.
  struct Use {
    pappl_job_t* first = nullptr;
    int writers = 0;
    bool closeAsked = false;
  };
  std::map<pappl_device_t*, Use> devices;
};

Turns& turns() {
  static Turns* state = new Turns;  // used until the process ends
  return *state;
}

using CloseFunction = void (*)(pappl_device_t*);

// PAPPL's own papplDeviceClose, the one this program stands in front of.
CloseFunction papplClose() {
  static CloseFunction close =
      reinterpret_cast<CloseFunction>(dlsym(RTLD_NEXT, "papplDeviceClose"));
  return close;
}

}  // namespace

DeviceTurn::DeviceTurn(pappl_job_t* job, pappl_device_t* device)
    : printer_(papplJobGetPrinter(job)), device_(device) {
  Turns& state = turns();
  std::unique_lock lock(state.mutex);
  if (auto holder = state.holders.find(printer_);
      holder != state.holders.end() && holder->second.job == job) {
    outer_ = holder->second.turn;
    held_ = true;
    return;
  }
  // The job counts as the device's writer while it waits too: the job it
  // waits for may share the device, and may close it as it ends.
  bool shared = false;
  if (device_ != nullptr) {
    Turns::Use& use = state.devices[device_];
    if (use.first == nullptr) use.first = job;
    shared = use.first != job;
    ++use.writers;
  }
  bool logged = false;
  while (state.holders.count(printer_) != 0) {
    if (papplJobIsCanceled(job)) return;
    if (!logged) {
      papplLogJob(job, PAPPL_LOGLEVEL_INFO, "%s", kWaiting);
      logged = true;
    }
    state.changed.wait_for(lock, std::chrono::milliseconds(200));
  }
  state.holders[printer_] = {job, this};
  held_ = true;
  lock.unlock();

  // PAPPL opens a file printer's device once a job, the file named after
  // the job: another job's device would put this job into that file.
  const char* uri = papplPrinterGetDeviceURI(printer_);
  if (shared && uri != nullptr && strncmp(uri, "file:", 5) == 0) {
    papplLogJob(job, PAPPL_LOGLEVEL_INFO, "%s", kOwnFile);
    own_ = papplDeviceOpen(uri, papplJobGetName(job), papplLogDevice,
                           papplPrinterGetSystem(printer_));
    if (own_ == nullptr) papplLogJob(job, PAPPL_LOGLEVEL_WARN, "%s", kOwnFileFailed);
    else release(device_);
  }
}

DeviceTurn::~DeviceTurn() {
  if (outer_ != nullptr) return;
  if (own_ != nullptr) papplClose()(own_);
  else release(device_);
  if (held_) {
    std::lock_guard lock(turns().mutex);
    turns().holders.erase(printer_);
  }
  turns().changed.notify_all();
}

// The job writes no more to `device`: closed now if PAPPL asked meanwhile.
void DeviceTurn::release(pappl_device_t* device) {
  if (device == nullptr) return;
  Turns& state = turns();
  bool close = false;
  {
    std::lock_guard lock(state.mutex);
    auto use = state.devices.find(device);
    if (use != state.devices.end() && --use->second.writers == 0 && use->second.closeAsked) {
      close = true;
      state.devices.erase(use);
    }
  }
  if (close) papplClose()(device);
}

bool cancelledBeforeStart(pappl_job_t* job) {
  // A cancel before the job began gave it its completion time; PAPPL then
  // started it anyway, as processing, without marking it cancelled.
  if (papplJobGetTimeCompleted(job) == 0 || papplJobIsCanceled(job)) return false;
  papplLogJob(job, PAPPL_LOGLEVEL_INFO, "%s", kCancelledBeforeStart);
  papplJobCancel(job);
  return true;
}

}  // namespace zeruapp

// Stands in front of PAPPL's papplDeviceClose (the build exports it, so that
// PAPPL's own calls come here): a device a job still writes to, or waits to,
// is closed when that job is done with it.
extern "C" void papplDeviceClose(pappl_device_t* device) {
  zeruapp::Turns& state = zeruapp::turns();
  if (device != nullptr) {
    std::lock_guard lock(state.mutex);
    auto use = state.devices.find(device);
    if (use != state.devices.end()) {
      if (use->second.writers > 0) {
        use->second.closeAsked = true;
        return;
      }
      state.devices.erase(use);
    }
  }
  zeruapp::papplClose()(device);
}
