// The job's choices for the printing core: the PPD's option keywords and
// choice keywords, from the job's IPP attributes and the application's
// vendor options.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "zeru/choices.h"
#include "zeru/printer.h"

namespace zeruapp {

// The choices of one job; the texts stay where they are while the map is not
// changed.
class ChoiceMap : public zeru::Choices {
 public:
  const char* choice(const char* keyword) const override;
  void set(const std::string& keyword, const std::string& value) { choices_[keyword] = value; }

 private:
  std::map<std::string, std::string> choices_;
};

// A vendor option: its IPP name, the PPD option it sets, the IPP values it
// takes (as IPP's text form of the value gives them) with the choice each
// stands for, and the default.
struct VendorOption {
  enum class Type { Keyword, Integer, Boolean };
  std::string name;
  std::string ppdKeyword;
  Type type;
  std::vector<std::pair<std::string, std::string>> values;  // IPP value, choice
  std::string defaultValue;
};

// The PPD's options that IPP has no attribute for, as vendor options.
const std::vector<VendorOption>& vendorOptions();

enum class Sides { OneSided, LongEdge, ShortEdge };
using Quality = zeru::PrintQuality;

// What a job asks for, from its IPP attributes.
struct JobRequest {
  const char* pageSize = nullptr;  // PageSize keyword; nullptr: the first page decides
  Sides sides = Sides::OneSided;
  Quality quality = Quality::Normal;
  int resolution = 600;            // dots per inch of the job's raster
  bool colour = true;
  const char* mediaType = nullptr;  // IPP media-type keyword
  bool collate = true;
  std::vector<std::pair<std::string, std::string>> vendor;  // name, IPP value
};

// The PPD's MediaType keyword and the raster's media type number for an IPP
// media-type keyword; Plain (0) for one the printers do not know.
struct MediaTypeChoice {
  const char* keyword;
  unsigned code;
};
MediaTypeChoice mediaTypeChoice(const char* ippMediaType);
// The IPP media-type keywords the printers take, Plain's first.
const std::vector<const char*>& ippMediaTypes();

// The resolution a job prints at: High 1200 dpi, Draft 600 dpi, Normal the
// printer-resolution the job names or else 600 dpi.
using zeru::resolutionForQuality;

// PAPPL renders JPEG and PNG images itself: at the resolution it picks for
// the job, sized before the driver sees the job, and each copy as pages of
// their own.
bool papplRendersImage(const char* documentFormat);

// The copies the core makes of a job's pages: 1 for an image PAPPL renders;
// for every other format (a document rendered by the app, a client's raster)
// the core makes them.
unsigned coreCopies(const char* documentFormat, int copies);

// Fills `map` with the job's choices. False, with a message for the job's
// state, when a vendor option's value is not among its supported values.
bool mapJobChoices(const JobRequest& request, ChoiceMap& map, std::string& error);

}  // namespace zeruapp
