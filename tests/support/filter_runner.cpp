#include "filter_runner.h"

#include <dirent.h>
#include <grp.h>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "temp_dir.h"

namespace zerutest {

namespace {

using Clock = std::chrono::steady_clock;

// Writes "ERROR step errno" to the report pipe and ends the child. Only
// async-signal-safe calls: the test process may have had threads at fork.
[[noreturn]] void childFail(int reportFd, const char* step) {
  int error = errno;
  char digits[16];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + error % 10);
    error /= 10;
  } while (error > 0 && n < 15);
  char text[160];
  size_t length = 0;
  for (const char* p = step; *p != '\0' && length < 120; ++p) text[length++] = *p;
  text[length++] = ':';
  text[length++] = ' ';
  text[length++] = 'e';
  text[length++] = 'r';
  text[length++] = 'r';
  text[length++] = 'n';
  text[length++] = 'o';
  text[length++] = ' ';
  while (n > 0) text[length++] = digits[--n];
  ssize_t ignored = write(reportFd, text, length);
  (void)ignored;
  _exit(127);
}

// Everything the child needs, prepared before fork so that the child does
// not allocate.
struct ChildPlan {
  std::vector<std::string> argvStrings;
  std::vector<std::string> envStrings;
  std::vector<char*> argv;
  std::vector<char*> envp;
  std::string binary;
  std::string runDir;
  std::string engineSource;      // empty: no engine
  bool engineIsDirectory = false;
  std::string engineTarget;      // "/opt/ZEMRO/lib/<name>"
  bool hidePackagedEngine = false;  // the packaged stand-in's folder exists
  std::string packagedOverlay;      // overlay options that add the packaged stand-in
  std::string packagedLibraryDir;   // the folder the overlay goes on
  bool readOnlyTmp = false;
  bool stdoutToDevFull = false;
  int sideChannelFd = -1;
  std::vector<int> closedDescriptors;
  bool changeUser = false;
  uid_t uid = 0;
  std::vector<std::string> keepHostPaths;  // absolute, under /tmp
};

// mkdir -p for a path inside the child, without allocating.
bool makeDirectories(const std::string& path) {
  char buffer[4096];
  if (path.size() >= sizeof buffer) return false;
  std::memcpy(buffer, path.c_str(), path.size() + 1);
  for (size_t i = 1; i <= path.size(); ++i) {
    if (buffer[i] != '/' && buffer[i] != '\0') continue;
    char saved = buffer[i];
    buffer[i] = '\0';
    if (mkdir(buffer, 0755) != 0 && errno != EEXIST) return false;
    buffer[i] = saved;
  }
  return true;
}

