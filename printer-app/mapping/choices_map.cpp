#include "printer-app/mapping/choices_map.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <span>

#include "zeru/printer.h"

namespace zeruapp {

namespace {

using Values = std::vector<std::pair<std::string, std::string>>;

// The IPP values of a numeric option: each of the core's choices read as a
// number, less `offset`.
Values integers(const char* ppdKeyword, int offset) {
  Values values;
  for (const char* choice : zeru::optionFor(ppdKeyword)->choices)
    values.emplace_back(std::to_string(atoi(choice) - offset), choice);
  return values;
}

Values booleans(const char* yes, const char* no) { return {{"true", yes}, {"false", no}}; }

// A vendor option whose default is the IPP value of the core's default choice.
VendorOption vendorOption(std::string name, const char* ppdKeyword, VendorOption::Type type,
                          Values values) {
  std::string defaultValue;
  const char* defaultChoice = zeru::optionFor(ppdKeyword)->defaultChoice;
  for (const auto& [value, choice] : values)
    if (choice == defaultChoice) defaultValue = value;
  return {std::move(name), ppdKeyword, type, std::move(values), std::move(defaultValue)};
}

std::vector<VendorOption> makeVendorOptions() {
  using T = VendorOption::Type;
  std::vector<VendorOption> options;
  options.push_back(vendorOption(
      "toner-saving", "TonerMode", T::Keyword,
      {{"off", "Off"}, {"level-1", "1"}, {"level-2", "2"}, {"level-3", "3"}}));
  // The brightness keywords are the step plus 200.
  options.push_back(vendorOption("brightness", "StpBrightness", T::Integer,
                                 integers("StpBrightness", 200)));
  static const char* const kKinds[][2] = {
      {"background", "background"}, {"image", "image"}, {"graphics", "graphic"}, {"text", "text"}};
  for (const char* what : {"contrast", "chroma"})
    for (const auto& kind : kKinds) {
      std::string ppd = std::string(what) + kind[1];
      ppd[0] = static_cast<char>(toupper(static_cast<unsigned char>(ppd[0])));
      options.push_back(vendorOption(std::string(what) + "-" + kind[0], ppd.c_str(), T::Integer,
                                     integers(ppd.c_str(), 0)));
    }
  static const char* const kColours[] = {"Black", "Cyan", "Magenta", "Yellow"};
  static const char* const kLevels[] = {"High", "Mid", "Low"};
  for (const char* colour : kColours)
    for (const char* level : kLevels) {
      std::string ipp = std::string("density-") + colour + "-" + level;
      for (char& c : ipp) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
      std::string ppd = std::string("AKColorDensity") + colour + level;
      options.push_back(vendorOption(ipp, ppd.c_str(), T::Integer, integers(ppd.c_str(), 0)));
    }
  options.push_back(vendorOption("image-type", "ImageType", T::Keyword,
                                 {{"text-and-photo", "TextPhoto"},
                                  {"photo", "Photo"},
                                  {"web-pages", "WebPages"},
                                  {"graphics", "Graphics"},
                                  {"posters", "POP"}}));
  options.push_back(vendorOption("color-matching", "IAM", T::Keyword,
                                 {{"standard", "Standard"}, {"complementary", "Complementary"}}));
  options.push_back(
      vendorOption("pure-gray", "GrayGuarantee", T::Boolean, booleans("ON", "OFF")));
  options.push_back(vendorOption("screening", "Screen", T::Keyword,
                                 {{"auto", "Auto"},
                                  {"standard", "Standard"},
                                  {"gradation", "Gradation"},
                                  {"fineness", "Fineness"}}));
  options.push_back(
      vendorOption("rotate-180", "ImageRotation", T::Boolean, booleans("True", "False")));
  options.push_back(
      vendorOption("skip-blank-pages", "AKSaveBlankSheet", T::Boolean, booleans("True", "False")));
  return options;
}

const std::pair<std::string, std::string>* findValue(const VendorOption& option,
                                                     const std::string& value) {
  for (const auto& entry : option.values)
    if (entry.first == value) return &entry;
  return nullptr;
}

const VendorOption* findOption(const std::string& name) {
  for (const VendorOption& option : vendorOptions())
    if (name == option.name) return &option;
  return nullptr;
}

// The IPP media types of the core's MediaType choices, in their order.
constexpr const char* kIppMediaTypes[] = {
    "stationery", "stationery-heavyweight", "cardstock", "labels", "envelope",
};

MediaTypeChoice choiceOf(const zeru::MediaTypeDescription& type) {
  return {type.keyword, type.code};
}

}  // namespace

const char* ChoiceMap::choice(const char* keyword) const {
  auto found = choices_.find(keyword);
  return found == choices_.end() ? nullptr : found->second.c_str();
}

const std::vector<VendorOption>& vendorOptions() {
  static const std::vector<VendorOption> options = makeVendorOptions();
  return options;
}

MediaTypeChoice mediaTypeChoice(const char* ippMediaType) {
  std::span<const zeru::MediaTypeDescription> types = zeru::mediaTypes();
  if (ippMediaType != nullptr)
    for (size_t i = 0; i < types.size() && i < std::size(kIppMediaTypes); ++i)
      if (strcmp(kIppMediaTypes[i], ippMediaType) == 0) return choiceOf(types[i]);
  return choiceOf(types[0]);
}

const std::vector<const char*>& ippMediaTypes() {
  static const std::vector<const char*> types(std::begin(kIppMediaTypes),
                                              std::end(kIppMediaTypes));
  return types;
}

bool papplRendersImage(const char* documentFormat) {
  return documentFormat != nullptr &&
         (strcmp(documentFormat, "image/jpeg") == 0 || strcmp(documentFormat, "image/png") == 0);
}

unsigned coreCopies(const char* documentFormat, int copies) {
  if (papplRendersImage(documentFormat)) return 1;
  return copies > 0 ? static_cast<unsigned>(copies) : 1;
}

bool mapJobChoices(const JobRequest& request, ChoiceMap& map, std::string& error) {
  for (const VendorOption& option : vendorOptions())
    map.set(option.ppdKeyword, findValue(option, option.defaultValue)->second);
  for (const auto& [name, value] : request.vendor) {
    const VendorOption* option = findOption(name);
    if (option == nullptr) continue;
    const auto* entry = findValue(*option, value);
    if (entry == nullptr) {
      error = "Unsupported value " + value + " for " + name + ": the job was not printed";
      return false;
    }
    map.set(option->ppdKeyword, entry->second);
  }

  if (request.pageSize) map.set("PageSize", request.pageSize);
  switch (request.sides) {
    case Sides::OneSided: map.set("Duplex", "None"); break;
    case Sides::LongEdge: map.set("Duplex", "DuplexNoTumble"); break;
    case Sides::ShortEdge: map.set("Duplex", "DuplexTumble"); break;
  }
  switch (request.quality) {
    case Quality::Draft: map.set("cupsPrintQuality", "Draft"); break;
    case Quality::Normal: map.set("cupsPrintQuality", "Normal"); break;
    case Quality::High: map.set("cupsPrintQuality", "High"); break;
  }
  map.set("Resolution", request.resolution == 1200 ? "1200x1200dpi" : "600x600dpi");
  map.set("ColorModel", request.colour ? "RGB" : "Gray");
  map.set("MediaType", mediaTypeChoice(request.mediaType).keyword);
  map.set("Collate", request.collate ? "True" : "False");
  return true;
}

}  // namespace zeruapp
