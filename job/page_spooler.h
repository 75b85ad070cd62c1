// The page spooler behind rendering: each page with content is compressed
// and spooled on a thread of its own while the front end renders the next
// one, and once every page is in, the job header, the pages in their sending
// order and the trailer go to the job's byte sink.
//
//   PageSpooler spooler(sink, services);
//   for (each page) {
//     std::unique_ptr<PlaneBuffers> planes = spooler.pageBuffers();
//     ... render the page into *planes (PageRenderer) ...
//     if (content) spooler.spoolPage(std::move(planes), record, slot);
//     else spooler.returnBuffers(std::move(planes));
//   }
//   spooler.settle();
//   spooler.writeHeader(header, inputs);
//   spooler.sendPages(SendOrder::simplex(pages, copies, collate), announce);
//   spooler.writeTrailer(cancelled);
//
// A spooler holds at most two pages' buffers: the page in flight and the
// page being rendered.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "settings/job_settings.h"
#include "job/page_order.h"
#include "job/spool.h"
#include "jbig/compression.h"
#include "imaging/plane_buffers.h"
#include "stream/command_record.h"
#include "job/page_stream.h"
#include "stream/pjl.h"
#include "zeru/byte_sink.h"
#include "settings/job_services.h"
#include "zeru/page_header.h"

// How spooling a page went.
struct SpoolResult {
  enum Kind {
    Ok,
    CreateFailed,  // the page's spool file could not be made; nothing of it is on disk
    WriteFailed,   // an earlier page's spool file could not be written
  };
  Kind kind = Ok;
  int error = 0;  // errno of the failure
  bool ok() const { return kind == Ok; }
};

class PageSpooler {
 public:
  // `coder` compresses the planes: the own encoder stripe by stripe while
  // the page is rendered, JBIG-KIT after it.
  PageSpooler(zeru::ByteSink& out, JobServices services, JbigCoder coder = JbigCoder::Own);
  // Waits for the page in flight and removes the spool files left.
  ~PageSpooler();
  PageSpooler(const PageSpooler&) = delete;
  PageSpooler& operator=(const PageSpooler&) = delete;

  // Buffers for the next page: those of the last page spooled or dropped,
  // or new ones; with the own encoder, they compress as they fill.
  std::unique_ptr<PlaneBuffers> pageBuffers();
  // Takes back the buffers of a dropped page for the next page; what was
  // compressed of it is let go.
  void returnBuffers(std::unique_ptr<PlaneBuffers> planes);

  // Spools a rendered page into `slot` (1-based): its file is made now, its
  // planes are compressed and written on a thread of its own, after the
  // page before it is on disk.
  SpoolResult spoolPage(std::unique_ptr<PlaneBuffers> planes, const PageStartRecord& record,
                        int slot);
  // The same on the calling thread (the filler page of a two-sided job).
  SpoolResult spoolPageNow(PlaneBuffers& planes, const PageStartRecord& record, int slot);
  // Waits for the page in flight and lets the spare buffers go; reports
  // whether every page is on disk.
  SpoolResult settle();
  // Waits for the page in flight and removes every spool file: the end of
  // a job that fails.
  void abandon();

  // The job header (its geometry line goes to the log); false when the
  // output refused it (errno set).
  bool writeHeader(const zeru::PageHeader& header, const JobHeaderInputs& inputs);
  // The spooled pages in `order`; `announce` gets each two-sided page's sending.
  SendResult sendPages(SendOrder order, const std::function<void(const zeru::Sending&)>& announce);
  // False when the output refused the trailer (errno set).
  bool writeTrailer(bool cancelled);

  PageSpool& spool() { return spool_; }
  const JobServices& services() const { return services_; }

 private:
  // A kept page whose planes are compressed and written to its spool file
  // on a thread of its own. The job's thread fills it, starts the thread and
  // joins it before it reads `error` or starts the next one. The spooling
  // thread touches only this page's buffers, its copy of the page record
  // and its descriptor.
  struct PendingPage {
    std::thread thread;
    std::unique_ptr<PlaneBuffers> planes;
    PageStartRecord record;
    int fd = -1;
    int error = 0;  // errno of a failed spool write; 0 when the page is on disk
  };

  int finishPending();
  SpoolResult openSlot(int slot, int& fd);

  zeru::ByteSink& out_;
  JobServices services_;
  JbigCoder coder_;
  PageSpool spool_;
  PendingPage pending_;
  std::unique_ptr<PlaneBuffers> spare_;
  std::vector<uint8_t> copyBuffer_ = std::vector<uint8_t>(kCopyBufferSize);
};

// Compresses the page and writes its record and planes into the slot's file;
// returns 0, or the errno of a failed write. The descriptor is closed.
int compressAndWrite(PlaneBuffers& planes, PageStartRecord& record, int fd, JbigCoder coder);
