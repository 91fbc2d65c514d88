// The pictures built into the program: the window icon, the background tile
// shown where no screen background is loaded, and the start picture.
#pragma once

#include "vaslab/core/toolkit/bitmap_file.h"

namespace vaslab {

// 128 by 128.
Bitmap make_background_tile();
// 1280 by 480; its lettering uses the screen's title font when it is made.
Bitmap make_splash_picture();
// 32 by 32.
Bitmap make_program_icon();

}  // namespace vaslab
