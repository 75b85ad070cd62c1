// The filter's own JBIG encoder against JBIG-KIT's, byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "jbig/compression.h"
#include "jbig/jbig_encoder.h"
#include "support/temp_dir.h"

namespace {

struct Plane {
  unsigned width = 0;
  unsigned height = 0;
  std::vector<uint8_t> bytes;

  Plane(unsigned w, unsigned h) : width(w), height(h), bytes(stride() * h, 0) {}
  size_t stride() const { return (width + 7) / 8; }
  void set(unsigned x, unsigned y) {
    bytes[y * stride() + x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
  }
};

std::vector<uint8_t> withJbigKit(const Plane& plane) {
  std::vector<uint8_t> out;
  compressPlane(plane.bytes.data(), plane.width, plane.height, out, JbigCoder::JbigKit);
  return out;
}

std::vector<uint8_t> withOwn(const Plane& plane) {
  std::vector<uint8_t> out;
  compressPlane(plane.bytes.data(), plane.width, plane.height, out, JbigCoder::Own);
  return out;
}

// The entity built stripe by stripe, the stripes coded last first into
// buffers of their own, as the streaming compression does; with the
// portable coder whatever the CPU.
std::vector<uint8_t> streamedOwn(const Plane& plane) {
  unsigned stripes = jbig::stripeCount(plane.height);
  std::vector<std::vector<uint8_t>> coded(stripes);
  for (unsigned s = stripes; s-- > 0;) {
    unsigned first = s * jbig::kStripeLines;
    unsigned lines = std::min(jbig::kStripeLines, plane.height - first);
    jbig::encodeStripe(plane.bytes.data() + first * plane.stride(), plane.stride(), plane.width,
                       lines, coded[s], jbig::StripeCoder::Portable);
  }
  std::vector<uint8_t> out(jbig::kHeaderSize);
  jbig::writeHeader(plane.width, plane.height, out.data());
  for (const auto& stripe : coded) out.insert(out.end(), stripe.begin(), stripe.end());
  return out;
}

// Both of the filter's ways must give JBIG-KIT's bytes, and leave the plane
// as it was.
void expectSameAsJbigKit(const Plane& plane, const std::string& what) {
  std::vector<uint8_t> before = plane.bytes;
  std::vector<uint8_t> own = withOwn(plane);
  ASSERT_EQ(plane.bytes, before) << what << ": the plane was written";
  std::vector<uint8_t> reference = withJbigKit(plane);
  ASSERT_FALSE(reference.empty()) << what;
  ASSERT_EQ(own, reference) << what;
  ASSERT_EQ(streamedOwn(plane), reference) << what << " (stripe by stripe)";
}

Plane randomPlane(unsigned width, unsigned height, double density, uint32_t seed) {
  Plane plane(width, height);
  std::mt19937 random(seed);
  std::bernoulli_distribution dot(density);
  for (unsigned y = 0; y < height; ++y)
    for (unsigned x = 0; x < width; ++x)
      if (dot(random)) plane.set(x, y);
  return plane;
}

// Dots in clumps: rows of runs whose lengths follow the density, so that
// both the dot-by-dot coding and the runs are exercised.
Plane clumpedPlane(unsigned width, unsigned height, double density, uint32_t seed) {
  Plane plane(width, height);
  std::mt19937 random(seed);
  std::geometric_distribution<unsigned> white(density), black(1.0 - density);
  for (unsigned y = 0; y < height; ++y) {
    unsigned x = random() % 16;
    while (x < width) {
      x += white(random);
      unsigned n = 1 + black(random);
      for (; n > 0 && x < width; --n, ++x) plane.set(x, y);
    }
  }
  return plane;
}

// A page region rendered by Ghostscript: text, a halftoned grey field and a
// halftoned photo-like gradient, as the screened planes of a real page look.
bool renderWithGhostscript(unsigned dpi, unsigned width, unsigned height, Plane& plane) {
  zerutest::TempDir dir("gs");
  std::string ps = dir.path() + "/page.ps";
  FILE* f = fopen(ps.c_str(), "w");
  if (!f) return false;
  fputs(
      "%!PS\n"
      "0 currentpagedevice /PageSize get 1 get 842 sub translate\n"
      "/Helvetica findfont 9 scalefont setfont\n"
      "0 1 12 { /i exch def 30 832 i 12 mul sub moveto\n"
      "  (The quick brown fox jumps over the lazy dog 0123456789) show } for\n"
      "/Times-Bold findfont 30 scalefont setfont 30 680 moveto (Heading) show\n"
      "0.5 setgray 300 690 100 152 rectfill\n"
      "0.1 setgray 310 790 30 30 rectfill 0.9 setgray 350 790 30 30 rectfill\n"
      "/s 4096 string def\n"
      "0 1 4095 { /i exch def s i i 7 mul i 64 idiv 5 mul add 256 mod put } for\n"
      "gsave 410 690 translate 170 152 scale\n"
      "64 64 8 [64 0 0 64 0 0] { s } image grestore\n"
      "0 setgray 30 700 moveto 280 840 lineto 1 setlinewidth stroke\n"
      "showpage\n",
      f);
  fclose(f);
  std::string command = "gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=pbmraw -r" +
                        std::to_string(dpi) + " -g" + std::to_string(width) + "x" +
                        std::to_string(height) + " -sOutputFile=- " + ps + " 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return false;
  // "P4", comment lines, width and height, one white space, the dots.
  unsigned w = 0, h = 0;
  char magic[2] = {};
  bool ok = fread(magic, 1, 2, pipe) == 2 && magic[0] == 'P' && magic[1] == '4';
  int ch = fgetc(pipe);
  while (ch == '\n' || ch == ' ' || ch == '#') {
    if (ch == '#')
      while ((ch = fgetc(pipe)) != EOF && ch != '\n') {
      }
    ch = fgetc(pipe);
  }
  if (ch != EOF) ungetc(ch, pipe);
  ok = ok && fscanf(pipe, "%u %u", &w, &h) == 2 && fgetc(pipe) != EOF && w == width &&
       h == height;
  if (ok) {
    plane = Plane(w, h);
    ok = fread(plane.bytes.data(), 1, plane.bytes.size(), pipe) == plane.bytes.size();
  }
  return pclose(pipe) == 0 && ok;
}

}  // namespace

TEST(JbigEncoder, SameBytesAsJbigKitOverWidthsAndHeights) {
  // Widths at and around byte and word edges, odd ones, and page widths;
  // heights around the stripe edges.
  const unsigned widths[] = {1, 2, 3, 5, 7, 8, 9, 13, 31, 63, 64, 65, 67, 100, 127, 129,
                             191, 255, 257, 321, 1000, 1023, 2047, 4961, 9999, 10240};
  const unsigned heights[] = {1, 2, 3, 4, 127, 128, 129, 255, 256, 257, 300};
  uint32_t seed = 1;
  for (unsigned width : widths) {
    for (unsigned height : heights) {
      if (static_cast<uint64_t>(width) * height > 600000) continue;
      double density = (seed % 7 + 1) / 8.0;
      expectSameAsJbigKit(randomPlane(width, height, density, seed),
                          "random " + std::to_string(width) + "x" + std::to_string(height));
      expectSameAsJbigKit(clumpedPlane(width, height, density, seed + 1000),
                          "clumped " + std::to_string(width) + "x" + std::to_string(height));
      ++seed;
    }
  }
  // The widest page, a few stripes deep.
  expectSameAsJbigKit(clumpedPlane(10240, 300, 0.05, 99), "clumped 10240x300");
}

TEST(JbigEncoder, SameBytesAsJbigKitForUniformAndRegularPlanes) {
  for (unsigned width : {1u, 6u, 64u, 77u, 1234u, 4960u}) {
    for (unsigned height : {1u, 5u, 128u, 300u}) {
      std::string size = std::to_string(width) + "x" + std::to_string(height);
      Plane white(width, height);
      expectSameAsJbigKit(white, "white " + size);

      // Every byte 0xFF, the bits past the width included: they must not
      // reach the coded dots.
      Plane black(width, height);
      std::fill(black.bytes.begin(), black.bytes.end(), 0xFF);
      expectSameAsJbigKit(black, "black " + size);

      Plane checker(width, height), coarse(width, height), dot(width, height);
      for (unsigned y = 0; y < height; ++y)
        for (unsigned x = 0; x < width; ++x) {
          if ((x + y) % 2) checker.set(x, y);
          if ((x / 8 + y / 8) % 2) coarse.set(x, y);
        }
      dot.set(width / 2, height / 2);
      expectSameAsJbigKit(checker, "checkerboard " + size);
      expectSameAsJbigKit(coarse, "8-dot checkerboard " + size);
      expectSameAsJbigKit(dot, "single dot " + size);
    }
  }
  // Dots at the corners and at the far end of a line, where the line above
  // reaches past the width.
  Plane corners(131, 260);
  for (unsigned y : {0u, 127u, 128u, 259u})
    for (unsigned x : {0u, 1u, 129u, 130u}) corners.set(x, y);
  expectSameAsJbigKit(corners, "corners");
}

TEST(JbigEncoder, SameBytesAsJbigKitOverDensities) {
  for (double density : {0.001, 0.01, 0.05, 0.2, 0.5, 0.8, 0.95, 0.99}) {
    std::string d = std::to_string(density);
    expectSameAsJbigKit(randomPlane(1999, 260, density, 7), "random density " + d);
    expectSameAsJbigKit(clumpedPlane(3001, 260, density, 8), "clumped density " + d);
  }
}

TEST(JbigEncoder, SameBytesAsJbigKitForRenderedPages) {
  // A whole A4 page at 600 dpi; at 1200 dpi the upper part of one.
  struct Case {
    unsigned dpi, width, height;
  };
  for (Case c : {Case{600, 4960, 7016}, Case{1200, 9920, 700}}) {
    Plane plane(1, 1);
    ASSERT_TRUE(renderWithGhostscript(c.dpi, c.width, c.height, plane)) << c.dpi << " dpi";
    expectSameAsJbigKit(plane, "rendered at " + std::to_string(c.dpi) + " dpi");
  }
}

TEST(JbigEncoder, HeaderNamesTheOptionSet) {
  uint8_t header[jbig::kHeaderSize];
  jbig::writeHeader(4961, 7, header);
  const uint8_t expected[jbig::kHeaderSize] = {0, 0, 1, 0, 0, 0, 0x13, 0x61, 0, 0,
                                               0, 7, 0, 0, 0, 128, 0, 0, 0, 0x40};
  EXPECT_EQ(std::vector<uint8_t>(header, header + 20), std::vector<uint8_t>(expected, expected + 20));
}

TEST(JbigEncoder, EncoderIsChosenByName) {
  EXPECT_EQ(jbigCoderFromName(nullptr), JbigCoder::Own);
  EXPECT_EQ(jbigCoderFromName(""), JbigCoder::Own);
  EXPECT_EQ(jbigCoderFromName("own"), JbigCoder::Own);
  EXPECT_EQ(jbigCoderFromName("jbigkit"), JbigCoder::JbigKit);
}
