#include "imaging/rasterize.h"

#include <strings.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <vector>

#include "driver/log.h"
#include "imaging/engine_setup.h"
#include "imaging/worker_thread.h"
#include "imaging/stripe_stream.h"

namespace {

constexpr const char* kReadErrorLine = "ERROR: Unable read raster data!";
constexpr const char* kReadErrorStatus =
    "ERROR: Unable to read the raster data of page %d; the lines not read print blank\n";
constexpr const char* kDuplexLineRead = "INFO: cupsRasterReadPixels ok...";
constexpr const char* kSimplexProgress = "INFO: Printing page %d, %d%% complete...\n";
constexpr const char* kDuplexProgress = "INFO: Processing page %d, %d%% complete...\n";
constexpr const char* kMediaProgress = "ATTR: job-media-progress=%d\n";
constexpr size_t kProgressEvery = 128;

// Raster lines queued per instance: enough for the page thread to read ahead
// while the worker converts, small enough to stay a few lines of memory.
constexpr size_t kLineSlots = 8;
// The two sides of a queue wake each other in batches of this many lines: a
// waiting worker when this many lines are queued (or the queue is closed),
// the waiting page thread when this many slots are free. Waking per line
// costs a context switch per line, a large share of a line's conversion.
constexpr size_t kWakeBatch = 4;
static_assert(kWakeBatch >= 1 && kWakeBatch <= kLineSlots);

// Counts the page's lineReady calls, so that the page thread can wait for
// the lines the engine still owes before it ends the instances.
struct PlacementCounter {
  std::mutex mutex;
  std::condition_variable changed;
  uint64_t placed = 0;  // guarded by mutex

  void add() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      ++placed;
    }
    changed.notify_all();
  }

  void waitFor(uint64_t target, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait_for(lock, timeout, [&] { return placed >= target; });
  }
};

// Placement state of one engine instance, reached by that instance's
// argument-less callbacks. The page thread sets it before the page's engine
// set-up and clears it after EndZARVEL. In between only the thread on which
// the engine calls the instance's lineReady touches the cursor and the flag:
// the instance's line worker, or the page thread (EndZARVEL, or an instance
// converted on the page thread), never two at once.
struct alignas(64) InstancePlacement {
  unsigned char* outputLine = nullptr;  // the instance's engine output line
  PlaneBuffers* planes = nullptr;
  PlacementCounter* counter = nullptr;
  int instance = 0;
  bool backwardFill = false;
  size_t printableBytes = 0;  // grayscale line length taken from the engine
  int64_t cursor = 0;         // forward: next plane line; backward: last one written
  bool firstLinePlaced = false;
};

// One entry per instance index; only one page is rendered at a time. Each
// entry has cache lines of its own: four workers move their cursors at once.
std::array<InstancePlacement, kEngineInstances> placementState;

// Lays the instance's converted line into the planes and moves its cursor.
void placeLine(InstancePlacement& s) {
  if (!s.planes || !s.outputLine) return;  // a call outside a page has nowhere to go
  PlaneBuffers& planes = *s.planes;

  int64_t line;
  if (!s.backwardFill) {
    if (!s.firstLinePlaced) s.cursor += s.instance;
    line = s.cursor;
    s.cursor += kEngineInstances;
  } else {
    s.cursor -= s.firstLinePlaced ? kEngineInstances : s.instance + 1;
    line = s.cursor;
  }
  s.firstLinePlaced = true;

  // An engine that calls back more often than it was given lines finds no
  // plane line to write; nothing outside the planes is ever touched.
  if (line >= 0 && static_cast<uint64_t>(line) < planes.lines) {
    size_t bytesPerLine = planes.bytesPerLine;
    size_t offset = static_cast<size_t>(line) * bytesPerLine;
    if (planes.planeCount == 4) {
      for (int p = 0; p < 4; ++p)
        memcpy(planes.plane[p].data() + offset, s.outputLine + p * bytesPerLine, bytesPerLine);
    } else {
      // The turned line's dots sit at the end of the engine's line.
      size_t n = s.printableBytes;
      const unsigned char* from = s.backwardFill ? s.outputLine + bytesPerLine - n : s.outputLine;
      memcpy(planes.plane[kBlackPlane].data() + offset, from, n);
    }
    if (planes.stream) planes.stream->linePlaced(static_cast<size_t>(line));
  }
  if (s.counter) s.counter->add();
}

template <int K>
unsigned char* getOutputLineOf() {
  return placementState[K].outputLine;
}

template <int K>
int lineReadyOf() {
  placeLine(placementState[K]);
  return 0;
}

