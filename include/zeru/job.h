// One print job of the printing core, from raster pages to the printer's
// job stream. The job holds the whole job policy: page numbering, blank
// pages dropped (and their numbers reused), the job-level settings read from
// the printer's choices, collation, the cancel rule, the two-sided filler
// page, the job header, the sending order and the trailer. A front end maps
// its own world onto it:
//
//   zeru::Job job(sink, options, events);
//   for (each page header) {
//     if (job.startPage(header) != zeru::PageStart::Render) break;  // Stop, or Failed
//     for (each raster line) {
//       std::span<unsigned char> line = job.line();
//       ... fill line with the raster line's bytes ...
//       job.pushLine();
//     }
//     zeru::PageEnd end = job.endPage();
//     if (end.failed() || end.stop) break;
//   }
//   zeru::JobEnd end = job.finish();   // filler page, header, pages, trailer
//
// On any failure the front end reports `job.failure()` (what failed and why,
// as a value it words for its own world) and calls abandon(),
// which removes what the job has on disk; nothing of the job is left once
// the Job is destroyed. The job never ends the process and writes nothing
// but the job stream to its sink; everything else reaches the front end
// through its events.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "zeru/byte_sink.h"
#include "zeru/choices.h"
#include "zeru/colour_library.h"
#include "zeru/page_header.h"
#include "zeru/printer.h"

namespace zeru {

// The JBIG encoder of the planes.
enum class Compression {
  Own,      // the core's own encoder, stripe by stripe while the page renders
  JbigKit,  // JBIG-KIT, after the page
};

// What a page's raster covers.
enum class RasterArea {
  // The whole sheet, as a PWG raster does: a page whose size is one of the
  // paper table's sheets is cut to the sheet's imageable area (see
  // fullSheetCut), so that it prints on that sheet in its place.
  FullSheet,
  // The area the page's header gives, printed from the top-left corner of
  // the sheet's printable area as it is: the CUPS raster of a PPD's
  // imageable area, or a page the front end cut itself.
  AsGiven,
};

struct JobOptions {
  // The job header's and the settings' title and user.
  std::string title;
  std::string user;
  // The printer's choices for this job; must outlive the job.
  const Choices* choices = nullptr;
  // The job's own page size keyword, for a job whose choices name none.
  std::optional<std::string> pageSizeOption;
  // The printer model: it picks the model path handed to the colour
  // library. None: the colour library is given no model path.
  std::optional<Model> model;
  CustomSizeRange customSizes;
  RasterArea rasterArea = RasterArea::FullSheet;
  // The colour library; must outlive the job.
  const ColourLibrary* library = nullptr;
  Compression compression = Compression::Own;
  // Where the pages are spooled; "" for /tmp.
  std::string spoolDirectory;
};

// One page of a two-sided job on its way to the printer.
struct Sending {
  int page = 0;
  int side = 1;         // the side number the progress text gives the page: 1 or 2
  unsigned copy = 1;    // the pass, 1-based
  unsigned copies = 1;  // passes of collated copies; 1 when the copies are not collated
};

// The progress text of a sending, without line end:
// "Printing side-2 page 4 ..." or, for collated copies,
// "Printing side-1 page 4... (1/2)".
std::string progressText(const Sending& sending);

// What the job tells its front end while it works. Every event is called
// on the thread that called the job's method, except `log`, `cancelled` and
// the spool file events, which may be called from the job's own threads.
struct JobEvents {
  // True once the job is to stop. Read between pages, between lines of the
  // output and while waiting; must be cheap.
  std::function<bool()> cancelled = [] { return false; };
  // One line of the diagnostic trace (STATE:, INFO: and geometry lines), without
  // its newline; failures are reported as values, never here.
  std::function<void(const char* line)> log = [](const char*) {};
  // The page counts as printed, with its copies (CUPS's "PAGE:" line).
  std::function<void(int page, unsigned copies)> pageCounted = [](int, unsigned) {};
  // How far the page's raster lines are, every 128 lines from the first.
  std::function<void(int page, int percent)> pageProgress = [](int, int) {};
  // Every raster line of the page has been rendered.
  std::function<void(int page)> pageRendered = [](int) {};
  // Before each page of a two-sided job is sent (see progressText).
  std::function<void(const Sending& sending)> sending = [](const Sending&) {};
  // During a colour page's set-up, where the printer's status is asked for.
  std::function<void()> statusProbe = [] {};
  // A page's spool file has been made at `path`, and is about to be removed;
  // `slot` names the file in between, and `path` stays valid and unchanged
  // until then. For a front end that must remove the job's files where the
  // job cannot (a signal handler). May be called from the job's own threads,
  // one at a time.
  std::function<void(int slot, const char* path)> spoolFileMade = [](int, const char*) {};
  std::function<void(int slot)> spoolFileRemoving = [](int) {};
};

// What failed.
enum class FailureKind {
  None,                  // nothing has failed
  RasterHeader,          // the page's raster header cannot be printed
  PageSettings,          // the page's size or resolution against the choices
  ColourLibraryEntry,    // the colour library lacks an entry point a page needs
  ColourLibraryRefused,  // the colour library refused the page
  ColourLibraryBusy,     // the colour library could not take the page
  Memory,                // the page's buffers could not be allocated
  SpoolCreate,           // no spool file could be made for a page
  SpoolWrite,            // a spool file could not be written
  OutputWrite,           // the job stream could not be written to the printer
};

// Why a step failed: what, and the human text (one line, no line end; ""
// when the job stream already says it).
struct Failure {
  FailureKind kind = FailureKind::None;
  std::string message;

  bool failed() const { return kind != FailureKind::None; }
};

// Two-sided printing as the choices ask for it.
enum class Sides {
  OneSided,
  TwoSidedLongEdge,
  TwoSidedShortEdge,
};

enum class PageStart {
  Render,  // hand over the page's lines, then endPage()
  Stop,    // the job was cancelled: read no more pages, finish()
  Failed,  // see failure()
};

struct PageEnd {
  enum class Kind { Kept, Dropped, Failed };
  Kind kind = Kind::Kept;
  // Read no more pages: the job was cancelled and this page ends it.
  bool stop = false;

  bool failed() const { return kind == Kind::Failed; }  // see failure()
};

struct JobEnd {
  enum class Kind { Printed, Failed };
  Kind kind = Kind::Printed;
  bool cancelled = false;  // the trailer carries the cancel mark

  bool failed() const { return kind == Kind::Failed; }  // see failure()
};

class Job {
 public:
  Job(ByteSink& out, JobOptions options, JobEvents events);
  // A job not finished is abandoned.
  ~Job();
  Job(const Job&) = delete;
  Job& operator=(const Job&) = delete;

  // Two-sided printing as the choices ask for it.
  Sides sides() const;

  PageStart startPage(const PageHeader& header);
  // The number of the page being rendered (1-based; a dropped page's number
  // is taken again by the next page).
  int pageNumber() const;
  // The buffer for the page's next raster line (at least bytesPerLine).
  std::span<unsigned char> line();
  void pushLine();
  PageEnd endPage();

  // The filler page, the job header, the pages in their order, the trailer.
  JobEnd finish();
  // Waits for the job's threads and removes its spool files.
  void abandon();
  // What the last failed step failed of.
  const Failure& failure() const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace zeru
