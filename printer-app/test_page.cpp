#include "printer-app/test_page.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "printer-app/log_number.h"
#include "printer-app/mapping/paper.h"
#include "printer-app/mapping/test_page_layout.h"

namespace zeruapp {

namespace {

constexpr const char* kTestPageFailed = "Unable to write the test page '%s': %s";
constexpr const char* kTestPagePrinting = "Printing a test page on %s at %sx%sdpi.";

// The page's geometry: the printer's default media and resolution.
TestPageGeometry geometryOf(const pappl_pr_driver_data_t& data) {
  const pappl_media_col_t& media = data.media_default;
  TestPageGeometry geometry;
  geometry.model = data.make_and_model;
  if (const Paper* paper = paperForPwgName(media.size_name))
    geometry.paper = paper->keyword;
  else if (pwg_media_t* pwg = pwgMediaForPWG(media.size_name); pwg && pwg->ppd)
    geometry.paper = pwg->ppd;
  else
    geometry.paper = media.size_name;
  geometry.widthHmm = media.size_width;
  geometry.lengthHmm = media.size_length;
  geometry.leftHmm = media.left_margin;
  geometry.rightHmm = media.right_margin;
  geometry.topHmm = media.top_margin;
  geometry.bottomHmm = media.bottom_margin;
  geometry.xdpi = data.x_default > 0 ? data.x_default : 600;
  geometry.ydpi = data.y_default > 0 ? data.y_default : geometry.xdpi;
  return geometry;
}

// Writes the page as one page of 8-bit sRGB PWG raster to `fd`.
bool writeTestPage(int fd, const TestPageGeometry& geometry) {
  pwg_media_t* media = pwgMediaForSize(geometry.widthHmm, geometry.lengthHmm);
  if (media == nullptr) return false;
  cups_page_header2_t header;
  if (!cupsRasterInitPWGHeader(&header, media, "srgb_8", geometry.xdpi, geometry.ydpi,
                               "one-sided", "normal"))
    return false;
  header.cupsInteger[CUPS_RASTER_PWG_TotalPageCount] = 1;

  TestPageLayout layout = layoutTestPage(geometry);
  layout.width = header.cupsWidth;
  layout.height = header.cupsHeight;
  cups_raster_t* raster = cupsRasterOpen(fd, CUPS_RASTER_WRITE_PWG);
  if (raster == nullptr) return false;
  bool ok = cupsRasterWriteHeader2(raster, &header) != 0;
  std::vector<uint8_t> line(header.cupsBytesPerLine);
  for (unsigned y = 0; ok && y < header.cupsHeight; ++y) {
    drawTestPageLine(layout, y, line.data());
    ok = cupsRasterWritePixels(raster, line.data(), header.cupsBytesPerLine) ==
         header.cupsBytesPerLine;
  }
  cupsRasterClose(raster);
  return ok;
}

}  // namespace

const char* testPageCallback(pappl_printer_t* printer, char* buffer, size_t bufsize) {
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(printer, &data);
  const TestPageGeometry geometry = geometryOf(data);

  std::string path = std::string(papplGetTempDir()) + "/zeru-test-page-XXXXXX";
  std::vector<char> name(path.begin(), path.end());
  name.push_back('\0');
  int fd = mkstemp(name.data());
  if (fd < 0) {
    papplLogPrinter(printer, PAPPL_LOGLEVEL_ERROR, kTestPageFailed, name.data(), strerror(errno));
    return nullptr;
  }
  bool ok = writeTestPage(fd, geometry);
  int error = errno;
  if (close(fd) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (!ok || strlen(name.data()) >= bufsize) {
    papplLogPrinter(printer, PAPPL_LOGLEVEL_ERROR, kTestPageFailed, name.data(),
                    strerror(error ? error : EIO));
    unlink(name.data());
    return nullptr;
  }
  papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO, kTestPagePrinting, geometry.paper.c_str(),
                  logNumber(geometry.xdpi).c_str(), logNumber(geometry.ydpi).c_str());
  strncpy(buffer, name.data(), bufsize - 1);
  buffer[bufsize - 1] = '\0';
  return buffer;
}

}  // namespace zeruapp
