#include "printer-app/mapping/test_page_layout.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>

namespace zeruapp {

namespace {

// A 5 x 7 font of the characters the page writes, one string a glyph, its
// rows top to bottom.
struct Glyph {
  char c;
  const char* rows;
};
const Glyph kFont[] = {
    {' ', "..... ..... ..... ..... ..... ..... ....."},
    {'A', ".###. #...# #...# ##### #...# #...# #...#"},
    {'B', "####. #...# #...# ####. #...# #...# ####."},
    {'C', ".###. #...# #.... #.... #.... #...# .###."},
    {'D', "####. #...# #...# #...# #...# #...# ####."},
    {'E', "##### #.... #.... ####. #.... #.... #####"},
    {'F', "##### #.... #.... ####. #.... #.... #...."},
    {'G', ".###. #...# #.... #.### #...# #...# .####"},
    {'H', "#...# #...# #...# ##### #...# #...# #...#"},
    {'I', ".###. ..#.. ..#.. ..#.. ..#.. ..#.. .###."},
    {'J', "..### ...#. ...#. ...#. ...#. #..#. .##.."},
    {'K', "#...# #..#. #.#.. ##... #.#.. #..#. #...#"},
    {'L', "#.... #.... #.... #.... #.... #.... #####"},
    {'M', "#...# ##.## #.#.# #.#.# #...# #...# #...#"},
    {'N', "#...# #...# ##..# #.#.# #..## #...# #...#"},
    {'O', ".###. #...# #...# #...# #...# #...# .###."},
    {'P', "####. #...# #...# ####. #.... #.... #...."},
    {'Q', ".###. #...# #...# #...# #.#.# #..#. .##.#"},
    {'R', "####. #...# #...# ####. #.#.. #..#. #...#"},
    {'S', ".#### #.... #.... .###. ....# ....# ####."},
    {'T', "##### ..#.. ..#.. ..#.. ..#.. ..#.. ..#.."},
    {'U', "#...# #...# #...# #...# #...# #...# .###."},
    {'V', "#...# #...# #...# #...# #...# .#.#. ..#.."},
    {'W', "#...# #...# #...# #.#.# #.#.# #.#.# .#.#."},
    {'X', "#...# #...# .#.#. ..#.. .#.#. #...# #...#"},
    {'Y', "#...# #...# .#.#. ..#.. ..#.. ..#.. ..#.."},
    {'Z', "##### ....# ...#. ..#.. .#... #.... #####"},
    {'0', ".###. #...# #..## #.#.# ##..# #...# .###."},
    {'1', "..#.. .##.. ..#.. ..#.. ..#.. ..#.. .###."},
    {'2', ".###. #...# ....# ...#. ..#.. .#... #####"},
    {'3', "####. ....# ....# .###. ....# ....# ####."},
    {'4', "...#. ..##. .#.#. #..#. ##### ...#. ...#."},
    {'5', "##### #.... ####. ....# ....# #...# .###."},
    {'6', "..##. .#... #.... ####. #...# #...# .###."},
    {'7', "##### ....# ...#. ..#.. .#... .#... .#..."},
    {'8', ".###. #...# #...# .###. #...# #...# .###."},
    {'9', ".###. #...# #...# .#### ....# ...#. .##.."},
    {'.', "..... ..... ..... ..... ..... .##.. .##.."},
    {',', "..... ..... ..... ..... .##.. ..#.. .#..."},
    {':', "..... .##.. .##.. ..... .##.. .##.. ....."},
    {'-', "..... ..... ..... ##### ..... ..... ....."},
    {'+', "..... ..#.. ..#.. ##### ..#.. ..#.. ....."},
    {'/', "....# ....# ...#. ..#.. .#... #.... #...."},
    {'(', "...#. ..#.. .#... .#... .#... ..#.. ...#."},
    {')', ".#... ..#.. ...#. ...#. ...#. ..#.. .#..."},
    {'%', "##..# ##..# ...#. ..#.. .#... #..## #..##"},
    {'?', ".###. #...# ....# ...#. ..#.. ..... ..#.."},
};

const Glyph* findGlyph(char c) {
  c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
  for (const Glyph& glyph : kFont)
    if (glyph.c == c) return &glyph;
  return nullptr;
}

unsigned dots(int hundredthsMm, int dpi) {
  if (hundredthsMm <= 0 || dpi <= 0) return 0;
  return static_cast<unsigned>(static_cast<long long>(hundredthsMm) * dpi / 2540);
}

std::string millimetres(int hundredthsMm) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", hundredthsMm / 100.0);
  return text;
}

// The font pixel for `chars` characters across `width` dots, at most
// `wanted` dots wide, at least one.
unsigned fontPixel(unsigned wanted, unsigned width, size_t chars) {
  unsigned fit = chars ? static_cast<unsigned>(width / (chars * kGlyphAdvance)) : wanted;
  return std::max(1u, std::min(wanted, fit));
}

}  // namespace

unsigned glyphRow(char c, unsigned row) {
  const Glyph* glyph = findGlyph(c);
  if (glyph == nullptr) glyph = findGlyph('?');
  if (row >= kGlyphHeight) return 0;
  const char* bits = glyph->rows + row * (kGlyphWidth + 1);
  unsigned value = 0;
  for (unsigned i = 0; i < kGlyphWidth; ++i) value = (value << 1) | (bits[i] == '#' ? 1u : 0u);
  return value;
}

