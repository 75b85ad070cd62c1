#include "printer-app/file_devices.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <pappl/pappl.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <thread>

#include "printer-app/mapping/file_device_path.h"

namespace zeruapp {

namespace {

// The folder file: devices must lie beneath; empty: no rule. Set once
// before the server runs, read afterwards only.
std::string& fileDeviceFolder() {
  static std::string folder;
  return folder;
}

}  // namespace

bool keepFileDevicesIn(const std::string& given, std::string& error) {
  std::string folder = given;
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  if (!pathIsWithin(folder, "/") || folder == "/") {
    error = "The file device folder '" + folder + "' is not a plain absolute path.";
    return false;
  }
  if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
    error = "Unable to make the file device folder '" + folder + "': " + strerror(errno);
    return false;
  }
  // The folder itself, not a link to another; root's and for root alone, so
  // that no one else can put a link or a file in it.
  int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  struct stat info {};
  if (fd < 0 || fstat(fd, &info) != 0 || info.st_uid != geteuid() ||
      fchmod(fd, 0700) != 0) {
    error = "The file device folder '" + folder + "' is not a folder of the server's own.";
    if (fd >= 0) close(fd);
    return false;
  }
  close(fd);
  fileDeviceFolder() = folder;
  return true;
}

std::string fileDeviceRefusal(const char* deviceUri) {
  const std::string& folder = fileDeviceFolder();
  if (folder.empty() || deviceUri == nullptr || strncasecmp(deviceUri, "file:", 5) != 0)
    return {};
  char scheme[32], userpass[256], host[256], resource[1024];
  int port = 0;
  if (httpSeparateURI(HTTP_URI_CODING_ALL, deviceUri, scheme, sizeof scheme, userpass,
                      sizeof userpass, host, sizeof host, &port, resource,
                      sizeof resource) < HTTP_URI_STATUS_OK)
    return "The device URI is not a valid URI.";
  if (char* options = strchr(resource, '?')) *options = '\0';
  const std::string path = resource;
  const std::string refusal = "file: devices must be folders in " + folder + ".";
  if (!pathIsWithin(path, folder)) return refusal;
  // Each component from the folder down is a real folder, not a link: PAPPL
  // appends to a file a file: URI names, and follows links.
  std::string walked = folder;
  std::string rest = path.substr(folder.size());
  for (;;) {
    struct stat info {};
    if (lstat(walked.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return refusal;
    while (!rest.empty() && rest[0] == '/') rest.erase(0, 1);
    if (rest.empty()) break;
    const size_t slash = rest.find('/');
    walked += "/" + rest.substr(0, slash);
    rest = slash == std::string::npos ? std::string() : rest.substr(slash);
  }
  return {};
}

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
