// Test main for in-process tests: each test process gets a private /tmp.
//
// The filter's log has a fixed path in /tmp, and the tests run in parallel,
// one process per test; a private mount namespace with its own /tmp keeps
// them from reading each other's lines. The build and source trees, which the
// tests read, are bound back at their own paths when they lie under /tmp.
// Without the privilege for it the tests run against the shared /tmp.
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>


// The in-process tests' share of tests/lsan.supp: libcups's PPD cache keeps
// the Duplex option's names and never frees them.
extern "C" const char* __lsan_default_suppressions() {
  return "leak:_ppdCacheCreateWithPPD\n";
}

namespace {

void makePrivateTmp() {
  if (unshare(CLONE_NEWNS) != 0) return;
  mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr);

  // Descriptors on the trees under /tmp keep them reachable once a new /tmp
  // hides them.
  std::vector<std::pair<std::string, int>> kept;
  for (const char* path : {ZERU_SOURCE_DIR, ZERU_BINARY_DIR}) {
    std::string tree = path;
    if (tree.rfind("/tmp/", 0) != 0) continue;
    int fd = open(path, O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) kept.emplace_back(tree, fd);
  }
  if (mount("tmpfs", "/tmp", "tmpfs", 0, "mode=1777") != 0) return;
  for (const auto& [tree, fd] : kept) {
    for (size_t slash = tree.find('/', 5); ; slash = tree.find('/', slash + 1)) {
      mkdir(tree.substr(0, slash).c_str(), 0755);
      if (slash == std::string::npos) break;
    }
    std::string source = "/proc/self/fd/" + std::to_string(fd);
    mount(source.c_str(), tree.c_str(), nullptr, MS_BIND | MS_REC, nullptr);
    close(fd);
  }
}

}  // namespace

int main(int argc, char** argv) {
  makePrivateTmp();
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
