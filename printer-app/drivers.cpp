#include "printer-app/drivers.h"

#include <cstring>
#include <string>
#include <vector>

#include <pappl/pappl.h>

#include "printer-app/app_strings.h"
#include "printer-app/file_devices.h"
#include "printer-app/mapping/choices_map.h"
#include "printer-app/mapping/paper.h"
#include "printer-app/printer_state.h"
#include "printer-app/raster_job.h"
#include "printer-app/raw_job.h"
#include "printer-app/test_page.h"

namespace zeruapp {

namespace {

// The printers' pages per minute, as the PPDs' Throughput says.
constexpr int kPagesPerMinute = 20;
// 12 points in hundredths of a millimetre.
const int kMarginHundredthsMm = pointsToHundredthsMm(kMarginPoints);

// The custom range in IPP's media names.
constexpr const char* kCustomMin = "custom_min_3x5in";
constexpr const char* kCustomMax = "custom_max_8.5x14in";

pappl_media_col_t mediaCol(const Paper& paper) {
  pappl_media_col_t media{};
  media.size_width = pointsToHundredthsMm(paper.widthPoints);
  media.size_length = pointsToHundredthsMm(paper.heightPoints);
  media.left_margin = media.right_margin = kMarginHundredthsMm;
  media.top_margin = media.bottom_margin = kMarginHundredthsMm;
  strncpy(media.size_name, paper.pwgName, sizeof media.size_name - 1);
  strncpy(media.source, "auto", sizeof media.source - 1);
  strncpy(media.type, ippMediaTypes().front(), sizeof media.type - 1);
  return media;
}

void addVendorAttributes(ipp_t* attrs) {
  for (const VendorOption& option : vendorOptions()) {
    const std::string supported = option.name + "-supported";
    const std::string defaults = option.name + "-default";
    switch (option.type) {
      case VendorOption::Type::Keyword: {
        std::vector<const char*> values;
        for (const auto& value : option.values) values.push_back(value.first.c_str());
        ippAddStrings(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, supported.c_str(),
                      static_cast<int>(values.size()), nullptr, values.data());
        ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, defaults.c_str(), nullptr,
                     option.defaultValue.c_str());
        break;
      }
      case VendorOption::Type::Integer: {
        std::vector<int> values;
        for (const auto& value : option.values) values.push_back(std::stoi(value.first));
        ippAddIntegers(attrs, IPP_TAG_PRINTER, IPP_TAG_INTEGER, supported.c_str(),
                       static_cast<int>(values.size()), values.data());
        ippAddInteger(attrs, IPP_TAG_PRINTER, IPP_TAG_INTEGER, defaults.c_str(),
                      std::stoi(option.defaultValue));
        break;
      }
      case VendorOption::Type::Boolean:
        ippAddBoolean(attrs, IPP_TAG_PRINTER, supported.c_str(), 1);
        ippAddBoolean(attrs, IPP_TAG_PRINTER, defaults.c_str(), option.defaultValue == "true");
        break;
    }
  }
}

std::vector<pappl_pr_driver_t> makeDriverList() {
  std::vector<pappl_pr_driver_t> list;
  for (const Model& model : models())
    list.push_back({model.driverName, model.makeAndModel, model.deviceId, nullptr});
  return list;
}

}  // namespace

int driverCount() { return static_cast<int>(models().size()); }

pappl_pr_driver_t* driverList() {
  static std::vector<pappl_pr_driver_t> list = makeDriverList();
  return list.data();
}

