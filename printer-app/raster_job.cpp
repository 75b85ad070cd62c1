#include "printer-app/raster_job.h"

#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "printer-app/colour_library.h"
#include "printer-app/device_sink.h"
#include "printer-app/device_turn.h"
#include "printer-app/job_options.h"
#include "printer-app/mapping/choices_map.h"
#include "printer-app/mapping/models.h"
#include "printer-app/mapping/paper.h"
#include "printer-app/mapping/raster_geometry.h"
#include "printer-app/printer_state.h"
#include "zeru/job.h"
#include "zeru/page_header.h"
#include "printer-app/log_number.h"

namespace zeruapp {

namespace {

constexpr const char* kSendFailed = "Unable to send the job to the printer";
constexpr const char* kNoModel = "The printer's driver is not one of this application's models";
constexpr const char* kPageCounted = "Page %s, %s copies";
constexpr const char* kJobStarted = "Printing as %s, %s";

std::string& spoolDirectory() {
  static std::string directory;
  return directory;
}

// One job from its start to its end: what it asks for, the core's job and
// the page being cut.
struct RasterJob {
  RasterJob(pappl_job_t* papplJob, pappl_device_t* device, const Model& printerModel)
      : turn(papplJob, device), job(papplJob), model(printerModel), sink(papplJob, turn.device()) {}

  // Taken first and given back last: the job's writes to the device.
  DeviceTurn turn;
  pappl_job_t* job;
  const Model& model;
  JobRequest request;
  ChoiceMap choices;
  DeviceSink sink;
  std::unique_ptr<zeru::Job> core;
  unsigned copies = 1;
  unsigned mediaTypeCode = 0;
  // The job's media-type, which request.mediaType points at: PAPPL frees the
  // options the job started with when a page brings its own.
  std::string mediaType;
  bool failed = false;
  bool stopped = false;
  // Pages the core kept for the job stream.
  unsigned pagesKept = 0;

