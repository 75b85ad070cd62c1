// JBIG (ITU-T T.82) encoder for the one option set of the job stream: a
// single resolution layer, the two-line template, no typical or deterministic
// prediction, no adaptive template moves, and every 128-line stripe ended
// with SDRST. Its output is byte for byte what JBIG-KIT emits for
// jbg_enc_layers 0 and jbg_enc_options(order 0, 0x340, 128, 0, 0).
//
// With SDRST every stripe starts from fresh probability states and a fresh
// coder, and its first line is coded as if the line above were white, so
// stripes are independent: they can be coded in any order, on any thread,
// and the entity is the header followed by the stripes in order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace jbig {

inline constexpr unsigned kStripeLines = 128;
inline constexpr size_t kHeaderSize = 20;

// The 20-byte header of an entity of the given size.
void writeHeader(unsigned width, unsigned height, uint8_t header[kHeaderSize]);

// Number of stripes of an image `height` lines high.
inline unsigned stripeCount(unsigned height) {
  return (height + kStripeLines - 1) / kStripeLines;
}

// Which stripe coder codes: the one picked for this CPU, or the portable one
// whatever the CPU (so that tests check both).
enum class StripeCoder { Chosen, Portable };

// Codes one stripe of `lines` lines (1 to 128), the first at `firstLine`,
// each `stride` bytes after the one before and (width + 7) / 8 bytes long;
// bits past the width are ignored (the lines are only read). Appends the
// stripe's coded data, ending in ESC SDRST, to `out`.
// Throws std::bad_alloc when `out` cannot grow.
void encodeStripe(const uint8_t* firstLine, size_t stride, unsigned width, unsigned lines,
                  std::vector<uint8_t>& out, StripeCoder coder = StripeCoder::Chosen);

// The whole entity of a plane of (width + 7) / 8 bytes per line: header and
// every stripe, appended to `out`. Throws std::bad_alloc.
void encodePlane(const uint8_t* plane, unsigned width, unsigned height, std::vector<uint8_t>& out);

// Which stripe coder runs: the portable one or one built for the CPU's
// extensions, picked once at run time. For tests and benchmarks.
const char* stripeCoderName();

}  // namespace jbig
