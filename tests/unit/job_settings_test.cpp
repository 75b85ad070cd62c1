// The choice rules of the job settings, one table per rule.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>

#include "settings/job_settings.h"
#include "support/ppd_settings.h"
#include "stream/pjl.h"
#include "zeru/page_header.h"

namespace {

struct ChoiceCase {
  const char* choice;
  int expected;
};

}  // namespace

TEST(JobSettingsRules, PageSizeKeywordsAreExactAndCaseSensitive) {
  const ChoiceCase cases[] = {
      {"Letter", 0}, {"A4", 1},     {"A5", 2},      {"A6", 3},    {"B5", 4},
      {"B6", 5},     {"Executive", 6}, {"16K", 7},  {"A5LEF", 8}, {"B6LEF", 9},
      {"Legal", 10}, {"Custom", 11}, {"a4", -1},    {"letter", -1}, {"A4 ", -1},
      {"Tabloid", -1}, {"", -1},    {nullptr, -1}, {"Custom.50x50mm", -1},
  };
  for (const ChoiceCase& c : cases)
    EXPECT_EQ(paperIndexFromKeyword(c.choice), c.expected) << (c.choice ? c.choice : "(none)");
}

TEST(JobSettingsRules, ResolutionIs600OnlyFor600dpiOrNoChoice) {
  EXPECT_EQ(resolutionFromChoice("600dpi"), 600);
  EXPECT_EQ(resolutionFromChoice(nullptr), 600);
  EXPECT_EQ(resolutionFromChoice("1200dpi"), 1200);
  EXPECT_EQ(resolutionFromChoice("300dpi"), 1200);
}

TEST(JobSettingsRules, DuplexAndCollateIgnoreCase) {
  EXPECT_EQ(duplexModeFromChoice("DrvDuplexNoTumble"), 1);
  EXPECT_EQ(duplexModeFromChoice("drvduplexnotumble"), 1);
  EXPECT_EQ(duplexModeFromChoice("DrvDuplexTumble"), 2);
  EXPECT_EQ(duplexModeFromChoice("None"), 0);
  EXPECT_EQ(duplexModeFromChoice(nullptr), 0);
  EXPECT_EQ(collateFromChoice("True"), 1);
  EXPECT_EQ(collateFromChoice("TRUE"), 1);
  EXPECT_EQ(collateFromChoice("False"), 0);
  EXPECT_EQ(collateFromChoice(nullptr), 0);
}

TEST(JobSettingsRules, StandardDuplexResolutionAndQualityChoices) {
  EXPECT_EQ(duplexModeFromStandardChoice("DuplexNoTumble"), 1);
  EXPECT_EQ(duplexModeFromStandardChoice("duplextumble"), 2);
  EXPECT_EQ(duplexModeFromStandardChoice("None"), 0);
  EXPECT_EQ(duplexModeFromStandardChoice("DrvDuplexTumble"), 0);
  EXPECT_EQ(duplexModeFromStandardChoice(nullptr), 0);
  // Each option is read by its own rule.
  EXPECT_EQ(duplexModeFor("DrvDuplex", "DrvDuplexTumble"), 2);
  EXPECT_EQ(duplexModeFor("DrvDuplex", "DuplexTumble"), 0);
  EXPECT_EQ(duplexModeFor("Duplex", "DuplexNoTumble"), 1);
  EXPECT_EQ(duplexModeFor("Duplex", "DrvDuplexNoTumble"), 0);

  struct Case {
    const char* quality;
    const char* resolution;
    int expected;
  };
  const Case cases[] = {
      {"High", "600dpi", 1200},   {"high", nullptr, 1200},      {"Draft", "1200dpi", 600},
      {"Normal", "1200dpi", 1200}, {"Normal", "1200x1200dpi", 1200}, {"Normal", "600dpi", 600},
      {nullptr, "1200dpi", 1200}, {nullptr, "300dpi", 600},     {nullptr, nullptr, 600},
  };
  for (const Case& c : cases)
    EXPECT_EQ(resolutionFromStandardChoices(c.quality, c.resolution), c.expected)
        << (c.quality ? c.quality : "(none)") << " " << (c.resolution ? c.resolution : "(none)");

  // Draft saves toner unless a level of its own is set.
  EXPECT_EQ(tonerModeForQuality(0, "Draft"), 2);
  EXPECT_EQ(tonerModeForQuality(3, "Draft"), 3);
  EXPECT_EQ(tonerModeForQuality(0, "Normal"), 0);
  EXPECT_EQ(tonerModeForQuality(1, "High"), 1);
  EXPECT_EQ(tonerModeForQuality(0, nullptr), 0);
}

