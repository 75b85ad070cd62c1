// zerudump over streams the real filter wrote: clean jobs pass with their
// pages and geometry, a cancelled job shows its abort trailer and cancel
// mark, damaged copies are reported at the offset of the damage, and page
// previews show the dots that were drawn.
#include "job_fixture.h"

#include <fcntl.h>
#include <png.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

using namespace zerutest;

namespace {

// ---- running the tool ----

struct DumpResult {
  int status = -1;   // exit status, -1 when it did not exit
  std::string out;
  std::string err;
};

// Runs zerudump with `args`; standard output and error go to files in `dir`.
DumpResult runZerudump(const TempDir& dir, const std::vector<std::string>& args) {
  const std::string outPath = dir.file("dump.out");
  const std::string errPath = dir.file("dump.err");
  std::vector<std::string> argvStrings{ZERUDUMP_BINARY};
  argvStrings.insert(argvStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& arg : argvStrings) argv.push_back(arg.data());
  argv.push_back(nullptr);

  const pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int in = open("/dev/null", O_RDONLY);
    if (out < 0 || err < 0 || in < 0) _exit(127);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int raw = 0;
  while (waitpid(pid, &raw, 0) < 0) {
    if (errno != EINTR) throw std::runtime_error("waitpid failed");
  }
  DumpResult result;
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  result.out = readFileIfExists(outPath);
  result.err = readFileIfExists(errPath);
  return result;
}

// ---- a small JSON reader: enough to check the report's structure ----

struct Json {
  enum class Kind { Null, Bool, Number, String, Array, Object } kind = Kind::Null;
  bool boolean = false;
  double number = 0;
  std::string text;
  std::vector<Json> items;
  std::vector<std::pair<std::string, Json>> members;

  const Json& operator[](const std::string& key) const {
    for (const auto& [name, value] : members)
      if (name == key) return value;
    throw std::runtime_error("JSON object has no member " + key);
  }
  const Json& operator[](size_t index) const {
    if (kind != Kind::Array || index >= items.size())
      throw std::runtime_error("JSON array index " + std::to_string(index) + " out of range");
    return items[index];
  }
  uint64_t u() const {
    if (kind != Kind::Number) throw std::runtime_error("JSON value is not a number");
    return static_cast<uint64_t>(number);
  }
  bool isNull() const { return kind == Kind::Null; }
};

class JsonParser {
public:
  explicit JsonParser(const std::string& text) : s_(text) {}

  // Throws std::runtime_error unless the whole text is one JSON value.
  Json parseDocument() {
    Json value = parseValue();
    skipBlanks();
    if (at_ != s_.size()) fail("text after the value");
    return value;
  }

private:
  const std::string& s_;
  size_t at_ = 0;

  [[noreturn]] void fail(const std::string& what) const {
    throw std::runtime_error("bad JSON at " + std::to_string(at_) + ": " + what);
  }
  void skipBlanks() {
    while (at_ < s_.size() && (s_[at_] == ' ' || s_[at_] == '\t' || s_[at_] == '\r' || s_[at_] == '\n'))
      ++at_;
  }
  void expect(char c) {
    skipBlanks();
    if (at_ >= s_.size() || s_[at_] != c) fail(std::string("expected '") + c + "'");
    ++at_;
  }
  bool consume(std::string_view word) {
    if (s_.compare(at_, word.size(), word) != 0) return false;
    at_ += word.size();
    return true;
  }

  std::string parseString() {
    expect('"');
    std::string out;
    while (true) {
      if (at_ >= s_.size()) fail("unterminated string");
      const char c = s_[at_++];
      if (c == '"') return out;
      if (static_cast<unsigned char>(c) < 0x20) fail("control byte in a string");
      if (c != '\\') {
        out += c;
        continue;
      }
      if (at_ >= s_.size()) fail("unterminated escape");
      const char e = s_[at_++];
      switch (e) {
        case '"': case '\\': case '/': out += e; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'u': {
          if (at_ + 4 > s_.size()) fail("short \\u escape");
          const unsigned long code = std::strtoul(s_.substr(at_, 4).c_str(), nullptr, 16);
          at_ += 4;
          out += static_cast<char>(code < 0x80 ? code : '?');
          break;
        }
        default: fail("unknown escape");
      }
    }
  }

