// The job stream reader: clean streams come apart into their parts, and
// every kind of damage is reported at the offset where it lies.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "tools/preview.h"
#include "support/sample_stream.h"
#include "tools/stream_reader.h"

using namespace zerudump;

namespace {

using Bytes = std::vector<uint8_t>;

JobStream parse(const Bytes& bytes, bool keepPlanes = false) {
  ParseOptions options;
  options.keepPlanes = keepPlanes;
  return parseJobStream(bytes, options);
}

bool hasProblemAt(const JobStream& stream, size_t offset, const std::string& words) {
  return std::any_of(stream.problems.begin(), stream.problems.end(), [&](const StreamProblem& p) {
    return p.offset == offset && p.message.find(words) != std::string::npos;
  });
}

std::string problemList(const JobStream& stream) {
  std::string text;
  for (const auto& p : stream.problems) text += "@" + std::to_string(p.offset) + ": " + p.message + "\n";
  return text;
}

void putLe32(Bytes& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = uint8_t(value >> (8 * i));
}

uint32_t getLe32(const Bytes& bytes, size_t at) { return readLe32(bytes.data() + at); }

// A grayscale page of 512 x 300 dots with a black square.
SamplePage squarePage() {
  SamplePage page = SamplePage::blank(false, 512, 300);
  page.planes[3].fillRect(64, 40, 100, 100);
  return page;
}

// A colour page: cyan and black squares, yellow stripe, magenta dot.
SamplePage colourPage(uint32_t lines = 260) {
  SamplePage page = SamplePage::blank(true, 1024, lines);
  page.planes[0].fillRect(0, 0, 32, 32);
  page.planes[1].setDot(500, 100);
  page.planes[2].fillRect(0, 200, 1024, 8);
  page.planes[3].fillRect(800, 10, 64, 64);
  return page;
}

SampleJob simplexJob() {
  SampleJob job;
  job.pages.push_back(squarePage());
  return job;
}

SampleJob duplexJob() {
  SampleJob job;
  job.pages.push_back(colourPage());
  job.pages.push_back(squarePage());
  job.pages.push_back(colourPage(129));
  job.pages.push_back(SamplePage::blank(false, 512, 300));
  job.pjlLines = samplePjlLines(true, 4, true);
  return job;
}

}  // namespace

// ---- clean streams ----

TEST(StreamReaderClean, SimplexStreamHasEnvelopeJobStartPageAndTrailer) {
  SampleLayout layout;
  const Bytes bytes = buildSampleStream(simplexJob(), &layout);
  const JobStream stream = parse(bytes);
  EXPECT_TRUE(stream.clean()) << problemList(stream);
  ASSERT_FALSE(stream.envelope.empty());
  EXPECT_EQ(stream.envelope.front().text, "@PJL JOB NAME=PRINTER");
  EXPECT_EQ(stream.envelope.front().offset, 9u);
  EXPECT_EQ(stream.envelope.back().text, "@PJL ENTER LANGUAGE=ZERU");
  ASSERT_GE(stream.jobAttributes.size(), 5u);
  EXPECT_EQ(stream.jobAttributes[0], (std::pair<std::string, std::string>{"HST", "testhost"}));
  EXPECT_EQ(stream.jobAttributes[2], (std::pair<std::string, std::string>{"DOC", "Test page"}));
  ASSERT_TRUE(stream.hasJobStart);
  EXPECT_EQ(stream.jobStart.offset, layout.jobStart);
  EXPECT_EQ(stream.jobStart.startFlag, 1);
  EXPECT_EQ(stream.jobStart.copies, 1);
  EXPECT_EQ(stream.jobStart.checkByte, 0x46);
  EXPECT_EQ(stream.trailer, TrailerForm::Eoj);
  EXPECT_EQ(stream.trailerOffset, layout.trailer);
}

