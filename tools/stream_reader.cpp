// Reads a job stream back into its parts and checks every byte it can.
#include "tools/stream_reader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

extern "C" {
#include <jbig.h>
}

namespace zerudump {

namespace {

// Offsets in the page-start record.
constexpr size_t kPaperCodeAt = 6;
constexpr size_t kMediaCodeAt = 7;
constexpr size_t kDotsPerLineAt = 8;
constexpr size_t kLinesAt = 12;
constexpr size_t kRawSizeAt = 16;
constexpr size_t kCompressedSizeAt = 20;
constexpr size_t kPlaneLengthAt[4] = {28, 32, 36, 24};   // by plane number
constexpr size_t kResolutionAt = 42;
constexpr size_t kPaperWidthAt = 44;
constexpr size_t kPaperHeightAt = 46;
constexpr size_t kCancelMarkAt = 6;
constexpr size_t kCopiesAt = 8;
constexpr size_t kCheckByteAt = 63;

// Planes as they follow the page-start record.
constexpr int kColourDataOrder[4] = {2, 1, 0, 3};
constexpr int kGrayDataOrder[1] = {3};

// JBIG-KIT refuses images beyond these sizes, so that a damaged header
// cannot make the decoder allocate gigabytes.
constexpr unsigned long kMaxDecodeWidth = 32768;
constexpr unsigned long kMaxDecodeHeight = 65536;

// How far a PJL line is looked for before the envelope is given up.
constexpr size_t kMaxPjlSearch = 4096;

std::string format(const char* fmt, auto... args) {
  char buf[512];
  std::snprintf(buf, sizeof buf, fmt, args...);
  return buf;
}

class Parser {
public:
  Parser(std::span<const uint8_t> bytes, JobStream& out, const ParseOptions& options)
      : s_(bytes), js_(out), options_(options) {
    js_.size = bytes.size();
  }

  void run() {
    parseEnvelope();
    parseJobStart();
    parseBody();
  }

private:
  std::span<const uint8_t> s_;
  JobStream& js_;
  const ParseOptions& options_;
  size_t pos_ = 0;
  bool cancelSeen_ = false;
  size_t cancelOffset_ = 0;

  void problem(size_t offset, std::string message) {
    js_.problems.push_back({offset, std::move(message)});
  }

  bool startsWith(size_t at, std::string_view text) const {
    return at <= s_.size() && s_.size() - at >= text.size() &&
           std::memcmp(s_.data() + at, text.data(), text.size()) == 0;
  }

  bool hasLeadIn(size_t at) const { return startsWith(at, std::string_view("\x1bLH@", 4)); }

  bool isKnownCode(size_t at) const {
    if (at + 6 > s_.size()) return false;
    const char c0 = char(s_[at + 4]), c1 = char(s_[at + 5]);
    return (c0 == 's' && (c1 == 'j' || c1 == 'p')) || (c0 == 'e' && c1 == 'p');
  }

  bool isKnownRecordAt(size_t at) const { return hasLeadIn(at) && isKnownCode(at); }

  bool isRecordCode(size_t at, char c0, char c1) const {
    return hasLeadIn(at) && at + 6 <= s_.size() && s_[at + 4] == uint8_t(c0) &&
           s_[at + 5] == uint8_t(c1);
  }

  // The next place where a record or the trailer begins, or the end.
  size_t findNextBoundary(size_t from) const {
    for (size_t i = from; i < s_.size(); ++i) {
      if (s_[i] == 0x1b && (isKnownRecordAt(i) || startsWith(i, kStreamUel))) return i;
    }
    return s_.size();
  }

  bool checkRecord(size_t at, const char* what) {
    const uint8_t* rec = s_.data() + at;
    const uint8_t expected = streamRecordCheckByte(rec);
    if (rec[kCheckByteAt] != expected) {
      problem(at + kCheckByteAt, format("%s record: check byte 0x%02X, expected 0x%02X", what,
                                        rec[kCheckByteAt], expected));
      return false;
    }
    return true;
  }

  void checkZero(size_t at, size_t from, size_t to, const char* what) {
    for (size_t i = from; i < to; ++i) {
      if (s_[at + i] != 0) {
        problem(at + i, format("%s record: reserved byte %zu is 0x%02X, not 0", what, i,
                               s_[at + i]));
      }
    }
  }

