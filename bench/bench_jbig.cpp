// One plane through one JBIG encoder, for instruction counts under callgrind
// and CPU times:
//
//   zeru_bench_jbig own|jbigkit PLANE.pbm|blank [repeats]
//   valgrind --tool=callgrind --instr-atstart=no zeru_bench_jbig own PLANE.pbm
//
// Only the compression is instrumented (the reading of the plane is not).
// "blank" is an empty A4 plane at 600 dpi (5120 x 7016 dots).
// Prints: coder <name> width <w> height <h> bytes <n> cpu <s per plane>
#include <time.h>
#include <valgrind/callgrind.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "jbig/compression.h"
#include "jbig/jbig_encoder.h"

namespace {

double threadCpu() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// A binary PBM ("P4"), comment lines allowed before the size.
bool readPbm(const char* path, unsigned& width, unsigned& height, std::vector<uint8_t>& dots) {
  FILE* f = std::fopen(path, "rb");
  if (!f) return false;
  char magic[2] = {};
  bool ok = std::fread(magic, 1, 2, f) == 2 && magic[0] == 'P' && magic[1] == '4';
  int ch = std::fgetc(f);
  while (ch == '\n' || ch == ' ' || ch == '#') {
    if (ch == '#')
      while ((ch = std::fgetc(f)) != EOF && ch != '\n') {
      }
    ch = std::fgetc(f);
  }
  if (ch != EOF) std::ungetc(ch, f);
  ok = ok && std::fscanf(f, "%u %u", &width, &height) == 2 && std::fgetc(f) != EOF;
  if (ok) {
    dots.resize((width + 7) / 8 * static_cast<size_t>(height));
    ok = std::fread(dots.data(), 1, dots.size(), f) == dots.size();
  }
  std::fclose(f);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || argc > 4) {
    std::fprintf(stderr, "usage: %s own|jbigkit PLANE.pbm [repeats]\n", argv[0]);
    return 2;
  }
  JbigCoder coder = std::strcmp(argv[1], "jbigkit") == 0 ? JbigCoder::JbigKit : JbigCoder::Own;
  unsigned width = 0, height = 0;
  std::vector<uint8_t> dots;
  if (std::strcmp(argv[2], "blank") == 0) {
    width = 5120;
    height = 7016;
    dots.assign(width / 8 * height, 0);
  } else if (!readPbm(argv[2], width, height, dots)) {
    std::fprintf(stderr, "cannot read %s\n", argv[2]);
    return 1;
  }
  int repeats = argc == 4 ? std::atoi(argv[3]) : 1;
  if (repeats < 1) repeats = 1;
  std::vector<uint8_t> out;
  out.reserve(maxCompressedSize((width + 7) / 8, height));
  uint32_t bytes = 0;
  double t0 = threadCpu();
  CALLGRIND_START_INSTRUMENTATION;
  for (int i = 0; i < repeats; ++i) bytes = compressPlane(dots.data(), width, height, out, coder);
  CALLGRIND_STOP_INSTRUMENTATION;
  double cpu = (threadCpu() - t0) / repeats;
  std::printf("coder %s stripes %s width %u height %u bytes %u cpu %.5f\n", argv[1],
              coder == JbigCoder::Own ? jbig::stripeCoderName() : "jbigkit", width, height,
              bytes, cpu);
  return 0;
}
