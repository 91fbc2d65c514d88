// Whole screens drawn with the build's own bitmaps and fonts, saved as PNG
// under <build>/screenshots and compared with an expected picture in
// <source>/<expected_dir>.  After a deliberate change of the look,
// regenerate them:
//   VASLAB_UPDATE_SCREENSHOTS=1 ctest --test-dir build/test -R Screenshot
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/paths.h"
#include "testsupport/png.h"
#include "vaslab/core/screen.h"

// At most 0.3% of the pixels may differ by more than 16 in a component
// (glyph edges move a little between FreeType versions).
inline void check_screenshot(const std::string& name, const std::string& expected_dir) {
  using namespace vaslab;
  const testsupport::Picture shot{screen_bitmap()->width, screen_bitmap()->height, screen_bitmap()->pixels};
  const std::string out_dir = std::string(std::getenv("VASLAB_BUILD_DIR")) + "/screenshots";
  platform::make_dirs(out_dir);
  ASSERT_TRUE(testsupport::write_png(out_dir + "/" + name + ".png", shot));
  const std::string expected_path = std::string(std::getenv("VASLAB_SOURCE_DIR")) + "/" + expected_dir + "/" + name + ".png";
  if (const char* update = std::getenv("VASLAB_UPDATE_SCREENSHOTS"); update && *update) {
    ASSERT_TRUE(testsupport::write_png(expected_path, shot));
    return;
  }
  const testsupport::Picture expected = testsupport::read_png(expected_path);
  ASSERT_EQ(expected.width, shot.width) << "no expected picture " << expected_path
                                        << " (VASLAB_UPDATE_SCREENSHOTS=1 makes it)";
  ASSERT_EQ(expected.height, shot.height);
  int off = 0;
  for (std::size_t i = 0; i < shot.pixels.size(); ++i) {
    const std::uint32_t a = shot.pixels[i], b = expected.pixels[i];
    for (int s : {0, 8, 16})
      if (std::abs(static_cast<int>((a >> s) & 255) - static_cast<int>((b >> s) & 255)) > 16) {
        ++off;
        break;
      }
  }
  EXPECT_LE(off, static_cast<int>(shot.pixels.size() * 3 / 1000))
      << name << ": compare " << out_dir << "/" << name << ".png with " << expected_path;
}
