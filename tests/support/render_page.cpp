#include "support/render_page.h"

#include <cstddef>
#include <cstdint>

#include "filter/raster_page.h"
#include "support/ppd_settings.h"

namespace {

constexpr size_t kProgressEvery = 128;

}  // namespace

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
