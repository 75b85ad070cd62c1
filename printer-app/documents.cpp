#include "printer-app/documents.h"

#include <fcntl.h>
#include <ftw.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <cups/raster.h>

#include "printer-app/device.h"
#include "printer-app/log_number.h"
#include "printer-app/mapping/choices_map.h"
#include "printer-app/mapping/ghostscript_args.h"
#include "printer-app/raster_job.h"

extern char** environ;

namespace zeruapp {

namespace {

constexpr const char* kNoGhostscript = "Ghostscript (gs) is not installed: PDF and PostScript cannot be printed";
constexpr const char* kStartFailed = "Unable to start Ghostscript: %s";
constexpr const char* kNoPages = "The document could not be read: Ghostscript rendered no pages";
constexpr const char* kRenderFailed = "Ghostscript could not render the whole document";
constexpr const char* kTimedOut = "Ghostscript was stopped: a page took longer than %u seconds";
constexpr const char* kCpuExceeded =
    "Ghostscript was stopped: the job took more than %u seconds of processor time";
constexpr const char* kRasterReadFailed = "Unable to read the job's raster file: %s";
constexpr const char* kNoRasterPages = "The job's raster file holds no pages";

// The program's path, looked for in PATH before the fork: the child only
// calls what is safe after a fork in a threaded process.
std::string findProgram(const char* name) {
  const char* path = getenv("PATH");
  std::string dirs = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t at = 0;
  while (at <= dirs.size()) {
    size_t end = dirs.find(':', at);
    if (end == std::string::npos) end = dirs.size();
    std::string candidate = dirs.substr(at, end - at) + "/" + name;
    if (end > at && access(candidate.c_str(), X_OK) == 0) return candidate;
    at = end + 1;
  }
  return "";
}

ssize_t readPipe(void* context, unsigned char* buffer, size_t bytes) {
  return static_cast<GhostscriptProcess*>(context)->read(buffer, bytes);
}

// Sends the raster's pages into the core, starting the job with its first
// page. False when the core or the raster failed; `rj` holds the job once
// it started, `pages` says how many pages began.
bool printPages(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                cups_raster_t* raster, std::unique_ptr<RasterJob>& rj, unsigned& pages,
                GhostscriptProcess* process = nullptr) {
  std::vector<unsigned char> line;
  cups_page_header2_t header;
  while (!papplJobIsCanceled(job) && cupsRasterReadHeader2(raster, &header)) {
    if (!rj) {
      rj = RasterJob::start(job, options, device);
      if (!rj) return false;
    }
    ++pages;
    if (process) process->pageStarted();
    papplJobSetImpressionsCompleted(job, 1);
    options->header = header;
    if (!rj->startPage(options)) return false;
    line.resize(header.cupsBytesPerLine);
    bool ok = true;
    for (unsigned y = 0; y < header.cupsHeight && !papplJobIsCanceled(job); ++y) {
      if (cupsRasterReadPixels(raster, line.data(), header.cupsBytesPerLine) == 0) {
        ok = papplJobIsCanceled(job);
        break;
      }
      rj->writeLine(y, line.data());
    }
    if (!rj->endPage() || !ok) return false;
  }
  return true;
}

}  // namespace

bool renderDocument(pappl_job_t* job, pappl_device_t* device, void*) {
  if (cancelledBeforeStart(job)) return false;
  // The printer's device is the job's from here on, before Ghostscript has
  // rendered anything.
  DeviceTurn turn(job, device);
  if (!turn.held()) return turn.duplicate();
  const std::string program = findProgram("gs");
  if (program.empty()) {
    papplJobSetMessage(job, "%s", kNoGhostscript);
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", kNoGhostscript);
    return false;
  }
  pappl_pr_options_t* options = papplJobCreatePrintOptions(job, 0, true);
  if (options == nullptr) return false;

  RenderRequest request;
  request.input = papplJobGetFilename(job) ? papplJobGetFilename(job) : "";
  request.resolution = documentResolution(job, options);
  request.colour = options->print_color_mode != PAPPL_COLOR_MODE_MONOCHROME;
  sheetForMedia(options->media.size_name, options->media.size_width, options->media.size_length,
                request.widthPoints, request.heightPoints);
  if (options->first_page > 1) request.firstPage = options->first_page;
  if (options->last_page > 0 && options->last_page < static_cast<unsigned>(INT_MAX))
    request.lastPage = options->last_page;

  GhostscriptProcess process(job);
  if (!process.start(program, ghostscriptArguments(request))) {
    papplJobSetMessage(job, kStartFailed, strerror(errno));
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, kStartFailed, strerror(errno));
    papplJobDeletePrintOptions(options);
    return false;
  }
  papplLogJob(job, PAPPL_LOGLEVEL_INFO, "Rendering with Ghostscript (process %s) at %s dpi.",
              logNumber(process.pid()).c_str(), logNumber(request.resolution).c_str());

