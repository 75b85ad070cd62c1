// The filter's own JBIG encoder against JBIG-KIT's: any plane, any size up
// to a few stripes, must give the same bytes, whole (the coder picked for
// this CPU) and stripe by stripe (the portable coder).
// Input: two bytes of width (1 .. 4096), two of height (1 .. 400), one
// selecting how the rest fills the plane, then the fill.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "jbig/compression.h"
#include "jbig/jbig_encoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5) return 0;
  unsigned width = (static_cast<unsigned>(data[0]) << 8 | data[1]) % 4096 + 1;
  unsigned height = (static_cast<unsigned>(data[2]) << 8 | data[3]) % 400 + 1;
  unsigned mode = data[4];
  data += 5;
  size -= 5;
  size_t stride = (width + 7) / 8;
  std::vector<uint8_t> plane(stride * height, 0);
  if (size > 0) {
    if (mode & 1) {
      // The input repeated over the plane: periodic patterns and long runs.
      for (size_t i = 0; i < plane.size(); ++i) plane[i] = data[i % size];
    } else {
      // The input as runs: each byte a run length, the colour alternating.
      size_t bit = 0, total = plane.size() * 8;
      bool black = mode & 2;
      for (size_t i = 0; bit < total; i = (i + 1) % size) {
        size_t run = data[i] ? data[i] : 1000;
        if (black)
          for (size_t b = bit; b < bit + run && b < total; ++b)
            plane[b / 8] |= static_cast<uint8_t>(0x80 >> (b % 8));
        bit += run;
        black = !black;
        if (i + 1 == size && (mode & 4)) break;  // the rest stays white
      }
    }
  }

  std::vector<uint8_t> before = plane, own, reference, streamed(jbig::kHeaderSize);
  compressPlane(plane.data(), width, height, own, JbigCoder::Own);
  if (plane != before) abort();  // the caller's plane is only read
  compressPlane(plane.data(), width, height, reference, JbigCoder::JbigKit);
  if (own != reference) abort();

  jbig::writeHeader(width, height, streamed.data());
  for (unsigned y = 0; y < height; y += jbig::kStripeLines) {
    unsigned lines = height - y < jbig::kStripeLines ? height - y : jbig::kStripeLines;
    std::vector<uint8_t> stripe;
    jbig::encodeStripe(plane.data() + y * stride, stride, width, lines, stripe,
                       jbig::StripeCoder::Portable);
    streamed.insert(streamed.end(), stripe.begin(), stripe.end());
  }
  if (streamed != reference) abort();
  return 0;
}
