#include <gtest/gtest.h>

#include <cstring>

#include "driver/raster_check.h"

namespace {

cups_page_header2_t a4Colour600() {
  cups_page_header2_t header;
  memset(&header, 0, sizeof header);
  header.PageSize[0] = 595;
  header.PageSize[1] = 842;
  header.HWResolution[0] = header.HWResolution[1] = 600;
  header.cupsBitsPerPixel = 24;
  header.cupsWidth = 4758;
  header.cupsHeight = 6817;
  header.cupsBytesPerLine = 4758 * 3;
  return header;
}

}  // namespace

TEST(RasterHeaderCheck, AcceptsWhatTheChainProduces) {
  cups_page_header2_t header = a4Colour600();
  EXPECT_EQ(rasterHeaderProblem(header), nullptr);
  header.HWResolution[0] = header.HWResolution[1] = 1200;
  header.cupsWidth = 9517;
  header.cupsHeight = 13633;
  header.cupsBytesPerLine = 9517 * 3;
  EXPECT_EQ(rasterHeaderProblem(header), nullptr);
  // Landscape raster of a portrait page size still fits the page's long side.
  header = a4Colour600();
  header.cupsWidth = 7000;
  header.cupsHeight = 4900;
  header.cupsBytesPerLine = 7000 * 3;
  EXPECT_EQ(rasterHeaderProblem(header), nullptr);
  header = a4Colour600();
  header.cupsBitsPerPixel = 8;
  header.cupsBytesPerLine = 4758;
  EXPECT_EQ(rasterHeaderProblem(header), nullptr);
}

TEST(RasterHeaderCheck, RefusesHostileHeaders) {
  auto refused = [](void (*change)(cups_page_header2_t&)) {
    cups_page_header2_t header = a4Colour600();
    change(header);
    const char* problem = rasterHeaderProblem(header);
    return problem && strncmp(problem, "ERROR: ", 7) == 0 && problem[strlen(problem) - 1] == '\n';
  };
  EXPECT_TRUE(refused([](cups_page_header2_t& h) { h.cupsBitsPerPixel = 1; }));
  EXPECT_TRUE(refused([](cups_page_header2_t& h) { h.cupsBitsPerPixel = 32; }));
  EXPECT_TRUE(refused([](cups_page_header2_t& h) { h.cupsBitsPerPixel = 48; }));
  EXPECT_TRUE(refused([](cups_page_header2_t& h) { h.HWResolution[0] = 0; }));
  EXPECT_TRUE(refused([](cups_page_header2_t& h) { h.HWResolution[0] = 300; }));
  EXPECT_TRUE(refused([](cups_page_header2_t& h) { h.HWResolution[1] = 0; }));
  EXPECT_TRUE(refused([](cups_page_header2_t& h) { h.HWResolution[1] = 100000; }));
  EXPECT_TRUE(refused([](cups_page_header2_t& h) { h.PageSize[0] = 0; }));
  EXPECT_TRUE(refused([](cups_page_header2_t& h) { h.PageSize[1] = 0xFFFFFFFFu; }));
  EXPECT_TRUE(refused([](cups_page_header2_t& h) { h.cupsHeight = 0x7FFFFFFFu; }));
  EXPECT_TRUE(refused([](cups_page_header2_t& h) { h.cupsWidth = 0x7FFFFFFFu; }));
  EXPECT_TRUE(refused([](cups_page_header2_t& h) { h.cupsBytesPerLine = 0xFFFFFFF0u; }));
}

TEST(RasterHeaderCheck, PlanesBeyondTheMemoryLimitAreRefused) {
  cups_page_header2_t legal = a4Colour600();
  legal.PageSize[0] = 612;
  legal.PageSize[1] = 1008;
  legal.HWResolution[0] = legal.HWResolution[1] = 1200;
  legal.cupsWidth = 10200;
  legal.cupsHeight = 16800;
  legal.cupsBytesPerLine = 10200 * 3;
  EXPECT_EQ(rasterHeaderProblem(legal), nullptr);

  // A consistent 200-inch square colour page at 1200 dpi: about 28 GB of planes.
  cups_page_header2_t huge = a4Colour600();
  huge.PageSize[0] = huge.PageSize[1] = 14400;
  huge.HWResolution[0] = huge.HWResolution[1] = 1200;
  huge.cupsWidth = huge.cupsHeight = 240000;
  huge.cupsBytesPerLine = 240000 * 3;
  ASSERT_NE(rasterHeaderProblem(huge), nullptr);
  EXPECT_STREQ(rasterHeaderProblem(huge), "ERROR: Raster page is too large to print\n");
}
