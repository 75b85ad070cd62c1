// Reads the test engine's call log (see test_engine.cpp for its format):
//
//   std::vector<EngineCall> calls = parseEngineLog(result.engineLog);
//   auto inits = callsNamed(calls, "InitZARVEL");
//   EngineSetup setup = decodeEngineSetup(inits[0]);   // callbacks null
//   EXPECT_EQ(inits[0].text("modelPath"), "/Library/Printers/ZEMRO/lib/ZEMRO TX 7M");
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "imaging/engine_abi.h"

namespace zerutest {

struct EngineCall {
  std::string name;                           // the entry point
  std::map<std::string, std::string> fields;  // key -> value text

  bool has(const std::string& key) const { return fields.count(key) != 0; }
  // The field's text; empty when missing.
  std::string text(const std::string& key) const;
  // The field as a decimal number; throws std::out_of_range when missing.
  long long number(const std::string& key) const;
};

std::vector<EngineCall> parseEngineLog(std::string_view log);
std::vector<EngineCall> callsNamed(const std::vector<EngineCall>& calls, std::string_view name);
// The entry point names in call order ("InitZARVEL", "InitZARVEL", ...).
std::vector<std::string> callNames(const std::vector<EngineCall>& calls);

// The records from an InitZARVEL / StartAdjustJob line. The setup's callback
// and model path pointers are null; throw std::invalid_argument when the
// field is missing or has the wrong length.
EngineSetup decodeEngineSetup(const EngineCall& initCall);
AdjustRecord decodeAdjustRecord(const EngineCall& adjustCall);

std::vector<uint8_t> bytesFromHex(std::string_view hex);

}  // namespace zerutest
