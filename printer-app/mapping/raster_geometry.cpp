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

constexpr unsigned char kWhite = 0xff;

}  // namespace

PageCut imageableCut(unsigned sheetWidthPoints, unsigned sheetHeightPoints, unsigned xResolution,
                     unsigned yResolution) {
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

void sheetForRaster(unsigned rasterWidthPoints, unsigned rasterHeightPoints,
                    unsigned& widthPoints, unsigned& heightPoints) {
  if (const Paper* paper = paperForPoints(rasterWidthPoints, rasterHeightPoints)) {
    widthPoints = paper->widthPoints;
    heightPoints = paper->heightPoints;
  } else {
    widthPoints = rasterWidthPoints;
    heightPoints = rasterHeightPoints;
  }
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
  zeru::PageHeader page = raster;
  page.pageSize[0] = cut.sheetWidthPoints;
  page.pageSize[1] = cut.sheetHeightPoints;
  page.margins[0] = kMarginPoints;
  page.margins[1] = kMarginPoints;
  page.width = cut.width;
  page.height = cut.height;
  if (toGray && raster.bitsPerPixel == 24) {
    page.bitsPerPixel = 8;
    page.colorSpace = raster.colorSpace == zeru::kColorSpaceSRGB ? zeru::kColorSpaceSW
                                                                 : zeru::kColorSpaceW;
  }
  page.bytesPerLine = cut.width * (page.bitsPerPixel / 8);
  page.numCopies = copies == 0 ? 1 : copies;
  page.collate = collate ? 1 : 0;
  page.mediaTypeCode = mediaTypeCode;
  return page;
}

void cutLine(const unsigned char* source, unsigned sourceWidth, unsigned sourceBytesPerPixel,
             const PageCut& cut, unsigned bytesPerPixel, unsigned char* out) {
  unsigned kept = 0;
  if (cut.left < sourceWidth) kept = sourceWidth - cut.left < cut.width ? sourceWidth - cut.left
                                                                          : cut.width;
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

}  // namespace zeruapp
