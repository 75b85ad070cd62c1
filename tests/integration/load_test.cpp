// Long jobs: thousands of pages run to completion, every spool file goes, and
// the filter's memory does not grow with the page count.
#include "job_fixture.h"

#include <sys/resource.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "job/spool.h"

using namespace zerutest;

namespace {

constexpr unsigned kHalfInch = 36;   // 300 x 300 dots, device line 512

// Under AddressSanitizer freed memory waits in a quarantine and every
// allocation has its shadow, and ThreadSanitizer shadows every access: the
// filter's peak then says nothing about leaks or growth, and only the figures
// are reported. ThreadSanitizer also runs each page many times slower, and a
// tenth of the pages shows every thread of the job as well.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kPeakMemoryMeaningful = false;
#else
constexpr bool kPeakMemoryMeaningful = true;
#endif

// Under qemu-user (the arm builds' test runs, which set ZERU_EMULATED)
// memory that a thread frees stays resident: with qemu 7.2, a thread a round
// that allocates and frees 2.3 MB adds about 285 KiB of resident memory a
// round, where the same program stays flat natively. The peak then grows
// with the pages however the job releases them, and only the figures are
// reported.
bool peakMemoryMeaningful() {
  const char* emulated = getenv("ZERU_EMULATED");
  return kPeakMemoryMeaningful && (emulated == nullptr || *emulated == '\0');
}
#if defined(__SANITIZE_THREAD__)
constexpr int kLargeJobShare = 10;
#else
constexpr int kLargeJobShare = 1;
#endif
constexpr int kManyGrayPages = 3000 / kLargeJobShare;
constexpr int kManyColourPages = 200 / kLargeJobShare;

// Half-inch pages written compressed: a 3000-page job is a few megabytes of
// raster, streamed from a file.
struct LoadJob {
  TempDir dir{"load"};
  FilterRun run;

  LoadJob(int pageCount, bool colour) {
    PpdBuilder().writeTo(dir.file("job.ppd"));
    std::vector<RasterPage> pages;
    for (int i = 0; i < pageCount; ++i)
      pages.push_back(markedPage(1 + i % 4, colour, 600, kHalfInch));
    RasterJobOptions options;
    options.format = RasterFormat::Version2Compressed;
    writeRasterFile(dir.file("job.ras"), pages, options);
    run.ppd = dir.file("job.ppd");
    run.stdinFile = dir.file("job.ras");
    run.timeoutMs = 300000;
  }
};

long ownMaxRssKb() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// Runs the job and checks it ended complete: every page, in order, and
// nothing left in the spool directory.
FilterResult runComplete(LoadJob& job, int pageCount, bool colour) {
  FilterResult result = runFilter(job.run);
  EXPECT_FALSE(result.timedOut) << result.describe();
  EXPECT_EQ(result.exitStatus, 0) << result.describe();
  EXPECT_TRUE(result.leftFiles.empty()) << result.leftFiles.size() << " files left, first "
                                        << result.leftFiles.front();
  EXPECT_NE(result.err.find("INFO: Ready to print.\n"), std::string::npos);
  EXPECT_EQ(result.err.find("Sanitizer"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("PAGE: " + std::to_string(pageCount) + " 1\n"), std::string::npos);
  // Each page's mark is taken as it is decoded, and its planes let go.
  std::vector<int> ids;
  ParseOptions options;
  options.pageDone = [&ids](PageBlock& page) {
    ids.push_back(markedPageId(page));
    page.planes.clear();
  };
  JobStream stream = parseJobStream(
      std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(result.out.data()),
                               result.out.size()),
      options);
  EXPECT_TRUE(stream.clean()) << problemsOf(stream);
  EXPECT_EQ(stream.trailer, TrailerForm::Eoj);
  EXPECT_EQ(stream.pages.size(), static_cast<size_t>(pageCount));
  // Sent last-first: the marks run 4, 3, 2, 1 backwards from the last page.
  bool inOrder = ids.size() == static_cast<size_t>(pageCount);
  for (size_t i = 0; inOrder && i < ids.size(); ++i)
    inOrder = ids[i] == 1 + (pageCount - 1 - static_cast<int>(i)) % 4;
  EXPECT_TRUE(inOrder);
  for (const PageBlock& page : stream.pages) {
    EXPECT_EQ(page.colour, colour);
    EXPECT_EQ(page.cancelMark, 0);
  }
  return result;
}

}  // namespace

TEST(LoadJob, ThousandsOfGrayPagesRunFlatInMemory) {
  ZERU_REQUIRE_FILTER_RUNS();
  LoadJob small(100, false);
  LoadJob large(kManyGrayPages, false);
  FilterResult smallResult = runComplete(small, 100, false);
  FilterResult largeResult = runComplete(large, kManyGrayPages, false);
  fprintf(stderr,
          "filter peak RSS (VmHWM): 100 gray pages %ld KiB, %d gray pages %ld KiB; "
          "rusage maxrss %ld / %ld KiB; test process %ld KiB\n",
          smallResult.peakRssKb, kManyGrayPages, largeResult.peakRssKb, smallResult.maxRssKb,
          largeResult.maxRssKb, ownMaxRssKb());
  ASSERT_GT(smallResult.peakRssKb, 0);
  // Per-page state is released with its page. What stays is the spool slot
  // table: a file name buffer per kept page. 30 times the pages may cost no
  // more than those and a megabyte of allocator slack.
  long slotTableKb = static_cast<long>((kManyGrayPages - 100) * (kSpoolNameSize + 64) / 1024);
  if (peakMemoryMeaningful()) {
    EXPECT_LE(largeResult.peakRssKb, smallResult.peakRssKb + slotTableKb + 1024);
  }
}

TEST(LoadJob, TwoHundredColourPagesRunToCompletion) {
  ZERU_REQUIRE_FILTER_RUNS();
  LoadJob small(20, true);
  LoadJob large(kManyColourPages, true);
  FilterResult smallResult = runComplete(small, 20, true);
  FilterResult largeResult = runComplete(large, kManyColourPages, true);
  fprintf(stderr, "filter peak RSS (VmHWM): 20 colour pages %ld KiB, %d colour pages %ld KiB\n",
          smallResult.peakRssKb, kManyColourPages, largeResult.peakRssKb);
  ASSERT_GT(smallResult.peakRssKb, 0);
  if (peakMemoryMeaningful()) {
    EXPECT_LE(largeResult.peakRssKb, smallResult.peakRssKb + 1024);
  }
}
