// How a page of an IPP client's raster becomes a page for the printing core.
// A client's raster covers the whole sheet; the CUPS route hands the core
// the imageable area only, 12 points in from the left and top edges, with
// the sheet's size as the page size. The same cut here puts a document on
// the same place of the sheet through either route.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "zeru/page_header.h"

namespace zeruapp {

struct PageCut {
  unsigned sheetWidthPoints = 0;  // the core's page size
  unsigned sheetHeightPoints = 0;
  unsigned left = 0;              // first column and row of the client's raster kept
  unsigned top = 0;
  unsigned width = 0;             // dots and lines kept
  unsigned height = 0;
};

// The imageable area of a sheet at a resolution, in dots rounded to the
// nearest as Ghostscript renders it (A4 at 600 dpi: 4758 x 6817 from dot 100).
PageCut imageableCut(unsigned sheetWidthPoints, unsigned sheetHeightPoints, unsigned xResolution,
                     unsigned yResolution);

// The sheet a raster page is printed on: the paper table's size in the PPD's
// points when the raster's page size is one of them, else the raster's own.
void sheetForRaster(unsigned rasterWidthPoints, unsigned rasterHeightPoints,
                    unsigned& widthPoints, unsigned& heightPoints);

// Why the app cannot take a raster page, or nullptr.
const char* rasterPageProblem(const zeru::PageHeader& raster);

// Why a raster page is too large to take, naming the limit, or "": a line
// wider than the widest sheet at the page's resolution, more lines than the
// longest sheet holds, or a size larger than the page's own sheet. Checked
// before anything of the page's size is allocated.
std::string rasterSizeProblem(const zeru::PageHeader& raster);

// The core's page header for a client's raster page: the cut's size, 8-bit
// gray when `toGray`, the job's copies, collation and media type.
zeru::PageHeader cutPageHeader(const zeru::PageHeader& raster, const PageCut& cut, bool toGray,
                               unsigned copies, bool collate, unsigned mediaTypeCode);

// One line of the cut: the kept columns of the client's line `source`
// (`sourceWidth` dots of `sourceBytesPerPixel` bytes), white where the
// client's line is shorter, turned to gray when the core's line has one byte a
// dot and the client's three.
void cutLine(const unsigned char* source, unsigned sourceWidth, unsigned sourceBytesPerPixel,
             const PageCut& cut, unsigned bytesPerPixel, unsigned char* out);

// A white line of the cut.
void whiteLine(const PageCut& cut, unsigned bytesPerPixel, unsigned char* out);

}  // namespace zeruapp
