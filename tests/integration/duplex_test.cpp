// Two-sided jobs: the filler page, the even-then-odd order, collated copies,
// which sides are turned, and cancellation.
#include "job_fixture.h"

#include <cstdint>
#include <string>
#include <vector>

using namespace zerutest;

namespace {

JobStream runDuplex(JobRun& job, FilterResult& result) {
  result = job.go();
  EXPECT_EQ(result.exitStatus, 0) << result.describe();
  JobStream stream = readStream(result.out);
  EXPECT_TRUE(stream.clean()) << problemsOf(stream);
  return stream;
}

bool lineHasDot(const DecodedPlane& plane, uint32_t y) {
  for (uint32_t x = 0; x < plane.width; ++x)
    if (plane.dot(x, y)) return true;
  return false;
}

// Whether a markedPage came out turned: its block then ends on the last line
// instead of starting on the first.
bool turned(const PageBlock& page) {
  const PlaneEntity* black = page.findPlane(3);
  if (!black || !black->decodedOk) return false;
  const DecodedPlane& plane = black->decoded;
  return lineHasDot(plane, plane.height - 1) && !lineHasDot(plane, 0);
}

}  // namespace

TEST(DuplexJob, OddPageCountGetsAWhiteFillerAndEvenSidesGoFirst) {
  ZERU_REQUIRE_FILTER_RUNS();
  JobRun job;
  job.ppd.setDefault("DrvDuplex", "DrvDuplexNoTumble");
  job.pages = {markedPage(1), markedPage(2), markedPage(3)};
  FilterResult result;
  JobStream stream = runDuplex(job, result);
  // Page 4 is the filler: no dot at all.
  EXPECT_EQ(markedPageIds(stream), (std::vector<int>{0, 2, 3, 1}));
  ASSERT_EQ(stream.pages.size(), 4u);
  EXPECT_EQ(stream.pages[0].lines, stream.pages[3].lines);
  size_t side2at4 = result.err.find("INFO: Printing side-2 page 4 ...\n");
  size_t side2at2 = result.err.find("INFO: Printing side-2 page 2 ...\n");
  size_t side1at3 = result.err.find("INFO: Printing side-1 page 3 ...\n");
  size_t side1at1 = result.err.find("INFO: Printing side-1 page 1 ...\n");
  ASSERT_NE(side1at1, std::string::npos) << result.err;
  EXPECT_LT(side2at4, side2at2);
  EXPECT_LT(side2at2, side1at3);
  EXPECT_LT(side1at3, side1at1);
  EXPECT_EQ(settingValue(stream, "DUPLEX"), "ON");
  EXPECT_EQ(settingValue(stream, "MDPXS"), "3");
  bool pcnt = false;
  for (const auto& [key, value] : stream.jobAttributes)
    if (key == "PCNT") pcnt = value == "3";
  EXPECT_TRUE(pcnt);
  EXPECT_NE(result.log.find("INFO: IPC done, start setup()"), std::string::npos);
  EXPECT_NE(result.err.find("INFO: Processing page 1, 0% complete...\n"), std::string::npos);
  EXPECT_TRUE(result.leftFiles.empty());
}

TEST(DuplexJob, CollatedCopiesRepeatEachSideRun) {
  ZERU_REQUIRE_FILTER_RUNS();
  JobRun job;
  job.ppd.setDefault("DrvDuplex", "DrvDuplexNoTumble").setDefault("Collate", "True");
  for (int id = 1; id <= 4; ++id) {
    RasterPage page = markedPage(id);
    page.header.NumCopies = 2;
    job.pages.push_back(page);
  }
  FilterResult result;
  JobStream stream = runDuplex(job, result);
  EXPECT_EQ(markedPageIds(stream), (std::vector<int>{4, 2, 4, 2, 3, 1, 3, 1}));
  EXPECT_NE(result.err.find("INFO: Printing side-1 page 4... (1/2)\n"), std::string::npos);
  EXPECT_NE(result.err.find("INFO: Printing side-2 page 1... (2/2)\n"), std::string::npos);
  EXPECT_EQ(settingValue(stream, "MDPXS"), "5");
  EXPECT_EQ(settingValue(stream, "QTY"), "1");
  EXPECT_TRUE(result.leftFiles.empty());

  JobRun uncollated;
  uncollated.ppd.setDefault("DrvDuplex", "DrvDuplexNoTumble");
  uncollated.pages = job.pages;
  stream = runDuplex(uncollated, result);
  EXPECT_EQ(markedPageIds(stream), (std::vector<int>{4, 2, 3, 1}));
  EXPECT_EQ(settingValue(stream, "COPIES"), "2");
}

TEST(DuplexJob, NoKeptPageGivesHeaderAndTrailerOnly) {
  ZERU_REQUIRE_FILTER_RUNS();
  JobRun job;
  job.ppd.setDefault("DrvDuplex", "DrvDuplexTumble").setDefault("AKSaveBlankSheet", "True");
  job.pages = {grayPage(makeHeader(72, 72, 600, false))};
  FilterResult result;
  JobStream stream = runDuplex(job, result);
  EXPECT_TRUE(stream.pages.empty());
  EXPECT_EQ(settingValue(stream, "MDPXS"), "1");
  EXPECT_EQ(stream.trailer, TrailerForm::Eoj);
}

