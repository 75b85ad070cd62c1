// Transcripts of the filter: for a fixed set of jobs, everything the real
// filter binary prints, compared byte for byte with golden files, so that no
// change in what the filter prints goes unnoticed.
//
// Every job is a test of its own, TranscriptJobs/Transcripts.Job/<case>; its
// golden files lie in the source tree, in tests/transcripts/<case>/:
//   stdout   standard output, the bytes (read them with
//            "build/tools/zerudump tests/transcripts/<case>/stdout")
//   stderr   standard error
//   log      the diagnostic log /tmp/zemro_filter.log, each run of identical
//            lines written once with its count
//   status   how the run ended ("exit 0"), whether the log file was there,
//            and how many files the job left in /tmp
// What differs between runs and between machines is masked, in the output
// and in the goldens alike (see maskStdout and maskLog):
//   - in the PJL job header, the value of JOBATTR=HST when it is this
//     machine's host name ("<host>"), and the digits of JOBATTR=DATE
//     ("MM/DD/YYYY") and of JOBATTR=TIME ("hh:mm:ss") when they have that form;
//     a value of another form stays as it is, so that a change of form shows;
//   - the log lines of the 25-second interval timer, whose number depends on
//     how long a job runs, are left out of the log.
// A case is only in the set when its transcript is the same on every run:
// cancellations wait on input that is held open, never on time.
//
// Record mode: after a deliberate change of what the filter prints, rewrite
// the goldens with
//   ZERU_TRANSCRIPT_RECORD=1 build/tests/integration_tests --gtest_filter='Transcript*'
// and review the change with "git diff" (and zerudump for the streams) before
// committing it. Record mode also removes the golden directories of cases no
// longer in the set. The goldens are found through the source tree the test
// was built from, whatever the build directory.
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <span>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "job_fixture.h"

using namespace zerutest;

