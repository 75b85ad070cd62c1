// The job settings read from real PPD files through libcups: the marked
// choices, the page header and the settings dump.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "settings/job_settings.h"
#include "support/ppd_settings.h"
#include "zeru/page_header.h"

namespace {

struct PpdOption {
  std::string keyword;
  std::string defaultChoice;
  std::vector<std::string> choices;  // "keyword" or "keyword/text"
};

std::string ppdText(const std::vector<PpdOption>& options) {
  std::string text =
      "*PPD-Adobe: \"4.3\"\n"
      "*FormatVersion: \"4.3\"\n"
      "*FileVersion: \"1.0\"\n"
      "*LanguageVersion: English\n"
      "*LanguageEncoding: ISOLatin1\n"
      "*PCFileName: \"SETTINGS.PPD\"\n"
      "*Manufacturer: \"Test\"\n"
      "*Product: \"(Settings Test)\"\n"
      "*ModelName: \"Settings Test\"\n"
      "*ShortNickName: \"Settings Test\"\n"
      "*NickName: \"Settings Test\"\n"
      "*PSVersion: \"(3010.000) 0\"\n"
      "*LanguageLevel: \"3\"\n"
      "*ColorDevice: True\n"
      "*DefaultColorSpace: RGB\n"
      "*FileSystem: False\n"
      "*Throughput: \"1\"\n"
      "*TTRasterizer: Type42\n"
      "*cupsVersion: 2.4\n"
      "*DefaultImageableArea: A4\n"
      "*ImageableArea A4/A4: \"12 12 583 830\"\n"
      "*DefaultPaperDimension: A4\n"
      "*PaperDimension A4/A4: \"595 842\"\n";
  int order = 10;
  for (const PpdOption& option : options) {
    text += "*OpenUI *" + option.keyword + "/" + option.keyword + ": PickOne\n";
    text += "*OrderDependency: " + std::to_string(order++) + " AnySetup *" + option.keyword + "\n";
    text += "*Default" + option.keyword + ": " + option.defaultChoice + "\n";
    for (const std::string& choice : option.choices) {
      std::string entry = choice.find('/') == std::string::npos ? choice + "/" + choice : choice;
      text += "*" + option.keyword + " " + entry + ": \"\"\n";
    }
    text += "*CloseUI: *" + option.keyword + "\n";
  }
  return text;
}

const PpdOption kPageSize{"PageSize", "A4",
                          {"Letter", "A4", "A5", "A6", "B5", "B6", "Executive", "16K", "A5LEF",
                           "B6LEF", "Legal", "Tabloid"}};
const PpdOption kPageRegion{"PageRegion", "A4", {"Letter", "A4", "A5", "A5LEF"}};

const std::vector<std::string> kDensityLevels = {"+3", "+2", "+1", "0", "-1", "-2", "-3"};

PpdOption density(const std::string& colourLevel, const std::string& defaultChoice = "0") {
  return {"AKColorDensity" + colourLevel, defaultChoice, kDensityLevels};
}

// A PPD written to a private directory, opened, its defaults and the job's
// options marked the way the filter marks them.
class MarkedPpd {
public:
  MarkedPpd(const std::vector<PpdOption>& options, const char* jobOptions = "") {
    char dirTemplate[] = "/tmp/settings_ppd_XXXXXX";
    const char* dir = mkdtemp(dirTemplate);
    EXPECT_NE(dir, nullptr);
    if (dir) dir_ = dir;
    path_ = dir_ + "/test.ppd";
    std::ofstream(path_) << ppdText(options);
    ppd_ = ppdOpenFile(path_.c_str());
    EXPECT_NE(ppd_, nullptr) << ppdErrorString(ppdLastError(nullptr));
    numOptions_ = cupsParseOptions(jobOptions, 0, &options_);
    if (ppd_) {
      ppdMarkDefaults(ppd_);
      cupsMarkOptions(ppd_, numOptions_, options_);
    }
  }
  ~MarkedPpd() {
    if (ppd_) ppdClose(ppd_);
    cupsFreeOptions(numOptions_, options_);
    std::remove(path_.c_str());
    rmdir(dir_.c_str());
  }
  MarkedPpd(const MarkedPpd&) = delete;
  MarkedPpd& operator=(const MarkedPpd&) = delete;

  // Marks further job options, as a later cupsMarkOptions would.
  void mark(const char* jobOptions) {
    cups_option_t* more = nullptr;
    int count = cupsParseOptions(jobOptions, 0, &more);
    cupsMarkOptions(ppd_, count, more);
    cupsFreeOptions(count, more);
  }

