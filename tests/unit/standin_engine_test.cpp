// The stand-in colour library, driven through its entry points after dlopen,
// the way the filter drives it: set-up block, adjust record, thread phase,
// toner curve, one ZARVEL call per line, and the converted line handed back
// through the instance's argument-less callbacks.
#include <dlfcn.h>

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "imaging/engine_abi.h"
#include "imaging/engine_loader.h"

namespace {

// ---------------------------------------------------------------------------
// The library and its entry points.

using Engine = EngineLibrary;

// Loaded through the filter's own loader, from the built file.
const Engine& engine() {
  static const Engine loaded = [] {
    Engine e;
    const char* path = ZERU_STANDIN_ENGINE;
    loadEngineLibraryFrom(&path, 1, e);
    return e;
  }();
  return loaded;
}

// ---------------------------------------------------------------------------
// Per-instance sinks behind argument-less callbacks, as the filter binds them.
// Sink k is touched only by the thread that drives instance k.

constexpr size_t kGuardBytes = 64;
constexpr uint8_t kGuard = 0xA5;

struct Sink {
  size_t lineBytes = 0;
  std::vector<uint8_t> buffer;                // lineBytes + guard
  std::vector<std::vector<uint8_t>> lines;    // every line handed back, in order
  int readyCalls = 0;

  void reset(size_t bytes) {
    lineBytes = bytes;
    buffer.assign(bytes + kGuardBytes, kGuard);
    lines.clear();
    readyCalls = 0;
  }
  bool guardIntact() const {
    for (size_t i = lineBytes; i < buffer.size(); ++i) {
      if (buffer[i] != kGuard) return false;
    }
    return true;
  }
};

constexpr int kSinks = 4;
Sink sinks[kSinks];

template <int S>
unsigned char* getOutputLineOf() {
  return sinks[S].buffer.data();
}

template <int S>
int lineReadyOf() {
  Sink& sink = sinks[S];
  ++sink.readyCalls;
  sink.lines.emplace_back(sink.buffer.begin(), sink.buffer.begin() + static_cast<long>(sink.lineBytes));
  return 0;
}

constexpr GetOutputLineFn kGetOutputLine[kSinks] = {getOutputLineOf<0>, getOutputLineOf<1>, getOutputLineOf<2>,
                                                    getOutputLineOf<3>};
constexpr LineReadyFn kLineReady[kSinks] = {lineReadyOf<0>, lineReadyOf<1>, lineReadyOf<2>, lineReadyOf<3>};

// ---------------------------------------------------------------------------
// Set-up blocks and pages.

enum : uint32_t { kStandard = 0, kFineness = 0x200, kGradation = 0x300 };

struct PageOptions {
  bool colour = true;
  uint32_t lineWidth = 256;
  int dpi = 600;
  uint32_t screenMode = kStandard;
  bool grayGuarantee = false;
  int tonerMode = 0;
  AdjustRecord adjust{};
};

// The set-up block as the filter builds it for one instance.
EngineSetup makeSetup(const PageOptions& options, int sink) {
  EngineSetup setup;
  std::memset(&setup, 0, sizeof setup);
  setup.getOutputLine = kGetOutputLine[sink];
  setup.lineReady = kLineReady[sink];
  setup.renderFlags = kRenderNormal | (options.grayGuarantee ? kRenderGrayGuarantee : 0u);
  setup.lineWidth = options.lineWidth;
  setup.scaleX = 10000;
  setup.scaleY = 10000;
  setup.imageType = 0;
  setup.screenWord = (options.dpi == 1200 ? 0x401u : 0x101u) | options.screenMode;
  setup.resolutionWord = options.dpi == 600 ? 12 : 24;
  setup.colourLayout = options.colour ? 2 : 1;
  setup.planeLayout = options.colour ? 4 : 9;
  setup.one58 = 1;
  setup.one59 = 1;
  setup.channelWord = options.colour ? 2222 : 2;
  setup.modeWord = options.colour ? 2 : 0;
  return setup;
}

struct Page {
  bool colour = true;
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> pixels;  // RGB or gray, white 0xFF

