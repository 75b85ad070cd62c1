// The vendor options' labels and choices for PAPPL's web interface, one
// strings file a language; written at build time by gen_app_strings from
// the driver information file and the PPDs' catalogs.
#pragma once

#include <vector>

namespace zeruapp {

struct StringsResource {
  const char* language;  // "en", "de", ...
  const char* data;      // a strings file: "key" = "text";
};

const std::vector<StringsResource>& appStrings();

}  // namespace zeruapp
