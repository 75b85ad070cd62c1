#include <gtest/gtest.h>
#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "imaging/engine_loader.h"

namespace {

int fakeZARVEL(int, unsigned char*, void*, int, int) { return 0; }
int fakeInit(EngineSetup*) { return 0; }
int fakeHandleOnly(int) { return 0; }
int fakeStartColorAdjust(int, void*) { return 0; }
int fakeStartAdjustJob(int, AdjustRecord*) { return 0; }
int fakeThreeInts(int, int, int) { return 0; }

EngineLibrary completeTable() {
  EngineLibrary library;
  library.pfZARVEL = fakeZARVEL;
  library.pfInitZARVEL = fakeInit;
  library.pfCreateZARVEL = fakeHandleOnly;
  library.pfEndZARVEL = fakeHandleOnly;
  library.pfStartColorAdjust = fakeStartColorAdjust;
  library.pfStartAdjustJob = fakeStartAdjustJob;
  library.pfUpdateScreenThread = fakeThreeInts;
  library.pfUpdateScreenTRC = fakeThreeInts;
  library.pfUpdateScreenTonerTRC = fakeThreeInts;
  return library;
}

}  // namespace

TEST(EngineLoader, LibraryPathsAreTriedInTheirFixedOrder) {
  EXPECT_STREQ(engineLibraryPaths[0], "/opt/ZEMRO/lib/ZEMRO TX 7Mcl.so");
  EXPECT_STREQ(engineLibraryPaths[1], "/opt/ZEMRO/lib/ZEMRO TX 7cl.so");
  EXPECT_STREQ(engineLibraryPaths[2], "/opt/ZEMRO/lib/ZEMRO TX 7MNcl.so");
  EXPECT_STREQ(engineLibraryPaths[3], "/opt/ZEMRO/lib/ZEMRO TX 7Ncl.so");
}

// A packaged stand-in comes after every maker's path, so that a maker's
// library wins wherever it is installed; when the stand-in is not there the
// list is the maker's alone, and so is the error of a failed load.
TEST(EngineLoader, PackagedStandinIsTriedOnlyAfterTheMakersPaths) {
  const std::vector<std::string> makers(engineLibraryPaths.begin(), engineLibraryPaths.end());
  const std::string packaged = "/usr/lib/x86_64-linux-gnu/zemro/libzeruengine.so";

  std::vector<std::string> withPackage = engineSearchPaths(packaged, true);
  ASSERT_EQ(withPackage.size(), makers.size() + 1);
  EXPECT_TRUE(std::equal(makers.begin(), makers.end(), withPackage.begin()));
  EXPECT_EQ(withPackage.back(), packaged);

  EXPECT_EQ(engineSearchPaths(packaged, false), makers);
  EXPECT_EQ(engineSearchPaths("", true), makers);
}

// The loader prints nothing: what the filter shows of a load comes back as
// values.
TEST(EngineLoader, NoLibraryOpensReturnsTheLoaderErrorAndFails) {
  const char* paths[] = {"/nonexistent/first.so", "/nonexistent/second.so"};
  EngineLibrary library;
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  EngineLoadResult loaded = loadEngineLibraryFrom(paths, 2, library);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_FALSE(loaded);
  EXPECT_EQ(library.handle, nullptr);
  EXPECT_NE(loaded.error.find("/nonexistent/second.so"), std::string::npos) << loaded.error;
  EXPECT_TRUE(loaded.notices.empty());
}

