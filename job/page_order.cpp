#include "job/page_order.h"

#include "settings/text_format.h"

namespace {

constexpr const char* kSide1Collated = "INFO: Printing side-1 page %d... (%d/%d)\n";
constexpr const char* kSide2Collated = "INFO: Printing side-2 page %d... (%d/%d)\n";
constexpr const char* kSide1 = "INFO: Printing side-1 page %d ...\n";
constexpr const char* kSide2 = "INFO: Printing side-2 page %d ...\n";

std::vector<SendStep> listOf(SendOrder order) {
  std::vector<SendStep> steps;
  SendStep step;
  while (order.next(step)) steps.push_back(step);
  return steps;
}

}  // namespace

SendOrder SendOrder::simplex(int pageCount, unsigned numCopies, int collate) {
  SendOrder order;
  order.pageCount_ = pageCount;
  // Pages are sent last-first so that the printer stacks them in order; a
  // collated job repeats the whole run once per copy.
  order.copies_ = collate == 1 ? numCopies : 1;
  order.runs_ = pageCount > 0 ? order.copies_ : 0;
  return order;
}

SendOrder SendOrder::duplex(int pageCount, unsigned numCopies, int collate) {
  SendOrder order;
  order.pageCount_ = pageCount;
  order.duplex_ = true;
  // The printer takes every even (back) side first, then the odd sides, each
  // run from the highest page down.
  order.collatedDuplex_ = collate == 1 && numCopies > 1;
  order.copies_ = order.collatedDuplex_ ? numCopies : 1;
  order.runs_ = pageCount > 0 ? 2ull * order.copies_ : 0;
  return order;
}

int SendOrder::firstPageOf(unsigned long long run) const {
  if (!duplex_) return pageCount_;
  return run < copies_ ? pageCount_ : pageCount_ - 1;
}

unsigned SendOrder::copyOf(unsigned long long run) const {
  return static_cast<unsigned>(run % copies_) + 1;
}

bool SendOrder::next(SendStep& step) {
  for (;;) {
    if (run_ >= runs_) return false;
    int first = firstPageOf(run_);
    int page = page_ == 0 ? first : page_;
    if (page < 1) {  // an empty run: the odd run of a one-page count
      ++run_;
      page_ = 0;
      continue;
    }
    unsigned copy = copyOf(run_);
    step.page = page;
    step.copy = static_cast<int>(copy);
    step.removeAfter = copy == copies_;
    step.startsCopy = page == first;
    step.message.clear();
    if (duplex_) {
      bool evenRun = run_ < copies_;
      if (collatedDuplex_)
        step.message = formatText(evenRun ? kSide1Collated : kSide2Collated, page,
                                  static_cast<int>(copy), static_cast<int>(copies_));
      else
        step.message = formatText(evenRun ? kSide2 : kSide1, page);
    }
    int following = page - (duplex_ ? 2 : 1);
    if (following >= 1) {
      page_ = following;
    } else {
      ++run_;
      page_ = 0;
    }
    return true;
  }
}

std::vector<SendStep> simplexOrder(int pageCount, int numCopies, int collate) {
  return listOf(SendOrder::simplex(pageCount, static_cast<unsigned>(numCopies), collate));
}

std::vector<SendStep> duplexOrder(int pageCount, int numCopies, int collate) {
  return listOf(SendOrder::duplex(pageCount, static_cast<unsigned>(numCopies), collate));
}
