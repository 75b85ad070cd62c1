// The test harness itself: raster and PPD writers checked against libcups,
// the filter runner checked with shell scripts in place of the filter, and
// the test engine driven in-process.
#include <cups/cups.h>
#include <cups/ppd.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "support/harness.h"

using namespace zerutest;

// libcups marks its PPD functions deprecated; PPDs are what the filter reads.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace {

// A small colour test pattern: black square top left, colour bars.
Rgb pattern(unsigned x, unsigned y) {
  if (x < 4 && y < 4) return kBlack;
  switch (x % 5) {
    case 0: return {0, 255, 255};
    case 1: return {255, 0, 255};
    case 2: return {255, 255, 0};
    case 3: return {static_cast<uint8_t>(x * 7), static_cast<uint8_t>(y * 11), 200};
    default: return kWhite;
  }
}

}  // namespace

// ---------------------------------------------------------------- raster writer

TEST(RasterWriter, DefaultHeadersCoverTheSheetConsistently) {
  cups_page_header2_t colour = a4Header(600, true);
  EXPECT_EQ(colour.PageSize[0], 595u);
  EXPECT_EQ(colour.PageSize[1], 842u);
  EXPECT_EQ(colour.HWResolution[0], 600u);
  EXPECT_EQ(colour.cupsWidth, 4958u);
  EXPECT_EQ(colour.cupsHeight, 7016u);
  EXPECT_EQ(colour.cupsBitsPerPixel, 24u);
  EXPECT_EQ(colour.cupsBytesPerLine, 4958u * 3);
  EXPECT_EQ(colour.NumCopies, 1u);
  EXPECT_EQ(colour.cupsColorSpace, CUPS_CSPACE_RGB);

  cups_page_header2_t gray = a4Header(1200, false);
  EXPECT_EQ(gray.cupsWidth, 9916u);
  EXPECT_EQ(gray.cupsBitsPerPixel, 8u);
  EXPECT_EQ(gray.cupsBytesPerLine, 9916u);
  EXPECT_EQ(gray.cupsColorSpace, CUPS_CSPACE_W);
}

TEST(RasterWriter, PagesRoundTripThroughLibcupsReader) {
  for (RasterFormat format : {RasterFormat::Version3, RasterFormat::Version2Compressed}) {
    RasterPage colour = colourPage(makeHeader(24, 10, 72, true), pattern);
    colour.header.NumCopies = 3;
    colour.header.Collate = CUPS_TRUE;
    RasterPage gray = grayPage(makeHeader(20, 7, 72, false),
                               [](unsigned x, unsigned y) { return uint8_t(x * 10 + y); });
    RasterJobOptions options;
    options.format = format;
    std::string bytes = rasterJobBytes({colour, gray}, options);

    std::vector<ReadPage> pages = readRasterBytes(bytes);
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_EQ(pages[0].header.cupsWidth, 24u);
    EXPECT_EQ(pages[0].header.cupsHeight, 10u);
    EXPECT_EQ(pages[0].header.NumCopies, 3u);
    EXPECT_EQ(pages[0].header.Collate, CUPS_TRUE);
    EXPECT_EQ(pages[1].header.cupsBitsPerPixel, 8u);
    EXPECT_EQ(pages[1].linesRead, 7u);

    std::vector<uint8_t> expected;
    for (unsigned y = 0; y < 10; ++y) {
      std::vector<uint8_t> line = rasterLine(colour, y);
      expected.insert(expected.end(), line.begin(), line.end());
    }
    EXPECT_EQ(pages[0].pixels, expected);
    EXPECT_EQ(pages[0].pixels[0], 0);               // black corner
    EXPECT_EQ(pages[0].pixels[3 * 4 + 0], 255);     // (4, 0) white
    EXPECT_EQ(pages[1].pixels[1 * 20 + 2], 21);     // gray (2, 1)
  }
}

TEST(RasterWriter, WritesVersion3SyncLikeGstoraster) {
  RasterPage small = colourPage(makeHeader(8, 2, 72, true));
  std::string bytes = rasterJobBytes({small});
  ASSERT_GE(bytes.size(), 4u);
  uint32_t sync;
  std::memcpy(&sync, bytes.data(), 4);
  EXPECT_EQ(sync, uint32_t(CUPS_RASTER_SYNC));
  EXPECT_EQ(bytes.size(), 4 + sizeof(cups_page_header2_t) + 2 * 24);
}

TEST(RasterWriter, TruncatedStreamLosesTheTailOfThePage) {
  RasterPage page = grayPage(makeHeader(16, 10, 72, false));
  std::string full = rasterJobBytes({page});
  RasterJobOptions options;
  options.truncateAfter = 4 + sizeof(cups_page_header2_t) + 3 * 16 + 5;
  std::string cut = rasterJobBytes({page}, options);
  EXPECT_EQ(cut, full.substr(0, *options.truncateAfter));
  std::vector<ReadPage> pages = readRasterBytes(cut);
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(pages[0].linesRead, 3u);
}

TEST(RasterWriter, ShortPageAndTrailingBytesAreWrittenAsAsked) {
  RasterPage page = colourPage(makeHeader(8, 10, 72, true), pattern);
  page.linesToWrite = 4;
  RasterJobOptions options;
  options.trailingBytes = "junk";
  std::string bytes = rasterJobBytes({page}, options);
  EXPECT_EQ(bytes.size(), 4 + sizeof(cups_page_header2_t) + 4 * 24 + 4);
  EXPECT_EQ(bytes.substr(bytes.size() - 4), "junk");
}

