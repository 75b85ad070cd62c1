#include "zeru/job.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

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

constexpr const char* kEngineRefused = "The colour library refused the page";
constexpr const char* kAllocation = "Unable to allocate memory for the page";
constexpr const char* kNoTurn = "The colour library could not take the page";
constexpr const char* kMissingEntry = "The colour library has no entry point %s";
constexpr const char* kSpoolWrite = "Unable to write the page spool file: %s";
constexpr const char* kOutput = "Unable to write the job to the printer: %s";
constexpr const char* kSimplexSpool = "Collating enabled mkstemp [/tmp/] -> %s";
constexpr const char* kDuplexSpool = "Duplex enabled mkstemp -> %s";
constexpr const char* kSide1Collated = "Printing side-1 page %d... (%u/%u)";
constexpr const char* kSide2Collated = "Printing side-2 page %d... (%u/%u)";
constexpr const char* kSide1 = "Printing side-1 page %d ...";
constexpr const char* kSide2 = "Printing side-2 page %d ...";
// Written into the job stream when a two-sided job cannot spool a page.
constexpr const char* kSpoolTemplate = "/tmp/tmp-XXXXXX";
constexpr const char* kZeroCopiesLine = "INFO: The page header asks for 0 copies; 1 copy is printed";
constexpr size_t kProgressEvery = 128;

JbigCoder coderFor(zeru::Compression compression) {
  return compression == zeru::Compression::JbigKit ? JbigCoder::JbigKit : JbigCoder::Own;
}

}  // namespace

namespace zeru {

std::string progressText(const Sending& sending) {
  if (sending.copies > 1)
    return formatText(sending.side == 1 ? kSide1Collated : kSide2Collated, sending.page,
                      sending.copy, sending.copies);
  return formatText(sending.side == 1 ? kSide1 : kSide2, sending.page);
}

struct Job::Impl {
  Impl(ByteSink& sink, JobOptions jobOptions, JobEvents jobEvents)
      : out(sink),
        options(std::move(jobOptions)),
        events(std::move(jobEvents)),
        spooler(out,
                JobServices{events.cancelled, events.log,
                            options.spoolDirectory.empty() ? "/tmp" : options.spoolDirectory,
                            events.spoolFileMade, events.spoolFileRemoving},
                coderFor(options.compression)) {
    settings.rotate180 = 0;
    settings.colorMode = 0;
    readJobLevelSettings(*options.choices,
                         options.pageSizeOption ? options.pageSizeOption->c_str() : nullptr,
                         settings);
    heldPaperIndex = settings.paperIndex;
    const char* duplexKeyword = ::duplexOption(*options.choices);
    settings.duplexMode = duplexModeFor(duplexKeyword, options.choices->choice(duplexKeyword));
    settings.collate = collateFromChoice(options.choices->choice("Collate"));
    loop = settings.duplexMode == 0 ? PageLoop::Simplex : PageLoop::Duplex;
    customRange.offered = options.customSizes.offered;
    customRange.minWidth = options.customSizes.minWidth;
    customRange.minHeight = options.customSizes.minHeight;
    customRange.maxWidth = options.customSizes.maxWidth;
    customRange.maxHeight = options.customSizes.maxHeight;
  }

  bool cancelled() const { return events.cancelled(); }

