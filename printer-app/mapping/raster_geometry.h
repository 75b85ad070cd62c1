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
#include "zeru/printer.h"

namespace zeruapp {

// The cut of a full-sheet raster, as the core describes it.
using zeru::cutLine;
using zeru::imageableCut;
using zeru::PageCut;
using zeru::whiteLine;

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

}  // namespace zeruapp
