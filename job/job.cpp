#include "zeru/job.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <utility>

#include "imaging/colour_library.h"
#include "imaging/engine_setup.h"
#include "imaging/page_renderer.h"
#include "imaging/plane_buffers.h"
#include "job/page_order.h"
#include "job/page_spooler.h"
#include "job/raster_check.h"
#include "settings/job_settings.h"
#include "settings/page_settings.h"
#include "settings/paper_table.h"
#include "settings/text_format.h"
#include "stream/command_record.h"
#include "stream/page_record.h"
#include "stream/pjl.h"

namespace {

constexpr int kExitEngineRefused = 255;
constexpr const char* kEngineRefusedLine = "ERROR: The colour library refused the page\n";
constexpr const char* kAllocationLine = "ERROR: Unable to allocate memory for the page\n";
constexpr const char* kNoTurnLine = "ERROR: The colour library could not take the page\n";
constexpr const char* kMissingEntryLine = "ERROR: The colour library has no entry point %s\n";
constexpr const char* kSpoolWriteLine = "ERROR: Unable to write the page spool file: %s\n";
constexpr const char* kOutputLine = "ERROR: Unable to write the job to the printer: %s\n";
constexpr const char* kSimplexSpoolLine = "ERROR: Collating enabled mkstemp [/tmp/] -> %s\n";
constexpr const char* kDuplexSpoolLine = "ERROR: Duplex enabled mkstemp -> %s\n";
// Written into the job stream when a two-sided job cannot spool a page.
constexpr const char* kSpoolTemplate = "/tmp/tmp-XXXXXX";
constexpr const char* kZeroCopiesLine = "INFO: The page header asks for 0 copies; 1 copy is printed";
constexpr size_t kProgressEvery = 128;

JbigCoder coderFor(zeru::Compression compression) {
  return compression == zeru::Compression::JbigKit ? JbigCoder::JbigKit : JbigCoder::Own;
}

}  // namespace

namespace zeru {

struct Job::Impl {
  Impl(ByteSink& sink, JobOptions jobOptions, JobEvents jobEvents)
      : out(sink),
        options(std::move(jobOptions)),
        events(std::move(jobEvents)),
        spooler(out,
                JobServices{events.cancelled, events.log,
                            options.spoolDirectory.empty() ? "/tmp" : options.spoolDirectory},
                coderFor(options.compression)) {
    settings.rotate180 = 0;
    settings.colorMode = 0;
    readJobLevelSettings(*options.choices,
                         options.pageSizeOption ? options.pageSizeOption->c_str() : nullptr,
                         settings);
    heldPaperIndex = settings.paperIndex;
    duplexOptionKeyword = ::duplexOption(*options.choices);
    settings.duplexMode =
        duplexModeFor(duplexOptionKeyword, options.choices->choice(duplexOptionKeyword));
    settings.collate = collateFromChoice(options.choices->choice("Collate"));
    loop = settings.duplexMode == 0 ? PageLoop::Simplex : PageLoop::Duplex;
    customRange.offered = options.customSizes.offered;
    customRange.minWidth = options.customSizes.minWidth;
    customRange.minHeight = options.customSizes.minHeight;
    customRange.maxWidth = options.customSizes.maxWidth;
    customRange.maxHeight = options.customSizes.maxHeight;
  }

  bool cancelled() const { return events.cancelled(); }

  void fail(int status, std::string line) {
    failure.exitStatus = status;
    failure.line = std::move(line);
  }
  void failWithErrno(const char* format, int error) {
    fail(1, formatText(format, strerror(error)));
  }

  PageStart startPage(const PageHeader& pageHeader);
  PageEnd endPage();
  JobEnd finish();
  bool addBlankBack();
  bool writeJobHeader();

  ByteSink& out;
  JobOptions options;
  JobEvents events;
  PageSpooler spooler;
  JobSettings settings;
  PaperTable paperTable;
  ::CustomSizeRange customRange;
  PageStartRecord pageRecord;
  const char* modelPath = nullptr;
  const char* duplexOptionKeyword = nullptr;
  PageLoop loop = PageLoop::Simplex;
  Failure failure;

  // The job so far: `pageCount` is the page being rendered, and after the
  // pages the number kept (and the highest spool slot).
  int pageCount = 0;
  int blankBackAdded = 0;
  // The page being rendered, as the page geometry leaves its header.
  PageHeader currentHeader{};
  // The header the job header and the filler page follow, as read: that of
  // the last kept page (a page that blank-sheet saving drops is not printed
  // and decides nothing); while no page is kept, that of the last page read.
  PageHeader held{};
  int heldPaperIndex = 0;
  bool anyPage = false;
  bool anyKept = false;

