// A job of PWG or Apple raster, streamed line by line into the printing
// core, and the core's job stream to the printer's device.
#pragma once

#include <pappl/pappl.h>

namespace zeruapp {

// Where the core spools a job's pages; "" for /tmp. Set at start-up.
void setCoreSpoolDirectory(const char* directory);

bool rasterStartJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);
bool rasterStartPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                     unsigned page);
bool rasterWriteLine(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                     unsigned y, const unsigned char* line);
bool rasterEndPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device,
                   unsigned page);
bool rasterEndJob(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t* device);
// Ends a started job that cannot be finished, with `message` for its state.
void rasterAbortJob(pappl_job_t* job, const char* message);

}  // namespace zeruapp
