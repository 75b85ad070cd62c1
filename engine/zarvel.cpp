// The library's nine entry points over a table of instances.
//
// An instance is created by InitZARVEL, prepared by StartAdjustJob,
// UpdateScreenThread and UpdateScreenTonerTRC, converts lines with ZARVEL and
// is released by EndZARVEL, after which its handle may be handed out again.
// Each instance is used by one thread at a time; different instances run in
// parallel. Only the handle table is shared: its slots are atomic pointers,
// written under tableMutex by InitZARVEL and EndZARVEL, and read without a
// lock by the other entry points. Pages of different jobs can therefore be
// converted at once, as many as the table has instances for; the library
// says so through ZeruConcurrentPages.
#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

#include "engine/engine_internal.h"

#define ZERU_EXPORT extern "C" __attribute__((visibility("default")))

namespace zeru::engine {
namespace {

// Results of the entry points. Negative means refused.
constexpr int kOk = 0;
constexpr int kBadArgument = -1;
constexpr int kBadHandle = -2;
constexpr int kNoRoom = -3;

struct Instance {
  GetOutputLineFn getOutputLine = nullptr;
  LineReadyFn lineReady = nullptr;
  InstanceConfig config;
  Adjustments adjust;
  int tonerMode = 0;
  ToneTables tables;
  std::array<ScreenTile, 4> screens;
  // Line n of this instance is device line n * threadCount + threadIndex.
  int threadCount = 1;
  int threadIndex = 0;
  // Scratch lines: colourant amounts (one per plane) and a threshold row.
  std::vector<uint8_t> amounts;
  std::vector<uint8_t> thresholds;
};

constexpr int kMaxInstances = 256;

std::mutex tableMutex;
std::atomic<Instance*> instanceTable[kMaxInstances];

Instance* findInstance(int handle) {
  if (handle < 0 || handle >= kMaxInstances) return nullptr;
  return instanceTable[handle].load(std::memory_order_acquire);
}

int initInstance(EngineSetup* setup) {
  if (setup == nullptr) return kBadArgument;
  InstanceConfig config;
  if (!decodeSetup(*setup, config)) return kBadArgument;

  std::unique_ptr<Instance> instance(new (std::nothrow) Instance);
  if (!instance) return kNoRoom;
  try {
    instance->getOutputLine = setup->getOutputLine;
    instance->lineReady = setup->lineReady;
    instance->config = config;
    instance->tables = buildToneTables(config, instance->adjust, instance->tonerMode);
    instance->screens = buildScreens(config.resolution, config.screenMode);
    instance->amounts.assign(static_cast<size_t>(config.lineWidth) * (config.colour ? 4 : 1), 0);
    instance->thresholds.assign(config.lineWidth, 0);
  } catch (const std::bad_alloc&) {
    return kNoRoom;
  }

  std::lock_guard<std::mutex> lock(tableMutex);
  for (int handle = 0; handle < kMaxInstances; ++handle) {
    if (instanceTable[handle].load(std::memory_order_relaxed) == nullptr) {
      instanceTable[handle].store(instance.release(), std::memory_order_release);
      return handle;
    }
  }
  return kNoRoom;
}

int endInstance(int handle) {
  if (handle < 0 || handle >= kMaxInstances) return kBadHandle;
  Instance* instance;
  {
    std::lock_guard<std::mutex> lock(tableMutex);
    instance = instanceTable[handle].exchange(nullptr, std::memory_order_acq_rel);
  }
  if (instance == nullptr) return kBadHandle;
  delete instance;
  return kOk;
}

int convertLine(int handle, const unsigned char* line, int lines, int lineNumber) {
  Instance* instance = findInstance(handle);
  if (instance == nullptr) return kBadHandle;
  if (line == nullptr || lines != 1 || lineNumber < 0) return kBadArgument;
  unsigned char* out = instance->getOutputLine();
  if (out == nullptr) return kBadArgument;

  const size_t width = instance->config.lineWidth;
  const size_t bytesPerLine = width / 8;
  const int64_t deviceLine = static_cast<int64_t>(lineNumber) * instance->threadCount + instance->threadIndex;
  uint8_t* amounts = instance->amounts.data();
  uint8_t* thresholds = instance->thresholds.data();
  if (instance->config.colour) {
    separateColourLine(instance->tables, instance->config.grayGuarantee, line, width, amounts, amounts + width,
                       amounts + 2 * width, amounts + 3 * width);
    for (int plane = 0; plane < 4; ++plane) {
      fillThresholdRow(instance->screens[plane], deviceLine, thresholds, width);
      packDots(amounts + plane * width, thresholds, width, out + plane * bytesPerLine);
    }
  } else {
    separateGrayLine(instance->tables, line, width, amounts);
    fillThresholdRow(instance->screens[kBlack], deviceLine, thresholds, width);
    packDots(amounts, thresholds, width, out);
  }
  instance->lineReady();
  return kOk;
}

}  // namespace
}  // namespace zeru::engine

using namespace zeru::engine;

ZERU_EXPORT int InitZARVEL(EngineSetup* setup) { return initInstance(setup); }

ZERU_EXPORT int CreateZARVEL(int handle) { return findInstance(handle) != nullptr ? kOk : kBadHandle; }

ZERU_EXPORT int EndZARVEL(int handle) { return endInstance(handle); }

// Colour matching is fixed in this library; the call is accepted and does nothing.
ZERU_EXPORT int StartColorAdjust(int handle, void* /*unused*/) {
  return findInstance(handle) != nullptr ? kOk : kBadHandle;
}

ZERU_EXPORT int StartAdjustJob(int handle, AdjustRecord* adjust) {
  Instance* instance = findInstance(handle);
  if (instance == nullptr) return kBadHandle;
  if (adjust == nullptr) return kBadArgument;
  instance->adjust = decodeAdjustRecord(*adjust);
  instance->tables = buildToneTables(instance->config, instance->adjust, instance->tonerMode);
  return kOk;
}

ZERU_EXPORT int UpdateScreenThread(int handle, int instances, int index) {
  Instance* instance = findInstance(handle);
  if (instance == nullptr) return kBadHandle;
  if (instances < 1 || instances > kMaxInstances || index < 0 || index >= instances) return kBadArgument;
  instance->threadCount = instances;
  instance->threadIndex = index;
  return kOk;
}

// The screens' tone response is built in; the call is accepted and does nothing.
ZERU_EXPORT int UpdateScreenTRC(int handle, int /*a*/, int /*b*/) {
  return findInstance(handle) != nullptr ? kOk : kBadHandle;
}

ZERU_EXPORT int UpdateScreenTonerTRC(int handle, int tonerMode, int /*zero*/) {
  Instance* instance = findInstance(handle);
  if (instance == nullptr) return kBadHandle;
  if (tonerMode < 0 || tonerMode > 3) return kBadArgument;
  instance->tonerMode = tonerMode;
  instance->tables = buildToneTables(instance->config, instance->adjust, instance->tonerMode);
  return kOk;
}

ZERU_EXPORT int ZARVEL(int handle, unsigned char* line, void* /*reserved*/, int one, int lineNumber) {
  return convertLine(handle, line, one, lineNumber);
}

// Each page takes four instances; nothing else is shared between pages.
ZERU_EXPORT int ZeruConcurrentPages(void) { return kMaxInstances / 4; }
