#include "job/page_header.h"

#include <cstdio>

cups_page_header2_t cupsHeaderOf(const zeru::PageHeader& page) {
  cups_page_header2_t header{};
  for (int i = 0; i < 2; ++i) {
    header.PageSize[i] = page.pageSize[i];
    header.HWResolution[i] = page.hwResolution[i];
    header.Margins[i] = page.margins[i];
  }
  header.cupsWidth = page.width;
  header.cupsHeight = page.height;
  header.cupsBitsPerColor = page.bitsPerColor;
  header.cupsBitsPerPixel = page.bitsPerPixel;
  header.cupsBytesPerLine = page.bytesPerLine;
  header.cupsColorOrder = static_cast<cups_order_t>(page.colorOrder);
  header.cupsColorSpace = static_cast<cups_cspace_t>(page.colorSpace);
  header.cupsMediaType = page.mediaTypeCode;
  header.NumCopies = page.numCopies;
  header.Collate = static_cast<cups_bool_t>(page.collate);
  snprintf(header.MediaType, sizeof header.MediaType, "%s", page.mediaType.c_str());
  snprintf(header.OutputType, sizeof header.OutputType, "%s", page.outputType.c_str());
  return header;
}
