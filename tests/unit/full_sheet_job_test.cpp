// A job of full-sheet rasters prints each page of one of the paper table's
// sheets as the page cut to its imageable area, on its own sheet: the same
// stream as a front end that cuts the page itself, names its size and hands
// the core the cut.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <regex>
#include <span>
#include <string>
#include <vector>

#include "zeru/byte_sink.h"
#include "zeru/choices.h"
#include "zeru/colour_library.h"
#include "zeru/job.h"
#include "zeru/page_header.h"
#include "zeru/printer.h"

namespace {

// The printer's default choices, with the PageSize given.
struct DefaultChoices : zeru::Choices {
  const char* pageSize;
  explicit DefaultChoices(const char* size) : pageSize(size) {}
  const char* choice(const char* keyword) const override {
    if (strcmp(keyword, "PageSize") == 0) return pageSize;
    const zeru::OptionDescription* option = zeru::optionFor(keyword);
    return option ? option->defaultChoice : nullptr;
  }
};

zeru::PageHeader sheetOf(const char* keyword, unsigned dpi, unsigned bitsPerPixel) {
  const zeru::Paper* paper = zeru::paperForKeyword(keyword);
  zeru::PageHeader page;
  page.pageSize[0] = paper->widthPoints;
  page.pageSize[1] = paper->heightPoints;
  page.hwResolution[0] = page.hwResolution[1] = dpi;
  // As a PWG raster counts its dots, from the sheet's millimetres.
  page.width = paper->widthPoints * dpi / 72 + 1;
  page.height = paper->heightPoints * dpi / 72 + 1;
  page.bitsPerColor = 8;
  page.bitsPerPixel = bitsPerPixel;
  page.bytesPerLine = page.width * bitsPerPixel / 8;
  page.colorSpace = bitsPerPixel == 8 ? zeru::kColorSpaceSW : zeru::kColorSpaceSRGB;
  return page;
}

// A full-sheet line: a box of dots whose edges lie across the cut's edges.
void drawLine(const zeru::PageHeader& page, unsigned y, unsigned char* line) {
  const unsigned bytes = page.bitsPerPixel / 8;
  for (unsigned x = 0; x < page.width; ++x)
    for (unsigned b = 0; b < bytes; ++b)
      line[x * bytes + b] = (x % 400 < 150 && y % 300 < 120) ? static_cast<unsigned char>(40 * b)
                                                             : 0xff;
}

// The job's stream of one page, handed over whole (`cutHere` false, a job
// of full-sheet rasters) or cut by the caller (a job of pages as given).
std::string printPage(const zeru::ColourLibrary& library, const zeru::PageHeader& sheet,
                      bool cutHere, const char* pageSize) {
  DefaultChoices choices(pageSize);
  zeru::JobOptions options;
  options.choices = &choices;
  options.model = zeru::Model::Tx7MN;
  options.library = &library;
  options.rasterArea = cutHere ? zeru::RasterArea::AsGiven : zeru::RasterArea::FullSheet;
  zeru::StringSink sink;
  zeru::Job job(sink, options, {});
  const zeru::PageCut cut = zeru::imageableCut(sheet.pageSize[0], sheet.pageSize[1],
                                               sheet.hwResolution[0], sheet.hwResolution[1]);
  const zeru::PageHeader page = cutHere ? zeru::cutPageHeader(sheet, cut, false) : sheet;
  EXPECT_EQ(job.startPage(page), zeru::PageStart::Render) << job.failure().message;
  std::vector<unsigned char> full(sheet.bytesPerLine);
  const unsigned bytes = sheet.bitsPerPixel / 8;
  for (unsigned y = 0; y < sheet.height; ++y) {
    drawLine(sheet, y, full.data());
    if (cutHere) {
      if (y < cut.top || y >= cut.top + cut.height) continue;
      zeru::cutLine(full.data(), sheet.width, bytes, cut, bytes, job.line().data());
    } else {
      std::span<unsigned char> line = job.line();
      std::copy(full.begin(), full.end(), line.begin());
    }
    job.pushLine();
  }
  EXPECT_EQ(job.endPage().kind, zeru::PageEnd::Kind::Kept);
  EXPECT_FALSE(job.finish().failed()) << job.failure().message;
  return sink.bytes;
}

// The job header carries the time: the streams are compared without it.
std::string withoutClock(const std::string& stream) {
  static const std::regex clock("(@PJL SET JOBATTR=(DATE|TIME):)[^\r]*");
  return std::regex_replace(stream, clock, "$1-");
}

TEST(FullSheetJob, PrintsTheSameStreamAsThePageCutByItsFrontEnd) {
  zeru::ColourLibrary library;
  ASSERT_FALSE(library.load({ZERU_STANDIN_ENGINE}).failed());
  const struct {
    const char* paper;
    unsigned dpi, bitsPerPixel;
  } cases[] = {{"A4", 600, 24}, {"Letter", 600, 8}, {"A5LEF", 1200, 8}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.paper);
    const zeru::PageHeader sheet = sheetOf(c.paper, c.dpi, c.bitsPerPixel);
    ASSERT_TRUE(zeru::fullSheetCut(sheet).has_value());
    // The job of full-sheet rasters asks for A4 whatever its page; the
    // front end that cuts its pages names each page's own size.
    const std::string whole = printPage(library, sheet, false, "A4");
    const std::string cut = printPage(library, sheet, true, c.paper);
    EXPECT_GT(whole.size(), 1000u);
    EXPECT_TRUE(withoutClock(whole) == withoutClock(cut)) << "the streams differ";
  }
}

}  // namespace
