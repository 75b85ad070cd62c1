// A page's bit planes and their compressed forms.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "stream/command_record.h"

struct PlaneBuffers;

// Compression that runs while a page's lines are placed in its planes (the
// JBIG stripe stream): the renderer tells it when the page starts and as
// each line is placed, the spooler puts the page's entities together or
// lets them go.
class StreamingCompression {
 public:
  virtual ~StreamingCompression() = default;

  // Binds to a page whose planes have just been allocated; a page it cannot
  // take leaves it inactive.
  virtual void begin(const PlaneBuffers& planes) = 0;
  virtual bool active() const = 0;
  // Plane line `line` has been written in every plane of the page. Called
  // from any thread, at most once per line.
  virtual void linePlaced(size_t line) = 0;
  // Puts each plane's entity into `planes.compressed` with its length, and
  // the lengths and total into `record`.
  virtual void finish(PlaneBuffers& planes, PageStartRecord& record) = 0;
  // Lets the page go without putting anything together (a dropped page).
  virtual void abandon() = 0;
};

// Plane numbers: colour pages use 0..3 (engine output segments 0..3);
// a grayscale page uses plane 3, the black plane, alone.
inline constexpr int kBlackPlane = 3;

struct PlaneBuffers {
  int planeCount = 0;          // 4 colour, 1 grayscale
  int lineWidth = 0;           // dots
  size_t bytesPerLine = 0;     // lineWidth / 8
  size_t lines = 0;            // cupsHeight
  // 8 dots per byte, most significant bit leftmost, 1 = dot. Zero-filled.
  std::array<std::vector<uint8_t>, 4> plane;
  // JBIG entities, filled by compression; sized for the worst case.
  std::array<std::vector<uint8_t>, 4> compressed;
  std::array<uint32_t, 4> compressedLength{};
  // When set, the planes are compressed stripe by stripe as their lines are
  // placed; kept from page to page with the buffers.
  std::shared_ptr<StreamingCompression> stream;

  bool usesPlane(int p) const { return planeCount == 4 || p == kBlackPlane; }
};

// Allocates the planes of a page (sizes checked for overflow in size_t):
// the planes in use zero-filled, the others empty, the compressed buffers
// empty and their lengths 0. Buffers an earlier page left in `buffers` are
// reused where they fit. Returns false when a size overflows or memory
// cannot be had.
bool allocatePlaneBuffers(PlaneBuffers& buffers, int colorMode, int lineWidth, size_t lines);
