// Loads the colour library from its fixed paths and looks up its entry points.
#pragma once

#include <array>
#include <cstddef>

#include "imaging/engine_abi.h"

// Tried in this order; the first that opens is used.
inline constexpr std::array<const char*, 4> engineLibraryPaths = {
    "/opt/ZEMRO/lib/ZEMRO TX 7Mcl.so",
    "/opt/ZEMRO/lib/ZEMRO TX 7cl.so",
    "/opt/ZEMRO/lib/ZEMRO TX 7MNcl.so",
    "/opt/ZEMRO/lib/ZEMRO TX 7Ncl.so",
};

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

  // True when every entry point that a page uses is present.
  bool canRenderPages() const;
  // Name of the first entry point a page uses that is missing, or nullptr.
  const char* firstMissingEntry() const;
};

// Opens the first library of the list and resolves the nine names in order.
// On failure prints "ERROR: zarvelmac open fail:%s\n" and returns false.
// A missing UpdateScreenThread prints "pfUpdateScreenThread = NULL" on stdout.
bool loadEngineLibrary(EngineLibrary& library);

// The same over a list of our choosing (tests load other libraries).
bool loadEngineLibraryFrom(const char* const* paths, size_t count, EngineLibrary& library);

void unloadEngineLibrary(EngineLibrary& library);