TEST(StreamReaderClean, GrayscalePageGeometryAndEntityHeader) {
  SampleLayout layout;
  const Bytes bytes = buildSampleStream(simplexJob(), &layout);
  const JobStream stream = parse(bytes);
  ASSERT_EQ(stream.pages.size(), 1u);
  const PageBlock& page = stream.pages[0];
  EXPECT_EQ(page.offset, layout.pageStart[0]);
  EXPECT_FALSE(page.colour);
  EXPECT_EQ(page.paperCode, 2);
  EXPECT_STREQ(paperCodeName(page.paperCode), "A4");
  EXPECT_EQ(page.mediaCode, 1);
  EXPECT_EQ(page.dotsPerLine, 512u);
  EXPECT_EQ(page.lines, 300u);
  EXPECT_EQ(page.rawSize, 300u * 64);
  EXPECT_EQ(page.resolution, 600);
  EXPECT_EQ(page.paperWidth10, 2099);
  EXPECT_EQ(page.paperHeight10, 2970);
  EXPECT_EQ(page.compressedSize, page.planeLength[3]);
  EXPECT_EQ(page.planeLength[0] + page.planeLength[1] + page.planeLength[2], 0u);
  ASSERT_EQ(page.planes.size(), 1u);
  const PlaneEntity& entity = page.planes[0];
  EXPECT_EQ(entity.plane, 3);
  EXPECT_EQ(entity.offset, layout.pageData[0]);
  EXPECT_TRUE(entity.decodedOk);
  EXPECT_EQ(entity.header.width, 512u);
  EXPECT_EQ(entity.header.height, 300u);
  EXPECT_EQ(entity.header.l0, 128u);
  EXPECT_EQ(entity.header.stripes, 3u);
  EXPECT_EQ(entity.header.planes, 1);
  EXPECT_EQ(entity.header.order, 0);
  EXPECT_EQ(entity.header.options, 0x40);   // LRLTWO; TPBON and DPON off
  EXPECT_TRUE(page.hasEnd);
  EXPECT_EQ(page.endOffset, layout.pageEnd[0]);
  EXPECT_EQ(page.cancelMark, 0);
}

TEST(StreamReaderClean, DuplexStreamSplitsColourPlanesInDataOrder) {
  SampleLayout layout;
  const SampleJob job = duplexJob();
  const Bytes bytes = buildSampleStream(job, &layout);
  const JobStream stream = parse(bytes);
  EXPECT_TRUE(stream.clean()) << problemList(stream);
  ASSERT_EQ(stream.pages.size(), 4u);
  EXPECT_TRUE(stream.pages[0].colour);
  EXPECT_FALSE(stream.pages[1].colour);
  EXPECT_TRUE(stream.pages[2].colour);
  EXPECT_FALSE(stream.pages[3].colour);
  EXPECT_EQ(stream.pages[2].lines, 129u);
  const PageBlock& page = stream.pages[0];
  EXPECT_EQ(page.rawSize, 4u * 260 * 128);
  ASSERT_EQ(page.planes.size(), 4u);
  const int order[4] = {2, 1, 0, 3};
  size_t cursor = layout.pageData[0];
  uint32_t sum = 0;
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(page.planes[i].plane, order[i]);
    EXPECT_EQ(page.planes[i].offset, cursor);
    EXPECT_EQ(page.planes[i].declaredLength, page.planeLength[order[i]]);
    EXPECT_EQ(page.planes[i].header.width, 1024u);
    EXPECT_EQ(page.planes[i].header.height, 260u);
    cursor += page.planeLength[order[i]];
    sum += page.planeLength[order[i]];
  }
  EXPECT_EQ(page.compressedSize, sum);
  EXPECT_EQ(cursor, layout.pageEnd[0]);
  EXPECT_EQ(stream.pages[2].planes[0].header.stripes, 2u);   // 129 lines: one full stripe and one line
  bool sawDuplexOn = false;
  for (const auto& [key, value] : stream.settings) sawDuplexOn |= key == "DUPLEX" && value == "ON";
  EXPECT_TRUE(sawDuplexOn);
  bool sawPageCount = false;
  for (const auto& [key, value] : stream.jobAttributes) sawPageCount |= key == "PCNT" && value == "4";
  EXPECT_TRUE(sawPageCount);
}

TEST(StreamReaderClean, DecodedPlanesHoldTheDotsThatWereEncoded) {
  const SampleJob job = duplexJob();
  const JobStream stream = parse(buildSampleStream(job), true);
  ASSERT_EQ(stream.pages.size(), 4u);
  for (size_t n = 0; n < 3; ++n) {
    const SamplePage& source = job.pages[n];
    for (const auto& entity : stream.pages[n].planes) {
      ASSERT_TRUE(entity.decodedOk);
      EXPECT_EQ(entity.decoded.width, source.planes[entity.plane].width);
      EXPECT_EQ(entity.decoded.bits, source.planes[entity.plane].bits)
          << "page " << n + 1 << " plane " << entity.plane;
    }
  }
  const DecodedPlane& black = stream.pages[1].planes[0].decoded;
  EXPECT_TRUE(black.dot(64, 40));
  EXPECT_TRUE(black.dot(163, 139));
  EXPECT_FALSE(black.dot(63, 40));
  EXPECT_FALSE(black.dot(164, 139));
}

