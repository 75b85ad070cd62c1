// The printing core through its public API, as a second front end would use
// it: two different jobs rendered at once in one process, each giving the
// very stream the filter binary writes for it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "settings/job_settings.h"
#include "job/raster_check.h"
#include "filter/ppd_settings.h"
#include "imaging/engine_loader.h"
#include "imaging/engine_setup.h"
#include "imaging/page_renderer.h"
#include "support/harness.h"
#include "job/print_job.h"

using namespace zerutest;

#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace {

constexpr const char* kUser = "tester";
constexpr const char* kTitle = "Test job";

// A page whose every line differs: bands, a diagonal and a page mark.
RasterPage bandedPage(int id, bool colour, unsigned dpi) {
  cups_page_header2_t header = makeHeader(144, 144, dpi, colour);
  unsigned band = 7u * static_cast<unsigned>(id);
  if (colour)
    return colourPage(header, [band](unsigned x, unsigned y) {
      if (x == y || (y / band) % 3 == 0) return zerutest::kBlack;
      return Rgb{static_cast<uint8_t>(x * 3), static_cast<uint8_t>(y * 5),
                 static_cast<uint8_t>((x + y) * 2)};
    });
  return grayPage(header, [band](unsigned x, unsigned y) {
    return static_cast<uint8_t>(x == y || (y / band) % 2 == 0 ? 0 : (x * 7 + y) & 0xFF);
  });
}

// The PJL date and time differ between two runs of the same job.
std::string withoutClock(const std::string& stream) {
  static const std::regex clock("(@PJL SET JOBATTR=(DATE|TIME):)[^\r]*");
  return std::regex_replace(stream, clock, "$1-");
}

// The job as a front end prints it with the core: settings from the PPD,
// lines read from the raster and pushed, pages spooled, the stream written
// to memory. Single-sided, as the PPD's defaults have it.
std::string printThroughCore(const EngineLibrary& library, const std::string& ppdPath,
                             const std::string& rasterPath) {
  ppd_file_t* ppd = ppdOpenFile(ppdPath.c_str());
  EXPECT_NE(ppd, nullptr);
  if (!ppd) return {};
  ppdMarkDefaults(ppd);
  char* argv[] = {const_cast<char*>("zeru-test"), const_cast<char*>("42"),
                  const_cast<char*>(kUser), const_cast<char*>(kTitle), const_cast<char*>("1"),
                  const_cast<char*>(""), nullptr};
  JobSettings settings;
  readJobSettings(ppd, 0, nullptr, 6, argv, settings);
  settings.collate = collateFromChoice(markedChoice(ppd, "Collate"));
  const char* product = nullptr;
  if (ppd_attr_t* attr = ppdFindAttr(ppd, "Product", nullptr)) product = attr->value;

  zeru::StringSink sink;
  PrintJob job(sink, JobServices{});
  int fd = open(rasterPath.c_str(), O_RDONLY);
  cups_raster_t* raster = cupsRasterOpen(fd, CUPS_RASTER_READ);
  PaperTable paperTable;
  const char* modelPath = nullptr;
  cups_page_header2_t header{};
  cups_page_header2_t last{};
  int pageCount = 0;
  while (cupsRasterReadHeader2(raster, &header)) {
    if (markedChoice(ppd, "Collate")) header.Collate = settings.collate ? CUPS_TRUE : CUPS_FALSE;
    EXPECT_EQ(rasterHeaderProblem(header), nullptr);
    EXPECT_EQ(readPageSettings(ppd, header, paperTable, settings, PageLoop::Simplex),
              PageSettingsResult::Ok);
    last = header;
    ++pageCount;
    PageStartRecord record;
    preparePageRecord(record, settings, header);
    modelPath = modelPathFor(product, PageLoop::Simplex, modelPath);

    PageRenderOptions pageOptions;
    pageOptions.library = &library;
    pageOptions.header = &header;
    pageOptions.settings = &settings;
    pageOptions.pageCount = pageCount;
    pageOptions.modelPath = modelPath;
    pageOptions.afterScreenThreads = [&] { readRotate180(ppd, settings); };
    std::unique_ptr<PlaneBuffers> planes = job.pageBuffers();
    PageRenderer renderer;
    EXPECT_EQ(renderer.begin(pageOptions, *planes), RenderResult::Ok);
    for (unsigned y = 0; y < header.cupsHeight; ++y) {
      std::span<unsigned char> line = renderer.nextLine();
      EXPECT_EQ(cupsRasterReadPixels(raster, line.data(), header.cupsBytesPerLine),
                header.cupsBytesPerLine);
      renderer.pushLine();
    }
    EXPECT_TRUE(renderer.end());
    EXPECT_TRUE(job.spoolPage(std::move(planes), record, pageCount, true).ok());
  }
  cupsRasterClose(raster);
  close(fd);
  EXPECT_TRUE(job.settle().ok());

  JobHeaderInputs inputs;
  inputs.title = kTitle;
  inputs.user = kUser;
  inputs.paperIndex = settings.paperIndex;
  inputs.pageCount = pageCount;
  readSystemJobAttributes(inputs);
  job.writeHeader(last, inputs);
  EXPECT_EQ(job.sendPages(SendOrder::simplex(pageCount, last.NumCopies,
                                             static_cast<int>(last.Collate)),
                          [](const std::string&) {}),
            SendResult::Sent);
  job.writeTrailer(false);
  ppdClose(ppd);
  return sink.bytes;
}

}  // namespace

TEST(CoreApi, TwoJobsAtOnceInOneProcessGiveTheFiltersStreams) {
  if (!canRunFilter()) GTEST_SKIP() << "the filter runs need root";
  TempDir dir("core-api");
  PpdBuilder().writeTo(dir.file("job.ppd"));
  // A colour job at 600 dpi and a grayscale job at 1200 dpi.
  writeRasterFile(dir.file("colour.ras"), {bandedPage(1, true, 600), bandedPage(2, true, 600)});
  writeRasterFile(dir.file("gray.ras"), {bandedPage(3, false, 1200), bandedPage(4, false, 1200),
                                         bandedPage(5, false, 1200)});

  std::vector<std::string> expected;
  for (const char* name : {"colour.ras", "gray.ras"}) {
    FilterRun run;
    run.ppd = dir.file("job.ppd");
    run.user = kUser;
    run.title = kTitle;
    run.engine = EngineMount::standin();
    run.stdinFile = dir.file(name);
    FilterResult result = runFilter(run);
    ASSERT_EQ(result.exitStatus, 0) << result.describe();
    expected.push_back(withoutClock(result.out));
  }

  const char* paths[] = {ZERU_STANDIN_ENGINE};
  EngineLibrary library;
  ASSERT_TRUE(loadEngineLibraryFrom(paths, 1, library));
  std::string colour, gray;
  std::thread first([&] { colour = printThroughCore(library, dir.file("job.ppd"), dir.file("colour.ras")); });
  std::thread second([&] { gray = printThroughCore(library, dir.file("job.ppd"), dir.file("gray.ras")); });
  first.join();
  second.join();
  unloadEngineLibrary(library);

  EXPECT_GT(expected[0].size(), 1000u);
  EXPECT_TRUE(withoutClock(colour) == expected[0]) << "colour job differs";
  EXPECT_TRUE(withoutClock(gray) == expected[1]) << "grayscale job differs";
}