  Json parseValue() {
    skipBlanks();
    if (at_ >= s_.size()) fail("value expected");
    Json value;
    const char c = s_[at_];
    if (c == '{') {
      value.kind = Json::Kind::Object;
      ++at_;
      skipBlanks();
      if (at_ < s_.size() && s_[at_] == '}') {
        ++at_;
        return value;
      }
      while (true) {
        std::string key = parseString();
        expect(':');
        value.members.emplace_back(std::move(key), parseValue());
        skipBlanks();
        if (at_ < s_.size() && s_[at_] == ',') {
          ++at_;
          continue;
        }
        expect('}');
        return value;
      }
    }
    if (c == '[') {
      value.kind = Json::Kind::Array;
      ++at_;
      skipBlanks();
      if (at_ < s_.size() && s_[at_] == ']') {
        ++at_;
        return value;
      }
      while (true) {
        value.items.push_back(parseValue());
        skipBlanks();
        if (at_ < s_.size() && s_[at_] == ',') {
          ++at_;
          continue;
        }
        expect(']');
        return value;
      }
    }
    if (c == '"') {
      value.kind = Json::Kind::String;
      value.text = parseString();
      return value;
    }
    if (consume("true")) {
      value.kind = Json::Kind::Bool;
      value.boolean = true;
      return value;
    }
    if (consume("false")) {
      value.kind = Json::Kind::Bool;
      return value;
    }
    if (consume("null")) return value;
    const char* begin = s_.c_str() + at_;
    char* end = nullptr;
    value.number = std::strtod(begin, &end);
    if (end == begin) fail("value expected");
    value.kind = Json::Kind::Number;
    at_ += static_cast<size_t>(end - begin);
    return value;
  }
};

Json parseJson(const std::string& text) { return JsonParser(text).parseDocument(); }

// ---- streams and their damage ----

// A job run whose stream is kept: the filter's output, in a file for the tool.
struct FilterStream {
  TempDir dir{"dumpint"};
  std::string bytes;
  std::string path;