TEST(DuplexJob, SidesAreTurnedByBindingRotationAndParity) {
  ZERU_REQUIRE_FILTER_RUNS();
  struct Case {
    const char* duplex;
    const char* rotation;
    std::vector<bool> turnedInStreamOrder;   // stream order: 4, 2, 3, 1
  };
  const Case cases[] = {
      {"DrvDuplexNoTumble", "false", {false, false, true, true}},   // odd pages turned
      {"DrvDuplexNoTumble", "true", {true, true, false, false}},    // even pages turned
      {"DrvDuplexTumble", "true", {true, true, true, true}},
      {"DrvDuplexTumble", "false", {false, false, false, false}},
  };
  for (const Case& c : cases) {
    JobRun job;
    job.ppd.setDefault("DrvDuplex", c.duplex).setDefault("ImageRotation", c.rotation);
    job.pages = {markedPage(1), markedPage(2), markedPage(3), markedPage(4)};
    FilterResult result;
    JobStream stream = runDuplex(job, result);
    ASSERT_EQ(stream.pages.size(), 4u);
    for (size_t i = 0; i < 4; ++i)
      EXPECT_EQ(turned(stream.pages[i]), c.turnedInStreamOrder[i])
          << c.duplex << " rotation " << c.rotation << " stream page " << i;
    // The duplex engine path has no "/lib" in it.
    EXPECT_EQ(result.log.find("STATE: TonerMode done"), std::string::npos);
  }
}

TEST(DuplexJob, TermWhileSendingLeavesNoSpoolFile) {
  ZERU_REQUIRE_FILTER_RUNS();
  JobRun job;
  cancelWhileSendingPage4(job);
  FilterResult result = job.go();
  ASSERT_TRUE(result.exited) << result.describe();
  EXPECT_EQ(result.exitStatus, 0);
  JobStream stream = readStream(result.out);
  EXPECT_EQ(stream.trailer, TrailerForm::EojAbort);
  // Page 4 is finished and marked cancelled; nothing follows it.
  ASSERT_EQ(stream.pages.size(), 1u);
  EXPECT_EQ(stream.pages[0].cancelMark, 1);
  EXPECT_EQ(result.err.find("INFO: Printing side-2 page 2 ..."), std::string::npos);
  EXPECT_TRUE(result.leftFiles.empty());
  EXPECT_EQ(result.err.find("INFO: Ready to print.\n"), std::string::npos);
}

// A PPD with the standard Duplex option instead of DrvDuplex.
PpdBuilder standardDuplexPpd(const std::string& defaultChoice) {
  PpdBuilder ppd;
  ppd.remove("DrvDuplex");
  PpdOption duplex;
  duplex.keyword = "Duplex";
  duplex.text = "Two-Sided Printing";
  duplex.choices = {{"None", "Off", ""}, {"DuplexNoTumble", "Long-Edge Binding", ""},
                    {"DuplexTumble", "Short-Edge Binding", ""}};
  duplex.defaultChoice = defaultChoice;
  ppd.addOption(duplex);
  return ppd;
}

TEST(DuplexJob, StandardDuplexChoiceAndTheJobsOwnSidesDecide) {
  ZERU_REQUIRE_FILTER_RUNS();
  struct Case {
    const char* name;
    bool standardPpd;
    const char* defaultChoice;
    const char* options;
    std::vector<bool> turnedInStreamOrder;   // empty: one-sided
  };
  const Case cases[] = {
      {"standard long edge", true, "DuplexNoTumble", "", {false, true}},
      {"standard short edge", true, "DuplexTumble", "", {false, false}},
      // A two-sided default passed among the options gives way to the job's sides.
      {"standard default, one-sided job", true, "DuplexNoTumble",
       "Duplex=DuplexNoTumble sides=one-sided", {}},
      {"standard, short-edge job", true, "None", "Duplex=None sides=two-sided-short-edge",
       {false, false}},
      {"DrvDuplex default, one-sided job", false, "DrvDuplexNoTumble",
       "DrvDuplex=DrvDuplexNoTumble sides=one-sided", {}},
      {"DrvDuplex, long-edge job", false, "None",
       "DrvDuplex=DrvDuplexTumble sides=two-sided-long-edge", {false, true}},
  };
  for (const Case& c : cases) {
    JobRun job;
    if (c.standardPpd)
      job.ppd = standardDuplexPpd(c.defaultChoice);
    else
      job.ppd.setDefault("DrvDuplex", c.defaultChoice);
    job.run.options = c.options;
    job.pages = {markedPage(1), markedPage(2)};
    FilterResult result;
    JobStream stream = runDuplex(job, result);
    ASSERT_EQ(stream.pages.size(), 2u) << c.name;
    if (c.turnedInStreamOrder.empty()) {
      EXPECT_EQ(settingValue(stream, "DUPLEX"), "OFF") << c.name;
      EXPECT_EQ(markedPageIds(stream), (std::vector<int>{2, 1})) << c.name;
      continue;
    }
    EXPECT_EQ(settingValue(stream, "DUPLEX"), "ON") << c.name;
    for (size_t i = 0; i < 2; ++i)
      EXPECT_EQ(turned(stream.pages[i]), c.turnedInStreamOrder[i]) << c.name << " page " << i;
  }
}
