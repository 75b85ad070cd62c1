#include "driver/job_options.h"

#include <cstdio>
#include <cstring>

namespace {

// The duplex choices of the IPP "sides" values, for PPDs with DrvDuplex and
// for PPDs with the standard Duplex option.
struct SidesChoices {
  const char* sides;
  const char* drvDuplex;
  const char* duplex;
};
constexpr SidesChoices kSidesChoices[] = {
    {"one-sided", "None", "None"},
    {"two-sided-long-edge", "DrvDuplexNoTumble", "DuplexNoTumble"},
    {"two-sided-short-edge", "DrvDuplexTumble", "DuplexTumble"},
};

// "1200dpi" or "1200x1200dpi" as the Resolution choice "1200dpi"; false for
// anything else, unequal resolutions included.
bool resolutionChoiceOf(const char* value, char (&choice)[16]) {
  unsigned x = 0, y = 0;
  int end = 0;
  if (sscanf(value, "%5ux%5udpi%n", &x, &y, &end) == 2 && end > 0 && value[end] == '\0') {
    if (x != y) return false;
  } else {
    end = 0;
    if (sscanf(value, "%5udpi%n", &x, &end) != 1 || end == 0 || value[end] != '\0') return false;
  }
  snprintf(choice, sizeof choice, "%udpi", x);
  return true;
}

}  // namespace

int addImpliedOptions(int numOptions, cups_option_t** options) {
  const char* media = cupsGetOption("media", numOptions, *options);
  if (!cupsGetOption("PageSize", numOptions, *options) && media)
    numOptions = cupsAddOption("PageSize", media, numOptions, options);

  // The job's own "sides" wins over a duplex choice among the options, which
  // may be a queue or user default: libcups would keep that choice and drop
  // "sides", and never maps "sides" onto DrvDuplex at all. A PPD has one of
  // the two options; the other is not marked.
  if (const char* sides = cupsGetOption("sides", numOptions, *options)) {
    for (const SidesChoices& entry : kSidesChoices) {
      if (strcmp(sides, entry.sides) != 0) continue;
      numOptions = cupsAddOption("DrvDuplex", entry.drvDuplex, numOptions, options);
      numOptions = cupsAddOption("Duplex", entry.duplex, numOptions, options);
      break;
    }
  }

  // The scheduler passes the IPP "printer-resolution" as "1200x1200dpi",
  // which libcups matches with no Resolution choice.
  if (const char* resolution = cupsGetOption("printer-resolution", numOptions, *options)) {
    char choice[16];
    if (resolutionChoiceOf(resolution, choice))
      numOptions = cupsAddOption("Resolution", choice, numOptions, options);
  }
  return numOptions;
}