  explicit FilterStream(JobRun& job) {
    FilterResult result = job.go();
    EXPECT_TRUE(result.exited && result.exitStatus == 0) << result.describe();
    bytes = result.out;
    path = dir.file("job.zeru");
    writeFile(path, bytes);
  }
};

// The report's problems as offset -> messages.
std::multimap<uint64_t, std::string> problemsIn(const Json& report) {
  std::multimap<uint64_t, std::string> problems;
  for (const Json& p : report["problems"].items)
    problems.emplace(p["offset"].u(), p["message"].text);
  return problems;
}

std::string listProblems(const Json& report) {
  std::string text;
  for (const auto& [offset, message] : problemsIn(report))
    text += "@" + std::to_string(offset) + ": " + message + "\n";
  return text;
}

// Whether a problem at `offset` has `words` in its message.
bool reportsAt(const Json& report, uint64_t offset, const std::string& words) {
  const auto problems = problemsIn(report);
  auto [first, last] = problems.equal_range(offset);
  for (auto it = first; it != last; ++it)
    if (it->second.find(words) != std::string::npos) return true;
  return false;
}

// Runs the tool over `bytes` in both forms: the text report must name the
// same problems at the same offsets as the JSON one, which is returned.
Json dumpDamaged(const TempDir& dir, const std::string& name, const std::string& bytes) {
  const std::string path = dir.file(name);
  writeFile(path, bytes);
  DumpResult json = runZerudump(dir, {"--json", path});
  EXPECT_EQ(json.status, 1) << name << ":\n" << json.out << json.err;
  Json report = parseJson(json.out);
  EXPECT_FALSE(report["clean"].boolean) << name;
  EXPECT_EQ(report["size"].u(), bytes.size()) << name;

  DumpResult text = runZerudump(dir, {path});
  EXPECT_EQ(text.status, 1) << name << ":\n" << text.out << text.err;
  EXPECT_NE(text.out.find("Problems: " + std::to_string(report["problems"].items.size()) + "\n"),
            std::string::npos)
      << text.out;
  for (const Json& p : report["problems"].items)
    EXPECT_NE(text.out.find("  @" + std::to_string(p["offset"].u()) + ": " + p["message"].text + "\n"),
              std::string::npos)
        << name << ": " << p["message"].text << "\n" << text.out;
  return report;
}

void putLe32(std::string& bytes, size_t at, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

// Sets a 64-byte record's check byte to the XOR of its other bytes.
void fixCheckByte(std::string& bytes, size_t record) {
  uint8_t x = 0;
  for (size_t i = 0; i < kStreamRecordSize - 1; ++i) x ^= static_cast<uint8_t>(bytes[record + i]);
  bytes[record + kStreamRecordSize - 1] = static_cast<char>(x);
}

// ---- checks of clean reports ----

// The page geometry of a one-inch page at 600 dpi, as markedPage makes it.
void expectSmallPage(const Json& page, bool colour, const std::string& what) {
  EXPECT_EQ(page["colour"].boolean, colour) << what;
  EXPECT_EQ(page["paperCode"].u(), 0u) << what;
  EXPECT_EQ(page["paperName"].text, "Custom") << what;
  EXPECT_EQ(page["dotsPerLine"].u(), 1024u) << what;
  EXPECT_EQ(page["lines"].u(), 600u) << what;
  EXPECT_EQ(page["resolution"].u(), 600u) << what;
  EXPECT_EQ(page["rawSize"].u(), (colour ? 4u : 1u) * 600u * 128u) << what;
  EXPECT_EQ(page["paperWidthMm"].number, 25.4) << what;
  EXPECT_EQ(page["paperHeightMm"].number, 25.4) << what;
  const Json& planes = page["planes"];
  ASSERT_EQ(planes.items.size(), colour ? 4u : 1u) << what;
  for (const Json& plane : planes.items) {
    EXPECT_TRUE(plane["decodes"].boolean) << what;
    EXPECT_EQ(plane["jbig"]["width"].u(), 1024u) << what;
    EXPECT_EQ(plane["jbig"]["height"].u(), 600u) << what;
    EXPECT_EQ(plane["present"].u(), plane["length"].u()) << what;
  }
  ASSERT_FALSE(page["pageEnd"].isNull()) << what;
  EXPECT_EQ(page["pageEnd"]["cancelMark"].u(), 0u) << what;
}

// The report agrees with the stream as the reader parses it in-process:
// the same blocks at the same offsets with the same lengths.
void expectSameLayout(const Json& report, const JobStream& stream) {
  ASSERT_EQ(report["pageCount"].u(), stream.pages.size());
  ASSERT_EQ(report["pages"].items.size(), stream.pages.size());
  for (size_t i = 0; i < stream.pages.size(); ++i) {
    const Json& page = report["pages"][i];
    const PageBlock& block = stream.pages[i];
    EXPECT_EQ(page["number"].u(), i + 1);
    EXPECT_EQ(page["offset"].u(), block.offset) << "page " << i + 1;
    EXPECT_EQ(page["compressedSize"].u(), block.compressedSize) << "page " << i + 1;
    EXPECT_EQ(page["dataPresent"].u(), block.dataPresent) << "page " << i + 1;
    EXPECT_EQ(page["pageEnd"]["offset"].u(), block.endOffset) << "page " << i + 1;
    for (int p = 0; p < 4; ++p)
      EXPECT_EQ(page["planeLengths"][p].u(), block.planeLength[p]) << "page " << i + 1;
  }
}

// Runs the tool in both forms over a clean stream: exit 0, a parseable JSON
// report that says clean, and a text report with the page count.
Json dumpClean(const FilterStream& stream, size_t pages) {
  DumpResult json = runZerudump(stream.dir, {"--json", stream.path});
  EXPECT_EQ(json.status, 0) << json.out << json.err;
  EXPECT_EQ(json.err, "");
  Json report = parseJson(json.out);
  EXPECT_TRUE(report["clean"].boolean) << listProblems(report);
  EXPECT_TRUE(report["problems"].items.empty());
  EXPECT_EQ(report["size"].u(), stream.bytes.size());
  EXPECT_EQ(report["pageCount"].u(), pages);
  EXPECT_EQ(report["trailer"]["form"].text, "EOJ");
  EXPECT_EQ(report["trailer"]["line"].text, "@PJL EOJ");
  EXPECT_EQ(report["trailer"]["offset"].u(), stream.bytes.size() - 9 - 10);
  EXPECT_FALSE(report["jobStart"].isNull());

  DumpResult text = runZerudump(stream.dir, {stream.path});
  EXPECT_EQ(text.status, 0) << text.out << text.err;
  EXPECT_NE(text.out.find("Pages: " + std::to_string(pages) + "\n"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("No problems found.\n"), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("Trailer @" + std::to_string(stream.bytes.size() - 19) + ": @PJL EOJ\n"),
            std::string::npos)
      << text.out;
  return report;
}

// ---- PNG previews read back ----

struct PngPixels {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> rgb;
  Rgb at(uint32_t x, uint32_t y) const {
    const uint8_t* p = &rgb[(size_t(y) * width + x) * 3];
    return Rgb{p[0], p[1], p[2]};
  }
};

// Reads a PNG with libpng, converted to 8-bit RGB; throws when it cannot.
PngPixels readPngRgb(const std::string& path) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str()))
    throw std::runtime_error(path + ": " + image.message);
  image.format = PNG_FORMAT_RGB;
  PngPixels pixels;
  pixels.width = image.width;
  pixels.height = image.height;
  pixels.rgb.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, pixels.rgb.data(), 0, nullptr)) {
    std::string message = image.message;
    png_image_free(&image);
    throw std::runtime_error(path + ": " + message);
  }
  return pixels;
}