TEST(StreamReaderClean, PlanesAreReleasedUnlessKept) {
  const JobStream stream = parse(buildSampleStream(simplexJob()));
  ASSERT_EQ(stream.pages.size(), 1u);
  EXPECT_TRUE(stream.pages[0].planes[0].decodedOk);
  EXPECT_TRUE(stream.pages[0].planes[0].decoded.bits.empty());
}

TEST(StreamReaderClean, PageDoneSeesEveryPageWithItsPlanes) {
  std::vector<int> seen;
  ParseOptions options;
  options.pageDone = [&](PageBlock& page) {
    for (const auto& entity : page.planes) EXPECT_FALSE(entity.decoded.bits.empty());
    seen.push_back(page.number);
  };
  const JobStream stream = parseJobStream(buildSampleStream(duplexJob()), options);
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 3, 4}));
  EXPECT_TRUE(stream.pages[0].planes[0].decoded.bits.empty());
}

TEST(StreamReaderClean, CancelledStreamCarriesCancelMarkAndAbortTrailer) {
  SampleJob job;
  job.pages.push_back(squarePage());
  job.pages.push_back(squarePage());
  job.pages.back().cancelMark = 1;
  job.aborted = true;
  SampleLayout layout;
  const Bytes bytes = buildSampleStream(job, &layout);
  EXPECT_EQ(bytes[layout.pageEnd[1] + 63], 0x4B);
  EXPECT_EQ(bytes[layout.pageEnd[0] + 63], 0x4A);
  const JobStream stream = parse(bytes);
  EXPECT_TRUE(stream.clean()) << problemList(stream);
  ASSERT_EQ(stream.pages.size(), 2u);
  EXPECT_EQ(stream.pages[0].cancelMark, 0);
  EXPECT_EQ(stream.pages[1].cancelMark, 1);
  EXPECT_EQ(stream.trailer, TrailerForm::EojAbort);
  EXPECT_EQ(stream.trailerLine, "@PJL EOJ Abort");
}

TEST(StreamReaderClean, JobCancelledBeforeAnyPageHasHeaderAndAbortTrailer) {
  SampleJob job;
  job.aborted = true;
  const JobStream stream = parse(buildSampleStream(job));
  EXPECT_TRUE(stream.clean()) << problemList(stream);
  EXPECT_TRUE(stream.pages.empty());
  EXPECT_EQ(stream.trailer, TrailerForm::EojAbort);
}

// ---- damaged records ----

TEST(StreamReaderDamage, FlippedCheckBytesAreReportedAtByte63) {
  SampleLayout layout;
  const Bytes clean = buildSampleStream(duplexJob(), &layout);
  for (size_t record : {layout.jobStart, layout.pageStart[1], layout.pageEnd[2]}) {
    Bytes bytes = clean;
    bytes[record + 63] ^= 0x01;
    const JobStream stream = parse(bytes);
    EXPECT_EQ(stream.problems.size(), 1u) << problemList(stream);
    EXPECT_TRUE(hasProblemAt(stream, record + 63, "check byte")) << problemList(stream);
    EXPECT_EQ(stream.pages.size(), 4u);
  }
}

TEST(StreamReaderDamage, FlippedParameterByteFailsTheCheckByte) {
  SampleLayout layout;
  Bytes bytes = buildSampleStream(simplexJob(), &layout);
  bytes[layout.pageStart[0] + 7] = 2;   // media code changed, check byte not
  const JobStream stream = parse(bytes);
  EXPECT_TRUE(hasProblemAt(stream, layout.pageStart[0] + 63, "check byte")) << problemList(stream);
}

TEST(StreamReaderDamage, MissingPageEndRecordIsReportedWhereItBelongs) {
  SampleLayout layout;
  Bytes bytes = buildSampleStream(duplexJob(), &layout);
  bytes.erase(bytes.begin() + long(layout.pageEnd[1]), bytes.begin() + long(layout.pageEnd[1] + 64));
  const JobStream stream = parse(bytes);
  EXPECT_TRUE(hasProblemAt(stream, layout.pageEnd[1], "page 2")) << problemList(stream);
  EXPECT_TRUE(hasProblemAt(stream, layout.pageEnd[1], "no page-end record"));
  ASSERT_EQ(stream.pages.size(), 4u);
  EXPECT_FALSE(stream.pages[1].hasEnd);
  EXPECT_TRUE(stream.pages[2].hasEnd);
  EXPECT_EQ(stream.pages[2].offset, layout.pageEnd[1]);
}

