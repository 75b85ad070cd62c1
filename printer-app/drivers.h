// The four printer models as PAPPL drivers.
#pragma once

#include <pappl/pappl.h>

#include "printer-app/mapping/models.h"

namespace zeruapp {

// PAPPL's list of drivers, one a model.
int driverCount();
pappl_pr_driver_t* driverList();

// PAPPL's callbacks: the driver data of a model, and the driver for a
// device ID (nullptr when it is none of the four).
bool driverCallback(pappl_system_t* system, const char* driverName, const char* deviceUri,
                    const char* deviceId, pappl_pr_driver_data_t* data, ipp_t** attrs,
                    void* context);
const char* autoAddCallback(const char* deviceInfo, const char* deviceUri, const char* deviceId,
                            void* context);

}  // namespace zeruapp
