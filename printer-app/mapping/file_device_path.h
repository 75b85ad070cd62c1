// Where the service's file: devices may write: one folder of its own.
#pragma once

#include <cstddef>
#include <string>

namespace zeruapp {

// True when `path` is `folder` itself or lies beneath it, spelled plainly:
// absolute, no "." or ".." component, no empty one. `folder` is absolute.
bool pathIsWithin(const std::string& path, const std::string& folder);

// A job's name as a file name of at most `room` bytes: the name itself when
// it fits, else as much of it as fits with "~" and eight hex digits of a
// hash of the whole name, cut between UTF-8 characters, so that two long
// names that begin alike still name two files. `room` of 9 bytes or fewer
// leaves only the hash, cut to fit.
std::string fitFileName(const std::string& name, size_t room);

}  // namespace zeruapp
