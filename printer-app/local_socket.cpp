#include "printer-app/local_socket.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <pappl/pappl.h>

namespace zeruapp {

namespace {

constexpr const char* kAppName = "zeru-printer-app";
constexpr const char* kSocketFolder = "/run/zeru-printer-app";
// The sub-commands that talk to no server.
constexpr const char* kLocalCommands[] = {"server", "drivers", "devices", "-h", "--help",
                                          "--version"};

// Set once in prepareLocalSocket, before any thread.
struct SocketSetting {
  bool ownFolder = false;
  std::string userSnapCommon;
  bool haveUserSnapCommon = false;
};

SocketSetting& setting() {
  static SocketSetting value;
  return value;
}

// Connects to a domain socket: 0, or the errno of the failure.
int tryConnect(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) return ENAMETOOLONG;
  memcpy(address.sun_path, path.c_str(), path.size() + 1);
  int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return errno;
  int result = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ? 0 : errno;
  close(fd);
  return result;
}

bool talksToServer(int argc, char* argv[]) {
  if (argc < 2) return true;
  for (const char* command : kLocalCommands)
    if (strcmp(argv[1], command) == 0) return false;
  // A client given a printer's URI talks to that printer, not the socket.
  for (int i = 1; i < argc; ++i)
    if (strcmp(argv[i], "-u") == 0 || strncmp(argv[i], "--", 2) == 0) return false;
  return true;
}

}  // namespace

int prepareLocalSocket(int argc, char* argv[]) {
  SocketSetting& s = setting();
  if (const char* snap = getenv("SNAP_COMMON"); snap != nullptr && *snap) {
    s.userSnapCommon = snap;
    s.haveUserSnapCommon = true;
  } else {
    // PAPPL 1.3.1 puts root's server socket at /run/NAME.sock, mode 0777,
    // or in $SNAP_COMMON: the app's own folder there, for server and
    // clients alike, is what secureSocketFolder can close.
    setenv("SNAP_COMMON", kSocketFolder, 1);
    s.ownFolder = true;
  }
  if (getuid() == 0 || !talksToServer(argc, argv)) return -1;

  // PAPPL's client tries the user's own server, then root's, and starts a
  // private server of the user's own when neither answers: a user who may
  // not use the system's server is told so instead.
  const std::string own =
      std::string(papplGetTempDir()) + "/" + kAppName + std::to_string(getuid()) + ".sock";
  if (tryConnect(own) == 0) return -1;
  const std::string system = std::string(getenv("SNAP_COMMON")) + "/" + kAppName + ".sock";
  const int error = tryConnect(system);
  if (error == EACCES || error == EPERM) {
    fprintf(stderr,
            "%s: Unable to reach the server at %s: %s. Only root and the printer "
            "administrators' group may manage printers; print with lp or over IPP.\n",
            kAppName, system.c_str(), strerror(error));
    return 1;
  }
  return -1;
}

const char* userSnapCommon() {
  return setting().haveUserSnapCommon ? setting().userSnapCommon.c_str() : nullptr;
}

bool secureSocketFolder(const char* adminGroup, std::string& error) {
  if (!setting().ownFolder || geteuid() != 0) return true;
  gid_t group = 0;
  if (adminGroup != nullptr) {
    std::vector<char> buffer(16384);
    struct group entry {};
    struct group* found = nullptr;
    if (getgrnam_r(adminGroup, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
      group = found->gr_gid;
  }
  if (mkdir(kSocketFolder, 0700) != 0 && errno != EEXIST) {
    error = std::string("Unable to make ") + kSocketFolder + ": " + strerror(errno);
    return false;
  }
  int fd = open(kSocketFolder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  struct stat info {};
  const bool ok = fd >= 0 && fstat(fd, &info) == 0 && info.st_uid == 0 &&
                  fchown(fd, 0, group) == 0 && fchmod(fd, 0750) == 0;
  if (!ok) error = std::string(kSocketFolder) + " is not a folder of root's own: " + strerror(errno);
  if (fd >= 0) close(fd);
  return ok;
}

}  // namespace zeruapp