  cups_raster_t* raster = cupsRasterOpenIO(readPipe, &process, CUPS_RASTER_READ);
  std::unique_ptr<RasterJob> rj;
  unsigned pages = 0;
  bool ok = raster == nullptr || printPages(job, options, device, raster, rj, pages, &process);
  const bool started = rj != nullptr;
  if (raster) cupsRasterClose(raster);

  // Ghostscript is done, or is told to stop: a cancelled job, a job that
  // failed, a page over its time limit.
  const bool cancelled = papplJobIsCanceled(job);
  const bool rendered = process.finish(cancelled || !ok || process.timedOut());
  std::string failure;
  if (!cancelled && (process.timedOut() || process.cpuExceeded())) {
    char text[200];
    if (process.cpuExceeded())
      snprintf(text, sizeof text, kCpuExceeded, renderLimits().cpuSeconds);
    else
      snprintf(text, sizeof text, kTimedOut, renderLimits().pageSeconds);
    failure = text;
  } else if (!cancelled && ok && !rendered) {
    failure = kRenderFailed;
  } else if (!cancelled && ok && !started) {
    // Ghostscript may end well with no page at all for a file it cannot read.
    failure = kNoPages;
  }
  if (!failure.empty()) {
    const std::string said = process.lastMessages();
    if (!said.empty()) failure += ": " + said;
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", failure.c_str());
  }

  if (started) {
    if (!failure.empty()) {
      rj->abort(failure.c_str());
      ok = false;
    } else if (!rj->finish()) {
      ok = false;
    }
    rj.reset();
  } else if (!failure.empty()) {
    papplJobSetMessage(job, "%s", failure.c_str());
    papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
    ok = false;
  }
  papplJobSetImpressions(job, static_cast<int>(pages * coreCopies(papplJobGetFormat(job),
                                                                    options->copies)));
  papplJobDeletePrintOptions(options);
  return ok;
}

bool printRasterFile(pappl_job_t* job, pappl_device_t* device, void*) {
  if (cancelledBeforeStart(job)) return false;
  DeviceTurn turn(job, device);
  if (!turn.held()) return turn.duplicate();
  const char* filename = papplJobGetFilename(job);
  int fd = filename ? open(filename, O_RDONLY | O_CLOEXEC) : -1;
  if (fd < 0) {
    papplJobSetMessage(job, kRasterReadFailed, strerror(errno));
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, kRasterReadFailed, strerror(errno));
    return false;
  }
  pappl_pr_options_t* options = papplJobCreatePrintOptions(job, 0, true);
  cups_raster_t* raster = options ? cupsRasterOpen(fd, CUPS_RASTER_READ) : nullptr;
  std::unique_ptr<RasterJob> rj;
  unsigned pages = 0;
  bool ok = raster != nullptr && printPages(job, options, device, raster, rj, pages);
  if (raster) cupsRasterClose(raster);
  close(fd);

  if (rj) {
    if (!rj->finish()) ok = false;
    rj.reset();
  } else if (!papplJobIsCanceled(job)) {
    papplJobSetMessage(job, "%s", kNoRasterPages);
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", kNoRasterPages);
    ok = false;
  }
  papplJobSetImpressions(job, static_cast<int>(pages));
  if (options) papplJobDeletePrintOptions(options);
  return ok;
}

namespace {

// How often a read wakes up to look at the cancel flag and the clock.
constexpr int kWakeMilliseconds = 200;
// How long Ghostscript has to end after SIGTERM before SIGKILL.
constexpr long long kTermGraceMilliseconds = 3000;
// How many of Ghostscript's last message lines a failed job shows.
constexpr size_t kKeptLines = 3;
// A message line longer than this is cut.
constexpr size_t kLongestLine = 400;

constexpr const char* kMessagePrefix = "Ghostscript: %s";

struct Settings {
  RenderLimits limits;
  std::string spool;
};

Settings& settings() {
  static Settings value;
  return value;
}

long long nowMilliseconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}

