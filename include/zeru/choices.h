// The printer's option choices as the job asks for them: for a keyword of
// the printer's options ("PageSize", "Duplex", "TonerMode",
// "AKColorDensityBlackHigh", ...) the keyword of the chosen value
// ("A4", "DuplexNoTumble", ...), spelled as the printer's PPDs spell them.
// The CUPS filter reads them from the PPD's marked choices; another front
// end maps its own options onto the same keywords, so that both print
// through the same rules.
#pragma once

namespace zeru {

class Choices {
 public:
  virtual ~Choices() = default;
  // The chosen value's keyword, or nullptr when the option has none. The
  // text stays valid for as long as the job runs.
  virtual const char* choice(const char* keyword) const = 0;
};

}  // namespace zeru
