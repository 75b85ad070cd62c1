// The printers' test page: the four toner colours as patches, a gray ramp
// and the page's geometry written on it, drawn one raster line at a time
// (a whole sheet at 1200 dpi would not fit in memory comfortably).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zeruapp {

// The page the test page is printed on: the sheet and its margins in
// hundredths of millimetres, as IPP's media-col gives them.
struct TestPageGeometry {
  std::string model;  // make and model
  std::string paper;  // the paper's name
  int widthHmm = 0;
  int lengthHmm = 0;
  int leftHmm = 0;
  int rightHmm = 0;
  int topHmm = 0;
  int bottomHmm = 0;
  int xdpi = 600;
  int ydpi = 600;
};

struct Rgb {
  uint8_t r, g, b;
};

// A box of dots, x0..x1 and y0..y1 with the ends left out.
struct DotBox {
  unsigned x0, y0, x1, y1;
};

struct FilledBox {
  DotBox box;
  Rgb colour;
};

// A line of text: its top left corner and the size of a font pixel in dots.
struct TextRun {
  unsigned x, y, pixelWidth, pixelHeight;
  std::string text;
};

struct TestPageLayout {
  unsigned width = 0;   // the sheet in dots
  unsigned height = 0;
  // Cyan, magenta, yellow and black patches, then the ramp's steps from
  // light to black.
  std::vector<FilledBox> boxes;
  std::vector<TextRun> texts;
};

inline constexpr unsigned kRampSteps = 10;
// The font's glyphs are 5 x 7 pixels in a cell 6 pixels wide.
inline constexpr unsigned kGlyphWidth = 5;
inline constexpr unsigned kGlyphHeight = 7;
inline constexpr unsigned kGlyphAdvance = 6;

// The lines that state the page's geometry: paper, margins, printable
// area, resolution.
std::vector<std::string> geometryLines(const TestPageGeometry& geometry);

// Where everything goes on the sheet: inside the printable area, scaled to
// the paper's width so that a small card shows all of it too.
TestPageLayout layoutTestPage(const TestPageGeometry& geometry);

// Row `row` (0 at the top) of a glyph as 5 bits, the leftmost pixel in bit
// 4; lower-case letters print as capitals, an unknown character as '?'.
unsigned glyphRow(char c, unsigned row);

// Line `y` of the page as 8-bit sRGB, width * 3 bytes; white where nothing
// is drawn.
void drawTestPageLine(const TestPageLayout& layout, unsigned y, uint8_t* rgb);

}  // namespace zeruapp
