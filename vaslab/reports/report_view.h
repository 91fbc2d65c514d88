// The report view: a page file rendered at print resolution, shrunk to the
// screen and shown in a full-width view (scrolled by the arrows) or a
// whole-page view.  Entered as vproc_main (module_entries.h).
#pragma once

#include <cstdint>

#include "vaslab/core/toolkit/bitmap_file.h"

namespace vaslab {

// Files larger than any page can be are refused before anything is read.
constexpr std::uint64_t kViewMaxFileBytes = 16u << 20;

// The height of a page shrunk to `width`: width x 3150 / 2400, rounded to
// the nearest (a remainder of 1200 or more rounds up).
int scaled_page_height(int width);

// Shrinks a rendered page raster (2400 by 3150, rows bottom-up, page
// colours) to `width` by scaled_page_height(width) by averaging the palette
// colours of each box of source pixels, red, green and blue apart.  The
// result is top-down.
Bitmap shrink_page_raster(const std::uint8_t* raster, int width);

}  // namespace vaslab
