// A page rendered straight from a CUPS raster stream through the push
// renderer, with the CUPS filter's progress lines, for tests and fuzzers
// that drive the renderer without a job.
#pragma once

#include <cups/ppd.h>
#include <cups/raster.h>

#include "imaging/engine_loader.h"
#include "imaging/page_renderer.h"
#include "imaging/plane_buffers.h"
#include "settings/job_settings.h"

// The page as the renderer takes it, and where its lines and its
// blank-sheet saving choice come from.
struct PageRenderRequest : PageRenderOptions {
  cups_raster_t* raster = nullptr;
  ppd_file_t* ppd = nullptr;  // for blank-sheet saving
};

// Renders the page whose header was just read through the push renderer,
// with the spooler's progress lines on standard error. `hasContent` is false
// for a page to be dropped.
RenderResult renderPage(const PageRenderRequest& request, PlaneBuffers& planes,
                        bool& hasContent);
