#include "printer-app/client_raster.h"

#include <cstring>

namespace zeruapp {

namespace {

constexpr const char* kPapplRefused =
    "The document's raster could not be printed: a page has a header the printer cannot take "
    "(such as banded colour order or a line length that does not match its width) or ends "
    "before its last line";

}  // namespace

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