  size_t lineBytes() const { return static_cast<size_t>(width) * (colour ? 3 : 1); }
  uint8_t* line(uint32_t y) { return pixels.data() + y * lineBytes(); }
};

Page flatPage(const PageOptions& options, uint32_t height, std::array<uint8_t, 3> rgb) {
  Page page{options.colour, options.lineWidth, height, {}};
  page.pixels.resize(page.lineBytes() * height);
  for (size_t i = 0; i < page.pixels.size(); ++i) page.pixels[i] = options.colour ? rgb[i % 3] : rgb[0];
  return page;
}

// Gradients, coloured patches and noise: every code path of the conversion.
Page busyPage(const PageOptions& options, uint32_t height) {
  Page page{options.colour, options.lineWidth, height, {}};
  page.pixels.resize(page.lineBytes() * height);
  uint32_t noise = 12345;
  for (uint32_t y = 0; y < height; ++y) {
    uint8_t* line = page.line(y);
    for (uint32_t x = 0; x < page.width; ++x) {
      noise = noise * 1103515245u + 12345u;
      const uint8_t ramp = static_cast<uint8_t>(x * 255 / page.width);
      if (!options.colour) {
        line[x] = (y / 16) % 2 ? ramp : static_cast<uint8_t>(noise >> 24);
        continue;
      }
      uint8_t* p = line + 3 * x;
      switch ((y / 8) % 4) {
        case 0: p[0] = p[1] = p[2] = ramp; break;
        case 1: p[0] = ramp; p[1] = static_cast<uint8_t>(255 - ramp); p[2] = 128; break;
        case 2: p[0] = static_cast<uint8_t>(noise >> 24); p[1] = static_cast<uint8_t>(noise >> 16); p[2] = static_cast<uint8_t>(noise >> 8); break;
        default: p[0] = p[1] = p[2] = 0xFF; break;
      }
    }
  }
  return page;
}

struct Planes {
  size_t bytesPerLine = 0;
  uint32_t lines = 0;
  std::vector<std::vector<uint8_t>> plane;  // C, M, Y, K on colour pages; K alone on gray pages

  double coverage(int p) const {
    size_t dots = 0;
    for (uint8_t byte : plane[p]) dots += static_cast<size_t>(std::popcount(byte));
    return static_cast<double>(dots) / (plane[p].size() * 8.0);
  }
  double black() const { return coverage(static_cast<int>(plane.size()) - 1); }
};

// Prepares `count` instances in the filter's order and returns their handles.
std::vector<int> prepareInstances(const PageOptions& options, int count) {
  const Engine& e = engine();
  std::vector<int> handles;
  for (int k = 0; k < count; ++k) {
    EngineSetup setup = makeSetup(options, k);
    handles.push_back(e.pfInitZARVEL(&setup));
    EXPECT_GE(handles.back(), 0);
    sinks[k].reset(options.lineWidth / 8 * (options.colour ? 4 : 1));
  }
  for (int k = 0; k < count; ++k) {
    AdjustRecord adjust = options.adjust;
    e.pfStartAdjustJob(handles[k], &adjust);
  }
  for (int k = 0; k < count; ++k) e.pfCreateZARVEL(handles[k]);
  for (int k = 0; k < count; ++k) EXPECT_EQ(e.pfUpdateScreenThread(handles[k], count, k), 0);
  for (int k = 0; k < count; ++k) e.pfUpdateScreenTonerTRC(handles[k], options.tonerMode, 0);
  return handles;
}

// Feeds instance k its lines y = k, k + count, ... in order.
void feedInstance(int handle, Page& page, int k, int count) {
  int n = 0;
  for (uint32_t y = static_cast<uint32_t>(k); y < page.height; y += static_cast<uint32_t>(count), ++n) {
    engine().pfZARVEL(handle, page.line(y), nullptr, 1, n);
  }
}

Planes assemble(const PageOptions& options, const Page& page, int count) {
  Planes planes;
  planes.bytesPerLine = options.lineWidth / 8;
  planes.lines = page.height;
  const int planeCount = options.colour ? 4 : 1;
  planes.plane.assign(planeCount, std::vector<uint8_t>(planes.bytesPerLine * page.height));
  for (int k = 0; k < count; ++k) {
    const Sink& sink = sinks[k];
    for (size_t n = 0; n < sink.lines.size(); ++n) {
      const size_t y = n * count + k;
      for (int p = 0; p < planeCount; ++p) {
        std::memcpy(planes.plane[p].data() + y * planes.bytesPerLine, sink.lines[n].data() + p * planes.bytesPerLine,
                    planes.bytesPerLine);
      }
    }
  }
  return planes;
}

// Converts a page with `count` instances, one after another or on a thread each.
Planes convertPage(const PageOptions& options, Page page, int count = 1, bool parallel = false) {
  const std::vector<int> handles = prepareInstances(options, count);
  if (parallel) {
    std::vector<std::thread> workers;
    for (int k = 0; k < count; ++k) workers.emplace_back(feedInstance, handles[k], std::ref(page), k, count);
    for (auto& worker : workers) worker.join();
  } else {
    // Round-robin, line by line, as the filter's line loop hands them out.
    std::vector<int> next(count, 0);
    for (uint32_t y = 0; y < page.height; ++y) {
      const int k = static_cast<int>(y % count);
      engine().pfZARVEL(handles[k], page.line(y), nullptr, 1, next[k]++);
    }
  }
  for (int handle : handles) engine().pfEndZARVEL(handle);
  for (int k = 0; k < count; ++k) EXPECT_TRUE(sinks[k].guardIntact()) << "instance " << k << " wrote past its line";
  return assemble(options, page, count);
}

Planes convertFlat(const PageOptions& options, std::array<uint8_t, 3> rgb, uint32_t height = 96) {
  return convertPage(options, flatPage(options, height, rgb));
}

PageOptions grayOptions(int dpi = 600) {
  PageOptions options;
  options.colour = false;
  options.dpi = dpi;
  return options;
}

class StandinEngine : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(engine().handle, nullptr) << dlerror(); }
};

