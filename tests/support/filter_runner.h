// Runs the filter binary as CUPS runs it, inside a private mount namespace:
//
//   FilterRun run;
//   run.ppd = ppdPath;
//   run.stdinBytes = rasterJobBytes({page});
//   FilterResult result = runFilter(run);
//   EXPECT_EQ(result.exitStatus, 0);
//
// What the filter sees:
// - argv: printer, job id, user, title, copies, options [, rasterFile]
//   (argv[0] is the printer name), or `argv` verbatim when set;
// - a clean environment: PATH, LANG=C, CHARSET, CONTENT_TYPE, PRINTER, USER,
//   PPD (when set), DEVICE_URI and SOFTWARE (when set), TMPDIR (when set),
//   ZERU_TEST_ENGINE_LOG (with the test engine), the parent's sanitizer
//   options, then `env` on top (an entry with an empty value unsets);
// - stdin: a pipe carrying stdinBytes and then stdinFile's contents, then end
//   of file (unless holdStdinOpen); fd 3 and 4:
//   /dev/null, or fd 4 the caller's side-channel descriptor; nothing else open
//   (and those of closedDescriptors not even that);
// - /tmp: a fresh per-run directory on the host (bind-mounted), so the log
//   "/tmp/zemro_filter.log" and the spool files land there;
// - /opt: an empty tmpfs holding "/opt/ZEMRO/lib" with the chosen engine
//   bound in under the name "ZEMRO TX 7Mcl.so" (or another name).
//
// Host files the filter must read (PPD, raster file) should not lie under the
// host's /tmp, which the namespace hides: use TempDir (under the build dir).
// A build or source tree that itself lies under /tmp is bound back into the
// filter's /tmp at its own path (keepHostPaths), so that the filter, the
// engines and the TempDirs stay reachable.
// - the user: root, or runAsUid (set after the mounts).
// The run needs root (CAP_SYS_ADMIN); every other part of the harness not.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zerutest {

// Where the filter's /opt/ZEMRO/lib comes from.
struct EngineMount {
  enum class Kind {
    None,        // an empty /opt/ZEMRO/lib: the library cannot be loaded
    Test,        // the deterministic test engine (zerutestengine)
    Standin,     // the product stand-in (zeruengine)
    File,        // `path`, a library file of the caller's
    Directory,   // `path` bound onto /opt/ZEMRO/lib as a whole
  };
  Kind kind = Kind::Test;
  std::string path;
  // File name inside /opt/ZEMRO/lib for Test, Standin and File.
  std::string name = "ZEMRO TX 7Mcl.so";

  static EngineMount none() { return {Kind::None, {}}; }
  static EngineMount test() { return {Kind::Test, {}}; }
  static EngineMount standin() { return {Kind::Standin, {}}; }
  static EngineMount file(std::string path) { return {Kind::File, std::move(path)}; }
  static EngineMount directory(std::string path) { return {Kind::Directory, std::move(path)}; }
};

// Name of the test engine's call log inside the run's /tmp.
inline constexpr const char* kEngineLogName = "zeru_engine_calls.log";
// Name of the filter's diagnostic log inside the run's /tmp.
inline constexpr const char* kFilterLogName = "zemro_filter.log";

// The build and source trees, where they lie under /tmp.
std::vector<std::string> defaultKeptPaths();

struct FilterRun {
  // The program to run; default the filter (ZERU_FILTER_BINARY).
  std::string binary = ZERU_FILTER_BINARY;

  // The CUPS command line. rasterFile, when set, becomes argv[6].
  std::string printer = "zeru-test";
  std::string jobId = "42";
  std::string user = "tester";
  std::string title = "Test job";
  std::string copies = "1";
  std::string options;
  std::optional<std::string> rasterFile;
  // The whole argv (argv[0] included) instead of the fields above.
  std::optional<std::vector<std::string>> argv;

  // Environment.
  std::optional<std::string> ppd;          // PPD
  std::optional<std::string> deviceUri;    // DEVICE_URI
  std::optional<std::string> software;     // SOFTWARE
  std::optional<std::string> tmpdir;       // TMPDIR (a path as the filter sees it)
  std::map<std::string, std::string> env;  // added last; empty value: unset

  // Standard input, through a pipe: these bytes, then the contents of
  // stdinFile (a host path, streamed in chunks: big jobs need not be held in
  // memory), then end of file.
  std::string stdinBytes;
  std::optional<std::string> stdinFile;
  // Keep standard input open after the bytes until the program ends (a
  // program waiting for more input).
  bool holdStdinOpen = false;

  EngineMount engine;
  // A host file the program finds as the packaged stand-in colour library
  // (the library folder is overlaid with it); without one, a packaged
  // stand-in installed on the host is hidden.
  std::optional<std::string> packagedEngine;

