// Deterministic test engine: the colour library's nine entry points with a
// conversion simple enough for tests to predict every dot, and a record of
// every call.
//
// Conversion (one bit per dot, most significant bit leftmost):
//   colour lines (colourLayout 2, 3 bytes per pixel), segments C, M, Y, K:
//     all three channels < 128 -> K only; else C if R < 128, M if G < 128,
//     Y if B < 128;
//   grayscale lines (colourLayout 1, 1 byte per pixel), one K segment:
//     K if the byte < 128.
// Each segment is lineWidth / 8 bytes. A converted line is written into the
// buffer getOutputLine returns and announced with lineReady before ZARVEL
// returns.
//
// Call log: when ZERU_TEST_ENGINE_LOG names a file, every call appends one
// line (opened, written and closed per line): the entry point's name, then
// tab-separated key=value fields, e.g.
//   InitZARVEL  result=0  setup=<160 hex digits>  renderFlags=68 ... modelPath=<text>|(null)
// The setup hex is the whole 80-byte block with the two callbacks and the
// model path pointer zeroed; the adjust hex the whole 96-byte AdjustRecord.
//
// It converts the pages of different jobs at once (ZeruConcurrentPages), as
// many as its instance table holds.
//
// Switches (environment, read at each call):
//   ZERU_TEST_ENGINE_REFUSE_INIT=1       InitZARVEL returns -1
//   ZERU_TEST_ENGINE_REFUSE_INIT_FROM=N  InitZARVEL returns -1 from its Nth call on
//   ZERU_TEST_ENGINE_REFUSE_SCREEN=1     UpdateScreenThread returns -1
//   ZERU_TEST_ENGINE_REFUSE_SCREEN_FROM=N  the same from its Nth call on
//   ZERU_TEST_ENGINE_LATE=1              each line is delivered at the next
//                                        ZARVEL call of its instance, the last
//                                        one in EndZARVEL
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "imaging/engine_abi.h"

