#include "printer-app/device_turn.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>

namespace zeruapp {

namespace {

constexpr const char* kWaiting = "Waiting for another job of this printer to end.";
constexpr const char* kWaitingToEnd =
    "Waiting for another job of this printer to finish with the device.";
constexpr const char* kStartedTwice =
    "The job was started a second time while it printed: this run prints nothing.";
constexpr const char* kCancelledBeforeStart = "The job was cancelled before it started.";
constexpr const char* kOwnFileFailed =
    "Unable to open a file of the job's own: writing to the printer's device.";
constexpr auto kTick = std::chrono::milliseconds(200);

struct Turns {
  std::mutex mutex;
  std::condition_variable changed;
  // Per printer: the job holding its turn, and how many jobs hold a turn or
  // wait for one.
  struct Printer {
    pappl_job_t* holder = nullptr;
    const DeviceTurn* turn = nullptr;
    std::thread::id thread;
    int inside = 0;
  };
  std::map<pappl_printer_t*, Printer> printers;
};

Turns& turns() {
  static Turns* state = new Turns;  // used until the process ends
  return *state;
}

}  // namespace

DeviceTurn::DeviceTurn(pappl_job_t* job, pappl_device_t* device)
    : job_(job), printer_(papplJobGetPrinter(job)), device_(device) {
  Turns& state = turns();
  std::unique_lock lock(state.mutex);
  if (Turns::Printer& printer = state.printers[printer_]; printer.holder == job) {
    if (printer.thread == std::this_thread::get_id()) {
      outer_ = printer.turn;
      held_ = true;
      return;
    }
    // PAPPL 1.3.1 may start the same job twice, when its printer is asked
    // for new jobs again before the job's first thread has marked it
    // processing. The job prints once, in its first run. This second run
    // does not return while the server runs: PAPPL would end the job a
    // second time, keep it twice among the completed jobs (and free it
    // twice when it cleans them), and ask for the next job twice over,
    // which starts that one twice as well.
    papplLogJob(job, PAPPL_LOGLEVEL_WARN, "%s", kStartedTwice);
    pappl_system_t* system = papplPrinterGetSystem(printer_);
    while (papplSystemIsRunning(system)) state.changed.wait_for(lock, std::chrono::seconds(1));
    duplicate_ = true;
    return;
  }
  // The job counts while it waits too: the job it waits for may share the
  // device, and must not end (PAPPL then closes the device) before it.
  ++state.printers[printer_].inside;
  bool logged = false;
  while (state.printers[printer_].holder != nullptr) {
    if (papplJobIsCanceled(job)) return;
    if (!logged) {
      papplLogJob(job, PAPPL_LOGLEVEL_INFO, "%s", kWaiting);
      logged = true;
    }
    state.changed.wait_for(lock, kTick);
  }
  state.printers[printer_].holder = job;
  state.printers[printer_].turn = this;
  state.printers[printer_].thread = std::this_thread::get_id();
  held_ = true;
  lock.unlock();

  // PAPPL 1.3.1 closes a file printer's device whenever one of its jobs
  // ends, also while a job it started beside that one writes to it; a file
  // device of the job's own is closed by the job alone. It is opened under
  // the name PAPPL gave the printer's device, so it is the same file.
  const char* uri = papplPrinterGetDeviceURI(printer_);
  if (uri != nullptr && strncmp(uri, "file:", 5) == 0) {
    own_ = papplDeviceOpen(uri, papplJobGetName(job), papplLogDevice,
                           papplPrinterGetSystem(printer_));
    if (own_ == nullptr) papplLogJob(job, PAPPL_LOGLEVEL_WARN, "%s", kOwnFileFailed);
  }
}

DeviceTurn::~DeviceTurn() {
  if (outer_ != nullptr || duplicate_) return;
  if (own_ != nullptr) papplDeviceClose(own_);
  Turns& state = turns();
  std::unique_lock lock(state.mutex);
  if (held_) {
    state.printers[printer_].holder = nullptr;
    state.printers[printer_].turn = nullptr;
  }
  --state.printers[printer_].inside;
  state.changed.notify_all();
  // PAPPL may close the printer's device as soon as this job returns: not
  // while another job of the printer writes to it or waits to.
  bool logged = false;
  while (state.printers[printer_].inside > 0) {
    if (!logged) {
      papplLogJob(job_, PAPPL_LOGLEVEL_DEBUG, "%s", kWaitingToEnd);
      logged = true;
    }
    state.changed.wait_for(lock, kTick);
  }
  if (state.printers[printer_].holder == nullptr) state.printers.erase(printer_);
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
