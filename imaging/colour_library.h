// The colour library behind the public zeru::ColourLibrary: its entry point
// table, for the page set-up and the renderer.
#pragma once

#include "imaging/engine_loader.h"
#include "zeru/colour_library.h"

struct zeru::ColourLibrary::Impl {
  EngineLibrary engine;
};

// The entry point table of a library (empty when it is not loaded).
inline const EngineLibrary& engineOf(const zeru::ColourLibrary& library) {
  return library.impl().engine;
}