  // ---- PJL envelope ----

  // Reads one line at pos_; false when no line end is found.
  bool readPjlLine(PjlLine& line) {
    const size_t limit = std::min(s_.size(), pos_ + kMaxPjlSearch);
    size_t lf = pos_;
    while (lf < limit && s_[lf] != '\n') ++lf;
    if (lf >= limit) {
      problem(pos_, "PJL line without a line end");
      return false;
    }
    size_t end = lf;
    if (end > pos_ && s_[end - 1] == '\r') {
      --end;
    } else {
      problem(lf, "PJL line ends in LF without CR");
    }
    line.offset = pos_;
    line.text.assign(reinterpret_cast<const char*>(s_.data() + pos_), end - pos_);
    if (lf + 1 - pos_ > kMaxPjlLine) {
      problem(pos_, format("PJL line of %zu bytes, more than %zu", lf + 1 - pos_, kMaxPjlLine));
    }
    for (size_t i = pos_; i < end; ++i) {
      if (s_[i] < 0x20 || s_[i] == 0x7f) {
        problem(i, format("control byte 0x%02X in a PJL line", s_[i]));
        break;
      }
    }
    pos_ = lf + 1;
    return true;
  }

  // Checks one line's syntax and collects its settings. Returns true for
  // the line that enters the page language.
  bool interpretPjlLine(const PjlLine& line) {
    const std::string& t = line.text;
    if (t.rfind("@PJL", 0) != 0) {
      problem(line.offset, "line does not begin with @PJL");
      return false;
    }
    if (t.size() == 4) return false;   // a bare "@PJL" is allowed
    if (t[4] != ' ') {
      problem(line.offset + 4, "no blank after @PJL");
      return false;
    }
    const std::string rest = t.substr(5);
    const std::string command = rest.substr(0, rest.find(' '));
    const std::string args = command.size() < rest.size() ? rest.substr(command.size() + 1) : "";
    if (command == "JOB" || command == "COMMENT") return false;
    if (command == "SET") {
      const size_t eq = args.find('=');
      if (eq == std::string::npos || eq == 0) {
        problem(line.offset, "@PJL SET without KEY=VALUE");
        return false;
      }
      const std::string key = args.substr(0, eq);
      const std::string value = args.substr(eq + 1);
      if (key == "JOBATTR") {
        const size_t colon = value.find(':');
        if (colon == std::string::npos || colon == 0) {
          problem(line.offset, "@PJL SET JOBATTR without NAME:VALUE");
        } else {
          js_.jobAttributes.emplace_back(value.substr(0, colon), value.substr(colon + 1));
        }
      } else {
        js_.settings.emplace_back(key, value);
      }
      return false;
    }
    if (command == "ENTER") {
      if (t != kEnterLanguageLine) problem(line.offset, "enters another language: " + t);
      return true;
    }
    if (command == "EOJ") {
      problem(line.offset, "@PJL EOJ inside the job header");
      return false;
    }
    problem(line.offset, "unknown PJL command " + command);
    return false;
  }

  void parseEnvelope() {
    if (!startsWith(0, kStreamUel)) {
      problem(0, "the stream does not begin with the UEL (ESC %-12345X)");
      // A failed job may leave a comment line before anything else.
      while (pos_ < s_.size() && startsWith(pos_, "@PJL")) {
        PjlLine line;
        if (!readPjlLine(line)) return;
        interpretPjlLine(line);
        js_.envelope.push_back(line);
      }
      if (!startsWith(pos_, kStreamUel)) return;
    }
    pos_ += kStreamUel.size();
    bool sawJob = false;
    while (pos_ < s_.size()) {
      if (hasLeadIn(pos_)) {
        problem(pos_, "command records begin before @PJL ENTER LANGUAGE=ZERU");
        return;
      }
      PjlLine line;
      if (!readPjlLine(line)) {
        pos_ = findNextBoundary(pos_);
        return;
      }
      if (line.text.rfind("@PJL JOB", 0) == 0) sawJob = true;
      const bool enter = interpretPjlLine(line);
      js_.envelope.push_back(line);
      if (enter) {
        if (!sawJob) problem(line.offset, "no @PJL JOB line before the page language");
        return;
      }
    }
    problem(pos_, "the stream ends inside the PJL job header");
  }

  // ---- records ----

