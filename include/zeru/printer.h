// The printers the core prints for, described once: the four models, the
// paper table, the custom size range and margins, the option vocabulary
// with its choices and defaults, the resolutions per print quality, and the
// cut of a raster page that covers its whole sheet to the imageable area
// the core prints. A front end builds its own view of the printer (a PPD,
// IPP attributes) from this description; the core reads the same one.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "zeru/page_header.h"

namespace zeru {

// ---- Models ----

enum class Model { Tx7M, Tx7, Tx7MN, Tx7N };

struct ModelDescription {
  Model model;
  const char* driverName;    // "zemro_tx7m"
  const char* ppdName;       // "ztx7m": the model's PPD
  const char* makeAndModel;  // "ZEMRO TX 7M"
  const char* deviceId;      // the model's IEEE 1284 device ID
  const char* product;       // the PPD's Product string, "(ZEMRO TX 7M)"
  // The model path handed to the colour library, by page loop: the colour
  // models of the 7M family and of the 7 family differ.
  const char* oneSidedModelPath;
  const char* twoSidedModelPath;
};

std::span<const ModelDescription> models();
const ModelDescription& describe(Model model);

// ---- Paper ----

// The custom page sizes the printer's paper path takes, in points.
struct CustomSizeRange {
  bool offered = false;  // false: the printer declares no custom sizes
  float minWidth = 0, minHeight = 0, maxWidth = 0, maxHeight = 0;
};

// Custom sizes from 3 x 5 to 8.5 x 14 inches.
inline constexpr CustomSizeRange kCustomSizes{true, 216, 360, 612, 1008};

// Every side of the sheet keeps 12 points unprinted.
inline constexpr unsigned kMarginPoints = 12;

struct Paper {
  const char* keyword;     // the PageSize choice
  const char* pwgName;     // the PWG media size name
  unsigned widthPoints;    // the sheet, in whole points
  unsigned heightPoints;
  uint8_t paperCode;       // the paper's code in the page record
  int lineWidth600;        // the device line at 600 dpi, padded to 512 dots
  int printableWidth600;   // dots at 600 dpi: the sheet width less 198 dots
  int sheetHeight600;      // dots at 600 dpi
};

// The eleven sizes of the paper table, in the order of their paper indexes.
std::span<const Paper> papers();
// A4.
const Paper& defaultPaper();
const Paper* paperForKeyword(const char* keyword);
const Paper* paperForPwgName(const char* name);
// The size of a sheet given in points (as a raster's page size gives it,
// rounded down from millimetres), within three points on each side, in its
// own orientation; nullptr when none is that close.
const Paper* paperForPoints(unsigned widthPoints, unsigned heightPoints);

// ---- Options ----

// An option of the printer, as the job's choices name it (see Choices).
struct OptionDescription {
  const char* keyword;
  std::span<const char* const> choices;
  const char* defaultChoice;
  // Read again for every page; otherwise once for the job.
  bool perPage;
};

std::span<const OptionDescription> options();
const OptionDescription* optionFor(const char* keyword);

// The MediaType choices and the raster media type each stands for.
struct MediaTypeDescription {
  const char* keyword;
  unsigned code;
};
std::span<const MediaTypeDescription> mediaTypes();

// ---- Resolution ----

enum class PrintQuality { Draft, Normal, High };

// The resolutions the printers print at, in dots per inch.
inline constexpr int kResolutions[] = {600, 1200};

// High prints at 1200 dpi, Draft at 600 dpi, Normal at the resolution asked
// for when it is 1200 dpi, else at 600 dpi.
int resolutionForQuality(PrintQuality quality, int requested);

// ---- The cut of a full-sheet page ----

// The part of a raster page the core prints: the imageable area, 12 points
// in from the left and top edges of the sheet.
struct PageCut {
  unsigned sheetWidthPoints = 0;  // the page size the core is given
  unsigned sheetHeightPoints = 0;
  unsigned left = 0;              // first column and row of the raster kept
  unsigned top = 0;
  unsigned width = 0;             // dots and lines kept
  unsigned height = 0;
};

// The imageable area of a sheet at a resolution, in dots rounded to the
// nearest (A4 at 600 dpi: 4758 x 6817 from dot 100).
PageCut imageableCut(unsigned sheetWidthPoints, unsigned sheetHeightPoints,
                     unsigned xResolution, unsigned yResolution);

struct Sheet {
  unsigned widthPoints = 0;
  unsigned heightPoints = 0;
};
// The sheet a raster page is printed on: the paper table's size when the
// page size is one of them, else the page size itself.
Sheet sheetForRaster(unsigned rasterWidthPoints, unsigned rasterHeightPoints);

// The cut of a page whose raster covers the whole of one of the paper
// table's sheets (as a PWG raster does), or none for a page that is already
// cut to its imageable area, has no sheet of the table, or is not 8-bit
// chunky gray or RGB. A job of full-sheet rasters applies it to every page.
std::optional<PageCut> fullSheetCut(const PageHeader& raster);

// The page header of the cut: the sheet's size, the cut's dots and lines,
// 8-bit gray when `toGray` and the raster is RGB.
PageHeader cutPageHeader(const PageHeader& raster, const PageCut& cut, bool toGray);

// One line of the cut: the kept columns of the raster line `source`
// (`sourceWidth` dots of `sourceBytesPerPixel` bytes), white where the
// raster's line is shorter, turned to gray when the cut's line has one byte a
// dot and the raster's three.
void cutLine(const unsigned char* source, unsigned sourceWidth, unsigned sourceBytesPerPixel,
             const PageCut& cut, unsigned bytesPerPixel, unsigned char* out);

// A white line of the cut.
void whiteLine(const PageCut& cut, unsigned bytesPerPixel, unsigned char* out);

}  // namespace zeru
