#include "imaging/page_renderer.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "imaging/engine_session.h"
#include "imaging/engine_setup.h"
#include "imaging/worker_thread.h"

namespace {

// Raster lines queued per instance: enough for the page thread to read ahead
// while the worker converts, small enough to stay a few lines of memory.
constexpr size_t kLineSlots = 8;
// The two sides of a queue wake each other in batches of this many lines: a
// waiting worker when this many lines are queued (or the queue is closed),
// the waiting page thread when this many slots are free. Waking per line
// costs a context switch per line, a large share of a line's conversion.
constexpr size_t kWakeBatch = 4;
static_assert(kWakeBatch >= 1 && kWakeBatch <= kLineSlots);

// One raster line handed to a line worker.
struct LineJob {
  unsigned char* line = nullptr;
  std::atomic<uint8_t>* pageHasContent = nullptr;
  void* reserved = nullptr;  // the engine's third argument, always null
  int lineNumber = 0;        // y / 4
  int handle = -1;
};

// What all lines of a page share: fixed before the first worker starts, then only read.
struct LinePage {
  const EngineLibrary* library = nullptr;
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

bool multiplyFits(size_t a, size_t b, size_t& product) {
  if (a != 0 && b > std::numeric_limits<size_t>::max() / a) return false;
  product = a * b;
  return true;
}

}  // namespace

// One page between begin() and end(). Members are declared so that they die
// in a safe order: the workers (inside the instances) are joined by the
// destructor before anything they touch goes.
struct PageRenderer::Page {
  explicit Page(CallbackSlots&& slots) : callbacks(std::move(slots)) {}

  PageRenderOptions pageOptions;
  LinePage line;
  CallbackSlots callbacks;
  PlacementCounter counter;
  std::atomic<uint8_t> pageHasContent{0};
  std::array<EngineInstance, kEngineInstances> instances;
  EnginePage enginePage;
  bool engineReady = false;
  size_t lines = 0;
  size_t pushed = 0;
  LineSlot* current = nullptr;

  void closeQueues() {
    for (EngineInstance& instance : instances) {
      {
        std::lock_guard<std::mutex> lock(instance.mutex);
        instance.closed = true;
      }
      instance.linesQueued.notify_all();
    }
  }

  void joinWorkers() {
    closeQueues();
    for (EngineInstance& instance : instances) {
      if (instance.workerStarted) {
        instance.worker.join();
        instance.workerStarted = false;
      }
    }
  }

