#include "imaging/jbig_encoder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

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

// A context's state byte: bit 7 the MPS, bits 0..6 the estimation state.
// The LPS transition carries the MPS swap in its bit 7, to be XORed in.
struct StateTables {
  std::array<uint32_t, 128> qe{};
  std::array<uint8_t, 128> nmps{};
  std::array<uint8_t, 128> nlps{};
};

constexpr StateTables makeTables() {
  StateTables t;
  for (size_t i = 0; i < std::size(kQeRows); ++i) {
    t.qe[i] = kQeRows[i].qe;
    t.nmps[i] = kQeRows[i].nmps;
    t.nlps[i] = static_cast<uint8_t>(kQeRows[i].nlps | (kQeRows[i].swap << 7));
  }
  return t;
}

constexpr StateTables kTables = makeTables();

// Two-line template: bits 9..4 the line above at x-3 .. x+2, bits 3..0 this
// line at x-4 .. x-1.
constexpr unsigned kContexts = 1024;
constexpr unsigned kAllBlack = kContexts - 1;

// Output room the coder may use between two checks: per coded dot at most
// two bytes out, each possibly stuffed (0xFF 0x00 pairs of pending bytes
// are checked for on their own).
constexpr size_t kBytesPerDot = 4;
constexpr size_t kOutputSlack = 64;

[[gnu::noinline]] uint8_t* growOutput(std::vector<uint8_t>& out, uint8_t* at, size_t need) {
  size_t used = static_cast<size_t>(at - out.data());
  out.resize(std::max(out.size() * 2, used + need + 4096));
  return out.data() + used;
}

// The QM coder of one stripe, with its output. Kept as a local object of the
// stripe coder so that its registers stay in registers.
struct Coder {
  uint32_t a = 0x10000;  // interval size
  uint32_t c = 0;        // code register: carry at bit 27, next byte at 19..26
  int ct = 11;           // shifts until the next byte is complete
  uint32_t sc = 0;       // 0xFF bytes held back, a carry may still reach them
  int buffer = -1;       // the byte held back before them, -1 for none
  uint8_t* p = nullptr;  // next output byte
  uint8_t* end = nullptr;
  size_t lineRoom = 0;   // room every line may use without a check
  std::vector<uint8_t>* out = nullptr;

  JBIG_INLINE void ensure(size_t n) {
    if (static_cast<size_t>(end - p) < n) {
      p = growOutput(*out, p, n);
      end = out->data() + out->size();
    }
  }

  JBIG_INLINE void put(uint8_t byte) { *p++ = byte; }

  JBIG_INLINE void putStuffed(uint8_t byte) {
    *p++ = byte;
    if (byte == kMarkerEsc) *p++ = kMarkerStuff;
  }

  // A byte is complete in c: it may carry into the bytes held back.
  JBIG_INLINE void byteOut() {
    uint32_t temp = c >> 19;
    if (temp > 0xff) {
      if (buffer >= 0) putStuffed(static_cast<uint8_t>(buffer + 1));
      if (sc) {
        ensure(sc + lineRoom);
        memset(p, 0, sc);
        p += sc;
        sc = 0;
      }
      buffer = static_cast<int>(temp & 0xff);
    } else if (temp == 0xff) {
      ++sc;
    } else {
      if (buffer >= 0) put(static_cast<uint8_t>(buffer));
      if (sc) heldFFs();
      buffer = static_cast<int>(temp);
    }
    c &= 0x7ffff;
    ct = 8;
  }

  JBIG_INLINE void heldFFs() {
    ensure(2 * static_cast<size_t>(sc) + lineRoom);
    for (; sc; --sc) {
      put(kMarkerEsc);
      put(kMarkerStuff);
    }
  }

  JBIG_INLINE void renormalise() {
    int shift = std::countl_zero(a) - 16;  // a is in 1 .. 0x7fff here
    while (shift >= ct) {
      a <<= ct;
      c <<= ct;
      shift -= ct;
      byteOut();
    }
    a <<= shift;
    c <<= shift;
    ct -= shift;
  }

  JBIG_INLINE void encode(uint8_t* states, unsigned cx, unsigned pix) {
    unsigned s = states[cx];
    unsigned index = s & 0x7f;
    uint32_t qe = kTables.qe[index];
    a -= qe;
    if ((s >> 7) != pix) {
      // The LPS takes the upper part of the interval unless that part is
      // the larger one, when the two exchange.
      if (a >= qe) {
        c += a;
        a = qe;
      }
      states[cx] = static_cast<uint8_t>((s & 0x80) ^ kTables.nlps[index]);
      renormalise();
    } else if (a < 0x8000) {
      if (a < qe) {
        c += a;
        a = qe;
      }
      states[cx] = static_cast<uint8_t>((s & 0x80) | kTables.nmps[index]);
      renormalise();
    }
  }

