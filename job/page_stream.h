// Page blocks of the job stream: page records in spool files, and sending them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <vector>

#include "imaging/plane_buffers.h"
#include "zeru/byte_sink.h"
#include "stream/command_record.h"

inline constexpr size_t kCopyBufferSize = 32768;

// Writes the sealed page-start record, then the planes (colour: 2, 1, 0, 3;
// grayscale: 3), with checked unbuffered writes. Returns false when any
// write fails or is short (errno is set).
bool WritePageRecord(int fd, PageStartRecord& record, const PlaneBuffers& planes);

// Writes a block to `out`, offering it again while the failure is one that
// can pass (EINTR, EAGAIN): without bound while `cancelled` (when given)
// says no, about a second more once it says yes. Returns false on a
// permanent failure. What `out` still buffers is flushed first and the block
// goes straight to its descriptor, so that a refused write loses no bytes;
// a stream without a descriptor is written through its buffer.
bool writeOutputBlock(FILE* out, const void* data, size_t length,
                      const std::function<bool()>& cancelled = {});

enum class SendResult { Sent, Cancelled, OutputFailed };

// Copies the spool file to `out` in blocks of copyBuffer.size(), then writes
// the page-end record (its cancel mark from `cancelled`) and closes the file.
// A file that cannot be opened sends no page data but still its page-end record.
// Returns Cancelled when `cancelled` said so as the record was built,
// OutputFailed when `out` refused the page for good (nothing more is sent).
SendResult SendSpooledPage(zeru::ByteSink& out, const char* spoolName, std::vector<uint8_t>& copyBuffer,
                           const std::function<bool()>& cancelled);
