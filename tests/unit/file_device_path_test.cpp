#include <gtest/gtest.h>

#include <string>

#include "printer-app/mapping/file_device_path.h"

namespace {

struct PathCase {
  const char* path;
  bool within;
};

constexpr const char* kFolder = "/var/spool/zeru-printer-app/files";

TEST(FileDevicePath, OnlyPlainPathsBeneathTheFolderAreWithin) {
  constexpr PathCase kCases[] = {
      {"/var/spool/zeru-printer-app/files", true},
      {"/var/spool/zeru-printer-app/files/", true},
      {"/var/spool/zeru-printer-app/files/office", true},
      {"/var/spool/zeru-printer-app/files/office/a/b", true},
      {"/var/spool/zeru-printer-app/files-other", false},
      {"/var/spool/zeru-printer-app/filesx/office", false},
      {"/var/spool/zeru-printer-app", false},
      {"/var/spool/cron/crontabs/root", false},
      {"/var/spool/zeru-printer-app/files/../../../../etc/x", false},
      {"/var/spool/zeru-printer-app/files/./office", false},
      {"/var/spool/zeru-printer-app/files//office", false},
      {"/var/spool/zeru-printer-app/files/..", false},
      {"var/spool/zeru-printer-app/files/office", false},
      {"", false},
  };
  for (const PathCase& c : kCases) EXPECT_EQ(zeruapp::pathIsWithin(c.path, kFolder), c.within) << c.path;
}

TEST(FileDevicePath, TheFolderItselfMustBePlain) {
  EXPECT_FALSE(zeruapp::pathIsWithin("/a/b", "/a/../a"));
  EXPECT_FALSE(zeruapp::pathIsWithin("/a/b", "a"));
  EXPECT_TRUE(zeruapp::pathIsWithin("/a/b", "/a/"));
  EXPECT_TRUE(zeruapp::pathIsWithin("/a", "/"));
}

TEST(FileDevicePath, AJobNameTooLongForAFileNameIsCutWithAHashOfTheWholeName) {
  const std::string longName(251, 'n');
  const std::string fitted = zeruapp::fitFileName(longName, 250);
  EXPECT_EQ(fitted.size(), 250u);
  EXPECT_EQ(fitted.substr(0, 241), std::string(241, 'n'));
  EXPECT_EQ(fitted[241], '~');
  // Names that begin alike name two files, and a name maps to one.
  EXPECT_NE(fitted, zeruapp::fitFileName(longName + "x", 250));
  EXPECT_EQ(fitted, zeruapp::fitFileName(longName, 250));
  // Names that fit are kept as they are.
  EXPECT_EQ(zeruapp::fitFileName(longName, 251), longName);
  EXPECT_EQ(zeruapp::fitFileName("", 0), "");
  // Only the hash where the room is smaller than it.
  EXPECT_EQ(zeruapp::fitFileName(longName, 9), fitted.substr(241));
  EXPECT_EQ(zeruapp::fitFileName(longName, 4), fitted.substr(246));
}

TEST(FileDevicePath, ACutNameKeepsWholeUtf8Characters) {
  // "é" is two bytes, "€" three: the cut falls before a character it would split.
  struct Case {
    std::string name;
    size_t room;
    std::string kept;
  };
  const Case kCases[] = {
      {"ab\xc3\xa9" + std::string(20, 'x'), 12, "ab"},
      {"ab\xc3\xa9" + std::string(20, 'x'), 13, "ab\xc3\xa9"},
      {"a\xe2\x82\xac" + std::string(20, 'x'), 12, "a"},
      {"a\xe2\x82\xac" + std::string(20, 'x'), 13, "a\xe2\x82\xac"},
  };
  for (const Case& c : kCases) {
    const std::string fitted = zeruapp::fitFileName(c.name, c.room);
    EXPECT_EQ(fitted.substr(0, fitted.size() - 9), c.kept) << c.room;
    EXPECT_EQ(fitted[c.kept.size()], '~') << c.room;
  }
}

}  // namespace
