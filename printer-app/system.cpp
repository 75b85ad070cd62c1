#include "printer-app/system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include <pappl/pappl.h>
#if defined(__SANITIZE_ADDRESS__)
#define ZERU_APP_LEAK_CHECK 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZERU_APP_LEAK_CHECK 1
#endif
#endif
#if defined(ZERU_APP_LEAK_CHECK)
#include <sanitizer/lsan_interface.h>
#endif

#include "printer-app/access.h"
#include "printer-app/cli.h"
#include "printer-app/client_stream.h"
#include "printer-app/documents.h"
#include "printer-app/drivers.h"
#include "printer-app/file_devices.h"
#include "printer-app/image_filter.h"
#include "printer-app/printer_state.h"
#include "printer-app/raster_job.h"
#include "printer-app/shared_collections.h"

namespace zeruapp {

namespace {

constexpr const char* kAppName = "zeru-printer-app";
constexpr const char* kSystemName = "ZEMRO Printer Application";
constexpr const char* kVersion = "1.0.0";
constexpr const char* kFooter = "ZEMRO TX 7 Printer Application";
// Loopback unless the server is told otherwise.
constexpr const char* kDefaultListenHost = "localhost";
constexpr const char* kDefaultAdminGroup = "lpadmin";

// Who may administer, for the access policy's callback: set once here,
// before the server runs.
AccessPolicy& accessPolicy() {
  static AccessPolicy policy;
  return policy;
}

std::string& stateFile() {
  static std::string path;
  return path;
}

// Where the state lives when no -o state-file= names it: beside PAPPL's own
// choice (SNAP_COMMON, /var/lib for root, else the user's config folder).
std::string defaultStateFile() {
  if (const char* snap = userSnapCommon())
    return std::string(snap) + "/" + kAppName + ".state";
  if (getuid() == 0) return std::string("/var/lib/") + kAppName + ".state";
  if (const char* config = getenv("XDG_CONFIG_HOME"); config && *config)
    return std::string(config) + "/" + kAppName + ".state";
  if (const char* home = getenv("HOME"); home && *home) {
    std::string dir = std::string(home) + "/.config";
    mkdir(dir.c_str(), 0700);
    return dir + "/" + kAppName + ".state";
  }
  return std::string("/tmp/") + kAppName + std::to_string(getuid()) + ".state";
}

bool saveState(pappl_system_t* system, void*) {
  return papplSystemSaveState(system, stateFile().c_str());
}

// The log file the server writes and the size at which it is rotated (0:
// never); set once here, before the server runs.
struct LogRotation {
  std::string path;
  off_t maxSize = 0;
};
LogRotation& logRotation() {
  static LogRotation rotation;
  return rotation;
}
constexpr off_t kDefaultLogMaxSize = 1024 * 1024;

// The log's size limit from -o log-max-size=BYTES: a whole number, 0 for no
// limit; the default for anything else.
off_t logMaxSizeOf(const char* value) {
  if (value == nullptr || *value == '\0' || *value == '-') return kDefaultLogMaxSize;
  char* end = nullptr;
  errno = 0;
  const unsigned long long size = strtoull(value, &end, 10);
  if (errno != 0 || *end != '\0' || size > (1ULL << 40)) return kDefaultLogMaxSize;
  return static_cast<off_t>(size);
}

// Writes everything from `from` to `to`; false on a read or write error.
bool copyAll(int from, int to) {
  char buffer[65536];
  for (;;) {
    const ssize_t got = read(from, buffer, sizeof buffer);
    if (got == 0) return true;
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    for (ssize_t done = 0; done < got;) {
      const ssize_t put = write(to, buffer + done, static_cast<size_t>(got - done));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) return false;
      done += put;
    }
  }
}

// PAPPL 1.3.1 rotates its log file by opening a new one and closing the old
// descriptor while other threads still write to that descriptor: their
// lines go to whatever the number is given to next, a client's socket or a
// job's output among them (seen as clients that time out, and a server that
// crashed, once a busy server's debug log passed 1 MiB). The app turns
// PAPPL's rotation off and rotates the file itself, under PAPPL's
// descriptor: the log is copied to "<log>.O", as PAPPL names it, and then
// emptied. PAPPL writes it with O_APPEND, so its next line starts the file;
// only a line written between the copy's end and the emptying is lost.
bool rotateLog(pappl_system_t*, void*) {
  const LogRotation& rotation = logRotation();
  struct stat info {};
  if (stat(rotation.path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) ||
      info.st_size < rotation.maxSize)
    return true;
  const int log = open(rotation.path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
  if (log < 0) return true;
  const std::string backup = rotation.path + ".O";
  unlink(backup.c_str());
  const int copy =
      open(backup.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  const bool copied = copy >= 0 && copyAll(log, copy);
  if (copy >= 0) close(copy);
  // A log that could not be kept is not emptied.
  if (copied && ftruncate(log, 0) != 0) unlink(backup.c_str());
  close(log);
  return true;
}

void watchLogSize(pappl_system_t* system, const char* logFile, const char* maxSize) {
  papplSystemSetMaxLogSize(system, 0);
  if (logFile == nullptr || !strcmp(logFile, "-") || !strcmp(logFile, "syslog")) return;
  logRotation() = LogRotation{logFile, logMaxSizeOf(maxSize)};
  if (logRotation().maxSize > 0)
    papplSystemAddTimerCallback(system, time(nullptr) + 1, 1, rotateLog, nullptr);
}

pappl_loglevel_t logLevelOf(const char* value) {
  if (value == nullptr) return PAPPL_LOGLEVEL_WARN;
  if (!strcmp(value, "fatal")) return PAPPL_LOGLEVEL_FATAL;
  if (!strcmp(value, "error")) return PAPPL_LOGLEVEL_ERROR;
  if (!strcmp(value, "info")) return PAPPL_LOGLEVEL_INFO;
  if (!strcmp(value, "debug")) return PAPPL_LOGLEVEL_DEBUG;
  return PAPPL_LOGLEVEL_WARN;
}

// A printer cannot print without the colour library: it is stopped, with
// the reason in its state reasons and the log.
void stopWithoutLibrary(pappl_printer_t* printer, void*) {
  if (colourLibrary() != nullptr) return;
  papplLogPrinter(printer, PAPPL_LOGLEVEL_ERROR, "%s", colourLibraryError().c_str());
  papplPrinterSetReasons(printer, PAPPL_PREASON_OTHER, PAPPL_PREASON_NONE);
  papplPrinterPause(printer);
}

// PAPPL calls this with its job and printer locks held, in the thread that
// changed the job.
void onJobEvent(pappl_system_t*, pappl_printer_t* printer, pappl_job_t* job, pappl_event_t event,
                void*) {
  if (job != nullptr && (event & PAPPL_EVENT_JOB_COMPLETED) != 0) endDocumentWatch(job);
  checkJobName(printer, job, event);
}

void printerCreated(pappl_printer_t* printer, void* data) {
  holdSharedCollections(printer);
  stopWithoutLibrary(printer, data);
  printerAdded(printer);
  advertiseNewPrinter(printer);
}

pappl_system_t* systemCallback(int numOptions, cups_option_t* options, void*) {
  const char* port = cupsGetOption("server-port", numOptions, options);
  const char* listenHost = cupsGetOption("listen-hostname", numOptions, options);
  const char* serverHost = cupsGetOption("server-hostname", numOptions, options);
  const char* logFile = cupsGetOption("log-file", numOptions, options);
  const char* logLevel = cupsGetOption("log-level", numOptions, options);
  const char* logMaxSize = cupsGetOption("log-max-size", numOptions, options);
  const char* spool = cupsGetOption("spool-directory", numOptions, options);
  const char* state = cupsGetOption("state-file", numOptions, options);
  const char* privateServer = cupsGetOption("private-server", numOptions, options);
  // The admin operations and settings pages ask for a user name and
  // password, checked by this PAM service; members of the admin group
  // (lpadmin unless named) may use them.
  const char* authService = cupsGetOption("auth-service", numOptions, options);
  const char* adminGroup = cupsGetOption("admin-group", numOptions, options);
  // Ghostscript's limits: seconds of wall-clock time a page may take, and
  // seconds of processor time a whole job may take.
  const char* pageTimeout = cupsGetOption("ghostscript-page-timeout", numOptions, options);
  const char* cpuLimit = cupsGetOption("ghostscript-cpu-limit", numOptions, options);
  if (authService != nullptr && *authService == '\0') authService = nullptr;
  if (authService != nullptr && adminGroup == nullptr) adminGroup = kDefaultAdminGroup;
  // The service's file: devices stay in this folder; without it, anywhere.
  const char* fileFolder = cupsGetOption("file-device-directory", numOptions, options);
  const bool tcp = privateServer == nullptr || strcmp(privateServer, "true") != 0;

  // PAPPL 1.3.1 advertises every printer over DNS-SD when the system runs,
  // with the system's port, which is 0 without a TCP listener: the private
  // server a client sub-command starts when no server answers would
  // advertise the saved printers on port 0. That server keeps off the
  // system bus, and so off avahi.
  if (!tcp) setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/zeru-private-server", 1);

  pappl_soptions_t soptions = PAPPL_SOPTIONS_MULTI_QUEUE | PAPPL_SOPTIONS_WEB_INTERFACE |
                              PAPPL_SOPTIONS_WEB_LOG | PAPPL_SOPTIONS_WEB_SECURITY;
  pappl_system_t* system =
      papplSystemCreate(soptions, kSystemName, port ? atoi(port) : 0, "_print,_universal", spool,
                        logFile ? logFile : "-", logLevelOf(logLevel), authService, false);
  if (system == nullptr) return nullptr;
  watchLogSize(system, logFile, logMaxSize);
  if (adminGroup) papplSystemSetAdminGroup(system, adminGroup);
  if (authService != nullptr) {
    accessPolicy() = AccessPolicy{authService, adminGroup};
    installAccessPolicy(system, accessPolicy());
  }

  std::string refusal;
  if (!secureSocketFolder(adminGroup, refusal) ||
      (fileFolder != nullptr && !keepFileDevicesIn(fileFolder, refusal))) {
    papplLog(system, PAPPL_LOGLEVEL_FATAL, "%s", refusal.c_str());
    papplSystemDelete(system);
    return nullptr;
  }

  if (tcp && !papplSystemAddListeners(system, listenHost ? listenHost : kDefaultListenHost)) {
    papplLog(system, PAPPL_LOGLEVEL_FATAL, "Unable to listen on '%s'.",
             listenHost ? listenHost : kDefaultListenHost);
    papplSystemDelete(system);
    return nullptr;
  }
  // PAPPL 1.3.1's papplSystemSetHostName renames the machine itself (it
  // writes /etc/hostname, calls sethostname() and renames avahi's host): a
  // server option must not do that, so the server keeps the host name
  // avahi (or the system) gives it.
  if (serverHost)
    papplLog(system, PAPPL_LOGLEVEL_WARN,
             "Ignoring server-hostname='%s': the server uses the machine's own host name.",
             serverHost);
  setCoreSpoolDirectory(spool);
  RenderLimits limits;
  limits.pageSeconds = limitOption(pageTimeout, limits.pageSeconds);
  limits.cpuSeconds = limitOption(cpuLimit, limits.cpuSeconds);
  setRenderLimits(limits, spool);
  addImageFilters(system);

  std::string error;
  if (!loadColourLibrary(error)) papplLog(system, PAPPL_LOGLEVEL_ERROR, "%s", error.c_str());

  papplSystemSetPrinterDrivers(system, driverCount(), driverList(), autoAddCallback,
                               printerCreated, driverCallback, nullptr);
  papplSystemAddMIMEFilter(system, "application/pdf", "image/pwg-raster", renderDocument, nullptr);
  papplSystemAddMIMEFilter(system, "application/postscript", "image/pwg-raster", renderDocument,
                           nullptr);
  // A client's PWG raster streams into the driver; one spooled as a file
  // (the test page) is read from the file.
  papplSystemAddMIMEFilter(system, "image/pwg-raster", "image/pwg-raster", printRasterFile,
                           nullptr);
  papplSystemSetFooterHTML(system, kFooter);
  papplSystemSetEventCallback(system, onJobEvent, nullptr);
  // The vendor options' labels on the web pages, in the client's language.
  addWebStrings(system);
  pappl_version_t version{};
  strncpy(version.name, kAppName, sizeof version.name - 1);
  strncpy(version.sversion, kVersion, sizeof version.sversion - 1);
  version.version[0] = 1;
  papplSystemSetVersions(system, 1, &version);

  stateFile() = state ? state : defaultStateFile();
  setLoadingState(true);
  papplSystemLoadState(system, stateFile().c_str());
  setLoadingState(false);
  papplSystemSetSaveCallback(system, saveState, nullptr);
  papplSystemIteratePrinters(system, stopWithoutLibrary, nullptr);
  addWakeTimer(system);
  return system;
}

// The server's options: "-o NAME=VALUE" (or "-oNAME=VALUE") and nothing
// else; false for any other command line, which papplMainloop then reads.
bool serverOptions(int argc, char* argv[], int& numOptions, cups_option_t*& options) {
  for (int i = 2; i < argc; i++) {
    const char* value = nullptr;
    if (strcmp(argv[i], "-o") == 0 && i + 1 < argc)
      value = argv[++i];
    else if (strncmp(argv[i], "-o", 2) == 0 && argv[i][2] != '\0')
      value = argv[i] + 2;
    if (value == nullptr) {
      cupsFreeOptions(numOptions, options);
      numOptions = 0;
      options = nullptr;
      return false;
    }
    numOptions = cupsParseOptions(value, numOptions, &options);
  }
  return true;
}

// The `server` sub-command, as papplMainloop runs it (the system callback,
// the local socket for the client sub-commands, the main loop) but for its
// end. PAPPL 1.3.1's papplSystemRun returns while client threads still
// answer requests, and papplMainloop then frees the system under them
// (heap-use-after-free in _papplClientProcessHTTP, seen as heap corruption
// at shutdown when clients such as CUPS poll the printers). The state is
// saved when the loop ends; the process then ends at once, with the system
// and everything the other threads use left in place.
bool runServer(int argc, char* argv[], int& status) {
  if (argc < 2 || strcmp(argv[1], "server") != 0) return false;
  int numOptions = 0;
  cups_option_t* options = nullptr;
  if (!serverOptions(argc, argv, numOptions, options)) return false;
  pappl_system_t* system = systemCallback(numOptions, options, nullptr);
  cupsFreeOptions(numOptions, options);
  if (system == nullptr) {
    fprintf(stderr, "%s: Failed to create a system.\n", kAppName);
    status = 1;
    return true;
  }
  const std::string socketPath = serverSocketPath(getuid());
  papplSystemAddListeners(system, socketPath.c_str());
  papplSystemRun(system);
  // What papplSystemDelete would have done for the client sub-commands: a
  // socket file left behind would send them to a server that is gone.
  unlink(socketPath.c_str());
  fflush(nullptr);
#if defined(ZERU_APP_LEAK_CHECK)
  // The leak check a sanitizer build makes at exit, which _exit skips.
  __lsan_do_leak_check();
#endif
  _exit(0);
}

}  // namespace

int runMainloop(int argc, char* argv[]) {
  if (int status = prepareLocalSocket(argc, argv); status >= 0) return status;
  if (int status = 0; runPrinterIdCommand(argc, argv, status)) return status;
  if (int status = 0; runServer(argc, argv, status)) return status;
  return papplMainloop(argc, argv, kVersion, nullptr, driverCount(), driverList(),
                       autoAddCallback, driverCallback, nullptr, nullptr, systemCallback,
                       nullptr, nullptr);
}

void advertiseNewPrinter(pappl_printer_t* printer) {
  pappl_system_t* system = papplPrinterGetSystem(printer);
  if (system == nullptr || !papplSystemIsRunning(system)) return;
  // PAPPL 1.3.1 advertises its printers when the system starts, and again
  // only when a printer's DNS-SD name, location or geo-location changes:
  // papplPrinterCreate on a running system registers nothing. Setting the
  // name the printer already has registers its _printer, _ipp (and _ipps)
  // services with the system's port and the full TXT record.
  char name[256];
  if (papplPrinterGetDNSSDName(printer, name, sizeof name) == nullptr || name[0] == '\0') return;
  papplPrinterSetDNSSDName(printer, name);
}

namespace {

// Nothing to do: the timer is there to bound the main loop's wait.
bool wake(pappl_system_t*, void*) { return true; }

}  // namespace

void addWakeTimer(pappl_system_t* system) {
  // PAPPL 1.3.1's main loop waits up to 30 s in poll() between looks at its
  // shutdown request when no timer is due sooner, so Shutdown-All-Printers
  // answered OK while the server went on for up to 30 s. A one-second timer
  // bounds that wait.
  papplSystemAddTimerCallback(system, time(nullptr) + 1, 1, wake, nullptr);
}

}  // namespace zeruapp