  // The page between its start and its end.
  bool pageOpen = false;
  PageCut cut;
  unsigned sourceWidth = 0;
  unsigned sourceBytesPerPixel = 0;
  unsigned bytesPerPixel = 0;
  unsigned linesPushed = 0;
};

RasterJob* rasterJobOf(pappl_job_t* job) { return static_cast<RasterJob*>(papplJobGetData(job)); }

// The job ends here: its message for the person who sent it, the reason,
// and nothing of it left on disk.
bool failJob(RasterJob& rj, const std::string& message, pappl_jreason_t reason) {
  papplLogJob(rj.job, PAPPL_LOGLEVEL_ERROR, "%s", message.c_str());
  papplJobSetMessage(rj.job, "%s", message.c_str());
  papplJobSetReasons(rj.job, reason, PAPPL_JREASON_NONE);
  rj.failed = true;
  rj.pageOpen = false;
  if (rj.core) rj.core->abandon();
  return false;
}

// The core's own reason, or the device's when the core gave none.
bool failCore(RasterJob& rj) {
  std::string message = rj.core->failure().message;
  if (message.empty() || rj.sink.failed()) {
    if (message.empty()) message = kSendFailed;
    // A cancelled job's connection may have been shut by the job itself.
    if (rj.sink.failed() && !papplJobIsCanceled(rj.job))
      reportRefusedJob(papplJobGetPrinter(rj.job));
  }
  return failJob(rj, message, PAPPL_JREASON_ABORTED_BY_SYSTEM);
}

// The core's job, made when the first page shows what the job's raster is.
void startCore(RasterJob& rj, const char* pageSize, int resolution) {
  rj.request.pageSize = pageSize;
  rj.request.resolution = resolution;
  std::string unused;
  mapJobChoices(rj.request, rj.choices, unused);

  zeru::JobOptions options;
  const char* title = papplJobGetName(rj.job);
  const char* user = papplJobGetUsername(rj.job);
  options.title = title ? title : "";
  options.user = user ? user : "";
  options.choices = &rj.choices;
  options.model = rj.model.model;
  options.customSizes = zeru::kCustomSizes;
  // The pages are cut to the imageable area before they reach the core.
  options.rasterArea = zeru::RasterArea::AsGiven;
  options.library = colourLibrary();
  options.spoolDirectory = spoolDirectory();

  zeru::JobEvents events;
  pappl_job_t* job = rj.job;
  events.cancelled = [job] { return papplJobIsCanceled(job); };
  // The filter's diagnostic lines: its errors at PAPPL's error level, its
  // trace lines at the debug level.
  events.log = [job](const char* line) {
    const bool error = strncmp(line, "ERROR:", 6) == 0;
    papplLogJob(job, error ? PAPPL_LOGLEVEL_ERROR : PAPPL_LOGLEVEL_DEBUG, "%s", line);
  };
  // Whoever reads the pages counts each page once as it starts; the copies
  // the core makes of it count here.
  events.pageCounted = [job](int page, unsigned copies) {
    papplLogJob(job, PAPPL_LOGLEVEL_INFO, kPageCounted, logNumber(page).c_str(),
                logNumber(copies).c_str());
    if (copies > 1) papplJobSetImpressionsCompleted(job, static_cast<int>(copies - 1));
  };
  events.sending = [job](const zeru::Sending& sending) {
    papplLogJob(job, PAPPL_LOGLEVEL_INFO, "%s", zeru::progressText(sending).c_str());
  };
  rj.core = std::make_unique<zeru::Job>(rj.sink, std::move(options), std::move(events));
}

void endJob(pappl_job_t* job) {
  // What the device still buffers of a job that failed is sent here, where
  // the write is watched, not in PAPPL's close, where it is not.
  if (RasterJob* rj = rasterJobOf(job); rj != nullptr && rj->failed && !rj->sink.failed())
    rj->sink.flush();
  delete rasterJobOf(job);
  papplJobSetData(job, nullptr);
}

}  // namespace

void setCoreSpoolDirectory(const char* directory) { spoolDirectory() = directory ? directory : ""; }

bool rasterStartJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device) {
  if (cancelledBeforeStart(job)) return false;
  pappl_printer_t* printer = papplJobGetPrinter(job);
  const Model* model = modelForDriver(papplPrinterGetDriverName(printer));
  if (model == nullptr) {
    papplJobSetMessage(job, "%s", kNoModel);
    return false;
  }
  if (colourLibrary() == nullptr) {
    // Without the colour library no job of any printer can print: the
    // printer stops until the library is installed and the app restarted.
    papplJobSetMessage(job, "%s", colourLibraryError().c_str());
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", colourLibraryError().c_str());
    papplJobSetReasons(job, PAPPL_JREASON_ABORTED_BY_SYSTEM, PAPPL_JREASON_NONE);
    papplPrinterSetReasons(printer, PAPPL_PREASON_OTHER, PAPPL_PREASON_NONE);
    papplPrinterPause(printer);
    return false;
  }

  papplLogJob(job, PAPPL_LOGLEVEL_INFO, kJobStarted, model->makeAndModel, papplJobGetFormat(job));
  auto rj = std::make_unique<RasterJob>(job, device, *model);
  if (!rj->turn.held()) return false;  // cancelled while another job printed
  readJobDeviceStatus(job, rj->turn.device());
  JobRequest& request = rj->request;
  request.sides = sidesOf(options->sides);
  request.quality = qualityOf(options->print_quality);
  request.colour = options->print_color_mode == PAPPL_COLOR_MODE_COLOR;
  rj->mediaType = options->media.type;
  request.mediaType = rj->mediaType.empty() ? nullptr : rj->mediaType.c_str();
  request.collate = collateOf(job);
  for (int i = 0; i < options->num_vendor; ++i)
    request.vendor.emplace_back(options->vendor[i].name, options->vendor[i].value);
  // A job's own media decides its size until its first page says otherwise.
  if (const Paper* paper = paperForPwgName(options->media.size_name))
    request.pageSize = paper->keyword;
  request.resolution = resolutionForQuality(request.quality, requestedResolution(job));
  rj->copies = coreCopies(papplJobGetFormat(job), options->copies);
  rj->mediaTypeCode = mediaTypeChoice(request.mediaType).code;

  std::string error;
  if (!mapJobChoices(request, rj->choices, error)) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", error.c_str());
    papplJobSetMessage(job, "%s", error.c_str());
    papplJobSetReasons(job, PAPPL_JREASON_ABORTED_BY_SYSTEM, PAPPL_JREASON_NONE);
    return false;
  }
  applyQualityResolution(job, options);
  papplJobSetData(job, rj.release());
  return true;
}

