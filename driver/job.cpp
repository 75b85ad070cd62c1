#include "driver/job.h"
#include "driver/job_options.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

#include <cups/ppd.h>
#include <cups/raster.h>

#include "driver/job_settings.h"
#include "driver/job_state.h"
#include "driver/log.h"
#include "driver/page_order.h"
#include "driver/raster_check.h"
#include "driver/signals.h"
#include "driver/spool.h"
#include "imaging/compression.h"
#include "imaging/stripe_stream.h"
#include "imaging/engine_loader.h"
#include "imaging/engine_setup.h"
#include "imaging/paper_table.h"
#include "imaging/plane_buffers.h"
#include "imaging/rasterize.h"
#include "imaging/worker_thread.h"
#include "status/status_probe.h"
#include "stream/command_record.h"
#include "stream/page_stream.h"
#include "stream/pjl.h"

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

// A kept page whose planes are compressed and written to its spool file on
// a thread of its own while the page thread rasterises the next page. The
// page thread owns it: it fills it, starts the thread and joins it before it
// reads `error` or starts the next one, so at most one page is in flight and
// a job holds at most two pages' buffers. The spooling thread touches only
// this page's buffers, its own copy of the page record and its descriptor.
struct PendingSpool {
  std::thread thread;
  std::unique_ptr<PlaneBuffers> planes;
  PageStartRecord record;
  int fd = -1;
  bool writeRecord = false;
  int error = 0;  // errno of a failed spool write; 0 when the page is on disk
};

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
  JbigCoder jbigCoder = JbigCoder::Own;  // ZERU_JBIG
  std::vector<uint8_t> copyBuffer = std::vector<uint8_t>(kCopyBufferSize);
  PendingSpool pending;
  // The buffers of the last page spooled, kept for the next page to reuse:
  // with the page in flight and the page being rasterised, a job holds at
  // most two pages' buffers.
  std::unique_ptr<PlaneBuffers> spare;
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

// The page being spooled behind the page thread, if any; a job that ends
// early waits for it, so that no thread is cut off and its file is removed.
PendingSpool* activeSpool = nullptr;

void settlePendingSpool() {
  if (activeSpool && activeSpool->thread.joinable()) activeSpool->thread.join();
}

// A fatal condition: the spool files still on disk are removed, the line is
// printed, the process ends with `status`.
[[noreturn]] void fail(int status, const char* line) {
  settlePendingSpool();
  removeAllSpoolFiles();
  if (line) fputs(line, stderr);
  fflush(stdout);
  _exit(status);
}

