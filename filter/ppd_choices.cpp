#include "filter/ppd_choices.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "filter/log.h"

namespace {

constexpr const char* kDuplexingOption = "com.apple.print.PrintSettings.PMDuplexing..n.";

const char* argOrEmpty(char* argv[], int index) {
  return (argv != nullptr && argv[index] != nullptr) ? argv[index] : "";
}

// Appends printf-formatted text.
__attribute__((format(printf, 2, 3))) void appendFormat(std::string& text, const char* format,
                                                        ...) {
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int length = vsnprintf(nullptr, 0, format, args);
  va_end(args);
  if (length > 0) {
    size_t start = text.size();
    text.resize(start + static_cast<size_t>(length) + 1);
    vsnprintf(&text[start], static_cast<size_t>(length) + 1, format, again);
    text.resize(start + static_cast<size_t>(length));
  }
  va_end(again);
}

}  // namespace

const char* markedChoice(ppd_file_t* ppd, const char* keyword) {
  if (ppd == nullptr) return nullptr;
  ppd_choice_t* choice = ppdFindMarkedChoice(ppd, keyword);
  return choice != nullptr ? choice->choice : nullptr;
}

const char* PpdChoices::choice(const char* keyword) const { return markedChoice(ppd_, keyword); }

const char* duplexOption(ppd_file_t* ppd) {
  return markedChoice(ppd, "DrvDuplex") != nullptr ? "DrvDuplex" : "Duplex";
}

std::string settingsDumpText(ppd_file_t* ppd, int numOptions, cups_option_t* options,
                             char* argv[]) {
  std::string text;
  appendFormat(text, "INFO: [Job name]\n");
  appendFormat(text, "INFO: %s\n", argOrEmpty(argv, 3));
  appendFormat(text, "INFO: [Job ID]\n");
  appendFormat(text, "INFO: %s\n", argOrEmpty(argv, 1));
  appendFormat(text, "INFO: [Driver recived argument vector]\n");
  appendFormat(text, "INFO: %s\n", argOrEmpty(argv, 5));
  appendFormat(text, "INFO: -----------------------------------\n");
  appendFormat(text, "INFO: [Driver final settings]\n");

  // One line per marked choice, each with its own text; unmarked ones are left out.
  struct DumpLine {
    const char* keyword;
    const char* format;
  };
  static constexpr DumpLine kChoiceLines[] = {
      {"PageSize", "INFO: PageSize : %s\n"},
      {"DrvResolution", "INFO: Resolution : %s\n"},
      {"PageRegion", "INFO: PageRegion : %s\n"},
      {"ImageableArea", "INFO: ImageableArea : %s\n"},
      {"PaperDimension", "INFO: PaperDimension : %s\n"},
      {"Resolution", "INFO: Resolution : %s\n"},
      {"cupsPrintQuality", "INFO: Print Quality : %s\n"},
      {"ColorModel", "INFO: ColorModel : %s\n"},
      {"ImageRotation", "INFO: ImageRotation : %s\n"},
      {"TonerMode", "INFO: Toner Saving Mode : %s\n"},
      {"GrayGuarantee", "INFO: Gray Guarantee : %s\n"},
      {"ImageEnh", "INFO: ImageEnh : %s\n"},
      {"AKColorDensityBlackLow", "INFO: AKColorDensityBlackLow : %s\n"},
      {"AKColorDensityBlackMid", "INFO: AKColorDensityBlackMid : %s\n"},
      {"AKColorDensityBlackHigh", "INFO: AKColorDensityBlackHigh : %s\n"},
      {"AKColorDensityMagentaLow", "INFO: AKColorDensityMagentaLow : %s\n"},
      {"AKColorDensityMagentaMid", "INFO: AKColorDensityMagentaMid : %s\n"},
      {"AKColorDensityMagentaHigh", "INFO: AKColorDensityMagentaHigh : %s\n"},
      {"AKColorDensityYellowLow", "INFO: AKColorDensityYellowLow : %s\n"},
      {"AKColorDensityYellowMid", "INFO: AKColorDensityYellowMid : %s\n"},
      {"AKColorDensityYellowHigh", "INFO: AKColorDensityYellowHigh : %s\n"},
      {"Collate", "INFO: Collate : %s\n"},
      {"MediaType", "INFO: MediaType : %s\n"},
      {"AKSaveBlankSheet", "INFO: AKSaveBlankSheet  : %s\n"},
      {"DrvDuplex", "INFO: DrvDuplex  : %s\n"},
      {"Duplex", "INFO: Duplex  : %s\n"},
  };
  static constexpr DumpLine kTrailingLines[] = {
      {"MMSI", "INFO: MMSI  : %s\n"},
      {"StpBrightness", "INFO: Brightness  : %s-200\n"},
      {"JobType", "INFO: Job Type  : %s\n"},
      {"JobNameMode", "INFO: Job Name Mode  : %s\n"},
      {"JobUserID", "INFO: UserID  : %s\n"},
      {"JobPasscode", "INFO: Passcode  : %s\n"},
      {"JobName", "INFO: New Job Name  : %s\n"},
  };

  // The formats come from the tables above; the compiler cannot see that.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  for (const DumpLine& line : kChoiceLines)
    if (const char* choice = markedChoice(ppd, line.keyword)) appendFormat(text, line.format, choice);
  if (const char* duplexing = cupsGetOption(kDuplexingOption, numOptions, options))
    appendFormat(text, "INFO: nDuplex  : %s\n", duplexing);
  for (const DumpLine& line : kTrailingLines)
    if (const char* choice = markedChoice(ppd, line.keyword)) appendFormat(text, line.format, choice);
#pragma GCC diagnostic pop
  return text;
}

void dumpSettings(ppd_file_t* ppd, int numOptions, cups_option_t* options, char* argv[]) {
  logBlock(settingsDumpText(ppd, numOptions, options, argv));
}
