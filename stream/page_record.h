// A page's page-start record as its settings and header describe it.
#pragma once

#include "settings/job_settings.h"
#include "stream/command_record.h"
#include "zeru/page_header.h"

// The page-start record fields known once the page's settings are read:
// paper, media, size, device line, lines, raw size and resolution; the
// plane lengths are cleared for compression to fill.
void preparePageRecord(PageStartRecord& record, const JobSettings& settings,
                       const zeru::PageHeader& header);