TEST(RasterWriter, HostileHeaderFieldsAreWrittenVerbatim) {
  RasterPage page = colourPage(makeHeader(8, 4, 72, true));
  page.header.cupsBytesPerLine = 7;  // not cupsWidth * 3
  page.header.NumCopies = 0xFFFFFFFFu;
  std::string bytes = rasterJobBytes({page});
  uint32_t bytesPerLine, copies;
  std::memcpy(&bytesPerLine, bytes.data() + 4 + offsetof(cups_page_header2_t, cupsBytesPerLine), 4);
  std::memcpy(&copies, bytes.data() + 4 + offsetof(cups_page_header2_t, NumCopies), 4);
  EXPECT_EQ(bytesPerLine, 7u);
  EXPECT_EQ(copies, 0xFFFFFFFFu);
  // libcups's reader refuses such a page: the stream ends there.
  EXPECT_TRUE(readRasterBytes(bytes).empty());
}

TEST(RasterWriter, WritesFilesThatLibcupsOpens) {
  TempDir dir;
  writeRasterFile(dir.file("job.ras"), {colourPage(makeHeader(8, 2, 72, true), pattern)});
  std::vector<ReadPage> pages = readRasterBytes(readFile(dir.file("job.ras")));
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(pages[0].linesRead, 2u);
}

// ------------------------------------------------------------------ PPD writer

namespace {

struct OpenPpd {
  explicit OpenPpd(const PpdBuilder& builder) {
    builder.writeTo(dir.file("test.ppd"));
    ppd = ppdOpenFile(dir.file("test.ppd").c_str());
    if (ppd != nullptr) ppdMarkDefaults(ppd);
  }
  ~OpenPpd() {
    if (ppd != nullptr) ppdClose(ppd);
  }
  std::string marked(const char* option) const {
    ppd_choice_t* choice = ppdFindMarkedChoice(ppd, option);
    return choice == nullptr ? "(none)" : choice->choice;
  }
  TempDir dir;
  ppd_file_t* ppd = nullptr;
};

}  // namespace

TEST(PpdWriter, DefaultPpdOpensWithEveryOptionAtItsDefault) {
  OpenPpd open{PpdBuilder()};
  ASSERT_NE(open.ppd, nullptr);
  EXPECT_EQ(open.marked("PageSize"), "A4");
  EXPECT_EQ(open.marked("PageRegion"), "(none)");
  EXPECT_EQ(open.marked("DrvResolution"), "600dpi");
  EXPECT_EQ(open.marked("DrvDuplex"), "None");
  EXPECT_EQ(open.marked("Collate"), "False");
  EXPECT_EQ(open.marked("MediaType"), "Plain");
  EXPECT_EQ(open.marked("TonerMode"), "Off");
  EXPECT_EQ(open.marked("StpBrightness"), "200");
  EXPECT_EQ(open.marked("Contrastgraphic"), "0");
  EXPECT_EQ(open.marked("Chromatext"), "0");
  EXPECT_EQ(open.marked("ImageType"), "TextPhoto");
  EXPECT_EQ(open.marked("IAM"), "Normal");
  EXPECT_EQ(open.marked("GrayGuarantee"), "OFF");
  EXPECT_EQ(open.marked("Screen"), "Auto");
  EXPECT_EQ(open.marked("ImageRotation"), "false");
  EXPECT_EQ(open.marked("AKSaveBlankSheet"), "False");
  for (const char* colour : {"Black", "Cyan", "Magenta", "Yellow"})
    for (const char* level : {"High", "Mid", "Low"})
      EXPECT_EQ(open.marked((std::string("AKColorDensity") + colour + level).c_str()), "0");
  ppd_attr_t* product = ppdFindAttr(open.ppd, "Product", nullptr);
  ASSERT_NE(product, nullptr);
  EXPECT_STREQ(product->value, "(ZEMRO TX 7M)");
  EXPECT_EQ(ppdConflicts(open.ppd), 0);
}

TEST(PpdWriter, EveryPaperKeywordIsAPageSizeWithItsSheetSize) {
  OpenPpd open{PpdBuilder()};
  ASSERT_NE(open.ppd, nullptr);
  ASSERT_EQ(pageSizeKeywords().size(), 12u);
  for (const std::string& keyword : pageSizeKeywords()) {
    if (keyword == "Custom") continue;
    SCOPED_TRACE(keyword);
    EXPECT_NE(ppdFindChoice(ppdFindOption(open.ppd, "PageSize"), keyword.c_str()), nullptr);
    EXPECT_NE(ppdFindChoice(ppdFindOption(open.ppd, "PageRegion"), keyword.c_str()), nullptr);
    ppd_size_t* size = ppdPageSize(open.ppd, keyword.c_str());
    ASSERT_NE(size, nullptr);
    auto points = pageSizePoints(keyword);
    ASSERT_TRUE(points);
    EXPECT_EQ(size->width, float(points->first));
    EXPECT_EQ(size->length, float(points->second));
  }
  EXPECT_EQ(pageSizePoints("A4")->first * 600 / 72, 4958u);
  EXPECT_EQ(pageSizePoints("16K")->second * 600 / 72, 6141u);
  EXPECT_TRUE(open.ppd->variable_sizes);
  // Job options mark through libcups as the filter marks them.
  cups_option_t* options = nullptr;
  int count = cupsParseOptions("PageSize=B6LEF TonerMode=2 AKColorDensityCyanLow=+2", 0, &options);
  cupsMarkOptions(open.ppd, count, options);
  cupsFreeOptions(count, options);
  EXPECT_EQ(open.marked("PageSize"), "B6LEF");
  EXPECT_EQ(open.marked("TonerMode"), "2");
  EXPECT_EQ(open.marked("AKColorDensityCyanLow"), "+2");
}

