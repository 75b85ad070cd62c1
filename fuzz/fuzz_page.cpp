// The whole page path over arbitrary raster streams: header checks, settings
// and geometry, rasterisation through the test engine, compression.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <cups/ppd.h>
#include <cups/raster.h>

#include "settings/job_settings.h"
#include "filter/ppd_settings.h"
#include "job/raster_check.h"
#include "jbig/compression.h"
#include "imaging/engine_loader.h"
#include "settings/paper_table.h"
#include "filter/raster_page.h"
#include "stream/command_record.h"
#include "zeru/page_header.h"

namespace {

const char kPpd[] =
    "*PPD-Adobe: \"4.3\"\n*FormatVersion: \"4.3\"\n*FileVersion: \"1.0\"\n"
    "*LanguageVersion: English\n*LanguageEncoding: ISOLatin1\n"
    "*PCFileName: \"FUZZ.PPD\"\n*Manufacturer: \"ZEMRO\"\n*Product: \"(ZEMRO TX 7M)\"\n"
    "*ModelName: \"ZEMRO TX 7M\"\n*ShortNickName: \"ZEMRO TX 7M\"\n*NickName: \"ZEMRO TX 7M\"\n"
    "*PSVersion: \"(3010.000) 0\"\n*ColorDevice: True\n*DefaultColorSpace: RGB\n"
    "*OpenUI *PageSize: PickOne\n*OrderDependency: 10 AnySetup *PageSize\n"
    "*DefaultPageSize: A4\n*PageSize A4: \"\"\n*PageSize Letter: \"\"\n*CloseUI: *PageSize\n"
    "*OpenUI *AKSaveBlankSheet: PickOne\n*OrderDependency: 10 AnySetup *AKSaveBlankSheet\n"
    "*DefaultAKSaveBlankSheet: true\n*AKSaveBlankSheet true: \"\"\n*AKSaveBlankSheet false: \"\"\n"
    "*CloseUI: *AKSaveBlankSheet\n"
    "*DefaultImageableArea: A4\n*ImageableArea A4: \"12 12 583 830\"\n"
    "*ImageableArea Letter: \"12 12 600 780\"\n"
    "*DefaultPaperDimension: A4\n*PaperDimension A4: \"595 842\"\n*PaperDimension Letter: \"612 792\"\n";

struct Context {
  ppd_file_t* ppd = nullptr;
  EngineLibrary library;
};

Context* makeContext() {
  auto* context = new Context;
  char path[] = "/tmp/fuzz-ppd-XXXXXX";
  int fd = mkstemp(path);
  if (fd < 0) abort();
  if (write(fd, kPpd, sizeof kPpd - 1) != static_cast<ssize_t>(sizeof kPpd - 1)) abort();
  close(fd);
  context->ppd = ppdOpenFile(path);
  unlink(path);
  if (!context->ppd) abort();
  ppdMarkDefaults(context->ppd);

  const char* engine = ZERU_TEST_ENGINE;
  EngineLibrary& lib = context->library;
  if (!loadEngineLibraryFrom(&engine, 1, lib)) abort();
  if (!lib.canRenderPages()) abort();
  return context;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Context* context = makeContext();

  int fd = memfd_create("raster", 0);
  if (fd < 0) abort();
  if (size && write(fd, data, size) != static_cast<ssize_t>(size)) abort();
  lseek(fd, 0, SEEK_SET);
  cups_raster_t* raster = cupsRasterOpen(fd, CUPS_RASTER_READ);
  if (raster) {
    JobSettings settings;
    PaperTable table;
    PageStartRecord record;
    cups_page_header2_t rasterHeader;
    for (int page = 1; page <= 3 && cupsRasterReadHeader2(raster, &rasterHeader); ++page) {
      zeru::PageHeader header = zeru::pageHeaderFrom(rasterHeader);
      if (rasterHeaderProblem(header)) break;
      if (readPageSettings(context->ppd, header, table, settings, PageLoop::Simplex) !=
          PageSettingsResult::Ok)
        break;
      PageRenderRequest request;
      request.library = &context->library;
      request.raster = raster;
      request.header = &header;
      request.ppd = context->ppd;
      request.settings = &settings;
      request.pageCount = page;
      request.afterScreenThreads = [] {};
      PlaneBuffers planes;
      bool hasContent = false;
      if (renderPage(request, planes, hasContent) != RenderResult::Ok) break;
      if (hasContent) compressPage(planes, record);
    }
    cupsRasterClose(raster);
  }
  close(fd);
  return 0;
}
