// Reads a job stream back into its parts and checks every byte it can:
// the PJL envelope, the command records and their check bytes, the page
// blocks with their plane lengths, and each plane's JBIG entity, which is
// decoded completely. Every fault is kept with the byte offset where it lies.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zerudump {

inline constexpr size_t kStreamRecordSize = 64;
inline constexpr size_t kJbigHeaderSize = 20;
inline constexpr std::string_view kStreamUel{"\x1b%-12345X", 9};
inline constexpr std::string_view kEnterLanguageLine{"@PJL ENTER LANGUAGE=ZERU"};
inline constexpr std::string_view kEojLine{"@PJL EOJ"};
inline constexpr std::string_view kEojAbortLine{"@PJL EOJ Abort"};
// A PJL line, CR LF included, is built in a 256-byte buffer.
inline constexpr size_t kMaxPjlLine = 255;

struct StreamProblem {
  size_t offset = 0;
  std::string message;
};

struct PjlLine {
  size_t offset = 0;
  std::string text;   // without its CR LF
};

struct JobStartInfo {
  size_t offset = 0;
  uint8_t startFlag = 0;
  uint16_t copies = 0;
  uint8_t checkByte = 0;
};

// The 20-byte bi-level image header that opens every JBIG entity.
struct JbigHeader {
  uint8_t dl = 0;
  uint8_t d = 0;
  uint8_t planes = 0;
  uint32_t width = 0;     // XD
  uint32_t height = 0;    // YD
  uint32_t l0 = 0;        // lines per stripe
  uint8_t mx = 0;
  uint8_t my = 0;
  uint8_t order = 0;
  uint8_t options = 0;
  uint32_t stripes = 0;   // ceil(height / l0), 0 when l0 is 0
};

// One decoded plane: 8 dots per byte, most significant bit leftmost, 1 = dot.
struct DecodedPlane {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> bits;

  size_t bytesPerLine() const { return (width + 7) / 8; }
  bool dot(uint32_t x, uint32_t y) const {
    return (bits[y * bytesPerLine() + x / 8] >> (7 - x % 8)) & 1;
  }
};

struct PlaneEntity {
  int plane = 0;              // 0..3, plane 3 is black
  size_t offset = 0;          // first byte of the entity in the stream
  uint32_t declaredLength = 0;
  size_t presentLength = 0;   // bytes actually in the stream for it
  bool hasHeader = false;
  JbigHeader header;
  bool decodedOk = false;
  DecodedPlane decoded;       // filled when ParseOptions::keepPlanes is set
};

struct PageBlock {
  int number = 0;             // 1-based, in stream order
  size_t offset = 0;          // the page-start record
  bool checkByteOk = true;
  uint8_t paperCode = 0;
  uint8_t mediaCode = 0;
  uint32_t dotsPerLine = 0;
  uint32_t lines = 0;
  uint32_t rawSize = 0;
  uint32_t compressedSize = 0;
  uint32_t planeLength[4] = {0, 0, 0, 0};   // by plane number
  uint16_t resolution = 0;
  uint16_t paperWidth10 = 0;
  uint16_t paperHeight10 = 0;
  bool colour = false;
  size_t dataOffset = 0;
  size_t dataPresent = 0;     // bytes between the record and the next block
  std::vector<PlaneEntity> planes;   // in data order: 2, 1, 0, 3 or 3
  bool hasEnd = false;
  size_t endOffset = 0;
  uint8_t cancelMark = 0;
  bool endCheckByteOk = true;

  const PlaneEntity* findPlane(int plane) const;
};

enum class TrailerForm { Missing, Eoj, EojAbort, Other };

struct JobStream {
  size_t size = 0;
  std::vector<PjlLine> envelope;
  std::vector<std::pair<std::string, std::string>> jobAttributes;  // JOBATTR key:value
  std::vector<std::pair<std::string, std::string>> settings;       // SET key=value
  bool hasJobStart = false;
  JobStartInfo jobStart;
  std::vector<PageBlock> pages;
  TrailerForm trailer = TrailerForm::Missing;
  size_t trailerOffset = 0;
  std::string trailerLine;
  std::vector<StreamProblem> problems;

  bool clean() const { return problems.empty(); }
};

struct ParseOptions {
  // Keep each page's decoded planes in its PlaneEntity records.
  bool keepPlanes = false;
  // Called once a page block is complete (planes decoded when keepPlanes is
  // set); a caller that writes previews may release the planes there.
  std::function<void(PageBlock&)> pageDone;
};

JobStream parseJobStream(std::span<const uint8_t> bytes, const ParseOptions& options = {});

// Decodes one JBIG entity completely with JBIG-KIT. Returns false with a
// reason when the data ends early, is damaged, or is followed by extra bytes
// (`extraBytes` then says how many; the image is still returned).
bool decodeJbigEntity(std::span<const uint8_t> entity, DecodedPlane& out,
                      std::string& reason, size_t* extraBytes = nullptr);

bool parseJbigHeader(std::span<const uint8_t> bytes, JbigHeader& out);

// XOR of bytes 0..62 of a 64-byte record.
uint8_t streamRecordCheckByte(const uint8_t* record);

uint16_t readLe16(const uint8_t* bytes);
uint32_t readLe32(const uint8_t* bytes);
uint32_t readBe32(const uint8_t* bytes);

// Names for the page record's codes ("A4", "Legal"; "unknown" otherwise).
const char* paperCodeName(uint8_t paperCode);
const char* mediaCodeName(uint8_t mediaCode);
const char* trailerFormName(TrailerForm form);

// Whether the raw size says four planes: raw = 4 * lines * dots / 8.
bool rawSizeIsColour(uint32_t rawSize, uint32_t lines, uint32_t dotsPerLine);

}  // namespace zerudump
