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
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>

#include "imaging/engine_abi.h"
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

// Pages that can be rendered at once in one process.
inline constexpr int kConcurrentPages = 8;
inline constexpr int kCallbackSlots = kConcurrentPages * kEngineInstances;

// Four callback slots held by one page, given back when it dies.
class CallbackSlots {
 public:
  // Waits until four slots are free and takes them.
  CallbackSlots();
  ~CallbackSlots();
  CallbackSlots(const CallbackSlots&) = delete;
  CallbackSlots& operator=(const CallbackSlots&) = delete;

  // The placement state of the page's instance k (0..3).
  InstancePlacement& placement(int k) const;
  const std::array<GetOutputLineFn, kEngineInstances>& getOutputLine() const {
    return getOutputLine_;
  }
  const std::array<LineReadyFn, kEngineInstances>& lineReady() const { return lineReady_; }

 private:
  std::array<int, kEngineInstances> slots_{};
  std::array<GetOutputLineFn, kEngineInstances> getOutputLine_{};
  std::array<LineReadyFn, kEngineInstances> lineReady_{};
};

// Lays an instance's converted line into the planes and moves its cursor.
void placeLine(InstancePlacement& placement);
