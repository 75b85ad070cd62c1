#include "printer-app/client_stream.h"

#include <sys/socket.h>

#include <pappl/pappl.h>

#include <cstring>
#include <ctime>

namespace zeruapp {

namespace {

// How often a waiting read is looked at, in seconds.
constexpr double kReadWaitSeconds = 1.0;
// The connection's time-out once the job is done: libcups' own wait for a
// read, now for a write to a client that does not read as well.
constexpr double kPlainTimeoutSeconds = 60.0;

// The document a client thread is reading. PAPPL serves each connection in
// a thread of its own and reads a streamed document in it, so that each
// thread has one of these, written and read in that thread alone.
struct DocumentStream {
  http_t* http = nullptr;
  // The job whose reads are watched; none before the job's start.
  pappl_job_t* job = nullptr;
  DocumentReadStop stop = DocumentReadStop::None;
};

thread_local DocumentStream stream;

// Every further read ends at once: the reading side of the connection is
// shut, its writing side (the answer) kept. Only ever after a read has
// waited, when the client sends nothing: the connection is not closed on
// data that came but was not read, which would reset it under the answer.
void endReads(DocumentStream& s, DocumentReadStop why) {
  if (s.stop == DocumentReadStop::None) s.stop = why;
  shutdown(httpGetFd(s.http), SHUT_RD);
}

// libcups asks this each time a read of the document has waited a second.
int keepWaiting(http_t* http, void* data) {
  auto& s = *static_cast<DocumentStream*>(data);
  const bool silent = time(nullptr) - httpGetActivity(http) >= kClientSilenceLimit;
  if (s.job == nullptr) return silent ? 0 : 1;
  // A server's connection is in POST_RECV until the request's body ends.
  if (httpGetState(http) != HTTP_STATE_POST_RECV) {
    endReads(s, DocumentReadStop::BodyEnded);
    return 0;
  }
  if (papplJobIsCanceled(s.job)) {
    endReads(s, DocumentReadStop::Cancelled);
    return 0;
  }
  if (silent) {
    endReads(s, DocumentReadStop::ClientSilent);
    return 0;
  }
  return 1;
}

}  // namespace

bool isClientRaster(const char* format) {
  return format != nullptr &&
         (strcmp(format, "image/pwg-raster") == 0 || strcmp(format, "image/urf") == 0);
}

void noteDocumentConnection(pappl_client_t* client) {
  const ipp_op_t operation = papplClientGetOperation(client);
  if (operation != IPP_OP_PRINT_JOB && operation != IPP_OP_SEND_DOCUMENT) return;
  ipp_attribute_t* format =
      ippFindAttribute(papplClientGetRequest(client), "document-format", IPP_TAG_MIMETYPE);
  if (!isClientRaster(format ? ippGetString(format, 0, nullptr) : nullptr)) return;
  if (stream.job != nullptr) return;
  stream = DocumentStream{};
  stream.http = papplClientGetHTTP(client);
}

void watchDocumentReads(pappl_job_t* job) {
  if (stream.http == nullptr || stream.job != nullptr || !isClientRaster(papplJobGetFormat(job)))
    return;
  stream.job = job;
  httpSetTimeout(stream.http, kReadWaitSeconds, keepWaiting, &stream);
}

DocumentReadStop documentReadStop(pappl_job_t* job) {
  return stream.job == job ? stream.stop : DocumentReadStop::None;
}

void endDocumentWatch(pappl_job_t* job) {
  if (stream.http == nullptr || (stream.job != nullptr && stream.job != job)) return;
  // httpSetTimeout cannot take the time-out away again: the connection
  // keeps libcups' 60-second wait, without this file's callback.
  if (stream.job != nullptr) httpSetTimeout(stream.http, kPlainTimeoutSeconds, nullptr, nullptr);
  stream = DocumentStream{};
}

}  // namespace zeruapp