constexpr Rgb kCyan{0, 255, 255};

std::string rgbText(Rgb c) {
  return "(" + std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b) + ")";
}

// Two squares on a one-inch colour page: black at (100,100)-(199,199), cyan
// at (300,300)-(399,399); white elsewhere.
constexpr unsigned kBlackAt = 100, kCyanAt = 300, kSquare = 100;

RasterPage twoSquaresPage() {
  return colourPage(makeHeader(kSmallPagePoints, kSmallPagePoints, 600, true),
                    [](unsigned x, unsigned y) {
                      if (x >= kBlackAt && x < kBlackAt + kSquare && y >= kBlackAt &&
                          y < kBlackAt + kSquare)
                        return kBlack;
                      if (x >= kCyanAt && x < kCyanAt + kSquare && y >= kCyanAt &&
                          y < kCyanAt + kSquare)
                        return Rgb{0, 255, 255};
                      return kWhite;
                    });
}

// What the preview should show at dot (x, y) of the page reduced by `scale`.
Rgb expectedPreviewDot(uint32_t x, uint32_t y, unsigned scale) {
  const auto inside = [&](unsigned from) {
    return x >= from / scale && x < (from + kSquare) / scale && y >= from / scale &&
           y < (from + kSquare) / scale;
  };
  if (inside(kBlackAt)) return kBlack;
  if (inside(kCyanAt)) return kCyan;
  return kWhite;
}

// Compares every dot of the preview with the drawing; counts the misses.
size_t previewMisses(const PngPixels& png, unsigned scale, std::string& firstMiss) {
  size_t misses = 0;
  for (uint32_t y = 0; y < png.height; ++y)
    for (uint32_t x = 0; x < png.width; ++x) {
      const Rgb want = expectedPreviewDot(x, y, scale);
      const Rgb got = png.at(x, y);
      if (got == want) continue;
      if (misses++ == 0)
        firstMiss = "at (" + std::to_string(x) + "," + std::to_string(y) + ") " + rgbText(got) +
                    " instead of " + rgbText(want);
    }
  return misses;
}

}  // namespace

// ---- clean streams ----

TEST(ZerudumpOnFilterOutput, SimplexStreamPassesWithItsPagesAndGeometry) {
  ZERU_REQUIRE_FILTER_RUNS();
  JobRun job;
  job.pages = {markedPage(1), markedPage(2)};
  FilterStream stream(job);
  Json report = dumpClean(stream, 2);
  expectSameLayout(report, readStream(stream.bytes));
  for (size_t i = 0; i < 2; ++i) expectSmallPage(report["pages"][i], false, "page " + std::to_string(i + 1));
  EXPECT_EQ(report["jobStart"]["copies"].u(), 1u);
  EXPECT_EQ(report["settings"]["DUPLEX"].text, "OFF");
  EXPECT_EQ(report["envelope"][0]["offset"].u(), 9u);
}

TEST(ZerudumpOnFilterOutput, ColourStreamPassesWithFourPlanesInDataOrder) {
  ZERU_REQUIRE_FILTER_RUNS();
  JobRun job;
  job.pages = {twoSquaresPage()};
  FilterStream stream(job);
  Json report = dumpClean(stream, 1);
  expectSameLayout(report, readStream(stream.bytes));
  const Json& page = report["pages"][0];
  expectSmallPage(page, true, "colour page");
  const Json& planes = page["planes"];
  ASSERT_EQ(planes.items.size(), 4u);
  const int order[4] = {2, 1, 0, 3};
  uint64_t offset = page["offset"].u() + kStreamRecordSize;
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(planes[i]["plane"].u(), static_cast<uint64_t>(order[i]));
    EXPECT_EQ(planes[i]["offset"].u(), offset);
    offset += planes[i]["length"].u();
  }
  EXPECT_EQ(page["pageEnd"]["offset"].u(), offset);
}

