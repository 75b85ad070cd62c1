// What a front end lends the printing core for one job: where the core's
// diagnostic lines go and whether the job has been cancelled. The core reads
// no process-wide state for either, so that several jobs can run in one
// process, each with its own.
#pragma once

#include <functional>

struct JobServices {
  // True once the job is to stop. Read between pages and between the blocks
  // of a page being sent, from the job's threads; must be cheap.
  std::function<bool()> cancelled = [] { return false; };
  // One line for the diagnostic log, without its newline; called from any of
  // the job's threads.
  std::function<void(const char* line)> log = [](const char*) {};
};
