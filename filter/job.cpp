#include "filter/job.h"
#include "filter/job_options.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include <cups/ppd.h>
#include <cups/raster.h>

#include "filter/descriptors.h"
#include "filter/log.h"
#include "filter/ppd_choices.h"
#include "filter/product_model.h"
#include "filter/raster_page.h"
#include "filter/signals.h"
#include "filter/spool_files.h"
#include "filter/status_probe.h"
#include "zeru/byte_sink.h"
#include "zeru/colour_library.h"
#include "zeru/job.h"

namespace {

// How long a wait for raster input goes on before the cancel flag is looked
// at again (a SIGTERM taken by another thread does not interrupt the wait).
constexpr int kInputWaitMs = 200;
constexpr const char* kPageLine = "PAGE: %d %u\n";
constexpr const char* kErrorLine = "ERROR: %s\n";
constexpr const char* kInfoLine = "INFO: %s\n";
// The exit status of a job whose page the colour library refused; every
// other failure exits with 1.
constexpr int kExitEngineRefused = 255;
// The page has been rasterised; the line loop reports the steps before.
constexpr const char* kPageRasterised = "ATTR: job-media-progress=100\n";
// Something other than the filter's own log holds the log's name, and the
// filter may not remove it.
constexpr const char* kNoLogLine =
    "INFO: No diagnostic log for this job: /tmp/zemro_filter.log is not the filter's own file\n";

bool cancelled() { return cancelRequested != 0; }

// The spool directory that cupsTempFd would use: $TMPDIR whenever it is set,
// else /tmp.
std::string spoolDirectory() {
  const char* tmpdir = getenv("TMPDIR");
  return tmpdir ? tmpdir : "/tmp";
}

// Everything one run of the filter holds from start-up to shutdown: the CUPS
// side of the job (command line, PPD, raster stream) and the core's job.
struct FilterJob {
  int argc = 0;
  char** argv = nullptr;
  int rasterFd = 0;  // 0 for standard input
  zeru::ColourLibrary library;
  ppd_file_t* ppd = nullptr;
  cups_raster_t* raster = nullptr;
  int numOptions = 0;
  cups_option_t* options = nullptr;
  std::unique_ptr<PpdChoices> choices;
  // The printer connection: a printer that stops taking data is waited for
  // until the job is cancelled.
  zeru::FileSink output{stdout, cancelled};
  DeviceStatusProbe statusProbe{[](const char* line) { logLine(line); }};
  // The core's spool files, for the SIGPIPE handler; outlives the core.
  SpoolFileTable spoolFiles;
  std::unique_ptr<zeru::Job> core;
};

// Reads the raster input for libcups. A cancelled job reads no more input:
// its input may never end (the program before the filter can keep its end of
// the pipe open), and a cancelled job needs none of it. From the cancel on,
// the input reads as ended, and the job takes its way to the shutdown.
ssize_t readRasterInput(void* context, unsigned char* buffer, size_t bytes) {
  const int fd = *static_cast<const int*>(context);
  for (;;) {
    if (cancelRequested) return 0;
    pollfd waiter{fd, POLLIN, 0};
    int ready = poll(&waiter, 1, kInputWaitMs);
    if (ready < 0 && errno != EINTR) return -1;
    if (ready <= 0) continue;
    ssize_t got = read(fd, buffer, bytes);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    return got;
  }
}

// The running job, for the fatal ends below: a job that ends early waits
// for the page being spooled behind the page thread, so that no thread is cut
// off, and then removes its spool files.
FilterJob* runningJob = nullptr;

void settleJob() {
  if (runningJob && runningJob->core) runningJob->core->abandon();
}

// Makes the job the one the fatal ends and the SIGPIPE handler clean up
// after, for as long as it lives.
struct JobRegistration {
  explicit JobRegistration(FilterJob& job) { runningJob = &job; }
  ~JobRegistration() {
    setSpoolFilesForSignals(nullptr);
    runningJob = nullptr;
  }
};

// A fatal condition: the spool files still on disk are removed, the line is
// printed, the process ends with `status`.
[[noreturn]] void fail(int status, const char* line) {
  settleJob();
  if (line) fputs(line, stderr);
  fflush(stdout);
  _exit(status);
}

int exitStatusOf(const zeru::Failure& failure) {
  return failure.kind == zeru::FailureKind::ColourLibraryRefused ? kExitEngineRefused : 1;
}

// The core's job failed: its line (none when the job stream says it), its
// status.
[[noreturn]] void failJob(const zeru::Failure& failure) {
  std::string line;
  if (!failure.message.empty()) line = "ERROR: " + failure.message + "\n";
  fail(exitStatusOf(failure), line.empty() ? nullptr : line.c_str());
}

bool twoSided(const zeru::Job& core) { return core.sides() != zeru::Sides::OneSided; }

zeru::CustomSizeRange customSizeRangeOf(const ppd_file_t* ppd) {
  zeru::CustomSizeRange range;
  range.offered = ppd->variable_sizes != 0;
  range.minWidth = ppd->custom_min[0];
  range.minHeight = ppd->custom_min[1];
  range.maxWidth = ppd->custom_max[0];
  range.maxHeight = ppd->custom_max[1];
  return range;
}

const char* productOf(ppd_file_t* ppd) {
  ppd_attr_t* attr = ppdFindAttr(ppd, "Product", nullptr);
  return attr ? attr->value : nullptr;
}

// The core's job for this run: its options from the command line, the
// environment and the PPD, its events onto status lines and the log.
void startCoreJob(FilterJob& job) {
  job.choices = std::make_unique<PpdChoices>(job.ppd);
  zeru::JobOptions options;
  options.title = job.argv[3];
  options.user = job.argv[2];
  options.choices = job.choices.get();
  if (const char* pageSize = cupsGetOption("PageSize", job.numOptions, job.options))
    options.pageSizeOption = pageSize;
  options.model = modelForProduct(productOf(job.ppd));
  options.customSizes = customSizeRangeOf(job.ppd);
  // Ghostscript renders the PPD's imageable area, from its top-left corner.
  options.rasterArea = zeru::RasterArea::AsGiven;
  options.library = &job.library;
  options.spoolDirectory = spoolDirectory();
  const char* coder = getenv("ZERU_JBIG");
  if (coder && strcmp(coder, "jbigkit") == 0) options.compression = zeru::Compression::JbigKit;

  zeru::JobEvents events;
  events.cancelled = cancelled;
  events.log = [](const char* line) { logLine(line); };
  events.pageCounted = [](int page, unsigned copies) { fprintf(stderr, kPageLine, page, copies); };
  // The job is made below, before any event can come.
  events.pageProgress = [&job](int page, int percent) {
    reportPageProgress(page, percent, twoSided(*job.core));
  };
  events.pageRendered = [](int) { fputs(kPageRasterised, stderr); };
  events.sending = [](const zeru::Sending& sending) {
    fprintf(stderr, kInfoLine, zeru::progressText(sending).c_str());
  };
  events.spoolFileMade = [&job](int slot, const char* path) { job.spoolFiles.made(slot, path); };
  events.spoolFileRemoving = [&job](int slot) { job.spoolFiles.removing(slot); };
  events.statusProbe = [&job] {
    job.statusProbe.RequestDeviceStatus(twoSided(*job.core));
  };
  job.core = std::make_unique<zeru::Job>(job.output, std::move(options), std::move(events));
  setSpoolFilesForSignals(&job.spoolFiles);
}

// Phase 1: every page of the raster stream into the core's job.
void runPageLoop(FilterJob& job) {
  zeru::Job& core = *job.core;
  const bool twoSidedJob = twoSided(core);
  cups_page_header2_t header;
  while (job.raster && cupsRasterReadHeader2(job.raster, &header)) {
    const zeru::PageHeader page = zeru::pageHeaderFrom(header);
    zeru::PageStart start = core.startPage(page);
    if (start == zeru::PageStart::Stop) break;
    if (start == zeru::PageStart::Failed) failJob(core.failure());
    readRasterLines(job.raster, page, core.pageNumber(), twoSidedJob, [&core] { return core.line(); },
                    [&core] { core.pushLine(); });
    zeru::PageEnd end = core.endPage();
    if (end.failed()) failJob(core.failure());
    if (end.stop) break;
  }
}

// Option marking with the one fix the PPD's constraints allow.
void markOptions(FilterJob& job) {
  ppdMarkDefaults(job.ppd);
  if (cupsMarkOptions(job.ppd, job.numOptions, job.options)) {
    fputs("INFO: Option conflicts exist. Fixing...\n", stderr);
    if (ppdMarkOption(job.ppd, "MediaType", "Covers"))
      fail(1, "ERROR: Option conflicts exist. Unable to fix.\n");
    fputs("INFO: Option conflicts exist. Fixing... Done.\n", stderr);
  }
}

// The duplex choice is marked once more, so that its constraints are checked.
void checkDuplexChoice(FilterJob& job) {
  const char* option = duplexOption(job.ppd);
  if (twoSided(*job.core) && ppdMarkOption(job.ppd, option, markedChoice(job.ppd, option)))
    fail(1, "ERROR: Option conflicts exist\n");
}

void shutdown(FilterJob& job) {
  fflush(stdout);
  logLine("STATE: Shutdown Filter");
  ppdClose(job.ppd);
  if (job.raster) cupsRasterClose(job.raster);
  logLine("STATE: cupsRasterClose");
  if (job.rasterFd != 0) close(job.rasterFd);
  job.core.reset();
  job.library.unload();
  cupsFreeOptions(job.numOptions, job.options);
  logLine("STATE: Job Finished");
  if (!cancelRequested) fputs("INFO: Ready to print.\n", stderr);
}

}  // namespace

