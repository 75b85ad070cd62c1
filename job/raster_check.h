// Sanity of a raster page header before anything is sized from it.
#pragma once

#include <cups/raster.h>

// The copy count the job-start record can carry (an unsigned 16-bit field).
inline constexpr unsigned kRecordCopiesLimit = 65535;

// Returns nullptr for a header the filter can print, otherwise the
// "ERROR: ...\n" line that refuses it: a pixel format other than chunky 8-bit
// white-based gray or 24-bit RGB, a resolution other than 600 or 1200 dpi in
// both directions, a raster larger than its own page size at its resolution
// (with a little slack), a page whose bit planes would take more than
// 512 MiB, or more copies than `maxCopies`.
const char* rasterHeaderProblem(const cups_page_header2_t& header,
                                unsigned maxCopies = kRecordCopiesLimit);

// The custom page sizes the printer's paper path takes, in points, as the
// PPD declares them; `offered` is false for a PPD without custom sizes.
struct CustomSizeRange {
  bool offered = false;
  float minWidth = 0, minHeight = 0, maxWidth = 0, maxHeight = 0;
};

// Returns nullptr when a page printed as a custom size fits the range (or
// the PPD declares none), otherwise the "ERROR: ...\n" line that refuses it.
// The size is the header's page size as the page will be printed.
const char* customSizeProblem(const cups_page_header2_t& header, const CustomSizeRange& range);
