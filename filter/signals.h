// Signal handling: SIGPIPE (lost reader), SIGTERM (cancel), SIGALRM (timer).
//
// The handlers use only async-signal-safe calls: write, open, close, unlink, _exit.
#pragma once

#include <csignal>

class SpoolFileTable;

// Set to 1 by the SIGTERM handler, never cleared. Read by the driver between
// pages and between sent pages; volatile so that no check is cached.
extern volatile sig_atomic_t cancelRequested;

// SIGPIPE: "ERROR: SIGPIPE Job Abort.\n", the files still on disk in the
// job's spool are unlinked, exit status 0.
void installPipeHandler();

// The spool files the SIGPIPE handler removes; nullptr for none. The table
// must outlive its registration.
void setSpoolFilesForSignals(SpoolFileTable* files);

// SIGALRM every 25 s (first after 25 s): two "dummy command" lines in the log.
// Installed with SA_RESTART so that the timer never breaks a raster read.
void installTimer();

// SIGTERM: "INFO: Ready to print - Job canceled.\n" and cancelRequested = 1.
void installTermHandler();
