#include "filter/descriptors.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace {

constexpr int kLastSpoolerDescriptor = 4;

}  // namespace

bool openMissingDescriptors() {
  for (int fd = 0; fd <= kLastSpoolerDescriptor; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    // The lower descriptors are open by now, so this one is the lowest free.
    int opened = open("/dev/null", O_RDWR);
    if (opened < 0) return false;
    if (opened != fd) {
      int moved = dup2(opened, fd);
      close(opened);
      if (moved != fd) return false;
    }
  }
  return true;
}
