#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "filter/log.h"
#include "stream/command_record.h"
#include "stream/pjl.h"
#include "zeru/page_header.h"

namespace {

const std::string kUelText = "\x1b%-12345X";

zeru::PageHeader colourHeader(unsigned copies, unsigned collate) {
  zeru::PageHeader header{};
  header.bitsPerPixel = 32;
  header.hwResolution[0] = 600;
  header.hwResolution[1] = 600;
  header.numCopies = copies;
  header.collate = collate;
  return header;
}

JobHeaderInputs fixedInputs() {
  JobHeaderInputs inputs;
  inputs.title = "report.pdf";
  inputs.user = "alice";
  inputs.host = "printhost";
  inputs.date = "12/08/2026";
  inputs.time = "23:01:02";
  inputs.pageCount = 1;
  return inputs;
}

// The text lines of a header, up to the job-start record.
std::vector<std::string> pjlLines(const std::string& header) {
  std::vector<std::string> lines;
  size_t start = kUelText.size();
  size_t end = header.size() - kRecordSize;
  while (start < end) {
    size_t crlf = header.find("\r\n", start);
    if (crlf == std::string::npos || crlf >= end) break;
    lines.push_back(header.substr(start, crlf - start));
    start = crlf + 2;
  }
  EXPECT_EQ(start, end) << "text after the last CR LF";
  return lines;
}

std::vector<uint8_t> jobStartOf(const std::string& header) {
  return std::vector<uint8_t>(header.end() - kRecordSize, header.end());
}

// True when `text` is `prefix` followed by `shape`, where '9' stands for any
// digit and every other character for itself.
bool matchesShape(const std::string& text, const std::string& prefix, const std::string& shape) {
  if (text.size() != prefix.size() + shape.size() || text.compare(0, prefix.size(), prefix) != 0)
    return false;
  for (size_t i = 0; i < shape.size(); ++i) {
    char c = text[prefix.size() + i];
    if (shape[i] == '9' ? !isdigit(static_cast<unsigned char>(c)) : c != shape[i]) return false;
  }
  return true;
}

// What the filter's job header writer is given for "doc" by "bob": one
// single-sided page, host, date and time from the system.
JobHeaderInputs setupInputs() {
  JobHeaderInputs inputs;
  inputs.title = "doc";
  inputs.user = "bob";
  inputs.pageCount = 1;
  readSystemJobAttributes(inputs);
  return inputs;
}

// The job's log, opened afresh.
JobServices logToFile() {
  logTruncate();
  JobServices services;
  services.log = [](const char* line) { logLine(line); };
  return services;
}

std::string readLog() {
  std::ifstream log(kLogPath, std::ios::binary);
  std::stringstream text;
  text << log.rdbuf();
  return text.str();
}

}  // namespace

TEST(JobHeader, SimplexNonCollatedColourJobInOrder) {
  std::string header = buildJobHeader(colourHeader(2, 0), fixedInputs());
  ASSERT_EQ(header.substr(0, 9), kUelText);
  const std::vector<std::string> expected = {
      "@PJL JOB NAME=PRINTER",
      "@PJL SET JOBATTR=HST:printhost",
      "@PJL SET JOBATTR=USR:alice",
      "@PJL SET JOBATTR=DOC:report.pdf",
      "@PJL SET JOBATTR=DATE:12/08/2026",
      "@PJL SET JOBATTR=TIME:23:01:02",
      "@PJL SET DUPLEX=OFF",
      "@PJL SET MEDIASOURCE=0",
      "@PJL SET RENDERMODE=COLOR",
      "@PJL SET RESOLUTION=600",
      "@PJL SET BITSPERPIXEL=1",
      "@PJL SET COPIES=2",
      "@PJL ENTER LANGUAGE=ZERU",
  };
  EXPECT_EQ(pjlLines(header), expected);

  std::vector<uint8_t> record(64, 0);
  const uint8_t head[] = {0x1B, 0x4C, 0x48, 0x40, 0x73, 0x6A, 0x01, 0x00, 0x02, 0x00};
  std::copy(std::begin(head), std::end(head), record.begin());
  record[63] = 0x45;
  EXPECT_EQ(jobStartOf(header), record);
}

