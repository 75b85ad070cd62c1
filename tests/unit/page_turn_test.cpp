// A page's turn with the colour library in a process that renders many jobs:
// the library's page limit, the bounded and cancellable wait for a turn, and
// a refused page that gives back everything it took.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "imaging/engine_loader.h"
#include "imaging/engine_session.h"
#include "imaging/page_renderer.h"
#include "support/engine_log.h"
#include "support/temp_dir.h"
#include "zeru/page_header.h"

using namespace zerutest;

namespace {

// A library that converts nothing and counts its instances. Each Id is a
// library of its own (its own InitZARVEL).
template <int Id>
struct CountingEngine {
  static inline std::mutex mutex;
  static inline int inits = 0;
  static inline int live = 0;  // made and not yet ended

  static int init(EngineSetup*) {
    std::lock_guard<std::mutex> lock(mutex);
    ++inits;
    ++live;
    return inits;
  }
  static int end(int) {
    std::lock_guard<std::mutex> lock(mutex);
    --live;
    return 0;
  }
  static int handleOnly(int) { return 0; }
  static int zarvel(int, unsigned char*, void*, int, int) { return 0; }
  static int adjust(int, AdjustRecord*) { return 0; }
  static int threeInts(int, int, int) { return 0; }

  static EngineLibrary library(int concurrentPages) {
    {
      std::lock_guard<std::mutex> lock(mutex);
      inits = 0;
      live = 0;
    }
    EngineLibrary l;
    l.pfZARVEL = zarvel;
    l.pfInitZARVEL = init;
    l.pfCreateZARVEL = handleOnly;
    l.pfEndZARVEL = end;
    l.pfStartAdjustJob = adjust;
    l.pfUpdateScreenThread = threeInts;
    l.pfUpdateScreenTonerTRC = threeInts;
    l.concurrentPages = concurrentPages;
    return l;
  }
  static int initCount() {
    std::lock_guard<std::mutex> lock(mutex);
    return inits;
  }
  static int liveCount() {
    std::lock_guard<std::mutex> lock(mutex);
    return live;
  }
};

zeru::PageHeader headerOf(unsigned lines, bool colour) {
  zeru::PageHeader header;
  header.hwResolution[0] = header.hwResolution[1] = 600;
  header.height = lines;
  header.bitsPerPixel = colour ? 24 : 8;
  header.bytesPerLine = 64 * (colour ? 3 : 1);
  return header;
}

JobSettings settingsOf(bool colour) {
  JobSettings s;
  s.colorMode = colour ? 1 : 0;
  s.lineWidth = 64;
  s.printableWidth = 40;
  s.resolution = 600;
  s.tonerMode = 1;
  return s;
}

// One page of a job, begun and not yet ended.
struct OpenPage {
  zeru::PageHeader header = headerOf(8, true);
  JobSettings settings = settingsOf(true);
  PlaneBuffers planes;
  PageRenderer renderer;

  RenderResult begin(const EngineLibrary& library, std::chrono::milliseconds wait,
                     std::function<bool()> cancelled = {}) {
    PageRenderOptions options;
    options.library = &library;
    options.header = &header;
    options.settings = &settings;
    options.pageCount = 1;
    options.slotWait = wait;
    options.cancelled = std::move(cancelled);
    return renderer.begin(options, planes);
  }
};

constexpr std::chrono::milliseconds kNoWait{0};
constexpr std::chrono::milliseconds kLongWait = std::chrono::minutes(10);

// Nothing of a page that did not get its turn was made: no planes, no
// engine instance.
void expectUntouched(const PlaneBuffers& planes) {
  EXPECT_EQ(planes.lines, 0u);
  for (const auto& plane : planes.plane) EXPECT_TRUE(plane.empty());
}

}  // namespace

TEST(PageTurn, LibraryWithoutALimitRendersOnePageAtATime) {
  using Engine = CountingEngine<1>;
  EngineLibrary library = Engine::library(1);
  EXPECT_EQ(pageLimitFor(library), 1);

  OpenPage first;
  ASSERT_EQ(first.begin(library, kNoWait), RenderResult::Ok);
  EXPECT_EQ(Engine::initCount(), 4);

  // A second page waits for its turn; when the wait runs out it has taken
  // nothing and called nothing.
  OpenPage second;
  EXPECT_EQ(second.begin(library, std::chrono::milliseconds(120)), RenderResult::Busy);
  expectUntouched(second.planes);
  EXPECT_EQ(Engine::initCount(), 4);

  // Once the first page has ended, the second gets its turn.
  first.renderer.end();
  EXPECT_EQ(Engine::liveCount(), 0);
  ASSERT_EQ(second.begin(library, kNoWait), RenderResult::Ok);
  EXPECT_EQ(second.planes.lines, 8u);
  second.renderer.end();
  EXPECT_EQ(Engine::liveCount(), 0);
}

