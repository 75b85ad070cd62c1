// Writes test PPDs with exactly the options, choices and defaults a test
// wants, valid for ppdOpenFile.
//
//   PpdBuilder ppd;                          // every option the filter reads
//   ppd.setDefault("DrvDuplex", "DrvDuplexTumble")
//      .remove("TonerMode")                  // the option is left out entirely
//      .noDefault("Collate")                 // option present, no *DefaultCollate
//      .product("(ZEMRO TX 7N)");
//   ppd.writeTo(dir.file("t.ppd"));
//
// Choice keywords never contain a space (libcups drops such choices); the
// human text after "/" may. The default builder has:
//   PageSize, PageRegion   Letter A4 A5 A6 B5 B6 Executive 16K A5LEF B6LEF
//                          Legal (default A4), with ImageableArea and
//                          PaperDimension, and a custom page size
//   DrvResolution          600dpi 1200dpi (600dpi)
//   DrvDuplex              None DrvDuplexNoTumble DrvDuplexTumble (None)
//   Collate                False True (False)
//   MediaType              Plain Thick Covers Labels Envelope (Plain)
//   TonerMode              Off 1 2 3 (Off)
//   AKColorDensity<Colour><Level>, Colour Black/Cyan/Magenta/Yellow, Level
//                          High/Mid/Low: -3 -2 -1 0 +1 +2 +3 (0)
//   StpBrightness          100 150 200 250 300 (200)
//   Contrast{background,image,graphic,text}, Chroma{background,image,graphic,text}:
//                          -100 -75 -50 -25 0 25 50 75 100 (0), texts
//                          "Weakest (-100)" ... "Strongest (+100)"
//   ImageType              TextPhoto Photo WebPages Graphics POP (TextPhoto)
//   IAM                    Normal Complementary (Normal)
//   GrayGuarantee          OFF ON (OFF)
//   Screen                 Auto Standard Gradation Fineness (Auto)
//   ImageRotation          false true (false)
//   AKSaveBlankSheet       False True (False)
//   *Product               "(ZEMRO TX 7M)"
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zerutest {

struct PpdChoice {
  std::string keyword;   // no spaces
  std::string text;      // human text; empty: the keyword
  std::string code;      // PostScript code between the quotes
};

struct PpdOption {
  std::string keyword;
  std::string text;
  std::string ui = "PickOne";            // PickOne, PickMany or Boolean
  std::string section = "AnySetup";
  double order = 10;
  std::vector<PpdChoice> choices;
  std::optional<std::string> defaultChoice;  // nullopt: no *Default line
};

// The size of a PageSize keyword in points (Letter 612 x 792, A4 595 x 842,
// ...), as the paper table knows them; nullopt for an unknown keyword.
std::optional<std::pair<unsigned, unsigned>> pageSizePoints(const std::string& keyword);
// The twelve page size keywords of the default PPD, in table order (Custom last,
// which the PPD offers through *CustomPageSize).
const std::vector<std::string>& pageSizeKeywords();

class PpdBuilder {
public:
  // Every option the filter reads, with the defaults listed above.
  PpdBuilder();
  // Only the PPD's header attributes and *Product: no options at all.
  static PpdBuilder bare();

  // Makes `choice` the default of `option` (the choice must exist).
  PpdBuilder& setDefault(const std::string& option, const std::string& choice);
  // Leaves the option's *Default line out.
  PpdBuilder& noDefault(const std::string& option);
  // Leaves the option out entirely (PageSize: its ImageableArea and
  // PaperDimension entries go too unless PageRegion stays).
  PpdBuilder& remove(const std::string& option);
  // Adds an option, or replaces the one with the same keyword.
  PpdBuilder& addOption(PpdOption option);
  // Adds a choice to an existing option (a numeric keyword such as "150" or
  // "-30" for out-of-range tests).
  PpdBuilder& addChoice(const std::string& option, PpdChoice choice);
  // The *Product value, parentheses included ("(ZEMRO TX 7M)"); nullopt leaves
  // the attribute out.
  PpdBuilder& product(std::optional<std::string> value);
  // *UIConstraints in both directions: option1=choice1 conflicts with option2=choice2.
  PpdBuilder& constraint(const std::string& option1, const std::string& choice1,
                         const std::string& option2, const std::string& choice2);
  // Whether *CustomPageSize is offered (default true).
  PpdBuilder& customPageSize(bool offered);
  // Any raw line, written after the options ("*cupsManualCopies: True").
  PpdBuilder& extraLine(std::string line);

  bool has(const std::string& option) const;
  PpdOption* find(const std::string& option);

  std::string text() const;
  // Writes text() to path; throws std::runtime_error on failure.
  void writeTo(const std::string& path) const;

private:
  std::vector<PpdOption> options_;
  std::optional<std::string> product_ = std::string("(ZEMRO TX 7M)");
  std::vector<std::string> constraints_;
  std::vector<std::string> extraLines_;
  bool customPageSize_ = true;
};

}  // namespace zerutest
