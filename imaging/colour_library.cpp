#include "imaging/colour_library.h"

#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "settings/text_format.h"

namespace {

constexpr const char* kOpenFailure = "zarvelmac open fail:%s";

}  // namespace

namespace zeru {

ColourLibrary::ColourLibrary() : impl_(std::make_unique<Impl>()) {}

ColourLibrary::~ColourLibrary() { unloadEngineLibrary(impl_->engine); }

std::vector<std::string> ColourLibrary::installedPaths() {
  return engineSearchPaths(ZERU_PACKAGED_ENGINE_LIBRARY,
                           access(ZERU_PACKAGED_ENGINE_LIBRARY, F_OK) == 0);
}

ColourLibrary::LoadResult ColourLibrary::load(const std::vector<std::string>& paths) {
  unloadEngineLibrary(impl_->engine);
  std::vector<const char*> names;
  for (const std::string& path : paths) names.push_back(path.c_str());
  EngineLoadResult loaded = loadEngineLibraryFrom(names.data(), names.size(), impl_->engine);
  LoadResult result;
  result.kind = loaded.loaded ? LoadResult::Kind::Loaded : LoadResult::Kind::NotOpened;
  if (!loaded) result.message = formatText(kOpenFailure, loaded.error.c_str());
  for (const std::string& notice : loaded.notices) result.notice += notice;
  return result;
}

void ColourLibrary::unload() { unloadEngineLibrary(impl_->engine); }

bool ColourLibrary::loaded() const { return impl_->engine.handle != nullptr; }

int ColourLibrary::concurrentPages() const { return impl_->engine.concurrentPages; }

}  // namespace zeru
