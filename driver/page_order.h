// The order in which spooled pages are sent to the printer.
#pragma once

#include <string>
#include <vector>

// One sending of one page.
struct SendStep {
  int page = 0;            // spool slot, 1-based
  int copy = 1;            // 1-based copy (pass) number
  bool removeAfter = false;  // the page's last sending
  std::string message;     // progress line for standard error, or empty
  bool startsCopy = false; // first page of a pass / copy (a cancel check point)
};

// Single-sided: pages N..1, once per pass; NumCopies passes when collated.
std::vector<SendStep> simplexOrder(int pageCount, int numCopies, int collate);

// Two-sided: even pages N, N-2, ..., 2 then odd pages N-1, ..., 1; with
// collated copies (Collate 1 and copies > 1) each run once per copy.
std::vector<SendStep> duplexOrder(int pageCount, int numCopies, int collate);
