// zerudump as a program: reports of clean and damaged stream files, exit
// status, and PNG previews read back with libpng.
#include <gtest/gtest.h>

#include <png.h>
#include <sys/wait.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "tools/preview.h"
#include "support/sample_stream.h"
#include "tools/stream_reader.h"
#include "tools/stream_report.h"

using namespace zerudump;

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

class TempDir {
public:
  TempDir() {
    std::string name = (fs::temp_directory_path() / "zerudump-test-XXXXXX").string();
    if (!mkdtemp(name.data())) throw std::runtime_error("mkdtemp failed");
    path_ = name;
  }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }
  std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
  fs::path path_;
};

void writeFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::string readText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs the built tool through the shell; `args` is inserted as written.
RunResult runZerudump(const TempDir& dir, const std::string& args) {
  const std::string out = dir.file("stdout.txt");
  const std::string err = dir.file("stderr.txt");
  const std::string command = std::string("'") + ZERUDUMP_BINARY + "' " + args + " >'" + out + "' 2>'" + err + "'";
  const int raw = std::system(command.c_str());
  RunResult result;
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  result.out = readText(out);
  result.err = readText(err);
  return result;
}

// A PNG read back with libpng, converted to 8-bit gray or RGB.
struct PngPixels {
  uint32_t width = 0;
  uint32_t height = 0;
  int channels = 0;
  std::vector<uint8_t> data;
  const uint8_t* at(uint32_t x, uint32_t y) const { return &data[(size_t(y) * width + x) * channels]; }
};

bool readPng(const std::string& path, bool rgb, PngPixels& out) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
  image.format = rgb ? PNG_FORMAT_RGB : PNG_FORMAT_GRAY;
  out.width = image.width;
  out.height = image.height;
  out.channels = rgb ? 3 : 1;
  out.data.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, out.data.data(), 0, nullptr)) {
    png_image_free(&image);
    return false;
  }
  return true;
}

// IHDR's bit depth and colour type, straight from the file.
std::pair<int, int> pngDepthAndType(const std::string& path) {
  const std::string bytes = readText(path);
  if (bytes.size() < 26) return {-1, -1};
  return {uint8_t(bytes[24]), uint8_t(bytes[25])};
}

// A grayscale page of 512 x 300 dots with a black square at (64,40)-(163,139).
SamplePage squarePage() {
  SamplePage page = SamplePage::blank(false, 512, 300);
  page.planes[3].fillRect(64, 40, 100, 100);
  return page;
}

// A colour page of 1024 x 260 dots: a cyan square, a magenta dot, a yellow
// stripe and a black square, with a cyan square under part of the black one.
SamplePage colourPage() {
  SamplePage page = SamplePage::blank(true, 1024, 260);
  page.planes[0].fillRect(0, 0, 32, 32);
  page.planes[1].setDot(500, 100);
  page.planes[2].fillRect(0, 200, 1024, 8);
  page.planes[3].fillRect(800, 10, 64, 64);
  page.planes[0].fillRect(800, 10, 8, 8);
  return page;
}

SampleJob duplexJob() {
  SampleJob job;
  job.pages.push_back(colourPage());
  job.pages.push_back(squarePage());
  job.pages.push_back(colourPage());
  job.pages.push_back(SamplePage::blank(false, 512, 300));
  job.pjlLines = samplePjlLines(true, 4, true);
  return job;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

}  // namespace

// ---- reports and exit status ----

TEST(ZerudumpReport, CleanDuplexStreamExitsZeroWithPagesInJson) {
  TempDir dir;
  writeFile(dir.file("job.bin"), buildSampleStream(duplexJob()));
  const RunResult run = runZerudump(dir, "--json '" + dir.file("job.bin") + "'");
  EXPECT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_TRUE(contains(run.out, "\"pageCount\": 4")) << run.out;
  EXPECT_TRUE(contains(run.out, "\"clean\": true"));
  EXPECT_TRUE(contains(run.out, "\"problems\": []"));
  EXPECT_TRUE(contains(run.out, "\"dotsPerLine\": 1024, \"lines\": 260"));
  EXPECT_TRUE(contains(run.out, "\"paperWidthMm\": 209.9, \"paperHeightMm\": 297.0"));
  EXPECT_TRUE(contains(run.out, "\"PCNT\": \"4\""));
  EXPECT_TRUE(contains(run.out, "{\"offset\": 9, \"text\": \"@PJL JOB NAME=PRINTER\"}"));
  EXPECT_TRUE(contains(run.out, "\"trailer\": {\"offset\""));
  EXPECT_TRUE(contains(run.out, "\"form\": \"EOJ\""));
}

