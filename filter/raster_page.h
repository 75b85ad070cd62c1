// A CUPS raster page through the push renderer: the page's lines are read
// from the raster stream and handed over one by one, with the spooler's
// progress lines and the log's read lines on the way.
#pragma once

#include <cups/ppd.h>
#include <cups/raster.h>

#include "settings/job_settings.h"
#include "imaging/engine_loader.h"
#include "imaging/page_renderer.h"
#include "imaging/plane_buffers.h"

// The page as the renderer takes it, and where its lines and its
// blank-sheet saving choice come from.
struct PageRenderRequest : PageRenderOptions {
  cups_raster_t* raster = nullptr;
  ppd_file_t* ppd = nullptr;  // for blank-sheet saving
};

// Renders the page whose header was just read: its lines are read with
// cupsRasterReadPixels, a line that cannot be read prints white. Progress
// lines go to standard error. `hasContent` is false for a page to be dropped.
RenderResult renderPage(const PageRenderRequest& request, PlaneBuffers& planes,
                        bool& hasContent);
