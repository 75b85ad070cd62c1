#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <vector>

#include "stream/command_record.h"

namespace {

std::vector<uint8_t> bytesOf(const CommandRecord& record) {
  return std::vector<uint8_t>(record.begin(), record.end());
}

uint8_t xorOfAll(const CommandRecord& record) {
  uint8_t x = 0;
  for (uint8_t byte : record) x ^= byte;
  return x;
}

// The monochrome A4 page at 600 dpi: media type 0, 7016 lines, plane 3 of
// 12345 bytes.
PageStartRecord monochromeA4Record() {
  PageStartRecord record;
  record.setPaper(2, 1, 2099, 2970);
  record.setRaster(5120, 7016, 7016 * (5120 / 8), 600);
  record.clearPlaneLengths();
  record.setPlaneLength(3, 12345);
  record.setCompressedSize(12345);
  return record;
}

}  // namespace

TEST(RecordIntegers, AreLittleEndian) {
  CommandRecord record{};
  putLe16(record, 42, 600);
  putLe32(record, 8, 0x12345678);
  EXPECT_EQ(record[42], 0x58);
  EXPECT_EQ(record[43], 0x02);
  EXPECT_EQ(record[8], 0x78);
  EXPECT_EQ(record[9], 0x56);
  EXPECT_EQ(record[10], 0x34);
  EXPECT_EQ(record[11], 0x12);
  EXPECT_EQ(getLe16(record.data(), 42), 600);
  EXPECT_EQ(getLe32(record.data(), 8), 0x12345678u);
  EXPECT_THROW(putLe32(record, 62, 1), std::out_of_range);
}

TEST(RecordCheckByte, IsTheXorOfTheFirst63Bytes) {
  CommandRecord record{};
  EXPECT_EQ(RecordCheckByte(record.data()), 0);
  record[0] = 0x1B;
  record[62] = 0x01;
  record[63] = 0xFF;  // the check byte's own place does not count
  EXPECT_EQ(RecordCheckByte(record.data()), 0x1A);
  sealRecord(record);
  EXPECT_EQ(record[63], 0x1A);
  EXPECT_EQ(xorOfAll(record), 0);
}

TEST(CommandRecord, StartsWithLeadInAndCode) {
  CommandRecord record = makeCommandRecord('s', 'j');
  std::vector<uint8_t> expected(64, 0);
  const uint8_t lead[] = {0x1B, 0x4C, 0x48, 0x40, 0x73, 0x6A};
  std::copy(std::begin(lead), std::end(lead), expected.begin());
  EXPECT_EQ(bytesOf(record), expected);
}

TEST(JobStartRecord, CarriesFlagAndCopies) {
  CommandRecord twoCopies = makeJobStartRecord(1, 2);
  std::vector<uint8_t> expected(64, 0);
  const uint8_t head[] = {0x1B, 0x4C, 0x48, 0x40, 0x73, 0x6A, 0x01, 0x00, 0x02, 0x00};
  std::copy(std::begin(head), std::end(head), expected.begin());
  expected[63] = 0x45;
  EXPECT_EQ(bytesOf(twoCopies), expected);

  CommandRecord oneCopy = makeJobStartRecord(1, 1);
  EXPECT_EQ(oneCopy[8], 0x01);
  EXPECT_EQ(oneCopy[9], 0x00);
  EXPECT_EQ(oneCopy[63], 0x46);

  CommandRecord many = makeJobStartRecord(1, 0x1234);
  EXPECT_EQ(many[8], 0x34);
  EXPECT_EQ(many[9], 0x12);
  EXPECT_EQ(xorOfAll(many), 0);
}

