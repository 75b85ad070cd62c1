#include "printer-app/image_filter.h"

#include <setjmp.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>
#include <png.h>

#include "printer-app/device.h"
#include "printer-app/raw_job.h"

namespace zeruapp {

namespace {

constexpr const char* kUnreadable = "The image could not be read: %s";
constexpr const char* kTooLarge =
    "The image is larger than a Legal page at 1200 dpi (10200 x 16800 pixels)";
constexpr const char* kEmpty = "The image has no pixels";
constexpr const char* kNoMemory = "Not enough memory for the image";
constexpr const char* kCmyk = "CMYK JPEG images are not supported";

// An image being decoded. The decoders jump back on an error, so
// everything that must be freed lives here rather than in the frame of the
// function that called setjmp.
struct Decoding {
  pappl_job_t* job = nullptr;
  FILE* file = nullptr;
  unsigned char* pixels = nullptr;  // rows of `width` pixels of `depth` bytes
  unsigned width = 0;
  unsigned height = 0;
  unsigned depth = 0;
  int ppi = 0;
  bool smoothing = false;  // PAPPL's choice: smoothed JPEG, sampled PNG
  // The job's options, when the decoder needs them to choose its output.
  pappl_pr_options_t* options = nullptr;
  bool cancelled = false;
  char message[256] = "";
};

bool allocatePixels(Decoding& d) {
  d.pixels = static_cast<unsigned char*>(malloc(size_t{d.width} * d.height * d.depth));
  if (d.pixels == nullptr) snprintf(d.message, sizeof d.message, "%s", kNoMemory);
  return d.pixels != nullptr;
}

bool sizeAccepted(Decoding& d) {
  if (const char* problem = imageSizeProblem(d.width, d.height)) {
    snprintf(d.message, sizeof d.message, "%s", problem);
    return false;
  }
  return true;
}

// --- PNG -------------------------------------------------------------------

void pngError(png_structp png, png_const_charp text) {
  auto* d = static_cast<Decoding*>(png_get_error_ptr(png));
  snprintf(d->message, sizeof d->message, kUnreadable, text);
  png_longjmp(png, 1);
}

void pngWarning(png_structp png, png_const_charp text) {
  auto* d = static_cast<Decoding*>(png_get_error_ptr(png));
  papplLogJob(d->job, PAPPL_LOGLEVEL_DEBUG, "PNG: %s", text);
}

// Reads the rows; false with d.message on any error. Nothing here is read
// after the image's last row: chunks after the pixels change nothing.
bool readPngRows(Decoding& d, png_structp png, png_infop info) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_init_io(png, d.file);
  // libpng itself refuses a header larger than the largest image.
  png_set_user_limits(png, kMaxImageLongSide, kMaxImageLongSide);
#if defined(PNG_SKIP_sRGB_CHECK_PROFILE) && defined(PNG_SET_OPTION_SUPPORTED)
  png_set_option(png, PNG_SKIP_sRGB_CHECK_PROFILE, PNG_OPTION_ON);
#endif
  png_read_info(png, info);
  d.width = png_get_image_width(png, info);
  d.height = png_get_image_height(png, info);
  if (!sizeAccepted(d)) return false;
  const int colourType = png_get_color_type(png, info);
  if (colourType & PNG_COLOR_MASK_PALETTE) png_set_palette_to_rgb(png);
  if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
  if (png_get_bit_depth(png, info) > 8) png_set_strip_16(png);
  if (png_get_bit_depth(png, info) < 8) png_set_expand_gray_1_2_4_to_8(png);
  // Transparent pixels on white paper.
  png_color_16 white{};
  white.red = white.green = white.blue = white.gray = 65535;
  png_set_background(png, &white, PNG_BACKGROUND_GAMMA_SCREEN, 0, 1);
  const int passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  d.depth = (colourType & (PNG_COLOR_MASK_COLOR | PNG_COLOR_MASK_PALETTE)) ? 3 : 1;
  if (png_get_rowbytes(png, info) != size_t{d.width} * d.depth) {
    snprintf(d.message, sizeof d.message, kUnreadable, "unexpected row size");
    return false;
  }
  // The image's own resolution, as PAPPL's filter takes it; none when absurd.
  const png_uint_32 ppi = png_get_x_pixels_per_inch(png, info);
  d.ppi = ppi <= 100000 ? static_cast<int>(ppi) : 0;
  if (!allocatePixels(d)) return false;
  for (int pass = 0; pass < passes; ++pass)
    for (unsigned y = 0; y < d.height; ++y) {
      if (papplJobIsCanceled(d.job)) {
        d.cancelled = true;
        return false;
      }
      png_read_row(png, d.pixels + size_t{y} * d.width * d.depth, nullptr);
    }
  return true;
}

bool decodePng(Decoding& d) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &d, pngError, pngWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  bool ok = info != nullptr && readPngRows(d, png, info);
  if (info == nullptr) snprintf(d.message, sizeof d.message, "%s", kNoMemory);
  // Destroying the reader reports no errors: nothing jumps back from here.
  if (png) png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
  return ok;
}

// --- JPEG ------------------------------------------------------------------

struct JpegErrors {
  jpeg_error_mgr manager;  // first: libjpeg passes a pointer to it
  jmp_buf back;
  Decoding* decoding;
};

void jpegError(j_common_ptr info) {
  auto* errors = reinterpret_cast<JpegErrors*>(info->err);
  char text[JMSG_LENGTH_MAX];
  (*info->err->format_message)(info, text);
  snprintf(errors->decoding->message, sizeof errors->decoding->message, kUnreadable, text);
  longjmp(errors->back, 1);
}

