// Whole screens drawn with the build's own bitmaps and fonts, saved as PNG
// under <build>/screenshots and compared with an expected picture in
// <source>/<expected_dir>.  After a deliberate change of the look,
// regenerate them:
//   VASLAB_UPDATE_SCREENSHOTS=1 ctest --test-dir build/test -R Screenshot
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "testsupport/png.h"
#include "vaslab/core/toolkit/screen.h"

// At most 0.3% of the pixels may differ by more than 16 in a component
// (glyph edges move a little between FreeType versions).
inline void check_screenshot(const std::string& name, const std::string& expected_dir) {
  using namespace vaslab;
  const testsupport::Picture shot{screen_bitmap()->width, screen_bitmap()->height, screen_bitmap()->pixels};
  EXPECT_EQ(testsupport::check_expected_picture(shot, expected_dir, name, 16, 3), "");
}