  ppd_file_t* ppd() const { return ppd_; }
  int numOptions() const { return numOptions_; }
  cups_option_t* options() const { return options_; }

private:
  std::string dir_;
  std::string path_;
  ppd_file_t* ppd_ = nullptr;
  int numOptions_ = 0;
  cups_option_t* options_ = nullptr;
};

zeru::PageHeader pageHeader(unsigned width, unsigned height, unsigned resolution = 600,
                               unsigned bitsPerPixel = 24) {
  zeru::PageHeader header{};
  header.pageSize[0] = width;
  header.pageSize[1] = height;
  header.hwResolution[0] = resolution;
  header.hwResolution[1] = resolution;
  header.bitsPerPixel = bitsPerPixel;
  return header;
}

// Reads one page the way the two-sided loop does (it writes no log lines).
PageSettingsResult readPage(const MarkedPpd& ppd, zeru::PageHeader& header,
                            PaperTable& table, JobSettings& settings) {
  return readPageSettings(ppd.ppd(), header, table, settings, PageLoop::Duplex);
}

}  // namespace

// ---- Job level ----

TEST(SettingsPpd, JobPaperIndexFromMarkedPageSizeElseOption) {
  {
    MarkedPpd ppd({kPageSize}, "PageSize=A5");
    EXPECT_EQ(jobPaperIndex(ppd.ppd(), ppd.numOptions(), ppd.options()), 2);
  }
  {
    MarkedPpd ppd({kPageSize});  // the default A4
    EXPECT_EQ(jobPaperIndex(ppd.ppd(), ppd.numOptions(), ppd.options()), 1);
  }
  {
    MarkedPpd ppd({kPageSize}, "PageSize=Tabloid");  // a PPD size without a row
    EXPECT_EQ(jobPaperIndex(ppd.ppd(), ppd.numOptions(), ppd.options()), 0);
  }
  {
    MarkedPpd ppd({{"TonerMode", "Off", {"Off", "1"}}});  // no page size option at all
    EXPECT_EQ(jobPaperIndex(ppd.ppd(), ppd.numOptions(), ppd.options()), 11);
  }
  {
    MarkedPpd ppd({{"TonerMode", "Off", {"Off", "1"}}}, "PageSize=B5");
    EXPECT_EQ(jobPaperIndex(ppd.ppd(), ppd.numOptions(), ppd.options()), 4);
  }
  {
    MarkedPpd ppd({{"TonerMode", "Off", {"Off", "1"}}}, "PageSize=a4");  // case counts
    EXPECT_EQ(jobPaperIndex(ppd.ppd(), ppd.numOptions(), ppd.options()), 0);
  }
}

TEST(SettingsPpd, ResolutionDuplexCollateFromMarkedChoices) {
  MarkedPpd ppd({kPageSize,
                 {"DrvResolution", "600dpi", {"600dpi", "1200dpi"}},
                 {"DrvDuplex", "None", {"None", "DrvDuplexNoTumble", "DrvDuplexTumble"}},
                 {"Collate", "False", {"True", "False"}}},
                "DrvResolution=1200dpi DrvDuplex=DrvDuplexTumble Collate=True");
  EXPECT_EQ(resolutionFromChoice(markedChoice(ppd.ppd(), "DrvResolution")), 1200);
  EXPECT_EQ(duplexModeFromChoice(markedChoice(ppd.ppd(), "DrvDuplex")), 2);
  EXPECT_EQ(collateFromChoice(markedChoice(ppd.ppd(), "Collate")), 1);
  EXPECT_EQ(markedChoice(ppd.ppd(), "NoSuchOption"), nullptr);
  EXPECT_EQ(markedChoice(nullptr, "PageSize"), nullptr);
}