TEST(EngineLoader, FirstPathThatOpensIsUsed) {
  // libm opens but carries none of the engine's names: every entry stays
  // null, the missing UpdateScreenThread is a notice, and the library gets
  // one page at a time.
  const char* paths[] = {"/nonexistent/first.so", "libm.so.6", "libc.so.6"};
  EngineLibrary library;
  testing::internal::CaptureStdout();
  EngineLoadResult loaded = loadEngineLibraryFrom(paths, 3, library);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  ASSERT_TRUE(loaded);
  EXPECT_EQ(loaded.error, "");
  EXPECT_EQ(loaded.notices, std::vector<std::string>{"pfUpdateScreenThread = NULL"});
  EXPECT_NE(library.handle, nullptr);
  EXPECT_NE(dlsym(library.handle, "cos"), nullptr);
  EXPECT_EQ(library.pfZARVEL, nullptr);
  EXPECT_EQ(library.pfUpdateScreenTonerTRC, nullptr);
  EXPECT_EQ(library.concurrentPages, 1);
  EXPECT_FALSE(library.canRenderPages());
  EXPECT_STREQ(library.firstMissingEntry(), "ZARVEL");
  unloadEngineLibrary(library);
  EXPECT_EQ(library.handle, nullptr);
}

#ifdef ZERU_TEST_ENGINE
TEST(EngineLoader, TestEngineResolvesEveryEntryPoint) {
  void* probe = dlopen(ZERU_TEST_ENGINE, RTLD_LAZY);
  if (!probe || !dlsym(probe, "ZARVEL")) {
    if (probe) dlclose(probe);
    GTEST_SKIP() << "the test engine does not carry the engine's entry points yet";
  }
  dlclose(probe);
  const char* paths[] = {ZERU_TEST_ENGINE};
  EngineLibrary library;
  EngineLoadResult loaded = loadEngineLibraryFrom(paths, 1, library);
  ASSERT_TRUE(loaded);
  EXPECT_TRUE(loaded.notices.empty());
  EXPECT_TRUE(library.canRenderPages());
  // It says it converts pages of different jobs at once.
  EXPECT_GT(library.concurrentPages, 1);
  EXPECT_NE(library.pfStartColorAdjust, nullptr);
  EXPECT_NE(library.pfUpdateScreenTRC, nullptr);
  unloadEngineLibrary(library);
}
#endif

TEST(EngineLoader, CompleteTableCanRenderPages) {
  EngineLibrary library = completeTable();
  EXPECT_TRUE(library.canRenderPages());
  EXPECT_EQ(library.firstMissingEntry(), nullptr);
}

TEST(EngineLoader, EveryEntryAPageUsesIsRequired) {
  struct Case {
    const char* name;
    void (*clear)(EngineLibrary&);
  };
  const Case cases[] = {
      {"ZARVEL", [](EngineLibrary& l) { l.pfZARVEL = nullptr; }},
      {"InitZARVEL", [](EngineLibrary& l) { l.pfInitZARVEL = nullptr; }},
      {"CreateZARVEL", [](EngineLibrary& l) { l.pfCreateZARVEL = nullptr; }},
      {"EndZARVEL", [](EngineLibrary& l) { l.pfEndZARVEL = nullptr; }},
      {"StartAdjustJob", [](EngineLibrary& l) { l.pfStartAdjustJob = nullptr; }},
      {"UpdateScreenThread", [](EngineLibrary& l) { l.pfUpdateScreenThread = nullptr; }},
      {"UpdateScreenTonerTRC", [](EngineLibrary& l) { l.pfUpdateScreenTonerTRC = nullptr; }},
  };
  for (const Case& c : cases) {
    EngineLibrary library = completeTable();
    c.clear(library);
    EXPECT_FALSE(library.canRenderPages()) << c.name;
    EXPECT_STREQ(library.firstMissingEntry(), c.name);
  }
}

TEST(EngineLoader, EntriesNeverCalledAreNotRequired) {
  EngineLibrary library = completeTable();
  library.pfStartColorAdjust = nullptr;
  library.pfUpdateScreenTRC = nullptr;
  EXPECT_TRUE(library.canRenderPages());
}

TEST(EngineLoader, FirstMissingEntryFollowsLookupOrder) {
  EngineLibrary library = completeTable();
  library.pfUpdateScreenTonerTRC = nullptr;
  library.pfCreateZARVEL = nullptr;
  EXPECT_STREQ(library.firstMissingEntry(), "CreateZARVEL");
}
