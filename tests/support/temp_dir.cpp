#include "temp_dir.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace zerutest {

namespace fs = std::filesystem;

std::string testTmpRoot() {
  std::string root = std::string(ZERU_BINARY_DIR) + "/test-tmp";
  std::error_code ec;
  fs::create_directories(root, ec);
  return root;
}

TempDir::TempDir(std::string_view prefix) {
  std::string pattern = testTmpRoot() + "/" + std::string(prefix) + "-XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr)
    throw std::runtime_error("mkdtemp " + pattern + ": " + std::strerror(errno));
  path_ = buffer.data();
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string TempDir::file(std::string_view name) const {
  return path_ + "/" + std::string(name);
}

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string readFileIfExists(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void writeFile(const std::string& path, std::string_view bytes, unsigned mode) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
  if (fd < 0) throw std::runtime_error("cannot create " + path + ": " + std::strerror(errno));
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      close(fd);
      throw std::runtime_error("cannot write " + path);
    }
    done += static_cast<size_t>(n);
  }
  fchmod(fd, mode);
  close(fd);
}

std::vector<std::string> listFilesRecursively(const std::string& dir) {
  std::vector<std::string> files;
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) return files;
  for (fs::recursive_directory_iterator it(dir, fs::directory_options::skip_permission_denied, ec), end;
       !ec && it != end; it.increment(ec)) {
    if (it->is_directory(ec) && !it->is_symlink(ec)) continue;
    files.push_back(fs::relative(it->path(), dir, ec).string());
  }
  std::sort(files.begin(), files.end());
  return files;
}

}  // namespace zerutest
