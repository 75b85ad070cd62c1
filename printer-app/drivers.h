// The four printer models as PAPPL drivers.
#pragma once

#include <pappl/pappl.h>

namespace zeruapp {

struct Model {
  const char* driverName;    // "zemro_tx7m"
  const char* makeAndModel;  // "ZEMRO TX 7M"
  const char* deviceId;      // the PPD's 1284DeviceID
  const char* product;       // the PPD's Product, which picks the colour library's model path
};

// The models, and PAPPL's list of drivers made from them.
int driverCount();
pappl_pr_driver_t* driverList();
const Model* modelForDriver(const char* driverName);

// PAPPL's callbacks: the driver data of a model, and the driver for a
// device ID (nullptr when it is none of the four).
bool driverCallback(pappl_system_t* system, const char* driverName, const char* deviceUri,
                    const char* deviceId, pappl_pr_driver_data_t* data, ipp_t** attrs,
                    void* context);
const char* autoAddCallback(const char* deviceInfo, const char* deviceUri, const char* deviceId,
                            void* context);

}  // namespace zeruapp
