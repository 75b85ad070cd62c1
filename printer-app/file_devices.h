// The service's rule for file: devices: only folders beneath one folder of
// its own, each job into a new file PAPPL names after the job. A server
// without that folder (run by hand, in tests) takes file: devices anywhere.
#pragma once

#include <pappl/pappl.h>

#include <cstddef>
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
// the printer busy for ever. PAPPL takes the job's name from the request
// that makes the job, and its API gives no way to change the name later.
// A request checked by the access policy has its job-name cut to fit before
// PAPPL makes the job; a job made otherwise (over the local socket, or on a
// server that checks no access) is cancelled once it is processing, and
// says why.

// The bytes a job's name may have as a file name in the folder a file: URI
// names, with PAPPL's extension after it; 0 when the URI names no folder.
size_t jobNameRoom(const char* deviceUri);

// Whether a file: URI names a folder in which NAME cannot be a file's name.
bool jobNameTooLongForFile(const char* deviceUri, const char* name);

// Cuts the job-name of a Print-Job or Create-Job request for a file: folder
// printer to what a file name there takes, before PAPPL makes the job.
void fitJobNameToFolder(pappl_client_t* client);

// From PAPPL's events: cancels a processing job whose name is such a name.
void checkJobName(pappl_printer_t* printer, pappl_job_t* job, pappl_event_t event);

}  // namespace zeruapp
