// Where the service's file: devices may write: one folder of its own.
#pragma once

#include <string>

namespace zeruapp {

// True when `path` is `folder` itself or lies beneath it, spelled plainly:
// absolute, no "." or ".." component, no empty one. `folder` is absolute.
bool pathIsWithin(const std::string& path, const std::string& folder);

}  // namespace zeruapp