namespace {

// ---- Masking ----

constexpr const char* kTimerLogLines[] = {
    "INFO: Enter dummy command sub-routine",
    "INFO: Exit dummy command sub-routine",
};

std::string hostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

// Whether `value` has the form of `pattern`, where '9' stands for a digit
// and every other character for itself.
bool hasForm(std::string_view value, std::string_view pattern) {
  if (value.size() != pattern.size()) return false;
  for (size_t i = 0; i < value.size(); ++i) {
    bool digit = std::isdigit(static_cast<unsigned char>(value[i])) != 0;
    if (pattern[i] == '9' ? !digit : value[i] != pattern[i]) return false;
  }
  return true;
}

// Replaces the value of the job attribute `key` in the PJL header (the
// bytes before `headerEnd`) when `replace` accepts it.
void maskJobAttribute(std::string& out, size_t headerEnd, const std::string& key,
                      const std::function<std::optional<std::string>(std::string_view)>& replace) {
  const std::string lead = "@PJL SET JOBATTR=" + key + ":";
  size_t at = out.find(lead);
  if (at == std::string::npos || at >= headerEnd) return;
  size_t from = at + lead.size();
  size_t end = out.find("\r\n", from);
  if (end == std::string::npos || end > headerEnd) return;
  if (std::optional<std::string> masked = replace(std::string_view(out).substr(from, end - from)))
    out.replace(from, end - from, *masked);
}

// Standard output with the job header's host name, date and time masked.
std::string maskStdout(std::string out, const std::string& host) {
  size_t headerEnd = out.find("@PJL ENTER LANGUAGE=");
  if (headerEnd == std::string::npos) headerEnd = out.size();
  auto form = [](std::string pattern, std::string mask) {
    return [pattern, mask](std::string_view value) -> std::optional<std::string> {
      if (!hasForm(value, pattern)) return std::nullopt;
      return mask;
    };
  };
  // The masks keep the lengths of date and time, so that offsets in the
  // stream stay those of a real run.
  maskJobAttribute(out, headerEnd, "DATE", form("99/99/9999", "MM/DD/YYYY"));
  maskJobAttribute(out, headerEnd, "TIME", form("99:99:99", "hh:mm:ss"));
  maskJobAttribute(out, headerEnd, "HST", [&host](std::string_view value)
                                              -> std::optional<std::string> {
    if (value != host) return std::nullopt;
    return std::string("<host>");
  });
  return out;
}

// The log without the interval timer's lines (and the empty line after each), with every run of identical
// lines written once and counted: "<line>" then "[the line above, 300 times
// in all]". The count keeps the transcript exact; the runs (a line per raster
// line on two-sided jobs) would otherwise make up most of the goldens.
std::string maskLog(std::string_view log) {
  std::string kept;
  std::string_view last;
  size_t repeats = 0;
  auto endRun = [&] {
    if (repeats > 1) kept += "[the line above, " + std::to_string(repeats) + " times in all]\n";
    repeats = 0;
  };
  for (size_t start = 0; start < log.size();) {
    size_t end = log.find('\n', start);
    size_t next = end == std::string_view::npos ? log.size() : end + 1;
    std::string_view line = log.substr(start, next - start);
    start = next;
    std::string_view text = line.substr(0, line.size() - (line.back() == '\n' ? 1 : 0));
    bool timer = false;
    for (const char* timerLine : kTimerLogLines) timer = timer || text == timerLine;
    if (timer) {
      // The timer's lines are written with a newline of their own: an empty
      // line follows each.
      if (log.substr(start, 1) == "\n") ++start;
      continue;
    }
    if (repeats > 0 && line == last) {
      ++repeats;
      continue;
    }
    endRun();
    kept += line;
    last = line;
    repeats = 1;
  }
  endRun();
  return kept;
}

// ---- The parts of a transcript ----

struct Transcript {
  std::string out;
  std::string err;
  std::string log;
  std::string status;
};

std::string statusOf(const FilterResult& result) {
  std::string text;
  if (result.timedOut)
    text = "timed out\n";
  else if (result.exited)
    text = "exit " + std::to_string(result.exitStatus) + "\n";
  else
    text = "killed by signal " + std::to_string(result.termSignal) + "\n";
  text += std::string("log file: ") + (result.logExists ? "present" : "missing") + "\n";
  text += "files left in /tmp: " + std::to_string(result.leftFiles.size()) + "\n";
  return text;
}

Transcript transcriptOf(const FilterResult& result) {
  return {maskStdout(result.out, hostName()), result.err, maskLog(result.log), statusOf(result)};
}

// ---- Comparing ----

// A line shown in a message: control characters and non-ASCII bytes escaped.
std::string printable(std::string_view text) {
  std::string shown;
  for (unsigned char c : text) {
    if (c >= 0x20 && c < 0x7f && c != '\\') {
      shown += static_cast<char>(c);
    } else {
      char escaped[8];
      snprintf(escaped, sizeof escaped, "\\x%02x", c);
      shown += escaped;
    }
  }
  return shown;
}

std::vector<std::string_view> linesOf(std::string_view text) {
  std::vector<std::string_view> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    size_t next = end == std::string::npos ? text.size() : end + 1;
    lines.push_back(text.substr(start, next - start));   // the newline kept
    start = next;
  }
  return lines;
}

// Where two texts part, by line: empty when they are equal.
std::string textDifference(std::string_view golden, std::string_view actual) {
  if (golden == actual) return {};
  std::vector<std::string_view> want = linesOf(golden), got = linesOf(actual);
  size_t line = 0;
  while (line < want.size() && line < got.size() && want[line] == got[line]) ++line;
  auto show = [line](const std::vector<std::string_view>& lines) {
    return line < lines.size() ? "\"" + printable(lines[line]) + "\"" : std::string("(end)");
  };
  std::ostringstream message;
  message << "first difference in line " << line + 1 << " (golden " << want.size()
          << " lines, actual " << got.size() << " lines)\n"
          << "  golden: " << show(want) << "\n"
          << "  actual: " << show(got);
  return message.str();
}

std::string hexAround(std::string_view bytes, size_t offset) {
  size_t from = offset >= 8 ? offset - 8 : 0;
  std::string text;
  for (size_t i = from; i < std::min(bytes.size(), from + 24); ++i) {
    char hex[4];
    snprintf(hex, sizeof hex, "%02x", static_cast<unsigned char>(bytes[i]));
    text += (i == offset ? "[" : (i == from ? "" : " ")) + std::string(hex) +
            (i == offset ? "]" : "");
  }
  return text.empty() ? "(end)" : text;
}