  void fail(FailureKind kind, std::string message) {
    failure.kind = kind;
    failure.message = std::move(message);
  }
  void failWithErrno(FailureKind kind, const char* format, int error) {
    fail(kind, formatText(format, strerror(error)));
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
  // A page whose raster covers its whole sheet is cut to the imageable
  // area: its lines are taken in `sheetLine`, and those of the cut go on.
  std::optional<PageCut> sheetCut;
  std::vector<unsigned char> sheetLine;
  unsigned sheetBytesPerPixel = 0;
  unsigned sheetWidth = 0;
  unsigned sheetHeight = 0;
  size_t sheetRow = 0;
  bool mayBeDropped = false;
  std::unique_ptr<PlaneBuffers> planes;
  std::unique_ptr<PageRenderer> renderer;
  size_t lineIndex = 0;
};

PageStart Job::Impl::startPage(const PageHeader& sheetHeader) {
  // The core prints the imageable area of the sheet; a full-sheet raster is
  // cut to it here, so that it prints on its sheet, in the same place as a
  // page the front end cut itself.
  sheetCut.reset();
  if (options.rasterArea == RasterArea::FullSheet) sheetCut = fullSheetCut(sheetHeader);
  sheetRow = 0;
  if (sheetCut) {
    sheetBytesPerPixel = sheetHeader.bitsPerPixel / 8;
    sheetWidth = sheetHeader.width;
    sheetHeight = sheetHeader.height;
    sheetLine.assign(sheetHeader.bytesPerLine, 0);
  } else {
    sheetLine = {};
  }
  const PageHeader pageHeader =
      sheetCut ? cutPageHeader(sheetHeader, *sheetCut, false) : sheetHeader;
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
    fail(FailureKind::RasterHeader, problem);
    return PageStart::Failed;
  }
  // A full-sheet page is printed on its own sheet, whichever size the
  // choices name: its raster was drawn for that sheet, and as a custom size
  // it would be printed on none.
  const int choicesPaperIndex = settings.jobPaperIndex;
  if (sheetCut)
    if (const Paper* paper =
            paperForPoints(sheetCut->sheetWidthPoints, sheetCut->sheetHeightPoints))
      settings.jobPaperIndex = paperIndexFromKeyword(paper->keyword);
  PageSettingsResult result =
      readPageSettings(*options.choices, currentHeader, paperTable, settings, loop, events.log);
  settings.jobPaperIndex = choicesPaperIndex;
  if (result != PageSettingsResult::Ok) {
    fail(FailureKind::PageSettings, pageSettingsError(result));
    return PageStart::Failed;
  }
  // A raster wider than its sheet is refused rather than cut: its lines would
  // lose their right part, and the page would be recorded on a portrait sheet.
  if (const char* problem = landscapeRasterProblem(currentHeader, settings.lineWidth)) {
    fail(FailureKind::RasterHeader, problem);
    return PageStart::Failed;
  }
  if (settings.paperIndex == kCustomPaperIndex)
    if (const char* problem = customSizeProblem(currentHeader, customRange)) {
      fail(FailureKind::RasterHeader, problem);
      return PageStart::Failed;
    }

  preparePageRecord(pageRecord, settings, currentHeader);

  const EngineLibrary& library = engineOf(*options.library);
  if (!library.canRenderPages()) {
    fail(FailureKind::ColourLibraryEntry, formatText(kMissingEntry, library.firstMissingEntry()));
    return PageStart::Failed;
  }
  if (options.model) {
    const ModelDescription& model = describe(*options.model);
    modelPath = loop == PageLoop::Duplex ? model.twoSidedModelPath : model.oneSidedModelPath;
  }

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
    if (settings.colorMode) events.statusProbe();
    readRotate180(*options.choices, settings);
  };

  planes = spooler.pageBuffers();
  renderer = std::make_unique<PageRenderer>();
  switch (renderer->begin(pageOptions, *planes)) {
    case RenderResult::Ok:
      break;
    case RenderResult::EngineRefused:
      fail(FailureKind::ColourLibraryRefused, kEngineRefused);
      return PageStart::Failed;
    case RenderResult::AllocationFailed:
      fail(FailureKind::Memory, kAllocation);
      return PageStart::Failed;
    case RenderResult::Busy:
    case RenderResult::Cancelled:
      // Other pages held the colour library for the whole wait, or the job
      // was cancelled while this page waited for its turn.
      fail(FailureKind::ColourLibraryBusy, kNoTurn);
      return PageStart::Failed;
  }
  lineIndex = 0;
  return PageStart::Render;
}