TEST(PpdWriter, OptionsCanBeRedefaultedLeftUndefaultedOrLeftOut) {
  PpdBuilder builder;
  builder.setDefault("DrvDuplex", "DrvDuplexTumble")
      .setDefault("DrvResolution", "1200dpi")
      .setDefault("PageSize", "Legal")
      .noDefault("Collate")
      .remove("TonerMode")
      .product(std::nullopt);
  EXPECT_FALSE(builder.has("TonerMode"));
  EXPECT_THROW(builder.setDefault("IAM", "Bogus"), std::invalid_argument);
  OpenPpd open{builder};
  ASSERT_NE(open.ppd, nullptr);
  EXPECT_EQ(open.marked("DrvDuplex"), "DrvDuplexTumble");
  EXPECT_EQ(open.marked("DrvResolution"), "1200dpi");
  EXPECT_EQ(open.marked("PageSize"), "Legal");
  EXPECT_EQ(open.marked("Collate"), "(none)");
  EXPECT_EQ(ppdFindOption(open.ppd, "TonerMode"), nullptr);
  EXPECT_EQ(ppdFindAttr(open.ppd, "Product", nullptr), nullptr);
}

TEST(PpdWriter, PageSizesCanBeLeftOutEntirely) {
  PpdBuilder builder;
  builder.remove("PageSize").remove("PageRegion");
  OpenPpd open{builder};
  ASSERT_NE(open.ppd, nullptr);
  EXPECT_EQ(open.marked("PageSize"), "(none)");
  EXPECT_EQ(open.marked("PageRegion"), "(none)");
  EXPECT_EQ(open.marked("Media"), "(none)");
  EXPECT_EQ(open.marked("DrvDuplex"), "None");
}

TEST(PpdWriter, NumericChoicesKeepTheirKeywordsAndTexts) {
  PpdBuilder builder;
  builder.addChoice("StpBrightness", {"1001", "", ""})
      .addChoice("Contrastimage", {"150", "", ""})
      .addChoice("Contrastimage", {"-30", "", ""})
      .setDefault("Contrastimage", "-75")
      .setDefault("StpBrightness", "1001")
      .product("(ZEMRO TX 7N)");
  OpenPpd open{builder};
  ASSERT_NE(open.ppd, nullptr);
  EXPECT_EQ(open.marked("StpBrightness"), "1001");
  ppd_choice_t* choice = ppdFindMarkedChoice(open.ppd, "Contrastimage");
  ASSERT_NE(choice, nullptr);
  EXPECT_STREQ(choice->choice, "-75");
  EXPECT_STREQ(choice->text, "Weaker (-75)");
  EXPECT_NE(ppdFindChoice(ppdFindOption(open.ppd, "Contrastimage"), "150"), nullptr);
  EXPECT_EQ(ppdMarkOption(open.ppd, "Contrastimage", "-30"), 0);
  EXPECT_EQ(open.marked("Contrastimage"), "-30");
  EXPECT_STREQ(ppdFindAttr(open.ppd, "Product", nullptr)->value, "(ZEMRO TX 7N)");
}

TEST(PpdWriter, ConstraintsMakeConflictsAndBareHasNoOptions) {
  PpdBuilder builder;
  builder.constraint("MediaType", "Thick", "DrvDuplex", "DrvDuplexNoTumble");
  OpenPpd open{builder};
  ASSERT_NE(open.ppd, nullptr);
  EXPECT_EQ(ppdMarkOption(open.ppd, "MediaType", "Thick"), 0);
  EXPECT_GT(ppdMarkOption(open.ppd, "DrvDuplex", "DrvDuplexNoTumble"), 0);

  OpenPpd bare{PpdBuilder::bare()};
  ASSERT_NE(bare.ppd, nullptr);
  EXPECT_EQ(bare.ppd->num_groups, 0);
  EXPECT_NE(ppdFindAttr(bare.ppd, "Product", nullptr), nullptr);
}

// --------------------------------------------------------------- filter runner

namespace {

class FilterRunner : public ::testing::Test {
protected:
  void SetUp() override {
    if (!canRunFilter()) GTEST_SKIP() << "needs root for mount namespaces";
  }
  // A shell script standing in for the filter.
  FilterRun script(const std::string& body) {
    std::string path = dir.file("script" + std::to_string(++scripts) + ".sh");
    writeFile(path, "#!/bin/sh\n" + body + "\n", 0755);
    FilterRun run;
    run.binary = path;
    run.timeoutMs = 20000;
    return run;
  }
  TempDir dir;
  int scripts = 0;
};

}  // namespace

