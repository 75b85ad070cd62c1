#include "printer-app/document_filter.h"

#include <fcntl.h>
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

#include "printer-app/device_turn.h"
#include "printer-app/ghostscript_process.h"
#include "printer-app/job_options.h"
#include "printer-app/log_number.h"
#include "printer-app/mapping/choices_map.h"
#include "printer-app/mapping/ghostscript_args.h"
#include "printer-app/raster_job.h"

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

}  // namespace zeruapp
