// Faults around the job: a spool disk that fills or is missing, an output that
// fails or loses its reader, cancellation at every phase, a log that cannot be
// written, a colour library without all its entry points.
#include "job_fixture.h"

#include <cstdint>
#include <string>
#include <vector>

using namespace zerutest;

namespace {

// A cancelled job: status 0, the job header, no page, the abort trailer.
void expectCancelledJob(const FilterResult& result) {
  expectOrderlyEnd(result);
  EXPECT_TRUE(result.sigtermSent);
  EXPECT_EQ(result.exitStatus, 0) << result.describe();
  EXPECT_NE(result.err.find("INFO: Ready to print - Job canceled.\n"), std::string::npos);
  EXPECT_EQ(result.err.find("INFO: Ready to print.\n"), std::string::npos);
  JobStream stream = readStream(result.out);
  EXPECT_TRUE(stream.clean()) << problemsOf(stream);
  EXPECT_TRUE(stream.hasJobStart);
  EXPECT_EQ(stream.trailer, TrailerForm::EojAbort);
}

// A gray page of noise, `points` square at 600 dpi: its spool file and its
// page block are about as large as its planes.
RasterPage noisePage(unsigned points) {
  return grayPage(makeHeader(points, points, 600, false), [](unsigned x, unsigned y) {
    return static_cast<uint8_t>(noiseDot(x, y) ? 0 : 255);
  });
}

std::vector<RasterPage> markedPages(int count, bool colour = false) {
  std::vector<RasterPage> pages;
  for (int id = 1; id <= count; ++id) pages.push_back(markedPage(id, colour));
  return pages;
}

}  // namespace

// ---- The spool directory ----

