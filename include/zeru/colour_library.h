// The printer maker's colour library: opened once, shared by the jobs that
// print through it, closed when the last of them is done with it.
//
//   zeru::ColourLibrary library;
//   zeru::ColourLibrary::LoadResult loaded = library.load(zeru::ColourLibrary::installedPaths());
//   if (loaded.failed()) ... report loaded.message ...
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace zeru {

class ColourLibrary {
 public:
  struct LoadResult {
    enum class Kind {
      Loaded,
      NotOpened,  // none of the paths opened
    };
    Kind kind = Kind::NotOpened;
    // Why nothing could be opened, one line without line end:
    // "zarvelmac open fail:" and the loader's reason for the last path tried.
    std::string message;
    // What the load has to say although it worked (a missing entry point),
    // without line end; "" for nothing. The CUPS filter writes it where it
    // has always written it: its standard output, ahead of the job stream.
    std::string notice;

    bool failed() const { return kind != Kind::Loaded; }
  };

  ColourLibrary();
  // Closes the library.
  ~ColourLibrary();
  ColourLibrary(const ColourLibrary&) = delete;
  ColourLibrary& operator=(const ColourLibrary&) = delete;

  // The maker's install paths, in the order they are tried, and after them
  // the stand-in's packaged path when that file is installed.
  static std::vector<std::string> installedPaths();

  // Opens the first of `paths` that opens and looks up its entry points.
  LoadResult load(const std::vector<std::string>& paths);
  bool loaded() const;
  // Closes the library; no job may use it any more.
  void unload();

  // How many pages may render at once through this library.
  int concurrentPages() const;

  // The core's view of the library.
  struct Impl;
  Impl& impl() const { return *impl_; }

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace zeru
