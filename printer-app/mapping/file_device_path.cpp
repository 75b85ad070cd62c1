#include "printer-app/mapping/file_device_path.h"

#include <string>

namespace zeruapp {

namespace {

// Every component of an absolute path is a plain name.
bool isPlain(const std::string& path) {
  if (path.empty() || path[0] != '/') return false;
  size_t start = 1;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string part = path.substr(start, end - start);
    // A trailing slash leaves one empty last part, which is allowed.
    if ((part.empty() && end != path.size()) || part == "." || part == "..") return false;
    start = end + 1;
  }
  return true;
}

std::string withoutTrailingSlash(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

bool pathIsWithin(const std::string& path, const std::string& folder) {
  if (!isPlain(path) || !isPlain(folder)) return false;
  const std::string base = withoutTrailingSlash(folder);
  const std::string target = withoutTrailingSlash(path);
  if (target == base) return true;
  return target.size() > base.size() && target.compare(0, base.size(), base) == 0 &&
         (base == "/" || target[base.size()] == '/');
}

}  // namespace zeruapp