TEST(SettingsPpd, StandardChoicesGiveDuplexResolutionAndDraftTonerSaving) {
  const std::vector<PpdOption> options = {
      kPageSize,
      {"Resolution", "600dpi", {"600dpi", "1200dpi"}},
      {"cupsPrintQuality", "Normal", {"Draft", "Normal", "High"}},
      {"Duplex", "None", {"None", "DuplexNoTumble", "DuplexTumble"}},
      {"TonerMode", "Off", {"Off", "1", "2", "3"}},
  };
  char arg0[] = "f", arg1[] = "7", arg2[] = "u", arg3[] = "t", arg4[] = "1", arg5[] = "";
  char* argv[] = {arg0, arg1, arg2, arg3, arg4, arg5, nullptr};
  PaperTable table;
  {
    // libcups maps the IPP attributes onto the standard options.
    MarkedPpd ppd(options, "print-quality=5 sides=two-sided-short-edge");
    JobSettings settings;
    readJobSettings(ppd.ppd(), ppd.numOptions(), ppd.options(), 6, argv, settings);
    EXPECT_EQ(settings.resolution, 1200);
    EXPECT_STREQ(duplexOption(ppd.ppd()), "Duplex");
    EXPECT_EQ(duplexModeFor("Duplex", markedChoice(ppd.ppd(), "Duplex")), 2);
    std::string dump = settingsDumpText(ppd.ppd(), ppd.numOptions(), ppd.options(), argv);
    EXPECT_NE(dump.find("INFO: Resolution : 600dpi\nINFO: Print Quality : High\n"),
              std::string::npos)
        << dump;
    EXPECT_NE(dump.find("INFO: Duplex  : DuplexTumble\n"), std::string::npos) << dump;

    // A page is laid out at its own resolution; the job's stays as asked.
    zeru::PageHeader header = pageHeader(595, 842, 600);
    settings.jobPaperIndex = 1;
    ASSERT_EQ(readPage(ppd, header, table, settings), PageSettingsResult::Ok);
    EXPECT_EQ(settings.lineWidth, 5120);
    EXPECT_EQ(settings.resolution, 1200);
    EXPECT_EQ(settings.tonerMode, 0);
  }
  {
    MarkedPpd ppd(options, "print-quality=3");
    JobSettings settings;
    readJobSettings(ppd.ppd(), ppd.numOptions(), ppd.options(), 6, argv, settings);
    EXPECT_EQ(settings.resolution, 600);
    zeru::PageHeader header = pageHeader(595, 842, 600);
    settings.jobPaperIndex = 1;
    ASSERT_EQ(readPage(ppd, header, table, settings), PageSettingsResult::Ok);
    EXPECT_EQ(settings.tonerMode, 2);
    EXPECT_EQ(duplexModeFor(duplexOption(ppd.ppd()), markedChoice(ppd.ppd(), "Duplex")), 0);
  }
  {
    // DrvResolution gives the job's resolution; the page keeps its own.
    MarkedPpd ppd({kPageSize, {"DrvResolution", "600dpi", {"600dpi", "1200dpi"}},
                   {"DrvDuplex", "None", {"None", "DrvDuplexNoTumble"}}, options[3]},
                  "Duplex=DuplexTumble DrvDuplex=DrvDuplexNoTumble");
    JobSettings settings;
    readJobSettings(ppd.ppd(), ppd.numOptions(), ppd.options(), 6, argv, settings);
    zeru::PageHeader header = pageHeader(595, 842, 1200);
    settings.jobPaperIndex = 1;
    ASSERT_EQ(readPage(ppd, header, table, settings), PageSettingsResult::Ok);
    EXPECT_EQ(settings.lineWidth, 10240);
    EXPECT_EQ(settings.resolution, 600);
    EXPECT_STREQ(duplexOption(ppd.ppd()), "DrvDuplex");
  }
}