// What lies at `offset` of a job stream: the PJL line, the record or the
// plane of which page block.
std::string streamPartAt(std::string_view bytes, size_t offset) {
  JobStream stream = parseJobStream(
      std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
  if (stream.trailer != TrailerForm::Missing && offset >= stream.trailerOffset)
    return "the trailer";
  for (const PageBlock& page : stream.pages) {
    std::string name = "page block " + std::to_string(page.number);
    if (page.hasEnd && offset >= page.endOffset && offset < page.endOffset + kStreamRecordSize)
      return name + ", its page-end record";
    if (offset >= page.offset && offset < page.offset + kStreamRecordSize)
      return name + ", its page-start record (byte " + std::to_string(offset - page.offset) + ")";
    for (const PlaneEntity& plane : page.planes)
      if (offset >= plane.offset && offset < plane.offset + plane.presentLength)
        return name + ", plane " + std::to_string(plane.plane) + " (byte " +
               std::to_string(offset - plane.offset) + " of its JBIG data)";
  }
  if (stream.hasJobStart && offset >= stream.jobStart.offset &&
      offset < stream.jobStart.offset + kStreamRecordSize)
    return "the job-start record";
  for (const PjlLine& line : stream.envelope)
    if (offset >= line.offset && offset <= line.offset + line.text.size() + 1)
      return "the PJL line \"" + printable(line.text) + "\"";
  return "the stream outside any part the reader knows";
}

// Where two job streams part, by byte: empty when they are equal.
std::string streamDifference(std::string_view golden, std::string_view actual) {
  if (golden == actual) return {};
  size_t offset = 0;
  while (offset < golden.size() && offset < actual.size() && golden[offset] == actual[offset])
    ++offset;
  std::ostringstream message;
  message << "first difference at byte offset " << offset << " (golden " << golden.size()
          << " bytes, actual " << actual.size() << " bytes); there the golden stream has "
          << streamPartAt(golden, offset) << "\n"
          << "  golden: " << hexAround(golden, offset) << "\n"
          << "  actual: " << hexAround(actual, offset);
  return message.str();
}

// ---- Golden files ----

const std::string& goldenRoot() {
  static const std::string root = std::string(ZERU_SOURCE_DIR) + "/tests/transcripts";
  return root;
}

bool recordMode() {
  const char* value = getenv("ZERU_TRANSCRIPT_RECORD");
  return value && *value && std::string(value) != "0";
}

struct Part {
  const char* file;
  std::string Transcript::*field;
  bool bytes;   // compared by byte offset, else by line
};

constexpr Part kParts[] = {
    {"stdout", &Transcript::out, true},
    {"stderr", &Transcript::err, false},
    {"log", &Transcript::log, false},
    {"status", &Transcript::status, false},
};

void writeTranscript(const std::string& dir, const Transcript& transcript) {
  std::filesystem::create_directories(dir);
  for (const Part& part : kParts) writeFile(dir + "/" + part.file, transcript.*part.field);
}

// Where a transcript that differs from its goldens is kept, for diff and
// zerudump: in the build tree, never in the source tree.
std::string actualDir(const std::string& name) {
  return std::string(ZERU_BINARY_DIR) + "/transcripts-actual/" + name;
}

void compareTranscript(const std::string& name, const Transcript& transcript) {
  const std::string dir = goldenRoot() + "/" + name;
  std::filesystem::remove_all(actualDir(name));
  ASSERT_TRUE(std::filesystem::is_directory(dir))
      << "job " << name << ": no golden files in " << dir
      << "; record them with ZERU_TRANSCRIPT_RECORD=1";
  bool same = true;
  for (const Part& part : kParts) {
    const std::string path = dir + "/" + part.file;
    std::string golden = std::filesystem::exists(path) ? readFile(path) : std::string();
    const std::string& actual = transcript.*part.field;
    std::string difference =
        part.bytes ? streamDifference(golden, actual) : textDifference(golden, actual);
    EXPECT_TRUE(std::filesystem::exists(path)) << "job " << name << ": missing " << path;
    EXPECT_TRUE(difference.empty()) << "job " << name << ", " << part.file << " differs from "
                                    << path << ": " << difference;
    same = same && difference.empty();
  }
  if (!same) {
    writeTranscript(actualDir(name), transcript);
    ADD_FAILURE() << "job " << name << ": this run's transcript is in " << actualDir(name)
                  << " (diff -r " << dir << " " << actualDir(name) << ")";
  }
}

// ---- Pages ----

// The smallest custom size the PPDs allow: 300 x 300 dots at 600 dpi.
constexpr unsigned kSmall = 36;

// A page that says which page it is and which way up it lies: a black block
// of 8 * id lines by 24 dots at its top left; on a colour page also a cyan
// column, a magenta band and a yellow corner at the bottom right.
RasterPage idPage(int id, bool colour, unsigned width = kSmall, unsigned height = kSmall,
                  unsigned dpi = 600) {
  cups_page_header2_t header = makeHeader(width, height, dpi, colour);
  const unsigned rows = 8u * static_cast<unsigned>(id);
  const unsigned w = header.cupsWidth, h = header.cupsHeight;
  if (!colour)
    return grayPage(header, [rows](unsigned x, unsigned y) {
      return static_cast<uint8_t>((x < 24 && y < rows) ? 0 : 255);
    });
  return colourPage(header, [rows, id, w, h](unsigned x, unsigned y) {
    if (x < 24 && y < rows) return kBlack;
    if (x >= 40 && x < 48 && y < 20u + 10u * static_cast<unsigned>(id)) return Rgb{0, 255, 255};
    if (y >= 60 && y < 68 && x < 30u + 10u * static_cast<unsigned>(id)) return Rgb{255, 0, 255};
    if (x + 20 >= w && y + 30 >= h) return Rgb{255, 255, 0};
    return kWhite;
  });
}

// An idPage of a size of the paper table ("A6").
RasterPage paperPage(int id, bool colour, const std::string& keyword) {
  auto [width, height] = pageSizePoints(keyword).value();
  return idPage(id, colour, width, height);
}

RasterPage blankPage(bool colour, unsigned width = kSmall, unsigned height = kSmall) {
  cups_page_header2_t header = makeHeader(width, height, 600, colour);
  return colour ? colourPage(header) : grayPage(header);
}

RasterPage withCopies(RasterPage page, unsigned numCopies, bool collate) {
  page.header.NumCopies = numCopies;
  page.header.Collate = collate ? CUPS_TRUE : CUPS_FALSE;
  return page;
}

// A gray page of dots that do not compress.
RasterPage noisePage(unsigned points) {
  return grayPage(makeHeader(points, points, 600, false), [](unsigned x, unsigned y) {
    return static_cast<uint8_t>(noiseDot(x, y) ? 0 : 255);
  });
}

std::vector<RasterPage> idPages(int count, bool colour) {
  std::vector<RasterPage> pages;
  for (int id = 1; id <= count; ++id) pages.push_back(idPage(id, colour));
  return pages;
}

// ---- The jobs ----

struct JobPlan {
  PpdBuilder ppd;
  std::vector<RasterPage> pages;
  // Standard input is exactly these bytes instead of the pages' stream.
  std::optional<std::string> input;
  FilterRun run;

  JobPlan& duplex(const char* choice) {
    ppd.setDefault("DrvDuplex", choice);
    return *this;
  }
};

constexpr const char* kLongEdge = "DrvDuplexNoTumble";
constexpr const char* kShortEdge = "DrvDuplexTumble";

struct TranscriptCase {
  std::string name;
  std::function<void(JobPlan&)> build;
};

// A case in test names and messages.
[[maybe_unused]] void PrintTo(const TranscriptCase& job, std::ostream* out) { *out << job.name; }

// A job cancelled while the filter waits in the middle of page 2 for lines
// that are not there yet: page 2's first 128 lines are in the input, which
// stays open, and the signal comes once the 42% mark before line 128 has been
// printed. From that mark on the filter only waits, so wherever the signal
// lands, the filter is at the same place.
void cancelDuringPage2(JobPlan& job, bool colour, const char* progress) {
  job.pages = idPages(2, colour);
  job.pages[1].linesToWrite = 128;   // of 300
  job.run.holdStdinOpen = true;
  job.run.sigtermOnStderr = std::string(progress) + "2, 42% complete...\n" +
                            "ATTR: job-media-progress=42\n";
}

// A job cancelled after its last page, while the filter waits for another
// page header on an input that stays open.
void cancelAfterLastPage(JobPlan& job, bool colour, const char* progress) {
  job.pages = idPages(3, colour);
  job.run.holdStdinOpen = true;
  job.run.sigtermOnStderr = std::string(progress) + "3, 85% complete...\n" +
                            "ATTR: job-media-progress=85\nATTR: job-media-progress=100\n";
}

constexpr const char* kSimplexProgress = "INFO: Printing page ";
constexpr const char* kDuplexProgress = "INFO: Processing page ";

const std::vector<TranscriptCase>& transcriptCases() {
  static const std::vector<TranscriptCase> cases = {
      // Single-sided.
      {"simplex_gray_2_pages", [](JobPlan& job) { job.pages = idPages(2, false); }},
      {"simplex_colour_3_pages", [](JobPlan& job) { job.pages = idPages(3, true); }},
      {"simplex_image_rotation",
       [](JobPlan& job) {
         job.ppd.setDefault("ImageRotation", "true");
         job.pages = {idPage(1, true), idPage(2, false)};
       }},

      // Two-sided, both bindings, odd and even page counts.
      {"duplex_long_edge_3_gray_pages",
       [](JobPlan& job) { job.duplex(kLongEdge).pages = idPages(3, false); }},
      {"duplex_long_edge_4_colour_pages",
       [](JobPlan& job) { job.duplex(kLongEdge).pages = idPages(4, true); }},
      {"duplex_short_edge_3_colour_pages",
       [](JobPlan& job) { job.duplex(kShortEdge).pages = idPages(3, true); }},
      {"duplex_short_edge_2_gray_pages",
       [](JobPlan& job) { job.duplex(kShortEdge).pages = idPages(2, false); }},
      {"duplex_short_edge_image_rotation",
       [](JobPlan& job) {
         job.duplex(kShortEdge).ppd.setDefault("ImageRotation", "true");
         job.pages = idPages(3, false);
       }},

      // Copies and collation: from the PPD's Collate choice, which then
      // overrides the page header, and from the page header when the PPD
      // marks no Collate choice.
      {"simplex_collated_copies_from_ppd",
       [](JobPlan& job) {
         job.ppd.setDefault("Collate", "True");
         for (RasterPage& page : job.pages = idPages(3, false)) page = withCopies(page, 2, false);
       }},
      {"simplex_uncollated_copies_from_ppd",
       [](JobPlan& job) {
         for (RasterPage& page : job.pages = idPages(3, false)) page = withCopies(page, 2, true);
       }},
      {"simplex_collated_copies_from_header",
       [](JobPlan& job) {
         job.ppd.remove("Collate");
         for (RasterPage& page : job.pages = idPages(2, true)) page = withCopies(page, 3, true);
       }},
      {"simplex_uncollated_copies_from_header",
       [](JobPlan& job) {
         job.ppd.remove("Collate");
         for (RasterPage& page : job.pages = idPages(2, true)) page = withCopies(page, 3, false);
       }},
      {"simplex_copies_follow_the_last_page",
       [](JobPlan& job) {
         job.ppd.remove("Collate");
         job.pages = {withCopies(idPage(1, false), 1, false), withCopies(idPage(2, false), 2, true)};
       }},
      {"duplex_collated_copies_from_ppd",
       [](JobPlan& job) {
         job.duplex(kLongEdge).ppd.setDefault("Collate", "True");
         for (RasterPage& page : job.pages = idPages(3, false)) page = withCopies(page, 2, false);
       }},
      {"duplex_uncollated_copies_from_ppd",
       [](JobPlan& job) {
         job.duplex(kShortEdge);
         for (RasterPage& page : job.pages = idPages(4, true)) page = withCopies(page, 2, true);
       }},
      {"duplex_header_collate_without_ppd_choice",
       [](JobPlan& job) {
         job.duplex(kLongEdge).ppd.remove("Collate");
         for (RasterPage& page : job.pages = idPages(2, false)) page = withCopies(page, 2, true);
       }},

      // Blank-sheet saving.
      {"save_blank_simplex_first_middle_last",
       [](JobPlan& job) {
         job.ppd.setDefault("AKSaveBlankSheet", "True");
         job.pages = {blankPage(false), idPage(1, false), blankPage(true), idPage(2, true),
                      blankPage(false)};
       }},
      {"save_blank_duplex_first_middle_last",
       [](JobPlan& job) {
         job.duplex(kLongEdge).ppd.setDefault("AKSaveBlankSheet", "True");
         job.pages = {blankPage(true), idPage(1, true), blankPage(false), idPage(2, false),
                      idPage(3, false), blankPage(false)};
       }},
      {"save_blank_every_page_blank",
       [](JobPlan& job) {
         job.ppd.setDefault("AKSaveBlankSheet", "True");
         job.pages = {blankPage(false), blankPage(true)};
       }},
      {"blank_pages_kept_without_saving",
       [](JobPlan& job) { job.pages = {blankPage(false), idPage(1, false), blankPage(true)}; }},

      // Zero copies on a single-sided, uncollated page.
      {"zero_copies_colour",
       [](JobPlan& job) { job.pages = {withCopies(idPage(1, true), 0, false)}; }},
      {"zero_copies_gray",
       [](JobPlan& job) { job.pages = {withCopies(idPage(1, false), 0, false)}; }},
      {"zero_copies_colour_then_one_copy",
       [](JobPlan& job) {
         job.pages = {withCopies(idPage(1, true), 0, false), idPage(2, true)};
       }},

      // Sizes, resolutions and colour modes.
      {"simplex_mixed_sizes_and_colour",
       [](JobPlan& job) {
         job.pages = {idPage(1, true), paperPage(2, false, "A6"),
                      idPage(3, true, 72, 36), idPage(4, false, 36, 54),
                      paperPage(5, false, "B6LEF")};
       }},
      {"duplex_mixed_sizes_and_colour",
       [](JobPlan& job) {
         job.duplex(kLongEdge).pages = {paperPage(1, false, "A6"), idPage(2, true),
                                        idPage(3, true, 54, 36)};
       }},
      {"resolution_1200_dpi",
       [](JobPlan& job) {
         job.ppd.setDefault("DrvResolution", "1200dpi");
         job.pages = {idPage(1, true, kSmall, kSmall, 1200), idPage(2, false, kSmall, kSmall, 1200)};
       }},
      // Real sizes are told by the PageSize the job marks: other pages are
      // custom-size pages for the printer.
      {"paper_a6_from_page_size_option",
       [](JobPlan& job) {
         job.run.options = "PageSize=A6";
         job.pages = {paperPage(1, false, "A6"), idPage(2, true)};
       }},
      {"paper_b6lef_from_media_option",
       [](JobPlan& job) {
         job.run.options = "media=B6LEF";
         job.pages = {paperPage(1, false, "B6LEF")};
       }},
      {"custom_size_option",
       [](JobPlan& job) {
         job.run.options = "PageSize=Custom.54x72";
         job.pages = {idPage(1, true, 54, 72), idPage(2, false, 54, 72)};
       }},

      // Cancellation.
      {"cancel_before_the_first_page",
       [](JobPlan& job) {
         job.input = rasterJobBytes({});   // the sync word alone; the input stays open
         job.run.holdStdinOpen = true;
         job.run.sigtermOnStderr = "INFO: cupsRasterReadHeader2 start\n";
       }},
      {"cancel_during_a_page_simplex",
       [](JobPlan& job) { cancelDuringPage2(job, false, kSimplexProgress); }},
      {"cancel_during_a_page_duplex",
       [](JobPlan& job) { cancelDuringPage2(job.duplex(kLongEdge), true, kDuplexProgress); }},
      {"cancel_after_the_last_page_simplex",
       [](JobPlan& job) { cancelAfterLastPage(job, true, kSimplexProgress); }},
      {"cancel_after_the_last_page_duplex",
       [](JobPlan& job) { cancelAfterLastPage(job.duplex(kShortEdge), false, kDuplexProgress); }},

      // Spool files that cannot be made, or not written.
      {"spool_cannot_be_made_simplex",
       [](JobPlan& job) {
         job.pages = idPages(2, false);
         job.run.readOnlyTmp = true;
       }},
      {"spool_cannot_be_made_duplex",
       [](JobPlan& job) {
         job.duplex(kLongEdge).pages = idPages(2, true);
         job.run.readOnlyTmp = true;
       }},
      {"spool_disk_full_simplex",
       [](JobPlan& job) {
         job.pages = {noisePage(144), noisePage(144)};
         job.run.smallTmpfsBytes = 64 * 1024;
       }},
      {"spool_disk_full_duplex",
       [](JobPlan& job) {
         job.duplex(kShortEdge).pages = {noisePage(144), noisePage(144)};
         job.run.smallTmpfsBytes = 64 * 1024;
       }},

      // No pages.
      {"empty_input_simplex", [](JobPlan& job) { job.input = ""; }},
      {"empty_input_duplex", [](JobPlan& job) { job.duplex(kLongEdge).input = ""; }},
      {"no_page_header", [](JobPlan& job) { job.input = rasterJobBytes({}); }},
  };
  return cases;
}

Transcript runCase(const TranscriptCase& job) {
  TempDir dir("transcript");
  JobPlan plan;
  job.build(plan);
  plan.ppd.writeTo(dir.file("job.ppd"));
  plan.run.ppd = dir.file("job.ppd");
  plan.run.stdinBytes = plan.input ? *plan.input : rasterJobBytes(plan.pages);
  plan.run.timeoutMs = 60000;
  FilterResult result = runFilter(plan.run);
  EXPECT_TRUE(result.harnessError.empty()) << "job " << job.name << ": " << result.harnessError;
  EXPECT_FALSE(result.timedOut) << "job " << job.name << ": " << result.describe();
  return transcriptOf(result);
}

class Transcripts : public testing::TestWithParam<TranscriptCase> {};

TEST_P(Transcripts, Job) {
  ZERU_REQUIRE_FILTER_RUNS();
  const TranscriptCase& job = GetParam();
  Transcript transcript = runCase(job);
  if (testing::Test::HasFailure()) return;   // a run that went wrong is never recorded
  if (recordMode()) {
    writeTranscript(goldenRoot() + "/" + job.name, transcript);
    return;
  }
  compareTranscript(job.name, transcript);
}

INSTANTIATE_TEST_SUITE_P(TranscriptJobs, Transcripts, testing::ValuesIn(transcriptCases()),
                         [](const testing::TestParamInfo<TranscriptCase>& info) {
                           return info.param.name;
                         });

// Every golden directory belongs to a job of the set (record mode removes the
// others), and the goldens stay small.
TEST(TranscriptGoldens, BelongToTheJobsAndStaySmall) {
  std::set<std::string> names;
  for (const TranscriptCase& job : transcriptCases()) names.insert(job.name);
  ASSERT_TRUE(std::filesystem::is_directory(goldenRoot())) << goldenRoot();
  uintmax_t total = 0;
  for (const auto& entry : std::filesystem::directory_iterator(goldenRoot())) {
    if (!entry.is_directory()) continue;
    std::string name = entry.path().filename().string();
    if (names.count(name) == 0) {
      if (recordMode()) {
        std::filesystem::remove_all(entry.path());
        continue;
      }
      ADD_FAILURE() << "golden directory of no job: " << entry.path()
                    << " (record mode removes it)";
    }
    for (const auto& file : std::filesystem::recursive_directory_iterator(entry.path()))
      if (file.is_regular_file()) total += file.file_size();
  }
  EXPECT_LT(total, 1024u * 1024u) << "the golden files have grown past 1 MiB";
}

}  // namespace
