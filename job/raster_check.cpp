#include "job/raster_check.h"

#include <algorithm>
#include <cstdint>

#include "settings/paper_table.h"

namespace {

// The most a page's bit planes may take. An A4 or Legal colour page at
// 1200 dpi takes under 90 MB; anything far beyond is no page a printer
// takes, and sizing memory from it would only exhaust the machine.
constexpr uint64_t kMaxPagePlaneBytes = uint64_t{512} << 20;

// The device line is the page width at the resolution, rounded up to 512 dots.
constexpr uint64_t kLineDotsMultiple = 512;

// Custom sizes within this many points of the range's ends are taken: sizes
// given in millimetres or inches round to whole points either way.
constexpr float kCustomSizeSlack = 1.0f;

constexpr const char* kFormatError =
    "Unsupported raster format: only 8-bit gray and 24-bit colour pages can be printed";
constexpr const char* kColourSpaceError =
    "Unsupported raster colour space or colour order: only chunky RGB and white-based gray pages can be printed";
constexpr const char* kResolutionError = "Unsupported raster resolution";
constexpr const char* kCopiesError = "The raster asks for more copies than the printer can make";
// A raster line may run this many dots past its device line: producers round
// a page width to whole dots either way, and the device line of a custom size
// is the width truncated before it is padded.
constexpr uint64_t kLineRoundingDots = 16;

constexpr const char* kLandscapeError =
    "Landscape raster pages cannot be printed: the raster is wider than the sheet";
constexpr const char* kCustomSizeError =
    "Custom page size is outside the range the printer can print";

// The colour library converts chunky RGB lines on colour pages and
// white-based gray lines (255 is paper) on grayscale pages; a black-based
// gray (K) or another colour model would print as something else entirely.
bool colourSpaceFits(const zeru::PageHeader& header) {
  if (header.colorOrder != zeru::kColorOrderChunky) return false;
  switch (header.colorSpace) {
    case zeru::kColorSpaceRGB:
    case zeru::kColorSpaceSRGB:
    case zeru::kColorSpaceAdobeRGB:
      return header.bitsPerPixel == 24;
    case zeru::kColorSpaceW:
    case zeru::kColorSpaceSW:
      return header.bitsPerPixel == 8;
    default:
      return false;
  }
}

}  // namespace

const char* rasterHeaderProblem(const zeru::PageHeader& header, unsigned maxCopies) {
  if (header.bitsPerPixel != 8 && header.bitsPerPixel != 24) return kFormatError;
  if (!colourSpaceFits(header)) return kColourSpaceError;
  unsigned xRes = header.hwResolution[0];
  unsigned yRes = header.hwResolution[1];
  // The printers print at 600 and 1200 dpi only, with square dots; the
  // device line and the page length are sized for them.
  if ((xRes != 600 && xRes != 1200) || yRes != xRes) return kResolutionError;
  // The copy count goes into the job-start record and the PJL copies line,
  // and collated copies are sent by the filter one pass each.
  if (header.numCopies > maxCopies) return kCopiesError;
  unsigned width = header.pageSize[0];
  unsigned height = header.pageSize[1];
  if (width == 0 || height == 0 || width > kMaxPagePoints || height > kMaxPagePoints)
    return "Invalid page size in the raster";
  // Before the page geometry the raster is only held to a square of the
  // page's longer side, plus a few dots of rounding; a raster wider than the
  // sheet the geometry then chooses is refused as landscape.
  uint64_t longSide = std::max(width, height);
  uint64_t maxLines = longSide * yRes / 72 + 16;
  uint64_t maxDots = longSide * xRes / 72 + 16;
  if (header.height > maxLines || header.width > maxDots)
    return "Raster page is larger than its page size";
  uint64_t bytesPerPixel = header.bitsPerPixel / 8;
  if (header.bytesPerLine > maxDots * bytesPerPixel + 16)
    return "Raster line is longer than its page width";
  // The planes are sized from the device line and the raster height.
  uint64_t lineDots = (longSide * xRes / 72 + kLineDotsMultiple - 1) / kLineDotsMultiple *
                      kLineDotsMultiple;
  uint64_t planes = header.bitsPerPixel == 24 ? 4 : 1;
  if (planes * (lineDots / 8) * header.height > kMaxPagePlaneBytes)
    return "Raster page is too large to print";
  return nullptr;
}

bool takeZeroCopiesAsOne(zeru::PageHeader& header) {
  if (header.numCopies != 0) return false;
  header.numCopies = 1;
  return true;
}

const char* customSizeProblem(const zeru::PageHeader& header, const CustomSizeRange& range) {
  if (!range.offered) return nullptr;
  float width = static_cast<float>(header.pageSize[0]);
  float height = static_cast<float>(header.pageSize[1]);
  if (width + kCustomSizeSlack < range.minWidth || width - kCustomSizeSlack > range.maxWidth ||
      height + kCustomSizeSlack < range.minHeight || height - kCustomSizeSlack > range.maxHeight)
    return kCustomSizeError;
  return nullptr;
}

const char* landscapeRasterProblem(const zeru::PageHeader& header, int lineWidth) {
  uint64_t line = lineWidth > 0 ? static_cast<uint64_t>(lineWidth) : 0;
  if (header.width > line + kLineRoundingDots) return kLandscapeError;
  return nullptr;
}
