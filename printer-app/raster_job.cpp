#include "printer-app/raster_job.h"

#include <cstring>
#include <memory>
#include <string>
#include <utility>

#include "printer-app/client_stream.h"
#include "printer-app/log_number.h"
#include "printer-app/mapping/paper.h"
#include "printer-app/printer_state.h"
#include "zeru/page_header.h"

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

RasterJob* rasterJobOf(pappl_job_t* job) { return static_cast<RasterJob*>(papplJobGetData(job)); }

}  // namespace

void setCoreSpoolDirectory(const char* directory) { spoolDirectory() = directory ? directory : ""; }

RasterJob::RasterJob(pappl_job_t* papplJob, pappl_device_t* device, const Model& printerModel)
    : turn_(papplJob, device), job_(papplJob), model_(printerModel),
      sink_(papplJob, turn_.device()) {}

RasterJob::~RasterJob() {
  // What the device still buffers of a job that failed is sent here, where
  // the write is watched, not in PAPPL's close, where it is not.
  if (failed_ && !sink_.failed()) sink_.flush();
}

// The job ends here: its message for the person who sent it, the reason,
// and nothing of it left on disk.
bool RasterJob::fail(const std::string& message, pappl_jreason_t reason) {
  papplLogJob(job_, PAPPL_LOGLEVEL_ERROR, "%s", message.c_str());
  papplJobSetMessage(job_, "%s", message.c_str());
  papplJobSetReasons(job_, reason, PAPPL_JREASON_NONE);
  failed_ = true;
  pageOpen_ = false;
  if (core_) core_->abandon();
  return false;
}

// The core's own reason, or the device's when the core gave none.
bool RasterJob::failCore() {
  std::string message = core_->failure().message;
  if (message.empty() || sink_.failed()) {
    if (message.empty()) message = kSendFailed;
    // A cancelled job's connection may have been shut by the job itself.
    if (sink_.failed() && !papplJobIsCanceled(job_))
      reportRefusedJob(papplJobGetPrinter(job_));
  }
  return fail(message, PAPPL_JREASON_ABORTED_BY_SYSTEM);
}

// The core's job, made when the first page shows what the job's raster is.
void RasterJob::startCore(const char* pageSize, int resolution) {
  request_.pageSize = pageSize;
  request_.resolution = resolution;
  std::string unused;
  mapJobChoices(request_, choices_, unused);

  zeru::JobOptions options;
  const char* title = papplJobGetName(job_);
  const char* user = papplJobGetUsername(job_);
  options.title = title ? title : "";
  options.user = user ? user : "";
  options.choices = &choices_;
  options.model = model_.model;
  options.customSizes = zeru::kCustomSizes;
  // The pages are cut to the imageable area before they reach the core.
  options.rasterArea = zeru::RasterArea::AsGiven;
  options.library = colourLibrary();
  options.spoolDirectory = spoolDirectory();

  zeru::JobEvents events;
  pappl_job_t* job = job_;
  events.cancelled = [job] { return papplJobIsCanceled(job); };
  // The core's diagnostic trace (the filter's log file lines), at the debug
  // level: its failures come as values, which the job's message carries.
  events.log = [job](const char* line) { papplLogJob(job, PAPPL_LOGLEVEL_DEBUG, "%s", line); };
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
  core_ = std::make_unique<zeru::Job>(sink_, std::move(options), std::move(events));
}

