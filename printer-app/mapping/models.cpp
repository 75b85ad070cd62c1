#include "printer-app/mapping/models.h"

#include <cstring>

namespace zeruapp {

namespace {

constexpr Model kModels[] = {
    {"zemro_tx7m", "ztx7m", "ZEMRO TX 7M",
     "MFG:ZEMRO;CMD:PJL,ZERU;MDL:TX 7M;CLS:PRINTER;DES:ZEMRO TX 7M;", "(ZEMRO TX 7M)"},
    {"zemro_tx7", "ztx7", "ZEMRO TX 7",
     "MFG:ZEMRO;CMD:PJL,ZERU;MDL:TX 7;CLS:PRINTER;DES:ZEMRO TX 7;", "(ZEMRO TX 7)"},
    {"zemro_tx7mn", "ztx7mn", "ZEMRO TX 7MN",
     "MFG:ZEMRO;CMD:PJL,ZERU;MDL:TX 7MN;CLS:PRINTER;DES:ZEMRO TX 7MN;", "(ZEMRO TX 7MN)"},
    {"zemro_tx7n", "ztx7n", "ZEMRO TX 7N",
     "MFG:ZEMRO;CMD:PJL,ZERU;MDL:TX 7N;CLS:PRINTER;DES:ZEMRO TX 7N;", "(ZEMRO TX 7N)"},
};

}  // namespace

std::span<const Model> models() { return kModels; }

const Model* modelForDriver(const char* driverName) {
  if (driverName == nullptr) return nullptr;
  for (const Model& model : kModels)
    if (strcmp(model.driverName, driverName) == 0) return &model;
  return nullptr;
}

std::string deviceIdValue(const char* deviceId, const char* key) {
  std::string id = deviceId ? deviceId : "";
  std::string prefix = std::string(key) + ":";
  size_t at = 0;
  while (at < id.size()) {
    while (at < id.size() && id[at] == ' ') ++at;
    size_t end = id.find(';', at);
    if (end == std::string::npos) end = id.size();
    if (id.compare(at, prefix.size(), prefix) == 0)
      return id.substr(at + prefix.size(), end - at - prefix.size());
    at = end + 1;
  }
  return "";
}

const Model* modelForDeviceId(const char* deviceId) {
  std::string manufacturer = deviceIdValue(deviceId, "MFG");
  if (manufacturer.empty()) manufacturer = deviceIdValue(deviceId, "MANUFACTURER");
  std::string model = deviceIdValue(deviceId, "MDL");
  if (model.empty()) model = deviceIdValue(deviceId, "MODEL");
  if (manufacturer != "ZEMRO" || model.empty()) return nullptr;
  for (const Model& candidate : kModels)
    if (deviceIdValue(candidate.deviceId, "MDL") == model) return &candidate;
  return nullptr;
}

}  // namespace zeruapp
