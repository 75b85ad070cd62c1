// Hostile and damaged raster input: the filter refuses what it cannot print
// with a clear error, finishes what it can, and never leaves a spool file.
#include "job_fixture.h"

#include "job/raster_check.h"
#include "zeru/page_header.h"

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

using namespace zerutest;

namespace {

struct HostileHeader {
  const char* name;
  std::function<void(cups_page_header2_t&)> change;
};

// A one-inch gray page at 600 dpi with a changed header. Only the header and
// a couple of lines are written: nothing of the size the header claims is
// ever sent, so that a filter that believed it would be caught allocating or
// waiting rather than by a slow test.
std::string hostileJob(const HostileHeader& hostile) {
  RasterPage page = markedPage(1);
  hostile.change(page.header);
  page.linesToWrite = page.header.cupsBytesPerLine > (1u << 20) ? 0 : 2;
  page.gray = {};
  page.line = [](unsigned, uint8_t* line, size_t length) { std::fill(line, line + length, 0x80); };
  return rasterJobBytes({page});
}

// Sets the raster's own size: width and height in pixels, line bytes to match
// (libcups's reader ends the stream at a line length that does not match).
void setRaster(cups_page_header2_t& h, unsigned width, unsigned height) {
  h.cupsWidth = width;
  h.cupsHeight = height;
  h.cupsBytesPerLine = static_cast<unsigned>((uint64_t{width} * h.cupsBitsPerPixel + 7) / 8);
}

void setBitsPerPixel(cups_page_header2_t& h, unsigned bitsPerColor, unsigned bitsPerPixel,
                     cups_cspace_t space) {
  h.cupsBitsPerColor = bitsPerColor;
  h.cupsBitsPerPixel = bitsPerPixel;
  h.cupsColorSpace = space;
  setRaster(h, h.cupsWidth, h.cupsHeight);
}

const std::vector<HostileHeader>& hostileHeaders() {
  static const std::vector<HostileHeader> headers = {
      {"page size 0 x 0", [](auto& h) { h.PageSize[0] = h.PageSize[1] = 0; }},
      {"page width 0", [](auto& h) { h.PageSize[0] = 0; }},
      {"page size 4294967295 points", [](auto& h) { h.PageSize[0] = h.PageSize[1] = 0xFFFFFFFFu; }},
      {"page size 100000 points", [](auto& h) { h.PageSize[0] = h.PageSize[1] = 100000; }},
      {"resolution 0", [](auto& h) { h.HWResolution[0] = h.HWResolution[1] = 0; }},
      {"resolution 300", [](auto& h) { h.HWResolution[0] = h.HWResolution[1] = 300; }},
      {"resolution 2400", [](auto& h) { h.HWResolution[0] = h.HWResolution[1] = 2400; }},
      {"vertical resolution 0", [](auto& h) { h.HWResolution[1] = 0; }},
      {"vertical resolution 4294967295", [](auto& h) { h.HWResolution[1] = 0xFFFFFFFFu; }},
      {"600 x 1200 dpi", [](auto& h) { h.HWResolution[1] = 1200; }},
      {"black-based gray", [](auto& h) { h.cupsColorSpace = CUPS_CSPACE_K; }},
      {"banded colour order",
       [](auto& h) {
         setBitsPerPixel(h, 8, 24, CUPS_CSPACE_RGB);
         h.cupsColorOrder = CUPS_ORDER_BANDED;
       }},
      {"65536 copies", [](auto& h) { h.NumCopies = 65536; }},
      {"2^31 collated copies",
       [](auto& h) {
         h.NumCopies = 0x80000000u;
         h.Collate = CUPS_TRUE;
       }},
      {"A4 landscape raster on a portrait sheet",
       [](auto& h) {
         h.PageSize[0] = 842;
         h.PageSize[1] = 595;
         setRaster(h, 7016, 4958);
       }},
      {"custom size wider than the paper path",
       [](auto& h) {
         h.PageSize[0] = 700;
         h.PageSize[1] = 800;
       }},
      {"width 1000000 on a one-inch page", [](auto& h) { setRaster(h, 1000000, 600); }},
      {"height 4000000000 on a one-inch page", [](auto& h) { setRaster(h, 600, 4000000000u); }},
      {"width and height 2^31 - 1",
       [](auto& h) { setRaster(h, 0x7FFFFFFFu / 4, 0x7FFFFFFFu); }},
      // Everything consistent, and far more than any printer takes: a
      // 200-inch square colour page at 1200 dpi (planes of some 28 GB).
      {"200-inch colour page at 1200 dpi",
       [](auto& h) {
         h.PageSize[0] = h.PageSize[1] = 14400;
         h.HWResolution[0] = h.HWResolution[1] = 1200;
         setBitsPerPixel(h, 8, 24, CUPS_CSPACE_RGB);
         setRaster(h, 240000, 240000);
       }},
      {"150-inch gray page at 600 dpi",
       [](auto& h) {
         h.PageSize[0] = h.PageSize[1] = 10800;
         setRaster(h, 90000, 90000);
       }},
      {"1 bit per pixel", [](auto& h) { setBitsPerPixel(h, 1, 1, CUPS_CSPACE_K); }},
      {"2 bits per pixel", [](auto& h) { setBitsPerPixel(h, 2, 2, CUPS_CSPACE_K); }},
      {"16 bits per pixel", [](auto& h) { setBitsPerPixel(h, 16, 16, CUPS_CSPACE_W); }},
      {"32 bits per pixel", [](auto& h) { setBitsPerPixel(h, 8, 32, CUPS_CSPACE_CMYK); }},
      {"48 bits per pixel", [](auto& h) { setBitsPerPixel(h, 16, 48, CUPS_CSPACE_RGB); }},
      {"64 bits per pixel", [](auto& h) { setBitsPerPixel(h, 16, 64, CUPS_CSPACE_CMYK); }},
  };
  return headers;
}

}  // namespace

