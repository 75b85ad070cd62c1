#include "imaging/plane_buffers.h"

#include <limits>
#include <new>
#include <stdexcept>

bool allocatePlaneBuffers(PlaneBuffers& buffers, int colorMode, int lineWidth, size_t lines) {
  for (auto& p : buffers.plane) std::vector<uint8_t>().swap(p);
  for (auto& c : buffers.compressed) std::vector<uint8_t>().swap(c);
  buffers.compressedLength = {};
  buffers.planeCount = colorMode != 0 ? 4 : 1;
  buffers.lineWidth = lineWidth < 0 ? 0 : lineWidth;
  buffers.bytesPerLine = static_cast<size_t>(buffers.lineWidth) / 8;
  buffers.lines = lines;
  if (lineWidth < 0) return false;

  size_t bytesPerLine = buffers.bytesPerLine;
  if (bytesPerLine != 0 && lines > std::numeric_limits<size_t>::max() / bytesPerLine) return false;
  size_t planeSize = bytesPerLine * lines;
  try {
    for (int p = 0; p < 4; ++p) {
      if (buffers.usesPlane(p)) buffers.plane[p].assign(planeSize, 0);
    }
  } catch (const std::bad_alloc&) {
    for (auto& p : buffers.plane) std::vector<uint8_t>().swap(p);
    return false;
  } catch (const std::length_error&) {
    for (auto& p : buffers.plane) std::vector<uint8_t>().swap(p);
    return false;
  }
  return true;
}
