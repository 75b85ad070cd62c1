// The printing core through its public API alone, as a second front end
// uses it: jobs rendered at once in one process, and two-sided jobs with
// dropped pages, collated copies and a cancel, each giving the very stream
// the filter binary writes for it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <optional>
#include <regex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include <cups/ppd.h>
#include <cups/raster.h>

#include "support/harness.h"
#include "zeru/byte_sink.h"
#include "zeru/choices.h"
#include "zeru/colour_library.h"
#include "zeru/job.h"
#include "zeru/page_header.h"
#include "zeru/printer.h"

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

// A PPD's default choices, as this front end hands them to the core.
class DefaultChoices : public zeru::Choices {
 public:
  explicit DefaultChoices(const std::string& path) : ppd_(ppdOpenFile(path.c_str())) {
    if (ppd_) ppdMarkDefaults(ppd_);
  }
  ~DefaultChoices() override {
    if (ppd_) ppdClose(ppd_);
  }
  const char* choice(const char* keyword) const override {
    ppd_choice_t* marked = ppd_ ? ppdFindMarkedChoice(ppd_, keyword) : nullptr;
    return marked ? marked->choice : nullptr;
  }
  const char* product() const {
    ppd_attr_t* attr = ppd_ ? ppdFindAttr(ppd_, "Product", nullptr) : nullptr;
    return attr ? attr->value : "";
  }
  bool ok() const { return ppd_ != nullptr; }

 private:
  ppd_file_t* ppd_;
};

// The model whose PPD has this Product.
std::optional<zeru::Model> modelOf(const std::string& product) {
  for (const zeru::ModelDescription& model : zeru::models())
    if (product == model.product) return model.model;
  return std::nullopt;
}

// The job as a front end prints it with the core: the PPD's defaults as its
// choices, lines read from the raster and pushed, the stream written to
// memory. With `cancelAfterLastPage` the job is cancelled once its last page
// is in, before the end of its input is seen.
std::string printThroughCore(const zeru::ColourLibrary& library, const std::string& ppdPath,
                             const std::string& rasterPath, bool cancelAfterLastPage = false) {
  DefaultChoices choices(ppdPath);
  EXPECT_TRUE(choices.ok());
  if (!choices.ok()) return {};
  zeru::JobOptions options;
  options.title = kTitle;
  options.user = kUser;
  options.choices = &choices;
  options.model = modelOf(choices.product());
  options.rasterArea = zeru::RasterArea::AsGiven;
  options.library = &library;
  std::atomic<bool> cancelled{false};
  zeru::JobEvents events;
  events.cancelled = [&cancelled] { return cancelled.load(); };

  zeru::StringSink sink;
  zeru::Job job(sink, options, events);
  int fd = open(rasterPath.c_str(), O_RDONLY);
  cups_raster_t* raster = cupsRasterOpen(fd, CUPS_RASTER_READ);
  cups_page_header2_t header{};
  while (cupsRasterReadHeader2(raster, &header)) {
    EXPECT_EQ(job.startPage(zeru::pageHeaderFrom(header)), zeru::PageStart::Render);
    for (unsigned y = 0; y < header.cupsHeight; ++y) {
      std::span<unsigned char> line = job.line();
      EXPECT_EQ(cupsRasterReadPixels(raster, line.data(), header.cupsBytesPerLine),
                header.cupsBytesPerLine);
      job.pushLine();
    }
    EXPECT_FALSE(job.endPage().failed());
  }
  cupsRasterClose(raster);
  close(fd);
  if (cancelAfterLastPage) cancelled = true;
  EXPECT_FALSE(job.finish().failed());
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

  zeru::ColourLibrary library;
  ASSERT_FALSE(library.load({ZERU_STANDIN_ENGINE}).failed());
  std::string colour, gray;
  std::thread first([&] { colour = printThroughCore(library, dir.file("job.ppd"), dir.file("colour.ras")); });
  std::thread second([&] { gray = printThroughCore(library, dir.file("job.ppd"), dir.file("gray.ras")); });
  first.join();
  second.join();

  EXPECT_GT(expected[0].size(), 1000u);
  EXPECT_TRUE(withoutClock(colour) == expected[0]) << "colour job differs";
  EXPECT_TRUE(withoutClock(gray) == expected[1]) << "grayscale job differs";
}

