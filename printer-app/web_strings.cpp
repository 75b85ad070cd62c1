#include "printer-app/web_strings.h"

#include <cstring>
#include <string>
#include <vector>

#include <pappl/pappl.h>

#include "printer-app/app_strings.h"

namespace zeruapp {

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