// ---------------------------------------------------------------------------
// Entry points and set-up blocks.

using StandinEngineSetup = StandinEngine;

TEST_F(StandinEngineSetup, ExportsAllNineEntryPoints) {
  const Engine& e = engine();
  EXPECT_NE(e.pfZARVEL, nullptr);
  EXPECT_NE(e.pfInitZARVEL, nullptr);
  EXPECT_NE(e.pfCreateZARVEL, nullptr);
  EXPECT_NE(e.pfEndZARVEL, nullptr);
  EXPECT_NE(e.pfStartColorAdjust, nullptr);
  EXPECT_NE(e.pfStartAdjustJob, nullptr);
  EXPECT_NE(e.pfUpdateScreenThread, nullptr);
  EXPECT_NE(e.pfUpdateScreenTRC, nullptr);
  EXPECT_NE(e.pfUpdateScreenTonerTRC, nullptr);
}

TEST_F(StandinEngineSetup, MalformedBlocksGetANegativeHandle) {
  const Engine& e = engine();
  EXPECT_LT(e.pfInitZARVEL(nullptr), 0);

  struct Case {
    const char* what;
    std::function<void(EngineSetup&)> spoil;
  };
  const Case cases[] = {
      {"no getOutputLine", [](EngineSetup& s) { s.getOutputLine = nullptr; }},
      {"no lineReady", [](EngineSetup& s) { s.lineReady = nullptr; }},
      {"zero width", [](EngineSetup& s) { s.lineWidth = 0; }},
      {"width not a multiple of 8", [](EngineSetup& s) { s.lineWidth = 4761; }},
      {"absurd width", [](EngineSetup& s) { s.lineWidth = 0x7FFFFFF8; }},
      {"unknown plane layout", [](EngineSetup& s) { s.planeLayout = 5; }},
      {"colour layout with grayscale planes", [](EngineSetup& s) { s.planeLayout = 9; }},
      {"grayscale layout with colour planes", [](EngineSetup& s) { s.colourLayout = 1; }},
      {"zeroed layouts", [](EngineSetup& s) { s.colourLayout = 0; s.planeLayout = 0; }},
      {"unknown screen word", [](EngineSetup& s) { s.screenWord = 0x202; }},
      {"screen word without resolution", [](EngineSetup& s) { s.screenWord = 0; }},
      {"unknown resolution word", [](EngineSetup& s) { s.resolutionWord = 7; }},
      {"unknown render flags", [](EngineSetup& s) { s.renderFlags = 0x99; }},
      {"scaled lines", [](EngineSetup& s) { s.scaleX = 5000; }},
  };
  for (const Case& c : cases) {
    EngineSetup setup = makeSetup(PageOptions{}, 0);
    c.spoil(setup);
    const int handle = e.pfInitZARVEL(&setup);
    EXPECT_LT(handle, 0) << c.what;
    if (handle >= 0) e.pfEndZARVEL(handle);
  }
}

