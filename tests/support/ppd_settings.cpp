#include "support/ppd_settings.h"

#include "filter/log.h"

int jobPaperIndex(ppd_file_t* ppd, int numOptions, cups_option_t* options) {
  return jobPaperIndex(PpdChoices(ppd), cupsGetOption("PageSize", numOptions, options));
}

void readJobSettings(ppd_file_t* ppd, int numOptions, cups_option_t* options,
                     int /*argc*/, char* argv[], JobSettings& settings) {
  readJobLevelSettings(PpdChoices(ppd), cupsGetOption("PageSize", numOptions, options), settings);

  dumpSettings(ppd, numOptions, options, argv);
}

bool pageSizeMarked(ppd_file_t* ppd) { return pageSizeMarked(PpdChoices(ppd)); }

PageSettingsResult readPageSettings(ppd_file_t* ppd, zeru::PageHeader& header,
                                    PaperTable& paperTable, JobSettings& settings,
                                    PageLoop loop) {
  return readPageSettings(PpdChoices(ppd), header, paperTable, settings, loop,
                          [](const char* line) { logLine(line); });
}

void readRotate180(ppd_file_t* ppd, JobSettings& settings) {
  readRotate180(PpdChoices(ppd), settings);
}

bool saveBlankSheet(ppd_file_t* ppd) { return saveBlankSheet(PpdChoices(ppd)); }
