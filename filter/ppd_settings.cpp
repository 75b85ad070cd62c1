#include "filter/ppd_settings.h"

#include <strings.h>

#include <cstdio>
#include <cstring>

#include "settings/text_format.h"
#include "filter/log.h"

namespace {

bool equalsIgnoringCase(const char* a, const char* b) {
  return a != nullptr && b != nullptr && strcasecmp(a, b) == 0;
}

constexpr unsigned kCoversMediaType = 2;

// The twelve density choices in the order of JobSettings::density.
constexpr const char* kDensityKeywords[12] = {
    "AKColorDensityBlackHigh",   "AKColorDensityBlackMid",   "AKColorDensityBlackLow",
    "AKColorDensityCyanHigh",    "AKColorDensityCyanMid",    "AKColorDensityCyanLow",
    "AKColorDensityMagentaHigh", "AKColorDensityMagentaMid", "AKColorDensityMagentaLow",
    "AKColorDensityYellowHigh",  "AKColorDensityYellowMid",  "AKColorDensityYellowLow",
};

constexpr const char* kDuplexingOption = "com.apple.print.PrintSettings.PMDuplexing..n.";

constexpr const char* kNoPageSizeError = "ERROR: Invalid <PageSize> option.\n";
constexpr const char* kBadGeometryError =
    "ERROR: Page size or resolution of the raster page cannot be printed.\n";

const char* argOrEmpty(char* argv[], int index) {
  return (argv != nullptr && argv[index] != nullptr) ? argv[index] : "";
}

}  // namespace

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
  settings.jobPaperIndex = jobPaperIndex(ppd, numOptions, options);
  settings.paperIndex = settings.jobPaperIndex;
  // The resolution the job asks for: DrvResolution, else the standard
  // choices. Each page is printed at its own header's resolution.
  if (const char* drvResolution = markedChoice(ppd, "DrvResolution"))
    settings.resolution = resolutionFromChoice(drvResolution);
  else
    settings.resolution = resolutionFromStandardChoices(markedChoice(ppd, "cupsPrintQuality"),
                                                        markedChoice(ppd, "Resolution"));
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
  logBlock(settingsDumpText(ppd, numOptions, options, argv));
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
  if (!computePageGeometry(paperTable, settings.jobPaperIndex, header.PageSize[0],
                           header.PageSize[1], header.HWResolution[0], geometry))
    return PageSettingsResult::BadGeometry;
  header.PageSize[0] = geometry.pageWidth;
  header.PageSize[1] = geometry.pageHeight;
  settings.paperIndex = geometry.paperIndex;
  settings.paperCode = geometry.paperCode;
  settings.lineWidth = geometry.lineWidth;
  settings.printableWidth = geometry.printableWidth;

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