TEST_F(StandinEngineSetup, EveryBlockTheFilterBuildsIsAccepted) {
  const Engine& e = engine();
  for (bool colour : {true, false}) {
    for (int dpi : {600, 1200}) {
      for (uint32_t mode : {kStandard, kFineness, kGradation}) {
        for (bool guarantee : {false, true}) {
          PageOptions options;
          options.colour = colour;
          options.dpi = dpi;
          options.screenMode = mode;
          options.grayGuarantee = guarantee;
          options.lineWidth = dpi == 600 ? 5120 : 10240;
          EngineSetup setup = makeSetup(options, 0);
          const int handle = e.pfInitZARVEL(&setup);
          EXPECT_GE(handle, 0) << colour << " " << dpi << " " << mode << " " << guarantee;
          if (handle >= 0) {
            EXPECT_EQ(e.pfEndZARVEL(handle), 0);
          }
        }
      }
    }
  }
  // Complementary rendering and a model path are accepted too.
  EngineSetup setup = makeSetup(PageOptions{}, 0);
  setup.renderFlags = kRenderComplementary | kRenderGrayGuarantee;
  setup.modelPath = "/Library/Printers/ZEMRO/lib/ZEMRO TX 7M";
  const int handle = e.pfInitZARVEL(&setup);
  EXPECT_GE(handle, 0);
  e.pfEndZARVEL(handle);
}

TEST_F(StandinEngineSetup, ThreadIndexOutsideTheCountIsRefused) {
  const Engine& e = engine();
  EngineSetup setup = makeSetup(PageOptions{}, 0);
  const int handle = e.pfInitZARVEL(&setup);
  ASSERT_GE(handle, 0);
  EXPECT_LT(e.pfUpdateScreenThread(handle, 4, 4), 0);
  EXPECT_LT(e.pfUpdateScreenThread(handle, 4, -1), 0);
  EXPECT_LT(e.pfUpdateScreenThread(handle, 0, 0), 0);
  for (int k = 0; k < 4; ++k) EXPECT_EQ(e.pfUpdateScreenThread(handle, 4, k), 0);
  EXPECT_LT(e.pfUpdateScreenThread(-1, 4, 0), 0);
  e.pfEndZARVEL(handle);
}

TEST_F(StandinEngineSetup, EndedHandleIsRefusedAndThenReused) {
  const Engine& e = engine();
  PageOptions options;
  EngineSetup setup = makeSetup(options, 0);
  sinks[0].reset(options.lineWidth / 8 * 4);
  const int handle = e.pfInitZARVEL(&setup);
  ASSERT_GE(handle, 0);
  EXPECT_EQ(e.pfEndZARVEL(handle), 0);

  Page page = flatPage(options, 1, {0, 0, 0});
  EXPECT_LT(e.pfZARVEL(handle, page.line(0), nullptr, 1, 0), 0);
  EXPECT_EQ(sinks[0].readyCalls, 0);
  EXPECT_LT(e.pfEndZARVEL(handle), 0);
  EXPECT_LT(e.pfUpdateScreenTonerTRC(handle, 1, 0), 0);

  const int again = e.pfInitZARVEL(&setup);
  EXPECT_EQ(again, handle);
  e.pfEndZARVEL(again);
}

TEST_F(StandinEngineSetup, UnusedEntryPointsAreHarmless) {
  const Engine& e = engine();
  PageOptions options;
  const std::vector<int> handles = prepareInstances(options, 1);
  EXPECT_EQ(e.pfStartColorAdjust(handles[0], nullptr), 0);
  EXPECT_EQ(e.pfUpdateScreenTRC(handles[0], 0, 0), 0);
  Page page = flatPage(options, 4, {0, 0, 0});
  feedInstance(handles[0], page, 0, 1);
  e.pfEndZARVEL(handles[0]);
  ASSERT_EQ(sinks[0].lines.size(), 4u);
  EXPECT_EQ(sinks[0].lines[0][options.lineWidth / 8 * 3], 0xFF);
}

TEST_F(StandinEngineSetup, EachLineIsHandedBackOnceBeforeZARVELReturns) {
  const Engine& e = engine();
  for (bool colour : {true, false}) {
    PageOptions options;
    options.colour = colour;
    const std::vector<int> handles = prepareInstances(options, 1);
    Page page = busyPage(options, 12);
    for (uint32_t y = 0; y < page.height; ++y) {
      EXPECT_EQ(e.pfZARVEL(handles[0], page.line(y), nullptr, 1, static_cast<int>(y)), 0);
      EXPECT_EQ(sinks[0].readyCalls, static_cast<int>(y) + 1);
    }
    e.pfEndZARVEL(handles[0]);
    EXPECT_TRUE(sinks[0].guardIntact());
  }
}

// ---------------------------------------------------------------------------
// Colour separation.

using StandinEngineColour = StandinEngine;

