// The stand-in colour library's dot packing gives the same bytes on every
// CPU: its SSE2 loop (x86-64) and its plain loop (every other CPU, and the
// tail of a line) against the rule itself, a dot wherever the value is
// above the threshold, the leftmost dot in a byte's highest bit.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

#include "engine/engine_internal.h"

namespace {

std::vector<uint8_t> dotsByRule(const std::vector<uint8_t>& value,
                                const std::vector<uint8_t>& threshold) {
  std::vector<uint8_t> out(value.size() / 8, 0);
  for (size_t x = 0; x < value.size(); ++x)
    if (value[x] > threshold[x]) out[x / 8] |= static_cast<uint8_t>(0x80u >> (x % 8));
  return out;
}

TEST(PackDots, SameBytesAsTheRuleForEveryWidthAndValue) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int> byte(0, 255);
  // Widths around the 16-dot SIMD step, and a 600 dpi A4 line.
  std::vector<size_t> widths{0, 8, 16, 24, 32, 40, 120, 128, 136, 4760};
  for (size_t width : widths) {
    for (int round = 0; round < 8; ++round) {
      std::vector<uint8_t> value(width), threshold(width);
      for (size_t x = 0; x < width; ++x) {
        threshold[x] = static_cast<uint8_t>(byte(random));
        // Equal, one above, one below, the extremes and any value.
        switch (round % 4) {
          case 0: value[x] = threshold[x]; break;
          case 1: value[x] = static_cast<uint8_t>(threshold[x] + (x % 2 ? 1 : -1)); break;
          case 2: value[x] = (x / 3) % 2 ? 255 : 0; break;
          default: value[x] = static_cast<uint8_t>(byte(random)); break;
        }
      }
      std::vector<uint8_t> packed(width / 8, 0xA5);
      zeru::engine::packDots(value.data(), threshold.data(), width, packed.data());
      EXPECT_EQ(packed, dotsByRule(value, threshold)) << "width " << width << ", round " << round;
    }
  }
}

}  // namespace
