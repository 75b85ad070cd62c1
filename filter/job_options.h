// Job options that the filter derives from others.
#pragma once

#include <cups/cups.h>

// Fills in options that libcups does not map onto this printer's PPD:
// "PageSize" from "media"; "DrvDuplex" and "Duplex" from the IPP "sides"
// option, which replaces any duplex choice given.
// Returns the new option count.
int addImpliedOptions(int numOptions, cups_option_t** options);
