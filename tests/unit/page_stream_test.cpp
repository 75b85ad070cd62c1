#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

extern "C" {
#include <jbig.h>
}

#include "jbig/compression.h"
#include "job/page_stream.h"

namespace {

// A temporary file that is removed with the test.
class TempFile {
public:
  TempFile() {
    char name[] = "/tmp/page-stream-test-XXXXXX";
    fd_ = mkstemp(name);
    name_ = name;
  }
  ~TempFile() {
    if (fd_ >= 0) close(fd_);
    unlink(name_.c_str());
  }
  int fd() const { return fd_; }
  const char* name() const { return name_.c_str(); }
  void closeFd() {
    close(fd_);
    fd_ = -1;
  }

private:
  int fd_ = -1;
  std::string name_;
};

std::vector<uint8_t> fileBytes(const char* name) {
  std::vector<uint8_t> bytes;
  int fd = open(name, O_RDONLY);
  if (fd < 0) return bytes;
  uint8_t block[8192];
  ssize_t got;
  while ((got = read(fd, block, sizeof block)) > 0) bytes.insert(bytes.end(), block, block + got);
  close(fd);
  return bytes;
}

std::vector<uint8_t> streamBytes(FILE* file) {
  fflush(file);
  std::vector<uint8_t> bytes;
  uint8_t block[8192];
  off_t offset = 0;
  ssize_t got;
  while ((got = pread(fileno(file), block, sizeof block, offset)) > 0) {
    bytes.insert(bytes.end(), block, block + got);
    offset += got;
  }
  return bytes;
}

std::vector<uint8_t> pageEndBytes(bool cancelled) {
  std::vector<uint8_t> bytes(64, 0);
  const uint8_t head[] = {0x1B, 0x4C, 0x48, 0x40, 0x65, 0x70};
  std::copy(std::begin(head), std::end(head), bytes.begin());
  bytes[6] = cancelled ? 1 : 0;
  bytes[63] = cancelled ? 0x4B : 0x4A;
  return bytes;
}

// A page whose compressed planes are stand-in bytes of the given lengths,
// each plane filled with its own number so that the order can be read back.
PlaneBuffers pageWithCompressedLengths(int planeCount, const uint32_t (&lengths)[4],
                                       PageStartRecord& record) {
  PlaneBuffers page;
  page.planeCount = planeCount;
  uint32_t total = 0;
  for (int p = 0; p < 4; ++p) {
    if (!page.usesPlane(p)) continue;
    page.compressed[p].assign(lengths[p] + 10, static_cast<uint8_t>(0xA0 + p));
    page.compressedLength[p] = lengths[p];
    record.setPlaneLength(p, lengths[p]);
    total += lengths[p];
  }
  record.setCompressedSize(total);
  return page;
}

// Sends a spooled page to a stdio stream, with the job cancelled or not.
SendResult sendPage(FILE* out, const char* spoolName, std::vector<uint8_t>& copyBuffer,
                    bool cancelled) {
  zeru::FileSink sink(out);
  return SendSpooledPage(sink, spoolName, copyBuffer, [cancelled] { return cancelled; });
}

}  // namespace

TEST(PageRecord, ColourPlanesFollowTheRecordInReverseFieldOrder) {
  PageStartRecord record;
  record.setPaper(2, 1, 2099, 2970);
  record.setRaster(5120, 10, 4 * 10 * 640, 600);
  const uint32_t lengths[4] = {200, 300, 400, 100};  // planes 0, 1, 2, 3
  PlaneBuffers page = pageWithCompressedLengths(4, lengths, record);
  TempFile spool;
  ASSERT_TRUE(WritePageRecord(spool.fd(), record, page));

  std::vector<uint8_t> bytes = fileBytes(spool.name());
  ASSERT_EQ(bytes.size(), 64u + 1000u);
  EXPECT_EQ(getLe32(bytes.data(), 20), 1000u);
  EXPECT_EQ(getLe32(bytes.data(), 24), 100u);
  EXPECT_EQ(getLe32(bytes.data(), 28), 200u);
  EXPECT_EQ(getLe32(bytes.data(), 32), 300u);
  EXPECT_EQ(getLe32(bytes.data(), 36), 400u);
  EXPECT_EQ(bytes[1], 0x4C);
  EXPECT_EQ(bytes[2], 0x48);
  EXPECT_EQ(bytes[63], RecordCheckByte(bytes.data()));

  std::vector<uint8_t> expected;
  for (int p : {2, 1, 0, 3}) expected.insert(expected.end(), lengths[p], 0xA0 + p);
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 64, bytes.end()), expected);
}

