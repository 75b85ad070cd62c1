// Texts for a job's or printer's state message.
#pragma once

#include <string>

namespace zeruapp {

// A status line of the core ("ERROR: text\n") as a state message ("text").
std::string stateMessageOf(const std::string& line);

}  // namespace zeruapp
