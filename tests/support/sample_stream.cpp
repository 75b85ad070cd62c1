// Job streams built by hand, for tests of the reader and of the tools.
#include "support/sample_stream.h"

#include <cstring>

extern "C" {
#include <jbig.h>
}

#include "tools/stream_reader.h"

namespace zerudump {

namespace {

void putLe16(uint8_t* b, uint16_t v) {
  b[0] = uint8_t(v);
  b[1] = uint8_t(v >> 8);
}

void putLe32(uint8_t* b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[i] = uint8_t(v >> (8 * i));
}

void appendSink(unsigned char* start, size_t len, void* file) {
  auto* out = static_cast<std::vector<uint8_t>*>(file);
  out->insert(out->end(), start, start + len);
}

void appendText(std::vector<uint8_t>& out, const std::string& text) {
  out.insert(out.end(), text.begin(), text.end());
}

void appendRecord(std::vector<uint8_t>& out, char c0, char c1, const uint8_t* params = nullptr) {
  uint8_t rec[kStreamRecordSize] = {0x1b, 'L', 'H', '@', uint8_t(c0), uint8_t(c1)};
  if (params) std::memcpy(rec + 6, params + 6, 57);
  sealSampleRecord(rec);
  out.insert(out.end(), rec, rec + kStreamRecordSize);
}

}  // namespace

std::vector<uint8_t> encodeSamplePlane(const SamplePlane& plane) {
  std::vector<uint8_t> out;
  // The encoder reads the plane only; its parameter lacks the const.
  unsigned char* data[1] = {const_cast<unsigned char*>(plane.bits.data())};
  jbg_enc_state state;
  jbg_enc_init(&state, plane.width, plane.height, 1, data, appendSink, &out);
  jbg_enc_layers(&state, 0);
  jbg_enc_options(&state, 0, JBG_LRLTWO | JBG_DELAY_AT | JBG_SDRST, 128, 0, 0);
  jbg_enc_out(&state);
  jbg_enc_free(&state);
  return out;
}

SamplePage SamplePage::blank(bool colour, uint32_t dotsPerLine, uint32_t lines) {
  SamplePage page;
  page.colour = colour;
  page.dotsPerLine = dotsPerLine;
  page.lines = lines;
  for (auto& plane : page.planes) plane = SamplePlane(dotsPerLine, lines);
  return page;
}

void sealSampleRecord(uint8_t* record) { record[63] = streamRecordCheckByte(record); }

std::vector<std::string> samplePjlLines(bool duplex, int pageCount, bool colour) {
  std::vector<std::string> lines = {
      "@PJL JOB NAME=PRINTER",         "@PJL SET JOBATTR=HST:testhost",
      "@PJL SET JOBATTR=USR:tester",   "@PJL SET JOBATTR=DOC:Test page",
      "@PJL SET JOBATTR=DATE:12/08/2026", "@PJL SET JOBATTR=TIME:23:00:00"};
  if (duplex) {
    lines.push_back("@PJL SET DUPLEX=ON");
    lines.push_back("@PJL SET MDPXS=" + std::to_string(pageCount / 2 + 1));
    lines.push_back("@PJL SET JOBATTR=PCNT:" + std::to_string(pageCount));
  } else {
    lines.push_back("@PJL SET DUPLEX=OFF");
  }
  lines.push_back("@PJL SET MEDIASOURCE=0");
  lines.push_back(std::string("@PJL SET RENDERMODE=") + (colour ? "COLOR" : "GRAYSCALE"));
  lines.push_back("@PJL SET RESOLUTION=600");
  lines.push_back("@PJL SET BITSPERPIXEL=1");
  lines.push_back("@PJL SET QTY=1");
  lines.push_back("@PJL ENTER LANGUAGE=ZERU");
  return lines;
}

std::vector<uint8_t> buildSampleStream(const SampleJob& job, SampleLayout* layout) {
  SampleLayout where;
  std::vector<uint8_t> out;
  appendText(out, std::string(kStreamUel));
  bool anyColour = false;
  for (const auto& page : job.pages) anyColour |= page.colour;
  const auto lines = job.pjlLines.empty() ? samplePjlLines(false, int(job.pages.size()), anyColour)
                                          : job.pjlLines;
  for (const auto& line : lines) appendText(out, line + "\r\n");

  uint8_t params[kStreamRecordSize] = {};
  params[6] = 1;
  putLe16(params + 8, job.copies);
  where.jobStart = out.size();
  appendRecord(out, 's', 'j', params);

  for (const auto& page : job.pages) {
    const int order[4] = {2, 1, 0, 3};
    std::vector<uint8_t> entities[4];
    const int count = page.colour ? 4 : 1;
    for (int i = 0; i < count; ++i) {
      const int p = page.colour ? order[i] : 3;
      entities[p] = encodeSamplePlane(page.planes[p]);
    }
    std::memset(params, 0, sizeof params);
    params[6] = page.paperCode;
    params[7] = page.mediaCode;
    putLe32(params + 8, page.dotsPerLine);
    putLe32(params + 12, page.lines);
    putLe32(params + 16, uint32_t(count) * page.lines * (page.dotsPerLine / 8));
    uint32_t total = 0;
    const size_t lengthAt[4] = {28, 32, 36, 24};
    for (int p = 0; p < 4; ++p) {
      putLe32(params + lengthAt[p], uint32_t(entities[p].size()));
      total += uint32_t(entities[p].size());
    }
    putLe32(params + 20, total);
    putLe16(params + 42, page.resolution);
    putLe16(params + 44, page.paperWidth10);
    putLe16(params + 46, page.paperHeight10);
    where.pageStart.push_back(out.size());
    appendRecord(out, 's', 'p', params);
    where.pageData.push_back(out.size());
    for (int i = 0; i < count; ++i) {
      const int p = page.colour ? order[i] : 3;
      out.insert(out.end(), entities[p].begin(), entities[p].end());
    }
    std::memset(params, 0, sizeof params);
    params[6] = page.cancelMark;
    where.pageEnd.push_back(out.size());
    appendRecord(out, 'e', 'p', params);
  }

  where.trailer = out.size();
  appendText(out, std::string(kStreamUel));
  appendText(out, job.aborted ? "@PJL EOJ Abort\r\n" : "@PJL EOJ\r\n");
  if (layout) *layout = where;
  return out;
}

}  // namespace zerudump
