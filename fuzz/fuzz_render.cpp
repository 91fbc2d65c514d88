// Any bytes through the page renderer into a raster.  The first byte chooses
// what the rest is: a page file (even), or a picture file placed on a page
// by the next 16 bytes (odd).  Nothing may be written outside the raster;
// every pixel is a page colour.
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <vector>

#include "platform/le_bytes.h"
#include "platform/paths.h"
#include "scratch_root.h"
#include "vaslab/reports/page_description.h"
#include "vaslab/reports/page_renderer.h"

using namespace vaslab;

namespace {

constexpr std::size_t kGuard = 64;

std::vector<std::uint8_t>& raster() {
  static std::vector<std::uint8_t> r(kPageRasterBytes + 2 * kGuard);
  return r;
}

std::vector<std::uint8_t> picture_page(const uint8_t* p, size_t size) {
  PageDescription d;
  for (auto& t : d.header.traces) t.count = 2;
  PageGraphicItem g{};
  std::strcpy(g.picture, "FUZZ.GPH");
  g.x = platform::get_s16le(p);
  g.y = platform::get_s16le(p + 2);
  g.gap = platform::get_s16le(p + 4);
  g.source_x = platform::get_s16le(p + 6);
  g.source_rows = platform::get_s16le(p + 8);
  g.draw_width = platform::get_s16le(p + 10);
  g.draw_height = platform::get_s16le(p + 12);
  g.mirror = p[14] % 3;
  d.graphic_items.push_back(g);
  std::ofstream(platform::map_path_create_dirs("C:\\GRAPHIC\\FUZZ.GPH"), std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(p + 16), static_cast<std::streamsize>(size - 16));
  return build_page_description(d);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_scratch_root("render");
  if (size < 1) return 0;
  std::vector<std::uint8_t> page;
  if (data[0] & 1) {
    if (size < 17) return 0;
    page = picture_page(data + 1, size - 1);
  } else {
    page.assign(data + 1, data + size);
  }
  auto& r = raster();
  std::memset(r.data(), 0xA5, kGuard);
  std::memset(r.data() + kGuard + kPageRasterBytes, 0xA5, kGuard);
  const int colour = data[0] & 2 ? 1 : 0;
  const int result = render_page_description(r.data() + kGuard, page.data(), page.size(), colour);
  for (std::size_t i = 0; i < kGuard; ++i)
    if (r[i] != 0xA5 || r[r.size() - 1 - i] != 0xA5) abort();
  if (result == kPageOk)
    for (std::size_t i = kGuard; i < kGuard + kPageRasterBytes; ++i)
      if (r[i] >= kPageColours) abort();
  return 0;
}
