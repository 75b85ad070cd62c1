// Page previews: decoded planes composited into an image and written as PNG.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/stream_reader.h"

namespace zerudump {

// 8 bits per sample, 1 channel (gray) or 3 (RGB), rows back to back.
struct PreviewImage {
  uint32_t width = 0;
  uint32_t height = 0;
  int channels = 1;
  std::vector<uint8_t> pixels;
};

// A colour page: planes 0, 1, 2 are cyan, magenta and yellow, plane 3 black,
// each taking its light away from white paper. A missing plane (nullptr)
// prints nothing. The image is width x height dots, reduced by averaging
// scale x scale blocks (the last row and column of blocks may be partial).
PreviewImage composeColourPreview(const DecodedPlane* planes[4], uint32_t width, uint32_t height,
                                  unsigned scale);

// A grayscale page: black dots on white.
PreviewImage composeGrayPreview(const DecodedPlane* black, uint32_t width, uint32_t height,
                                unsigned scale);

// The preview of a page block whose planes have been decoded; an empty
// image (width 0) when none of its planes decoded.
PreviewImage composePagePreview(const PageBlock& page, unsigned scale);

bool writePreviewPng(const std::string& path, const PreviewImage& image, std::string& error);

// One plane as a 1-bit PNG, black dots on white.
bool writePlanePng(const std::string& path, const DecodedPlane& plane, std::string& error);

}  // namespace zerudump
