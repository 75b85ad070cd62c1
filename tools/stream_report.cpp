// The report of a parsed job stream, as text for people and JSON for scripts.
#include "tools/stream_report.h"

#include <cstdint>
#include <cstdio>

namespace zerudump {

namespace {

std::string format(const char* fmt, auto... args) {
  char buf[512];
  std::snprintf(buf, sizeof buf, fmt, args...);
  return buf;
}

// Paper size in millimetres from tenths of a millimetre.
std::string millimetres(uint16_t tenths) { return format("%u.%u", tenths / 10, tenths % 10); }

std::string jbigOptionsText(uint8_t options) {
  static const struct { uint8_t bit; const char* name; } kNames[] = {
      {0x40, "LRLTWO"}, {0x20, "VLENGTH"}, {0x10, "TPDON"}, {0x08, "TPBON"},
      {0x04, "DPON"},   {0x02, "DPPRIV"},  {0x01, "DPLAST"}};
  std::string text;
  for (const auto& n : kNames) {
    if (options & n.bit) text += (text.empty() ? "" : "|") + std::string(n.name);
  }
  return text.empty() ? "none" : text;
}

std::string jsonNumber(uint64_t value) { return std::to_string(value); }

}  // namespace

std::string jsonString(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7f) {
          out += format("\\u%04x", c);
        } else if (c >= 0x80) {
          // Bytes of a title are not necessarily UTF-8; keep the JSON valid.
          out += format("\\u%04x", c);
        } else {
          out += char(c);
        }
    }
  }
  return out + "\"";
}

std::string formatTextReport(const JobStream& stream) {
  std::string out = format("Job stream: %zu bytes\n", stream.size);
  out += "PJL envelope:\n";
  for (const auto& line : stream.envelope) out += format("  @%-8zu ", line.offset) + line.text + "\n";
  if (!stream.jobAttributes.empty()) {
    out += "Job attributes:\n";
    for (const auto& [key, value] : stream.jobAttributes) out += "  " + key + " = " + value + "\n";
  }
  if (!stream.settings.empty()) {
    out += "PJL settings:\n";
    for (const auto& [key, value] : stream.settings) out += "  " + key + " = " + value + "\n";
  }
  if (stream.hasJobStart) {
    out += format("Job-start record @%zu: flag %u, copies %u, check byte 0x%02X\n",
                  stream.jobStart.offset, stream.jobStart.startFlag, stream.jobStart.copies,
                  stream.jobStart.checkByte);
  } else {
    out += "Job-start record: missing\n";
  }
  for (const auto& page : stream.pages) {
    out += format("Page %d @%zu: %s\n", page.number, page.offset, page.colour ? "colour" : "grayscale");
    out += format("  paper %u (%s), media %u (%s)\n", page.paperCode, paperCodeName(page.paperCode),
                  page.mediaCode, mediaCodeName(page.mediaCode));
    out += format("  %u dots per line, %u lines, %u dpi\n", page.dotsPerLine, page.lines,
                  page.resolution);
    out += "  paper size " + millimetres(page.paperWidth10) + " x " +
           millimetres(page.paperHeight10) + " mm\n";
    out += format("  raw size %u, compressed size %u, data present %zu\n", page.rawSize,
                  page.compressedSize, page.dataPresent);
    out += format("  plane lengths: 0: %u, 1: %u, 2: %u, 3: %u\n", page.planeLength[0],
                  page.planeLength[1], page.planeLength[2], page.planeLength[3]);
    for (const auto& entity : page.planes) {
      out += format("  plane %d @%zu, %zu bytes", entity.plane, entity.offset, entity.presentLength);
      if (entity.hasHeader) {
        const JbigHeader& h = entity.header;
        out += format(": JBIG %u x %u, %u stripes of %u lines, planes %u, DL %u D %u, MX %u MY %u, "
                      "order 0x%02X, options 0x%02X (%s)",
                      h.width, h.height, h.stripes, h.l0, h.planes, h.dl, h.d, h.mx, h.my, h.order,
                      h.options, jbigOptionsText(h.options).c_str());
      }
      out += entity.decodedOk ? ", decodes\n" : ", does not decode\n";
    }
    if (page.hasEnd) {
      out += format("  page-end record @%zu: cancel mark %u\n", page.endOffset, page.cancelMark);
    } else {
      out += "  page-end record: missing\n";
    }
  }
  out += format("Pages: %zu\n", stream.pages.size());
  if (stream.trailer == TrailerForm::Missing) {
    out += "Trailer: missing\n";
  } else {
    out += format("Trailer @%zu: ", stream.trailerOffset) + stream.trailerLine + "\n";
  }
  if (stream.problems.empty()) {
    out += "No problems found.\n";
  } else {
    out += format("Problems: %zu\n", stream.problems.size());
    for (const auto& p : stream.problems) out += format("  @%zu: ", p.offset) + p.message + "\n";
  }
  return out;
}

