// Loads the colour library from its fixed paths and looks up its entry points.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "imaging/engine_abi.h"

// Tried in this order; the first that opens is used.
inline constexpr std::array<const char*, 4> engineLibraryPaths = {
    "/opt/ZEMRO/lib/ZEMRO TX 7Mcl.so",
    "/opt/ZEMRO/lib/ZEMRO TX 7cl.so",
    "/opt/ZEMRO/lib/ZEMRO TX 7MNcl.so",
    "/opt/ZEMRO/lib/ZEMRO TX 7Ncl.so",
};

// The paths to try, in order: the maker's own paths first, then the
// stand-in where a distribution's package puts it (`packaged`, outside /opt),
// only when that file is there (`packagedPresent`). A maker's library thus
// always wins, and with no packaged stand-in the list and the error of a
// failed load are those of the maker's paths alone.
std::vector<std::string> engineSearchPaths(std::string_view packaged, bool packagedPresent);

// The notice a library without UpdateScreenThread gives at load (no line end).
inline constexpr const char* kMissingScreenThreadNotice = "pfUpdateScreenThread = NULL";

// The library's entry point table. A missing entry stays null.
struct EngineLibrary {
  void* handle = nullptr;
  ZARVELFn pfZARVEL = nullptr;
  InitZARVELFn pfInitZARVEL = nullptr;
  CreateZARVELFn pfCreateZARVEL = nullptr;
  EndZARVELFn pfEndZARVEL = nullptr;
  StartColorAdjustFn pfStartColorAdjust = nullptr;
  StartAdjustJobFn pfStartAdjustJob = nullptr;
  UpdateScreenThreadFn pfUpdateScreenThread = nullptr;
  UpdateScreenTRCFn pfUpdateScreenTRC = nullptr;
  UpdateScreenTonerTRCFn pfUpdateScreenTonerTRC = nullptr;
  // Pages the library may convert at once. One unless the library says
  // through ZeruConcurrentPages that it is safe for more: nothing is known
  // of the maker's library's shared state.
  int concurrentPages = 1;

  // True when every entry point that a page uses is present.
  bool canRenderPages() const;
  // Name of the first entry point a page uses that is missing, or nullptr.
  const char* firstMissingEntry() const;
};

// How a load went. The loader prints nothing: the front end shows `error`
// and `notices` as it sees fit.
struct EngineLoadResult {
  bool loaded = false;
  // No library opened: dlerror()'s text for the last path tried.
  std::string error;
  // Said while the entry points were looked up, in order
  // (kMissingScreenThreadNotice); loading goes on after each.
  std::vector<std::string> notices;

  explicit operator bool() const { return loaded; }
};

// Opens the first library of the list that opens and resolves the nine names
// in order, then the optional ZeruConcurrentPages.
EngineLoadResult loadEngineLibrary(EngineLibrary& library);

// The same over a list of our choosing (tests load other libraries).
EngineLoadResult loadEngineLibraryFrom(const char* const* paths, size_t count,
                                       EngineLibrary& library);

void unloadEngineLibrary(EngineLibrary& library);