TEST(ZerudumpOnFilterOutput, DuplexStreamWithFillerPassesWithFourSides) {
  ZERU_REQUIRE_FILTER_RUNS();
  JobRun job;
  job.ppd.setDefault("DrvDuplex", "DrvDuplexNoTumble");
  job.pages = {markedPage(1), markedPage(2), markedPage(3)};
  FilterStream stream(job);
  Json report = dumpClean(stream, 4);
  JobStream parsed = readStream(stream.bytes);
  expectSameLayout(report, parsed);
  // The filler is a whole white side of the same size.
  EXPECT_EQ(markedPageIds(parsed), (std::vector<int>{0, 2, 3, 1}));
  for (size_t i = 0; i < 4; ++i) expectSmallPage(report["pages"][i], false, "side " + std::to_string(i + 1));
  EXPECT_EQ(report["settings"]["DUPLEX"].text, "ON");
  EXPECT_EQ(report["jobAttributes"]["PCNT"].text, "3");
}

TEST(ZerudumpOnFilterOutput, CollatedCopiesPassWithEveryPageOfBothSets) {
  ZERU_REQUIRE_FILTER_RUNS();
  JobRun job;
  job.ppd.setDefault("Collate", "True");
  for (int id = 1; id <= 3; ++id) {
    RasterPage page = markedPage(id);
    page.header.NumCopies = 2;
    job.pages.push_back(page);
  }
  FilterStream stream(job);
  Json report = dumpClean(stream, 6);
  JobStream parsed = readStream(stream.bytes);
  expectSameLayout(report, parsed);
  EXPECT_EQ(markedPageIds(parsed), (std::vector<int>{3, 2, 1, 3, 2, 1}));
  for (size_t i = 0; i < 6; ++i) expectSmallPage(report["pages"][i], false, "page " + std::to_string(i + 1));
  // The set is sent twice: the second set's blocks are the first set's bytes.
  for (size_t i = 0; i < 3; ++i) {
    const PageBlock& first = parsed.pages[i];
    const PageBlock& again = parsed.pages[i + 3];
    EXPECT_EQ(stream.bytes.substr(first.offset, first.endOffset - first.offset),
              stream.bytes.substr(again.offset, again.endOffset - again.offset));
  }
  EXPECT_EQ(report["jobStart"]["copies"].u(), 1u);
  EXPECT_EQ(report["settings"]["QTY"].text, "1");
}

TEST(ZerudumpOnFilterOutput, CancelledJobShowsItsCancelMarkAndAbortTrailer) {
  ZERU_REQUIRE_FILTER_RUNS();
  JobRun job;
  cancelWhileSendingPage4(job);
  FilterResult result = job.go();
  ASSERT_TRUE(result.exited && result.exitStatus == 0) << result.describe();
  TempDir dir("dumpint");
  writeFile(dir.file("cancelled.zeru"), result.out);
  JobStream parsed = readStream(result.out);
  ASSERT_EQ(parsed.pages.size(), 1u);

  // A cancelled job's stream is well formed: the tool passes it.
  DumpResult json = runZerudump(dir, {"--json", dir.file("cancelled.zeru")});
  EXPECT_EQ(json.status, 0) << json.out << json.err;
  Json report = parseJson(json.out);
  EXPECT_TRUE(report["clean"].boolean) << listProblems(report);
  ASSERT_EQ(report["pageCount"].u(), 1u);
  const Json& page = report["pages"][0];
  EXPECT_EQ(page["dotsPerLine"].u(), 2560u);   // 2400 dots, padded to a multiple of 512
  EXPECT_EQ(page["lines"].u(), 2400u);
  EXPECT_TRUE(page["planes"][0]["decodes"].boolean);
  EXPECT_EQ(page["pageEnd"]["offset"].u(), parsed.pages[0].endOffset);
  EXPECT_EQ(page["pageEnd"]["cancelMark"].u(), 1u);
  EXPECT_EQ(report["trailer"]["form"].text, "EOJ Abort");
  EXPECT_EQ(report["trailer"]["line"].text, "@PJL EOJ Abort");
  EXPECT_EQ(report["trailer"]["offset"].u(), parsed.pages[0].endOffset + kStreamRecordSize);

  DumpResult text = runZerudump(dir, {dir.file("cancelled.zeru")});
  EXPECT_EQ(text.status, 0) << text.out << text.err;
  EXPECT_NE(text.out.find("  page-end record @" + std::to_string(parsed.pages[0].endOffset) +
                          ": cancel mark 1\n"),
            std::string::npos)
      << text.out;
  EXPECT_NE(text.out.find("Trailer @" + std::to_string(parsed.trailerOffset) + ": @PJL EOJ Abort\n"),
            std::string::npos)
      << text.out;
  EXPECT_NE(text.out.find("No problems found.\n"), std::string::npos) << text.out;
}

