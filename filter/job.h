// The job's lifecycle: start-up, the page loops, the output phase, shutdown.
#pragma once

// Runs one job as CUPS starts the filter; returns the exit status.
int runFilter(int argc, char* argv[]);
