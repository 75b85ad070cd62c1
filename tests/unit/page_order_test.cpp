#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "job/page_order.h"

namespace {

std::vector<int> pages(const std::vector<SendStep>& order) {
  std::vector<int> result;
  for (const SendStep& step : order) result.push_back(step.page);
  return result;
}

// The spooler's line for a step, as the CUPS filter writes it; "" for none.
std::string progressLine(const SendStep& step) {
  return step.sending ? "INFO: " + zeru::progressText(*step.sending) + "\n" : "";
}

// Every page is removed exactly once, at its last sending.
void expectEachRemovedOnceAtLastSending(const std::vector<SendStep>& order) {
  std::set<int> removed;
  for (size_t i = 0; i < order.size(); ++i) {
    if (!order[i].removeAfter) continue;
    EXPECT_TRUE(removed.insert(order[i].page).second) << "page " << order[i].page;
    for (size_t j = i + 1; j < order.size(); ++j)
      EXPECT_NE(order[j].page, order[i].page) << "page sent after its removal";
  }
}

}  // namespace

TEST(SimplexOrder, LastPageFirstOncePerCollatedCopy) {
  auto collated = simplexOrder(3, 2, 1);
  EXPECT_EQ(pages(collated), (std::vector<int>{3, 2, 1, 3, 2, 1}));
  expectEachRemovedOnceAtLastSending(collated);
  EXPECT_FALSE(collated[0].removeAfter);
  EXPECT_TRUE(collated[3].removeAfter);
  EXPECT_TRUE(collated[0].startsCopy && collated[3].startsCopy);

  // Uncollated copies are the printer's: one pass.
  auto uncollated = simplexOrder(3, 2, 0);
  EXPECT_EQ(pages(uncollated), (std::vector<int>{3, 2, 1}));
  expectEachRemovedOnceAtLastSending(uncollated);
  for (const SendStep& step : uncollated) EXPECT_EQ(progressLine(step), "");

  EXPECT_TRUE(simplexOrder(0, 1, 0).empty());
  EXPECT_TRUE(simplexOrder(3, 0, 1).empty());
}

TEST(DuplexOrder, EvenSidesFirstThenOddSides) {
  auto single = duplexOrder(4, 1, 0);
  EXPECT_EQ(pages(single), (std::vector<int>{4, 2, 3, 1}));
  EXPECT_EQ(progressLine(single[0]), "INFO: Printing side-2 page 4 ...\n");
  EXPECT_EQ(progressLine(single[1]), "INFO: Printing side-2 page 2 ...\n");
  EXPECT_EQ(progressLine(single[2]), "INFO: Printing side-1 page 3 ...\n");
  EXPECT_EQ(progressLine(single[3]), "INFO: Printing side-1 page 1 ...\n");
  expectEachRemovedOnceAtLastSending(single);

  // Uncollated copies go to the printer: still one run.
  EXPECT_EQ(pages(duplexOrder(4, 2, 0)), (std::vector<int>{4, 2, 3, 1}));
  EXPECT_TRUE(duplexOrder(0, 1, 0).empty());
}

TEST(DuplexOrder, CollatedCopiesRepeatEachRunPerCopy) {
  auto order = duplexOrder(4, 2, 1);
  EXPECT_EQ(pages(order), (std::vector<int>{4, 2, 4, 2, 3, 1, 3, 1}));
  EXPECT_EQ(progressLine(order[0]), "INFO: Printing side-1 page 4... (1/2)\n");
  EXPECT_EQ(progressLine(order[1]), "INFO: Printing side-1 page 2... (1/2)\n");
  EXPECT_EQ(progressLine(order[6]), "INFO: Printing side-2 page 3... (2/2)\n");
  EXPECT_EQ(progressLine(order[7]), "INFO: Printing side-2 page 1... (2/2)\n");
  expectEachRemovedOnceAtLastSending(order);
  EXPECT_TRUE(order[2].removeAfter && order[3].removeAfter);
  EXPECT_FALSE(order[0].removeAfter);
}

// The order is walked, never listed: a job of the most copies the record
// carries, with the most pages the spool holds, is as cheap to begin as a
// one-page job, and its steps still come out right.
TEST(SendOrder, HugeCollatedJobsAreWalkedStepByStep) {
  SendOrder duplex = SendOrder::duplex(2048, 65535, 1);
  SendStep step;
  ASSERT_TRUE(duplex.next(step));
  EXPECT_EQ(step.page, 2048);
  EXPECT_EQ(progressLine(step), "INFO: Printing side-1 page 2048... (1/65535)\n");
  for (int i = 1; i < 1024; ++i) ASSERT_TRUE(duplex.next(step));
  EXPECT_EQ(step.page, 2);
  EXPECT_FALSE(step.removeAfter);
  ASSERT_TRUE(duplex.next(step));
  EXPECT_EQ(step.page, 2048);
  EXPECT_EQ(step.copy, 2);
  EXPECT_TRUE(step.startsCopy);

  SendOrder simplex = SendOrder::simplex(3, 65535, 1);
  uint64_t steps = 0;
  uint64_t removed = 0;
  while (simplex.next(step)) {
    ++steps;
    if (step.removeAfter) {
      ++removed;
      EXPECT_EQ(step.copy, 65535);
    }
  }
  EXPECT_EQ(steps, 3u * 65535u);
  EXPECT_EQ(removed, 3u);
}
