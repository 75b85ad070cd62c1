// The page language's 64-byte command records.
//
// A record is bytes with names: ESC 'L' 'H' '@', two code letters, parameters
// at fixed offsets (integers little-endian), and a check byte in byte 63 that
// makes the XOR of all 64 bytes zero.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

inline constexpr size_t kRecordSize = 64;
using CommandRecord = std::array<uint8_t, kRecordSize>;

void putLe16(CommandRecord& record, size_t offset, uint16_t value);
void putLe32(CommandRecord& record, size_t offset, uint32_t value);
uint16_t getLe16(const uint8_t* bytes, size_t offset);
uint32_t getLe32(const uint8_t* bytes, size_t offset);

// XOR of bytes 0..62.
uint8_t RecordCheckByte(const uint8_t* record);

// A zero-filled record with the lead-in and the two code letters.
CommandRecord makeCommandRecord(char code0, char code1);

// Stores the check byte; call once every other byte is final.
void sealRecord(CommandRecord& record);

// Job start ("sj"): flag at 6, copies at 8.
CommandRecord makeJobStartRecord(uint8_t startFlag, uint16_t copies);

// Page end ("ep"): cancel mark at 6.
CommandRecord makePageEndRecord(bool cancelled);

// Page start ("sp"), filled field by field while a page is processed.
// The four plane-length fields are written by the compression threads, each
// its own field; nothing else touches the record while they run.
class PageStartRecord {
public:
  PageStartRecord();
  void setPaper(uint8_t paperCode, uint8_t mediaCode, uint16_t width10, uint16_t height10);
  void setRaster(uint32_t dotsPerLine, uint32_t lines, uint32_t rawSize, uint16_t resolution);
  void setPlaneLength(int plane, uint32_t length);   // plane 0..3
  uint32_t planeLength(int plane) const;
  void setCompressedSize(uint32_t size);
  void clearPlaneLengths();
  // Lead-in, code and check byte, just before the record is written.
  const CommandRecord& sealed();
  const CommandRecord& bytes() const { return record_; }

  static constexpr size_t kPlaneLengthOffset[4] = {28, 32, 36, 24};

private:
  CommandRecord record_{};
};