constexpr std::array<GetOutputLineFn, kEngineInstances> kGetOutputLine = {
    &getOutputLineOf<0>, &getOutputLineOf<1>, &getOutputLineOf<2>, &getOutputLineOf<3>};
constexpr std::array<LineReadyFn, kEngineInstances> kLineReady = {
    &lineReadyOf<0>, &lineReadyOf<1>, &lineReadyOf<2>, &lineReadyOf<3>};

// One raster line handed to a line worker.
struct LineJob {
  cups_raster_t* raster = nullptr;
  cups_page_header2_t header{};
  unsigned char* line = nullptr;
  std::atomic<uint8_t>* pageHasContent = nullptr;
  ppd_file_t* ppd = nullptr;
  void* reserved = nullptr;  // the engine's third argument, always null
  int lineNumber = 0;        // y / 4
  int handle = -1;
};

// What all lines of a page share: fixed before the first worker starts, then only read.
struct LinePage {
  const EngineLibrary* library = nullptr;
  PageLoop loop = PageLoop::Simplex;
  size_t pixelBytes = 3;
  size_t lineWidth = 0;
  bool saveBlankSheet = false;
  bool mirror = false;
};

struct LineSlot {
  std::vector<unsigned char> buffer;  // one raster line, white beyond what was read
  LineJob job;
};

// One engine instance of a page: its output line, its queue of raster lines
// and its line worker. Instances sit on cache lines of their own, so that
// one worker's queue traffic does not disturb its neighbours'.
struct alignas(64) EngineInstance {
  std::vector<unsigned char> outputLine;
  std::vector<unsigned char> scratch;  // the mirrored line, used by one thread at a time
  std::array<LineSlot, kLineSlots> slots;

  // The queue: slots head .. head + queued - 1 (cyclic) hold lines for the
  // worker, in line order. Guarded by mutex; the slot contents belong to the
  // page thread while free and to the worker while queued. Each side says
  // when it waits, so that the other wakes it only when there is a batch.
  std::mutex mutex;
  std::condition_variable linesQueued;  // the worker waits here
  std::condition_variable slotsFreed;   // the page thread waits here
  size_t head = 0;
  size_t queued = 0;
  bool closed = false;
  bool workerWaiting = false;
  bool pageThreadWaiting = false;

  std::thread worker;
  bool workerStarted = false;
};

// Sets the page's content flag unless the page may be dropped as blank and
// the line is white. A pixel is white when every byte of it is 0xFF, so a
// line has a non-white pixel exactly when it has a byte other than 0xFF.
void testForContent(const LinePage& page, const LineJob& job) {
  std::atomic<uint8_t>& pageHasContent = *job.pageHasContent;
  if (pageHasContent.load(std::memory_order_relaxed)) return;
  if (!page.saveBlankSheet) {
    pageHasContent.store(1, std::memory_order_relaxed);
    return;
  }
  constexpr size_t kChunk = 192;
  size_t length = page.lineWidth * page.pixelBytes;
  for (size_t start = 0; start < length; start += kChunk) {
    size_t end = std::min(length, start + kChunk);
    for (size_t i = start; i < end; ++i) {
      if (job.line[i] != 0xFF) {
        pageHasContent.store(1, std::memory_order_relaxed);
        return;
      }
    }
    // Another worker may have found content meanwhile: no need to look further.
    if (pageHasContent.load(std::memory_order_relaxed)) return;
  }
}

// Converts one raster line: content test, mirroring, then the engine.
void convertLine(const LinePage& page, LineJob& job, std::vector<unsigned char>& scratch) {
  if (page.loop == PageLoop::Duplex) logLine(kDuplexLineRead);
  testForContent(page, job);

  unsigned char* line = job.line;
  if (page.mirror) {
    size_t width = page.lineWidth;
    size_t bytes = page.pixelBytes;
    for (size_t j = 0; j < width; ++j)
      memcpy(scratch.data() + j * bytes, job.line + (width - 1 - j) * bytes, bytes);
    line = scratch.data();
  }
  page.library->pfZARVEL(job.handle, line, job.reserved, 1, job.lineNumber);
}