TEST(ZerudumpReport, TextReportNamesRecordsPlanesAndTrailer) {
  TempDir dir;
  SampleJob job;
  job.pages.push_back(squarePage());
  job.pages.back().cancelMark = 1;
  job.aborted = true;
  SampleLayout layout;
  writeFile(dir.file("job.bin"), buildSampleStream(job, &layout));
  const RunResult run = runZerudump(dir, "'" + dir.file("job.bin") + "'");
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_TRUE(contains(run.out, "@PJL SET JOBATTR=USR:tester"));
  EXPECT_TRUE(contains(run.out, "  USR = tester\n"));
  EXPECT_TRUE(contains(run.out, "Job-start record @" + std::to_string(layout.jobStart) + ": flag 1, copies 1"));
  EXPECT_TRUE(contains(run.out, "Page 1 @" + std::to_string(layout.pageStart[0]) + ": grayscale"));
  EXPECT_TRUE(contains(run.out, "paper 2 (A4), media 1"));
  EXPECT_TRUE(contains(run.out, "512 dots per line, 300 lines, 600 dpi"));
  EXPECT_TRUE(contains(run.out, "paper size 209.9 x 297.0 mm"));
  EXPECT_TRUE(contains(run.out, "JBIG 512 x 300, 3 stripes of 128 lines"));
  EXPECT_TRUE(contains(run.out, "options 0x40 (LRLTWO)"));
  EXPECT_TRUE(contains(run.out, "page-end record @" + std::to_string(layout.pageEnd[0]) + ": cancel mark 1"));
  EXPECT_TRUE(contains(run.out, "Trailer @" + std::to_string(layout.trailer) + ": @PJL EOJ Abort"));
  EXPECT_TRUE(contains(run.out, "No problems found."));
}

TEST(ZerudumpReport, ReadsStandardInput) {
  TempDir dir;
  writeFile(dir.file("job.bin"), buildSampleStream(duplexJob()));
  const RunResult dash = runZerudump(dir, "--json - <'" + dir.file("job.bin") + "'");
  EXPECT_EQ(dash.status, 0);
  EXPECT_TRUE(contains(dash.out, "\"pageCount\": 4"));
  const RunResult none = runZerudump(dir, "--json <'" + dir.file("job.bin") + "'");
  EXPECT_EQ(none.status, 0);
  EXPECT_EQ(none.out, dash.out);
}

struct Damage {
  const char* name;
  std::function<size_t(Bytes&, const SampleLayout&)> apply;   // returns the offset to report
  const char* words;
};

TEST(ZerudumpReport, EachDamageExitsOneAndNamesItsOffset) {
  const auto putLe32 = [](Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
  };
  const std::vector<Damage> damages = {
      {"flipped check byte",
       [](Bytes& b, const SampleLayout& l) { b[l.pageStart[1] + 63] ^= 0x80; return l.pageStart[1] + 63; },
       "check byte"},
      {"truncated plane",
       [](Bytes& b, const SampleLayout& l) {
         b.erase(b.begin() + long(l.pageEnd[1] - 7), b.begin() + long(l.pageEnd[1]));
         return l.pageEnd[1] - 7;
       },
       "plane 3 is cut short"},
      {"missing page-end record",
       [](Bytes& b, const SampleLayout& l) {
         b.erase(b.begin() + long(l.pageEnd[0]), b.begin() + long(l.pageEnd[0] + 64));
         return l.pageEnd[0];
       },
       "page 1 (record at offset"},
      {"plane length larger than the data",
       [&](Bytes& b, const SampleLayout& l) {
         const size_t record = l.pageStart[1];
         putLe32(b, record + 24, readLe32(b.data() + record + 24) + 1000);
         putLe32(b, record + 20, readLe32(b.data() + record + 20) + 1000);
         sealSampleRecord(b.data() + record);
         return l.pageEnd[1];
       },
       "plane 3 is cut short"},
      {"stream cut inside a plane",
       [](Bytes& b, const SampleLayout& l) { b.resize(l.pageData[2] + 30); return l.pageData[2] + 30; },
       "without the trailer"},
  };
  SampleLayout layout;
  const Bytes clean = buildSampleStream(duplexJob(), &layout);
  TempDir dir;
  for (const auto& damage : damages) {
    Bytes bytes = clean;
    const size_t offset = damage.apply(bytes, layout);
    writeFile(dir.file("damaged.bin"), bytes);
    const RunResult text = runZerudump(dir, "'" + dir.file("damaged.bin") + "'");
    EXPECT_EQ(text.status, 1) << damage.name << "\n" << text.out;
    EXPECT_TRUE(contains(text.out, "  @" + std::to_string(offset) + ": ")) << damage.name << "\n" << text.out;
    EXPECT_TRUE(contains(text.out, damage.words)) << damage.name << "\n" << text.out;
    const RunResult json = runZerudump(dir, "--json '" + dir.file("damaged.bin") + "'");
    EXPECT_EQ(json.status, 1) << damage.name;
    EXPECT_TRUE(contains(json.out, "{\"offset\": " + std::to_string(offset) + ", \"message\": "))
        << damage.name << "\n" << json.out;
    EXPECT_TRUE(contains(json.out, "\"clean\": false"));
  }
}

