// Sanity of a raster page header before anything is sized from it.
#pragma once

#include "zeru/page_header.h"

// The copy count the job-start record can carry (an unsigned 16-bit field).
inline constexpr unsigned kRecordCopiesLimit = 65535;

// Returns nullptr for a header the filter can print, otherwise the
// refusal (one line, no line end): a pixel format other than chunky 8-bit
// white-based gray or 24-bit RGB, a resolution other than 600 or 1200 dpi in
// both directions, a raster larger than its own page size at its resolution
// (with a little slack), a page whose bit planes would take more than
// 512 MiB, or more copies than `maxCopies`.
const char* rasterHeaderProblem(const zeru::PageHeader& header,
                                unsigned maxCopies = kRecordCopiesLimit);

// A page header that asks for 0 copies asks for 1, as CUPS itself takes it:
// the page is printed once, and the job header and the sending order count
// one copy. Returns true when the header was changed.
bool takeZeroCopiesAsOne(zeru::PageHeader& header);

// The custom page sizes the printer's paper path takes, in points, as the
// PPD declares them; `offered` is false for a PPD without custom sizes.
struct CustomSizeRange {
  bool offered = false;
  float minWidth = 0, minHeight = 0, maxWidth = 0, maxHeight = 0;
};

// Returns nullptr when a page printed as a custom size fits the range (or
// the PPD declares none), otherwise the refusal (one line, no line end).
// The size is the header's page size as the page will be printed.
const char* customSizeProblem(const zeru::PageHeader& header, const CustomSizeRange& range);

// Whether a page's raster lines fit the sheet the page geometry chose for it.
// A landscape raster is one whose lines are longer than that sheet's device
// line (`lineWidth`, dots at the header resolution) by more than a width's
// rounding. The geometry finds the paper of a page wider than tall by turning
// its size to portrait (wider than 612 points on any paper but Custom, and
// A6), but the raster is not turned: drawn along the long side, its lines
// overrun the portrait sheet's line by far (A4: 6817 to 7016 dots on 5120).
// So does a landscape raster under a portrait page size. Printed, every line
// would lose its part beyond the device line. Portrait rasters, the wide
// sizes fed as they are (A5LEF, B6LEF) and custom sizes fit their line.
// Returns nullptr when the lines fit, otherwise the refusal (one line, no line end) that
// refuses the page. The header is the one after the page geometry.
const char* landscapeRasterProblem(const zeru::PageHeader& header, int lineWidth);
