// Conversion speed of the stand-in colour library, in nanoseconds per pixel,
// for colour and grayscale lines at 600 and 1200 dpi, and for a whole A4
// page converted by four instances as the filter's line loop feeds them.
#include <benchmark/benchmark.h>
#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "imaging/engine_abi.h"

namespace {

struct Engine {
  ZARVELFn convert = nullptr;
  InitZARVELFn init = nullptr;
  EndZARVELFn end = nullptr;
  StartAdjustJobFn adjust = nullptr;
  UpdateScreenThreadFn thread = nullptr;
  UpdateScreenTonerTRCFn toner = nullptr;
};

const Engine& engine() {
  static const Engine loaded = [] {
    void* library = dlopen(ZERU_STANDIN_ENGINE, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
      std::fprintf(stderr, "cannot open %s: %s\n", ZERU_STANDIN_ENGINE, dlerror());
      std::exit(1);
    }
    Engine e;
    e.convert = reinterpret_cast<ZARVELFn>(dlsym(library, "ZARVEL"));
    e.init = reinterpret_cast<InitZARVELFn>(dlsym(library, "InitZARVEL"));
    e.end = reinterpret_cast<EndZARVELFn>(dlsym(library, "EndZARVEL"));
    e.adjust = reinterpret_cast<StartAdjustJobFn>(dlsym(library, "StartAdjustJob"));
    e.thread = reinterpret_cast<UpdateScreenThreadFn>(dlsym(library, "UpdateScreenThread"));
    e.toner = reinterpret_cast<UpdateScreenTonerTRCFn>(dlsym(library, "UpdateScreenTonerTRC"));
    return e;
  }();
  return loaded;
}

// One output line per instance; the benchmark only counts handed-back lines.
unsigned char outputLines[4][4 * 10240 / 8];
long readyLines[4];
template <int K>
unsigned char* getOutputLineOf() { return outputLines[K]; }
template <int K>
int lineReadyOf() { ++readyLines[K]; return 0; }
constexpr GetOutputLineFn kGetOutputLine[4] = {getOutputLineOf<0>, getOutputLineOf<1>, getOutputLineOf<2>, getOutputLineOf<3>};
constexpr LineReadyFn kLineReady[4] = {lineReadyOf<0>, lineReadyOf<1>, lineReadyOf<2>, lineReadyOf<3>};

enum Content { kMixed = 0, kWhite = 1 };

// A4 line widths: 5120 dots at 600 dpi, 10240 at 1200 dpi.
uint32_t a4Width(int dpi) { return dpi == 600 ? 5120 : 10240; }

int openInstance(bool colour, int dpi, int k, int count) {
  EngineSetup setup;
  std::memset(&setup, 0, sizeof setup);
  setup.getOutputLine = kGetOutputLine[k];
  setup.lineReady = kLineReady[k];
  setup.renderFlags = kRenderNormal | kRenderGrayGuarantee;
  setup.lineWidth = a4Width(dpi);
  setup.scaleX = setup.scaleY = 10000;
  setup.screenWord = dpi == 1200 ? 0x401 : 0x101;
  setup.resolutionWord = dpi == 600 ? 12 : 24;
  setup.colourLayout = colour ? 2 : 1;
  setup.planeLayout = colour ? 4 : 9;
  setup.one58 = setup.one59 = 1;
  setup.channelWord = colour ? 2222 : 2;
  setup.modeWord = colour ? 2 : 0;
  const int handle = engine().init(&setup);
  AdjustRecord adjust{};
  engine().adjust(handle, &adjust);
  engine().thread(handle, count, k);
  engine().toner(handle, 0, 0);
  return handle;
}

// 64 lines of page-like content: grey and colour ramps, photo-like noise,
// text-like runs of black on white, and white.
std::vector<uint8_t> makeLines(bool colour, uint32_t width, Content content) {
  const size_t bpp = colour ? 3 : 1;
  std::vector<uint8_t> lines(64 * width * bpp, 0xFF);
  if (content == kWhite) return lines;
  uint32_t noise = 1;
  for (uint32_t y = 0; y < 64; ++y) {
    uint8_t* line = lines.data() + y * width * bpp;
    for (uint32_t x = 0; x < width; ++x) {
      noise = noise * 1103515245u + 12345u;
      uint8_t* p = line + x * bpp;
      const uint8_t ramp = static_cast<uint8_t>(x * 255 / width);
      switch (y % 4) {
        case 0: std::memset(p, ramp, bpp); break;
        case 1: for (size_t i = 0; i < bpp; ++i) p[i] = static_cast<uint8_t>(noise >> (8 + 8 * i)); break;
        case 2: std::memset(p, (x / 7) % 3 == 0 ? 0 : 0xFF, bpp); break;
        default: if (bpp == 3) { p[0] = ramp; p[1] = static_cast<uint8_t>(255 - ramp); p[2] = 90; } break;
      }
    }
  }
  return lines;
}

// Lines through one instance: args colour (0/1), dpi, content.
void BM_Lines(benchmark::State& state) {
  const bool colour = state.range(0) != 0;
  const int dpi = static_cast<int>(state.range(1));
  const uint32_t width = a4Width(dpi);
  std::vector<uint8_t> lines = makeLines(colour, width, static_cast<Content>(state.range(2)));
  const size_t lineBytes = width * (colour ? 3 : 1);
  const int handle = openInstance(colour, dpi, 0, 1);
  int n = 0;
  for (auto _ : state) {
    engine().convert(handle, lines.data() + (n % 64) * lineBytes, nullptr, 1, n);
    ++n;
  }
  engine().end(handle);
  const double pixels = static_cast<double>(state.iterations()) * width;
  state.counters["ns_per_pixel"] = benchmark::Counter(pixels, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.SetLabel(std::string(colour ? "colour " : "gray ") + std::to_string(dpi) + "dpi " +
                 (state.range(2) == kWhite ? "white" : "mixed"));
}
BENCHMARK(BM_Lines)->ArgsProduct({{1, 0}, {600, 1200}, {kMixed, kWhite}});

// A whole A4 page (7016 lines at 600 dpi, 14032 at 1200), four instances fed
// round-robin on one thread.
void BM_Page(benchmark::State& state) {
  const bool colour = state.range(0) != 0;
  const int dpi = static_cast<int>(state.range(1));
  const uint32_t width = a4Width(dpi);
  const int height = dpi == 600 ? 7016 : 14032;
  std::vector<uint8_t> lines = makeLines(colour, width, kMixed);
  const size_t lineBytes = width * (colour ? 3 : 1);
  for (auto _ : state) {
    int handles[4];
    for (int k = 0; k < 4; ++k) handles[k] = openInstance(colour, dpi, k, 4);
    for (int y = 0; y < height; ++y) engine().convert(handles[y % 4], lines.data() + (y % 64) * lineBytes, nullptr, 1, y / 4);
    for (int k = 0; k < 4; ++k) engine().end(handles[k]);
  }
  const double pixels = static_cast<double>(state.iterations()) * width * height;
  state.counters["ns_per_pixel"] = benchmark::Counter(pixels, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_Page)->ArgsProduct({{1, 0}, {600, 1200}})->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
