// Page previews: decoded planes composited into an image and written as PNG.
#include "tools/preview.h"

#include <png.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>

namespace zerudump {

namespace {

// A plane's row y, or nullptr when the plane is missing or shorter.
const uint8_t* planeRow(const DecodedPlane* plane, uint32_t y) {
  if (!plane || y >= plane->height || plane->bits.empty()) return nullptr;
  return plane->bits.data() + size_t(y) * plane->bytesPerLine();
}

inline bool rowDot(const uint8_t* row, const DecodedPlane* plane, uint32_t x) {
  return row && x < plane->width && ((row[x / 8] >> (7 - x % 8)) & 1);
}

// Averages scale x scale blocks of the samples that `shade` gives for each
// source row: shade(y, samples) fills width * channels values of row y.
template <typename Shade>
PreviewImage reduce(uint32_t width, uint32_t height, int channels, unsigned scale, Shade shade) {
  if (scale == 0) scale = 1;
  PreviewImage image;
  image.channels = channels;
  image.width = (width + scale - 1) / scale;
  image.height = (height + scale - 1) / scale;
  image.pixels.assign(size_t(image.width) * image.height * channels, 255);
  std::vector<uint8_t> samples(size_t(width) * channels);
  std::vector<uint32_t> sums(size_t(image.width) * channels);
  for (uint32_t oy = 0; oy < image.height; ++oy) {
    std::fill(sums.begin(), sums.end(), 0);
    const uint32_t y0 = oy * scale;
    const uint32_t y1 = std::min<uint32_t>(height, y0 + scale);
    for (uint32_t y = y0; y < y1; ++y) {
      shade(y, samples.data());
      for (uint32_t x = 0; x < width; ++x) {
        for (int c = 0; c < channels; ++c) sums[(x / scale) * channels + c] += samples[size_t(x) * channels + c];
      }
    }
    uint8_t* out = image.pixels.data() + size_t(oy) * image.width * channels;
    for (uint32_t ox = 0; ox < image.width; ++ox) {
      const uint32_t x0 = ox * scale;
      const uint32_t x1 = std::min<uint32_t>(width, x0 + scale);
      const uint32_t count = (x1 - x0) * (y1 - y0);
      for (int c = 0; c < channels; ++c) {
        out[ox * channels + c] = uint8_t((sums[ox * channels + c] + count / 2) / count);
      }
    }
  }
  return image;
}

struct PngErrorSink {
  char message[256];
};

void pngError(png_structp png, png_const_charp text) {
  auto* sink = static_cast<PngErrorSink*>(png_get_error_ptr(png));
  std::snprintf(sink->message, sizeof sink->message, "%s", text);
  png_longjmp(png, 1);
}

void pngWarning(png_structp, png_const_charp) {}

// Writes rows with libpng. Only plain locals live across setjmp, so that a
// longjmp out of libpng leaves nothing half-destroyed.
bool writePngRows(FILE* file, uint32_t width, uint32_t height, int bitDepth, int colourType,
                  bool invertMono, const uint8_t* const* rows, PngErrorSink* sink) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, sink, pngError, pngWarning);
  if (!png) {
    std::snprintf(sink->message, sizeof sink->message, "png_create_write_struct failed");
    return false;
  }
  png_infop info = png_create_info_struct(png);
  if (!info || setjmp(png_jmpbuf(png))) {
    if (!info) std::snprintf(sink->message, sizeof sink->message, "png_create_info_struct failed");
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, width, height, bitDepth, colourType, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  if (invertMono) png_set_invert_mono(png);
  for (uint32_t y = 0; y < height; ++y) png_write_row(png, rows[y]);
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return true;
}

bool writeRows(const std::string& path, uint32_t width, uint32_t height, int bitDepth,
               int colourType, bool invertMono, const std::vector<const uint8_t*>& rows,
               std::string& error) {
  if (width == 0 || height == 0) {
    error = path + ": an image of no dots cannot be written as PNG";
    return false;
  }
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  PngErrorSink sink{};
  bool ok = writePngRows(file, width, height, bitDepth, colourType, invertMono, rows.data(), &sink);
  if (std::fclose(file) != 0 && ok) {
    ok = false;
    std::snprintf(sink.message, sizeof sink.message, "%s", std::strerror(errno));
  }
  if (!ok) error = path + ": " + sink.message;
  return ok;
}

}  // namespace

PreviewImage composeColourPreview(const DecodedPlane* planes[4], uint32_t width, uint32_t height,
                                  unsigned scale) {
  return reduce(width, height, 3, scale, [&](uint32_t y, uint8_t* samples) {
    const uint8_t* rows[4];
    for (int p = 0; p < 4; ++p) rows[p] = planeRow(planes[p], y);
    for (uint32_t x = 0; x < width; ++x) {
      const bool k = rowDot(rows[3], planes[3], x);
      samples[3 * x + 0] = (k || rowDot(rows[0], planes[0], x)) ? 0 : 255;
      samples[3 * x + 1] = (k || rowDot(rows[1], planes[1], x)) ? 0 : 255;
      samples[3 * x + 2] = (k || rowDot(rows[2], planes[2], x)) ? 0 : 255;
    }
  });
}

PreviewImage composeGrayPreview(const DecodedPlane* black, uint32_t width, uint32_t height,
                                unsigned scale) {
  return reduce(width, height, 1, scale, [&](uint32_t y, uint8_t* samples) {
    const uint8_t* row = planeRow(black, y);
    for (uint32_t x = 0; x < width; ++x) samples[x] = rowDot(row, black, x) ? 0 : 255;
  });
}

PreviewImage composePagePreview(const PageBlock& page, unsigned scale) {
  const DecodedPlane* planes[4] = {};
  // The page is as large as its record says when every decoded plane agrees;
  // a damaged record must not size the image, so otherwise the largest
  // decoded plane does. Without a decoded plane there is nothing to show.
  uint32_t width = 0, height = 0;
  bool agree = true;
  for (const auto& entity : page.planes) {
    if (entity.decoded.bits.empty()) continue;
    planes[entity.plane] = &entity.decoded;
    width = std::max(width, entity.decoded.width);
    height = std::max(height, entity.decoded.height);
    agree &= entity.decoded.width == page.dotsPerLine && entity.decoded.height == page.lines;
  }
  if (width == 0 || height == 0) return PreviewImage{};
  if (agree) {
    width = page.dotsPerLine;
    height = page.lines;
  }
  if (page.colour) return composeColourPreview(planes, width, height, scale);
  return composeGrayPreview(planes[3], width, height, scale);
}

bool writePreviewPng(const std::string& path, const PreviewImage& image, std::string& error) {
  std::vector<const uint8_t*> rows(image.height);
  const size_t stride = size_t(image.width) * image.channels;
  for (uint32_t y = 0; y < image.height; ++y) rows[y] = image.pixels.data() + y * stride;
  return writeRows(path, image.width, image.height, 8,
                   image.channels == 3 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_GRAY, false, rows, error);
}

bool writePlanePng(const std::string& path, const DecodedPlane& plane, std::string& error) {
  std::vector<const uint8_t*> rows(plane.height);
  for (uint32_t y = 0; y < plane.height; ++y) rows[y] = plane.bits.data() + y * plane.bytesPerLine();
  // A 1-bit gray PNG stores 0 for black; the plane stores 1 for a dot.
  return writeRows(path, plane.width, plane.height, 1, PNG_COLOR_TYPE_GRAY, true, rows, error);
}

}  // namespace zerudump
