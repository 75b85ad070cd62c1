// Sanity of a raster page header before anything is sized from it.
#pragma once

#include <cups/raster.h>

// Returns nullptr for a header the filter can print, otherwise the
// "ERROR: ...\n" line that refuses it: a pixel format other than 8-bit gray
// or 24-bit colour, a horizontal resolution other than 600 or 1200 dpi, or a raster larger
// than its own page size at its resolution (with a little slack), or a page
// whose bit planes would take more than 512 MiB.
const char* rasterHeaderProblem(const cups_page_header2_t& header);
