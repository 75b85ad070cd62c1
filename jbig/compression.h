// JBIG compression of a page's planes.
#pragma once

#include <cstdint>
#include <vector>

#include "imaging/plane_buffers.h"
#include "stream/command_record.h"

// Which JBIG encoder compresses the planes: the filter's own, specialised for
// the stream's option set, or JBIG-KIT's. Both give the same bytes.
enum class JbigCoder { Own, JbigKit };

// The encoder a ZERU_JBIG value names: "jbigkit" for JBIG-KIT, anything else
// (or no value) for the filter's own.
JbigCoder jbigCoderFromName(const char* name);

// Room to reserve for the JBIG entity of one plane of the given size: the
// header, the raw size plus an eighth, and each stripe's flush and marker.
// Random noise, the worst any screened page comes to, needs about 1.05 times
// the raw size. The arithmetic coder has no useful hard bound (an adversarial
// plane could cost up to 15 bits per dot, stuffing included 30 times the raw
// size), so compressPlane grows its output past this room rather than
// overflow; the room only spares a page the reallocation.
size_t maxCompressedSize(size_t bytesPerLine, size_t lines);

// Compresses one plane (single layer, order 0, options 0x340, l0 128, mx = my = 0)
// into `out` (cleared first, grown as needed); returns the entity's length,
// 0 when no entity could be made (no plane, or no memory for the output).
// The plane holds (width + 7) / 8 bytes per line.
uint32_t compressPlane(const uint8_t* plane, unsigned width, unsigned height,
                       std::vector<uint8_t>& out, JbigCoder coder = JbigCoder::Own);

// Compresses every plane in use: a colour page on four threads (planes
// 3, 0, 1, 2), each storing its length into its own field of `record`;
// a grayscale page's plane 3 on the calling thread. Sets the compressed size.
void compressPage(PlaneBuffers& planes, PageStartRecord& record,
                  JbigCoder coder = JbigCoder::Own);
