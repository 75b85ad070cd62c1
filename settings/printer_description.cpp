// The printers' description: models, paper table, options, resolutions.
#include "zeru/printer.h"

#include <cstdlib>
#include <cstring>

namespace zeru {

namespace {

constexpr ModelDescription kModels[] = {
    {Model::Tx7M, "zemro_tx7m", "ztx7m", "ZEMRO TX 7M",
     "MFG:ZEMRO;CMD:PJL,ZERU;MDL:TX 7M;CLS:PRINTER;DES:ZEMRO TX 7M;", "(ZEMRO TX 7M)",
     "/Library/Printers/ZEMRO/lib/ZEMRO TX 7M", "/Library/Printers/ZEMRO/ZEMRO TX 7M"},
    {Model::Tx7, "zemro_tx7", "ztx7", "ZEMRO TX 7",
     "MFG:ZEMRO;CMD:PJL,ZERU;MDL:TX 7;CLS:PRINTER;DES:ZEMRO TX 7;", "(ZEMRO TX 7)",
     "/Library/Printers/ZEMRO/lib/ZEMRO TX 7", "/Library/Printers/ZEMRO/ZEMRO TX 7"},
    {Model::Tx7MN, "zemro_tx7mn", "ztx7mn", "ZEMRO TX 7MN",
     "MFG:ZEMRO;CMD:PJL,ZERU;MDL:TX 7MN;CLS:PRINTER;DES:ZEMRO TX 7MN;", "(ZEMRO TX 7MN)",
     "/Library/Printers/ZEMRO/lib/ZEMRO TX 7M", "/Library/Printers/ZEMRO/ZEMRO TX 7M"},
    {Model::Tx7N, "zemro_tx7n", "ztx7n", "ZEMRO TX 7N",
     "MFG:ZEMRO;CMD:PJL,ZERU;MDL:TX 7N;CLS:PRINTER;DES:ZEMRO TX 7N;", "(ZEMRO TX 7N)",
     "/Library/Printers/ZEMRO/lib/ZEMRO TX 7", "/Library/Printers/ZEMRO/ZEMRO TX 7"},
};

// The paper table. The sheet in whole points gives back the table's dots as
// points * 600 / 72 truncated; the two long-edge-feed sizes have PWG names
// of their own, as PWG's names for A5 and B6 stand for the portrait sheets.
constexpr Paper kPapers[] = {
    {"Letter", "na_letter_8.5x11in", 612, 792, 1, 5120, 4902, 6600},
    {"A4", "iso_a4_210x297mm", 595, 842, 2, 5120, 4760, 7016},
    {"A5", "iso_a5_148x210mm", 420, 595, 3, 3584, 3302, 4958},
    {"A6", "iso_a6_105x148mm", 297, 420, 4, 2560, 2277, 3500},
    {"B5", "jis_b5_182x257mm", 516, 729, 5, 4608, 4102, 6075},
    {"B6", "jis_b6_128x182mm", 363, 516, 6, 3072, 2827, 4300},
    {"Executive", "na_executive_7.25x10.5in", 522, 756, 7, 4608, 4152, 6300},
    {"16K", "om_16k_184x260mm", 524, 737, 8, 4608, 4168, 6141},
    {"A5LEF", "om_a5-lef_210x148mm", 595, 420, 10, 5120, 4760, 3500},
    {"B6LEF", "om_b6-lef_182x128mm", 516, 363, 11, 4608, 4102, 3025},
    {"Legal", "na_legal_8.5x14in", 612, 1008, 9, 5120, 4902, 8400},
};
constexpr size_t kDefaultPaper = 1;
// Some table sizes differ from their metric names by up to a millimetre.
constexpr int kTolerancePoints = 3;

constexpr const char* kPageSizes[] = {"Letter", "A4",        "A5",  "A6",    "B5",    "B6",
                                      "Executive", "16K", "A5LEF", "B6LEF", "Legal"};
constexpr const char* kMediaTypeChoices[] = {"Plain", "Thick", "Covers", "Labels", "Envelope"};
constexpr const char* kColorModels[] = {"RGB", "Gray"};
constexpr const char* kResolutionChoices[] = {"600x600dpi", "1200x1200dpi"};
constexpr const char* kQualities[] = {"Draft", "Normal", "High"};
constexpr const char* kDuplexChoices[] = {"None", "DuplexNoTumble", "DuplexTumble"};
constexpr const char* kTrueFalse[] = {"True", "False"};
constexpr const char* kOnOff[] = {"ON", "OFF"};
constexpr const char* kTonerModes[] = {"Off", "1", "2", "3"};
constexpr const char* kImageTypes[] = {"TextPhoto", "Photo", "WebPages", "Graphics", "POP"};
constexpr const char* kColourMatching[] = {"Standard", "Complementary"};
constexpr const char* kScreens[] = {"Auto", "Standard", "Gradation", "Fineness"};
// Brightness: the step from -100 to +100 plus 200.
constexpr const char* kBrightness[] = {"100", "110", "120", "130", "140", "150", "160",
                                       "170", "180", "190", "200", "210", "220", "230",
                                       "240", "250", "260", "270", "280", "290", "300"};
constexpr const char* kSteps[] = {"-100", "-75", "-50", "-25", "0", "25", "50", "75", "100"};
constexpr const char* kDensities[] = {"-3", "-2", "-1", "0", "+1", "+2", "+3"};

#define ZERU_STEP_OPTION(keyword) {keyword, kSteps, "0", true}
#define ZERU_DENSITY_OPTION(keyword) {keyword, kDensities, "0", true}

constexpr OptionDescription kOptions[] = {
    {"PageSize", kPageSizes, "A4", false},
    {"MediaType", kMediaTypeChoices, "Plain", true},
    {"ColorModel", kColorModels, "RGB", false},
    {"Resolution", kResolutionChoices, "600x600dpi", false},
    {"cupsPrintQuality", kQualities, "Normal", true},
    {"Duplex", kDuplexChoices, "None", false},
    {"Collate", kTrueFalse, "True", false},
    {"TonerMode", kTonerModes, "Off", true},
    {"ImageType", kImageTypes, "TextPhoto", true},
    {"IAM", kColourMatching, "Standard", true},
    {"GrayGuarantee", kOnOff, "OFF", true},
    {"Screen", kScreens, "Auto", true},
    {"ImageRotation", kTrueFalse, "False", true},
    {"AKSaveBlankSheet", kTrueFalse, "False", true},
    {"StpBrightness", kBrightness, "200", true},
    ZERU_STEP_OPTION("Contrastbackground"),
    ZERU_STEP_OPTION("Contrastimage"),
    ZERU_STEP_OPTION("Contrastgraphic"),
    ZERU_STEP_OPTION("Contrasttext"),
    ZERU_STEP_OPTION("Chromabackground"),
    ZERU_STEP_OPTION("Chromaimage"),
    ZERU_STEP_OPTION("Chromagraphic"),
    ZERU_STEP_OPTION("Chromatext"),
    ZERU_DENSITY_OPTION("AKColorDensityBlackHigh"),
    ZERU_DENSITY_OPTION("AKColorDensityBlackMid"),
    ZERU_DENSITY_OPTION("AKColorDensityBlackLow"),
    ZERU_DENSITY_OPTION("AKColorDensityCyanHigh"),
    ZERU_DENSITY_OPTION("AKColorDensityCyanMid"),
    ZERU_DENSITY_OPTION("AKColorDensityCyanLow"),
    ZERU_DENSITY_OPTION("AKColorDensityMagentaHigh"),
    ZERU_DENSITY_OPTION("AKColorDensityMagentaMid"),
    ZERU_DENSITY_OPTION("AKColorDensityMagentaLow"),
    ZERU_DENSITY_OPTION("AKColorDensityYellowHigh"),
    ZERU_DENSITY_OPTION("AKColorDensityYellowMid"),
    ZERU_DENSITY_OPTION("AKColorDensityYellowLow"),
};

#undef ZERU_STEP_OPTION
#undef ZERU_DENSITY_OPTION

// The MediaType choices, numbered as the raster's media type numbers them.
constexpr MediaTypeDescription kMediaTypes[] = {
    {"Plain", 0}, {"Thick", 1}, {"Covers", 2}, {"Labels", 3}, {"Envelope", 4},
};

}  // namespace

std::span<const ModelDescription> models() { return kModels; }

const ModelDescription& describe(Model model) {
  for (const ModelDescription& description : kModels)
    if (description.model == model) return description;
  return kModels[0];
}

std::span<const Paper> papers() { return kPapers; }

const Paper& defaultPaper() { return kPapers[kDefaultPaper]; }

const Paper* paperForKeyword(const char* keyword) {
  if (keyword == nullptr) return nullptr;
  for (const Paper& paper : kPapers)
    if (strcmp(paper.keyword, keyword) == 0) return &paper;
  return nullptr;
}

const Paper* paperForPwgName(const char* name) {
  if (name == nullptr) return nullptr;
  for (const Paper& paper : kPapers)
    if (strcmp(paper.pwgName, name) == 0) return &paper;
  return nullptr;
}

const Paper* paperForPoints(unsigned widthPoints, unsigned heightPoints) {
  for (const Paper& paper : kPapers) {
    long dw = std::labs(static_cast<long>(paper.widthPoints) - static_cast<long>(widthPoints));
    long dh = std::labs(static_cast<long>(paper.heightPoints) - static_cast<long>(heightPoints));
    if (dw <= kTolerancePoints && dh <= kTolerancePoints) return &paper;
  }
  return nullptr;
}

std::span<const OptionDescription> options() { return kOptions; }

const OptionDescription* optionFor(const char* keyword) {
  if (keyword == nullptr) return nullptr;
  for (const OptionDescription& option : kOptions)
    if (strcmp(option.keyword, keyword) == 0) return &option;
  return nullptr;
}

std::span<const MediaTypeDescription> mediaTypes() { return kMediaTypes; }

int resolutionForQuality(PrintQuality quality, int requested) {
  switch (quality) {
    case PrintQuality::High: return 1200;
    case PrintQuality::Draft: return 600;
    case PrintQuality::Normal: break;
  }
  return requested == 1200 ? 1200 : 600;
}

}  // namespace zeru
