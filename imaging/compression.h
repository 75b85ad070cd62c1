// JBIG compression of a page's planes.
#pragma once

#include <cstdint>
#include <vector>

#include "imaging/plane_buffers.h"
#include "stream/command_record.h"

// Worst-case size of the JBIG entity of one plane of the given size.
size_t maxCompressedSize(size_t bytesPerLine, size_t lines);

// Compresses one plane (single layer, order 0, options 0x340, l0 128, mx = my = 0)
// into `out` (grown as needed); returns the entity's length.
uint32_t compressPlane(const uint8_t* plane, unsigned width, unsigned height,
                       std::vector<uint8_t>& out);

// Compresses every plane in use: a colour page on four threads (planes
// 3, 0, 1, 2), each storing its length into its own field of `record`;
// a grayscale page's plane 3 on the calling thread. Sets the compressed size.
void compressPage(PlaneBuffers& planes, PageStartRecord& record);
