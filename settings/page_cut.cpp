// The cut of a raster page that covers its whole sheet to the imageable area.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>

#include "zeru/printer.h"

namespace zeru {

namespace {

// Points to dots, rounded to the nearest dot.
unsigned pointsToDots(unsigned points, unsigned resolution) {
  return static_cast<unsigned>((uint64_t{points} * resolution * 2 + 72) / 144);
}

// A raster's page size is in whole points rounded down from millimetres and
// its dots are counted from the millimetres: a full-sheet raster is within
// this many points of its sheet, while a cut one is 24 points smaller.
constexpr unsigned kFullSheetTolerancePoints = 3;

constexpr unsigned kHighestResolution = 2400;

constexpr unsigned char kWhite = 0xff;

bool nearSheet(unsigned dots, unsigned sheetPoints, unsigned resolution) {
  const uint64_t sheet = pointsToDots(sheetPoints, resolution);
  const uint64_t slack = pointsToDots(kFullSheetTolerancePoints, resolution) + 1;
  return dots + slack >= sheet && dots <= sheet + slack;
}

}  // namespace

PageCut imageableCut(unsigned sheetWidthPoints, unsigned sheetHeightPoints,
                     unsigned xResolution, unsigned yResolution) {
  PageCut cut;
  cut.sheetWidthPoints = sheetWidthPoints;
  cut.sheetHeightPoints = sheetHeightPoints;
  const unsigned margins = 2 * kMarginPoints;
  cut.left = pointsToDots(kMarginPoints, xResolution);
  cut.top = pointsToDots(kMarginPoints, yResolution);
  cut.width = sheetWidthPoints > margins ? pointsToDots(sheetWidthPoints - margins, xResolution) : 0;
  cut.height =
      sheetHeightPoints > margins ? pointsToDots(sheetHeightPoints - margins, yResolution) : 0;
  return cut;
}

Sheet sheetForRaster(unsigned rasterWidthPoints, unsigned rasterHeightPoints) {
  if (const Paper* paper = paperForPoints(rasterWidthPoints, rasterHeightPoints))
    return {paper->widthPoints, paper->heightPoints};
  return {rasterWidthPoints, rasterHeightPoints};
}

std::optional<PageCut> fullSheetCut(const PageHeader& raster) {
  const Paper* paper = paperForPoints(raster.pageSize[0], raster.pageSize[1]);
  if (paper == nullptr) return std::nullopt;
  const unsigned x = raster.hwResolution[0], y = raster.hwResolution[1];
  if (x == 0 || y == 0 || x > kHighestResolution || y > kHighestResolution) return std::nullopt;
  if (raster.bitsPerColor != 8 || (raster.bitsPerPixel != 8 && raster.bitsPerPixel != 24) ||
      raster.colorOrder != kColorOrderChunky)
    return std::nullopt;
  if (uint64_t{raster.width} * (raster.bitsPerPixel / 8) != raster.bytesPerLine)
    return std::nullopt;
  if (!nearSheet(raster.width, paper->widthPoints, x) ||
      !nearSheet(raster.height, paper->heightPoints, y))
    return std::nullopt;
  return imageableCut(paper->widthPoints, paper->heightPoints, x, y);
}

PageHeader cutPageHeader(const PageHeader& raster, const PageCut& cut, bool toGray) {
  PageHeader page = raster;
  page.pageSize[0] = cut.sheetWidthPoints;
  page.pageSize[1] = cut.sheetHeightPoints;
  page.margins[0] = kMarginPoints;
  page.margins[1] = kMarginPoints;
  page.width = cut.width;
  page.height = cut.height;
  if (toGray && raster.bitsPerPixel == 24) {
    page.bitsPerPixel = 8;
    page.colorSpace = raster.colorSpace == kColorSpaceSRGB ? kColorSpaceSW : kColorSpaceW;
  }
  page.bytesPerLine = cut.width * (page.bitsPerPixel / 8);
  return page;
}

void cutLine(const unsigned char* source, unsigned sourceWidth, unsigned sourceBytesPerPixel,
             const PageCut& cut, unsigned bytesPerPixel, unsigned char* out) {
  unsigned kept = 0;
  if (cut.left < sourceWidth)
    kept = sourceWidth - cut.left < cut.width ? sourceWidth - cut.left : cut.width;
  const unsigned char* from = source + size_t{cut.left} * sourceBytesPerPixel;
  if (bytesPerPixel == sourceBytesPerPixel) {
    memcpy(out, from, size_t{kept} * bytesPerPixel);
  } else {
    // sRGB to gray with the weights CUPS's own colour conversions use.
    for (unsigned x = 0; x < kept; ++x, from += 3)
      out[x] = static_cast<unsigned char>((from[0] * 31 + from[1] * 61 + from[2] * 8) / 100);
  }
  memset(out + size_t{kept} * bytesPerPixel, kWhite, size_t{cut.width - kept} * bytesPerPixel);
}

void whiteLine(const PageCut& cut, unsigned bytesPerPixel, unsigned char* out) {
  memset(out, kWhite, size_t{cut.width} * bytesPerPixel);
}

}  // namespace zeru
