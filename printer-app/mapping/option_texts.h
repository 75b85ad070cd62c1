// The web interface's texts for the vendor options: the PPDs' option and
// choice texts from the driver information file, translated by the PPDs'
// catalogs, written as PAPPL's strings files ("key" = "text";). PAPPL looks
// up an option's label under its IPP name and a keyword choice under
// "name.value".
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "printer-app/mapping/choices_map.h"

namespace zeruapp {

// The UI texts of a driver information file: an option's text by its PPD
// keyword, a choice's text by (option keyword, choice keyword).
struct DriverTexts {
  std::map<std::string, std::string> options;
  std::map<std::pair<std::string, std::string>, std::string> choices;
};

// Reads the Option and Choice lines of driver information text; a Choice
// belongs to the Option above it. Adds to `texts`, so that included files
// can be read one after the other.
void readDriverTexts(std::string_view drv, DriverTexts& texts);

// A message catalog: msgstr by msgid (the header entry, msgid "", left out).
using Catalog = std::map<std::string, std::string>;
Catalog readCatalog(std::string_view po);

// The strings file of the vendor options in English (`catalog` nullptr) or
// in a catalog's language. False, with the missing text in `error`, when
// an option or a keyword choice has no text in the driver information or
// its text has no translation: the labels must not drift from the PPDs.
bool makeStringsFile(const std::vector<VendorOption>& options, const DriverTexts& texts,
                     const Catalog* catalog, std::string& out, std::string& error);

// A key or text quoted for a strings file.
std::string quoteString(std::string_view text);

}  // namespace zeruapp
