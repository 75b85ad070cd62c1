// Reading the two records the filter hands over: the page set-up block and
// the adjust record.
#include <algorithm>
#include <cstdint>

#include "engine/engine_internal.h"

namespace zeru::engine {

bool decodeSetup(const EngineSetup& setup, InstanceConfig& config) {
  if (setup.getOutputLine == nullptr || setup.lineReady == nullptr) return false;
  if (setup.lineWidth == 0 || setup.lineWidth % 8 != 0 || setup.lineWidth > kMaxLineWidth) return false;

  const uint32_t render = setup.renderFlags & ~static_cast<uint32_t>(kRenderGrayGuarantee);
  if (render != kRenderNormal && render != kRenderComplementary) return false;

  // The two layout bytes must agree: colour is 2/4, grayscale 1/9.
  bool colour;
  if (setup.colourLayout == 2 && setup.planeLayout == 4) {
    colour = true;
  } else if (setup.colourLayout == 1 && setup.planeLayout == 9) {
    colour = false;
  } else {
    return false;
  }

  // Screen word: 0x101 (600 dpi) or 0x401 (1200 dpi), with the screen mode
  // ORed in (0x200 Fineness, 0x300 Gradation). At 600 dpi the mode bits meet
  // the resolution code's own 0x100 bit, so 0x301 stands for both Fineness
  // and Gradation there; the engine serves it with the fine screen.
  const uint32_t word = setup.screenWord;
  if ((word & ~0x7FFu) != 0 || (word & 0xFF) != 0x01) return false;
  int resolution;
  ScreenMode screenMode;
  if ((word & 0x400) != 0) {
    resolution = 1200;
    switch (word & 0x300) {
      case 0x000: screenMode = ScreenMode::Standard; break;
      case 0x200: screenMode = ScreenMode::Fineness; break;
      case 0x300: screenMode = ScreenMode::Gradation; break;
      default: return false;
    }
  } else {
    if ((word & 0x100) == 0) return false;
    resolution = 600;
    screenMode = (word & 0x200) != 0 ? ScreenMode::Fineness : ScreenMode::Standard;
  }
  if (setup.resolutionWord != 12 && setup.resolutionWord != 24) return false;
  if (setup.scaleX != 10000 || setup.scaleY != 10000) return false;  // no scaling is offered

  config.colour = colour;
  config.grayGuarantee = (setup.renderFlags & kRenderGrayGuarantee) != 0;
  config.complementary = colour && render == kRenderComplementary;
  config.lineWidth = setup.lineWidth;
  config.resolution = resolution;
  config.screenMode = screenMode;
  config.imageType = (colour && setup.imageType <= 4) ? static_cast<int>(setup.imageType) : 0;
  return true;
}

int densityStep(unsigned code) {
  switch (code) {
    case 1: return -3;
    case 2: return -2;
    case 3: return -1;
    case 4: return 1;
    case 5: return 2;
    case 6: return 3;
    default: return 0;
  }
}

Adjustments decodeAdjustRecord(const AdjustRecord& record) {
  constexpr uint32_t kFlagBrightness = 4;
  constexpr uint32_t kFlagDensity = 8;
  constexpr int kImage = 1;  // background, image, graphics, text

  Adjustments adjust;
  if (record.adjustFlags & kFlagBrightness) adjust.brightness = std::clamp(record.brightness[0], -100, 100);
  adjust.contrast = std::clamp(record.contrast[kImage], -100, 100);
  adjust.chroma = std::clamp(record.chroma[kImage], -100, 100);
  if (record.adjustFlags & kFlagDensity) {
    // The record lists black, cyan, magenta, yellow; the engine keeps the
    // colourants in plane order.
    constexpr Colourant order[4] = {kBlack, kCyan, kMagenta, kYellow};
    for (int i = 0; i < 4; ++i) {
      const unsigned code = static_cast<unsigned>(record.densityCode[i]);
      auto& steps = adjust.density[order[i]];
      steps[0] = densityStep(code & 0xF);         // low tones
      steps[1] = densityStep((code >> 4) & 0xF);  // mid tones
      steps[2] = densityStep((code >> 8) & 0xF);  // high tones
    }
  }
  return adjust;
}

}  // namespace zeru::engine
