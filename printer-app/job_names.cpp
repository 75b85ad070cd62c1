#include "printer-app/job_names.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>

namespace zeruapp {

namespace {

constexpr const char* kNameTooLong =
    "The job's name is too long for a file name in the printer's folder.";

void onEvent(pappl_system_t*, pappl_printer_t* printer, pappl_job_t* job, pappl_event_t event,
             void*) {
  if (printer == nullptr || job == nullptr || (event & PAPPL_EVENT_JOB_STATE_CHANGED) == 0)
    return;
  // Both read without PAPPL's locks, which PAPPL may hold while it calls.
  if (!jobNameTooLongForFile(papplPrinterGetDeviceURI(printer), papplJobGetName(job))) return;
  // PAPPL calls with the job locked: its state is read, and the job
  // cancelled, on a thread of its own. A job not yet processing is left
  // alone (PAPPL 1.3.1 may start a job cancelled before it began); its start
  // brings the next call.
  std::thread([job] {
    if (papplJobGetState(job) != IPP_JSTATE_PROCESSING || papplJobIsCanceled(job)) return;
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", kNameTooLong);
    papplJobSetMessage(job, "%s", kNameTooLong);
    papplJobCancel(job);
  }).detach();
}

}  // namespace

bool jobNameTooLongForFile(const char* deviceUri, const char* name) {
  if (deviceUri == nullptr || name == nullptr || strncmp(deviceUri, "file:", 5) != 0) return false;
  char scheme[32], userpass[32], host[256], resource[1024];
  int port = 0;
  if (httpSeparateURI(HTTP_URI_CODING_ALL, deviceUri, scheme, sizeof scheme, userpass,
                      sizeof userpass, host, sizeof host, &port, resource,
                      sizeof resource) < HTTP_URI_STATUS_OK)
    return false;
  // The extension PAPPL gives the file: "ext=" in the URI, or "prn".
  std::string ext = "prn";
  if (char* options = strchr(resource, '?')) {
    *options++ = '\0';
    if (strncmp(options, "ext=", 4) == 0 && strchr(options, '/') == nullptr) ext = options + 4;
  }
  struct stat info {};
  if (stat(resource, &info) != 0 || !S_ISDIR(info.st_mode)) return false;
  long longest = pathconf(resource, _PC_NAME_MAX);
  if (longest <= 0) longest = 255;
  return static_cast<long>(strlen(name) + 1 + ext.size()) > longest;
}

void watchJobNames(pappl_system_t* system) {
  papplSystemSetEventCallback(system, onEvent, nullptr);
}

}  // namespace zeruapp
