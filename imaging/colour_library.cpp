#include "imaging/colour_library.h"

namespace zeru {

ColourLibrary::ColourLibrary() : impl_(std::make_unique<Impl>()) {}

ColourLibrary::~ColourLibrary() { unloadEngineLibrary(impl_->engine); }

std::vector<std::string> ColourLibrary::installedPaths() {
  return {engineLibraryPaths.begin(), engineLibraryPaths.end()};
}

ColourLibrary::LoadResult ColourLibrary::load(const std::vector<std::string>& paths) {
  unloadEngineLibrary(impl_->engine);
  std::vector<const char*> names;
  for (const std::string& path : paths) names.push_back(path.c_str());
  LoadResult result;
  result.ok = loadEngineLibraryFrom(names.data(), names.size(), impl_->engine);
  return result;
}

void ColourLibrary::unload() { unloadEngineLibrary(impl_->engine); }

bool ColourLibrary::loaded() const { return impl_->engine.handle != nullptr; }

int ColourLibrary::concurrentPages() const { return 1; }

}  // namespace zeru