std::vector<std::string> geometryLines(const TestPageGeometry& g) {
  const int printableWidth = g.widthHmm - g.leftHmm - g.rightHmm;
  const int printableLength = g.lengthHmm - g.topHmm - g.bottomHmm;
  return {
      "Paper: " + g.paper + ", " + millimetres(g.widthHmm) + " x " + millimetres(g.lengthHmm) +
          " mm",
      "Margins: left " + millimetres(g.leftHmm) + ", right " + millimetres(g.rightHmm) +
          ", top " + millimetres(g.topHmm) + ", bottom " + millimetres(g.bottomHmm) + " mm",
      "Printable area: " + millimetres(printableWidth) + " x " + millimetres(printableLength) +
          " mm",
      "Resolution: " + std::to_string(g.xdpi) + " x " + std::to_string(g.ydpi) + " dpi",
  };
}

TestPageLayout layoutTestPage(const TestPageGeometry& g) {
  TestPageLayout layout;
  layout.width = dots(g.widthHmm, g.xdpi);
  layout.height = dots(g.lengthHmm, g.ydpi);
  // 5 mm inside the printable area.
  const unsigned insetX = dots(500, g.xdpi), insetY = dots(500, g.ydpi);
  const unsigned left = dots(g.leftHmm, g.xdpi) + insetX;
  const unsigned right = dots(g.rightHmm, g.xdpi) + insetX;
  if (left + right >= layout.width) return layout;
  const unsigned width = layout.width - left - right;
  unsigned y = dots(g.topHmm, g.ydpi) + insetY;
  auto yPixel = [&](unsigned xPixel) {
    return std::max(1u, static_cast<unsigned>(static_cast<long long>(xPixel) * g.ydpi /
                                               std::max(1, g.xdpi)));
  };

  // The title: the model, in letters about 6 mm high on a wide page.
  const std::string title = g.model + " test page";
  const unsigned titlePixel = fontPixel(static_cast<unsigned>(g.xdpi) / 30, width, title.size());
  layout.texts.push_back({left, y, titlePixel, yPixel(titlePixel), title});
  y += kGlyphHeight * yPixel(titlePixel) + dots(600, g.ydpi);

  // Four patches across the width, no higher than 25 mm.
  const unsigned patch = width * 2 / 9;
  const unsigned gap = (width - 4 * patch) / 3;
  const unsigned patchHeight = std::min(patch, dots(2500, g.ydpi));
  const Rgb colours[] = {{0, 255, 255}, {255, 0, 255}, {255, 255, 0}, {0, 0, 0}};
  for (unsigned i = 0; i < 4; ++i) {
    unsigned x = left + i * (patch + gap);
    layout.boxes.push_back({{x, y, x + patch, y + patchHeight}, colours[i]});
  }
  y += patchHeight + dots(500, g.ydpi);

  // The ramp: ten steps from 10 % to 100 % gray, 15 mm high.
  const unsigned step = width / kRampSteps;
  const unsigned rampHeight = dots(1500, g.ydpi);
  for (unsigned i = 0; i < kRampSteps; ++i) {
    uint8_t level = static_cast<uint8_t>(255 - 255 * (i + 1) / kRampSteps);
    unsigned x = left + i * step;
    layout.boxes.push_back({{x, y, x + step, y + rampHeight}, {level, level, level}});
  }
  y += rampHeight + dots(600, g.ydpi);

  // The geometry, in letters about 3 mm high.
  const std::vector<std::string> lines = geometryLines(g);
  size_t longest = 0;
  for (const std::string& line : lines) longest = std::max(longest, line.size());
  const unsigned pixel = fontPixel(static_cast<unsigned>(g.xdpi) / 60, width, longest);
  for (const std::string& line : lines) {
    layout.texts.push_back({left, y, pixel, yPixel(pixel), line});
    y += (kGlyphHeight + 3) * yPixel(pixel);
  }
  return layout;
}

void drawTestPageLine(const TestPageLayout& layout, unsigned y, uint8_t* rgb) {
  std::memset(rgb, 255, static_cast<size_t>(layout.width) * 3);
  auto fill = [&](unsigned x0, unsigned x1, Rgb colour) {
    x1 = std::min(x1, layout.width);
    for (unsigned x = x0; x < x1; ++x) {
      rgb[x * 3] = colour.r;
      rgb[x * 3 + 1] = colour.g;
      rgb[x * 3 + 2] = colour.b;
    }
  };
  for (const FilledBox& filled : layout.boxes)
    if (y >= filled.box.y0 && y < filled.box.y1) fill(filled.box.x0, filled.box.x1, filled.colour);
  for (const TextRun& run : layout.texts) {
    if (y < run.y || y >= run.y + kGlyphHeight * run.pixelHeight) continue;
    const unsigned row = (y - run.y) / run.pixelHeight;
    unsigned x = run.x;
    for (char c : run.text) {
      const unsigned bits = glyphRow(c, row);
      for (unsigned i = 0; i < kGlyphWidth; ++i)
        if (bits & (1u << (kGlyphWidth - 1 - i)))
          fill(x + i * run.pixelWidth, x + (i + 1) * run.pixelWidth, {0, 0, 0});
      x += kGlyphAdvance * run.pixelWidth;
      if (x >= layout.width) break;
    }
  }
}

}  // namespace zeruapp
