#include "jbig/jbig_encoder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <memory>
#include <utility>

#if defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace jbig {
namespace {

#define JBIG_INLINE inline __attribute__((always_inline))

constexpr uint8_t kMarkerEsc = 0xFF;
constexpr uint8_t kMarkerStuff = 0x00;
constexpr uint8_t kMarkerSdrst = 0x03;
constexpr uint8_t kOptionsLrlTwo = 0x40;

// The probability estimation states of the QM coder: LPS size Qe, next
// state after a renormalising MPS, next state after an LPS, and whether an
// LPS in this state swaps the sense of the MPS.
struct QeRow {
  uint16_t qe;
  uint8_t nlps;
  uint8_t nmps;
  uint8_t swap;
};

constexpr QeRow kQeRows[] = {
    {0x5a1d, 1, 1, 1},     {0x2586, 14, 2, 0},    {0x1114, 16, 3, 0},    {0x080b, 18, 4, 0},
    {0x03d8, 20, 5, 0},    {0x01da, 23, 6, 0},    {0x00e5, 25, 7, 0},    {0x006f, 28, 8, 0},
    {0x0036, 30, 9, 0},    {0x001a, 33, 10, 0},   {0x000d, 35, 11, 0},   {0x0006, 9, 12, 0},
    {0x0003, 10, 13, 0},   {0x0001, 12, 13, 0},   {0x5a7f, 15, 15, 1},   {0x3f25, 36, 16, 0},
    {0x2cf2, 38, 17, 0},   {0x207c, 39, 18, 0},   {0x17b9, 40, 19, 0},   {0x1182, 42, 20, 0},
    {0x0cef, 43, 21, 0},   {0x09a1, 45, 22, 0},   {0x072f, 46, 23, 0},   {0x055c, 48, 24, 0},
    {0x0406, 49, 25, 0},   {0x0303, 51, 26, 0},   {0x0240, 52, 27, 0},   {0x01b1, 54, 28, 0},
    {0x0144, 56, 29, 0},   {0x00f5, 57, 30, 0},   {0x00b7, 59, 31, 0},   {0x008a, 60, 32, 0},
    {0x0068, 62, 33, 0},   {0x004e, 63, 34, 0},   {0x003b, 32, 35, 0},   {0x002c, 33, 9, 0},
    {0x5ae1, 37, 37, 1},   {0x484c, 64, 38, 0},   {0x3a0d, 65, 39, 0},   {0x2ef1, 67, 40, 0},
    {0x261f, 68, 41, 0},   {0x1f33, 69, 42, 0},   {0x19a8, 70, 43, 0},   {0x1518, 72, 44, 0},
    {0x1177, 73, 45, 0},   {0x0e74, 74, 46, 0},   {0x0bfb, 75, 47, 0},   {0x09f8, 77, 48, 0},
    {0x0861, 78, 49, 0},   {0x0706, 79, 50, 0},   {0x05cd, 48, 51, 0},   {0x04de, 50, 52, 0},
    {0x040f, 50, 53, 0},   {0x0363, 51, 54, 0},   {0x02d4, 52, 55, 0},   {0x025c, 53, 56, 0},
    {0x01f8, 54, 57, 0},   {0x01a4, 55, 58, 0},   {0x0160, 56, 59, 0},   {0x0125, 57, 60, 0},
    {0x00f6, 58, 61, 0},   {0x00cb, 59, 62, 0},   {0x00ab, 61, 63, 0},   {0x008f, 61, 32, 0},
    {0x5b12, 65, 65, 1},   {0x4d04, 80, 66, 0},   {0x412c, 81, 67, 0},   {0x37d8, 82, 68, 0},
    {0x2fe8, 83, 69, 0},   {0x293c, 84, 70, 0},   {0x2379, 86, 71, 0},   {0x1edf, 87, 72, 0},
    {0x1aa9, 87, 73, 0},   {0x174e, 72, 74, 0},   {0x1424, 72, 75, 0},   {0x119c, 74, 76, 0},
    {0x0f6b, 74, 77, 0},   {0x0d51, 75, 78, 0},   {0x0bb6, 77, 79, 0},   {0x0a40, 77, 48, 0},
    {0x5832, 80, 81, 1},   {0x4d1c, 88, 82, 0},   {0x438e, 89, 83, 0},   {0x3bdd, 90, 84, 0},
    {0x34ee, 91, 85, 0},   {0x2eae, 92, 86, 0},   {0x299a, 93, 87, 0},   {0x2516, 86, 71, 0},
    {0x5570, 88, 89, 1},   {0x4ca9, 95, 90, 0},   {0x44d9, 96, 91, 0},   {0x3e22, 97, 92, 0},
    {0x3824, 99, 93, 0},   {0x32b4, 99, 94, 0},   {0x2e17, 93, 86, 0},   {0x56a8, 95, 96, 1},
    {0x4f46, 101, 97, 0},  {0x47e5, 102, 98, 0},  {0x41cf, 103, 99, 0},  {0x3c3d, 104, 100, 0},
    {0x375e, 99, 93, 0},   {0x5231, 105, 102, 0}, {0x4c0f, 106, 103, 0}, {0x4639, 107, 104, 0},
    {0x415e, 103, 99, 0},  {0x5627, 105, 106, 1}, {0x50e7, 108, 107, 0}, {0x4b85, 109, 103, 0},
    {0x5597, 110, 109, 0}, {0x504f, 111, 107, 0}, {0x5a10, 110, 111, 1}, {0x5522, 112, 109, 0},
    {0x59eb, 112, 111, 1},
};
static_assert(std::size(kQeRows) == 113);

// A context's entry: bits 16..31 the Qe of its estimation state, bits 1..7
// the state, bit 0 the MPS, so that the dot loop finds all in one load. The
// transitions map the low byte to the whole next entry, the MPS swapped
// where an LPS calls for it.
constexpr uint32_t entryOf(unsigned mps, unsigned index) {
  return (uint32_t{kQeRows[index].qe} << 16) | (index << 1) | mps;
}

struct StateTables {
  std::array<uint32_t, 256> afterMps{};  // after a renormalising MPS
  std::array<uint32_t, 256> afterLps{};  // after an LPS
};

constexpr StateTables makeTables() {
  StateTables t;
  for (unsigned index = 0; index < std::size(kQeRows); ++index) {
    for (unsigned mps = 0; mps < 2; ++mps) {
      unsigned low = (index << 1) | mps;
      t.afterMps[low] = entryOf(mps, kQeRows[index].nmps);
      t.afterLps[low] = entryOf(mps ^ kQeRows[index].swap, kQeRows[index].nlps);
    }
  }
  return t;
}

constexpr StateTables kTables = makeTables();
constexpr uint32_t kInitialEntry = entryOf(0, 0);

// The two-line template: the line above at x-3 .. x+2 and this line at
// x-4 .. x-1. The dot loop reads both lines as one stream of pairs, pair j
// holding (above at j+2, this line at j); the twelve bits of pairs x-5 .. x
// hold the context of dot x and, in their lowest bit, the dot itself. The
// context's number is those twelve bits without the dot and without this
// line's dot x-5: a numbering of the 1024 contexts of its own, which codes
// exactly as any other, since a context's probability state is all that a
// number stands for.
constexpr unsigned kPairWindowMask = 0xBFE;
constexpr unsigned kContexts = kPairWindowMask + 1;
constexpr unsigned kAllWhite = 0;
constexpr unsigned kAllBlack = kPairWindowMask;
// Dots coded from one 64-bit window of 32 pairs: the first five pairs are
// the context of the first dot.
constexpr unsigned kDotsPerWindow = 27;

// Output room the coder may use between two checks: per coded dot at most
// two bytes out, each possibly stuffed (0xFF 0x00 pairs of pending bytes
// are checked for on their own).
constexpr size_t kBytesPerDot = 4;
constexpr size_t kOutputSlack = 64;

// The coded bytes of one stripe, in a buffer that grows without being
// cleared first: every byte is written before it is read.
struct StripeOutput {
  std::unique_ptr<uint8_t[]> bytes;
  size_t size = 0;
};

[[gnu::noinline]] uint8_t* growOutput(StripeOutput& out, uint8_t* at, size_t need) {
  size_t used = out.bytes ? static_cast<size_t>(at - out.bytes.get()) : 0;
  size_t size = std::max(out.size * 2, used + need + 4096);
  std::unique_ptr<uint8_t[]> bigger(new uint8_t[size]);
  if (used) memcpy(bigger.get(), out.bytes.get(), used);
  out.bytes = std::move(bigger);
  out.size = size;
  return out.bytes.get() + used;
}

// The QM coder of one stripe between two lines. While a line is coded its
// registers live in locals of the line coder; only the rare paths (a carry
// into held-back bytes, held-back 0xFF bytes, the flush) work on this record.
struct CoderState {
  uint32_t a = 0x10000;  // interval size
  uint32_t c = 0;        // code register: carry at bit 27, next byte at 19..26
  int ct = 11;           // shifts until the next byte is complete
  uint32_t sc = 0;       // 0xFF bytes held back, a carry may still reach them
  int buffer = -1;       // the byte held back before them, -1 for none
  uint8_t* p = nullptr;  // next output byte
  uint8_t* end = nullptr;
  size_t lineRoom = 0;   // room a line may use without a check
  StripeOutput* out = nullptr;

