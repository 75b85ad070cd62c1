// The printers' description: its paper table against the page records'
// dots, its models against the colour library's model paths, its options,
// and the cut of a full-sheet raster.
#include <gtest/gtest.h>

#include <cups/ppd.h>

#include <cstring>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "filter/product_model.h"
#include "settings/job_settings.h"
#include "settings/paper_table.h"
#include "zeru/printer.h"

namespace {

// Each sheet in whole points gives back its row's dots as points * 600 / 72
// truncated, the sheet 198 dots wider than its printable width; the device
// line holds the printable width in whole 512-dot blocks; the keyword finds
// the core's paper index of the row.
TEST(PrinterDescription, PaperTableIsThePageRecordsTable) {
  PaperTable table;
  std::set<unsigned> codes;
  ASSERT_EQ(zeru::papers().size() + 1, table.rows.size());
  for (size_t i = 0; i < zeru::papers().size(); ++i) {
    const zeru::Paper& paper = zeru::papers()[i];
    SCOPED_TRACE(paper.keyword);
    EXPECT_EQ(static_cast<int>(paper.widthPoints * 600 / 72) - 198, paper.printableWidth600);
    EXPECT_EQ(static_cast<int>(paper.heightPoints * 600 / 72), paper.sheetHeight600);
    EXPECT_EQ(paper.lineWidth600 % 512, 0);
    EXPECT_GE(paper.lineWidth600, paper.printableWidth600);
    EXPECT_LT(paper.lineWidth600 - 512, paper.printableWidth600);
    EXPECT_TRUE(codes.insert(paper.paperCode).second);
    EXPECT_STREQ(table.rows[i].keyword, paper.keyword);
    EXPECT_EQ(paperIndexFromKeyword(paper.keyword), static_cast<int>(i));
    EXPECT_EQ(zeru::paperForKeyword(paper.keyword), &paper);
    EXPECT_EQ(zeru::paperForPwgName(paper.pwgName), &paper);
    EXPECT_EQ(zeru::paperForPoints(paper.widthPoints, paper.heightPoints), &paper);
  }
  EXPECT_STREQ(table.rows[kCustomPaperIndex].keyword, "Custom");
  EXPECT_EQ(paperIndexFromKeyword("Custom"), kCustomPaperIndex);
  EXPECT_STREQ(zeru::defaultPaper().keyword, "A4");
}

// The model paths of each product are checked in engine_setup_test.
TEST(PrinterDescription, EachModelIsTheOneItsProductNames) {
  ASSERT_EQ(zeru::models().size(), 4u);
  for (const zeru::ModelDescription& model : zeru::models()) {
    SCOPED_TRACE(model.product);
    EXPECT_EQ(&zeru::describe(model.model), &model);
    EXPECT_EQ(modelForProduct(model.product), model.model);
  }
}

TEST(PrinterDescription, EveryOptionsDefaultIsOneOfItsChoices) {
  std::set<std::string> keywords;
  for (const zeru::OptionDescription& option : zeru::options()) {
    SCOPED_TRACE(option.keyword);
    EXPECT_TRUE(keywords.insert(option.keyword).second);
    EXPECT_EQ(zeru::optionFor(option.keyword), &option);
    int defaults = 0;
    for (const char* choice : option.choices) defaults += strcmp(choice, option.defaultChoice) == 0;
    EXPECT_EQ(defaults, 1);
  }
  const zeru::OptionDescription* pageSize = zeru::optionFor("PageSize");
  ASSERT_NE(pageSize, nullptr);
  ASSERT_EQ(pageSize->choices.size(), zeru::papers().size());
  EXPECT_STREQ(pageSize->defaultChoice, zeru::defaultPaper().keyword);
  EXPECT_EQ(zeru::optionFor("NoSuchOption"), nullptr);
}

TEST(PrinterDescription, ResolutionPerQuality) {
  using Q = zeru::PrintQuality;
  const struct { Q quality; int requested, resolution; } cases[] = {
      {Q::High, 600, 1200}, {Q::Draft, 1200, 600}, {Q::Normal, 1200, 1200},
      {Q::Normal, 600, 600}, {Q::Normal, 300, 600}, {Q::Normal, 0, 600},
  };
  for (const auto& c : cases)
    EXPECT_EQ(zeru::resolutionForQuality(c.quality, c.requested), c.resolution) << c.requested;
}

zeru::PageHeader rasterOf(unsigned widthPoints, unsigned heightPoints, unsigned dpi, unsigned width,
                          unsigned height, unsigned bitsPerPixel = 24) {
  zeru::PageHeader page;
  page.pageSize[0] = widthPoints;
  page.pageSize[1] = heightPoints;
  page.hwResolution[0] = page.hwResolution[1] = dpi;
  page.width = width;
  page.height = height;
  page.bitsPerColor = 8;
  page.bitsPerPixel = bitsPerPixel;
  page.bytesPerLine = width * bitsPerPixel / 8;
  return page;
}

// A full-sheet raster of one of the table's sheets is cut to the imageable
// area; one already cut, of no table sheet, or of another pixel format is not.
TEST(PrinterDescription, FullSheetCut) {
  const struct {
    const char* what;
    zeru::PageHeader raster;
    std::optional<zeru::PageCut> cut;
  } cases[] = {
      {"A4 at 600 dpi", rasterOf(595, 842, 600, 4960, 7016),
       zeru::PageCut{595, 842, 100, 100, 4758, 6817}},
      {"A4 from millimetres", rasterOf(595, 841, 600, 4961, 7016),
       zeru::PageCut{595, 842, 100, 100, 4758, 6817}},
      {"gray Letter at 1200 dpi", rasterOf(612, 792, 1200, 10200, 13200, 8),
       zeru::PageCut{612, 792, 200, 200, 9800, 12800}},
      {"A4 cut already", rasterOf(595, 842, 600, 4758, 6817), std::nullopt},
      {"custom size", rasterOf(400, 500, 600, 3333, 4167), std::nullopt},
      {"1-bit", rasterOf(595, 842, 600, 4960, 7016, 1), std::nullopt},
      {"zero resolution", rasterOf(595, 842, 0, 4960, 7016), std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::optional<zeru::PageCut> cut = zeru::fullSheetCut(c.raster);
    ASSERT_EQ(cut.has_value(), c.cut.has_value());
    if (!cut) continue;
    EXPECT_EQ(cut->sheetWidthPoints, c.cut->sheetWidthPoints);
    EXPECT_EQ(cut->sheetHeightPoints, c.cut->sheetHeightPoints);
    EXPECT_EQ(cut->left, c.cut->left);
    EXPECT_EQ(cut->top, c.cut->top);
    EXPECT_EQ(cut->width, c.cut->width);
    EXPECT_EQ(cut->height, c.cut->height);
    zeru::PageHeader page = zeru::cutPageHeader(c.raster, *cut, false);
    EXPECT_EQ(page.width, cut->width);
    EXPECT_EQ(page.bytesPerLine, cut->width * c.raster.bitsPerPixel / 8);
  }
}

struct PpdCloser {
  void operator()(ppd_file_t* ppd) const { ppdClose(ppd); }
};

std::string attrValue(ppd_file_t* ppd, const char* name) {
  ppd_attr_t* attr = ppdFindAttr(ppd, name, nullptr);
  return attr && attr->value ? attr->value : "";
}

// The PPDs compiled from the driver information file say what the
// description says: each model's names, the paper sizes with their margins,
// the custom range, and every option with its choices in order and its
// default.
TEST(PrinterDescription, IsWhatTheCompiledPpdsSay) {
  for (const zeru::ModelDescription& model : zeru::models()) {
    SCOPED_TRACE(model.ppdName);
    std::string path = std::string(ZERU_PPD_BUILD_DIR) + "/" + model.ppdName + ".ppd";
    std::unique_ptr<ppd_file_t, PpdCloser> ppd(ppdOpenFile(path.c_str()));
    ASSERT_TRUE(ppd) << "build the PPDs first";
    EXPECT_EQ(attrValue(ppd.get(), "Product"), model.product);
    EXPECT_EQ(attrValue(ppd.get(), "ModelName"), model.makeAndModel);
    EXPECT_EQ(attrValue(ppd.get(), "1284DeviceID"), model.deviceId);
    EXPECT_EQ(attrValue(ppd.get(), "PCFileName"), std::string(model.ppdName) + ".ppd");

    for (const zeru::Paper& paper : zeru::papers()) {
      ppd_size_t* size = ppdPageSize(ppd.get(), paper.keyword);
      ASSERT_NE(size, nullptr) << paper.keyword;
      EXPECT_EQ(size->width, static_cast<float>(paper.widthPoints)) << paper.keyword;
      EXPECT_EQ(size->length, static_cast<float>(paper.heightPoints)) << paper.keyword;
      EXPECT_EQ(size->left, static_cast<float>(zeru::kMarginPoints));
      EXPECT_EQ(size->bottom, static_cast<float>(zeru::kMarginPoints));
      EXPECT_EQ(size->right, size->width - static_cast<float>(zeru::kMarginPoints));
      EXPECT_EQ(size->top, size->length - static_cast<float>(zeru::kMarginPoints));
    }
    EXPECT_TRUE(ppd->variable_sizes);
    EXPECT_EQ(ppd->custom_min[0], zeru::kCustomSizes.minWidth);
    EXPECT_EQ(ppd->custom_min[1], zeru::kCustomSizes.minHeight);
    EXPECT_EQ(ppd->custom_max[0], zeru::kCustomSizes.maxWidth);
    EXPECT_EQ(ppd->custom_max[1], zeru::kCustomSizes.maxHeight);

    for (const zeru::OptionDescription& option : zeru::options()) {
      SCOPED_TRACE(option.keyword);
      ppd_option_t* ppdOption = ppdFindOption(ppd.get(), option.keyword);
      ASSERT_NE(ppdOption, nullptr);
      EXPECT_STREQ(ppdOption->defchoice, option.defaultChoice);
      std::vector<std::string> choices, described(option.choices.begin(), option.choices.end());
      for (int i = 0; i < ppdOption->num_choices; ++i)
        if (strcmp(ppdOption->choices[i].choice, "Custom") != 0)
          choices.push_back(ppdOption->choices[i].choice);
      EXPECT_EQ(choices, described);
    }
    // The MediaType choices are the raster's media types in their order.
    for (size_t i = 0; i < zeru::mediaTypes().size(); ++i) {
      EXPECT_EQ(zeru::mediaTypes()[i].code, i);
      EXPECT_STREQ(zeru::mediaTypes()[i].keyword, zeru::optionFor("MediaType")->choices[i]);
    }
  }
}

}  // namespace