namespace {

constexpr int kMaxInstances = 64;

struct Instance {
  bool used = false;
  GetOutputLineFn getOutputLine = nullptr;
  LineReadyFn lineReady = nullptr;
  bool colour = true;
  unsigned lineWidth = 0;
  std::vector<uint8_t> pending;  // late mode: the converted line not yet delivered
  bool hasPending = false;
};

// The instance table. Slots are taken and freed under tableMutex; a slot's
// contents are then used by one line worker at a time (the caller's rule).
std::mutex tableMutex;
Instance instances[kMaxInstances];

std::mutex logMutex;
std::atomic<long> initCalls{0};
std::atomic<long> screenCalls{0};

bool switchOn(const char* name) {
  const char* value = getenv(name);
  return value != nullptr && std::strcmp(value, "1") == 0;
}

// True when this call (1-based count) is at or after the number in `name`.
bool refusedFrom(const char* name, long call) {
  const char* value = getenv(name);
  if (value == nullptr || *value == '\0') return false;
  long from = std::strtol(value, nullptr, 10);
  return from > 0 && call >= from;
}

void logCall(const std::string& line) {
  const char* path = getenv("ZERU_TEST_ENGINE_LOG");
  if (path == nullptr || *path == '\0') return;
  std::string text = line + "\n";
  std::lock_guard<std::mutex> lock(logMutex);
  int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  ssize_t ignored = write(fd, text.data(), text.size());
  (void)ignored;
  close(fd);
}

std::string field(const char* key, long long value) {
  return std::string("\t") + key + "=" + std::to_string(value);
}

std::string hex(const void* data, size_t length) {
  static const char digits[] = "0123456789abcdef";
  const auto* bytes = static_cast<const uint8_t*>(data);
  std::string text;
  for (size_t i = 0; i < length; ++i) {
    text += digits[bytes[i] >> 4];
    text += digits[bytes[i] & 15];
  }
  return text;
}

Instance* instanceFor(int handle) {
  if (handle < 0 || handle >= kMaxInstances) return nullptr;
  std::lock_guard<std::mutex> lock(tableMutex);
  return instances[handle].used ? &instances[handle] : nullptr;
}

void setBit(uint8_t* segment, unsigned x) {
  segment[x / 8] |= static_cast<uint8_t>(0x80u >> (x % 8));
}

// Converts one input line into its segments (see the top of the file).
std::vector<uint8_t> convertLine(const Instance& instance, const unsigned char* line) {
  const unsigned segmentBytes = instance.lineWidth / 8;
  const unsigned segments = instance.colour ? 4 : 1;
  const unsigned dots = segmentBytes * 8;
  std::vector<uint8_t> out(static_cast<size_t>(segmentBytes) * segments, 0);
  if (line == nullptr) return out;
  for (unsigned x = 0; x < dots; ++x) {
    if (instance.colour) {
      const unsigned char* p = line + 3 * static_cast<size_t>(x);
      if (p[0] < 128 && p[1] < 128 && p[2] < 128) {
        setBit(&out[3 * segmentBytes], x);
        continue;
      }
      if (p[0] < 128) setBit(&out[0], x);
      if (p[1] < 128) setBit(&out[segmentBytes], x);
      if (p[2] < 128) setBit(&out[2 * segmentBytes], x);
    } else if (line[x] < 128) {
      setBit(&out[0], x);
    }
  }
  return out;
}

void deliver(Instance& instance, const std::vector<uint8_t>& converted) {
  if (instance.getOutputLine == nullptr) return;
  unsigned char* target = instance.getOutputLine();
  if (target != nullptr) std::memcpy(target, converted.data(), converted.size());
  if (instance.lineReady != nullptr) instance.lineReady();
}

std::string dotCounts(const Instance& instance, const std::vector<uint8_t>& converted) {
  const unsigned segmentBytes = instance.lineWidth / 8;
  const unsigned segments = instance.colour ? 4 : 1;
  std::string text = "\tdots=";
  for (unsigned s = 0; s < segments; ++s) {
    long count = 0;
    for (unsigned i = 0; i < segmentBytes; ++i)
      count += __builtin_popcount(converted[s * segmentBytes + i]);
    if (s > 0) text += ",";
    text += std::to_string(count);
  }
  return text;
}

uint64_t fnv1a(const unsigned char* data, size_t length) {
  uint64_t hash = 14695981039346656037ull;
  for (size_t i = 0; i < length; ++i) {
    hash ^= data[i];
    hash *= 1099511628211ull;
  }
  return hash;
}

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int InitZARVEL(EngineSetup* setup) {
  long call = ++initCalls;
  std::string line = "InitZARVEL";
  int handle = -1;
  bool refuse = switchOn("ZERU_TEST_ENGINE_REFUSE_INIT") ||
                refusedFrom("ZERU_TEST_ENGINE_REFUSE_INIT_FROM", call);
  if (setup != nullptr && !refuse) {
    std::lock_guard<std::mutex> lock(tableMutex);
    for (int i = 0; i < kMaxInstances; ++i) {
      if (instances[i].used) continue;
      Instance& instance = instances[i];
      instance = Instance{};
      instance.used = true;
      instance.getOutputLine = setup->getOutputLine;
      instance.lineReady = setup->lineReady;
      instance.colour = setup->colourLayout != 1;
      instance.lineWidth = setup->lineWidth;
      handle = i;
      break;
    }
  }
  line += field("handle", handle) + field("result", handle);
  if (setup != nullptr) {
    EngineSetup copy;
    std::memcpy(&copy, setup, sizeof copy);
    copy.getOutputLine = nullptr;
    copy.lineReady = nullptr;
    copy.modelPath = nullptr;
    line += "\tsetup=" + hex(&copy, sizeof copy);
    line += field("renderFlags", setup->renderFlags);
    line += field("lineWidth", setup->lineWidth);
    line += field("imageType", setup->imageType);
    line += field("screenWord", setup->screenWord);
    line += field("resolutionWord", setup->resolutionWord);
    line += field("colourLayout", setup->colourLayout);
    line += field("planeLayout", setup->planeLayout);
    line += field("callbacks", (setup->getOutputLine != nullptr) + (setup->lineReady != nullptr));
    line += std::string("\tmodelPath=") + (setup->modelPath ? setup->modelPath : "(null)");
  } else {
    line += "\tsetup=(null)";
  }
  logCall(line);
  return handle;
}

__attribute__((visibility("default"))) int StartAdjustJob(int handle, AdjustRecord* adjust) {
  std::string line = "StartAdjustJob" + field("handle", handle);
  if (adjust != nullptr) {
    line += field("adjustFlags", adjust->adjustFlags);
    line += "\tadjust=" + hex(adjust, sizeof *adjust);
  } else {
    line += "\tadjust=(null)";
  }
  logCall(line);
  return 0;
}

__attribute__((visibility("default"))) int StartColorAdjust(int handle, void* unused) {
  logCall("StartColorAdjust" + field("handle", handle) +
          field("argument", unused != nullptr ? 1 : 0));
  return 0;
}

__attribute__((visibility("default"))) int CreateZARVEL(int handle) {
  logCall("CreateZARVEL" + field("handle", handle) + field("known", instanceFor(handle) != nullptr));
  return 0;
}

// Built without it as a library that lacks this entry point.
#ifndef ZERU_TEST_ENGINE_OMIT_SCREEN_THREAD
__attribute__((visibility("default"))) int UpdateScreenThread(int handle, int count, int index) {
  long call = ++screenCalls;
  bool refuse = switchOn("ZERU_TEST_ENGINE_REFUSE_SCREEN") ||
                refusedFrom("ZERU_TEST_ENGINE_REFUSE_SCREEN_FROM", call);
  int result = refuse ? -1 : 0;
  logCall("UpdateScreenThread" + field("handle", handle) + field("instances", count) +
          field("index", index) + field("result", result));
  return result;
}
#endif

__attribute__((visibility("default"))) int UpdateScreenTRC(int handle, int a, int b) {
  logCall("UpdateScreenTRC" + field("handle", handle) + field("a", a) + field("b", b));
  return 0;
}

#ifndef ZERU_TEST_ENGINE_OMIT_SCREEN_TONER
__attribute__((visibility("default"))) int UpdateScreenTonerTRC(int handle, int tonerMode,
                                                                int zero) {
  logCall("UpdateScreenTonerTRC" + field("handle", handle) + field("tonerMode", tonerMode) +
          field("zero", zero));
  return 0;
}
#endif

__attribute__((visibility("default"))) int ZARVEL(int handle, unsigned char* line, void* reserved,
                                                  int one, int lineNumber) {
  std::string text = "ZARVEL" + field("handle", handle) + field("lineNumber", lineNumber) +
                     field("one", one) + field("reserved", reserved != nullptr ? 1 : 0);
  Instance* instance = instanceFor(handle);
  if (instance == nullptr) {
    logCall(text + field("result", -1));
    return -1;
  }
  if (line != nullptr) {
    size_t inputBytes = static_cast<size_t>(instance->lineWidth) * (instance->colour ? 3 : 1);
    char hash[32];
    std::snprintf(hash, sizeof hash, "%016llx",
                  static_cast<unsigned long long>(fnv1a(line, inputBytes)));
    text += std::string("\tinput=") + hash;
  }
  std::vector<uint8_t> converted = convertLine(*instance, line);
  text += dotCounts(*instance, converted);
  if (switchOn("ZERU_TEST_ENGINE_LATE")) {
    if (instance->hasPending) deliver(*instance, instance->pending);
    instance->pending = std::move(converted);
    instance->hasPending = true;
  } else {
    deliver(*instance, converted);
  }
  logCall(text + field("result", 0));
  return 0;
}

__attribute__((visibility("default"))) int EndZARVEL(int handle) {
  Instance* instance = instanceFor(handle);
  bool delivered = false;
  if (instance != nullptr && instance->hasPending) {
    deliver(*instance, instance->pending);
    instance->hasPending = false;
    delivered = true;
  }
  logCall("EndZARVEL" + field("handle", handle) + field("known", instance != nullptr) +
          field("deliveredLate", delivered));
  if (instance != nullptr) {
    std::lock_guard<std::mutex> lock(tableMutex);
    *instance = Instance{};
  }
  return 0;
}

__attribute__((visibility("default"))) int ZeruConcurrentPages(void) {
  return kMaxInstances / 4;
}

}  // extern "C"

