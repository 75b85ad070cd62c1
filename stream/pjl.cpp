#include "stream/pjl.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstring>
#include <ctime>

#include "settings/text_format.h"
#include "stream/command_record.h"

namespace {

// Every PJL line is formatted as in a 256-byte buffer: at most 255 bytes,
// CR LF included.
constexpr size_t kPjlLineMax = 255;
constexpr size_t kHostNameSize = 256;
constexpr size_t kClockTextSize = 100;

constexpr const char kCrLf[] = "\r\n";
constexpr size_t kCrLfLength = 2;

// A value taken from the job (title, user, host) must not break out of its
// line: a CR, LF, ESC or any other control byte would let a title end the
// line and inject PJL commands or page-language bytes of its own.
std::string blankControlBytes(std::string value) {
  for (char& c : value) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) c = ' ';
  }
  return value;
}

// Appends "<prefix><value>\r\n", cutting the value so that the line stays
// within kPjlLineMax bytes. A cut never splits a UTF-8 sequence.
void appendLine(std::string& out, const std::string& prefix, const std::string& value) {
  size_t room = kPjlLineMax - kCrLfLength - std::min(prefix.size(), kPjlLineMax - kCrLfLength);
  size_t length = value.size();
  if (length > room) {
    length = room;
    while (length > 0 && (static_cast<unsigned char>(value[length]) & 0xC0) == 0x80) --length;
  }
  out += prefix;
  out.append(value, 0, length);
  out += kCrLf;
}

// "@PJL SET JOBATTR=%s:%s\r\n".
void appendJobAttr(std::string& out, const char* name, const std::string& value) {
  appendLine(out, std::string("@PJL SET JOBATTR=") + name + ":", value);
}

// "@PJL SET %s=%d\r\n".
void appendSetNumber(std::string& out, const char* name, long long value) {
  appendLine(out, std::string("@PJL SET ") + name + "=", std::to_string(value));
}

// "@PJL SET %s=%s\r\n" for the fixed-name settings (DUPLEX, RENDERMODE).
void appendSetText(std::string& out, const char* name, const char* value) {
  appendLine(out, std::string("@PJL SET ") + name + "=", value);
}

// One reading of the clock, formatted.
std::string clockText(const char* format) {
  time_t now = time(nullptr);
  struct tm local {};
  char text[kClockTextSize] = {};
  if (localtime_r(&now, &local) == nullptr) return "";
  if (strftime(text, sizeof text, format, &local) == 0) return "";
  return text;
}

std::string hostName() {
  char name[kHostNameSize] = {};
  if (gethostname(name, kHostNameSize - 1) != 0) return "";
  name[kHostNameSize - 1] = '\0';
  return name;
}

// A page header's text field as the log shows it: up to its first NUL and
// at most 63 bytes, the most a raster header's 64-byte field holds with its
// terminator.
constexpr size_t kHeaderTextMax = 63;

std::string headerText(const std::string& field) {
  return field.substr(0, std::min(strnlen(field.c_str(), field.size()), kHeaderTextMax));
}

// The job header's and trailer's writers report a refusal: a job of no pages
// has nothing else to write, and a stream without its trailer is not a
// whole job. The comment line of a failing job reports nothing: the job
// fails already.
bool writeText(zeru::ByteSink& out, const std::string& text) {
  return out.write(text.data(), text.size());
}

}  // namespace

