// A raster job, what PAPPL gives it, and the colour library it prints with.
#pragma once

#include <memory>
#include <string>

#include <pappl/pappl.h>

#include "printer-app/device.h"
#include "printer-app/mapping/choices_map.h"
#include "printer-app/mapping/models.h"
#include "printer-app/mapping/raster_geometry.h"
#include "zeru/colour_library.h"
#include "zeru/job.h"

namespace zeruapp {

// A job of PWG or Apple raster, streamed line by line into the printing
// core, and the core's job stream to the printer's device.

// Where the core spools a job's pages; "" for /tmp. Set at start-up.
void setCoreSpoolDirectory(const char* directory);

// One job from its start to its end: what it asks for, the core's job, the
// page being cut, and the job's turn at the device with its watched writes.
// PAPPL's raster callbacks drive it for a client's raster; the document
// path drives it for the raster Ghostscript renders or a spooled file holds.
class RasterJob {
 public:
  // The job, its turn at the device taken; null when it cannot print, with
  // the PAPPL job's message set where there is one to give.
  static std::unique_ptr<RasterJob> start(pappl_job_t* job, pappl_pr_options_t* options,
                                          pappl_device_t* device);
  ~RasterJob();
  RasterJob(const RasterJob&) = delete;
  RasterJob& operator=(const RasterJob&) = delete;

  // The page whose header `options` carries. False once the job failed.
  bool startPage(pappl_pr_options_t* options);
  // Line `y` of the page's raster. False once the job failed.
  bool writeLine(unsigned y, const unsigned char* line);
  bool endPage();
  // Ends the job's stream and sends it; false when the job failed.
  bool finish();
  // Ends a job that cannot be finished, with `message` for its state.
  void abort(const char* message);

 private:
  RasterJob(pappl_job_t* papplJob, pappl_device_t* device, const Model& printerModel);
  bool fail(const std::string& message, pappl_jreason_t reason);
  bool failCore();
  bool clientFellSilent();
  void startCore(const char* pageSize, int resolution);

  // Taken first and given back last: the job's writes to the device.
  DeviceTurn turn_;
  pappl_job_t* job_;
  const Model& model_;
  JobRequest request_;
  ChoiceMap choices_;
  DeviceSink sink_;
  std::unique_ptr<zeru::Job> core_;
  unsigned copies_ = 1;
  unsigned mediaTypeCode_ = 0;
  // The job's media-type, which request_.mediaType points at: PAPPL frees
  // the options the job started with when a page brings its own.
  std::string mediaType_;
  bool failed_ = false;
  bool stopped_ = false;
  // Pages the core kept for the job stream.
  unsigned pagesKept_ = 0;

  // The page between its start and its end.
  bool pageOpen_ = false;
  PageCut cut_;
  unsigned sourceWidth_ = 0;
  unsigned sourceBytesPerPixel_ = 0;
  unsigned bytesPerPixel_ = 0;
  unsigned linesPushed_ = 0;
};

// PAPPL's raster callbacks: the job's RasterJob, kept as the job's data.
bool rasterStartJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);
bool rasterStartPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                     unsigned page);
bool rasterWriteLine(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                     unsigned y, const unsigned char* line);
bool rasterEndPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                   unsigned page);
bool rasterEndJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);

// What PAPPL gives a job, read as the printers mean it: the job's IPP
// options in the mapping's terms, its page header at the resolution the
// printers' print-quality means, and what PAPPL does not say about a
// client's streamed raster (that a page is of a type the printer does not
// list, and why PAPPL ended a job itself).

Sides sidesOf(pappl_sides_t sides);
Quality qualityOf(ipp_quality_t quality);
// The job's printer-resolution, when it names one: 0 otherwise.
int requestedResolution(pappl_job_t* job);
// Whether the job's copies are collated (multiple-document-handling).
bool collateOf(pappl_job_t* job);

// Sets the job's page header to the resolution its print-quality means.
void applyQualityResolution(pappl_job_t* job, pappl_pr_options_t* options);

// The resolution a document is rendered at: print-quality as the PPDs mean
// it, or the job's printer-resolution for normal quality.
int documentResolution(pappl_job_t* job, const pappl_pr_options_t* options);

// The message for a page whose raster type the printers do not take.
inline constexpr const char* kUnlistedRasterType =
    "The document's raster is 1-bit or of a type this printer does not take (sgray_8 or srgb_8)";

// True when the page header PAPPL hands to the page's start is PAPPL's own
// rather than the client's. PAPPL 1.3.1 keeps its own 8/24-bit header when
// the client's page is 1-bit, and then hands the client's 1-bit lines to the
// driver as 8/24-bit lines.
bool papplKeptItsOwnHeader(pappl_job_t* job, const pappl_pr_options_t* options);

// A job PAPPL aborted by itself (a page header it refuses, a page cut short)
// without a message gets one that says why.
void explainPapplAbort(pappl_job_t* job);

// The colour library of the whole process: loaded once at start-up, shared
// by every printer's jobs.

// Loads the library from its install paths; false (with the reason) when
// none of them opens.
bool loadColourLibrary(std::string& error);
// The library, or nullptr when it could not be loaded.
const zeru::ColourLibrary* colourLibrary();
// Why it could not be loaded, for the printers' and jobs' messages.
const std::string& colourLibraryError();

}  // namespace zeruapp