TEST(SettingsPpd, DumpOfAFullyMarkedPpdIsExact) {
  std::vector<PpdOption> options = {
      kPageSize,
      {"DrvResolution", "600dpi", {"600dpi", "1200dpi"}},
      {"Resolution", "600x600dpi", {"600x600dpi", "1200x1200dpi"}},
      {"ColorModel", "RGB", {"RGB", "Gray"}},
      {"ImageRotation", "false", {"true", "false"}},
      {"TonerMode", "Off", {"Off", "1", "2", "3"}},
      {"GrayGuarantee", "OFF", {"ON", "OFF"}},
      {"ImageEnh", "On", {"On", "Off"}},
      density("BlackHigh", "+1"),
      density("BlackMid", "0"),
      density("BlackLow", "-1"),
      density("CyanHigh", "+3"),
      density("CyanMid", "+3"),
      density("CyanLow", "+3"),
      density("MagentaHigh", "+2"),
      density("MagentaMid", "0"),
      density("MagentaLow", "-2"),
      density("YellowHigh", "+3"),
      density("YellowMid", "0"),
      density("YellowLow", "-3"),
      {"Collate", "False", {"True", "False"}},
      {"MediaType", "Plain", {"Plain", "Thick", "Covers"}},
      {"AKSaveBlankSheet", "false", {"true", "false"}},
      {"DrvDuplex", "None", {"None", "DrvDuplexNoTumble", "DrvDuplexTumble"}},
      {"MMSI", "Auto", {"Auto", "Tray1"}},
      {"StpBrightness", "300", {"100", "200", "300"}},
      {"JobType", "Normal", {"Normal", "Secure"}},
      {"JobNameMode", "Default", {"Default", "Custom"}},
      {"JobUserID", "None", {"None", "User1"}},
      {"JobPasscode", "None", {"None", "1234"}},
      {"JobName", "Default", {"Default", "Named"}},
      {"Contrastimage", "0", {"0", "-30"}},  // read per page, never dumped
  };
  MarkedPpd ppd(options, "com.apple.print.PrintSettings.PMDuplexing..n.=2 Collate=True");
  char arg0[] = "rastertozeru", arg1[] = "42", arg2[] = "alice", arg3[] = "report.pdf",
       arg4[] = "1", arg5[] = "Collate=True", arg6[] = "job.ras";
  char* argv[] = {arg0, arg1, arg2, arg3, arg4, arg5, arg6, nullptr};

  EXPECT_EQ(settingsDumpText(ppd.ppd(), ppd.numOptions(), ppd.options(), argv),
            "INFO: [Job name]\n"
            "INFO: report.pdf\n"
            "INFO: [Job ID]\n"
            "INFO: 42\n"
            "INFO: [Driver recived argument vector]\n"
            "INFO: Collate=True\n"
            "INFO: -----------------------------------\n"
            "INFO: [Driver final settings]\n"
            "INFO: PageSize : A4\n"
            "INFO: Resolution : 600dpi\n"
            "INFO: Resolution : 600x600dpi\n"
            "INFO: ColorModel : RGB\n"
            "INFO: ImageRotation : false\n"
            "INFO: Toner Saving Mode : Off\n"
            "INFO: Gray Guarantee : OFF\n"
            "INFO: ImageEnh : On\n"
            "INFO: AKColorDensityBlackLow : -1\n"
            "INFO: AKColorDensityBlackMid : 0\n"
            "INFO: AKColorDensityBlackHigh : +1\n"
            "INFO: AKColorDensityMagentaLow : -2\n"
            "INFO: AKColorDensityMagentaMid : 0\n"
            "INFO: AKColorDensityMagentaHigh : +2\n"
            "INFO: AKColorDensityYellowLow : -3\n"
            "INFO: AKColorDensityYellowMid : 0\n"
            "INFO: AKColorDensityYellowHigh : +3\n"
            "INFO: Collate : True\n"
            "INFO: MediaType : Plain\n"
            "INFO: AKSaveBlankSheet  : false\n"
            "INFO: DrvDuplex  : None\n"
            "INFO: nDuplex  : 2\n"
            "INFO: MMSI  : Auto\n"
            "INFO: Brightness  : 300-200\n"
            "INFO: Job Type  : Normal\n"
            "INFO: Job Name Mode  : Default\n"
            "INFO: UserID  : None\n"
            "INFO: Passcode  : None\n"
            "INFO: New Job Name  : Default\n");
}

TEST(SettingsPpd, DumpLeavesOutUnmarkedChoicesAndShowsPageRegion) {
  MarkedPpd ppd({kPageSize, kPageRegion, {"TonerMode", "2", {"Off", "2"}}}, "PageRegion=A5");
  char arg0[] = "rastertozeru", arg1[] = "7", arg2[] = "bob", arg3[] = "t", arg4[] = "1",
       arg5[] = "";
  char* argv[] = {arg0, arg1, arg2, arg3, arg4, arg5, nullptr};
  // Marking PageRegion unmarks PageSize; no nDuplex option, no other keywords.
  EXPECT_EQ(settingsDumpText(ppd.ppd(), ppd.numOptions(), ppd.options(), argv),
            "INFO: [Job name]\n"
            "INFO: t\n"
            "INFO: [Job ID]\n"
            "INFO: 7\n"
            "INFO: [Driver recived argument vector]\n"
            "INFO: \n"
            "INFO: -----------------------------------\n"
            "INFO: [Driver final settings]\n"
            "INFO: PageRegion : A5\n"
            "INFO: Toner Saving Mode : 2\n");
}

// ---- Page level ----