  void ensure(size_t n) {
    if (static_cast<size_t>(end - p) < n) {
      p = growOutput(*out, p, n);
      end = out->bytes.get() + out->size;
    }
  }

  void putStuffed(uint8_t byte) {
    *p++ = byte;
    if (byte == kMarkerEsc) *p++ = kMarkerStuff;
  }

  void putHeldFFs() {
    for (; sc; --sc) {
      *p++ = kMarkerEsc;
      *p++ = kMarkerStuff;
    }
  }

  // The byte `temp` (c >> 19) is complete and either carries into the bytes
  // held back or finds 0xFF bytes held back.
  void byteOutRare(uint32_t temp) {
    ensure(2 * static_cast<size_t>(sc) + lineRoom);
    if (temp > 0xff) {
      if (buffer >= 0) putStuffed(static_cast<uint8_t>(buffer + 1));
      memset(p, 0, sc);
      p += sc;
      sc = 0;
      buffer = static_cast<int>(temp & 0xff);
    } else if (temp == 0xff) {
      ++sc;
    } else {
      if (buffer >= 0) *p++ = static_cast<uint8_t>(buffer);
      putHeldFFs();
      buffer = static_cast<int>(temp);
    }
  }

  // Ends the coded data: the value in the final interval with the most
  // trailing zero bits, only as many of its bytes as are not zero.
  void flush() {
    ensure(2 * static_cast<size_t>(sc) + 16);
    uint32_t temp = (a - 1 + c) & 0xffff0000u;
    c = temp < c ? temp + 0x8000 : temp;
    c <<= ct;
    if (c & 0xf8000000u) {
      if (buffer >= 0) putStuffed(static_cast<uint8_t>(buffer + 1));
      if (c & 0x7fff800u)
        for (; sc; --sc) *p++ = 0x00;
    } else {
      if (buffer >= 0) *p++ = static_cast<uint8_t>(buffer);
      putHeldFFs();
    }
    if (c & 0x7fff800u) {
      putStuffed(static_cast<uint8_t>((c >> 19) & 0xff));
      if (c & 0x7f800u) putStuffed(static_cast<uint8_t>((c >> 11) & 0xff));
    }
  }
};

[[gnu::noinline]] void byteOutRare(CoderState& state, uint32_t temp) { state.byteOutRare(temp); }

// A copy of one line, its bits past the width cleared, as bytes with eight
// zero bytes before it and at least sixteen after it, so that windows
// reaching past either end read white. Word i (64 dots from dot 64(i-1) on,
// the first in bit 63) is the big-endian load of bytes 8i .. 8i+7.
class LineWords {
 public:
  void resize(size_t words) {
    words_ = words + 3;
    b_.assign(8 * words_ + 8, 0);
  }

