#include "printer-app/mapping/job_messages.h"

namespace zeruapp {

std::string stateMessageOf(const std::string& line) {
  std::string text = line;
  for (const char* prefix : {"ERROR: ", "INFO: "})
    if (text.rfind(prefix, 0) == 0) text.erase(0, std::string(prefix).size());
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
    text.pop_back();
  return text;
}

}  // namespace zeruapp