TEST_F(FilterRunner, GivesTheCupsCommandLineAndEnvironment) {
  FilterRun run = script(
      "echo \"argc=$#\"\n"
      "for a in \"$@\"; do echo \"arg=$a\"; done\n"
      "echo \"PPD=$PPD\"; echo \"DEVICE_URI=$DEVICE_URI\"; echo \"SOFTWARE=$SOFTWARE\"\n"
      "echo \"TMPDIR=${TMPDIR-unset}\"; echo \"EXTRA=$EXTRA\"; echo \"PRINTER=$PRINTER\"\n"
      "echo \"LANG=${LANG-unset}\"");
  run.options = "PageSize=A4 Collate=True";
  run.rasterFile = "/some/job.ras";
  run.ppd = "/some/test.ppd";
  run.deviceUri = "usb://ZEMRO/TX";
  run.software = "CUPS/2.4.2";
  run.env["EXTRA"] = "extra value";
  run.env["LANG"] = "";  // unset
  FilterResult result = runFilter(run);
  ASSERT_EQ(result.harnessError, "");
  EXPECT_TRUE(result.exited);
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.out,
            "argc=6\narg=42\narg=tester\narg=Test job\narg=1\narg=PageSize=A4 Collate=True\n"
            "arg=/some/job.ras\nPPD=/some/test.ppd\nDEVICE_URI=usb://ZEMRO/TX\n"
            "SOFTWARE=CUPS/2.4.2\nTMPDIR=unset\nEXTRA=extra value\nPRINTER=zeru-test\n"
            "LANG=unset\n");
}

TEST_F(FilterRunner, ArgvOverrideIsPassedVerbatim) {
  FilterRun run;
  run.binary = "/bin/sh";
  run.argv = std::vector<std::string>{"zeru-queue", "-c", "tr '\\0' '\\n' < /proc/$$/cmdline"};
  FilterResult result = runFilter(run);
  EXPECT_EQ(result.out, "zeru-queue\n-c\ntr '\\0' '\\n' < /proc/$$/cmdline\n");
}

TEST_F(FilterRunner, DeliversStdinAndCapturesLargeOutputs) {
  // Both streams carry more than a pipe holds, in both directions at once.
  FilterRun run = script("cat; head -c 300000 /dev/zero | tr '\\0' e >&2");
  for (int i = 0; i < 50000; ++i) run.stdinBytes += "line " + std::to_string(i) + "\n";
  FilterResult result = runFilter(run);
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.out, run.stdinBytes);
  EXPECT_EQ(result.err, std::string(300000, 'e'));
}

TEST_F(FilterRunner, StreamsARasterFileThroughStdin) {
  RasterPage page = colourPage(makeHeader(300, 300, 200, true), pattern);
  writeRasterFile(dir.file("job.ras"), {page, page, page});
  FilterRun run = script("cat");
  run.stdinBytes = "head:";
  run.stdinFile = dir.file("job.ras");
  FilterResult result = runFilter(run);
  std::string file = readFile(dir.file("job.ras"));
  EXPECT_GT(file.size(), 3u << 20);
  EXPECT_EQ(result.out.size(), 5 + file.size());
  EXPECT_TRUE(result.out == "head:" + file);
  EXPECT_EQ(readRasterBytes(file).size(), 3u);
}

TEST_F(FilterRunner, CanHoldStdinOpenForAProgramThatWaits) {
  FilterRun run = script("head -c 3; echo ' read' >&2; exec cat");
  run.stdinBytes = "abc";
  run.holdStdinOpen = true;
  run.sigtermOnStderr = "read";
  FilterResult result = runFilter(run);
  EXPECT_EQ(result.out, "abc");
  EXPECT_EQ(result.termSignal, SIGTERM);
  EXPECT_FALSE(result.timedOut);
}

TEST_F(FilterRunner, GivesEachRunAPrivateTmp) {
  std::string name = "zeru-private-" + std::to_string(getpid());
  FilterRun run = script("echo spool > /tmp/" + name +
                         "\nmkdir /tmp/sub && echo x > /tmp/sub/file"
                         "\necho 'STATE: Job Finished' > /tmp/zemro_filter.log"
                         "\necho call > /tmp/zeru_engine_calls.log"
                         "\ncat /tmp/old");
  run.tmpFiles["old"] = "seeded\n";
  FilterResult result = runFilter(run);
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(result.out, "seeded\n");
  EXPECT_EQ(result.leftFiles, (std::vector<std::string>{"sub/file", name}));
  EXPECT_TRUE(result.logExists);
  EXPECT_EQ(result.log, "STATE: Job Finished\n");
  EXPECT_EQ(result.engineLog, "call\n");
  EXPECT_FALSE(std::filesystem::exists("/tmp/" + name));
}

