// Each of the demo machine's studies from its study menu to its report, on
// the templates the demo tool writes, against the measuring-module
// simulator: the operator enters the patient, captures every step, views
// the report, prints it on a private CUPS queue and exports it as a PDF.
// The PDF is read back with poppler's tools: its text must hold the
// patient, every captured value, every index, note and symptom time, and
// every trace box must hold a drawn trace.  The expected values come from
// the study's own pages, read apart from the report generator.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "platform/find.h"
#include "platform/le_bytes.h"
#include "platform/paths.h"
#include "study_fixture.h"
#include "testsupport/png.h"
#include "testsupport/private_cups.h"
#include "vaslab/core/links/module_link.h"
#include "vaslab/records/export_screen.h"
#include "vaslab/records/print_screen.h"
#include "vaslab/records/step_runner.h"
#include "vaslab/records/study_menu_module.h"
#include "vaslab/records/temp_studies.h"
#include "vaslab/records/archive_db.h"
#include "vaslab/reports/page_description.h"
#include "vaslab/reports/page_renderer.h"
#include "vaslab/reports/pdf_export.h"
#include "vaslab/reports/print_queue.h"
#include "vaslab/reports/spooler.h"
#include "vaslab/studies/dual_pair.h"
#include "vaslab/studies/single_channel.h"
#include "vaslab/studies/single_pressure.h"

namespace vaslab {
namespace {

using platform::vk::kDown;
using platform::vk::kEscape;
using platform::vk::kReturn;

constexpr int kRow1 = 215, kRow2 = 214, kRow3 = 213, kRow5 = 211, kMoreStudies = 212;
constexpr const char* kName = "DOE, JANE";
constexpr const char* kId = "A-17";

int module_ready() { return 0; }

std::string output_of(const std::string& cmd) {
  std::string out;
  if (FILE* p = ::popen(cmd.c_str(), "r")) {
    char buf[4096];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    ::pclose(p);
  }
  return out;
}

// Runs of blanks as one, so that a check does not depend on the columns
// pdftotext lays the words out in.
std::string squeezed(const std::string& s) {
  std::string out;
  for (char c : s) {
    const bool blank = c == ' ' || c == '\t';
    if (blank && !out.empty() && out.back() == ' ') continue;
    out += blank ? ' ' : c;
  }
  return out;
}

struct Gray {
  int width = 0, height = 0;
  std::vector<std::uint8_t> pixels;
  int dark(int l, int t, int r, int b) const {
    int n = 0;
    for (int y = std::max(t, 0); y < std::min(b, height); ++y)
      for (int x = std::max(l, 0); x < std::min(r, width); ++x) n += pixels[y * width + x] < 128;
    return n;
  }
};

Gray read_pgm(const std::string& path) {
  Gray g;
  std::ifstream f(path, std::ios::binary);
  std::string magic;
  int maxval = 0;
  f >> magic >> g.width >> g.height >> maxval;
  f.get();
  if (magic != "P5" || maxval != 255) return {};
  g.pixels.resize(static_cast<std::size_t>(g.width) * g.height);
  f.read(reinterpret_cast<char*>(g.pixels.data()), static_cast<std::streamsize>(g.pixels.size()));
  return g;
}

struct DemoReports : StudyFixture {
  std::unique_ptr<testsupport::PrivateCups> cups;
  bool viewed = false;

