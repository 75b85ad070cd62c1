// The filter's start-up, page walk and shutdown, run as CUPS runs it.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <string>
#include <vector>

#include "job_fixture.h"

using namespace zerutest;

namespace {

size_t positionOf(const std::string& text, const std::string& needle) {
  size_t at = text.find(needle);
  EXPECT_NE(at, std::string::npos) << "missing: " << needle;
  return at;
}

// A run directory made by the test, so that something can be planted at the
// log's path before the filter starts; returns the log's host path.
std::string plantableLogPath(JobRun& job) {
  job.run.runDir = job.dir.file("run");
  EXPECT_EQ(mkdir(job.run.runDir->c_str(), 01777), 0);
  EXPECT_EQ(chmod(job.run.runDir->c_str(), 01777), 0);
  return *job.run.runDir + "/" + kFilterLogName;
}

// The log at `path` is the filter's own: a regular file readable by its user
// only, holding the job's lines.
void expectOwnLog(const std::string& path, uid_t owner) {
  struct stat info {};
  ASSERT_EQ(lstat(path.c_str(), &info), 0);
  ASSERT_TRUE(S_ISREG(info.st_mode)) << "mode " << std::oct << info.st_mode;
  EXPECT_EQ(info.st_uid, owner);
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  EXPECT_NE(readFile(path).find("STATE: Job Finished\n"), std::string::npos);
}

}  // namespace

TEST(FilterLifecycle, WrongArgumentCountEndsSilentlyAfterTruncatingTheLog) {
  ZERU_REQUIRE_FILTER_RUNS();
  TempDir dir("args");
  PpdBuilder().writeTo(dir.file("t.ppd"));
  for (size_t count : {5u, 8u}) {
    FilterRun run;
    run.ppd = dir.file("t.ppd");
    std::vector<std::string> argv = {"queue", "1", "user", "title", "1", "", "x", "y"};
    argv.resize(count);
    run.argv = argv;
    run.tmpFiles["zemro_filter.log"] = "an old job's lines\n";
    FilterResult result = runFilter(run);
    EXPECT_TRUE(result.exited) << result.describe();
    EXPECT_EQ(result.exitStatus, 1) << count;
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
    EXPECT_TRUE(result.logExists);
    EXPECT_EQ(result.log, "");
  }
}

TEST(FilterLifecycle, StartUpFailuresSayWhy) {
  ZERU_REQUIRE_FILTER_RUNS();
  TempDir dir("startup");
  PpdBuilder().writeTo(dir.file("t.ppd"));
  std::string raster = rasterJobBytes({markedPage(1)});

  FilterRun missingRaster;
  missingRaster.ppd = dir.file("t.ppd");
  missingRaster.rasterFile = dir.file("no-such.ras");
  FilterResult result = runFilter(missingRaster);
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(result.err, "ERROR: Unable to open raster file - : No such file or directory\n");
  EXPECT_EQ(result.out, "");

  FilterRun badPpd;
  writeFile(dir.file("bad.ppd"), "not a PPD\n");
  badPpd.ppd = dir.file("bad.ppd");
  badPpd.stdinBytes = raster;
  result = runFilter(badPpd);
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_NE(result.err.find("ERROR: Unable to load PPD\n"), std::string::npos) << result.err;
  EXPECT_EQ(result.out, "");

  FilterRun noPpd;
  noPpd.stdinBytes = raster;
  result = runFilter(noPpd);
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_NE(result.err.find("ERROR: Unable to load PPD\n"), std::string::npos);

  FilterRun noEngine;
  noEngine.ppd = dir.file("t.ppd");
  noEngine.stdinBytes = raster;
  noEngine.engine = EngineMount::none();
  result = runFilter(noEngine);
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(result.err.rfind("ERROR: zarvelmac open fail:", 0), 0u) << result.err;
  EXPECT_EQ(result.out, "");
}

