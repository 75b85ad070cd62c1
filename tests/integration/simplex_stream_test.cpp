// Single-sided jobs: the page blocks on standard output, decoded back.
#include "job_fixture.h"

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "stream/command_record.h"

using namespace zerutest;

namespace {

const PlaneEntity& plane(const PageBlock& page, int number) {
  const PlaneEntity* entity = page.findPlane(number);
  if (!entity) throw std::runtime_error("page has no plane " + std::to_string(number));
  return *entity;
}

std::string pageRecordBytes(const std::string& out, const PageBlock& page) {
  return out.substr(page.offset, kRecordSize);
}

}  // namespace

TEST(SimplexStream, MonochromeA4PageRecordAndPlane) {
  ZERU_REQUIRE_FILTER_RUNS();
  JobRun job;
  cups_page_header2_t header = a4Header(600, false);
  job.pages = {grayPage(header, [](unsigned x, unsigned y) {
    return static_cast<uint8_t>((x >= 1000 && x < 1100 && y >= 2000 && y < 2100) ? 0 : 255);
  })};
  FilterResult result = job.go();
  ASSERT_EQ(result.exitStatus, 0) << result.describe();
  JobStream stream = readStream(result.out);
  ASSERT_TRUE(stream.clean()) << problemsOf(stream);
  ASSERT_EQ(stream.pages.size(), 1u);
  const PageBlock& page = stream.pages[0];
  EXPECT_EQ(page.paperCode, 2);
  EXPECT_EQ(page.mediaCode, 1);
  EXPECT_EQ(page.dotsPerLine, 5120u);
  EXPECT_EQ(page.lines, header.cupsHeight);
  EXPECT_EQ(page.rawSize, header.cupsHeight * 640u);
  EXPECT_EQ(page.resolution, 600);
  EXPECT_EQ(page.paperWidth10, 2099);
  EXPECT_EQ(page.paperHeight10, 2970);
  EXPECT_FALSE(page.colour);
  ASSERT_EQ(page.planes.size(), 1u);
  EXPECT_EQ(page.compressedSize, page.planeLength[3]);
  EXPECT_EQ(page.planeLength[0] | page.planeLength[1] | page.planeLength[2], 0u);

  // The record's bytes: lead-in, code, and the XOR of all 64 bytes is zero.
  std::string record = pageRecordBytes(result.out, page);
  EXPECT_EQ(record.substr(0, 8), std::string("\x1bLH@sp\x02\x01", 8));
  uint8_t xorAll = 0;
  for (char c : record) xorAll ^= static_cast<uint8_t>(c);
  EXPECT_EQ(xorAll, 0);

  // The entity's header matches the record, and the dots are where the raster had them.
  const PlaneEntity& black = plane(page, 3);
  EXPECT_EQ(black.header.width, page.dotsPerLine);
  EXPECT_EQ(black.header.height, page.lines);
  EXPECT_EQ(black.header.l0, 128u);
  ASSERT_TRUE(black.decodedOk);
  EXPECT_TRUE(black.decoded.dot(1000, 2000));
  EXPECT_TRUE(black.decoded.dot(1099, 2099));
  EXPECT_FALSE(black.decoded.dot(999, 2000));
  EXPECT_FALSE(black.decoded.dot(1100, 2099));
  EXPECT_EQ(countDots(black.decoded), 100u * 100u);
  EXPECT_TRUE(page.hasEnd);
  EXPECT_EQ(page.cancelMark, 0);
  EXPECT_EQ(result.out.substr(page.endOffset, kRecordSize),
            std::string("\x1bLH@ep", 6) + std::string(57, '\0') + "\x4a");
}