  void SetUp() override {
    StudyFixture::SetUp();
    // The demo's site data as scripts/demo-root leaves it: its study menu and
    // templates, and the report header's logo.
    const std::string tool = std::string(VASLAB_BUILD_DIR) + "/bin/demo-studies";
    ASSERT_EQ(std::system(("VASLAB_ROOT='" + root.path() + "' '" + tool + "'").c_str()), 0);
    std::ifstream logo(std::string(VASLAB_SOURCE_DIR) + "/vaslab/resources/graphic/hdrlogo.gph", std::ios::binary);
    root.write("C:\\GRAPHIC\\hdrlogo.gph", std::string((std::istreambuf_iterator<char>(logo)), {}));

    // The pulse volume screens keep the module's status word: the simulator
    // sends one now and then on both channels.
    sim::ModuleOptions options;
    options.status_word = 1000;
    options.status_every = 40;
    options.status_word2 = 900;
    options.status_every2 = 40;
    ASSERT_NO_FATAL_FAILURE(link_simulator(options));
    auto& hw = hardware_settings();
    hw.inflate_delay = 2;
    set_module_check(module_ready);
    study_list() = StudyList{};
    study_list().mode = kListTemporary;

    cups = std::make_unique<testsupport::PrivateCups>(root.path() + "/cups");
    ASSERT_TRUE(cups->add_printer("Lab", true));
    std::strcpy(hw.print_control, "+");
    ASSERT_EQ(open_default_printer(), kPrinterOpen);
    std::strcpy(hw.export_control_1, "C:\\PROGRAMS\\VIVOVEV");
    std::strcpy(hw.export_path_1, "D:\\VIVOVEV\\");
    hw.export_code_1 = 0;
    hw.import_control[0] = 0;
    platform::map_path_create_dirs("D:\\VIVOVEV\\");
  }
  void TearDown() override {
    set_module_check(nullptr);
    reset_spooler_for_tests();
    cups.reset();
    StudyFixture::TearDown();
  }
  // Frames for a trace, in portions that the screen reads off the line
  // between them.
  void trace_frames() {
    for (int i = 0; i < 4; ++i) input->at_time(frames(40)).after(100);
  }

  // The study chosen from the menu by its rows, and the patient entered.
  void choose(std::initializer_list<int> rows, const char* name = kName) {
    for (int r : rows) input->after(300).tap(r);
    input->after(300).type(name).key(kReturn).type(kId).key(kReturn).after(300);
  }
  // After the last step: View, Print, Export, Exit; then the menu is left.
  void review_and_leave() {
    input->after(500).tap(kReviewView).after(3000);
    input->at_time([this] {
      bool zoom = false, exit = false;
      for (const ButtonRecord* b = current_button_table(); b && !is_table_end(*b); ++b) {
        zoom |= b->button_code == 104;
        exit |= b->button_code == 107;
      }
      viewed = zoom && exit;
    });
    input->key(kEscape).after(500);
    input->tap(kReviewPrint).after(500).tap(kPrintPage).after(3000).tap(kPrintExit);
    input->after(500).tap(kReviewExport).after(500).tap(kExportPatient).after(8000).tap(kExportExit);
    input->after(500).tap(kReviewExit);
    input->after(60000).close_window();
    char a0[] = "mastermn", a1[] = "M";
    char* argv[] = {a0, a1};
    EXPECT_EQ(mastermn_main(2, argv), 0);
  }

  // The captured study: its page description and its pages.
  PageDescription description() {
    const std::string pdf = root.read("C:\\DATA\\1.PDF");
    PageDescription d;
    EXPECT_EQ(read_page_description(reinterpret_cast<const std::uint8_t*>(pdf.data()), pdf.size(), d), kPageOk);
    return d;
  }
  std::unique_ptr<StudyPage> page(int step) {
    auto p = std::make_unique<StudyPage>();
    const auto bytes = platform::read_file(platform::map_path(page_file_name(step, 1)), STUDY_PAGE_BYTES);
    EXPECT_TRUE(bytes && bytes->size() == STUDY_PAGE_BYTES) << "page of step " << step;
    if (bytes && bytes->size() == STUDY_PAGE_BYTES) std::memcpy(p.get(), bytes->data(), STUDY_PAGE_BYTES);
    return p;
  }
  static std::string text_of(const char* field, std::size_t room) { return std::string(field, strnlen(field, room)); }
  // What the report shows as a step's pressure.
  std::string pressure(int step) {
    const auto p = page(step);
    const std::string t = text_of(p->short_text, 4);
    return t.empty() ? std::to_string(p->channel_2[p->newest]) : t;
  }

