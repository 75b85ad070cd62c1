// Job-wide state of the driver.
#pragma once

#include <cups/raster.h>

#include "filter/signals.h"

struct JobState {
  int pageCount = 0;         // page being processed; after the loop, kept pages
  int blankBackAdded = 0;    // duplex: a white filler page made the count even
  int rasterFd = 0;          // 0 for standard input
  cups_page_header2_t currentHeader{};
};