// The entry points keep the signatures the filter looks them up with.
[[maybe_unused]] static constexpr ZARVELFn checkZARVEL = &ZARVEL;
[[maybe_unused]] static constexpr InitZARVELFn checkInitZARVEL = &InitZARVEL;
[[maybe_unused]] static constexpr CreateZARVELFn checkCreateZARVEL = &CreateZARVEL;
[[maybe_unused]] static constexpr EndZARVELFn checkEndZARVEL = &EndZARVEL;
[[maybe_unused]] static constexpr StartColorAdjustFn checkStartColorAdjust = &StartColorAdjust;
[[maybe_unused]] static constexpr StartAdjustJobFn checkStartAdjustJob = &StartAdjustJob;
#ifndef ZERU_TEST_ENGINE_OMIT_SCREEN_THREAD
[[maybe_unused]] static constexpr UpdateScreenThreadFn checkUpdateScreenThread =
    &UpdateScreenThread;
#endif
[[maybe_unused]] static constexpr UpdateScreenTRCFn checkUpdateScreenTRC = &UpdateScreenTRC;
#ifndef ZERU_TEST_ENGINE_OMIT_SCREEN_TONER
[[maybe_unused]] static constexpr UpdateScreenTonerTRCFn checkUpdateScreenTonerTRC =
    &UpdateScreenTonerTRC;
#endif
[[maybe_unused]] static constexpr ZeruConcurrentPagesFn checkZeruConcurrentPages =
    &ZeruConcurrentPages;
