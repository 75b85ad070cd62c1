#include "printer-app/colour_library.h"

#include <string>

namespace zeruapp {

namespace {

// Never unloaded: when the server stops, a client's thread may still be
// rendering a streamed page inside the library while the process exits.
zeru::ColourLibrary& library() {
  static zeru::ColourLibrary* instance = new zeru::ColourLibrary;
  return *instance;
}

std::string& loadError() {
  static std::string error;
  return error;
}

}  // namespace

bool loadColourLibrary(std::string& error) {
  if (library().loaded()) return true;
  zeru::ColourLibrary::LoadResult loaded = library().load(zeru::ColourLibrary::installedPaths());
  if (loaded.failed()) {
    loadError() = "The colour library cannot be loaded: " + loaded.message;
    error = loadError();
    return false;
  }
  loadError().clear();
  return true;
}

const zeru::ColourLibrary* colourLibrary() {
  return library().loaded() ? &library() : nullptr;
}

const std::string& colourLibraryError() { return loadError(); }

}  // namespace zeruapp
