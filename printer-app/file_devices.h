// The service's rule for file: devices: only folders beneath one folder of
// its own, each job into a new file PAPPL names after the job. A server
// without that folder (run by hand, in tests) takes file: devices anywhere.
#pragma once

#include <pappl/pappl.h>

#include <string>

namespace zeruapp {

// Makes `folder` (mode 0700, root's) and keeps file: devices beneath it;
// false, with the reason in `error`, when it cannot be made safely.
bool keepFileDevicesIn(const std::string& folder, std::string& error);

// Empty when the device URI may be used, else why not.
std::string fileDeviceRefusal(const char* deviceUri);

// Jobs whose name a file printer cannot take as a file name.
//
// PAPPL 1.3.1 opens a file: folder printer's device under a file named
// after the job-name ("FOLDER/NAME.EXT"), before any of the driver's
// callbacks, and while that open fails it retries every 5 s for as long as
// the job is not cancelled: a name longer than the file system takes keeps
// the printer busy for ever. PAPPL's API gives no way to change the name its
// open uses, so such a job is cancelled once it is processing, and says why.

// Whether a file: URI names a folder in which NAME cannot be a file's name.
bool jobNameTooLongForFile(const char* deviceUri, const char* name);

// Watches the system's jobs for such names.
void watchJobNames(pappl_system_t* system);

}  // namespace zeruapp
