// The Printer Application's web pages: the vendor options' texts taken from
// the driver information file and the PPDs' catalogs, and the test page
// drawn line by line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "printer-app/mapping/choices_map.h"
#include "printer-app/mapping/option_texts.h"
#include "printer-app/mapping/test_page_layout.h"

namespace {

using namespace zeruapp;

std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in) << path;
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

DriverTexts realDriverTexts() {
  DriverTexts texts;
  readDriverTexts(readText(std::string(ZERU_SOURCE_DIR) + "/ppd/zemro.drv"), texts);
  readDriverTexts(readText(std::string(ZERU_BINARY_DIR) + "/ppd/generated/zemro-adjust.defs"),
                  texts);
  return texts;
}

bool hasLine(const std::string& file, const std::string& line) {
  return file.find(line + "\n") != std::string::npos;
}

TEST(OptionTexts, DriverTextsBelongToTheirOptions) {
  DriverTexts texts;
  readDriverTexts(R"(// comment "Not/This"
Option "TonerMode/Toner Saving" PickOne AnySetup 30
  *Choice "Off/Off" ""
  Choice "1/Level 1" ""
Group "ImageQuality/Image Quality"
  Choice "Stray/Stray" ""
Option "Plain" Boolean AnySetup 30
  Choice "True" ""
)", texts);
  EXPECT_EQ(texts.options.at("TonerMode"), "Toner Saving");
  EXPECT_EQ(texts.options.at("Plain"), "Plain");
  EXPECT_EQ((texts.choices.at({"TonerMode", "Off"})), "Off");
  EXPECT_EQ((texts.choices.at({"TonerMode", "1"})), "Level 1");
  EXPECT_EQ((texts.choices.at({"Plain", "True"})), "True");
  // A group ends its option: the stray choice belongs to none.
  EXPECT_EQ(texts.choices.size(), 3u);
  EXPECT_EQ(texts.options.count("Not"), 0u);
}

TEST(OptionTexts, CatalogJoinsContinuedStringsAndUnescapes) {
  Catalog catalog = readCatalog(R"(# header
msgid ""
msgstr ""
"Content-Type: text/plain; charset=UTF-8\n"

msgid "Toner Saving"
msgstr "Toner"
"sparmodus"

msgid "Say \"Hi\""
msgstr "Sag \"Hallo\""
)");
  EXPECT_EQ(catalog.size(), 2u);
  EXPECT_EQ(catalog.at("Toner Saving"), "Tonersparmodus");
  EXPECT_EQ(catalog.at("Say \"Hi\""), "Sag \"Hallo\"");
  EXPECT_EQ(quoteString("a \"b\" \\ c"), R"("a \"b\" \\ c")");
}

// Every vendor option has its PPD's text as its label, and every keyword
// choice its choice's text, in English and in each catalog's language.
TEST(OptionTexts, StringsFilesSayWhatThePpdsSay) {
  const DriverTexts texts = realDriverTexts();
  std::string english, error;
  ASSERT_TRUE(makeStringsFile(vendorOptions(), texts, nullptr, english, error)) << error;
  for (const VendorOption& option : vendorOptions())
    EXPECT_NE(english.find(quoteString(option.name) + " = \""), std::string::npos) << option.name;
  EXPECT_TRUE(hasLine(english, R"("toner-saving" = "Toner Saving";)"));
  EXPECT_TRUE(hasLine(english, R"("toner-saving.level-1" = "Level 1";)"));
  EXPECT_TRUE(hasLine(english, R"("image-type.posters" = "Posters";)"));
  EXPECT_TRUE(hasLine(english, R"("density-cyan-mid" = "Cyan Density Mid";)"));
  EXPECT_TRUE(hasLine(english, R"t("contrast-graphics" = "Contrast (Graphics)";)t"));
  EXPECT_TRUE(hasLine(english, R"("skip-blank-pages" = "Skip Blank Pages";)"));

  struct Expected {
    const char* language;
    const char* line;
  };
  const Expected expected[] = {
      {"de", R"("toner-saving" = "Tonersparmodus";)"},
      {"fr", R"("image-type.text-and-photo" = "Texte et photos";)"},
      {"fr", R"("toner-saving.level-1" = "Niveau 1";)"},
      {"ja", R"("toner-saving" = "トナー節約";)"},
  };
  for (const char* language : {"de", "es", "fr", "ja"}) {
    Catalog catalog = readCatalog(
        readText(std::string(ZERU_SOURCE_DIR) + "/ppd/po/zemro_" + language + ".po"));
    std::string translated;
    ASSERT_TRUE(makeStringsFile(vendorOptions(), texts, &catalog, translated, error))
        << language << ": " << error;
    // The same keys as the English file, every text from the catalog.
    EXPECT_EQ(std::count(translated.begin(), translated.end(), '\n'),
              std::count(english.begin(), english.end(), '\n'));
    EXPECT_TRUE(hasLine(translated, "\"brightness\" = " + quoteString(catalog.at("Brightness")) + ";"))
        << language;
    for (const Expected& e : expected)
      if (std::string(e.language) == language) {
        EXPECT_TRUE(hasLine(translated, e.line)) << e.line;
      }
  }
}

