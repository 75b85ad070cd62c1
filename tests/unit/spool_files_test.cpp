// The filter's record of the job's spool files, which its SIGPIPE handler
// removes: fed by the core's own spool, it removes exactly the files still
// on disk.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "filter/spool_files.h"
#include "job/spool.h"
#include "support/temp_dir.h"

using namespace zerutest;

namespace {

bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

}  // namespace

TEST(SpoolFileTable, RemovesTheFilesTheSpoolStillHolds) {
  struct Case {
    const char* name;
    int pages;
    std::vector<int> removedByTheJob;
  };
  const Case cases[] = {
      {"no page", 0, {}},
      {"every page still on disk", 3, {}},
      {"pages already sent", 4, {1, 3}},
      // Slots beyond the first chunk of the table.
      {"many pages", 600, {2, 257, 599}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir("spoolfiles");
    SpoolFileTable table;
    PageSpool spool(
        dir.path(), [&table](int slot, const char* path) { table.made(slot, path); },
        [&table](int slot) { table.removing(slot); });
    std::vector<std::string> names(c.pages + 1);
    for (int slot = 1; slot <= c.pages; ++slot) {
      int fd = spool.create(slot);
      ASSERT_GE(fd, 0);
      close(fd);
      names[slot] = spool.name(slot);
    }
    for (int slot : c.removedByTheJob) {
      spool.remove(slot);
      // A file of the same name made by someone else afterwards stays.
      int fd = open(names[slot].c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
      ASSERT_GE(fd, 0);
      close(fd);
    }
    table.removeAllFromSignal();
    for (int slot = 1; slot <= c.pages; ++slot) {
      bool keptByOthers = std::find(c.removedByTheJob.begin(), c.removedByTheJob.end(), slot) !=
                          c.removedByTheJob.end();
      EXPECT_EQ(exists(names[slot]), keptByOthers) << "slot " << slot;
      if (keptByOthers) unlink(names[slot].c_str());
    }
  }
}