  // The exported PDF's text (blanks squeezed) and its page as gray pixels
  // at 300 dots an inch, after the print job and the view were checked.
  std::string text;
  Gray picture;
  void read_back() {
    EXPECT_TRUE(viewed) << "View showed the report";
    ASSERT_TRUE(cups->wait_for_jobs("Lab", 1)) << "the report was printed";
    const auto jobs = cups->jobs("Lab");
    ASSERT_EQ(jobs.size(), 1u);
    const testsupport::Picture printed = testsupport::read_png(jobs[0]);
    EXPECT_EQ(printed.width, 2550);
    EXPECT_EQ(printed.height, 3300);

    const auto files = platform::list_files("D:\\VIVOVEV\\*.pdf");
    ASSERT_EQ(files.size(), 1u) << "one PDF exported";
    const std::string pdf = platform::map_path("D:\\VIVOVEV\\" + files[0].name);
    text = squeezed(output_of("pdftotext -layout '" + pdf + "' -"));
    ASSERT_FALSE(text.empty()) << "pdftotext read " << pdf;
    const std::string ppm = root.path() + "/page";
    ASSERT_EQ(std::system(("pdftoppm -r 300 -gray -f 1 -l 1 -singlefile '" + pdf + "' '" + ppm + "'").c_str()), 0);
    picture = read_pgm(ppm + ".pgm");
    // The page as the reader sees it, for a person to look at.
    const std::string shots = std::string(VASLAB_BUILD_DIR) + "/screenshots";
    platform::make_dirs(shots);
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    (void)std::system(("pdftoppm -r 60 -png -f 1 -l 1 -singlefile '" + pdf + "' '" + shots + "/demo_report_" + name +
                       "'").c_str());
    ASSERT_GE(picture.width, (18 + 576) * 300 / 72);
    ASSERT_GE(picture.height, (16 + 756) * 300 / 72);

    // The header: patient, ID and the exam date the study was given.
    const PageDescription d = description();
    EXPECT_TRUE(has("Name: " + std::string(kName))) << text;
    EXPECT_TRUE(has("ID #: " + std::string(kId))) << text;
    const std::string date = text_of(d.header.exam_date, sizeof d.header.exam_date);
    ASSERT_FALSE(date.empty());
    EXPECT_TRUE(has("Exam Date: " + date)) << text;
  }
  bool has(const std::string& s) const { return text.find(squeezed(s)) != std::string::npos; }