// A line worker: converts its instance's queued lines in order until the
// queue is closed and empty.
// An empty queue is waited on until a batch of lines is there; the page
// thread never waits on a queue that holds less than a batch, so a worker
// with fewer lines queued always gets more, or the close.
void runLineWorker(const LinePage& page, EngineInstance& instance) {
  std::unique_lock<std::mutex> lock(instance.mutex);
  for (;;) {
    if (instance.queued == 0 && !instance.closed) {
      instance.workerWaiting = true;
      instance.linesQueued.wait(
          lock, [&] { return instance.queued >= kWakeBatch || instance.closed; });
      instance.workerWaiting = false;
    }
    if (instance.queued == 0) return;
    LineSlot& slot = instance.slots[instance.head];
    lock.unlock();
    convertLine(page, slot.job, instance.scratch);
    lock.lock();
    instance.head = (instance.head + 1) % kLineSlots;
    --instance.queued;
    if (instance.pageThreadWaiting && instance.queued <= kLineSlots - kWakeBatch)
      instance.slotsFreed.notify_one();
  }
}

// Waits for a free slot of a started worker's queue; a full queue is waited
// on until a batch of slots is free.
LineSlot& freeSlot(EngineInstance& instance) {
  std::unique_lock<std::mutex> lock(instance.mutex);
  if (instance.queued == kLineSlots) {
    instance.pageThreadWaiting = true;
    instance.slotsFreed.wait(lock, [&] { return instance.queued <= kLineSlots - kWakeBatch; });
    instance.pageThreadWaiting = false;
  }
  return instance.slots[(instance.head + instance.queued) % kLineSlots];
}

void enqueue(EngineInstance& instance) {
  std::lock_guard<std::mutex> lock(instance.mutex);
  ++instance.queued;
  if (instance.workerWaiting && instance.queued >= kWakeBatch) instance.linesQueued.notify_one();
}

// Closes the queues and joins the workers that were started; also on the
// way out of an exception, since a joinable thread must never be destroyed.
struct WorkerCrew {
  std::array<EngineInstance, kEngineInstances>& instances;

  void closeQueues() {
    for (EngineInstance& instance : instances) {
      {
        std::lock_guard<std::mutex> lock(instance.mutex);
        instance.closed = true;
      }
      instance.linesQueued.notify_all();
    }
  }

  void join() {
    closeQueues();
    for (EngineInstance& instance : instances) {
      if (instance.workerStarted) {
        instance.worker.join();
        instance.workerStarted = false;
      }
    }
  }

  ~WorkerCrew() { join(); }
};

// Unbinds the callbacks from the page's buffers when the page ends.
struct PlacementBinding {
  ~PlacementBinding() { placementState = {}; }
};

bool multiplyFits(size_t a, size_t b, size_t& product) {
  if (a != 0 && b > std::numeric_limits<size_t>::max() / a) return false;
  product = a * b;
  return true;
}

}  // namespace

bool backwardFillFor(PageLoop loop, int rotate180, int duplexMode, int pageCount) {
  if (loop == PageLoop::Simplex) return rotate180 != 0;
  bool even = pageCount % 2 == 0;
  if (rotate180) return (even && duplexMode == 1) || duplexMode == 2;
  return !even && duplexMode == 1;
}

size_t printableBytesFor(int printableWidth, int resolution, size_t bytesPerLine) {
  int64_t bytes = static_cast<int64_t>(printableWidth) * resolution / 4800 + 1;
  if (bytes < 0) return 0;
  return std::min(static_cast<size_t>(bytes), bytesPerLine);
}

