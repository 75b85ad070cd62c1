// The test page PAPPL prints from the printer's web page: a PWG raster file
// of the page in PAPPL's temporary folder, which PAPPL removes with the job.
#pragma once

#include <cstddef>

#include <pappl/pappl.h>

namespace zeruapp {

// PAPPL's test page callback: the file's name in `buffer`, or nullptr when
// it could not be written.
const char* testPageCallback(pappl_printer_t* printer, char* buffer, size_t bufsize);

}  // namespace zeruapp
