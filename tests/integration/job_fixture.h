// Shared pieces of the integration tests: small marked pages, a job run of
// the real filter, and the stream it wrote, read back and decoded.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "support/filter_runner.h"
#include "support/ppd_writer.h"
#include "support/raster_writer.h"
#include "support/temp_dir.h"
#include "tools/stream_reader.h"

namespace zerutest {

using namespace zerudump;

// One-inch pages print as custom size: 600 x 600 dots, device line 1024.
inline constexpr unsigned kSmallPagePoints = 72;

// A page that says which page it is: a black block of 16 * id lines by 32
// dots at its top left, so that its black plane holds 512 * id dots however
// the page is turned.
inline RasterPage markedPage(int id, bool colour = false, unsigned dpi = 600,
                             unsigned points = kSmallPagePoints) {
  cups_page_header2_t header = makeHeader(points, points, dpi, colour);
  unsigned rows = 16u * static_cast<unsigned>(id);
  if (colour)
    return colourPage(header, [rows](unsigned x, unsigned y) {
      return (x < 32 && y < rows) ? kBlack : kWhite;
    });
  return grayPage(header, [rows](unsigned x, unsigned y) {
    return static_cast<uint8_t>((x < 32 && y < rows) ? 0 : 255);
  });
}

// Dots that do not compress: a hash of the position.
inline bool noiseDot(unsigned x, unsigned y) {
  uint64_t h = (static_cast<uint64_t>(y) << 32 | x) * 0x9E3779B97F4A7C15ull;
  h ^= h >> 29;
  h *= 0xBF58476D1CE4E5B9ull;
  h ^= h >> 32;
  return h & 1;
}

inline size_t countDots(const DecodedPlane& plane) {
  size_t dots = 0;
  for (uint8_t byte : plane.bits) dots += static_cast<size_t>(__builtin_popcount(byte));
  return dots;
}

// The id of a page block made from markedPage (its black plane's dots / 512).
inline int markedPageId(const PageBlock& page) {
  const PlaneEntity* black = page.findPlane(3);
  if (!black || !black->decodedOk) return -1;
  return static_cast<int>(countDots(black->decoded) / 512);
}

inline std::vector<int> markedPageIds(const JobStream& stream) {
  std::vector<int> ids;
  for (const PageBlock& page : stream.pages) ids.push_back(markedPageId(page));
  return ids;
}

inline JobStream readStream(const std::string& bytes) {
  ParseOptions options;
  options.keepPlanes = true;
  return parseJobStream(
      std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()),
      options);
}

inline std::string problemsOf(const JobStream& stream) {
  std::string text;
  for (const StreamProblem& p : stream.problems)
    text += "@" + std::to_string(p.offset) + ": " + p.message + "\n";
  return text;
}

inline std::string settingValue(const JobStream& stream, const std::string& key) {
  for (const auto& [k, v] : stream.settings)
    if (k == key) return v;
  return "(none)";
}

inline bool hasSetting(const JobStream& stream, const std::string& key) {
  return settingValue(stream, key) != "(none)";
}

// Count of occurrences of `needle` in `text`.
inline size_t occurrences(const std::string& text, const std::string& needle) {
  size_t count = 0;
  for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
    ++count;
  return count;
}

// The ways a run may end that are never acceptable, whatever the input.
inline void expectOrderlyEnd(const FilterResult& result) {
  EXPECT_TRUE(result.harnessError.empty()) << result.harnessError;
  EXPECT_FALSE(result.timedOut) << result.describe();
  EXPECT_TRUE(result.exited) << result.describe();
  EXPECT_TRUE(result.leftFiles.empty()) << result.leftFiles.front();
  // In a sanitizer build a report ends the program with status 1, which some
  // faults expect anyway: the report itself must never appear.
  EXPECT_EQ(result.err.find("Sanitizer"), std::string::npos) << result.err;
  EXPECT_EQ(result.err.find("runtime error:"), std::string::npos) << result.err;
}

// A stream that is complete: clean, and closed by the normal trailer.
inline void expectCompleteStream(const JobStream& stream) {
  EXPECT_TRUE(stream.clean()) << problemsOf(stream);
  EXPECT_TRUE(stream.hasJobStart);
  EXPECT_EQ(stream.trailer, TrailerForm::Eoj);
}

// A job for the real filter: a PPD, pages, and how to run it.
struct JobRun {
  TempDir dir{"job"};
  PpdBuilder ppd;
  std::vector<RasterPage> pages;
  FilterRun run;

  FilterResult go() {
    ppd.writeTo(dir.file("job.ppd"));
    run.ppd = dir.file("job.ppd");
    run.stdinBytes = rasterJobBytes(pages);
    return runFilter(run);
  }
};

// A duplex job that is cancelled while it sends: four noise pages, each far
// larger than a pipe holds, and a printer that takes no data until the
// signal has been sent, so that the filter is still sending page 4 then.
inline void cancelWhileSendingPage4(JobRun& job) {
  job.ppd.setDefault("DrvDuplex", "DrvDuplexNoTumble");
  for (int i = 0; i < 4; ++i)
    job.pages.push_back(grayPage(makeHeader(288, 288, 600, false), [](unsigned x, unsigned y) {
      return static_cast<uint8_t>(noiseDot(x, y) ? 0 : 255);
    }));
  job.run.sigtermOnStderr = "INFO: Printing side-2 page 4 ...";
  job.run.pauseStdoutUntilSigterm = true;
}

#define ZERU_REQUIRE_FILTER_RUNS() \
  if (!zerutest::canRunFilter()) GTEST_SKIP() << "needs root for a private mount namespace"

}  // namespace zerutest
