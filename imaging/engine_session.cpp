#include "imaging/engine_session.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <utility>

#include "imaging/plane_buffers.h"

namespace {

// The slot table: the one datum of the printing core that is the process's
// rather than a job's, since the library's callbacks take no arguments. Each
// entry sits on cache lines of its own: four workers move their cursors at once.
std::array<InstancePlacement, kCallbackSlots> slotTable;

// Which slots are taken; guarded by slotMutex.
std::mutex slotMutex;
std::condition_variable slotFreed;
std::array<bool, kCallbackSlots> slotTaken{};

template <int K>
unsigned char* getOutputLineOf() {
  return slotTable[K].outputLine;
}

template <int K>
int lineReadyOf() {
  placeLine(slotTable[K]);
  return 0;
}

template <int... K>
constexpr std::array<GetOutputLineFn, kCallbackSlots> getOutputLineTable(
    std::integer_sequence<int, K...>) {
  return {&getOutputLineOf<K>...};
}

template <int... K>
constexpr std::array<LineReadyFn, kCallbackSlots> lineReadyTable(std::integer_sequence<int, K...>) {
  return {&lineReadyOf<K>...};
}

constexpr auto kGetOutputLine = getOutputLineTable(std::make_integer_sequence<int, kCallbackSlots>{});
constexpr auto kLineReady = lineReadyTable(std::make_integer_sequence<int, kCallbackSlots>{});

bool enoughSlotsFree() {
  int count = 0;
  for (bool taken : slotTaken) count += taken ? 0 : 1;
  return count >= kEngineInstances;
}

// Pages holding slots, per library; guarded by slotMutex. A library is known
// by its InitZARVEL entry, so that two loads of one file count together.
// Each page holds slots, so no more libraries than pages can be in use.
struct LibraryPages {
  InitZARVELFn library = nullptr;
  int pages = 0;
};
std::array<LibraryPages, kConcurrentPages> pagesInFlight{};

int pagesOf(InitZARVELFn library) {
  for (const LibraryPages& entry : pagesInFlight)
    if (entry.pages > 0 && entry.library == library) return entry.pages;
  return 0;
}

void countPage(InitZARVELFn library, int change) {
  for (LibraryPages& entry : pagesInFlight) {
    if (entry.pages > 0 && entry.library == library) {
      entry.pages += change;
      return;
    }
  }
  for (LibraryPages& entry : pagesInFlight) {
    if (entry.pages == 0) {
      entry = LibraryPages{library, change};
      return;
    }
  }
}

// How often a waiting page asks whether its job has been cancelled: the
// cancel predicate is a plain function that cannot wake the wait.
constexpr std::chrono::milliseconds kCancelPoll{50};

}  // namespace

int pageLimitFor(const EngineLibrary& library) {
  return std::clamp(library.concurrentPages, 1, kConcurrentPages);
}

SlotWait CallbackSlots::take(const EngineLibrary& library, std::chrono::milliseconds timeout,
                             const std::function<bool()>& cancelled) {
  using std::chrono::duration_cast;
  using std::chrono::milliseconds;
  using std::chrono::steady_clock;

  release();
  const InitZARVELFn key = library.pfInitZARVEL;
  const int limit = pageLimitFor(library);
  const steady_clock::time_point start = steady_clock::now();
  std::unique_lock<std::mutex> lock(slotMutex);
  auto mayTake = [&] { return enoughSlotsFree() && pagesOf(key) < limit; };
  while (!mayTake()) {
    milliseconds waited = duration_cast<milliseconds>(steady_clock::now() - start);
    if (waited >= timeout) return SlotWait::TimedOut;
    if (cancelled) {
      // The predicate is the front end's: it is not called under the pool's lock.
      lock.unlock();
      bool stop = cancelled();
      lock.lock();
      if (stop) return SlotWait::Cancelled;
      if (mayTake()) break;
    }
    slotFreed.wait_for(lock, std::min(kCancelPoll, timeout - waited));
  }

  int k = 0;
  for (int slot = 0; slot < kCallbackSlots && k < kEngineInstances; ++slot) {
    if (slotTaken[slot]) continue;
    slotTaken[slot] = true;
    slots_[k] = slot;
    getOutputLine_[k] = kGetOutputLine[slot];
    lineReady_[k] = kLineReady[slot];
    slotTable[slot] = InstancePlacement{};
    ++k;
  }
  countPage(key, +1);
  library_ = key;
  held_ = true;
  return SlotWait::Taken;
}

void CallbackSlots::release() {
  if (!held_) return;
  {
    std::lock_guard<std::mutex> lock(slotMutex);
    for (int slot : slots_) {
      // A call outside the page finds nowhere to place its line.
      slotTable[slot] = InstancePlacement{};
      slotTaken[slot] = false;
    }
    countPage(library_, -1);
  }
  held_ = false;
  slotFreed.notify_all();
}

CallbackSlots::~CallbackSlots() { release(); }

CallbackSlots::CallbackSlots(CallbackSlots&& other) noexcept { *this = std::move(other); }

CallbackSlots& CallbackSlots::operator=(CallbackSlots&& other) noexcept {
  if (this != &other) {
    release();
    held_ = std::exchange(other.held_, false);
    library_ = other.library_;
    slots_ = other.slots_;
    getOutputLine_ = other.getOutputLine_;
    lineReady_ = other.lineReady_;
  }
  return *this;
}

InstancePlacement& CallbackSlots::placement(int k) const { return slotTable[slots_[k]]; }

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
