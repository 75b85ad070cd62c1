#include "filter/job_options.h"

#include <cstring>

int addImpliedOptions(int numOptions, cups_option_t** options) {
  const char* media = cupsGetOption("media", numOptions, *options);
  if (!cupsGetOption("PageSize", numOptions, *options) && media)
    numOptions = cupsAddOption("PageSize", media, numOptions, options);

  // Applications ask for two sides with the IPP option "sides", which libcups
  // never maps onto DrvDuplex.
  const char* sides = cupsGetOption("sides", numOptions, *options);
  if (sides && !cupsGetOption("DrvDuplex", numOptions, *options)) {
    const char* duplex = nullptr;
    if (!strcmp(sides, "two-sided-long-edge"))
      duplex = "DrvDuplexNoTumble";
    else if (!strcmp(sides, "two-sided-short-edge"))
      duplex = "DrvDuplexTumble";
    else if (!strcmp(sides, "one-sided"))
      duplex = "None";
    if (duplex) numOptions = cupsAddOption("DrvDuplex", duplex, numOptions, options);
  }
  return numOptions;
}