  // The page in flight between startPage() and endPage().
  PageHeader readHeader{};  // as read, for its "PAGE:" count
  bool mayBeDropped = false;
  std::unique_ptr<PlaneBuffers> planes;
  std::unique_ptr<PageRenderer> renderer;
  size_t lineIndex = 0;
};

PageStart Job::Impl::startPage(const PageHeader& pageHeader) {
  PageHeader header = pageHeader;
  if (takeZeroCopiesAsOne(header)) events.log(kZeroCopiesLine);
  // The Collate choice decides for every page, and so does the job's for a
  // two-sided job; otherwise the page header's own does.
  if (loop == PageLoop::Duplex || options.choices->choice("Collate"))
    header.collate = settings.collate ? 1 : 0;
  else
    settings.collate = static_cast<int>(header.collate);

  currentHeader = header;
  if (!anyKept) held = header;
  anyPage = true;
  if (cancelled()) return PageStart::Stop;

  ++pageCount;
  readHeader = header;
  // The scheduler counts every "PAGE:" line as printed: a page that
  // blank-sheet saving may drop is counted once it is known to be kept.
  mayBeDropped = saveBlankSheet(*options.choices);
  if (!mayBeDropped) events.pageCounted(pageCount, header.numCopies);

  if (const char* problem = rasterHeaderProblem(currentHeader)) {
    fail(1, problem);
    return PageStart::Failed;
  }
  PageSettingsResult result =
      readPageSettings(*options.choices, currentHeader, paperTable, settings, loop, events.log);
  if (result != PageSettingsResult::Ok) {
    fail(1, pageSettingsError(result));
    return PageStart::Failed;
  }
  // A raster wider than its sheet is refused rather than cut: its lines would
  // lose their right part, and the page would be recorded on a portrait sheet.
  if (const char* problem = landscapeRasterProblem(currentHeader, settings.lineWidth)) {
    fail(1, problem);
    return PageStart::Failed;
  }
  if (settings.paperIndex == kCustomPaperIndex)
    if (const char* problem = customSizeProblem(currentHeader, customRange)) {
      fail(1, problem);
      return PageStart::Failed;
    }

  preparePageRecord(pageRecord, settings, currentHeader);

  const EngineLibrary& library = engineOf(*options.library);
  if (!library.canRenderPages()) {
    fail(1, formatText(kMissingEntryLine, library.firstMissingEntry()));
    return PageStart::Failed;
  }
  modelPath = modelPathFor(options.product.empty() ? nullptr : options.product.c_str(), loop,
                           modelPath);

  PageRenderOptions pageOptions;
  pageOptions.library = &library;
  pageOptions.header = &currentHeader;
  pageOptions.settings = &settings;
  pageOptions.loop = loop;
  pageOptions.pageCount = pageCount;
  pageOptions.modelPath = modelPath;
  pageOptions.saveBlankSheet = mayBeDropped;
  pageOptions.cancelled = events.cancelled;
  pageOptions.afterScreenThreads = [this] {
    if (settings.colorMode) events.statusProbe(loop == PageLoop::Duplex);
    readRotate180(*options.choices, settings);
  };

  planes = spooler.pageBuffers();
  renderer = std::make_unique<PageRenderer>();
  switch (renderer->begin(pageOptions, *planes)) {
    case RenderResult::Ok:
      break;
    case RenderResult::EngineRefused:
      fail(kExitEngineRefused, kEngineRefusedLine);
      return PageStart::Failed;
    case RenderResult::AllocationFailed:
      fail(1, kAllocationLine);
      return PageStart::Failed;
    case RenderResult::Busy:
    case RenderResult::Cancelled:
      // Other pages held the colour library for the whole wait, or the job
      // was cancelled while this page waited for its turn.
      fail(1, kNoTurnLine);
      return PageStart::Failed;
  }
  lineIndex = 0;
  return PageStart::Render;
}

PageEnd Job::Impl::endPage() {
  PageEnd end;
  const bool hasContent = renderer->end();
  renderer.reset();
  events.pageRendered(pageCount);

  if (!hasContent) {
    --pageCount;  // the next page takes this number
    spooler.returnBuffers(std::move(planes));
    end.kind = PageEnd::Dropped;
    return end;
  }

  SpoolResult spooled = spooler.spoolPage(std::move(planes), pageRecord, pageCount);
  if (spooled.kind == SpoolResult::WriteFailed) {
    failWithErrno(kSpoolWriteLine, spooled.error);
    end.kind = PageEnd::Failed;
    return end;
  }
  if (spooled.kind == SpoolResult::CreateFailed) {
    if (loop == PageLoop::Simplex) {
      spooler.spool().removeAll();
      failWithErrno(kSimplexSpoolLine, spooled.error);
    } else {
      WritePjlComment(out, kSpoolTemplate);
      spooler.spool().removeAll();
      failWithErrno(kDuplexSpoolLine, spooled.error);
    }
    end.kind = PageEnd::Failed;
    return end;
  }

  held = readHeader;
  heldPaperIndex = settings.paperIndex;
  anyKept = true;
  if (mayBeDropped) events.pageCounted(pageCount, readHeader.numCopies);
  // A cancelled job finishes the page it was rendering and reads no more:
  // a one-sided job always, a two-sided one after a colour page.
  end.stop = cancelled() && (loop == PageLoop::Simplex || settings.colorMode == 1);
  return end;
}

// Two-sided: a white page makes an odd page count even, so that the last
// sheet has a back.
bool Job::Impl::addBlankBack() {
  blankBackAdded = 0;
  if (pageCount % 2 == 0) return true;
  blankBackAdded = 1;
  ++pageCount;

  PageHeader header = currentHeader;
  PageSettingsResult result =
      readPageSettings(*options.choices, header, paperTable, settings, PageLoop::Duplex, events.log);
  if (result != PageSettingsResult::Ok) {
    fail(1, pageSettingsError(result));
    return false;
  }
  preparePageRecord(pageRecord, settings, header);

  PlaneBuffers blank;
  if (!allocatePlaneBuffers(blank, settings.colorMode, settings.lineWidth, header.height)) {
    fail(1, kAllocationLine);
    return false;
  }

  SpoolResult spooled = spooler.spoolPageNow(blank, pageRecord, pageCount);
  if (spooled.kind == SpoolResult::CreateFailed) {
    WritePjlComment(out, kSpoolTemplate);
    fail(1, "");
    return false;
  }
  if (spooled.kind == SpoolResult::WriteFailed) {
    failWithErrno(kSpoolWriteLine, spooled.error);
    return false;
  }
  return true;
}

bool Job::Impl::writeJobHeader() {
  JobHeaderInputs inputs;
  inputs.startFlag = 1;
  inputs.title = options.title;
  inputs.user = options.user;
  inputs.duplexMode = settings.duplexMode;
  inputs.paperIndex = settings.paperIndex;
  inputs.pageCount = pageCount;
  inputs.blankBackAdded = blankBackAdded;
  readSystemJobAttributes(inputs);
  spooler.writeHeader(currentHeader, inputs);
  events.log("STATE: Setup");
  if (!out.flush()) {
    failWithErrno(kOutputLine, errno);
    return false;
  }
  return true;
}

JobEnd Job::Impl::finish() {
  JobEnd end;
  // The last kept page is on disk before anything is sent; no page's
  // buffers outlive the pages.
  SpoolResult settled = spooler.settle();
  if (!settled.ok()) {
    failWithErrno(kSpoolWriteLine, settled.error);
    end.ok = false;
    return end;
  }
  // A raster without pages is still announced to the printer as a job, of
  // no pages, with the job's own values.
  currentHeader = anyPage ? held : headerWithoutPages(settings);
  if (anyKept) settings.paperIndex = heldPaperIndex;

  if (loop == PageLoop::Duplex) {
    if (!cancelled() && !addBlankBack()) {
      end.ok = false;
      return end;
    }
    events.log("INFO: IPC done, start setup()");
  }
  if (!writeJobHeader()) {
    end.ok = false;
    return end;
  }

  const PageHeader& header = currentHeader;
  SendOrder order =
      loop == PageLoop::Duplex
          ? SendOrder::duplex(pageCount, header.numCopies, static_cast<int>(header.collate))
          : SendOrder::simplex(pageCount, header.numCopies, static_cast<int>(header.collate));
  SendResult sent = spooler.sendPages(std::move(order), events.sending);
  if (sent == SendResult::OutputFailed) {
    failWithErrno(kOutputLine, errno);
    end.ok = false;
    return end;
  }
  end.cancelled = cancelled();
  spooler.writeTrailer(end.cancelled);
  return end;
}

Job::Job(ByteSink& out, JobOptions options, JobEvents events)
    : impl_(std::make_unique<Impl>(out, std::move(options), std::move(events))) {}

Job::~Job() { abandon(); }

int Job::duplexMode() const { return impl_->settings.duplexMode; }

const char* Job::duplexOption() const { return impl_->duplexOptionKeyword; }

PageStart Job::startPage(const PageHeader& header) { return impl_->startPage(header); }

int Job::pageNumber() const { return impl_->pageCount; }

std::span<unsigned char> Job::line() {
  Impl& job = *impl_;
  const size_t lines = job.currentHeader.height;
  if (job.lineIndex % kProgressEvery == 0) {
    int percent = static_cast<int>(static_cast<uint64_t>(job.lineIndex) * 100 / lines);
    job.events.pageProgress(job.pageCount, percent, job.loop == PageLoop::Duplex);
  }
  return job.renderer->nextLine();
}

void Job::pushLine() {
  impl_->renderer->pushLine();
  ++impl_->lineIndex;
}

PageEnd Job::endPage() { return impl_->endPage(); }

JobEnd Job::finish() { return impl_->finish(); }

void Job::abandon() {
  impl_->renderer.reset();
  impl_->spooler.abandon();
}

const Failure& Job::failure() const { return impl_->failure; }

void Job::removeSpoolFilesFromSignal() const { impl_->spooler.spool().removeAllFromSignal(); }

}  // namespace zeru