// A printer connection that takes `room` bytes and refuses the rest.
class NarrowSink : public zeru::ByteSink {
 public:
  explicit NarrowSink(size_t room) : room_(room) {}
  bool write(const void* data, size_t length) override {
    if (length > room_) {
      errno = EIO;
      return false;
    }
    room_ -= length;
    bytes.append(static_cast<const char*>(data), length);
    return true;
  }
  std::string bytes;

 private:
  size_t room_;
};

// A job of no pages is its header and trailer alone: the printer refusing
// either is the job failing, not a job printed.
TEST(CoreApi, AJobWhoseHeaderOrTrailerIsRefusedFails) {
  TempDir dir("core-api-refused");
  PpdBuilder().writeTo(dir.file("job.ppd"));
  DefaultChoices choices(dir.file("job.ppd"));
  ASSERT_TRUE(choices.ok());
  zeru::JobOptions options;
  options.choices = &choices;
  options.model = modelOf(choices.product());
  const std::string trailer = "\x1b%-12345X@PJL EOJ\r\n";

  zeru::StringSink whole;
  ASSERT_FALSE(zeru::Job(whole, options, {}).finish().failed());
  ASSERT_GT(whole.bytes.size(), trailer.size());
  ASSERT_EQ(whole.bytes.substr(whole.bytes.size() - trailer.size()), trailer);

  for (size_t room : {size_t{0}, whole.bytes.size() - trailer.size()}) {
    NarrowSink sink(room);
    zeru::Job job(sink, options, {});
    EXPECT_TRUE(job.finish().failed()) << "room for " << room << " bytes";
    EXPECT_EQ(job.failure().kind, zeru::FailureKind::OutputWrite) << room;
    EXPECT_NE(job.failure().message.find("Input/output error"), std::string::npos)
        << job.failure().message;
  }
}

// A two-sided job whose kept pages are odd in number once blank-sheet saving
// has dropped one, with collated copies: the core adds the filler page and
// sends the collated order, as the filter binary does. Cancelled once its
// last page is in, it stops as the filter stops when the signal comes while
// it waits for more input.
TEST(CoreApi, TwoSidedJobWithDroppedPageCopiesAndCancelGivesTheFiltersStreams) {
  if (!canRunFilter()) GTEST_SKIP() << "the filter runs need root";
  TempDir dir("core-api-duplex");
  PpdBuilder()
      .setDefault("DrvDuplex", "DrvDuplexNoTumble")
      .setDefault("AKSaveBlankSheet", "True")
      .setDefault("Collate", "True")
      .writeTo(dir.file("job.ppd"));
  std::vector<RasterPage> pages = {bandedPage(1, true, 600), grayPage(makeHeader(144, 144, 600, false)),
                                   bandedPage(2, false, 600), bandedPage(3, true, 600)};
  for (RasterPage& page : pages) page.header.NumCopies = 2;
  writeRasterFile(dir.file("job.ras"), pages);

  zeru::ColourLibrary library;
  ASSERT_FALSE(library.load({ZERU_STANDIN_ENGINE}).failed());
  for (bool cancel : {false, true}) {
    SCOPED_TRACE(cancel ? "cancelled after the last page" : "whole job");
    FilterRun run;
    run.ppd = dir.file("job.ppd");
    run.user = kUser;
    run.title = kTitle;
    run.engine = EngineMount::standin();
    run.stdinFile = dir.file("job.ras");
    if (cancel) {
      // The last kept page is counted, then the filter waits for input.
      run.holdStdinOpen = true;
      run.sigtermOnStderr = "PAGE: 3 2\n";
    }
    FilterResult result = runFilter(run);
    ASSERT_EQ(result.exitStatus, 0) << result.describe();
    ASSERT_EQ(result.sigtermSent, cancel);

    std::string core = printThroughCore(library, dir.file("job.ppd"), dir.file("job.ras"), cancel);
    // A cancelled job is its header, the page being sent with the cancel
    // mark, and the abort trailer.
    EXPECT_GT(result.out.size(), cancel ? 300u : 10000u);
    EXPECT_TRUE(withoutClock(core) == withoutClock(result.out)) << "the core's stream differs";
  }
}
