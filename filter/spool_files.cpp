#include "filter/spool_files.h"

#include <unistd.h>

namespace {

constexpr size_t kSlotsPerChunk = 256;
constexpr size_t kMaxChunks = 16384;  // 4 million pages

}  // namespace

// The name is the core's own: it stays put until the file is removed. Two
// words a page, where a copy of the name would double the memory a job of
// many pages holds for its spool.
struct SpoolFileTable::Slot {
  std::atomic<const char*> name;
  std::atomic<bool> onDisk;
};

struct SpoolFileTable::Chunk {
  Slot slots[kSlotsPerChunk];
};

SpoolFileTable::SpoolFileTable() : chunks_(new std::atomic<Chunk*>[kMaxChunks]) {
  for (size_t i = 0; i < kMaxChunks; ++i) chunks_[i].store(nullptr, std::memory_order_relaxed);
}

SpoolFileTable::~SpoolFileTable() {
  for (size_t i = 0; i < kMaxChunks; ++i) delete chunks_[i].load();
}

SpoolFileTable::Slot* SpoolFileTable::slotFor(int slot, bool create) {
  if (slot < 1) return nullptr;
  size_t index = static_cast<size_t>(slot - 1);
  size_t chunk = index / kSlotsPerChunk;
  if (chunk >= kMaxChunks) return nullptr;
  Chunk* c = chunks_[chunk].load(std::memory_order_acquire);
  if (!c && create) {
    c = new Chunk();  // lives as long as the table
    chunks_[chunk].store(c, std::memory_order_release);
  }
  return c ? &c->slots[index % kSlotsPerChunk] : nullptr;
}

void SpoolFileTable::made(int slot, const char* path) {
  Slot* s = slotFor(slot, true);
  if (!s) return;
  s->onDisk.store(false);
  s->name.store(path);
  s->onDisk.store(true, std::memory_order_release);
  if (slot > highestSlot_.load()) highestSlot_.store(slot);
}

void SpoolFileTable::removing(int slot) {
  if (Slot* s = slotFor(slot, false)) s->onDisk.store(false);
}

void SpoolFileTable::removeAllFromSignal() {
  int highest = highestSlot_.load();
  for (int slot = 1; slot <= highest; ++slot) {
    Slot* s = slotFor(slot, false);
    if (s && s->onDisk.exchange(false, std::memory_order_acquire)) unlink(s->name.load());
  }
}
