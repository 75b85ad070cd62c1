#include "printer-app/access.h"

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <strings.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/un.h>
#include <unistd.h>

#include <pappl/pappl.h>
#include <security/pam_appl.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "printer-app/client_stream.h"
#include "printer-app/file_devices.h"
#include "printer-app/raw_job.h"

namespace zeruapp {

namespace {

struct PolicyState {
  AccessPolicy policy;
  // The admin group's id, or -1 when the system has no such group (then no
  // one is admin over IPP or the web pages).
  gid_t adminGid = static_cast<gid_t>(-1);
};

struct Credentials {
  const char* user;
  const char* password;
};

// Answers PAM's prompts with the user name and password of the request.
int converse(int count, const struct pam_message** messages, struct pam_response** responses,
             void* data) {
  const auto* credentials = static_cast<const Credentials*>(data);
  if (count <= 0 || count > PAM_MAX_NUM_MSG) return PAM_CONV_ERR;
  auto* replies = static_cast<pam_response*>(calloc(static_cast<size_t>(count), sizeof(pam_response)));
  if (replies == nullptr) return PAM_BUF_ERR;
  for (int i = 0; i < count; ++i) {
    const char* answer = nullptr;
    switch (messages[i]->msg_style) {
      case PAM_PROMPT_ECHO_ON: answer = credentials->user; break;
      case PAM_PROMPT_ECHO_OFF: answer = credentials->password; break;
      case PAM_TEXT_INFO:
      case PAM_ERROR_MSG: break;
      default:
        for (int j = 0; j < i; ++j) free(replies[j].resp);
        free(replies);
        return PAM_CONV_ERR;
    }
    if (answer != nullptr && (replies[i].resp = strdup(answer)) == nullptr) {
      for (int j = 0; j < i; ++j) free(replies[j].resp);
      free(replies);
      return PAM_BUF_ERR;
    }
  }
  *responses = replies;
  return PAM_SUCCESS;
}

bool passwordIsRight(const std::string& service, const char* user, const char* password) {
  Credentials credentials{user, password};
  const pam_conv conversation{converse, &credentials};
  pam_handle_t* handle = nullptr;
  int status = pam_start(service.c_str(), user, &conversation, &handle);
  if (status != PAM_SUCCESS) return false;
  status = pam_authenticate(handle, PAM_SILENT);
  if (status == PAM_SUCCESS) status = pam_acct_mgmt(handle, PAM_SILENT);
  pam_end(handle, status);
  return status == PAM_SUCCESS;
}

bool isMember(const char* user, gid_t group) {
  if (group == static_cast<gid_t>(-1)) return false;
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* found = nullptr;
  if (getpwnam_r(user, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr)
    return false;
  if (found->pw_gid == group) return true;
  std::vector<gid_t> groups(64);
  int count = static_cast<int>(groups.size());
  if (getgrouplist(user, found->pw_gid, groups.data(), &count) < 0) {
    groups.resize(static_cast<size_t>(count));
    if (getgrouplist(user, found->pw_gid, groups.data(), &count) < 0) return false;
  }
  for (int i = 0; i < count; ++i)
    if (groups[static_cast<size_t>(i)] == group) return true;
  return false;
}

// Basic authentication of the request against the PAM service, then
// membership of the group: 401 without or with wrong credentials, 403 for
// a user outside the group.
http_status_t checkMember(pappl_client_t* client, const PolicyState& state, const char* groupName,
                          gid_t group) {
  const char* authorization = httpGetField(papplClientGetHTTP(client), HTTP_FIELD_AUTHORIZATION);
  if (authorization == nullptr || strncasecmp(authorization, "Basic ", 6) != 0)
    return HTTP_STATUS_UNAUTHORIZED;
  authorization += 6;
  while (*authorization == ' ' || *authorization == '\t') ++authorization;
  char decoded[512];
  int length = sizeof decoded - 1;
  if (httpDecode64_2(decoded, &length, authorization) == nullptr) return HTTP_STATUS_UNAUTHORIZED;
  decoded[length >= 0 && length < static_cast<int>(sizeof decoded) ? length : 0] = '\0';
  char* password = strchr(decoded, ':');
  if (password == nullptr || password == decoded) return HTTP_STATUS_UNAUTHORIZED;
  *password++ = '\0';
  const bool right = passwordIsRight(state.policy.pamService, decoded, password);
  explicit_bzero(password, strlen(password));
  if (!right) {
    papplLogClient(client, PAPPL_LOGLEVEL_ERROR, "Wrong password for user '%s'.", decoded);
    return HTTP_STATUS_UNAUTHORIZED;
  }
  if (!isMember(decoded, group)) {
    papplLogClient(client, PAPPL_LOGLEVEL_ERROR, "User '%s' is not in group '%s'.", decoded,
                   groupName ? groupName : "");
    return HTTP_STATUS_FORBIDDEN;
  }
  papplLogClient(client, PAPPL_LOGLEVEL_INFO, "Authenticated as '%s'.", decoded);
  return HTTP_STATUS_CONTINUE;
}

// A job, or the check of one, in the printer's raw job-stream format:
// copied to the device untouched, so for the admin group only.
bool asksForRawFormat(pappl_client_t* client) {
  switch (papplClientGetOperation(client)) {
    case IPP_OP_PRINT_JOB:
    case IPP_OP_VALIDATE_JOB:
    case IPP_OP_CREATE_JOB:
    case IPP_OP_SEND_DOCUMENT: break;
    default: return false;
  }
  ipp_attribute_t* format =
      ippFindAttribute(papplClientGetRequest(client), "document-format", IPP_TAG_ZERO);
  for (int i = 0; format != nullptr && i < ippGetCount(format); ++i) {
    const char* value = ippGetString(format, i, nullptr);
    if (value != nullptr && strcasecmp(value, kRawFormat) == 0) return true;
  }
  return false;
}

// A request on a job by its owner, as the request names its user (PAPPL
// names a job's owner the same way when no password was given).
bool isOwnJobRequest(pappl_client_t* client) {
  switch (papplClientGetOperation(client)) {
    case IPP_OP_CANCEL_JOB:
    case IPP_OP_CLOSE_JOB:
    case IPP_OP_GET_JOB_ATTRIBUTES:
    case IPP_OP_HOLD_JOB:
    case IPP_OP_RELEASE_JOB:
    case IPP_OP_SEND_DOCUMENT: break;
    default: return false;
  }
  pappl_job_t* job = papplClientGetJob(client);
  const char* owner = job ? papplJobGetUsername(job) : nullptr;
  if (owner == nullptr) return false;
  ipp_attribute_t* user =
      ippFindAttribute(papplClientGetRequest(client), "requesting-user-name", IPP_TAG_NAME);
  const char* name = user ? ippGetString(user, 0, nullptr) : "guest";
  return name != nullptr && strcmp(name, owner) == 0;
}

// PAPPL 1.3.1 asks this callback both for the admin operations (with the
// admin group) and for printing, cancelling and reading jobs (with the
// printer's print group, none by default); with an auth service of its own
// it would ask a password for printing as well, even from loopback.
// For a job it asks the admin group after the print group whenever the
// user is not the one a password made known, so a job's owner without a
// password is told apart here.
// Requests over PAPPL's local socket never reach this callback: PAPPL lets
// them all through, so the socket's folder is the gate there.
//
// It is also the one place where the app meets a job's request before PAPPL
// makes the job, in the thread that then reads its document: the job's name
// is fitted to a file printer's folder, and the document's connection noted
// so that its reads end (client_stream.h).
http_status_t authorize(pappl_client_t* client, const char* group, gid_t groupId, void* data) {
  const auto& state = *static_cast<const PolicyState*>(data);
  fitJobNameToFolder(client);
  noteDocumentConnection(client);
  const bool adminCheck = group != nullptr && state.policy.adminGroup == group;
  // The raw format first: a document sent to one's own job is no exception.
  if (asksForRawFormat(client))
    return checkMember(client, state, state.policy.adminGroup.c_str(), state.adminGid);
  if (adminCheck && isOwnJobRequest(client)) return HTTP_STATUS_CONTINUE;
  if (adminCheck) return checkMember(client, state, group, state.adminGid);
  if (group == nullptr) return HTTP_STATUS_CONTINUE;
  return checkMember(client, state, group, groupId);
}

}  // namespace

void installAccessPolicy(pappl_system_t* system, const AccessPolicy& policy) {
  static PolicyState state;
  state.policy = policy;
  std::vector<char> buffer(16384);
  group entry{};
  group* found = nullptr;
  if (getgrnam_r(policy.adminGroup.c_str(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
      found != nullptr)
    state.adminGid = found->gr_gid;
  else
    papplLog(system, PAPPL_LOGLEVEL_ERROR, "No group '%s': no one may administer over IPP.",
             policy.adminGroup.c_str());
  papplSystemSetAuthCallback(system, "Basic", authorize, &state);
}

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
