// Numbers in the application's log lines.
#pragma once

#include <concepts>
#include <string>

namespace zeruapp {

// PAPPL 1.3.1 formats a log line's numbers itself, handing snprintf the size
// (bufptr - bufend + 1), which is below zero and wraps round. Debian 12's C
// library printed the number all the same; Debian 13's prints nothing
// ("Page ,  copies"). Strings PAPPL copies itself, so every number reaches
// papplLog*() as text, with "%s" in the format.
template <std::integral T>
std::string logNumber(T value) {
  return std::to_string(value);
}

}  // namespace zeruapp
