// The PDF export's costs on the sample page, five runs of each: writing its
// PostScript; converting it to a one-page PDF through gsapi in this process
// (the export's way) in turns with the `gs` program on the same file (goal:
// within 1.1 times the program's time); and rendering the page into the
// raster in turns with Ghostscript's own 300 dpi rendering of its PostScript
// (goal: at most a fifth of it).  The program times include starting it.
// Best and median run of each, wall time.  Both PDFs must read as one page to
// pdfinfo, else the benchmark fails.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "bench/bench_turns.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "vaslab/reports/page_renderer.h"
#include "vaslab/reports/pdf_export.h"
#include "vaslab/reports/postscript_page.h"

namespace {

constexpr int kRuns = 5;

// One run of `work`, which fails the benchmark when it fails.
std::function<bench::Cost()> run(const char* what, std::function<bool()> work) {
  return [what, work = std::move(work)] {
    bool ok = false;
    const bench::Cost c = bench::cost_of([&] { ok = work(); });
    if (!ok) {
      std::fprintf(stderr, "pdf_bench: %s failed (ghostscript installed?)\n", what);
      std::exit(1);
    }
    return c;
  };
}

void check_one_page(const std::string& pdf) {
  bench::check_command("pdfinfo '" + pdf + "' | grep -q '^Pages: *1$'");
}

}  // namespace

int main() {
  const std::string dir = bench::temp_folder("/tmp/vaslab-pdf-bench-XXXXXX");  // removed at the end
  if (std::system(("mkdir -p " + dir + "/c/temp " + dir + "/c/graphic").c_str()) != 0) return 1;
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

  const auto write_ps = bench::in_turns(kRuns, {run("writing the PostScript", [&] {
    return vaslab::render_page_postscript(page->data(), page->size(), 1, "c:\\temp\\my01.ps") == vaslab::kPageOk;
  })});
  const std::string gs_pdf = dir + "/gs.pdf";
  const auto pdf = bench::in_turns(kRuns, {
      run("gsapi", [] { return vaslab::make_pdf_with_ghostscript(1) == 0; }),
      run("gs pdfwrite", [&] {
        return std::system(("gs -q -dNOPAUSE -dBATCH -sDEVICE=pdfwrite -sOutputFile=" + gs_pdf + " " + ps).c_str()) == 0;
      })});
  check_one_page(platform::map_path("C:\\TEMP\\vivoVEV.PDF"));
  check_one_page(gs_pdf);
  std::vector<std::uint8_t> raster(vaslab::kPageRasterBytes);
  const auto render = bench::in_turns(kRuns, {
      run("rendering", [&] {
        return vaslab::render_page_description(raster.data(), page->data(), page->size(), 1) == vaslab::kPageOk;
      }),
      run("gs ppmraw", [&] {
        return std::system(("gs -q -dNOPAUSE -dBATCH -r300 -sDEVICE=ppmraw -sOutputFile=" + dir + "/gs.ppm " + ps).c_str()) == 0;
      })});
  std::printf("%d runs of each, in turns; best and median run, ms\n", kRuns);
  std::printf("PostScript of the sample page written: best %.1f, median %.1f\n", write_ps[0].wall.best() * 1e3,
              write_ps[0].wall.median() * 1e3);
  std::printf("one-page PDF, gsapi in-process against the gs program (goal at most 1.10x):\n  %s\n  %s\n",
              bench::best_and_median_heads("gsapi", "gs").c_str(), bench::best_and_median(pdf[0].wall, pdf[1].wall).c_str());
  std::printf("page into the raster against gs -r300 ppmraw (goal at most 0.20x):\n  %s\n  %s\n",
              bench::best_and_median_heads("ours", "gs").c_str(), bench::best_and_median(render[0].wall, render[1].wall).c_str());
  std::printf("both PDFs checked by pdfinfo: one page each\n");
  std::system(("rm -rf '" + dir + "'").c_str());
  return 0;
}
