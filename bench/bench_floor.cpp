// The floor of a raster job: the CPU time that the colour library's
// conversion and JBIG-KIT's compression alone need for its pages, with
// nothing of the filter around them.
//
//   zeru_bench_floor ENGINE.so JOB.ras
//
// Every page is read, converted line by line by one engine instance on this
// thread into page-sized planes, and each plane compressed with
// compressPlane, once with JBIG-KIT (the floor) and once with the filter's
// own encoder (whose bytes must be the same). The times are CPU times of this
// thread (CLOCK_THREAD_CPUTIME_ID). Prints one line per page and a total line:
//   page <n> colour <0|1> read <s> convert <s> compress <s> own <s> bytes <n>
//   total pages <n> read <s> convert <s> compress <s> own <s>
// With ZERU_BENCH_PLANES=DIR every plane is also written there as
// page<n>-plane<p>.pbm (for zeru_bench_jbig under callgrind).
#include <cups/raster.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "jbig/compression.h"
#include "imaging/engine_abi.h"

namespace {

double threadCpu() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct Engine {
  ZARVELFn convert = nullptr;
  InitZARVELFn init = nullptr;
  EndZARVELFn end = nullptr;
  StartAdjustJobFn adjust = nullptr;
  UpdateScreenThreadFn thread = nullptr;
  UpdateScreenTonerTRCFn toner = nullptr;
};

// The converted line lands here and is laid into the planes as the filter does.
std::vector<uint8_t> outputLine;
std::vector<uint8_t>* planes = nullptr;
size_t planeCount = 0;
size_t bytesPerLine = 0;
size_t currentLine = 0;

unsigned char* getOutputLine() { return outputLine.data(); }
int lineReady() {
  for (size_t p = 0; p < planeCount; ++p)
    std::memcpy(planes[p].data() + currentLine * bytesPerLine,
                outputLine.data() + p * bytesPerLine, bytesPerLine);
  return 0;
}

// The same set-up words the filter gives the library for default settings.
int openInstance(const Engine& e, bool colour, unsigned dpi, uint32_t lineWidth) {
  EngineSetup setup;
  std::memset(&setup, 0, sizeof setup);
  setup.getOutputLine = getOutputLine;
  setup.lineReady = lineReady;
  setup.renderFlags = kRenderNormal | kRenderGrayGuarantee;
  setup.lineWidth = lineWidth;
  setup.scaleX = setup.scaleY = 10000;
  setup.screenWord = dpi == 1200 ? 0x401 : 0x101;
  setup.resolutionWord = dpi == 600 ? 12 : 24;
  setup.colourLayout = colour ? 2 : 1;
  setup.planeLayout = colour ? 4 : 9;
  setup.one58 = setup.one59 = 1;
  setup.channelWord = colour ? 2222 : 2;
  setup.modeWord = colour ? 2 : 0;
  int handle = e.init(&setup);
  AdjustRecord adjust{};
  e.adjust(handle, &adjust);
  e.thread(handle, 1, 0);
  e.toner(handle, 0, 0);
  return handle;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s ENGINE.so JOB.ras\n", argv[0]);
    return 2;
  }
  void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    std::fprintf(stderr, "cannot open %s: %s\n", argv[1], dlerror());
    return 1;
  }
  Engine e;
  e.convert = reinterpret_cast<ZARVELFn>(dlsym(library, "ZARVEL"));
  e.init = reinterpret_cast<InitZARVELFn>(dlsym(library, "InitZARVEL"));
  e.end = reinterpret_cast<EndZARVELFn>(dlsym(library, "EndZARVEL"));
  e.adjust = reinterpret_cast<StartAdjustJobFn>(dlsym(library, "StartAdjustJob"));
  e.thread = reinterpret_cast<UpdateScreenThreadFn>(dlsym(library, "UpdateScreenThread"));
  e.toner = reinterpret_cast<UpdateScreenTonerTRCFn>(dlsym(library, "UpdateScreenTonerTRC"));
  if (!e.convert || !e.init || !e.end || !e.adjust || !e.thread || !e.toner) {
    std::fprintf(stderr, "missing entry point in %s\n", argv[1]);
    return 1;
  }

  int fd = open(argv[2], O_RDONLY);
  if (fd < 0) { std::perror(argv[2]); return 1; }
  cups_raster_t* ras = cupsRasterOpen(fd, CUPS_RASTER_READ);
  cups_page_header2_t h;
  double readTotal = 0, convertTotal = 0, compressTotal = 0, ownTotal = 0;
  const char* planeDir = std::getenv("ZERU_BENCH_PLANES");
  std::vector<uint8_t> ownOut;
  int pages = 0;
  std::vector<uint8_t> planeStore[4];
  std::vector<uint8_t> out;
  while (cupsRasterReadHeader2(ras, &h)) {
    ++pages;
    const bool colour = h.cupsBitsPerPixel != 8;
    const unsigned dpi = h.HWResolution[0];
    const uint32_t lineWidth = 5120 * dpi / 600;  // A4's padded device line
    const size_t pixelBytes = colour ? 3 : 1;
    planeCount = colour ? 4 : 1;
    bytesPerLine = lineWidth / 8;
    for (size_t p = 0; p < planeCount; ++p) planeStore[p].assign(bytesPerLine * h.cupsHeight, 0);
    planes = planeStore;
    outputLine.assign(planeCount * bytesPerLine, 0);
    std::vector<uint8_t> line(std::max<size_t>(lineWidth * pixelBytes, h.cupsBytesPerLine), 0xFF);

    double readCpu = 0, convertCpu = 0;
    int handle = openInstance(e, colour, dpi, lineWidth);
    for (unsigned y = 0; y < h.cupsHeight; ++y) {
      double t0 = threadCpu();
      cupsRasterReadPixels(ras, line.data(), h.cupsBytesPerLine);
      double t1 = threadCpu();
      currentLine = y;
      e.convert(handle, line.data(), nullptr, 1, static_cast<int>(y));
      double t2 = threadCpu();
      readCpu += t1 - t0;
      convertCpu += t2 - t1;
    }
    e.end(handle);

    double c0 = threadCpu();
    uint64_t bytes = 0;
    for (size_t p = 0; p < planeCount; ++p)
      bytes += compressPlane(planeStore[p].data(), lineWidth, h.cupsHeight, out,
                             JbigCoder::JbigKit);
    double compressCpu = threadCpu() - c0;
    // The same planes with the filter's own encoder; its bytes are checked.
    double o0 = threadCpu();
    double ownCpu = 0;
    for (size_t p = 0; p < planeCount; ++p) {
      compressPlane(planeStore[p].data(), lineWidth, h.cupsHeight, ownOut, JbigCoder::Own);
      ownCpu += threadCpu() - o0;
      compressPlane(planeStore[p].data(), lineWidth, h.cupsHeight, out, JbigCoder::JbigKit);
      if (out != ownOut) {
        std::fprintf(stderr, "page %d plane %zu: the encoders differ\n", pages, p);
        return 1;
      }
      o0 = threadCpu();
    }
    if (planeDir) {
      for (size_t p = 0; p < planeCount; ++p) {
        char name[4096];
        std::snprintf(name, sizeof name, "%s/page%d-plane%zu.pbm", planeDir, pages, p);
        if (FILE* f = std::fopen(name, "wb")) {
          std::fprintf(f, "P4\n%u %u\n", lineWidth, h.cupsHeight);
          std::fwrite(planeStore[p].data(), 1, planeStore[p].size(), f);
          std::fclose(f);
        }
      }
    }

    std::printf("page %d colour %d dpi %u read %.4f convert %.4f compress %.4f own %.4f bytes %llu\n",
                pages, colour ? 1 : 0, dpi, readCpu, convertCpu, compressCpu, ownCpu,
                static_cast<unsigned long long>(bytes));
    ownTotal += ownCpu;
    readTotal += readCpu;
    convertTotal += convertCpu;
    compressTotal += compressCpu;
  }
  cupsRasterClose(ras);
  close(fd);
  std::printf("total pages %d read %.4f convert %.4f compress %.4f own %.4f\n", pages, readTotal,
              convertTotal, compressTotal, ownTotal);
  return 0;
}
