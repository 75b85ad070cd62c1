#include "printer-app/mapping/choices_map.h"

#include <cctype>
#include <cstring>

namespace zeruapp {

namespace {

using Values = std::vector<std::pair<std::string, std::string>>;

// Steps from -limit to +limit; the choice keyword of a step is `choiceOf(step)`.
template <class ChoiceOf>
Values steps(int limit, int step, ChoiceOf choiceOf) {
  Values values;
  for (int v = -limit; v <= limit; v += step) values.emplace_back(std::to_string(v), choiceOf(v));
  return values;
}

Values booleans(const char* yes, const char* no) { return {{"true", yes}, {"false", no}}; }

std::vector<VendorOption> makeVendorOptions() {
  using T = VendorOption::Type;
  std::vector<VendorOption> options;
  options.push_back({"toner-saving", "TonerMode", T::Keyword,
                     {{"off", "Off"}, {"level-1", "1"}, {"level-2", "2"}, {"level-3", "3"}},
                     "off"});
  // The PPD's brightness keywords are the step plus 200.
  options.push_back({"brightness", "StpBrightness", T::Integer,
                     steps(100, 10, [](int v) { return std::to_string(v + 200); }), "0"});
  static const char* const kKinds[][2] = {
      {"background", "background"}, {"image", "image"}, {"graphics", "graphic"}, {"text", "text"}};
  for (const char* what : {"contrast", "chroma"})
    for (const auto& kind : kKinds) {
      std::string ppd = std::string(what) + kind[1];
      ppd[0] = static_cast<char>(toupper(static_cast<unsigned char>(ppd[0])));
      options.push_back({std::string(what) + "-" + kind[0], ppd, T::Integer,
                         steps(100, 25, [](int v) { return std::to_string(v); }), "0"});
    }
  static const char* const kColours[] = {"Black", "Cyan", "Magenta", "Yellow"};
  static const char* const kLevels[] = {"High", "Mid", "Low"};
  for (const char* colour : kColours)
    for (const char* level : kLevels) {
      std::string ipp = std::string("density-") + colour + "-" + level;
      for (char& c : ipp) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
      options.push_back({ipp, std::string("AKColorDensity") + colour + level, T::Integer,
                         steps(3, 1,
                               [](int v) {
                                 return v > 0 ? "+" + std::to_string(v) : std::to_string(v);
                               }),
                         "0"});
    }
  options.push_back({"image-type", "ImageType", T::Keyword,
                     {{"text-and-photo", "TextPhoto"},
                      {"photo", "Photo"},
                      {"web-pages", "WebPages"},
                      {"graphics", "Graphics"},
                      {"posters", "POP"}},
                     "text-and-photo"});
  options.push_back({"color-matching", "IAM", T::Keyword,
                     {{"standard", "Standard"}, {"complementary", "Complementary"}},
                     "standard"});
  options.push_back({"pure-gray", "GrayGuarantee", T::Boolean, booleans("ON", "OFF"), "false"});
  options.push_back({"screening", "Screen", T::Keyword,
                     {{"auto", "Auto"},
                      {"standard", "Standard"},
                      {"gradation", "Gradation"},
                      {"fineness", "Fineness"}},
                     "auto"});
  options.push_back(
      {"rotate-180", "ImageRotation", T::Boolean, booleans("True", "False"), "false"});
  options.push_back(
      {"skip-blank-pages", "AKSaveBlankSheet", T::Boolean, booleans("True", "False"), "false"});
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

struct MediaTypeRow {
  const char* ipp;
  MediaTypeChoice choice;
};
// The PPD's media types, numbered as its MediaType choices number them.
const MediaTypeRow kMediaTypes[] = {
    {"stationery", {"Plain", 0}},  {"stationery-heavyweight", {"Thick", 1}},
    {"cardstock", {"Covers", 2}},  {"labels", {"Labels", 3}},
    {"envelope", {"Envelope", 4}},
};

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
  if (ippMediaType != nullptr)
    for (const MediaTypeRow& row : kMediaTypes)
      if (strcmp(row.ipp, ippMediaType) == 0) return row.choice;
  return kMediaTypes[0].choice;
}

const std::vector<const char*>& ippMediaTypes() {
  static const std::vector<const char*> types = [] {
    std::vector<const char*> list;
    for (const MediaTypeRow& row : kMediaTypes) list.push_back(row.ipp);
    return list;
  }();
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

int resolutionForQuality(Quality quality, int requestedResolution) {
  switch (quality) {
    case Quality::High: return 1200;
    case Quality::Draft: return 600;
    case Quality::Normal: break;
  }
  return requestedResolution == 1200 ? 1200 : 600;
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
