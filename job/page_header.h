// The public page header as the core's CUPS raster header.
#pragma once

#include <cups/raster.h>

#include "zeru/page_header.h"

// A CUPS raster header with the fields the core reads, the others zero.
cups_page_header2_t cupsHeaderOf(const zeru::PageHeader& header);