TEST_F(FilterRunner, KeepsChosenHostDirectoriesUnderTmpReachable) {
  std::string kept = "/tmp/zeru-keep-" + std::to_string(getpid());
  std::filesystem::create_directories(kept + "/tree");
  writeFile(kept + "/tree/data", "kept\n");
  writeFile(dir.file("plain"), "build dir\n");
  FilterRun run = script("cat " + kept + "/tree/data " + dir.file("plain") +
                         "; echo new > /tmp/spool; ls /tmp");
  run.keepHostPaths.push_back(kept + "/tree");
  FilterResult result = runFilter(run);
  std::filesystem::remove_all(kept);
  // /tmp holds the spool file, the kept tree's top directory, and those of the
  // build and source trees when they lie under /tmp themselves.
  std::set<std::string> entries = {"spool", kept.substr(5)};
  for (const std::string& path : defaultKeptPaths())
    if (path.rfind("/tmp/", 0) == 0) entries.insert(path.substr(5, path.find('/', 5) - 5));
  std::string listing;
  for (const std::string& entry : entries) listing += entry + "\n";
  EXPECT_EQ(result.out, "kept\nbuild dir\n" + listing) << result.describe();
  EXPECT_EQ(result.leftFiles, std::vector<std::string>{"spool"});
}

TEST_F(FilterRunner, MountsTheEngineUnderItsFixedName) {
  FilterRun run = script("ls /opt/ZEMRO/lib; wc -c < \"/opt/ZEMRO/lib/ZEMRO TX 7Mcl.so\"");
  FilterResult result = runFilter(run);
  EXPECT_EQ(result.exitStatus, 0);
  std::string size = std::to_string(std::filesystem::file_size(ZERU_TEST_ENGINE));
  EXPECT_EQ(result.out, "ZEMRO TX 7Mcl.so\n" + size + "\n");

  writeFile(dir.file("fake.so"), "not a library");
  FilterRun custom = script("ls /opt/ZEMRO/lib; cat \"/opt/ZEMRO/lib/ZEMRO TX 7Ncl.so\"");
  custom.engine = EngineMount::file(dir.file("fake.so"));
  custom.engine.name = "ZEMRO TX 7Ncl.so";
  EXPECT_EQ(runFilter(custom).out, "ZEMRO TX 7Ncl.so\nnot a library");

  FilterRun none = script("ls -A /opt/ZEMRO/lib; ls -A /opt");
  none.engine = EngineMount::none();
  EXPECT_EQ(runFilter(none).out, "ZEMRO\n");

  std::filesystem::create_directory(dir.file("lib"));
  writeFile(dir.file("lib/ZEMRO TX 7cl.so"), "second name");
  FilterRun directory = script("ls /opt/ZEMRO/lib");
  directory.engine = EngineMount::directory(dir.file("lib"));
  EXPECT_EQ(runFilter(directory).out, "ZEMRO TX 7cl.so\n");

  FilterRun missing = script("true");
  missing.engine = EngineMount::file(dir.file("nowhere.so"));
  EXPECT_NE(runFilter(missing).harnessError, "");

  FilterRun noProgram = script("true");
  noProgram.binary = dir.file("no-such-filter");
  FilterResult failed = runFilter(noProgram);
  EXPECT_NE(failed.harnessError.find("execve"), std::string::npos);
  EXPECT_EQ(failed.exitStatus, 127);
}

TEST_F(FilterRunner, SendsSigtermWhenStderrShowsTheText) {
  FilterRun run = script(
      "trap 'echo \"INFO: cancelled\" >&2; exit 7' TERM\n"
      "echo 'PAGE: 1 1' >&2; echo 'PAGE: 2 1' >&2\n"
      "while :; do sleep 0.02; done");
  run.sigtermOnStderr = "PAGE: 2";
  FilterResult result = runFilter(run);
  EXPECT_TRUE(result.sigtermSent);
  EXPECT_EQ(result.exitStatus, 7);
  EXPECT_NE(result.err.find("INFO: cancelled"), std::string::npos);
}

TEST_F(FilterRunner, SendsSigtermAfterADelay) {
  FilterRun run = script("exec sleep 20");
  run.sigtermAfterMs = 50;
  FilterResult result = runFilter(run);
  EXPECT_TRUE(result.sigtermSent);
  EXPECT_FALSE(result.exited);
  EXPECT_EQ(result.termSignal, SIGTERM);
  EXPECT_FALSE(result.timedOut);
}

TEST_F(FilterRunner, KillsAProgramThatRunsPastItsTimeout) {
  FilterRun run = script("exec sleep 20");
  run.timeoutMs = 100;
  FilterResult result = runFilter(run);
  EXPECT_TRUE(result.timedOut);
  EXPECT_EQ(result.termSignal, SIGKILL);
  EXPECT_NE(result.describe().find("timed out"), std::string::npos);
}

TEST_F(FilterRunner, ClosesStdoutAfterSoManyBytes) {
  FilterRun run = script("while :; do echo 0123456789; done");
  run.closeStdoutAfterBytes = 1000;
  FilterResult result = runFilter(run);
  EXPECT_TRUE(result.stdoutClosedEarly);
  EXPECT_EQ(result.out.size(), 1000u);
  EXPECT_EQ(result.termSignal, SIGPIPE);
}

TEST_F(FilterRunner, ClosesStdoutWhenStderrShowsTheText) {
  FilterRun run = script("echo first; echo 'INFO: output phase' >&2; while :; do echo x; done");
  run.closeStdoutOnStderr = "output phase";
  FilterResult result = runFilter(run);
  EXPECT_TRUE(result.stdoutClosedEarly);
  EXPECT_EQ(result.out.substr(0, 6), "first\n");
  EXPECT_EQ(result.termSignal, SIGPIPE);
}