// Every hostile header above does reach the filter: libcups's reader passes
// it on, so that the filter's own checks are what the next test sees.
TEST(HostileRaster, LibcupsPassesTheHostileHeadersOn) {
  for (const HostileHeader& hostile : hostileHeaders()) {
    std::vector<ReadPage> pages = readRasterBytes(hostileJob(hostile));
    ASSERT_EQ(pages.size(), 1u) << hostile.name;
  }
}

TEST(HostileRaster, HeadersThatCannotBePrintedEndTheJobWithAnError) {
  ZERU_REQUIRE_FILTER_RUNS();
  TempDir dir("hostile");
  PpdBuilder().writeTo(dir.file("t.ppd"));
  for (const HostileHeader& hostile : hostileHeaders()) {
    SCOPED_TRACE(hostile.name);
    FilterRun run;
    run.ppd = dir.file("t.ppd");
    run.stdinBytes = hostileJob(hostile);
    run.timeoutMs = 30000;
    FilterResult result = runFilter(run);
    expectOrderlyEnd(result);
    EXPECT_EQ(result.exitStatus, 1) << result.describe();
    size_t page = result.err.find("PAGE: 1 ");
    ASSERT_NE(page, std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("\nERROR: ", page), result.err.find('\n', page)) << result.err;
    EXPECT_EQ(result.err.back(), '\n');
    EXPECT_EQ(result.err.find("INFO: Ready to print."), std::string::npos);
    // Refused before the job header: the printer sees nothing.
    EXPECT_EQ(result.out, "");
  }
}

// A page refused in the middle of a job: the pages before it are already on
// disk, and they go too.
TEST(HostileRaster, HostilePageAfterGoodOnesLeavesNoSpoolFile) {
  ZERU_REQUIRE_FILTER_RUNS();
  JobRun job;
  job.pages = {markedPage(1), markedPage(2)};
  RasterPage bad = markedPage(3);
  bad.header.HWResolution[0] = bad.header.HWResolution[1] = 300;
  job.pages.push_back(bad);
  FilterResult result = job.go();
  expectOrderlyEnd(result);
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_NE(result.err.find("PAGE: 3 1\nERROR: Unsupported raster resolution\n"),
            std::string::npos)
      << result.err;
  EXPECT_EQ(result.out, "");
}

