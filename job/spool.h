// The page spool of one job: one temporary file per kept page, slot = page
// number.
//
// The table grows with the job. Names are kept in fixed-size nodes that are
// never moved once published, so that a signal handler can unlink the files
// still on disk with unlink() alone while the job adds pages.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

inline constexpr size_t kSpoolNameSize = 1024;

class PageSpool {
 public:
  // Spool files are made in `directory` (no trailing slash needed).
  // `made` hears of each file once it is made (its name stays put until the
  // file is removed), `removing` before it is removed.
  explicit PageSpool(std::string directory = "/tmp",
                     std::function<void(int slot, const char* path)> made = {},
                     std::function<void(int slot)> removing = {});
  // Removes the files still on disk.
  ~PageSpool();
  PageSpool(const PageSpool&) = delete;
  PageSpool& operator=(const PageSpool&) = delete;

  // Creates the spool file of `slot` (1-based) in the spool directory, under
  // a name no other process can guess, readable by its owner alone, its
  // descriptor closed on exec. Returns the descriptor, or -1 (errno set).
  int create(int slot);
  const std::string& directory() const { return directory_; }
  // Name of a slot's file ("" when it has none).
  const char* name(int slot) const;
  // Removes a slot's file if it is still on disk.
  void remove(int slot);
  // Removes every spool file still on disk.
  void removeAll();
  // Number of slots that have had a file (the highest slot used).
  int slotCount() const;

 private:
  struct Slot;
  struct Chunk;
  Slot* slotFor(int slot, bool create) const;

  // Chunks are never moved or freed while the job runs; the chunk table is
  // fixed, so a signal handler can walk it while the job adds.
  std::string directory_;
  std::function<void(int slot, const char* path)> made_;
  std::function<void(int slot)> removing_;
  std::unique_ptr<std::atomic<Chunk*>[]> chunks_;
  std::atomic<int> highestSlot_{0};
};
