// A raster page's header: the fields the printing core reads, in the
// raster's own units. Each front end fills it from its own raster format
// (a CUPS raster header, a PWG raster header).
#pragma once

#include <cstring>
#include <string>

namespace zeru {

// Colour spaces and orders, numbered as CUPS and PWG raster number them.
inline constexpr unsigned kColorSpaceW = 0;      // white-based gray
inline constexpr unsigned kColorSpaceRGB = 1;
inline constexpr unsigned kColorSpaceSW = 18;    // sGray
inline constexpr unsigned kColorSpaceSRGB = 19;
inline constexpr unsigned kColorSpaceAdobeRGB = 20;
inline constexpr unsigned kColorOrderChunky = 0;

struct PageHeader {
  unsigned pageSize[2] = {0, 0};      // points: width, height
  unsigned hwResolution[2] = {0, 0};  // dots per inch: across, down
  unsigned margins[2] = {0, 0};       // points, for the log
  unsigned width = 0;                 // dots per raster line
  unsigned height = 0;                // raster lines
  unsigned bitsPerColor = 0;
  unsigned bitsPerPixel = 0;          // 8: grayscale, 24: RGB
  unsigned bytesPerLine = 0;
  unsigned colorOrder = kColorOrderChunky;
  unsigned colorSpace = kColorSpaceRGB;
  unsigned mediaTypeCode = 0;         // the raster's numeric media type
  unsigned numCopies = 1;
  unsigned collate = 0;                // 1: collated copies
  std::string mediaType;              // for the log
  std::string outputType;             // for the log
};

// The page header of a raster header with CUPS's field names (a CUPS or PWG
// raster header as libcups reads it), without this header depending on CUPS.
template <class RasterHeader>
PageHeader pageHeaderFrom(const RasterHeader& header) {
  PageHeader page;
  for (int i = 0; i < 2; ++i) {
    page.pageSize[i] = header.PageSize[i];
    page.hwResolution[i] = header.HWResolution[i];
    page.margins[i] = header.Margins[i];
  }
  page.width = header.cupsWidth;
  page.height = header.cupsHeight;
  page.bitsPerColor = header.cupsBitsPerColor;
  page.bitsPerPixel = header.cupsBitsPerPixel;
  page.bytesPerLine = header.cupsBytesPerLine;
  page.colorOrder = static_cast<unsigned>(header.cupsColorOrder);
  page.colorSpace = static_cast<unsigned>(header.cupsColorSpace);
  page.mediaTypeCode = header.cupsMediaType;
  page.numCopies = header.NumCopies;
  page.collate = static_cast<unsigned>(header.Collate);
  page.mediaType.assign(header.MediaType, strnlen(header.MediaType, sizeof header.MediaType));
  page.outputType.assign(header.OutputType, strnlen(header.OutputType, sizeof header.OutputType));
  return page;
}

}  // namespace zeru