// What libcups's reader itself refuses never reaches the filter: the stream
// simply ends there, and the job holds the pages before it.
TEST(HostileRaster, HeadersTheReaderRefusesEndTheInputThere) {
  ZERU_REQUIRE_FILTER_RUNS();
  const std::vector<HostileHeader> refusedByReader = {
      {"height 0", [](auto& h) { h.cupsHeight = 0; }},
      {"line bytes not whole pixels",
       [](auto& h) {
         setBitsPerPixel(h, 8, 24, CUPS_CSPACE_RGB);
         h.cupsBytesPerLine += 1;
       }},
      {"line bytes 0", [](auto& h) { h.cupsBytesPerLine = 0; }},
  };
  for (const HostileHeader& hostile : refusedByReader) {
    SCOPED_TRACE(hostile.name);
    RasterPage bad = markedPage(2);
    hostile.change(bad.header);
    bad.linesToWrite = 0;
    ASSERT_EQ(readRasterBytes(rasterJobBytes({markedPage(1), bad})).size(), 1u);

    JobRun job;
    job.pages = {markedPage(1), bad};
    FilterResult result = job.go();
    expectOrderlyEnd(result);
    EXPECT_EQ(result.exitStatus, 0) << result.describe();
    JobStream stream = readStream(result.out);
    expectCompleteStream(stream);
    EXPECT_EQ(markedPageIds(stream), std::vector<int>{1});
  }
}

// A stream that ends in the middle of a page: the page is finished from what
// the line buffers hold, every missing line is logged, and the job ends as
// usual.
TEST(DamagedRaster, StreamCutInThePageIsFinishedAndTheJobEnds) {
  ZERU_REQUIRE_FILTER_RUNS();
  for (bool colour : {false, true}) {
    SCOPED_TRACE(colour ? "colour" : "gray");
    JobRun job;
    job.pages = {markedPage(1, colour), markedPage(2, colour)};
    std::string whole = rasterJobBytes(job.pages);
    // Cut page 2 after about 300 of its 600 lines: its mark (the first 32
    // lines) has been read.
    size_t lineBytes = job.pages[1].header.cupsBytesPerLine;
    job.run.ppd = job.dir.file("job.ppd");
    job.ppd.writeTo(*job.run.ppd);
    job.run.stdinBytes = whole.substr(0, whole.size() - 300 * lineBytes - 17);
    FilterResult result = runFilter(job.run);
    expectOrderlyEnd(result);
    EXPECT_EQ(result.exitStatus, 0) << result.describe();
    EXPECT_NE(result.log.find("ERROR: Unable read raster data!\n"), std::string::npos);
    EXPECT_NE(result.err.find("INFO: Ready to print.\n"), std::string::npos);
    JobStream stream = readStream(result.out);
    expectCompleteStream(stream);
    EXPECT_EQ(markedPageIds(stream), (std::vector<int>{2, 1}));
    ASSERT_EQ(stream.pages.size(), 2u);
    EXPECT_EQ(stream.pages[0].lines, 600u);
  }
}

