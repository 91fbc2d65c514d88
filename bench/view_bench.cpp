// The report view's wait: read the sample page, render it, shrink it to the
// full-width image.  The shrink is set against ImageMagick's box filter on
// the same raster (convert page.ppm -filter box -resize 640x840! out.ppm),
// whose time includes starting the process, as the view's does not.
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "vaslab/reports/page_renderer.h"
#include "vaslab/reports/report_view.h"

using Clock = std::chrono::steady_clock;

namespace {

double seconds_since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

}  // namespace

int main() {
  const std::string dir = "/tmp/vaslab-view-bench";
  const std::string page_path = dir + "/page.pdf", ppm = dir + "/page.ppm", out = dir + "/out.ppm";
  std::system(("mkdir -p " + dir).c_str());
  if (std::system(("python3 " VASLAB_SOURCE_DIR "/vaslab/reports/tests/make_page.py " + page_path).c_str()) != 0) {
    std::fprintf(stderr, "view_bench: cannot make the sample page\n");
    return 1;
  }
  std::vector<std::uint8_t> raster(vaslab::kPageRasterBytes);
  double best_read = 1e9, best_render = 1e9, best_shrink = 1e9, best_whole = 1e9;
  for (int run = 0; run < 5; ++run) {
    const auto t0 = Clock::now();
    const auto data = platform::read_file(page_path);
    const auto t1 = Clock::now();
    if (!data || vaslab::render_page_description(raster.data(), data->data(), data->size(), 1) != 0) return 1;
    const auto t2 = Clock::now();
    const vaslab::Bitmap full = vaslab::shrink_page_raster(raster.data(), 640);
    const auto t3 = Clock::now();
    best_read = std::min(best_read, std::chrono::duration<double>(t1 - t0).count());
    best_render = std::min(best_render, std::chrono::duration<double>(t2 - t1).count());
    best_shrink = std::min(best_shrink, std::chrono::duration<double>(t3 - t2).count());
    best_whole = std::min(best_whole, std::chrono::duration<double>(t3 - t0).count());
    if (full.height != 840) return 1;
  }

  // The same raster, top row first, as a PPM for ImageMagick.
  {
    std::ofstream f(ppm, std::ios::binary);
    f << "P6\n2400 3150\n255\n";
    std::vector<char> row(2400 * 3);
    for (int y = 0; y < 3150; ++y) {
      const std::uint8_t* src = raster.data() + static_cast<std::size_t>(3149 - y) * 2400;
      for (int x = 0; x < 2400; ++x) {
        const std::uint32_t p = vaslab::page_palette_rgb(src[x]);
        row[3 * x] = static_cast<char>(p >> 16);
        row[3 * x + 1] = static_cast<char>(p >> 8);
        row[3 * x + 2] = static_cast<char>(p);
      }
      f.write(row.data(), static_cast<std::streamsize>(row.size()));
    }
  }
  double best_convert = 1e9;
  for (int run = 0; run < 5; ++run) {
    const auto t0 = Clock::now();
    if (std::system(("convert " + ppm + " -filter box -resize '640x840!' " + out).c_str()) != 0) {
      std::fprintf(stderr, "view_bench: convert failed (ImageMagick installed?)\n");
      return 1;
    }
    best_convert = std::min(best_convert, seconds_since(t0));
  }
  std::printf("read %.1f ms, render %.1f ms, shrink to 640x840 %.1f ms: whole wait %.1f ms (goal 250 ms)\n",
              best_read * 1e3, best_render * 1e3, best_shrink * 1e3, best_whole * 1e3);
  std::printf("ImageMagick box resize of the same raster: %.1f ms (process included)\n", best_convert * 1e3);
  return 0;
}
