// Choice keywords from a PPD or a job's options: any text.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "settings/job_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string choice(reinterpret_cast<const char*>(data), size);
  const char* c = choice.c_str();

  int index = paperIndexFromKeyword(c);
  if (index < -1 || index > 11) abort();
  int resolution = resolutionFromChoice(c);
  if (resolution != 600 && resolution != 1200) abort();
  int duplex = duplexModeFromChoice(c);
  if (duplex < 0 || duplex > 2) abort();
  int toner = tonerModeFromChoice(c, 2);
  if (toner < 0 || toner > 3) abort();
  int density = densityFromChoice(c);
  if (density < -3 || density > 3) abort();
  int brightness = brightnessFromChoice(c);
  if (brightness < -100 || brightness > 800) abort();
  int step = stepFromChoice(c);
  if (step < -100 || step > 100) abort();
  int imageType = imageTypeFromChoice(c);
  if (imageType < 0 || imageType > 4) abort();
  int screen = screenModeFromChoice(c);
  if (screen != 0 && screen != 512 && screen != 768) abort();
  if (collateFromChoice(c) > 1 || complementaryFromChoice(c) > 1 ||
      grayGuaranteeFromChoice(c) > 1 || rotate180FromChoice(c, 0) > 1)
    abort();
  int code = densityCodeFor(density, density, density);
  if (code < 0 || code > 0x666) abort();
  return 0;
}
