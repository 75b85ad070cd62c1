#include "driver/page_order.h"

#include "driver/text_format.h"

std::vector<SendStep> simplexOrder(int pageCount, int numCopies, int collate) {
  std::vector<SendStep> order;
  int passes = collate == 1 ? numCopies : 1;
  for (int pass = 1; pass <= passes; ++pass) {
    // Pages are sent last-first so that the printer stacks them in order.
    for (int page = pageCount; page >= 1; --page) {
      SendStep step;
      step.page = page;
      step.copy = pass;
      step.removeAfter = pass == passes;
      step.startsCopy = page == pageCount;
      order.push_back(step);
    }
  }
  return order;
}

std::vector<SendStep> duplexOrder(int pageCount, int numCopies, int collate) {
  std::vector<SendStep> order;
  // The printer takes every even (back) side first, then the odd sides, each
  // run from the highest page down.
  auto run = [&](int first, int copy, int copies, const char* pattern, bool collated) {
    for (int page = first; page >= 1; page -= 2) {
      SendStep step;
      step.page = page;
      step.copy = copy;
      step.removeAfter = copy == copies;
      step.startsCopy = page == first;
      step.message = collated ? formatText(pattern, page, copy, copies) : formatText(pattern, page);
      order.push_back(step);
    }
  };
  if (collate == 1 && numCopies > 1) {
    for (int copy = 1; copy <= numCopies; ++copy)
      run(pageCount, copy, numCopies, "INFO: Printing side-1 page %d... (%d/%d)\n", true);
    for (int copy = 1; copy <= numCopies; ++copy)
      run(pageCount - 1, copy, numCopies, "INFO: Printing side-2 page %d... (%d/%d)\n", true);
  } else {
    run(pageCount, 1, 1, "INFO: Printing side-2 page %d ...\n", false);
    run(pageCount - 1, 1, 1, "INFO: Printing side-1 page %d ...\n", false);
  }
  return order;
}
