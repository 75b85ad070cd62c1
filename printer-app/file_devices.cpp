#include "printer-app/file_devices.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <pappl/pappl.h>

#include <cerrno>
#include <cstddef>
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
constexpr const char* kNameCut =
    "The job's name is cut to '%s' to be a file name in the printer's folder.";

}  // namespace

void checkJobName(pappl_printer_t* printer, pappl_job_t* job, pappl_event_t event) {
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

size_t jobNameRoom(const char* deviceUri) {
  if (deviceUri == nullptr || strncmp(deviceUri, "file:", 5) != 0) return 0;
  char scheme[32], userpass[32], host[256], resource[1024];
  int port = 0;
  if (httpSeparateURI(HTTP_URI_CODING_ALL, deviceUri, scheme, sizeof scheme, userpass,
                      sizeof userpass, host, sizeof host, &port, resource,
                      sizeof resource) < HTTP_URI_STATUS_OK)
    return 0;
  // The extension PAPPL gives the file: "ext=" in the URI, or "prn".
  std::string ext = "prn";
  if (char* options = strchr(resource, '?')) {
    *options++ = '\0';
    if (strncmp(options, "ext=", 4) == 0 && strchr(options, '/') == nullptr) ext = options + 4;
  }
  struct stat info {};
  if (stat(resource, &info) != 0 || !S_ISDIR(info.st_mode)) return 0;
  long longest = pathconf(resource, _PC_NAME_MAX);
  if (longest <= 0) longest = 255;
  const size_t suffix = 1 + ext.size();
  // An extension that leaves no room at all: the name cannot help it.
  return static_cast<size_t>(longest) > suffix ? static_cast<size_t>(longest) - suffix : 0;
}

bool jobNameTooLongForFile(const char* deviceUri, const char* name) {
  const size_t room = jobNameRoom(deviceUri);
  return room > 0 && name != nullptr && strlen(name) > room;
}

void fitJobNameToFolder(pappl_client_t* client) {
  const ipp_op_t operation = papplClientGetOperation(client);
  if (operation != IPP_OP_PRINT_JOB && operation != IPP_OP_CREATE_JOB) return;
  pappl_printer_t* printer = papplClientGetPrinter(client);
  ipp_t* request = papplClientGetRequest(client);
  ipp_attribute_t* name = ippFindAttribute(request, "job-name", IPP_TAG_NAME);
  const char* value = name ? ippGetString(name, 0, nullptr) : nullptr;
  if (printer == nullptr || value == nullptr) return;
  const size_t room = jobNameRoom(papplPrinterGetDeviceURI(printer));
  if (room == 0 || strlen(value) <= room) return;
  const std::string fitted = fitFileName(value, room);
  papplLogClient(client, PAPPL_LOGLEVEL_INFO, kNameCut, fitted.c_str());
  ippSetString(request, &name, 0, fitted.c_str());
}

}  // namespace zeruapp
