// Writes CUPS raster jobs for tests, through libcupsimage's own writer.
//
//   RasterPage page = colourPage(a4Header600Rgb(), [](unsigned x, unsigned y) {
//     return x < 100 ? Rgb{0, 0, 0} : kWhite;
//   });
//   writeRasterFile(dir.file("job.ras"), {page, page});
//
// Pages are written as version 3 raster ("RaS3", uncompressed), the format
// gstoraster produces, or compressed version 2 on request. Any header field
// may be set, including ones libcups's reader rejects; truncated streams are
// made by cutting the bytes.
#pragma once

#include <cups/raster.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zerutest {

struct Rgb {
  uint8_t r = 255, g = 255, b = 255;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};
inline constexpr Rgb kWhite{255, 255, 255};
inline constexpr Rgb kBlack{0, 0, 0};

using RgbFn = std::function<Rgb(unsigned x, unsigned y)>;
using GrayFn = std::function<uint8_t(unsigned x, unsigned y)>;
// Fills one whole line (header.cupsBytesPerLine bytes) of line y.
using LineFn = std::function<void(unsigned y, uint8_t* line, size_t length)>;

// A sane page header: cupsWidth x cupsHeight covers the whole sheet at the
// resolution (points * dpi / 72, truncated), cupsBytesPerLine consistent,
// NumCopies 1, Collate 0, chunky order, white 255.
//   colour: cupsColorSpace CUPS_CSPACE_RGB, 8 bits per colour, 24 per pixel.
//   gray:   cupsColorSpace CUPS_CSPACE_W, 8 bits per colour and per pixel.
cups_page_header2_t makeHeader(unsigned widthPoints, unsigned heightPoints, unsigned dpi,
                               bool colour);
cups_page_header2_t a4Header(unsigned dpi = 600, bool colour = true);
// Re-derives cupsWidth, cupsHeight and cupsBytesPerLine from PageSize,
// HWResolution and cupsBitsPerPixel (after a test changed those).
void fitHeaderToPage(cups_page_header2_t& header);

// One page: its header and its pixels. On 8-bit pages `gray` gives the
// pixels, on other pages `rgb` (3 bytes per pixel, extra bytes of wider
// pixels stay 0); `line`, when set, overrides both and fills raw line bytes.
// With nothing set the page is white (0xFF bytes).
struct RasterPage {
  cups_page_header2_t header{};
  RgbFn rgb;
  GrayFn gray;
  LineFn line;
  // Write only this many lines of the page (a short page); default all.
  std::optional<unsigned> linesToWrite;
};

RasterPage colourPage(const cups_page_header2_t& header, RgbFn pixels = {});
RasterPage grayPage(const cups_page_header2_t& header, GrayFn pixels = {});
// A4, 600 dpi, all white.
RasterPage whitePage(bool colour = true);

enum class RasterFormat {
  Version3,             // CUPS_RASTER_WRITE: "RaS3", uncompressed
  Version2Compressed,   // CUPS_RASTER_WRITE_COMPRESSED: "RaS2", run-length compressed
};

struct RasterJobOptions {
  RasterFormat format = RasterFormat::Version3;
  // Cut the stream after this many bytes (a truncated job).
  std::optional<size_t> truncateAfter;
  // Bytes appended after the last page (garbage after the job).
  std::string trailingBytes;
};

// The job as bytes, or streamed into a file (an A4 colour page at 600 dpi is
// about 100 MB: big jobs belong in files). Both throw std::runtime_error
// when libcups refuses to write.
std::string rasterJobBytes(const std::vector<RasterPage>& pages,
                           const RasterJobOptions& options = {});
void writeRasterFile(const std::string& path, const std::vector<RasterPage>& pages,
                     const RasterJobOptions& options = {});

// The bytes of one line as the writer produces them (tests compare what the
// filter or the engine saw with this).
std::vector<uint8_t> rasterLine(const RasterPage& page, unsigned y);

// Reading back, for round-trip checks: every page header and its pixel bytes,
// as libcups's reader delivers them.
struct ReadPage {
  cups_page_header2_t header{};
  std::vector<uint8_t> pixels;   // cupsBytesPerLine * lines read
  unsigned linesRead = 0;
};
std::vector<ReadPage> readRasterBytes(const std::string& bytes);

}  // namespace zerutest
