#include <gtest/gtest.h>

#include <string>

#include "filter/job_options.h"

namespace {

struct Options {
  int count = 0;
  cups_option_t* list = nullptr;
  explicit Options(const char* text) { count = cupsParseOptions(text, 0, &list); }
  ~Options() { cupsFreeOptions(count, list); }
  void addImplied() { count = addImpliedOptions(count, &list); }
  std::string get(const char* name) const {
    const char* value = cupsGetOption(name, count, list);
    return value ? value : "(none)";
  }
};

}  // namespace

TEST(ImpliedOptions, MediaFillsInAMissingPageSize) {
  Options media("media=A5");
  media.addImplied();
  EXPECT_EQ(media.get("PageSize"), "A5");

  Options both("media=A5 PageSize=Letter");
  both.addImplied();
  EXPECT_EQ(both.get("PageSize"), "Letter");

  Options none("");
  none.addImplied();
  EXPECT_EQ(none.get("PageSize"), "(none)");
}

TEST(ImpliedOptions, SidesGivesBothDuplexOptionsAndWinsOverAGivenChoice) {
  Options longEdge("sides=two-sided-long-edge");
  longEdge.addImplied();
  EXPECT_EQ(longEdge.get("DrvDuplex"), "DrvDuplexNoTumble");
  EXPECT_EQ(longEdge.get("Duplex"), "DuplexNoTumble");

  Options shortEdge("sides=two-sided-short-edge");
  shortEdge.addImplied();
  EXPECT_EQ(shortEdge.get("DrvDuplex"), "DrvDuplexTumble");
  EXPECT_EQ(shortEdge.get("Duplex"), "DuplexTumble");

  // A two-sided default among the options gives way to the job's one-sided.
  Options oneSided("Duplex=DuplexNoTumble DrvDuplex=DrvDuplexTumble sides=one-sided");
  oneSided.addImplied();
  EXPECT_EQ(oneSided.get("DrvDuplex"), "None");
  EXPECT_EQ(oneSided.get("Duplex"), "None");

  Options overridden("sides=two-sided-long-edge DrvDuplex=DrvDuplexTumble Duplex=None");
  overridden.addImplied();
  EXPECT_EQ(overridden.get("DrvDuplex"), "DrvDuplexNoTumble");
  EXPECT_EQ(overridden.get("Duplex"), "DuplexNoTumble");

  Options unknown("sides=sideways Duplex=DuplexTumble");
  unknown.addImplied();
  EXPECT_EQ(unknown.get("DrvDuplex"), "(none)");
  EXPECT_EQ(unknown.get("Duplex"), "DuplexTumble");
}
