// Ordered-dither screens: one clustered-dot threshold tile per colourant,
// each at its own angle so that the four planes do not beat against each
// other. A screen is addressed by device line and dot, so any split of the
// page's lines between instances gives the same dots.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <vector>

#include "engine/engine_internal.h"

namespace zeru::engine {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Deterministic tie-breaker for dots of equal spot value, so that equal
// dots do not grow in raster order (which would draw lines into flat tones).
uint32_t scramble(uint32_t x) {
  x ^= x >> 16;
  x *= 0x7feb352dU;
  x ^= x >> 15;
  x *= 0x846ca68bU;
  x ^= x >> 16;
  return x;
}

}  // namespace

ScreenVector screenVector(int resolution, ScreenMode mode, Colourant colourant) {
  // Cell vectors (a, b): cyan about 15 degrees, magenta about 75, yellow 0,
  // black 45. The cell's size sets the screen's ruling: Fineness uses small
  // cells for detail, Gradation large cells for more tone steps per cell.
  //                                           cyan     magenta  yellow   black
  static constexpr ScreenVector k600Standard[4] = {{4, 1}, {1, 4}, {4, 0}, {3, 3}};
  static constexpr ScreenVector k600Fineness[4] = {{3, 1}, {1, 3}, {3, 0}, {2, 2}};
  static constexpr ScreenVector k600Gradation[4] = {{5, 2}, {2, 5}, {6, 0}, {4, 4}};
  static constexpr ScreenVector k1200Standard[4] = {{7, 2}, {2, 7}, {8, 0}, {6, 6}};
  static constexpr ScreenVector k1200Fineness[4] = {{5, 1}, {1, 5}, {5, 0}, {4, 4}};
  static constexpr ScreenVector k1200Gradation[4] = {{10, 3}, {3, 10}, {11, 0}, {8, 8}};
  const ScreenVector* table;
  if (resolution >= 1200) {
    table = mode == ScreenMode::Fineness ? k1200Fineness : mode == ScreenMode::Gradation ? k1200Gradation : k1200Standard;
  } else {
    table = mode == ScreenMode::Fineness ? k600Fineness : mode == ScreenMode::Gradation ? k600Gradation : k600Standard;
  }
  return table[colourant];
}

ScreenTile buildScreenTile(ScreenVector vector, int phase) {
  // The cell lattice spanned by (a, b) and (-b, a) repeats every
  // (a^2 + b^2) / gcd(a, b) dots in both directions: that is the tile.
  const int a = vector.a;
  const int b = vector.b;
  const int norm = a * a + b * b;
  const int period = norm / std::gcd(a, b);
  const size_t count = static_cast<size_t>(period) * period;

  // Spot function: round dots in the highlights joining into a checkerboard
  // at 50% and round holes in the shadows. The phase shifts each
  // colourant's cells by a fraction of a cell.
  const double shiftU = 0.125 * phase;
  const double shiftV = 0.375 * phase;
  std::vector<double> spot(count);
  for (int y = 0; y < period; ++y) {
    for (int x = 0; x < period; ++x) {
      const double px = x + 0.5;
      const double py = y + 0.5;
      const double u = (px * a + py * b) / norm + shiftU;
      const double v = (-px * b + py * a) / norm + shiftV;
      spot[static_cast<size_t>(y) * period + x] = std::cos(2 * kPi * u) + std::cos(2 * kPi * v);
    }
  }

  // Dots switch on in falling spot order; the n-th dot of the tile gets the
  // threshold that lets an amount of v light v/255 of the tile's dots.
  std::vector<uint32_t> order(count);
  std::iota(order.begin(), order.end(), 0u);
  std::sort(order.begin(), order.end(), [&](uint32_t l, uint32_t r) {
    if (spot[l] != spot[r]) return spot[l] > spot[r];
    return scramble(l) < scramble(r);
  });

  ScreenTile tile;
  tile.period = period;
  tile.threshold.resize(count);
  for (size_t rank = 0; rank < count; ++rank) {
    tile.threshold[order[rank]] = static_cast<uint8_t>(((2 * rank + 1) * 255) / (2 * count));
  }
  return tile;
}

std::array<ScreenTile, 4> buildScreens(int resolution, ScreenMode mode) {
  std::array<ScreenTile, 4> screens;
  for (int c = 0; c < 4; ++c) {
    screens[c] = buildScreenTile(screenVector(resolution, mode, static_cast<Colourant>(c)), c);
  }
  return screens;
}

void fillThresholdRow(const ScreenTile& tile, int64_t y, uint8_t* row, size_t width) {
  const size_t period = static_cast<size_t>(tile.period);
  const uint8_t* source = tile.threshold.data() + static_cast<size_t>(y % tile.period) * period;  // y >= 0
  size_t filled = std::min(period, width);
  std::memcpy(row, source, filled);
  // Doubling copies: the row is periodic, so its own start is the pattern.
  while (filled < width) {
    const size_t chunk = std::min(filled - filled % period, width - filled);
    std::memcpy(row + filled, row, chunk);
    filled += chunk;
  }
}

}  // namespace zeru::engine
