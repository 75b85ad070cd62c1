#include "filter/raster_page.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>

#include "filter/log.h"

namespace {

constexpr const char* kReadErrorLine = "ERROR: Unable read raster data!";
constexpr const char* kReadErrorStatus =
    "ERROR: Unable to read the raster data of page %d; the lines not read print blank\n";
constexpr const char* kDuplexLineRead = "INFO: cupsRasterReadPixels ok...";
constexpr const char* kSimplexProgress = "INFO: Printing page %d, %d%% complete...\n";
constexpr const char* kDuplexProgress = "INFO: Processing page %d, %d%% complete...\n";
constexpr const char* kMediaProgress = "ATTR: job-media-progress=%d\n";

}  // namespace

void reportPageProgress(int pageNumber, int percent, bool twoSided) {
  fprintf(stderr, twoSided ? kDuplexProgress : kSimplexProgress, pageNumber, percent);
  fprintf(stderr, kMediaProgress, percent);
}

void readRasterLines(cups_raster_t* raster, const zeru::PageHeader& header, int pageNumber,
                     bool twoSided, const std::function<std::span<unsigned char>()>& next,
                     const std::function<void()>& push) {
  bool readFailed = false;
  for (size_t y = 0; y < header.height; ++y) {
    std::span<unsigned char> line = next();
    if (cupsRasterReadPixels(raster, line.data(), header.bytesPerLine) == 0) {
      // A line that could not be read prints as paper: the buffer would
      // still hold a line read earlier, or a part of this one.
      logPerLine(PerLineLog::RasterLineUnreadable, kReadErrorLine);
      std::fill(line.begin(), line.end(), 0xFF);
      if (!readFailed) fprintf(stderr, kReadErrorStatus, pageNumber);
      readFailed = true;
    }
    if (twoSided) logPerLine(PerLineLog::RasterLineRead, kDuplexLineRead);
    push();
  }
}
