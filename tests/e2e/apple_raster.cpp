// apple_raster IN OUT
//
// Rewrites the PWG raster IN (8-bit sGray or sRGB pages) as Apple raster
// (URF), with libcups's own Apple raster writer: the same pages, dots and
// header, and the page count URF's file header carries.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include <cups/raster.h>

namespace {

// The pages of the PWG raster in `path`; -1 when it cannot be read.
int countPages(const char* path) {
  int fd = open(path, O_RDONLY);
  if (fd < 0) return -1;
  cups_raster_t* reader = cupsRasterOpen(fd, CUPS_RASTER_READ);
  cups_page_header2_t header;
  int pages = 0;
  std::vector<unsigned char> line;
  while (cupsRasterReadHeader2(reader, &header)) {
    line.resize(header.cupsBytesPerLine);
    for (unsigned y = 0; y < header.cupsHeight; ++y)
      if (cupsRasterReadPixels(reader, line.data(), header.cupsBytesPerLine) == 0) pages = -1;
    if (pages < 0) break;
    ++pages;
  }
  cupsRasterClose(reader);
  close(fd);
  return pages;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 3) {
    fprintf(stderr, "usage: apple_raster IN OUT\n");
    return 2;
  }
  int pages = countPages(argv[1]);
  if (pages <= 0) {
    fprintf(stderr, "apple_raster: %s holds no readable pages\n", argv[1]);
    return 1;
  }
  int in = open(argv[1], O_RDONLY);
  int out = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (in < 0 || out < 0) {
    perror("apple_raster");
    return 1;
  }
  cups_raster_t* reader = cupsRasterOpen(in, CUPS_RASTER_READ);
  cups_raster_t* writer = cupsRasterOpen(out, CUPS_RASTER_WRITE_APPLE);
  if (reader == nullptr || writer == nullptr) {
    fprintf(stderr, "apple_raster: libcups cannot open the rasters\n");
    return 1;
  }
  cups_page_header2_t header;
  bool ok = true;
  while (ok && cupsRasterReadHeader2(reader, &header)) {
    if (header.cupsBitsPerColor != 8 ||
        (header.cupsColorSpace != CUPS_CSPACE_SW && header.cupsColorSpace != CUPS_CSPACE_SRGB)) {
      fprintf(stderr, "apple_raster: only 8-bit sGray and sRGB pages\n");
      return 1;
    }
    header.cupsInteger[CUPS_RASTER_PWG_TotalPageCount] = static_cast<unsigned>(pages);
    ok = cupsRasterWriteHeader2(writer, &header);
    std::vector<unsigned char> line(header.cupsBytesPerLine);
    for (unsigned y = 0; ok && y < header.cupsHeight; ++y)
      ok = cupsRasterReadPixels(reader, line.data(), header.cupsBytesPerLine) != 0 &&
           cupsRasterWritePixels(writer, line.data(), header.cupsBytesPerLine) != 0;
  }
  cupsRasterClose(reader);
  cupsRasterClose(writer);
  close(in);
  if (close(out) != 0) ok = false;
  if (!ok) fprintf(stderr, "apple_raster: cannot write %s\n", argv[2]);
  return ok ? 0 : 1;
}
