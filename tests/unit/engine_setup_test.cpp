#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "filter/product_model.h"
#include "imaging/engine_setup.h"

namespace {

// ---- Expected bytes, written field by field in little-endian order ----

template <size_t N>
void putLe32(std::array<uint8_t, N>& bytes, size_t offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

template <typename T>
std::array<uint8_t, sizeof(T)> bytesOf(const T& record) {
  std::array<uint8_t, sizeof(T)> bytes;
  memcpy(bytes.data(), &record, sizeof(T));
  return bytes;
}

unsigned char* outputLineA() { return nullptr; }
int lineReadyA() { return 0; }

JobSettings colourFinenessPage() {
  JobSettings s;
  s.colorMode = 1;
  s.lineWidth = 10240;
  s.imageType = 2;
  s.complementary = 0;
  s.grayGuarantee = 0;
  s.screenMode = 512;
  s.tonerMode = 2;
  return s;
}

JobSettings grayscalePage() {
  JobSettings s;
  s.colorMode = 0;
  s.lineWidth = 5120;
  s.imageType = 3;       // read on colour pages only
  s.complementary = 1;   // likewise
  s.grayGuarantee = 1;
  s.screenMode = 768;
  return s;
}

// ---- A recording engine ----

std::vector<std::string> calls;
std::array<EngineSetup, 4> setupsSeen{};
std::array<const AdjustRecord*, 4> adjustSeen{};
int refuseInitOf = -1;
int refuseScreenThreadOf = -1;

int handleOf(int index) { return 10 + index; }

int recInit(EngineSetup* setup) {
  int index = 0;
  for (const std::string& c : calls) index += c.rfind("Init", 0) == 0;
  setupsSeen[index] = *setup;
  calls.push_back("Init " + std::to_string(index));
  return index == refuseInitOf ? -1 : handleOf(index);
}
int recStartAdjustJob(int handle, AdjustRecord* adjust) {
  adjustSeen[handle - 10] = adjust;
  calls.push_back("StartAdjustJob " + std::to_string(handle));
  return 0;
}
int recCreate(int handle) {
  calls.push_back("Create " + std::to_string(handle));
  return 0;
}
int recEnd(int handle) {
  calls.push_back("End " + std::to_string(handle));
  return 0;
}
int recScreenThread(int handle, int instances, int index) {
  calls.push_back("UpdateScreenThread " + std::to_string(handle) + " " +
                  std::to_string(instances) + " " + std::to_string(index));
  return index == refuseScreenThreadOf ? -3 : 0;
}
int recTonerTRC(int handle, int tonerMode, int zero) {
  calls.push_back("UpdateScreenTonerTRC " + std::to_string(handle) + " " +
                  std::to_string(tonerMode) + " " + std::to_string(zero));
  return 0;
}
int recZARVEL(int, unsigned char*, void*, int, int) { return 0; }
int recUnused(int, int, int) {
  calls.push_back("unused");
  return 0;
}
int recUnusedAdjust(int, void*) {
  calls.push_back("unused");
  return 0;
}

EngineLibrary recordingEngine() {
  calls.clear();
  setupsSeen = {};
  adjustSeen = {};
  refuseInitOf = -1;
  refuseScreenThreadOf = -1;
  EngineLibrary library;
  library.pfZARVEL = recZARVEL;
  library.pfInitZARVEL = recInit;
  library.pfCreateZARVEL = recCreate;
  library.pfEndZARVEL = recEnd;
  library.pfStartColorAdjust = recUnusedAdjust;
  library.pfStartAdjustJob = recStartAdjustJob;
  library.pfUpdateScreenThread = recScreenThread;
  library.pfUpdateScreenTRC = recUnused;
  library.pfUpdateScreenTonerTRC = recTonerTRC;
  return library;
}

template <int K>
unsigned char* outputLineOf() {
  return nullptr;
}
template <int K>
int lineReadyOf() {
  return K;
}
const std::array<GetOutputLineFn, 4> kOutputLines = {outputLineOf<0>, outputLineOf<1>,
                                                     outputLineOf<2>, outputLineOf<3>};
const std::array<LineReadyFn, 4> kLineReadys = {lineReadyOf<0>, lineReadyOf<1>, lineReadyOf<2>,
                                                lineReadyOf<3>};

}  // namespace

// ---- Model path ----

// The PPD's Product names the model, whose paths the engine is handed: the
// 7M family's colour models for 7M and 7MN, the 7 family's for 7 and 7N.
TEST(EngineModelPath, ProductSelectsThePathOfEachLoop) {
  struct Case {
    const char* product;
    const char* simplex;
    const char* duplex;
  };
  const Case cases[] = {
      {"(ZEMRO TX 7MN)", "/Library/Printers/ZEMRO/lib/ZEMRO TX 7M", "/Library/Printers/ZEMRO/ZEMRO TX 7M"},
      {"(ZEMRO TX 7M)", "/Library/Printers/ZEMRO/lib/ZEMRO TX 7M", "/Library/Printers/ZEMRO/ZEMRO TX 7M"},
      {"(ZEMRO TX 7N)", "/Library/Printers/ZEMRO/lib/ZEMRO TX 7", "/Library/Printers/ZEMRO/ZEMRO TX 7"},
      {"(ZEMRO TX 7)", "/Library/Printers/ZEMRO/lib/ZEMRO TX 7", "/Library/Printers/ZEMRO/ZEMRO TX 7"},
  };
  for (const Case& c : cases) {
    const std::optional<zeru::Model> model = modelForProduct(c.product);
    ASSERT_TRUE(model.has_value()) << c.product;
    EXPECT_STREQ(zeru::describe(*model).oneSidedModelPath, c.simplex) << c.product;
    EXPECT_STREQ(zeru::describe(*model).twoSidedModelPath, c.duplex) << c.product;
  }
}

TEST(EngineModelPath, OtherProductsNameNoModel) {
  // Compared exactly: no case folding, the parentheses belong to the value.
  for (const char* product : {"(ZEMRO TX 9)", "(zemro tx 7m)", "ZEMRO TX 7M", "(Other)", ""})
    EXPECT_FALSE(modelForProduct(product).has_value()) << product;
  EXPECT_FALSE(modelForProduct(nullptr).has_value());
}

// ---- EngineSetup ----

TEST(EngineSetupRecord, ColourFinenessPageAt1200Dpi) {
  const char* model = "/Library/Printers/ZEMRO/lib/ZEMRO TX 7M";
  EngineSetup setup = buildEngineSetup(colourFinenessPage(), 1200, model, outputLineA, lineReadyA);
  std::array<uint8_t, 80> expected{};
  putLe32(expected, 24, 0x44);
  putLe32(expected, 28, 10240);
  putLe32(expected, 32, 10000);
  putLe32(expected, 36, 10000);
  putLe32(expected, 40, 2);
  putLe32(expected, 44, 0x601);
  putLe32(expected, 48, 24);
  expected[56] = 2;
  expected[57] = 4;
  expected[58] = 1;
  expected[59] = 1;
  putLe32(expected, 60, 2222);
  putLe32(expected, 64, 2);
  std::array<uint8_t, 80> actual = bytesOf(setup);
  for (size_t i = 16; i < 72; ++i) EXPECT_EQ(actual[i], expected[i]) << "byte " << i;
  EXPECT_EQ(setup.modelPath, model);
  EXPECT_EQ(setup.getOutputLine, &outputLineA);
  EXPECT_EQ(setup.lineReady, &lineReadyA);
}

TEST(EngineSetupRecord, GrayscalePageAt600Dpi) {
  EngineSetup setup = buildEngineSetup(grayscalePage(), 600, nullptr, outputLineA, lineReadyA);
  std::array<uint8_t, 80> expected{};
  putLe32(expected, 24, 0x2044);  // complementary does not apply to grayscale pages
  putLe32(expected, 28, 5120);
  putLe32(expected, 32, 10000);
  putLe32(expected, 36, 10000);
  putLe32(expected, 40, 0);
  putLe32(expected, 44, 0x301);
  putLe32(expected, 48, 12);
  expected[56] = 1;
  expected[57] = 9;
  expected[58] = 1;
  expected[59] = 1;
  putLe32(expected, 60, 2);
  putLe32(expected, 64, 0);
  std::array<uint8_t, 80> actual = bytesOf(setup);
  for (size_t i = 16; i < 80; ++i) EXPECT_EQ(actual[i], expected[i]) << "byte " << i;
}

TEST(EngineSetupRecord, ComplementaryColourPageClearsImageType) {
  JobSettings s = colourFinenessPage();
  s.complementary = 1;
  s.grayGuarantee = 1;
  s.screenMode = 768;
  EngineSetup setup = buildEngineSetup(s, 600, nullptr, outputLineA, lineReadyA);
  EXPECT_EQ(setup.renderFlags, 0x2048u);
  EXPECT_EQ(setup.imageType, 0u);
  EXPECT_EQ(setup.screenWord, 0x301u);
  EXPECT_EQ(setup.resolutionWord, 12u);
}

TEST(EngineSetupRecord, ResolutionWordsFollowTheHeaderResolution) {
  JobSettings s = colourFinenessPage();
  s.screenMode = 0;
  EXPECT_EQ(buildEngineSetup(s, 600, nullptr, nullptr, nullptr).screenWord, 0x101u);
  EXPECT_EQ(buildEngineSetup(s, 1200, nullptr, nullptr, nullptr).screenWord, 0x401u);
  EXPECT_EQ(buildEngineSetup(s, 300, nullptr, nullptr, nullptr).screenWord, 0x101u);
  EXPECT_EQ(buildEngineSetup(s, 600, nullptr, nullptr, nullptr).resolutionWord, 12u);
  EXPECT_EQ(buildEngineSetup(s, 300, nullptr, nullptr, nullptr).resolutionWord, 24u);
  s.screenMode = 768;
  EXPECT_EQ(buildEngineSetup(s, 1200, nullptr, nullptr, nullptr).screenWord, 0x701u);
}

// ---- AdjustRecord ----

JobSettings adjustedColourPage() {
  JobSettings s = colourFinenessPage();
  s.adjustFlags = 12;
  s.brightness = 50;
  s.contrastBackground = -100;
  s.contrastImage = -30;
  s.contrastGraphics = 25;
  s.contrastText = 75;
  s.chromaBackground = 10;
  s.chromaImage = -20;
  s.chromaGraphics = 30;
  s.chromaText = -40;
  s.density = {1, 2, 3, 0, 1, 0, 0, 0, 0, 0, 0, -1};
  s.densityCode = {0x456, 0x040, 0x000, 0x003};
  return s;
}

TEST(EngineAdjustRecord, ColourPageBytes) {
  AdjustRecord adjust = buildAdjustRecord(adjustedColourPage());
  std::array<uint8_t, 96> expected{};
  putLe32(expected, 0, 12);
  for (int i = 0; i < 4; ++i) putLe32(expected, 32 + 4 * i, 50);
  const int32_t contrast[] = {-100, -30, 25, 75};
  const int32_t chroma[] = {10, -20, 30, -40};
  const uint32_t density[] = {0x456, 0x040, 0x000, 0x003};
  for (int i = 0; i < 4; ++i) {
    putLe32(expected, 48 + 4 * i, static_cast<uint32_t>(contrast[i]));
    putLe32(expected, 64 + 4 * i, static_cast<uint32_t>(chroma[i]));
    putLe32(expected, 80 + 4 * i, density[i]);
  }
  EXPECT_EQ(bytesOf(adjust), expected);
}

TEST(EngineAdjustRecord, GrayscalePageCarriesBlackDensityOnly) {
  JobSettings s = adjustedColourPage();
  s.colorMode = 0;
  AdjustRecord adjust = buildAdjustRecord(s);
  EXPECT_EQ(adjust.densityCode[0], 0x456);
  EXPECT_EQ(adjust.densityCode[1], 0);
  EXPECT_EQ(adjust.densityCode[2], 0);
  EXPECT_EQ(adjust.densityCode[3], 0);
  EXPECT_EQ(adjust.adjustFlags, 12u);
  EXPECT_EQ(adjust.contrast[1], -30);
}

TEST(EngineAdjustRecord, NoDensitySetMeansNoDensityCodes) {
  JobSettings s = adjustedColourPage();
  s.density = {};
  s.adjustFlags = 4;
  AdjustRecord adjust = buildAdjustRecord(s);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(adjust.densityCode[i], 0) << i;
  EXPECT_EQ(adjust.brightness[3], 50);
}

// ---- Call sequence ----

TEST(EnginePageSetUp, CallsEachStepForAllFourInstancesInOrder) {
  EngineLibrary library = recordingEngine();
  JobSettings settings = adjustedColourPage();
  EnginePage page;
  const char* model = "/Library/Printers/ZEMRO/ZEMRO TX 7";
  bool ok = prepareEnginePage(library, settings, 1200, model, kOutputLines, kLineReadys,
                              [] { calls.push_back("after"); }, page);
  ASSERT_TRUE(ok);
  endEnginePage(library, page);
  const std::vector<std::string> expected = {
      "Init 0", "Init 1", "Init 2", "Init 3",
      "StartAdjustJob 10", "StartAdjustJob 11", "StartAdjustJob 12", "StartAdjustJob 13",
      "Create 10", "Create 11", "Create 12", "Create 13",
      "UpdateScreenThread 10 4 0", "UpdateScreenThread 11 4 1",
      "UpdateScreenThread 12 4 2", "UpdateScreenThread 13 4 3",
      "after",
      "UpdateScreenTonerTRC 10 2 0", "UpdateScreenTonerTRC 11 2 0",
      "UpdateScreenTonerTRC 12 2 0", "UpdateScreenTonerTRC 13 2 0",
      "End 10", "End 11", "End 12", "End 13"};
  EXPECT_EQ(calls, expected);
  EXPECT_EQ(page.handles, (std::array<int, 4>{10, 11, 12, 13}));
}

TEST(EnginePageSetUp, InstancesShareTheBlockButNotTheCallbacks) {
  EngineLibrary library = recordingEngine();
  JobSettings settings = adjustedColourPage();
  EnginePage page;
  ASSERT_TRUE(prepareEnginePage(library, settings, 1200, "/m", kOutputLines, kLineReadys, {}, page));
  std::array<uint8_t, 80> first = bytesOf(setupsSeen[0]);
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(setupsSeen[k].getOutputLine, kOutputLines[k]) << k;
    EXPECT_EQ(setupsSeen[k].lineReady, kLineReadys[k]) << k;
    std::array<uint8_t, 80> other = bytesOf(setupsSeen[k]);
    EXPECT_TRUE(std::equal(first.begin() + 16, first.end(), other.begin() + 16)) << k;
    // Each instance reads its own copy of the same adjustment.
    EXPECT_EQ(adjustSeen[k], &page.adjust[k]);
    EXPECT_EQ(bytesOf(page.adjust[k]), bytesOf(buildAdjustRecord(settings)));
  }
}

