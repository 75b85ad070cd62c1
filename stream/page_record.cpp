#include "stream/page_record.h"

#include <cstdint>

void preparePageRecord(PageStartRecord& record, const JobSettings& s,
                       const zeru::PageHeader& header) {
  uint64_t planes = s.colorMode ? 4 : 1;
  uint64_t rawSize = planes * header.height * static_cast<uint64_t>(s.lineWidth / 8);
  record.setPaper(s.paperCode, s.mediaCode, s.pageWidth10, s.pageHeight10);
  record.setRaster(static_cast<uint32_t>(s.lineWidth), header.height,
                   static_cast<uint32_t>(rawSize), static_cast<uint16_t>(header.hwResolution[0]));
  record.clearPlaneLengths();
}
