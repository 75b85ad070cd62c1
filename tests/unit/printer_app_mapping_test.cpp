// The Printer Application's pure mapping: its models, paper sizes and vendor
// options against the compiled PPDs, the job's IPP attributes onto the
// core's choices, and the cut of a client's full-sheet raster to the
// imageable area the CUPS route gives the core.
#include <gtest/gtest.h>

#include <cups/ppd.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "printer-app/mapping/choices_map.h"
#include "printer-app/mapping/ghostscript_args.h"
#include "printer-app/mapping/models.h"
#include "printer-app/mapping/paper.h"
#include "printer-app/mapping/raster_geometry.h"

namespace {

using namespace zeruapp;

struct PpdCloser {
  void operator()(ppd_file_t* ppd) const { ppdClose(ppd); }
};
using PpdPtr = std::unique_ptr<ppd_file_t, PpdCloser>;

PpdPtr openPpd(const std::string& name) {
  std::string path = std::string(ZERU_PPD_BUILD_DIR) + "/" + name + ".ppd";
  return PpdPtr(ppdOpenFile(path.c_str()));
}

std::string attrValue(ppd_file_t* ppd, const char* name) {
  ppd_attr_t* attr = ppdFindAttr(ppd, name, nullptr);
  return attr && attr->value ? attr->value : "";
}

// Every model is its PPD: make and model, device ID, product; the paper
// sizes are the PPD's in points with its margins; every vendor option sets
// a PPD option, each value a choice of it, the default its default.
TEST(PrinterAppMapping, ModelsPapersAndVendorOptionsAreThePpds) {
  ASSERT_EQ(models().size(), 4u);
  for (const Model& model : models()) {
    SCOPED_TRACE(model.ppdName);
    PpdPtr ppd = openPpd(model.ppdName);
    ASSERT_TRUE(ppd) << "build the PPDs first";
    EXPECT_EQ(attrValue(ppd.get(), "ModelName"), model.makeAndModel);
    EXPECT_EQ(attrValue(ppd.get(), "1284DeviceID"), model.deviceId);
    EXPECT_EQ(attrValue(ppd.get(), "Product"), model.product);
    EXPECT_EQ(modelForDeviceId(model.deviceId), &model);
    EXPECT_EQ(modelForDriver(model.driverName), &model);

    std::set<std::string> sizes;
    for (const Paper& paper : papers()) {
      ppd_size_t* size = ppdPageSize(ppd.get(), paper.keyword);
      ASSERT_NE(size, nullptr) << paper.keyword;
      EXPECT_EQ(size->width, static_cast<float>(paper.widthPoints)) << paper.keyword;
      EXPECT_EQ(size->length, static_cast<float>(paper.heightPoints)) << paper.keyword;
      EXPECT_EQ(size->left, static_cast<float>(kMarginPoints));
      EXPECT_EQ(size->top, size->length - static_cast<float>(kMarginPoints));
      sizes.insert(paper.keyword);
    }
    for (int i = 0; i < ppd->num_sizes; ++i) {
      if (strcmp(ppd->sizes[i].name, "Custom") == 0) continue;
      EXPECT_TRUE(sizes.count(ppd->sizes[i].name)) << ppd->sizes[i].name << " is offered";
    }
    EXPECT_EQ(ppd->custom_min[0], static_cast<float>(kCustomMinWidth));
    EXPECT_EQ(ppd->custom_min[1], static_cast<float>(kCustomMinHeight));
    EXPECT_EQ(ppd->custom_max[0], static_cast<float>(kCustomMaxWidth));
    EXPECT_EQ(ppd->custom_max[1], static_cast<float>(kCustomMaxHeight));
    EXPECT_STREQ(ppdFindOption(ppd.get(), "PageSize")->defchoice, defaultPaper().keyword);

    for (const VendorOption& option : vendorOptions()) {
      SCOPED_TRACE(option.name);
      ppd_option_t* ppdOption = ppdFindOption(ppd.get(), option.ppdKeyword.c_str());
      ASSERT_NE(ppdOption, nullptr);
      EXPECT_EQ(static_cast<size_t>(ppdOption->num_choices), option.values.size())
          << "every choice of the PPD is offered";
      std::string defaultChoice;
      for (const auto& [ipp, choice] : option.values) {
        EXPECT_NE(ppdFindChoice(ppdOption, choice.c_str()), nullptr) << choice;
        if (ipp == option.defaultValue) defaultChoice = choice;
      }
      EXPECT_EQ(defaultChoice, ppdOption->defchoice);
    }
    for (const char* ipp : ippMediaTypes())
      EXPECT_NE(ppdFindChoice(ppdFindOption(ppd.get(), "MediaType"), mediaTypeChoice(ipp).keyword),
                nullptr);
  }
  EXPECT_LE(vendorOptions().size(), 32u) << "PAPPL takes at most 32 vendor options";
  EXPECT_EQ(modelForDeviceId("MFG:ZEMRO;MDL:TX 9;"), nullptr);
  EXPECT_EQ(modelForDeviceId("MFG:OTHER;MDL:TX 7M;"), nullptr);
  EXPECT_EQ(modelForDeviceId("MANUFACTURER:ZEMRO;MODEL:TX 7N;"), &models()[3]);
}

// A client's page size (points rounded down from millimetres) is taken as
// the table's size when it is within three points; the long-edge-feed sizes
// keep their orientation.
TEST(PrinterAppMapping, RasterSizesFindTheirPapers) {
  struct Case {
    const char* pwgName;
    unsigned width, height;  // as a PWG raster header gives them
    const char* keyword;     // nullptr: no paper of the table
  };
  const Case cases[] = {
      {"iso_a4_210x297mm", 595, 841, "A4"},    {"iso_a5_148x210mm", 419, 595, "A5"},
      {"iso_a6_105x148mm", 297, 419, "A6"},    {"jis_b5_182x257mm", 515, 728, "B5"},
      {"na_letter_8.5x11in", 612, 792, "Letter"}, {"om_16k_184x260mm", 521, 737, "16K"},
      {"om_a5-lef_210x148mm", 595, 419, "A5LEF"}, {"na_legal_8.5x14in", 612, 1008, "Legal"},
      {nullptr, 400, 500, nullptr},
  };
  for (const Case& c : cases) {
    const Paper* paper = paperForPoints(c.width, c.height);
    if (c.keyword == nullptr) {
      EXPECT_EQ(paper, nullptr);
      unsigned w = 0, h = 0;
      sheetForRaster(c.width, c.height, w, h);
      EXPECT_EQ(w, c.width);
      EXPECT_EQ(h, c.height);
      continue;
    }
    ASSERT_NE(paper, nullptr) << c.keyword;
    EXPECT_STREQ(paper->keyword, c.keyword);
    EXPECT_EQ(paperForPwgName(c.pwgName), paper);
  }
}

// The cut is what Ghostscript renders for the CUPS route: the imageable area
// rounded to the nearest dot, from 12 points in.
TEST(PrinterAppMapping, ImageableCutMatchesTheCupsRoute) {
  PageCut a4 = imageableCut(595, 842, 600, 600);
  EXPECT_EQ(a4.left, 100u);
  EXPECT_EQ(a4.top, 100u);
  EXPECT_EQ(a4.width, 4758u);
  EXPECT_EQ(a4.height, 6817u);
  PageCut a4High = imageableCut(595, 842, 1200, 1200);
  EXPECT_EQ(a4High.left, 200u);
  EXPECT_EQ(a4High.width, 9517u);
  EXPECT_EQ(a4High.height, 13633u);
  PageCut letter = imageableCut(612, 792, 600, 600);
  EXPECT_EQ(letter.width, 4900u);
  EXPECT_EQ(letter.height, 6400u);

  // A PWG A5 raster (419 points high) is printed on the PPD's A5 sheet.
  zeru::PageHeader raster;
  raster.pageSize[0] = 419;
  raster.pageSize[1] = 595;
  raster.hwResolution[0] = raster.hwResolution[1] = 600;
  raster.width = 3491;
  raster.height = 4958;
  raster.bitsPerColor = 8;
  raster.bitsPerPixel = 24;
  raster.bytesPerLine = 3491 * 3;
  raster.colorSpace = zeru::kColorSpaceSRGB;
  raster.numCopies = 0;
  EXPECT_EQ(rasterPageProblem(raster), nullptr);
  unsigned w = 0, h = 0;
  sheetForRaster(raster.pageSize[0], raster.pageSize[1], w, h);
  PageCut cut = imageableCut(w, h, 600, 600);
  zeru::PageHeader page = cutPageHeader(raster, cut, false, 0, true, 2);
  EXPECT_EQ(page.pageSize[0], 420u);
  EXPECT_EQ(page.pageSize[1], 595u);
  EXPECT_EQ(page.width, 3300u);
  EXPECT_EQ(page.height, 4758u);
  EXPECT_EQ(page.bytesPerLine, 3300u * 3);
  EXPECT_EQ(page.numCopies, 1u) << "no copies is one copy";
  EXPECT_EQ(page.collate, 1u);
  EXPECT_EQ(page.mediaTypeCode, 2u);
  zeru::PageHeader gray = cutPageHeader(raster, cut, true, 3, false, 0);
  EXPECT_EQ(gray.bitsPerPixel, 8u);
  EXPECT_EQ(gray.colorSpace, zeru::kColorSpaceSW);
  EXPECT_EQ(gray.bytesPerLine, 3300u);
  EXPECT_EQ(gray.numCopies, 3u);

  zeru::PageHeader bad = raster;
  bad.hwResolution[0] = bad.hwResolution[1] = 300;
  EXPECT_NE(rasterPageProblem(bad), nullptr);
  bad = raster;
  bad.bitsPerColor = 16;
  bad.bitsPerPixel = 48;
  EXPECT_NE(rasterPageProblem(bad), nullptr);
  bad = raster;
  bad.bytesPerLine = 100;
  EXPECT_NE(rasterPageProblem(bad), nullptr);
}

// A page larger than any sheet, or than its own, is refused before its lines
// are allocated; a page of a sheet's size in dots from millimetres is taken.
TEST(PrinterAppMapping, RasterSizeBoundedBySheets) {
  zeru::PageHeader a4;
  a4.pageSize[0] = 595;
  a4.pageSize[1] = 842;
  a4.hwResolution[0] = a4.hwResolution[1] = 600;
  a4.width = 4960;
  a4.height = 7016;
  a4.bitsPerColor = 8;
  a4.bitsPerPixel = 24;
  a4.bytesPerLine = 4960 * 3;
  struct Case {
    unsigned resolution, width, height, bytesPerLine;
    bool accepted;
  } cases[] = {
      {600, 4960, 7016, 4960 * 3, true},
      {1200, 9921, 14032, 9921 * 3, true},
      {600, 536870911, 7016, 1610612733, false},
      {600, 4960, 7016, 1610612733, false},
      {600, 5200, 7016, 5200 * 3, false},
      {600, 4960, 9000, 4960 * 3, false},
      {600, 4960, 4000000, 4960 * 3, false},
  };
  for (const Case& c : cases) {
    zeru::PageHeader page = a4;
    page.hwResolution[0] = page.hwResolution[1] = c.resolution;
    page.width = c.width;
    page.height = c.height;
    page.bytesPerLine = c.bytesPerLine;
    EXPECT_EQ(rasterSizeProblem(page).empty(), c.accepted) << c.width << "x" << c.height;
  }
}

// A line keeps the columns from the cut's left edge on, white where the
// client's line ends early, and turns to gray for a monochrome job.
TEST(PrinterAppMapping, CutLinesKeepTheImageableColumns) {
  PageCut cut;
  cut.left = 2;
  cut.width = 4;
  const unsigned char rgb[] = {1, 1, 1, 2, 2, 2, 10, 20, 30, 0, 0, 0, 255, 0, 0};
  unsigned char out[12];
  cutLine(rgb, 5, 3, cut, 3, out);
  const unsigned char expected[] = {10, 20, 30, 0, 0, 0, 255, 0, 0, 255, 255, 255};
  EXPECT_EQ(std::vector<unsigned char>(out, out + 12),
            std::vector<unsigned char>(expected, expected + 12));
  unsigned char gray[4];
  cutLine(rgb, 5, 3, cut, 1, gray);
  EXPECT_EQ(gray[0], (10 * 31 + 20 * 61 + 30 * 8) / 100);
  EXPECT_EQ(gray[1], 0);
  EXPECT_EQ(gray[2], 255 * 31 / 100);
  EXPECT_EQ(gray[3], 255) << "past the client's line: paper";
  const unsigned char narrow[] = {7};
  cutLine(narrow, 1, 1, cut, 1, gray);
  EXPECT_EQ(std::vector<unsigned char>(gray, gray + 4), std::vector<unsigned char>(4, 255));
}

// The job's IPP attributes become the PPD's choices; vendor values outside
// their lists are refused with a message naming them.
TEST(PrinterAppMapping, JobAttributesBecomeChoices) {
  JobRequest request;
  request.pageSize = "A5";
  request.sides = Sides::ShortEdge;
  request.quality = Quality::Draft;
  request.colour = false;
  request.mediaType = "cardstock";
  request.collate = false;
  request.vendor = {{"brightness", "-30"},      {"density-cyan-low", "2"},
                    {"contrast-graphics", "75"}, {"pure-gray", "true"},
                    {"image-type", "posters"},  {"unknown-option", "whatever"}};
  ChoiceMap map;
  std::string error;
  ASSERT_TRUE(mapJobChoices(request, map, error)) << error;
  EXPECT_STREQ(map.choice("PageSize"), "A5");
  EXPECT_STREQ(map.choice("Duplex"), "DuplexTumble");
  EXPECT_STREQ(map.choice("cupsPrintQuality"), "Draft");
  EXPECT_STREQ(map.choice("ColorModel"), "Gray");
  EXPECT_STREQ(map.choice("MediaType"), "Covers");
  EXPECT_STREQ(map.choice("Collate"), "False");
  EXPECT_STREQ(map.choice("StpBrightness"), "170");
  EXPECT_STREQ(map.choice("AKColorDensityCyanLow"), "+2");
  EXPECT_STREQ(map.choice("Contrastgraphic"), "75");
  EXPECT_STREQ(map.choice("GrayGuarantee"), "ON");
  EXPECT_STREQ(map.choice("ImageType"), "POP");
  EXPECT_STREQ(map.choice("TonerMode"), "Off") << "defaults for options the job leaves out";
  EXPECT_STREQ(map.choice("AKSaveBlankSheet"), "False");
  EXPECT_EQ(map.choice("unknown-option"), nullptr);

  for (const auto& bogus : std::vector<std::pair<std::string, std::string>>{
           {"brightness", "33"}, {"density-black-high", "4"}, {"toner-saving", "max"},
           {"rotate-180", "yes"}}) {
    JobRequest bad;
    bad.vendor = {bogus};
    ChoiceMap badMap;
    std::string message;
    EXPECT_FALSE(mapJobChoices(bad, badMap, message)) << bogus.first;
    EXPECT_NE(message.find(bogus.first), std::string::npos) << message;
    EXPECT_NE(message.find(bogus.second), std::string::npos) << message;
  }

  EXPECT_EQ(resolutionForQuality(Quality::Normal, 0), 600) << "not PAPPL's middle resolution";
  EXPECT_EQ(resolutionForQuality(Quality::Normal, 1200), 1200);
  EXPECT_EQ(resolutionForQuality(Quality::High, 600), 1200);
  EXPECT_EQ(resolutionForQuality(Quality::Draft, 1200), 600);
  EXPECT_EQ(coreCopies("image/jpeg", 3), 1u) << "PAPPL renders each copy of an image";
  EXPECT_EQ(coreCopies("image/png", 2), 1u);
  EXPECT_EQ(coreCopies("application/pdf", 3), 3u);
  EXPECT_EQ(coreCopies("image/pwg-raster", 0), 1u);
  EXPECT_EQ(coreCopies(nullptr, 2), 2u);
  EXPECT_TRUE(papplRendersImage("image/png"));
  EXPECT_FALSE(papplRendersImage("image/urf")) << "a client's raster is printed as it comes";
  EXPECT_EQ(mediaTypeChoice("transparency").code, 0u);
}

// Ghostscript renders whole sheets of the job's media at the job's
// resolution, safely, with the raster alone on its standard output.
TEST(PrinterAppMapping, GhostscriptRendersTheJobsSheets) {
  unsigned w = 0, h = 0;
  sheetForMedia("iso_a5_148x210mm", 14800, 21000, w, h);
  EXPECT_EQ(w, 420u) << "the PPD's A5, not the metric size rounded";
  EXPECT_EQ(h, 595u);
  sheetForMedia("custom_200x250mm", 20000, 25000, w, h);
  EXPECT_EQ(w, 567u);
  EXPECT_EQ(h, 709u);

  RenderRequest request;
  request.input = "-job.pdf";
  request.widthPoints = 420;
  request.heightPoints = 595;
  request.resolution = 1200;
  request.colour = false;
  request.firstPage = 2;
  std::vector<std::string> args = ghostscriptArguments(request);
  ASSERT_GE(args.size(), 3u);
  EXPECT_EQ(args.front(), "gs");
  auto has = [&args](const std::string& arg) {
    return std::find(args.begin(), args.end(), arg) != args.end();
  };
  for (const char* arg : {"-dSAFER", "-dBATCH", "-dNOPAUSE", "-sstdout=%stderr",
                          "-sDEVICE=pwgraster", "-dcupsColorSpace=18", "-dcupsBitsPerColor=8",
                          "-r1200x1200", "-dDEVICEWIDTHPOINTS=420", "-dDEVICEHEIGHTPOINTS=595",
                          "-dFIXEDMEDIA", "-dFirstPage=2", "-sOutputFile=-"})
    EXPECT_TRUE(has(arg)) << arg;
  EXPECT_FALSE(has("-dLastPage=0"));
  EXPECT_EQ(args[args.size() - 2], "-f") << "the file name is never taken as an option";
  EXPECT_EQ(args.back(), "-job.pdf");
  request.colour = true;
  args = ghostscriptArguments(request);
  EXPECT_TRUE(has("-dcupsColorSpace=19"));
}

}  // namespace