  // Codes `n` MPS of one context in a row. Between two renormalisations the
  // interval only shrinks by Qe per dot, so each stretch up to the next
  // renormalisation is one subtraction; the state changes only there.
  JBIG_INLINE void encodeRun(uint8_t& state, uint32_t n) {
    for (;;) {
      unsigned s = state;
      unsigned index = s & 0x7f;
      uint32_t qe = kTables.qe[index];
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
      state = static_cast<uint8_t>((s & 0x80) | kTables.nmps[index]);
      renormalise();
      if (n == 0) return;
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
        for (; sc; --sc) put(0x00);
    } else {
      if (buffer >= 0) put(static_cast<uint8_t>(buffer));
      for (; sc; --sc) {
        put(kMarkerEsc);
        put(kMarkerStuff);
      }
    }
    if (c & 0x7fff800u) {
      putStuffed(static_cast<uint8_t>((c >> 19) & 0xff));
      if (c & 0x7f800u) putStuffed(static_cast<uint8_t>((c >> 11) & 0xff));
    }
  }
};

// A line as 64-bit words, dot 0 in bit 63 of word 1; word 0 and the two words
// after the line are zero, so that windows reaching past either end read
// white. Bits past the width are cleared.
class LineWords {
 public:
  void resize(size_t words) { w_.assign(words + 3, 0); }

  void clear() { std::fill(w_.begin(), w_.end(), 0); }

  void load(const uint8_t* line, unsigned width) {
    size_t bytes = (static_cast<size_t>(width) + 7) / 8;
    size_t whole = bytes / 8;
    uint64_t* w = w_.data() + 1;
    for (size_t i = 0; i < whole; ++i) {
      uint64_t v;
      memcpy(&v, line + 8 * i, 8);
      w[i] = fromBigEndian(v);
    }
    size_t rest = bytes % 8;
    if (rest) {
      uint64_t v = 0;
      for (size_t i = 0; i < rest; ++i) v |= uint64_t{line[8 * whole + i]} << (56 - 8 * i);
      w[whole] = v;
    }
    size_t last = (width - 1) / 64;
    unsigned valid = width - 64 * static_cast<unsigned>(last);
    w[last] &= ~uint64_t{0} << (64 - valid);
  }

  // 64 dots from dot `x` on (x >= -64), the first in bit 63.
  JBIG_INLINE uint64_t at(int64_t x) const {
    uint64_t q = static_cast<uint64_t>(x + 64);
    size_t i = q >> 6;
    unsigned o = q & 63;
    const uint64_t* w = w_.data();
    return o ? (w[i] << o) | (w[i + 1] >> (64 - o)) : w[i];
  }

  // The first dot at or after `x` whose value differs from `dot`, or
  // `limit` if there is none before it.
  JBIG_INLINE unsigned firstNot(unsigned dot, unsigned x, unsigned limit) const {
    uint64_t flip = dot ? ~uint64_t{0} : 0;
    size_t q = static_cast<size_t>(x) + 64;
    size_t i = q >> 6;
    uint64_t v = (w_[i] ^ flip) & (~uint64_t{0} >> (q & 63));
    while (v == 0) {
      ++i;
      if ((i - 1) * 64 >= limit || i >= w_.size()) return limit;
      v = w_[i] ^ flip;
    }
    size_t found = (i - 1) * 64 + static_cast<size_t>(std::countl_zero(v));
    return found < limit ? static_cast<unsigned>(found) : limit;
  }

 private:
  static uint64_t fromBigEndian(uint64_t v) {
    if constexpr (std::endian::native == std::endian::little) return __builtin_bswap64(v);
    return v;
  }

  std::vector<uint64_t> w_;
};

JBIG_INLINE unsigned contextAt(const LineWords& above, const LineWords& line, unsigned x) {
  unsigned upper = static_cast<unsigned>(above.at(static_cast<int64_t>(x) - 3) >> 58);
  unsigned left = static_cast<unsigned>(line.at(static_cast<int64_t>(x) - 4) >> 60);
  return (upper << 4) | left;
}

