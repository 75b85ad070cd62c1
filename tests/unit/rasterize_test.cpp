#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "filter/log.h"
#include "filter/raster_page.h"
#include "support/render_page.h"
#include "zeru/page_header.h"

namespace {

// ---- A fake engine: threshold conversion and a record of what it was given ----
//
// Colour: a pixel whose three channels are all below 128 is black (segment 3);
// otherwise each channel below 128 sets its own segment (0 cyan, 1 magenta,
// 2 yellow). Grayscale: a value below 128 is a dot in the only segment.

struct FakeInstance {
  GetOutputLineFn getOutputLine = nullptr;
  LineReadyFn lineReady = nullptr;
  bool colour = true;
  unsigned lineWidth = 0;
  // Touched by the one thread that runs the instance at a time (checked by `busy`).
  std::vector<int> lineNumbers;
  std::vector<unsigned char> pending;
  bool hasPending = false;
  bool badArguments = false;
  std::atomic<int> busy{0};
  std::atomic<bool> overlapped{false};
  int ended = 0;
};

struct FakeEngine {
  std::array<FakeInstance, 4> instance;
  int initialised = 0;
  bool late = false;  // delivers each line at the next ZARVEL call or in EndZARVEL
  bool silent = false;  // never delivers a line
  int refuseInitOf = -1;
  int refuseScreenThreadOf = -1;
  std::atomic<int> zarvelCalls{0};
  std::vector<std::string> calls;  // set-up and end calls, page thread only
};

FakeEngine* engine = nullptr;
constexpr int kHandleBase = 40;

FakeInstance& instanceOf(int handle) { return engine->instance[handle - kHandleBase]; }

void convert(FakeInstance& in, const unsigned char* line) {
  unsigned char* out = in.getOutputLine();
  size_t bytes = in.lineWidth / 8;
  memset(out, 0, in.colour ? 4 * bytes : bytes);
  for (unsigned x = 0; x < in.lineWidth; ++x) {
    unsigned char bit = static_cast<unsigned char>(0x80 >> (x % 8));
    if (in.colour) {
      const unsigned char* px = line + 3 * x;
      if (px[0] < 128 && px[1] < 128 && px[2] < 128) {
        out[3 * bytes + x / 8] |= bit;
      } else {
        for (int c = 0; c < 3; ++c)
          if (px[c] < 128) out[c * bytes + x / 8] |= bit;
      }
    } else if (line[x] < 128) {
      out[x / 8] |= bit;
    }
  }
  in.lineReady();
}

int fakeInit(EngineSetup* setup) {
  int index = engine->initialised++;
  FakeInstance& in = engine->instance[index];
  in.getOutputLine = setup->getOutputLine;
  in.lineReady = setup->lineReady;
  in.colour = setup->colourLayout == 2;
  in.lineWidth = setup->lineWidth;
  engine->calls.push_back("Init");
  return index == engine->refuseInitOf ? -1 : kHandleBase + index;
}
int fakeStartAdjustJob(int, AdjustRecord*) {
  engine->calls.push_back("StartAdjustJob");
  return 0;
}
int fakeCreate(int) {
  engine->calls.push_back("Create");
  return 0;
}
int fakeScreenThread(int handle, int, int) {
  engine->calls.push_back("UpdateScreenThread");
  return handle - kHandleBase == engine->refuseScreenThreadOf ? -1 : 0;
}
int fakeTonerTRC(int, int, int) {
  engine->calls.push_back("UpdateScreenTonerTRC");
  return 0;
}
int fakeZARVEL(int handle, unsigned char* line, void* reserved, int one, int lineNumber) {
  FakeInstance& in = instanceOf(handle);
  if (in.busy.exchange(1)) in.overlapped = true;
  engine->zarvelCalls.fetch_add(1);
  if (reserved != nullptr || one != 1) in.badArguments = true;
  in.lineNumbers.push_back(lineNumber);
  if (engine->silent) {
    // keeps the line to itself
  } else if (engine->late) {
    if (in.hasPending) convert(in, in.pending.data());
    in.pending.assign(line, line + (in.colour ? 3 : 1) * in.lineWidth);
    in.hasPending = true;
  } else {
    convert(in, line);
  }
  in.busy.store(0);
  return 0;
}
int fakeEnd(int handle) {
  FakeInstance& in = instanceOf(handle);
  if (in.hasPending) convert(in, in.pending.data());
  in.hasPending = false;
  ++in.ended;
  engine->calls.push_back("End");
  return 0;
}

EngineLibrary fakeLibrary() {
  EngineLibrary library;
  library.pfZARVEL = fakeZARVEL;
  library.pfInitZARVEL = fakeInit;
  library.pfCreateZARVEL = fakeCreate;
  library.pfEndZARVEL = fakeEnd;
  library.pfStartAdjustJob = fakeStartAdjustJob;
  library.pfUpdateScreenThread = fakeScreenThread;
  library.pfUpdateScreenTonerTRC = fakeTonerTRC;
  return library;
}

// ---- Raster pages written and read back with libcupsimage ----

struct TestPage {
  unsigned width = 64;  // raster pixels per line
  unsigned height = 0;
  bool colour = true;
  std::vector<unsigned char> pixels;  // width * bytes per pixel * height
  unsigned writtenLines = UINT_MAX;   // fewer than height: the stream ends early