TEST_F(FilterRunner, HooksTheSideChannelOntoFd4) {
  int pair[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
  ASSERT_EQ(write(pair[0], "pong\n", 5), 5);
  FilterRun run = script("read line <&4; echo \"$line\"; printf ping >&4; readlink /proc/self/fd/3");
  run.sideChannelFd = pair[1];
  FilterResult result = runFilter(run);
  close(pair[1]);
  EXPECT_EQ(result.out, "pong\n/dev/null\n");
  char answer[8] = {};
  EXPECT_EQ(read(pair[0], answer, sizeof answer), 4);
  EXPECT_STREQ(answer, "ping");
  close(pair[0]);

  FilterRun plain = script("readlink /proc/self/fd/4; ls /proc/self/fd | wc -l");
  // 0..4 and the directory ls reads.
  EXPECT_EQ(runFilter(plain).out, "/dev/null\n6\n");
}

TEST_F(FilterRunner, SmallTmpfsFillsUpAndReadOnlyTmpRefusesWrites) {
  FilterRun run = script(
      "echo \"TMPDIR=$TMPDIR\"\n"
      "head -c 200000 /dev/zero > \"$TMPDIR/fill\" 2>/dev/null || echo full");
  run.smallTmpfsBytes = 65536;
  FilterResult result = runFilter(run);
  ASSERT_EQ(result.harnessError, "");
  EXPECT_EQ(result.out, "TMPDIR=/tmp/small\nfull\n");
  EXPECT_EQ(result.leftFiles, std::vector<std::string>{"small/fill"});

  FilterRun readOnly = script("echo x > /tmp/f 2>/dev/null || echo refused");
  readOnly.readOnlyTmp = true;
  FilterResult refused = runFilter(readOnly);
  EXPECT_EQ(refused.out, "refused\n");
  EXPECT_TRUE(refused.leftFiles.empty());
  EXPECT_FALSE(refused.logExists);
}

TEST_F(FilterRunner, KeepsACallersRunDirectory) {
  TempDir keep("keep");
  FilterRun run = script("echo page > /tmp/spool1");
  run.runDir = keep.path();
  FilterResult result = runFilter(run);
  EXPECT_EQ(result.leftFiles, std::vector<std::string>{"spool1"});
  EXPECT_EQ(readFile(keep.file("spool1")), "page\n");
}

// ----------------------------------------------------------------- test engine

namespace {

// The callbacks take no arguments: one captured output line per test run.
unsigned char outputLine[256];
std::vector<std::vector<uint8_t>> delivered;
size_t outputBytes = 0;

unsigned char* getOutputLine() { return outputLine; }
int lineReady() {
  delivered.emplace_back(outputLine, outputLine + outputBytes);
  std::memset(outputLine, 0, sizeof outputLine);
  return 0;
}

class TestEngine : public ::testing::Test {
protected:
  void SetUp() override {
    library = dlopen(ZERU_TEST_ENGINE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    zarvel = reinterpret_cast<ZARVELFn>(dlsym(library, "ZARVEL"));
    init = reinterpret_cast<InitZARVELFn>(dlsym(library, "InitZARVEL"));
    create = reinterpret_cast<CreateZARVELFn>(dlsym(library, "CreateZARVEL"));
    end = reinterpret_cast<EndZARVELFn>(dlsym(library, "EndZARVEL"));
    adjust = reinterpret_cast<StartAdjustJobFn>(dlsym(library, "StartAdjustJob"));
    screen = reinterpret_cast<UpdateScreenThreadFn>(dlsym(library, "UpdateScreenThread"));
    toner = reinterpret_cast<UpdateScreenTonerTRCFn>(dlsym(library, "UpdateScreenTonerTRC"));
    for (const char* name : {"StartColorAdjust", "UpdateScreenTRC"})
      EXPECT_NE(dlsym(library, name), nullptr) << name;
    ASSERT_TRUE(zarvel && init && create && end && adjust && screen && toner);
    setenv("ZERU_TEST_ENGINE_LOG", dir.file("calls.log").c_str(), 1);
    delivered.clear();
  }
  void TearDown() override {
    for (const char* name : {"ZERU_TEST_ENGINE_LOG", "ZERU_TEST_ENGINE_LATE",
                             "ZERU_TEST_ENGINE_REFUSE_INIT", "ZERU_TEST_ENGINE_REFUSE_SCREEN"})
      unsetenv(name);
    if (library != nullptr) dlclose(library);
  }
  EngineSetup setupFor(bool colour, unsigned lineWidth) {
    EngineSetup setup{};
    setup.getOutputLine = getOutputLine;
    setup.lineReady = lineReady;
    setup.renderFlags = kRenderNormal | kRenderGrayGuarantee;
    setup.lineWidth = lineWidth;
    setup.scaleX = setup.scaleY = 10000;
    setup.screenWord = 0x301;
    setup.resolutionWord = 12;
    setup.colourLayout = colour ? 2 : 1;
    setup.planeLayout = colour ? 4 : 9;
    setup.one58 = setup.one59 = 1;
    setup.channelWord = colour ? 2222 : 2;
    setup.modeWord = colour ? 2 : 0;
    setup.modelPath = "/Library/Printers/ZEMRO/lib/ZEMRO TX 7M";
    outputBytes = (colour ? 4 : 1) * lineWidth / 8;
    return setup;
  }
  std::vector<EngineCall> calls() { return parseEngineLog(readFileIfExists(dir.file("calls.log"))); }

  TempDir dir;
  void* library = nullptr;
  ZARVELFn zarvel = nullptr;
  InitZARVELFn init = nullptr;
  CreateZARVELFn create = nullptr;
  EndZARVELFn end = nullptr;
  StartAdjustJobFn adjust = nullptr;
  UpdateScreenThreadFn screen = nullptr;
  UpdateScreenTonerTRCFn toner = nullptr;
};

// Colour line of 16 pixels: black, cyan, magenta, yellow, dark blue, then white.
std::vector<unsigned char> colourLine() {
  std::vector<unsigned char> line(16 * 3, 0xFF);
  const unsigned char pixels[5][3] = {{0, 0, 0}, {0, 255, 255}, {255, 0, 255}, {255, 255, 0},
                                      {100, 100, 200}};
  for (int x = 0; x < 5; ++x) std::memcpy(&line[x * 3], pixels[x], 3);
  return line;
}

}  // namespace

TEST_F(TestEngine, ConvertsColourLinesByThresholdsAndLogsEveryCall) {
  EngineSetup setup = setupFor(true, 16);
  int handle = init(&setup);
  ASSERT_GE(handle, 0);
  AdjustRecord record{};
  record.adjustFlags = 12;
  record.brightness[0] = 50;
  record.densityCode[3] = 0x300;
  adjust(handle, &record);
  create(handle);
  EXPECT_EQ(screen(handle, 4, 0), 0);
  toner(handle, 2, 0);
  std::vector<unsigned char> line = colourLine();
  EXPECT_EQ(zarvel(handle, line.data(), nullptr, 1, 0), 0);
  ASSERT_EQ(delivered.size(), 1u);  // placed before ZARVEL returned
  // Segments C, M, Y, K of two bytes each.
  EXPECT_EQ(delivered[0], (std::vector<uint8_t>{0x48, 0, 0x28, 0, 0x10, 0, 0x80, 0}));
  end(handle);

  std::vector<EngineCall> log = calls();
  EXPECT_EQ(callNames(log), (std::vector<std::string>{"InitZARVEL", "StartAdjustJob",
                                                      "CreateZARVEL", "UpdateScreenThread",
                                                      "UpdateScreenTonerTRC", "ZARVEL",
                                                      "EndZARVEL"}));
  EXPECT_EQ(log[0].number("result"), handle);
  EXPECT_EQ(log[0].text("modelPath"), "/Library/Printers/ZEMRO/lib/ZEMRO TX 7M");
  EngineSetup seen = decodeEngineSetup(log[0]);
  EXPECT_EQ(seen.getOutputLine, nullptr);
  EXPECT_EQ(seen.modelPath, nullptr);
  EXPECT_EQ(seen.renderFlags, 0x2044u);
  EXPECT_EQ(seen.lineWidth, 16u);
  EXPECT_EQ(seen.screenWord, 0x301u);
  EXPECT_EQ(seen.channelWord, 2222u);
  EXPECT_EQ(seen.planeLayout, 4);
  EXPECT_EQ(log[0].number("callbacks"), 2);
  AdjustRecord seenAdjust = decodeAdjustRecord(log[1]);
  EXPECT_EQ(std::memcmp(&seenAdjust, &record, sizeof record), 0);
  EXPECT_EQ(log[3].number("instances"), 4);
  EXPECT_EQ(log[4].number("tonerMode"), 2);
  EXPECT_EQ(log[5].text("dots"), "2,2,1,1");
  EXPECT_EQ(log[5].number("lineNumber"), 0);
  EXPECT_EQ(log[5].number("one"), 1);
  EXPECT_EQ(log[5].number("reserved"), 0);
}

TEST_F(TestEngine, ConvertsGrayLinesToOneBlackSegment) {
  EngineSetup setup = setupFor(false, 16);
  int handle = init(&setup);
  ASSERT_GE(handle, 0);
  std::vector<unsigned char> line(16, 0xFF);
  line[0] = 0;
  line[1] = 127;
  line[2] = 128;
  line[9] = 5;
  zarvel(handle, line.data(), nullptr, 1, 0);
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_EQ(delivered[0], (std::vector<uint8_t>{0xC0, 0x40}));
  end(handle);
  std::vector<EngineCall> zarvels = callsNamed(calls(), "ZARVEL");
  ASSERT_EQ(zarvels.size(), 1u);
  EXPECT_EQ(zarvels[0].text("dots"), "3");
  EXPECT_EQ(zarvels[0].text("input").size(), 16u);
}

TEST_F(TestEngine, FourInstancesGetTheirOwnHandlesAgainEveryPage) {
  for (int page = 0; page < 2; ++page) {
    EngineSetup setup = setupFor(true, 16);
    int handles[4];
    for (int& handle : handles) handle = init(&setup);
    EXPECT_EQ(handles[0], 0);
    EXPECT_EQ(handles[3], 3);
    for (int handle : handles) end(handle);
  }
}

namespace {

// Per-instance callbacks for the concurrent test: instance k writes into
// lanes[k] and records its lines in laneLines[k].
constexpr unsigned kLaneWidth = 64;
unsigned char lanes[4][kLaneWidth / 8];
std::vector<std::vector<uint8_t>> laneLines[4];

template <int k>
unsigned char* laneOutput() { return lanes[k]; }
template <int k>
int laneReady() {
  laneLines[k].emplace_back(lanes[k], lanes[k] + kLaneWidth / 8);
  return 0;
}

}  // namespace

TEST_F(TestEngine, InstancesConvertConcurrentlyThroughTheirOwnCallbacks) {
  const GetOutputLineFn outputs[4] = {laneOutput<0>, laneOutput<1>, laneOutput<2>, laneOutput<3>};
  const LineReadyFn readies[4] = {laneReady<0>, laneReady<1>, laneReady<2>, laneReady<3>};
  int handles[4];
  for (int k = 0; k < 4; ++k) {
    EngineSetup setup = setupFor(false, kLaneWidth);
    setup.getOutputLine = outputs[k];
    setup.lineReady = readies[k];
    handles[k] = init(&setup);
    ASSERT_GE(handles[k], 0);
    laneLines[k].clear();
  }
  constexpr int kLines = 100;
  // Line y of instance k has one dark pixel, at (k * 13 + y) % kLaneWidth.
  auto darkPixel = [](int k, int y) { return unsigned(k * 13 + y) % kLaneWidth; };
  std::vector<std::thread> workers;
  for (int k = 0; k < 4; ++k) {
    workers.emplace_back([&, k] {
      std::vector<unsigned char> line(kLaneWidth);
      for (int y = 0; y < kLines; ++y) {
        std::fill(line.begin(), line.end(), 0xFF);
        line[darkPixel(k, y)] = 0;
        zarvel(handles[k], line.data(), nullptr, 1, y);
      }
    });
  }
  for (std::thread& worker : workers) worker.join();
  for (int k = 0; k < 4; ++k) end(handles[k]);

  for (int k = 0; k < 4; ++k) {
    ASSERT_EQ(laneLines[k].size(), size_t(kLines));
    for (int y = 0; y < kLines; ++y) {
      std::vector<uint8_t> expected(kLaneWidth / 8, 0);
      unsigned x = darkPixel(k, y);
      expected[x / 8] = uint8_t(0x80 >> (x % 8));
      EXPECT_EQ(laneLines[k][y], expected) << "instance " << k << " line " << y;
    }
  }
  // Every call is one whole line of the log.
  std::vector<EngineCall> zarvels = callsNamed(calls(), "ZARVEL");
  ASSERT_EQ(zarvels.size(), 4u * kLines);
  for (const EngineCall& call : zarvels) EXPECT_EQ(call.text("dots"), "1");
}

TEST_F(TestEngine, LateModeDeliversEachLineAtTheNextCall) {
  setenv("ZERU_TEST_ENGINE_LATE", "1", 1);
  EngineSetup setup = setupFor(false, 8);
  int handle = init(&setup);
  std::vector<unsigned char> first(8, 0xFF), second(8, 0xFF);
  first[0] = 0;
  second[7] = 0;
  zarvel(handle, first.data(), nullptr, 1, 0);
  EXPECT_TRUE(delivered.empty());
  zarvel(handle, second.data(), nullptr, 1, 1);
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_EQ(delivered[0], std::vector<uint8_t>{0x80});
  end(handle);
  ASSERT_EQ(delivered.size(), 2u);
  EXPECT_EQ(delivered[1], std::vector<uint8_t>{0x01});
  EXPECT_EQ(callsNamed(calls(), "EndZARVEL")[0].number("deliveredLate"), 1);
}

TEST_F(TestEngine, RefusesInitAndScreenWhenAsked) {
  EngineSetup setup = setupFor(true, 16);
  setenv("ZERU_TEST_ENGINE_REFUSE_INIT", "1", 1);
  EXPECT_EQ(init(&setup), -1);
  unsetenv("ZERU_TEST_ENGINE_REFUSE_INIT");
  setenv("ZERU_TEST_ENGINE_REFUSE_SCREEN", "1", 1);
  int handle = init(&setup);
  ASSERT_GE(handle, 0);
  EXPECT_EQ(screen(handle, 4, 0), -1);
  end(handle);
  std::vector<EngineCall> log = calls();
  EXPECT_EQ(log[0].number("result"), -1);
  EXPECT_EQ(callsNamed(log, "UpdateScreenThread")[0].number("result"), -1);
}

TEST(EngineLog, ParsesTabSeparatedFieldsWithSpacesInValues) {
  std::vector<EngineCall> calls = parseEngineLog(
      "InitZARVEL\thandle=0\tresult=0\tmodelPath=/Library/Printers/ZEMRO/ZEMRO TX 7\n"
      "\n"
      "EndZARVEL\thandle=0\n");
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].text("modelPath"), "/Library/Printers/ZEMRO/ZEMRO TX 7");
  EXPECT_EQ(calls[1].number("handle"), 0);
  EXPECT_FALSE(calls[1].has("result"));
  EXPECT_THROW(calls[1].number("result"), std::out_of_range);
  EXPECT_THROW(decodeEngineSetup(calls[0]), std::invalid_argument);
  EXPECT_EQ(bytesFromHex("00ff10"), (std::vector<uint8_t>{0, 255, 16}));
}
