#include "settings/text_format.h"

#include <cstdio>

std::string vformatText(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  int length = vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  std::string text;
  if (length > 0) {
    text.resize(static_cast<size_t>(length) + 1);
    vsnprintf(text.data(), text.size(), format, args);
    text.pop_back();
  }
  return text;
}

std::string formatText(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = vformatText(format, args);
  va_end(args);
  return text;
}

void appendFormat(std::string& text, const char* format, ...) {
  va_list args;
  va_start(args, format);
  text += vformatText(format, args);
  va_end(args);
}