TEST(PageEndRecord, CarriesTheCancelMark) {
  std::vector<uint8_t> expected(64, 0);
  const uint8_t head[] = {0x1B, 0x4C, 0x48, 0x40, 0x65, 0x70};
  std::copy(std::begin(head), std::end(head), expected.begin());
  expected[63] = 0x4A;
  EXPECT_EQ(bytesOf(makePageEndRecord(false)), expected);

  expected[6] = 0x01;
  expected[63] = 0x4B;
  EXPECT_EQ(bytesOf(makePageEndRecord(true)), expected);
}

TEST(PageStartRecord, MonochromeA4PageIsByteExact) {
  PageStartRecord record = monochromeA4Record();
  const std::vector<uint8_t> expected = {
      0x1B, 0x4C, 0x48, 0x40, 0x73, 0x70, 0x02, 0x01,  // lead-in, code, paper, media
      0x00, 0x14, 0x00, 0x00,                          // 5120 dots per line
      0x68, 0x1B, 0x00, 0x00,                          // 7016 lines
      0x00, 0x84, 0x44, 0x00,                          // raw size 4490240
      0x39, 0x30, 0x00, 0x00,                          // compressed size 12345
      0x39, 0x30, 0x00, 0x00,                          // plane 3: 12345
      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,              // planes 0 to 2
      0x00, 0x00,                                      // reserved
      0x58, 0x02,                                      // 600 dpi
      0x33, 0x08,                                      // 2099
      0x9A, 0x0B,                                      // 2970
      0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,     // reserved
      0x08};                                           // check byte
  ASSERT_EQ(expected.size(), 64u);
  EXPECT_EQ(bytesOf(record.sealed()), expected);
}

TEST(PageStartRecord, PlaneLengthFieldsLieAt24To36) {
  PageStartRecord record;
  record.setPlaneLength(3, 100);
  record.setPlaneLength(0, 200);
  record.setPlaneLength(1, 300);
  record.setPlaneLength(2, 400);
  record.setCompressedSize(1000);
  const uint8_t* bytes = record.bytes().data();
  EXPECT_EQ(getLe32(bytes, 20), 1000u);
  EXPECT_EQ(getLe32(bytes, 24), 100u);
  EXPECT_EQ(getLe32(bytes, 28), 200u);
  EXPECT_EQ(getLe32(bytes, 32), 300u);
  EXPECT_EQ(getLe32(bytes, 36), 400u);
  for (int p = 0; p < 4; ++p) EXPECT_EQ(record.planeLength(p), 100u * (p == 3 ? 1 : p + 2));
  EXPECT_THROW(record.setPlaneLength(4, 1), std::out_of_range);
}

TEST(PageStartRecord, SealedRecordHasLeadInAndZeroXor) {
  PageStartRecord record;
  record.setPaper(9, 3, 2159, 3556);
  record.setRaster(10240, 100, 4 * 100 * 1280, 1200);
  record.setPlaneLength(2, 0xDEADBEEF);
  const CommandRecord& sealed = record.sealed();
  EXPECT_EQ(sealed[0], 0x1B);
  EXPECT_EQ(sealed[1], 0x4C);
  EXPECT_EQ(sealed[2], 0x48);
  EXPECT_EQ(sealed[3], 0x40);
  EXPECT_EQ(sealed[4], 's');
  EXPECT_EQ(sealed[5], 'p');
  EXPECT_EQ(xorOfAll(sealed), 0);

  // A refilled record is sealed anew.
  record.setPlaneLength(2, 5);
  EXPECT_EQ(xorOfAll(record.sealed()), 0);
}

TEST(PageStartRecord, ClearingLengthsLeavesOtherFieldsAlone) {
  PageStartRecord record = monochromeA4Record();
  for (int p = 0; p < 3; ++p) record.setPlaneLength(p, 9);
  record.clearPlaneLengths();
  const uint8_t* bytes = record.bytes().data();
  for (size_t i = 20; i < 40; ++i) EXPECT_EQ(bytes[i], 0) << i;
  EXPECT_EQ(getLe32(bytes, 8), 5120u);
  EXPECT_EQ(getLe16(bytes, 46), 2970);
}