PageEnd Job::Impl::endPage() {
  PageEnd end;
  // The cut's lines below a raster that ends above them are white.
  if (sheetCut && sheetRow >= sheetHeight)
    for (; lineIndex < sheetCut->height; ++lineIndex) {
      whiteLine(*sheetCut, sheetBytesPerPixel, renderer->nextLine().data());
      renderer->pushLine();
    }
  const bool hasContent = renderer->end();
  renderer.reset();
  events.pageRendered(pageCount);

  if (!hasContent) {
    --pageCount;  // the next page takes this number
    spooler.returnBuffers(std::move(planes));
    end.kind = PageEnd::Kind::Dropped;
    return end;
  }

  SpoolResult spooled = spooler.spoolPage(std::move(planes), pageRecord, pageCount);
  if (spooled.kind == SpoolResult::WriteFailed) {
    failWithErrno(FailureKind::SpoolWrite, kSpoolWrite, spooled.error);
    end.kind = PageEnd::Kind::Failed;
    return end;
  }
  if (spooled.kind == SpoolResult::CreateFailed) {
    if (loop == PageLoop::Simplex) {
      spooler.spool().removeAll();
      failWithErrno(FailureKind::SpoolCreate, kSimplexSpool, spooled.error);
    } else {
      WritePjlComment(out, kSpoolTemplate);
      spooler.spool().removeAll();
      failWithErrno(FailureKind::SpoolCreate, kDuplexSpool, spooled.error);
    }
    end.kind = PageEnd::Kind::Failed;
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
    fail(FailureKind::PageSettings, pageSettingsError(result));
    return false;
  }
  preparePageRecord(pageRecord, settings, header);

  PlaneBuffers blank;
  if (!allocatePlaneBuffers(blank, settings.colorMode, settings.lineWidth, header.height)) {
    fail(FailureKind::Memory, kAllocation);
    return false;
  }

  SpoolResult spooled = spooler.spoolPageNow(blank, pageRecord, pageCount);
  if (spooled.kind == SpoolResult::CreateFailed) {
    WritePjlComment(out, kSpoolTemplate);
    // The job stream says it; the failure has no text of its own.
    fail(FailureKind::SpoolCreate, "");
    return false;
  }
  if (spooled.kind == SpoolResult::WriteFailed) {
    failWithErrno(FailureKind::SpoolWrite, kSpoolWrite, spooled.error);
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
  const bool written = spooler.writeHeader(currentHeader, inputs);
  const int writeError = errno;
  events.log("STATE: Setup");
  if (!written) {
    failWithErrno(FailureKind::OutputWrite, kOutput, writeError);
    return false;
  }
  if (!out.flush()) {
    failWithErrno(FailureKind::OutputWrite, kOutput, errno);
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
    failWithErrno(FailureKind::SpoolWrite, kSpoolWrite, settled.error);
    end.kind = JobEnd::Kind::Failed;
    return end;
  }
  // A raster without pages is still announced to the printer as a job, of
  // no pages, with the job's own values.
  currentHeader = anyPage ? held : headerWithoutPages(settings);
  if (anyKept) settings.paperIndex = heldPaperIndex;

  if (loop == PageLoop::Duplex) {
    if (!cancelled() && !addBlankBack()) {
      end.kind = JobEnd::Kind::Failed;
      return end;
    }
    events.log("INFO: IPC done, start setup()");
  }
  if (!writeJobHeader()) {
    end.kind = JobEnd::Kind::Failed;
    return end;
  }

  const PageHeader& header = currentHeader;
  SendOrder order =
      loop == PageLoop::Duplex
          ? SendOrder::duplex(pageCount, header.numCopies, static_cast<int>(header.collate))
          : SendOrder::simplex(pageCount, header.numCopies, static_cast<int>(header.collate));
  SendResult sent = spooler.sendPages(std::move(order), events.sending);
  if (sent == SendResult::OutputFailed) {
    failWithErrno(FailureKind::OutputWrite, kOutput, errno);
    end.kind = JobEnd::Kind::Failed;
    return end;
  }
  end.cancelled = cancelled();
  // A cancelled job's output may have been shut by the cancel itself: its
  // trailer is offered, and the job ends as cancelled all the same.
  if (!spooler.writeTrailer(end.cancelled) && !end.cancelled) {
    failWithErrno(FailureKind::OutputWrite, kOutput, errno);
    end.kind = JobEnd::Kind::Failed;
  }
  return end;
}

Job::Job(ByteSink& out, JobOptions options, JobEvents events)
    : impl_(std::make_unique<Impl>(out, std::move(options), std::move(events))) {}

Job::~Job() { abandon(); }

Sides Job::sides() const {
  switch (impl_->settings.duplexMode) {
    case 1: return Sides::TwoSidedLongEdge;
    case 2: return Sides::TwoSidedShortEdge;
    default: return Sides::OneSided;
  }
}

PageStart Job::startPage(const PageHeader& header) { return impl_->startPage(header); }

int Job::pageNumber() const { return impl_->pageCount; }

std::span<unsigned char> Job::line() {
  Impl& job = *impl_;
  const size_t lines = job.sheetCut ? job.sheetHeight : job.currentHeader.height;
  const size_t row = job.sheetCut ? job.sheetRow : job.lineIndex;
  if (row % kProgressEvery == 0) {
    int percent = static_cast<int>(static_cast<uint64_t>(row) * 100 / lines);
    job.events.pageProgress(job.pageCount, percent);
  }
  if (job.sheetCut) return job.sheetLine;
  return job.renderer->nextLine();
}

void Job::pushLine() {
  Impl& job = *impl_;
  if (job.sheetCut) {
    // Lines above and below the imageable area are not printed.
    const size_t row = job.sheetRow++;
    if (row < job.sheetCut->top || job.lineIndex >= job.sheetCut->height) return;
    cutLine(job.sheetLine.data(), job.sheetWidth, job.sheetBytesPerPixel, *job.sheetCut,
            job.sheetBytesPerPixel, job.renderer->nextLine().data());
  }
  job.renderer->pushLine();
  ++job.lineIndex;
}

PageEnd Job::endPage() { return impl_->endPage(); }

JobEnd Job::finish() { return impl_->finish(); }

void Job::abandon() {
  impl_->renderer.reset();
  impl_->spooler.abandon();
}

const Failure& Job::failure() const { return impl_->failure; }

}  // namespace zeru