TEST(StreamReaderDamage, LastPageWithoutPageEndBeforeTrailer) {
  SampleLayout layout;
  Bytes bytes = buildSampleStream(simplexJob(), &layout);
  bytes.erase(bytes.begin() + long(layout.pageEnd[0]), bytes.begin() + long(layout.pageEnd[0] + 64));
  const JobStream stream = parse(bytes);
  EXPECT_TRUE(hasProblemAt(stream, layout.pageEnd[0], "no page-end record")) << problemList(stream);
  EXPECT_EQ(stream.trailer, TrailerForm::Eoj);
}

TEST(StreamReaderDamage, UnknownRecordCodeIsReported) {
  SampleLayout layout;
  Bytes bytes = buildSampleStream(simplexJob(), &layout);
  bytes[layout.pageEnd[0] + 4] = 'x';
  sealSampleRecord(bytes.data() + layout.pageEnd[0]);
  const JobStream stream = parse(bytes);
  EXPECT_TRUE(hasProblemAt(stream, layout.pageEnd[0] + 4, "unknown record code")) << problemList(stream);
}

TEST(StreamReaderDamage, NonZeroReservedBytesAreReported) {
  SampleLayout layout;
  Bytes bytes = buildSampleStream(simplexJob(), &layout);
  bytes[layout.pageStart[0] + 50] = 7;
  sealSampleRecord(bytes.data() + layout.pageStart[0]);
  bytes[layout.pageEnd[0] + 20] = 1;
  sealSampleRecord(bytes.data() + layout.pageEnd[0]);
  const JobStream stream = parse(bytes);
  EXPECT_TRUE(hasProblemAt(stream, layout.pageStart[0] + 50, "reserved byte")) << problemList(stream);
  EXPECT_TRUE(hasProblemAt(stream, layout.pageEnd[0] + 20, "reserved byte"));
}

TEST(StreamReaderDamage, MissingJobStartRecordIsReported) {
  SampleLayout layout;
  Bytes bytes = buildSampleStream(simplexJob(), &layout);
  bytes.erase(bytes.begin() + long(layout.jobStart), bytes.begin() + long(layout.jobStart + 64));
  const JobStream stream = parse(bytes);
  EXPECT_TRUE(hasProblemAt(stream, layout.jobStart, "no job-start record")) << problemList(stream);
  EXPECT_EQ(stream.pages.size(), 1u);
}

// ---- damaged page data ----

TEST(StreamReaderDamage, PlaneCutShortIsReportedWhereItsDataEnds) {
  SampleLayout layout;
  Bytes bytes = buildSampleStream(simplexJob(), &layout);
  const size_t cut = 10;
  bytes.erase(bytes.begin() + long(layout.pageEnd[0] - cut), bytes.begin() + long(layout.pageEnd[0]));
  const JobStream stream = parse(bytes);
  const size_t dataEnd = layout.pageEnd[0] - cut;
  EXPECT_TRUE(hasProblemAt(stream, dataEnd, "plane 3 is cut short")) << problemList(stream);
  EXPECT_TRUE(hasProblemAt(stream, layout.pageStart[0] + 20, "compressed size"));
  EXPECT_TRUE(hasProblemAt(stream, layout.pageData[0], "plane 3 does not decode"));
  ASSERT_EQ(stream.pages.size(), 1u);
  EXPECT_TRUE(stream.pages[0].hasEnd);   // the page-end record is still found
  EXPECT_EQ(stream.pages[0].endOffset, dataEnd);
  EXPECT_FALSE(stream.pages[0].planes[0].decodedOk);
  EXPECT_EQ(stream.trailer, TrailerForm::Eoj);
}

TEST(StreamReaderDamage, StreamEndingInsideAPlaneIsReported) {
  SampleLayout layout;
  Bytes bytes = buildSampleStream(duplexJob(), &layout);
  const size_t end = layout.pageData[0] + 40;
  bytes.resize(end);
  const JobStream stream = parse(bytes);
  EXPECT_TRUE(hasProblemAt(stream, end, "is cut short")) << problemList(stream);
  EXPECT_TRUE(hasProblemAt(stream, end, "no page-end record"));
  EXPECT_TRUE(hasProblemAt(stream, end, "without the trailer"));
  EXPECT_EQ(stream.trailer, TrailerForm::Missing);
}