TEST(JobSettingsRules, TonerModeKeepsPreviousOnlyWhenUnmarked) {
  EXPECT_EQ(tonerModeFromChoice("3", 0), 3);
  EXPECT_EQ(tonerModeFromChoice("2", 0), 2);
  EXPECT_EQ(tonerModeFromChoice("1", 0), 1);
  EXPECT_EQ(tonerModeFromChoice("Off", 2), 0);
  EXPECT_EQ(tonerModeFromChoice("4", 2), 0);
  EXPECT_EQ(tonerModeFromChoice(nullptr, 2), 2);
  EXPECT_EQ(tonerModeFromChoice(nullptr, 0), 0);
}

TEST(JobSettingsRules, DensityChoices) {
  const ChoiceCase cases[] = {
      {"+3", 3}, {"3", 3},  {"+2", 2},  {"2", 2},  {"+1", 1},  {"1", 1},    {"0", 0},
      {"-3", -3}, {"-2", -2}, {"-1", -1}, {"4", 0}, {"-4", 0}, {"Normal", 0}, {nullptr, 0},
  };
  for (const ChoiceCase& c : cases)
    EXPECT_EQ(densityFromChoice(c.choice), c.expected) << (c.choice ? c.choice : "(none)");
}

TEST(JobSettingsRules, DensityCodesPackHighMidLow) {
  const int codes[7] = {1, 2, 3, 0, 4, 5, 6};
  for (int level = -3; level <= 3; ++level) EXPECT_EQ(densityCodeOf(level), codes[level + 3]);
  EXPECT_EQ(densityCodeOf(7), 0);
  EXPECT_EQ(densityCodeFor(0, 0, 0), 0);
  EXPECT_EQ(densityCodeFor(0, 0, -1), 3);
  EXPECT_EQ(densityCodeFor(2, 0, 0), 0x500);
  EXPECT_EQ(densityCodeFor(3, -3, 1), 0x614);
}

TEST(JobSettingsRules, DecimalChoiceMustBeAWholeNumber) {
  struct ParseCase {
    const char* text;
    bool ok;
    int value;
  };
  const ParseCase cases[] = {
      {"250", true, 250},   {"-30", true, -30}, {"+25", true, 25},   {"0", true, 0},
      {"007", true, 7},     {"12abc", false, 0}, {"abc", false, 0},  {"", false, 0},
      {"+", false, 0},      {"-", false, 0},     {" 5", false, 0},   {"5 ", false, 0},
      {"+-5", false, 0},    {"1.5", false, 0},   {"99999999999", false, 0},
      {"2147483647", true, 2147483647},          {"-2147483648", true, -2147483647 - 1},
      {nullptr, false, 0},
  };
  for (const ParseCase& c : cases) {
    int value = 0;
    EXPECT_EQ(parseDecimalChoice(c.text, value), c.ok) << (c.text ? c.text : "(none)");
    if (c.ok) {
      EXPECT_EQ(value, c.value) << c.text;
    }
  }
}

TEST(JobSettingsRules, BrightnessTakesOnly100To1000LessTwoHundred) {
  const ChoiceCase cases[] = {
      {"250", 50}, {"100", -100}, {"1000", 800}, {"200", 0}, {"90", 0},  {"1001", 0},
      {"-250", 0}, {"250abc", 0}, {"Normal", 0}, {nullptr, 0},
  };
  for (const ChoiceCase& c : cases)
    EXPECT_EQ(brightnessFromChoice(c.choice), c.expected) << (c.choice ? c.choice : "(none)");
}

TEST(JobSettingsRules, StepTakesNumbersInRangeAndNamedSteps) {
  const ChoiceCase cases[] = {
      {"-30", -30},
      {"-75", -75},
      {"+25", 25},
      {"100", 100},
      {"-100", -100},
      {"150", 0},
      {"-101", 0},
      {"30x", 0},
      {"Normal", 0},
      {nullptr, 0},
      {"Weakest (-100)", -100},
      {"Weaker (-75)", -75},
      {"Weaker (-50)", -50},
      {"Weak (-25)", -25},
      {"Strong (+25)", 25},
      {"Stronger (+50)", 50},
      {"Stronger (+75)", 75},
      {"Strongest (+100)", 100},
      {"weaker (-75)", -75},
      {"STRONGEST (+100)", 100},
  };
  for (const ChoiceCase& c : cases)
    EXPECT_EQ(stepFromChoice(c.choice), c.expected) << (c.choice ? c.choice : "(none)");
}

TEST(JobSettingsRules, MediaCodeFromCoversOrHeaderMediaType) {
  EXPECT_EQ(mediaCodeFor(true, 0), 3);
  EXPECT_EQ(mediaCodeFor(true, 4), 3);
  const int expected[] = {1, 2, 3, 4, 5, 1, 1};
  for (unsigned type = 0; type < 7; ++type) EXPECT_EQ(mediaCodeFor(false, type), expected[type]);
  EXPECT_EQ(mediaCodeFor(false, 0xFFFFFFFFu), 1);
}

