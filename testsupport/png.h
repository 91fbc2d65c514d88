// PNG pictures for tests that save what the screen shows and compare it with
// an expected picture.  Pixels are 0x00RRGGBB, rows top-down.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

struct Picture {
  int width = 0, height = 0;
  std::vector<std::uint32_t> pixels;
};

// Writes an 8-bit RGB PNG; false when the file cannot be written.
bool write_png(const std::string& path, const Picture& picture);
// Reads an 8-bit RGB or RGBA PNG, not interlaced (what write_png and the
// usual tools make); an empty picture for anything else.
Picture read_png(const std::string& path);

}  // namespace testsupport