TEST(StreamReaderDamage, PlaneLengthLargerThanTheDataIsReported) {
  SampleLayout layout;
  Bytes bytes = buildSampleStream(simplexJob(), &layout);
  const size_t record = layout.pageStart[0];
  const uint32_t length = getLe32(bytes, record + 24);
  putLe32(bytes, record + 24, length + 100);
  putLe32(bytes, record + 20, length + 100);
  sealSampleRecord(bytes.data() + record);
  const JobStream stream = parse(bytes);
  EXPECT_TRUE(hasProblemAt(stream, layout.pageEnd[0], "plane 3 is cut short")) << problemList(stream);
  EXPECT_TRUE(hasProblemAt(stream, record + 20, "bytes of page data are present"));
  // The entity itself is whole: it still decodes.
  ASSERT_EQ(stream.pages.size(), 1u);
  EXPECT_TRUE(stream.pages[0].planes[0].decodedOk);
  EXPECT_TRUE(stream.pages[0].hasEnd);
}

TEST(StreamReaderDamage, ColourPlaneLengthTooLargeShiftsTheFollowingPlanes) {
  SampleLayout layout;
  Bytes bytes = buildSampleStream(duplexJob(), &layout);
  const size_t record = layout.pageStart[0];
  putLe32(bytes, record + 36, getLe32(bytes, record + 36) + 5);   // plane 2, sent first
  sealSampleRecord(bytes.data() + record);
  const JobStream stream = parse(bytes);
  EXPECT_TRUE(hasProblemAt(stream, record + 20, "differs from the plane lengths")) << problemList(stream);
  EXPECT_TRUE(hasProblemAt(stream, layout.pageEnd[0], "plane 3 is cut short"));
  EXPECT_FALSE(stream.clean());
  EXPECT_EQ(stream.pages.size(), 4u);
}

TEST(StreamReaderDamage, BytesBetweenPageDataAndPageEndAreReported) {
  SampleLayout layout;
  Bytes bytes = buildSampleStream(simplexJob(), &layout);
  bytes.insert(bytes.begin() + long(layout.pageEnd[0]), 3, uint8_t(0));
  const JobStream stream = parse(bytes);
  EXPECT_TRUE(hasProblemAt(stream, layout.pageEnd[0], "3 bytes follow the page data")) << problemList(stream);
  EXPECT_TRUE(hasProblemAt(stream, layout.pageStart[0] + 20, "compressed size"));
}

TEST(StreamReaderDamage, EntityHeaderDisagreeingWithRecordIsReported) {
  SampleLayout layout;
  Bytes bytes = buildSampleStream(simplexJob(), &layout);
  const size_t record = layout.pageStart[0];
  putLe32(bytes, record + 12, 301);          // lines
  putLe32(bytes, record + 16, 301 * 64);     // raw size to match
  sealSampleRecord(bytes.data() + record);
  const JobStream stream = parse(bytes);
  EXPECT_EQ(stream.problems.size(), 1u) << problemList(stream);
  EXPECT_TRUE(hasProblemAt(stream, layout.pageData[0] + 8, "height 300 differs"));
}

TEST(StreamReaderDamage, DamagedEntityDataFailsToDecode) {
  SampleLayout layout;
  Bytes bytes = buildSampleStream(simplexJob(), &layout);
  // A marker byte in the middle of the stripe data.
  bytes[layout.pageData[0] + 24] = 0xFF;
  bytes[layout.pageData[0] + 25] = 0x07;
  const JobStream stream = parse(bytes);
  EXPECT_FALSE(stream.clean());
  ASSERT_EQ(stream.pages.size(), 1u);
  EXPECT_FALSE(stream.pages[0].planes[0].decodedOk) << problemList(stream);
}

TEST(StreamReaderDamage, RawSizeOfNeitherOneNorFourPlanes) {
  SampleLayout layout;
  Bytes bytes = buildSampleStream(simplexJob(), &layout);
  putLe32(bytes, layout.pageStart[0] + 16, 12345);
  sealSampleRecord(bytes.data() + layout.pageStart[0]);
  const JobStream stream = parse(bytes);
  EXPECT_TRUE(hasProblemAt(stream, layout.pageStart[0] + 16, "raw size 12345")) << problemList(stream);
}

TEST(StreamReaderDamage, GrayscalePageWithColourPlaneLength) {
  SampleLayout layout;
  Bytes bytes = buildSampleStream(simplexJob(), &layout);
  putLe32(bytes, layout.pageStart[0] + 32, 9);
  sealSampleRecord(bytes.data() + layout.pageStart[0]);
  const JobStream stream = parse(bytes);
  EXPECT_TRUE(hasProblemAt(stream, layout.pageStart[0] + 32, "length of 9 for plane 1")) << problemList(stream);
}

// ---- envelope and trailer ----

TEST(StreamReaderEnvelope, StreamWithoutLeadingUel) {
  Bytes bytes = buildSampleStream(simplexJob());
  bytes.erase(bytes.begin(), bytes.begin() + 9);
  const JobStream stream = parse(bytes);
  EXPECT_TRUE(hasProblemAt(stream, 0, "does not begin with the UEL")) << problemList(stream);
}

