// Writes the benchmark's raster jobs, as a rasteriser hands them to the
// filter: uncompressed version 3 CUPS raster, whole A4 sheets.
//
//   zeru_bench_raster OUT.ras PROFILE [pwg]
//
// With "pwg", the same pages as PWG raster, as an IPP client sends them to
// the Printer Application.
//
// PROFILE: colour600-text, colour600-photo, gray600, colour1200, mixed20
// (20 pages: text, photo and grayscale pages in turn).
#include <cups/raster.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

enum class Content { Text, Photo };

cups_page_header2_t a4Header(unsigned dpi, bool colour) {
  cups_page_header2_t h;
  std::memset(&h, 0, sizeof h);
  std::strcpy(h.MediaClass, "PwgRaster");
  h.HWResolution[0] = h.HWResolution[1] = dpi;
  h.PageSize[0] = 595;
  h.PageSize[1] = 842;
  h.ImagingBoundingBox[2] = 595;
  h.ImagingBoundingBox[3] = 842;
  h.NumCopies = 1;
  h.cupsBitsPerColor = 8;
  h.cupsBitsPerPixel = colour ? 24 : 8;
  h.cupsColorOrder = CUPS_ORDER_CHUNKED;
  h.cupsColorSpace = colour ? CUPS_CSPACE_RGB : CUPS_CSPACE_W;
  h.cupsNumColors = colour ? 3 : 1;
  h.cupsPageSize[0] = 595;
  h.cupsPageSize[1] = 842;
  h.cupsImagingBBox[2] = 595;
  h.cupsImagingBBox[3] = 842;
  h.cupsBorderlessScalingFactor = 1.0f;
  h.cupsWidth = 595 * dpi / 72;
  h.cupsHeight = 842 * dpi / 72;
  h.cupsBytesPerLine = h.cupsWidth * h.cupsBitsPerPixel / 8;
  return h;
}

uint32_t hash(uint32_t x) {
  x ^= x >> 16;
  x *= 0x7feb352d;
  x ^= x >> 15;
  x *= 0x846ca68b;
  x ^= x >> 16;
  return x;
}

// Text: 10-point lines of glyph-like strokes with margins, a coloured
// heading every 40 lines and a small coloured figure in the middle.
void textLine(const cups_page_header2_t& h, unsigned y, std::vector<uint8_t>& line) {
  const unsigned dpi = h.HWResolution[0];
  const unsigned bpp = h.cupsBitsPerPixel / 8;
  std::fill(line.begin(), line.end(), 0xFF);
  const unsigned margin = dpi * 3 / 4;
  const unsigned pitch = dpi * 14 / 72;  // line pitch
  const unsigned glyphH = dpi * 7 / 72;
  const unsigned glyphW = dpi * 6 / 72;
  if (y < margin || y >= h.cupsHeight - margin) return;
  unsigned row = (y - margin) / pitch;
  unsigned inRow = (y - margin) % pitch;
  if (inRow >= glyphH) return;
  bool heading = row % 40 == 0;
  uint8_t ink[3] = {0, 0, 0};
  if (heading) { ink[0] = 20; ink[1] = 60; ink[2] = 160; }
  unsigned stroke = dpi / 100 + 1;
  for (unsigned x = margin; x < h.cupsWidth - margin; ++x) {
    unsigned cell = (x - margin) / glyphW;
    unsigned inCell = (x - margin) % glyphW;
    uint32_t g = hash(row * 4099 + cell);
    if (g % 9 == 0) continue;                     // a space
    if (inCell >= glyphW - glyphW / 5) continue;  // gap between glyphs
    bool on = inCell < stroke || (g & 2 && inCell + stroke >= glyphW - glyphW / 5) ||
              (g & 4 && inRow < stroke) || (g & 8 && inRow + stroke >= glyphH) ||
              (g & 16 && inRow / stroke == inCell / stroke);
    if (!on) continue;
    uint8_t* p = line.data() + x * bpp;
    if (bpp == 3) { p[0] = ink[0]; p[1] = ink[1]; p[2] = ink[2]; }
    else p[0] = heading ? 90 : 0;
  }
}

