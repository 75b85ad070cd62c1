#include "driver/job_settings.h"
#include "driver/text_format.h"

#include <strings.h>

#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "driver/log.h"

namespace {

// Keyword to value, for the choice tables below.
struct ChoiceValue {
  const char* keyword;
  int value;
};

bool equalsIgnoringCase(const char* a, const char* b) {
  return a != nullptr && b != nullptr && strcasecmp(a, b) == 0;
}

// The value of the first keyword equal to choice (without regard to case),
// else fallback.
template <size_t N>
int lookupIgnoringCase(const ChoiceValue (&table)[N], const char* choice, int fallback) {
  if (choice == nullptr) return fallback;
  for (const ChoiceValue& entry : table)
    if (strcasecmp(entry.keyword, choice) == 0) return entry.value;
  return fallback;
}

constexpr const char* kPageSizeKeywords[kPaperRows] = {
    "Letter", "A4", "A5", "A6", "B5", "B6", "Executive", "16K", "A5LEF", "B6LEF", "Legal", "Custom",
};

constexpr ChoiceValue kTonerModes[] = {{"3", 3}, {"2", 2}, {"1", 1}};

constexpr ChoiceValue kDensities[] = {
    {"+3", 3}, {"3", 3}, {"+2", 2}, {"2", 2}, {"+1", 1}, {"1", 1},
    {"0", 0},  {"-3", -3}, {"-2", -2}, {"-1", -1},
};

// The named contrast and chroma steps; the text replaces any numeric reading.
constexpr ChoiceValue kNamedSteps[] = {
    {"Weakest (-100)", -100}, {"Weaker (-75)", -75},   {"Weaker (-50)", -50},
    {"Weak (-25)", -25},      {"Strong (+25)", 25},    {"Stronger (+50)", 50},
    {"Stronger (+75)", 75},   {"Strongest (+100)", 100},
};

constexpr ChoiceValue kImageTypes[] = {
    {"TextPhoto", 0}, {"Photo", 1}, {"WebPages", 2}, {"Graphics", 3}, {"POP", 4},
};

constexpr ChoiceValue kScreenModes[] = {
    {"Auto", 0}, {"Standard", 0}, {"Gradation", 768}, {"Fineness", 512},
};

// The twelve density choices in the order of JobSettings::density.
constexpr const char* kDensityKeywords[12] = {
    "AKColorDensityBlackHigh",   "AKColorDensityBlackMid",   "AKColorDensityBlackLow",
    "AKColorDensityCyanHigh",    "AKColorDensityCyanMid",    "AKColorDensityCyanLow",
    "AKColorDensityMagentaHigh", "AKColorDensityMagentaMid", "AKColorDensityMagentaLow",
    "AKColorDensityYellowHigh",  "AKColorDensityYellowMid",  "AKColorDensityYellowLow",
};

constexpr int kBrightnessMin = 100;
constexpr int kBrightnessMax = 1000;
constexpr int kBrightnessOffset = 200;
constexpr int kStepLimit = 100;

constexpr unsigned kCoversMediaType = 2;

// The toner saving level of Draft quality when no level is chosen: the middle one.
constexpr int kDraftTonerMode = 2;

constexpr const char* kDuplexingOption = "com.apple.print.PrintSettings.PMDuplexing..n.";

constexpr const char* kNoPageSizeError = "ERROR: Invalid <PageSize> option.\n";
constexpr const char* kBadGeometryError =
    "ERROR: Page size or resolution of the raster page cannot be printed.\n";

const char* argOrEmpty(char* argv[], int index) {
  return (argv != nullptr && argv[index] != nullptr) ? argv[index] : "";
}

}  // namespace

// ---- Pure rules ----

int paperIndexFromKeyword(const char* keyword) {
  if (keyword == nullptr) return -1;
  for (int index = 0; index < kPaperRows; ++index)
    if (strcmp(kPageSizeKeywords[index], keyword) == 0) return index;
  return -1;
}

int resolutionFromChoice(const char* choice) {
  if (choice == nullptr || strcmp(choice, "600dpi") == 0) return 600;
  return 1200;
}

