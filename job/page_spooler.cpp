#include "job/page_spooler.h"

#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>
#include <utility>

#include "jbig/compression.h"
#include "jbig/stripe_stream.h"
#include "imaging/worker_thread.h"
#include "job/job_stream.h"

int compressAndWrite(PlaneBuffers& planes, PageStartRecord& record, int fd, JbigCoder coder) {
  compressPage(planes, record, coder);
  int error = 0;
  if (!WritePageRecord(fd, record, planes)) error = errno;
  close(fd);
  return error;
}

PageSpooler::PageSpooler(zeru::ByteSink& out, JobServices services, JbigCoder coder)
    : out_(out),
      services_(std::move(services)),
      coder_(coder),
      spool_(services_.spoolDirectory, services_.spoolFileMade, services_.spoolFileRemoving) {}

PageSpooler::~PageSpooler() { abandon(); }

std::unique_ptr<PlaneBuffers> PageSpooler::pageBuffers() {
  std::unique_ptr<PlaneBuffers> planes =
      spare_ ? std::move(spare_) : std::make_unique<PlaneBuffers>();
  if (coder_ == JbigCoder::Own && !planes->stream)
    planes->stream = std::make_shared<StripeStream>(stripeWorkers());
  return planes;
}

void PageSpooler::returnBuffers(std::unique_ptr<PlaneBuffers> planes) {
  if (planes->stream) planes->stream->abandon();
  spare_ = std::move(planes);
}

// Waits for the page in flight, keeps its buffers for the next page, and
// returns the errno of its failed write or 0.
int PageSpooler::finishPending() {
  if (pending_.thread.joinable()) pending_.thread.join();
  if (pending_.planes) spare_ = std::move(pending_.planes);
  int error = pending_.error;
  pending_.error = 0;
  return error;
}

// Makes the slot's file and waits for the page before it to be on disk.
SpoolResult PageSpooler::openSlot(int slot, int& fd) {
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

SpoolResult PageSpooler::spoolPage(std::unique_ptr<PlaneBuffers> planes,
                                   const PageStartRecord& record, int slot) {
  int fd = -1;
  if (SpoolResult opened = openSlot(slot, fd); !opened.ok()) return opened;
  pending_.planes = std::move(planes);
  pending_.record = record;
  pending_.fd = fd;
  pending_.error = 0;
  try {
    pending_.thread = startWorkerThread([this] {
      pending_.error = compressAndWrite(*pending_.planes, pending_.record, pending_.fd, coder_);
    });
  } catch (const std::system_error&) {
    // No thread to be had: the page is spooled here and now.
    pending_.error = compressAndWrite(*pending_.planes, pending_.record, fd, coder_);
  }
  return {};
}

SpoolResult PageSpooler::spoolPageNow(PlaneBuffers& planes, const PageStartRecord& record,
                                      int slot) {
  int fd = -1;
  if (SpoolResult opened = openSlot(slot, fd); !opened.ok()) return opened;
  PageStartRecord own = record;
  if (int error = compressAndWrite(planes, own, fd, coder_))
    return {SpoolResult::WriteFailed, error};
  return {};
}

SpoolResult PageSpooler::settle() {
  int error = finishPending();
  spare_.reset();
  if (error != 0) return {SpoolResult::WriteFailed, error};
  return {};
}

void PageSpooler::abandon() {
  if (pending_.thread.joinable()) pending_.thread.join();
  spool_.removeAll();
}

bool PageSpooler::writeHeader(const zeru::PageHeader& header, const JobHeaderInputs& inputs) {
  return setup(out_, &header, inputs, services_);
}

SendResult PageSpooler::sendPages(SendOrder order,
                                  const std::function<void(const zeru::Sending&)>& announce) {
  return sendSpooledPages(out_, spool_, std::move(order), copyBuffer_, services_, announce);
}

bool PageSpooler::writeTrailer(bool cancelled) { return WriteJobTrailer(out_, cancelled); }
