// The page spool's files: in the directory the front end names (never where
// $TMPDIR points), private to their owner, under names no one can guess.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <string>

#include "job/page_spooler.h"
#include "job/spool.h"
#include "support/temp_dir.h"

using namespace zerutest;

namespace {

// Points $TMPDIR somewhere else while it lives.
class TmpdirElsewhere {
 public:
  explicit TmpdirElsewhere(const char* value) {
    if (const char* old = getenv("TMPDIR")) saved_ = old;
    setenv("TMPDIR", value, 1);
  }
  ~TmpdirElsewhere() {
    if (saved_)
      setenv("TMPDIR", saved_->c_str(), 1);
    else
      unsetenv("TMPDIR");
  }

 private:
  std::optional<std::string> saved_;
};

}  // namespace

TEST(PageSpool, FilesArePrivateUnpredictableAndInTheGivenDirectory) {
  TempDir dir("spool");
  TmpdirElsewhere tmpdir("/nonexistent/tmpdir");
  {
    PageSpool spool(dir.path());
    EXPECT_EQ(spool.directory(), dir.path());
    int first = spool.create(1);
    int second = spool.create(2);
    ASSERT_GE(first, 0) << strerror(errno);
    ASSERT_GE(second, 0) << strerror(errno);
    std::string firstName = spool.name(1);
    std::string secondName = spool.name(2);
    EXPECT_EQ(firstName.rfind(dir.path() + "/", 0), 0u) << firstName;
    EXPECT_NE(firstName, secondName);
    for (int fd : {first, second}) {
      struct stat st;
      ASSERT_EQ(fstat(fd, &st), 0);
      EXPECT_EQ(st.st_mode & 07777, 0600u);
      EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
      close(fd);
    }
    EXPECT_EQ(listFilesRecursively(dir.path()).size(), 2u);
    spool.remove(1);
    EXPECT_EQ(access(firstName.c_str(), F_OK), -1);
    EXPECT_EQ(spool.slotCount(), 2);
  }
  // The spool takes its files along when it goes.
  EXPECT_TRUE(listFilesRecursively(dir.path()).empty());

  // A job's spool directory is the one its front end lends it.
  JobServices services;
  services.spoolDirectory = dir.path();
  zeru::StringSink sink;
  PageSpooler job(sink, services);
  EXPECT_EQ(job.spool().directory(), dir.path());
  EXPECT_EQ(PageSpooler(sink, JobServices{}).spool().directory(), "/tmp");
}

TEST(PageSpool, DirectoryThatCannotHoldTheFileFailsWithItsReason) {
  TempDir dir("spool");
  {
    PageSpool spool(dir.file("missing"));
    errno = 0;
    EXPECT_EQ(spool.create(1), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_STREQ(spool.name(1), "");
    EXPECT_EQ(spool.slotCount(), 0);
  }
  {
    // A name that would not fit the slot's buffer is never cut short.
    PageSpool spool(dir.path() + "/" + std::string(kSpoolNameSize, 'd'));
    errno = 0;
    EXPECT_EQ(spool.create(1), -1);
    EXPECT_EQ(errno, ENAMETOOLONG);
    EXPECT_STREQ(spool.name(1), "");
  }
  EXPECT_TRUE(listFilesRecursively(dir.path()).empty());
}