int duplexModeFromChoice(const char* choice) {
  if (equalsIgnoringCase(choice, "DrvDuplexNoTumble")) return 1;
  if (equalsIgnoringCase(choice, "DrvDuplexTumble")) return 2;
  return 0;
}

int duplexModeFromStandardChoice(const char* choice) {
  if (equalsIgnoringCase(choice, "DuplexNoTumble")) return 1;
  if (equalsIgnoringCase(choice, "DuplexTumble")) return 2;
  return 0;
}

int duplexModeFor(const char* option, const char* choice) {
  if (option != nullptr && strcmp(option, "DrvDuplex") == 0) return duplexModeFromChoice(choice);
  return duplexModeFromStandardChoice(choice);
}

int resolutionFromStandardChoices(const char* quality, const char* resolution) {
  if (equalsIgnoringCase(quality, "High")) return 1200;
  if (equalsIgnoringCase(quality, "Draft")) return 600;
  if (resolution != nullptr &&
      (strcmp(resolution, "1200dpi") == 0 || strcmp(resolution, "1200x1200dpi") == 0))
    return 1200;
  return 600;
}

int tonerModeForQuality(int tonerMode, const char* quality) {
  if (tonerMode == 0 && equalsIgnoringCase(quality, "Draft")) return kDraftTonerMode;
  return tonerMode;
}

int collateFromChoice(const char* choice) { return equalsIgnoringCase(choice, "True") ? 1 : 0; }

int tonerModeFromChoice(const char* choice, int previous) {
  if (choice == nullptr) return previous;
  return lookupIgnoringCase(kTonerModes, choice, 0);
}

int densityFromChoice(const char* choice) { return lookupIgnoringCase(kDensities, choice, 0); }

int densityCodeOf(int level) {
  switch (level) {
    case -3: return 1;
    case -2: return 2;
    case -1: return 3;
    case 1: return 4;
    case 2: return 5;
    case 3: return 6;
    default: return 0;
  }
}

int densityCodeFor(int high, int mid, int low) {
  return densityCodeOf(high) << 8 | densityCodeOf(mid) << 4 | densityCodeOf(low);
}

bool parseDecimalChoice(const char* choice, int& value) {
  if (choice == nullptr) return false;
  const char* first = choice;
  const char* last = choice + strlen(choice);
  bool negative = false;
  if (first != last && (*first == '+' || *first == '-')) {
    negative = *first == '-';
    ++first;
  }
  // from_chars takes no sign and no blanks, so "+-5", " 5" and "12abc" all fail here.
  if (first == last || *first < '0' || *first > '9') return false;
  long long magnitude = 0;
  auto [end, error] = std::from_chars(first, last, magnitude);
  if (error != std::errc() || end != last) return false;
  long long signedValue = negative ? -magnitude : magnitude;
  if (signedValue < INT32_MIN || signedValue > INT32_MAX) return false;
  value = static_cast<int>(signedValue);
  return true;
}

int brightnessFromChoice(const char* choice) {
  int v = 0;
  if (!parseDecimalChoice(choice, v)) return 0;
  if (v < kBrightnessMin || v > kBrightnessMax) return 0;
  return v - kBrightnessOffset;
}

int stepFromChoice(const char* choice) {
  if (choice == nullptr) return 0;
  int v = 0;
  int step = (parseDecimalChoice(choice, v) && v >= -kStepLimit && v <= kStepLimit) ? v : 0;
  return lookupIgnoringCase(kNamedSteps, choice, step);
}

int mediaCodeFor(bool coversMarked, unsigned cupsMediaType) {
  if (coversMarked) return 3;
  switch (cupsMediaType) {
    case 1: return 2;
    case 2: return 3;
    case 3: return 4;
    case 4: return 5;
    default: return 1;
  }
}

int imageTypeFromChoice(const char* choice) { return lookupIgnoringCase(kImageTypes, choice, 0); }

int complementaryFromChoice(const char* choice) {
  return equalsIgnoringCase(choice, "Complementary") ? 1 : 0;
}

int grayGuaranteeFromChoice(const char* choice) { return equalsIgnoringCase(choice, "ON") ? 1 : 0; }