// Cut inside a page header, or right after the first line: what was read
// prints, the job still ends properly.
// The lines of a cut page that were never read print as paper, never as
// lines left over in the engine instances' input buffers; the cut is
// reported once on standard error.
TEST(DamagedRaster, LinesNeverReadPrintWhite) {
  ZERU_REQUIRE_FILTER_RUNS();
  for (bool colour : {false, true}) {
    SCOPED_TRACE(colour ? "colour" : "gray");
    JobRun job;
    cups_page_header2_t header = makeHeader(kSmallPagePoints, kSmallPagePoints, 600, colour);
    RasterPage black = colour ? colourPage(header, [](unsigned, unsigned) { return kBlack; })
                              : grayPage(header, [](unsigned, unsigned) { return uint8_t{0}; });
    job.pages = {black};
    std::string whole = rasterJobBytes(job.pages);
    // Lines 0 to 298 arrive whole, line 299 in part, the rest not at all.
    size_t lineBytes = header.cupsBytesPerLine;
    job.ppd.writeTo(job.dir.file("job.ppd"));
    job.run.ppd = job.dir.file("job.ppd");
    job.run.stdinBytes = whole.substr(0, whole.size() - 300 * lineBytes - 17);
    FilterResult result = runFilter(job.run);
    expectOrderlyEnd(result);
    EXPECT_EQ(result.exitStatus, 0) << result.describe();
    const std::string cutLine =
        "ERROR: Unable to read the raster data of page 1; the lines not read print blank\n";
    size_t at = result.err.find(cutLine);
    ASSERT_NE(at, std::string::npos) << result.err;
    EXPECT_EQ(result.err.find(cutLine, at + 1), std::string::npos) << "reported more than once";
    JobStream stream = readStream(result.out);
    expectCompleteStream(stream);
    ASSERT_EQ(stream.pages.size(), 1u);
    const PlaneEntity* plane = stream.pages[0].findPlane(3);
    ASSERT_TRUE(plane && plane->decodedOk);
    const DecodedPlane& k = plane->decoded;
    auto lineDots = [&](uint32_t y) {
      size_t dots = 0;
      for (size_t i = 0; i < k.bytesPerLine(); ++i)
        dots += static_cast<size_t>(__builtin_popcount(k.bits[y * k.bytesPerLine() + i]));
      return dots;
    };
    for (uint32_t y = 0; y < 299; ++y) ASSERT_GT(lineDots(y), 0u) << "line " << y;
    for (uint32_t y = 299; y < k.height; ++y) ASSERT_EQ(lineDots(y), 0u) << "line " << y;
  }
}

TEST(DamagedRaster, StreamCutAnywhereEndsTheJobProperly) {
  ZERU_REQUIRE_FILTER_RUNS();
  std::vector<RasterPage> pages = {markedPage(1), markedPage(2)};
  std::string whole = rasterJobBytes(pages);
  std::string first = rasterJobBytes({pages[0]});
  size_t lineBytes = pages[0].header.cupsBytesPerLine;
  struct Cut {
    const char* name;
    size_t keep;
    size_t pages;
  };
  const std::vector<Cut> cuts = {
      {"in the sync word", 2, 0},
      {"in the first header", 4 + 700, 0},
      {"after the first header", 4 + 1796, 1},
      {"after the first line", 4 + 1796 + lineBytes, 1},
      {"inside the second header", first.size() + 1000, 1},
      {"one byte short", whole.size() - 1, 2},
  };
  TempDir dir("cut");
  PpdBuilder().writeTo(dir.file("t.ppd"));
  for (const Cut& cut : cuts) {
    SCOPED_TRACE(cut.name);
    FilterRun run;
    run.ppd = dir.file("t.ppd");
    run.stdinBytes = whole.substr(0, cut.keep);
    FilterResult result = runFilter(run);
    expectOrderlyEnd(result);
    EXPECT_EQ(result.exitStatus, 0) << result.describe();
    JobStream stream = readStream(result.out);
    expectCompleteStream(stream);
    EXPECT_EQ(stream.pages.size(), cut.pages);
  }
}

