#include "printer-app/mapping/paper.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace zeruapp {

namespace {

// The sizes of the PPDs' paper table, in the PPDs' whole points. The two
// long-edge-feed sizes have names of their own: IPP's names for A5 and B6
// stand for the portrait sheets.
constexpr Paper kPapers[] = {
    {"Letter", "na_letter_8.5x11in", 612, 792},
    {"A4", "iso_a4_210x297mm", 595, 842},
    {"A5", "iso_a5_148x210mm", 420, 595},
    {"A6", "iso_a6_105x148mm", 297, 420},
    {"B5", "jis_b5_182x257mm", 516, 729},
    {"B6", "jis_b6_128x182mm", 363, 516},
    {"Executive", "na_executive_7.25x10.5in", 522, 756},
    {"16K", "om_16k_184x260mm", 524, 737},
    {"A5LEF", "om_a5-lef_210x148mm", 595, 420},
    {"B6LEF", "om_b6-lef_182x128mm", 516, 363},
    {"Legal", "na_legal_8.5x14in", 612, 1008},
};
constexpr size_t kDefaultPaper = 1;
// A raster's page size comes from millimetres rounded down to points, and
// some table sizes differ from their metric names by up to a millimetre.
constexpr int kTolerancePoints = 3;

}  // namespace

std::span<const Paper> papers() { return kPapers; }

const Paper& defaultPaper() { return kPapers[kDefaultPaper]; }

int pointsToHundredthsMm(double points) {
  return static_cast<int>(std::lround(points * 2540.0 / 72.0));
}

const Paper* paperForPwgName(const char* name) {
  if (name == nullptr) return nullptr;
  for (const Paper& paper : kPapers)
    if (strcmp(paper.pwgName, name) == 0) return &paper;
  return nullptr;
}

const Paper* paperForPoints(unsigned widthPoints, unsigned heightPoints) {
  for (const Paper& paper : kPapers) {
    int dw = std::abs(static_cast<int>(paper.widthPoints) - static_cast<int>(widthPoints));
    int dh = std::abs(static_cast<int>(paper.heightPoints) - static_cast<int>(heightPoints));
    if (dw <= kTolerancePoints && dh <= kTolerancePoints) return &paper;
  }
  return nullptr;
}

}  // namespace zeruapp