int removeEntry(const char* path, const struct stat*, int, struct FTW*) {
  remove(path);
  return 0;
}

void removeFolder(const std::string& folder) {
  if (!folder.empty()) nftw(folder.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

}  // namespace

void setRenderLimits(const RenderLimits& limits, const char* spoolDirectory) {
  settings().limits = limits;
  settings().spool = spoolDirectory ? spoolDirectory : "";
}

const RenderLimits& renderLimits() { return settings().limits; }

unsigned limitOption(const char* value, unsigned fallback) {
  if (value == nullptr || *value == '\0') return fallback;
  char* end = nullptr;
  errno = 0;
  unsigned long seconds = strtoul(value, &end, 10);
  if (errno != 0 || *end != '\0' || *value == '-' || seconds < 1 || seconds > 86400)
    return fallback;
  return static_cast<unsigned>(seconds);
}

GhostscriptProcess::~GhostscriptProcess() { finish(true); }

bool GhostscriptProcess::start(const std::string& program, std::vector<std::string> args) {
  // The private temporary folder: Ghostscript's TMPDIR, -sTMPDIR and
  // working folder, so that what a document may write stays in it.
  std::string base = settings().spool;
  if (base.empty() || access(base.c_str(), W_OK) != 0) base = "/tmp";
  std::vector<char> pattern(base.begin(), base.end());
  const char kTail[] = "/gs-XXXXXX";
  pattern.insert(pattern.end(), kTail, kTail + sizeof kTail);
  if (mkdtemp(pattern.data()) == nullptr) return false;
  folder_ = pattern.data();

  args.insert(args.begin() + 1, "-sTMPDIR=" + folder_);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  std::vector<std::string> env;
  for (char** entry = environ; entry && *entry; ++entry)
    if (strncmp(*entry, "TMPDIR=", 7) != 0 && strncmp(*entry, "TEMP=", 5) != 0 &&
        strncmp(*entry, "TMP=", 4) != 0)
      env.emplace_back(*entry);
  env.push_back("TMPDIR=" + folder_);
  std::vector<char*> envp;
  for (std::string& entry : env) envp.push_back(entry.data());
  envp.push_back(nullptr);
  rlimit cpu{};
  cpu.rlim_cur = settings().limits.cpuSeconds;
  cpu.rlim_max = settings().limits.cpuSeconds + 5;  // SIGKILL a little after SIGXCPU

  int raster[2], messages[2];
  if (pipe2(raster, O_CLOEXEC) != 0) return false;
  if (pipe2(messages, O_CLOEXEC) != 0) {
    close(raster[0]);
    close(raster[1]);
    return false;
  }
  int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
  pid_t pid = devNull < 0 ? -1 : fork();
  if (pid == 0) {
    // The child: standard input on /dev/null, the raster and the messages
    // on their pipes, nothing else of the server open, signals as a new
    // program has them, only what is safe after a fork in a threaded
    // process.
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    struct sigaction byDefault {};
    byDefault.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &byDefault, nullptr);
    sigaction(SIGTERM, &byDefault, nullptr);
    sigaction(SIGXCPU, &byDefault, nullptr);
    if (dup2(devNull, 0) < 0 || dup2(raster[1], 1) < 0 || dup2(messages[1], 2) < 0) _exit(127);
    closefrom(3);
    if (setrlimit(RLIMIT_CPU, &cpu) != 0 || chdir(folder_.c_str()) != 0)
      _exit(127);
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  const int forkErrno = errno;
  close(raster[1]);
  close(messages[1]);
  if (devNull >= 0) close(devNull);
  if (pid < 0) {
    close(raster[0]);
    close(messages[0]);
    errno = forkErrno;
    return false;
  }
  pid_ = pid;
  rasterFd_ = raster[0];
  messageFd_ = messages[0];
  fcntl(messageFd_, F_SETFL, O_NONBLOCK);
  pageStarted();
  return true;
}

void GhostscriptProcess::pageStarted() {
  pageDeadline_ = nowMilliseconds() + settings().limits.pageSeconds * 1000LL;
}

ssize_t GhostscriptProcess::read(unsigned char* buffer, size_t bytes) {
  for (;;) {
    if (papplJobIsCanceled(job_) || timedOut_ || rasterFd_ < 0) return 0;
    if (nowMilliseconds() >= pageDeadline_) {
      timedOut_ = true;
      return 0;
    }
    pollfd fds[2] = {{rasterFd_, POLLIN, 0}, {messageFd_, POLLIN, 0}};
    int ready = poll(fds, messageFd_ >= 0 ? 2 : 1, kWakeMilliseconds);
    if (ready < 0 && errno != EINTR) return -1;
    if (ready <= 0) continue;
    if (messageFd_ >= 0 && fds[1].revents) readMessages();
    if (fds[0].revents == 0) continue;
    ssize_t got = ::read(rasterFd_, buffer, bytes);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    return got;
  }
}

void GhostscriptProcess::readMessages() {
  char chunk[4096];
  for (;;) {
    ssize_t got = ::read(messageFd_, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      if (got == 0 || errno != EAGAIN) {
        close(messageFd_);
        messageFd_ = -1;
        if (!partial_.empty()) logLine(std::move(partial_));
        partial_.clear();
      }
      return;
    }
    for (ssize_t i = 0; i < got; ++i) {
      if (chunk[i] == '\n') {
        logLine(std::move(partial_));
        partial_.clear();
      } else if (partial_.size() < kLongestLine) {
        partial_.push_back(chunk[i] == '\r' || chunk[i] == '\t' ? ' ' : chunk[i]);
      }
    }
  }
}

void GhostscriptProcess::logLine(std::string line) {
  while (!line.empty() && line.back() == ' ') line.pop_back();
  if (line.empty()) return;
  papplLogJob(job_, PAPPL_LOGLEVEL_INFO, kMessagePrefix, line.c_str());
  // The device's progress lines say nothing about a failure.
  if (line.rfind("INFO:", 0) == 0 || line.rfind("DEBUG", 0) == 0) return;
  lastLines_.push_back(std::move(line));
  if (lastLines_.size() > kKeptLines) lastLines_.pop_front();
}

std::string GhostscriptProcess::lastMessages() const {
  std::string joined;
  for (const std::string& line : lastLines_) {
    if (!joined.empty()) joined += " / ";
    joined += line;
  }
  return joined;
}

bool GhostscriptProcess::finish(bool stop) {
  if (finished_) return false;
  finished_ = true;
  bool ok = false;
  if (rasterFd_ >= 0) close(rasterFd_);
  rasterFd_ = -1;
  if (pid_ > 0) {
    if (stop) kill(pid_, SIGTERM);
    // Without `stop` Ghostscript has written its last byte and ends by
    // itself; its messages are read until then. Either way it gets no more
    // than the page's limit, then SIGTERM, then SIGKILL after the grace.
    long long termAt = stop ? nowMilliseconds() : pageDeadline_;
    long long killAt = termAt + kTermGraceMilliseconds;
    bool termed = stop;
    int status = 0;
    for (;;) {
      pid_t done = waitpid(pid_, &status, WNOHANG);
      if (done == pid_ || (done < 0 && errno != EINTR)) break;
      const long long now = nowMilliseconds();
      if (!termed && now >= termAt) {
        kill(pid_, SIGTERM);
        termed = true;
        timedOut_ = true;
      }
      if (now >= killAt) {
        kill(pid_, SIGKILL);
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        break;
      }
      if (messageFd_ >= 0) {
        pollfd fd{messageFd_, POLLIN, 0};
        if (poll(&fd, 1, 50) > 0) readMessages();
      } else {
        usleep(50 * 1000);
      }
    }
    if (messageFd_ >= 0) readMessages();
    ok = !termed && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (WIFSIGNALED(status) && (WTERMSIG(status) == SIGXCPU || WTERMSIG(status) == SIGKILL) &&
        !stop && !termed)
      cpuExceeded_ = true;
    pid_ = -1;
  }
  if (messageFd_ >= 0) close(messageFd_);
  messageFd_ = -1;
  removeFolder(folder_);
  folder_.clear();
  return ok;
}

}  // namespace zeruapp
