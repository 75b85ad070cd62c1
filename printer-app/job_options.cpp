#include "printer-app/job_options.h"

#include <cstring>

namespace zeruapp {

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
  const char* format = papplJobGetFormat(job);
  if (format == nullptr ||
      (strcmp(format, "image/pwg-raster") != 0 && strcmp(format, "image/urf") != 0))
    return false;
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

}  // namespace zeruapp