TEST(DamagedRaster, GarbageAfterTheLastPageIsIgnored) {
  ZERU_REQUIRE_FILTER_RUNS();
  std::string noise(8192, '\0');
  for (size_t i = 0; i < noise.size(); ++i)
    noise[i] = static_cast<char>(noiseDot(static_cast<unsigned>(i), 7) * 0x5A +
                                 noiseDot(static_cast<unsigned>(i), 9) * 0xA5);
  const std::vector<std::pair<const char*, std::string>> garbage = {
      {"a few bytes", "garbage"},
      {"noise longer than a header", noise},
      {"zeros longer than a header", std::string(4000, '\0')},
      {"a second sync word", std::string("RaS3") + std::string(100, 'x')},
  };
  for (const auto& [name, bytes] : garbage) {
    SCOPED_TRACE(name);
    JobRun job;
    job.pages = {markedPage(1), markedPage(2)};
    job.ppd.writeTo(job.dir.file("job.ppd"));
    job.run.ppd = job.dir.file("job.ppd");
    RasterJobOptions options;
    options.trailingBytes = bytes;
    job.run.stdinBytes = rasterJobBytes(job.pages, options);
    FilterResult result = runFilter(job.run);
    expectOrderlyEnd(result);
    EXPECT_EQ(result.exitStatus, 0) << result.describe();
    JobStream stream = readStream(result.out);
    expectCompleteStream(stream);
    EXPECT_EQ(markedPageIds(stream), (std::vector<int>{2, 1}));
  }
}

// Pages of different sizes, resolutions and colour modes in one job: each
// page block carries its own geometry and its own planes.
TEST(MixedRaster, EveryPageKeepsItsOwnGeometry) {
  ZERU_REQUIRE_FILTER_RUNS();
  struct Shape {
    bool colour;
    unsigned dpi;
    unsigned points;
    uint32_t lines;
    uint32_t dotsPerLine;
  };
  const std::vector<Shape> shapes = {
      {false, 600, 72, 600, 1024},
      {true, 1200, 72, 1200, 1536},
      {false, 1200, 144, 2400, 2560},
      {true, 600, 108, 900, 1024},
      {false, 600, 36, 300, 512},
  };
  for (RasterFormat format : {RasterFormat::Version3, RasterFormat::Version2Compressed}) {
    SCOPED_TRACE(format == RasterFormat::Version3 ? "version 3" : "version 2");
    JobRun job;
    for (size_t i = 0; i < shapes.size(); ++i)
      job.pages.push_back(markedPage(static_cast<int>(i) + 1, shapes[i].colour, shapes[i].dpi,
                                     shapes[i].points));
    job.ppd.writeTo(job.dir.file("job.ppd"));
    job.run.ppd = job.dir.file("job.ppd");
    RasterJobOptions options;
    options.format = format;
    job.run.stdinBytes = rasterJobBytes(job.pages, options);
    FilterResult result = runFilter(job.run);
    expectOrderlyEnd(result);
    ASSERT_EQ(result.exitStatus, 0) << result.describe();
    JobStream stream = readStream(result.out);
    expectCompleteStream(stream);
    ASSERT_EQ(stream.pages.size(), shapes.size());
    // Sent last-first.
    for (size_t sent = 0; sent < shapes.size(); ++sent) {
      const PageBlock& page = stream.pages[sent];
      size_t index = shapes.size() - 1 - sent;
      const Shape& shape = shapes[index];
      SCOPED_TRACE("page " + std::to_string(index + 1));
      EXPECT_EQ(markedPageId(page), static_cast<int>(index) + 1);
      EXPECT_EQ(page.colour, shape.colour);
      EXPECT_EQ(page.resolution, shape.dpi);
      EXPECT_EQ(page.lines, shape.lines);
      EXPECT_EQ(page.dotsPerLine, shape.dotsPerLine);
      EXPECT_EQ(page.planes.size(), shape.colour ? 4u : 1u);
      for (const PlaneEntity& plane : page.planes) {
        EXPECT_TRUE(plane.decodedOk);
        EXPECT_EQ(plane.header.width, shape.dotsPerLine);
        EXPECT_EQ(plane.header.height, shape.lines);
      }
      EXPECT_EQ(page.rawSize, (shape.colour ? 4u : 1u) * shape.lines * shape.dotsPerLine / 8);
    }
  }
}

