// The four printer models, as the core describes them.
#pragma once

#include <span>
#include <string>

#include "zeru/printer.h"

namespace zeruapp {

// A model as the core describes it: driver name, PPD name, make and model,
// device ID.
using Model = zeru::ModelDescription;

using zeru::models;
const Model* modelForDriver(const char* driverName);
// The model a printer's 1284 device ID names, or nullptr.
const Model* modelForDeviceId(const char* deviceId);
// The value of `key` in a 1284 device ID ("MDL" of "...;MDL:TX 7M;..." is
// "TX 7M"); "" when it has none.
std::string deviceIdValue(const char* deviceId, const char* key);

}  // namespace zeruapp