TEST(FilterLifecycle, ThreePagesWalkedAndTheJobEndsReady) {
  ZERU_REQUIRE_FILTER_RUNS();
  JobRun job;
  job.pages = {markedPage(1), markedPage(2), markedPage(3)};
  FilterResult result = job.go();
  ASSERT_EQ(result.exitStatus, 0) << result.describe();
  EXPECT_NE(result.err.find("PAGE: 1 1\n"), std::string::npos);
  EXPECT_NE(result.err.find("PAGE: 2 1\n"), std::string::npos);
  EXPECT_NE(result.err.find("PAGE: 3 1\n"), std::string::npos);
  EXPECT_EQ(result.err.size() - result.err.rfind("INFO: Ready to print.\n"),
            std::string("INFO: Ready to print.\n").size());

  // The trace lines of a job, in their order.
  size_t toner = positionOf(result.log, "STATE: TonerMode done\n");
  size_t balance = positionOf(result.log, "STATE: fillColorBalance done\n");
  size_t brightness = positionOf(result.log, "STATE: Brightnessgraphic done\n");
  size_t setup = positionOf(result.log, "STATE: Setup\n");
  size_t shutdown = positionOf(result.log, "STATE: Shutdown Filter\n");
  size_t closed = positionOf(result.log, "STATE: cupsRasterClose\n");
  size_t finished = positionOf(result.log, "STATE: Job Finished\n");
  EXPECT_LT(toner, balance);
  EXPECT_LT(balance, brightness);
  EXPECT_LT(brightness, setup);
  EXPECT_LT(setup, shutdown);
  EXPECT_LT(shutdown, closed);
  EXPECT_LT(closed, finished);
  EXPECT_EQ(occurrences(result.log, "STATE: TonerMode done\n"), 3u);
  EXPECT_TRUE(result.leftFiles.empty());
}

TEST(FilterLifecycle, RasterWithoutPagesGivesHeaderAndTrailerOnly) {
  ZERU_REQUIRE_FILTER_RUNS();
  JobRun job;
  job.ppd.writeTo(job.dir.file("job.ppd"));
  job.run.ppd = job.dir.file("job.ppd");
  job.run.stdinBytes = "3SaR";   // a raster stream that holds no page
  FilterResult result = runFilter(job.run);
  ASSERT_EQ(result.exitStatus, 0) << result.describe();
  JobStream stream = readStream(result.out);
  EXPECT_TRUE(stream.clean()) << problemsOf(stream);
  EXPECT_TRUE(stream.hasJobStart);
  EXPECT_TRUE(stream.pages.empty());
  EXPECT_EQ(stream.trailer, TrailerForm::Eoj);
  EXPECT_EQ(result.out.substr(result.out.size() - 19), std::string("\x1b%-12345X@PJL EOJ\r\n"));
  EXPECT_NE(result.err.find("INFO: Ready to print.\n"), std::string::npos);

  // An empty input is no raster at all: still header and trailer.
  JobRun empty;
  FilterResult nothing = empty.go();
  EXPECT_EQ(nothing.exitStatus, 0);
  EXPECT_EQ(readStream(nothing.out).trailer, TrailerForm::Eoj);
}

TEST(FilterLifecycle, TermAfterTheLibraryLoadsCancelsTheJob) {
  ZERU_REQUIRE_FILTER_RUNS();
  JobRun job;
  // Full-size pages, so that the job is still running when the signal comes.
  for (int i = 0; i < 4; ++i) job.pages.push_back(grayPage(a4Header(600, false)));
  job.run.sigtermOnStderr = "INFO: cupsRasterOpen  start";
  FilterResult result = job.go();
  ASSERT_TRUE(result.exited) << result.describe();
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_NE(result.err.find("INFO: Ready to print - Job canceled.\n"), std::string::npos);
  EXPECT_EQ(result.err.find("INFO: Ready to print.\n"), std::string::npos);
  JobStream stream = readStream(result.out);
  EXPECT_EQ(stream.trailer, TrailerForm::EojAbort);
  EXPECT_TRUE(stream.pages.empty());
  EXPECT_TRUE(result.leftFiles.empty());
}

