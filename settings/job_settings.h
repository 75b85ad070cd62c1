// The job's settings: PPD marked choices, job options, command line and each
// page's raster header folded into one record that the rest of the printing
// core reads.
//
// The rules are pure functions over choice keywords (nullptr = not marked);
// a front end reads the choices (the CUPS filter from its PPD, filter/ppd_settings.h).
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "settings/paper_table.h"
#include "zeru/page_header.h"

// Which page loop reads the settings: they differ in their log lines.
enum class PageLoop { Simplex, Duplex };

// Density order used everywhere: colour-major, then High, Mid, Low.
enum DensityColour { kBlack = 0, kCyan = 1, kMagenta = 2, kYellow = 3 };
enum DensityLevel { kHigh = 0, kMid = 1, kLow = 2 };

struct JobSettings {
  // Job level.
  // 0..11 from PageSize (or the "PageSize" option); every page is matched
  // against this row on its own, whatever the pages before it were.
  int jobPaperIndex = 0;
  // dpi the job asks for: DrvResolution, else the Resolution or
  // cupsPrintQuality choice. A page is laid out, set up and placed at its
  // own header's HWResolution, whatever this says.
  int resolution = 600;
  int duplexMode = 0;      // 0 simplex, 1 long edge (NoTumble), 2 short edge (Tumble)
  int collate = 0;

  // Page level.
  int paperIndex = 0;      // the page's row: jobPaperIndex, or 11 for a custom page
  int colorMode = 0;       // 1: four planes; 0: one plane (cupsBitsPerPixel 8)
  uint8_t paperCode = 0;
  int lineWidth = 0;       // padded device line, dots at the header resolution
  int printableWidth = 0;  // dots at 600 dpi
  uint16_t pageWidth10 = 0;   // tenths of a millimetre
  uint16_t pageHeight10 = 0;
  uint8_t mediaCode = 1;
  int tonerMode = 0;       // keeps its value on a page without a TonerMode choice
  std::array<int, 12> density{};      // [colour * 3 + level], -3..3
  std::array<int, 4> densityCode{};   // black, cyan, magenta, yellow; 12 bits each
  int brightness = 0;
  int contrastBackground = 0, contrastImage = 0, contrastGraphics = 0, contrastText = 0;
  int chromaBackground = 0, chromaImage = 0, chromaGraphics = 0, chromaText = 0;
  int adjustFlags = 0;     // 8: a density is set; 4: brightness is set
  int imageType = 0;
  int complementary = 0;
  int grayGuarantee = 0;
  int screenMode = 0;
  int rotate180 = 0;       // keeps its value on a page without an ImageRotation choice
};

// ---- Pure rules (choice == nullptr means "not marked") ----

// Exact, case-sensitive PageSize keyword lookup: 0..11, or -1 for no match.
int paperIndexFromKeyword(const char* keyword);
int resolutionFromChoice(const char* choice);              // "600dpi" 600, other 1200, none 600
int duplexModeFromChoice(const char* choice);              // NoTumble 1, Tumble 2, else 0
// The standard Duplex option: "DuplexNoTumble" 1, "DuplexTumble" 2, else 0.
int duplexModeFromStandardChoice(const char* choice);
// The duplex mode from the option that says it (DrvDuplex or Duplex).
int duplexModeFor(const char* option, const char* choice);
// The resolution the standard choices ask for: cupsPrintQuality High 1200,
// Draft 600, otherwise the Resolution choice ("1200dpi" or "1200x1200dpi"
// 1200), 600 when it names neither printer resolution.
int resolutionFromStandardChoices(const char* quality, const char* resolution);
// Draft quality prints with toner saving, unless a toner saving level is set.
int tonerModeForQuality(int tonerMode, const char* quality);
int collateFromChoice(const char* choice);                 // "True" (any case) 1
int tonerModeFromChoice(const char* choice, int previous);
int densityFromChoice(const char* choice);                 // -3..3
int densityCodeOf(int level);                              // -3..3 -> 1,2,3,0,4,5,6
int densityCodeFor(int high, int mid, int low);            // code(H)<<8 | code(M)<<4 | code(L)
int brightnessFromChoice(const char* choice);              // v-200 for 100<=v<=1000
int stepFromChoice(const char* choice);                    // contrast and chroma
int mediaCodeFor(bool coversMarked, unsigned cupsMediaType);
int imageTypeFromChoice(const char* choice);
int complementaryFromChoice(const char* choice);
int grayGuaranteeFromChoice(const char* choice);
int screenModeFromChoice(const char* choice);
int rotate180FromChoice(const char* choice, int previous);
int adjustFlagsFor(const std::array<int, 12>& density, int brightness);
// A choice keyword read as a whole decimal number with an optional sign
// ("250", "-30", "+25"); false for anything else ("12abc", "", out of int range).
bool parseDecimalChoice(const char* choice, int& value);
// Points to tenths of a millimetre (x * 254 / 72, truncating, low 16 bits).
uint16_t pointsToTenthMm(unsigned points);

// The page header a job without any page is announced with: one copy, the
// job's resolution and collation, every other field 0.
zeru::PageHeader headerWithoutPages(const JobSettings& settings);
