// The whole page path over arbitrary raster streams, through the printing
// core's job as a front end drives it: header checks, settings and geometry,
// rasterisation through the test engine, blank-sheet saving, spooling,
// compression and the job stream.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

#include <cups/raster.h>

#include "zeru/byte_sink.h"
#include "zeru/choices.h"
#include "zeru/colour_library.h"
#include "zeru/job.h"
#include "zeru/page_header.h"
#include "zeru/printer.h"

namespace {

// The pages of one input that reach the job, and the copies beyond which
// the job is abandoned rather than sent (sending repeats the whole job).
constexpr int kMaxPages = 3;
constexpr unsigned kMaxSentCopies = 4;

// A4, blank sheets saved: every page renders, and a white one is dropped.
class FuzzChoices : public zeru::Choices {
 public:
  const char* choice(const char* keyword) const override {
    if (strcmp(keyword, "PageSize") == 0) return "A4";
    if (strcmp(keyword, "AKSaveBlankSheet") == 0) return "true";
    return nullptr;
  }
};

// Counts the job stream and keeps none of it.
class NullSink : public zeru::ByteSink {
 public:
  bool write(const void*, size_t length) override {
    bytes += length;
    return true;
  }
  size_t bytes = 0;
};

const zeru::ColourLibrary& library() {
  static zeru::ColourLibrary* instance = [] {
    auto* loaded = new zeru::ColourLibrary;
    if (loaded->load({ZERU_TEST_ENGINE}).failed()) abort();
    return loaded;
  }();
  return *instance;
}

void runJob(cups_raster_t* raster) {
  static const FuzzChoices choices;
  NullSink sink;
  zeru::JobOptions options;
  options.title = "fuzz";
  options.user = "fuzz";
  options.choices = &choices;
  options.model = zeru::Model::Tx7M;
  options.library = &library();
  zeru::Job job(sink, options, zeru::JobEvents{});

  cups_page_header2_t header;
  unsigned copies = 1;
  for (int page = 1; page <= kMaxPages && cupsRasterReadHeader2(raster, &header); ++page) {
    if (job.startPage(zeru::pageHeaderFrom(header)) != zeru::PageStart::Render) return;
    copies = std::max(copies, header.NumCopies);
    for (unsigned y = 0; y < header.cupsHeight; ++y) {
      std::span<unsigned char> line = job.line();
      size_t bytes = std::min<size_t>(line.size(), header.cupsBytesPerLine);
      if (cupsRasterReadPixels(raster, line.data(), static_cast<unsigned>(bytes)) == 0)
        std::fill(line.begin(), line.end(), 0xFF);
      job.pushLine();
    }
    zeru::PageEnd end = job.endPage();
    if (end.failed() || end.stop) return;
  }
  if (copies <= kMaxSentCopies) job.finish();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  int fd = memfd_create("raster", 0);
  if (fd < 0) abort();
  if (size && write(fd, data, size) != static_cast<ssize_t>(size)) abort();
  lseek(fd, 0, SEEK_SET);
  if (cups_raster_t* raster = cupsRasterOpen(fd, CUPS_RASTER_READ)) {
    runJob(raster);
    cupsRasterClose(raster);
  }
  close(fd);
  return 0;
}