  size_t pixelBytes() const { return colour ? 3 : 1; }
  const unsigned char* pixel(unsigned x, unsigned y) const {
    return pixels.data() + (static_cast<size_t>(y) * width + x) * pixelBytes();
  }
  unsigned char* pixel(unsigned x, unsigned y) {
    return pixels.data() + (static_cast<size_t>(y) * width + x) * pixelBytes();
  }
};

TestPage whitePage(unsigned width, unsigned height, bool colour) {
  TestPage page;
  page.width = width;
  page.height = height;
  page.colour = colour;
  page.pixels.assign(static_cast<size_t>(width) * height * page.pixelBytes(), 0xFF);
  return page;
}

// Pixels from a small palette, chosen by a fixed pseudo-random sequence.
TestPage patternPage(unsigned width, unsigned height, bool colour, uint32_t seed = 7) {
  static const unsigned char colours[][3] = {
      {0xFF, 0xFF, 0xFF}, {0x00, 0x00, 0x00}, {0x20, 0xF0, 0xF0}, {0xF0, 0x30, 0xF0},
      {0xF0, 0xF0, 0x10}, {0x10, 0x10, 0xF0}, {0x7F, 0x80, 0x80}, {0xFF, 0xFF, 0xFF}};
  static const unsigned char grays[] = {0xFF, 0x00, 0x7F, 0x80, 0xC8, 0x32, 0xFF, 0x01};
  TestPage page = whitePage(width, height, colour);
  uint32_t state = seed;
  for (unsigned y = 0; y < height; ++y) {
    for (unsigned x = 0; x < width; ++x) {
      state = state * 1103515245u + 12345u;
      unsigned pick = (state >> 16) & 7;
      if (colour)
        memcpy(page.pixel(x, y), colours[pick], 3);
      else
        *page.pixel(x, y) = grays[pick];
    }
  }
  return page;
}

// The dot the fake engine makes for plane p from raster pixel (x, y); pixels
// beyond the raster line are white.
bool expectedDot(const TestPage& page, int p, unsigned x, unsigned y) {
  if (x >= page.width) return false;
  const unsigned char* px = page.pixel(x, y);
  if (!page.colour) return p == kBlackPlane && px[0] < 128;
  bool black = px[0] < 128 && px[1] < 128 && px[2] < 128;
  if (p == 3) return black;
  return !black && px[p] < 128;
}

bool planeDot(const PlaneBuffers& planes, int p, size_t line, size_t x) {
  return (planes.plane[p][line * planes.bytesPerLine + x / 8] >> (7 - x % 8)) & 1;
}

class TempRaster {
public:
  explicit TempRaster(const TestPage& page, unsigned resolution = 600) {
    char name[] = "/tmp/zeru-raster-XXXXXX";
    fd_ = mkstemp(name);
    EXPECT_GE(fd_, 0);
    unlink(name);

    cups_raster_t* out = cupsRasterOpen(fd_, CUPS_RASTER_WRITE);
    EXPECT_NE(out, nullptr);
    cups_page_header2_t h;
    memset(&h, 0, sizeof h);
    h.HWResolution[0] = h.HWResolution[1] = resolution;
    h.PageSize[0] = 595;
    h.PageSize[1] = 842;
    h.NumCopies = 1;
    h.cupsWidth = page.width;
    h.cupsHeight = page.height;
    h.cupsBitsPerColor = 8;
    h.cupsBitsPerPixel = page.colour ? 24 : 8;
    h.cupsBytesPerLine = page.width * static_cast<unsigned>(page.pixelBytes());
    h.cupsColorOrder = CUPS_ORDER_CHUNKED;
    h.cupsColorSpace = page.colour ? CUPS_CSPACE_RGB : CUPS_CSPACE_SW;
    EXPECT_TRUE(cupsRasterWriteHeader2(out, &h));
    unsigned lines = std::min(page.height, page.writtenLines);
    for (unsigned y = 0; y < lines; ++y)
      cupsRasterWritePixels(out, const_cast<unsigned char*>(page.pixel(0, y)), h.cupsBytesPerLine);
    cupsRasterClose(out);

    lseek(fd_, 0, SEEK_SET);
    raster_ = cupsRasterOpen(fd_, CUPS_RASTER_READ);
    EXPECT_NE(raster_, nullptr);
    EXPECT_TRUE(cupsRasterReadHeader2(raster_, &header_));
  }
  ~TempRaster() {
    if (raster_) cupsRasterClose(raster_);
    if (fd_ >= 0) close(fd_);
  }
  cups_raster_t* raster() { return raster_; }
  const cups_page_header2_t& header() const { return header_; }

private:
  int fd_ = -1;
  cups_raster_t* raster_ = nullptr;
  cups_page_header2_t header_{};
};

// A PPD with the blank-sheet option; the marked choice is given.
class BlankSheetPpd {
public:
  explicit BlankSheetPpd(const char* choice) {
    char name[] = "/tmp/zeru-ppd-XXXXXX";
    int fd = mkstemp(name);
    path_ = name;
    const char* text =
        "*PPD-Adobe: \"4.3\"\n"
        "*FormatVersion: \"4.3\"\n"
        "*FileVersion: \"1.0\"\n"
        "*LanguageVersion: English\n"
        "*LanguageEncoding: ISOLatin1\n"
        "*PCFileName: \"TEST.PPD\"\n"
        "*Manufacturer: \"Test\"\n"
        "*Product: \"(Test)\"\n"
        "*ModelName: \"Test\"\n"
        "*ShortNickName: \"Test\"\n"
        "*NickName: \"Test\"\n"
        "*PSVersion: \"(3010.000) 0\"\n"
        "*ColorDevice: True\n"
        "*OpenUI *AKSaveBlankSheet/Save Blank Sheet: PickOne\n"
        "*DefaultAKSaveBlankSheet: false\n"
        "*AKSaveBlankSheet True/On: \"\"\n"
        "*AKSaveBlankSheet false/Off: \"\"\n"
        "*CloseUI: *AKSaveBlankSheet\n";
    EXPECT_EQ(write(fd, text, strlen(text)), static_cast<ssize_t>(strlen(text)));
    close(fd);
    ppd_ = ppdOpenFile(name);
    EXPECT_NE(ppd_, nullptr);
    ppdMarkDefaults(ppd_);
    ppdMarkOption(ppd_, "AKSaveBlankSheet", choice);
  }
  ~BlankSheetPpd() {
    if (ppd_) ppdClose(ppd_);
    unlink(path_.c_str());
  }
  ppd_file_t* get() { return ppd_; }

private:
  std::string path_;
  ppd_file_t* ppd_ = nullptr;
};

JobSettings settingsFor(const TestPage& page, int lineWidth = 64) {
  JobSettings s;
  s.colorMode = page.colour ? 1 : 0;
  s.lineWidth = lineWidth;
  s.printableWidth = 40;  // 40 * 600 / 4800 + 1 = 6 bytes of a grayscale line
  s.resolution = 600;
  s.tonerMode = 1;
  return s;
}

struct RenderOptions {
  PageLoop loop = PageLoop::Simplex;
  int pageCount = 1;
  ppd_file_t* ppd = nullptr;
  unsigned workerMask = 0xF;
  bool late = false;
  bool silent = false;
  int placementWaitMs = 3000;
  std::function<void()> afterScreenThreads;
};

struct Rendered {
  RenderResult result = RenderResult::Ok;
  PlaneBuffers planes;
  bool hasContent = false;
};

class Rasterize : public testing::Test {
protected:
  void SetUp() override { engine = &fake_; }
  void TearDown() override { engine = nullptr; }