int screenModeFromChoice(const char* choice) { return lookupIgnoringCase(kScreenModes, choice, 0); }

int rotate180FromChoice(const char* choice, int previous) {
  if (choice == nullptr) return previous;
  return equalsIgnoringCase(choice, "true") ? 1 : 0;
}

int adjustFlagsFor(const std::array<int, 12>& density, int brightness) {
  int flags = 0;
  for (int level : density)
    if (level != 0) {
      flags |= 8;
      break;
    }
  if (brightness != 0) flags |= 4;
  return flags;
}

uint16_t pointsToTenthMm(unsigned points) {
  return static_cast<uint16_t>(static_cast<uint64_t>(points) * 254 / 72);
}

// ---- PPD layer ----

const char* markedChoice(ppd_file_t* ppd, const char* keyword) {
  if (ppd == nullptr) return nullptr;
  ppd_choice_t* choice = ppdFindMarkedChoice(ppd, keyword);
  return choice != nullptr ? choice->choice : nullptr;
}

const char* duplexOption(ppd_file_t* ppd) {
  return markedChoice(ppd, "DrvDuplex") != nullptr ? "DrvDuplex" : "Duplex";
}

int jobPaperIndex(ppd_file_t* ppd, int numOptions, cups_option_t* options) {
  // A PageSize keyword that names no row leaves the index at 0 (Letter); a
  // job without any page size is taken as custom.
  int index = -1;
  if (const char* pageSize = markedChoice(ppd, "PageSize"))
    index = paperIndexFromKeyword(pageSize);
  else if (const char* option = cupsGetOption("PageSize", numOptions, options))
    index = paperIndexFromKeyword(option);
  else
    index = kCustomPaperIndex;
  return index >= 0 ? index : 0;
}

void readJobSettings(ppd_file_t* ppd, int numOptions, cups_option_t* options,
                     int argc, char* argv[], JobSettings& settings) {
  settings.paperIndex = jobPaperIndex(ppd, numOptions, options);
  // A PPD with DrvResolution fixes the resolution for the job; otherwise the
  // standard choices give it here and each page's header from then on, so
  // that the line placement and the page geometry use the same resolution.
  if (const char* drvResolution = markedChoice(ppd, "DrvResolution")) {
    settings.resolution = resolutionFromChoice(drvResolution);
    settings.resolutionFromHeader = false;
  } else {
    settings.resolution = resolutionFromStandardChoices(markedChoice(ppd, "cupsPrintQuality"),
                                                        markedChoice(ppd, "Resolution"));
    settings.resolutionFromHeader = true;
  }
  if (argc > 3) {
    settings.jobUser = argOrEmpty(argv, 2);
    settings.jobTitle = argOrEmpty(argv, 3);
  }

  dumpSettings(ppd, numOptions, options, argv);
}