// ---- damaged copies of a real stream ----

// A marked page with a square of noise, (200,200)-(399,399), so that its
// plane holds some kilobytes of data to damage.
RasterPage noisyMarkedPage(int id) {
  const unsigned rows = 16u * static_cast<unsigned>(id);
  return grayPage(makeHeader(kSmallPagePoints, kSmallPagePoints, 600, false),
                  [rows](unsigned x, unsigned y) {
                    if (x < 32 && y < rows) return uint8_t{0};
                    if (x >= 200 && x < 400 && y >= 200 && y < 400 && noiseDot(x, y)) return uint8_t{0};
                    return uint8_t{255};
                  });
}

// Two grayscale pages, as the filter writes them; damage is made to copies.
class DamagedFilterStream : public ::testing::Test {
protected:
  void SetUp() override {
    if (!canRunFilter()) GTEST_SKIP() << "needs root for a private mount namespace";
    JobRun job;
    job.pages = {noisyMarkedPage(1), noisyMarkedPage(2)};
    FilterResult result = job.go();
    ASSERT_TRUE(result.exited && result.exitStatus == 0) << result.describe();
    clean_ = result.out;
    parsed_ = readStream(clean_);
    ASSERT_TRUE(parsed_.clean()) << problemsOf(parsed_);
    ASSERT_EQ(parsed_.pages.size(), 2u);
  }

  TempDir dir_{"dumpint"};
  std::string clean_;
  JobStream parsed_;
};

TEST_F(DamagedFilterStream, FlippedCheckByteOfAPageStartRecordIsReportedAtThatByte) {
  const PageBlock& second = parsed_.pages[1];
  std::string damaged = clean_;
  const size_t at = second.offset + kStreamRecordSize - 1;
  damaged[at] = static_cast<char>(damaged[at] ^ 0xFF);
  Json report = dumpDamaged(dir_, "check-byte.zeru", damaged);
  // Only the check byte is wrong: the pages are still read as they are.
  ASSERT_EQ(report["problems"].items.size(), 1u) << listProblems(report);
  EXPECT_TRUE(reportsAt(report, at, "page-start record: check byte")) << listProblems(report);
  EXPECT_EQ(report["pageCount"].u(), 2u);
  EXPECT_TRUE(report["pages"][1]["planes"][0]["decodes"].boolean);
}

TEST_F(DamagedFilterStream, TruncatedPlaneIsReportedWhereItsDataEnds) {
  // The last 40 bytes of the first page's plane are cut out; everything
  // after it is left as it was.
  const PageBlock& first = parsed_.pages[0];
  const PlaneEntity& plane = first.planes[0];
  ASSERT_GT(plane.declaredLength, 1000u);
  const size_t cut = 40;
  const size_t planeEnd = plane.offset + plane.declaredLength;
  std::string damaged = clean_;
  damaged.erase(planeEnd - cut, cut);
  Json report = dumpDamaged(dir_, "short-plane.zeru", damaged);
  EXPECT_TRUE(reportsAt(report, planeEnd - cut, "plane 3 is cut short")) << listProblems(report);
  EXPECT_TRUE(reportsAt(report, first.offset + 20, "compressed size")) << listProblems(report);
  EXPECT_FALSE(report["pages"][0]["planes"][0]["decodes"].boolean);
  // The page after it is found and read whole.
  EXPECT_EQ(report["pageCount"].u(), 2u);
  EXPECT_EQ(report["pages"][1]["offset"].u(), parsed_.pages[1].offset - cut);
  EXPECT_TRUE(report["pages"][1]["planes"][0]["decodes"].boolean);
  for (const auto& [offset, message] : problemsIn(report)) {
    EXPECT_GE(offset, first.offset) << message;
    EXPECT_LE(offset, first.endOffset - cut) << message;
  }
}