TEST(StreamReaderEnvelope, FailureCommentBeforeUelIsKept) {
  const std::string comment = "@PJL COMMENT /tmp/tmp-XXXXXX\r\n";
  const Bytes bytes(comment.begin(), comment.end());
  const JobStream stream = parse(bytes);
  ASSERT_EQ(stream.envelope.size(), 1u);
  EXPECT_EQ(stream.envelope[0].text, "@PJL COMMENT /tmp/tmp-XXXXXX");
  EXPECT_TRUE(hasProblemAt(stream, 0, "does not begin with the UEL"));
  EXPECT_TRUE(hasProblemAt(stream, bytes.size(), "without the trailer"));
}

TEST(StreamReaderEnvelope, LineWithoutCarriageReturn) {
  SampleJob job = simplexJob();
  job.pjlLines = samplePjlLines(false, 1, false);
  Bytes bytes = buildSampleStream(job);
  const std::string text(bytes.begin(), bytes.end());
  const size_t crlf = text.find("\r\n");
  bytes.erase(bytes.begin() + long(crlf));
  const JobStream stream = parse(bytes);
  EXPECT_TRUE(hasProblemAt(stream, crlf, "LF without CR")) << problemList(stream);
  EXPECT_EQ(stream.pages.size(), 1u);
}

TEST(StreamReaderEnvelope, MalformedPjlLinesAreReportedAtTheirOffsets) {
  SampleJob job = simplexJob();
  job.pjlLines = samplePjlLines(false, 1, false);
  job.pjlLines.insert(job.pjlLines.begin() + 1, "@PJL SET NOVALUE");
  job.pjlLines.insert(job.pjlLines.begin() + 2, "PJL SET X=1");
  job.pjlLines.insert(job.pjlLines.begin() + 3, "@PJL SET JOBATTR=NOCOLON");
  job.pjlLines.insert(job.pjlLines.begin() + 4, "@PJL FROB");
  job.pjlLines.insert(job.pjlLines.begin() + 5, "@PJL SET X=\x01");
  const JobStream stream = parse(buildSampleStream(job));
  ASSERT_GE(stream.envelope.size(), 6u);
  EXPECT_TRUE(hasProblemAt(stream, stream.envelope[1].offset, "without KEY=VALUE")) << problemList(stream);
  EXPECT_TRUE(hasProblemAt(stream, stream.envelope[2].offset, "does not begin with @PJL"));
  EXPECT_TRUE(hasProblemAt(stream, stream.envelope[3].offset, "without NAME:VALUE"));
  EXPECT_TRUE(hasProblemAt(stream, stream.envelope[4].offset, "unknown PJL command FROB"));
  EXPECT_TRUE(hasProblemAt(stream, stream.envelope[5].offset + 11, "control byte 0x01"));
  EXPECT_EQ(stream.problems.size(), 5u);
}

TEST(StreamReaderEnvelope, OverlongPjlLineIsReported) {
  SampleJob job = simplexJob();
  job.pjlLines = samplePjlLines(false, 1, false);
  job.pjlLines[3] = "@PJL SET JOBATTR=DOC:" + std::string(240, 'x');
  const JobStream stream = parse(buildSampleStream(job));
  EXPECT_TRUE(hasProblemAt(stream, stream.envelope[3].offset, "more than 255")) << problemList(stream);
}

TEST(StreamReaderEnvelope, RecordsBeforeEnterLanguage) {
  SampleJob job = simplexJob();
  job.pjlLines = samplePjlLines(false, 1, false);
  job.pjlLines.pop_back();
  SampleLayout layout;
  const JobStream stream = parse(buildSampleStream(job, &layout));
  EXPECT_TRUE(hasProblemAt(stream, layout.jobStart, "before @PJL ENTER LANGUAGE=ZERU")) << problemList(stream);
  EXPECT_EQ(stream.pages.size(), 1u);
}

TEST(StreamReaderEnvelope, OtherLanguageIsReported) {
  SampleJob job = simplexJob();
  job.pjlLines = samplePjlLines(false, 1, false);
  job.pjlLines.back() = "@PJL ENTER LANGUAGE=PCL";
  const JobStream stream = parse(buildSampleStream(job));
  EXPECT_TRUE(hasProblemAt(stream, stream.envelope.back().offset, "another language")) << problemList(stream);
}