  // Every trace the report placed is drawn inside its box on the exported
  // page (2400 by 3150 page pixels in a 576 by 756 point frame whose
  // lower left corner is at 18, 16).
  void expect_traces_drawn(std::size_t count) {
    const PageDescription d = description();
    std::size_t placed = 0;
    for (const PageTraceEntry& t : d.header.traces) {
      if (t.x == 0 && t.y == 0) continue;
      ++placed;
      EXPECT_GT(t.count, 0) << "trace at " << t.x << "," << t.y;
      // Page pixels to points (0.24 each), then to 300 dots an inch.
      auto dots = [](double points) { return static_cast<int>(points * 300 / 72); };
      const int l = dots(18 + t.x * 0.24), top = picture.height - dots(16 + 756) + dots(t.y * 0.24);
      const int r = dots(18 + (t.x + 3 * t.count) * 0.24) + 1, b = top + dots(450 * 0.24);
      EXPECT_GT(picture.dark(l, top, r, b), 0) << "trace at " << t.x << "," << t.y;
    }
    EXPECT_EQ(placed, count);
  }
};

TEST_F(DemoReports, SegmentalPressures) {
  choose({kRow3});
  for (int step = 0; step < 3; ++step) {
    input->tap(kPressInflate).after(100).at_time(frames(60));
    input->after(100).at_time(frames(60)).after(100).tap(kCodeCapture).after(300).tap(0).after(300);
  }
  review_and_leave();
  read_back();
  const std::string pa = pressure(1), pb = pressure(2), pc = pressure(3);
  for (const std::string& p : {pa, pb, pc}) EXPECT_TRUE(has(p)) << p;
  char ai[16], ti[16];
  std::snprintf(ai, sizeof ai, "%4.2f", std::stod(pc) / std::stod(pa));
  std::snprintf(ti, sizeof ti, "%4.2f", std::stod(pb) / std::stod(pa));
  EXPECT_TRUE(has(std::string("Ankle/Brachial index ") + ai)) << text;
  EXPECT_TRUE(has(std::string("Thigh/Brachial index ") + ti)) << text;
}

TEST_F(DemoReports, AbiResting) {
  choose({kRow1});
  // Each pair: both cuffs up, captured, and each side's output typed.
  for (const char* outputs : {"130126", "108100"}) {
    const std::string right(outputs, 3), left(outputs + 3, 3);
    input->tap(kDualInflate).after(100).at_time(frames(150));
    input->after(100).tap(kCodeCapture).after(300).tap(kDualMove).after(100).tap(kDualSlowBack).after(100);
    input->tap(kDualSetOutput).after(300).type(right).after(50).tap(0);
    input->after(300).type(left).after(50).tap(0).after(300).tap(0).after(500);
  }
  input->type("Palpable pulses both feet").after(100).key(kEscape);
  review_and_leave();
  read_back();
  EXPECT_EQ(pressure(1), "130");
  EXPECT_EQ(pressure(4), "100");
  for (const char* p : {"130", "126", "108", "100"}) EXPECT_TRUE(has(p)) << p;
  EXPECT_TRUE(has("Ankle/Brachial index 0.83 0.77")) << text;
  EXPECT_TRUE(has("Name: DOE, JANE")) << "the notes leave the header alone";
  EXPECT_EQ(text_of(page(5)->text, 130), "Palpable pulses both feet");
  EXPECT_TRUE(has("Comments: Palpable pulses both feet")) << text;
}

TEST_F(DemoReports, LowerArterialDoppler) {
  choose({kRow2});
  for (int step = 0; step < 4; ++step)
  {
    input->after(100);
    trace_frames();
    input->tap(kCodeCapture).after(300).tap(0).after(300);
  }
  review_and_leave();
  read_back();
  expect_traces_drawn(4);
  for (const char* site : {"Right CFA", "Right POP", "Left CFA", "Left POP"}) EXPECT_TRUE(has(site)) << site;
  EXPECT_TRUE(has("time base")) << text;
}

TEST_F(DemoReports, DigitPpg) {
  choose({kMoreStudies, kRow1});
  for (int pair = 0; pair < 2; ++pair)
  {
    input->after(100);
    trace_frames();
    input->tap(kCodeCapture).after(300).tap(0).after(500);
  }
  review_and_leave();
  read_back();
  expect_traces_drawn(4);
  for (const char* site : {"RIGHT Fingers", "LEFT Fingers", "RIGHT Toes", "LEFT Toes"}) EXPECT_TRUE(has(site)) << site;
}

// The pulse volume pages: each side's cuff pressure, the amplitude the
// module reported (scaled to 0..999, the module counts 2692 for 1000) and a
// pulse wave, read back from each place the page is seen.  The cuffs are
// held at about 65 mmHg; a page with "cuff 0 mmHg" or a flat trace beside a
// measured amplitude contradicts itself.  The patient's name reads back as
// typed in print and PDF.
constexpr int kHeldLow = 55, kHeldHigh = 70;
// The demo's pulse volume steps inflate both cuffs to this.
constexpr int kHeldTarget = 65;

// The number after "<site> cuff " in a page's text; -1 when not there.
int cuff_in(const std::string& text, const std::string& site) {
  const std::string key = squeezed(site + " cuff ");
  const auto at = text.find(key);
  return at == std::string::npos ? -1 : std::atoi(text.c_str() + at + key.size());
}

struct DemoPvr : DemoReports {
  void SetUp() override {
    DemoReports::SetUp();
    // The module reports each side's amplitude when its cuff comes to hold
    // (and at the start of a stream), as the pulse volume module does; a
    // status word restarts the side's trace.
    sim::ModuleOptions options;
    options.status_word = 1000;
    options.status_word2 = 900;
    ASSERT_NO_FATAL_FAILURE(link_simulator(options));
    // The PostScript path: the print processor writes the printed page, so
    // its text reads back as the printer gets it.  It is a program of its
    // own, on the test's drives.
    ::setenv("VASLAB_ROOT", root.path().c_str(), 1);
    const std::string pproc = std::string(VASLAB_BUILD_DIR) + "/bin/pproc";
    for (const char* name : {"PPROC.EXE", "PPROCM.EXE"})
      ASSERT_EQ(::symlink(pproc.c_str(), platform::map_path_create_dirs(std::string("C:\\PROGRAMS\\") + name).c_str()), 0);
    reset_spooler_for_tests(false);
    std::strcpy(hardware_settings().print_control, "Lab");
    ASSERT_EQ(open_default_printer(), kPrinterOpen);
  }

