// Tone and colour look-up tables, built once per instance whenever the
// adjustments or the toner mode change. The hot path only indexes them.
//
// Amounts run from 0 (paper) to 255 (solid). Every curve keeps 0 at 0 so
// that paper stays free of dots, and is monotonic so that a darker input
// never prints fewer dots.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>

#include "engine/engine_internal.h"

namespace zeru::engine {

namespace {

double smoothstep(double t) {
  t = std::clamp(t, 0.0, 1.0);
  return t * t * (3.0 - 2.0 * t);
}

uint8_t toByte(double unit) { return static_cast<uint8_t>(std::lround(std::clamp(unit, 0.0, 1.0) * 255.0)); }

// Makes a table non-decreasing (rounding and clamping may dent it).
void makeMonotonic(Lut& lut) {
  for (size_t i = 1; i < lut.size(); ++i) lut[i] = std::max(lut[i], lut[i - 1]);
}

Lut compose(const Lut& outer, const Lut& inner) {
  Lut result{};
  for (size_t i = 0; i < result.size(); ++i) result[i] = outer[inner[i]];
  return result;
}

}  // namespace

Lut lightnessCurve(int brightness, int contrast) {
  // Brightness bends the curve as a gamma (+100 halves it, -100 doubles it);
  // contrast blends towards (or away from) a smooth S-curve through the
  // middle. Both keep black and white where they are.
  const double gamma = std::exp2(-std::clamp(brightness, -100, 100) / 100.0);
  const double k = std::clamp(contrast, -100, 100) / 100.0;
  Lut lut{};
  for (int v = 0; v < 256; ++v) {
    double l = std::pow(v / 255.0, gamma);
    l += k * (smoothstep(l) - l);
    lut[v] = toByte(l);
  }
  makeMonotonic(lut);
  lut[0] = 0;
  lut[255] = 255;
  return lut;
}

Lut densityCurve(const std::array<int, 3>& steps) {
  // Each step moves its tone region by 5% coverage at the region's centre,
  // fading out towards the neighbouring regions and to zero at paper and
  // solid.
  constexpr double kStep = 0.05;
  constexpr double kCentre[3] = {0.2, 0.5, 0.8};
  constexpr double kWidth = 0.2;
  Lut lut{};
  for (int v = 0; v < 256; ++v) {
    const double a = v / 255.0;
    double delta = 0.0;
    for (int r = 0; r < 3; ++r) {
      const double d = (a - kCentre[r]) / kWidth;
      delta += std::clamp(steps[r], -3, 3) * kStep * std::exp(-d * d);
    }
    delta *= std::min(1.0, 8.0 * a * (1.0 - a));
    lut[v] = toByte(a + delta);
  }
  makeMonotonic(lut);
  lut[0] = 0;
  lut[255] = 255;
  return lut;
}

Lut tonerCurve(int tonerMode) {
  // Tones are scaled down; from 60% up the curve bends back up so that solids
  // (text, lines) keep a higher share of their dots than mid tones.
  constexpr double kScale[4] = {1.0, 0.80, 0.65, 0.50};
  constexpr double kSolid[4] = {1.0, 0.92, 0.82, 0.72};
  const int mode = std::clamp(tonerMode, 0, 3);
  Lut lut{};
  for (int v = 0; v < 256; ++v) {
    const double a = v / 255.0;
    lut[v] = toByte(kScale[mode] * a + (kSolid[mode] - kScale[mode]) * smoothstep((a - 0.6) / 0.4));
  }
  makeMonotonic(lut);
  lut[0] = 0;
  return lut;
}

Lut blackGenerationCurve(int imageType, bool complementary) {
  // Black takes over the grey component of a colour from a starting point
  // that depends on the image type: photos keep more of their light greys in
  // C, M and Y for smoother tones, graphics go to black early for crisp
  // edges. At full strength black is alone, so black prints without C, M, Y
  // under it.
  constexpr double kStart[5] = {0.25, 0.40, 0.25, 0.10, 0.10};  // TextPhoto, Photo, WebPages, Graphics, POP
  const double start = complementary ? 0.0 : kStart[std::clamp(imageType, 0, 4)];
  Lut lut{};
  for (int v = 0; v < 256; ++v) {
    const double a = v / 255.0;
    lut[v] = toByte(a * smoothstep((a - start) / (1.0 - start)));
  }
  makeMonotonic(lut);
  lut[255] = 255;
  return lut;
}

ToneTables buildToneTables(const InstanceConfig& config, const Adjustments& adjust, int tonerMode) {
  ToneTables tables{};
  const Lut lightness = lightnessCurve(adjust.brightness, adjust.contrast);
  for (int v = 0; v < 256; ++v) tables.inverse[v] = static_cast<uint8_t>(255 - lightness[v]);

  tables.blackGeneration = blackGenerationCurve(config.imageType, config.complementary);
  tables.underColourRemoval = tables.blackGeneration;

  const Lut toner = tonerCurve(tonerMode);
  for (int c = 0; c < 4; ++c) tables.output[c] = compose(toner, densityCurve(adjust.density[c]));
  tables.grayToBlack = compose(tables.output[kBlack], tables.inverse);

  tables.chromaScale = config.colour ? 256 + adjust.chroma * 256 / 100 : 256;
  return tables;
}

}  // namespace zeru::engine
