// The page spool: one temporary file per kept page, slot = page number.
//
// The table grows with the job. Names are kept in fixed-size nodes that are
// never moved once published, so that the SIGPIPE handler can unlink the
// files still on disk with unlink() alone.
#pragma once

#include <cstddef>

inline constexpr size_t kSpoolNameSize = 1024;

// Creates the spool file of `slot` (1-based) with cupsTempFd. Returns its
// descriptor, or -1 (errno set).
int createSpoolFile(int slot);

// Name of a slot's file ("" when it has none).
const char* spoolName(int slot);

// Removes a slot's file if it is still on disk.
void removeSpoolFile(int slot);

// Removes every spool file still on disk.
void removeAllSpoolFiles();

// Async-signal-safe removal of every spool file still on disk.
void removeAllSpoolFilesFromSignal();

// Number of slots that have had a file (the highest slot used).
int spoolSlotCount();