TEST(JobHeader, OneCopyOrCollatedJobStartsWithOneCopy) {
  for (auto [copies, collate] : {std::pair{1u, 0u}, std::pair{3u, 1u}}) {
    std::vector<uint8_t> record = jobStartOf(buildJobHeader(colourHeader(copies, collate), fixedInputs()));
    EXPECT_EQ(record[8], 0x01) << copies << " copies, collate " << collate;
    EXPECT_EQ(record[9], 0x00);
    EXPECT_EQ(record[63], 0x46);
  }
  std::string collated = buildJobHeader(colourHeader(3, 1), fixedInputs());
  EXPECT_NE(collated.find("@PJL SET QTY=1\r\n"), std::string::npos);
  EXPECT_EQ(collated.find("COPIES"), std::string::npos);
}

TEST(JobHeader, JobStartFlagIsTheCallersByte) {
  JobHeaderInputs inputs = fixedInputs();
  inputs.startFlag = 7;
  std::vector<uint8_t> record = jobStartOf(buildJobHeader(colourHeader(1, 0), inputs));
  EXPECT_EQ(record[6], 7);
  uint8_t x = 0;
  for (uint8_t byte : record) x ^= byte;
  EXPECT_EQ(x, 0);
}

TEST(JobHeader, DuplexLinesCountSheetsAndPages) {
  struct Case {
    const char* name;
    unsigned copies, collate;
    int pageCount, blankBackAdded;
    std::vector<std::string> duplexLines;
    std::string copiesLine;
  };
  const Case cases[] = {
      {"three pages and a filler", 1, 0, 4, 1,
       {"@PJL SET DUPLEX=ON", "@PJL SET MDPXS=3", "@PJL SET JOBATTR=PCNT:3"}, "@PJL SET COPIES=1"},
      {"four pages collated twice", 2, 1, 4, 0,
       {"@PJL SET DUPLEX=ON", "@PJL SET MDPXS=5", "@PJL SET JOBATTR=PCNT:4"}, "@PJL SET QTY=1"},
      {"no page", 1, 0, 0, 0,
       {"@PJL SET DUPLEX=ON", "@PJL SET MDPXS=1", "@PJL SET JOBATTR=PCNT:0"}, "@PJL SET COPIES=1"},
      {"non-collated copies do not count", 3, 0, 6, 0,
       {"@PJL SET DUPLEX=ON", "@PJL SET MDPXS=4", "@PJL SET JOBATTR=PCNT:6"}, "@PJL SET COPIES=3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (int duplexMode : {1, 2}) {  // both binding edges give the same lines
      JobHeaderInputs inputs = fixedInputs();
      inputs.duplexMode = duplexMode;
      inputs.pageCount = c.pageCount;
      inputs.blankBackAdded = c.blankBackAdded;
      std::vector<std::string> lines = pjlLines(buildJobHeader(colourHeader(c.copies, c.collate), inputs));
      ASSERT_EQ(lines.size(), 15u);
      EXPECT_EQ(std::vector<std::string>(lines.begin() + 6, lines.begin() + 9), c.duplexLines);
      EXPECT_EQ(lines[9], "@PJL SET MEDIASOURCE=0");
      EXPECT_EQ(lines[13], c.copiesLine);
      EXPECT_EQ(lines[14], "@PJL ENTER LANGUAGE=ZERU");
    }
  }
}

TEST(JobHeader, SimplexHasNoSheetOrPageCount) {
  JobHeaderInputs inputs = fixedInputs();
  inputs.pageCount = 5;
  std::string header = buildJobHeader(colourHeader(1, 0), inputs);
  EXPECT_NE(header.find("@PJL SET DUPLEX=OFF\r\n"), std::string::npos);
  EXPECT_EQ(header.find("MDPXS"), std::string::npos);
  EXPECT_EQ(header.find("PCNT"), std::string::npos);
}