std::string formatJsonReport(const JobStream& stream) {
  std::string out = "{\n";
  out += "  \"size\": " + jsonNumber(stream.size) + ",\n";
  out += "  \"envelope\": [";
  for (size_t i = 0; i < stream.envelope.size(); ++i) {
    out += i ? ",\n    " : "\n    ";
    out += "{\"offset\": " + jsonNumber(stream.envelope[i].offset) +
           ", \"text\": " + jsonString(stream.envelope[i].text) + "}";
  }
  out += stream.envelope.empty() ? "],\n" : "\n  ],\n";
  const auto pairs = [&](const char* name, const auto& list) {
    out += format("  \"%s\": {", name);
    for (size_t i = 0; i < list.size(); ++i) {
      out += i ? ", " : "";
      out += jsonString(list[i].first) + ": " + jsonString(list[i].second);
    }
    out += "},\n";
  };
  pairs("jobAttributes", stream.jobAttributes);
  pairs("settings", stream.settings);
  if (stream.hasJobStart) {
    out += format("  \"jobStart\": {\"offset\": %zu, \"startFlag\": %u, \"copies\": %u, \"checkByte\": %u},\n",
                  stream.jobStart.offset, stream.jobStart.startFlag, stream.jobStart.copies,
                  stream.jobStart.checkByte);
  } else {
    out += "  \"jobStart\": null,\n";
  }
  out += "  \"pages\": [";
  for (size_t i = 0; i < stream.pages.size(); ++i) {
    const PageBlock& page = stream.pages[i];
    out += i ? ",\n    {" : "\n    {";
    out += format("\"number\": %d, \"offset\": %zu, \"colour\": %s, ", page.number, page.offset,
                  page.colour ? "true" : "false");
    out += format("\"paperCode\": %u, \"paperName\": %s, \"mediaCode\": %u, \"mediaName\": %s, ",
                  page.paperCode, jsonString(paperCodeName(page.paperCode)).c_str(), page.mediaCode,
                  jsonString(mediaCodeName(page.mediaCode)).c_str());
    out += format("\"dotsPerLine\": %u, \"lines\": %u, \"rawSize\": %u, \"compressedSize\": %u, "
                  "\"dataPresent\": %zu, ",
                  page.dotsPerLine, page.lines, page.rawSize, page.compressedSize, page.dataPresent);
    out += format("\"planeLengths\": [%u, %u, %u, %u], \"resolution\": %u, ", page.planeLength[0],
                  page.planeLength[1], page.planeLength[2], page.planeLength[3], page.resolution);
    out += "\"paperWidthMm\": " + millimetres(page.paperWidth10) +
           ", \"paperHeightMm\": " + millimetres(page.paperHeight10) + ", ";
    out += "\"planes\": [";
    for (size_t j = 0; j < page.planes.size(); ++j) {
      const PlaneEntity& e = page.planes[j];
      out += j ? ", {" : "{";
      out += format("\"plane\": %d, \"offset\": %zu, \"length\": %u, \"present\": %zu, ", e.plane,
                    e.offset, e.declaredLength, e.presentLength);
      if (e.hasHeader) {
        const JbigHeader& h = e.header;
        out += format("\"jbig\": {\"dl\": %u, \"d\": %u, \"planes\": %u, \"width\": %u, \"height\": %u, "
                      "\"l0\": %u, \"stripes\": %u, \"mx\": %u, \"my\": %u, \"order\": %u, \"options\": %u}, ",
                      h.dl, h.d, h.planes, h.width, h.height, h.l0, h.stripes, h.mx, h.my, h.order,
                      h.options);
      } else {
        out += "\"jbig\": null, ";
      }
      out += format("\"decodes\": %s}", e.decodedOk ? "true" : "false");
    }
    out += "], ";
    if (page.hasEnd) {
      out += format("\"pageEnd\": {\"offset\": %zu, \"cancelMark\": %u}}", page.endOffset, page.cancelMark);
    } else {
      out += "\"pageEnd\": null}";
    }
  }
  out += stream.pages.empty() ? "],\n" : "\n  ],\n";
  out += "  \"pageCount\": " + jsonNumber(stream.pages.size()) + ",\n";
  if (stream.trailer == TrailerForm::Missing) {
    out += "  \"trailer\": null,\n";
  } else {
    out += format("  \"trailer\": {\"offset\": %zu, \"form\": ", stream.trailerOffset) +
           jsonString(trailerFormName(stream.trailer)) +
           ", \"line\": " + jsonString(stream.trailerLine) + "},\n";
  }
  out += "  \"problems\": [";
  for (size_t i = 0; i < stream.problems.size(); ++i) {
    out += i ? ",\n    " : "\n    ";
    out += "{\"offset\": " + jsonNumber(stream.problems[i].offset) +
           ", \"message\": " + jsonString(stream.problems[i].message) + "}";
  }
  out += stream.problems.empty() ? "],\n" : "\n  ],\n";
  out += std::string("  \"clean\": ") + (stream.clean() ? "true" : "false") + "\n}\n";
  return out;
}

}  // namespace zerudump
