// A raster page's header: the fields the printing core reads, in the
// raster's own units. Each front end fills it from its own raster format
// (a CUPS raster header, a PWG raster header).
#pragma once

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

}  // namespace zeru
