// The fixed paper table and each page's device geometry.
#pragma once

#include <array>
#include <cstdint>

struct PaperRow {
  const char* keyword;     // PageSize keyword
  uint8_t paperCode;       // code in the page record
  int lineWidth600;        // padded line width at 600 dpi
  int printableWidth;      // dots at 600 dpi; the sheet width is this + 198
  int sheetHeight;         // dots at 600 dpi; 0 for Custom (never matches)
};

inline constexpr int kCustomPaperIndex = 11;
inline constexpr int kPaperRows = 12;

// The table; row 11 (Custom) is rewritten by every custom page of a job.
struct PaperTable {
  std::array<PaperRow, kPaperRows> rows;
  PaperTable();
};

struct PageGeometry {
  int paperIndex = 0;        // possibly changed to 11
  uint8_t paperCode = 0;
  int lineWidth = 0;         // dots at the header resolution, multiple of 512
  int printableWidth = 0;    // dots at 600 dpi
  unsigned pageWidth = 0;    // points, after the orientation exchange
  unsigned pageHeight = 0;
};

// Limits on what a raster header may ask for; beyond them a page is refused.
inline constexpr unsigned kMaxPagePoints = 14400;    // 200 inches
inline constexpr unsigned kMaxResolution = 2400;

// Computes the geometry of a page from its header page size (points) and
// horizontal resolution, and the job's paper index. Row 11 of the table is
// rewritten for a custom page. Returns false (and changes nothing) for a size
// or resolution that cannot be printed: 0, above the limits.
bool computePageGeometry(PaperTable& table, int paperIndex,
                         unsigned pageWidth, unsigned pageHeight,
                         unsigned hwResolution, PageGeometry& out);
