// What a front end lends the printing core for one job: where the core's
// diagnostic lines go, whether the job has been cancelled, and where its
// page spool files go. The core reads no process-wide state for any of
// them (no environment variable either), so that several jobs can run in
// one process, each with its own.
#pragma once

#include <functional>
#include <string>

struct JobServices {
  // True once the job is to stop. Read between pages and between the blocks
  // of a page being sent, from the job's threads; must be cheap.
  std::function<bool()> cancelled = [] { return false; };
  // One line for the diagnostic log, without its newline; called from any of
  // the job's threads.
  std::function<void(const char* line)> log = [](const char*) {};
  // The directory the job's page spool files are made in.
  std::string spoolDirectory = "/tmp";
  // A page's spool file has been made, and is about to be removed.
  std::function<void(int slot, const char* path)> spoolFileMade = [](int, const char*) {};
  std::function<void(int slot)> spoolFileRemoving = [](int) {};
};