  void TearDown() override {
    ::unsetenv("VASLAB_ROOT");
    DemoReports::TearDown();
  }

  static std::string ps_layout(const std::string& ps) {
    return output_of("gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=txtwrite -sOutputFile=- '" + ps + "'");
  }
  static std::string pdf_layout(const std::string& pdf) { return output_of("pdftotext -layout '" + pdf + "' -"); }

  // The header's name stands clear of the study title beside it: two
  // blanks at least, as the page is laid out, then the title.
  static void expect_clear_of_title(const std::string& layout, const std::string& name, const std::string& where) {
    const std::size_t at = layout.find("Name: " + name);
    ASSERT_NE(at, std::string::npos) << where << "\n" << layout;
    const std::size_t end = at + 6 + name.size();
    EXPECT_EQ(layout.substr(end, 2), "  ") << where << ": " << layout.substr(at, 80);
  }

  // Every placed trace of a page description: its stored samples vary (a
  // pulse, not a flat line), and so do the rows its box is drawn on in a
  // picture of the page at 300 dots an inch (the PDF, or the screen's view
  // of the same raster).
  static void expect_pulses(const PageDescription& d, const Gray& page, const std::string& where) {
    int placed = 0;
    for (const PageTraceEntry& t : d.header.traces) {
      if (t.x == 0 && t.y == 0) continue;
      ++placed;
      int low = 255, high = 0;
      for (int i = 0; i < t.count; ++i) {
        low = std::min<int>(low, d.header.samples[t.start + i]);
        high = std::max<int>(high, d.header.samples[t.start + i]);
      }
      EXPECT_GT(high - low, 40) << where << ": trace at " << t.x << "," << t.y << " holds a pulse";
      auto dots = [](double points) { return static_cast<int>(points * 300 / 72); };
      const int l = dots(18 + t.x * 0.24), top = page.height - dots(16 + 756) + dots(t.y * 0.24);
      const int r = dots(18 + (t.x + 3 * t.count) * 0.24), b = top + dots(450 * 0.24);
      int rows = 0;
      for (int y = top; y < b; ++y) rows += page.dark(l + 4, y, r - 4, y + 1) > 0;
      EXPECT_GT(rows, 30) << where << ": the trace at " << t.x << "," << t.y << " is drawn as a wave";
    }
    EXPECT_GT(placed, 0) << where;
  }
  static Gray picture_of(const std::string& pdf, const std::string& stem) {
    EXPECT_EQ(std::system(("pdftoppm -r 300 -gray -f 1 -l 1 -singlefile '" + pdf + "' '" + stem + "'").c_str()), 0);
    return read_pgm(stem + ".pgm");
  }