  void load(const uint8_t* line, unsigned width) {
    size_t bytes = (static_cast<size_t>(width) + 7) / 8;
    memcpy(b_.data() + 8, line, bytes);
    if (width % 8) b_[8 + bytes - 1] &= static_cast<uint8_t>(0xFF00 >> (width % 8));
  }

  // 57 dots or more from dot `x` on (x >= -64), the first in bit 63.
  JBIG_INLINE uint64_t at(int64_t x) const {
    uint64_t q = static_cast<uint64_t>(x + 64);
    return load64(b_.data() + (q >> 3)) << (q & 7);
  }

  // The first dot at or after `x` whose value differs from `dot`, or
  // `limit` if there is none before it.
  JBIG_INLINE unsigned firstNot(unsigned dot, unsigned x, unsigned limit) const {
    uint64_t flip = dot ? ~uint64_t{0} : 0;
    size_t q = static_cast<size_t>(x) + 64;
    size_t i = q >> 6;
    if (i >= words_) return limit;
    uint64_t v = (word(i) ^ flip) & (~uint64_t{0} >> (q & 63));
    while (v == 0) {
      ++i;
      if ((i - 1) * 64 >= limit || i >= words_) return limit;
      v = word(i) ^ flip;
    }
    size_t found = (i - 1) * 64 + static_cast<size_t>(std::countl_zero(v));
    return found < limit ? static_cast<unsigned>(found) : limit;
  }

