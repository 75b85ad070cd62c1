// JPEG and PNG jobs: the app decodes the image itself, on a path that ends
// on any error and looks at the cancel flag on every row, and refuses an
// image larger than a Legal page at 1200 dpi before it allocates its pixels.
// PAPPL then places the pixels on the page (papplJobFilterImage).
#pragma once

#include <pappl/pappl.h>

namespace zeruapp {

// The largest image printed: a Legal sheet (8.5 x 14 in) at 1200 dpi, either
// way round.
inline constexpr unsigned kMaxImageShortSide = 10200;
inline constexpr unsigned kMaxImageLongSide = 16800;

// Registers the app's JPEG and PNG filters ahead of PAPPL's own and sets
// PAPPL's image size limit to the same size.
void addImageFilters(pappl_system_t* system);

// Why an image of this size is not printed, or nullptr.
const char* imageSizeProblem(unsigned width, unsigned height);

}  // namespace zeruapp
