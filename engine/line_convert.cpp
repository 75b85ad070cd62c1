// The hot path: one raster line into colourant amounts, then amounts against
// the screen's threshold row into packed dots. Only table look-ups and a few
// integer operations per pixel.
#include <algorithm>
#include <array>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "engine/engine_internal.h"

namespace zeru::engine {

namespace {

// Bit order reversal of a byte: the SIMD compare gives the leftmost dot in
// the lowest bit, the planes want it in the highest.
constexpr std::array<uint8_t, 256> makeReversedBits() {
  std::array<uint8_t, 256> table{};
  for (unsigned v = 0; v < 256; ++v) {
    unsigned r = 0;
    for (unsigned bit = 0; bit < 8; ++bit) {
      if (v & (1u << bit)) r |= 0x80u >> bit;
    }
    table[v] = static_cast<uint8_t>(r);
  }
  return table;
}

constexpr std::array<uint8_t, 256> kReversedBits = makeReversedBits();

template <bool kChroma>
void separateColour(const ToneTables& t, bool grayGuarantee, const uint8_t* rgb, size_t width, uint8_t* oc,
                    uint8_t* om, uint8_t* oy, uint8_t* ok) {
  const uint32_t guaranteeMask = grayGuarantee ? ~0u : 0u;
  const int scale = t.chromaScale;
  const uint8_t* outC = t.output[kCyan].data();
  const uint8_t* outM = t.output[kMagenta].data();
  const uint8_t* outY = t.output[kYellow].data();
  const uint8_t* outK = t.output[kBlack].data();
  for (size_t x = 0; x < width; ++x) {
    const uint32_t r = rgb[3 * x];
    const uint32_t g = rgb[3 * x + 1];
    const uint32_t b = rgb[3 * x + 2];
    const uint32_t c0 = t.inverse[r];
    uint32_t c = c0;
    uint32_t m = t.inverse[g];
    uint32_t y = t.inverse[b];
    if constexpr (kChroma) {
      // Saturation: each colourant moves away from (or towards) the mean.
      const int mean = static_cast<int>(((c + m + y) * 21846u) >> 16);
      c = static_cast<uint32_t>(std::clamp(mean + ((static_cast<int>(c) - mean) * scale >> 8), 0, 255));
      m = static_cast<uint32_t>(std::clamp(mean + ((static_cast<int>(m) - mean) * scale >> 8), 0, 255));
      y = static_cast<uint32_t>(std::clamp(mean + ((static_cast<int>(y) - mean) * scale >> 8), 0, 255));
    }
    // Grey-component replacement: black takes over part of the common
    // amount, which is then taken off C, M and Y.
    const uint32_t common = std::min(c, std::min(m, y));
    uint32_t k = t.blackGeneration[common];
    const uint32_t removed = t.underColourRemoval[common];
    c -= removed;
    m -= removed;
    y -= removed;
    // Gray guarantee: a neutral input pixel is printed with black alone.
    const uint32_t neutral = (0u - static_cast<uint32_t>((r == g) & (g == b))) & guaranteeMask;
    c &= ~neutral;
    m &= ~neutral;
    y &= ~neutral;
    k = (k & ~neutral) | (c0 & neutral);
    oc[x] = outC[c];
    om[x] = outM[m];
    oy[x] = outY[y];
    ok[x] = outK[k];
  }
}

}  // namespace

void separateColourLine(const ToneTables& tables, bool grayGuarantee, const uint8_t* rgb, size_t width, uint8_t* c,
                        uint8_t* m, uint8_t* y, uint8_t* k) {
  if (tables.chromaScale != 256) {
    separateColour<true>(tables, grayGuarantee, rgb, width, c, m, y, k);
  } else {
    separateColour<false>(tables, grayGuarantee, rgb, width, c, m, y, k);
  }
}

void separateGrayLine(const ToneTables& tables, const uint8_t* gray, size_t width, uint8_t* k) {
  const uint8_t* lut = tables.grayToBlack.data();
  for (size_t x = 0; x < width; ++x) k[x] = lut[gray[x]];
}

void packDots(const uint8_t* value, const uint8_t* threshold, size_t width, uint8_t* out) {
  size_t x = 0;
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128();
  for (; x + 16 <= width; x += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(value + x));
    const __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(threshold + x));
    // v > t exactly when the saturated difference is not zero.
    const __m128i blank = _mm_cmpeq_epi8(_mm_subs_epu8(v, t), zero);
    const unsigned dots = ~static_cast<unsigned>(_mm_movemask_epi8(blank)) & 0xFFFFu;
    out[x / 8] = kReversedBits[dots & 0xFF];
    out[x / 8 + 1] = kReversedBits[dots >> 8];
  }
#endif
  for (; x + 8 <= width; x += 8) {
    unsigned byte = 0;
    for (unsigned i = 0; i < 8; ++i) byte |= static_cast<unsigned>(value[x + i] > threshold[x + i]) << (7 - i);
    out[x / 8] = static_cast<uint8_t>(byte);
  }
}

}  // namespace zeru::engine
