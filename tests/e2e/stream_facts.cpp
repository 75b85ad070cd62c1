// stream_facts FILE: the facts of a job stream that the end-to-end tests
// check, one per line, for grep:
//   setting KEY=VALUE          every "@PJL SET" line
//   pages N
//   page I planes P resolution R turned T
//   marks I P X0 Y0 X1 Y1 N    plane P of page I: the box of its dots, and
//                              how many (no line for a plane without dots)
//   problems N
// A page is "turned" when its planes hold more dots in their lower half than
// in their upper half: the tests print documents that are drawn at the top.
// Exit status 0, or 2 when the file cannot be read.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/stream_reader.h"

using namespace zerudump;

namespace {

void countHalves(const DecodedPlane& plane, uint64_t& upper, uint64_t& lower) {
  for (uint32_t y = 0; y < plane.height; ++y) {
    uint64_t dots = 0;
    const uint8_t* line = plane.bits.data() + y * plane.bytesPerLine();
    for (size_t i = 0; i < plane.bytesPerLine(); ++i) dots += __builtin_popcount(line[i]);
    (y < plane.height / 2 ? upper : lower) += dots;
  }
}

// The box around a plane's dots and their number.
void printMarks(int page, const PlaneEntity& plane) {
  const DecodedPlane& bits = plane.decoded;
  uint32_t x0 = UINT32_MAX, y0 = UINT32_MAX, x1 = 0, y1 = 0;
  uint64_t dots = 0;
  for (uint32_t y = 0; y < bits.height; ++y) {
    const uint8_t* line = bits.bits.data() + y * bits.bytesPerLine();
    for (size_t i = 0; i < bits.bytesPerLine(); ++i) {
      if (line[i] == 0) continue;
      dots += __builtin_popcount(line[i]);
      for (uint32_t bit = 0; bit < 8; ++bit) {
        if (!(line[i] & (0x80u >> bit))) continue;
        uint32_t x = static_cast<uint32_t>(i) * 8 + bit;
        x0 = std::min(x0, x);
        x1 = std::max(x1, x);
        y0 = std::min(y0, y);
        y1 = std::max(y1, y);
      }
    }
  }
  if (dots > 0)
    std::printf("marks %d %d %u %u %u %u %llu\n", page, plane.plane, x0, y0, x1, y1,
                static_cast<unsigned long long>(dots));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: stream_facts FILE\n", stderr);
    return 2;
  }
  std::ifstream file(argv[1], std::ios::binary);
  if (!file) {
    std::perror(argv[1]);
    return 2;
  }
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());

  ParseOptions options;
  options.keepPlanes = true;
  JobStream stream = parseJobStream(bytes, options);
  for (const auto& [key, value] : stream.settings)
    std::printf("setting %s=%s\n", key.c_str(), value.c_str());
  std::printf("pages %zu\n", stream.pages.size());
  for (const PageBlock& page : stream.pages) {
    uint64_t upper = 0, lower = 0;
    for (const PlaneEntity& plane : page.planes)
      if (plane.decodedOk) countHalves(plane.decoded, upper, lower);
    std::printf("page %d planes %zu resolution %u turned %d\n", page.number, page.planes.size(),
                page.resolution, lower > upper ? 1 : 0);
    for (const PlaneEntity& plane : page.planes)
      if (plane.decodedOk) printMarks(page.number, plane);
  }
  std::printf("problems %zu\n", stream.problems.size());
  return 0;
}