TEST(PageTurn, LibraryLimitAndSlotCountBoundThePagesAtOnce) {
  using Three = CountingEngine<2>;
  using Many = CountingEngine<3>;
  using Other = CountingEngine<4>;

  // A library safe for three pages renders three at once, not four.
  {
    EngineLibrary library = Three::library(3);
    std::vector<std::unique_ptr<OpenPage>> pages;
    for (int i = 0; i < 3; ++i) {
      pages.push_back(std::make_unique<OpenPage>());
      EXPECT_EQ(pages.back()->begin(library, kNoWait), RenderResult::Ok) << i;
    }
    OpenPage fourth;
    EXPECT_EQ(fourth.begin(library, kNoWait), RenderResult::Busy);
    expectUntouched(fourth.planes);

    // Another library's pages are not held back by this one's limit.
    EngineLibrary other = Other::library(1);
    OpenPage otherPage;
    EXPECT_EQ(otherPage.begin(other, kNoWait), RenderResult::Ok);
    EXPECT_EQ(Other::initCount(), 4);
  }
  EXPECT_EQ(Three::liveCount(), 0);
  EXPECT_EQ(Other::liveCount(), 0);

  // A library that says it is safe for more pages than there are callback
  // slots gets as many as the slots allow.
  {
    EngineLibrary library = Many::library(1000);
    EXPECT_EQ(pageLimitFor(library), kConcurrentPages);
    std::vector<std::unique_ptr<OpenPage>> pages;
    for (int i = 0; i < kConcurrentPages; ++i) {
      pages.push_back(std::make_unique<OpenPage>());
      EXPECT_EQ(pages.back()->begin(library, kNoWait), RenderResult::Ok) << i;
    }
    OpenPage ninth;
    EXPECT_EQ(ninth.begin(library, kNoWait), RenderResult::Busy);
    expectUntouched(ninth.planes);
    EXPECT_EQ(Many::initCount(), 4 * kConcurrentPages);
  }
  EXPECT_EQ(Many::liveCount(), 0);

  // A limit below one is one.
  EngineLibrary zero = Three::library(0);
  EXPECT_EQ(pageLimitFor(zero), 1);
}

TEST(PageTurn, WaitingPageGetsItsTurnWhenAPageEnds) {
  using Engine = CountingEngine<5>;
  EngineLibrary library = Engine::library(1);
  OpenPage first;
  ASSERT_EQ(first.begin(library, kNoWait), RenderResult::Ok);

  OpenPage second;
  std::atomic<bool> asked{false};
  RenderResult result = RenderResult::EngineRefused;
  std::thread waiter([&] {
    result = second.begin(library, kLongWait, [&] {
      asked = true;
      return false;
    });
  });
  // The second page is waiting once it asks whether its job is cancelled.
  while (!asked) std::this_thread::yield();
  EXPECT_EQ(Engine::initCount(), 4);
  first.renderer.end();
  waiter.join();
  EXPECT_EQ(result, RenderResult::Ok);
  EXPECT_EQ(Engine::initCount(), 8);
  second.renderer.end();
  EXPECT_EQ(Engine::liveCount(), 0);
}

TEST(PageTurn, CancelledJobStopsWaitingAndTakesNothing) {
  using Engine = CountingEngine<6>;
  EngineLibrary library = Engine::library(1);
  OpenPage first;
  ASSERT_EQ(first.begin(library, kNoWait), RenderResult::Ok);

  // The job is cancelled while its page waits: the wait ends long before
  // its timeout, with nothing taken.
  OpenPage waiting;
  int asked = 0;
  EXPECT_EQ(waiting.begin(library, kLongWait, [&] { return ++asked >= 3; }),
            RenderResult::Cancelled);
  EXPECT_EQ(asked, 3);
  expectUntouched(waiting.planes);
  EXPECT_EQ(Engine::initCount(), 4);

  // A page that gets its turn at once is rendered; its job looks at the
  // cancel between pages.
  first.renderer.end();
  OpenPage next;
  bool nextAsked = false;
  EXPECT_EQ(next.begin(library, kLongWait, [&] { return nextAsked = true; }), RenderResult::Ok);
  EXPECT_FALSE(nextAsked);
  next.renderer.end();
  EXPECT_EQ(Engine::liveCount(), 0);
}

// The test engine holds 64 instances, 16 pages' worth: pages whose instances
// were never ended would soon leave none for the next page.
TEST(PageTurn, RefusedPagesEndTheirInstancesAndTheNextPageRenders) {
  TempDir dir("page-turn");
  const std::string logPath = dir.file("engine.log");
  setenv("ZERU_TEST_ENGINE_LOG", logPath.c_str(), 1);
  const char* paths[] = {ZERU_TEST_ENGINE};
  EngineLibrary library;
  ASSERT_TRUE(loadEngineLibraryFrom(paths, 1, library));

  auto renderBlackPage = [&]() {
    OpenPage page;
    RenderResult result = page.begin(library, kNoWait);
    if (result != RenderResult::Ok) return result;
    for (unsigned y = 0; y < page.header.height; ++y) {
      std::span<unsigned char> line = page.renderer.nextLine();
      std::fill(line.begin(), line.end(), 0);
      page.renderer.pushLine();
    }
    EXPECT_TRUE(page.renderer.end());
    // Every dot of the black plane is set.
    EXPECT_TRUE(std::all_of(page.planes.plane[kBlackPlane].begin(),
                            page.planes.plane[kBlackPlane].end(),
                            [](unsigned char b) { return b == 0xFF; }));
    return result;
  };

  setenv("ZERU_TEST_ENGINE_REFUSE_SCREEN", "1", 1);
  for (int i = 0; i < 20; ++i) {
    OpenPage page;
    ASSERT_EQ(page.begin(library, kNoWait), RenderResult::EngineRefused) << i;
  }
  unsetenv("ZERU_TEST_ENGINE_REFUSE_SCREEN");
  EXPECT_EQ(renderBlackPage(), RenderResult::Ok);

  std::vector<EngineCall> calls = parseEngineLog(readFile(logPath));
  unsetenv("ZERU_TEST_ENGINE_LOG");
  unloadEngineLibrary(library);

  size_t made = 0;
  for (const EngineCall& init : callsNamed(calls, "InitZARVEL")) made += init.number("result") >= 0;
  std::vector<EngineCall> ends = callsNamed(calls, "EndZARVEL");
  EXPECT_EQ(made, 21u * 4);
  EXPECT_EQ(callsNamed(calls, "CreateZARVEL").size(), 21u * 4);
  EXPECT_EQ(ends.size(), made);
  for (const EngineCall& end : ends) EXPECT_EQ(end.number("known"), 1);
}