TEST(SettingsPpd, EveryPageFieldFromAFullyMarkedColourPage) {
  MarkedPpd ppd({kPageSize,
                 {"TonerMode", "2", {"Off", "1", "2", "3"}},
                 density("BlackHigh", "+1"),
                 density("CyanMid", "-2"),
                 density("MagentaLow", "+3"),
                 density("YellowHigh", "-3"),
                 {"StpBrightness", "250", {"90", "250", "1001"}},
                 {"Contrastbackground", "-25", {"-25/Weak (-25)", "0"}},
                 {"Contrastimage", "-75", {"-75/Weaker (-75)", "0"}},
                 {"Contrastgraphic", "50", {"50/Stronger (+50)", "0"}},
                 {"Contrasttext", "-30", {"-30", "0"}},
                 {"Chromabackground", "100", {"100/Strongest (+100)", "0"}},
                 {"Chromaimage", "-100", {"-100/Weakest (-100)", "0"}},
                 {"Chromagraphic", "75", {"75/Stronger (+75)", "0"}},
                 {"Chromatext", "150", {"150", "0"}},
                 {"ImageType", "Photo", {"TextPhoto", "Photo", "POP"}},
                 {"IAM", "Complementary", {"Normal", "Complementary"}},
                 {"GrayGuarantee", "ON", {"ON", "OFF"}},
                 {"MediaType", "Plain", {"Plain", "Covers"}},
                 {"Screen", "Gradation", {"Auto", "Gradation", "Fineness"}}});
  PaperTable table;
  JobSettings settings;
  settings.jobPaperIndex = 1;
  zeru::PageHeader header = pageHeader(595, 842);
  header.mediaTypeCode = 3;
  ASSERT_EQ(readPage(ppd, header, table, settings), PageSettingsResult::Ok);

  EXPECT_EQ(settings.paperIndex, 1);
  EXPECT_EQ(settings.paperCode, 2);
  EXPECT_EQ(settings.lineWidth, 5120);
  EXPECT_EQ(settings.printableWidth, 4760);
  EXPECT_EQ(settings.pageWidth10, 2099);
  EXPECT_EQ(settings.pageHeight10, 2970);
  EXPECT_EQ(settings.tonerMode, 2);
  EXPECT_EQ(settings.colorMode, 1);
  std::array<int, 12> density{1, 0, 0, 0, -2, 0, 0, 0, 3, -3, 0, 0};
  EXPECT_EQ(settings.density, density);
  EXPECT_EQ(settings.densityCode, (std::array<int, 4>{0x400, 0x020, 0x006, 0x100}));
  EXPECT_EQ(settings.brightness, 50);
  EXPECT_EQ(settings.contrastBackground, -25);
  EXPECT_EQ(settings.contrastImage, -75);
  EXPECT_EQ(settings.contrastGraphics, 50);
  EXPECT_EQ(settings.contrastText, -30);
  EXPECT_EQ(settings.chromaBackground, 100);
  EXPECT_EQ(settings.chromaImage, -100);
  EXPECT_EQ(settings.chromaGraphics, 75);
  EXPECT_EQ(settings.chromaText, 0);
  EXPECT_EQ(settings.adjustFlags, 12);
  EXPECT_EQ(settings.imageType, 1);
  EXPECT_EQ(settings.complementary, 1);
  EXPECT_EQ(settings.grayGuarantee, 1);
  EXPECT_EQ(settings.mediaCode, 4);
  EXPECT_EQ(header.mediaTypeCode, 3u);
  EXPECT_EQ(settings.screenMode, 768);
}

TEST(SettingsPpd, BrightnessChoicesOutside100To1000GiveZero) {
  MarkedPpd ppd({kPageSize, {"StpBrightness", "250", {"90", "250", "1001"}}});
  const std::pair<const char*, int> cases[] = {
      {"StpBrightness=250", 50}, {"StpBrightness=90", 0}, {"StpBrightness=1001", 0}};
  for (const auto& [option, expected] : cases) {
    ppd.mark(option);
    PaperTable table;
    JobSettings settings;
    settings.jobPaperIndex = 1;
    zeru::PageHeader header = pageHeader(595, 842);
    ASSERT_EQ(readPage(ppd, header, table, settings), PageSettingsResult::Ok);
    EXPECT_EQ(settings.brightness, expected) << option;
    EXPECT_EQ(settings.adjustFlags, expected ? 4 : 0) << option;
  }
}

TEST(SettingsPpd, ContrastFromNumericKeywordsWithNamedTexts) {
  MarkedPpd ppd({kPageSize, {"Contrastimage", "0", {"0", "-30", "-75/Weaker (-75)", "150"}}});
  const std::pair<const char*, int> cases[] = {
      {"Contrastimage=-30", -30}, {"Contrastimage=-75", -75}, {"Contrastimage=150", 0}};
  for (const auto& [option, expected] : cases) {
    ppd.mark(option);
    PaperTable table;
    JobSettings settings;
    settings.jobPaperIndex = 1;
    zeru::PageHeader header = pageHeader(595, 842);
    ASSERT_EQ(readPage(ppd, header, table, settings), PageSettingsResult::Ok);
    EXPECT_EQ(settings.contrastImage, expected) << option;
  }
}

