// What the colour library is handed and how its answers end a job.
#include "job_fixture.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/engine_log.h"

using namespace zerutest;

TEST(EngineJob, CallOrderAndModelPathPerProductAndLoop) {
  ZERU_REQUIRE_FILTER_RUNS();
  struct Case {
    std::optional<std::string> product;
    bool duplex;
    std::string path;
  };
  const Case cases[] = {
      {"(ZEMRO TX 7M)", false, "/Library/Printers/ZEMRO/lib/ZEMRO TX 7M"},
      {"(ZEMRO TX 7MN)", false, "/Library/Printers/ZEMRO/lib/ZEMRO TX 7M"},
      {"(ZEMRO TX 7N)", false, "/Library/Printers/ZEMRO/lib/ZEMRO TX 7"},
      {"(ZEMRO TX 7)", true, "/Library/Printers/ZEMRO/ZEMRO TX 7"},
      {"(ZEMRO TX 7M)", true, "/Library/Printers/ZEMRO/ZEMRO TX 7M"},
      {"(Another Printer)", false, "(null)"},
      {std::nullopt, false, "(null)"},
  };
  for (const Case& c : cases) {
    JobRun job;
    job.ppd.product(c.product);
    if (c.duplex) job.ppd.setDefault("DrvDuplex", "DrvDuplexNoTumble");
    job.pages = {markedPage(1, true), markedPage(2, true)};
    FilterResult result = job.go();
    ASSERT_EQ(result.exitStatus, 0) << result.describe();
    std::vector<EngineCall> calls = parseEngineLog(result.engineLog);
    std::vector<EngineCall> inits = callsNamed(calls, "InitZARVEL");
    ASSERT_EQ(inits.size(), 8u);
    for (const EngineCall& init : inits)
      EXPECT_EQ(init.text("modelPath"), c.path) << c.product.value_or("no Product");
  }

  // One page: four instances through every step, in order.
  JobRun job;
  job.pages = {markedPage(1, true)};
  FilterResult result = job.go();
  ASSERT_EQ(result.exitStatus, 0) << result.describe();
  std::vector<std::string> names = callNames(parseEngineLog(result.engineLog));
  std::vector<std::string> steps;
  for (const std::string& name : names)
    if (name != "ZARVEL") steps.push_back(name);
  std::vector<std::string> expected;
  for (const char* step : {"InitZARVEL", "StartAdjustJob", "CreateZARVEL", "UpdateScreenThread",
                           "UpdateScreenTonerTRC", "EndZARVEL"})
    for (int k = 0; k < 4; ++k) expected.push_back(step);
  EXPECT_EQ(steps, expected);
  EXPECT_EQ(std::count(names.begin(), names.end(), "ZARVEL"), 600);
}

namespace {

// Every instance the engine made was ended, each once.
void expectEveryInstanceEnded(const std::string& engineLog) {
  std::vector<EngineCall> calls = parseEngineLog(engineLog);
  std::vector<long long> made;
  for (const EngineCall& init : callsNamed(calls, "InitZARVEL"))
    if (init.number("result") >= 0) made.push_back(init.number("handle"));
  std::vector<long long> ended;
  for (const EngineCall& end : callsNamed(calls, "EndZARVEL")) ended.push_back(end.number("handle"));
  std::sort(made.begin(), made.end());
  std::sort(ended.begin(), ended.end());
  EXPECT_EQ(ended, made);
}

}  // namespace

TEST(EngineJob, RefusedSetUpEndsTheJobWith255) {
  ZERU_REQUIRE_FILTER_RUNS();
  struct Refusal {
    const char* name;
    const char* value;
  };
  // Refused by every InitZARVEL, by the third (two instances made), by every
  // UpdateScreenThread (four made).
  for (Refusal refusal : {Refusal{"ZERU_TEST_ENGINE_REFUSE_INIT", "1"},
                          Refusal{"ZERU_TEST_ENGINE_REFUSE_INIT_FROM", "3"},
                          Refusal{"ZERU_TEST_ENGINE_REFUSE_SCREEN", "1"}}) {
    SCOPED_TRACE(refusal.name);
    JobRun job;
    job.pages = {markedPage(1), markedPage(2)};
    job.run.env[refusal.name] = refusal.value;
    FilterResult result = job.go();
    EXPECT_TRUE(result.exited) << result.describe();
    EXPECT_EQ(result.exitStatus, 255) << result.describe();
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("ERROR: The colour library refused the page\n"), std::string::npos)
        << result.err;
    EXPECT_TRUE(result.leftFiles.empty());
    // The refused page gives back the instances it was given.
    expectEveryInstanceEnded(result.engineLog);
  }
  // Refused on the second page: the first page's spool file goes too.
  JobRun second;
  second.pages = {markedPage(1), markedPage(2)};
  second.run.env["ZERU_TEST_ENGINE_REFUSE_INIT_FROM"] = "5";
  FilterResult result = second.go();
  EXPECT_EQ(result.exitStatus, 255) << result.describe();
  EXPECT_TRUE(result.leftFiles.empty());
  expectEveryInstanceEnded(result.engineLog);
}

TEST(EngineJob, LateEngineGivesTheSamePlanes) {
  ZERU_REQUIRE_FILTER_RUNS();
  auto planesOf = [](bool late) {
    JobRun job;
    job.pages = {markedPage(3, true), markedPage(2, false)};
    if (late) job.run.env["ZERU_TEST_ENGINE_LATE"] = "1";
    FilterResult result = job.go();
    EXPECT_EQ(result.exitStatus, 0) << result.describe();
    JobStream stream = readStream(result.out);
    std::vector<std::vector<uint8_t>> planes;
    for (const PageBlock& page : stream.pages)
      for (const PlaneEntity& entity : page.planes) planes.push_back(entity.decoded.bits);
    return planes;
  };
  std::vector<std::vector<uint8_t>> prompt = planesOf(false);
  EXPECT_EQ(prompt.size(), 5u);
  EXPECT_EQ(planesOf(true), prompt);
}

TEST(EngineJob, ProgressIsReportedEvery128Lines) {
  ZERU_REQUIRE_FILTER_RUNS();
  JobRun job;
  RasterPage page = markedPage(1);
  page.header.cupsHeight = 300;
  job.pages = {page};
  FilterResult result = job.go();
  ASSERT_EQ(result.exitStatus, 0) << result.describe();
  EXPECT_NE(result.err.find("INFO: Printing page 1, 0% complete...\n"
                            "ATTR: job-media-progress=0\n"
                            "INFO: Printing page 1, 42% complete...\n"
                            "ATTR: job-media-progress=42\n"
                            "INFO: Printing page 1, 85% complete...\n"
                            "ATTR: job-media-progress=85\n"
                            "ATTR: job-media-progress=100\n"),
            std::string::npos)
      << result.err;
}
