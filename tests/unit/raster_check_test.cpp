#include <gtest/gtest.h>

#include <cstring>

#include "job/raster_check.h"
#include "settings/paper_table.h"
#include "zeru/page_header.h"

namespace {

// Pixel layouts the printers do not take, numbered as raster headers number them.
constexpr unsigned kColorSpaceK = 3;    // black-based gray
constexpr unsigned kColorSpaceCMY = 4;
constexpr unsigned kColorOrderBanded = 1;
constexpr unsigned kColorOrderPlanar = 2;

zeru::PageHeader a4Colour600() {
  zeru::PageHeader header;
  header.pageSize[0] = 595;
  header.pageSize[1] = 842;
  header.hwResolution[0] = header.hwResolution[1] = 600;
  header.bitsPerPixel = 24;
  header.colorSpace = zeru::kColorSpaceRGB;
  header.colorOrder = zeru::kColorOrderChunky;
  header.width = 4758;
  header.height = 6817;
  header.bytesPerLine = 4758 * 3;
  return header;
}

}  // namespace

TEST(RasterHeaderCheck, AcceptsWhatTheChainProduces) {
  zeru::PageHeader header = a4Colour600();
  EXPECT_EQ(rasterHeaderProblem(header), nullptr);
  header.hwResolution[0] = header.hwResolution[1] = 1200;
  header.width = 9517;
  header.height = 13633;
  header.bytesPerLine = 9517 * 3;
  EXPECT_EQ(rasterHeaderProblem(header), nullptr);
  // Landscape raster of a portrait page size still fits the page's long side.
  header = a4Colour600();
  header.width = 7000;
  header.height = 4900;
  header.bytesPerLine = 7000 * 3;
  EXPECT_EQ(rasterHeaderProblem(header), nullptr);
  header = a4Colour600();
  header.bitsPerPixel = 8;
  header.colorSpace = zeru::kColorSpaceSW;
  header.bytesPerLine = 4758;
  EXPECT_EQ(rasterHeaderProblem(header), nullptr);
}

TEST(RasterHeaderCheck, RefusesHostileHeaders) {
  auto refused = [](void (*change)(zeru::PageHeader&)) {
    zeru::PageHeader header = a4Colour600();
    change(header);
    const char* problem = rasterHeaderProblem(header);
    return problem && *problem != '\0' && strchr(problem, '\n') == nullptr;
  };
  EXPECT_TRUE(refused([](zeru::PageHeader& h) { h.bitsPerPixel = 1; }));
  EXPECT_TRUE(refused([](zeru::PageHeader& h) { h.bitsPerPixel = 32; }));
  EXPECT_TRUE(refused([](zeru::PageHeader& h) { h.bitsPerPixel = 48; }));
  EXPECT_TRUE(refused([](zeru::PageHeader& h) { h.hwResolution[0] = 0; }));
  EXPECT_TRUE(refused([](zeru::PageHeader& h) { h.hwResolution[0] = 300; }));
  EXPECT_TRUE(refused([](zeru::PageHeader& h) { h.hwResolution[1] = 0; }));
  EXPECT_TRUE(refused([](zeru::PageHeader& h) { h.hwResolution[1] = 100000; }));
  EXPECT_TRUE(refused([](zeru::PageHeader& h) { h.pageSize[0] = 0; }));
  EXPECT_TRUE(refused([](zeru::PageHeader& h) { h.pageSize[1] = 0xFFFFFFFFu; }));
  EXPECT_TRUE(refused([](zeru::PageHeader& h) { h.height = 0x7FFFFFFFu; }));
  EXPECT_TRUE(refused([](zeru::PageHeader& h) { h.width = 0x7FFFFFFFu; }));
  EXPECT_TRUE(refused([](zeru::PageHeader& h) { h.bytesPerLine = 0xFFFFFFF0u; }));
}

TEST(RasterHeaderCheck, PlanesBeyondTheMemoryLimitAreRefused) {
  zeru::PageHeader legal = a4Colour600();
  legal.pageSize[0] = 612;
  legal.pageSize[1] = 1008;
  legal.hwResolution[0] = legal.hwResolution[1] = 1200;
  legal.width = 10200;
  legal.height = 16800;
  legal.bytesPerLine = 10200 * 3;
  EXPECT_EQ(rasterHeaderProblem(legal), nullptr);

  // A consistent 200-inch square colour page at 1200 dpi: about 28 GB of planes.
  zeru::PageHeader huge = a4Colour600();
  huge.pageSize[0] = huge.pageSize[1] = 14400;
  huge.hwResolution[0] = huge.hwResolution[1] = 1200;
  huge.width = huge.height = 240000;
  huge.bytesPerLine = 240000 * 3;
  ASSERT_NE(rasterHeaderProblem(huge), nullptr);
  EXPECT_STREQ(rasterHeaderProblem(huge), "Raster page is too large to print");
}

