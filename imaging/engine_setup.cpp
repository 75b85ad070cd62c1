#include "imaging/engine_setup.h"

#include <cstdint>
#include <cstring>

namespace {

constexpr uint32_t kScaleOne = 10000;
constexpr uint32_t kScreen600 = 0x101;
constexpr uint32_t kScreen1200 = 0x401;

}  // namespace

EngineSetup buildEngineSetup(const JobSettings& settings, unsigned hwResolution,
                             const char* modelPath, GetOutputLineFn getOutputLine,
                             LineReadyFn lineReady) {
  EngineSetup setup;
  memset(&setup, 0, sizeof setup);
  bool colour = settings.colorMode != 0;

  setup.getOutputLine = getOutputLine;
  setup.lineReady = lineReady;
  setup.renderFlags = (colour && settings.complementary == 1) ? kRenderComplementary : kRenderNormal;
  if (settings.grayGuarantee == 1) setup.renderFlags += kRenderGrayGuarantee;
  setup.lineWidth = static_cast<uint32_t>(settings.lineWidth);
  setup.scaleX = kScaleOne;
  setup.scaleY = kScaleOne;
  setup.imageType = (colour && settings.complementary != 1) ? static_cast<uint32_t>(settings.imageType) : 0;
  setup.screenWord = (hwResolution == 1200 ? kScreen1200 : kScreen600) |
                     static_cast<uint32_t>(settings.screenMode);
  setup.resolutionWord = hwResolution == 600 ? 12 : 24;
  setup.colourLayout = colour ? 2 : 1;
  setup.planeLayout = colour ? 4 : 9;
  setup.one58 = 1;
  setup.one59 = 1;
  setup.channelWord = colour ? 2222 : 2;
  setup.modeWord = colour ? 2 : 0;
  setup.modelPath = modelPath;
  return setup;
}

AdjustRecord buildAdjustRecord(const JobSettings& settings) {
  AdjustRecord adjust;
  memset(&adjust, 0, sizeof adjust);
  adjust.adjustFlags = static_cast<uint32_t>(settings.adjustFlags);
  for (int i = 0; i < 4; ++i) adjust.brightness[i] = settings.brightness;
  adjust.contrast[0] = settings.contrastBackground;
  adjust.contrast[1] = settings.contrastImage;
  adjust.contrast[2] = settings.contrastGraphics;
  adjust.contrast[3] = settings.contrastText;
  adjust.chroma[0] = settings.chromaBackground;
  adjust.chroma[1] = settings.chromaImage;
  adjust.chroma[2] = settings.chromaGraphics;
  adjust.chroma[3] = settings.chromaText;

  // No density set means no density codes at all; a grayscale page has black only.
  bool anyDensity = false;
  for (int d : settings.density) anyDensity = anyDensity || d != 0;
  if (anyDensity) {
    adjust.densityCode[kBlack] = settings.densityCode[kBlack];
    if (settings.colorMode != 0) {
      adjust.densityCode[kCyan] = settings.densityCode[kCyan];
      adjust.densityCode[kMagenta] = settings.densityCode[kMagenta];
      adjust.densityCode[kYellow] = settings.densityCode[kYellow];
    }
  }
  return adjust;
}

bool prepareEnginePage(const EngineLibrary& library, const JobSettings& settings,
                       unsigned hwResolution, const char* modelPath,
                       const std::array<GetOutputLineFn, kEngineInstances>& getOutputLine,
                       const std::array<LineReadyFn, kEngineInstances>& lineReady,
                       const std::function<void()>& afterScreenThreads,
                       EnginePage& page) {
  // Never call through a missing entry point: the page is refused. A job
  // checks this as each page starts and fails the page with its own message.
  if (!library.canRenderPages()) return false;

  AdjustRecord adjust = buildAdjustRecord(settings);
  page.setup[0] = buildEngineSetup(settings, hwResolution, modelPath, getOutputLine[0], lineReady[0]);
  for (int k = 1; k < kEngineInstances; ++k) {
    page.setup[k] = page.setup[0];
    page.setup[k].getOutputLine = getOutputLine[k];
    page.setup[k].lineReady = lineReady[k];
  }

  bool refused = false;
  for (int k = 0; k < kEngineInstances; ++k) {
    page.handles[k] = library.pfInitZARVEL(&page.setup[k]);
    refused = refused || page.handles[k] < 0;
  }
  if (refused) {
    endEnginePage(library, page);
    return false;
  }

  for (int k = 0; k < kEngineInstances; ++k) {
    page.adjust[k] = adjust;
    library.pfStartAdjustJob(page.handles[k], &page.adjust[k]);
  }
  for (int k = 0; k < kEngineInstances; ++k) library.pfCreateZARVEL(page.handles[k]);

  for (int k = 0; k < kEngineInstances; ++k) {
    if (library.pfUpdateScreenThread(page.handles[k], kEngineInstances, k) < 0) {
      endEnginePage(library, page);
      return false;
    }
  }

  if (afterScreenThreads) afterScreenThreads();

  for (int k = 0; k < kEngineInstances; ++k)
    library.pfUpdateScreenTonerTRC(page.handles[k], settings.tonerMode, 0);
  return true;
}

void endEnginePage(const EngineLibrary& library, const EnginePage& page) {
  if (!library.pfEndZARVEL) return;
  for (int handle : page.handles)
    if (handle >= 0) library.pfEndZARVEL(handle);
}