TEST(SettingsPpd, CyanDensityIsIgnoredOnGrayscalePages) {
  MarkedPpd ppd({kPageSize, density("CyanHigh", "+2"),
                 {"ImageType", "Photo", {"TextPhoto", "Photo"}},
                 {"IAM", "Complementary", {"Normal", "Complementary"}}});
  PaperTable table;
  JobSettings settings;
  settings.jobPaperIndex = 1;

  zeru::PageHeader gray = pageHeader(595, 842, 600, 8);
  ASSERT_EQ(readPage(ppd, gray, table, settings), PageSettingsResult::Ok);
  EXPECT_EQ(settings.colorMode, 0);
  EXPECT_EQ(settings.density, (std::array<int, 12>{}));
  EXPECT_EQ(settings.densityCode[kCyan], 0);
  EXPECT_EQ(settings.adjustFlags, 0);
  EXPECT_EQ(settings.imageType, 0);
  EXPECT_EQ(settings.complementary, 0);

  zeru::PageHeader colour = pageHeader(595, 842, 600, 24);
  ASSERT_EQ(readPage(ppd, colour, table, settings), PageSettingsResult::Ok);
  EXPECT_EQ(settings.colorMode, 1);
  EXPECT_EQ(settings.density[kCyan * 3 + kHigh], 2);
  EXPECT_EQ(settings.densityCode[kCyan], 0x500);
  EXPECT_EQ(settings.adjustFlags, 8);
  EXPECT_EQ(settings.imageType, 1);
  EXPECT_EQ(settings.complementary, 1);

  // And back to grayscale: the colour values do not linger.
  ASSERT_EQ(readPage(ppd, gray, table, settings), PageSettingsResult::Ok);
  EXPECT_EQ(settings.densityCode[kCyan], 0);
  EXPECT_EQ(settings.imageType, 0);
}

TEST(SettingsPpd, YellowLowAloneSetsDensityFlagAndYellowCode) {
  MarkedPpd ppd({kPageSize, density("YellowLow", "-1"),
                 {"StpBrightness", "90", {"90", "250"}}});
  PaperTable table;
  JobSettings settings;
  settings.jobPaperIndex = 1;
  zeru::PageHeader header = pageHeader(595, 842);
  ASSERT_EQ(readPage(ppd, header, table, settings), PageSettingsResult::Ok);
  EXPECT_EQ(settings.adjustFlags, 8);
  EXPECT_EQ(settings.densityCode, (std::array<int, 4>{0, 0, 0, 3}));

  ppd.mark("StpBrightness=250");
  ASSERT_EQ(readPage(ppd, header, table, settings), PageSettingsResult::Ok);
  EXPECT_EQ(settings.adjustFlags, 12);
}

TEST(SettingsPpd, TonerModeKeepsThePreviousPageValueWhenUnmarked) {
  MarkedPpd withToner({kPageSize, {"TonerMode", "2", {"Off", "1", "2", "3"}}});
  MarkedPpd withoutToner({kPageSize});
  PaperTable table;
  JobSettings settings;
  settings.jobPaperIndex = 1;
  zeru::PageHeader header = pageHeader(595, 842);
  ASSERT_EQ(readPage(withToner, header, table, settings), PageSettingsResult::Ok);
  EXPECT_EQ(settings.tonerMode, 2);
  ASSERT_EQ(readPage(withoutToner, header, table, settings), PageSettingsResult::Ok);
  EXPECT_EQ(settings.tonerMode, 2);
  withToner.mark("TonerMode=Off");
  ASSERT_EQ(readPage(withToner, header, table, settings), PageSettingsResult::Ok);
  EXPECT_EQ(settings.tonerMode, 0);
}

TEST(SettingsPpd, CoversOverrideTheHeaderMediaType) {
  MarkedPpd ppd({kPageSize, {"MediaType", "Covers", {"Plain", "Covers"}}});
  PaperTable table;
  JobSettings settings;
  settings.jobPaperIndex = 1;
  zeru::PageHeader header = pageHeader(595, 842);
  header.mediaTypeCode = 4;
  ASSERT_EQ(readPage(ppd, header, table, settings), PageSettingsResult::Ok);
  EXPECT_EQ(settings.mediaCode, 3);
  EXPECT_EQ(header.mediaTypeCode, 2u);

  ppd.mark("MediaType=Plain");
  header.mediaTypeCode = 1;
  ASSERT_EQ(readPage(ppd, header, table, settings), PageSettingsResult::Ok);
  EXPECT_EQ(settings.mediaCode, 2);
  EXPECT_EQ(header.mediaTypeCode, 1u);
}

