#include "job/page_order.h"

namespace {

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
    step.sending.reset();
    if (duplex_) {
      // The even run's pages are side 2 of separate copies but side 1 of
      // collated ones: the printer's progress texts have always said so.
      bool evenRun = run_ < copies_;
      zeru::Sending sending;
      sending.page = page;
      sending.side = evenRun == collatedDuplex_ ? 1 : 2;
      sending.copy = copy;
      sending.copies = copies_;
      step.sending = sending;
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
