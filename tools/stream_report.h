// The report of a parsed job stream, as text for people and JSON for scripts.
#pragma once

#include <string>

#include "tools/stream_reader.h"

namespace zerudump {

std::string formatTextReport(const JobStream& stream);
std::string formatJsonReport(const JobStream& stream);

// A JSON string literal, quotes included, with control bytes escaped.
std::string jsonString(const std::string& text);

}  // namespace zerudump