bool rasterStartPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*,
                     unsigned) {
  RasterJob* rj = rasterJobOf(job);
  if (rj == nullptr || rj->failed) return false;
  if (rj->stopped) return true;

  if (papplKeptItsOwnHeader(job, options))
    return failJob(*rj, kUnlistedRasterType, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR);
  zeru::PageHeader raster = zeru::pageHeaderFrom(options->header);
  if (const char* problem = rasterPageProblem(raster))
    return failJob(*rj, problem, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR);
  if (std::string problem = rasterSizeProblem(raster); !problem.empty())
    return failJob(*rj, problem, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR);

  unsigned sheetWidth = 0, sheetHeight = 0;
  sheetForRaster(raster.pageSize[0], raster.pageSize[1], sheetWidth, sheetHeight);
  rj->cut = imageableCut(sheetWidth, sheetHeight, raster.hwResolution[0], raster.hwResolution[1]);
  const bool toGray = !rj->request.colour && raster.bitsPerPixel == 24;

  if (!rj->core) {
    const Paper* paper = paperForPoints(sheetWidth, sheetHeight);
    startCore(*rj, paper ? paper->keyword : "Custom", static_cast<int>(raster.hwResolution[0]));
  }

  zeru::PageHeader page =
      cutPageHeader(raster, rj->cut, toGray, rj->copies, rj->request.collate, rj->mediaTypeCode);
  switch (rj->core->startPage(page)) {
    case zeru::PageStart::Render: break;
    case zeru::PageStart::Stop: rj->stopped = true; return true;
    case zeru::PageStart::Failed: return failCore(*rj);
  }
  rj->pageOpen = true;
  rj->sourceWidth = raster.width;
  rj->sourceBytesPerPixel = raster.bitsPerPixel / 8;
  rj->bytesPerPixel = page.bitsPerPixel / 8;
  rj->linesPushed = 0;
  return true;
}

bool rasterWriteLine(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned y,
                     const unsigned char* line) {
  RasterJob* rj = rasterJobOf(job);
  if (rj == nullptr || rj->failed) return false;
  if (!rj->pageOpen) return true;
  if (y < rj->cut.top || y >= rj->cut.top + rj->cut.height) return true;
  // Lines the client left out are white.
  while (rj->linesPushed < y - rj->cut.top) {
    whiteLine(rj->cut, rj->bytesPerPixel, rj->core->line().data());
    rj->core->pushLine();
    ++rj->linesPushed;
  }
  cutLine(line, rj->sourceWidth, rj->sourceBytesPerPixel, rj->cut, rj->bytesPerPixel,
          rj->core->line().data());
  rj->core->pushLine();
  ++rj->linesPushed;
  return true;
}

bool rasterEndPage(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned) {
  RasterJob* rj = rasterJobOf(job);
  if (rj == nullptr || rj->failed) return false;
  if (!rj->pageOpen) return true;
  // A client's page shorter than the imageable area ends in white.
  while (rj->linesPushed < rj->cut.height) {
    whiteLine(rj->cut, rj->bytesPerPixel, rj->core->line().data());
    rj->core->pushLine();
    ++rj->linesPushed;
  }
  rj->pageOpen = false;
  zeru::PageEnd end = rj->core->endPage();
  if (end.failed()) return failCore(*rj);
  if (end.kind == zeru::PageEnd::Kind::Kept) ++rj->pagesKept;
  if (end.stop) rj->stopped = true;
  return true;
}

bool rasterEndJob(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*) {
  RasterJob* rj = rasterJobOf(job);
  if (rj == nullptr) return false;
  explainPapplAbort(job);
  bool ok = !rj->failed;
  // PAPPL aborts the job itself when it refuses a page's raster: a job
  // stream of no pages is not sent to the printer.
  if (ok && papplJobGetState(job) == IPP_JSTATE_ABORTED && rj->pagesKept == 0) {
    if (rj->core) rj->core->abandon();
    ok = false;
  }
  if (ok) {
    if (!rj->core) startCore(*rj, rj->request.pageSize ? rj->request.pageSize : "A4",
                             rj->request.resolution);
    zeru::JobEnd end = rj->core->finish();
    if (end.failed()) ok = failCore(*rj);
    else if (!rj->sink.flush()) {
      reportRefusedJob(papplJobGetPrinter(job));
      ok = failJob(*rj, kSendFailed, PAPPL_JREASON_ABORTED_BY_SYSTEM);
    }
  }
  endJob(job);
  return ok;
}

void rasterAbortJob(pappl_job_t* job, const char* message) {
  RasterJob* rj = rasterJobOf(job);
  if (rj == nullptr) return;
  if (!rj->failed) failJob(*rj, message, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR);
  endJob(job);
}

}  // namespace zeruapp
