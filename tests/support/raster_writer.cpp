#include "raster_writer.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "temp_dir.h"

namespace zerutest {

cups_page_header2_t makeHeader(unsigned widthPoints, unsigned heightPoints, unsigned dpi,
                               bool colour) {
  cups_page_header2_t header;
  std::memset(&header, 0, sizeof header);
  std::strcpy(header.MediaClass, "PwgRaster");
  header.HWResolution[0] = dpi;
  header.HWResolution[1] = dpi;
  header.ImagingBoundingBox[2] = widthPoints;
  header.ImagingBoundingBox[3] = heightPoints;
  header.PageSize[0] = widthPoints;
  header.PageSize[1] = heightPoints;
  header.NumCopies = 1;
  header.cupsBitsPerColor = 8;
  header.cupsBitsPerPixel = colour ? 24 : 8;
  header.cupsColorOrder = CUPS_ORDER_CHUNKED;
  header.cupsColorSpace = colour ? CUPS_CSPACE_RGB : CUPS_CSPACE_W;
  header.cupsNumColors = colour ? 3 : 1;
  header.cupsPageSize[0] = static_cast<float>(widthPoints);
  header.cupsPageSize[1] = static_cast<float>(heightPoints);
  header.cupsImagingBBox[2] = static_cast<float>(widthPoints);
  header.cupsImagingBBox[3] = static_cast<float>(heightPoints);
  header.cupsBorderlessScalingFactor = 1.0f;
  fitHeaderToPage(header);
  return header;
}

cups_page_header2_t a4Header(unsigned dpi, bool colour) {
  return makeHeader(595, 842, dpi, colour);
}

void fitHeaderToPage(cups_page_header2_t& header) {
  header.cupsWidth = header.PageSize[0] * header.HWResolution[0] / 72;
  header.cupsHeight = header.PageSize[1] * header.HWResolution[1] / 72;
  header.cupsBytesPerLine = (header.cupsWidth * header.cupsBitsPerPixel + 7) / 8;
}

RasterPage colourPage(const cups_page_header2_t& header, RgbFn pixels) {
  RasterPage page;
  page.header = header;
  page.rgb = std::move(pixels);
  return page;
}

RasterPage grayPage(const cups_page_header2_t& header, GrayFn pixels) {
  RasterPage page;
  page.header = header;
  page.gray = std::move(pixels);
  return page;
}

RasterPage whitePage(bool colour) {
  RasterPage page;
  page.header = a4Header(600, colour);
  return page;
}

std::vector<uint8_t> rasterLine(const RasterPage& page, unsigned y) {
  const cups_page_header2_t& h = page.header;
  std::vector<uint8_t> line(h.cupsBytesPerLine, 0xFF);
  if (page.line) {
    page.line(y, line.data(), line.size());
    return line;
  }
  if (h.cupsBitsPerPixel == 8) {
    if (!page.gray) return line;
    unsigned width = std::min<size_t>(h.cupsWidth, line.size());
    for (unsigned x = 0; x < width; ++x) line[x] = page.gray(x, y);
    return line;
  }
  if (!page.rgb || h.cupsBitsPerPixel < 24) return line;
  size_t bytesPerPixel = h.cupsBitsPerPixel / 8;
  size_t width = std::min<size_t>(h.cupsWidth, line.size() / bytesPerPixel);
  for (size_t x = 0; x < width; ++x) {
    Rgb p = page.rgb(static_cast<unsigned>(x), y);
    uint8_t* out = &line[x * bytesPerPixel];
    out[0] = p.r;
    out[1] = p.g;
    out[2] = p.b;
    for (size_t extra = 3; extra < bytesPerPixel; ++extra) out[extra] = 0;
  }
  return line;
}

namespace {

ssize_t appendToString(void* ctx, unsigned char* buffer, size_t length) {
  static_cast<std::string*>(ctx)->append(reinterpret_cast<const char*>(buffer), length);
  return static_cast<ssize_t>(length);
}

struct StringSource {
  const std::string* bytes;
  size_t position = 0;
};

ssize_t readFromString(void* ctx, unsigned char* buffer, size_t length) {
  auto* source = static_cast<StringSource*>(ctx);
  size_t n = std::min(length, source->bytes->size() - source->position);
  std::memcpy(buffer, source->bytes->data() + source->position, n);
  source->position += n;
  return static_cast<ssize_t>(n);
}

}  // namespace

std::string rasterJobBytes(const std::vector<RasterPage>& pages, const RasterJobOptions& options) {
  std::string bytes;
  cups_mode_t mode = options.format == RasterFormat::Version3 ? CUPS_RASTER_WRITE
                                                              : CUPS_RASTER_WRITE_COMPRESSED;
  cups_raster_t* raster = cupsRasterOpenIO(appendToString, &bytes, mode);
  if (raster == nullptr) throw std::runtime_error("cupsRasterOpenIO failed");
  for (const RasterPage& page : pages) {
    cups_page_header2_t header = page.header;
    if (!cupsRasterWriteHeader2(raster, &header)) {
      cupsRasterClose(raster);
      throw std::runtime_error("cupsRasterWriteHeader2 refused the header");
    }
    unsigned lines = page.linesToWrite.value_or(page.header.cupsHeight);
    for (unsigned y = 0; y < lines && page.header.cupsBytesPerLine > 0; ++y) {
      std::vector<uint8_t> line = rasterLine(page, y);
      if (cupsRasterWritePixels(raster, line.data(), static_cast<unsigned>(line.size())) !=
          line.size()) {
        cupsRasterClose(raster);
        throw std::runtime_error("cupsRasterWritePixels failed");
      }
    }
  }
  cupsRasterClose(raster);
  bytes += options.trailingBytes;
  if (options.truncateAfter && *options.truncateAfter < bytes.size())
    bytes.resize(*options.truncateAfter);
  return bytes;
}

void writeRasterFile(const std::string& path, const std::vector<RasterPage>& pages,
                     const RasterJobOptions& options) {
  writeFile(path, rasterJobBytes(pages, options));
}

std::vector<ReadPage> readRasterBytes(const std::string& bytes) {
  std::vector<ReadPage> pages;
  StringSource source{&bytes};
  cups_raster_t* raster = cupsRasterOpenIO(readFromString, &source, CUPS_RASTER_READ);
  if (raster == nullptr) return pages;
  cups_page_header2_t header;
  while (cupsRasterReadHeader2(raster, &header)) {
    ReadPage page;
    page.header = header;
    std::vector<uint8_t> line(header.cupsBytesPerLine);
    for (unsigned y = 0; y < header.cupsHeight; ++y) {
      if (cupsRasterReadPixels(raster, line.data(), header.cupsBytesPerLine) !=
          header.cupsBytesPerLine)
        break;
      page.pixels.insert(page.pixels.end(), line.begin(), line.end());
      ++page.linesRead;
    }
    pages.push_back(std::move(page));
  }
  cupsRasterClose(raster);
  return pages;
}

}  // namespace zerutest