// Photo: smooth colour fields with texture and noise over the whole sheet.
void photoLine(const cups_page_header2_t& h, unsigned y, std::vector<uint8_t>& line) {
  const unsigned bpp = h.cupsBitsPerPixel / 8;
  const unsigned w = h.cupsWidth, H = h.cupsHeight;
  for (unsigned x = 0; x < w; ++x) {
    uint32_t n = hash(y * 131071u + x) & 15;
    int r = static_cast<int>(x * 255 / w);
    int g = static_cast<int>(y * 255 / H);
    int b = static_cast<int>(((x / 37 + y / 53) % 64) * 4);
    uint8_t* p = line.data() + x * bpp;
    if (bpp == 3) {
      p[0] = static_cast<uint8_t>(std::min(255, r + static_cast<int>(n)));
      p[1] = static_cast<uint8_t>(std::min(255, g + static_cast<int>(n)));
      p[2] = static_cast<uint8_t>(std::min(255, b + static_cast<int>(n)));
    } else {
      p[0] = static_cast<uint8_t>(std::min(255, (r + g + b) / 3 + static_cast<int>(n)));
    }
  }
}

bool writePage(cups_raster_t* ras, cups_page_header2_t h, Content content, bool pwg) {
  if (pwg) {
    const bool colour = h.cupsBitsPerPixel == 24;
    const unsigned dpi = h.HWResolution[0];
    cupsRasterInitPWGHeader(&h, pwgMediaForPWG("iso_a4_210x297mm"), colour ? "srgb_8" : "sgray_8",
                            static_cast<int>(dpi), static_cast<int>(dpi), "one-sided", "normal");
  }
  if (!cupsRasterWriteHeader2(ras, &h)) return false;
  std::vector<uint8_t> line(h.cupsBytesPerLine);
  for (unsigned y = 0; y < h.cupsHeight; ++y) {
    if (content == Content::Text) textLine(h, y, line);
    else photoLine(h, y, line);
    if (cupsRasterWritePixels(ras, line.data(), h.cupsBytesPerLine) != h.cupsBytesPerLine)
      return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const bool pwg = argc == 4 && std::strcmp(argv[3], "pwg") == 0;
  if (argc != 3 && !pwg) {
    std::fprintf(stderr, "usage: %s OUT.ras PROFILE [pwg]\n", argv[0]);
    return 2;
  }
  std::string profile = argv[2];
  int fd = open(argv[1], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) { std::perror(argv[1]); return 1; }
  // PWG raster keeps the fields an IPP client sends: the colour spaces
  // become sRGB and sGray, the pixels stay the same.
  cups_raster_t* ras = cupsRasterOpen(fd, pwg ? CUPS_RASTER_WRITE_PWG : CUPS_RASTER_WRITE);
  bool ok = true;
  if (profile == "colour600-text") ok = writePage(ras, a4Header(600, true), Content::Text, pwg);
  else if (profile == "colour600-photo") ok = writePage(ras, a4Header(600, true), Content::Photo, pwg);
  else if (profile == "gray600") ok = writePage(ras, a4Header(600, false), Content::Text, pwg);
  else if (profile == "colour1200") ok = writePage(ras, a4Header(1200, true), Content::Photo, pwg);
  else if (profile == "mixed20") {
    for (int i = 0; i < 20 && ok; ++i) {
      if (i % 3 == 0) ok = writePage(ras, a4Header(600, true), Content::Text, pwg);
      else if (i % 3 == 1) ok = writePage(ras, a4Header(600, true), Content::Photo, pwg);
      else ok = writePage(ras, a4Header(600, false), Content::Text, pwg);
    }
  } else {
    std::fprintf(stderr, "unknown profile %s\n", argv[2]);
    ok = false;
  }
  cupsRasterClose(ras);
  close(fd);
  return ok ? 0 : 1;
}
