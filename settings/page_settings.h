// The job's settings read from the printer's choices and each page's raster
// header, by the job settings rules.
#pragma once

#include <functional>

#include "settings/job_settings.h"
#include "settings/paper_table.h"
#include "zeru/choices.h"
#include "zeru/page_header.h"

// The option that says two-sided printing: DrvDuplex when it has a choice,
// else the standard Duplex.
const char* duplexOption(const zeru::Choices& choices);

// The job's paper index: the PageSize choice, else the job's own page size
// option (`pageSizeOption`, nullptr when it has none; then 11); a keyword
// naming no row gives 0.
int jobPaperIndex(const zeru::Choices& choices, const char* pageSizeOption);

// Job start: the paper index, and the resolution the job asks for
// (DrvResolution, else the standard choices).
void readJobLevelSettings(const zeru::Choices& choices, const char* pageSizeOption,
                          JobSettings& settings);

// True when any of PageSize, Media or PageRegion has a choice.
bool pageSizeMarked(const zeru::Choices& choices);

// Result of reading a page's settings.
enum class PageSettingsResult { Ok, NoPageSize, BadGeometry };

// Page start, in order: presence check, page geometry against the job's
// paper row (may swap the header's PageSize and rewrite row 11 of the paper
// table; sets paperIndex to the page's own row), paper size in 0.1 mm,
// TonerMode (with Draft quality), colorMode, densities, brightness, contrast
// and chroma, adjustFlags and densityCode, imageType/complementary,
// grayGuarantee, mediaCode (Covers writes the header's cupsMediaType),
// screenMode. The one-sided loop logs its three "STATE:" lines through `log`.
PageSettingsResult readPageSettings(const zeru::Choices& choices, zeru::PageHeader& header,
                                    PaperTable& paperTable, JobSettings& settings, PageLoop loop,
                                    const std::function<void(const char*)>& log);

// Why a page failed, as one line without line end.
const char* pageSettingsError(PageSettingsResult result);

// ImageRotation, read after the engine's page set-up.
void readRotate180(const zeru::Choices& choices, JobSettings& settings);

// AKSaveBlankSheet chosen "true" (any case).
bool saveBlankSheet(const zeru::Choices& choices);
