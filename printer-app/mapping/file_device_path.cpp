#include "printer-app/mapping/file_device_path.h"

#include <cstdint>
#include <cstdio>
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

// FNV-1a, 32 bits: short, stable across builds and platforms.
uint32_t nameHash(const std::string& name) {
  uint32_t hash = 2166136261u;
  for (unsigned char c : name) {
    hash ^= c;
    hash *= 16777619u;
  }
  return hash;
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

std::string fitFileName(const std::string& name, size_t room) {
  if (name.size() <= room) return name;
  char suffix[16];
  snprintf(suffix, sizeof suffix, "~%08x", static_cast<unsigned>(nameHash(name)));
  const std::string tail = suffix;
  if (room <= tail.size()) return tail.substr(tail.size() - room);
  size_t keep = room - tail.size();
  // Back to the start of a character: never keep half of one.
  while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) --keep;
  return name.substr(0, keep) + tail;
}

}  // namespace zeruapp
