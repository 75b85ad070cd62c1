// The job's settings read from the PPD's marked choices, the job's options,
// the command line and each page's raster header, by the job settings rules.
#pragma once

#include <string>

#include <cups/cups.h>
#include <cups/ppd.h>
#include <cups/raster.h>

#include "settings/job_settings.h"
#include "settings/page_settings.h"
#include "settings/paper_table.h"
#include "zeru/choices.h"
#include "zeru/page_header.h"

// The marked choice keyword of a PPD option, or nullptr.
const char* markedChoice(ppd_file_t* ppd, const char* keyword);

// The PPD's marked choices, as the printing core reads the job's choices.
class PpdChoices : public zeru::Choices {
 public:
  explicit PpdChoices(ppd_file_t* ppd) : ppd_(ppd) {}
  const char* choice(const char* keyword) const override;

 private:
  ppd_file_t* ppd_;
};

// The option that says two-sided printing: DrvDuplex when it has a marked
// choice, else the standard Duplex.
const char* duplexOption(ppd_file_t* ppd);

// The job's paper index: the marked PageSize keyword, else the job's
// "PageSize" option (11 when there is none); a keyword naming no row gives 0.
int jobPaperIndex(ppd_file_t* ppd, int numOptions, cups_option_t* options);

// Job start: paper index (marked PageSize, else the "PageSize" option, missing
// gives 11), resolution (DrvResolution, else the standard choices), then the
// settings dump to the log.
void readJobSettings(ppd_file_t* ppd, int numOptions, cups_option_t* options,
                     int argc, char* argv[], JobSettings& settings);

// The text of the settings dump: one "INFO: ...\n" line per entry, marked
// choices only. argv needs at least six entries (argv[1], argv[3], argv[5] are shown).
std::string settingsDumpText(ppd_file_t* ppd, int numOptions, cups_option_t* options,
                             char* argv[]);

// The settings dump, as one block of log lines.
void dumpSettings(ppd_file_t* ppd, int numOptions, cups_option_t* options,
                  char* argv[]);

// True when any of PageSize, Media or PageRegion has a marked choice.
bool pageSizeMarked(ppd_file_t* ppd);

// Page start, in order: presence check, page geometry against the job's
// paper row (may swap the header's PageSize and rewrite row 11 of the paper
// table; sets paperIndex to the page's own row), paper size in 0.1 mm,
// TonerMode (with Draft quality), colorMode, densities, brightness, contrast
// and chroma, adjustFlags and densityCode, imageType/complementary,
// grayGuarantee, mediaCode (Covers writes the header's cupsMediaType),
// screenMode.
// The simplex loop logs its three "STATE:" lines. On anything but Ok the
// caller prints the error line (see pageSettingsError) and ends the job.
PageSettingsResult readPageSettings(ppd_file_t* ppd, zeru::PageHeader& header,
                                    PaperTable& paperTable, JobSettings& settings,
                                    PageLoop loop);

// ImageRotation, read after the engine's page set-up.
void readRotate180(ppd_file_t* ppd, JobSettings& settings);

// AKSaveBlankSheet marked "true" (any case).
bool saveBlankSheet(ppd_file_t* ppd);
