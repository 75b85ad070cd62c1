// What PAPPL gives a job, read as the printers mean it: the job's IPP
// options in the mapping's terms, its page header at the resolution the
// printers' print-quality means, and what PAPPL does not say about a
// client's streamed raster (that a page is of a type the printer does not
// list, and why PAPPL ended a job itself).
#pragma once

#include <pappl/pappl.h>

#include "printer-app/mapping/choices_map.h"

namespace zeruapp {

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

}  // namespace zeruapp
