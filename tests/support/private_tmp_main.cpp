// Test main for in-process tests: each test process gets a private /tmp.
//
// The filter's log has a fixed path in /tmp, and the tests run in parallel,
// one process per test; a private mount namespace with its own /tmp keeps
// them from reading each other's lines. Without the privilege for it the
// tests run against the shared /tmp.
#include <sched.h>
#include <sys/mount.h>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  if (unshare(CLONE_NEWNS) == 0) {
    mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr);
    mount("tmpfs", "/tmp", "tmpfs", 0, "mode=1777");
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