TEST(OptionTexts, MissingTextsFailTheStrings) {
  DriverTexts texts = realDriverTexts();
  Catalog catalog = readCatalog(readText(std::string(ZERU_SOURCE_DIR) + "/ppd/po/zemro_de.po"));
  std::string out, error;
  catalog.erase("Level 2");
  EXPECT_FALSE(makeStringsFile(vendorOptions(), texts, &catalog, out, error));
  EXPECT_NE(error.find("Level 2"), std::string::npos) << error;

  DriverTexts withoutChoice = texts;
  withoutChoice.choices.erase({"Screen", "Fineness"});
  EXPECT_FALSE(makeStringsFile(vendorOptions(), withoutChoice, nullptr, out, error));
  EXPECT_NE(error.find("Screen Fineness"), std::string::npos) << error;

  texts.options.erase("AKSaveBlankSheet");
  EXPECT_FALSE(makeStringsFile(vendorOptions(), texts, nullptr, out, error));
  EXPECT_NE(error.find("AKSaveBlankSheet"), std::string::npos) << error;
}

// ---- The test page ----

TestPageGeometry a4(int dpi) {
  TestPageGeometry g;
  g.model = "ZEMRO TX 7M";
  g.paper = "A4";
  g.widthHmm = 21000;
  g.lengthHmm = 29700;
  g.leftHmm = g.rightHmm = g.topHmm = g.bottomHmm = 423;
  g.xdpi = g.ydpi = dpi;
  return g;
}

TEST(TestPage, FontDrawsCapitalsDigitsAndAQuestionMarkForTheRest) {
  EXPECT_EQ(glyphRow('A', 0), 0b01110u);
  EXPECT_EQ(glyphRow('A', 3), 0b11111u);
  EXPECT_EQ(glyphRow('a', 3), glyphRow('A', 3));
  EXPECT_EQ(glyphRow('1', 6), 0b01110u);
  EXPECT_EQ(glyphRow(' ', 3), 0u);
  EXPECT_EQ(glyphRow('~', 0), glyphRow('?', 0));
  EXPECT_EQ(glyphRow('A', kGlyphHeight), 0u);
}

TEST(TestPage, GeometryLinesStateSizeMarginsAreaAndResolution) {
  EXPECT_EQ(geometryLines(a4(600)), (std::vector<std::string>{
                                        "Paper: A4, 210.0 x 297.0 mm",
                                        "Margins: left 4.2, right 4.2, top 4.2, bottom 4.2 mm",
                                        "Printable area: 201.5 x 288.5 mm",
                                        "Resolution: 600 x 600 dpi",
                                    }));
}

// The colour of the page at a dot.
Rgb at(const TestPageLayout& layout, unsigned x, unsigned y) {
  std::vector<uint8_t> line(layout.width * 3);
  drawTestPageLine(layout, y, line.data());
  return {line[x * 3], line[x * 3 + 1], line[x * 3 + 2]};
}

bool same(Rgb a, Rgb b) { return a.r == b.r && a.g == b.g && a.b == b.b; }

