// The printers' paper sizes as the PPDs declare them: the keyword of the
// PageSize choice, the IPP media name, the sheet in points; the margins and
// the custom range.
#pragma once

#include <span>

namespace zeruapp {

struct Paper {
  const char* keyword;   // PageSize choice
  const char* pwgName;   // IPP "media" keyword
  unsigned widthPoints;  // sheet, as the PPD gives it
  unsigned heightPoints;
};

// Every side of the sheet keeps 12 points unprinted.
inline constexpr unsigned kMarginPoints = 12;
// Custom sizes the paper path takes, in points: 3 x 5 to 8.5 x 14 inches.
inline constexpr unsigned kCustomMinWidth = 216, kCustomMinHeight = 360;
inline constexpr unsigned kCustomMaxWidth = 612, kCustomMaxHeight = 1008;

// The paper table's eleven sizes; A4 is the default.
std::span<const Paper> papers();
const Paper& defaultPaper();

// Hundredths of a millimetre of a length in points, rounded.
int pointsToHundredthsMm(double points);

// The size named by an IPP media keyword, or nullptr.
const Paper* paperForPwgName(const char* name);

// The size of a sheet given in points (as a raster's page size gives it,
// rounded down from millimetres), within three points on each side, in its own
// orientation; nullptr when none is that close.
const Paper* paperForPoints(unsigned widthPoints, unsigned heightPoints);

}  // namespace zeruapp
