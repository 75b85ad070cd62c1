// imageable_raster IN OUT LEFT TOP WIDTH HEIGHT SHEET_WIDTH SHEET_HEIGHT
//
// Writes the CUPS raster the CUPS route would hand the filter for the pages
// of a full-sheet raster IN: each page's dots from column LEFT and line TOP,
// WIDTH x HEIGHT of them, white where IN ends early, with the sheet's page
// size in points; every other header field as IN has it. The numbers are
// the caller's, so that they check the Printer Application's own cut.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <cups/raster.h>

int main(int argc, char* argv[]) {
  if (argc != 9) {
    fprintf(stderr, "usage: imageable_raster IN OUT LEFT TOP WIDTH HEIGHT SHEET_W SHEET_H\n");
    return 2;
  }
  unsigned left = static_cast<unsigned>(atoi(argv[3]));
  unsigned top = static_cast<unsigned>(atoi(argv[4]));
  unsigned width = static_cast<unsigned>(atoi(argv[5]));
  unsigned height = static_cast<unsigned>(atoi(argv[6]));
  int in = open(argv[1], O_RDONLY);
  int out = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (in < 0 || out < 0) {
    perror("imageable_raster");
    return 1;
  }
  cups_raster_t* reader = cupsRasterOpen(in, CUPS_RASTER_READ);
  cups_raster_t* writer = cupsRasterOpen(out, CUPS_RASTER_WRITE);
  cups_page_header2_t header;
  int pages = 0;
  while (cupsRasterReadHeader2(reader, &header)) {
    unsigned bytesPerPixel = header.cupsBitsPerPixel / 8;
    cups_page_header2_t cut = header;
    cut.PageSize[0] = static_cast<unsigned>(atoi(argv[7]));
    cut.PageSize[1] = static_cast<unsigned>(atoi(argv[8]));
    cut.cupsWidth = width;
    cut.cupsHeight = height;
    cut.cupsBytesPerLine = width * bytesPerPixel;
    if (!cupsRasterWriteHeader2(writer, &cut)) return 1;
    std::vector<unsigned char> line(header.cupsBytesPerLine);
    std::vector<unsigned char> kept(cut.cupsBytesPerLine);
    for (unsigned y = 0; y < header.cupsHeight; ++y) {
      if (cupsRasterReadPixels(reader, line.data(), header.cupsBytesPerLine) == 0) return 1;
      if (y < top || y >= top + height) continue;
      memset(kept.data(), 0xff, kept.size());
      for (unsigned x = 0; x < width && left + x < header.cupsWidth; ++x)
        memcpy(&kept[x * bytesPerPixel], &line[(left + x) * bytesPerPixel], bytesPerPixel);
      cupsRasterWritePixels(writer, kept.data(), cut.cupsBytesPerLine);
    }
    memset(kept.data(), 0xff, kept.size());
    for (unsigned y = header.cupsHeight; y < top + height; ++y)
      cupsRasterWritePixels(writer, kept.data(), cut.cupsBytesPerLine);
    ++pages;
  }
  cupsRasterClose(reader);
  cupsRasterClose(writer);
  close(in);
  close(out);
  return pages > 0 ? 0 : 1;
}
