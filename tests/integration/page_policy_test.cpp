// What the page headers decide for the job as a whole: copies, the job
// header of a job without pages, which page the job header and the filler
// page follow, the paper of each page, and the resolution a page is placed at.
#include "job_fixture.h"

#include <cstdint>
#include <string>
#include <vector>

using namespace zerutest;

namespace {

// Lines of the short full-width pages below: enough to hold a page record,
// far less to write than a whole sheet.
constexpr unsigned kShortPageLines = 64;

// A white grayscale page of the given size at 600 dpi, only a few lines tall.
RasterPage shortPage(unsigned widthPoints, unsigned heightPoints) {
  cups_page_header2_t header = makeHeader(widthPoints, heightPoints, 600, false);
  header.cupsHeight = kShortPageLines;
  return grayPage(header);
}

std::vector<uint8_t> paperCodes(const JobStream& stream) {
  std::vector<uint8_t> codes;
  for (const PageBlock& page : stream.pages) codes.push_back(page.paperCode);
  return codes;
}

}  // namespace

TEST(PagePolicy, ZeroCopiesPrintOneCopyOnEveryPath) {
  ZERU_REQUIRE_FILTER_RUNS();
  struct Case {
    const char* what;
    bool colour;
    bool collate;
    bool duplex;
  };
  const Case cases[] = {
      {"colour", true, false, false},
      {"gray", false, false, false},
      {"colour collated", true, true, false},
      {"two-sided", true, false, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    JobRun job;
    if (c.collate) job.ppd.setDefault("Collate", "True");
    if (c.duplex) job.ppd.setDefault("DrvDuplex", "DrvDuplexNoTumble");
    RasterPage page = markedPage(1, c.colour);
    page.header.NumCopies = 0;
    job.pages = {page};
    FilterResult result = job.go();
    expectOrderlyEnd(result);
    ASSERT_EQ(result.exitStatus, 0) << result.describe();
    JobStream stream = readStream(result.out);
    expectCompleteStream(stream);
    // The page is sent once, record and planes, and so is a filler page.
    const std::vector<int> expectedIds = c.duplex ? std::vector<int>{0, 1} : std::vector<int>{1};
    EXPECT_EQ(markedPageIds(stream), expectedIds);
    for (const PageBlock& sent : stream.pages) EXPECT_TRUE(sent.hasEnd);
    if (c.collate)
      EXPECT_EQ(settingValue(stream, "QTY"), "1");
    else
      EXPECT_EQ(settingValue(stream, "COPIES"), "1");
    EXPECT_EQ(stream.jobStart.copies, 1);
    EXPECT_NE(result.err.find("PAGE: 1 1\n"), std::string::npos) << result.err;
    EXPECT_EQ(occurrences(result.log, "0 copies"), 1u) << result.log;
  }
}

TEST(PagePolicy, InputWithoutPagesSendsAJobOfNoPagesWithTheJobsValues) {
  ZERU_REQUIRE_FILTER_RUNS();
  struct Case {
    const char* what;
    std::string input;
    const char* resolution;   // DrvResolution
    const char* dpi;          // what the job header says
    bool duplex;
  };
  const Case cases[] = {
      {"no byte", "", "600dpi", "600", false},
      {"sync word only", "3SaR", "1200dpi", "1200", false},
      {"two-sided, no byte", "", "1200dpi", "1200", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    JobRun job;
    job.ppd.setDefault("DrvResolution", c.resolution);
    if (c.duplex) job.ppd.setDefault("DrvDuplex", "DrvDuplexNoTumble");
    job.ppd.writeTo(job.dir.file("job.ppd"));
    job.run.ppd = job.dir.file("job.ppd");
    job.run.stdinBytes = c.input;
    FilterResult result = runFilter(job.run);
    expectOrderlyEnd(result);
    ASSERT_EQ(result.exitStatus, 0) << result.describe();
    EXPECT_NE(result.err.find("INFO: Ready to print.\n"), std::string::npos);
    JobStream stream = readStream(result.out);
    expectCompleteStream(stream);
    EXPECT_TRUE(stream.pages.empty());
    EXPECT_EQ(settingValue(stream, "RESOLUTION"), c.dpi);
    EXPECT_EQ(settingValue(stream, "COPIES"), "1");
    EXPECT_EQ(stream.jobStart.copies, 1);
    if (c.duplex) {
      EXPECT_EQ(settingValue(stream, "MDPXS"), "1");
    }
  }
}

TEST(PagePolicy, DroppedBlankLastPageDoesNotDecideTheJob) {
  ZERU_REQUIRE_FILTER_RUNS();
  for (bool duplex : {false, true}) {
    SCOPED_TRACE(duplex ? "two-sided" : "one-sided");
    JobRun job;
    job.ppd.setDefault("AKSaveBlankSheet", "True");
    if (duplex) job.ppd.setDefault("DrvDuplex", "DrvDuplexNoTumble");
    // A one-inch colour page at 600 dpi, then a blank grayscale page of
    // another size at 1200 dpi that asks for two copies, and is dropped.
    RasterPage blank = grayPage(makeHeader(144, 108, 1200, false));
    blank.header.NumCopies = 2;
    job.pages = {markedPage(1, true), blank};
    FilterResult result = job.go();
    expectOrderlyEnd(result);
    ASSERT_EQ(result.exitStatus, 0) << result.describe();
    JobStream stream = readStream(result.out);
    expectCompleteStream(stream);
    EXPECT_EQ(settingValue(stream, "RENDERMODE"), "COLOR");
    EXPECT_EQ(settingValue(stream, "RESOLUTION"), "600");
    EXPECT_EQ(settingValue(stream, "COPIES"), "1");
    EXPECT_EQ(stream.jobStart.copies, 1);
    const std::vector<int> expectedIds = duplex ? std::vector<int>{0, 1} : std::vector<int>{1};
    ASSERT_EQ(markedPageIds(stream), expectedIds);
    // The filler page is the back of the kept page: its size, resolution
    // and colour.
    const PageBlock& kept = stream.pages.back();
    for (const PageBlock& page : stream.pages) {
      EXPECT_EQ(page.resolution, 600);
      EXPECT_TRUE(page.colour);
      EXPECT_EQ(page.paperWidth10, kept.paperWidth10);
      EXPECT_EQ(page.paperHeight10, kept.paperHeight10);
      EXPECT_EQ(page.lines, kept.lines);
      EXPECT_EQ(page.dotsPerLine, kept.dotsPerLine);
    }
  }
}

TEST(PagePolicy, EveryPageIsMatchedAgainstThePaperTableOnItsOwn) {
  ZERU_REQUIRE_FILTER_RUNS();
  JobRun job;   // PageSize A4
  job.pages = {shortPage(595, 842), shortPage(612, 792), shortPage(595, 842)};
  FilterResult result = job.go();
  expectOrderlyEnd(result);
  ASSERT_EQ(result.exitStatus, 0) << result.describe();
  JobStream stream = readStream(result.out);
  expectCompleteStream(stream);
  // Sent last page first: the A4 page after the Letter page is A4 again.
  EXPECT_EQ(paperCodes(stream), (std::vector<uint8_t>{2, 0, 2}));
  ASSERT_EQ(stream.pages.size(), 3u);
  EXPECT_EQ(stream.pages[0].dotsPerLine, 5120u);
  EXPECT_EQ(stream.pages[1].dotsPerLine, 5120u);
}

TEST(PagePolicy, PagesArePlacedAtTheirOwnResolutionWhateverDrvResolutionSays) {
  ZERU_REQUIRE_FILTER_RUNS();
  size_t dots[2] = {0, 0};
  int run = 0;
  for (const char* resolution : {"600dpi", "1200dpi"}) {
    SCOPED_TRACE(resolution);
    JobRun job;
    job.ppd.setDefault("DrvResolution", resolution);
    // Dots only in the right half of a two-inch page at 1200 dpi.
    job.pages = {grayPage(makeHeader(144, 144, 1200, false), [](unsigned x, unsigned) {
      return static_cast<uint8_t>(x >= 1500 && x < 1900 ? 0 : 255);
    })};
    FilterResult result = job.go();
    expectOrderlyEnd(result);
    ASSERT_EQ(result.exitStatus, 0) << result.describe();
    JobStream stream = readStream(result.out);
    expectCompleteStream(stream);
    EXPECT_EQ(settingValue(stream, "RESOLUTION"), "1200");
    ASSERT_EQ(stream.pages.size(), 1u);
    const PlaneEntity* black = stream.pages[0].findPlane(3);
    ASSERT_NE(black, nullptr);
    ASSERT_TRUE(black->decodedOk);
    dots[run++] = countDots(black->decoded);
  }
  // 400 dots by 2400 lines, at either choice.
  EXPECT_EQ(dots[0], 400u * 2400u);
  EXPECT_EQ(dots[1], 400u * 2400u);
}
