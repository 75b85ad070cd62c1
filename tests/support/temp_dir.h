// A private directory for one test, removed with everything in it when the
// object dies, and small whole-file helpers.
//
// Directories are made under "<build dir>/test-tmp", not under /tmp: the
// filter runner hides the host's /tmp from the filter, so the PPDs and raster
// files a test hands to the filter must live elsewhere.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zerutest {

// The parent of every TempDir ("<build dir>/test-tmp"); created on first use.
std::string testTmpRoot();

class TempDir {
public:
  // Makes "<root>/<prefix>-XXXXXX" with mkdtemp; throws std::runtime_error
  // when that fails.
  explicit TempDir(std::string_view prefix = "zeru");
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + name.
  std::string file(std::string_view name) const;

private:
  std::string path_;
};

// Whole-file helpers; they throw std::runtime_error on failure, except
// readFileIfExists, which gives an empty string for a missing file.
std::string readFile(const std::string& path);
std::string readFileIfExists(const std::string& path);
void writeFile(const std::string& path, std::string_view bytes, unsigned mode = 0644);

// Regular files (and other non-directories) below dir, as paths relative to
// it, sorted. A missing directory gives an empty list.
std::vector<std::string> listFilesRecursively(const std::string& dir);

}  // namespace zerutest
