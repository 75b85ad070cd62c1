// A job of the printers' own job stream, sent to the printer's device as it
// is.
#pragma once

#include <pappl/pappl.h>

namespace zeruapp {

// The printers' own job stream's format.
inline constexpr const char* kRawFormat = "application/vnd.zemro-zeru";

// PAPPL's print-file callback: the job's file to the device.
bool printRawFile(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);

}  // namespace zeruapp
