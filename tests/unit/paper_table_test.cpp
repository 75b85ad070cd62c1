#include <gtest/gtest.h>

#include <cstdint>

#include "settings/paper_table.h"

namespace {

struct PortraitSize {
  int paperIndex;
  unsigned width, height;  // points
  uint8_t paperCode;
  int lineWidth600;
  int printableWidth;
};

// Every paper at its usual size in points, portrait (the LEF sizes as fed).
constexpr PortraitSize kKnownSizes[] = {
    {0, 612, 792, 1, 5120, 4902},  {1, 595, 842, 2, 5120, 4760}, {2, 420, 595, 3, 3584, 3302},
    {3, 297, 420, 4, 2560, 2277},  {4, 516, 729, 5, 4608, 4102}, {5, 363, 516, 6, 3072, 2827},
    {6, 522, 756, 7, 4608, 4152},  {7, 524, 737, 8, 4608, 4168}, {8, 595, 420, 10, 5120, 4760},
    {9, 516, 363, 11, 4608, 4102}, {10, 612, 1008, 9, 5120, 4902},
};

PageGeometry geometryOf(PaperTable& table, int paperIndex, unsigned w, unsigned h,
                        unsigned resolution) {
  PageGeometry geometry;
  EXPECT_TRUE(computePageGeometry(table, paperIndex, w, h, resolution, geometry));
  return geometry;
}

}  // namespace

TEST(PaperTable, RowsHoldTheFixedPaperSizes) {
  PaperTable table;
  const char* keywords[kPaperRows] = {"Letter", "A4",    "A5",    "A6",    "B5",    "B6",
                                      "Executive", "16K", "A5LEF", "B6LEF", "Legal", "Custom"};
  for (int i = 0; i < kPaperRows; ++i) EXPECT_STREQ(table.rows[i].keyword, keywords[i]);
  // The sheet width is always the printable width plus the margin.
  EXPECT_EQ(table.rows[0].printableWidth + 198, 5100);
  EXPECT_EQ(table.rows[1].printableWidth + 198, 4958);
  EXPECT_EQ(table.rows[7].printableWidth + 198, 4366);
  EXPECT_EQ(table.rows[kCustomPaperIndex].sheetHeight, 0);
  EXPECT_EQ(table.rows[kCustomPaperIndex].paperCode, 0);
}

TEST(PageGeometry, EveryKnownPaperMatchesItsRowAt600And1200) {
  for (const PortraitSize& size : kKnownSizes) {
    SCOPED_TRACE(size.paperIndex);
    for (unsigned resolution : {600u, 1200u}) {
      PaperTable table;
      PageGeometry g = geometryOf(table, size.paperIndex, size.width, size.height, resolution);
      EXPECT_EQ(g.paperIndex, size.paperIndex);
      EXPECT_EQ(g.paperCode, size.paperCode);
      EXPECT_EQ(g.printableWidth, size.printableWidth);
      EXPECT_EQ(g.lineWidth, size.lineWidth600 * static_cast<int>(resolution) / 600);
      EXPECT_EQ(g.lineWidth % 512, 0);
      EXPECT_EQ(g.pageWidth, size.width);
      EXPECT_EQ(g.pageHeight, size.height);
    }
  }
}

TEST(PageGeometry, LandscapeIsTurnedToPortraitExceptNarrowAndCustomPages) {
  PaperTable table;
  // A4 and Letter landscape: wider than 612 points, exchanged, then matched.
  PageGeometry a4 = geometryOf(table, 1, 842, 595, 600);
  EXPECT_EQ(a4.pageWidth, 595u);
  EXPECT_EQ(a4.pageHeight, 842u);
  EXPECT_EQ(a4.paperIndex, 1);
  EXPECT_EQ(a4.paperCode, 2);
  EXPECT_EQ(a4.lineWidth, 5120);
  PageGeometry letter = geometryOf(table, 0, 792, 612, 600);
  EXPECT_EQ(letter.pageWidth, 612u);
  EXPECT_EQ(letter.paperIndex, 0);
  EXPECT_EQ(letter.lineWidth, 5120);

  // A5LEF as fed: 595 wide is narrow enough to stay, and matches row 8.
  PageGeometry a5lef = geometryOf(table, 8, 595, 420, 600);
  EXPECT_EQ(a5lef.pageWidth, 595u);
  EXPECT_EQ(a5lef.paperIndex, 8);
  EXPECT_EQ(a5lef.paperCode, 10);
  EXPECT_EQ(a5lef.lineWidth, 5120);

  // A6 landscape is the one narrow size that is turned.
  PageGeometry a6 = geometryOf(table, 3, 420, 297, 600);
  EXPECT_EQ(a6.pageWidth, 297u);
  EXPECT_EQ(a6.pageHeight, 420u);
  EXPECT_EQ(a6.paperIndex, 3);
  EXPECT_EQ(a6.paperCode, 4);
  EXPECT_EQ(a6.lineWidth, 2560);

  // A custom job keeps a wide landscape page as it is.
  PageGeometry custom = geometryOf(table, kCustomPaperIndex, 842, 595, 600);
  EXPECT_EQ(custom.pageWidth, 842u);
  EXPECT_EQ(custom.pageHeight, 595u);
  EXPECT_EQ(custom.printableWidth, 7016 - 198);
}