[[noreturn]] void failWithErrno(const char* prefix, int error) {
  settlePendingSpool();
  removeAllSpoolFiles();
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

// The page-start record fields known once the page's settings are read.
void preparePageRecord(Job& job, const cups_page_header2_t& header) {
  const JobSettings& s = job.settings;
  uint64_t planes = s.colorMode ? 4 : 1;
  uint64_t rawSize = planes * header.cupsHeight * static_cast<uint64_t>(s.lineWidth / 8);
  job.pageRecord.setPaper(s.paperCode, s.mediaCode, s.pageWidth10, s.pageHeight10);
  job.pageRecord.setRaster(static_cast<uint32_t>(s.lineWidth), header.cupsHeight,
                           static_cast<uint32_t>(rawSize),
                           static_cast<uint16_t>(header.HWResolution[0]));
  job.pageRecord.clearPlaneLengths();
}

// Compresses the page and writes its record and planes into the slot's file;
// returns 0, or the errno of a failed write. The descriptor is closed.
int compressAndWrite(PlaneBuffers& planes, PageStartRecord& record, int fd, bool writeRecord,
                     JbigCoder coder) {
  compressPage(planes, record, coder);
  int error = 0;
  if (writeRecord && !WritePageRecord(fd, record, planes)) error = errno;
  close(fd);
  return error;
}

[[noreturn]] void failSpoolWrite(int error) {
  failWithErrno("ERROR: Unable to write the page spool file: ", error);
}

// Waits for the page being spooled behind the page thread, releases its
// buffers, and ends the job if its spool file could not be written.
void finishPendingSpool(Job& job) {
  PendingSpool& pending = job.pending;
  if (pending.thread.joinable()) pending.thread.join();
  if (pending.planes) job.spare = std::move(pending.planes);
  if (pending.error != 0) failSpoolWrite(pending.error);
}

// Spools the page on the calling thread.
void spoolPage(Job& job, PlaneBuffers& planes, int fd, bool writeRecord) {
  finishPendingSpool(job);
  int error = compressAndWrite(planes, job.pageRecord, fd, writeRecord, job.jbigCoder);
  if (error != 0) failSpoolWrite(error);
}

// Spools the page on its own thread, so that its compression runs beside the
// rasterisation of the next page. The page before it is finished first.
void spoolPageBehind(Job& job, std::unique_ptr<PlaneBuffers> planes, int fd, bool writeRecord) {
  finishPendingSpool(job);
  PendingSpool& pending = job.pending;
  pending.planes = std::move(planes);
  pending.record = job.pageRecord;
  pending.fd = fd;
  pending.writeRecord = writeRecord;
  pending.error = 0;
  try {
    pending.thread = startWorkerThread([&pending, coder = job.jbigCoder] {
      pending.error = compressAndWrite(*pending.planes, pending.record, pending.fd,
                                       pending.writeRecord, coder);
    });
  } catch (const std::system_error&) {
    // No thread to be had: the page is spooled here and now.
    pending.error = compressAndWrite(*pending.planes, pending.record, fd, writeRecord,
                                     job.jbigCoder);
  }
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

  preparePageRecord(job, header);

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
    if (job.settings.colorMode) RequestDeviceStatus(loop);
    readRotate180(job.ppd, job.settings);
  };

  std::unique_ptr<PlaneBuffers> planes =
      job.spare ? std::move(job.spare) : std::make_unique<PlaneBuffers>();
  // The own encoder compresses the planes stripe by stripe while they fill.
  if (job.jbigCoder == JbigCoder::Own && !planes->stream)
    planes->stream = std::make_shared<StripeStream>(stripeWorkers());
  bool hasContent = false;
  switch (renderPage(request, *planes, hasContent)) {
    case RenderResult::Ok:
      break;
    case RenderResult::EngineRefused:
      fail(kExitEngineRefused, kEngineRefusedLine);
    case RenderResult::AllocationFailed:
      fail(1, "ERROR: Unable to allocate memory for the page\n");
  }
  fputs(kPageRasterised, stderr);

  if (!hasContent) {
    if (planes->stream) planes->stream->abandon();
    --job.state.pageCount;   // the next page takes this number
    job.spare = std::move(planes);
    return PageOutcome::Dropped;
  }

  int fd = createSpoolFile(job.state.pageCount);
  if (fd < 0) {
    int error = errno;
    settlePendingSpool();
    if (loop == PageLoop::Simplex) {
      removeAllSpoolFiles();
      fprintf(stderr, "ERROR: Collating enabled mkstemp [/tmp/] -> %s\n", strerror(error));
    } else {
      WritePjlComment(stdout, kSpoolTemplate);
      removeAllSpoolFiles();
      fprintf(stderr, "ERROR: Duplex enabled mkstemp -> %s\n", strerror(error));
    }
    fflush(stdout);
    _exit(1);
  }
  // A single-sided colour page asked for zero copies is never sent: its file
  // stays empty.
  bool writeRecord = loop == PageLoop::Duplex || !settings.colorMode || header.NumCopies != 0;
  spoolPageBehind(job, std::move(planes), fd, writeRecord);
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
  finishPendingSpool(job);
  job.spare.reset();
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
  preparePageRecord(job, header);

  PlaneBuffers planes;
  if (!allocatePlaneBuffers(planes, job.settings.colorMode, job.settings.lineWidth,
                            header.cupsHeight))
    fail(1, "ERROR: Unable to allocate memory for the page\n");

  int fd = createSpoolFile(job.state.pageCount);
  if (fd < 0) {
    WritePjlComment(stdout, kSpoolTemplate);
    fail(1, nullptr);
  }
  spoolPage(job, planes, fd, true);
}

// Phase 2: the spooled pages to standard output, in `order`.
void sendPages(Job& job, SendOrder order) {
  SendStep step;
  while (order.next(step)) {
    if (cancelRequested) break;
    if (!step.message.empty()) fputs(step.message.c_str(), stderr);
    SendResult result = SendSpooledPage(stdout, spoolName(step.page), job.copyBuffer);
    if (result == SendResult::OutputFailed)
      failWithErrno("ERROR: Unable to write the job to the printer: ", errno);
    if (step.removeAfter) removeSpoolFile(step.page);
    if (result == SendResult::Cancelled) break;
  }
  // Whatever was not sent for the last time (cancellation, or no pass at all
  // for zero collated copies) leaves nothing behind.
  removeAllSpoolFiles();
}

void writeJobHeader(Job& job) {
  const cups_page_header2_t& header = job.state.currentHeader;
  setup(stdout, &header, 1, job.argv[3], job.argv[2], job.settings.duplexMode,
        job.settings.paperIndex, job.state.pageCount, job.state.blankBackAdded);
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
  WriteJobTrailer(stdout, cancelRequested != 0);
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
  clearDeviceStatus();
  logTruncate();

  setvbuf(stderr, nullptr, _IONBF, 0);
  Job job;
  activeSpool = &job.pending;
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

  if (!loadEngineLibrary(job.library)) return 1;
  installTermHandler();

  job.numOptions = cupsParseOptions(argv[5], 0, &job.options);
  job.jbigCoder = jbigCoderFromName(getenv("ZERU_JBIG"));
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