TEST(JobSettingsRules, ImageTypeComplementaryGrayScreenIgnoreCase) {
  const ChoiceCase imageTypes[] = {{"TextPhoto", 0}, {"Photo", 1}, {"webpages", 2},
                                   {"GRAPHICS", 3},  {"POP", 4},   {"Other", 0},
                                   {nullptr, 0}};
  for (const ChoiceCase& c : imageTypes) EXPECT_EQ(imageTypeFromChoice(c.choice), c.expected);
  EXPECT_EQ(complementaryFromChoice("Complementary"), 1);
  EXPECT_EQ(complementaryFromChoice("complementary"), 1);
  EXPECT_EQ(complementaryFromChoice("Normal"), 0);
  EXPECT_EQ(complementaryFromChoice(nullptr), 0);
  EXPECT_EQ(grayGuaranteeFromChoice("ON"), 1);
  EXPECT_EQ(grayGuaranteeFromChoice("on"), 1);
  EXPECT_EQ(grayGuaranteeFromChoice("OFF"), 0);
  EXPECT_EQ(grayGuaranteeFromChoice(nullptr), 0);
  const ChoiceCase screens[] = {{"Auto", 0},      {"Standard", 0}, {"Gradation", 768},
                                {"fineness", 512}, {"Other", 0},    {nullptr, 0}};
  for (const ChoiceCase& c : screens) EXPECT_EQ(screenModeFromChoice(c.choice), c.expected);
}

TEST(JobSettingsRules, Rotate180KeepsPreviousOnlyWhenUnmarked) {
  EXPECT_EQ(rotate180FromChoice("true", 0), 1);
  EXPECT_EQ(rotate180FromChoice("True", 0), 1);
  EXPECT_EQ(rotate180FromChoice("false", 1), 0);
  EXPECT_EQ(rotate180FromChoice(nullptr, 1), 1);
  EXPECT_EQ(rotate180FromChoice(nullptr, 0), 0);
}

TEST(JobSettingsRules, AdjustFlagsForDensitiesAndBrightness) {
  std::array<int, 12> none{};
  std::array<int, 12> yellowLow{};
  yellowLow[kYellow * 3 + kLow] = -1;
  EXPECT_EQ(adjustFlagsFor(none, 0), 0);
  EXPECT_EQ(adjustFlagsFor(none, 50), 4);
  EXPECT_EQ(adjustFlagsFor(yellowLow, 0), 8);
  EXPECT_EQ(adjustFlagsFor(yellowLow, -100), 12);
}

TEST(JobSettingsRules, PointsToTenthsOfAMillimetreTruncate) {
  EXPECT_EQ(pointsToTenthMm(595), 2099);
  EXPECT_EQ(pointsToTenthMm(842), 2970);
  EXPECT_EQ(pointsToTenthMm(612), 2159);
  EXPECT_EQ(pointsToTenthMm(0), 0);
  // Only the low 16 bits are kept, computed without overflow.
  EXPECT_EQ(pointsToTenthMm(100000), static_cast<uint16_t>(100000ull * 254 / 72));
  EXPECT_EQ(pointsToTenthMm(0xFFFFFFFFu), static_cast<uint16_t>(0xFFFFFFFFull * 254 / 72));
}

TEST(JobSettingsRules, JobWithoutPagesIsAnnouncedWithItsOwnValues) {
  JobSettings settings;
  settings.resolution = 1200;
  zeru::PageHeader header = headerWithoutPages(settings);
  EXPECT_EQ(header.numCopies, 1u);
  EXPECT_EQ(header.collate, 0u);
  EXPECT_EQ(header.hwResolution[0], 1200u);
  EXPECT_EQ(header.hwResolution[1], 1200u);
  // The log's geometry line shows every other field as 0.
  EXPECT_NE(jobHeaderLogLine(header, 1).find(",cupsBitsPerPixel=0,cupsColorSpace=0,"),
            std::string::npos);
  std::string jobHeader = buildJobHeader(header, JobHeaderInputs{});
  EXPECT_NE(jobHeader.find("@PJL SET RESOLUTION=1200\r\n"), std::string::npos);
  EXPECT_NE(jobHeader.find("@PJL SET COPIES=1\r\n"), std::string::npos);

  settings.resolution = 600;
  settings.collate = 1;
  header = headerWithoutPages(settings);
  EXPECT_EQ(header.collate, 1u);
  EXPECT_EQ(header.hwResolution[0], 600u);
  EXPECT_NE(buildJobHeader(header, JobHeaderInputs{}).find("@PJL SET QTY=1\r\n"),
            std::string::npos);
}

TEST(JobSettingsRules, PageErrorLines) {
  EXPECT_STREQ(pageSettingsError(PageSettingsResult::NoPageSize),
               "Invalid <PageSize> option.");
  std::string bad = pageSettingsError(PageSettingsResult::BadGeometry);
  EXPECT_FALSE(bad.empty());
  EXPECT_EQ(bad.find('\n'), std::string::npos);
}