TEST(SimplexStream, ColourPagePlanesInTheirOrderWithTheirDots) {
  ZERU_REQUIRE_FILTER_RUNS();
  JobRun job;
  cups_page_header2_t header = makeHeader(144, 144, 600, true);   // 2 inches: 1200 x 1200
  job.pages = {colourPage(header, [](unsigned x, unsigned y) {
    if (y < 100) return Rgb{0, 255, 255};           // cyan band
    if (y < 200) return Rgb{255, 0, 255};           // magenta band
    if (y < 300) return Rgb{255, 255, 0};           // yellow band
    if (y < 400 && x < 600) return kBlack;          // black block
    return kWhite;
  })};
  FilterResult result = job.go();
  ASSERT_EQ(result.exitStatus, 0) << result.describe();
  JobStream stream = readStream(result.out);
  ASSERT_TRUE(stream.clean()) << problemsOf(stream);
  ASSERT_EQ(stream.pages.size(), 1u);
  const PageBlock& page = stream.pages[0];
  EXPECT_TRUE(page.colour);
  EXPECT_EQ(page.paperCode, 0);                     // custom
  EXPECT_EQ(page.dotsPerLine, 1536u);
  ASSERT_EQ(page.planes.size(), 4u);
  EXPECT_EQ(page.planes[0].plane, 2);
  EXPECT_EQ(page.planes[1].plane, 1);
  EXPECT_EQ(page.planes[2].plane, 0);
  EXPECT_EQ(page.planes[3].plane, 3);
  EXPECT_EQ(page.compressedSize, page.planeLength[0] + page.planeLength[1] +
                                     page.planeLength[2] + page.planeLength[3]);
  for (const PlaneEntity& entity : page.planes) {
    EXPECT_EQ(entity.declaredLength, page.planeLength[entity.plane]);
    EXPECT_EQ(entity.header.width, 1536u);
    EXPECT_EQ(entity.header.height, 1200u);
  }
  // Planes 0, 1, 2, 3 are cyan, magenta, yellow and black.
  EXPECT_EQ(countDots(plane(page, 0).decoded), 100u * 1200u);
  EXPECT_EQ(countDots(plane(page, 1).decoded), 100u * 1200u);
  EXPECT_EQ(countDots(plane(page, 2).decoded), 100u * 1200u);
  EXPECT_EQ(countDots(plane(page, 3).decoded), 100u * 600u);
  EXPECT_TRUE(plane(page, 0).decoded.dot(1199, 99));
  EXPECT_FALSE(plane(page, 0).decoded.dot(1200, 99));   // padding beyond the raster
  EXPECT_TRUE(plane(page, 3).decoded.dot(599, 399));
  EXPECT_FALSE(plane(page, 3).decoded.dot(600, 399));
}

TEST(SimplexStream, TurnedPagesPutEveryDotAtItsOppositePlace) {
  ZERU_REQUIRE_FILTER_RUNS();
  JobRun job;
  job.ppd.setDefault("ImageRotation", "true");
  cups_page_header2_t header = makeHeader(72, 72, 600, true);   // 600 x 600, line 1024
  job.pages = {colourPage(header, [](unsigned x, unsigned y) {
    return (x == 10 && y == 20) ? kBlack : kWhite;
  })};
  FilterResult result = job.go();
  ASSERT_EQ(result.exitStatus, 0) << result.describe();
  JobStream stream = readStream(result.out);
  ASSERT_EQ(stream.pages.size(), 1u);
  const DecodedPlane& black = plane(stream.pages[0], 3).decoded;
  EXPECT_EQ(countDots(black), 1u);
  EXPECT_TRUE(black.dot(1024 - 1 - 10, 600 - 1 - 20));
}

TEST(SimplexStream, CollatedCopiesSendTheSetAgainAndLeaveNoSpoolFile) {
  ZERU_REQUIRE_FILTER_RUNS();
  JobRun job;
  job.ppd.setDefault("Collate", "True");
  for (int id = 1; id <= 3; ++id) {
    RasterPage page = markedPage(id);
    page.header.NumCopies = 2;
    job.pages.push_back(page);
  }
  FilterResult result = job.go();
  ASSERT_EQ(result.exitStatus, 0) << result.describe();
  JobStream stream = readStream(result.out);
  ASSERT_TRUE(stream.clean()) << problemsOf(stream);
  EXPECT_EQ(markedPageIds(stream), (std::vector<int>{3, 2, 1, 3, 2, 1}));
  EXPECT_EQ(settingValue(stream, "QTY"), "1");
  EXPECT_FALSE(hasSetting(stream, "COPIES"));
  EXPECT_EQ(stream.jobStart.copies, 1);
  EXPECT_TRUE(result.leftFiles.empty());
}

TEST(SimplexStream, UncollatedCopiesAreThePrintersToMake) {
  ZERU_REQUIRE_FILTER_RUNS();
  JobRun job;
  for (int id = 1; id <= 3; ++id) {
    RasterPage page = markedPage(id);
    page.header.NumCopies = 2;
    job.pages.push_back(page);
  }
  FilterResult result = job.go();
  ASSERT_EQ(result.exitStatus, 0) << result.describe();
  JobStream stream = readStream(result.out);
  EXPECT_EQ(markedPageIds(stream), (std::vector<int>{3, 2, 1}));
  EXPECT_EQ(settingValue(stream, "COPIES"), "2");
  EXPECT_EQ(settingValue(stream, "DUPLEX"), "OFF");
  EXPECT_FALSE(hasSetting(stream, "MDPXS"));
  EXPECT_EQ(stream.jobStart.copies, 2);
  EXPECT_TRUE(result.leftFiles.empty());
}

