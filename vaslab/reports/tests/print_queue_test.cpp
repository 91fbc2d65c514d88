#include "vaslab/reports/print_queue.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/debug.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/spooler.h"
#include "testsupport/diskette_image.h"
#include "testsupport/generator.h"
#include "testsupport/private_cups.h"
#include "testsupport/scripted_input.h"
#include "testsupport/temp_root.h"
#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/input/system_utils.h"
#include "vaslab/core/settings/settings.h"
#include "vaslab/core/toolkit/main_window.h"
#include "vaslab/core/toolkit/message_box.h"
#include "vaslab/records/print_screen.h"
#include "vaslab/records/temp_studies.h"
#include "vaslab/reports/page_renderer.h"
#include "vaslab/reports/spooler.h"

namespace vaslab {
namespace {

std::string slurp(const std::string& linux_path) {
  std::ifstream in(linux_path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

struct PrintQueueTest : ::testing::Test {
  testsupport::TempRoot root;

  void SetUp() override {
    hardware_settings() = HardwareSettings{};
    default_hardware_settings(0);
    std::strcpy(hardware_settings().data_directory, "C:\\DATA\\");
    std::strcpy(hardware_settings().archive_path_1, "C:\\ARCHIVE\\");
    hardware_settings().print_control[0] = 0;
    g_message_text[0] = 0;
    reset_spooler_for_tests();
    // Message boxes answer at once, as after the window has gone.
    reset_event_state();
    stop_event_loop();
  }
  void TearDown() override {
    reset_spooler_for_tests();
    reset_event_state();
  }

  PrintQueue& q() { return *get_print_queue(); }

  // A print processor of the test's own: it logs its arguments, one a
  // line, and then does what `body` says ($JOB is the job file's Linux path).
  void install_processor(const char* win_name, const std::string& body) {
    const std::string path = platform::map_path_create_dirs(std::string("C:\\PROGRAMS\\") + win_name);
    std::ofstream(path) << "#!/bin/sh\nprintf '%s\\n' \"$@\" >\"$VASLAB_ROOT/args\"\n" << body << "\n";
    ::chmod(path.c_str(), 0755);
  }

  // Runs the print screen over a list of `rows` archived studies, as the
  // operator does what `script` says, with the window and event loop live.
  void run_print_screen(int rows, const std::function<void(testsupport::ScriptedInput&)>& script) {
    platform::FakeClock clock;
    platform::set_clock(&clock);
    platform::reset_pump();
    platform::set_window_proc(window_proc);
    reset_event_state();
    reset_main_window();
    reset_tick_timers();
    {
      testsupport::ScriptedInput input(clock);
      start_window_timers();
      StudyList& list = study_list();
      list = StudyList{};
      list.count = static_cast<std::int16_t>(rows);
      for (int i = 0; i < rows; ++i) std::snprintf(list.rows[i].file_name, sizeof list.rows[i].file_name, "%d.PDF", (i + 1) % 100);
      script(input);
      input.after(5000).close_window();
      EXPECT_EQ(print_queue_screen(kPrintArchived), 0);
    }
    platform::reset_pump();
    platform::set_window_proc(nullptr);
    platform::set_clock(nullptr);
  }

  // Runs the spooler until it rests, recording the state after each step.
  std::vector<int> spool_until_idle(int limit = 200) {
    std::vector<int> states;
    for (int i = 0; i < limit && q().spooler_state != kSpoolIdle; ++i) {
      step_print_spooler();
      states.push_back(q().spooler_state);
    }
    return states;
  }
};

TEST_F(PrintQueueTest, SlotSearchWrapsAndAFullQueueRefusesMore) {
  q().current_slot = 97;
  q().slots[97].state = kSlotQueued;
  q().slots[98].state = kSlotQueued;
  q().slots[0].state = kSlotDone;
  EXPECT_EQ(find_free_print_slot(), 0);
  q().slots[0].state = kSlotPrinting;
  EXPECT_EQ(find_free_print_slot(), 1);

  for (PrintSlot& s : q().slots) s = PrintSlot{1, kSlotQueued};
  EXPECT_EQ(find_free_print_slot(), -1);
  EXPECT_EQ(queue_print_file("1.PDF"), -1);
  EXPECT_STREQ(g_message_text, "Print queue is full");

  q().current_slot = 120;  // never trusted as an index
  q().slots[5].state = kSlotDone;
  EXPECT_EQ(find_free_print_slot(), 5);
  EXPECT_EQ(print_job_file(7), "C:\\TEMP\\07.PRT");
  EXPECT_EQ(print_job_file(98), "C:\\TEMP\\98.PRT");
}

TEST_F(PrintQueueTest, WakingTurnsOnlyTheIdleStatesToTheSearch) {
  for (auto [before, after] : std::vector<std::pair<int, int>>{{14, 5}, {6, 5}, {1, 1}, {13, 5}, {4, 4}, {0, 0}}) {
    q().spooler_state = static_cast<std::int8_t>(before);
    wake_print_spooler();
    EXPECT_EQ(q().spooler_state, after) << before;
  }
}

TEST_F(PrintQueueTest, RendererJobFileIsTheColourFlagAndThePageByteForByte) {
  reset_spooler_for_tests(true);
  std::string page(5000, '\0');
  for (std::size_t i = 0; i < page.size(); ++i) page[i] = static_cast<char>(i * 31 + 7);
  root.write("C:\\ARCHIVE\\12", page);
  ASSERT_EQ(start_print_processor(7, "C:\\ARCHIVE\\12", true), 0);
  const std::string job = platform::map_path("C:\\TEMP\\07.PRT");
  const std::string made = slurp(job);
  ASSERT_EQ(made.size(), 5001u);
  EXPECT_EQ(made[0], 1);
  const std::string source = platform::map_path("C:\\ARCHIVE\\12");
  EXPECT_EQ(std::system(("cmp -s -i 1:0 '" + job + "' '" + source + "'").c_str()), 0);

  ASSERT_EQ(start_print_processor(7, "C:\\ARCHIVE\\12", false), 0);
  EXPECT_EQ(slurp(job)[0], 0);

  // A page that is not there is an error, not a print that silently
  // vanishes: the slot stays free and no job file is left.
  q().spooler_state = kSpoolIdle;
  EXPECT_EQ(queue_print_file("404.PDF"), -1);
  EXPECT_STREQ(g_message_text, "pproc error:DOS 2 .");
  EXPECT_EQ(q().slots[0].state, kSlotFree);
  EXPECT_FALSE(root.exists("C:\\TEMP\\00.PRT"));
  EXPECT_EQ(q().spooler_state, kSpoolIdle);

  root.write("C:\\DATA\\3.PDF", "page");
  EXPECT_EQ(queue_print_file("3.PDF"), 0);
  EXPECT_EQ(q().slots[0].state, kSlotQueued);
  EXPECT_EQ(q().slots[0].copies, 1);
  EXPECT_EQ(root.read("C:\\TEMP\\00.PRT"), std::string(1, '\0') + "page") << "mono";
  EXPECT_EQ(q().spooler_state, kSpoolNext);
}

TEST_F(PrintQueueTest, PrintProcessorGetsTheCommandLineAndItsFailuresAreReported) {
  const std::string job = platform::map_path_create_dirs("C:\\TEMP\\00.PRT");
  ::setenv("VASLAB_ROOT", root.path().c_str(), 1);
  ::setenv("JOB", job.c_str(), 1);
  root.write("C:\\DATA\\3.PDF", "page");
  install_processor("PPROCM.EXE", "printf 'PS' >\"$JOB\"");
  ASSERT_EQ(queue_print_file("3.PDF"), 0);
  EXPECT_EQ(slurp(root.path() + "/args"), "C:\\DATA\\3.PDF\nC:\\TEMP\\00.PRT\n");
  EXPECT_EQ(root.read("C:\\TEMP\\00.PRT"), "PS");
  EXPECT_EQ(q().slots[0].state, kSlotQueued);

  // The colour processor is the other program.
  install_processor("PPROC.EXE", "printf 'colour' >\"$JOB\"");
  ASSERT_EQ(start_print_processor(0, "C:\\DATA\\3.PDF", true), 0);
  EXPECT_EQ(root.read("C:\\TEMP\\00.PRT"), "colour");

  q() = PrintQueue{};
  install_processor("PPROCM.EXE", "exit 3");
  EXPECT_EQ(queue_print_file("3.PDF"), -1);
  EXPECT_STREQ(g_message_text, "pproc error: 3 .");
  EXPECT_EQ(q().slots[0].state, kSlotFree);

  install_processor("PPROCM.EXE", "exit 0");
  EXPECT_EQ(queue_print_file("3.PDF"), -1);
  EXPECT_STREQ(g_message_text, "pproc error:DOS 2 .") << "ended well but left no job file";
  EXPECT_EQ(q().slots[0].state, kSlotFree);

  ::unlink(platform::map_path("C:\\PROGRAMS\\PPROCM.EXE").c_str());
  EXPECT_EQ(queue_print_file("3.PDF"), -1);
  EXPECT_STREQ(g_message_text, "pproc error:DOS 2 .") << "no program";
  EXPECT_EQ(q().slots[0].state, kSlotFree);
}

TEST_F(PrintQueueTest, PlacementFollowsResolutionMarginsAndScales) {
  PageMargins m;
  PagePlacement p = place_page(600, 600, 50, 50, m);
  EXPECT_EQ(p.x, 100);
  EXPECT_EQ(p.y, 100);
  EXPECT_EQ(p.width, 4800);
  EXPECT_EQ(p.height, 6300);
  m.scale_x = 5000;
  m.scale_y = 3333;
  m.left = 10;
  p = place_page(300, 300, 20, 0, m);
  EXPECT_EQ(p.x, 0) << "a margin inside the unprintable edge";
  EXPECT_EQ(p.width, 1200);
  EXPECT_EQ(p.height, 1050);  // 3150 * 0.3333 rounded

  std::ofstream(platform::registry_file()) << "[software\\korvani\\vevidudo\\options]\npage.left=500\nprint.scalex=0x1388\n"
                                              "print.scaley=oops\n";
  const PageMargins& r = read_page_margins();
  EXPECT_EQ(r.left, 500);
  EXPECT_EQ(r.top, 250);
  EXPECT_EQ(r.scale_x, 5000);
  EXPECT_EQ(r.scale_y, 10000) << "a value that is no number keeps the default";
}

// --- Against a CUPS server of the test's own ---------------------------------

struct SpoolerTest : PrintQueueTest {
  std::unique_ptr<testsupport::PrivateCups> cups;
  void SetUp() override {
    PrintQueueTest::SetUp();
    cups = std::make_unique<testsupport::PrivateCups>(root.path() + "/cups");
    ASSERT_TRUE(cups->running());
    ASSERT_TRUE(cups->add_printer("Lab", true));
  }
  void TearDown() override {
    reset_spooler_for_tests();
    cups.reset();
    PrintQueueTest::TearDown();
  }
};

TEST_F(SpoolerTest, RawJobGoesOutOnceACopyOneStateAPass) {
  ASSERT_EQ(open_default_printer(), kPrinterOpen);
  EXPECT_FALSE(printing_through_renderer());
  EXPECT_EQ(q().spooler_state, kSpoolNotStarted);
  EXPECT_FALSE(print_spooler_busy());
  // A small job first, then a large one in the same run: each gets a
  // buffer of its own size.
  root.write("C:\\TEMP\\05.PRT", "%!small\n");
  std::string large(300000, 'x');
  for (std::size_t i = 0; i < large.size(); i += 97) large[i] = static_cast<char>(i);
  root.write("C:\\TEMP\\06.PRT", large);
  q().slots[4] = PrintSlot{0, kSlotDone};
  q().slots[5] = PrintSlot{1, kSlotQueued};
  q().slots[6] = PrintSlot{3, kSlotQueued};
  q().current_slot = 5;
  wake_print_spooler();
  EXPECT_TRUE(print_spooler_busy());
  const std::vector<int> states = spool_until_idle();
  const std::vector<int> once{2, 3, 0, 4, 5};
  std::vector<int> expected;
  for (int i = 0; i < 4; ++i) expected.insert(expected.end(), once.begin(), once.end());
  expected.push_back(kSpoolIdle);
  EXPECT_EQ(states, expected);
  EXPECT_EQ(q().slots[5].state, kSlotDone);
  EXPECT_EQ(q().slots[6].state, kSlotDone);
  EXPECT_EQ(q().slots[6].copies, 0);
  EXPECT_EQ(q().slots[4].state, kSlotDone) << "not printed";

  ASSERT_TRUE(cups->wait_for_jobs("Lab", 4));
  const auto jobs = cups->jobs("Lab");
  ASSERT_EQ(jobs.size(), 4u);
  EXPECT_EQ(slurp(jobs[0]), "%!small\n");
  for (int i = 1; i < 4; ++i) EXPECT_EQ(slurp(jobs[i]), large) << jobs[i];

  step_print_spooler();
  EXPECT_EQ(q().current_slot, 0) << "idle rests at slot 0";
}

TEST_F(SpoolerTest, MissingJobFileEndsTheJobWithoutPrinting) {
  ASSERT_EQ(open_default_printer(), kPrinterOpen);
  q().slots[2] = PrintSlot{1, kSlotQueued};
  wake_print_spooler();
  spool_until_idle();
  EXPECT_EQ(q().slots[2].state, kSlotDone);
  // Nothing reaches the printer: a later job is the first file.
  root.write("C:\\TEMP\\03.PRT", "next");
  q().slots[3] = PrintSlot{1, kSlotQueued};
  wake_print_spooler();
  spool_until_idle();
  ASSERT_TRUE(cups->wait_for_jobs("Lab", 1));
  const auto jobs = cups->jobs("Lab");
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(slurp(jobs[0]), "next");
}

// A printer that has gone away: each page that cannot go out is told, with
// the server's reason, in a box over the screen that waits for input.
// Printing waits for the answer, so a second failed page is a second box,
// not one nested in the first; the job files are left alone.
TEST_F(SpoolerTest, APageThePrinterRefusesIsToldOneBoxAtATime) {
  ASSERT_EQ(open_default_printer(), kPrinterOpen);
  cups.reset();
  root.write("C:\\TEMP\\00.PRT", "one");
  root.write("C:\\TEMP\\01.PRT", "two");
  q().slots[0] = q().slots[1] = PrintSlot{1, kSlotQueued};
  wake_print_spooler();
  std::vector<std::string> boxes;
  platform::set_debug_sink([&](const std::string& note) {
    if (note.rfind("message box [Error]: The page", 0) == 0) boxes.push_back(note);
  });
  std::vector<int> seen;  // box up, then the second slot's state
  const auto look = [&] { seen.insert(seen.end(), {current_button_table() == message_box_buttons(), q().slots[1].state}); };
  run_print_screen(1, [&](testsupport::ScriptedInput& input) {
    input.after(300).at_time(look).tap(kMbOk).after(300).at_time(look).tap(kMbOk);
    input.after(300).at_time(look).tap(kPrintExit);
  });
  platform::set_debug_sink(nullptr);
  EXPECT_EQ(seen, (std::vector<int>{1, kSlotQueued, 1, kSlotDone, 0, kSlotDone}));
  const std::string told = "message box [Error]: The page was not printed.\rStarting the print job on Lab failed: ";
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_TRUE(boxes[0].rfind(told, 0) == 0 && boxes[0].size() > told.size() + 2) << "with the server's reason: " << boxes[0];
  EXPECT_EQ(q().slots[0].state, kSlotDone);
  EXPECT_EQ(root.read("C:\\TEMP\\00.PRT") + root.read("C:\\TEMP\\01.PRT"), "onetwo");
}

// Three copies of a page the printer refuses: each copy is tried, and the
// operator is told once.
TEST_F(SpoolerTest, CopiesOfARefusedPageAreOneBox) {
  ASSERT_EQ(open_default_printer(), kPrinterOpen);
  cups.reset();
  root.write("C:\\TEMP\\00.PRT", "one");
  q().slots[0] = PrintSlot{3, kSlotQueued};
  wake_print_spooler();
  int boxes = 0;
  platform::set_debug_sink([&](const std::string& note) {
    if (note.rfind("message box [Error]: The page", 0) == 0) ++boxes;
  });
  bool box_up_at_the_end = true;
  run_print_screen(1, [&](testsupport::ScriptedInput& input) {
    input.after(300).tap(kMbOk).after(600).at_time([&] {
      box_up_at_the_end = current_button_table() == message_box_buttons();
    });
    input.tap(kPrintExit);
  });
  platform::set_debug_sink(nullptr);
  EXPECT_EQ(boxes, 1);
  EXPECT_FALSE(box_up_at_the_end);
  EXPECT_EQ(q().slots[0].state, kSlotDone);
  EXPECT_EQ(q().slots[0].copies, 0);
}

TEST_F(SpoolerTest, RawPathSendsThePrintProcessorsPostScriptUnchanged) {
  ::setenv("VASLAB_ROOT", root.path().c_str(), 1);
  const std::string pproc = std::string(VASLAB_BUILD_DIR) + "/bin/pproc";
  ASSERT_EQ(::symlink(pproc.c_str(), platform::map_path_create_dirs("C:\\PROGRAMS\\PPROCM.EXE").c_str()), 0);
  const std::string page = testsupport::run_generator("vaslab/reports/tests/make_page.py", root.path(), "page.bin");
  ASSERT_FALSE(page.empty());
  root.write("C:\\DATA\\5.PDF", page);
  ASSERT_EQ(open_default_printer(), kPrinterOpen);
  ASSERT_EQ(queue_print_file("5.PDF"), 0) << g_message_text;
  spool_until_idle();
  ASSERT_TRUE(cups->wait_for_jobs("Lab", 1));
  const std::string sent = slurp(cups->jobs("Lab")[0]);
  EXPECT_EQ(sent, root.read("C:\\TEMP\\00.PRT"));
  // What the printer received is known for PostScript by its first bytes.
  std::string kind;
  EXPECT_EQ(testsupport::run_command("file -b '" + cups->jobs("Lab")[0] + "'", &kind), 0);
  EXPECT_EQ(kind.rfind("PostScript", 0), 0u) << kind;
  EXPECT_NE(sent.find("showpage"), std::string::npos);
}

struct Ppm {
  int width = 0, height = 0;
  std::string pixels;
  std::uint32_t at(int x, int y) const {
    const std::size_t i = (static_cast<std::size_t>(y) * width + x) * 3;
    return static_cast<std::uint8_t>(pixels[i]) << 16 | static_cast<std::uint8_t>(pixels[i + 1]) << 8 |
           static_cast<std::uint8_t>(pixels[i + 2]);
  }
};

// Reads a PNG through netpbm, an oracle apart from the writer.
Ppm read_png_via_netpbm(const std::string& png, const std::string& scratch) {
  Ppm p;
  if (std::system(("pngtopnm '" + png + "' >'" + scratch + "' 2>/dev/null").c_str()) != 0) return p;
  const std::string data = slurp(scratch);
  int maxval = 0, used = 0;
  if (std::sscanf(data.c_str(), "P6 %d %d %d%n", &p.width, &p.height, &maxval, &used) != 3 || maxval != 255) return {};
  p.pixels = data.substr(static_cast<std::size_t>(used) + 1);
  if (p.pixels.size() != static_cast<std::size_t>(p.width) * p.height * 3) return {};
  return p;
}

// The pixels per metre the PNG states, from its pHYs chunk.
long png_pixels_per_metre(const std::string& png) {
  const std::size_t at = png.find("pHYs");
  if (at == std::string::npos || at + 12 > png.size()) return -1;
  const auto b = [&](std::size_t i) { return static_cast<unsigned long>(static_cast<unsigned char>(png[at + 4 + i])); };
  if (b(8) != 1) return -1;  // unit: metre
  return static_cast<long>(b(0) << 24 | b(1) << 16 | b(2) << 8 | b(3));
}

TEST_F(SpoolerTest, RendererPathSendsThePageAsAPictureAtTrueSize) {
  std::strcpy(hardware_settings().print_control, "+");
  ASSERT_EQ(open_default_printer(), kPrinterOpen);
  EXPECT_TRUE(printing_through_renderer());
  char name[8] = {};
  int length = sizeof name;
  ASSERT_EQ(get_default_printer_name(name, &length), 1);
  EXPECT_STREQ(name, "Lab");
  length = 3;
  EXPECT_EQ(get_default_printer_name(name, &length), 0);
  EXPECT_EQ(length, 4) << "the room it needs";

  std::ifstream logo(std::string(VASLAB_SOURCE_DIR) + "/vaslab/resources/graphic/hdrlogo.gph", std::ios::binary);
  root.write("C:\\GRAPHIC\\HDRLOGO.GPH", std::string((std::istreambuf_iterator<char>(logo)), {}));
  const std::string page = testsupport::run_generator("vaslab/reports/tests/make_page.py", root.path(), "page.bin");
  ASSERT_FALSE(page.empty());
  root.write("C:\\ARCHIVE\\9", page);
  std::vector<std::uint8_t> raster(kPageRasterBytes);
  ASSERT_EQ(render_page_description(raster.data(), reinterpret_cast<const std::uint8_t*>(page.data()), page.size(), 1),
            kPageOk);

  // 100 %, then the width halved by the registry (read once a run).
  for (int run = 0; run < 2; ++run) {
    if (run == 1) {
      reset_spooler_for_tests();
      std::ofstream(platform::registry_file()) << "[Software\\Korvani\\VEVIDudo\\options]\nprint.scalex=5000\n";
      ASSERT_EQ(open_default_printer(), kPrinterOpen);
    }
    ASSERT_EQ(start_print_processor(0, "C:\\ARCHIVE\\9", true), 0);
    q().slots[0] = PrintSlot{1, kSlotQueued};
    wake_print_spooler();
    spool_until_idle();
    ASSERT_TRUE(cups->wait_for_jobs("Lab", static_cast<std::size_t>(run + 1)));
    const std::string png_file = cups->jobs("Lab")[static_cast<std::size_t>(run)];
    EXPECT_EQ(png_file.substr(png_file.size() - 4), ".png");
    EXPECT_EQ(png_pixels_per_metre(slurp(png_file)), 11811) << "300 pixels an inch";
    const Ppm shot = read_png_via_netpbm(png_file, root.path() + "/page.ppm");
    ASSERT_EQ(shot.width, 2550) << "Letter at 300 pixels an inch, a raw queue stating no media";
    ASSERT_EQ(shot.height, 3300);
    const int width = run == 0 ? 2400 : 1200;
    int wrong = 0;
    for (int y = 0; y < shot.height && wrong < 5; ++y) {
      for (int x = 0; x < shot.width && wrong < 5; ++x) {
        std::uint32_t want = 0xFFFFFF;
        const int rx = x - 75, ry = y - 75;
        if (rx >= 0 && ry >= 0 && rx < width && ry < 3150) {
          const std::uint8_t* row = &raster[static_cast<std::size_t>(3149 - ry) * 2400];
          if (run == 0) {
            want = page_palette_rgb(row[rx]);
          } else {
            const std::uint32_t a = page_palette_rgb(row[2 * rx]), b = page_palette_rgb(row[2 * rx + 1]);
            want = 0;
            for (int shift : {16, 8, 0})
              want |= ((((a >> shift) & 0xFF) + ((b >> shift) & 0xFF) + 1) / 2) << shift;
          }
        }
        if (shot.at(x, y) != want) {
          ADD_FAILURE() << "run " << run << " pixel " << x << "," << y << ": " << std::hex << shot.at(x, y)
                        << " not " << want;
          ++wrong;
        }
      }
    }
  }
}

TEST_F(PrintQueueTest, NoDefaultPrinterAsksThenParksWithThePrintButtonsHidden) {
  // No server at all: the box asks; Cancel (the answer of a box without a
  // window) goes on without printing.
  EXPECT_EQ(open_default_printer(), 0);
  EXPECT_EQ(q().spooler_state, kSpoolNoPrinter);
  EXPECT_EQ(q().printer_status, 0);
  // A page queued anyway (key "s") waits: the spooler stays parked.
  q().slots[3] = PrintSlot{2, kSlotQueued};
  wake_print_spooler();
  step_print_spooler();
  EXPECT_EQ(q().slots[3].state, kSlotQueued);
  EXPECT_EQ(q().spooler_state, kSpoolNoPrinter);
  EXPECT_FALSE(print_spooler_busy());

  // The print screen lists the studies but offers no printing.
  std::vector<int> hidden, shown;
  run_print_screen(2, [&](testsupport::ScriptedInput& input) {
    input.after(200).at_time([&] {
      for (const ButtonRecord* b = current_button_table(); !is_table_end(*b); ++b)
        (b->state == kButtonHidden ? hidden : shown).push_back(b->button_code);
    });
    input.after(100).tap(kPrintCopies).after(200).tap(kPrintExit);
  });
  EXPECT_EQ(hidden, (std::vector<int>{kPrintPage, kPrintPatient, kPrintAll, kPrintView, kPrintUp, kPrintDown}));
  EXPECT_TRUE(std::find(shown.begin(), shown.end(), kPrintExit) != shown.end());
}

}  // namespace
}  // namespace vaslab