// Title and user come from the command line: no byte of them may end a PJL
// line, start a new one or leave the printer language.
TEST(PjlEnvelope, ControlBytesInTitleAndUserCannotInjectLines) {
  ZERU_REQUIRE_FILTER_RUNS();
  std::string hostile;
  for (int byte = 0x01; byte <= 0x1F; ++byte) {
    hostile += static_cast<char>(byte);
    hostile += "x";
  }
  hostile += '\x7F';
  std::string injected = hostile + "\r\n@PJL SET COPIES=999\r\n\x1b%-12345X@PJL ENTER LANGUAGE=EVIL\r\n";

  JobRun plain;
  plain.pages = {markedPage(1)};
  FilterResult reference = plain.go();
  ASSERT_EQ(reference.exitStatus, 0) << reference.describe();
  JobStream expected = readStream(reference.out);

  JobRun job;
  job.pages = {markedPage(1)};
  job.run.title = injected;
  job.run.user = injected;
  FilterResult result = job.go();
  expectOrderlyEnd(result);
  ASSERT_EQ(result.exitStatus, 0) << result.describe();
  JobStream stream = readStream(result.out);
  expectCompleteStream(stream);

  // The same lines as an ordinary job's, in the same order.
  ASSERT_EQ(stream.envelope.size(), expected.envelope.size());
  for (size_t i = 0; i < stream.envelope.size(); ++i) {
    const std::string& text = stream.envelope[i].text;
    std::string reference = expected.envelope[i].text;
    EXPECT_EQ(text.substr(0, text.find_first_of(":=")),
              reference.substr(0, reference.find_first_of(":=")));
    for (char c : text) {
      unsigned char byte = static_cast<unsigned char>(c);
      EXPECT_FALSE(byte < 0x20 || byte == 0x7F) << "control byte in: " << text;
    }
  }
  EXPECT_EQ(occurrences(result.out, "\x1b%-12345X"), occurrences(reference.out, "\x1b%-12345X"));
  EXPECT_EQ(occurrences(result.out, "\r\n@PJL ENTER LANGUAGE"), 1u);
  EXPECT_EQ(settingValue(stream, "COPIES"), "1");
  EXPECT_EQ(stream.pages.size(), 1u);

  // The values are kept, each control byte turned into a blank.
  std::string blanked = injected;
  for (char& c : blanked)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
  bool userSeen = false, titleSeen = false;
  for (const auto& [key, value] : stream.jobAttributes) {
    if (key == "USR") userSeen = value == blanked;
    if (key == "DOC") titleSeen = value == blanked;
  }
  EXPECT_TRUE(userSeen);
  EXPECT_TRUE(titleSeen);
}

// A title far longer than a PJL line: the line is cut, nothing spills over.
TEST(PjlEnvelope, OverlongTitleIsCutToOneLine) {
  ZERU_REQUIRE_FILTER_RUNS();
  JobRun job;
  job.pages = {markedPage(1)};
  job.run.title = std::string(5000, 'T') + "\r\n@PJL SET COPIES=999";
  FilterResult result = job.go();
  expectOrderlyEnd(result);
  ASSERT_EQ(result.exitStatus, 0) << result.describe();
  JobStream stream = readStream(result.out);
  expectCompleteStream(stream);
  for (const PjlLine& line : stream.envelope) EXPECT_LE(line.text.size() + 2, kMaxPjlLine);
  EXPECT_EQ(result.out.find("COPIES=999"), std::string::npos);
}

// libcups passes a gray line one byte longer than its width on: the filter
// prints the pixels of the width and ignores the extra byte.
TEST(HostileRaster, LineLongerThanItsWidthByAByteStillPrints) {
  ZERU_REQUIRE_FILTER_RUNS();
  JobRun job;
  RasterPage page = markedPage(2);
  page.header.cupsBytesPerLine += 1;
  job.pages = {page};
  ASSERT_EQ(readRasterBytes(rasterJobBytes(job.pages)).size(), 1u);
  FilterResult result = job.go();
  expectOrderlyEnd(result);
  EXPECT_EQ(result.exitStatus, 0) << result.describe();
  JobStream stream = readStream(result.out);
  expectCompleteStream(stream);
  EXPECT_EQ(markedPageIds(stream), std::vector<int>{2});
}