int runFilter(int argc, char* argv[]) {
  // Before anything is opened. Without /dev/null nothing can be reported.
  if (!openMissingDescriptors()) return 1;
  installPipeHandler();
  installTimer();
  LogStart logStart = logTruncate();

  setvbuf(stderr, nullptr, _IONBF, 0);
  FilterJob job;
  JobRegistration registration(job);
  job.argc = argc;
  job.argv = argv;

  if (argc != 6 && argc != 7) return 1;
  if (logStart == LogStart::Refused) fputs(kNoLogLine, stderr);

  if (argc == 7) {
    job.rasterFd = open(argv[6], O_RDONLY | O_CLOEXEC);
    if (job.rasterFd < 0) {
      perror("ERROR: Unable to open raster file - ");
      sleep(1);
      return 1;
    }
  }

  zeru::ColourLibrary::LoadResult loaded = job.library.load(zeru::ColourLibrary::installedPaths());
  if (loaded.failed()) fprintf(stderr, kErrorLine, loaded.message.c_str());
  if (!loaded.notice.empty()) {
    fputs(loaded.notice.c_str(), stdout);
    fflush(stdout);
  }
  if (loaded.failed()) return 1;
  installTermHandler();

  job.numOptions = cupsParseOptions(argv[5], 0, &job.options);
  const char* ppdPath = getenv("PPD");
  job.ppd = ppdPath ? ppdOpenFile(ppdPath) : nullptr;
  if (!job.ppd) fail(1, "ERROR: Unable to load PPD\n");

  job.numOptions = addImpliedOptions(job.numOptions, &job.options);
  markOptions(job);
  dumpSettings(job.ppd, job.numOptions, job.options, argv);
  fputs("INFO: ppdFindMarkedChoice DrvDuplex start\n", stderr);
  startCoreJob(job);
  checkDuplexChoice(job);

  fputs("INFO: cupsRasterOpen  start\n", stderr);
  job.raster = cupsRasterOpenIO(readRasterInput, &job.rasterFd, CUPS_RASTER_READ);
  if (!job.raster) logLine("INFO: cupsRasterOpen returns NULL.\n");
  fputs("INFO: cupsRasterReadHeader2 start\n", stderr);

  runPageLoop(job);
  zeru::JobEnd end = job.core->finish();
  if (end.failed()) failJob(job.core->failure());

  shutdown(job);
  return 0;
}
