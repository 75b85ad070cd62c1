#include "settings/paper_table.h"

#include <cstddef>
#include <cstdint>
#include <span>

#include "zeru/printer.h"

namespace {

// The margin the printer keeps off the sheet width: printableWidth is the
// sheet width less this many dots at 600 dpi.
constexpr int64_t kSheetMargin = 198;

// A landscape page up to this width (points) is left as it is, except on A6.
constexpr unsigned kLetterWidthPoints = 612;

constexpr int kA6PaperIndex = 3;

constexpr int64_t kLinePadding = 512;

// Points to 600-dpi dots, truncating.
int64_t pointsToDots600(unsigned points) {
  return static_cast<int64_t>(points) * 600 / 72;
}

// The device line of a custom page: the page width at the header resolution,
// computed in single precision, rounded up to a whole number of 512-dot blocks.
int64_t customLineWidth(unsigned widthPoints, unsigned hwResolution) {
  float dots = static_cast<float>(widthPoints) / 72.0f * static_cast<float>(hwResolution);
  int64_t c = static_cast<int64_t>(dots);
  if (c % kLinePadding == 0) return c;
  return (c / kLinePadding + 1) * kLinePadding;
}

}  // namespace

// The printers' paper table, in the order of its paper indexes, and the
// custom row, rewritten by every custom page; its sheet height of 0 never
// matches.
PaperTable::PaperTable() {
  static_assert(kCustomPaperIndex == kPaperRows - 1);
  std::span<const zeru::Paper> papers = zeru::papers();
  for (size_t i = 0; i < rows.size(); ++i) {
    if (i >= papers.size()) {
      rows[i] = {"Custom", 0, 0, 0, 0};
      continue;
    }
    const zeru::Paper& paper = papers[i];
    rows[i] = {paper.keyword, paper.paperCode, paper.lineWidth600, paper.printableWidth600,
               paper.sheetHeight600};
  }
}

bool computePageGeometry(PaperTable& table, int paperIndex,
                         unsigned pageWidth, unsigned pageHeight,
                         unsigned hwResolution, PageGeometry& out) {
  // A header that cannot describe a printable page is refused before any
  // arithmetic: a zero size or resolution, or one beyond what any printer of
  // the family could take.
  if (pageWidth == 0 || pageHeight == 0 || pageWidth > kMaxPagePoints ||
      pageHeight > kMaxPagePoints || hwResolution == 0 || hwResolution > kMaxResolution)
    return false;
  if (paperIndex < 0 || paperIndex >= kPaperRows) return false;

  // Landscape page sizes are turned to portrait, except narrow ones (which
  // the short-edge sizes like A5LEF describe as they are) and custom sizes. A6
  // is narrow but only ever fed portrait. Only the size is turned, never the
  // raster: a raster drawn along the long side does not fit the sheet's line.
  unsigned w = pageWidth;
  unsigned h = pageHeight;
  if (w > h) {
    bool exchange = (w <= kLetterWidthPoints) ? paperIndex == kA6PaperIndex
                                              : paperIndex != kCustomPaperIndex;
    if (exchange) {
      w = pageHeight;
      h = pageWidth;
    }
  }

  int64_t wd = pointsToDots600(w);
  int64_t hd = pointsToDots600(h);

  // The printable width is what lies inside the sheet margin; a page that
  // leaves nothing inside it cannot be printed.
  if (wd <= kSheetMargin) return false;

  PageGeometry geometry;
  geometry.pageWidth = w;
  geometry.pageHeight = h;

  const PaperRow& row = table.rows[static_cast<size_t>(paperIndex)];
  if (wd - kSheetMargin == row.printableWidth && hd == row.sheetHeight) {
    geometry.paperIndex = paperIndex;
    geometry.paperCode = row.paperCode;
    geometry.printableWidth = row.printableWidth;
    geometry.lineWidth =
        static_cast<int>(static_cast<int64_t>(hwResolution) * row.lineWidth600 / 600);
  } else {
    // No row fits: the page is printed as a custom size. The caller matches
    // the next page against the job's own row again.
    geometry.paperIndex = kCustomPaperIndex;
    geometry.paperCode = 0;
    geometry.printableWidth = static_cast<int>(wd - kSheetMargin);
    geometry.lineWidth = static_cast<int>(customLineWidth(w, hwResolution));
  }
  // The device line must hold whole bytes of dots, and at least one.
  if (geometry.lineWidth <= 0 || geometry.lineWidth % 8 != 0) return false;
  if (geometry.paperIndex == kCustomPaperIndex)
    table.rows[kCustomPaperIndex].printableWidth = geometry.printableWidth;

  out = geometry;
  return true;
}
