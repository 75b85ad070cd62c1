// Numbers in the application's log lines.
#pragma once

#include <concepts>
#include <string>

namespace zeruapp {

// PAPPL 1.3.1 formats a log line's numbers itself, handing snprintf the size
// (bufptr - bufend + 1), which is below zero and wraps round. Debian 12's C
// library (glibc 2.36) printed the number all the same; Debian 13's (glibc
// 2.41) drops its last digit, so a one-digit number vanishes ("Page ,
// copies"). Strings PAPPL copies itself, so every number reaches papplLog*()
// as text, with "%s" in the format.
template <std::integral T>
std::string logNumber(T value) {
  return std::to_string(value);
}

}  // namespace zeruapp