  // The texts of one page: each site with its cuff held and the amplitude.
  static void expect_sites(const std::string& text, const std::vector<std::string>& sites,
                           const std::vector<int>& amplitudes, const std::string& where) {
    for (std::size_t i = 0; i < sites.size(); ++i) {
      const int cuff = cuff_in(text, sites[i]);
      EXPECT_GE(cuff, kHeldLow) << where << ": " << sites[i] << "\n" << text;
      EXPECT_LE(cuff, kHeldHigh) << where << ": " << sites[i];
      if (i < amplitudes.size()) {
        EXPECT_TRUE(text.find(squeezed("amplitude " + std::to_string(amplitudes[i]))) != std::string::npos)
            << where << ": " << sites[i] << "\n" << text;
      }
    }
  }

  // The patient's name as typed, a plain apostrophe (0x27) included: no
  // typographic quote stands in for it.
  static void expect_name(const std::string& text, const std::string& name, const std::string& where) {
    EXPECT_NE(text.find(squeezed("Name: " + name)), std::string::npos) << where << "\n" << text;
    EXPECT_EQ(text.find("\xE2\x80\x99"), std::string::npos) << where << ": a typographic quote\n" << text;
  }

  void run_pairs(int pairs, std::initializer_list<const char*> site_list, const std::string& name = kName) {
    const std::vector<std::string> sites(site_list.begin(), site_list.end());
    for (int pair = 0; pair < pairs; ++pair) {
      // The trace restarts when the module reports the held cuffs, so the
      // pulse is read after both stand at their target however late a
      // loaded machine lets the screen send the inflate command.
      input->tap(kDualInflate).after(100).at_time([this] {
        ASSERT_TRUE(testsupport::wait_until(
            [&] { return simulator->cuff_pressure(1) >= kHeldTarget && simulator->cuff_pressure(2) >= kHeldTarget; }))
            << "both cuffs held";
      });
      trace_frames();
      input->after(100).tap(kCodeCapture).after(300).tap(0).after(500);
    }
    review_and_leave();
    EXPECT_TRUE(viewed) << "View showed the report";
    std::vector<int> amplitudes;
    for (std::size_t step = 1; step <= sites.size(); ++step) {
      const auto p = page(static_cast<int>(step));
      const int status = std::min<int>(p->status, 2692);
      amplitudes.push_back(std::min((status * 1000 + 1346) / 2692, 999));
      EXPECT_GT(amplitudes.back(), 0) << sites[step - 1] << ": the module's status word was kept";
    }
    // The printed page: the print processor's PostScript as the queue got it.
    ASSERT_TRUE(cups->wait_for_jobs("Lab", 1)) << "the report was printed";
    const auto jobs = cups->jobs("Lab");
    ASSERT_EQ(jobs.size(), 1u);
    const std::string printed_layout = ps_layout(jobs[0]), printed = squeezed(printed_layout);
    expect_sites(printed, sites, amplitudes, "printed");
    expect_name(printed, name, "printed");
    expect_clear_of_title(printed_layout, name, "printed");
    // The PDF export, read from a copy: its name holds the patient's and so
    // may hold an apostrophe the shell would take.
    const auto files = platform::list_files("D:\\VIVOVEV\\*.pdf");
    ASSERT_EQ(files.size(), 1u) << "one PDF exported";
    const std::string pdf = root.path() + "/export.pdf";
    std::filesystem::copy_file(platform::map_path("D:\\VIVOVEV\\" + files[0].name), pdf);
    const std::string exported_layout = pdf_layout(pdf), exported = squeezed(exported_layout);
    expect_sites(exported, sites, amplitudes, "PDF");
    expect_name(exported, name, "PDF");
    expect_clear_of_title(exported_layout, name, "PDF");
    const PageDescription d = description();
    expect_pulses(d, picture_of(pdf, root.path() + "/page"), "PDF");
    // The screen: the view shows the page's raster, shrunk.
    expect_pulses(d, view_picture(root.read("C:\\DATA\\1.PDF")), "view");
  }