TEST_F(DamagedFilterStream, StreamCutInsideTheLastPlaneIsReportedAtItsEnd) {
  const PageBlock& last = parsed_.pages[1];
  const PlaneEntity& plane = last.planes[0];
  const size_t cutAt = plane.offset + plane.declaredLength / 2;
  Json report = dumpDamaged(dir_, "cut-stream.zeru", clean_.substr(0, cutAt));
  EXPECT_TRUE(reportsAt(report, cutAt, "plane 3 is cut short")) << listProblems(report);
  EXPECT_TRUE(reportsAt(report, cutAt, "has no page-end record")) << listProblems(report);
  EXPECT_TRUE(reportsAt(report, cutAt, "without the trailer")) << listProblems(report);
  EXPECT_TRUE(report["trailer"].isNull());
  EXPECT_TRUE(report["pages"][1]["pageEnd"].isNull());
  EXPECT_TRUE(report["pages"][0]["planes"][0]["decodes"].boolean);
}

TEST_F(DamagedFilterStream, MissingPageEndRecordIsReportedWhereItBelongs) {
  const PageBlock& first = parsed_.pages[0];
  std::string damaged = clean_;
  damaged.erase(first.endOffset, kStreamRecordSize);
  Json report = dumpDamaged(dir_, "no-page-end.zeru", damaged);
  ASSERT_EQ(report["problems"].items.size(), 1u) << listProblems(report);
  EXPECT_TRUE(reportsAt(report, first.endOffset,
                        "page 1 (record at offset " + std::to_string(first.offset) +
                            ") has no page-end record"))
      << listProblems(report);
  EXPECT_TRUE(report["pages"][0]["pageEnd"].isNull());
  EXPECT_EQ(report["pages"][1]["offset"].u(), first.endOffset);
  EXPECT_EQ(report["pageCount"].u(), 2u);
}

TEST_F(DamagedFilterStream, PlaneLengthLargerThanTheDataIsReportedWhereTheDataEnds) {
  // A record that is consistent in itself (plane length, compressed size
  // and check byte agree) but announces 100 bytes more than were sent.
  const PageBlock& first = parsed_.pages[0];
  const PlaneEntity& plane = first.planes[0];
  const uint32_t longer = plane.declaredLength + 100;
  std::string damaged = clean_;
  putLe32(damaged, first.offset + 24, longer);   // the black plane's length
  putLe32(damaged, first.offset + 20, longer);   // the compressed size
  fixCheckByte(damaged, first.offset);
  const size_t dataEnd = plane.offset + plane.declaredLength;
  Json report = dumpDamaged(dir_, "long-plane.zeru", damaged);
  EXPECT_TRUE(reportsAt(report, dataEnd,
                        "plane 3 is cut short: " + std::to_string(plane.declaredLength) + " of " +
                            std::to_string(longer) + " bytes present (length field at offset " +
                            std::to_string(first.offset + 24) + ")"))
      << listProblems(report);
  EXPECT_TRUE(reportsAt(report, first.offset + 20, "compressed size")) << listProblems(report);
  // The data that is there is a whole image, and the page end is found.
  EXPECT_TRUE(report["pages"][0]["planes"][0]["decodes"].boolean) << listProblems(report);
  EXPECT_EQ(report["pages"][0]["pageEnd"]["offset"].u(), first.endOffset);
  EXPECT_EQ(report["pageCount"].u(), 2u);
  for (const auto& [offset, message] : problemsIn(report)) EXPECT_LE(offset, first.endOffset) << message;
}

// ---- previews ----