TEST(SimplexStream, BlankPagesAreDroppedOnlyWhenSavingIsOn) {
  ZERU_REQUIRE_FILTER_RUNS();
  JobRun saving;
  saving.ppd.setDefault("AKSaveBlankSheet", "True");
  RasterPage white = grayPage(makeHeader(72, 72, 600, false));
  saving.pages = {markedPage(1), white, markedPage(2)};
  FilterResult result = saving.go();
  ASSERT_EQ(result.exitStatus, 0) << result.describe();
  // The scheduler counts each "PAGE:" line as a printed page: the dropped
  // page has none, and every page's rasterisation still ends at 100%.
  EXPECT_EQ(occurrences(result.err, "PAGE: 1 1\n"), 1u);
  EXPECT_EQ(occurrences(result.err, "PAGE: 2 1\n"), 1u);
  EXPECT_EQ(result.err.find("PAGE: 3 1\n"), std::string::npos);
  EXPECT_EQ(occurrences(result.err, "ATTR: job-media-progress=100\n"), 3u);
  EXPECT_EQ(markedPageIds(readStream(result.out)), (std::vector<int>{2, 1}));

  JobRun keeping;
  keeping.pages = {markedPage(1), white, markedPage(2)};
  result = keeping.go();
  ASSERT_EQ(result.exitStatus, 0) << result.describe();
  EXPECT_EQ(markedPageIds(readStream(result.out)), (std::vector<int>{2, 0, 1}));
  EXPECT_NE(result.err.find("PAGE: 3 1\n"), std::string::npos);
}

TEST(SimplexStream, LargePagesAreSentWhole) {
  ZERU_REQUIRE_FILTER_RUNS();
  JobRun job;
  // Noise compresses badly: the page's spool file is far above one copy block.
  cups_page_header2_t header = makeHeader(288, 288, 600, false);
  job.pages = {grayPage(header, [](unsigned x, unsigned y) {
    return static_cast<uint8_t>(noiseDot(x, y) ? 0 : 255);
  })};
  FilterResult result = job.go();
  ASSERT_EQ(result.exitStatus, 0) << result.describe();
  JobStream stream = readStream(result.out);
  ASSERT_TRUE(stream.clean()) << problemsOf(stream);
  ASSERT_EQ(stream.pages.size(), 1u);
  EXPECT_GT(stream.pages[0].compressedSize, 4u * 32768u);
  EXPECT_TRUE(stream.pages[0].planes[0].decodedOk);
}

TEST(SimplexStream, TermDuringTheJobSendsNoPageAndEndsWithTheAbortTrailer) {
  ZERU_REQUIRE_FILTER_RUNS();
  JobRun job;
  for (int i = 0; i < 5; ++i) job.pages.push_back(grayPage(a4Header(600, false)));
  job.run.sigtermOnStderr = "PAGE: 2 1";
  FilterResult result = job.go();
  ASSERT_TRUE(result.exited) << result.describe();
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.err.find("INFO: Ready to print.\n"), std::string::npos);
  EXPECT_NE(result.err.find("INFO: Ready to print - Job canceled.\n"), std::string::npos);
  EXPECT_EQ(result.err.find("PAGE: 5 1"), std::string::npos);
  JobStream stream = readStream(result.out);
  EXPECT_TRUE(stream.hasJobStart);
  EXPECT_TRUE(stream.pages.empty());
  EXPECT_EQ(stream.trailer, TrailerForm::EojAbort);
  EXPECT_TRUE(result.leftFiles.empty());
}

TEST(SimplexStream, FullSpoolDiskFailsClearlyAndLeavesNothing) {
  ZERU_REQUIRE_FILTER_RUNS();
  JobRun job;
  // Noise pages: each spool file is far larger than the 64 KiB disk.
  for (int i = 0; i < 3; ++i)
    job.pages.push_back(grayPage(makeHeader(288, 288, 600, false), [](unsigned x, unsigned y) {
      return static_cast<uint8_t>(noiseDot(x, y) ? 0 : 255);
    }));
  job.run.smallTmpfsBytes = 64 * 1024;
  FilterResult result = job.go();
  ASSERT_TRUE(result.exited) << result.describe();
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_NE(result.err.find("ERROR: "), std::string::npos) << result.err;
  EXPECT_EQ(result.err.find("INFO: Ready to print.\n"), std::string::npos);
  EXPECT_TRUE(result.leftFiles.empty()) << result.leftFiles.front();
}