TEST(SpoolFaults, DiskThatFillsOnALaterPageEndsTheJobAndLeavesNothing) {
  ZERU_REQUIRE_FILTER_RUNS();
  for (const char* duplex : {"None", "DrvDuplexNoTumble"}) {
    SCOPED_TRACE(duplex);
    JobRun job;
    job.ppd.setDefault("DrvDuplex", duplex);
    // One-inch noise pages of some 80 KB each: the first few fit on the disk.
    for (int i = 0; i < 10; ++i) job.pages.push_back(noisePage(72));
    job.run.smallTmpfsBytes = 256 * 1024;
    job.run.timeoutMs = 30000;
    FilterResult result = job.go();
    expectOrderlyEnd(result);
    EXPECT_EQ(result.exitStatus, 1) << result.describe();
    EXPECT_NE(result.err.find("PAGE: 2 1"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("ERROR: "), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("INFO: Ready to print."), std::string::npos);
    // No job header was sent; a two-sided job names its spool template in a
    // comment line first.
    if (result.out.rfind("@PJL COMMENT ", 0) == 0)
      EXPECT_EQ(result.out, "@PJL COMMENT /tmp/tmp-XXXXXX\r\n");
    else
      EXPECT_EQ(result.out, "");
  }
}

// TMPDIR naming a directory that does not exist: no spool file can be made,
// the job ends before its header with the reason.
TEST(SpoolFaults, MissingSpoolDirectoryFailsBeforeTheHeader) {
  ZERU_REQUIRE_FILTER_RUNS();
  JobRun job;
  job.pages = markedPages(2);
  job.run.tmpdir = "/tmp/no-such-directory";
  FilterResult result = job.go();
  expectOrderlyEnd(result);
  EXPECT_EQ(result.exitStatus, 1) << result.describe();
  EXPECT_NE(result.err.find("PAGE: 1 1"), std::string::npos);
  EXPECT_NE(result.err.find("ERROR: Collating enabled mkstemp [/tmp/] -> No such file or directory\n"),
            std::string::npos)
      << result.err;
  EXPECT_EQ(result.out, "");
}

TEST(SpoolFaults, UnwritableSpoolDirectoryFailsBeforeTheHeader) {
  ZERU_REQUIRE_FILTER_RUNS();
  {
    JobRun job;
    job.pages = markedPages(2);
    job.run.readOnlyTmp = true;
    FilterResult result = job.go();
    expectOrderlyEnd(result);
    EXPECT_EQ(result.exitStatus, 1) << result.describe();
    EXPECT_NE(result.err.find("ERROR: Collating enabled mkstemp [/tmp/] -> Read-only file system\n"),
              std::string::npos)
        << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_FALSE(result.logExists);
  }
  {
    JobRun job;
    job.ppd.setDefault("DrvDuplex", "DrvDuplexNoTumble");
    job.pages = markedPages(2);
    job.run.readOnlyTmp = true;
    FilterResult result = job.go();
    expectOrderlyEnd(result);
    EXPECT_EQ(result.exitStatus, 1) << result.describe();
    EXPECT_NE(result.err.find("ERROR: Duplex enabled mkstemp -> Read-only file system\n"),
              std::string::npos)
        << result.err;
    EXPECT_EQ(result.out, "@PJL COMMENT /tmp/tmp-XXXXXX\r\n");
  }
}

// The log's directory cannot be written, the spool directory can: the job
// prints as always, without a log.
TEST(SpoolFaults, UnwritableLogDirectoryStillPrints) {
  ZERU_REQUIRE_FILTER_RUNS();
  for (bool colour : {false, true}) {
    JobRun job;
    job.pages = markedPages(3, colour);
    job.run.readOnlyTmp = true;
    job.run.smallTmpfsBytes = 16 << 20;   // TMPDIR, writable
    FilterResult result = job.go();
    expectOrderlyEnd(result);
    EXPECT_EQ(result.exitStatus, 0) << result.describe();
    EXPECT_FALSE(result.logExists);
    EXPECT_NE(result.err.find("INFO: Ready to print.\n"), std::string::npos);
    JobStream stream = readStream(result.out);
    expectCompleteStream(stream);
    EXPECT_EQ(markedPageIds(stream), (std::vector<int>{3, 2, 1}));
  }
}

// ---- Standard output ----

// An output that fails for good (a full disk behind it): the job ends with an
// error instead of retrying without end, and takes its spool files along.
TEST(OutputFaults, FailingOutputEndsTheJobWithAnError) {
  ZERU_REQUIRE_FILTER_RUNS();
  for (const char* duplex : {"None", "DrvDuplexNoTumble"}) {
    SCOPED_TRACE(duplex);
    JobRun job;
    job.ppd.setDefault("DrvDuplex", duplex);
    job.pages = markedPages(3);
    job.run.stdoutToDevFull = true;
    job.run.timeoutMs = 30000;
    FilterResult result = job.go();
    expectOrderlyEnd(result);
    EXPECT_EQ(result.exitStatus, 1) << result.describe();
    EXPECT_NE(result.err.find("ERROR: Unable to write the job to the printer: No space left on device\n"),
              std::string::npos)
        << result.err;
    EXPECT_EQ(result.err.find("INFO: Ready to print."), std::string::npos);
  }
}

// The reader goes away at the start, in the job header, and in the middle of
// a page: SIGPIPE ends the job at once, with status 0 and no spool file left.
TEST(OutputFaults, LostReaderInEveryPhaseEndsTheJobCleanly) {
  ZERU_REQUIRE_FILTER_RUNS();
  // Each page is far larger than a pipe holds, so that the filter is still
  // writing when the reader goes.
  std::vector<RasterPage> pages = {noisePage(144), noisePage(144), noisePage(144)};
  for (size_t after : {size_t{0}, size_t{100}, size_t{600}, size_t{20000}, size_t{200000}}) {
    SCOPED_TRACE("reader gone after " + std::to_string(after) + " bytes");
    for (const char* duplex : {"None", "DrvDuplexNoTumble"}) {
      SCOPED_TRACE(duplex);
      JobRun job;
      job.ppd.setDefault("DrvDuplex", duplex);
      job.pages = pages;
      job.run.closeStdoutAfterBytes = after;
      job.run.timeoutMs = 30000;
      FilterResult result = job.go();
      expectOrderlyEnd(result);
      EXPECT_TRUE(result.stdoutClosedEarly);
      EXPECT_EQ(result.exitStatus, 0) << result.describe();
      EXPECT_NE(result.err.find("ERROR: SIGPIPE Job Abort.\n"), std::string::npos) << result.err;
      EXPECT_EQ(result.err.find("INFO: Ready to print."), std::string::npos);
      EXPECT_LE(result.out.size(), after);
    }
  }
}

// A printer that stops taking data for a few seconds (out of paper, a backend
// waiting) on a non-blocking connection: the filter waits for it, and the
// whole job arrives.
TEST(OutputFaults, StalledPrinterIsWaitedForAndGetsTheWholeJob) {
  ZERU_REQUIRE_FILTER_RUNS();
  for (const char* duplex : {"None", "DrvDuplexNoTumble"}) {
    SCOPED_TRACE(duplex);
    JobRun job;
    job.ppd.setDefault("DrvDuplex", duplex);
    // Pages far larger than a pipe holds: the filter meets the full pipe.
    job.pages = {noisePage(144), noisePage(144)};
    job.run.nonBlockingStdout = true;
    job.run.stallStdoutMs = 2500;
    job.run.timeoutMs = 30000;
    FilterResult result = job.go();
    expectOrderlyEnd(result);
    EXPECT_EQ(result.exitStatus, 0) << result.describe();
    EXPECT_NE(result.err.find("INFO: Ready to print.\n"), std::string::npos) << result.err;
    JobStream stream = readStream(result.out);
    expectCompleteStream(stream);
    EXPECT_EQ(stream.pages.size(), 2u);
  }
}

// A stalled printer does not hold a cancelled job: the job ends while the
// printer still takes nothing, and leaves nothing behind.
TEST(OutputFaults, CancelEndsTheWaitForAStalledPrinter) {
  ZERU_REQUIRE_FILTER_RUNS();
  JobRun job;
  job.pages = {noisePage(144), noisePage(144)};
  job.run.nonBlockingStdout = true;
  job.run.stallStdoutMs = 20000;
  job.run.sigtermAfterMs = 3000;
  job.run.timeoutMs = 60000;
  FilterResult result = job.go();
  expectOrderlyEnd(result);
  // What the pipe took before the printer stalled is all that was sent: the
  // filter was gone before the printer read again.
  EXPECT_LE(result.out.size(), 65536u);
  EXPECT_NE(result.err.find("INFO: Ready to print - Job canceled.\n"), std::string::npos)
      << result.err;
  EXPECT_EQ(result.err.find("INFO: Ready to print.\n"), std::string::npos);
}

// ---- Cancellation ----

// SIGTERM while the filter waits for input that the program before it keeps
// open: the cancelled job ends at once, without waiting for an end of input.
TEST(CancelFaults, TermWhileWaitingForInputEndsTheJob) {
  ZERU_REQUIRE_FILTER_RUNS();
  std::string whole = rasterJobBytes(markedPages(2));
  size_t pageBytes = (whole.size() - 4) / 2;
  struct Wait {
    const char* name;
    size_t bytes;
    const char* trigger;
  };
  const std::vector<Wait> waits = {
      {"for the first header", 4, "INFO: cupsRasterReadHeader2 start"},
      {"for the rest of page 1", 4 + 1796 + 1000, "INFO: Printing page 1, 0% complete"},
      {"for page 2", 4 + pageBytes, "PAGE: 1 1"},
      {"after the last page", whole.size(), "PAGE: 2 1"},
  };
  for (const Wait& wait : waits) {
    SCOPED_TRACE(wait.name);
    JobRun job;
    job.ppd.writeTo(job.dir.file("job.ppd"));
    job.run.ppd = job.dir.file("job.ppd");
    job.run.stdinBytes = whole.substr(0, wait.bytes);
    job.run.holdStdinOpen = true;
    job.run.sigtermOnStderr = wait.trigger;
    job.run.timeoutMs = 20000;
    FilterResult result = runFilter(job.run);
    expectCancelledJob(result);
    EXPECT_TRUE(readStream(result.out).pages.empty());
  }
}

// SIGTERM right after the start, during a page, between pages and during
// the last page: the job always ends by its own path, with the abort trailer
// and without a page.
TEST(CancelFaults, TermInEveryPhaseOfThePageLoop) {
  ZERU_REQUIRE_FILTER_RUNS();
  const std::vector<const char*> triggers = {
      "INFO: ppdFindMarkedChoice DrvDuplex start",
      "INFO: cupsRasterOpen  start",
      "PAGE: 1 1",
      "INFO: Printing page 1, 42% complete",
      "INFO: Printing page 1, 85% complete",   // the last lines of page 1
      "PAGE: 2 1",
      "PAGE: 3 1",                              // the last page
      "INFO: Printing page 3, 85% complete",
  };
  for (bool colour : {false, true}) {
    for (const char* trigger : triggers) {
      SCOPED_TRACE(std::string(colour ? "colour, " : "gray, ") + trigger);
      JobRun job;
      job.pages = markedPages(3, colour);
      job.run.sigtermOnStderr = trigger;
      job.run.timeoutMs = 30000;
      FilterResult result = job.go();
      expectCancelledJob(result);
      EXPECT_TRUE(readStream(result.out).pages.empty());
    }
  }
}

// SIGTERM while a page is being sent to a printer that takes no data: the page
// is finished with the cancel mark, nothing follows it.
TEST(CancelFaults, TermWhileSendingMarksThePageCancelled) {
  ZERU_REQUIRE_FILTER_RUNS();
  JobRun job;
  job.pages = {noisePage(144), noisePage(144), noisePage(144)};
  job.run.pauseStdoutUntilSigterm = true;
  // Pages of some 300 KB: the first one sent fills the pipe, and the filter
  // waits there until the signal (whenever it comes, the outcome below holds).
  job.run.sigtermAfterMs = 3000;
  job.run.timeoutMs = 30000;
  FilterResult result = job.go();
  expectCancelledJob(result);
  JobStream stream = readStream(result.out);
  ASSERT_LE(stream.pages.size(), 1u);
  if (!stream.pages.empty()) {
    EXPECT_TRUE(stream.pages[0].hasEnd);
    EXPECT_EQ(stream.pages[0].cancelMark, 1);
  }
}

// ---- The colour library ----

// A library without an entry point that every page goes through: the filter
// never calls through the missing pointer, it ends with a clear error.
TEST(EngineFaults, MissingScreenTonerEntryEndsTheJobWithAnError) {
  ZERU_REQUIRE_FILTER_RUNS();
  for (bool colour : {false, true}) {
    SCOPED_TRACE(colour ? "colour" : "gray");
    JobRun job;
    job.pages = markedPages(2, colour);
    job.run.engine = EngineMount::file(ZERU_PARTIAL_ENGINE);
    FilterResult result = job.go();
    expectOrderlyEnd(result);
    EXPECT_EQ(result.termSignal, 0);
    EXPECT_EQ(result.exitStatus, 1) << result.describe();
    EXPECT_NE(result.err.find("PAGE: 1 1\nERROR: The colour library has no entry point "
                              "UpdateScreenTonerTRC\n"),
              std::string::npos)
        << result.err;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.engineLog.find("CreateZARVEL"), std::string::npos);
  }
}