RenderResult renderPage(const PageRenderRequest& request, PlaneBuffers& planes,
                        bool& hasContent) {
  hasContent = false;
  const EngineLibrary& library = *request.library;
  JobSettings& settings = *request.settings;
  const cups_page_header2_t& header = *request.header;

  // The driver refuses a library with a missing entry point before the first
  // page, with its own message; this only makes sure none is ever called.
  if (!library.canRenderPages()) return RenderResult::EngineRefused;

  bool colour = settings.colorMode != 0;
  size_t lines = header.cupsHeight;
  if (settings.lineWidth < 0) return RenderResult::AllocationFailed;
  if (!allocatePlaneBuffers(planes, settings.colorMode, settings.lineWidth, lines))
    return RenderResult::AllocationFailed;
  if (planes.stream) planes.stream->begin(planes);

  LinePage page;
  page.library = &library;
  page.loop = request.loop;
  page.pixelBytes = colour ? 3 : 1;
  page.lineWidth = static_cast<size_t>(settings.lineWidth);

  // A raster line is read whole, even when it is longer than the device line,
  // so that the stream stays in step; the engine sees its first lineWidth pixels.
  size_t inputBytes = 0;
  if (!multiplyFits(page.lineWidth, page.pixelBytes, inputBytes))
    return RenderResult::AllocationFailed;
  size_t slotBytes = std::max<size_t>(inputBytes, header.cupsBytesPerLine);
  size_t segmentBytes = (page.lineWidth + 7) / 8;
  size_t outputBytes = colour ? 4 * segmentBytes : segmentBytes;

  std::unique_ptr<std::array<EngineInstance, kEngineInstances>> instances;
  try {
    instances = std::make_unique<std::array<EngineInstance, kEngineInstances>>();
    for (EngineInstance& instance : *instances) {
      instance.outputLine.assign(outputBytes, 0);
      instance.scratch.assign(inputBytes, 0xFF);
      for (LineSlot& slot : instance.slots) slot.buffer.assign(slotBytes, 0xFF);
    }
  } catch (const std::bad_alloc&) {
    return RenderResult::AllocationFailed;
  } catch (const std::length_error&) {
    return RenderResult::AllocationFailed;
  }

  PlacementCounter counter;
  std::atomic<uint8_t> pageHasContent{0};
  PlacementBinding binding;
  for (int k = 0; k < kEngineInstances; ++k) {
    InstancePlacement& state = placementState[k];
    state = InstancePlacement{};
    state.outputLine = (*instances)[k].outputLine.data();
    state.planes = &planes;
    state.counter = &counter;
    state.instance = k;
  }

  EnginePage enginePage;
  if (!prepareEnginePage(library, settings, header.HWResolution[0], request.modelPath,
                         kGetOutputLine, kLineReady, request.afterScreenThreads, enginePage))
    return RenderResult::EngineRefused;

  // rotate180 has been read during the set-up; now the direction is known.
  bool backwardFill = backwardFillFor(request.loop, settings.rotate180, settings.duplexMode,
                                      request.pageCount);
  size_t printableBytes = printableBytesFor(settings.printableWidth, settings.resolution,
                                            planes.bytesPerLine);
  for (InstancePlacement& state : placementState) {
    state.backwardFill = backwardFill;
    state.printableBytes = printableBytes;
    state.cursor = backwardFill ? static_cast<int64_t>(lines) : 0;
    state.firstLinePlaced = false;
  }
  page.saveBlankSheet = request.ppd && saveBlankSheet(request.ppd);
  page.mirror = backwardFill;

  for (int k = 0; k < kEngineInstances; ++k) {
    for (LineSlot& slot : (*instances)[k].slots) {
      slot.job.raster = request.raster;
      slot.job.header = header;
      slot.job.line = slot.buffer.data();
      slot.job.pageHasContent = &pageHasContent;
      slot.job.ppd = request.ppd;
      slot.job.reserved = nullptr;
      slot.job.handle = enginePage.handles[k];
    }
  }

  WorkerCrew crew{*instances};
  for (int k = 0; k < kEngineInstances && static_cast<size_t>(k) < lines; ++k) {
    if (!(request.lineWorkerMask & (1u << k))) continue;
    EngineInstance& instance = (*instances)[k];
    try {
      instance.worker = startWorkerThread(runLineWorker, std::cref(page), std::ref(instance));
      instance.workerStarted = true;
    } catch (const std::system_error&) {
      // This instance's lines are converted on the page thread instead.
    }
  }

  const char* progress = request.loop == PageLoop::Duplex ? kDuplexProgress : kSimplexProgress;
  bool readFailed = false;
  for (size_t y = 0; y < lines; ++y) {
    if (y % kProgressEvery == 0) {
      int percent = static_cast<int>(static_cast<uint64_t>(y) * 100 / lines);
      fprintf(stderr, progress, request.pageCount, percent);
      fprintf(stderr, kMediaProgress, percent);
    }

    EngineInstance& instance = (*instances)[y % kEngineInstances];
    LineSlot& slot = instance.workerStarted ? freeSlot(instance) : instance.slots[0];
    if (cupsRasterReadPixels(request.raster, slot.buffer.data(), header.cupsBytesPerLine) == 0) {
      // A line that could not be read prints as paper: the slot would still
      // hold a line read earlier, or a part of this one.
      logLine(kReadErrorLine);
      std::fill(slot.buffer.begin(), slot.buffer.end(), 0xFF);
      if (!readFailed) fprintf(stderr, kReadErrorStatus, request.pageCount);
      readFailed = true;
    }
    slot.job.lineNumber = static_cast<int>(y / kEngineInstances);

    if (instance.workerStarted)
      enqueue(instance);
    else
      convertLine(page, slot.job, instance.scratch);
  }

  // Let the engine deliver the lines it still owes, then stop the workers
  // and end the instances, which flushes whatever is left.
  crew.closeQueues();
  counter.waitFor(lines, std::chrono::milliseconds(std::max(0, request.placementWaitMs)));
  crew.join();
  endEnginePage(library, enginePage);

  hasContent = pageHasContent.load(std::memory_order_relaxed) != 0;
  return RenderResult::Ok;
}
