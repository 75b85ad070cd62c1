// The printers' paper sizes as the app offers them: the core's paper table
// (PageSize keyword, PWG media name, sheet in points), margins and custom
// range.
#pragma once

#include "zeru/printer.h"

namespace zeruapp {

using zeru::Paper;
using zeru::kMarginPoints;
inline constexpr unsigned kCustomMinWidth = static_cast<unsigned>(zeru::kCustomSizes.minWidth);
inline constexpr unsigned kCustomMinHeight = static_cast<unsigned>(zeru::kCustomSizes.minHeight);
inline constexpr unsigned kCustomMaxWidth = static_cast<unsigned>(zeru::kCustomSizes.maxWidth);
inline constexpr unsigned kCustomMaxHeight = static_cast<unsigned>(zeru::kCustomSizes.maxHeight);

using zeru::defaultPaper;
using zeru::paperForPoints;
using zeru::paperForPwgName;
using zeru::papers;

// Hundredths of a millimetre of a length in points, rounded.
int pointsToHundredthsMm(double points);

}  // namespace zeruapp