// The limit on a page's planes leaves every real page alone: Legal in colour
// at 1200 dpi, and a 50-inch banner in colour at 600 dpi.
TEST(HostileRaster, PlaneLimitLeavesRealPagesAlone) {
  zeru::PageHeader legal = zeru::pageHeaderFrom(makeHeader(612, 1008, 1200, true));
  EXPECT_EQ(rasterHeaderProblem(legal), nullptr);
  zeru::PageHeader banner = zeru::pageHeaderFrom(makeHeader(612, 3600, 600, true));
  EXPECT_EQ(rasterHeaderProblem(banner), nullptr);
  zeru::PageHeader tooLong = zeru::pageHeaderFrom(makeHeader(612, 14400, 1200, true));
  ASSERT_NE(rasterHeaderProblem(tooLong), nullptr);
  EXPECT_STREQ(rasterHeaderProblem(tooLong), "Raster page is too large to print");
}

namespace {

constexpr const char* kLandscapeRefusal =
    "ERROR: Landscape raster pages cannot be printed: the raster is wider than the sheet\n";

// Columns and lines of the mark a wide page carries at its right end.
constexpr unsigned kMarkDots = 64;
constexpr unsigned kMarkLines = 32;

// A page of the given size whose raster is `rasterWidth` dots wide and
// `lines` lines long, white but for a black mark over the rightmost 64 dots
// of its first 32 lines: the part a cut line loses.
RasterPage rightMarkedPage(unsigned widthPoints, unsigned heightPoints, unsigned dpi, bool colour,
                           unsigned rasterWidth, unsigned lines = 256) {
  RasterPage page;
  page.header = makeHeader(widthPoints, heightPoints, dpi, colour);
  page.header.cupsWidth = rasterWidth;
  page.header.cupsHeight = lines;
  page.header.cupsBytesPerLine = rasterWidth * (colour ? 3 : 1);
  const size_t pixelBytes = colour ? 3 : 1;
  page.line = [rasterWidth, pixelBytes](unsigned y, uint8_t* line, size_t length) {
    std::fill(line, line + length, 0xFF);
    if (y < kMarkLines)
      std::fill(line + (rasterWidth - kMarkDots) * pixelBytes, line + rasterWidth * pixelBytes, 0);
  };
  return page;
}

}  // namespace

