#include "settings/page_settings.h"

#include <strings.h>

#include <cstdint>
#include <cstring>

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

constexpr const char* kNoPageSizeError = "Invalid <PageSize> option.";
constexpr const char* kBadGeometryError =
    "Page size or resolution of the raster page cannot be printed.";

}  // namespace

const char* duplexOption(const zeru::Choices& choices) {
  return choices.choice("DrvDuplex") != nullptr ? "DrvDuplex" : "Duplex";
}

int jobPaperIndex(const zeru::Choices& choices, const char* pageSizeOption) {
  // A PageSize keyword that names no row leaves the index at 0 (Letter); a
  // job without any page size is taken as custom.
  int index = -1;
  if (const char* pageSize = choices.choice("PageSize"))
    index = paperIndexFromKeyword(pageSize);
  else if (pageSizeOption)
    index = paperIndexFromKeyword(pageSizeOption);
  else
    index = kCustomPaperIndex;
  return index >= 0 ? index : 0;
}

void readJobLevelSettings(const zeru::Choices& choices, const char* pageSizeOption,
                          JobSettings& settings) {
  settings.jobPaperIndex = jobPaperIndex(choices, pageSizeOption);
  settings.paperIndex = settings.jobPaperIndex;
  // The resolution the job asks for: DrvResolution, else the standard
  // choices. Each page is printed at its own header's resolution.
  if (const char* drvResolution = choices.choice("DrvResolution"))
    settings.resolution = resolutionFromChoice(drvResolution);
  else
    settings.resolution = resolutionFromStandardChoices(choices.choice("cupsPrintQuality"),
                                                        choices.choice("Resolution"));
}

bool pageSizeMarked(const zeru::Choices& choices) {
  return choices.choice("PageSize") != nullptr || choices.choice("Media") != nullptr ||
         choices.choice("PageRegion") != nullptr;
}

PageSettingsResult readPageSettings(const zeru::Choices& choices, zeru::PageHeader& header,
                                    PaperTable& paperTable, JobSettings& settings, PageLoop loop,
                                    const std::function<void(const char*)>& log) {
  if (!pageSizeMarked(choices)) return PageSettingsResult::NoPageSize;

  PageGeometry geometry;
  if (!computePageGeometry(paperTable, settings.jobPaperIndex, header.pageSize[0],
                           header.pageSize[1], header.hwResolution[0], geometry))
    return PageSettingsResult::BadGeometry;
  header.pageSize[0] = geometry.pageWidth;
  header.pageSize[1] = geometry.pageHeight;
  settings.paperIndex = geometry.paperIndex;
  settings.paperCode = geometry.paperCode;
  settings.lineWidth = geometry.lineWidth;
  settings.printableWidth = geometry.printableWidth;

  settings.pageWidth10 = pointsToTenthMm(header.pageSize[0]);
  settings.pageHeight10 = pointsToTenthMm(header.pageSize[1]);

  const bool simplex = loop == PageLoop::Simplex;
  settings.tonerMode = tonerModeForQuality(
      tonerModeFromChoice(choices.choice("TonerMode"), settings.tonerMode),
      choices.choice("cupsPrintQuality"));
  if (simplex) log("STATE: TonerMode done");

  settings.colorMode = header.bitsPerPixel == 8 ? 0 : 1;

  // A grayscale page has one plane: only the black densities apply to it.
  settings.density.fill(0);
  const size_t densityCount = settings.colorMode ? settings.density.size() : 3;
  for (size_t i = 0; i < densityCount; ++i)
    settings.density[i] = densityFromChoice(choices.choice(kDensityKeywords[i]));
  if (simplex) log("STATE: fillColorBalance done");

  settings.brightness = brightnessFromChoice(choices.choice("StpBrightness"));
  if (simplex) log("STATE: Brightnessgraphic done");

  settings.contrastBackground = stepFromChoice(choices.choice("Contrastbackground"));
  settings.contrastImage = stepFromChoice(choices.choice("Contrastimage"));
  settings.contrastGraphics = stepFromChoice(choices.choice("Contrastgraphic"));
  settings.contrastText = stepFromChoice(choices.choice("Contrasttext"));
  settings.chromaBackground = stepFromChoice(choices.choice("Chromabackground"));
  settings.chromaImage = stepFromChoice(choices.choice("Chromaimage"));
  settings.chromaGraphics = stepFromChoice(choices.choice("Chromagraphic"));
  settings.chromaText = stepFromChoice(choices.choice("Chromatext"));

  settings.adjustFlags = adjustFlagsFor(settings.density, settings.brightness);
  for (int colour = kBlack; colour <= kYellow; ++colour) {
    const int* levels = &settings.density[static_cast<size_t>(colour) * 3];
    settings.densityCode[static_cast<size_t>(colour)] =
        densityCodeFor(levels[kHigh], levels[kMid], levels[kLow]);
  }

  if (settings.colorMode) {
    settings.imageType = imageTypeFromChoice(choices.choice("ImageType"));
    settings.complementary = complementaryFromChoice(choices.choice("IAM"));
  } else {
    settings.imageType = 0;
    settings.complementary = 0;
  }

  settings.grayGuarantee = grayGuaranteeFromChoice(choices.choice("GrayGuarantee"));

  // A Covers choice overrides the header's media type, and the header is
  // brought in line with it for the rest of the page.
  const char* mediaType = choices.choice("MediaType");
  const bool covers = mediaType != nullptr && strcmp(mediaType, "Covers") == 0;
  settings.mediaCode = static_cast<uint8_t>(mediaCodeFor(covers, header.mediaTypeCode));
  if (covers) header.mediaTypeCode = kCoversMediaType;

  settings.screenMode = screenModeFromChoice(choices.choice("Screen"));
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

void readRotate180(const zeru::Choices& choices, JobSettings& settings) {
  settings.rotate180 = rotate180FromChoice(choices.choice("ImageRotation"), settings.rotate180);
}

bool saveBlankSheet(const zeru::Choices& choices) {
  return equalsIgnoringCase(choices.choice("AKSaveBlankSheet"), "true");
}
