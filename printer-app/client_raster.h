// What PAPPL does not say about a client's streamed raster: that a page is
// of a type the printer does not list, and why PAPPL ended a job itself.
#pragma once

#include <pappl/pappl.h>

namespace zeruapp {

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