TEST(ZerudumpOnFilterOutput, PreviewOfAColourPageShowsItsSquaresOnWhite) {
  ZERU_REQUIRE_FILTER_RUNS();
  JobRun job;
  job.pages = {twoSquaresPage()};
  FilterStream stream(job);
  TempDir full("preview");
  DumpResult run = runZerudump(stream.dir, {"--png", full.path(), "--planes", stream.path});
  ASSERT_EQ(run.status, 0) << run.out << run.err;

  // The whole device line is shown: 1024 x 600 dots, the padding white.
  PngPixels png = readPngRgb(full.file("page-001.png"));
  ASSERT_EQ(png.width, 1024u);
  ASSERT_EQ(png.height, 600u);
  EXPECT_EQ(png.at(150, 150), kBlack);
  EXPECT_EQ(png.at(kBlackAt, kBlackAt), kBlack);
  EXPECT_EQ(png.at(kBlackAt + kSquare - 1, kBlackAt + kSquare - 1), kBlack);
  EXPECT_EQ(png.at(kBlackAt + kSquare, kBlackAt), kWhite);
  EXPECT_EQ(png.at(350, 350), kCyan);
  EXPECT_EQ(png.at(kCyanAt - 1, kCyanAt), kWhite);
  EXPECT_EQ(png.at(kCyanAt + kSquare - 1, kCyanAt + kSquare - 1), kCyan);
  EXPECT_EQ(png.at(50, 50), kWhite);
  EXPECT_EQ(png.at(800, 300), kWhite);
  std::string firstMiss;
  EXPECT_EQ(previewMisses(png, 1, firstMiss), 0u) << firstMiss;

  // Each plane on its own: the black square on plane 3, the cyan one on 0.
  PngPixels black = readPngRgb(full.file("page-001-plane3.png"));
  PngPixels cyan = readPngRgb(full.file("page-001-plane0.png"));
  PngPixels magenta = readPngRgb(full.file("page-001-plane1.png"));
  EXPECT_EQ(black.at(150, 150), kBlack);
  EXPECT_EQ(black.at(350, 350), kWhite);
  EXPECT_EQ(cyan.at(350, 350), kBlack);
  EXPECT_EQ(cyan.at(150, 150), kWhite);
  EXPECT_EQ(magenta.at(150, 150), kWhite);
  EXPECT_EQ(magenta.at(350, 350), kWhite);

  // Reduced by 4: 256 x 150, the squares 25 dots wide at a quarter of their places.
  TempDir reduced("preview");
  run = runZerudump(stream.dir, {"--png", reduced.path(), "--scale", "4", stream.path});
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  png = readPngRgb(reduced.file("page-001.png"));
  ASSERT_EQ(png.width, 256u);
  ASSERT_EQ(png.height, 150u);
  EXPECT_EQ(previewMisses(png, 4, firstMiss), 0u) << firstMiss;
  EXPECT_FALSE(std::filesystem::exists(reduced.file("page-001-plane3.png")));
}

TEST(ZerudumpOnFilterOutput, PreviewsOfADuplexJobComeOneFilePerSide) {
  ZERU_REQUIRE_FILTER_RUNS();
  JobRun job;
  job.ppd.setDefault("DrvDuplex", "DrvDuplexNoTumble");
  job.pages = {markedPage(1), markedPage(2), markedPage(3)};
  FilterStream stream(job);
  TempDir previews("preview");
  DumpResult run = runZerudump(stream.dir, {"--png", previews.path(), stream.path});
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(listFilesRecursively(previews.path()),
            (std::vector<std::string>{"page-001.png", "page-002.png", "page-003.png", "page-004.png"}));
  // Side 1 is the filler: white all over. Side 2 is page 2, upright: its
  // block of 32 x 32 dots in the top left corner. Side 3 is page 3, turned
  // on this binding: its block of 48 lines x 32 dots in the bottom lines,
  // ending at dot 407, since a turned grayscale line keeps its 51 printable
  // bytes (402 printable dots) from the start of the plane line.
  const auto blackDots = [](const PngPixels& png) {
    size_t dots = 0;
    for (uint32_t y = 0; y < png.height; ++y)
      for (uint32_t x = 0; x < png.width; ++x) dots += png.at(x, y) == kBlack;
    return dots;
  };
  const auto whiteDots = [](const PngPixels& png) {
    size_t dots = 0;
    for (uint32_t y = 0; y < png.height; ++y)
      for (uint32_t x = 0; x < png.width; ++x) dots += png.at(x, y) == kWhite;
    return dots;
  };
  PngPixels filler = readPngRgb(previews.file("page-001.png"));
  PngPixels second = readPngRgb(previews.file("page-002.png"));
  PngPixels third = readPngRgb(previews.file("page-003.png"));
  ASSERT_EQ(filler.width, 1024u);
  ASSERT_EQ(filler.height, 600u);
  EXPECT_EQ(whiteDots(filler), 1024u * 600u);
  EXPECT_EQ(blackDots(second), 32u * 32u);
  EXPECT_EQ(whiteDots(second), 1024u * 600u - 32u * 32u);
  EXPECT_EQ(second.at(31, 31), kBlack);
  EXPECT_EQ(second.at(32, 31), kWhite);
  EXPECT_EQ(second.at(31, 32), kWhite);
  EXPECT_EQ(blackDots(third), 48u * 32u);
  EXPECT_EQ(whiteDots(third), 1024u * 600u - 48u * 32u);
  EXPECT_EQ(third.at(407 - 31, 599 - 47), kBlack);
  EXPECT_EQ(third.at(407, 599), kBlack);
  EXPECT_EQ(third.at(407 - 32, 599), kWhite);
  EXPECT_EQ(third.at(407, 599 - 48), kWhite);
}