  Rendered render(const TestPage& page, JobSettings settings, const RenderOptions& options = {}) {
    TempRaster raster(page);
    return renderFrom(raster.raster(), raster.header(), settings, options);
  }

  Rendered renderFrom(cups_raster_t* raster, const cups_page_header2_t& header,
                      JobSettings& settings, const RenderOptions& options) {
    resetFake();
    fake_.late = options.late;
    fake_.silent = options.silent;
    library_ = fakeLibrary();
    PageRenderRequest request;
    request.library = &library_;
    const zeru::PageHeader page = zeru::pageHeaderFrom(header);
    request.raster = raster;
    request.header = &page;
    request.ppd = options.ppd;
    request.settings = &settings;
    request.loop = options.loop;
    request.pageCount = options.pageCount;
    request.modelPath = "/Library/Printers/ZEMRO/lib/ZEMRO TX 7M";
    request.afterScreenThreads = options.afterScreenThreads;
    request.lineWorkerMask = options.workerMask;
    request.placementWaitMs = options.placementWaitMs;
    Rendered out;
    out.result = renderPage(request, out.planes, out.hasContent);
    return out;
  }

  // Every page starts with a fresh engine; the refusals set by a test stay.
  void resetFake() {
    fake_.initialised = 0;
    fake_.zarvelCalls = 0;
    fake_.calls.clear();
    for (FakeInstance& in : fake_.instance) {
      in.lineNumbers.clear();
      in.pending.clear();
      in.hasPending = false;
      in.badArguments = false;
      in.overlapped = false;
      in.ended = 0;
    }
  }