std::unique_ptr<RasterJob> RasterJob::start(pappl_job_t* job, pappl_pr_options_t* options,
                                            pappl_device_t* device) {
  if (cancelledBeforeStart(job)) return nullptr;
  pappl_printer_t* printer = papplJobGetPrinter(job);
  const Model* model = modelForDriver(papplPrinterGetDriverName(printer));
  if (model == nullptr) {
    papplJobSetMessage(job, "%s", kNoModel);
    return nullptr;
  }
  if (colourLibrary() == nullptr) {
    // Without the colour library no job of any printer can print: the
    // printer stops until the library is installed and the app restarted.
    papplJobSetMessage(job, "%s", colourLibraryError().c_str());
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", colourLibraryError().c_str());
    papplJobSetReasons(job, PAPPL_JREASON_ABORTED_BY_SYSTEM, PAPPL_JREASON_NONE);
    papplPrinterSetReasons(printer, PAPPL_PREASON_OTHER, PAPPL_PREASON_NONE);
    papplPrinterPause(printer);
    return nullptr;
  }

  papplLogJob(job, PAPPL_LOGLEVEL_INFO, kJobStarted, model->makeAndModel, papplJobGetFormat(job));
  std::unique_ptr<RasterJob> rj(new RasterJob(job, device, *model));
  if (!rj->turn_.held()) return nullptr;  // cancelled while another job printed
  readJobDeviceStatus(job, rj->turn_.device());
  JobRequest& request = rj->request_;
  request.sides = sidesOf(options->sides);
  request.quality = qualityOf(options->print_quality);
  request.colour = options->print_color_mode == PAPPL_COLOR_MODE_COLOR;
  rj->mediaType_ = options->media.type;
  request.mediaType = rj->mediaType_.empty() ? nullptr : rj->mediaType_.c_str();
  request.collate = collateOf(job);
  for (int i = 0; i < options->num_vendor; ++i)
    request.vendor.emplace_back(options->vendor[i].name, options->vendor[i].value);
  // A job's own media decides its size until its first page says otherwise.
  if (const Paper* paper = paperForPwgName(options->media.size_name))
    request.pageSize = paper->keyword;
  request.resolution = resolutionForQuality(request.quality, requestedResolution(job));
  rj->copies_ = coreCopies(papplJobGetFormat(job), options->copies);
  rj->mediaTypeCode_ = mediaTypeChoice(request.mediaType).code;

  std::string error;
  if (!mapJobChoices(request, rj->choices_, error)) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", error.c_str());
    papplJobSetMessage(job, "%s", error.c_str());
    papplJobSetReasons(job, PAPPL_JREASON_ABORTED_BY_SYSTEM, PAPPL_JREASON_NONE);
    return nullptr;
  }
  applyQualityResolution(job, options);
  return rj;
}

bool RasterJob::startPage(pappl_pr_options_t* options) {
  if (failed_) return false;
  if (stopped_) return true;

  if (papplKeptItsOwnHeader(job_, options))
    return fail(kUnlistedRasterType, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR);
  zeru::PageHeader raster = zeru::pageHeaderFrom(options->header);
  if (const char* problem = rasterPageProblem(raster))
    return fail(problem, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR);
  if (std::string problem = rasterSizeProblem(raster); !problem.empty())
    return fail(problem, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR);

  unsigned sheetWidth = 0, sheetHeight = 0;
  sheetForRaster(raster.pageSize[0], raster.pageSize[1], sheetWidth, sheetHeight);
  cut_ = imageableCut(sheetWidth, sheetHeight, raster.hwResolution[0], raster.hwResolution[1]);
  const bool toGray = !request_.colour && raster.bitsPerPixel == 24;

  if (!core_) {
    const Paper* paper = paperForPoints(sheetWidth, sheetHeight);
    startCore(paper ? paper->keyword : "Custom", static_cast<int>(raster.hwResolution[0]));
  }

  zeru::PageHeader page =
      cutPageHeader(raster, cut_, toGray, copies_, request_.collate, mediaTypeCode_);
  switch (core_->startPage(page)) {
    case zeru::PageStart::Render: break;
    case zeru::PageStart::Stop: stopped_ = true; return true;
    case zeru::PageStart::Failed: return failCore();
  }
  pageOpen_ = true;
  sourceWidth_ = raster.width;
  sourceBytesPerPixel_ = raster.bitsPerPixel / 8;
  bytesPerPixel_ = page.bitsPerPixel / 8;
  linesPushed_ = 0;
  return true;
}

bool RasterJob::writeLine(unsigned y, const unsigned char* line) {
  if (failed_) return false;
  if (!pageOpen_) return true;
  if (y < cut_.top || y >= cut_.top + cut_.height) return true;
  // Lines the client left out are white.
  while (linesPushed_ < y - cut_.top) {
    whiteLine(cut_, bytesPerPixel_, core_->line().data());
    core_->pushLine();
    ++linesPushed_;
  }
  cutLine(line, sourceWidth_, sourceBytesPerPixel_, cut_, bytesPerPixel_, core_->line().data());
  core_->pushLine();
  ++linesPushed_;
  return true;
}

