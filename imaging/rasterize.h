// Page rasterisation: raster lines through four engine instances into bit planes.
#pragma once

#include <cstddef>
#include <functional>

#include <cups/ppd.h>
#include <cups/raster.h>

#include "driver/job_settings.h"
#include "imaging/engine_loader.h"
#include "imaging/plane_buffers.h"

// True when the page is to be turned by 180 degrees.
bool backwardFillFor(PageLoop loop, int rotate180, int duplexMode, int pageCount);

// Bytes of a grayscale plane line taken from the engine:
// printableWidth * resolution / 4800 + 1, never more than bytesPerLine.
size_t printableBytesFor(int printableWidth, int resolution, size_t bytesPerLine);

struct PageRenderRequest {
  const EngineLibrary* library = nullptr;
  cups_raster_t* raster = nullptr;
  const cups_page_header2_t* header = nullptr;  // after the page geometry
  ppd_file_t* ppd = nullptr;
  JobSettings* settings = nullptr;              // rotate180 is read during set-up
  PageLoop loop = PageLoop::Simplex;
  int pageCount = 0;                            // 1-based page number
  const char* modelPath = nullptr;
  // Called after UpdateScreenThread, before UpdateScreenTonerTRC: the status
  // probe (colour pages) and the ImageRotation read.
  std::function<void()> afterScreenThreads;
  // After the last line, how long to wait for the engine to place the lines
  // it still owes before the workers are joined and the instances ended.
  int placementWaitMs = 3000;
  // Instances whose bit is clear convert their lines on the page thread, as
  // when their worker cannot be started (tests use it to take that path).
  unsigned lineWorkerMask = 0xF;
};

enum class RenderResult {
  Ok,                 // planes filled; see hasContent
  EngineRefused,      // exit 255, no message
  AllocationFailed,   // "ERROR:" line printed by the caller, exit 1
};

// Allocates the page's buffers, prepares the engine, runs the line loop on
// four persistent workers (one per instance), waits for every line owed,
// ends the instances. `hasContent` is false for a page to be dropped.
RenderResult renderPage(const PageRenderRequest& request, PlaneBuffers& planes,
                        bool& hasContent);