TEST(FilterLifecycle, PlantedSymlinkAtTheLogPathIsNotFollowed) {
  ZERU_REQUIRE_FILTER_RUNS();
  JobRun job;
  job.pages = {markedPage(1)};
  TempDir victimDir("victim");
  std::string victim = victimDir.file("precious");
  writeFile(victim, "keep me\n");
  // The symlink is made inside the run's /tmp; it points at a host file.
  job.run.runDir = job.dir.file("run");
  ASSERT_EQ(mkdir(job.run.runDir->c_str(), 01777), 0);
  ASSERT_EQ(symlink(victim.c_str(), (*job.run.runDir + "/zemro_filter.log").c_str()), 0);
  FilterResult result = job.go();
  EXPECT_EQ(result.exitStatus, 0) << result.describe();
  EXPECT_EQ(readFile(victim), "keep me\n");
}

// The log holds titles, user names and options: readable by the filter's
// own user only, also when an earlier job left it readable by all.
TEST(FilterLifecycle, LogIsPrivateToTheFiltersUser) {
  ZERU_REQUIRE_FILTER_RUNS();
  for (bool oldLog : {false, true}) {
    SCOPED_TRACE(oldLog ? "old log readable by all" : "no log yet");
    JobRun job;
    job.pages = {markedPage(1)};
    job.run.runDir = job.dir.file("run");
    ASSERT_EQ(mkdir(job.run.runDir->c_str(), 01777), 0);
    std::string log = *job.run.runDir + "/zemro_filter.log";
    if (oldLog) {
      writeFile(log, "an older job\n");
      ASSERT_EQ(chmod(log.c_str(), 0644), 0);
    }
    FilterResult result = job.go();
    EXPECT_EQ(result.exitStatus, 0) << result.describe();
    struct stat info {};
    ASSERT_EQ(stat(log.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(result.log.find("an older job"), std::string::npos);
  }
}

// Signals sent to the filter (a cancel, a lost reader, the timer) are taken
// by its main thread only: every other thread blocks them.
TEST(FilterLifecycle, ThreadsOtherThanTheMainOneBlockTheHandledSignals) {
  ZERU_REQUIRE_FILTER_RUNS();
  JobRun job;
  // Colour pages large enough for line workers, compression and spooling
  // threads to be seen while they run.
  for (int id = 1; id <= 3; ++id) job.pages.push_back(markedPage(id, true, 600, 288));
  job.run.watchThreadSignals = true;
  FilterResult result = job.go();
  EXPECT_EQ(result.exitStatus, 0) << result.describe();
  ASSERT_FALSE(result.threadBlockedSignals.empty()) << "no thread seen";
  const uint64_t handled =
      (1ull << (SIGTERM - 1)) | (1ull << (SIGPIPE - 1)) | (1ull << (SIGALRM - 1));
  for (const auto& [tid, mask] : result.threadBlockedSignals)
    EXPECT_EQ(mask & handled, handled) << "thread " << tid << " mask " << std::hex << mask;
}

// A two-sided job logs a line for every raster line it reads: the log keeps
// the first of them, then says once that the rest are left out. Every other
// line is still written, up to the job's last.
TEST(FilterLifecycle, LinePerRasterLineLogIsBoundedPerJob) {
  ZERU_REQUIRE_FILTER_RUNS();
  JobRun job;
  job.ppd.setDefault("DrvDuplex", "DrvDuplexNoTumble");
  // Two one-by-four-inch pages: 2 * 2400 raster lines.
  for (int id = 1; id <= 2; ++id) {
    RasterPage page = markedPage(id);
    page.header = makeHeader(72, 288, 600, false);
    job.pages.push_back(page);
  }
  FilterResult result = job.go();
  ASSERT_EQ(result.exitStatus, 0) << result.describe();
  EXPECT_EQ(readStream(result.out).pages.size(), 2u);

  const std::string lineRead = "INFO: cupsRasterReadPixels ok...\n";
  size_t kept = occurrences(result.log, lineRead);
  EXPECT_GT(kept, 0u);
  EXPECT_LT(kept, 2400u);
  const std::string leftOut = "left out of the log";
  size_t at = result.log.find(leftOut);
  ASSERT_NE(at, std::string::npos) << result.log.substr(result.log.size() - 2000);
  EXPECT_EQ(result.log.find(leftOut, at + 1), std::string::npos);
  size_t lineStart = result.log.rfind('\n', at) + 1;
  std::string leftOutLine = result.log.substr(lineStart, result.log.find('\n', at) - lineStart);
  EXPECT_NE(leftOutLine.find("INFO: cupsRasterReadPixels ok..."), std::string::npos)
      << leftOutLine;
  EXPECT_GT(at, result.log.rfind(lineRead));
  EXPECT_GT(result.log.find("STATE: Setup\n"), at);
  EXPECT_NE(result.log.find("STATE: Job Finished\n"), std::string::npos);
  EXPECT_LT(result.log.size(), 256u * 1024);
}

// A FIFO planted at the log's path holds up neither the start-up nor the
// job, and receives none of the job's lines, with or without a reader: the
// filter puts a log file of its own in its place.
TEST(FilterLifecycle, PlantedFifoAtTheLogPathIsReplaced) {
  ZERU_REQUIRE_FILTER_RUNS();
  for (bool reader : {false, true}) {
    SCOPED_TRACE(reader ? "a reader on the FIFO" : "no reader");
    JobRun job;
    job.pages = {markedPage(1)};
    job.run.timeoutMs = 20000;
    std::string log = plantableLogPath(job);
    ASSERT_EQ(mkfifo(log.c_str(), 0666), 0);
    int readerFd = reader ? open(log.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC) : -1;
    FilterResult result = job.go();
    expectOrderlyEnd(result);
    EXPECT_EQ(result.exitStatus, 0) << result.describe();
    JobStream stream = readStream(result.out);
    expectCompleteStream(stream);
    EXPECT_EQ(markedPageIds(stream), std::vector<int>{1});
    if (readerFd >= 0) {
      char buffer[4096];
      EXPECT_LE(read(readerFd, buffer, sizeof buffer), 0);
      close(readerFd);
    }
    expectOwnLog(log, getuid());
  }
}

// A log file that another user planted, writable by all, receives nothing of
// the job (its title, user, options): a filter that may remove it puts a log
// of its own in its place; one that may not (the directory is sticky) goes on
// without a log and says so once.
TEST(FilterLifecycle, LogFilePlantedByAnotherUserReceivesNothing) {
  ZERU_REQUIRE_FILTER_RUNS();
  constexpr uid_t kPlanter = 4242;
  constexpr uid_t kFilterUser = 4343;
  for (bool asRoot : {true, false}) {
    SCOPED_TRACE(asRoot ? "filter as root" : "filter as another user");
    JobRun job;
    job.pages = {markedPage(1)};
    job.run.title = "Quarterly figures";
    std::string log = plantableLogPath(job);
    writeFile(log, "planted\n", 0666);
    ASSERT_EQ(chown(log.c_str(), kPlanter, kPlanter), 0);
    int planted = open(log.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(planted, 0);
    if (!asRoot) {
      job.run.runAsUid = kFilterUser;
      ASSERT_EQ(chmod(job.dir.path().c_str(), 0755), 0);
    }
    FilterResult result = job.go();
    expectOrderlyEnd(result);
    EXPECT_EQ(result.exitStatus, 0) << result.describe();
    expectCompleteStream(readStream(result.out));

    char buffer[4096];
    ssize_t n = pread(planted, buffer, sizeof buffer, 0);
    close(planted);
    EXPECT_EQ(std::string(buffer, static_cast<size_t>(std::max<ssize_t>(n, 0))), "planted\n");
    const std::string noLog = "INFO: No diagnostic log for this job";
    if (asRoot) {
      expectOwnLog(log, 0);
      EXPECT_EQ(result.err.find(noLog), std::string::npos);
    } else {
      EXPECT_EQ(occurrences(result.err, noLog), 1u) << result.err;
      EXPECT_EQ(readFile(log), "planted\n");
    }
  }
}
