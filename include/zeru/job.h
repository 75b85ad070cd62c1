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
//     if (end.kind == zeru::PageEnd::Failed || end.stop) break;
//   }
//   zeru::JobEnd end = job.finish();   // filler page, header, pages, trailer
//
// On any failure the front end reports `job.failure()` and calls abandon(),
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

// What the job tells its front end while it works. Every event is called
// on the thread that called the job's method, except `log` and `cancelled`,
// which may be called from the job's own threads.
struct JobEvents {
  // True once the job is to stop. Read between pages, between lines of the
  // output and while waiting; must be cheap.
  std::function<bool()> cancelled = [] { return false; };
  // One line for the diagnostic log, without its newline.
  std::function<void(const char* line)> log = [](const char*) {};
  // The page counts as printed, with its copies (CUPS's "PAGE:" line).
  std::function<void(int page, unsigned copies)> pageCounted = [](int, unsigned) {};
  // How far the page's raster lines are, every 128 lines from the first.
  std::function<void(int page, int percent, bool twoSided)> pageProgress = [](int, int, bool) {};
  // Every raster line of the page has been rendered.
  std::function<void(int page)> pageRendered = [](int) {};
  // Before a page is sent: its progress line for the spooler, when it has one.
  std::function<void(const std::string& line)> sending = [](const std::string&) {};
  // During a colour page's set-up, where the printer's status is asked for.
  std::function<void(bool twoSided)> statusProbe = [](bool) {};
};

// Why a step failed, and how a front end that reports by exit status ends.
struct Failure {
  int exitStatus = 1;   // 255: the colour library refused the page
  std::string line;     // the "ERROR: ...\n" line, or "" when it was reported already
};

enum class PageStart {
  Render,  // hand over the page's lines, then endPage()
  Stop,    // the job was cancelled: read no more pages, finish()
  Failed,  // see failure()
};

struct PageEnd {
  enum Kind { Kept, Dropped, Failed };
  Kind kind = Kept;
  // Read no more pages: the job was cancelled and this page ends it.
  bool stop = false;
};

struct JobEnd {
  bool ok = true;          // false: see failure()
  bool cancelled = false;  // the trailer carries the cancel mark
};

class Job {
 public:
  Job(ByteSink& out, JobOptions options, JobEvents events);
  // A job not finished is abandoned.
  ~Job();
  Job(const Job&) = delete;
  Job& operator=(const Job&) = delete;

  // Two-sided printing as the choices ask for it: 0 one-sided, 1 long edge,
  // 2 short edge; and the keyword of the option that says so.
  int duplexMode() const;
  const char* duplexOption() const;

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

  // Removes the job's spool files with unlink() alone: for a signal handler.
  void removeSpoolFilesFromSignal() const;

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

}  // namespace zeru
