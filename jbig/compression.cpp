#include "jbig/compression.h"

#include <climits>
#include <cstring>
#include <functional>
#include <limits>
#include <new>
#include <system_error>
#include <thread>

extern "C" {
#include <jbig.h>
}

#include "jbig/jbig_encoder.h"
#include "jbig/stripe_stream.h"
#include "imaging/worker_thread.h"

namespace {

constexpr int kJbgOrder = 0;
// Two-line template, AT moves delayed, every stripe ended with SDRST;
// typical and deterministic prediction off.
constexpr int kJbgOptions = JBG_LRLTWO | JBG_DELAY_AT | JBG_SDRST;
static_assert(kJbgOptions == 0x340);
constexpr unsigned long kStripeLines = 128;
constexpr int kAtMaxX = 0;
constexpr int kAtMaxY = 0;

constexpr size_t kBihSize = 20;
// Per stripe: the coder's final flush (at most a few bytes, each possibly
// followed by a stuffing byte) and the two-byte SDRST marker.
constexpr size_t kStripeOverhead = 16;

// The encoder's output sink of one plane: appends every chunk to that
// plane's buffer. Reserved room makes appending a plain copy; a plane that
// needs more than that grows the buffer instead of overflowing it.
struct PlaneSink {
  std::vector<uint8_t>* out;
  bool failed = false;
};

void appendChunk(unsigned char* start, size_t length, void* file) {
  PlaneSink* sink = static_cast<PlaneSink*>(file);
  if (sink->failed) return;
  try {
    sink->out->insert(sink->out->end(), start, start + length);
  } catch (const std::bad_alloc&) {
    // No exception may cross the C encoder; the plane is dropped instead.
    sink->failed = true;
  }
}

}  // namespace

size_t maxCompressedSize(size_t bytesPerLine, size_t lines) {
  size_t raw = bytesPerLine * lines;
  size_t stripes = (lines + kStripeLines - 1) / kStripeLines;
  return kBihSize + raw + raw / 8 + stripes * kStripeOverhead;
}

JbigCoder jbigCoderFromName(const char* name) {
  return name && strcmp(name, "jbigkit") == 0 ? JbigCoder::JbigKit : JbigCoder::Own;
}

uint32_t compressPlane(const uint8_t* plane, unsigned width, unsigned height,
                       std::vector<uint8_t>& out, JbigCoder coder) {
  out.clear();
  if (plane == nullptr || width == 0 || height == 0) return 0;
  size_t bytesPerLine = (width + 7) / 8;
  PlaneSink sink{&out};
  try {
    out.reserve(maxCompressedSize(bytesPerLine, height));
  } catch (const std::bad_alloc&) {
    // Most planes need far less than the reservation: let the sink grow.
  }

  if (coder == JbigCoder::Own) {
    try {
      jbig::encodePlane(plane, width, height, out);
    } catch (const std::bad_alloc&) {
      sink.failed = true;
    }
  } else {
    // The encoder only reads the highest-resolution image it is given.
    unsigned char* planes[1] = {const_cast<unsigned char*>(plane)};
    jbg_enc_state state;
    jbg_enc_init(&state, width, height, 1, planes, appendChunk, &sink);
    jbg_enc_layers(&state, 0);
    jbg_enc_options(&state, kJbgOrder, kJbgOptions, kStripeLines, kAtMaxX, kAtMaxY);
    jbg_enc_out(&state);
    jbg_enc_free(&state);
  }

  if (sink.failed || out.size() > std::numeric_limits<uint32_t>::max()) {
    out.clear();
    return 0;
  }
  return static_cast<uint32_t>(out.size());
}

namespace {

// One compression job: plane p of the page, into its own buffer, length and
// record field. Nothing else is shared between the threads.
void compressOnePlane(PlaneBuffers& planes, PageStartRecord& record, int p, JbigCoder coder) {
  uint32_t length = 0;
  // The encoder reads (width + 7) / 8 bytes of every line: a plane shorter
  // than that is left uncompressed rather than read past its end.
  size_t lineBytes = planes.lineWidth > 0 ? (static_cast<size_t>(planes.lineWidth) + 7) / 8 : 0;
  if (lineBytes > 0 && planes.lines > 0 && planes.lines <= UINT_MAX &&
      planes.plane[p].size() / lineBytes >= planes.lines) {
    length = compressPlane(planes.plane[p].data(), static_cast<unsigned>(planes.lineWidth),
                           static_cast<unsigned>(planes.lines), planes.compressed[p], coder);
  }
  planes.compressedLength[p] = length;
  record.setPlaneLength(p, length);
}

}  // namespace

void compressPage(PlaneBuffers& planes, PageStartRecord& record, JbigCoder coder) {
  // Planes compressed while their lines were placed only need putting together.
  if (coder == JbigCoder::Own && planes.stream && planes.stream->active()) {
    planes.stream->finish(planes, record);
    return;
  }
  if (planes.planeCount != 4) {
    for (int p = 0; p < 3; ++p) {
      planes.compressedLength[p] = 0;
      record.setPlaneLength(p, 0);
    }
    compressOnePlane(planes, record, kBlackPlane, coder);
    record.setCompressedSize(planes.compressedLength[kBlackPlane]);
    return;
  }

  // Four threads, started for planes 3, 0, 1, 2 and waited for in that order.
  // A thread that cannot be started leaves its plane to this thread.
  constexpr int kOrder[4] = {3, 0, 1, 2};
  std::thread workers[4];
  for (int i = 0; i < 4; ++i) {
    int p = kOrder[i];
    try {
      workers[i] =
          startWorkerThread(compressOnePlane, std::ref(planes), std::ref(record), p, coder);
    } catch (const std::system_error&) {
      compressOnePlane(planes, record, p, coder);
    }
  }
  for (std::thread& worker : workers)
    if (worker.joinable()) worker.join();

  uint64_t total = 0;
  for (int p = 0; p < 4; ++p) total += planes.compressedLength[p];
  record.setCompressedSize(static_cast<uint32_t>(total));
}
