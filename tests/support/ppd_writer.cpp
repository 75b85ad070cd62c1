#include "ppd_writer.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "temp_dir.h"

namespace zerutest {

namespace {

struct PaperSize {
  const char* keyword;
  unsigned width;
  unsigned height;
};

// Sheet sizes in points; each gives the paper table's dot sizes at 600 dpi.
constexpr PaperSize kPaperSizes[] = {
    {"Letter", 612, 792}, {"A4", 595, 842},        {"A5", 420, 595},    {"A6", 297, 420},
    {"B5", 516, 729},     {"B6", 363, 516},        {"Executive", 522, 756},
    {"16K", 524, 737},    {"A5LEF", 595, 420},     {"B6LEF", 516, 363}, {"Legal", 612, 1008},
};

// Unprintable margin of the generated ImageableArea entries, in points.
constexpr unsigned kMargin = 12;

PpdOption pickOne(std::string keyword, std::vector<std::string> choices, std::string def,
                  double order = 20) {
  PpdOption option;
  option.keyword = std::move(keyword);
  option.text = option.keyword;
  option.order = order;
  for (std::string& choice : choices) option.choices.push_back({std::move(choice), "", ""});
  option.defaultChoice = std::move(def);
  return option;
}

PpdOption pageSizeOption(const std::string& keyword) {
  PpdOption option;
  option.keyword = keyword;
  option.text = keyword == "PageSize" ? "Media Size" : "Page Region";
  option.order = 10;
  for (const PaperSize& size : kPaperSizes) {
    char code[128];
    std::snprintf(code, sizeof code, "<</PageSize[%u %u]/ImagingBBox null>>setpagedevice",
                  size.width, size.height);
    option.choices.push_back({size.keyword, "", code});
  }
  // PageRegion carries no default of its own, as in the usual PPD.
  if (keyword == "PageSize") option.defaultChoice = "A4";
  return option;
}

PpdOption stepOption(std::string keyword) {
  static const std::pair<const char*, const char*> kSteps[] = {
      {"-100", "Weakest (-100)"}, {"-75", "Weaker (-75)"},   {"-50", "Weaker (-50)"},
      {"-25", "Weak (-25)"},      {"0", "Normal"},           {"25", "Strong (+25)"},
      {"50", "Stronger (+50)"},   {"75", "Stronger (+75)"},  {"100", "Strongest (+100)"},
  };
  PpdOption option;
  option.keyword = std::move(keyword);
  option.text = option.keyword;
  option.order = 30;
  for (const auto& [choice, text] : kSteps) option.choices.push_back({choice, text, ""});
  option.defaultChoice = "0";
  return option;
}

}  // namespace

std::optional<std::pair<unsigned, unsigned>> pageSizePoints(const std::string& keyword) {
  for (const PaperSize& size : kPaperSizes)
    if (keyword == size.keyword) return std::make_pair(size.width, size.height);
  return std::nullopt;
}

const std::vector<std::string>& pageSizeKeywords() {
  static const std::vector<std::string> keywords = [] {
    std::vector<std::string> list;
    for (const PaperSize& size : kPaperSizes) list.push_back(size.keyword);
    list.push_back("Custom");
    return list;
  }();
  return keywords;
}

PpdBuilder::PpdBuilder() {
  options_.push_back(pageSizeOption("PageSize"));
  options_.push_back(pageSizeOption("PageRegion"));
  options_.push_back(pickOne("DrvResolution", {"600dpi", "1200dpi"}, "600dpi"));
  options_.push_back(
      pickOne("DrvDuplex", {"None", "DrvDuplexNoTumble", "DrvDuplexTumble"}, "None"));
  options_.push_back(pickOne("Collate", {"False", "True"}, "False"));
  options_.push_back(
      pickOne("MediaType", {"Plain", "Thick", "Covers", "Labels", "Envelope"}, "Plain"));
  options_.push_back(pickOne("TonerMode", {"Off", "1", "2", "3"}, "Off"));
  for (const char* colour : {"Black", "Cyan", "Magenta", "Yellow"})
    for (const char* level : {"High", "Mid", "Low"})
      options_.push_back(pickOne(std::string("AKColorDensity") + colour + level,
                                 {"-3", "-2", "-1", "0", "+1", "+2", "+3"}, "0"));
  options_.push_back(pickOne("StpBrightness", {"100", "150", "200", "250", "300"}, "200"));
  for (const char* kind : {"Contrast", "Chroma"})
    for (const char* object : {"background", "image", "graphic", "text"})
      options_.push_back(stepOption(std::string(kind) + object));
  options_.push_back(
      pickOne("ImageType", {"TextPhoto", "Photo", "WebPages", "Graphics", "POP"}, "TextPhoto"));
  options_.push_back(pickOne("IAM", {"Normal", "Complementary"}, "Normal"));
  options_.push_back(pickOne("GrayGuarantee", {"OFF", "ON"}, "OFF"));
  options_.push_back(pickOne("Screen", {"Auto", "Standard", "Gradation", "Fineness"}, "Auto"));
  options_.push_back(pickOne("ImageRotation", {"false", "true"}, "false"));
  options_.push_back(pickOne("AKSaveBlankSheet", {"False", "True"}, "False"));
}

PpdBuilder PpdBuilder::bare() {
  PpdBuilder builder;
  builder.options_.clear();
  builder.customPageSize_ = false;
  return builder;
}

PpdOption* PpdBuilder::find(const std::string& option) {
  for (PpdOption& o : options_)
    if (o.keyword == option) return &o;
  return nullptr;
}

bool PpdBuilder::has(const std::string& option) const {
  return std::any_of(options_.begin(), options_.end(),
                     [&](const PpdOption& o) { return o.keyword == option; });
}

PpdBuilder& PpdBuilder::setDefault(const std::string& option, const std::string& choice) {
  PpdOption* o = find(option);
  if (o == nullptr) throw std::invalid_argument("no option " + option);
  bool known = std::any_of(o->choices.begin(), o->choices.end(),
                           [&](const PpdChoice& c) { return c.keyword == choice; });
  if (!known && !(choice == "Custom" && option == "PageSize"))
    throw std::invalid_argument("no choice " + choice + " in " + option);
  o->defaultChoice = choice;
  return *this;
}

PpdBuilder& PpdBuilder::noDefault(const std::string& option) {
  PpdOption* o = find(option);
  if (o == nullptr) throw std::invalid_argument("no option " + option);
  o->defaultChoice.reset();
  return *this;
}

PpdBuilder& PpdBuilder::remove(const std::string& option) {
  std::erase_if(options_, [&](const PpdOption& o) { return o.keyword == option; });
  return *this;
}

PpdBuilder& PpdBuilder::addOption(PpdOption option) {
  if (PpdOption* existing = find(option.keyword))
    *existing = std::move(option);
  else
    options_.push_back(std::move(option));
  return *this;
}

PpdBuilder& PpdBuilder::addChoice(const std::string& option, PpdChoice choice) {
  PpdOption* o = find(option);
  if (o == nullptr) throw std::invalid_argument("no option " + option);
  o->choices.push_back(std::move(choice));
  return *this;
}

PpdBuilder& PpdBuilder::product(std::optional<std::string> value) {
  product_ = std::move(value);
  return *this;
}

PpdBuilder& PpdBuilder::constraint(const std::string& option1, const std::string& choice1,
                                   const std::string& option2, const std::string& choice2) {
  constraints_.push_back("*UIConstraints: *" + option1 + " " + choice1 + " *" + option2 + " " +
                         choice2);
  constraints_.push_back("*UIConstraints: *" + option2 + " " + choice2 + " *" + option1 + " " +
                         choice1);
  return *this;
}

PpdBuilder& PpdBuilder::customPageSize(bool offered) {
  customPageSize_ = offered;
  return *this;
}

PpdBuilder& PpdBuilder::extraLine(std::string line) {
  extraLines_.push_back(std::move(line));
  return *this;
}

std::string PpdBuilder::text() const {
  std::string out;
  auto line = [&out](const std::string& text) { out += text + "\n"; };
  line("*PPD-Adobe: \"4.3\"");
  line("*% Test PPD written by the test harness.");
  line("*FormatVersion: \"4.3\"");
  line("*FileVersion: \"1.0\"");
  line("*LanguageVersion: English");
  line("*LanguageEncoding: ISOLatin1");
  line("*PCFileName: \"ZERUTEST.PPD\"");
  line("*Manufacturer: \"ZEMRO\"");
  if (product_) line("*Product: \"" + *product_ + "\"");
  line("*ModelName: \"ZEMRO TX Test\"");
  line("*ShortNickName: \"ZEMRO TX Test\"");
  line("*NickName: \"ZEMRO TX Test\"");
  line("*PSVersion: \"(3010.000) 0\"");
  line("*LanguageLevel: \"3\"");
  line("*ColorDevice: True");
  line("*DefaultColorSpace: RGB");
  line("*FileSystem: False");
  line("*Throughput: \"20\"");
  line("*LandscapeOrientation: Plus90");
  line("*TTRasterizer: Type42");
  line("*cupsVersion: 2.4");
  line("*cupsModelNumber: 0");
  line("*cupsManualCopies: False");
  line("*cupsFilter: \"application/vnd.cups-raster 0 rastertozeru\"");
  line("*HWMargins: 12 12 12 12");

  if (customPageSize_) {
    line("*VariablePaperSize: True");
    line("*MaxMediaWidth: \"612\"");
    line("*MaxMediaHeight: \"1008\"");
    line("*CustomPageSize True: \"pop pop pop <</PageSize[5 -2 roll]/ImagingBBox null>>"
         "setpagedevice\"");
    // Tests print pages as small as half an inch, for speed: the custom
    // range starts there.
    line("*ParamCustomPageSize Width: 1 points 36 612");
    line("*ParamCustomPageSize Height: 2 points 36 1008");
    line("*ParamCustomPageSize WidthOffset: 3 points 0 0");
    line("*ParamCustomPageSize HeightOffset: 4 points 0 0");
    line("*ParamCustomPageSize Orientation: 5 int 0 0");
  }

  if (!options_.empty()) line("*OpenGroup: General/General");
  for (const PpdOption& option : options_) {
    line("*OpenUI *" + option.keyword + "/" + option.text + ": " + option.ui);
    char order[64];
    std::snprintf(order, sizeof order, "%g", option.order);
    line("*OrderDependency: " + std::string(order) + " " + option.section + " *" +
         option.keyword);
    if (option.defaultChoice) line("*Default" + option.keyword + ": " + *option.defaultChoice);
    for (const PpdChoice& choice : option.choices) {
      std::string text = choice.text.empty() ? choice.keyword : choice.text;
      line("*" + option.keyword + " " + choice.keyword + "/" + text + ": \"" + choice.code + "\"");
    }
    line("*CloseUI: *" + option.keyword);
  }
  if (!options_.empty()) line("*CloseGroup: General");

  // Sizes for the page size keywords present in PageSize or PageRegion.
  const PpdOption* sizes = nullptr;
  for (const PpdOption& option : options_)
    if (option.keyword == "PageSize" || (sizes == nullptr && option.keyword == "PageRegion"))
      sizes = &option;
  if (sizes != nullptr) {
    std::string def = sizes->defaultChoice.value_or("A4");
    line("*DefaultImageableArea: " + def);
    for (const PpdChoice& choice : sizes->choices) {
      auto size = pageSizePoints(choice.keyword);
      if (!size) continue;
      char text[160];
      std::snprintf(text, sizeof text, "*ImageableArea %s: \"%u %u %u %u\"",
                    choice.keyword.c_str(), kMargin, kMargin, size->first - kMargin,
                    size->second - kMargin);
      line(text);
    }
    line("*DefaultPaperDimension: " + def);
    for (const PpdChoice& choice : sizes->choices) {
      auto size = pageSizePoints(choice.keyword);
      if (!size) continue;
      char text[160];
      std::snprintf(text, sizeof text, "*PaperDimension %s: \"%u %u\"", choice.keyword.c_str(),
                    size->first, size->second);
      line(text);
    }
  }

  for (const std::string& constraint : constraints_) line(constraint);
  for (const std::string& extra : extraLines_) line(extra);
  line("*% End of test PPD");
  return out;
}

void PpdBuilder::writeTo(const std::string& path) const {
  writeFile(path, text());
}

}  // namespace zerutest