TEST(SettingsPpd, RotationAndBlankSheetSaving) {
  MarkedPpd ppd({kPageSize, {"ImageRotation", "true", {"true", "false"}},
                 {"AKSaveBlankSheet", "True", {"True", "false"}}});
  MarkedPpd bare({kPageSize});
  JobSettings settings;
  readRotate180(ppd.ppd(), settings);
  EXPECT_EQ(settings.rotate180, 1);
  readRotate180(bare.ppd(), settings);
  EXPECT_EQ(settings.rotate180, 1);
  ppd.mark("ImageRotation=false");
  readRotate180(ppd.ppd(), settings);
  EXPECT_EQ(settings.rotate180, 0);

  EXPECT_TRUE(saveBlankSheet(ppd.ppd()));
  EXPECT_FALSE(saveBlankSheet(bare.ppd()));
  ppd.mark("AKSaveBlankSheet=false");
  EXPECT_FALSE(saveBlankSheet(ppd.ppd()));
}

// ---- Page geometry through the settings ----

TEST(SettingsPpd, LandscapeA4HeaderIsExchangedInPlace) {
  MarkedPpd ppd({kPageSize}, "PageSize=A4");
  for (unsigned resolution : {600u, 1200u}) {
    PaperTable table;
    JobSettings settings;
    settings.jobPaperIndex = jobPaperIndex(ppd.ppd(), ppd.numOptions(), ppd.options());
    zeru::PageHeader header = pageHeader(842, 595, resolution);
    ASSERT_EQ(readPage(ppd, header, table, settings), PageSettingsResult::Ok);
    EXPECT_EQ(header.pageSize[0], 595u);
    EXPECT_EQ(header.pageSize[1], 842u);
    EXPECT_EQ(settings.paperIndex, 1);
    EXPECT_EQ(settings.paperCode, 2);
    EXPECT_EQ(settings.lineWidth, resolution == 600 ? 5120 : 10240);
    EXPECT_EQ(settings.pageWidth10, 2099);
    EXPECT_EQ(settings.pageHeight10, 2970);
  }
}

TEST(SettingsPpd, A5LandscapeMatchesOnlyUnderA5LEF) {
  MarkedPpd lef({kPageSize}, "PageSize=A5LEF");
  MarkedPpd a5({kPageSize}, "PageSize=A5");
  {
    PaperTable table;
    JobSettings settings;
    settings.jobPaperIndex = jobPaperIndex(lef.ppd(), lef.numOptions(), lef.options());
    zeru::PageHeader header = pageHeader(595, 420);
    ASSERT_EQ(readPage(lef, header, table, settings), PageSettingsResult::Ok);
    EXPECT_EQ(header.pageSize[0], 595u);
    EXPECT_EQ(settings.paperIndex, 8);
    EXPECT_EQ(settings.paperCode, 10);
    EXPECT_EQ(settings.lineWidth, 5120);
  }
  {
    PaperTable table;
    JobSettings settings;
    settings.jobPaperIndex = jobPaperIndex(a5.ppd(), a5.numOptions(), a5.options());
    zeru::PageHeader header = pageHeader(595, 420);
    ASSERT_EQ(readPage(a5, header, table, settings), PageSettingsResult::Ok);
    EXPECT_EQ(header.pageSize[0], 595u);
    EXPECT_EQ(settings.paperIndex, 11);
    EXPECT_EQ(settings.paperCode, 0);
    EXPECT_EQ(settings.lineWidth, 5120);
  }
}

TEST(SettingsPpd, A6LandscapeIsTurned) {
  MarkedPpd ppd({kPageSize}, "PageSize=A6");
  PaperTable table;
  JobSettings settings;
  settings.jobPaperIndex = jobPaperIndex(ppd.ppd(), ppd.numOptions(), ppd.options());
  zeru::PageHeader header = pageHeader(420, 297);
  ASSERT_EQ(readPage(ppd, header, table, settings), PageSettingsResult::Ok);
  EXPECT_EQ(header.pageSize[0], 297u);
  EXPECT_EQ(header.pageSize[1], 420u);
  EXPECT_EQ(settings.paperIndex, 3);
  EXPECT_EQ(settings.paperCode, 4);
  EXPECT_EQ(settings.lineWidth, 2560);
}

TEST(SettingsPpd, CustomWidthPadsTheLineAndRewritesTheCustomRow) {
  MarkedPpd ppd({kPageSize}, "PageSize=A4");
  PaperTable table;
  JobSettings settings;
  settings.jobPaperIndex = 1;
  zeru::PageHeader header = pageHeader(300, 400);
  ASSERT_EQ(readPage(ppd, header, table, settings), PageSettingsResult::Ok);
  EXPECT_EQ(settings.paperIndex, 11);
  EXPECT_EQ(settings.paperCode, 0);
  EXPECT_EQ(settings.lineWidth, 2560);
  EXPECT_EQ(settings.printableWidth, 2302);
  EXPECT_EQ(table.rows[kCustomPaperIndex].printableWidth, 2302);
}