TEST(StreamReaderTrailer, MissingTrailerIsReportedAtTheEnd) {
  SampleLayout layout;
  Bytes bytes = buildSampleStream(simplexJob(), &layout);
  bytes.resize(layout.trailer);
  const JobStream stream = parse(bytes);
  EXPECT_EQ(stream.problems.size(), 1u) << problemList(stream);
  EXPECT_TRUE(hasProblemAt(stream, bytes.size(), "without the trailer"));
}

TEST(StreamReaderTrailer, BytesAfterTheTrailerAreReported) {
  Bytes bytes = buildSampleStream(simplexJob());
  const size_t end = bytes.size();
  bytes.push_back('x');
  const JobStream stream = parse(bytes);
  EXPECT_TRUE(hasProblemAt(stream, end, "1 bytes after the trailer")) << problemList(stream);
}

TEST(StreamReaderTrailer, UnknownTrailerLine) {
  SampleLayout layout;
  Bytes bytes = buildSampleStream(simplexJob(), &layout);
  bytes.resize(layout.trailer + 9);
  const std::string line = "@PJL EOJ NAME=X\r\n";
  bytes.insert(bytes.end(), line.begin(), line.end());
  const JobStream stream = parse(bytes);
  EXPECT_EQ(stream.trailer, TrailerForm::Other);
  EXPECT_TRUE(hasProblemAt(stream, layout.trailer + 9, "neither @PJL EOJ")) << problemList(stream);
}

TEST(StreamReaderTrailer, CancelMarkFollowedByPlainEojIsReported) {
  SampleJob job = simplexJob();
  job.pages[0].cancelMark = 1;
  SampleLayout layout;
  const JobStream stream = parse(buildSampleStream(job, &layout));
  EXPECT_TRUE(hasProblemAt(stream, layout.trailer + 9, "plain @PJL EOJ after the cancelled")) << problemList(stream);
}

TEST(StreamReaderTrailer, PageAfterCancelledPageEndIsReported) {
  SampleJob job = simplexJob();
  job.pages[0].cancelMark = 1;
  job.pages.push_back(squarePage());
  job.aborted = true;
  SampleLayout layout;
  const JobStream stream = parse(buildSampleStream(job, &layout));
  EXPECT_TRUE(hasProblemAt(stream, layout.pageStart[1], "follows the cancelled")) << problemList(stream);
}

// ---- pieces ----

TEST(StreamReaderPieces, CheckByteIsXorOfTheFirst63Bytes) {
  uint8_t record[64] = {0x1b, 'L', 'H', '@', 's', 'j', 1, 0, 2, 0};
  EXPECT_EQ(streamRecordCheckByte(record), 0x45);
  record[8] = 1;
  EXPECT_EQ(streamRecordCheckByte(record), 0x46);
  record[63] = 0xAA;   // byte 63 is not part of it
  EXPECT_EQ(streamRecordCheckByte(record), 0x46);
}

TEST(StreamReaderPieces, ColourIsFourPlanesOfRawSize) {
  EXPECT_TRUE(rawSizeIsColour(4 * 7016 * 640, 7016, 5120));
  EXPECT_FALSE(rawSizeIsColour(7016 * 640, 7016, 5120));
  EXPECT_FALSE(rawSizeIsColour(0, 0, 5120));
}

TEST(StreamReaderPieces, PaperCodesFollowTheTableNotTheIndex) {
  EXPECT_STREQ(paperCodeName(0), "Custom");
  EXPECT_STREQ(paperCodeName(1), "Letter");
  EXPECT_STREQ(paperCodeName(9), "Legal");
  EXPECT_STREQ(paperCodeName(10), "A5LEF");
  EXPECT_STREQ(paperCodeName(11), "B6LEF");
  EXPECT_STREQ(paperCodeName(12), "unknown");
  EXPECT_STREQ(mediaCodeName(3), "covers (cupsMediaType 2)");
}

TEST(StreamReaderPieces, JbigHeaderFieldsAreBigEndian) {
  const uint8_t bih[20] = {0, 0, 1, 0, 0, 0, 0x14, 0, 0, 0, 0x1B, 0x68, 0, 0, 0, 128, 0, 0, 0, 0x40};
  JbigHeader header;
  ASSERT_TRUE(parseJbigHeader(bih, header));
  EXPECT_EQ(header.width, 5120u);
  EXPECT_EQ(header.height, 7016u);
  EXPECT_EQ(header.l0, 128u);
  EXPECT_EQ(header.stripes, 55u);
  EXPECT_EQ(header.options, 0x40);
  EXPECT_FALSE(parseJbigHeader(std::span<const uint8_t>(bih, 19), header));
}

