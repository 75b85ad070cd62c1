#include "imaging/plane_buffers.h"

#include <limits>
#include <new>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "imaging/worker_thread.h"

namespace {

// Planes at least this large are zeroed on two threads: a fresh page-sized
// plane costs more in first-touch page faults than in the zeroing itself,
// and the faults of two planes proceed in parallel.
constexpr size_t kParallelZeroBytes = size_t{1} << 20;

// A buffer kept from an earlier page is reused unless it is more than twice
// the size needed, so that one large page does not pin its memory for the
// rest of the job.
void sizeZeroed(std::vector<uint8_t>& plane, size_t size) {
  if (plane.capacity() > 2 * size) std::vector<uint8_t>().swap(plane);
  plane.assign(size, 0);
}

// Sizes and zeroes the planes in use; false when memory cannot be had.
bool zeroPlanes(PlaneBuffers& buffers, size_t planeSize) {
  auto zeroRange = [&](int from, int to) {
    try {
      for (int p = from; p < to; ++p) {
        if (buffers.usesPlane(p)) sizeZeroed(buffers.plane[p], planeSize);
      }
      return true;
    } catch (const std::bad_alloc&) {
      return false;
    } catch (const std::length_error&) {
      return false;
    }
  };
  if (buffers.planeCount != 4 || planeSize < kParallelZeroBytes) return zeroRange(0, 4);

  // Planes 0 and 1 on a helper thread, 2 and 3 here; the helper touches
  // only its two planes and its own result.
  bool helperOk = false;
  std::thread helper;
  try {
    helper = startWorkerThread([&] { helperOk = zeroRange(0, 2); });
  } catch (const std::system_error&) {
    return zeroRange(0, 4);
  }
  bool ok = zeroRange(2, 4);
  helper.join();
  return ok && helperOk;
}

}  // namespace

bool allocatePlaneBuffers(PlaneBuffers& buffers, int colorMode, int lineWidth, size_t lines) {
  // The buffers of an earlier page are reused where they fit: memory that a
  // page has already touched costs no page faults. What this page does not
  // use is emptied; the compressed buffers keep their room for compressPlane.
  for (auto& c : buffers.compressed) c.clear();
  buffers.compressedLength = {};
  buffers.planeCount = colorMode != 0 ? 4 : 1;
  buffers.lineWidth = lineWidth < 0 ? 0 : lineWidth;
  buffers.bytesPerLine = static_cast<size_t>(buffers.lineWidth) / 8;
  buffers.lines = lines;
  auto releaseAll = [&] {
    for (auto& p : buffers.plane) std::vector<uint8_t>().swap(p);
    for (auto& c : buffers.compressed) std::vector<uint8_t>().swap(c);
  };
  if (lineWidth < 0) {
    releaseAll();
    return false;
  }

  size_t bytesPerLine = buffers.bytesPerLine;
  if (bytesPerLine != 0 && lines > std::numeric_limits<size_t>::max() / bytesPerLine) {
    releaseAll();
    return false;
  }
  size_t planeSize = bytesPerLine * lines;
  // A plane this page does not use is emptied but keeps its room for the
  // next colour page, within the same bound as a plane in use.
  for (int p = 0; p < 4; ++p) {
    if (!buffers.usesPlane(p)) {
      if (buffers.plane[p].capacity() > 2 * planeSize)
        std::vector<uint8_t>().swap(buffers.plane[p]);
      buffers.plane[p].clear();
    }
  }
  if (!zeroPlanes(buffers, planeSize)) {
    releaseAll();
    return false;
  }
  return true;
}