  void parseJobStart() {
    if (pos_ >= s_.size()) return;
    if (!isRecordCode(pos_, 's', 'j')) {
      problem(pos_, "no job-start record after the PJL job header");
      return;
    }
    if (pos_ + kStreamRecordSize > s_.size()) {
      problem(pos_, "the stream ends inside the job-start record");
      pos_ = s_.size();
      return;
    }
    const uint8_t* rec = s_.data() + pos_;
    js_.hasJobStart = true;
    js_.jobStart.offset = pos_;
    js_.jobStart.startFlag = rec[6];
    js_.jobStart.copies = readLe16(rec + kCopiesAt);
    js_.jobStart.checkByte = rec[kCheckByteAt];
    checkRecord(pos_, "job-start");
    checkZero(pos_, 7, 8, "job-start");
    checkZero(pos_, 10, 63, "job-start");
    pos_ += kStreamRecordSize;
  }

  void parseBody() {
    while (pos_ < s_.size()) {
      if (startsWith(pos_, kStreamUel)) {
        parseTrailer();
        return;
      }
      if (hasLeadIn(pos_)) {
        if (pos_ + kStreamRecordSize > s_.size()) {
          problem(pos_, "the stream ends inside a command record");
          pos_ = s_.size();
          break;
        }
        if (isRecordCode(pos_, 's', 'p')) {
          parsePage();
        } else if (isRecordCode(pos_, 'e', 'p')) {
          problem(pos_, "page-end record without a page-start record");
          checkRecord(pos_, "page-end");
          pos_ += kStreamRecordSize;
        } else if (isRecordCode(pos_, 's', 'j')) {
          problem(pos_, "a second job-start record");
          pos_ += kStreamRecordSize;
        } else {
          problem(pos_ + 4, format("unknown record code 0x%02X 0x%02X", s_[pos_ + 4], s_[pos_ + 5]));
          pos_ += kStreamRecordSize;
        }
        continue;
      }
      const size_t next = findNextBoundary(pos_ + 1);
      problem(pos_, format("%zu unexpected bytes where a record or the trailer belongs", next - pos_));
      pos_ = next;
    }
    problem(s_.size(), "the stream ends without the trailer (UEL and @PJL EOJ)");
  }

