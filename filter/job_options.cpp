#include "filter/job_options.h"

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
  return numOptions;
}
