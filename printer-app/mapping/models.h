// The four printer models, as their PPDs describe them.
#pragma once

#include <span>
#include <string>

namespace zeruapp {

struct Model {
  const char* driverName;    // "zemro_tx7m"
  const char* ppdName;       // "ztx7m": the model's PPD
  const char* makeAndModel;  // the PPD's ModelName
  const char* deviceId;      // the PPD's 1284DeviceID
  const char* product;       // the PPD's Product, which picks the colour library's model path
};

std::span<const Model> models();
const Model* modelForDriver(const char* driverName);
// The model a printer's 1284 device ID names, or nullptr.
const Model* modelForDeviceId(const char* deviceId);
// The value of `key` in a 1284 device ID ("MDL" of "...;MDL:TX 7M;..." is
// "TX 7M"); "" when it has none.
std::string deviceIdValue(const char* deviceId, const char* key);

}  // namespace zeruapp