TEST(PageRecord, GrayscalePageCarriesPlaneThreeAlone) {
  PageStartRecord record;
  record.clearPlaneLengths();
  const uint32_t lengths[4] = {0, 0, 0, 12345};
  PlaneBuffers page = pageWithCompressedLengths(1, lengths, record);
  TempFile spool;
  ASSERT_TRUE(WritePageRecord(spool.fd(), record, page));

  std::vector<uint8_t> bytes = fileBytes(spool.name());
  ASSERT_EQ(bytes.size(), 64u + 12345u);
  EXPECT_EQ(getLe32(bytes.data(), 20), 12345u);
  EXPECT_EQ(getLe32(bytes.data(), 24), 12345u);
  for (size_t i = 28; i < 40; ++i) EXPECT_EQ(bytes[i], 0) << i;
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 64, bytes.end()),
            std::vector<uint8_t>(12345, 0xA3));
}

TEST(PageRecord, LengthsThatDisagreeWithThePlanesWriteNothing) {
  PageStartRecord record;
  const uint32_t lengths[4] = {10, 10, 10, 10};
  PlaneBuffers page = pageWithCompressedLengths(4, lengths, record);
  page.compressedLength[1] = 11;  // the record still says 10
  TempFile spool;
  EXPECT_FALSE(WritePageRecord(spool.fd(), record, page));
  EXPECT_EQ(errno, EINVAL);

  page.compressedLength[1] = 10;
  page.compressed[2].resize(5);   // fewer bytes than announced
  EXPECT_FALSE(WritePageRecord(spool.fd(), record, page));
  EXPECT_TRUE(fileBytes(spool.name()).empty());
}

TEST(PageRecord, FullDeviceIsReportedAsFailure) {
  int full = open("/dev/full", O_WRONLY);
  ASSERT_GE(full, 0);
  PageStartRecord record;
  const uint32_t lengths[4] = {0, 0, 0, 50};
  PlaneBuffers page = pageWithCompressedLengths(1, lengths, record);
  errno = 0;
  EXPECT_FALSE(WritePageRecord(full, record, page));
  EXPECT_EQ(errno, ENOSPC);
  close(full);
}

TEST(SendSpooledPage, LargeFileIsSentWholeThenPageEnd) {
  TempFile spool;
  std::vector<uint8_t> content(3 * kCopyBufferSize + 1234);
  std::mt19937 random(3);
  for (uint8_t& byte : content) byte = static_cast<uint8_t>(random());
  ASSERT_EQ(write(spool.fd(), content.data(), content.size()),
            static_cast<ssize_t>(content.size()));
  spool.closeFd();

  FILE* out = tmpfile();
  ASSERT_NE(out, nullptr);
  std::vector<uint8_t> copyBuffer(kCopyBufferSize);
  EXPECT_EQ(sendPage(out, spool.name(), copyBuffer, false), SendResult::Sent);
  // A page sent twice (collated copies) gets its own page-end record each time.
  EXPECT_EQ(sendPage(out, spool.name(), copyBuffer, false), SendResult::Sent);

  std::vector<uint8_t> expected = content;
  std::vector<uint8_t> end = pageEndBytes(false);
  expected.insert(expected.end(), end.begin(), end.end());
  expected.insert(expected.end(), content.begin(), content.end());
  expected.insert(expected.end(), end.begin(), end.end());
  EXPECT_EQ(streamBytes(out), expected);
  fclose(out);
}

TEST(SendSpooledPage, UnopenableSpoolStillGetsItsPageEnd) {
  FILE* out = tmpfile();
  ASSERT_NE(out, nullptr);
  std::vector<uint8_t> copyBuffer(kCopyBufferSize);
  EXPECT_EQ(sendPage(out, "/nonexistent/spool-file", copyBuffer, false), SendResult::Sent);
  EXPECT_EQ(streamBytes(out), pageEndBytes(false));
  fclose(out);
}

TEST(SendSpooledPage, CancelMarksThePageEndAndIsReported) {
  TempFile spool;
  ASSERT_EQ(write(spool.fd(), "abc", 3), 3);
  FILE* out = tmpfile();
  ASSERT_NE(out, nullptr);
  std::vector<uint8_t> copyBuffer(kCopyBufferSize);
  EXPECT_EQ(sendPage(out, spool.name(), copyBuffer, true), SendResult::Cancelled);

  std::vector<uint8_t> expected = {'a', 'b', 'c'};
  std::vector<uint8_t> end = pageEndBytes(true);
  expected.insert(expected.end(), end.begin(), end.end());
  EXPECT_EQ(streamBytes(out), expected);
  fclose(out);
}

TEST(SendSpooledPage, FailingOutputIsReported) {
  TempFile spool;
  ASSERT_EQ(write(spool.fd(), "page", 4), 4);
  FILE* out = fopen("/dev/full", "w");
  ASSERT_NE(out, nullptr);
  std::vector<uint8_t> copyBuffer(kCopyBufferSize);
  EXPECT_EQ(sendPage(out, spool.name(), copyBuffer, false), SendResult::OutputFailed);
  // Even an empty page fails on its page-end record.
  EXPECT_EQ(sendPage(out, "/nonexistent/spool-file", copyBuffer, false), SendResult::OutputFailed);
  fclose(out);
}