std::string buildJobHeader(const zeru::PageHeader& header, const JobHeaderInputs& inputs) {
  const bool collated = header.collate == 1;
  std::string out = kUel;
  out += "@PJL JOB NAME=PRINTER\r\n";

  appendJobAttr(out, "HST", blankControlBytes(inputs.host));
  appendJobAttr(out, "USR", blankControlBytes(inputs.user));
  appendJobAttr(out, "DOC", blankControlBytes(inputs.title));
  appendJobAttr(out, "DATE", blankControlBytes(inputs.date));
  appendJobAttr(out, "TIME", blankControlBytes(inputs.time));

  if (inputs.duplexMode != 0) {
    // Sheets the printer turns over: half the sides of every set sent, plus one.
    long long sides = collated ? static_cast<long long>(inputs.pageCount) * header.numCopies
                               : inputs.pageCount;
    long long sheets = sides / 2 + 1;
    if (sheets > INT_MAX) sheets = INT_MAX;
    appendSetText(out, "DUPLEX", "ON");
    appendSetNumber(out, "MDPXS", sheets);
    int pages = inputs.blankBackAdded ? inputs.pageCount - 1 : inputs.pageCount;
    char pageText[9];
    snprintf(pageText, sizeof pageText, "%d", pages);
    appendJobAttr(out, "PCNT", pageText);
  } else {
    appendSetText(out, "DUPLEX", "OFF");
  }

  appendSetNumber(out, "MEDIASOURCE", 0);
  appendSetText(out, "RENDERMODE", header.bitsPerPixel == 8 ? "GRAYSCALE" : "COLOR");
  appendSetNumber(out, "RESOLUTION", header.hwResolution[0]);
  appendSetNumber(out, "BITSPERPIXEL", 1);
  // A collated job is sent set by set by the filter itself: the printer
  // prints what it receives once.
  if (collated)
    appendSetNumber(out, "QTY", 1);
  else
    appendSetNumber(out, "COPIES", header.numCopies);
  out += "@PJL ENTER LANGUAGE=ZERU\r\n";

  uint16_t copies = collated ? 1 : static_cast<uint16_t>(header.numCopies);
  CommandRecord jobStart = makeJobStartRecord(inputs.startFlag, copies);
  out.append(reinterpret_cast<const char*>(jobStart.data()), jobStart.size());
  return out;
}

std::string jobHeaderLogLine(const zeru::PageHeader& header, int paperIndex) {
  return formatText(
      "PageWidth=%d,PageHeight=%d,cupsMediaType=%d,MediaType=%s,OutputType=%s,Margin0=%d,"
      "Margin1=%d,cupsBitsPerPixel=%d,cupsColorSpace=%d,cupsBytesPerLine=%d,"
      "header->HWResolution[0]=%d,header->HWResolution[1]=%d"
      ",pagemodel=%d\n",
      static_cast<int>(header.pageSize[0]), static_cast<int>(header.pageSize[1]),
      static_cast<int>(header.mediaTypeCode), headerText(header.mediaType).c_str(),
      headerText(header.outputType).c_str(), static_cast<int>(header.margins[0]),
      static_cast<int>(header.margins[1]), static_cast<int>(header.bitsPerPixel),
      static_cast<int>(header.colorSpace), static_cast<int>(header.bytesPerLine),
      static_cast<int>(header.hwResolution[0]), static_cast<int>(header.hwResolution[1]),
      paperIndex);
}

void readSystemJobAttributes(JobHeaderInputs& inputs) {
  inputs.host = hostName();
  inputs.date = clockText("%m/%d/%Y");
  inputs.time = clockText("%H:%M:%S");
}

bool setup(zeru::ByteSink& out, const zeru::PageHeader* header, const JobHeaderInputs& inputs,
           const JobServices& services) {
  if (header == nullptr) return true;
  const bool written = writeText(out, buildJobHeader(*header, inputs));
  const int writeError = errno;
  services.log(jobHeaderLogLine(*header, inputs.paperIndex).c_str());
  errno = writeError;
  return written;
}

std::string buildJobTrailer(bool cancelled) {
  std::string out = kUel;
  out += cancelled ? "@PJL EOJ Abort\r\n" : "@PJL EOJ\r\n";
  return out;
}

bool WriteJobTrailer(zeru::ByteSink& out, bool cancelled) {
  return writeText(out, buildJobTrailer(cancelled));
}

void WritePjlComment(zeru::ByteSink& out, const char* text) {
  std::string line;
  appendLine(line, "@PJL COMMENT ", blankControlBytes(text ? text : ""));
  (void)writeText(out, line);
}