bool driverCallback(pappl_system_t* system, const char* driverName, const char* deviceUri,
                    const char* /*deviceId*/, pappl_pr_driver_data_t* data, ipp_t** attrs,
                    void* /*context*/) {
  const Model* model = modelForDriver(driverName);
  if (model == nullptr) {
    papplLog(system, PAPPL_LOGLEVEL_ERROR, "Unknown driver '%s'.", driverName ? driverName : "");
    return false;
  }
  // Every way to a new printer (the add command, Create-Printer, the web
  // pages, the saved state) passes here with its device.
  if (const std::string refusal = fileDeviceRefusal(deviceUri); !refusal.empty()) {
    papplLog(system, PAPPL_LOGLEVEL_ERROR, "Refused device '%s': %s", deviceUri, refusal.c_str());
    return false;
  }
  data->extension = const_cast<Model*>(model);
  data->rstartjob_cb = rasterStartJob;
  data->rstartpage_cb = rasterStartPage;
  data->rwriteline_cb = rasterWriteLine;
  data->rendpage_cb = rasterEndPage;
  data->rendjob_cb = rasterEndJob;
  data->printfile_cb = printRawFile;
  data->testpage_cb = testPageCallback;
  data->status_cb = printerStatusCallback;
  // The toner levels a printer reports, on a supplies page of its own.
  data->has_supplies = true;
  data->format = kRawFormat;

  strncpy(data->make_and_model, model->makeAndModel, sizeof data->make_and_model - 1);
  data->ppm = kPagesPerMinute;
  data->ppm_color = kPagesPerMinute;
  data->kind = PAPPL_KIND_DOCUMENT;
  data->orient_default = IPP_ORIENT_PORTRAIT;

  data->color_supported =
      PAPPL_COLOR_MODE_AUTO | PAPPL_COLOR_MODE_COLOR | PAPPL_COLOR_MODE_MONOCHROME;
  data->color_default = PAPPL_COLOR_MODE_COLOR;
  data->content_default = PAPPL_CONTENT_AUTO;
  data->quality_default = IPP_QUALITY_NORMAL;
  data->scaling_default = PAPPL_SCALING_AUTO;
  data->raster_types = PAPPL_PWG_RASTER_TYPE_SRGB_8 | PAPPL_PWG_RASTER_TYPE_SGRAY_8;
  data->force_raster_type = PAPPL_PWG_RASTER_TYPE_NONE;

  // The core turns the back sides itself: it takes them as they are.
  data->duplex = PAPPL_DUPLEX_NORMAL;
  data->sides_supported = PAPPL_SIDES_ONE_SIDED | PAPPL_SIDES_TWO_SIDED_LONG_EDGE |
                          PAPPL_SIDES_TWO_SIDED_SHORT_EDGE;
  data->sides_default = PAPPL_SIDES_ONE_SIDED;

  data->num_resolution = 2;
  data->x_resolution[0] = data->y_resolution[0] = 600;
  data->x_resolution[1] = data->y_resolution[1] = 1200;
  data->x_default = data->y_default = 600;

  data->borderless = false;
  data->left_right = kMarginHundredthsMm;
  data->bottom_top = kMarginHundredthsMm;
  data->num_media = 0;
  for (const Paper& paper : papers()) data->media[data->num_media++] = paper.pwgName;
  data->media[data->num_media++] = kCustomMin;
  data->media[data->num_media++] = kCustomMax;
  data->media_default = mediaCol(defaultPaper());
  data->num_source = 1;
  data->source[0] = "auto";
  data->media_ready[0] = data->media_default;
  data->num_type = 0;
  for (const char* type : ippMediaTypes()) data->type[data->num_type++] = type;

  data->num_vendor = 0;
  for (const VendorOption& option : vendorOptions())
    data->vendor[data->num_vendor++] = option.name.c_str();

  if (attrs != nullptr) {
    if (*attrs == nullptr) *attrs = ippNew();
    addVendorAttributes(*attrs);
    addStringsLanguages(*attrs);
  }
  return true;
}

const char* autoAddCallback(const char* /*deviceInfo*/, const char* /*deviceUri*/,
                            const char* deviceId, void* /*context*/) {
  const Model* model = modelForDeviceId(deviceId);
  return model ? model->driverName : nullptr;
}

namespace {

// The languages of PAPPL's own web pages beyond those of the PPDs' catalogs.
constexpr const char* kPapplOnlyLanguages[] = {"it", "nb-NO", "pl", "tr"};

// The languages registered, in order; written once by addWebStrings before
// the server runs, read afterwards only.
std::vector<std::string>& languages() {
  static std::vector<std::string> list;
  return list;
}

// PAPPL 1.3.1 adds printer-strings-languages-supported to the printer's
// stored attributes, not to the response, on each Get-Printer-Attributes
// that asks for it, when a strings resource carries a language: the
// attribute grows by one copy a request. The strings are registered with
// their language, which makes PAPPL's translations of the labels, and then
// served again as a plain resource without one; the printers carry the
// attribute themselves (addStringsLanguages).
void addStrings(pappl_system_t* system, const char* language, const char* data) {
  const std::string path = std::string("/") + language + ".strings";
  papplSystemAddStringsData(system, path.c_str(), language, data);
  papplSystemRemoveResource(system, path.c_str());
  papplSystemAddResourceString(system, path.c_str(), "text/strings", data);
  languages().emplace_back(language);
}

}  // namespace

void addWebStrings(pappl_system_t* system) {
  languages().clear();
  // In English for the languages PAPPL has and the PPDs' catalogs have not,
  // rather than the options' IPP names.
  const char* english = nullptr;
  for (const StringsResource& strings : appStrings()) {
    addStrings(system, strings.language, strings.data);
    if (strcmp(strings.language, "en") == 0) english = strings.data;
  }
  for (const char* language : kPapplOnlyLanguages)
    if (english != nullptr && papplSystemFindLoc(system, language) != nullptr)
      addStrings(system, language, english);
}

void addStringsLanguages(ipp_t* attrs) {
  if (attrs == nullptr || languages().empty()) return;
  std::vector<const char*> values;
  for (const std::string& language : languages()) values.push_back(language.c_str());
  ippAddStrings(attrs, IPP_TAG_PRINTER, IPP_TAG_LANGUAGE, "printer-strings-languages-supported",
                static_cast<int>(values.size()), nullptr, values.data());
}

}  // namespace zeruapp