std::string settingsDumpText(ppd_file_t* ppd, int numOptions, cups_option_t* options,
                             char* argv[]) {
  std::string text;
  appendFormat(text, "INFO: [Job name]\n");
  appendFormat(text, "INFO: %s\n", argOrEmpty(argv, 3));
  appendFormat(text, "INFO: [Job ID]\n");
  appendFormat(text, "INFO: %s\n", argOrEmpty(argv, 1));
  appendFormat(text, "INFO: [Driver recived argument vector]\n");
  appendFormat(text, "INFO: %s\n", argOrEmpty(argv, 5));
  appendFormat(text, "INFO: -----------------------------------\n");
  appendFormat(text, "INFO: [Driver final settings]\n");

  // One line per marked choice, each with its own text; unmarked ones are left out.
  struct DumpLine {
    const char* keyword;
    const char* format;
  };
  static constexpr DumpLine kChoiceLines[] = {
      {"PageSize", "INFO: PageSize : %s\n"},
      {"DrvResolution", "INFO: Resolution : %s\n"},
      {"PageRegion", "INFO: PageRegion : %s\n"},
      {"ImageableArea", "INFO: ImageableArea : %s\n"},
      {"PaperDimension", "INFO: PaperDimension : %s\n"},
      {"Resolution", "INFO: Resolution : %s\n"},
      {"cupsPrintQuality", "INFO: Print Quality : %s\n"},
      {"ColorModel", "INFO: ColorModel : %s\n"},
      {"ImageRotation", "INFO: ImageRotation : %s\n"},
      {"TonerMode", "INFO: Toner Saving Mode : %s\n"},
      {"GrayGuarantee", "INFO: Gray Guarantee : %s\n"},
      {"ImageEnh", "INFO: ImageEnh : %s\n"},
      {"AKColorDensityBlackLow", "INFO: AKColorDensityBlackLow : %s\n"},
      {"AKColorDensityBlackMid", "INFO: AKColorDensityBlackMid : %s\n"},
      {"AKColorDensityBlackHigh", "INFO: AKColorDensityBlackHigh : %s\n"},
      {"AKColorDensityMagentaLow", "INFO: AKColorDensityMagentaLow : %s\n"},
      {"AKColorDensityMagentaMid", "INFO: AKColorDensityMagentaMid : %s\n"},
      {"AKColorDensityMagentaHigh", "INFO: AKColorDensityMagentaHigh : %s\n"},
      {"AKColorDensityYellowLow", "INFO: AKColorDensityYellowLow : %s\n"},
      {"AKColorDensityYellowMid", "INFO: AKColorDensityYellowMid : %s\n"},
      {"AKColorDensityYellowHigh", "INFO: AKColorDensityYellowHigh : %s\n"},
      {"Collate", "INFO: Collate : %s\n"},
      {"MediaType", "INFO: MediaType : %s\n"},
      {"AKSaveBlankSheet", "INFO: AKSaveBlankSheet  : %s\n"},
      {"DrvDuplex", "INFO: DrvDuplex  : %s\n"},
      {"Duplex", "INFO: Duplex  : %s\n"},
  };
  static constexpr DumpLine kTrailingLines[] = {
      {"MMSI", "INFO: MMSI  : %s\n"},
      {"StpBrightness", "INFO: Brightness  : %s-200\n"},
      {"JobType", "INFO: Job Type  : %s\n"},
      {"JobNameMode", "INFO: Job Name Mode  : %s\n"},
      {"JobUserID", "INFO: UserID  : %s\n"},
      {"JobPasscode", "INFO: Passcode  : %s\n"},
      {"JobName", "INFO: New Job Name  : %s\n"},
  };

  // The formats come from the tables above; the compiler cannot see that.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  for (const DumpLine& line : kChoiceLines)
    if (const char* choice = markedChoice(ppd, line.keyword)) appendFormat(text, line.format, choice);
  if (const char* duplexing = cupsGetOption(kDuplexingOption, numOptions, options))
    appendFormat(text, "INFO: nDuplex  : %s\n", duplexing);
  for (const DumpLine& line : kTrailingLines)
    if (const char* choice = markedChoice(ppd, line.keyword)) appendFormat(text, line.format, choice);
#pragma GCC diagnostic pop
  return text;
}

void dumpSettings(ppd_file_t* ppd, int numOptions, cups_option_t* options, char* argv[]) {
  std::string text = settingsDumpText(ppd, numOptions, options, argv);
  LogBlock block;
  block.printf("%s", text.c_str());
}

bool pageSizeMarked(ppd_file_t* ppd) {
  return markedChoice(ppd, "PageSize") != nullptr || markedChoice(ppd, "Media") != nullptr ||
         markedChoice(ppd, "PageRegion") != nullptr;
}

