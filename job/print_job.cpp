#include "job/print_job.h"

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>
#include <utility>

#include "imaging/compression.h"
#include "imaging/stripe_stream.h"
#include "imaging/worker_thread.h"
#include "job/job_stream.h"

void preparePageRecord(PageStartRecord& record, const JobSettings& s,
                       const cups_page_header2_t& header) {
  uint64_t planes = s.colorMode ? 4 : 1;
  uint64_t rawSize = planes * header.cupsHeight * static_cast<uint64_t>(s.lineWidth / 8);
  record.setPaper(s.paperCode, s.mediaCode, s.pageWidth10, s.pageHeight10);
  record.setRaster(static_cast<uint32_t>(s.lineWidth), header.cupsHeight,
                   static_cast<uint32_t>(rawSize), static_cast<uint16_t>(header.HWResolution[0]));
  record.clearPlaneLengths();
}

int compressAndWrite(PlaneBuffers& planes, PageStartRecord& record, int fd, bool writeRecord,
                     JbigCoder coder) {
  compressPage(planes, record, coder);
  int error = 0;
  if (writeRecord && !WritePageRecord(fd, record, planes)) error = errno;
  close(fd);
  return error;
}

PrintJob::PrintJob(zeru::ByteSink& out, JobServices services, JbigCoder coder)
    : out_(out), services_(std::move(services)), coder_(coder), spool_(services_.spoolDirectory, services_.spoolFileMade, services_.spoolFileRemoving) {}

PrintJob::~PrintJob() { abandon(); }

std::unique_ptr<PlaneBuffers> PrintJob::pageBuffers() {
  std::unique_ptr<PlaneBuffers> planes =
      spare_ ? std::move(spare_) : std::make_unique<PlaneBuffers>();
  if (coder_ == JbigCoder::Own && !planes->stream)
    planes->stream = std::make_shared<StripeStream>(stripeWorkers());
  return planes;
}

void PrintJob::returnBuffers(std::unique_ptr<PlaneBuffers> planes) {
  if (planes->stream) planes->stream->abandon();
  spare_ = std::move(planes);
}

// Waits for the page in flight, keeps its buffers for the next page, and
// returns the errno of its failed write or 0.
int PrintJob::finishPending() {
  if (pending_.thread.joinable()) pending_.thread.join();
  if (pending_.planes) spare_ = std::move(pending_.planes);
  int error = pending_.error;
  pending_.error = 0;
  return error;
}

// Makes the slot's file and waits for the page before it to be on disk.
SpoolResult PrintJob::openSlot(int slot, int& fd) {
  fd = spool_.create(slot);
  if (fd < 0) {
    int error = errno;
    if (pending_.thread.joinable()) pending_.thread.join();
    return {SpoolResult::CreateFailed, error};
  }
  if (int error = finishPending()) {
    close(fd);
    return {SpoolResult::WriteFailed, error};
  }
  return {};
}

SpoolResult PrintJob::spoolPage(std::unique_ptr<PlaneBuffers> planes,
                                const PageStartRecord& record, int slot, bool writeRecord) {
  int fd = -1;
  if (SpoolResult opened = openSlot(slot, fd); !opened.ok()) return opened;
  pending_.planes = std::move(planes);
  pending_.record = record;
  pending_.fd = fd;
  pending_.writeRecord = writeRecord;
  pending_.error = 0;
  try {
    pending_.thread = startWorkerThread([this] {
      pending_.error =
          compressAndWrite(*pending_.planes, pending_.record, pending_.fd, pending_.writeRecord,
                           coder_);
    });
  } catch (const std::system_error&) {
    // No thread to be had: the page is spooled here and now.
    pending_.error = compressAndWrite(*pending_.planes, pending_.record, fd, writeRecord, coder_);
  }
  return {};
}

SpoolResult PrintJob::spoolPageNow(PlaneBuffers& planes, const PageStartRecord& record, int slot) {
  int fd = -1;
  if (SpoolResult opened = openSlot(slot, fd); !opened.ok()) return opened;
  PageStartRecord own = record;
  if (int error = compressAndWrite(planes, own, fd, true, coder_))
    return {SpoolResult::WriteFailed, error};
  return {};
}

SpoolResult PrintJob::settle() {
  int error = finishPending();
  spare_.reset();
  if (error != 0) return {SpoolResult::WriteFailed, error};
  return {};
}

void PrintJob::abandon() {
  if (pending_.thread.joinable()) pending_.thread.join();
  spool_.removeAll();
}

void PrintJob::writeHeader(const cups_page_header2_t& header, const JobHeaderInputs& inputs) {
  setup(out_, &header, inputs, services_);
}

SendResult PrintJob::sendPages(SendOrder order,
                               const std::function<void(const zeru::Sending&)>& announce) {
  return sendSpooledPages(out_, spool_, std::move(order), copyBuffer_, services_, announce);
}

void PrintJob::writeTrailer(bool cancelled) { WriteJobTrailer(out_, cancelled); }