  void parsePage() {
    PageBlock page;
    page.number = int(js_.pages.size()) + 1;
    page.offset = pos_;
    const size_t at = pos_;
    const uint8_t* rec = s_.data() + at;
    if (cancelSeen_) {
      problem(at, format("page %d follows the cancelled page-end record at offset %zu",
                         page.number, cancelOffset_));
    }
    page.checkByteOk = checkRecord(at, "page-start");
    page.paperCode = rec[kPaperCodeAt];
    page.mediaCode = rec[kMediaCodeAt];
    page.dotsPerLine = readLe32(rec + kDotsPerLineAt);
    page.lines = readLe32(rec + kLinesAt);
    page.rawSize = readLe32(rec + kRawSizeAt);
    page.compressedSize = readLe32(rec + kCompressedSizeAt);
    for (int p = 0; p < 4; ++p) page.planeLength[p] = readLe32(rec + kPlaneLengthAt[p]);
    page.resolution = readLe16(rec + kResolutionAt);
    page.paperWidth10 = readLe16(rec + kPaperWidthAt);
    page.paperHeight10 = readLe16(rec + kPaperHeightAt);
    checkZero(at, 40, 42, "page-start");
    checkZero(at, 48, 63, "page-start");

    if (page.dotsPerLine == 0 || page.dotsPerLine % 8 != 0) {
      problem(at + kDotsPerLineAt, format("dots per line %u is not a positive multiple of 8",
                                          page.dotsPerLine));
    }
    if (page.lines == 0) problem(at + kLinesAt, "page of 0 lines");
    const uint64_t planeBytes = uint64_t(page.lines) * (page.dotsPerLine / 8);
    if (rawSizeIsColour(page.rawSize, page.lines, page.dotsPerLine)) {
      page.colour = true;
    } else if (page.rawSize != planeBytes) {
      problem(at + kRawSizeAt,
              format("raw size %u is neither 1 nor 4 planes of %llu bytes", page.rawSize,
                     static_cast<unsigned long long>(planeBytes)));
      page.colour = page.planeLength[0] || page.planeLength[1] || page.planeLength[2];
    }

    uint64_t declared = 0;
    if (page.colour) {
      for (int p = 0; p < 4; ++p) declared += page.planeLength[p];
    } else {
      declared = page.planeLength[3];
      for (int p = 0; p < 3; ++p) {
        if (page.planeLength[p] != 0) {
          problem(at + kPlaneLengthAt[p], format("grayscale page with a length of %u for plane %d",
                                                 page.planeLength[p], p));
        }
      }
    }
    if (page.compressedSize != declared) {
      problem(at + kCompressedSizeAt,
              format("compressed size %u differs from the plane lengths' sum %llu",
                     page.compressedSize, static_cast<unsigned long long>(declared)));
    }

    // Where the page data really ends: at the announced end when a record or
    // the trailer begins there, otherwise at the next record or trailer.
    const size_t dataStart = at + kStreamRecordSize;
    size_t dataEnd;
    if (declared <= s_.size() - dataStart &&
        (dataStart + declared == s_.size() || hasLeadIn(dataStart + declared) ||
         startsWith(dataStart + declared, kStreamUel))) {
      dataEnd = dataStart + declared;
    } else {
      dataEnd = findNextBoundary(dataStart);
    }
    page.dataOffset = dataStart;
    page.dataPresent = dataEnd - dataStart;
    if (page.compressedSize != page.dataPresent && page.compressedSize == declared) {
      problem(at + kCompressedSizeAt,
              format("compressed size %u but %zu bytes of page data are present", page.compressedSize,
                     page.dataPresent));
    }
    if (page.dataPresent > declared) {
      problem(dataStart + declared, format("%llu bytes follow the page data before offset %zu",
                                           static_cast<unsigned long long>(page.dataPresent - declared),
                                           dataEnd));
    }

    size_t cursor = dataStart;
    const int* order = page.colour ? kColourDataOrder : kGrayDataOrder;
    const int planeCount = page.colour ? 4 : 1;
    for (int i = 0; i < planeCount; ++i) {
      PlaneEntity entity;
      entity.plane = order[i];
      entity.offset = cursor;
      entity.declaredLength = page.planeLength[entity.plane];
      entity.presentLength = std::min<size_t>(entity.declaredLength, dataEnd - cursor);
      if (entity.presentLength < entity.declaredLength) {
        problem(cursor + entity.presentLength,
                format("plane %d is cut short: %zu of %u bytes present (length field at offset %zu)",
                       entity.plane, entity.presentLength, entity.declaredLength,
                       at + kPlaneLengthAt[entity.plane]));
      }
      checkEntity(page, entity);
      cursor += entity.presentLength;
      page.planes.push_back(std::move(entity));
    }
    pos_ = dataEnd;

    if (isRecordCode(pos_, 'e', 'p') && pos_ + kStreamRecordSize <= s_.size()) {
      const uint8_t* end = s_.data() + pos_;
      page.hasEnd = true;
      page.endOffset = pos_;
      page.cancelMark = end[kCancelMarkAt];
      page.endCheckByteOk = checkRecord(pos_, "page-end");
      if (page.cancelMark > 1) {
        problem(pos_ + kCancelMarkAt, format("cancel mark %u is neither 0 nor 1", page.cancelMark));
      }
      checkZero(pos_, 7, 63, "page-end");
      if (page.cancelMark != 0 && !cancelSeen_) {
        cancelSeen_ = true;
        cancelOffset_ = pos_;
      }
      pos_ += kStreamRecordSize;
    } else {
      problem(pos_, format("page %d (record at offset %zu) has no page-end record", page.number,
                           page.offset));
    }

    if (options_.pageDone) options_.pageDone(page);
    if (!options_.keepPlanes) {
      for (auto& entity : page.planes) entity.decoded = DecodedPlane{};
    }
    js_.pages.push_back(std::move(page));
  }

