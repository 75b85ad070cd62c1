#include <gtest/gtest.h>

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

}  // namespace