 private:
  JBIG_INLINE static uint64_t load64(const uint8_t* at) {
    uint64_t v;
    memcpy(&v, at, 8);
    if constexpr (std::endian::native == std::endian::little) return __builtin_bswap64(v);
    return v;
  }
  JBIG_INLINE uint64_t word(size_t i) const { return load64(b_.data() + 8 * i); }

  size_t words_ = 0;
  std::vector<uint8_t> b_;
};

// Spreads the 32 bits of v to the even bits of a 64-bit word, bit 31 to 62.
JBIG_INLINE uint64_t spreadBits(uint32_t v) {
  uint64_t x = v;
  x = (x | (x << 16)) & 0x0000FFFF0000FFFFull;
  x = (x | (x << 8)) & 0x00FF00FF00FF00FFull;
  x = (x | (x << 4)) & 0x0F0F0F0F0F0F0F0Full;
  x = (x | (x << 2)) & 0x3333333333333333ull;
  x = (x | (x << 1)) & 0x5555555555555555ull;
  return x;
}

JBIG_INLINE uint64_t spreadPortable(uint32_t v) { return spreadBits(v); }

// The 32 pairs j = x-5 .. x+26, pair x-5 in bits 63 (above) and 62 (this line).
template <uint64_t (*Spread)(uint32_t)>
JBIG_INLINE uint64_t pairsAt(const LineWords& above, const LineWords& line, unsigned x) {
  uint32_t up = static_cast<uint32_t>(above.at(static_cast<int64_t>(x) - 3) >> 32);
  uint32_t here = static_cast<uint32_t>(line.at(static_cast<int64_t>(x) - 5) >> 32);
  return (Spread(up) << 1) | Spread(here);
}

// Whether a window of pairs may hold 28 equal bits in a row, where a run of
// all white or all black context may start: any such stretch covers two
// whole bytes in a row that are 0x00 (or 0xFF).
JBIG_INLINE bool mayHoldRun(uint64_t pairs) {
  constexpr uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full;
  // Bit 7 of each byte set where the byte is not 0x00 (not 0xFF).
  uint64_t notWhite = ((pairs & kLow7) + kLow7) | pairs;
  uint64_t flipped = ~pairs;
  uint64_t notBlack = ((flipped & kLow7) + kLow7) | flipped;
  uint64_t whiteBytes = ~notWhite & 0x8080808080808080ull;
  uint64_t blackBytes = ~notBlack & 0x8080808080808080ull;
  return ((whiteBytes & (whiteBytes << 8)) | (blackBytes & (blackBytes << 8))) != 0;
}

// Codes one line. Dot by dot in 64-dot windows; where the context is all
// white (or all black) and the dot and the next few are its MPS, the whole
// run of such dots up to the first that changes the context is coded at
// once: between two renormalisations the interval only shrinks by Qe per
// dot, so each stretch up to the next renormalisation is one subtraction,
// and the state changes only there, as dot by dot.
template <uint64_t (*Spread)(uint32_t)>
JBIG_INLINE void encodeLineBody(CoderState& state, uint32_t* entries, const LineWords& above,
                                const LineWords& line, unsigned width) {
  uint32_t a = state.a;
  uint32_t c = state.c;
  int ct = state.ct;

  // A complete byte leaves c. The output pointer and the held-back byte stay
  // in the record: bytes are rare next to dots. A carry, or 0xFF bytes held
  // back, take the rare path.
  auto byteOut = [&]() __attribute__((always_inline)) {
    uint32_t temp = c >> 19;
    if (temp < 0xff && state.sc == 0) [[likely]] {
      if (state.buffer >= 0) *state.p++ = static_cast<uint8_t>(state.buffer);
      state.buffer = static_cast<int>(temp);
    } else {
      byteOutRare(state, temp);
    }
    c &= 0x7ffff;
  };
  auto renormalise = [&]() __attribute__((always_inline)) {
    int shift = std::countl_zero(a) - 16;  // a is in 1 .. 0x7fff here
    while (shift >= ct) {
      a <<= ct;
      c <<= ct;
      shift -= ct;
      byteOut();
      ct = 8;
    }
    a <<= shift;
    c <<= shift;
    ct -= shift;
  };
  // `window` is the dot's pair window: context and, in bit 0, the dot.
  auto encode = [&](unsigned window) __attribute__((always_inline)) {
    unsigned cx = window & kPairWindowMask;
    uint32_t e = entries[cx];
    uint32_t qe = e >> 16;
    a -= qe;
    if ((e ^ window) & 1) {
      // The LPS takes the upper part of the interval unless that part is
      // the larger one, when the two exchange.
      if (a >= qe) {
        c += a;
        a = qe;
      }
      entries[cx] = kTables.afterLps[e & 0xff];
      renormalise();
    } else if (a < 0x8000) {
      if (a < qe) {
        c += a;
        a = qe;
      }
      entries[cx] = kTables.afterMps[e & 0xff];
      renormalise();
    }
  };
  auto encodeRun = [&](unsigned cx, uint32_t n) __attribute__((always_inline)) {
    for (;;) {
      uint32_t e = entries[cx];
      uint32_t qe = e >> 16;
      uint32_t untilRenorm = (a - 0x8000) / qe + 1;
      if (n < untilRenorm) {
        a -= n * qe;
        return;
      }
      a -= untilRenorm * qe;
      n -= untilRenorm;
      if (a < qe) {
        c += a;
        a = qe;
      }
      entries[cx] = kTables.afterMps[e & 0xff];
      renormalise();
      if (n == 0) return;
    }
  };

  unsigned x = 0;
  while (x < width) {
    unsigned n = std::min(kDotsPerWindow, width - x);
    uint64_t pairs = pairsAt<Spread>(above, line, x);
    unsigned left = n;
    if (!mayHoldRun(pairs)) {
      for (; left >= 3; left -= 3) {
        encode(static_cast<unsigned>(pairs >> 52));
        encode(static_cast<unsigned>(pairs >> 50));
        encode(static_cast<unsigned>(pairs >> 48));
        pairs <<= 6;
      }
      for (; left > 0; --left) {
        encode(static_cast<unsigned>(pairs >> 52));
        pairs <<= 2;
      }
    } else {
      for (; left > 0; --left) {
        // The context and the next eight dots here and above all white, or
        // all black: perhaps a run.
        int64_t top = static_cast<int64_t>(pairs) >> 36;
        if (static_cast<uint64_t>(top + 1) < 2) [[unlikely]] {
          unsigned dot = static_cast<unsigned>(pairs >> 63);
          if ((entries[dot ? kAllBlack : kAllWhite] & 1) == dot) break;
        }
        encode(static_cast<unsigned>(pairs >> 52));
        pairs <<= 2;
      }
    }
    x += n - left;
    if (left == 0) continue;

    // A dot x' of the run keeps the context uniform while it and the dot
    // two to its right in the line above have the run's value.
    unsigned dot = static_cast<unsigned>(pairs >> 63);
    unsigned endHere = line.firstNot(dot, x, width);
    unsigned endAbove = above.firstNot(dot, x + 3, width + 2) - 2;
    unsigned end = std::min(endHere, endAbove);
    encodeRun(dot ? kAllBlack : kAllWhite, end - x);
    x = end;
  }

  state.a = a;
  state.c = c;
  state.ct = ct;
}

// Drops the zero bytes at the end of a stripe's coded data (a decoder reads
// missing bytes as zeros), but never the stuffing byte after a 0xFF.
size_t withoutTrailingZeros(const uint8_t* start, size_t length) {
  while (length > 0 && start[length - 1] == 0 &&
         !(length > 1 && start[length - 2] == kMarkerEsc))
    --length;
  return length;
}

void putBigEndian32(uint8_t* at, uint32_t value) {
  at[0] = static_cast<uint8_t>(value >> 24);
  at[1] = static_cast<uint8_t>(value >> 16);
  at[2] = static_cast<uint8_t>(value >> 8);
  at[3] = static_cast<uint8_t>(value);
}

using LineCoder = void (*)(CoderState&, uint32_t*, const LineWords&, const LineWords&, unsigned);

void encodeStripeWith(LineCoder encodeLine, const uint8_t* firstLine, size_t stride,
                      unsigned width, unsigned lines, std::vector<uint8_t>& out) {

  std::array<uint32_t, kContexts> entries;
  entries.fill(kInitialEntry);
  size_t words = (static_cast<size_t>(width) + 63) / 64;
  LineWords buffers[2];
  buffers[0].resize(words);
  buffers[1].resize(words);

  CoderState coder;
  StripeOutput coded;
  coder.out = &coded;
  coder.lineRoom = kBytesPerDot * width + kOutputSlack;

  // The first line of a stripe sees white above it.
  LineWords* above = &buffers[0];
  LineWords* line = &buffers[1];
  for (unsigned y = 0; y < lines; ++y) {
    line->load(firstLine + y * stride, width);
    coder.ensure(coder.lineRoom);
    encodeLine(coder, entries.data(), *above, *line, width);
    std::swap(above, line);
  }
  coder.flush();

  size_t length = coder.p ? static_cast<size_t>(coder.p - coded.bytes.get()) : 0;
  length = withoutTrailingZeros(coded.bytes.get(), length);
  out.insert(out.end(), coded.bytes.get(), coded.bytes.get() + length);
  out.push_back(kMarkerEsc);
  out.push_back(kMarkerSdrst);
}

[[gnu::noinline]] void encodeLinePortable(CoderState& state, uint32_t* entries,
                                          const LineWords& above, const LineWords& line,
                                          unsigned width) {
  encodeLineBody<spreadPortable>(state, entries, above, line, width);
}

void encodeStripePortable(const uint8_t* firstLine, size_t stride, unsigned width,
                          unsigned lines, std::vector<uint8_t>& out) {
  encodeStripeWith(encodeLinePortable, firstLine, stride, width, lines, out);
}

#if defined(__x86_64__)
#define JBIG_HAVE_X86_PATH 1
// The same coder built for CPUs with BMI1/BMI2/LZCNT: shifts, leading-zero
// counts and bit scans become single instructions, and the pair stream is
// spread with PDEP.
__attribute__((target("bmi2"))) inline uint64_t spreadPdep(uint32_t v) {
  return _pdep_u64(v, 0x5555555555555555ull);
}

[[gnu::noinline]] __attribute__((target("bmi,bmi2,lzcnt,popcnt"))) void encodeLineBmi(
    CoderState& state, uint32_t* entries, const LineWords& above, const LineWords& line,
    unsigned width) {
  encodeLineBody<spreadPdep>(state, entries, above, line, width);
}

void encodeStripeBmi(const uint8_t* firstLine, size_t stride, unsigned width, unsigned lines,
                     std::vector<uint8_t>& out) {
  encodeStripeWith(encodeLineBmi, firstLine, stride, width, lines, out);
}
#endif

using StripeFunction = void (*)(const uint8_t*, size_t, unsigned, unsigned, std::vector<uint8_t>&);

struct ChosenCoder {
  StripeFunction coder;
  const char* name;
};

#ifdef JBIG_HAVE_X86_PATH
// BMI1 and BMI2 (CPUID leaf 7, EBX bits 3 and 8), LZCNT (leaf 0x80000001,
// ECX bit 5) and POPCNT (leaf 1, ECX bit 23).
bool cpuHasBmiPath() {
  unsigned a, b, c, d;
  if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & (1u << 23))) return false;
  if (!__get_cpuid_count(7, 0, &a, &b, &c, &d) || !(b & (1u << 3)) || !(b & (1u << 8)))
    return false;
  return __get_cpuid(0x80000001, &a, &b, &c, &d) && (c & (1u << 5));
}
#endif

