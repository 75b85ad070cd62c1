// A front end written on the core's public API alone: a PWG raster file in,
// the printer's job stream out, with the printer's default choices.
//   pwg_to_zeru COLOUR-LIBRARY RASTER OUTPUT
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <span>

#include <cups/raster.h>

#include "zeru/byte_sink.h"
#include "zeru/choices.h"
#include "zeru/colour_library.h"
#include "zeru/job.h"
#include "zeru/page_header.h"
#include "zeru/printer.h"

// Every option at the printer's default choice.
struct DefaultChoices : zeru::Choices {
  const char* choice(const char* keyword) const override {
    const zeru::OptionDescription* option = zeru::optionFor(keyword);
    return option ? option->defaultChoice : nullptr;
  }
};

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  zeru::ColourLibrary library;
  int in = open(argv[2], O_RDONLY);
  FILE* out = fopen(argv[3], "wb");
  if (library.load({argv[1]}).failed() || in < 0 || out == nullptr) return 2;
  DefaultChoices choices;
  zeru::JobOptions options;
  options.choices = &choices;
  options.model = zeru::Model::Tx7M;
  options.customSizes = zeru::kCustomSizes;
  options.library = &library;
  zeru::FileSink sink(out);
  zeru::Job job(sink, options, {});
  cups_raster_t* raster = cupsRasterOpen(in, CUPS_RASTER_READ);
  cups_page_header2_t header;
  bool ok = raster != nullptr;
  while (ok && cupsRasterReadHeader2(raster, &header)) {
    if (job.startPage(zeru::pageHeaderFrom(header)) != zeru::PageStart::Render) break;
    for (unsigned y = 0; ok && y < header.cupsHeight; ++y) {
      std::span<unsigned char> line = job.line();
      ok = cupsRasterReadPixels(raster, line.data(), header.cupsBytesPerLine) ==
           header.cupsBytesPerLine;
      job.pushLine();
    }
    if (job.endPage().failed()) break;
  }
  cupsRasterClose(raster);
  close(in);
  ok = ok && !job.failure().failed() && !job.finish().failed();
  if (!ok) fprintf(stderr, "%s\n", job.failure().message.c_str());
  return fclose(out) == 0 && ok ? 0 : 1;
}
