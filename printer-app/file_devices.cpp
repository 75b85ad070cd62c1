#include "printer-app/file_devices.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include <pappl/pappl.h>

#include "printer-app/file_device_path.h"

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

}  // namespace zeruapp