TEST(OutputBlock, FullPipeIsWaitedForUntilTheReaderDrainsIt) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  fcntl(ends[1], F_SETFL, fcntl(ends[1], F_GETFL) | O_NONBLOCK);
  FILE* out = fdopen(ends[1], "w");
  ASSERT_NE(out, nullptr);

  // Several times what the pipe holds: the writer meets EAGAIN and waits.
  std::vector<uint8_t> block(1 << 20);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 7);
  std::vector<uint8_t> received;
  std::thread reader([&] {
    uint8_t chunk[4096];
    ssize_t got;
    while ((got = read(ends[0], chunk, sizeof chunk)) > 0) received.insert(received.end(), chunk, chunk + got);
  });
  EXPECT_TRUE(writeOutputBlock(out, block.data(), block.size()));
  fclose(out);
  reader.join();
  close(ends[0]);
  EXPECT_EQ(received, block);
}

TEST(OutputBlock, KeepsOrderWithWhatTheStreamBuffered) {
  FILE* out = tmpfile();
  ASSERT_NE(out, nullptr);
  fputs("head,", out);
  ASSERT_TRUE(writeOutputBlock(out, "block", 5));
  std::vector<uint8_t> bytes = streamBytes(out);
  EXPECT_EQ(std::string(bytes.begin(), bytes.end()), "head,block");
  fclose(out);
}

TEST(OutputBlock, StreamWithoutDescriptorIsWrittenThroughItsBuffer) {
  char memory[64] = {};
  FILE* out = fmemopen(memory, sizeof memory, "w");
  ASSERT_NE(out, nullptr);
  EXPECT_TRUE(writeOutputBlock(out, "in memory", 9));
  fclose(out);
  EXPECT_STREQ(memory, "in memory");
}

TEST(OutputBlock, PermanentFailureIsNotRetried) {
  FILE* out = fopen("/dev/full", "w");
  ASSERT_NE(out, nullptr);
  EXPECT_FALSE(writeOutputBlock(out, "x", 1));
  EXPECT_EQ(errno, ENOSPC);
  fclose(out);
}

TEST(PageStream, CompressedColourPageDecodesFromTheSentStream) {
  PlaneBuffers page;
  page.planeCount = 4;
  page.lineWidth = 256;
  page.bytesPerLine = 32;
  page.lines = 130;
  std::mt19937 random(11);
  for (int p = 0; p < 4; ++p) {
    page.plane[p].resize(page.bytesPerLine * page.lines);
    for (size_t i = 0; i < page.plane[p].size(); ++i)
      page.plane[p][i] = (i % (p + 3) == 0) ? static_cast<uint8_t>(random()) : 0;
  }
  PageStartRecord record;
  record.setPaper(1, 1, 2159, 2794);
  record.setRaster(256, 130, 4 * 130 * 32, 600);
  compressPage(page, record);

  TempFile spool;
  ASSERT_TRUE(WritePageRecord(spool.fd(), record, page));
  FILE* out = tmpfile();
  ASSERT_NE(out, nullptr);
  std::vector<uint8_t> copyBuffer(kCopyBufferSize);
  ASSERT_EQ(sendPage(out, spool.name(), copyBuffer, false), SendResult::Sent);
  std::vector<uint8_t> stream = streamBytes(out);
  fclose(out);

  // Split the planes by the record's length fields and decode each.
  ASSERT_GE(stream.size(), 128u);
  uint8_t x = 0;
  for (size_t i = 0; i < 64; ++i) x ^= stream[i];
  EXPECT_EQ(x, 0);
  size_t offset = 64;
  uint32_t total = 0;
  for (int p : {2, 1, 0, 3}) {
    SCOPED_TRACE(p);
    uint32_t length = getLe32(stream.data(), PageStartRecord::kPlaneLengthOffset[p]);
    total += length;
    ASSERT_LE(offset + length, stream.size());
    jbg_dec_state state;
    jbg_dec_init(&state);
    size_t used = 0;
    ASSERT_EQ(jbg_dec_in(&state, stream.data() + offset, length, &used), JBG_EOK);
    EXPECT_EQ(jbg_dec_getwidth(&state), getLe32(stream.data(), 8));
    EXPECT_EQ(jbg_dec_getheight(&state), getLe32(stream.data(), 12));
    const uint8_t* image = jbg_dec_getimage(&state, 0);
    EXPECT_EQ(std::vector<uint8_t>(image, image + jbg_dec_getsize(&state)), page.plane[p]);
    jbg_dec_free(&state);
    offset += length;
  }
  EXPECT_EQ(getLe32(stream.data(), 20), total);
  EXPECT_EQ(std::vector<uint8_t>(stream.begin() + offset, stream.end()), pageEndBytes(false));
}
