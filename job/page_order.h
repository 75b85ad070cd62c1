// The order in which spooled pages are sent to the printer.
#pragma once

#include <optional>
#include <vector>

#include "zeru/job.h"

// One sending of one page.
struct SendStep {
  int page = 0;            // spool slot, 1-based
  int copy = 1;            // 1-based copy (pass) number
  bool removeAfter = false;  // the page's last sending
  std::optional<zeru::Sending> sending;  // what a two-sided job reports of it
  bool startsCopy = false; // first page of a pass / copy (a cancel check point)
};

// The sending order, walked one step at a time: a job of many collated
// copies sends each page thousands of times, and no plan of that size is
// ever held. The order is a list of runs; a run sends pages from its first
// page down to 1 in steps of one (single-sided) or two (two-sided).
class SendOrder {
 public:
  // Single-sided: pages N..1, once per pass; NumCopies passes when collated.
  static SendOrder simplex(int pageCount, unsigned numCopies, int collate);
  // Two-sided: even pages N, N-2, ..., 2 then odd pages N-1, ..., 1; with
  // collated copies (Collate 1 and copies > 1) each run once per copy.
  static SendOrder duplex(int pageCount, unsigned numCopies, int collate);

  // Fills `step` with the next sending; false once the order is done.
  bool next(SendStep& step);

 private:
  // Where the order stands: run `run` of `runs`, its next page `page`.
  int pageCount_ = 0;
  unsigned copies_ = 1;
  bool duplex_ = false;
  bool collatedDuplex_ = false;
  unsigned long long runs_ = 0;
  unsigned long long run_ = 0;
  int page_ = 0;  // 0: the run has not begun

  int firstPageOf(unsigned long long run) const;
  unsigned copyOf(unsigned long long run) const;
};

// The whole order as a list, for jobs of a size worth listing.
std::vector<SendStep> simplexOrder(int pageCount, int numCopies, int collate);
std::vector<SendStep> duplexOrder(int pageCount, int numCopies, int collate);
