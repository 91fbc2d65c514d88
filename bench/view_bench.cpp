// The report view's wait: read the sample page, render it, shrink it to the
// full-width image.  The shrink is set against ImageMagick's box filter on
// the same raster (convert page.ppm -filter box -resize 640x840! out.ppm),
// whose time includes starting the process, as the view's does not.  Five
// runs of each, the view's wait and ImageMagick in turns; best and median.
// Both images must come out 640x840, ImageMagick's as `identify` reads it.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_turns.h"
#include "platform/file_io.h"
#include "vaslab/reports/page_renderer.h"
#include "vaslab/reports/report_view.h"

using Clock = std::chrono::steady_clock;

int main() {
  const std::string dir = bench::temp_folder("/tmp/vaslab-view-bench-XXXXXX");  // removed at the end
  const std::string page_path = dir + "/page.pdf", ppm = dir + "/page.ppm", out = dir + "/out.ppm";
  if (std::system(("python3 " VASLAB_SOURCE_DIR "/vaslab/reports/tests/make_page.py " + page_path).c_str()) != 0) {
    std::fprintf(stderr, "view_bench: cannot make the sample page\n");
    return 1;
  }
  std::vector<std::uint8_t> raster(vaslab::kPageRasterBytes);
  bench::Runs read, render, shrink;
  const auto view = [&] {
    const auto t0 = Clock::now();
    const auto data = platform::read_file(page_path);
    const auto t1 = Clock::now();
    if (!data || vaslab::render_page_description(raster.data(), data->data(), data->size(), 1) != 0)
      bench::check_failed("the sample page does not render");
    const auto t2 = Clock::now();
    const vaslab::Bitmap full = vaslab::shrink_page_raster(raster.data(), 640);
    const auto t3 = Clock::now();
    if (full.width != 640 || full.height != 840) bench::check_failed("the shrunk page is not 640x840");
    read.add(std::chrono::duration<double>(t1 - t0).count());
    render.add(std::chrono::duration<double>(t2 - t1).count());
    shrink.add(std::chrono::duration<double>(t3 - t2).count());
    return bench::Cost{std::chrono::duration<double>(t3 - t0).count(), 0};
  };
  view();  // the raster for ImageMagick; not counted
  read = render = shrink = {};

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
  const std::string convert = "convert " + ppm + " -filter box -resize '640x840!' " + out;
  const auto runs = bench::in_turns(5, {view, [&] {
                                          return bench::child_cost_of([&] {
                                            if (std::system(convert.c_str()) != 0) {
                                              std::fprintf(stderr, "view_bench: convert failed (ImageMagick installed?)\n");
                                              std::exit(1);
                                            }
                                          });
                                        }});
  bench::check_command("test \"$(identify -format %wx%h " + out + ")\" = 640x840");
  std::printf("5 runs of each, in turns; best and median run, ms\n");
  std::printf("read %.1f / %.1f, render %.1f / %.1f, shrink to 640x840 %.1f / %.1f: whole wait %.1f / %.1f "
              "(goal 250 ms)\n",
              read.best() * 1e3, read.median() * 1e3, render.best() * 1e3, render.median() * 1e3, shrink.best() * 1e3,
              shrink.median() * 1e3, runs[0].wall.best() * 1e3, runs[0].wall.median() * 1e3);
  std::printf("ImageMagick box resize of the same raster (process included): %.1f / %.1f\n", runs[1].wall.best() * 1e3,
              runs[1].wall.median() * 1e3);
  std::printf("shrink against ImageMagick: best %.2fx, median %.2fx\n", shrink.best() / runs[1].wall.best(),
              shrink.median() / runs[1].wall.median());
  std::system(("rm -rf '" + dir + "'").c_str());
  return 0;
}