ChosenCoder chooseCoder() {
#ifdef JBIG_HAVE_X86_PATH
  if (cpuHasBmiPath()) return {encodeStripeBmi, "x86-64 BMI2"};
#endif
  return {encodeStripePortable, "portable"};
}

const ChosenCoder& chosenCoder() {
  static const ChosenCoder chosen = chooseCoder();
  return chosen;
}

}  // namespace

void writeHeader(unsigned width, unsigned height, uint8_t header[kHeaderSize]) {
  header[0] = 0;  // lowest resolution layer
  header[1] = 0;  // highest: one layer only
  header[2] = 1;  // one bit plane
  header[3] = 0;
  putBigEndian32(header + 4, width);
  putBigEndian32(header + 8, height);
  putBigEndian32(header + 12, kStripeLines);
  header[16] = 0;  // no adaptive template moves
  header[17] = 0;
  header[18] = 0;  // order
  header[19] = kOptionsLrlTwo;
}

void encodeStripe(const uint8_t* firstLine, size_t stride, unsigned width, unsigned lines,
                  std::vector<uint8_t>& out, StripeCoder coder) {
  if (width == 0 || lines == 0) return;
  if (coder == StripeCoder::Portable)
    encodeStripePortable(firstLine, stride, width, lines, out);
  else
    chosenCoder().coder(firstLine, stride, width, lines, out);
}

void encodePlane(const uint8_t* plane, unsigned width, unsigned height, std::vector<uint8_t>& out) {
  uint8_t header[kHeaderSize];
  writeHeader(width, height, header);
  out.insert(out.end(), header, header + kHeaderSize);
  size_t stride = (static_cast<size_t>(width) + 7) / 8;
  for (unsigned y = 0; y < height; y += kStripeLines)
    encodeStripe(plane + y * stride, stride, width, std::min(kStripeLines, height - y), out);
}

const char* stripeCoderName() { return chosenCoder().name; }

}  // namespace jbig