TEST_F(StandinEngineColour, WhitePrintsNoDots) {
  for (bool colour : {true, false}) {
    for (int dpi : {600, 1200}) {
      PageOptions options;
      options.colour = colour;
      options.dpi = dpi;
      const Planes planes = convertFlat(options, {0xFF, 0xFF, 0xFF});
      for (size_t p = 0; p < planes.plane.size(); ++p) EXPECT_EQ(planes.coverage(static_cast<int>(p)), 0.0);
    }
  }
}

TEST_F(StandinEngineColour, BlackPrintsWithBlackAlone) {
  for (int dpi : {600, 1200}) {
    for (bool guarantee : {false, true}) {
      PageOptions options;
      options.dpi = dpi;
      options.grayGuarantee = guarantee;
      const Planes planes = convertFlat(options, {0, 0, 0});
      EXPECT_EQ(planes.coverage(0), 0.0);
      EXPECT_EQ(planes.coverage(1), 0.0);
      EXPECT_EQ(planes.coverage(2), 0.0);
      EXPECT_EQ(planes.coverage(3), 1.0);
    }
  }
  const Planes gray = convertFlat(grayOptions(), {0, 0, 0});
  EXPECT_EQ(gray.black(), 1.0);
}

TEST_F(StandinEngineColour, NeutralGreysWithGrayGuaranteePrintBlackAlone) {
  PageOptions options;
  options.grayGuarantee = true;
  for (int level : {16, 64, 128, 192, 240}) {
    const uint8_t v = static_cast<uint8_t>(level);
    const Planes planes = convertFlat(options, {v, v, v});
    EXPECT_EQ(planes.coverage(0), 0.0) << level;
    EXPECT_EQ(planes.coverage(1), 0.0) << level;
    EXPECT_EQ(planes.coverage(2), 0.0) << level;
    EXPECT_GT(planes.coverage(3), 0.0) << level;
  }
}

TEST_F(StandinEngineColour, WithoutGrayGuaranteeLightGreysUseColourToner) {
  const Planes planes = convertFlat(PageOptions{}, {200, 200, 200});
  EXPECT_GT(planes.coverage(0), 0.0);
  EXPECT_GT(planes.coverage(1), 0.0);
  EXPECT_GT(planes.coverage(2), 0.0);
}

TEST_F(StandinEngineColour, PrimariesPrintTheirOwnColourants) {
  PageOptions options;
  const Planes cyan = convertFlat(options, {0, 0xFF, 0xFF});
  EXPECT_EQ(cyan.coverage(0), 1.0);
  EXPECT_EQ(cyan.coverage(1), 0.0);
  EXPECT_EQ(cyan.coverage(2), 0.0);
  EXPECT_EQ(cyan.coverage(3), 0.0);
  const Planes red = convertFlat(options, {0xFF, 0, 0});
  EXPECT_EQ(red.coverage(0), 0.0);
  EXPECT_EQ(red.coverage(1), 1.0);
  EXPECT_EQ(red.coverage(2), 1.0);
  EXPECT_EQ(red.coverage(3), 0.0);
}

TEST_F(StandinEngineColour, GrayGuaranteeTouchesOnlyNeutralPixels) {
  PageOptions plain;
  PageOptions guarded;
  guarded.grayGuarantee = true;
  const Page page = busyPage(plain, 64);
  const Planes a = convertPage(plain, page);
  const Planes b = convertPage(guarded, page);
  for (uint32_t y = 0; y < page.height; ++y) {
    const uint32_t band = (y / 8) % 4;
    for (int p = 0; p < 4; ++p) {
      const uint8_t* lineA = a.plane[p].data() + y * a.bytesPerLine;
      const uint8_t* lineB = b.plane[p].data() + y * b.bytesPerLine;
      if (band == 1) {
        // Red against green: never neutral, so the same dots either way.
        EXPECT_EQ(0, std::memcmp(lineA, lineB, a.bytesPerLine)) << "line " << y << " plane " << p;
      } else if (band == 0 && p < 3) {
        // The grey ramp: no colour toner under gray guarantee.
        for (size_t i = 0; i < b.bytesPerLine; ++i) ASSERT_EQ(lineB[i], 0) << "line " << y << " plane " << p;
      }
    }
  }
}

// ---------------------------------------------------------------------------
// Tone: coverage against input.

using StandinEngineTone = StandinEngine;

