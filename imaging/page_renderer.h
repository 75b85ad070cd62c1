// The push renderer: a page's raster lines, handed over one by one, through
// four colour engine instances into the page's bit planes.
//
//   PageRenderer renderer;
//   if (renderer.begin(pageOptions, planes) != RenderResult::Ok) ...;
//   for (each raster line) {
//     std::span<unsigned char> line = renderer.nextLine();
//     ... fill line with the raster line's bytes ...
//     renderer.pushLine();
//   }
//   bool hasContent = renderer.end();
//
// The renderer reads no raster stream, no PPD and no process-wide state but
// the engine's callback slots: a front end feeds it from wherever its lines
// come from, and pages of different jobs can be rendered at once.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <span>

#include "settings/job_settings.h"
#include "imaging/engine_loader.h"
#include "imaging/plane_buffers.h"
#include "zeru/page_header.h"

enum class RenderResult {
  Ok,                 // planes filled; see hasContent
  EngineRefused,      // the colour library refused the page
  AllocationFailed,   // the page's buffers could not be had
  Busy,               // the library's pages in flight left no room for the whole wait
  Cancelled,          // the job was cancelled while the page waited for its turn
};

// What one page is rendered from.
struct PageRenderOptions {
  const EngineLibrary* library = nullptr;
  const zeru::PageHeader* header = nullptr;  // after the page geometry
  JobSettings* settings = nullptr;              // rotate180 is read during set-up
  PageLoop loop = PageLoop::Simplex;
  int pageCount = 0;                            // 1-based page number
  const char* modelPath = nullptr;
  // Blank-sheet saving: a page whose raster is all white has no content.
  bool saveBlankSheet = false;
  // Called after UpdateScreenThread, before UpdateScreenTonerTRC: the status
  // probe (colour pages) and the ImageRotation read.
  std::function<void()> afterScreenThreads;
  // After the last line, how long to wait for the engine to place the lines
  // it still owes before the workers are joined and the instances ended.
  int placementWaitMs = 3000;
  // Instances whose bit is clear convert their lines on the page thread, as
  // when their worker cannot be started (tests use it to take that path).
  unsigned lineWorkerMask = 0xF;
  // How long the page may wait for its turn with the colour library, while
  // other pages of the process hold it (the library's page limit, the
  // callback slots), before begin() gives up with Busy.
  std::chrono::milliseconds slotWait = std::chrono::minutes(5);
  // Asked while the page waits for its turn; true ends the wait with
  // Cancelled. Not asked when the page gets its turn at once.
  std::function<bool()> cancelled;
};

// True when the page is to be turned by 180 degrees.
bool backwardFillFor(PageLoop loop, int rotate180, int duplexMode, int pageCount);

// Bytes of a grayscale plane line taken from the engine:
// printableWidth * resolution / 4800 + 1, never more than bytesPerLine.
size_t printableBytesFor(int printableWidth, int resolution, size_t bytesPerLine);

class PageRenderer {
 public:
  PageRenderer();
  // A page begun and not ended is ended here: its workers are joined and
  // its instances ended.
  ~PageRenderer();
  PageRenderer(const PageRenderer&) = delete;
  PageRenderer& operator=(const PageRenderer&) = delete;

  // Waits for the page's turn with the colour library, then allocates the
  // page's planes into `planes` (which must outlive the page), prepares the
  // engine's four instances and starts one line worker each. Busy and
  // Cancelled leave `planes` untouched and the engine uncalled; a page the
  // engine refuses has its instances ended before begin() returns.
  RenderResult begin(const PageRenderOptions& pageOptions, PlaneBuffers& planes);

  // The buffer for the next raster line: at least the header's
  // cupsBytesPerLine bytes. It holds an earlier line until it is written.
  std::span<unsigned char> nextLine();
  // Hands the line in nextLine()'s buffer to its engine instance.
  void pushLine();

  // Waits for the lines the engine still owes, stops the workers and ends
  // the instances. Returns whether the page has content (false for a page
  // that blank-sheet saving drops).
  bool end();

 private:
  struct Page;
  std::unique_ptr<Page> page_;
};
