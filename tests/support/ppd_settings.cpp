#include "support/ppd_settings.h"

#include "filter/log.h"

namespace {

const char* argOrEmpty(char* argv[], int index) {
  return (argv != nullptr && argv[index] != nullptr) ? argv[index] : "";
}

}  // namespace

int jobPaperIndex(ppd_file_t* ppd, int numOptions, cups_option_t* options) {
  return jobPaperIndex(PpdChoices(ppd), cupsGetOption("PageSize", numOptions, options));
}

void readJobSettings(ppd_file_t* ppd, int numOptions, cups_option_t* options,
                     int argc, char* argv[], JobSettings& settings) {
  readJobLevelSettings(PpdChoices(ppd), cupsGetOption("PageSize", numOptions, options), settings);
  if (argc > 3) {
    settings.jobUser = argOrEmpty(argv, 2);
    settings.jobTitle = argOrEmpty(argv, 3);
  }

  dumpSettings(ppd, numOptions, options, argv);
}

bool pageSizeMarked(ppd_file_t* ppd) { return pageSizeMarked(PpdChoices(ppd)); }

PageSettingsResult readPageSettings(ppd_file_t* ppd, cups_page_header2_t& header,
                                    PaperTable& paperTable, JobSettings& settings,
                                    PageLoop loop) {
  return readPageSettings(PpdChoices(ppd), header, paperTable, settings, loop,
                          [](const char* line) { logLine(line); });
}

void readRotate180(ppd_file_t* ppd, JobSettings& settings) {
  readRotate180(PpdChoices(ppd), settings);
}

bool saveBlankSheet(ppd_file_t* ppd) { return saveBlankSheet(PpdChoices(ppd)); }
