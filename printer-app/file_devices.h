// The service's rule for file: devices: only folders beneath one folder of
// its own, each job into a new file PAPPL names after the job. A server
// without that folder (run by hand, in tests) takes file: devices anywhere.
#pragma once

#include <string>

namespace zeruapp {

// Makes `folder` (mode 0700, root's) and keeps file: devices beneath it;
// false, with the reason in `error`, when it cannot be made safely.
bool keepFileDevicesIn(const std::string& folder, std::string& error);

// Empty when the device URI may be used, else why not.
std::string fileDeviceRefusal(const char* deviceUri);

}  // namespace zeruapp