// A client that fell silent while its raster was read ends the job: what it
// sent of the page is not what it meant to print.
bool RasterJob::clientFellSilent() {
  if (documentReadStop(job_) != DocumentReadStop::ClientSilent) return false;
  fail(kClientSilent, PAPPL_JREASON_ABORTED_BY_SYSTEM);
  return true;
}

bool RasterJob::endPage() {
  if (failed_ || clientFellSilent()) return false;
  if (!pageOpen_) return true;
  // A client's page shorter than the imageable area ends in white.
  while (linesPushed_ < cut_.height) {
    whiteLine(cut_, bytesPerPixel_, core_->line().data());
    core_->pushLine();
    ++linesPushed_;
  }
  pageOpen_ = false;
  zeru::PageEnd end = core_->endPage();
  if (end.failed()) return failCore();
  if (end.kind == zeru::PageEnd::Kind::Kept) ++pagesKept_;
  if (end.stop) stopped_ = true;
  return true;
}

bool RasterJob::finish() {
  if (!failed_) clientFellSilent();
  explainPapplAbort(job_);
  bool ok = !failed_;
  // PAPPL aborts the job itself when it refuses a page's raster: a job
  // stream of no pages is not sent to the printer.
  if (ok && papplJobGetState(job_) == IPP_JSTATE_ABORTED && pagesKept_ == 0) {
    if (core_) core_->abandon();
    ok = false;
  }
  if (ok) {
    if (!core_) startCore(request_.pageSize ? request_.pageSize : "A4", request_.resolution);
    zeru::JobEnd end = core_->finish();
    if (end.failed()) ok = failCore();
    else if (!sink_.flush()) {
      reportRefusedJob(papplJobGetPrinter(job_));
      ok = fail(kSendFailed, PAPPL_JREASON_ABORTED_BY_SYSTEM);
    }
  }
  return ok;
}

void RasterJob::abort(const char* message) {
  if (!failed_) fail(message, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR);
}

bool rasterStartJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device) {
  // PAPPL reads a client's raster in the client's thread, which calls here.
  watchDocumentReads(job);
  std::unique_ptr<RasterJob> rj = RasterJob::start(job, options, device);
  if (!rj) return false;
  papplJobSetData(job, rj.release());
  return true;
}

bool rasterStartPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned) {
  RasterJob* rj = rasterJobOf(job);
  return rj != nullptr && rj->startPage(options);
}

bool rasterWriteLine(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned y,
                     const unsigned char* line) {
  RasterJob* rj = rasterJobOf(job);
  return rj != nullptr && rj->writeLine(y, line);
}

bool rasterEndPage(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned) {
  RasterJob* rj = rasterJobOf(job);
  return rj != nullptr && rj->endPage();
}

bool rasterEndJob(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*) {
  RasterJob* rj = rasterJobOf(job);
  if (rj == nullptr) return false;
  const bool ok = rj->finish();
  delete rj;
  papplJobSetData(job, nullptr);
  return ok;
}

namespace {

constexpr const char* kPapplRefused =
    "The document's raster could not be printed: a page has a header the printer cannot take "
    "(such as banded colour order or a line length that does not match its width) or ends "
    "before its last line";

}  // namespace

Sides sidesOf(pappl_sides_t sides) {
  if (sides == PAPPL_SIDES_TWO_SIDED_LONG_EDGE) return Sides::LongEdge;
  if (sides == PAPPL_SIDES_TWO_SIDED_SHORT_EDGE) return Sides::ShortEdge;
  return Sides::OneSided;
}

Quality qualityOf(ipp_quality_t quality) {
  if (quality == IPP_QUALITY_DRAFT) return Quality::Draft;
  if (quality == IPP_QUALITY_HIGH) return Quality::High;
  return Quality::Normal;
}

int requestedResolution(pappl_job_t* job) {
  ipp_attribute_t* attr = papplJobGetAttribute(job, "printer-resolution");
  if (attr == nullptr) return 0;
  int y = 0;
  ipp_res_t units;
  return ippGetResolution(attr, 0, &y, &units);
}

bool collateOf(pappl_job_t* job) {
  ipp_attribute_t* attr = papplJobGetAttribute(job, "multiple-document-handling");
  const char* value = attr ? ippGetString(attr, 0, nullptr) : nullptr;
  return value == nullptr || strcmp(value, "separate-documents-uncollated-copies") != 0;
}

