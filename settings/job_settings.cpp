#include "settings/job_settings.h"
#include "settings/text_format.h"

#include <strings.h>

#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <span>

#include "zeru/printer.h"

namespace {

// Keyword to value, for the choice tables below.
struct ChoiceValue {
  const char* keyword;
  int value;
};

bool equalsIgnoringCase(const char* a, const char* b) {
  return a != nullptr && b != nullptr && strcasecmp(a, b) == 0;
}

// The value of the first keyword equal to choice (without regard to case),
// else fallback.
template <size_t N>
int lookupIgnoringCase(const ChoiceValue (&table)[N], const char* choice, int fallback) {
  if (choice == nullptr) return fallback;
  for (const ChoiceValue& entry : table)
    if (strcasecmp(entry.keyword, choice) == 0) return entry.value;
  return fallback;
}

constexpr ChoiceValue kTonerModes[] = {{"3", 3}, {"2", 2}, {"1", 1}};

constexpr ChoiceValue kDensities[] = {
    {"+3", 3}, {"3", 3}, {"+2", 2}, {"2", 2}, {"+1", 1}, {"1", 1},
    {"0", 0},  {"-3", -3}, {"-2", -2}, {"-1", -1},
};

// The named contrast and chroma steps; the text replaces any numeric reading.
constexpr ChoiceValue kNamedSteps[] = {
    {"Weakest (-100)", -100}, {"Weaker (-75)", -75},   {"Weaker (-50)", -50},
    {"Weak (-25)", -25},      {"Strong (+25)", 25},    {"Stronger (+50)", 50},
    {"Stronger (+75)", 75},   {"Strongest (+100)", 100},
};

constexpr ChoiceValue kImageTypes[] = {
    {"TextPhoto", 0}, {"Photo", 1}, {"WebPages", 2}, {"Graphics", 3}, {"POP", 4},
};

constexpr ChoiceValue kScreenModes[] = {
    {"Auto", 0}, {"Standard", 0}, {"Gradation", 768}, {"Fineness", 512},
};


constexpr int kBrightnessMin = 100;
constexpr int kBrightnessMax = 1000;
constexpr int kBrightnessOffset = 200;
constexpr int kStepLimit = 100;

// The toner saving level of Draft quality when no level is chosen: the middle one.
constexpr int kDraftTonerMode = 2;




}  // namespace

// ---- Pure rules ----

int paperIndexFromKeyword(const char* keyword) {
  if (keyword == nullptr) return -1;
  std::span<const zeru::Paper> papers = zeru::papers();
  for (size_t index = 0; index < papers.size(); ++index)
    if (strcmp(papers[index].keyword, keyword) == 0) return static_cast<int>(index);
  if (strcmp(keyword, "Custom") == 0) return kCustomPaperIndex;
  return -1;
}

int resolutionFromChoice(const char* choice) {
  if (choice == nullptr || strcmp(choice, "600dpi") == 0) return 600;
  return 1200;
}

int duplexModeFromChoice(const char* choice) {
  if (equalsIgnoringCase(choice, "DrvDuplexNoTumble")) return 1;
  if (equalsIgnoringCase(choice, "DrvDuplexTumble")) return 2;
  return 0;
}

int duplexModeFromStandardChoice(const char* choice) {
  if (equalsIgnoringCase(choice, "DuplexNoTumble")) return 1;
  if (equalsIgnoringCase(choice, "DuplexTumble")) return 2;
  return 0;
}

int duplexModeFor(const char* option, const char* choice) {
  if (option != nullptr && strcmp(option, "DrvDuplex") == 0) return duplexModeFromChoice(choice);
  return duplexModeFromStandardChoice(choice);
}

int resolutionFromStandardChoices(const char* quality, const char* resolution) {
  if (equalsIgnoringCase(quality, "High")) return 1200;
  if (equalsIgnoringCase(quality, "Draft")) return 600;
  if (resolution != nullptr &&
      (strcmp(resolution, "1200dpi") == 0 || strcmp(resolution, "1200x1200dpi") == 0))
    return 1200;
  return 600;
}