TEST(JobHeader, RenderModeAndResolutionFollowTheHeader) {
  zeru::PageHeader gray = colourHeader(1, 0);
  gray.bitsPerPixel = 8;
  gray.hwResolution[0] = 1200;
  std::string header = buildJobHeader(gray, fixedInputs());
  EXPECT_NE(header.find("@PJL SET RENDERMODE=GRAYSCALE\r\n"), std::string::npos);
  EXPECT_NE(header.find("@PJL SET RESOLUTION=1200\r\n"), std::string::npos);

  for (unsigned bits : {1u, 24u, 32u}) {
    zeru::PageHeader colour = colourHeader(1, 0);
    colour.bitsPerPixel = bits;
    EXPECT_NE(buildJobHeader(colour, fixedInputs()).find("@PJL SET RENDERMODE=COLOR\r\n"),
              std::string::npos) << bits;
  }
}

TEST(JobHeaderValues, TitleAndUserKeepSpacesAndPunctuation) {
  JobHeaderInputs inputs = fixedInputs();
  inputs.title = "Q3 report (final), v2.pdf";
  inputs.user = "J. Doe";
  std::vector<std::string> lines = pjlLines(buildJobHeader(colourHeader(1, 0), inputs));
  EXPECT_EQ(lines[2], "@PJL SET JOBATTR=USR:J. Doe");
  EXPECT_EQ(lines[3], "@PJL SET JOBATTR=DOC:Q3 report (final), v2.pdf");
}

TEST(JobHeaderValues, ControlBytesCannotStartANewLine) {
  JobHeaderInputs inputs = fixedInputs();
  inputs.title = std::string("a\r\n@PJL SET COPIES=99\r\n\x1b%-12345Xb");
  inputs.user = std::string("u\x7f\tv");
  inputs.host = std::string("h\nst");
  std::string header = buildJobHeader(colourHeader(1, 0), inputs);
  std::vector<std::string> lines = pjlLines(header);
  ASSERT_EQ(lines.size(), 13u);
  EXPECT_EQ(lines[1], "@PJL SET JOBATTR=HST:h st");
  EXPECT_EQ(lines[2], "@PJL SET JOBATTR=USR:u  v");
  EXPECT_EQ(lines[3], "@PJL SET JOBATTR=DOC:a  @PJL SET COPIES=99   %-12345Xb");
  // The only ESC bytes are the header's own UEL and record lead-in.
  EXPECT_EQ(std::count(header.begin(), header.end(), '\x1b'), 2);
}

TEST(JobHeaderValues, LongValuesAreCutAndKeepTheirLineEnd) {
  JobHeaderInputs inputs = fixedInputs();
  inputs.title = std::string(400, 'T');
  inputs.user = std::string(300, 'U');
  inputs.host = std::string(255, 'H');
  std::string header = buildJobHeader(colourHeader(1, 0), inputs);
  std::vector<std::string> lines = pjlLines(header);
  ASSERT_EQ(lines.size(), 13u);
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(lines[i].size() + 2, 255u) << lines[i];
  EXPECT_EQ(lines[3], "@PJL SET JOBATTR=DOC:" + std::string(255 - 2 - 21, 'T'));
  EXPECT_EQ(lines[4], "@PJL SET JOBATTR=DATE:12/08/2026");
}

TEST(JobHeaderValues, CutNeverSplitsACharacter) {
  JobHeaderInputs inputs = fixedInputs();
  inputs.title.clear();
  for (int i = 0; i < 200; ++i) inputs.title += "\xc3\xa9";  // é, two bytes each
  std::vector<std::string> lines = pjlLines(buildJobHeader(colourHeader(1, 0), inputs));
  const std::string& doc = lines[3];
  EXPECT_LE(doc.size() + 2, 255u);
  EXPECT_EQ((doc.size() - 21) % 2, 0u);
  EXPECT_EQ(doc.substr(doc.size() - 2), "\xc3\xa9");
}