TEST(SimplexStream, LostReaderEndsTheJobAndRemovesTheSpool) {
  ZERU_REQUIRE_FILTER_RUNS();
  JobRun job;
  for (int id = 1; id <= 3; ++id) job.pages.push_back(markedPage(id));
  job.run.closeStdoutOnStderr = "PAGE: 3 1";
  FilterResult result = job.go();
  ASSERT_TRUE(result.exited) << result.describe();
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_NE(result.err.find("ERROR: SIGPIPE Job Abort.\n"), std::string::npos) << result.err;
  EXPECT_TRUE(result.leftFiles.empty());
}

TEST(SimplexStream, BothJbigEncodersSendTheSameBytes) {
  ZERU_REQUIRE_FILTER_RUNS();
  // Colour and grayscale pages of several stripes, turned (filled bottom up)
  // and not, with noise, shapes and blank stretches.
  auto pages = [] {
    cups_page_header2_t colour = makeHeader(144, 108, 600, true);
    cups_page_header2_t gray = makeHeader(108, 144, 600, false);
    return std::vector<RasterPage>{
        colourPage(colour,
                   [](unsigned x, unsigned y) {
                     if (y > 300 && y < 500 && noiseDot(x, y)) return kBlack;
                     if ((x / 40 + y / 40) % 3 == 0) return Rgb{255, 0, 0};
                     return (x > 600 && y % 128 < 3) ? Rgb{0, 0, 255} : kWhite;
                   }),
        grayPage(gray, [](unsigned x, unsigned y) {
          return static_cast<uint8_t>(((x * x + y * 3) % 511 < 200 || noiseDot(x, y)) ? 0 : 255);
        })};
  };
  std::string streams[2];
  for (int i = 0; i < 2; ++i) {
    for (bool turned : {false, true}) {
      JobRun job;
      if (turned) job.ppd.setDefault("ImageRotation", "true");
      job.pages = pages();
      if (i == 1) job.run.env["ZERU_JBIG"] = "jbigkit";
      FilterResult result = job.go();
      ASSERT_EQ(result.exitStatus, 0) << result.describe();
      JobStream stream = readStream(result.out);
      ASSERT_TRUE(stream.clean()) << problemsOf(stream);
      ASSERT_EQ(stream.pages.size(), 2u);
      // The job header carries the time of day; the pages and the trailer do not.
      streams[i] += result.out.substr(stream.pages[0].offset);
    }
  }
  EXPECT_TRUE(streams[0] == streams[1]) << "the own encoder's stream differs from JBIG-KIT's";
}

// Without DrvResolution the placement takes each page's resolution: a
// 1200 dpi gray page keeps the dots of its right half even where the marked
// choices say 600 dpi.
TEST(SimplexStream, PagesArePlacedAtTheirOwnResolutionWithoutDrvResolution) {
  ZERU_REQUIRE_FILTER_RUNS();
  JobRun job;
  job.ppd.remove("DrvResolution");
  PpdOption resolution;
  resolution.keyword = "Resolution";
  resolution.choices = {{"600dpi", "", ""}, {"1200dpi", "", ""}};
  resolution.defaultChoice = "600dpi";
  PpdOption quality;
  quality.keyword = "cupsPrintQuality";
  quality.choices = {{"Draft", "", ""}, {"Normal", "", ""}, {"High", "", ""}};
  quality.defaultChoice = "Normal";
  job.ppd.addOption(resolution).addOption(quality);
  job.pages = {grayPage(makeHeader(144, 144, 1200, false), [](unsigned x, unsigned) {
    return static_cast<uint8_t>(x >= 1500 && x < 1900 ? 0 : 255);
  })};
  FilterResult result = job.go();
  ASSERT_EQ(result.exitStatus, 0) << result.describe();
  JobStream stream = readStream(result.out);
  expectCompleteStream(stream);
  EXPECT_EQ(settingValue(stream, "RESOLUTION"), "1200");
  ASSERT_EQ(stream.pages.size(), 1u);
  EXPECT_EQ(stream.pages[0].resolution, 1200);
  const PlaneEntity* black = stream.pages[0].findPlane(3);
  ASSERT_NE(black, nullptr);
  ASSERT_TRUE(black->decodedOk);
  EXPECT_GT(countDots(black->decoded), 0u);
}
