// The job settings rules read straight from a PPD's marked choices, the
// job's options and a page's raster header: the rules as the printing core
// applies them, for tests and fuzzers that drive them without a job.
#pragma once

#include <cups/cups.h>
#include <cups/ppd.h>
#include <cups/raster.h>

#include "filter/ppd_choices.h"
#include "settings/job_settings.h"
#include "settings/page_settings.h"
#include "settings/paper_table.h"
#include "zeru/page_header.h"

// The job's paper index: the marked PageSize keyword, else the job's
// "PageSize" option (11 when there is none); a keyword naming no row gives 0.
int jobPaperIndex(ppd_file_t* ppd, int numOptions, cups_option_t* options);

// Job start: paper index (marked PageSize, else the "PageSize" option, missing
// gives 11), resolution (DrvResolution, else the standard choices), then the
// settings dump to the log.
void readJobSettings(ppd_file_t* ppd, int numOptions, cups_option_t* options,
                     int argc, char* argv[], JobSettings& settings);

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
