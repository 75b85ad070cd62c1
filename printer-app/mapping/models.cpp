#include "printer-app/mapping/models.h"

#include <cstring>

namespace zeruapp {

const Model* modelForDriver(const char* driverName) {
  if (driverName == nullptr) return nullptr;
  for (const Model& model : models())
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
  for (const Model& candidate : models())
    if (deviceIdValue(candidate.deviceId, "MDL") == model) return &candidate;
  return nullptr;
}

}  // namespace zeruapp
