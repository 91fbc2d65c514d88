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

// Saves a picture as <build>/screenshots/<name>.png and compares it with
// <source>/<expected_dir>/<name>.png: a pixel differs when a component is
// off by more than `tolerance`; at most `max_per_mille` of the pixels may
// differ.  Empty on success, else what went wrong.  With
// VASLAB_UPDATE_SCREENSHOTS set the expected picture is rewritten instead.
std::string check_expected_picture(const Picture& shot, const std::string& expected_dir, const std::string& name,
                                   int tolerance, int max_per_mille);

}  // namespace testsupport
