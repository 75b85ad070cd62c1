// printf-style formatting into std::string.
#pragma once

#include <cstdarg>
#include <string>

std::string formatText(const char* format, ...) __attribute__((format(printf, 1, 2)));
void appendFormat(std::string& text, const char* format, ...) __attribute__((format(printf, 2, 3)));
std::string vformatText(const char* format, va_list args);
