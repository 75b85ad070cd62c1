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
#include <system_error>
#include <thread>
#include <vector>

#include <cups/ppd.h>
#include <cups/raster.h>

#include "settings/job_settings.h"
#include "filter/ppd_settings.h"
#include "filter/job_state.h"
#include "filter/log.h"
#include "job/page_order.h"
#include "job/raster_check.h"
#include "filter/signals.h"
#include "job/spool.h"
#include "imaging/compression.h"
#include "imaging/engine_loader.h"
#include "imaging/engine_setup.h"
#include "settings/paper_table.h"
#include "imaging/plane_buffers.h"
#include "filter/raster_page.h"
#include "imaging/worker_thread.h"
#include "filter/status_probe.h"
#include "stream/command_record.h"
#include "job/page_stream.h"
#include "zeru/byte_sink.h"
#include "job/print_job.h"
#include "stream/pjl.h"
#include "zeru/services.h"

namespace {

constexpr int kExitEngineRefused = 255;
constexpr const char* kEngineRefusedLine = "ERROR: The colour library refused the page\n";
constexpr const char* kSpoolTemplate = "/tmp/tmp-XXXXXX";
// How long a wait for raster input goes on before the cancel flag is looked
// at again (a SIGTERM taken by another thread does not interrupt the wait).
constexpr int kInputWaitMs = 200;
constexpr const char* kPageLine = "PAGE: %d %u\n";
// The page has been rasterised; the line loop reports the steps before.
constexpr const char* kPageRasterised = "ATTR: job-media-progress=100\n";

// The spool directory that cupsTempFd would use: $TMPDIR whenever it is set,
// else /tmp.
std::string spoolDirectory() {
  const char* tmpdir = getenv("TMPDIR");
  return tmpdir ? tmpdir : "/tmp";
}

// Everything one job holds from start-up to shutdown.
struct Job {
  int argc = 0;
  char** argv = nullptr;
  JobSettings settings;
  JobState state;
  PaperTable paperTable;
  EngineLibrary library;
  ppd_file_t* ppd = nullptr;
  cups_raster_t* raster = nullptr;
  int numOptions = 0;
  cups_option_t* options = nullptr;
  PageStartRecord pageRecord;
  const char* modelPath = nullptr;
  CustomSizeRange customRange;
  // The printer connection: a printer that stops taking data is waited for
  // until the job is cancelled.
  FileSink output{stdout, [] { return cancelRequested != 0; }};
  // The job in the printing core: its cancellation is the SIGTERM handler's
  // flag, its log lines go to the diagnostic log.
  PrintJob printJob{output,
                    JobServices{[] { return cancelRequested != 0; },
                                [](const char* line) { logLine(line); }, spoolDirectory()},
                    jbigCoderFromName(getenv("ZERU_JBIG"))};
  DeviceStatusProbe statusProbe{[](const char* line) { logLine(line); }};
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
Job* runningJob = nullptr;

void settleJob() {
  if (runningJob) runningJob->printJob.abandon();
}

// Makes the job the one the fatal ends and the SIGPIPE handler clean up
// after, for as long as it lives.
struct JobRegistration {
  explicit JobRegistration(Job& job) {
    runningJob = &job;
    setSpoolForSignals(&job.printJob.spool());
  }
  ~JobRegistration() {
    setSpoolForSignals(nullptr);
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

[[noreturn]] void failWithErrno(const char* prefix, int error) {
  settleJob();
  fprintf(stderr, "%s%s\n", prefix, strerror(error));
  fflush(stdout);
  _exit(1);
}

CustomSizeRange customSizeRangeOf(const ppd_file_t* ppd) {
  CustomSizeRange range;
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

[[noreturn]] void failSpoolWrite(int error) {
  failWithErrno("ERROR: Unable to write the page spool file: ", error);
}

enum class PageOutcome { Kept, Dropped };

// One page of either loop, from its settings to its spool file.
PageOutcome processPage(Job& job, PageLoop loop) {
  cups_page_header2_t& header = job.state.currentHeader;
  JobSettings& settings = job.settings;

  if (const char* problem = rasterHeaderProblem(header)) fail(1, problem);
  PageSettingsResult result =
      readPageSettings(job.ppd, header, job.paperTable, settings, loop);
  if (result != PageSettingsResult::Ok) fail(1, pageSettingsError(result));
  if (settings.paperIndex == kCustomPaperIndex)
    if (const char* problem = customSizeProblem(header, job.customRange)) fail(1, problem);

  preparePageRecord(job.pageRecord, settings, header);

  if (!job.library.canRenderPages()) {
    fprintf(stderr, "ERROR: The colour library has no entry point %s\n",
            job.library.firstMissingEntry());
    fail(1, nullptr);
  }
  job.modelPath = modelPathFor(productOf(job.ppd), loop, job.modelPath);

  PageRenderRequest request;
  request.library = &job.library;
  request.raster = job.raster;
  request.header = &header;
  request.ppd = job.ppd;
  request.settings = &settings;
  request.loop = loop;
  request.pageCount = job.state.pageCount;
  request.modelPath = job.modelPath;
  request.afterScreenThreads = [&job, loop] {
    if (job.settings.colorMode) job.statusProbe.RequestDeviceStatus(loop);
    readRotate180(job.ppd, job.settings);
  };

  std::unique_ptr<PlaneBuffers> planes = job.printJob.pageBuffers();
  bool hasContent = false;
  switch (renderPage(request, *planes, hasContent)) {
    case RenderResult::Ok:
      break;
    case RenderResult::EngineRefused:
      fail(kExitEngineRefused, kEngineRefusedLine);
    case RenderResult::AllocationFailed:
      fail(1, "ERROR: Unable to allocate memory for the page\n");
    case RenderResult::Busy:
    case RenderResult::Cancelled:
      // A process that renders one page at a time never waits for its turn.
      fail(1, "ERROR: The colour library could not take the page\n");
  }
  fputs(kPageRasterised, stderr);

  if (!hasContent) {
    --job.state.pageCount;   // the next page takes this number
    job.printJob.returnBuffers(std::move(planes));
    return PageOutcome::Dropped;
  }

  // A single-sided colour page asked for zero copies is never sent: its file
  // stays empty.
  bool writeRecord = loop == PageLoop::Duplex || !settings.colorMode || header.NumCopies != 0;
  SpoolResult spooled =
      job.printJob.spoolPage(std::move(planes), job.pageRecord, job.state.pageCount, writeRecord);
  if (spooled.kind == SpoolResult::WriteFailed) failSpoolWrite(spooled.error);
  if (spooled.kind == SpoolResult::CreateFailed) {
    if (loop == PageLoop::Simplex) {
      job.printJob.spool().removeAll();
      fprintf(stderr, "ERROR: Collating enabled mkstemp [/tmp/] -> %s\n", strerror(spooled.error));
    } else {
      WritePjlComment(job.output, kSpoolTemplate);
      job.printJob.spool().removeAll();
      fprintf(stderr, "ERROR: Duplex enabled mkstemp -> %s\n", strerror(spooled.error));
    }
    fflush(stdout);
    _exit(1);
  }
  return PageOutcome::Kept;
}

// Phase 1: every page of the raster stream into its spool file.
void runPageLoop(Job& job, PageLoop loop) {
  cups_page_header2_t header;
  cups_page_header2_t held{};
  bool any = false;
  while (job.raster && cupsRasterReadHeader2(job.raster, &header)) {
    const char* collateChoice = markedChoice(job.ppd, "Collate");
    if (loop == PageLoop::Duplex || collateChoice)
      header.Collate = job.settings.collate ? CUPS_TRUE : CUPS_FALSE;
    else
      job.settings.collate = static_cast<int>(header.Collate);

    job.state.currentHeader = header;
    held = header;
    any = true;
    if (cancelRequested) break;

    ++job.state.pageCount;
    // The scheduler counts every "PAGE:" line as printed: a page that
    // blank-sheet saving may drop is reported once it is known to be kept.
    const bool mayBeDropped = saveBlankSheet(job.ppd);
    if (!mayBeDropped) fprintf(stderr, kPageLine, job.state.pageCount, header.NumCopies);

    PageOutcome outcome = processPage(job, loop);
    if (mayBeDropped && outcome == PageOutcome::Kept)
      fprintf(stderr, kPageLine, job.state.pageCount, header.NumCopies);
    bool colourPage = job.settings.colorMode == 1;
    if (outcome == PageOutcome::Kept && cancelRequested &&
        (loop == PageLoop::Simplex || colourPage))
      break;
  }
  // The last kept page is on disk before anything is sent; no page's
  // buffers outlive the page loop.
  SpoolResult settled = job.printJob.settle();
  if (!settled.ok()) failSpoolWrite(settled.error);
  if (any) job.state.currentHeader = held;
}

// Duplex: a white page makes an odd page count even, so that the last sheet
// has a back.
void addBlankBack(Job& job) {
  job.state.blankBackAdded = 0;
  if (job.state.pageCount % 2 == 0) return;
  job.state.blankBackAdded = 1;
  ++job.state.pageCount;

  cups_page_header2_t header = job.state.currentHeader;
  PageSettingsResult result =
      readPageSettings(job.ppd, header, job.paperTable, job.settings, PageLoop::Duplex);
  if (result != PageSettingsResult::Ok) fail(1, pageSettingsError(result));
  preparePageRecord(job.pageRecord, job.settings, header);

  PlaneBuffers planes;
  if (!allocatePlaneBuffers(planes, job.settings.colorMode, job.settings.lineWidth,
                            header.cupsHeight))
    fail(1, "ERROR: Unable to allocate memory for the page\n");

  SpoolResult spooled = job.printJob.spoolPageNow(planes, job.pageRecord, job.state.pageCount);
  if (spooled.kind == SpoolResult::CreateFailed) {
    WritePjlComment(job.output, kSpoolTemplate);
    fail(1, nullptr);
  }
  if (spooled.kind == SpoolResult::WriteFailed) failSpoolWrite(spooled.error);
}

// Phase 2: the spooled pages to standard output, in `order`.
void sendPages(Job& job, SendOrder order) {
  SendResult result = job.printJob.sendPages(
      std::move(order), [](const std::string& line) { fputs(line.c_str(), stderr); });
  if (result == SendResult::OutputFailed)
    failWithErrno("ERROR: Unable to write the job to the printer: ", errno);
}

void writeJobHeader(Job& job) {
  const cups_page_header2_t& header = job.state.currentHeader;
  JobHeaderInputs inputs;
  inputs.startFlag = 1;
  inputs.title = job.argv[3];
  inputs.user = job.argv[2];
  inputs.duplexMode = job.settings.duplexMode;
  inputs.paperIndex = job.settings.paperIndex;
  inputs.pageCount = job.state.pageCount;
  inputs.blankBackAdded = job.state.blankBackAdded;
  readSystemJobAttributes(inputs);
  job.printJob.writeHeader(header, inputs);
  logLine("STATE: Setup");
  if (fflush(stdout) != 0)
    failWithErrno("ERROR: Unable to write the job to the printer: ", errno);
}

void runSimplex(Job& job) {
  runPageLoop(job, PageLoop::Simplex);
  writeJobHeader(job);
  const cups_page_header2_t& header = job.state.currentHeader;
  sendPages(job, SendOrder::simplex(job.state.pageCount, header.NumCopies,
                                    static_cast<int>(header.Collate)));
}

void runDuplex(Job& job) {
  runPageLoop(job, PageLoop::Duplex);
  if (!cancelRequested) addBlankBack(job);
  logLine("INFO: IPC done, start setup()");
  writeJobHeader(job);
  const cups_page_header2_t& header = job.state.currentHeader;
  sendPages(job, SendOrder::duplex(job.state.pageCount, header.NumCopies,
                                   static_cast<int>(header.Collate)));
}

// Option marking with the one fix the PPD's constraints allow.
void markOptions(Job& job) {
  ppdMarkDefaults(job.ppd);
  if (cupsMarkOptions(job.ppd, job.numOptions, job.options)) {
    fputs("INFO: Option conflicts exist. Fixing...\n", stderr);
    if (ppdMarkOption(job.ppd, "MediaType", "Covers"))
      fail(1, "ERROR: Option conflicts exist. Unable to fix.\n");
    fputs("INFO: Option conflicts exist. Fixing... Done.\n", stderr);
  }
}

void readDuplexMode(Job& job) {
  fputs("INFO: ppdFindMarkedChoice DrvDuplex start\n", stderr);
  const char* option = duplexOption(job.ppd);
  const char* choice = markedChoice(job.ppd, option);
  job.settings.duplexMode = duplexModeFor(option, choice);
  if (job.settings.duplexMode != 0 && ppdMarkOption(job.ppd, option, choice))
    fail(1, "ERROR: Option conflicts exist\n");
}

void shutdown(Job& job) {
  job.printJob.writeTrailer(cancelRequested != 0);
  fflush(stdout);
  logLine("STATE: Shutdown Filter");
  ppdClose(job.ppd);
  if (job.raster) cupsRasterClose(job.raster);
  logLine("STATE: cupsRasterClose");
  if (job.state.rasterFd != 0) close(job.state.rasterFd);
  unloadEngineLibrary(job.library);
  cupsFreeOptions(job.numOptions, job.options);
  logLine("STATE: Job Finished");
  if (!cancelRequested) fputs("INFO: Ready to print.\n", stderr);
}

}  // namespace

int runFilter(int argc, char* argv[]) {
  installPipeHandler();
  installTimer();
  logTruncate();

  setvbuf(stderr, nullptr, _IONBF, 0);
  Job job;
  JobRegistration registration(job);
  job.argc = argc;
  job.argv = argv;
  job.settings.rotate180 = 0;
  job.settings.colorMode = 0;

  if (argc != 6 && argc != 7) return 1;

  if (argc == 7) {
    job.state.rasterFd = open(argv[6], O_RDONLY | O_CLOEXEC);
    if (job.state.rasterFd < 0) {
      perror("ERROR: Unable to open raster file - ");
      sleep(1);
      return 1;
    }
  }

  EngineLoadResult loaded = loadEngineLibrary(job.library);
  for (const std::string& notice : loaded.notices) {
    fputs(notice.c_str(), stdout);
    fflush(stdout);
  }
  if (!loaded) {
    fprintf(stderr, "ERROR: zarvelmac open fail:%s\n", loaded.error.c_str());
    return 1;
  }
  installTermHandler();

  job.numOptions = cupsParseOptions(argv[5], 0, &job.options);
  const char* ppdPath = getenv("PPD");
  job.ppd = ppdPath ? ppdOpenFile(ppdPath) : nullptr;
  if (!job.ppd) fail(1, "ERROR: Unable to load PPD\n");
  job.customRange = customSizeRangeOf(job.ppd);

  job.numOptions = addImpliedOptions(job.numOptions, &job.options);
  markOptions(job);
  readJobSettings(job.ppd, job.numOptions, job.options, argc, argv, job.settings);
  readDuplexMode(job);

  fputs("INFO: cupsRasterOpen  start\n", stderr);
  job.raster = cupsRasterOpenIO(readRasterInput, &job.state.rasterFd, CUPS_RASTER_READ);
  if (!job.raster) logLine("INFO: cupsRasterOpen returns NULL.\n");
  job.state.pageCount = 0;

  job.settings.collate = collateFromChoice(markedChoice(job.ppd, "Collate"));
  fputs("INFO: cupsRasterReadHeader2 start\n", stderr);

  if (job.settings.duplexMode == 0)
    runSimplex(job);
  else
    runDuplex(job);

  shutdown(job);
  return 0;
}
