// A CUPS raster page through the push renderer: the page's lines are read
// from the raster stream and handed over one by one, with the spooler's
// progress lines and the log's read lines on the way.
#pragma once

#include <cstddef>
#include <functional>

#include <cups/ppd.h>
#include <cups/raster.h>

#include "driver/job_settings.h"
#include "imaging/engine_loader.h"
#include "zeru/page_renderer.h"
#include "imaging/plane_buffers.h"

struct PageRenderRequest {
  const EngineLibrary* library = nullptr;
  cups_raster_t* raster = nullptr;
  const cups_page_header2_t* header = nullptr;  // after the page geometry
  ppd_file_t* ppd = nullptr;                    // for blank-sheet saving
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

// Renders the page whose header was just read: its lines are read with
// cupsRasterReadPixels, a line that cannot be read prints white. Progress
// lines go to standard error. `hasContent` is false for a page to be dropped.
RenderResult renderPage(const PageRenderRequest& request, PlaneBuffers& planes,
                        bool& hasContent);