TEST(TestPage, PatchesRampAndTextLieInsideThePrintableArea) {
  for (int dpi : {600, 1200}) {
    SCOPED_TRACE(dpi);
    const TestPageGeometry g = a4(dpi);
    const TestPageLayout layout = layoutTestPage(g);
    EXPECT_EQ(layout.width, 21000u * dpi / 2540);
    EXPECT_EQ(layout.height, 29700u * dpi / 2540);
    const unsigned margin = 423u * dpi / 2540;
    ASSERT_EQ(layout.boxes.size(), 4 + kRampSteps);
    for (const FilledBox& filled : layout.boxes) {
      EXPECT_GE(filled.box.x0, margin);
      EXPECT_LE(filled.box.x1, layout.width - margin);
      EXPECT_GE(filled.box.y0, margin);
      EXPECT_LT(filled.box.x0, filled.box.x1);
    }
    for (const TextRun& run : layout.texts) {
      EXPECT_GE(run.x, margin);
      EXPECT_LE(run.x + run.text.size() * kGlyphAdvance * run.pixelWidth, layout.width - margin)
          << run.text;
    }
    EXPECT_EQ(layout.texts.size(), 5u);
    EXPECT_EQ(layout.texts[0].text, "ZEMRO TX 7M test page");

    // Cyan, magenta, yellow, black from left to right on one row, the
    // page white between them.
    const Rgb colours[] = {{0, 255, 255}, {255, 0, 255}, {255, 255, 0}, {0, 0, 0}};
    for (unsigned i = 0; i < 4; ++i) {
      const DotBox& b = layout.boxes[i].box;
      EXPECT_EQ(b.y0, layout.boxes[0].box.y0);
      if (i > 0) {
        EXPECT_GT(b.x0, layout.boxes[i - 1].box.x1);
      }
      EXPECT_TRUE(same(at(layout, (b.x0 + b.x1) / 2, (b.y0 + b.y1) / 2), colours[i]));
      EXPECT_TRUE(same(at(layout, b.x0, b.y0), colours[i]));
      EXPECT_TRUE(same(at(layout, b.x1, b.y0), {255, 255, 255}));
    }
    // The ramp below the patches, gray and darker step by step to black.
    const unsigned rampTop = layout.boxes[4].box.y0;
    EXPECT_GT(rampTop, layout.boxes[0].box.y1);
    int previous = 256;
    for (unsigned i = 0; i < kRampSteps; ++i) {
      const DotBox& b = layout.boxes[4 + i].box;
      Rgb c = at(layout, (b.x0 + b.x1) / 2, (b.y0 + b.y1) / 2);
      EXPECT_TRUE(c.r == c.g && c.g == c.b);
      EXPECT_LT(c.r, previous);
      previous = c.r;
    }
    EXPECT_EQ(previous, 0);
    // The text below the ramp; the title above the patches.
    EXPECT_GT(layout.texts[1].y, layout.boxes[4].box.y1);
    EXPECT_LT(layout.texts[0].y + kGlyphHeight * layout.texts[0].pixelHeight,
              layout.boxes[0].box.y0);
  }
}

TEST(TestPage, TextIsDrawnWithTheFont) {
  TestPageLayout layout;
  layout.width = 40;
  layout.height = 20;
  layout.texts.push_back({2, 3, 2, 2, "A1"});
  // Row 0 of 'A' (.###.) at pixels 1-3, two dots each; then '1' (..#..)
  // one cell of 12 dots on.
  std::vector<uint8_t> line(layout.width * 3);
  drawTestPageLine(layout, 4, line.data());
  std::string dots;
  for (unsigned x = 0; x < layout.width; ++x) dots += line[x * 3] == 0 ? '#' : '.';
  EXPECT_EQ(dots, "....######........##....................");
  drawTestPageLine(layout, 2, line.data());
  EXPECT_EQ(std::count(line.begin(), line.end(), 255), static_cast<long>(line.size()));
}

TEST(TestPage, SmallestCardKeepsEverythingInItsPrintableArea) {
  TestPageGeometry g = a4(600);
  g.paper = "Custom";
  g.widthHmm = 7620;
  g.lengthHmm = 12700;
  const TestPageLayout layout = layoutTestPage(g);
  const unsigned margin = 423u * 600 / 2540;
  for (const TextRun& run : layout.texts)
    EXPECT_LE(run.x + run.text.size() * kGlyphAdvance * run.pixelWidth, layout.width - margin)
        << run.text;
  for (const FilledBox& filled : layout.boxes) EXPECT_LE(filled.box.x1, layout.width - margin);
  EXPECT_LT(layout.texts.back().y, layout.height - margin);
}

}  // namespace
