// The colour library of the whole process: loaded once at start-up, shared
// by every printer's jobs.
#pragma once

#include <string>

#include "zeru/colour_library.h"

namespace zeruapp {

// Loads the library from its install paths; false (with the reason) when
// none of them opens.
bool loadColourLibrary(std::string& error);
// The library, or nullptr when it could not be loaded.
const zeru::ColourLibrary* colourLibrary();
// Why it could not be loaded, for the printers' and jobs' messages.
const std::string& colourLibraryError();

}  // namespace zeruapp
