// A CUPS raster page's lines, read from the raster stream and handed over
// one by one, with the log's read lines on the way.
#pragma once

#include <functional>
#include <span>

#include <cups/ppd.h>
#include <cups/raster.h>

#include "imaging/engine_loader.h"
#include "imaging/page_renderer.h"
#include "imaging/plane_buffers.h"
#include "settings/job_settings.h"
#include "zeru/page_header.h"

// The spooler's progress lines for a page: "INFO: Printing page ..." (or
// "Processing" on a two-sided page) and "ATTR: job-media-progress=...".
void reportPageProgress(int pageNumber, int percent, bool twoSided);

// Reads the page's header.height lines with cupsRasterReadPixels into
// the buffers `next` gives, handing each over with `push`. A line that
// cannot be read prints white: it is logged, and the page's first such line
// reports "ERROR: ..." on standard error. A two-sided page logs every line
// read.
void readRasterLines(cups_raster_t* raster, const zeru::PageHeader& header, int pageNumber,
                     bool twoSided, const std::function<std::span<unsigned char>()>& next,
                     const std::function<void()>& push);

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