TEST(RasterHeaderCheck, PixelsMustBeWhatTheColourLibraryConverts) {
  auto problem = [](unsigned space, unsigned order, unsigned bitsPerPixel) {
    zeru::PageHeader header = a4Colour600();
    header.colorSpace = space;
    header.colorOrder = order;
    header.bitsPerPixel = bitsPerPixel;
    header.bytesPerLine = header.width * bitsPerPixel / 8;
    return rasterHeaderProblem(header);
  };
  for (unsigned rgb : {zeru::kColorSpaceRGB, zeru::kColorSpaceSRGB, zeru::kColorSpaceAdobeRGB})
    EXPECT_EQ(problem(rgb, zeru::kColorOrderChunky, 24), nullptr) << rgb;
  for (unsigned gray : {zeru::kColorSpaceW, zeru::kColorSpaceSW})
    EXPECT_EQ(problem(gray, zeru::kColorOrderChunky, 8), nullptr) << gray;
  const char* expected =
      "Unsupported raster colour space or colour order: only chunky RGB and white-based "
      "gray pages can be printed";
  // Black-based gray would print inverted, CMY as if it were RGB.
  EXPECT_STREQ(problem(kColorSpaceK, zeru::kColorOrderChunky, 8), expected);
  EXPECT_STREQ(problem(kColorSpaceCMY, zeru::kColorOrderChunky, 24), expected);
  EXPECT_STREQ(problem(zeru::kColorSpaceW, zeru::kColorOrderChunky, 24), expected);
  EXPECT_STREQ(problem(zeru::kColorSpaceRGB, zeru::kColorOrderChunky, 8), expected);
  EXPECT_STREQ(problem(zeru::kColorSpaceRGB, kColorOrderBanded, 24), expected);
  EXPECT_STREQ(problem(zeru::kColorSpaceRGB, kColorOrderPlanar, 24), expected);
}

TEST(RasterHeaderCheck, DotsMustBeSquareAndCopiesCountable) {
  zeru::PageHeader header = a4Colour600();
  header.hwResolution[1] = 1200;
  EXPECT_STREQ(rasterHeaderProblem(header), "Unsupported raster resolution");
  header.hwResolution[0] = 1200;
  header.hwResolution[1] = 600;
  EXPECT_STREQ(rasterHeaderProblem(header), "Unsupported raster resolution");

  const char* tooMany = "The raster asks for more copies than the printer can make";
  header = a4Colour600();
  for (unsigned copies : {0u, 1u, 65535u}) {
    header.numCopies = copies;
    EXPECT_EQ(rasterHeaderProblem(header), nullptr) << copies;
  }
  for (unsigned copies : {65536u, 20000000u, 0x80000000u, 0xFFFFFFFFu}) {
    header.numCopies = copies;
    EXPECT_STREQ(rasterHeaderProblem(header), tooMany) << copies;
  }
  header.numCopies = 100;
  EXPECT_EQ(rasterHeaderProblem(header, 100), nullptr);
  header.numCopies = 101;
  EXPECT_STREQ(rasterHeaderProblem(header, 100), tooMany);
}

TEST(RasterHeaderCheck, ZeroCopiesAreOneCopy) {
  zeru::PageHeader header = a4Colour600();
  header.numCopies = 0;
  EXPECT_TRUE(takeZeroCopiesAsOne(header));
  EXPECT_EQ(header.numCopies, 1u);
  for (unsigned copies : {1u, 2u, 65536u}) {
    header.numCopies = copies;
    EXPECT_FALSE(takeZeroCopiesAsOne(header)) << copies;
    EXPECT_EQ(header.numCopies, copies);
  }
}