PageSettingsResult readPageSettings(ppd_file_t* ppd, cups_page_header2_t& header,
                                    PaperTable& paperTable, JobSettings& settings,
                                    PageLoop loop) {
  if (!pageSizeMarked(ppd)) return PageSettingsResult::NoPageSize;

  PageGeometry geometry;
  if (!computePageGeometry(paperTable, settings.paperIndex, header.PageSize[0],
                           header.PageSize[1], header.HWResolution[0], geometry))
    return PageSettingsResult::BadGeometry;
  header.PageSize[0] = geometry.pageWidth;
  header.PageSize[1] = geometry.pageHeight;
  settings.paperIndex = geometry.paperIndex;
  settings.paperCode = geometry.paperCode;
  settings.lineWidth = geometry.lineWidth;
  settings.printableWidth = geometry.printableWidth;
  if (settings.resolutionFromHeader) settings.resolution = static_cast<int>(header.HWResolution[0]);

  settings.pageWidth10 = pointsToTenthMm(header.PageSize[0]);
  settings.pageHeight10 = pointsToTenthMm(header.PageSize[1]);

  const bool simplex = loop == PageLoop::Simplex;
  settings.tonerMode = tonerModeForQuality(
      tonerModeFromChoice(markedChoice(ppd, "TonerMode"), settings.tonerMode),
      markedChoice(ppd, "cupsPrintQuality"));
  if (simplex) logLine("STATE: TonerMode done");

  settings.colorMode = header.cupsBitsPerPixel == 8 ? 0 : 1;

  // A grayscale page has one plane: only the black densities apply to it.
  settings.density.fill(0);
  const size_t densityCount = settings.colorMode ? settings.density.size() : 3;
  for (size_t i = 0; i < densityCount; ++i)
    settings.density[i] = densityFromChoice(markedChoice(ppd, kDensityKeywords[i]));
  if (simplex) logLine("STATE: fillColorBalance done");

  settings.brightness = brightnessFromChoice(markedChoice(ppd, "StpBrightness"));
  if (simplex) logLine("STATE: Brightnessgraphic done");

  settings.contrastBackground = stepFromChoice(markedChoice(ppd, "Contrastbackground"));
  settings.contrastImage = stepFromChoice(markedChoice(ppd, "Contrastimage"));
  settings.contrastGraphics = stepFromChoice(markedChoice(ppd, "Contrastgraphic"));
  settings.contrastText = stepFromChoice(markedChoice(ppd, "Contrasttext"));
  settings.chromaBackground = stepFromChoice(markedChoice(ppd, "Chromabackground"));
  settings.chromaImage = stepFromChoice(markedChoice(ppd, "Chromaimage"));
  settings.chromaGraphics = stepFromChoice(markedChoice(ppd, "Chromagraphic"));
  settings.chromaText = stepFromChoice(markedChoice(ppd, "Chromatext"));

  settings.adjustFlags = adjustFlagsFor(settings.density, settings.brightness);
  for (int colour = kBlack; colour <= kYellow; ++colour) {
    const int* levels = &settings.density[static_cast<size_t>(colour) * 3];
    settings.densityCode[static_cast<size_t>(colour)] =
        densityCodeFor(levels[kHigh], levels[kMid], levels[kLow]);
  }

  if (settings.colorMode) {
    settings.imageType = imageTypeFromChoice(markedChoice(ppd, "ImageType"));
    settings.complementary = complementaryFromChoice(markedChoice(ppd, "IAM"));
  } else {
    settings.imageType = 0;
    settings.complementary = 0;
  }

  settings.grayGuarantee = grayGuaranteeFromChoice(markedChoice(ppd, "GrayGuarantee"));

  // A Covers choice overrides the header's media type, and the header is
  // brought in line with it for the rest of the page.
  const char* mediaType = markedChoice(ppd, "MediaType");
  const bool covers = mediaType != nullptr && strcmp(mediaType, "Covers") == 0;
  settings.mediaCode = static_cast<uint8_t>(mediaCodeFor(covers, header.cupsMediaType));
  if (covers) header.cupsMediaType = kCoversMediaType;

  settings.screenMode = screenModeFromChoice(markedChoice(ppd, "Screen"));
  return PageSettingsResult::Ok;
}

const char* pageSettingsError(PageSettingsResult result) {
  switch (result) {
    case PageSettingsResult::NoPageSize: return kNoPageSizeError;
    case PageSettingsResult::BadGeometry: return kBadGeometryError;
    case PageSettingsResult::Ok: break;
  }
  return "";
}

void readRotate180(ppd_file_t* ppd, JobSettings& settings) {
  settings.rotate180 = rotate180FromChoice(markedChoice(ppd, "ImageRotation"), settings.rotate180);
}

bool saveBlankSheet(ppd_file_t* ppd) {
  return equalsIgnoringCase(markedChoice(ppd, "AKSaveBlankSheet"), "true");
}