TEST(ZerudumpReport, UnreadableInputAndWrongArgumentsExitTwo) {
  TempDir dir;
  EXPECT_EQ(runZerudump(dir, "'" + dir.file("missing.bin") + "'").status, 2);
  EXPECT_EQ(runZerudump(dir, "--bogus </dev/null").status, 2);
  EXPECT_EQ(runZerudump(dir, "--planes </dev/null").status, 2);
  EXPECT_EQ(runZerudump(dir, "--png '" + dir.file("") + "' --scale 0 </dev/null").status, 2);
  EXPECT_EQ(runZerudump(dir, "a b").status, 2);
}

TEST(ZerudumpReport, EmptyInputIsAProblemNotACrash) {
  TempDir dir;
  const RunResult run = runZerudump(dir, "</dev/null");
  EXPECT_EQ(run.status, 1);
  EXPECT_TRUE(contains(run.out, "@0: the stream does not begin with the UEL"));
}

TEST(ZerudumpReport, JsonStringsEscapeControlAndHighBytes) {
  EXPECT_EQ(jsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
  EXPECT_EQ(jsonString("\r\n\x01"), "\"\\r\\n\\u0001\"");
  EXPECT_EQ(jsonString("\xe9"), "\"\\u00e9\"");
}

// ---- previews ----

TEST(ZerudumpPreview, ColourPageCompositesPlanesOnWhite) {
  TempDir dir;
  writeFile(dir.file("job.bin"), buildSampleStream(duplexJob()));
  const RunResult run = runZerudump(dir, "--png '" + dir.path().string() + "' '" + dir.file("job.bin") + "'");
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  for (const char* name : {"page-001.png", "page-002.png", "page-003.png", "page-004.png"}) {
    EXPECT_TRUE(fs::exists(dir.file(name))) << name;
  }
  EXPECT_FALSE(fs::exists(dir.file("page-001-plane3.png")));
  PngPixels png;
  ASSERT_TRUE(readPng(dir.file("page-001.png"), true, png));
  EXPECT_EQ(pngDepthAndType(dir.file("page-001.png")), (std::pair<int, int>{8, PNG_COLOR_TYPE_RGB}));
  ASSERT_EQ(png.width, 1024u);
  ASSERT_EQ(png.height, 260u);
  const auto rgb = [&](uint32_t x, uint32_t y) {
    const uint8_t* p = png.at(x, y);
    return std::vector<int>{p[0], p[1], p[2]};
  };
  const std::vector<int> white{255, 255, 255}, black{0, 0, 0}, cyan{0, 255, 255}, magenta{255, 0, 255},
      yellow{255, 255, 0};
  EXPECT_EQ(rgb(0, 0), cyan);
  EXPECT_EQ(rgb(31, 31), cyan);
  EXPECT_EQ(rgb(32, 31), white);
  EXPECT_EQ(rgb(500, 100), magenta);
  EXPECT_EQ(rgb(501, 100), white);
  EXPECT_EQ(rgb(10, 200), yellow);
  EXPECT_EQ(rgb(1023, 207), yellow);
  EXPECT_EQ(rgb(10, 208), white);
  EXPECT_EQ(rgb(800, 10), black);   // black over cyan stays black
  EXPECT_EQ(rgb(863, 73), black);
  EXPECT_EQ(rgb(864, 73), white);
  EXPECT_EQ(rgb(799, 10), white);
  EXPECT_EQ(rgb(600, 150), white);
}

TEST(ZerudumpPreview, MissingDirectoryIsMadeWithItsParentsOrRefusedClearly) {
  TempDir dir;
  writeFile(dir.file("job.bin"), buildSampleStream(duplexJob()));
  const std::string nested = dir.file("out/previews");
  const RunResult run = runZerudump(dir, "--png '" + nested + "' '" + dir.file("job.bin") + "'");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(fs::exists(nested + "/page-004.png"));

  // A regular file where the directory would go.
  writeFile(dir.file("plain"), {});
  const RunResult refused = runZerudump(dir, "--png '" + dir.file("plain/previews") + "' '" + dir.file("job.bin") + "'");
  EXPECT_EQ(refused.status, 2);
  EXPECT_TRUE(contains(refused.err, "zerudump: cannot create the preview directory " + dir.file("plain/previews")))
      << refused.err;
  EXPECT_TRUE(refused.out.empty()) << refused.out;
}

TEST(ZerudumpPreview, GrayscalePageShowsTheBlackSquare) {
  TempDir dir;
  writeFile(dir.file("job.bin"), buildSampleStream(duplexJob()));
  ASSERT_EQ(runZerudump(dir, "--png '" + dir.path().string() + "' '" + dir.file("job.bin") + "'").status, 0);
  EXPECT_EQ(pngDepthAndType(dir.file("page-002.png")), (std::pair<int, int>{8, PNG_COLOR_TYPE_GRAY}));
  PngPixels png;
  ASSERT_TRUE(readPng(dir.file("page-002.png"), false, png));
  ASSERT_EQ(png.width, 512u);
  ASSERT_EQ(png.height, 300u);
  size_t blackDots = 0;
  for (uint32_t y = 0; y < png.height; ++y) {
    for (uint32_t x = 0; x < png.width; ++x) {
      const bool inSquare = x >= 64 && x < 164 && y >= 40 && y < 140;
      EXPECT_EQ(*png.at(x, y), inSquare ? 0 : 255) << x << "," << y;
      blackDots += *png.at(x, y) == 0;
      if (::testing::Test::HasFailure()) return;
    }
  }
  EXPECT_EQ(blackDots, 100u * 100);
  PngPixels blank;
  ASSERT_TRUE(readPng(dir.file("page-004.png"), false, blank));
  for (uint8_t v : blank.data) ASSERT_EQ(v, 255);
}

TEST(ZerudumpPreview, ScaleAveragesBlocksOfDots) {
  TempDir dir;
  SampleJob job;
  job.pages.push_back(squarePage());
  writeFile(dir.file("job.bin"), buildSampleStream(job));
  ASSERT_EQ(runZerudump(dir, "--png '" + dir.path().string() + "' --scale 3 '" + dir.file("job.bin") + "'").status, 0);
  PngPixels png;
  ASSERT_TRUE(readPng(dir.file("page-001.png"), false, png));
  EXPECT_EQ(png.width, 171u);    // 512 / 3, rounded up: the last block is partial
  EXPECT_EQ(png.height, 100u);
  EXPECT_EQ(*png.at(30, 30), 0);      // inside the square
  EXPECT_EQ(*png.at(5, 5), 255);      // paper
  // Block (21, 13) covers x 63..65, y 39..41: 4 of its 9 dots are black.
  EXPECT_EQ(*png.at(21, 13), 142);
  // Block (54, 46) covers x 162..164, y 138..140: 2 x 2 dots are black.
  EXPECT_EQ(*png.at(54, 46), 142);
  EXPECT_EQ(*png.at(170, 99), 255);   // the partial last column
}

TEST(ZerudumpPreview, PlanesOptionWritesOneBitPlanes) {
  TempDir dir;
  writeFile(dir.file("job.bin"), buildSampleStream(duplexJob()));
  ASSERT_EQ(runZerudump(dir, "--png '" + dir.path().string() + "' --planes '" + dir.file("job.bin") + "'").status, 0);
  for (int plane = 0; plane < 4; ++plane) {
    const std::string path = dir.file("page-001-plane" + std::to_string(plane) + ".png");
    ASSERT_TRUE(fs::exists(path)) << path;
    EXPECT_EQ(pngDepthAndType(path), (std::pair<int, int>{1, PNG_COLOR_TYPE_GRAY}));
  }
  EXPECT_TRUE(fs::exists(dir.file("page-002-plane3.png")));
  EXPECT_FALSE(fs::exists(dir.file("page-002-plane0.png")));
  PngPixels black;
  ASSERT_TRUE(readPng(dir.file("page-001-plane3.png"), false, black));
  ASSERT_EQ(black.width, 1024u);
  EXPECT_EQ(*black.at(800, 10), 0);
  EXPECT_EQ(*black.at(863, 73), 0);
  EXPECT_EQ(*black.at(864, 73), 255);
  EXPECT_EQ(*black.at(0, 0), 255);   // the cyan square is not in the black plane
  PngPixels cyan;
  ASSERT_TRUE(readPng(dir.file("page-001-plane0.png"), false, cyan));
  EXPECT_EQ(*cyan.at(0, 0), 0);
  EXPECT_EQ(*cyan.at(805, 15), 0);
  EXPECT_EQ(*cyan.at(820, 30), 255);
}

TEST(ZerudumpPreview, PreviewOfADamagedPageStillWritesWhatDecodes) {
  TempDir dir;
  SampleLayout layout;
  Bytes bytes = buildSampleStream(duplexJob(), &layout);
  bytes[layout.pageStart[0] + 63] ^= 1;   // the record is damaged, the planes are whole
  writeFile(dir.file("job.bin"), bytes);
  const RunResult run = runZerudump(dir, "--png '" + dir.path().string() + "' '" + dir.file("job.bin") + "'");
  EXPECT_EQ(run.status, 1);
  PngPixels png;
  ASSERT_TRUE(readPng(dir.file("page-001.png"), true, png));
  EXPECT_EQ(png.at(0, 0)[0], 0);
}

TEST(ZerudumpPreview, UnwritableDirectoryExitsTwo) {
  TempDir dir;
  writeFile(dir.file("job.bin"), buildSampleStream(duplexJob()));
  // A directory where the first preview would go: fopen fails even for root.
  fs::create_directories(dir.file("previews/page-001.png"));
  const RunResult run = runZerudump(dir, "--png '" + dir.file("previews") + "' '" + dir.file("job.bin") + "'");
  EXPECT_EQ(run.status, 2);
  EXPECT_TRUE(contains(run.err, "page-001.png"));
}

TEST(ZerudumpPreview, ComposeColourTakesLightFromWhite) {
  DecodedPlane planes[4];
  for (auto& plane : planes) {
    plane.width = 8;
    plane.height = 2;
    plane.bits.assign(2, 0);
  }
  planes[0].bits[0] = 0b11000000;   // cyan at x 0, 1
  planes[1].bits[0] = 0b01100000;   // magenta at x 1, 2
  planes[2].bits[0] = 0b00100000;   // yellow at x 2
  planes[3].bits[1] = 0b10000000;   // black at (0, 1)
  const DecodedPlane* pointers[4] = {&planes[0], &planes[1], &planes[2], &planes[3]};
  const PreviewImage image = composeColourPreview(pointers, 8, 2, 1);
  ASSERT_EQ(image.channels, 3);
  const auto px = [&](uint32_t x, uint32_t y) {
    const uint8_t* p = &image.pixels[(y * 8 + x) * 3];
    return std::vector<int>{p[0], p[1], p[2]};
  };
  EXPECT_EQ(px(0, 0), (std::vector<int>{0, 255, 255}));
  EXPECT_EQ(px(1, 0), (std::vector<int>{0, 0, 255}));    // cyan + magenta
  EXPECT_EQ(px(2, 0), (std::vector<int>{255, 0, 0}));    // magenta + yellow
  EXPECT_EQ(px(3, 0), (std::vector<int>{255, 255, 255}));
  EXPECT_EQ(px(0, 1), (std::vector<int>{0, 0, 0}));

  // A missing plane prints nothing.
  const DecodedPlane* onlyBlack[4] = {nullptr, nullptr, nullptr, &planes[3]};
  const PreviewImage blackOnly = composeColourPreview(onlyBlack, 8, 2, 1);
  EXPECT_EQ(blackOnly.pixels[0], 255);
  EXPECT_EQ(blackOnly.pixels[8 * 3], 0);
}

TEST(ZerudumpPreview, ComposeGrayScalesPartialBlocks) {
  DecodedPlane black;
  black.width = 5;
  black.height = 3;
  black.bits = {0b11111000, 0b00000000, 0b00001000};
  const PreviewImage image = composeGrayPreview(&black, 5, 3, 2);
  ASSERT_EQ(image.width, 3u);
  ASSERT_EQ(image.height, 2u);
  EXPECT_EQ(image.pixels[0], 128);   // 2 of 4 dots black: (510 + 2) / 4
  EXPECT_EQ(image.pixels[2], 128);   // column 4 alone: 1 of 2
  EXPECT_EQ(image.pixels[3], 255);   // row 2 alone
  EXPECT_EQ(image.pixels[5], 0);     // the dot at (4, 2) alone
}
