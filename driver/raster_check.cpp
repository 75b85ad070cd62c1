#include "driver/raster_check.h"

#include <algorithm>
#include <cstdint>

#include "imaging/paper_table.h"

namespace {

// The most a page's bit planes may take. An A4 or Legal colour page at
// 1200 dpi takes under 90 MB; anything far beyond is no page a printer
// takes, and sizing memory from it would only exhaust the machine.
constexpr uint64_t kMaxPagePlaneBytes = uint64_t{512} << 20;

// The device line is the page width at the resolution, rounded up to 512 dots.
constexpr uint64_t kLineDotsMultiple = 512;

}  // namespace

const char* rasterHeaderProblem(const cups_page_header2_t& header) {
  if (header.cupsBitsPerPixel != 8 && header.cupsBitsPerPixel != 24)
    return "ERROR: Unsupported raster format: only 8-bit gray and 24-bit colour pages can be printed\n";
  unsigned xRes = header.HWResolution[0];
  unsigned yRes = header.HWResolution[1];
  // The printers print at 600 and 1200 dpi only; the device line is sized for them.
  if ((xRes != 600 && xRes != 1200) || yRes == 0 || yRes > kMaxResolution)
    return "ERROR: Unsupported raster resolution\n";
  unsigned width = header.PageSize[0];
  unsigned height = header.PageSize[1];
  if (width == 0 || height == 0 || width > kMaxPagePoints || height > kMaxPagePoints)
    return "ERROR: Invalid page size in the raster\n";
  // The raster may be landscape or portrait; either way it fits in a square
  // of the page's longer side, plus a few dots of rounding.
  uint64_t longSide = std::max(width, height);
  uint64_t maxLines = longSide * yRes / 72 + 16;
  uint64_t maxDots = longSide * xRes / 72 + 16;
  if (header.cupsHeight > maxLines || header.cupsWidth > maxDots)
    return "ERROR: Raster page is larger than its page size\n";
  uint64_t bytesPerPixel = header.cupsBitsPerPixel / 8;
  if (header.cupsBytesPerLine > maxDots * bytesPerPixel + 16)
    return "ERROR: Raster line is longer than its page width\n";
  // The planes are sized from the device line and the raster height.
  uint64_t lineDots = (longSide * xRes / 72 + kLineDotsMultiple - 1) / kLineDotsMultiple *
                      kLineDotsMultiple;
  uint64_t planes = header.cupsBitsPerPixel == 24 ? 4 : 1;
  if (planes * (lineDots / 8) * header.cupsHeight > kMaxPagePlaneBytes)
    return "ERROR: Raster page is too large to print\n";
  return nullptr;
}