TEST_F(StandinEngineTone, HalfGreyPrintsCloseToHalfItsDots) {
  for (int dpi : {600, 1200}) {
    for (uint32_t mode : {kStandard, kFineness, kGradation}) {
      PageOptions gray = grayOptions(dpi);
      gray.screenMode = mode;
      gray.lineWidth = 512;
      EXPECT_NEAR(convertFlat(gray, {128, 128, 128}, 256).black(), 0.5, 0.03) << dpi << " " << mode;

      PageOptions colour = gray;
      colour.colour = true;
      colour.grayGuarantee = true;
      EXPECT_NEAR(convertFlat(colour, {128, 128, 128}, 256).black(), 0.5, 0.03) << dpi << " " << mode;
    }
  }
}

TEST_F(StandinEngineTone, CoverageRisesMonotonicallyWithDarkness) {
  for (int dpi : {600, 1200}) {
    PageOptions options = grayOptions(dpi);
    double previous = -1.0;
    for (int level = 255; level >= 0; level -= 5) {
      const uint8_t v = static_cast<uint8_t>(level);
      const double coverage = convertFlat(options, {v, v, v}, 64).black();
      EXPECT_GE(coverage, previous) << "level " << level;
      previous = coverage;
    }
    EXPECT_EQ(previous, 1.0);
  }
  // Each colourant on its own, through the colour path.
  PageOptions colour;
  for (int p = 0; p < 3; ++p) {
    double previous = -1.0;
    for (int level = 255; level >= 0; level -= 15) {
      std::array<uint8_t, 3> rgb = {0xFF, 0xFF, 0xFF};
      rgb[p] = static_cast<uint8_t>(level);
      const double coverage = convertFlat(colour, rgb, 64).coverage(p);
      EXPECT_GE(coverage, previous) << "colourant " << p << " level " << level;
      previous = coverage;
    }
  }
}

TEST_F(StandinEngineTone, TonerSavingLowersMidGreyCoverage) {
  for (bool colour : {true, false}) {
    PageOptions options = grayOptions();
    options.colour = colour;
    options.grayGuarantee = true;
    double previous = 2.0;
    for (int mode = 0; mode <= 3; ++mode) {
      options.tonerMode = mode;
      const double coverage = convertFlat(options, {128, 128, 128}).black();
      EXPECT_LT(coverage, previous) << "toner mode " << mode;
      previous = coverage;
    }
    // Solid black still prints most of its dots, so text stays readable.
    options.tonerMode = 3;
    EXPECT_GT(convertFlat(options, {0, 0, 0}).black(), 0.6);
    EXPECT_EQ(convertFlat(options, {0xFF, 0xFF, 0xFF}).black(), 0.0);
  }
}

TEST_F(StandinEngineTone, UnknownTonerModeIsRefusedAndLeavesTheCurve) {
  PageOptions options = grayOptions();
  const std::vector<int> handles = prepareInstances(options, 1);
  EXPECT_LT(engine().pfUpdateScreenTonerTRC(handles[0], 7, 0), 0);
  Page page = flatPage(options, 32, {128, 128, 128});
  feedInstance(handles[0], page, 0, 1);
  engine().pfEndZARVEL(handles[0]);
  EXPECT_NEAR(assemble(options, page, 1).black(), 0.5, 0.03);
}

// ---------------------------------------------------------------------------
// Adjust record: brightness, contrast, chroma, densities.

using StandinEngineAdjust = StandinEngine;

AdjustRecord densityRecord(int colour, unsigned high, unsigned mid, unsigned low) {
  AdjustRecord record{};
  record.adjustFlags = 8;
  record.densityCode[colour] = static_cast<int32_t>((high << 8) | (mid << 4) | low);
  return record;
}

TEST_F(StandinEngineAdjust, BlackDensityCodesMoveGreyCoverage) {
  PageOptions options = grayOptions();
  const double plain = convertFlat(options, {128, 128, 128}).black();
  options.adjust = densityRecord(0, 6, 6, 6);  // +3 everywhere
  const double darker = convertFlat(options, {128, 128, 128}).black();
  options.adjust = densityRecord(0, 1, 1, 1);  // -3 everywhere
  const double lighter = convertFlat(options, {128, 128, 128}).black();
  EXPECT_GT(darker, plain + 0.05);
  EXPECT_LT(lighter, plain - 0.05);
  // Paper and solid are kept whatever the density.
  options.adjust = densityRecord(0, 6, 6, 6);
  EXPECT_EQ(convertFlat(options, {0xFF, 0xFF, 0xFF}).black(), 0.0);
  options.adjust = densityRecord(0, 1, 1, 1);
  EXPECT_EQ(convertFlat(options, {0, 0, 0}).black(), 1.0);
}