void jpegMessage(j_common_ptr info) {
  auto* errors = reinterpret_cast<JpegErrors*>(info->err);
  char text[JMSG_LENGTH_MAX];
  (*info->err->format_message)(info, text);
  papplLogJob(errors->decoding->job, PAPPL_LOGLEVEL_DEBUG, "JPEG: %s", text);
}

bool readJpegRows(Decoding& d, jpeg_decompress_struct& info, JpegErrors& errors) {
  if (setjmp(errors.back)) return false;
  jpeg_create_decompress(&info);
  jpeg_stdio_src(&info, d.file);
  jpeg_read_header(&info, TRUE);
  d.width = info.image_width;
  d.height = info.image_height;
  if (!sizeAccepted(d)) return false;
  if (info.num_components == 4) {
    snprintf(d.message, sizeof d.message, "%s", kCmyk);
    return false;
  }
  // A monochrome job's image is decoded to gray, as PAPPL's own filter does.
  d.options = papplJobCreatePrintOptions(d.job, 1, info.num_components > 1);
  if (d.options == nullptr) {
    snprintf(d.message, sizeof d.message, "%s", kNoMemory);
    return false;
  }
  info.out_color_space =
      info.num_components == 1 || d.options->header.cupsNumColors == 1 ? JCS_GRAYSCALE : JCS_RGB;
  d.smoothing = true;
  if (info.density_unit == 1) d.ppi = info.X_density;
  else if (info.density_unit == 2) d.ppi = info.X_density * 254 / 100;
  jpeg_start_decompress(&info);
  d.depth = static_cast<unsigned>(info.output_components);
  if (info.output_width != d.width || info.output_height != d.height ||
      (d.depth != 1 && d.depth != 3)) {
    snprintf(d.message, sizeof d.message, kUnreadable, "unexpected output size");
    return false;
  }
  if (!allocatePixels(d)) return false;
  while (info.output_scanline < info.output_height) {
    if (papplJobIsCanceled(d.job)) {
      d.cancelled = true;
      return false;
    }
    JSAMPROW row = d.pixels + size_t{info.output_scanline} * d.width * d.depth;
    jpeg_read_scanlines(&info, &row, 1);
  }
  return true;
}

bool decodeJpeg(Decoding& d) {
  jpeg_decompress_struct info{};
  JpegErrors errors{};
  info.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = jpegError;
  errors.manager.output_message = jpegMessage;
  errors.decoding = &d;
  bool ok = readJpegRows(d, info, errors);
  // Destroying the decompressor reports no errors.
  jpeg_destroy_decompress(&info);
  return ok;
}

// --- The filter --------------------------------------------------------------

bool printImage(pappl_job_t* job, pappl_device_t* device, bool (*decode)(Decoding&)) {
  if (cancelledBeforeStart(job)) return false;
  Decoding d;
  d.job = job;
  const char* filename = papplJobGetFilename(job);
  d.file = filename ? fopen(filename, "rb") : nullptr;
  bool ok = d.file != nullptr;
  if (!ok) snprintf(d.message, sizeof d.message, kUnreadable, strerror(errno));
  if (ok) ok = decode(d);
  if (d.file) fclose(d.file);
  if (ok && (d.width == 0 || d.height == 0)) {
    snprintf(d.message, sizeof d.message, "%s", kEmpty);
    ok = false;
  }
  if (ok) {
    if (d.options == nullptr) d.options = papplJobCreatePrintOptions(job, 1, d.depth == 3);
    ok = d.options != nullptr &&
         papplJobFilterImage(job, device, d.options, d.pixels, static_cast<int>(d.width),
                             static_cast<int>(d.height), static_cast<int>(d.depth), d.ppi,
                             d.smoothing);
  } else if (!d.cancelled && !papplJobIsCanceled(job)) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "%s", d.message);
    papplJobSetMessage(job, "%s", d.message);
    papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
  }
  if (d.options) papplJobDeletePrintOptions(d.options);
  free(d.pixels);
  return ok;
}

bool printPng(pappl_job_t* job, pappl_device_t* device, void*) {
  return printImage(job, device, decodePng);
}

bool printJpeg(pappl_job_t* job, pappl_device_t* device, void*) {
  return printImage(job, device, decodeJpeg);
}

}  // namespace

const char* imageSizeProblem(unsigned width, unsigned height) {
  if (width == 0 || height == 0) return kEmpty;
  const unsigned shorter = width < height ? width : height;
  const unsigned longer = width < height ? height : width;
  if (shorter > kMaxImageShortSide || longer > kMaxImageLongSide) return kTooLarge;
  return nullptr;
}

void addImageFilters(pappl_system_t* system) {
  // PAPPL 1.3.1's own PNG filter jumps back into its clean-up after an error
  // (png_read_end in the code its setjmp returns to) and loops for ever;
  // PAPPL looks for a filter to the driver's own format before its own
  // filters to PWG raster, so these take JPEG and PNG first.
  papplSystemAddMIMEFilter(system, "image/png", kRawFormat, printPng, nullptr);
  papplSystemAddMIMEFilter(system, "image/jpeg", kRawFormat, printJpeg, nullptr);
  papplSystemSetMaxImageSize(system, size_t{kMaxImageShortSide} * kMaxImageLongSide * 3,
                             static_cast<int>(kMaxImageLongSide),
                             static_cast<int>(kMaxImageLongSide));
}

}  // namespace zeruapp
