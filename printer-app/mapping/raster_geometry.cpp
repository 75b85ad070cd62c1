#include "printer-app/mapping/raster_geometry.h"

#include <cstdio>
#include <cstring>

#include "printer-app/mapping/paper.h"

namespace zeruapp {

namespace {

// Points to dots, rounded to the nearest dot.
unsigned pointsToDots(unsigned points, unsigned resolution) {
  return static_cast<unsigned>((uint64_t{points} * resolution * 2 + 72) / 144);
}

}  // namespace

void sheetForRaster(unsigned rasterWidthPoints, unsigned rasterHeightPoints,
                    unsigned& widthPoints, unsigned& heightPoints) {
  const zeru::Sheet sheet = zeru::sheetForRaster(rasterWidthPoints, rasterHeightPoints);
  widthPoints = sheet.widthPoints;
  heightPoints = sheet.heightPoints;
}

const char* rasterPageProblem(const zeru::PageHeader& raster) {
  if (raster.bitsPerColor != 8 || (raster.bitsPerPixel != 8 && raster.bitsPerPixel != 24))
    return "The raster is not 8-bit gray or 24-bit colour";
  if (raster.colorOrder != zeru::kColorOrderChunky) return "The raster's colour order is not chunky";
  if (uint64_t{raster.width} * (raster.bitsPerPixel / 8) > raster.bytesPerLine)
    return "The raster's lines are shorter than its width";
  if (raster.hwResolution[0] != raster.hwResolution[1] ||
      (raster.hwResolution[0] != 600 && raster.hwResolution[0] != 1200))
    return "The raster's resolution is not 600 or 1200 dpi";
  if (raster.pageSize[0] <= 2 * kMarginPoints || raster.pageSize[1] <= 2 * kMarginPoints)
    return "The raster's page size is too small";
  return nullptr;
}

std::string rasterSizeProblem(const zeru::PageHeader& raster) {
  unsigned widest = kCustomMaxWidth, longest = kCustomMaxHeight;
  for (const Paper& paper : papers()) {
    if (paper.widthPoints > widest) widest = paper.widthPoints;
    if (paper.heightPoints > longest) longest = paper.heightPoints;
  }
  const unsigned xDots = raster.hwResolution[0], yDots = raster.hwResolution[1];
  // A point more than the sheet: a raster's page size is in whole points
  // rounded down from millimetres, its dots counted from the millimetres.
  const uint64_t widestDots = pointsToDots(widest + 1, xDots) + 1;
  const uint64_t longestLines = pointsToDots(longest + 1, yDots) + 1;
  const uint64_t widestBytes = widestDots * 3;
  char text[200];
  if (raster.width > widestDots || raster.bytesPerLine > widestBytes) {
    snprintf(text, sizeof text,
             "The raster's lines are wider than the widest sheet at %u dpi (%llu dots, %llu bytes)",
             xDots, static_cast<unsigned long long>(widestDots),
             static_cast<unsigned long long>(widestBytes));
    return text;
  }
  if (raster.height > longestLines) {
    snprintf(text, sizeof text,
             "The raster has more lines than the longest sheet at %u dpi (%llu lines)", yDots,
             static_cast<unsigned long long>(longestLines));
    return text;
  }
  const unsigned pageWidth = pointsToDots(raster.pageSize[0] + 1, xDots) + 1;
  const unsigned pageHeight = pointsToDots(raster.pageSize[1] + 1, yDots) + 1;
  if (raster.width > pageWidth || raster.height > pageHeight) {
    snprintf(text, sizeof text,
             "The raster's page is larger than its sheet (%u x %u dots at %u dpi)", pageWidth,
             pageHeight, xDots);
    return text;
  }
  return "";
}

zeru::PageHeader cutPageHeader(const zeru::PageHeader& raster, const PageCut& cut, bool toGray,
                               unsigned copies, bool collate, unsigned mediaTypeCode) {
  zeru::PageHeader page = zeru::cutPageHeader(raster, cut, toGray);
  page.numCopies = copies == 0 ? 1 : copies;
  page.collate = collate ? 1 : 0;
  page.mediaTypeCode = mediaTypeCode;
  return page;
}

}  // namespace zeruapp