TEST_F(StandinEngineAdjust, DensityCodesActOnTheirToneRegion) {
  PageOptions options = grayOptions();
  const std::array<uint8_t, 3> light = {204, 204, 204};  // 20% tone
  const std::array<uint8_t, 3> dark = {51, 51, 51};      // 80% tone
  const double lightPlain = convertFlat(options, light).black();
  const double darkPlain = convertFlat(options, dark).black();
  options.adjust = densityRecord(0, 0, 0, 6);  // low tones +3
  EXPECT_GT(convertFlat(options, light).black(), lightPlain + 0.05);
  EXPECT_NEAR(convertFlat(options, dark).black(), darkPlain, 0.02);
  options.adjust = densityRecord(0, 6, 0, 0);  // high tones +3
  EXPECT_NEAR(convertFlat(options, light).black(), lightPlain, 0.02);
  EXPECT_GT(convertFlat(options, dark).black(), darkPlain + 0.05);
}

TEST_F(StandinEngineAdjust, DensityCodesNeedTheirFlagAndMoveOnlyTheirColourant) {
  PageOptions options;
  const std::array<uint8_t, 3> blue = {160, 160, 0xFF};  // cyan and magenta, no yellow, no black
  const Planes plain = convertFlat(options, blue);
  options.adjust = densityRecord(1, 0, 6, 0);  // cyan mid +3
  const Planes cyanUp = convertFlat(options, blue);
  EXPECT_GT(cyanUp.coverage(0), plain.coverage(0) + 0.05);
  EXPECT_EQ(cyanUp.coverage(1), plain.coverage(1));
  EXPECT_EQ(cyanUp.coverage(3), plain.coverage(3));
  options.adjust.adjustFlags = 0;
  EXPECT_EQ(convertFlat(options, blue).coverage(0), plain.coverage(0));
}

TEST_F(StandinEngineAdjust, BrightnessLightensWithItsFlag) {
  PageOptions options = grayOptions();
  const double plain = convertFlat(options, {128, 128, 128}).black();
  options.adjust.adjustFlags = 4;
  for (int& b : options.adjust.brightness) b = 50;
  EXPECT_LT(convertFlat(options, {128, 128, 128}).black(), plain - 0.05);
  EXPECT_EQ(convertFlat(options, {0xFF, 0xFF, 0xFF}).black(), 0.0);
  for (int& b : options.adjust.brightness) b = -50;
  EXPECT_GT(convertFlat(options, {128, 128, 128}).black(), plain + 0.05);
  options.adjust.adjustFlags = 0;
  EXPECT_EQ(convertFlat(options, {128, 128, 128}).black(), plain);
}

TEST_F(StandinEngineAdjust, ContrastSpreadsTonesAndKeepsPaperAndSolid) {
  PageOptions options = grayOptions();
  const double lightPlain = convertFlat(options, {192, 192, 192}).black();
  const double darkPlain = convertFlat(options, {64, 64, 64}).black();
  for (int& c : options.adjust.contrast) c = 100;
  EXPECT_LT(convertFlat(options, {192, 192, 192}).black(), lightPlain - 0.03);
  EXPECT_GT(convertFlat(options, {64, 64, 64}).black(), darkPlain + 0.03);
  for (int& c : options.adjust.contrast) c = -100;
  EXPECT_GT(convertFlat(options, {192, 192, 192}).black(), lightPlain + 0.03);
  EXPECT_EQ(convertFlat(options, {0xFF, 0xFF, 0xFF}).black(), 0.0);
  EXPECT_EQ(convertFlat(options, {0, 0, 0}).black(), 1.0);
}

TEST_F(StandinEngineAdjust, ChromaTurnsColourTowardsGreyOrAway) {
  PageOptions options;
  const std::array<uint8_t, 3> dullRed = {200, 120, 120};
  const Planes plain = convertFlat(options, dullRed);
  for (int& c : options.adjust.chroma) c = -100;
  const Planes grey = convertFlat(options, dullRed);
  EXPECT_GT(grey.coverage(0), plain.coverage(0));  // cyan joins in: the pixel is now neutral
  for (int& c : options.adjust.chroma) c = 100;
  const Planes vivid = convertFlat(options, dullRed);
  EXPECT_GT(vivid.coverage(1), plain.coverage(1));
  EXPECT_LT(vivid.coverage(0), plain.coverage(0));
}

// ---------------------------------------------------------------------------
// Screens.

using StandinEngineScreens = StandinEngine;