// PAPPL takes print-quality=normal as the middle resolution of the driver's
// list (1200 dpi); the printers' Normal is 600 dpi. A client's raster keeps
// its own. A JPEG or PNG image keeps PAPPL's: PAPPL has sized the image's
// lines for it before the job starts, and lines of another resolution would
// print a corner of the image, enlarged.
void applyQualityResolution(pappl_job_t* job, pappl_pr_options_t* options) {
  if (papplRendersImage(papplJobGetFormat(job))) return;
  int resolution =
      resolutionForQuality(qualityOf(options->print_quality), requestedResolution(job));
  if (options->printer_resolution[0] == resolution && options->printer_resolution[1] == resolution)
    return;
  options->printer_resolution[0] = options->printer_resolution[1] = resolution;
  const bool colour = options->print_color_mode == PAPPL_COLOR_MODE_COLOR;
  static const char* const kSheetBack = "normal";
  const char* sides = options->sides == PAPPL_SIDES_TWO_SIDED_LONG_EDGE    ? "two-sided-long-edge"
                      : options->sides == PAPPL_SIDES_TWO_SIDED_SHORT_EDGE ? "two-sided-short-edge"
                                                                           : "one-sided";
  unsigned total = options->header.cupsInteger[CUPS_RASTER_PWG_TotalPageCount];
  cupsRasterInitPWGHeader(&options->header, pwgMediaForPWG(options->media.size_name),
                          colour ? "srgb_8" : "sgray_8", resolution, resolution, sides,
                          kSheetBack);
  options->header.cupsInteger[CUPS_RASTER_PWG_TotalPageCount] = total;
}

int documentResolution(pappl_job_t* job, const pappl_pr_options_t* options) {
  return resolutionForQuality(qualityOf(options->print_quality), requestedResolution(job));
}

bool papplKeptItsOwnHeader(pappl_job_t* job, const pappl_pr_options_t* options) {
  // Only a client's streamed page: the app's own filters pass the header of
  // the raster they read.
  if (papplJobGetFilename(job) != nullptr) return false;
  if (!isClientRaster(papplJobGetFormat(job))) return false;
  // PAPPL makes its header with the job's options as a gray job when the
  // client's page has fewer than 9 bits a pixel; the same call here gives
  // the same header byte for byte. A client's page has its own page size
  // name, resolution and page count fields, so that its header equals
  // PAPPL's only when it was made the same way for the same job.
  pappl_pr_options_t* own =
      papplJobCreatePrintOptions(job, static_cast<unsigned>(papplJobGetImpressions(job)), false);
  if (own == nullptr) return false;
  const bool same = memcmp(&own->header, &options->header, sizeof own->header) == 0;
  papplJobDeletePrintOptions(own);
  return same;
}

void explainPapplAbort(pappl_job_t* job) {
  // PAPPL 1.3.1 sets the state of a job it aborts before it ends the job
  // (papplJobIsCanceled is true for an aborted job as well); a cancelled
  // job is still processing here.
  if (papplJobGetState(job) != IPP_JSTATE_ABORTED) return;
  const char* message = papplJobGetMessage(job);
  if (message != nullptr && *message != '\0') return;
  papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", kPapplRefused);
  papplJobSetMessage(job, "%s", kPapplRefused);
}

namespace {

// Never unloaded: when the server stops, a client's thread may still be
// rendering a streamed page inside the library while the process exits.
zeru::ColourLibrary& library() {
  static zeru::ColourLibrary* instance = new zeru::ColourLibrary;
  return *instance;
}

std::string& loadError() {
  static std::string error;
  return error;
}

}  // namespace

bool loadColourLibrary(std::string& error) {
  if (library().loaded()) return true;
  zeru::ColourLibrary::LoadResult loaded = library().load(zeru::ColourLibrary::installedPaths());
  if (loaded.failed()) {
    loadError() = "The colour library cannot be loaded: " + loaded.message;
    error = loadError();
    return false;
  }
  loadError().clear();
  return true;
}

const zeru::ColourLibrary* colourLibrary() {
  return library().loaded() ? &library() : nullptr;
}

const std::string& colourLibraryError() { return loadError(); }

}  // namespace zeruapp