  // Checks the entity's header against the page record and decodes it.
  void checkEntity(const PageBlock& page, PlaneEntity& entity) {
    const auto bytes = s_.subspan(entity.offset, entity.presentLength);
    if (entity.declaredLength == 0) {
      problem(page.offset + kPlaneLengthAt[entity.plane], format("plane %d has no data", entity.plane));
      return;
    }
    if (!parseJbigHeader(bytes, entity.header)) {
      problem(entity.offset, format("plane %d: %zu bytes are too few for a JBIG header",
                                    entity.plane, bytes.size()));
      return;
    }
    entity.hasHeader = true;
    const JbigHeader& h = entity.header;
    const auto headerProblem = [&](size_t field, const std::string& text) {
      problem(entity.offset + field, format("plane %d JBIG header: ", entity.plane) + text);
    };
    if (h.dl != 0 || h.d != 0) headerProblem(0, format("layers DL %u D %u, expected 0 and 0", h.dl, h.d));
    if (h.planes != 1) headerProblem(2, format("%u bit planes, expected 1", h.planes));
    if (h.width != page.dotsPerLine) {
      headerProblem(4, format("width %u differs from the record's %u dots per line", h.width,
                              page.dotsPerLine));
    }
    if (h.height != page.lines) {
      headerProblem(8, format("height %u differs from the record's %u lines", h.height, page.lines));
    }
    if (h.l0 == 0) headerProblem(12, "stripe height 0");

    std::string reason;
    size_t extra = 0;
    entity.decodedOk = decodeJbigEntity(bytes, entity.decoded, reason, &extra);
    if (!entity.decodedOk) {
      const size_t where = extra ? entity.offset + bytes.size() - extra : entity.offset;
      problem(where, format("plane %d does not decode: ", entity.plane) + reason);
    }
    if (!options_.keepPlanes && !options_.pageDone) entity.decoded = DecodedPlane{};
  }

