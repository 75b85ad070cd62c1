// The names of the job's spool files, kept where the SIGPIPE handler can
// remove them with unlink() alone while the job adds and removes files.
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>

class SpoolFileTable {
 public:
  SpoolFileTable();
  ~SpoolFileTable();
  SpoolFileTable(const SpoolFileTable&) = delete;
  SpoolFileTable& operator=(const SpoolFileTable&) = delete;

  // The job made `path` as the file of `slot` (1-based). One thread at a
  // time. The table keeps the pointer: `path` must stay, unchanged, until
  // removing(slot).
  void made(int slot, const char* path);
  // The job is about to remove the file of `slot`.
  void removing(int slot);
  // Unlinks every file still on disk. Async-signal-safe.
  void removeAllFromSignal();

 private:
  struct Slot;
  struct Chunk;
  Slot* slotFor(int slot, bool create);

  // Chunks are never moved or freed while the job runs, and the chunk table
  // is fixed: a signal handler can walk it while the job adds.
  std::unique_ptr<std::atomic<Chunk*>[]> chunks_;
  std::atomic<int> highestSlot_{0};
};
