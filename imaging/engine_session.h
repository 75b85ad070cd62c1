// The colour library's callbacks, shared by every page rendered in the
// process.
//
// The library hands each converted line back through two callbacks that
// take no arguments, bound to one engine instance each. A callback can only
// tell which page its line belongs to by which function it is: the process
// has a fixed pool of callback slots, each a pair of functions bound at
// compile time to one entry of the slot table. A page takes four slots for
// its life and gives them back, so that pages of different jobs rendered at
// the same time in one process never share a slot.
//
// The pool is also where the library's own page limit is kept: a library
// not known to be safe for pages converted at once gets one page at a time,
// the others wait for their turn.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>

#include "imaging/engine_abi.h"
#include "imaging/engine_loader.h"
#include "imaging/engine_setup.h"

struct PlaneBuffers;

// Counts a page's lineReady calls, so that the page thread can wait for the
// lines the engine still owes before it ends the instances.
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

// Where one instance's converted lines go. Set by the page that holds the
// slot before its engine set-up and cleared after EndZARVEL. In between only
// the thread on which the engine calls the instance's lineReady touches the
// cursor and the flag: the instance's line worker, or the page thread
// (EndZARVEL, or an instance converted on the page thread), never two at once.
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

// Pages that can be rendered at once in one process, whatever the library
// allows.
inline constexpr int kConcurrentPages = 8;
inline constexpr int kCallbackSlots = kConcurrentPages * kEngineInstances;

// How a wait for a page's slots ended.
enum class SlotWait {
  Taken,      // the page holds its four slots
  TimedOut,   // other pages held them for the whole wait
  Cancelled,  // the cancel predicate said so while waiting
};

// Pages of `library` that may render at once: its own limit, never more
// than the slots allow, never less than one.
int pageLimitFor(const EngineLibrary& library);

// Four callback slots held by one page, given back when it dies.
class CallbackSlots {
 public:
  // Holds no slots until take() succeeds.
  CallbackSlots() = default;
  ~CallbackSlots();
  CallbackSlots(CallbackSlots&& other) noexcept;
  CallbackSlots& operator=(CallbackSlots&& other) noexcept;
  CallbackSlots(const CallbackSlots&) = delete;
  CallbackSlots& operator=(const CallbackSlots&) = delete;

  // Takes four slots for a page of `library` once four are free and fewer
  // than pageLimitFor(library) of its pages hold slots. When that is not so
  // at once, waits at most `timeout`, asking `cancelled` (when set) every
  // few tens of milliseconds. Holds nothing unless it returns Taken.
  SlotWait take(const EngineLibrary& library, std::chrono::milliseconds timeout,
                const std::function<bool()>& cancelled);
  bool held() const { return held_; }

  // The placement state of the page's instance k (0..3); only while held.
  InstancePlacement& placement(int k) const;
  const std::array<GetOutputLineFn, kEngineInstances>& getOutputLine() const {
    return getOutputLine_;
  }
  const std::array<LineReadyFn, kEngineInstances>& lineReady() const { return lineReady_; }

 private:
  void release();

  bool held_ = false;
  InitZARVELFn library_ = nullptr;  // the library its page is counted under
  std::array<int, kEngineInstances> slots_{};
  std::array<GetOutputLineFn, kEngineInstances> getOutputLine_{};
  std::array<LineReadyFn, kEngineInstances> lineReady_{};
};

// Lays an instance's converted line into the planes and moves its cursor.
void placeLine(InstancePlacement& placement);
