// Job streams built by hand, for tests of the reader and of the tools: PJL
// lines, records with their check bytes, planes compressed with JBIG-KIT
// exactly as the filter compresses them (order 0, options 0x340, l0 128).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zerudump {

// A bit plane: 8 dots per byte, most significant bit leftmost, 1 = dot.
struct SamplePlane {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> bits;

  SamplePlane() = default;
  SamplePlane(uint32_t w, uint32_t h) : width(w), height(h), bits(size_t((w + 7) / 8) * h, 0) {}
  void setDot(uint32_t x, uint32_t y) { bits[size_t(y) * ((width + 7) / 8) + x / 8] |= uint8_t(0x80 >> (x % 8)); }
  void fillRect(uint32_t x0, uint32_t y0, uint32_t w, uint32_t h) {
    for (uint32_t y = y0; y < y0 + h; ++y)
      for (uint32_t x = x0; x < x0 + w; ++x) setDot(x, y);
  }
};

// One JBIG entity for the plane.
std::vector<uint8_t> encodeSamplePlane(const SamplePlane& plane);

struct SamplePage {
  bool colour = false;
  uint8_t paperCode = 2;
  uint8_t mediaCode = 1;
  uint32_t dotsPerLine = 512;
  uint32_t lines = 300;
  uint16_t resolution = 600;
  uint16_t paperWidth10 = 2099;
  uint16_t paperHeight10 = 2970;
  SamplePlane planes[4];     // a grayscale page uses plane 3 only
  uint8_t cancelMark = 0;

  // A page of empty planes of the record's size.
  static SamplePage blank(bool colour, uint32_t dotsPerLine, uint32_t lines);
};

struct SampleJob {
  std::vector<std::string> pjlLines;   // without CR LF; empty: a default header
  uint16_t copies = 1;
  std::vector<SamplePage> pages;
  bool aborted = false;
};

// Where the parts of a built stream lie.
struct SampleLayout {
  size_t jobStart = 0;
  std::vector<size_t> pageStart;
  std::vector<size_t> pageData;
  std::vector<size_t> pageEnd;
  size_t trailer = 0;
};

// The default PJL job header lines of a simplex or duplex job.
std::vector<std::string> samplePjlLines(bool duplex, int pageCount, bool colour);

// Stores the check byte of a 64-byte record (XOR of bytes 0..62).
void sealSampleRecord(uint8_t* record);

std::vector<uint8_t> buildSampleStream(const SampleJob& job, SampleLayout* layout = nullptr);

}  // namespace zerudump
