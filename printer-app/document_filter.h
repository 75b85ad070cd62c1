// PDF and PostScript jobs: Ghostscript, run as a separate process, renders
// them into a PWG raster of whole sheets, which goes the way of a client's
// PWG job, line by line into the core. A spooled PWG raster file goes the
// same way.
#pragma once

#include <pappl/pappl.h>

namespace zeruapp {

// PAPPL's filter callback for application/pdf and application/postscript.
bool renderDocument(pappl_job_t* job, pappl_device_t* device, void* data);

// PAPPL's filter callback for a PWG raster file that was spooled rather than
// streamed (the test page): its pages go the same way, from the file.
bool printRasterFile(pappl_job_t* job, pappl_device_t* device, void* data);

}  // namespace zeruapp
