// The compiled PPDs as libcups reads them: every choice the filter compares is
// there under the exact keyword, the paper sizes give the paper table's dots
// back, the choices Ghostscript sees set the raster header the filter
// expects, and the texts are there in every language the PPDs carry.
#include <gtest/gtest.h>

#include <cups/ppd.h>
#include <cups/raster.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "settings/paper_table.h"
#include "imaging/page_renderer.h"

namespace {

struct PpdCloser {
  void operator()(ppd_file_t* ppd) const { ppdClose(ppd); }
};
using PpdPtr = std::unique_ptr<ppd_file_t, PpdCloser>;

struct Model {
  const char* file;
  const char* product;
  bool network;
};
const Model kModels[] = {
    {"ztx7m.ppd", "(ZEMRO TX 7M)", false},
    {"ztx7.ppd", "(ZEMRO TX 7)", false},
    {"ztx7mn.ppd", "(ZEMRO TX 7MN)", true},
    {"ztx7n.ppd", "(ZEMRO TX 7N)", true},
};

PpdPtr openPpd(const char* file) {
  std::string path = std::string(ZERU_PPD_BUILD_DIR) + "/" + file;
  PpdPtr ppd(ppdOpenFile(path.c_str()));
  if (!ppd) {
    int line = 0;
    ppd_status_t status = ppdLastError(&line);
    ADD_FAILURE() << path << ": " << ppdErrorString(status) << " at line " << line;
  }
  return ppd;
}

// A choice with exactly this keyword (ppdFindChoice ignores case).
bool hasExactChoice(ppd_file_t* ppd, const char* option, const char* choice) {
  ppd_option_t* o = ppdFindOption(ppd, option);
  if (!o) return false;
  for (int i = 0; i < o->num_choices; ++i)
    if (std::strcmp(o->choices[i].choice, choice) == 0) return true;
  return false;
}

const char* markedKeyword(ppd_file_t* ppd, const char* option) {
  ppd_choice_t* c = ppdFindMarkedChoice(ppd, option);
  return c ? c->choice : nullptr;
}

struct OptionChoices {
  std::string option;
  std::vector<const char*> choices;
};

const std::vector<const char*> kSteps = {"-100", "-75", "-50", "-25", "0",
                                         "25",   "50",  "75",  "100"};
const std::vector<const char*> kDensities = {"-3", "-2", "-1", "0", "+1", "+2", "+3"};

std::vector<OptionChoices> choicesTheFilterCompares() {
  std::vector<OptionChoices> all = {
      {"PageSize", {"Letter", "A4", "A5", "A6", "B5", "B6", "Executive", "16K", "A5LEF",
                    "B6LEF", "Legal"}},
      {"PageRegion", {"Letter", "A4", "A5", "A6", "B5", "B6", "Executive", "16K", "A5LEF",
                      "B6LEF", "Legal"}},
      {"ColorModel", {"RGB", "Gray"}},
      {"Resolution", {"600x600dpi", "1200x1200dpi"}},
      {"cupsPrintQuality", {"Draft", "Normal", "High"}},
      {"Duplex", {"None", "DuplexNoTumble", "DuplexTumble"}},
      {"Collate", {"True", "False"}},
      {"MediaType", {"Plain", "Covers"}},
      {"TonerMode", {"Off", "1", "2", "3"}},
      {"StpBrightness", {"100", "150", "200", "250", "300"}},
      {"ImageType", {"TextPhoto", "Photo", "WebPages", "Graphics", "POP"}},
      {"IAM", {"Complementary"}},
      {"GrayGuarantee", {"ON", "OFF"}},
      {"Screen", {"Auto", "Standard", "Gradation", "Fineness"}},
      {"ImageRotation", {"True", "False"}},
      {"AKSaveBlankSheet", {"True", "False"}},
  };
  for (const char* o : {"Contrastbackground", "Contrastimage", "Contrastgraphic",
                        "Contrasttext", "Chromabackground", "Chromaimage",
                        "Chromagraphic", "Chromatext"})
    all.push_back({o, kSteps});
  for (const char* colour : {"Black", "Cyan", "Magenta", "Yellow"})
    for (const char* level : {"High", "Mid", "Low"})
      all.push_back({std::string("AKColorDensity") + colour + level, kDensities});
  return all;
}

TEST(Ppd, EveryModelNamesItsProductAndDevice) {
  for (const Model& m : kModels) {
    PpdPtr ppd = openPpd(m.file);
    ASSERT_TRUE(ppd);
    ppd_attr_t* product = ppdFindAttr(ppd.get(), "Product", nullptr);
    ASSERT_NE(product, nullptr) << m.file;
    EXPECT_STREQ(product->value, m.product) << m.file;
    ppd_attr_t* id = ppdFindAttr(ppd.get(), "1284DeviceID", nullptr);
    ASSERT_NE(id, nullptr) << m.file;
    std::string model(m.product + 7, std::strlen(m.product) - 8);  // "TX 7M"
    EXPECT_NE(std::string(id->value).find("MFG:ZEMRO;"), std::string::npos) << id->value;
    EXPECT_NE(std::string(id->value).find("MDL:" + model + ";"), std::string::npos)
        << id->value;
    // CUPS's network backends read toner levels over SNMP for the network models.
    ppd_attr_t* snmp = ppdFindAttr(ppd.get(), "cupsSNMPSupplies", nullptr);
    if (m.network) {
      ASSERT_NE(snmp, nullptr) << m.file;
      EXPECT_STREQ(snmp->value, "True") << m.file;
    } else {
      EXPECT_EQ(snmp, nullptr) << m.file;
    }
  }
}

// libcups loads only the translations of the current locale, so the lines
// are looked for in the file itself.
TEST(Ppd, OptionsAndChoicesAreTranslated) {
  struct Expected {
    const char* language;
    const char* tonerSaving;    // TonerMode's text
    const char* longEdge;       // Duplex DuplexNoTumble's text
  };
  const Expected languages[] = {
      {"de", "Tonersparmodus", "Bindung an der langen Kante"},
      {"es", "Ahorro de tóner", "Encuadernación por el borde largo"},
      {"fr", "Économie de toner", "Reliure bord long"},
      {"ja", "トナー節約", "長辺とじ"},
  };
  for (const Model& m : kModels) {
    PpdPtr ppd = openPpd(m.file);
    ASSERT_TRUE(ppd);
    ppd_attr_t* languagesAttr = ppdFindAttr(ppd.get(), "cupsLanguages", nullptr);
    ASSERT_NE(languagesAttr, nullptr) << m.file;
    EXPECT_STREQ(languagesAttr->value, "en de es fr ja") << m.file;
    std::ifstream file(std::string(ZERU_PPD_BUILD_DIR) + "/" + m.file);
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    for (const Expected& e : languages) {
      std::string l = e.language;
      EXPECT_NE(text.find("\n*" + l + ".Translation TonerMode/" + e.tonerSaving + ": \"\"\n"),
                std::string::npos)
          << m.file << " " << l;
      EXPECT_NE(text.find("\n*" + l + ".Duplex DuplexNoTumble/" + e.longEdge + ": \"\"\n"),
                std::string::npos)
          << m.file << " " << l;
    }
  }
}

TEST(Ppd, RasterGoesToOurFilterWhichMakesTheCopies) {
  for (const Model& m : kModels) {
    PpdPtr ppd = openPpd(m.file);
    ASSERT_TRUE(ppd);
    ASSERT_EQ(ppd->num_filters, 1) << m.file;
    EXPECT_STREQ(ppd->filters[0], "application/vnd.cups-raster 0 rastertozeru");
    ppd_attr_t* filter2 = ppdFindAttr(ppd.get(), "cupsFilter2", nullptr);
    ASSERT_NE(filter2, nullptr) << m.file;
    EXPECT_EQ(std::strncmp(filter2->value, "application/vnd.cups-raster ", 28), 0);
    EXPECT_NE(std::strstr(filter2->value, " 0 rastertozeru"), nullptr) << filter2->value;
    EXPECT_EQ(ppd->manual_copies, 0) << m.file;
    EXPECT_EQ(ppdFindAttr(ppd.get(), "cupsBackSide", nullptr), nullptr) << m.file;
  }
}

TEST(Ppd, EveryChoiceTheFilterComparesExistsUnderItsExactKeyword) {
  std::vector<OptionChoices> all = choicesTheFilterCompares();
  for (const Model& m : kModels) {
    PpdPtr ppd = openPpd(m.file);
    ASSERT_TRUE(ppd);
    for (const OptionChoices& oc : all)
      for (const char* choice : oc.choices)
        EXPECT_TRUE(hasExactChoice(ppd.get(), oc.option.c_str(), choice))
            << m.file << ": " << oc.option << " " << choice;
  }
}

TEST(Ppd, NamedStepsCarryTheirNamesAsTexts) {
  PpdPtr ppd = openPpd("ztx7m.ppd");
  ASSERT_TRUE(ppd);
  ppd_choice_t* c = ppdFindChoice(ppdFindOption(ppd.get(), "Contrastimage"), "-75");
  ASSERT_NE(c, nullptr);
  EXPECT_STREQ(c->text, "Weaker (-75)");
  c = ppdFindChoice(ppdFindOption(ppd.get(), "Chromatext"), "100");
  ASSERT_NE(c, nullptr);
  EXPECT_STREQ(c->text, "Strongest (+100)");
}

TEST(Ppd, DefaultsAreTheNeutralSettings) {
  PpdPtr ppd = openPpd("ztx7m.ppd");
  ASSERT_TRUE(ppd);
  ppdMarkDefaults(ppd.get());
  EXPECT_STREQ(markedKeyword(ppd.get(), "PageSize"), "A4");
  EXPECT_STREQ(markedKeyword(ppd.get(), "ColorModel"), "RGB");
  EXPECT_STREQ(markedKeyword(ppd.get(), "Resolution"), "600x600dpi");
  EXPECT_STREQ(markedKeyword(ppd.get(), "cupsPrintQuality"), "Normal");
  EXPECT_STREQ(markedKeyword(ppd.get(), "Duplex"), "None");
  EXPECT_STREQ(markedKeyword(ppd.get(), "TonerMode"), "Off");
  EXPECT_STREQ(markedKeyword(ppd.get(), "StpBrightness"), "200");
  EXPECT_STREQ(markedKeyword(ppd.get(), "Contrastimage"), "0");
  EXPECT_STREQ(markedKeyword(ppd.get(), "AKColorDensityYellowLow"), "0");
  EXPECT_STREQ(markedKeyword(ppd.get(), "ImageRotation"), "False");
  EXPECT_STREQ(markedKeyword(ppd.get(), "AKSaveBlankSheet"), "False");
  EXPECT_STREQ(markedKeyword(ppd.get(), "MediaType"), "Plain");
}

// Paper table rows: keyword, printable width and sheet height in 600-dpi dots.
struct PpdPaperRow {
  const char* keyword;
  int printableWidth;
  int sheetHeight;
};
const PpdPaperRow kPaper[] = {
    {"Letter", 4902, 6600}, {"A4", 4760, 7016},        {"A5", 3302, 4958},
    {"A6", 2277, 3500},     {"B5", 4102, 6075},        {"B6", 2827, 4300},
    {"Executive", 4152, 6300}, {"16K", 4168, 6141},    {"A5LEF", 4760, 3500},
    {"B6LEF", 4102, 3025},  {"Legal", 4902, 8400},
};

TEST(Ppd, PaperSizesGiveThePaperTableDotsBack) {
  PpdPtr ppd = openPpd("ztx7m.ppd");
  ASSERT_TRUE(ppd);
  for (const PpdPaperRow& row : kPaper) {
    ppd_size_t* size = ppdPageSize(ppd.get(), row.keyword);
    ASSERT_NE(size, nullptr) << row.keyword;
    // The raster header carries whole points; the filter converts them with
    // truncating integer arithmetic.
    unsigned w = static_cast<unsigned>(size->width);
    unsigned h = static_cast<unsigned>(size->length);
    EXPECT_EQ(static_cast<float>(w), size->width) << row.keyword;
    EXPECT_EQ(static_cast<int>(w * 600 / 72) - 198, row.printableWidth) << row.keyword;
    EXPECT_EQ(static_cast<int>(h * 600 / 72), row.sheetHeight) << row.keyword;
    // What Ghostscript renders, the imageable width, fits the printable width.
    EXPECT_LE((size->right - size->left) * 600 / 72, static_cast<float>(row.printableWidth))
        << row.keyword;
  }
}

TEST(Ppd, CustomSizesSpanThePaperPathWithTheSameMargins) {
  PpdPtr ppd = openPpd("ztx7m.ppd");
  ASSERT_TRUE(ppd);
  EXPECT_EQ(ppd->variable_sizes, 1);
  EXPECT_FLOAT_EQ(ppd->custom_max[0], 612);
  EXPECT_FLOAT_EQ(ppd->custom_max[1], 1008);
  EXPECT_GT(ppd->custom_min[0], 0);
  for (int i = 0; i < 4; ++i) EXPECT_FLOAT_EQ(ppd->custom_margins[i], 12) << i;
  ppd_size_t* size = ppdPageSize(ppd.get(), "Custom.300x400");
  ASSERT_NE(size, nullptr);
  EXPECT_LE((size->right - size->left) * 600 / 72, 300 * 600 / 72 - 198);
}

// What the filter keeps of every raster line of a page: on a colour page the
// whole device line, on a grayscale page the bytes of the printable width
// (the rest of the line is cut). The page is the PPD size as Ghostscript
// hands it on, portrait, under its own PageSize keyword.
struct KeptDots {
  bool matched = false;   // the size found its paper table row
  size_t colour = 0;
  size_t gray = 0;
};

KeptDots keptDotsFor(const char* keyword, unsigned widthPoints, unsigned lengthPoints,
                     unsigned resolution) {
  PaperTable table;
  int paperIndex = kCustomPaperIndex;
  for (int i = 0; i < kPaperRows; ++i)
    if (std::strcmp(table.rows[static_cast<size_t>(i)].keyword, keyword) == 0) paperIndex = i;
  PageGeometry geometry;
  KeptDots kept;
  if (!computePageGeometry(table, paperIndex, widthPoints, lengthPoints, resolution, geometry))
    return kept;
  kept.matched = geometry.paperIndex == paperIndex;
  size_t bytesPerLine = static_cast<size_t>(geometry.lineWidth) / 8;
  kept.colour = static_cast<size_t>(geometry.lineWidth);
  kept.gray = 8 * printableBytesFor(geometry.printableWidth, static_cast<int>(resolution),
                                    bytesPerLine);
  return kept;
}

// Ghostscript renders the imageable area only, rounding its width in dots to
// the nearest; the largest that can give is the width rounded up.
size_t imageableDots(float left, float right, unsigned resolution) {
  return static_cast<size_t>(std::ceil((right - left) * static_cast<float>(resolution) / 72.0f));
}

// The PPDs and the filter's cut must never drift apart: every imageable
// area the PPDs declare, at both resolutions, lies inside what the filter
// keeps of a line on colour and on grayscale pages.
TEST(Ppd, EveryImageableAreaFitsWhatTheFilterKeepsOfALine) {
  for (const Model& m : kModels) {
    PpdPtr ppd = openPpd(m.file);
    ASSERT_TRUE(ppd);
    int sizesChecked = 0;
    for (int i = 0; i < ppd->num_sizes; ++i) {
      const ppd_size_t& size = ppd->sizes[i];
      if (std::strcmp(size.name, "Custom") == 0) continue;
      ++sizesChecked;
      for (unsigned resolution : {600u, 1200u}) {
        SCOPED_TRACE(std::string(m.file) + " " + size.name + " " + std::to_string(resolution));
        KeptDots kept = keptDotsFor(size.name, static_cast<unsigned>(size.width),
                                    static_cast<unsigned>(size.length), resolution);
        EXPECT_TRUE(kept.matched);
        size_t imageable = imageableDots(size.left, size.right, resolution);
        EXPECT_LE(imageable, kept.colour);
        EXPECT_LE(imageable, kept.gray);
      }
    }
    EXPECT_EQ(sizesChecked, 11) << m.file;

    // Custom sizes: every whole-point width of the range, with the PPD's
    // custom margins.
    ASSERT_EQ(ppd->variable_sizes, 1) << m.file;
    const float left = ppd->custom_margins[0];
    const float right = ppd->custom_margins[2];
    const unsigned length = static_cast<unsigned>(ppd->custom_max[1]);
    for (unsigned width = static_cast<unsigned>(std::ceil(ppd->custom_min[0]));
         width <= static_cast<unsigned>(ppd->custom_max[0]); ++width) {
      for (unsigned resolution : {600u, 1200u}) {
        SCOPED_TRACE(std::string(m.file) + " custom width " + std::to_string(width) + " " +
                     std::to_string(resolution));
        KeptDots kept = keptDotsFor("Custom", width, length, resolution);
        ASSERT_TRUE(kept.matched);
        size_t imageable = imageableDots(left, static_cast<float>(width) - right, resolution);
        ASSERT_LE(imageable, kept.colour);
        ASSERT_LE(imageable, kept.gray);
      }
    }
  }
}

// The raster header Ghostscript builds from the marked choices' code.
cups_page_header2_t headerFor(ppd_file_t* ppd,
                              std::vector<std::pair<const char*, const char*>> marks) {
  ppdMarkDefaults(ppd);
  for (auto& [option, choice] : marks) ppdMarkOption(ppd, option, choice);
  cups_page_header2_t header;
  EXPECT_EQ(cupsRasterInterpretPPD(&header, ppd, 0, nullptr, nullptr), 0)
      << cupsLastErrorString();
  return header;
}

TEST(Ppd, ColourModelsGiveTwentyFourAndEightBitPixels) {
  PpdPtr ppd = openPpd("ztx7m.ppd");
  ASSERT_TRUE(ppd);
  cups_page_header2_t rgb = headerFor(ppd.get(), {{"ColorModel", "RGB"}});
  EXPECT_EQ(rgb.cupsColorSpace, CUPS_CSPACE_RGB);
  EXPECT_EQ(rgb.cupsBitsPerPixel, 24u);
  cups_page_header2_t gray = headerFor(ppd.get(), {{"ColorModel", "Gray"}});
  EXPECT_EQ(gray.cupsColorSpace, CUPS_CSPACE_W);
  EXPECT_EQ(gray.cupsBitsPerPixel, 8u);
}

TEST(Ppd, ResolutionMediaAndDuplexChoicesSetTheHeader) {
  PpdPtr ppd = openPpd("ztx7m.ppd");
  ASSERT_TRUE(ppd);
  cups_page_header2_t h = headerFor(ppd.get(), {{"PageSize", "A5LEF"},
                                                {"Resolution", "1200x1200dpi"},
                                                {"MediaType", "Covers"},
                                                {"Duplex", "DuplexTumble"}});
  EXPECT_EQ(h.HWResolution[0], 1200u);
  EXPECT_EQ(h.HWResolution[1], 1200u);
  EXPECT_EQ(h.PageSize[0], 595u);
  EXPECT_EQ(h.PageSize[1], 420u);
  EXPECT_EQ(h.cupsMediaType, 2u);
  EXPECT_EQ(h.Duplex, CUPS_TRUE);
  EXPECT_EQ(h.Tumble, CUPS_TRUE);
  cups_page_header2_t d = headerFor(ppd.get(), {});
  EXPECT_EQ(d.HWResolution[0], 600u);
  EXPECT_EQ(d.cupsMediaType, 0u);
  EXPECT_EQ(d.Duplex, CUPS_FALSE);
  cups_page_header2_t longEdge = headerFor(ppd.get(), {{"Duplex", "DuplexNoTumble"}});
  EXPECT_EQ(longEdge.Duplex, CUPS_TRUE);
  EXPECT_EQ(longEdge.Tumble, CUPS_FALSE);
}

TEST(Ppd, PrintQualityHighAndDraftWinOverTheResolutionNormalKeepsIt) {
  PpdPtr ppd = openPpd("ztx7m.ppd");
  ASSERT_TRUE(ppd);
  struct Case {
    const char* resolution;
    const char* quality;
    unsigned dpi;
  };
  const Case cases[] = {
      {"600x600dpi", "Normal", 600},  {"1200x1200dpi", "Normal", 1200},
      {"600x600dpi", "High", 1200},   {"1200x1200dpi", "High", 1200},
      {"1200x1200dpi", "Draft", 600}, {"600x600dpi", "Draft", 600},
  };
  for (const Case& c : cases) {
    cups_page_header2_t h =
        headerFor(ppd.get(), {{"Resolution", c.resolution}, {"cupsPrintQuality", c.quality}});
    EXPECT_EQ(h.HWResolution[0], c.dpi) << c.resolution << " " << c.quality;
    EXPECT_EQ(h.HWResolution[1], c.dpi) << c.resolution << " " << c.quality;
  }
}

}  // namespace