int tonerModeForQuality(int tonerMode, const char* quality) {
  if (tonerMode == 0 && equalsIgnoringCase(quality, "Draft")) return kDraftTonerMode;
  return tonerMode;
}

int collateFromChoice(const char* choice) { return equalsIgnoringCase(choice, "True") ? 1 : 0; }

int tonerModeFromChoice(const char* choice, int previous) {
  if (choice == nullptr) return previous;
  return lookupIgnoringCase(kTonerModes, choice, 0);
}

int densityFromChoice(const char* choice) { return lookupIgnoringCase(kDensities, choice, 0); }

int densityCodeOf(int level) {
  switch (level) {
    case -3: return 1;
    case -2: return 2;
    case -1: return 3;
    case 1: return 4;
    case 2: return 5;
    case 3: return 6;
    default: return 0;
  }
}

int densityCodeFor(int high, int mid, int low) {
  return densityCodeOf(high) << 8 | densityCodeOf(mid) << 4 | densityCodeOf(low);
}

bool parseDecimalChoice(const char* choice, int& value) {
  if (choice == nullptr) return false;
  const char* first = choice;
  const char* last = choice + strlen(choice);
  bool negative = false;
  if (first != last && (*first == '+' || *first == '-')) {
    negative = *first == '-';
    ++first;
  }
  // from_chars takes no sign and no blanks, so "+-5", " 5" and "12abc" all fail here.
  if (first == last || *first < '0' || *first > '9') return false;
  long long magnitude = 0;
  auto [end, error] = std::from_chars(first, last, magnitude);
  if (error != std::errc() || end != last) return false;
  long long signedValue = negative ? -magnitude : magnitude;
  if (signedValue < INT32_MIN || signedValue > INT32_MAX) return false;
  value = static_cast<int>(signedValue);
  return true;
}

int brightnessFromChoice(const char* choice) {
  int v = 0;
  if (!parseDecimalChoice(choice, v)) return 0;
  if (v < kBrightnessMin || v > kBrightnessMax) return 0;
  return v - kBrightnessOffset;
}

int stepFromChoice(const char* choice) {
  if (choice == nullptr) return 0;
  int v = 0;
  int step = (parseDecimalChoice(choice, v) && v >= -kStepLimit && v <= kStepLimit) ? v : 0;
  return lookupIgnoringCase(kNamedSteps, choice, step);
}

int mediaCodeFor(bool coversMarked, unsigned cupsMediaType) {
  if (coversMarked) return 3;
  switch (cupsMediaType) {
    case 1: return 2;
    case 2: return 3;
    case 3: return 4;
    case 4: return 5;
    default: return 1;
  }
}

int imageTypeFromChoice(const char* choice) { return lookupIgnoringCase(kImageTypes, choice, 0); }

int complementaryFromChoice(const char* choice) {
  return equalsIgnoringCase(choice, "Complementary") ? 1 : 0;
}

int grayGuaranteeFromChoice(const char* choice) { return equalsIgnoringCase(choice, "ON") ? 1 : 0; }

int screenModeFromChoice(const char* choice) { return lookupIgnoringCase(kScreenModes, choice, 0); }

int rotate180FromChoice(const char* choice, int previous) {
  if (choice == nullptr) return previous;
  return equalsIgnoringCase(choice, "true") ? 1 : 0;
}

int adjustFlagsFor(const std::array<int, 12>& density, int brightness) {
  int flags = 0;
  for (int level : density)
    if (level != 0) {
      flags |= 8;
      break;
    }
  if (brightness != 0) flags |= 4;
  return flags;
}

uint16_t pointsToTenthMm(unsigned points) {
  return static_cast<uint16_t>(static_cast<uint64_t>(points) * 254 / 72);
}

zeru::PageHeader headerWithoutPages(const JobSettings& settings) {
  zeru::PageHeader header{};
  header.colorSpace = 0;  // the page header's own default is RGB
  header.numCopies = 1;
  header.collate = settings.collate ? 1 : 0;
  header.hwResolution[0] = header.hwResolution[1] = static_cast<unsigned>(settings.resolution);
  return header;
}