TEST(StreamReaderPieces, DecoderReportsTruncatedAndOverlongEntities) {
  SamplePlane plane(64, 200);
  plane.fillRect(8, 8, 16, 16);
  Bytes entity = encodeSamplePlane(plane);
  DecodedPlane decoded;
  std::string reason;
  ASSERT_TRUE(decodeJbigEntity(entity, decoded, reason)) << reason;
  EXPECT_EQ(decoded.bits, plane.bits);

  const Bytes shortEntity(entity.begin(), entity.end() - 3);
  EXPECT_FALSE(decodeJbigEntity(shortEntity, decoded, reason));
  EXPECT_NE(reason.find("before the image is complete"), std::string::npos) << reason;

  Bytes longEntity = entity;
  longEntity.push_back(0);
  longEntity.push_back(0);
  size_t extra = 0;
  EXPECT_FALSE(decodeJbigEntity(longEntity, decoded, reason, &extra));
  EXPECT_EQ(extra, 2u) << reason;
  EXPECT_EQ(decoded.bits, plane.bits);
}

TEST(StreamReaderPieces, PageStartFieldsAreReadFromTheirOffsets) {
  // A grayscale A4 page at 600 dpi, 7016 lines, a plane 3 of 12345 bytes.
  Bytes record = {0x1B, 0x4C, 0x48, 0x40, 0x73, 0x70, 0x02, 0x01, 0x00, 0x14, 0x00, 0x00,
                  0x68, 0x1B, 0x00, 0x00, 0x00, 0x84, 0x44, 0x00, 0x39, 0x30, 0x00, 0x00,
                  0x39, 0x30, 0x00, 0x00};
  record.resize(40, 0);
  for (uint8_t b : {0x00, 0x00, 0x58, 0x02, 0x33, 0x08, 0x9A, 0x0B}) record.push_back(b);
  record.resize(63, 0);
  record.push_back(0x08);
  SampleJob job;
  Bytes bytes = buildSampleStream(job);
  const size_t at = bytes.size() - 9 - std::string("@PJL EOJ\r\n").size();
  bytes.insert(bytes.begin() + long(at), record.begin(), record.end());
  const JobStream stream = parse(bytes);
  ASSERT_EQ(stream.pages.size(), 1u);
  const PageBlock& page = stream.pages[0];
  EXPECT_TRUE(page.checkByteOk) << problemList(stream);
  EXPECT_FALSE(page.colour);
  EXPECT_EQ(page.paperCode, 2);
  EXPECT_EQ(page.mediaCode, 1);
  EXPECT_EQ(page.dotsPerLine, 5120u);
  EXPECT_EQ(page.lines, 7016u);
  EXPECT_EQ(page.rawSize, 4490240u);
  EXPECT_EQ(page.compressedSize, 12345u);
  EXPECT_EQ(page.planeLength[3], 12345u);
  EXPECT_EQ(page.resolution, 600);
  EXPECT_EQ(page.paperWidth10, 2099);
  EXPECT_EQ(page.paperHeight10, 2970);
  // No plane data follows: the plane is reported cut short at the trailer.
  EXPECT_TRUE(hasProblemAt(stream, at + 64, "plane 3 is cut short: 0 of 12345"));
}

TEST(StreamReaderPieces, DecoderRefusesHeadersThatWouldExhaustMemory) {
  SamplePlane plane(64, 16);
  Bytes entity = encodeSamplePlane(plane);
  DecodedPlane decoded;
  std::string reason;
  Bytes huge = entity;
  huge[4] = 0x7F;   // width 2^31 and more
  EXPECT_FALSE(decodeJbigEntity(huge, decoded, reason));
  EXPECT_NE(reason.find("not decoded: image of"), std::string::npos) << reason;
  Bytes planes = entity;
  planes[2] = 200;
  EXPECT_FALSE(decodeJbigEntity(planes, decoded, reason));
  EXPECT_NE(reason.find("200 planes"), std::string::npos) << reason;
}

TEST(StreamReaderDamage, PreviewOfAPageWithoutDecodablePlanesIsEmpty) {
  SampleLayout layout;
  Bytes bytes = buildSampleStream(simplexJob(), &layout);
  bytes[layout.pageData[0] + 4] = 0x7F;   // the entity's width
  std::vector<int> previewWidths;
  ParseOptions options;
  options.pageDone = [&](PageBlock& page) { previewWidths.push_back(int(composePagePreview(page, 1).width)); };
  const JobStream stream = parseJobStream(bytes, options);
  EXPECT_TRUE(hasProblemAt(stream, layout.pageData[0] + 4, "width")) << problemList(stream);
  EXPECT_EQ(previewWidths, (std::vector<int>{0}));
}