TEST_F(StandinEngineScreens, StandardGradationAndFinenessDifferAt1200Dpi) {
  for (bool colour : {false, true}) {
    std::vector<Planes> results;
    for (uint32_t mode : {kStandard, kGradation, kFineness}) {
      PageOptions options = grayOptions(1200);
      options.colour = colour;
      options.grayGuarantee = true;
      options.screenMode = mode;
      results.push_back(convertFlat(options, {100, 100, 100}, 128));
    }
    EXPECT_NE(results[0].plane.back(), results[1].plane.back());
    EXPECT_NE(results[0].plane.back(), results[2].plane.back());
    EXPECT_NE(results[1].plane.back(), results[2].plane.back());
  }
}

TEST_F(StandinEngineScreens, FinerModeAt600DpiDiffersFromStandard) {
  PageOptions options = grayOptions(600);
  const Planes standard = convertFlat(options, {100, 100, 100});
  options.screenMode = kFineness;  // 0x301, the same word as Gradation at this resolution
  const Planes fine = convertFlat(options, {100, 100, 100});
  options.screenMode = kGradation;
  const Planes gradation = convertFlat(options, {100, 100, 100});
  EXPECT_NE(standard.plane[0], fine.plane[0]);
  EXPECT_EQ(fine.plane[0], gradation.plane[0]);
}

TEST_F(StandinEngineScreens, ColourantsUseDifferentScreens) {
  for (int dpi : {600, 1200}) {
    PageOptions options;
    options.dpi = dpi;
    // Equal amounts of all four colourants would need a neutral; equal cyan and
    // magenta with no common part compare two planes directly.
    const Planes blue = convertFlat(options, {128, 128, 0xFF});
    ASSERT_NEAR(blue.coverage(0), blue.coverage(1), 0.03);
    EXPECT_NE(blue.plane[0], blue.plane[1]);
    const Planes green = convertFlat(options, {128, 0xFF, 128});
    EXPECT_NE(green.plane[0], green.plane[2]);
  }
}

// ---------------------------------------------------------------------------
// Instances: line phase and parallel conversion.

using StandinEngineInstances = StandinEngine;

TEST_F(StandinEngineInstances, FourInterleavedInstancesGiveThePageOfOne) {
  for (bool colour : {true, false}) {
    for (int dpi : {600, 1200}) {
      PageOptions options;
      options.colour = colour;
      options.dpi = dpi;
      options.grayGuarantee = true;
      options.lineWidth = 320;
      const Page page = busyPage(options, 101);  // not a multiple of 4
      const Planes one = convertPage(options, page, 1);
      const Planes four = convertPage(options, page, 4);
      ASSERT_EQ(one.plane.size(), four.plane.size());
      for (size_t p = 0; p < one.plane.size(); ++p) EXPECT_EQ(one.plane[p], four.plane[p]) << "plane " << p;
    }
  }
}

TEST_F(StandinEngineInstances, LinePhaseSelectsTheDeviceLine) {
  // Instance 2 of 4 converting its line 3 gives device line 14 of a single instance.
  PageOptions options = grayOptions(1200);
  const Page page = flatPage(options, 16, {100, 100, 100});
  const Planes one = convertPage(options, page, 1);
  const std::vector<int> handles = prepareInstances(options, 3);
  Page line = flatPage(options, 1, {100, 100, 100});
  engine().pfZARVEL(handles[2], line.line(0), nullptr, 1, 3);
  engine().pfUpdateScreenThread(handles[2], 4, 2);
  engine().pfZARVEL(handles[2], line.line(0), nullptr, 1, 3);
  for (int handle : handles) engine().pfEndZARVEL(handle);
  ASSERT_EQ(sinks[2].lines.size(), 2u);
  const std::vector<uint8_t> expected(one.plane[0].begin() + 14 * one.bytesPerLine,
                                      one.plane[0].begin() + 15 * one.bytesPerLine);
  EXPECT_EQ(sinks[2].lines[1], expected);
}

TEST_F(StandinEngineInstances, FourInstancesConvertInParallelOnFourThreads) {
  for (bool colour : {true, false}) {
    PageOptions options;
    options.colour = colour;
    options.dpi = 1200;
    options.lineWidth = 1024;
    options.tonerMode = 1;
    const Page page = busyPage(options, 96);
    const Planes serial = convertPage(options, page, 1);
    const Planes parallel = convertPage(options, page, 4, true);
    for (size_t p = 0; p < serial.plane.size(); ++p) EXPECT_EQ(serial.plane[p], parallel.plane[p]) << "plane " << p;
  }
}

}  // namespace
