#include "driver/spool.h"

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <memory>

#include <cups/cups.h>

namespace {

// Slots live in chunks that are never moved or freed during the job; the
// chunk table is fixed, so a signal handler can walk it while the driver adds.
constexpr size_t kSlotsPerChunk = 256;
constexpr size_t kMaxChunks = 16384;   // 4 million pages

struct Slot {
  char name[kSpoolNameSize];
  std::atomic<bool> onDisk;
};

struct Chunk {
  Slot slots[kSlotsPerChunk];
};

std::atomic<Chunk*> chunks[kMaxChunks];
std::atomic<int> highestSlot{0};

Slot* slotFor(int slot, bool create) {
  if (slot < 1) return nullptr;
  size_t index = static_cast<size_t>(slot - 1);
  size_t chunk = index / kSlotsPerChunk;
  if (chunk >= kMaxChunks) return nullptr;
  Chunk* c = chunks[chunk].load(std::memory_order_acquire);
  if (!c) {
    if (!create) return nullptr;
    c = new Chunk();   // lives until the process ends
    chunks[chunk].store(c, std::memory_order_release);
  }
  return &c->slots[index % kSlotsPerChunk];
}

}  // namespace

int createSpoolFile(int slot) {
  Slot* s = slotFor(slot, true);
  if (!s) {
    errno = EFBIG;
    return -1;
  }
  if (s->onDisk.load()) removeSpoolFile(slot);
  int fd = cupsTempFd(s->name, sizeof s->name);
  if (fd < 0) {
    s->name[0] = '\0';
    return -1;
  }
  s->onDisk.store(true, std::memory_order_release);
  if (slot > highestSlot.load()) highestSlot.store(slot);
  return fd;
}

const char* spoolName(int slot) {
  Slot* s = slotFor(slot, false);
  return s ? s->name : "";
}

void removeSpoolFile(int slot) {
  Slot* s = slotFor(slot, false);
  if (s && s->onDisk.exchange(false)) remove(s->name);
}

void removeAllSpoolFiles() {
  for (int slot = 1; slot <= highestSlot.load(); ++slot) removeSpoolFile(slot);
}

void removeAllSpoolFilesFromSignal() {
  int highest = highestSlot.load();
  for (int slot = 1; slot <= highest; ++slot) {
    Slot* s = slotFor(slot, false);
    if (s && s->onDisk.exchange(false)) unlink(s->name);
  }
}

int spoolSlotCount() { return highestSlot.load(); }
