// Which colour library the filter loads when a package has installed the
// stand-in outside /opt: the maker's paths always come first.
#include "job_fixture.h"

#include <string>

using namespace zerutest;

TEST(PackagedEngine, StandinIsLoadedOnlyWhenNoMakersLibraryOpens) {
  ZERU_REQUIRE_FILTER_RUNS();

  // Nothing in /opt: the packaged stand-in prints the job.
  JobRun packagedOnly;
  packagedOnly.pages = {markedPage(1)};
  packagedOnly.run.engine = EngineMount::none();
  packagedOnly.run.packagedEngine = ZERU_STANDIN_ENGINE;
  FilterResult result = packagedOnly.go();
  ASSERT_EQ(result.exitStatus, 0) << result.describe();
  EXPECT_NE(result.err.find("INFO: Ready to print.\n"), std::string::npos) << result.err;
  EXPECT_NE(result.out.find("@PJL ENTER LANGUAGE=ZERU"), std::string::npos);

  // A library at the maker's first path wins over the packaged stand-in:
  // the test engine records the calls of the job.
  JobRun makerFirst;
  makerFirst.pages = {markedPage(1)};
  makerFirst.run.engine = EngineMount::test();
  makerFirst.run.packagedEngine = ZERU_STANDIN_ENGINE;
  result = makerFirst.go();
  ASSERT_EQ(result.exitStatus, 0) << result.describe();
  EXPECT_NE(result.engineLog.find("InitZARVEL"), std::string::npos) << result.engineLog;

  // A maker's library under its last name still wins.
  JobRun makerLast;
  makerLast.pages = {markedPage(1)};
  makerLast.run.engine = EngineMount::test();
  makerLast.run.engine.name = "ZEMRO TX 7Ncl.so";
  makerLast.run.packagedEngine = ZERU_STANDIN_ENGINE;
  result = makerLast.go();
  ASSERT_EQ(result.exitStatus, 0) << result.describe();
  EXPECT_NE(result.engineLog.find("InitZARVEL"), std::string::npos) << result.engineLog;

  // Neither: the failure names the maker's last path, as without a package.
  JobRun neither;
  neither.pages = {markedPage(1)};
  neither.run.engine = EngineMount::none();
  result = neither.go();
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_EQ(result.err.rfind("ERROR: zarvelmac open fail:", 0), 0u) << result.err;
  EXPECT_NE(result.err.find("ZEMRO TX 7Ncl.so"), std::string::npos) << result.err;
}