  // Lets the engine deliver the lines it still owes, then stops the workers
  // and ends the instances, which flushes whatever is left.
  void finish() {
    closeQueues();
    if (engineReady)
      counter.waitFor(pushed, std::chrono::milliseconds(std::max(0, pageOptions.placementWaitMs)));
    joinWorkers();
    if (engineReady) endEnginePage(*pageOptions.library, enginePage);
    engineReady = false;
  }
};

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

PageRenderer::PageRenderer() = default;

PageRenderer::~PageRenderer() {
  if (page_) page_->finish();
}

RenderResult PageRenderer::begin(const PageRenderOptions& pageOptions, PlaneBuffers& planes) {
  if (page_) end();
  const EngineLibrary& library = *pageOptions.library;
  JobSettings& settings = *pageOptions.settings;
  const zeru::PageHeader& header = *pageOptions.header;

  // The driver refuses a library with a missing entry point before the first
  // page, with its own message; this only makes sure none is ever called.
  if (!library.canRenderPages()) return RenderResult::EngineRefused;

  // The page's turn comes first: a page that waits holds no memory and no
  // thread, and one that gives up leaves nothing behind.
  CallbackSlots callbacks;
  switch (callbacks.take(library, pageOptions.slotWait, pageOptions.cancelled)) {
    case SlotWait::Taken:
      break;
    case SlotWait::TimedOut:
      return RenderResult::Busy;
    case SlotWait::Cancelled:
      return RenderResult::Cancelled;
  }

  bool colour = settings.colorMode != 0;
  size_t lines = header.height;
  if (settings.lineWidth < 0) return RenderResult::AllocationFailed;
  if (!allocatePlaneBuffers(planes, settings.colorMode, settings.lineWidth, lines))
    return RenderResult::AllocationFailed;
  if (planes.stream) planes.stream->begin(planes);

  LinePage linePage;
  linePage.library = &library;
  linePage.pixelBytes = colour ? 3 : 1;
  linePage.lineWidth = static_cast<size_t>(settings.lineWidth);
  linePage.saveBlankSheet = pageOptions.saveBlankSheet;

  // A raster line is taken whole, even when it is longer than the device
  // line; the engine sees its first lineWidth pixels.
  size_t inputBytes = 0;
  if (!multiplyFits(linePage.lineWidth, linePage.pixelBytes, inputBytes))
    return RenderResult::AllocationFailed;
  size_t slotBytes = std::max<size_t>(inputBytes, header.bytesPerLine);
  size_t segmentBytes = (linePage.lineWidth + 7) / 8;
  size_t outputBytes = colour ? 4 * segmentBytes : segmentBytes;

  std::unique_ptr<Page> page;
  try {
    page = std::make_unique<Page>(std::move(callbacks));
    for (EngineInstance& instance : page->instances) {
      instance.outputLine.assign(outputBytes, 0);
      instance.scratch.assign(inputBytes, 0xFF);
      for (LineSlot& slot : instance.slots) slot.buffer.assign(slotBytes, 0xFF);
    }
  } catch (const std::bad_alloc&) {
    return RenderResult::AllocationFailed;
  } catch (const std::length_error&) {
    return RenderResult::AllocationFailed;
  }
  page->pageOptions = pageOptions;
  page->lines = lines;

  for (int k = 0; k < kEngineInstances; ++k) {
    InstancePlacement& state = page->callbacks.placement(k);
    state = InstancePlacement{};
    state.outputLine = page->instances[k].outputLine.data();
    state.planes = &planes;
    state.counter = &page->counter;
    state.instance = k;
  }

  if (!prepareEnginePage(library, settings, header.hwResolution[0], pageOptions.modelPath,
                         page->callbacks.getOutputLine(), page->callbacks.lineReady(),
                         pageOptions.afterScreenThreads, page->enginePage))
    return RenderResult::EngineRefused;
  page->engineReady = true;

  // rotate180 has been read during the set-up; now the direction is known.
  bool backwardFill =
      backwardFillFor(pageOptions.loop, settings.rotate180, settings.duplexMode, pageOptions.pageCount);
  // The page is placed at the resolution it was rasterised at, as its
  // device line and the engine's set-up are.
  size_t printableBytes = printableBytesFor(
      settings.printableWidth, static_cast<int>(header.hwResolution[0]), planes.bytesPerLine);
  for (int k = 0; k < kEngineInstances; ++k) {
    InstancePlacement& state = page->callbacks.placement(k);
    state.backwardFill = backwardFill;
    state.printableBytes = printableBytes;
    state.cursor = backwardFill ? static_cast<int64_t>(lines) : 0;
    state.firstLinePlaced = false;
  }
  linePage.mirror = backwardFill;
  page->line = linePage;

  for (int k = 0; k < kEngineInstances; ++k) {
    for (LineSlot& slot : page->instances[k].slots) {
      slot.job.line = slot.buffer.data();
      slot.job.pageHasContent = &page->pageHasContent;
      slot.job.reserved = nullptr;
      slot.job.handle = page->enginePage.handles[k];
    }
  }

  for (int k = 0; k < kEngineInstances && static_cast<size_t>(k) < lines; ++k) {
    if (!(pageOptions.lineWorkerMask & (1u << k))) continue;
    EngineInstance& instance = page->instances[k];
    try {
      instance.worker =
          startWorkerThread(runLineWorker, std::cref(page->line), std::ref(instance));
      instance.workerStarted = true;
    } catch (const std::system_error&) {
      // This instance's lines are converted on the page thread instead.
    }
  }
  page_ = std::move(page);
  return RenderResult::Ok;
}

std::span<unsigned char> PageRenderer::nextLine() {
  Page& page = *page_;
  EngineInstance& instance = page.instances[page.pushed % kEngineInstances];
  page.current = instance.workerStarted ? &freeSlot(instance) : &instance.slots[0];
  return page.current->buffer;
}

void PageRenderer::pushLine() {
  Page& page = *page_;
  if (!page.current) nextLine();
  EngineInstance& instance = page.instances[page.pushed % kEngineInstances];
  LineSlot& slot = *page.current;
  slot.job.lineNumber = static_cast<int>(page.pushed / kEngineInstances);
  page.current = nullptr;
  ++page.pushed;
  if (instance.workerStarted)
    enqueue(instance);
  else
    convertLine(page.line, slot.job, instance.scratch);
}

bool PageRenderer::end() {
  if (!page_) return false;
  page_->finish();
  bool hasContent = page_->pageHasContent.load(std::memory_order_relaxed) != 0;
  page_.reset();
  return hasContent;
}
