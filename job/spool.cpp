#include "job/spool.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <utility>

namespace {

constexpr size_t kSlotsPerChunk = 256;
constexpr size_t kMaxChunks = 16384;   // 4 million pages
// A spool file's name within the spool directory; mkostemp fills in the Xs.
constexpr const char* kSpoolFileTemplate = "zeru-XXXXXX";

}  // namespace

struct PageSpool::Slot {
  char name[kSpoolNameSize];
  std::atomic<bool> onDisk;
};

struct PageSpool::Chunk {
  Slot slots[kSlotsPerChunk];
};

PageSpool::PageSpool(std::string directory,
                     std::function<void(int slot, const char* path)> made,
                     std::function<void(int slot)> removing)
    : directory_(std::move(directory)),
      made_(std::move(made)),
      removing_(std::move(removing)),
      chunks_(new std::atomic<Chunk*>[kMaxChunks]) {
  for (size_t i = 0; i < kMaxChunks; ++i) chunks_[i].store(nullptr, std::memory_order_relaxed);
}

PageSpool::~PageSpool() {
  removeAll();
  for (size_t i = 0; i < kMaxChunks; ++i) delete chunks_[i].load();
}

PageSpool::Slot* PageSpool::slotFor(int slot, bool create) const {
  if (slot < 1) return nullptr;
  size_t index = static_cast<size_t>(slot - 1);
  size_t chunk = index / kSlotsPerChunk;
  if (chunk >= kMaxChunks) return nullptr;
  Chunk* c = chunks_[chunk].load(std::memory_order_acquire);
  if (!c) {
    if (!create) return nullptr;
    c = new Chunk();   // lives as long as the spool
    chunks_[chunk].store(c, std::memory_order_release);
  }
  return &c->slots[index % kSlotsPerChunk];
}

int PageSpool::create(int slot) {
  Slot* s = slotFor(slot, true);
  if (!s) {
    errno = EFBIG;
    return -1;
  }
  if (s->onDisk.load()) remove(slot);
  int length = snprintf(s->name, sizeof s->name, "%s/%s", directory_.c_str(), kSpoolFileTemplate);
  if (length < 0 || static_cast<size_t>(length) >= sizeof s->name) {
    s->name[0] = '\0';
    errno = ENAMETOOLONG;
    return -1;
  }
  int fd = mkostemp(s->name, O_CLOEXEC);
  if (fd < 0) {
    int error = errno;
    s->name[0] = '\0';
    errno = error;
    return -1;
  }
  s->onDisk.store(true, std::memory_order_release);
  if (slot > highestSlot_.load()) highestSlot_.store(slot);
  if (made_) made_(slot, s->name);
  return fd;
}

const char* PageSpool::name(int slot) const {
  Slot* s = slotFor(slot, false);
  return s ? s->name : "";
}

void PageSpool::remove(int slot) {
  Slot* s = slotFor(slot, false);
  if (s && s->onDisk.exchange(false)) {
    if (removing_) removing_(slot);
    ::remove(s->name);
  }
}

void PageSpool::removeAll() {
  for (int slot = 1; slot <= highestSlot_.load(); ++slot) remove(slot);
}

int PageSpool::slotCount() const { return highestSlot_.load(); }
