// The job's lifecycle: start-up, the page loops, the output phase, shutdown.
#pragma once

#include <cups/cups.h>

// Runs one job as CUPS starts the filter; returns the exit status.
int runFilter(int argc, char* argv[]);

// Fills in options that libcups does not map onto this printer's PPD:
// "PageSize" from "media", and "DrvDuplex" from the IPP "sides" option.
// Returns the new option count.
int addImpliedOptions(int numOptions, cups_option_t** options);
