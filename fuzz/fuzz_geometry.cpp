// Page sizes and resolutions from raster headers: any 32-bit values.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "settings/paper_table.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint32_t values[4] = {};
  memcpy(values, data, size < sizeof values ? size : sizeof values);
  PaperTable table;
  int paperIndex = static_cast<int>(values[0] % kPaperRows);
  PageGeometry geometry;
  if (!computePageGeometry(table, paperIndex, values[1], values[2], values[3], geometry))
    return 0;
  if (geometry.lineWidth <= 0 || geometry.lineWidth % 8 != 0) abort();
  // The printers' own resolutions give whole 512-dot blocks; the filter
  // refuses every other resolution before it sizes anything.
  if ((values[3] == 600 || values[3] == 1200) && geometry.lineWidth % 512 != 0) abort();
  if (geometry.paperIndex < 0 || geometry.paperIndex >= kPaperRows) abort();
  if (geometry.printableWidth < 0) abort();
  if (geometry.pageWidth > kMaxPagePoints || geometry.pageHeight > kMaxPagePoints) abort();
  return 0;
}
