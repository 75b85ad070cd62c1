#include "raster_writer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

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

// Where the writer's bytes go: a string or a file descriptor. Bytes past
// `limit` are counted but dropped, so that a truncated job never has to be
// held whole.
struct Sink {
  std::string* text = nullptr;
  int fd = -1;
  std::optional<size_t> limit;
  size_t offered = 0;
  bool failed = false;

  void put(const void* data, size_t length) {
    size_t keep = length;
    if (limit) keep = offered >= *limit ? 0 : std::min(length, *limit - offered);
    offered += length;
    if (keep == 0) return;
    if (text != nullptr) {
      text->append(static_cast<const char*>(data), keep);
      return;
    }
    const char* p = static_cast<const char*>(data);
    while (keep > 0) {
      ssize_t n = write(fd, p, keep);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        failed = true;
        return;
      }
      p += n;
      keep -= static_cast<size_t>(n);
    }
  }
};

ssize_t writeToSink(void* ctx, unsigned char* buffer, size_t length) {
  auto* sink = static_cast<Sink*>(ctx);
  sink->put(buffer, length);
  return sink->failed ? -1 : static_cast<ssize_t>(length);
}

void writeJob(Sink& sink, const std::vector<RasterPage>& pages, const RasterJobOptions& options) {
  cups_mode_t mode = options.format == RasterFormat::Version3 ? CUPS_RASTER_WRITE
                                                              : CUPS_RASTER_WRITE_COMPRESSED;
  sink.limit = options.truncateAfter;
  cups_raster_t* raster = cupsRasterOpenIO(writeToSink, &sink, mode);
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
  sink.put(options.trailingBytes.data(), options.trailingBytes.size());
  if (sink.failed) throw std::runtime_error("raster write failed");
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
  Sink sink;
  sink.text = &bytes;
  writeJob(sink, pages, options);
  return bytes;
}

void writeRasterFile(const std::string& path, const std::vector<RasterPage>& pages,
                     const RasterJobOptions& options) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) throw std::runtime_error("cannot create " + path + ": " + std::strerror(errno));
  Sink sink;
  sink.fd = fd;
  try {
    writeJob(sink, pages, options);
  } catch (...) {
    close(fd);
    throw;
  }
  close(fd);
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