// A raster drawn along the long side of a sheet that the printer feeds
// portrait would lose every line's part beyond the sheet's device line (and
// a page whose content lies only there would be dropped as blank): such a
// page is refused, and nothing of the job is printed or left behind.
TEST(LandscapeRaster, RasterWiderThanItsSheetIsRefusedNotCut) {
  ZERU_REQUIRE_FILTER_RUNS();
  struct Case {
    const char* name;
    const char* pageSize;   // the job's paper
    RasterPage page;
    bool saveBlankSheet = false;
    bool portraitPageFirst = false;
    bool twoSided = false;
  };
  std::vector<Case> cases = {
      {"A4 landscape in colour", "A4", rightMarkedPage(842, 595, 600, true, 7016)},
      {"Letter landscape in gray at 1200 dpi", "Letter",
       rightMarkedPage(792, 612, 1200, false, 12800)},
      {"A6 landscape", "A6", rightMarkedPage(420, 297, 600, false, 3500)},
      {"landscape raster under a portrait A4 size", "A4",
       rightMarkedPage(595, 842, 600, true, 7016)},
      {"A4 landscape with blank-sheet saving", "A4", rightMarkedPage(842, 595, 600, false, 6817),
       true},
      {"A4 landscape after a portrait page", "A4", rightMarkedPage(842, 595, 600, false, 7016),
       false, true},
      {"A4 landscape, two-sided, after a portrait page", "A4",
       rightMarkedPage(842, 595, 600, true, 6817), false, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    JobRun job;
    job.ppd.setDefault("PageSize", c.pageSize);
    if (c.saveBlankSheet) job.ppd.setDefault("AKSaveBlankSheet", "True");
    if (c.twoSided) job.ppd.setDefault("DrvDuplex", "DrvDuplexNoTumble");
    if (c.portraitPageFirst) job.pages.push_back(rightMarkedPage(595, 842, 600, false, 4758));
    job.pages.push_back(c.page);
    FilterResult result = job.go();
    expectOrderlyEnd(result);
    EXPECT_EQ(result.exitStatus, 1) << result.describe();
    std::string pageLine = c.portraitPageFirst ? "PAGE: 2 1\n" : "PAGE: 1 1\n";
    if (c.saveBlankSheet) pageLine = "";
    EXPECT_NE(result.err.find(pageLine + kLandscapeRefusal), std::string::npos) << result.err;
    EXPECT_EQ(occurrences(result.err, "ERROR: "), 1u) << result.err;
    EXPECT_EQ(result.out, "");
  }
}

// The sizes that are wide as they are fed, and a portrait raster under a
// landscape page size, are printed whole: the mark at the right end of their
// raster lines is on the sheet.
TEST(LandscapeRaster, WideSizesAndPortraitRastersPrintWhole) {
  ZERU_REQUIRE_FILTER_RUNS();
  struct Case {
    const char* name;
    const char* pageSize;
    RasterPage page;
    uint8_t paperCode;
    uint32_t dotsPerLine;
  };
  // Rasters of the imageable area, as Ghostscript renders them.
  std::vector<Case> cases = {
      {"A5LEF in gray", "A5LEF", rightMarkedPage(595, 420, 600, false, 4758), 10, 5120},
      {"B6LEF in colour at 1200 dpi", "B6LEF", rightMarkedPage(516, 363, 1200, true, 8200), 11,
       9216},
      {"portrait raster under a landscape A4 size", "A4",
       rightMarkedPage(842, 595, 600, true, 4758), 2, 5120},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    JobRun job;
    job.ppd.setDefault("PageSize", c.pageSize);
    job.pages.push_back(c.page);
    FilterResult result = job.go();
    expectOrderlyEnd(result);
    ASSERT_EQ(result.exitStatus, 0) << result.describe();
    JobStream stream = readStream(result.out);
    expectCompleteStream(stream);
    ASSERT_EQ(stream.pages.size(), 1u);
    const PageBlock& page = stream.pages[0];
    EXPECT_EQ(page.paperCode, c.paperCode);
    EXPECT_EQ(page.dotsPerLine, c.dotsPerLine);
    const PlaneEntity* black = page.findPlane(3);
    ASSERT_NE(black, nullptr);
    ASSERT_TRUE(black->decodedOk);
    // Every dot of the mark, and each where it was drawn.
    const unsigned rasterWidth = c.page.header.cupsWidth;
    EXPECT_EQ(countDots(black->decoded), size_t{kMarkDots} * kMarkLines);
    for (unsigned y = 0; y < kMarkLines; ++y)
      for (unsigned x = rasterWidth - kMarkDots; x < rasterWidth; ++x)
        ASSERT_TRUE(black->decoded.dot(x, y)) << x << "," << y;
  }
}

// A caller that starts the filter with standard error closed: the status
// lines go nowhere, never into a page's spool file, and the pages print as
// they were drawn.
TEST(CarelessCaller, ClosedStandardErrorLeavesThePagesIntact) {
  ZERU_REQUIRE_FILTER_RUNS();
  for (bool colour : {false, true}) {
    SCOPED_TRACE(colour ? "colour" : "gray");
    JobRun job;
    job.pages = {markedPage(1, colour), markedPage(2, colour)};
    job.run.closedDescriptors = {2};
    FilterResult result = job.go();
    expectOrderlyEnd(result);
    EXPECT_EQ(result.exitStatus, 0) << result.describe();
    EXPECT_EQ(result.err, "");
    JobStream stream = readStream(result.out);
    expectCompleteStream(stream);
    EXPECT_EQ(markedPageIds(stream), (std::vector<int>{2, 1}));
  }
}