TEST(EngineFaults, MissingScreenThreadEntryIsNamedAtLoadAndEndsTheJob) {
  ZERU_REQUIRE_FILTER_RUNS();
  JobRun job;
  job.pages = markedPages(2, true);
  job.run.engine = EngineMount::file(ZERU_NOTHREAD_ENGINE);
  FilterResult result = job.go();
  expectOrderlyEnd(result);
  EXPECT_EQ(result.exitStatus, 1) << result.describe();
  EXPECT_NE(result.err.find("ERROR: The colour library has no entry point UpdateScreenThread\n"),
            std::string::npos)
      << result.err;
  // The load's own notice is all that reached standard output.
  EXPECT_EQ(result.out, "pfUpdateScreenThread = NULL");
}

// Without a page the incomplete library is never needed: the job is the
// header, the load notice before it, and the trailer.
TEST(EngineFaults, IncompleteLibraryIsHarmlessWithoutPages) {
  ZERU_REQUIRE_FILTER_RUNS();
  JobRun job;
  job.run.engine = EngineMount::file(ZERU_NOTHREAD_ENGINE);
  FilterResult result = job.go();
  expectOrderlyEnd(result);
  EXPECT_EQ(result.exitStatus, 0) << result.describe();
  const std::string notice = "pfUpdateScreenThread = NULL";
  ASSERT_EQ(result.out.rfind(notice, 0), 0u);
  JobStream stream = readStream(result.out.substr(notice.size()));
  expectCompleteStream(stream);
  EXPECT_TRUE(stream.pages.empty());
}