  FakeEngine fake_;
  EngineLibrary library_;
};

// Compares every dot of the planes with what the engine makes of the raster.
void expectColourPlanes(const TestPage& page, const PlaneBuffers& planes, bool turned) {
  ASSERT_EQ(planes.planeCount, 4);
  size_t lines = planes.lines;
  size_t width = static_cast<size_t>(planes.lineWidth);
  int mismatches = 0;
  for (int p = 0; p < 4; ++p) {
    for (size_t y = 0; y < lines; ++y) {
      for (size_t x = 0; x < width; ++x) {
        bool want = expectedDot(page, p, static_cast<unsigned>(x), static_cast<unsigned>(y));
        bool got = turned ? planeDot(planes, p, lines - 1 - y, width - 1 - x) : planeDot(planes, p, y, x);
        if (want != got && ++mismatches <= 5)
          ADD_FAILURE() << "plane " << p << " raster dot " << x << " of line " << y;
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
}

void expectGrayPlane(const TestPage& page, const PlaneBuffers& planes, size_t printableBytes,
                     bool turned) {
  ASSERT_EQ(planes.planeCount, 1);
  for (int p = 0; p < 3; ++p) EXPECT_TRUE(planes.plane[p].empty()) << p;
  size_t lines = planes.lines;
  size_t kept = printableBytes * 8;
  int mismatches = 0;
  for (size_t line = 0; line < lines; ++line) {
    size_t y = turned ? lines - 1 - line : line;
    for (size_t d = 0; d < static_cast<size_t>(planes.lineWidth); ++d) {
      bool want = false;
      if (d < kept) {
        size_t x = turned ? kept - 1 - d : d;
        want = expectedDot(page, kBlackPlane, static_cast<unsigned>(x), static_cast<unsigned>(y));
      }
      if (want != planeDot(planes, kBlackPlane, line, d) && ++mismatches <= 5)
        ADD_FAILURE() << "plane dot " << d << " of plane line " << line;
    }
  }
  EXPECT_EQ(mismatches, 0);
}

std::string readLog() {
  std::ifstream in(kLogPath);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

size_t countOf(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

}  // namespace

// ---- Pure rules ----

TEST(RasterizeRules, SimplexTurnsPagesWithImageRotationOnly) {
  EXPECT_FALSE(backwardFillFor(PageLoop::Simplex, 0, 0, 1));
  EXPECT_TRUE(backwardFillFor(PageLoop::Simplex, 1, 0, 1));
  EXPECT_TRUE(backwardFillFor(PageLoop::Simplex, 1, 0, 2));
}

TEST(RasterizeRules, DuplexTurnsPagesByModeRotationAndParity) {
  struct Case {
    int rotate180, duplexMode, pageCount;
    bool turned;
  };
  const Case cases[] = {
      {0, 1, 1, true},  {0, 1, 2, false}, {0, 1, 3, true},  // long edge: odd pages
      {1, 1, 1, false}, {1, 1, 2, true},                    // rotated: even pages
      {0, 2, 1, false}, {0, 2, 2, false},                   // short edge: none
      {1, 2, 1, true},  {1, 2, 2, true},                    // short edge rotated: all
  };
  for (const Case& c : cases)
    EXPECT_EQ(backwardFillFor(PageLoop::Duplex, c.rotate180, c.duplexMode, c.pageCount), c.turned)
        << c.rotate180 << " " << c.duplexMode << " " << c.pageCount;
}

TEST(RasterizeRules, PrintableBytesFromPrintableWidthAndResolution) {
  EXPECT_EQ(printableBytesFor(4760, 600, 640), 596u);    // A4
  EXPECT_EQ(printableBytesFor(4760, 1200, 1280), 1191u);  // A4, every instance alike
  EXPECT_EQ(printableBytesFor(4902, 1200, 1280), 1226u);  // Letter
  EXPECT_EQ(printableBytesFor(4760, 600, 100), 100u);     // never beyond the line
  EXPECT_EQ(printableBytesFor(0, 600, 8), 1u);
}

TEST(PlaneBufferAllocation, ColourPageHasFourZeroPlanes) {
  PlaneBuffers planes;
  ASSERT_TRUE(allocatePlaneBuffers(planes, 1, 10240, 3));
  EXPECT_EQ(planes.planeCount, 4);
  EXPECT_EQ(planes.bytesPerLine, 1280u);
  for (int p = 0; p < 4; ++p) {
    EXPECT_EQ(planes.plane[p].size(), 3840u);
    EXPECT_EQ(std::count(planes.plane[p].begin(), planes.plane[p].end(), 0), 3840);
    EXPECT_EQ(planes.compressedLength[p], 0u);
  }
}

TEST(PlaneBufferAllocation, GrayscalePageHasTheBlackPlaneOnly) {
  PlaneBuffers planes;
  ASSERT_TRUE(allocatePlaneBuffers(planes, 1, 64, 2));
  ASSERT_TRUE(allocatePlaneBuffers(planes, 0, 512, 5));
  EXPECT_EQ(planes.planeCount, 1);
  EXPECT_EQ(planes.plane[kBlackPlane].size(), 320u);
  for (int p = 0; p < 3; ++p) EXPECT_TRUE(planes.plane[p].empty());
  EXPECT_TRUE(planes.usesPlane(kBlackPlane));
  EXPECT_FALSE(planes.usesPlane(0));
}

TEST(PlaneBufferAllocation, OverflowingSizeIsRefused) {
  PlaneBuffers planes;
  EXPECT_FALSE(allocatePlaneBuffers(planes, 1, INT_MAX, SIZE_MAX / 4));
  EXPECT_FALSE(allocatePlaneBuffers(planes, 1, -8, 10));
}

// ---- Placement ----

TEST_F(Rasterize, ColourDotsLandOnTheSamePlaneDots) {
  TestPage page = patternPage(64, 301, true);
  Rendered out = render(page, settingsFor(page));
  ASSERT_EQ(out.result, RenderResult::Ok);
  EXPECT_TRUE(out.hasContent);
  expectColourPlanes(page, out.planes, false);
}

TEST_F(Rasterize, TurnedColourPageMirrorsDotsAndLines) {
  TestPage page = patternPage(64, 301, true);
  JobSettings settings = settingsFor(page);
  settings.rotate180 = 1;
  Rendered out = render(page, settings);
  ASSERT_EQ(out.result, RenderResult::Ok);
  expectColourPlanes(page, out.planes, true);
}

TEST_F(Rasterize, ImageRotationReadDuringSetUpTurnsThePage) {
  TestPage page = patternPage(64, 9, true);
  TempRaster raster(page);
  JobSettings settings = settingsFor(page);
  RenderOptions options;
  options.afterScreenThreads = [&settings] { settings.rotate180 = 1; };
  Rendered out = renderFrom(raster.raster(), raster.header(), settings, options);
  expectColourPlanes(page, out.planes, true);
}

TEST_F(Rasterize, LineCountsNotAMultipleOfFourStillMapEveryLine) {
  for (unsigned height : {1u, 2u, 3u, 5u, 7u}) {
    TestPage page = patternPage(64, height, true, height);
    Rendered forward = render(page, settingsFor(page));
    expectColourPlanes(page, forward.planes, false);
    JobSettings turned = settingsFor(page);
    turned.rotate180 = 1;
    Rendered backward = render(page, turned);
    expectColourPlanes(page, backward.planes, true);
  }
}

TEST_F(Rasterize, GrayscaleLinesAreCutToPrintableBytes) {
  TestPage page = patternPage(64, 301, false);
  Rendered out = render(page, settingsFor(page));
  ASSERT_EQ(out.result, RenderResult::Ok);
  expectGrayPlane(page, out.planes, 6, false);
}

TEST_F(Rasterize, GrayscaleLinesAreCutAtThePagesOwnResolution) {
  // A 1200 dpi page in a job that asks for 600 dpi: 40 * 1200 / 4800 + 1 =
  // 11 bytes are kept, not the 6 of 600 dpi.
  TestPage page = patternPage(128, 9, false);
  JobSettings settings = settingsFor(page, 128);
  TempRaster raster(page, 1200);
  Rendered out = renderFrom(raster.raster(), raster.header(), settings, {});
  ASSERT_EQ(out.result, RenderResult::Ok);
  expectGrayPlane(page, out.planes, 11, false);
}

TEST_F(Rasterize, TurnedGrayscaleKeepsTheLeftmostDotsFromTheLineStart) {
  TestPage page = patternPage(64, 7, false);
  JobSettings settings = settingsFor(page);
  settings.rotate180 = 1;
  Rendered out = render(page, settings);
  expectGrayPlane(page, out.planes, 6, true);
}

TEST_F(Rasterize, DuplexLongEdgeTurnsOddPagesOnly) {
  TestPage page = patternPage(64, 11, true);
  JobSettings settings = settingsFor(page);
  settings.duplexMode = 1;
  RenderOptions options;
  options.loop = PageLoop::Duplex;
  options.pageCount = 3;
  expectColourPlanes(page, render(page, settings, options).planes, true);
  options.pageCount = 4;
  expectColourPlanes(page, render(page, settings, options).planes, false);
}

TEST_F(Rasterize, ShortRasterLinesAreWhiteBeyondTheirEnd) {
  TestPage page = patternPage(40, 9, true);
  Rendered out = render(page, settingsFor(page, 64));
  expectColourPlanes(page, out.planes, false);
}

TEST_F(Rasterize, LongRasterLinesAreReadWholeAndCut) {
  // Dots beyond the device line must neither overflow anything nor shift the
  // lines that follow.
  TestPage page = patternPage(100, 13, true);
  Rendered out = render(page, settingsFor(page, 64));
  ASSERT_EQ(out.result, RenderResult::Ok);
  TestPage cut = whitePage(64, 13, true);
  for (unsigned y = 0; y < 13; ++y) memcpy(cut.pixel(0, y), page.pixel(0, y), 64 * 3);
  expectColourPlanes(cut, out.planes, false);
}

// ---- Engine use ----

TEST_F(Rasterize, EachInstanceGetsItsLinesInOrderOneAtATime) {
  TestPage page = patternPage(64, 301, true);
  Rendered out = render(page, settingsFor(page));
  for (int k = 0; k < 4; ++k) {
    const FakeInstance& in = fake_.instance[k];
    size_t expectedLines = (301 - k + 3) / 4;
    ASSERT_EQ(in.lineNumbers.size(), expectedLines) << k;
    for (size_t n = 0; n < expectedLines; ++n) EXPECT_EQ(in.lineNumbers[n], static_cast<int>(n));
    EXPECT_FALSE(in.overlapped) << k;
    EXPECT_FALSE(in.badArguments) << k;
    EXPECT_EQ(in.ended, 1);
  }
  const std::vector<std::string> expected = {
      "Init", "Init", "Init", "Init", "StartAdjustJob", "StartAdjustJob", "StartAdjustJob",
      "StartAdjustJob", "Create", "Create", "Create", "Create", "UpdateScreenThread",
      "UpdateScreenThread", "UpdateScreenThread", "UpdateScreenThread", "UpdateScreenTonerTRC",
      "UpdateScreenTonerTRC", "UpdateScreenTonerTRC", "UpdateScreenTonerTRC", "End", "End", "End",
      "End"};
  EXPECT_EQ(fake_.calls, expected);
}

TEST_F(Rasterize, LateEngineYieldsTheSamePlanes) {
  for (bool turned : {false, true}) {
    TestPage page = patternPage(64, 37, true, 11);
    JobSettings settings = settingsFor(page);
    settings.rotate180 = turned;
    RenderOptions options;
    options.late = true;
    options.placementWaitMs = 0;  // the owed lines come with EndZARVEL
    Rendered out = render(page, settings, options);
    expectColourPlanes(page, out.planes, turned);
  }
}

TEST_F(Rasterize, EngineThatOwesLinesStillEndsThePage) {
  TestPage page = patternPage(64, 9, true);
  RenderOptions options;
  options.silent = true;
  options.placementWaitMs = 0;
  Rendered out = render(page, settingsFor(page), options);
  ASSERT_EQ(out.result, RenderResult::Ok);
  for (int p = 0; p < 4; ++p)
    EXPECT_EQ(std::count(out.planes.plane[p].begin(), out.planes.plane[p].end(), 0), 9 * 8);
  EXPECT_EQ(std::count(fake_.calls.begin(), fake_.calls.end(), "End"), 4);
}

TEST_F(Rasterize, LinesConvertedOnThePageThreadWhenWorkersAreMissing) {
  TestPage page = patternPage(64, 23, true);
  for (unsigned mask : {0x0u, 0x5u, 0xEu}) {
    JobSettings settings = settingsFor(page);
    settings.rotate180 = mask == 0x5u;
    RenderOptions options;
    options.workerMask = mask;
    Rendered out = render(page, settings, options);
    ASSERT_EQ(out.result, RenderResult::Ok);
    expectColourPlanes(page, out.planes, settings.rotate180 != 0);
  }
}

TEST_F(Rasterize, RefusedInstanceRefusesThePage) {
  TestPage page = patternPage(64, 8, true);
  fake_.refuseInitOf = 3;
  EXPECT_EQ(render(page, settingsFor(page)).result, RenderResult::EngineRefused);
  EXPECT_EQ(fake_.zarvelCalls.load(), 0);
}

TEST_F(Rasterize, RefusedScreenThreadRefusesThePage) {
  TestPage page = patternPage(64, 8, true);
  fake_.refuseScreenThreadOf = 0;
  EXPECT_EQ(render(page, settingsFor(page)).result, RenderResult::EngineRefused);
  EXPECT_EQ(fake_.zarvelCalls.load(), 0);
}

TEST_F(Rasterize, LibraryWithoutAnEntryPointConvertsNothing) {
  TestPage page = patternPage(64, 8, true);
  TempRaster raster(page);
  JobSettings settings = settingsFor(page);
  EngineLibrary library = fakeLibrary();
  library.pfEndZARVEL = nullptr;
  PageRenderRequest request;
  request.library = &library;
  const zeru::PageHeader header = zeru::pageHeaderFrom(raster.header());
  request.raster = raster.raster();
  request.header = &header;
  request.settings = &settings;
  PlaneBuffers planes;
  bool hasContent = true;
  EXPECT_EQ(renderPage(request, planes, hasContent), RenderResult::EngineRefused);
  EXPECT_FALSE(hasContent);
  EXPECT_TRUE(fake_.calls.empty());
}

// ---- Blank pages ----

TEST_F(Rasterize, WhitePageWithBlankSheetSavingHasNoContent) {
  BlankSheetPpd ppd("True");
  for (bool colour : {true, false}) {
    TestPage page = whitePage(64, 21, colour);
    RenderOptions options;
    options.ppd = ppd.get();
    Rendered out = render(page, settingsFor(page), options);
    ASSERT_EQ(out.result, RenderResult::Ok);
    EXPECT_FALSE(out.hasContent) << colour;
  }
}

TEST_F(Rasterize, WhitePageWithoutBlankSheetSavingIsKept) {
  BlankSheetPpd ppd("false");
  TestPage page = whitePage(64, 21, true);
  RenderOptions options;
  options.ppd = ppd.get();
  EXPECT_TRUE(render(page, settingsFor(page), options).hasContent);
  options.ppd = nullptr;
  EXPECT_TRUE(render(page, settingsFor(page), options).hasContent);
}

TEST_F(Rasterize, SingleDarkPixelKeepsThePage) {
  BlankSheetPpd ppd("True");
  struct Spot {
    unsigned x, y;
    int channel;
  };
  for (Spot spot : {Spot{63, 20, 2}, Spot{0, 0, 0}, Spot{17, 9, 1}}) {
    TestPage page = whitePage(64, 21, true);
    page.pixel(spot.x, spot.y)[spot.channel] = 0xFE;
    RenderOptions options;
    options.ppd = ppd.get();
    EXPECT_TRUE(render(page, settingsFor(page), options).hasContent) << spot.x << "," << spot.y;
  }
  TestPage gray = whitePage(64, 6, false);
  *gray.pixel(63, 5) = 0;
  RenderOptions options;
  options.ppd = ppd.get();
  EXPECT_TRUE(render(gray, settingsFor(gray), options).hasContent);
}

TEST_F(Rasterize, PixelsBeyondTheDeviceLineDoNotKeepAPage) {
  BlankSheetPpd ppd("True");
  TestPage page = whitePage(80, 6, true);
  memset(page.pixel(70, 3), 0, 3);
  RenderOptions options;
  options.ppd = ppd.get();
  EXPECT_FALSE(render(page, settingsFor(page, 64), options).hasContent);
}

TEST_F(Rasterize, PageWithoutLinesHasNoContentAndConvertsNothing) {
  cups_page_header2_t header;
  memset(&header, 0, sizeof header);
  header.HWResolution[0] = header.HWResolution[1] = 600;
  header.cupsBitsPerPixel = 24;
  header.cupsBytesPerLine = 192;
  TestPage page = whitePage(64, 0, true);
  JobSettings settings = settingsFor(page);
  Rendered out = renderFrom(nullptr, header, settings, {});
  ASSERT_EQ(out.result, RenderResult::Ok);
  EXPECT_FALSE(out.hasContent);
  EXPECT_EQ(fake_.zarvelCalls.load(), 0);
  EXPECT_EQ(std::count(fake_.calls.begin(), fake_.calls.end(), "End"), 4);
}

// ---- Progress, log and failures ----

TEST_F(Rasterize, ProgressEvery128LinesOnStandardErrorForLogAndScheduler) {
  TestPage page = patternPage(64, 300, false);
  RenderOptions options;
  options.pageCount = 3;
  testing::internal::CaptureStderr();
  render(page, settingsFor(page), options);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "INFO: Printing page 3, 0% complete...\n"
            "ATTR: job-media-progress=0\n"
            "INFO: Printing page 3, 42% complete...\n"
            "ATTR: job-media-progress=42\n"
            "INFO: Printing page 3, 85% complete...\n"
            "ATTR: job-media-progress=85\n");
}

TEST_F(Rasterize, DuplexProgressSaysProcessingAndLogsEveryLine) {
  TestPage page = patternPage(64, 130, false);
  RenderOptions options;
  options.loop = PageLoop::Duplex;
  options.pageCount = 2;
  logTruncate();
  testing::internal::CaptureStderr();
  render(page, settingsFor(page), options);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "INFO: Processing page 2, 0% complete...\n"
            "ATTR: job-media-progress=0\n"
            "INFO: Processing page 2, 98% complete...\n"
            "ATTR: job-media-progress=98\n");
  EXPECT_EQ(countOf(readLog(), "INFO: cupsRasterReadPixels ok...\n"), 130u);
}

TEST_F(Rasterize, UnreadableLinesAreLoggedAndThePageGoesOn) {
  TestPage page = patternPage(64, 8, true);
  page.writtenLines = 5;
  logTruncate();
  Rendered out = render(page, settingsFor(page));
  ASSERT_EQ(out.result, RenderResult::Ok);
  EXPECT_EQ(countOf(readLog(), "ERROR: Unable read raster data!\n"), 3u);
  EXPECT_EQ(fake_.zarvelCalls.load(), 8);
  // The lines that were read are in place.
  TestPage head = page;
  head.height = 5;
  PlaneBuffers firstLines = out.planes;
  firstLines.lines = 5;
  expectColourPlanes(head, firstLines, false);
}

TEST_F(Rasterize, PageTooLargeForMemoryIsAnAllocationFailure) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "sanitizer allocators abort on such requests instead of failing them";
#endif
  cups_page_header2_t header;
  memset(&header, 0, sizeof header);
  header.HWResolution[0] = header.HWResolution[1] = 600;
  header.cupsHeight = 0xFFFFFFFFu;
  header.cupsBitsPerPixel = 24;
  TestPage page = whitePage(64, 0, true);
  JobSettings settings = settingsFor(page, 1 << 30);
  Rendered out = renderFrom(nullptr, header, settings, {});
  EXPECT_EQ(out.result, RenderResult::AllocationFailed);
  EXPECT_TRUE(fake_.calls.empty());
}