  void parseTrailer() {
    js_.trailerOffset = pos_;
    pos_ += kStreamUel.size();
    size_t lf = pos_;
    while (lf < s_.size() && s_[lf] != '\n') ++lf;
    if (lf >= s_.size()) {
      js_.trailer = TrailerForm::Other;
      js_.trailerLine.assign(reinterpret_cast<const char*>(s_.data() + pos_), s_.size() - pos_);
      problem(pos_, "trailer line without CR LF");
      pos_ = s_.size();
      return;
    }
    size_t end = lf;
    if (end > pos_ && s_[end - 1] == '\r') {
      --end;
    } else {
      problem(lf, "trailer line ends in LF without CR");
    }
    js_.trailerLine.assign(reinterpret_cast<const char*>(s_.data() + pos_), end - pos_);
    if (js_.trailerLine == kEojLine) {
      js_.trailer = TrailerForm::Eoj;
    } else if (js_.trailerLine == kEojAbortLine) {
      js_.trailer = TrailerForm::EojAbort;
    } else {
      js_.trailer = TrailerForm::Other;
      problem(pos_, "trailer line is neither @PJL EOJ nor @PJL EOJ Abort: " + js_.trailerLine);
    }
    if (cancelSeen_ && js_.trailer == TrailerForm::Eoj) {
      problem(pos_, format("plain @PJL EOJ after the cancelled page-end record at offset %zu",
                           cancelOffset_));
    }
    pos_ = lf + 1;
    if (pos_ < s_.size()) {
      problem(pos_, format("%zu bytes after the trailer", s_.size() - pos_));
      pos_ = s_.size();
    }
  }
};

}  // namespace

const PlaneEntity* PageBlock::findPlane(int plane) const {
  for (const auto& entity : planes) {
    if (entity.plane == plane) return &entity;
  }
  return nullptr;
}

uint16_t readLe16(const uint8_t* b) { return uint16_t(b[0] | b[1] << 8); }

uint32_t readLe32(const uint8_t* b) {
  return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

uint32_t readBe32(const uint8_t* b) {
  return uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | uint32_t(b[3]);
}

uint8_t streamRecordCheckByte(const uint8_t* record) {
  uint8_t x = 0;
  for (size_t i = 0; i < kStreamRecordSize - 1; ++i) x ^= record[i];
  return x;
}

bool rawSizeIsColour(uint32_t rawSize, uint32_t lines, uint32_t dotsPerLine) {
  return rawSize != 0 && uint64_t(rawSize) == 4 * uint64_t(lines) * (dotsPerLine / 8);
}

bool parseJbigHeader(std::span<const uint8_t> bytes, JbigHeader& out) {
  if (bytes.size() < kJbigHeaderSize) return false;
  const uint8_t* b = bytes.data();
  out.dl = b[0];
  out.d = b[1];
  out.planes = b[2];
  out.width = readBe32(b + 4);
  out.height = readBe32(b + 8);
  out.l0 = readBe32(b + 12);
  out.mx = b[16];
  out.my = b[17];
  out.order = b[18];
  out.options = b[19];
  out.stripes = out.l0 ? uint32_t((uint64_t(out.height) + out.l0 - 1) / out.l0) : 0;
  return true;
}

bool decodeJbigEntity(std::span<const uint8_t> entity, DecodedPlane& out, std::string& reason,
                      size_t* extraBytes) {
  out = DecodedPlane{};
  if (extraBytes) *extraBytes = 0;
  if (entity.empty()) {
    reason = "no data";
    return false;
  }
  // Only what the filter sends is decoded: one plane, one layer, a bounded
  // size. JBIG-KIT sizes its buffers from the header, so a damaged header
  // would otherwise make it allocate gigabytes.
  JbigHeader header;
  if (!parseJbigHeader(entity, header)) {
    reason = format("%zu bytes are too few for a JBIG header", entity.size());
    return false;
  }
  if (header.planes != 1 || header.dl != 0 || header.d != 0) {
    reason = format("not decoded: %u planes, layers DL %u D %u", header.planes, header.dl, header.d);
    return false;
  }
  if (header.width == 0 || header.height == 0 || header.width > kMaxDecodeWidth ||
      header.height > kMaxDecodeHeight) {
    reason = format("not decoded: image of %u x %u dots", header.width, header.height);
    return false;
  }
  jbg_dec_state state;
  jbg_dec_init(&state);
  jbg_dec_maxsize(&state, kMaxDecodeWidth, kMaxDecodeHeight);
  size_t consumed = 0;
  // The decoder reads the buffer only; its parameter lacks the const.
  const int rc = jbg_dec_in(&state, const_cast<unsigned char*>(entity.data()), entity.size(), &consumed);
  bool ok = false;
  if (rc == JBG_EOK) {
    out.width = uint32_t(jbg_dec_getwidth(&state));
    out.height = uint32_t(jbg_dec_getheight(&state));
    const unsigned char* image = jbg_dec_getimage(&state, 0);
    const size_t size = out.bytesPerLine() * out.height;
    if (image) out.bits.assign(image, image + size);
    ok = true;
    if (consumed < entity.size()) {
      if (extraBytes) *extraBytes = entity.size() - consumed;
      reason = format("%zu bytes follow the end of the image", entity.size() - consumed);
      ok = false;
    }
  } else if (rc == JBG_EAGAIN) {
    reason = format("the data ends after %zu bytes, before the image is complete", entity.size());
  } else {
    reason = format("%s (after %zu bytes)", jbg_strerror(rc), consumed);
  }
  jbg_dec_free(&state);
  return ok;
}

const char* paperCodeName(uint8_t paperCode) {
  switch (paperCode) {
    case 0: return "Custom";
    case 1: return "Letter";
    case 2: return "A4";
    case 3: return "A5";
    case 4: return "A6";
    case 5: return "B5";
    case 6: return "B6";
    case 7: return "Executive";
    case 8: return "16K";
    case 9: return "Legal";
    case 10: return "A5LEF";
    case 11: return "B6LEF";
    default: return "unknown";
  }
}

const char* mediaCodeName(uint8_t mediaCode) {
  // The filter derives the code from the raster header's cupsMediaType
  // (0 or unknown gives 1, 1..4 give 2..5); covers are sent as 3.
  switch (mediaCode) {
    case 1: return "default (cupsMediaType 0)";
    case 2: return "cupsMediaType 1";
    case 3: return "covers (cupsMediaType 2)";
    case 4: return "cupsMediaType 3";
    case 5: return "cupsMediaType 4";
    default: return "unknown";
  }
}

const char* trailerFormName(TrailerForm form) {
  switch (form) {
    case TrailerForm::Missing: return "missing";
    case TrailerForm::Eoj: return "EOJ";
    case TrailerForm::EojAbort: return "EOJ Abort";
    case TrailerForm::Other: return "other";
  }
  return "other";
}

JobStream parseJobStream(std::span<const uint8_t> bytes, const ParseOptions& options) {
  JobStream stream;
  Parser(bytes, stream, options).run();
  std::stable_sort(stream.problems.begin(), stream.problems.end(),
                   [](const StreamProblem& a, const StreamProblem& b) { return a.offset < b.offset; });
  return stream;
}

}  // namespace zerudump