TEST(PageGeometry, SizeMatchingNoRowIsCustomAndRewritesTheCustomRow) {
  PaperTable table;
  // A5 landscape under an A5 job: not turned, and row 2 does not fit.
  PageGeometry a5 = geometryOf(table, 2, 595, 420, 600);
  EXPECT_EQ(a5.paperIndex, kCustomPaperIndex);
  EXPECT_EQ(a5.paperCode, 0);
  EXPECT_EQ(a5.lineWidth, 5120);
  EXPECT_EQ(a5.printableWidth, 4958 - 198);
  EXPECT_EQ(table.rows[kCustomPaperIndex].printableWidth, 4958 - 198);

  // 300 points: c = 2500, padded to 2560; printable 2500 - 198.
  PageGeometry narrow = geometryOf(table, 1, 300, 400, 600);
  EXPECT_EQ(narrow.paperIndex, kCustomPaperIndex);
  EXPECT_EQ(narrow.lineWidth, 2560);
  EXPECT_EQ(narrow.printableWidth, 2302);
  EXPECT_EQ(table.rows[kCustomPaperIndex].printableWidth, 2302);
  // The fixed rows stay as they were.
  EXPECT_EQ(table.rows[1].printableWidth, 4760);
}

TEST(PageGeometry, CustomLineWidthIsPaddedToWhole512Blocks) {
  PaperTable table;
  // 576 points at 600: c = 4800, padded to 5120.
  EXPECT_EQ(geometryOf(table, 0, 576, 720, 600).lineWidth, 5120);
  // 1536 points at 600: c = 12800 = 25 * 512, kept as it is.
  EXPECT_EQ(geometryOf(table, kCustomPaperIndex, 1536, 2000, 600).lineWidth, 12800);
  // 300 points at 1200: c = 5000, padded to 5120.
  EXPECT_EQ(geometryOf(table, kCustomPaperIndex, 300, 400, 1200).lineWidth, 5120);
}

TEST(PageGeometry, CustomRowNeverMatchesSoCustomStaysCustom) {
  PaperTable table;
  PageGeometry first = geometryOf(table, 0, 576, 720, 600);
  ASSERT_EQ(first.paperIndex, kCustomPaperIndex);
  // A proper Letter page after it is custom too.
  PageGeometry second = geometryOf(table, first.paperIndex, 612, 792, 600);
  EXPECT_EQ(second.paperIndex, kCustomPaperIndex);
  EXPECT_EQ(second.paperCode, 0);
  EXPECT_EQ(second.printableWidth, 4902);
  EXPECT_EQ(second.lineWidth, 5120);
}

TEST(PageGeometry, OtherResolutionsScaleTheRowLineWidth) {
  PaperTable table;
  EXPECT_EQ(geometryOf(table, 1, 595, 842, 2400).lineWidth, 20480);
  EXPECT_EQ(geometryOf(table, 1, 595, 842, 300).lineWidth, 2560);
  EXPECT_EQ(geometryOf(table, 2, 420, 595, 300).lineWidth, 1792);
}

TEST(PageGeometry, LargestAcceptedPageComputesWithoutOverflow) {
  PaperTable table;
  PageGeometry g = geometryOf(table, 1, kMaxPagePoints, kMaxPagePoints, kMaxResolution);
  EXPECT_EQ(g.paperIndex, kCustomPaperIndex);
  // 14400 points at 2400 dpi: c = 480000, padded to 938 blocks.
  EXPECT_EQ(g.lineWidth, 938 * 512);
  EXPECT_EQ(g.printableWidth, 120000 - 198);
}

TEST(PageGeometry, UnprintableHeaderIsRefusedAndChangesNothing) {
  struct Case {
    unsigned width, height, resolution;
    int paperIndex;
  };
  const Case cases[] = {
      {0, 842, 600, 1},
      {595, 0, 600, 1},
      {595, 842, 0, 1},
      {kMaxPagePoints + 1, 842, 600, 1},
      {595, kMaxPagePoints + 1, 600, 1},
      {595, 842, kMaxResolution + 1, 1},
      {0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu, 1},
      {23, 842, 600, 1},  // 191 dots: nothing left inside the margin
      {595, 842, 600, -1},
      {595, 842, 600, kPaperRows},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " @" << c.resolution
                                    << " index " << c.paperIndex);
    PaperTable table;
    PageGeometry g;
    g.lineWidth = 77;
    EXPECT_FALSE(computePageGeometry(table, c.paperIndex, c.width, c.height, c.resolution, g));
    EXPECT_EQ(g.lineWidth, 77);
    EXPECT_EQ(table.rows[kCustomPaperIndex].printableWidth, 0);
  }
}

// Found by fuzzing: resolutions that are not the printers' own can give a
// device line of no dots, or one that does not hold whole bytes.
TEST(PageGeometry, RefusesALineThatHoldsNoWholeBytes) {
  PaperTable table;
  PageGeometry geometry;
  EXPECT_FALSE(computePageGeometry(table, 8, 595, 420, 88, geometry));
  EXPECT_FALSE(computePageGeometry(table, 5, 28, 3072, 1, geometry));
  EXPECT_EQ(table.rows[kCustomPaperIndex].printableWidth, PaperTable().rows[kCustomPaperIndex].printableWidth);
}
