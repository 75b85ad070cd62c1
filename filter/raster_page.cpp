#include "filter/raster_page.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "filter/log.h"
#include "filter/ppd_settings.h"

namespace {

constexpr const char* kReadErrorLine = "ERROR: Unable read raster data!";
constexpr const char* kReadErrorStatus =
    "ERROR: Unable to read the raster data of page %d; the lines not read print blank\n";
constexpr const char* kDuplexLineRead = "INFO: cupsRasterReadPixels ok...";
constexpr const char* kSimplexProgress = "INFO: Printing page %d, %d%% complete...\n";
constexpr const char* kDuplexProgress = "INFO: Processing page %d, %d%% complete...\n";
constexpr const char* kMediaProgress = "ATTR: job-media-progress=%d\n";
constexpr size_t kProgressEvery = 128;

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

RenderResult renderPage(const PageRenderRequest& request, PlaneBuffers& planes,
                        bool& hasContent) {
  hasContent = false;
  const zeru::PageHeader& header = *request.header;

  PageRenderOptions pageOptions = request;
  pageOptions.saveBlankSheet = request.ppd && saveBlankSheet(request.ppd);

  PageRenderer renderer;
  RenderResult result = renderer.begin(pageOptions, planes);
  if (result != RenderResult::Ok) return result;

  const size_t lines = header.height;
  const bool twoSided = request.loop == PageLoop::Duplex;
  size_t y = 0;
  readRasterLines(
      request.raster, header, request.pageCount, twoSided,
      [&] {
        if (y % kProgressEvery == 0) {
          int percent = static_cast<int>(static_cast<uint64_t>(y) * 100 / lines);
          reportPageProgress(request.pageCount, percent, twoSided);
        }
        ++y;
        return renderer.nextLine();
      },
      [&] { renderer.pushLine(); });
  hasContent = renderer.end();
  return RenderResult::Ok;
}