TEST(JobTrailer, CompletedAndCancelledForms) {
  EXPECT_EQ(buildJobTrailer(false), kUelText + "@PJL EOJ\r\n");
  EXPECT_EQ(buildJobTrailer(true), kUelText + "@PJL EOJ Abort\r\n");

  zeru::StringSink out;
  WriteJobTrailer(out, true);
  EXPECT_EQ(out.bytes, kUelText + "@PJL EOJ Abort\r\n");
}

TEST(PjlComment, WritesOneCommentLine) {
  zeru::StringSink out;
  WritePjlComment(out, "/tmp/tmp-XXXXXX");
  EXPECT_EQ(out.bytes, "@PJL COMMENT /tmp/tmp-XXXXXX\r\n");
}

TEST(JobHeaderLog, GeometryLineNamesEveryField) {
  zeru::PageHeader header = colourHeader(1, 0);
  header.pageSize[0] = 595;
  header.pageSize[1] = 842;
  header.mediaTypeCode = 2;
  header.mediaType = "Plain";
  header.outputType = "Standard";
  header.margins[0] = 12;
  header.margins[1] = 14;
  header.colorSpace = zeru::kColorSpaceSRGB;
  header.bytesPerLine = 14274;
  EXPECT_EQ(jobHeaderLogLine(header, 1),
            "PageWidth=595,PageHeight=842,cupsMediaType=2,MediaType=Plain,OutputType=Standard,"
            "Margin0=12,Margin1=14,cupsBitsPerPixel=32,cupsColorSpace=19,cupsBytesPerLine=14274,"
            "header->HWResolution[0]=600,header->HWResolution[1]=600,pagemodel=1\n");

  // A text field shows up to its first NUL and at most the 63 bytes a raster
  // header's 64-byte field holds.
  header.mediaType = std::string(64, 'M');
  std::string line = jobHeaderLogLine(header, 1);
  EXPECT_NE(line.find("MediaType=" + std::string(63, 'M') + ",OutputType="), std::string::npos);
  header.mediaType = std::string("Plain\0Heavy", 11);
  EXPECT_NE(jobHeaderLogLine(header, 1).find("MediaType=Plain,OutputType="), std::string::npos);
}

TEST(JobHeaderSetup, WritesHeaderWithHostDateAndTime) {
  zeru::PageHeader header = colourHeader(2, 0);
  header.pageSize[0] = 612;
  zeru::StringSink out;
  setup(out, &header, setupInputs(), logToFile());
  std::string text = out.bytes;

  ASSERT_GT(text.size(), kUelText.size() + kRecordSize);
  std::vector<std::string> lines = pjlLines(text);
  ASSERT_EQ(lines.size(), 13u);
  char host[256] = {};
  ASSERT_EQ(gethostname(host, 255), 0);
  EXPECT_EQ(lines[1], std::string("@PJL SET JOBATTR=HST:") + host);
  EXPECT_EQ(lines[2], "@PJL SET JOBATTR=USR:bob");
  EXPECT_EQ(lines[3], "@PJL SET JOBATTR=DOC:doc");
  EXPECT_TRUE(matchesShape(lines[4], "@PJL SET JOBATTR=DATE:", "99/99/9999")) << lines[4];
  EXPECT_TRUE(matchesShape(lines[5], "@PJL SET JOBATTR=TIME:", "99:99:99")) << lines[5];
  EXPECT_EQ(lines[11], "@PJL SET COPIES=2");
  EXPECT_EQ(jobStartOf(text)[63], 0x45);

  // The geometry line went to the log, followed by the append's own newline.
  EXPECT_NE(readLog().find(jobHeaderLogLine(header, 0) + "\n"), std::string::npos);
}

TEST(JobHeaderSetup, NullHeaderWritesNothing) {
  zeru::StringSink out;
  setup(out, nullptr, setupInputs(), logToFile());
  EXPECT_EQ(out.bytes, "");
}