TEST(CustomSizeCheck, PageMustFitThePaperPath) {
  // 3 x 5 inches to 8.5 x 14 inches.
  CustomSizeRange range{true, 216, 360, 612, 1008};
  auto problem = [&](unsigned width, unsigned height) {
    zeru::PageHeader header = a4Colour600();
    header.pageSize[0] = width;
    header.pageSize[1] = height;
    return customSizeProblem(header, range);
  };
  EXPECT_EQ(problem(216, 360), nullptr);
  EXPECT_EQ(problem(612, 1008), nullptr);
  EXPECT_EQ(problem(215, 359), nullptr);   // a point of rounding either way
  EXPECT_EQ(problem(613, 1009), nullptr);
  EXPECT_EQ(problem(576, 720), nullptr);
  const char* outside = "Custom page size is outside the range the printer can print";
  EXPECT_STREQ(problem(100, 400), outside);
  EXPECT_STREQ(problem(300, 300), outside);
  EXPECT_STREQ(problem(700, 800), outside);
  EXPECT_STREQ(problem(612, 1100), outside);
  // A landscape page wider than the paper path is not turned for it.
  EXPECT_STREQ(problem(1008, 612), outside);
  // A PPD without custom sizes declares no range to hold a page to.
  range.offered = false;
  EXPECT_EQ(problem(100, 100), nullptr);
}

// Which pages are landscape: the raster as it comes, the job's paper, and the
// sheet the page geometry chooses for it.
TEST(LandscapeRasterCheck, RasterWiderThanItsSheetsLineIsRefused) {
  struct Case {
    const char* name;
    int paperIndex;
    unsigned width, height;  // header page size, points
    unsigned resolution;
    unsigned rasterWidth;    // dots
    bool landscape;
  };
  const Case cases[] = {
      // Turned to a portrait sheet of the table, the raster overruns its line.
      {"A4 landscape, whole sheet", 1, 842, 595, 600, 7016, true},
      {"A4 landscape, imageable area", 1, 842, 595, 600, 6817, true},
      {"A4 landscape at 1200 dpi", 1, 842, 595, 1200, 13633, true},
      {"Letter landscape", 0, 792, 612, 600, 6400, true},
      {"Legal landscape", 10, 1008, 612, 600, 8200, true},
      {"B5 landscape", 4, 729, 516, 600, 5875, true},
      {"A6 landscape, the one narrow size turned", 3, 420, 297, 600, 3300, true},
      // On an A6 job every narrow landscape page is turned, A5 too.
      {"A5 landscape on an A6 job", 3, 595, 420, 600, 4958, true},
      // Turned to a size no row has: a custom portrait sheet, still too narrow.
      {"landscape of no paper on an A4 job", 1, 900, 700, 600, 7500, true},
      // A landscape raster under a portrait page size.
      {"landscape raster, portrait A4 size", 1, 595, 842, 600, 7016, true},
      // What the chain sends: portrait rasters of the imageable area.
      {"A4 portrait", 1, 595, 842, 600, 4758, false},
      {"A4 portrait at 1200 dpi", 1, 595, 842, 1200, 9517, false},
      {"A4 portrait, whole sheet", 1, 595, 842, 600, 4958, false},
      // A portrait raster under a landscape page size is printed turned.
      {"portrait raster, landscape A4 size", 1, 842, 595, 600, 4958, false},
      // Wide sizes fed as they are.
      {"A5LEF", 8, 595, 420, 600, 4958, false},
      {"B6LEF at 1200 dpi", 9, 516, 363, 1200, 8600, false},
      {"A5 landscape on an A5 job, printed as custom", 2, 595, 420, 600, 4958, false},
      // Custom sizes keep their width; the custom range check holds them.
      {"wide custom page", kCustomPaperIndex, 842, 595, 600, 7016, false},
      // 553 points at 1200 dpi is 9216.7 dots: the device line is 9216, and
      // a raster rounded up overruns it by a dot.
      {"custom width rounded up", kCustomPaperIndex, 553, 700, 1200, 9217, false},
      {"custom width, 16 dots of rounding", kCustomPaperIndex, 553, 700, 1200, 9232, false},
      {"custom width, beyond rounding", kCustomPaperIndex, 553, 700, 1200, 9233, true},
  };
  const char* refusal =
      "Landscape raster pages cannot be printed: the raster is wider than the sheet";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PaperTable table;
    PageGeometry geometry;
    ASSERT_TRUE(
        computePageGeometry(table, c.paperIndex, c.width, c.height, c.resolution, geometry));
    zeru::PageHeader header = a4Colour600();
    header.pageSize[0] = geometry.pageWidth;
    header.pageSize[1] = geometry.pageHeight;
    header.hwResolution[0] = header.hwResolution[1] = c.resolution;
    header.width = c.rasterWidth;
    header.bytesPerLine = c.rasterWidth * 3;
    if (c.landscape)
      EXPECT_STREQ(landscapeRasterProblem(header, geometry.lineWidth), refusal);
    else
      EXPECT_EQ(landscapeRasterProblem(header, geometry.lineWidth), nullptr);
  }
}
