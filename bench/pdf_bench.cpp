// The PDF export's costs on the sample page, each the median of five runs:
// writing its PostScript; converting it to a one-page PDF through gsapi in
// this process (the export's way) against the `gs` program on the same file
// (goal: within 1.1 times the program's time); and rendering the page into
// the raster against Ghostscript's own 300 dpi rendering of its PostScript
// (goal: at most a fifth of it).  The program times include starting it.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "platform/paths.h"
#include "vaslab/reports/page_renderer.h"
#include "vaslab/reports/pdf_export.h"
#include "vaslab/reports/postscript_page.h"

using Clock = std::chrono::steady_clock;

namespace {

// Median seconds of five runs; negative when a run fails.
double median_of_five(const std::function<bool()>& run) {
  std::vector<double> times;
  for (int i = 0; i < 5; ++i) {
    const auto t0 = Clock::now();
    if (!run()) return -1;
    times.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
  }
  std::sort(times.begin(), times.end());
  return times[2];
}

}  // namespace

int main() {
  const std::string dir = "/tmp/vaslab-pdf-bench";
  if (std::system(("rm -rf " + dir + " && mkdir -p " + dir + "/c/temp " + dir + "/c/graphic").c_str()) != 0) return 1;
  platform::set_root(dir);
  const std::string page_path = dir + "/page.pdf";
  if (std::system(("python3 " VASLAB_SOURCE_DIR "/vaslab/reports/tests/make_page.py " + page_path).c_str()) != 0 ||
      std::system(("cp " VASLAB_SOURCE_DIR "/vaslab/resources/graphic/hdrlogo.gph " + dir + "/c/graphic/").c_str()) != 0) {
    std::fprintf(stderr, "pdf_bench: cannot make the sample page\n");
    return 1;
  }
  const auto page = platform::read_file(page_path);
  if (!page) return 1;
  const std::string ps = platform::map_path("c:\\temp\\my01.ps");

  const double write_ps = median_of_five([&] {
    return vaslab::render_page_postscript(page->data(), page->size(), 1, "c:\\temp\\my01.ps") == vaslab::kPageOk;
  });
  const double in_process = median_of_five([] { return vaslab::make_pdf_with_ghostscript(1) == 0; });
  const double program = median_of_five([&] {
    return std::system(("gs -q -dNOPAUSE -dBATCH -sDEVICE=pdfwrite -sOutputFile=" + dir + "/gs.pdf " + ps).c_str()) == 0;
  });
  std::vector<std::uint8_t> raster(vaslab::kPageRasterBytes);
  const double render = median_of_five([&] {
    return vaslab::render_page_description(raster.data(), page->data(), page->size(), 1) == vaslab::kPageOk;
  });
  const double gs_raster = median_of_five([&] {
    return std::system(("gs -q -dNOPAUSE -dBATCH -r300 -sDEVICE=ppmraw -sOutputFile=" + dir + "/gs.ppm " + ps).c_str()) == 0;
  });
  if (write_ps < 0 || in_process < 0 || program < 0 || render < 0 || gs_raster < 0) {
    std::fprintf(stderr, "pdf_bench: a run failed (ghostscript installed?)\n");
    return 1;
  }
  std::printf("PostScript of the sample page written: %.1f ms\n", write_ps * 1e3);
  std::printf("one-page PDF: gsapi in-process %.0f ms, gs program %.0f ms: %.2fx (goal at most 1.10x)\n",
              in_process * 1e3, program * 1e3, in_process / program);
  std::printf("page into the raster %.1f ms, gs -r300 ppmraw %.0f ms: %.2f of it (goal at most 0.20)\n", render * 1e3,
              gs_raster * 1e3, render / gs_raster);
  return 0;
}