  // The report view's raster of a page file, as the screen shows it before
  // shrinking, in gray at the page's own 300 dots an inch.
  Gray view_picture(const std::string& file) {
    std::vector<std::uint8_t> raster(static_cast<std::size_t>(kPageWidth) * kPageHeight);
    EXPECT_EQ(render_page_description(raster.data(), reinterpret_cast<const std::uint8_t*>(file.data()), file.size(), 0),
              kPageOk);
    // Rows bottom-up; one page pixel is one dot at 300 dots an inch, placed
    // inside the 18 and 16 point margins as on the printed page.
    Gray g;
    g.width = (18 + 576 + 18) * 300 / 72;
    g.height = (16 + 756 + 16) * 300 / 72;
    g.pixels.assign(static_cast<std::size_t>(g.width) * g.height, 255);
    const int left = 18 * 300 / 72, top = g.height - (16 + 756) * 300 / 72;
    for (int y = 0; y < kPageHeight; ++y)
      for (int x = 0; x < kPageWidth; ++x)
        if (raster[static_cast<std::size_t>(kPageHeight - 1 - y) * kPageWidth + x] != 7)
          g.pixels[static_cast<std::size_t>(top + y) * g.width + left + x] = 0;
    return g;
  }
};

// A name with apostrophes prints and exports with them as typed.
TEST_F(DemoPvr, LowerPvr) {
  constexpr const char* kQuotedName = "O'NEAL, D'ARCY";
  choose({kRow5, kRow1}, kQuotedName);
  run_pairs(3, {"RIGHT Thigh", "LEFT Thigh", "RIGHT Calf", "LEFT Calf", "RIGHT Ankle", "LEFT Ankle"}, kQuotedName);
}

// The longest name the header keeps (29 characters) reads whole and apart
// from the study title.
TEST_F(DemoPvr, UpperPvr) {
  constexpr const char* kLongName = "WALKER, ANNABELLE-MARIE O'CON";
  choose({kRow5, kRow2}, kLongName);
  run_pairs(2, {"RIGHT Upper arm", "LEFT Upper arm", "RIGHT Forearm", "LEFT Forearm"}, kLongName);
}

// The demo archive's pulse volume studies, as demo-archive captures and
// archives them: printed (the print processor's PostScript), exported (the
// PDF Ghostscript makes of it) and viewed, each reads the held cuffs and a
// pulse on every trace.
TEST_F(DemoPvr, TheDemoArchivesPulseVolumeStudiesWithHeldCuffsAndPulses) {
  const std::string bin = std::string(VASLAB_BUILD_DIR) + "/bin/";
  const std::string env = "VASLAB_ROOT='" + root.path() + "' ";
  ASSERT_EQ(std::system((env + "'" + bin + "archive-tool' reindex full >/dev/null").c_str()), 0);
  ASSERT_EQ(std::system((env + "'" + bin + "demo-archive'").c_str()), 0);
  const struct {
    const char* patient;
    std::vector<std::string> sites;
  } studies[] = {
      {"NOWAK, PIOTR", {"RIGHT Thigh", "LEFT Thigh", "RIGHT Calf", "LEFT Calf", "RIGHT Ankle", "LEFT Ankle"}},
      {"SANTOS, MARIA", {"RIGHT Upper arm", "LEFT Upper arm", "RIGHT Forearm", "LEFT Forearm"}},
  };
  const std::string folder = archive_folder_text(1);
  for (const auto& study : studies) {
    SCOPED_TRACE(study.patient);
    std::string file;
    for (int n = 1; n <= last_archive_number(1) && file.empty(); ++n) {
      const std::string f = root.read(folder + archive_file_name(1, n));
      if (f.size() > 62 && std::string(f.c_str() + 32) == study.patient) file = folder + archive_file_name(1, n);
    }
    ASSERT_FALSE(file.empty()) << "archived";
    const std::string ps = root.path() + "/page.ps";
    ASSERT_EQ(std::system(("'" + bin + "pproc' '" + platform::map_path(file) + "' '" + ps + "'").c_str()), 0);
    expect_sites(squeezed(ps_layout(ps)), study.sites, {}, "printed");
    ASSERT_EQ(std::system(("cp '" + ps + "' '" + platform::map_path_create_dirs("C:\\TEMP\\my01.ps") + "'").c_str()), 0);
    ASSERT_EQ(make_pdf_with_ghostscript(1), 0);
    const std::string pdf = platform::map_path("C:\\TEMP\\vivoVEV.PDF");
    expect_sites(squeezed(pdf_layout(pdf)), study.sites, {}, "PDF");
    const std::string bytes = root.read(file);
    PageDescription d;
    ASSERT_EQ(read_page_description(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), d), kPageOk);
    expect_pulses(d, picture_of(pdf, root.path() + "/archived"), "PDF");
    expect_pulses(d, view_picture(bytes), "view");
  }
}

// The notes form: typed lines, a default answer kept and a history that
// wraps onto its second line; every stored line is on the page, under the
// header, which stays whole.
TEST_F(DemoReports, StudyNotes) {
  choose({kMoreStudies, kRow2});
  input->type("PID 5531").key(kDown).after(50).key(kDown).after(50);
  input->type("Calf pain after two blocks, worse on the left side, relieved by rest within minutes").after(50);
  input->key(kDown).after(50).key(kDown).after(50);  // the heading takes no answer
  input->type("Normal resting study").after(100).key(kEscape);
  review_and_leave();
  read_back();
  std::vector<std::string> notes;
  for (int step = 1; step <= 7; ++step) {
    if (step == 6) continue;  // the heading, which takes no answer, has no page
    const std::string line = text_of(page(step)->text, 130);
    if (!line.empty()) notes.push_back(line);
  }
  ASSERT_GE(notes.size(), 5u) << "typed, default and wrapped lines were stored";
  for (const std::string& line : notes) EXPECT_TRUE(has(line)) << line << "\n" << text;
  EXPECT_TRUE(has("Patient ID: PID 5531")) << text;
  EXPECT_TRUE(has("Indication: Claudication")) << text;
  EXPECT_TRUE(has("Impression: Normal resting study")) << text;
  EXPECT_TRUE(has("Impression (after review by the physician)")) << text;
}

// The walk and the recovery: symptoms marked on each, one with its side and
// site changed; each step's time and each symptom's time and words are on
// the page.
TEST_F(DemoReports, Treadmill) {
  choose({kMoreStudies, kRow3});
  input->after(1200).key('1').after(1100).key(platform::vk::kF9).after(100);
  input->key('C').after(100).key('D').after(100).key('D').after(300).tap(kCodeCapture).after(500);
  input->after(1100).key('1').after(300).tap(kCodeCapture).after(500);
  review_and_leave();
  read_back();
  const auto walk = page(1), recovery = page(2);
  const std::string walk_time = text_of(walk->text, 6), recovery_time = text_of(recovery->text, 6);
  ASSERT_EQ(walk_time.size(), 5u) << "the walk's time is where its readers look";
  EXPECT_TRUE(has("Walking time: " + walk_time)) << text;
  EXPECT_TRUE(has("Recovery time: " + recovery_time)) << text;
  const std::string slot0 = text_of(walk->text + 10, 6), slot1 = text_of(walk->text + 20, 6);
  const std::string slot2 = text_of(recovery->text + 10, 6);
  ASSERT_FALSE(slot0.empty());
  ASSERT_FALSE(slot1.empty());
  ASSERT_FALSE(slot2.empty());
  EXPECT_TRUE(has("Claudication RIGHT BUTTOCK " + slot0)) << text;
  EXPECT_TRUE(has("Cramp LEFT CALF " + slot1)) << text;
  EXPECT_TRUE(has("Claudication RIGHT BUTTOCK " + slot2)) << text;
}

}  // namespace
}  // namespace vaslab
