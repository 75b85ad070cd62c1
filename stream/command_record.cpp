#include "stream/command_record.h"

#include <stdexcept>

namespace {

// Lead-in of every record: ESC 'L' 'H' '@'.
constexpr uint8_t kLeadIn[4] = {0x1B, 0x4C, 0x48, 0x40};
constexpr size_t kCodeOffset = 4;
constexpr size_t kCheckByteOffset = 63;

// Job start ("sj").
constexpr size_t kJobStartFlagOffset = 6;
constexpr size_t kJobCopiesOffset = 8;

// Page end ("ep").
constexpr size_t kCancelMarkOffset = 6;

// Page start ("sp").
constexpr size_t kPaperCodeOffset = 6;
constexpr size_t kMediaCodeOffset = 7;
constexpr size_t kDotsPerLineOffset = 8;
constexpr size_t kLinesOffset = 12;
constexpr size_t kRawSizeOffset = 16;
constexpr size_t kCompressedSizeOffset = 20;
constexpr size_t kResolutionOffset = 42;
constexpr size_t kPaperWidthOffset = 44;
constexpr size_t kPaperLengthOffset = 46;

static_assert(kCheckByteOffset == kRecordSize - 1);
static_assert(kPaperLengthOffset + 2 <= kCheckByteOffset);
static_assert(PageStartRecord::kPlaneLengthOffset[3] == kCompressedSizeOffset + 4);
static_assert(PageStartRecord::kPlaneLengthOffset[2] + 4 == 40);

size_t planeLengthOffset(int plane) {
  if (plane < 0 || plane > 3) throw std::out_of_range("plane number");
  return PageStartRecord::kPlaneLengthOffset[plane];
}

}  // namespace

void putLe16(CommandRecord& record, size_t offset, uint16_t value) {
  record.at(offset + 1);  // the whole field must lie inside the record
  record[offset] = static_cast<uint8_t>(value);
  record[offset + 1] = static_cast<uint8_t>(value >> 8);
}

void putLe32(CommandRecord& record, size_t offset, uint32_t value) {
  record.at(offset + 3);
  for (size_t i = 0; i < 4; ++i) record[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

uint16_t getLe16(const uint8_t* bytes, size_t offset) {
  return static_cast<uint16_t>(bytes[offset] | (bytes[offset + 1] << 8));
}

uint32_t getLe32(const uint8_t* bytes, size_t offset) {
  uint32_t value = 0;
  for (size_t i = 0; i < 4; ++i) value |= static_cast<uint32_t>(bytes[offset + i]) << (8 * i);
  return value;
}

uint8_t RecordCheckByte(const uint8_t* record) {
  uint8_t check = 0;
  for (size_t i = 0; i < kCheckByteOffset; ++i) check ^= record[i];
  return check;
}

CommandRecord makeCommandRecord(char code0, char code1) {
  CommandRecord record{};
  for (size_t i = 0; i < sizeof kLeadIn; ++i) record[i] = kLeadIn[i];
  record[kCodeOffset] = static_cast<uint8_t>(code0);
  record[kCodeOffset + 1] = static_cast<uint8_t>(code1);
  return record;
}

void sealRecord(CommandRecord& record) {
  record[kCheckByteOffset] = RecordCheckByte(record.data());
}

CommandRecord makeJobStartRecord(uint8_t startFlag, uint16_t copies) {
  CommandRecord record = makeCommandRecord('s', 'j');
  record[kJobStartFlagOffset] = startFlag;
  putLe16(record, kJobCopiesOffset, copies);
  sealRecord(record);
  return record;
}

CommandRecord makePageEndRecord(bool cancelled) {
  CommandRecord record = makeCommandRecord('e', 'p');
  record[kCancelMarkOffset] = cancelled ? 1 : 0;
  sealRecord(record);
  return record;
}

PageStartRecord::PageStartRecord() : record_(makeCommandRecord('s', 'p')) {}

void PageStartRecord::setPaper(uint8_t paperCode, uint8_t mediaCode, uint16_t width10,
                               uint16_t height10) {
  record_[kPaperCodeOffset] = paperCode;
  record_[kMediaCodeOffset] = mediaCode;
  putLe16(record_, kPaperWidthOffset, width10);
  putLe16(record_, kPaperLengthOffset, height10);
}

void PageStartRecord::setRaster(uint32_t dotsPerLine, uint32_t lines, uint32_t rawSize,
                                uint16_t resolution) {
  putLe32(record_, kDotsPerLineOffset, dotsPerLine);
  putLe32(record_, kLinesOffset, lines);
  putLe32(record_, kRawSizeOffset, rawSize);
  putLe16(record_, kResolutionOffset, resolution);
}

void PageStartRecord::setPlaneLength(int plane, uint32_t length) {
  putLe32(record_, planeLengthOffset(plane), length);
}

uint32_t PageStartRecord::planeLength(int plane) const {
  return getLe32(record_.data(), planeLengthOffset(plane));
}

void PageStartRecord::setCompressedSize(uint32_t size) {
  putLe32(record_, kCompressedSizeOffset, size);
}

void PageStartRecord::clearPlaneLengths() {
  setCompressedSize(0);
  for (int plane = 0; plane < 4; ++plane) setPlaneLength(plane, 0);
}

const CommandRecord& PageStartRecord::sealed() {
  CommandRecord lead = makeCommandRecord('s', 'p');
  for (size_t i = 0; i < kCodeOffset + 2; ++i) record_[i] = lead[i];
  sealRecord(record_);
  return record_;
}