// Codes one line. Dot by dot in 64-dot windows; where the context is all
// white (or all black) and the dot is its MPS, the whole run of such dots
// up to the first that changes the context is coded at once.
JBIG_INLINE void encodeLine(Coder& coder, uint8_t* states, const LineWords& above,
                            const LineWords& line, unsigned width) {
  unsigned x = 0;
  unsigned cx = contextAt(above, line, 0);
  while (x < width) {
    unsigned n = std::min(64u, width - x);
    uint64_t cw = line.at(x);
    uint64_t pw = above.at(static_cast<int64_t>(x) + 3);
    unsigned i = 0;
    unsigned runDot = 0;
    for (; i < n; ++i) {
      if (cx == 0) {
        if ((cw | pw) == 0 && (states[0] >> 7) == 0) {
          runDot = 0;
          break;
        }
      } else if (cx == kAllBlack) {
        unsigned shift = 64 - (n - i);
        if (((~cw | ~pw) >> shift) == 0 && (states[kAllBlack] >> 7) == 1) {
          runDot = 1;
          break;
        }
      }
      unsigned pix = static_cast<unsigned>(cw >> 63);
      coder.encode(states, cx, pix);
      cx = ((cx << 1) & 0x3ee) | (static_cast<unsigned>(pw >> 63) << 4) | pix;
      cw <<= 1;
      pw <<= 1;
    }
    x += i;
    if (i == n) continue;

    // A dot x' of the run keeps the context uniform while it and the dot
    // two to its right in the line above have the run's value.
    unsigned endHere = line.firstNot(runDot, x, width);
    unsigned endAbove = above.firstNot(runDot, x + 3, width + 2) - 2;
    unsigned end = std::min(endHere, endAbove);
    coder.encodeRun(states[cx], end - x);
    x = end;
    if (x < width) cx = contextAt(above, line, x);
  }
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

JBIG_INLINE void encodeStripeBody(const uint8_t* firstLine, size_t stride, unsigned width,
                                  unsigned lines, std::vector<uint8_t>& out) {
  size_t start = out.size();
  std::array<uint8_t, kContexts> states{};
  size_t words = (static_cast<size_t>(width) + 63) / 64;
  LineWords buffers[2];
  buffers[0].resize(words);
  buffers[1].resize(words);

  Coder coder;
  coder.out = &out;
  coder.p = out.data() + start;
  coder.end = out.data() + out.size();
  coder.lineRoom = kBytesPerDot * width + kOutputSlack;

  // The first line of a stripe sees white above it.
  LineWords* above = &buffers[0];
  LineWords* line = &buffers[1];
  for (unsigned y = 0; y < lines; ++y) {
    line->load(firstLine + y * stride, width);
    coder.ensure(coder.lineRoom);
    encodeLine(coder, states.data(), *above, *line, width);
    std::swap(above, line);
  }
  coder.flush();

  size_t coded = static_cast<size_t>(coder.p - (out.data() + start));
  coded = withoutTrailingZeros(out.data() + start, coded);
  out.resize(start + coded);
  out.push_back(kMarkerEsc);
  out.push_back(kMarkerSdrst);
}

void encodeStripePortable(const uint8_t* firstLine, size_t stride, unsigned width,
                          unsigned lines, std::vector<uint8_t>& out) {
  encodeStripeBody(firstLine, stride, width, lines, out);
}

#if defined(__x86_64__) && !defined(__SANITIZE_THREAD__) && !defined(__SANITIZE_ADDRESS__)
#define JBIG_HAVE_X86_PATH 1
// The same coder built for CPUs with BMI1/BMI2/LZCNT: shifts, leading-zero
// counts and bit scans become single instructions.
__attribute__((target("bmi,bmi2,lzcnt,popcnt"))) void encodeStripeBmi(
    const uint8_t* firstLine, size_t stride, unsigned width, unsigned lines,
    std::vector<uint8_t>& out) {
  encodeStripeBody(firstLine, stride, width, lines, out);
}
#endif

using StripeCoder = void (*)(const uint8_t*, size_t, unsigned, unsigned, std::vector<uint8_t>&);

struct ChosenCoder {
  StripeCoder coder;
  const char* name;
};

ChosenCoder chooseCoder() {
#ifdef JBIG_HAVE_X86_PATH
  __builtin_cpu_init();
  if (__builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2") &&
      __builtin_cpu_supports("lzcnt") && __builtin_cpu_supports("popcnt"))
    return {encodeStripeBmi, "x86-64 BMI2"};
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
                  std::vector<uint8_t>& out) {
  if (width == 0 || lines == 0) return;
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