TEST(EnginePageSetUp, NegativeHandleRefusesThePage) {
  EngineLibrary library = recordingEngine();
  refuseInitOf = 2;
  JobSettings settings = colourFinenessPage();
  EnginePage page;
  bool afterCalled = false;
  EXPECT_FALSE(prepareEnginePage(library, settings, 600, nullptr, kOutputLines, kLineReadys,
                                 [&] { afterCalled = true; }, page));
  EXPECT_FALSE(afterCalled);
  // The instances that were made are ended; the refused one is none.
  const std::vector<std::string> expected = {"Init 0", "Init 1", "Init 2", "Init 3",
                                             "End 10", "End 11", "End 13"};
  EXPECT_EQ(calls, expected);
}

TEST(EnginePageSetUp, NegativeScreenThreadResultRefusesThePage) {
  EngineLibrary library = recordingEngine();
  refuseScreenThreadOf = 1;
  JobSettings settings = colourFinenessPage();
  EnginePage page;
  bool afterCalled = false;
  EXPECT_FALSE(prepareEnginePage(library, settings, 600, nullptr, kOutputLines, kLineReadys,
                                 [&] { afterCalled = true; }, page));
  EXPECT_FALSE(afterCalled);
  for (const std::string& c : calls) EXPECT_EQ(c.find("UpdateScreenTonerTRC"), std::string::npos);
  // All four instances were made, and all four are ended.
  const std::vector<std::string> ends(calls.end() - 4, calls.end());
  EXPECT_EQ(ends, (std::vector<std::string>{"End 10", "End 11", "End 12", "End 13"}));
}

TEST(EnginePageSetUp, MissingEntryPointIsNeverCalled) {
  EngineLibrary library = recordingEngine();
  library.pfUpdateScreenTonerTRC = nullptr;
  JobSettings settings = colourFinenessPage();
  EnginePage page;
  EXPECT_FALSE(prepareEnginePage(library, settings, 600, nullptr, kOutputLines, kLineReadys, {}, page));
  EXPECT_TRUE(calls.empty());
}