TEST(SettingsPpd, EveryPageIsMatchedAgainstTheJobsPaperOnItsOwn) {
  MarkedPpd ppd({kPageSize}, "PageSize=Letter");
  PaperTable table;
  JobSettings settings;
  settings.jobPaperIndex = jobPaperIndex(ppd.ppd(), ppd.numOptions(), ppd.options());
  ASSERT_EQ(settings.jobPaperIndex, 0);

  zeru::PageHeader small = pageHeader(576, 720);
  ASSERT_EQ(readPage(ppd, small, table, settings), PageSettingsResult::Ok);
  EXPECT_EQ(settings.paperIndex, 11);
  EXPECT_EQ(settings.paperCode, 0);
  EXPECT_EQ(settings.lineWidth, 5120);
  EXPECT_EQ(table.rows[kCustomPaperIndex].printableWidth, 4602);

  // The custom page before it leaves no trace: Letter is Letter again, and
  // a landscape Letter page is turned as on any Letter job.
  for (zeru::PageHeader letter : {pageHeader(612, 792), pageHeader(792, 612)}) {
    ASSERT_EQ(readPage(ppd, letter, table, settings), PageSettingsResult::Ok);
    EXPECT_EQ(letter.pageSize[0], 612u);
    EXPECT_EQ(settings.paperIndex, 0);
    EXPECT_EQ(settings.paperCode, 1);
    EXPECT_EQ(settings.printableWidth, 4902);
    EXPECT_EQ(settings.jobPaperIndex, 0);
  }
}

TEST(SettingsPpd, PageRegionAloneSatisfiesThePresenceCheck) {
  MarkedPpd ppd({kPageSize, kPageRegion}, "PageRegion=A4");
  EXPECT_EQ(markedChoice(ppd.ppd(), "PageSize"), nullptr);
  EXPECT_TRUE(pageSizeMarked(ppd.ppd()));
  PaperTable table;
  JobSettings settings;
  settings.jobPaperIndex = 1;
  zeru::PageHeader header = pageHeader(595, 842);
  EXPECT_EQ(readPage(ppd, header, table, settings), PageSettingsResult::Ok);
}

TEST(SettingsPpd, PageWithoutAnyPageSizeIsRefused) {
  MarkedPpd ppd({{"TonerMode", "2", {"Off", "2"}}});
  EXPECT_FALSE(pageSizeMarked(ppd.ppd()));
  PaperTable table;
  JobSettings settings;
  settings.jobPaperIndex = 1;
  zeru::PageHeader header = pageHeader(842, 595);
  EXPECT_EQ(readPage(ppd, header, table, settings), PageSettingsResult::NoPageSize);
  EXPECT_EQ(settings.tonerMode, 0);
  EXPECT_EQ(header.pageSize[0], 842u);
  EXPECT_STREQ(pageSettingsError(PageSettingsResult::NoPageSize),
               "Invalid <PageSize> option.");
}

TEST(SettingsPpd, UnprintableHeaderIsRefusedBeforeAnythingChanges) {
  MarkedPpd ppd({kPageSize, {"TonerMode", "2", {"Off", "2"}}, {"MediaType", "Covers", {"Covers"}}});
  struct Case {
    unsigned width, height, resolution;
  };
  const Case cases[] = {{0, 842, 600},     {595, 0, 600},        {595, 842, 0},
                        {595, 842, 4800},  {100000, 842, 600},   {842, 0xFFFFFFFFu, 600}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " @" << c.resolution);
    PaperTable table;
    JobSettings settings;
    settings.jobPaperIndex = settings.paperIndex = 1;
    zeru::PageHeader header = pageHeader(c.width, c.height, c.resolution);
    zeru::PageHeader before = header;
    EXPECT_EQ(readPage(ppd, header, table, settings), PageSettingsResult::BadGeometry);
    EXPECT_EQ(header.pageSize[0], before.pageSize[0]);
    EXPECT_EQ(header.pageSize[1], before.pageSize[1]);
    EXPECT_EQ(header.mediaTypeCode, before.mediaTypeCode);
    EXPECT_EQ(settings.paperIndex, 1);
    EXPECT_EQ(settings.tonerMode, 0);
    EXPECT_EQ(settings.lineWidth, 0);
  }
  std::string error = pageSettingsError(PageSettingsResult::BadGeometry);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(error.find('\n'), std::string::npos);
}