[[noreturn]] void runChild(const ChildPlan& plan, int stdinFd, int stdoutFd, int stderrFd,
                           int reportFd) {
  // Back to a plain process: default signal actions, nothing blocked.
  for (int sig = 1; sig < NSIG; ++sig) signal(sig, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  prctl(PR_SET_PDEATHSIG, SIGKILL);

  if (unshare(CLONE_NEWNS) != 0) childFail(reportFd, "unshare(CLONE_NEWNS)");
  if (mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
    childFail(reportFd, "mount / private");

  // The engine directory first: its source may lie under the host's /tmp.
  if (mount("zeru-opt", "/opt", "tmpfs", 0, "size=64m,mode=0755") != 0)
    childFail(reportFd, "mount tmpfs /opt");
  if (mkdir("/opt/ZEMRO", 0755) != 0) childFail(reportFd, "mkdir /opt/ZEMRO");
  if (mkdir("/opt/ZEMRO/lib", 0755) != 0) childFail(reportFd, "mkdir /opt/ZEMRO/lib");
  if (!plan.engineSource.empty()) {
    if (plan.engineIsDirectory) {
      if (mount(plan.engineSource.c_str(), "/opt/ZEMRO/lib", nullptr, MS_BIND | MS_REC,
                nullptr) != 0)
        childFail(reportFd, "bind engine directory");
    } else {
      int fd = open(plan.engineTarget.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0755);
      if (fd < 0) childFail(reportFd, "create engine mount point");
      close(fd);
      if (mount(plan.engineSource.c_str(), plan.engineTarget.c_str(), nullptr, MS_BIND,
                nullptr) != 0)
        childFail(reportFd, "bind engine file");
    }
  }

  // A stand-in installed by a package would be found after /opt: an empty
  // folder over it, so that the engine is only the one the run chose.
  if (!plan.packagedOverlay.empty()) {
    if (mount("zeru-pkg-engine", plan.packagedLibraryDir.c_str(), "overlay", MS_RDONLY,
              plan.packagedOverlay.c_str()) != 0)
      childFail(reportFd, "overlay the packaged engine onto the library folder");
  } else if (plan.hidePackagedEngine &&
             mount("zeru-pkg-engine", ZERU_PACKAGED_ENGINE_DIR, "tmpfs", MS_RDONLY,
                   "size=4k,mode=0755") != 0) {
    childFail(reportFd, "mount tmpfs over the packaged engine folder");
  }

  // Directories under the host's /tmp that must stay reachable are held
  // open across the overmount and bound back at their own paths.
  int kept[8];
  size_t keptCount = std::min<size_t>(plan.keepHostPaths.size(), 8);
  for (size_t i = 0; i < keptCount; ++i) {
    kept[i] = open(plan.keepHostPaths[i].c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (kept[i] < 0) childFail(reportFd, "open a kept host directory");
  }
  if (mount(plan.runDir.c_str(), "/tmp", nullptr, MS_BIND | MS_REC, nullptr) != 0)
    childFail(reportFd, "bind run directory on /tmp");
  for (size_t i = 0; i < keptCount; ++i) {
    char source[32] = "/proc/self/fd/";
    char digits[12];
    int n = 0;
    for (int fd = kept[i]; n == 0 || fd > 0; fd /= 10) digits[n++] = static_cast<char>('0' + fd % 10);
    size_t length = std::strlen(source);
    while (n > 0) source[length++] = digits[--n];
    source[length] = '\0';
    if (!makeDirectories(plan.keepHostPaths[i]) ||
        mount(source, plan.keepHostPaths[i].c_str(), nullptr, MS_BIND | MS_REC, nullptr) != 0)
      childFail(reportFd, "bind a kept host directory back");
    close(kept[i]);
  }
  if (plan.readOnlyTmp &&
      mount(nullptr, "/tmp", nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) != 0)
    childFail(reportFd, "remount /tmp read-only");

  // Move every descriptor we keep above 10 first, so that placing one on
  // 0..4 cannot overwrite another that is still needed.
  int in = fcntl(stdinFd, F_DUPFD_CLOEXEC, 10);
  int fullFd = plan.stdoutToDevFull ? open("/dev/full", O_WRONLY | O_CLOEXEC) : -1;
  if (plan.stdoutToDevFull && fullFd < 0) childFail(reportFd, "open /dev/full");
  int out = fcntl(fullFd >= 0 ? fullFd : stdoutFd, F_DUPFD_CLOEXEC, 10);
  int err = fcntl(stderrFd, F_DUPFD_CLOEXEC, 10);
  int side = plan.sideChannelFd >= 0 ? fcntl(plan.sideChannelFd, F_DUPFD_CLOEXEC, 10) : -1;
  int devNull = open("/dev/null", O_RDWR | O_CLOEXEC);
  if (in < 0 || out < 0 || err < 0 || devNull < 0 || (plan.sideChannelFd >= 0 && side < 0))
    childFail(reportFd, "move descriptors");
  if (dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 || dup2(devNull, 3) < 0 ||
      dup2(side >= 0 ? side : devNull, 4) < 0)
    childFail(reportFd, "dup2");
  for (int fd : plan.closedDescriptors)
    if (fd >= 0 && fd <= 4) close(fd);
  // Nothing of the test process reaches the program; the report pipe closes
  // at exec.
  if (close_range(5, ~0U, CLOSE_RANGE_CLOEXEC) != 0) childFail(reportFd, "close_range");

  if (plan.changeUser) {
    gid_t gid = static_cast<gid_t>(plan.uid);
    if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(plan.uid) != 0)
      childFail(reportFd, "change user");
  }

  if (chdir("/") != 0) childFail(reportFd, "chdir /");
  execve(plan.binary.c_str(), plan.argv.data(), plan.envp.data());
  childFail(reportFd, "execve");
}

// Makes this test process's mounts private to it, once, so that the small
// tmpfs mounted for a run never shows outside the test process.
bool ensurePrivateMounts(std::string& error) {
  static int state = 0;  // 0 not tried, 1 done, -1 failed
  static std::string failure;
  if (state == 0) {
    if (unshare(CLONE_NEWNS) != 0 || mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
      failure = std::string("private mount namespace for the test process: ") + std::strerror(errno);
      state = -1;
    } else {
      state = 1;
    }
  }
  error = failure;
  return state == 1;
}

void setNonBlocking(int fd) {
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

void closeFd(int& fd) {
  if (fd >= 0) close(fd);
  fd = -1;
}

// The high-water mark of a process's resident set in KiB (VmHWM), 0 when it
// cannot be read (the process has ended).
long readHighWaterKb(pid_t pid) {
  char path[64];
  snprintf(path, sizeof path, "/proc/%d/status", static_cast<int>(pid));
  FILE* file = fopen(path, "re");
  if (!file) return 0;
  char line[256];
  long kb = 0;
  while (fgets(line, sizeof line, file))
    if (sscanf(line, "VmHWM: %ld kB", &kb) == 1) break;
  fclose(file);
  return kb;
}

// Adds the blocked-signal masks of the process's threads other than its
// first (whose id is the process id) to `masks`.
void readThreadSignalMasks(pid_t pid, std::map<long, uint64_t>& masks) {
  char path[64];
  snprintf(path, sizeof path, "/proc/%d/task", static_cast<int>(pid));
  DIR* tasks = opendir(path);
  if (!tasks) return;
  while (dirent* entry = readdir(tasks)) {
    long tid = strtol(entry->d_name, nullptr, 10);
    if (tid <= 0 || tid == pid) continue;
    char statusPath[96];
    snprintf(statusPath, sizeof statusPath, "/proc/%d/task/%ld/status", static_cast<int>(pid),
             tid);
    FILE* file = fopen(statusPath, "re");
    if (!file) continue;  // the thread has ended meanwhile
    char line[256];
    unsigned long long mask = 0;
    while (fgets(line, sizeof line, file))
      if (sscanf(line, "SigBlk: %llx", &mask) == 1) {
        masks[tid] = mask;
        break;
      }
    fclose(file);
  }
  closedir(tasks);
}

std::vector<std::string> buildEnvironment(const FilterRun& run) {
  std::map<std::string, std::string> env;
  env["PATH"] = "/usr/local/bin:/usr/bin:/bin";
  env["LANG"] = "C";
  env["CHARSET"] = "utf-8";
  env["CONTENT_TYPE"] = "application/vnd.cups-raster";
  env["FINAL_CONTENT_TYPE"] = "printer/" + run.printer;
  env["PRINTER"] = run.printer;
  env["USER"] = run.user;
  env["ZERU_TEST_ENGINE_LOG"] = std::string("/tmp/") + kEngineLogName;
  for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS", "LSAN_OPTIONS"})
    if (const char* value = getenv(name)) env[name] = value;
  // Leaks inside libcups are no fault of the filter's (a plain build ignores this).
  std::string& lsan = env["LSAN_OPTIONS"];
  lsan += (lsan.empty() ? "" : ":") + std::string("suppressions=") + ZERU_SOURCE_DIR +
          "/tests/lsan.supp";
  if (run.ppd) env["PPD"] = *run.ppd;
  if (run.deviceUri) env["DEVICE_URI"] = *run.deviceUri;
  if (run.software) env["SOFTWARE"] = *run.software;
  if (run.smallTmpfsBytes) env["TMPDIR"] = "/tmp/small";
  if (run.tmpdir) env["TMPDIR"] = *run.tmpdir;
  for (const auto& [name, value] : run.env) {
    if (value.empty())
      env.erase(name);
    else
      env[name] = value;
  }
  std::vector<std::string> list;
  for (const auto& [name, value] : env) list.push_back(name + "=" + value);
  return list;
}

}  // namespace

std::vector<std::string> defaultKeptPaths() {
  std::vector<std::string> paths;
  for (std::string path : {std::string(ZERU_BINARY_DIR), std::string(ZERU_SOURCE_DIR)}) {
    std::error_code ec;
    std::string real = std::filesystem::weakly_canonical(path, ec).string();
    if (!ec) path = real;
    if (path.rfind("/tmp/", 0) == 0) paths.push_back(path);
  }
  return paths;
}

FilterResult runFilter(const FilterRun& run) {
  FilterResult result;
  static bool pipeIgnored = [] {
    // A filter that stops reading its input must not kill the test process.
    signal(SIGPIPE, SIG_IGN);
    return true;
  }();
  (void)pipeIgnored;

  std::unique_ptr<TempDir> ownDir;
  std::string runDir;
  if (run.runDir) {
    runDir = *run.runDir;
  } else {
    ownDir = std::make_unique<TempDir>("run");
    runDir = ownDir->path();
  }
  chmod(runDir.c_str(), 01777);
  for (const auto& [name, content] : run.tmpFiles) writeFile(runDir + "/" + name, content);

  ChildPlan plan;
  plan.binary = run.binary;
  plan.runDir = runDir;
  plan.readOnlyTmp = run.readOnlyTmp;
  plan.stdoutToDevFull = run.stdoutToDevFull;
  plan.sideChannelFd = run.sideChannelFd;
  plan.closedDescriptors = run.closedDescriptors;
  plan.changeUser = run.runAsUid.has_value();
  plan.uid = run.runAsUid.value_or(0);
  for (const std::string& path : run.keepHostPaths)
    if (path.rfind("/tmp/", 0) == 0 && path.size() > 5) plan.keepHostPaths.push_back(path);
  switch (run.engine.kind) {
    case EngineMount::Kind::None: break;
    case EngineMount::Kind::Test: plan.engineSource = ZERU_TEST_ENGINE; break;
    case EngineMount::Kind::Standin: plan.engineSource = ZERU_STANDIN_ENGINE; break;
    case EngineMount::Kind::File: plan.engineSource = run.engine.path; break;
    case EngineMount::Kind::Directory:
      plan.engineSource = run.engine.path;
      plan.engineIsDirectory = true;
      break;
  }
  plan.engineTarget = "/opt/ZEMRO/lib/" + run.engine.name;
  struct stat info;
  if (!plan.engineSource.empty() && stat(plan.engineSource.c_str(), &info) != 0) {
    result.harnessError = "engine not found: " + plan.engineSource;
    return result;
  }
  plan.hidePackagedEngine = stat(ZERU_PACKAGED_ENGINE_DIR, &info) == 0 && S_ISDIR(info.st_mode);
  // The packaged stand-in comes from a layer of its own over the library
  // folder, outside the run's /tmp so that it is not counted as left there.
  std::unique_ptr<TempDir> packagedLayer;
  if (run.packagedEngine) {
    namespace fs = std::filesystem;
    const fs::path library = ZERU_PACKAGED_ENGINE_LIBRARY;
    const fs::path folder = library.parent_path();
    packagedLayer = std::make_unique<TempDir>("pkg-layer");
    const fs::path layer = fs::path(packagedLayer->path()) / folder.filename();
    std::error_code ec;
    fs::create_directories(layer, ec);
    if (!ec) fs::copy_file(*run.packagedEngine, layer / library.filename(), ec);
    if (ec) {
      result.harnessError = "cannot stage the packaged engine: " + ec.message();
      return result;
    }
    plan.packagedLibraryDir = folder.parent_path().string();
    plan.packagedOverlay =
        "lowerdir=" + packagedLayer->path() + ":" + plan.packagedLibraryDir;
  }
  if (stat("/opt", &info) != 0 || !S_ISDIR(info.st_mode)) {
    result.harnessError = "/opt does not exist on this machine";
    return result;
  }

  bool smallMounted = false;
  std::string smallDir = runDir + "/small";
  if (run.smallTmpfsBytes) {
    std::string error;
    if (!ensurePrivateMounts(error)) {
      result.harnessError = error;
      return result;
    }
    mkdir(smallDir.c_str(), 01777);
    std::string options = "size=" + std::to_string(*run.smallTmpfsBytes) + ",mode=1777";
    if (mount("zeru-small", smallDir.c_str(), "tmpfs", 0, options.c_str()) != 0) {
      result.harnessError = std::string("mount small tmpfs: ") + std::strerror(errno);
      return result;
    }
    smallMounted = true;
  }

  if (run.argv) {
    plan.argvStrings = *run.argv;
  } else {
    plan.argvStrings = {run.printer, run.jobId, run.user, run.title, run.copies, run.options};
    if (run.rasterFile) plan.argvStrings.push_back(*run.rasterFile);
  }
  plan.envStrings = buildEnvironment(run);
  for (std::string& s : plan.argvStrings) plan.argv.push_back(s.data());
  plan.argv.push_back(nullptr);
  for (std::string& s : plan.envStrings) plan.envp.push_back(s.data());
  plan.envp.push_back(nullptr);

  int inPipe[2], outPipe[2], errPipe[2], reportPipe[2];
  if (pipe2(inPipe, O_CLOEXEC) != 0 || pipe2(outPipe, O_CLOEXEC) != 0 ||
      pipe2(errPipe, O_CLOEXEC) != 0 || pipe2(reportPipe, O_CLOEXEC) != 0) {
    result.harnessError = std::string("pipe: ") + std::strerror(errno);
    return result;
  }

  // The flag is the pipe's, so the program's end shares it.
  if (run.nonBlockingStdout) setNonBlocking(outPipe[1]);

  pid_t pid = fork();
  if (pid < 0) {
    result.harnessError = std::string("fork: ") + std::strerror(errno);
    return result;
  }
  if (pid == 0) runChild(plan, inPipe[0], outPipe[1], errPipe[1], reportPipe[1]);

  close(inPipe[0]);
  close(outPipe[1]);
  close(errPipe[1]);
  close(reportPipe[1]);

  // The report pipe closes at a successful exec, or carries why it failed.
  std::string report;
  char buffer[65536];
  for (;;) {
    ssize_t n = read(reportPipe[0], buffer, sizeof buffer);
    if (n > 0) {
      report.append(buffer, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    break;
  }
  close(reportPipe[0]);
  if (!report.empty()) result.harnessError = "child set-up failed: " + report;

  int inFd = inPipe[1], outFd = outPipe[0], errFd = errPipe[0];
  setNonBlocking(inFd);
  setNonBlocking(outFd);
  setNonBlocking(errFd);

  // Standard input comes from stdinBytes, then from stdinFile in chunks.
  std::string_view pending = run.stdinBytes;
  std::vector<char> fileChunk;
  int stdinFileFd = -1;
  if (run.stdinFile) {
    stdinFileFd = open(run.stdinFile->c_str(), O_RDONLY | O_CLOEXEC);
    if (stdinFileFd < 0 && result.harnessError.empty())
      result.harnessError = "cannot open " + *run.stdinFile + ": " + std::strerror(errno);
    fileChunk.resize(1 << 20);
  }
  auto refillStdin = [&]() -> bool {
    while (pending.empty() && stdinFileFd >= 0) {
      ssize_t n = read(stdinFileFd, fileChunk.data(), fileChunk.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        closeFd(stdinFileFd);
        break;
      }
      pending = std::string_view(fileChunk.data(), static_cast<size_t>(n));
    }
    return !pending.empty();
  };
  if (!refillStdin() && !run.holdStdinOpen) closeFd(inFd);

  const Clock::time_point start = Clock::now();
  const Clock::time_point deadline = start + std::chrono::milliseconds(run.timeoutMs);
  std::optional<Clock::time_point> sigtermAt;
  if (run.sigtermAfterMs) sigtermAt = start + std::chrono::milliseconds(*run.sigtermAfterMs);
  const Clock::time_point stallEnd = start + std::chrono::milliseconds(run.stallStdoutMs);
  size_t errScanned = 0;

  auto sendSigterm = [&] {
    if (!result.sigtermSent) {
      kill(pid, SIGTERM);
      result.sigtermSent = true;
    }
  };
  auto closeStdoutEarly = [&] {
    if (outFd >= 0) {
      closeFd(outFd);
      result.stdoutClosedEarly = true;
    }
  };

  bool killed = false;
  while (outFd >= 0 || errFd >= 0) {
    Clock::time_point now = Clock::now();
    if (now >= deadline) {
      kill(pid, SIGKILL);
      killed = true;
      result.timedOut = true;
      break;
    }
    if (sigtermAt && now >= *sigtermAt) sendSigterm();

    Clock::time_point wake = deadline;
    if (now < stallEnd) wake = std::min(wake, stallEnd);
    if (sigtermAt && !result.sigtermSent) wake = std::min(wake, *sigtermAt);
    int waitMs = static_cast<int>(
        std::chrono::duration_cast<std::chrono::milliseconds>(wake - now).count()) + 1;

    pollfd fds[3];
    int count = 0;
    int outIndex = -1, errIndex = -1, inIndex = -1;
    bool stdoutPaused = (run.pauseStdoutUntilSigterm && !result.sigtermSent) || now < stallEnd;
    if (outFd >= 0 && !stdoutPaused) { outIndex = count; fds[count++] = {outFd, POLLIN, 0}; }
    if (errFd >= 0) { errIndex = count; fds[count++] = {errFd, POLLIN, 0}; }
    if (inFd >= 0 && !pending.empty()) { inIndex = count; fds[count++] = {inFd, POLLOUT, 0}; }
    int ready = poll(fds, static_cast<nfds_t>(count), waitMs);
    if (ready < 0 && errno != EINTR) break;
    if (ready <= 0) continue;
    // Still running, or a zombie already (then nothing is read).
    result.peakRssKb = std::max(result.peakRssKb, readHighWaterKb(pid));
    if (run.watchThreadSignals) readThreadSignalMasks(pid, result.threadBlockedSignals);

    if (inIndex >= 0 && fds[inIndex].revents != 0) {
      ssize_t n = write(inFd, pending.data(), std::min<size_t>(pending.size(), 65536));
      if (n > 0) pending.remove_prefix(static_cast<size_t>(n));
      if (n < 0 && errno != EAGAIN && errno != EINTR) {
        closeFd(inFd);  // the program stopped reading
        pending = {};
        closeFd(stdinFileFd);
      } else if (!refillStdin() && !run.holdStdinOpen) {
        closeFd(inFd);  // all delivered
      }
    }
    if (outIndex >= 0 && fds[outIndex].revents != 0) {
      size_t want = sizeof buffer;
      if (run.closeStdoutAfterBytes)
        want = std::min(want, *run.closeStdoutAfterBytes - std::min(*run.closeStdoutAfterBytes,
                                                                    result.out.size()));
      ssize_t n = want > 0 ? read(outFd, buffer, want) : 0;
      if (n > 0) result.out.append(buffer, static_cast<size_t>(n));
      if (run.closeStdoutAfterBytes && result.out.size() >= *run.closeStdoutAfterBytes)
        closeStdoutEarly();
      else if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
        closeFd(outFd);
    }
    if (errIndex >= 0 && fds[errIndex].revents != 0) {
      ssize_t n = read(errFd, buffer, sizeof buffer);
      if (n > 0) {
        result.err.append(buffer, static_cast<size_t>(n));
      } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        closeFd(errFd);
      }
      // Look for the trigger texts in what arrived, with some overlap for a
      // text split between two reads.
      size_t from = errScanned;
      if (run.sigtermOnStderr && !result.sigtermSent &&
          result.err.find(*run.sigtermOnStderr, from) != std::string::npos)
        sendSigterm();
      if (run.closeStdoutOnStderr && outFd >= 0 &&
          result.err.find(*run.closeStdoutOnStderr, from) != std::string::npos)
        closeStdoutEarly();
      size_t overlap = 0;
      if (run.sigtermOnStderr) overlap = std::max(overlap, run.sigtermOnStderr->size());
      if (run.closeStdoutOnStderr) overlap = std::max(overlap, run.closeStdoutOnStderr->size());
      errScanned = result.err.size() > overlap ? result.err.size() - overlap : 0;
    }
  }
  closeFd(inFd);
  closeFd(outFd);
  closeFd(errFd);
  closeFd(stdinFileFd);

  // Both pipes are closed; the program may still be finishing.
  int status = 0;
  struct rusage usage {};
  for (;;) {
    pid_t done = wait4(pid, &status, WNOHANG, &usage);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) break;
    if (!killed && Clock::now() >= deadline) {
      kill(pid, SIGKILL);
      killed = true;
      result.timedOut = true;
    }
    if (!killed && sigtermAt && !result.sigtermSent && Clock::now() >= *sigtermAt) sendSigterm();
    usleep(2000);
  }
  result.maxRssKb = usage.ru_maxrss;
  if (WIFEXITED(status)) {
    result.exited = true;
    result.exitStatus = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    result.termSignal = WTERMSIG(status);
  }

  std::string logPath = runDir + "/" + kFilterLogName;
  struct stat logInfo {};
  result.logExists = lstat(logPath.c_str(), &logInfo) == 0;
  // Only a regular file is read: a FIFO left at the path would block the read.
  if (result.logExists && S_ISREG(logInfo.st_mode)) result.log = readFileIfExists(logPath);
  result.engineLog = readFileIfExists(runDir + "/" + kEngineLogName);
  for (std::string& name : listFilesRecursively(runDir)) {
    if (name == kFilterLogName || name == kEngineLogName || run.tmpFiles.count(name) != 0)
      continue;
    result.leftFiles.push_back(std::move(name));
  }
  if (smallMounted) umount2(smallDir.c_str(), MNT_DETACH);
  return result;
}

std::string FilterResult::describe() const {
  std::string text;
  if (!harnessError.empty()) text += "harness error: " + harnessError + "\n";
  if (exited) text += "exit status " + std::to_string(exitStatus);
  if (termSignal != 0) text += std::string("killed by ") + strsignal(termSignal);
  if (timedOut) text += " (timed out)";
  if (sigtermSent) text += ", SIGTERM sent";
  if (stdoutClosedEarly) text += ", stdout closed early";
  text += "; " + std::to_string(out.size()) + " bytes of output";
  constexpr size_t kTail = 2000;
  text += "\nstderr";
  if (err.size() > kTail) text += " (last " + std::to_string(kTail) + " bytes)";
  text += ":\n" + (err.size() > kTail ? err.substr(err.size() - kTail) : err);
  return text;
}

FilterResult runFilterOn(const std::string& ppdPath, const std::string& rasterBytes,
                         const std::string& options) {
  FilterRun run;
  run.ppd = ppdPath;
  run.stdinBytes = rasterBytes;
  run.options = options;
  return runFilter(run);
}

bool canRunFilter() {
  static int state = -1;
  if (state < 0) {
    state = 0;
    if (geteuid() == 0) {
      pid_t pid = fork();
      if (pid == 0) _exit(unshare(CLONE_NEWNS) == 0 ? 0 : 1);
      int status = 0;
      if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
          WEXITSTATUS(status) == 0)
        state = 1;
    }
  }
  return state == 1;
}

}  // namespace zerutest
