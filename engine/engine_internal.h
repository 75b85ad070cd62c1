// The stand-in colour library's inner pieces: look-up tables, screens and the
// per-line conversion. Everything here is private to the shared library; the
// nine entry points and ZeruConcurrentPages in zarvel.cpp are its only exports.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "imaging/engine_abi.h"

namespace zeru::engine {

using Lut = std::array<uint8_t, 256>;

// Colourants in the order of the output segments.
enum Colourant : int { kCyan = 0, kMagenta = 1, kYellow = 2, kBlack = 3 };

// Screen modes carried in the screen word (bits 8-11 above the resolution code).
enum class ScreenMode { Standard, Fineness, Gradation };

// Decoded from the set-up block; what one instance needs to serve a page.
struct InstanceConfig {
  bool colour = true;          // four planes from RGB, or one from gray
  bool grayGuarantee = false;  // neutral pixels printed with black alone
  bool complementary = false;
  uint32_t lineWidth = 0;      // dots
  int resolution = 600;        // screen resolution, 600 or 1200
  ScreenMode screenMode = ScreenMode::Standard;
  int imageType = 0;           // 0..4
};

// Decodes and checks a set-up block. False for a block the library cannot
// serve (missing callbacks, bad width, unknown layout or screen).
bool decodeSetup(const EngineSetup& setup, InstanceConfig& config);

inline constexpr uint32_t kMaxLineWidth = 32768;

// The user's adjustments from the adjust record, decoded and clamped.
struct Adjustments {
  int brightness = 0;                  // -100..100, + is lighter
  int contrast = 0;                    // -100..100
  int chroma = 0;                      // -100..100
  std::array<std::array<int, 3>, 4> density{};  // [colourant][low, mid, high], -3..+3
};

// One density code nibble to its step: 1,2,3 = -3,-2,-1; 4,5,6 = +1,+2,+3;
// anything else 0.
int densityStep(unsigned code);

// Reads the adjust record. Densities count only when adjustFlags has 8,
// brightness only when it has 4. Contrast and chroma are taken from the
// image entries, since a raster line carries no object kind.
Adjustments decodeAdjustRecord(const AdjustRecord& record);

// Per-instance tables, rebuilt when the adjustments or the toner mode change,
// never per pixel.
struct ToneTables {
  Lut inverse;                 // input byte (0xFF white) -> colourant amount, after brightness and contrast
  Lut blackGeneration;         // min(C, M, Y) -> K
  Lut underColourRemoval;      // min(C, M, Y) -> amount taken off C, M, Y
  std::array<Lut, 4> output;   // per colourant: density and toner saving, amount -> screen value
  Lut grayToBlack;             // input byte -> black screen value (gray pages, neutral pixels)
  int chromaScale = 256;       // 8.8 fixed point, 256 = unchanged
};

// Lightness curve: brightness (gamma) and contrast (S-curve); keeps 0 and 255.
Lut lightnessCurve(int brightness, int contrast);
// Extra amount per density step in the low, mid and high tone regions; keeps
// 0 and 255 and is monotonic.
Lut densityCurve(const std::array<int, 3>& steps);
// Toner saving, modes 1..3 progressively lighter; solids stay dense enough for text.
Lut tonerCurve(int tonerMode);
// Black generation for an image type; reaches 255 at 255 so that black is K alone.
Lut blackGenerationCurve(int imageType, bool complementary);
ToneTables buildToneTables(const InstanceConfig& config, const Adjustments& adjust, int tonerMode);

// A threshold tile: value v prints a dot at (x, y) when v > at(x, y).
struct ScreenTile {
  int period = 1;                 // tile is period x period dots
  std::vector<uint8_t> threshold; // period * period, row by row
  uint8_t at(int x, int y) const { return threshold[static_cast<size_t>(y % period) * period + x % period]; }
};

// The cell vector of a screen: the cell lattice is spanned by (a, b) and (-b, a).
struct ScreenVector {
  int a = 1;
  int b = 0;
};

ScreenVector screenVector(int resolution, ScreenMode mode, Colourant colourant);
// Clustered-dot tile for the cell vector, with the colourant's own phase.
ScreenTile buildScreenTile(ScreenVector vector, int phase);
std::array<ScreenTile, 4> buildScreens(int resolution, ScreenMode mode);

// Fills a threshold row of width dots for device line y from a tile.
void fillThresholdRow(const ScreenTile& tile, int64_t y, uint8_t* row, size_t width);

// Packs width screen values against a threshold row into width/8 bytes,
// MSB leftmost, 1 = dot (value > threshold). width is a multiple of 8.
void packDots(const uint8_t* value, const uint8_t* threshold, size_t width, uint8_t* out);

// Converts one RGB line into the four colourant amounts after the output curves.
void separateColourLine(const ToneTables& tables, bool grayGuarantee, const uint8_t* rgb, size_t width,
                        uint8_t* c, uint8_t* m, uint8_t* y, uint8_t* k);
// Converts one gray line into black amounts after the output curve.
void separateGrayLine(const ToneTables& tables, const uint8_t* gray, size_t width, uint8_t* k);

}  // namespace zeru::engine
