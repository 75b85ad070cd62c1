// A client's streamed raster document and the reads of it.
//
// PAPPL 1.3.1 reads a client's PWG or Apple raster from the client's
// connection in the client's own thread, line by line, while the job
// prints. Two of its reads do not end by themselves:
// - a page that ends before its last line, in a body sent in chunks: PAPPL
//   reads once for each missing line, and libcups then waits 60 s a read for
//   a next chunk that cannot come, so the client is answered only when it
//   gives up;
// - a client that stops sending: each read waits 60 s, and the job can be
//   cancelled only between lines.
// Every other raster job of the printer is refused as busy meanwhile.
//
// PAPPL gives no job's client, but its access check gives the client of a
// request in the thread that then reads the document. From there the reads
// are watched through libcups' own read time-out (httpSetTimeout): when a
// read has waited once the request's body has ended, once the job is
// cancelled, or for 60 s in which the client sent nothing, the connection's
// reading side is shut, every further read ends at once, and the client is
// answered. A client that still sends is read as PAPPL reads it: what PAPPL
// reads of a document only to throw it away (after a job was aborted) is
// still read to its end, so that the client gets its answer. Only a server
// with an access policy checks access, as the service does; elsewhere
// PAPPL's reads are left as they are.
#pragma once

#include <pappl/pappl.h>

namespace zeruapp {

// Seconds a client may send nothing while its document is read.
inline constexpr int kClientSilenceLimit = 60;

// Why the reads of a job's document ended before the document did.
enum class DocumentReadStop {
  None,
  // The request's body ended: the document was shorter than it said.
  BodyEnded,
  // The job was cancelled.
  Cancelled,
  // The client sent nothing for kClientSilenceLimit seconds.
  ClientSilent,
};

// The message for a job whose client fell silent.
inline constexpr const char* kClientSilent =
    "The client sent nothing of the document for 60 seconds: the job was stopped";

// The formats PAPPL streams from the client's connection: PWG and Apple
// raster.
bool isClientRaster(const char* format);

// From the access check of a request, in the client's thread: notes the
// connection a Print-Job or Send-Document of raster will be read from.
void noteDocumentConnection(pappl_client_t* client);

// From the start of a job's streamed raster, in the client's thread: its
// document's further reads are watched until the job completes. Nothing is
// done in a thread with no noted connection.
void watchDocumentReads(pappl_job_t* job);

// Why the job's document reads ended early, in the thread reading it.
DocumentReadStop documentReadStop(pappl_job_t* job);

// From PAPPL's event of the job's completion, which comes in the thread
// that read the document, before the client is answered: the connection's
// reads are PAPPL's own again.
void endDocumentWatch(pappl_job_t* job);

}  // namespace zeruapp
