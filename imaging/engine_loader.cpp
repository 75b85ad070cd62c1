#include "imaging/engine_loader.h"

#include <dlfcn.h>

#include <algorithm>

namespace {

// Looks one entry point up and stores it in `entry` with its own type.
template <typename Fn>
void resolve(void* handle, const char* name, Fn& entry) {
  entry = reinterpret_cast<Fn>(dlsym(handle, name));
}

}  // namespace

bool EngineLibrary::canRenderPages() const { return firstMissingEntry() == nullptr; }

const char* EngineLibrary::firstMissingEntry() const {
  // The entry points a page goes through, in lookup order. StartColorAdjust
  // and UpdateScreenTRC are never called, so their absence does not matter.
  if (!pfZARVEL) return "ZARVEL";
  if (!pfInitZARVEL) return "InitZARVEL";
  if (!pfCreateZARVEL) return "CreateZARVEL";
  if (!pfEndZARVEL) return "EndZARVEL";
  if (!pfStartAdjustJob) return "StartAdjustJob";
  if (!pfUpdateScreenThread) return "UpdateScreenThread";
  if (!pfUpdateScreenTonerTRC) return "UpdateScreenTonerTRC";
  return nullptr;
}

EngineLoadResult loadEngineLibraryFrom(const char* const* paths, size_t count,
                                       EngineLibrary& library) {
  EngineLoadResult result;
  library = EngineLibrary{};
  for (size_t i = 0; i < count && !library.handle; ++i)
    library.handle = dlopen(paths[i], RTLD_LAZY);
  if (!library.handle) {
    const char* reason = dlerror();
    result.error = reason ? reason : "";
    return result;
  }
  result.loaded = true;

  dlerror();
  void* h = library.handle;
  resolve(h, "ZARVEL", library.pfZARVEL);
  resolve(h, "InitZARVEL", library.pfInitZARVEL);
  resolve(h, "CreateZARVEL", library.pfCreateZARVEL);
  resolve(h, "EndZARVEL", library.pfEndZARVEL);
  resolve(h, "StartColorAdjust", library.pfStartColorAdjust);
  resolve(h, "StartAdjustJob", library.pfStartAdjustJob);
  resolve(h, "UpdateScreenThread", library.pfUpdateScreenThread);
  if (!library.pfUpdateScreenThread) result.notices.emplace_back(kMissingScreenThreadNotice);
  resolve(h, "UpdateScreenTRC", library.pfUpdateScreenTRC);
  resolve(h, "UpdateScreenTonerTRC", library.pfUpdateScreenTonerTRC);

  ZeruConcurrentPagesFn concurrentPages = nullptr;
  resolve(h, "ZeruConcurrentPages", concurrentPages);
  if (concurrentPages) library.concurrentPages = std::max(1, concurrentPages());
  return result;
}

std::vector<std::string> engineSearchPaths(std::string_view packaged, bool packagedPresent) {
  std::vector<std::string> paths(engineLibraryPaths.begin(), engineLibraryPaths.end());
  if (packagedPresent && !packaged.empty()) paths.emplace_back(packaged);
  return paths;
}

EngineLoadResult loadEngineLibrary(EngineLibrary& library) {
  return loadEngineLibraryFrom(engineLibraryPaths.data(), engineLibraryPaths.size(), library);
}

void unloadEngineLibrary(EngineLibrary& library) {
  if (library.handle) dlclose(library.handle);
  library = EngineLibrary{};
}
