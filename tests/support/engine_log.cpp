#include "engine_log.h"

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zerutest {

std::string EngineCall::text(const std::string& key) const {
  auto it = fields.find(key);
  return it == fields.end() ? std::string() : it->second;
}

long long EngineCall::number(const std::string& key) const {
  auto it = fields.find(key);
  if (it == fields.end()) throw std::out_of_range(name + " has no field " + key);
  return std::stoll(it->second);
}

std::vector<EngineCall> parseEngineLog(std::string_view log) {
  std::vector<EngineCall> calls;
  size_t start = 0;
  while (start < log.size()) {
    size_t end = log.find('\n', start);
    if (end == std::string_view::npos) end = log.size();
    std::string_view line = log.substr(start, end - start);
    start = end + 1;
    if (line.empty()) continue;
    EngineCall call;
    size_t tab = line.find('\t');
    call.name = std::string(line.substr(0, tab));
    while (tab != std::string_view::npos) {
      size_t next = line.find('\t', tab + 1);
      std::string_view item = line.substr(tab + 1, next == std::string_view::npos
                                                       ? std::string_view::npos
                                                       : next - tab - 1);
      size_t equals = item.find('=');
      if (equals != std::string_view::npos)
        call.fields[std::string(item.substr(0, equals))] = std::string(item.substr(equals + 1));
      tab = next;
    }
    calls.push_back(std::move(call));
  }
  return calls;
}

std::vector<EngineCall> callsNamed(const std::vector<EngineCall>& calls, std::string_view name) {
  std::vector<EngineCall> named;
  for (const EngineCall& call : calls)
    if (call.name == name) named.push_back(call);
  return named;
}

std::vector<std::string> callNames(const std::vector<EngineCall>& calls) {
  std::vector<std::string> names;
  for (const EngineCall& call : calls) names.push_back(call.name);
  return names;
}

std::vector<uint8_t> bytesFromHex(std::string_view hex) {
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    throw std::invalid_argument("not a hex digit");
  };
  if (hex.size() % 2 != 0) throw std::invalid_argument("odd hex length");
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i < hex.size(); i += 2)
    bytes.push_back(static_cast<uint8_t>(nibble(hex[i]) << 4 | nibble(hex[i + 1])));
  return bytes;
}

EngineSetup decodeEngineSetup(const EngineCall& initCall) {
  std::vector<uint8_t> bytes = bytesFromHex(initCall.text("setup"));
  if (bytes.size() != sizeof(EngineSetup))
    throw std::invalid_argument("InitZARVEL line without an 80-byte setup");
  EngineSetup setup;
  std::memcpy(&setup, bytes.data(), sizeof setup);
  return setup;
}

AdjustRecord decodeAdjustRecord(const EngineCall& adjustCall) {
  std::vector<uint8_t> bytes = bytesFromHex(adjustCall.text("adjust"));
  if (bytes.size() != sizeof(AdjustRecord))
    throw std::invalid_argument("StartAdjustJob line without a 96-byte record");
  AdjustRecord adjust;
  std::memcpy(&adjust, bytes.data(), sizeof adjust);
  return adjust;
}

}  // namespace zerutest