  // A small tmpfs of this many bytes mounted on "/tmp/small" (the run dir's
  // "small"), with TMPDIR pointing there unless `tmpdir` is set: a disk that
  // fills up. Files left on it are listed like the others ("small/...").
  std::optional<size_t> smallTmpfsBytes;
  // /tmp read-only for the filter (no log, no spool files).
  bool readOnlyTmp = false;
  // Files to place in the run's /tmp before the start (name relative to /tmp
  // -> content), e.g. an old log.
  std::map<std::string, std::string> tmpFiles;

  // Cancelling: SIGTERM once standard error contains this text, and/or after
  // this many milliseconds.
  std::optional<std::string> sigtermOnStderr;
  std::optional<int> sigtermAfterMs;
  // Read nothing of standard output until SIGTERM has been sent: a printer
  // that stops taking data, so that the signal reaches the filter while it is
  // sending a page (the page must be larger than a pipe holds).
  bool pauseStdoutUntilSigterm = false;
  // Standard output is non-blocking for the program (as a backend may hand
  // it over), and nothing of it is read for this many milliseconds from the
  // start: a printer that stops taking data for a while.
  bool nonBlockingStdout = false;
  int stallStdoutMs = 0;
  // Closing standard output's reader: once this many bytes have been read,
  // and/or once standard error contains this text.
  std::optional<size_t> closeStdoutAfterBytes;
  std::optional<std::string> closeStdoutOnStderr;
  // Standard output is "/dev/full" instead of the pipe: every write fails
  // with ENOSPC (a printer connection that fails for good). `out` stays empty.
  bool stdoutToDevFull = false;

  // Record the blocked-signal mask of every thread of the program but its
  // first, each time the runner wakes while the program runs.
  bool watchThreadSignals = false;
  // SIGKILL after this long; the result then says timedOut.
  int timeoutMs = 120000;

  // A descriptor of the caller's to appear as fd 4 (the side channel). The
  // caller keeps its own copy and closes it.
  int sideChannelFd = -1;
  // Descriptors among 0 to 4 that are closed when the program starts (a
  // careless caller). Standard output or error closed this way leave `out` or
  // `err` empty.
  std::vector<int> closedDescriptors;

  // The user (and group) id the program runs as, instead of root. Files it
  // must read (PPD, raster file) then need to be readable by that user.
  std::optional<uid_t> runAsUid;

  // Host directories under /tmp that stay visible at their own paths inside
  // the filter's /tmp. Default: the build and source trees when they lie
  // under /tmp, else nothing.
  std::vector<std::string> keepHostPaths = defaultKeptPaths();

  // Use this existing directory as the run's /tmp and keep it afterwards
  // (for inspecting spool files); default a fresh directory that is removed.
  std::optional<std::string> runDir;
};

struct FilterResult {
  bool exited = false;      // ended by exit(); exitStatus is valid
  int exitStatus = -1;
  int termSignal = 0;       // the signal that ended it, or 0
  bool timedOut = false;    // killed by the runner's timeout
  bool sigtermSent = false;
  bool stdoutClosedEarly = false;
  std::string out;          // standard output bytes (up to an early close)
  std::string err;          // standard error
  std::string log;          // /tmp/zemro_filter.log, empty when missing
  bool logExists = false;
  std::string engineLog;    // the test engine's call log
  // Files left in the run's /tmp (relative paths), without the two logs above
  // and without the files of `tmpFiles`.
  std::vector<std::string> leftFiles;
  // The program's peak resident set size in KiB, from wait4's rusage, 0 when
  // it could not be had. The kernel counts in what the forked child held
  // before exec: the test process's own anonymous memory at the fork.
  long maxRssKb = 0;
  // The program's own peak (VmHWM of /proc/<pid>/status), read whenever the
  // runner wakes for its output and once more as its output ends: close to
  // its true peak, and free of the test process's memory.
  long peakRssKb = 0;
  // With watchThreadSignals: thread id -> its SigBlk mask (bit n-1 for
  // signal n), for the threads other than the first that were seen.
  std::map<long, uint64_t> threadBlockedSignals;
  // The setup failed before the program ran (fork, mount, exec): why.
  std::string harnessError;

  // How the run ended and the tail of standard error, for failure messages:
  //   EXPECT_EQ(result.exitStatus, 0) << result.describe();
  std::string describe() const;
};

FilterResult runFilter(const FilterRun& run);

// Convenience: the ordinary CUPS run with a PPD and the raster on stdin.
FilterResult runFilterOn(const std::string& ppdPath, const std::string& rasterBytes,
                         const std::string& options = "");

// True when this process may make mount namespaces (root with CAP_SYS_ADMIN);
// tests that run the filter skip themselves otherwise.
bool canRunFilter();

}  // namespace zerutest
