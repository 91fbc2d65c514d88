// One study from the study menu to a stored page, against the measuring-
// module simulator on a pseudo-terminal: the operator chooses the study,
// enters the patient, inflates the cuff, captures the first single-pressure
// step, accepts it and leaves at the second step.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/le_bytes.h"
#include "study_fixture.h"
#include "testsupport/png.h"
#include "testsupport/private_cups.h"
#include "vaslab/core/links/module_link.h"
#include "vaslab/core/screens/main_menu.h"
#include "vaslab/core/screens/study_menu.h"
#include "vaslab/core/settings/module_table.h"
#include "vaslab/records/line_editor.h"
#include "vaslab/records/module_dispatch.h"
#include "vaslab/records/print_screen.h"
#include "vaslab/records/step_runner.h"
#include "vaslab/records/study_menu_module.h"
#include "vaslab/records/temp_studies.h"
#include "vaslab/reports/page_description.h"
#include "vaslab/reports/page_renderer.h"
#include "vaslab/reports/print_queue.h"
#include "vaslab/reports/report_view.h"
#include "vaslab/reports/spooler.h"
#include "vaslab/studies/single_channel.h"
#include "vaslab/studies/single_pressure.h"

namespace vaslab {
namespace {

using platform::vk::kReturn;
constexpr int kMenuRow1 = 215;

int module_ready() { return 0; }

struct StudyEndToEnd : StudyFixture {

  void SetUp() override {
    StudyFixture::SetUp();
    ASSERT_NO_FATAL_FAILURE(link_simulator());
    auto& hw = hardware_settings();
    hw.right_bp_offset = 11;
    hw.right_bp_span = 12;
    hw.left_bp_offset = 13;
    hw.left_bp_span = 14;
    set_module_check(module_ready);
    study_list() = StudyList{};
    study_list().mode = kListArchive;
  }
  void TearDown() override {
    set_module_check(nullptr);
    StudyFixture::TearDown();
  }
  // What the module received, as one stream of bytes.
  std::vector<int> received() {
    std::vector<int> bytes;
    for (const auto& e : simulator->log()) {
      bytes.push_back(e.command);
      if (e.argument >= 0) bytes.push_back(e.argument);
    }
    return bytes;
  }
  static bool contains(const std::vector<int>& all, const std::vector<int>& part) {
    return std::search(all.begin(), all.end(), part.begin(), part.end()) != all.end();
  }
  void write_study() {
    root.write(kStudyMenuFile, [] {
      const auto b = encode_study_menu_file(
          {make_submenu_entry("Studies", 1, 1), make_study_entry("Segmental Pressures", 77)});
      return std::string(b.begin(), b.end());
    }());
    add_pressure_step("Rt Brachial");
    add_pressure_step("Rt Ankle");
    write_template("77");
  }
  // The first stored study's first page, rendered as the printer would.
  bool stored_page(std::vector<std::uint8_t>& raster) {
    const std::string file = root.read("C:\\DATA\\1.PDF");
    raster.assign(kPageRasterBytes, 0);
    return render_page_description(raster.data(), reinterpret_cast<const std::uint8_t*>(file.data()), file.size(),
                                   1) == kPageOk;
  }
  int run_menu() {
    char a0[] = "mastermn", a1[] = "M";
    char* argv[] = {a0, a1};
    return mastermn_main(2, argv);
  }
};

TEST_F(StudyEndToEnd, ASinglePressureStepFromTheMenuToItsPage) {
  write_study();
  // The simulator streams and moves the cuff as it sends those frames.
  const auto stream = frames(60);
  input->after(50).tap(kMenuRow1);
  input->after(300).type("SMITH JOHN").key(kReturn).type("A-17").key(kReturn);
  input->after(300).tap(kPressInflate);
  input->after(100).at_time(stream).after(100).at_time(stream);
  input->after(100).tap(kCodeCapture).after(300).tap(0);  // capture, accept
  input->after(300).tap(kCodeExit);                          // leave at step 2
  input->after(300).tap(kReviewExit);
  input->after(10000).close_window();
  EXPECT_EQ(run_menu(), 0);

  ASSERT_TRUE(page_exists(1, 1)) << "the first step's page";
  EXPECT_FALSE(page_exists(2, 1));
  auto p = std::make_unique<StudyPage>();
  ASSERT_EQ(read_study_page(1, 1, "00000077.sty", *p), 0);
  EXPECT_GT(p->count, 5);
  EXPECT_EQ(p->report_start, p->newest - 296);
  EXPECT_GT(p->channel_1[p->newest], 0);
  EXPECT_GT(p->channel_2[p->newest], 0) << "the cuff was inflating";
  EXPECT_EQ(p->gain, 5);
  EXPECT_EQ(p->baseline, 128);
  EXPECT_EQ(p->filter_code, 2);
  EXPECT_EQ(p->probe, 15);
  EXPECT_GT(p->save_time, 0);
  EXPECT_TRUE(root.exists("C:\\DATA\\1.PDF")) << "a captured study keeps its page description";

  // The simulator reads the link in a thread of its own, which a loaded
  // machine may hold back: wait for it to take both steps' set-ups.
  std::vector<int> got;
  testsupport::wait_until([&] {
    got = received();
    return std::count(got.begin(), got.end(), 81) >= 2;
  });
  EXPECT_TRUE(contains(got, {0, 42, 194, 11, 195, 12, 54, 51, 48, 17, 196, 13, 197, 14, 29, 26, 23, 204, 250, 205,
                             250, 81}));
  EXPECT_TRUE(contains(got, {46, 48, 59, 208, 204, 63}));  // the screen starts: probe set-up, cutoff
  EXPECT_TRUE(contains(got, {183, 180, 90}));                // Inflate to the target
  EXPECT_EQ(std::count(got.begin(), got.end(), 81), 2);      // both steps were set up
}

// View from a post screen brings the step back with its page on disk: its
// post screen comes straight up after the module was set up for it, with no
// acquisition screen to stop the stream.  A module still streaming never
// answers the review's version query: the study ended and the main menu
// waited for good.
TEST_F(StudyEndToEnd, AfterViewFromThePostScreenTheModuleIsQuietForTheReview) {
  write_study();
  input->after(50).tap(kMenuRow1);
  input->after(300).type("LANE LOIS").key(kReturn).type("B-2").key(kReturn);
  input->after(200).at_time(frames(20));
  input->after(100).tap(kCodeCapture).after(300).tap(kCodeView);
  input->after(2000).key(platform::vk::kEscape);
  input->after(1000).tap(kCodeExit).after(300).tap(kReviewExit);
  input->after(10000).close_window();
  EXPECT_EQ(run_menu(), 0);
  EXPECT_TRUE(page_exists(1, 1));
  ASSERT_TRUE(testsupport::wait_until([&] {
    const auto got = received();
    return std::count(got.begin(), got.end(), 81) == 2;
  })) << "the step was set up again after View";
  EXPECT_TRUE(testsupport::wait_until([&] { return !simulator->streaming(); }, std::chrono::seconds(5)));
}

// The post screen of a step whose live screen shows the stopwatch comes back
// from View as it was before: the stopwatch and its "Timer" caption belong
// to the live screen and do not appear on the review of the capture.
TEST_F(StudyEndToEnd, ThePostScreenComesBackFromViewAsItWas) {
  root.write(kStudyMenuFile, [] {
    const auto b = encode_study_menu_file(
        {make_submenu_entry("Studies", 1, 1), make_study_entry("Segmental Pressures", 77)});
    return std::string(b.begin(), b.end());
  }());
  add_pressure_step("Rt Brachial", [](PressureStep& s) { s.show_stopwatch = 1; });
  write_template("77");
  std::vector<std::uint32_t> before, after;
  input->after(50).tap(kMenuRow1);
  input->after(300).type("LANE LOIS").key(kReturn).type("B-2").key(kReturn);
  input->after(200).at_time(frames(20));
  input->after(100).tap(kCodeCapture).after(500).at_time([&] { before = screen_bitmap()->pixels; });
  input->tap(kCodeView).after(2000).key(platform::vk::kEscape);
  input->after(1000).at_time([&] { after = screen_bitmap()->pixels; });
  input->tap(kCodeExit).after(300).tap(kReviewExit);
  input->after(10000).close_window();
  EXPECT_EQ(run_menu(), 0);
  ASSERT_FALSE(before.empty());
  ASSERT_EQ(after.size(), before.size());
  int changed = 0;
  for (std::size_t i = 0; i < before.size(); ++i) changed += before[i] != after[i];
  EXPECT_EQ(changed, 0) << "pixels of the post screen that changed over View";
}

// The longest name the header keeps (29 characters): on the patient screen
// the line and its cursor stay inside the screen's margin, and on the report
// the name stands clear of the study title beside it, whole.
TEST_F(StudyEndToEnd, ALongNameStaysOnTheScreenAndClearOfTheReportTitle) {
  const std::string name = "WALKER, ANNABELLE-MARIE O'CON";
  ASSERT_EQ(name.size(), 29u);
  root.write(kStudyMenuFile, [] {
    const auto b = encode_study_menu_file(
        {make_submenu_entry("Studies", 1, 1), make_study_entry("Segmental Pressures", 77)});
    return std::string(b.begin(), b.end());
  }());
  add_pressure_step("Rt Brachial");
  // The patient fields: the study caption that heads the report's right column.
  std::uint8_t fields[kTemplateRecordSize] = {255, kStudyStepClass};
  std::memcpy(fields + 2, "Segmental Pressures", 19);
  fields[294] = 0x20;
  add_record(fields);
  write_template("77");
  // The rightmost column of the edit line's row holding ink (text or cursor).
  int line_right = -1;
  input->after(50).tap(kMenuRow1);
  input->after(300).type(name).after(200).at_time([&] {
    for (int y = 52; y < 84; ++y)
      for (int x = 0; x < 640; ++x)
        if (px(x, y) == vga_color_to_rgb(14) || px(x, y) == vga_color_to_rgb(kColorWhite)) line_right = std::max(line_right, x);
  });
  input->key(kReturn).type("A-17").key(kReturn);
  input->after(200).at_time(frames(20));
  input->after(100).tap(kCodeCapture).after(300).tap(0);  // capture, accept: the study ends
  int name_right = -1, title_left = -1;
  input->after(300).tap(kReviewView).after(2000);
  input->at_time([&] {
    std::vector<std::uint8_t> raster;
    if (!stored_page(raster)) return;
    // Page rows are stored bottom-up; ink is any colour but the white (7).
    auto ink = [&](int x, int y) { return raster[static_cast<std::size_t>(kPageHeight - 1 - y) * kPageWidth + x] != 7; };
    for (int y = 0; y < 50; ++y) {
      for (int x = 330; x < 1230; ++x)
        if (ink(x, y)) name_right = std::max(name_right, x);
      for (int x = 1230; x < 2100; ++x)
        if (ink(x, y) && (title_left < 0 || x < title_left)) title_left = x;
    }
  });
  input->key(platform::vk::kEscape).after(300).tap(kReviewExit);
  input->after(10000).close_window();
  EXPECT_EQ(run_menu(), 0);
  EXPECT_GE(line_right, 0) << "the name was drawn";
  EXPECT_LE(line_right, 630) << "the patient line or its cursor runs to the screen's edge";
  EXPECT_EQ(root.read("C:\\DATA\\1.PDF").substr(32, 29), name);
  ASSERT_GE(title_left, 1230) << "the study title on the report";
  EXPECT_GT(name_right, 330 + 28 * 18) << "the name on the report, to its last letter";
  EXPECT_LE(name_right, title_left - 60) << "less than two characters of white between name and title";
}

TEST_F(StudyEndToEnd, ANewStudyForTheSamePatientAfterACapture) {
  write_study();
  input->after(50).tap(kMenuRow1);
  input->after(300).type("ROE RICHARD").key(kReturn).type("C-3").key(kReturn);
  input->after(200).at_time(frames(20));
  input->after(100).tap(kCodeCapture).after(300).tap(kCodeExit);
  input->after(300).tap(kReviewNewStudy).after(300).tap(kMenuRow1);
  input->after(300).key(kReturn).key(kReturn);
  input->after(200).at_time(frames(20));
  input->after(100).tap(kCodeCapture).after(300).tap(kCodeExit).after(300).tap(kReviewExit);
  input->after(10000).close_window();
  EXPECT_EQ(run_menu(), 0);
  EXPECT_TRUE(page_exists(1, 1));
  ASSERT_TRUE(root.exists("C:\\DATA\\2.PDF"));
  EXPECT_EQ(root.read("C:\\DATA\\2.PDF").substr(32, 11), "ROE RICHARD");
  EXPECT_TRUE(page_exists(1, 2));
}

TEST_F(StudyEndToEnd, AReopenedStudyWithFullWidthHeaderFieldsKeepsItsRowInBounds) {
  write_study();
  std::string header(4869, '\0');
  header.replace(32, 30, std::string(30, 'N'));  // name without its NUL
  header.replace(62, 30, std::string(30, 'I'));
  header.replace(92, 22, std::string(22, 'D'));
  root.write("C:\\DATA\\4.PDF", header);
  std::string idf(STUDY_PAGE_BYTES, '\0');
  idf.replace(0, 12, "00000077.sty");
  root.write("C:\\DATA\\0.4", idf);
  study_list() = StudyList{};
  study_list().count = 1;
  study_list().selected = 0;
  std::snprintf(study_list().rows[0].file_name, 13, "4.PDF");
  input->after(100).tap(kReviewExit);
  input->after(5000).close_window();
  EXPECT_EQ(review_screen(0, 4), 8);
  const std::string row = study_list().rows[0].text;
  EXPECT_EQ(row.size(), 80u);
  EXPECT_EQ(row.substr(0, 30), std::string(29, 'N') + "\263");
  EXPECT_EQ(row.substr(60), std::string(20, 'D'));
  EXPECT_EQ(review_screen(0, 9), 4);  // no such study
}

// A study counts as captured by the pages on disk, whatever its steps'
// status columns show: a page whose note or pressure text is empty reads
// as a blank status, and leaving its review must not drop the study.
TEST_F(StudyEndToEnd, ReopenedCapturedStudiesOfEveryStepTypeKeepTheirPagesOnExit) {
  const int types[] = {1, 2, 5, 6, 8, 9, 10, 11, 12, 14, 16};
  for (int type : types) {
    std::uint8_t rec[kTemplateRecordSize] = {};
    rec[0] = static_cast<std::uint8_t>(type);
    rec[1] = kStudyStepClass;
    std::snprintf(reinterpret_cast<char*>(rec + 2), 29, "Step of type %d", type);
    add_record(rec);
  }
  write_template("77");
  std::string idf(STUDY_PAGE_BYTES, '\0');
  idf.replace(0, 12, "00000077.sty");
  // One study per step type, exam id = step number, with only that page;
  // exam 12 has a page cut short, which is no capture.
  std::map<std::string, std::string> files;
  for (int exam = 1; exam <= 12; ++exam) {
    std::string header(kPageHeaderBytes, '\0');
    header.replace(32, 7, "PATIENT");
    header.replace(92, 19, "01/0" + std::to_string(exam % 9 + 1) + "/2026 10:00 AM");
    files["C:\\DATA\\" + std::to_string(exam) + ".PDF"] = header;
    files["C:\\DATA\\0." + std::to_string(exam)] = idf;
    std::string page(STUDY_PAGE_BYTES, '\0');
    for (std::size_t i = 0; i < page.size(); ++i) page[i] = static_cast<char>(i * 7 + exam);
    page[13] = 0;                                            // not a deleted side
    platform::put_u16le(reinterpret_cast<std::uint8_t*>(&page[16]), 0xFFFF);  // no start
    platform::put_u16le(reinterpret_cast<std::uint8_t*>(&page[18]), 0xFFFF);  // nor a reading
    std::fill(page.begin() + 11874, page.begin() + 11874 + 5 + 130, '\0');  // nor any text
    if (exam == 12) page.resize(STUDY_PAGE_BYTES - 1);
    files[page_file_name(exam == 12 ? 1 : exam, exam)] = page;
  }
  for (const auto& [path, bytes] : files) root.write(path, bytes);

  for (int exam = 1; exam <= 12; ++exam) {
    SCOPED_TRACE(exam);
    input->after(100).tap(kReviewExit);
    EXPECT_EQ(review_screen(0, exam), 8);
  }
  study_list() = StudyList{};
  study_list().mode = kListTemporary;
  scan_temp_studies();
  EXPECT_EQ(study_list().count, 11);
  for (const auto& [path, bytes] : files) {
    SCOPED_TRACE(path);
    const bool of_exam_12 = path.find(".12") != std::string::npos || path.find("\\12.") != std::string::npos;
    if (of_exam_12) {
      EXPECT_FALSE(root.exists(path)) << "nothing captured: dropped";
    } else {
      ASSERT_TRUE(root.exists(path));
      EXPECT_TRUE(root.read(path) == bytes);
    }
  }
}

TEST_F(StudyEndToEnd, LeavingAStudyWithNothingCapturedDropsIt) {
  write_study();
  input->after(50).tap(kMenuRow1);
  input->after(300).type("DOE JANE").key(kReturn).type("B-2").key(kReturn);
  input->after(300).tap(kCodeExit).after(300).tap(kReviewExit);
  input->after(10000).close_window();
  EXPECT_EQ(run_menu(), 0);
  EXPECT_FALSE(root.exists("C:\\DATA\\1.PDF"));
  EXPECT_FALSE(page_exists(1, 1));
  char a0[] = "mastermn";
  char* argv[] = {a0};
  EXPECT_EQ(mastermn_main(1, argv), 4);
}

TEST_F(StudyEndToEnd, TheReviewScreensViewShowsThePageThePatientScreenWrote) {
  write_study();
  // A stand-in report generator: it only marks the patient screen's page as a
  // page description, as the generator's first step does.
  set_module("C:\\PROGRAMS\\IPROC", [](int, char* argv[]) {
    std::fstream f(platform::map_path(std::string("C:\\DATA\\") + argv[1] + ".PDF"),
                   std::ios::in | std::ios::out | std::ios::binary);
    f.write("\xFE\x01", 2);
    return f ? 0 : 11;
  });
  bool shown = false, back = false;
  input->after(50).tap(kMenuRow1);
  input->after(300).type("SMITH JOHN").key(kReturn).type("A-17").key(kReturn);
  input->after(200).at_time(frames(20));
  input->after(100).tap(kCodeCapture).after(300).tap(kCodeExit);
  input->after(300).tap(kReviewView).after(2000);
  input->at_time([&] {
    std::vector<std::uint8_t> raster;
    if (!stored_page(raster)) return;
    const Bitmap full = shrink_page_raster(raster.data(), 640);
    shown = count_not(0, 0, 640, 50, 0xFFFFFF) > 100;  // the header lines
    for (int y = 0; y < 406; ++y)
      for (int x = 0; x < 640; ++x) shown &= px(x, y) == full.at(x, y);
  });
  input->key(platform::vk::kEscape).after(300);
  input->at_time([&] { back = current_button_table() && current_button_table()[0].button_code == kReviewProceed; });
  input->tap(kReviewExit);
  input->after(10000).close_window();
  EXPECT_EQ(run_menu(), 0);
  set_module("C:\\PROGRAMS\\IPROC", nullptr);
  EXPECT_TRUE(shown);
  EXPECT_TRUE(back) << "Exit returns to the review screen";
}


// --- A hurried operator -----------------------------------------------------
// Each walk taps a button that changes the screen and taps the same place
// again 80 ms later, before the next screen has settled; the second tap must
// do nothing a single tap would not: skip a screen, store, or type.

// The screen waits on a table with this button shown.
bool on(int code) {
  const ButtonRecord* t = current_button_table();
  for (int i = 0; t && !is_table_end(t[i]); ++i)
    if (t[i].button_code == code && t[i].state != kButtonHidden) return true;
  return false;
}

struct HurriedStudyTaps;
struct HurriedStudy {
  const char* name;
  void (*walk)(HurriedStudyTaps&);
  void (*check)(HurriedStudyTaps&);
};

struct HurriedStudyTaps : StudyEndToEnd, testing::WithParamInterface<HurriedStudy> {
  bool seen = false;
  std::string saw;  // the screen then_see() looked at
  void SetUp() override {
    StudyEndToEnd::SetUp();
    write_study();
    add_pressure_step("Lt Ankle");
    write_template("77");
  }
  testsupport::ScriptedInput& in() { return *input; }
  void twice(int code) { in().tap(code).after(30).tap_again(); }
  void to_patient() { in().after(50).tap(kMenuRow1).after(300); }
  void patient() { in().type("SMITH JOHN").key(kReturn).type("A-17").key(kReturn).after(300); }
  void live() { in().after(200).at_time(frames(20)).after(100); }
  void captured() {
    live();
    in().tap(kCodeCapture).after(300).tap(0).after(300);  // capture, proceed to step 2
  }
  // 600 ms after the second tap, what the screen is.
  void then_see(bool (*where)()) {
    in().after(600).at_time([this, where] {
      seen = where();
      saw = "buttons";
      const ButtonRecord* t = current_button_table();
      for (int i = 0; t && !is_table_end(t[i]); ++i)
        if (t[i].state != kButtonHidden) saw += " " + std::to_string(t[i].button_code);
    });
  }
  void leave() { in().after(300).tap(kCodeExit).after(300).tap(kReviewExit).after(10000).close_window(); }
  std::string header(std::size_t at, std::size_t size) {
    const std::string h = root.read("C:\\DATA\\1.PDF");
    if (h.size() < at + size) return "(no study)";
    const std::string field = h.substr(at, size);
    return field.substr(0, field.find('\0'));
  }
  std::string name() { return header(32, 30); }
  std::string id() { return header(62, 30); }
};

void expect_smith_john(HurriedStudyTaps& t) {
  EXPECT_EQ(t.name(), "SMITH JOHN");
  EXPECT_EQ(t.id(), "A-17");
}

void expect_step_1_stored_alone(HurriedStudyTaps& t) {
  EXPECT_TRUE(t.seen) << "the screen a single tap leads to; seen: " << t.saw;
  EXPECT_TRUE(t.page_exists(1, 1));
  EXPECT_FALSE(t.page_exists(2, 1)) << "a measurement never taken was stored";
}

void PrintTo(const HurriedStudy& h, std::ostream* os) { *os << h.name; }

const HurriedStudy kHurriedStudy[] = {
    {"AcceptOnTheNameKeepsTheId",
     [](HurriedStudyTaps& t) {
       t.to_patient();
       t.in().type("SMITH JOHN");
       t.twice(kEditAccept);
       t.in().after(300).type("A-17").key(kReturn).after(300);
       t.captured();
       t.leave();
     },
     expect_smith_john},
    {"EnterTwiceOnTheNameKeepsTheId",
     [](HurriedStudyTaps& t) {
       t.to_patient();
       t.in().type("SMITH JOHN").key(kReturn).after(80).hurried().key(kReturn);
       t.in().after(300).type("A-17").key(kReturn).after(300);
       t.captured();
       t.leave();
     },
     expect_smith_john},
    {"AcceptOnTheIdKeepsTheFirstStep",
     [](HurriedStudyTaps& t) {
       t.to_patient();
       t.in().type("SMITH JOHN").key(kReturn).type("A-17");
       t.twice(kEditAccept);
       t.then_see([] { return on(kCodeCapture) && !on(kCodeDoOver); });
       t.captured();
       t.leave();
     },
     expect_step_1_stored_alone},
    {"CaptureKeepsThePostScreen",
     [](HurriedStudyTaps& t) {
       t.to_patient();
       t.patient();
       t.live();
       t.twice(kCodeCapture);
       t.then_see([] { return on(kCodeDoOver); });
       t.in().tap(0).after(300);
       t.leave();
     },
     expect_step_1_stored_alone},
    {"ProceedStoresNoBlankNextStep",
     [](HurriedStudyTaps& t) {
       t.to_patient();
       t.patient();
       t.live();
       t.in().tap(kCodeCapture).after(300);
       t.twice(0);
       t.then_see([] { return on(kCodeCapture) && !on(kCodeDoOver); });
       t.leave();
     },
     expect_step_1_stored_alone},
    {"NextMovesOneStep",
     [](HurriedStudyTaps& t) {
       t.to_patient();
       t.patient();
       t.twice(kCodeNext);
       t.in().after(300);
       t.captured();
       t.leave();
     },
     [](HurriedStudyTaps& t) {
       EXPECT_TRUE(t.page_exists(2, 1)) << "the second step";
       EXPECT_FALSE(t.page_exists(3, 1)) << "the step after it";
     }},
    {"BackMovesOneStep",
     [](HurriedStudyTaps& t) {
       t.to_patient();
       t.patient();
       t.in().tap(kCodeNext).after(300).tap(kCodeNext).after(300);
       t.twice(kCodeBack);
       t.in().after(300);
       t.captured();
       t.leave();
     },
     [](HurriedStudyTaps& t) {
       EXPECT_TRUE(t.page_exists(2, 1)) << "the second step";
       EXPECT_FALSE(t.page_exists(1, 1)) << "the step before it";
     }},
};

TEST_P(HurriedStudyTaps, ASecondTapDoesNothingASingleTapWouldNot) {
  GetParam().walk(*this);
  run_menu();
  GetParam().check(*this);
}

// Inflate is a cuff command: a triple tap sends it once.
TEST_F(StudyEndToEnd, ATripleTapOnInflateSendsTheCommandOnce) {
  write_study();
  input->after(50).tap(kMenuRow1);
  input->after(300).type("SMITH JOHN").key(kReturn).type("A-17").key(kReturn);
  input->after(300).tap(kPressInflate).after(30).tap_again().after(30).tap_again();
  input->after(500).tap(kCodeExit).after(300).tap(kReviewExit);
  input->after(10000).close_window();
  run_menu();
  // Everything up to the stop that leaving sends after the taps.
  const std::vector<int> inflate{183, 180, 90};
  std::vector<int> got;
  testsupport::wait_until([&] {
    got = received();
    const auto first = std::search(got.begin(), got.end(), inflate.begin(), inflate.end());
    return first != got.end() && std::find(first, got.end(), 0) != got.end();
  });
  int inflates = 0;
  for (std::size_t i = 0; i + 2 < got.size(); ++i) inflates += got[i] == 183 && got[i + 1] == 180 && got[i + 2] == 90;
  EXPECT_EQ(inflates, 1);
}

// From the start screen through the main menu to the study menu: the main
// menu's Studies lies over the study menu's third row.
struct HurriedMenuTaps : HurriedStudyTaps {
  void SetUp() override {
    HurriedStudyTaps::SetUp();
    root.write(kStudyMenuFile, [] {
      const auto b = encode_study_menu_file({make_submenu_entry("Studies", 1, 3), make_study_entry("First", 77),
                                             make_study_entry("Second", 77), make_study_entry("Third", 77)});
      return std::string(b.begin(), b.end());
    }());
    const auto image = sim::make_firmware_file(sim::ModuleOptions{}.version);
    root.write(kFirmwareFile, std::string(image.begin(), image.end()));
    platform::make_dirs(platform::drive_folder('D'));
    hardware_settings().start_menu = 3;
    module_table().study_menu = mastermn_main;
  }
  void TearDown() override {
    module_table().study_menu = nullptr;
    HurriedStudyTaps::TearDown();
  }
  void to_main_menu() {
    in().after(50).tap(kStartStudies);
    in().hold_until([] { return module_connection_state() == kModuleReady; }).after(300);
  }
};

TEST_F(HurriedMenuTaps, StudiesOpensTheStudyMenuAndNoStudy) {
  to_main_menu();
  twice(kMenuStudies);
  then_see([] { return on(kStudyMenuExit) && !on(kEditAccept); });
  in().after(300).key(platform::vk::kEscape).after(300).key(platform::vk::kEscape).after(10000).close_window();
  run_main_menu();
  EXPECT_TRUE(seen) << "the study menu, not a study's Patient Data; seen: " << saw;
}

INSTANTIATE_TEST_SUITE_P(Walks, HurriedStudyTaps, testing::ValuesIn(kHurriedStudy),
                         [](const testing::TestParamInfo<HurriedStudy>& i) { return std::string(i.param.name); });

}  // namespace
}  // namespace vaslab

namespace vaslab {
namespace {

// View on the review screen after a capture: the report generator places
// the captured pressure where the template puts it, with the template's
// text and line, and the report view shows that page.  The screen is saved
// as <build>/screenshots/report_view_generated.png.
TEST_F(StudyEndToEnd, ViewGeneratesTheReportOfTheCapturedStudy) {
  root.write(kStudyMenuFile, [] {
    const auto b = encode_study_menu_file(
        {make_submenu_entry("Studies", 1, 1), make_study_entry("Segmental Pressures", 77)});
    return std::string(b.begin(), b.end());
  }());
  add_pressure_step("Rt Brachial", [](PressureStep& s) {
    s.unused_32[0] = 'A';                                // pressure letter
    platform::put_s16le(s.unused_32 + 1, 600);           // x
    platform::put_s16le(s.unused_32 + 3, 500);           // y
    s.unused_32[5] = 1;                                  // framed
  });
  auto add_record = [&](int type, std::initializer_list<std::pair<int, const char*>> texts,
                        std::initializer_list<std::pair<int, int>> words) {
    std::uint8_t rec[kTemplateRecordSize] = {static_cast<std::uint8_t>(type), kStudyStepClass};
    for (const auto& [at, t] : texts) std::memcpy(rec + at, t, std::strlen(t));
    for (const auto& [at, w] : words) platform::put_s16le(rec + at, static_cast<std::int16_t>(w));
    platform::put_u16le(rec + 298, template_record_checksum(rec));
    tpl.insert(tpl.end(), rec, rec + sizeof rec);
  };
  add_record(3, {{37, "pa > 0"}, {117, "7"}, {198, "Brachial"}, {278, "%s"}}, {{32, 200}, {34, 510}});
  add_record(20, {{32, "1"}, {53, "2"}, {59, "7"}, {74, "150"}, {99, "400"}, {124, "2250"}, {149, "400"}},
             {{66, 11}, {68, 216}, {70, 2388}, {72, 3138}});
  write_template("77");

  const auto stream = frames(60);
  input->after(50).tap(kMenuRow1);
  input->after(300).type("SMITH JOHN").key(kReturn).type("A-17").key(kReturn);
  input->after(300).tap(kPressInflate);
  input->after(100).at_time(stream).after(100).at_time(stream);
  input->after(100).tap(kCodeCapture).after(300).tap(0);  // capture, accept: the study ends
  bool shown = false;
  int marks = 0;
  input->after(300).tap(kReviewView).after(2000);
  input->at_time([&] {
    std::vector<std::uint8_t> raster;
    if (!stored_page(raster)) return;
    const Bitmap full = shrink_page_raster(raster.data(), 640);
    shown = true;
    for (int y = 0; y < 406; ++y)
      for (int x = 0; x < 640; ++x) shown &= px(x, y) == full.at(x, y);
    // The framed pressure at (600, 500), its caption at (200, 510) and the
    // line at row 400, a quarter of their page pixels on the screen.
    marks = count_not(145, 125, 200, 152, 0xFFFFFF) + count_not(50, 133, 110, 145, 0xFFFFFF) +
            count_not(40, 105, 600, 108, 0xFFFFFF);
    platform::make_dirs(std::string(VASLAB_BUILD_DIR) + "/screenshots");
    testsupport::write_png(std::string(VASLAB_BUILD_DIR) + "/screenshots/report_view_generated.png",
                           {screen_bitmap()->width, screen_bitmap()->height, screen_bitmap()->pixels});
  });
  input->key(platform::vk::kEscape).after(300).tap(kReviewExit);
  input->after(10000).close_window();
  EXPECT_EQ(run_menu(), 0);
  EXPECT_TRUE(shown) << "the view shows the generated page";
  EXPECT_GT(marks, 150) << "pressure, caption and line drawn";

  auto p = std::make_unique<StudyPage>();
  ASSERT_EQ(read_study_page(1, 1, "00000077.sty", *p), 0);
  const std::string pdf = root.read("C:\\DATA\\1.PDF");
  PageDescription d;
  ASSERT_EQ(read_page_description(reinterpret_cast<const std::uint8_t*>(pdf.data()), pdf.size(), d), kPageOk);
  const PagePressureValue& v = d.header.pressures[0];
  EXPECT_EQ(v.x, 600);
  EXPECT_EQ(v.y, 500);
  EXPECT_EQ(v.flags, 1);
  const std::string want = p->short_text[0] ? std::string(p->short_text) : std::to_string(p->channel_2[p->newest]);
  EXPECT_EQ(std::string(v.text), want);
  EXPECT_EQ(pdf.substr(32, 10), "SMITH JOHN");
  ASSERT_EQ(d.text_items.size(), 1u);
  EXPECT_EQ(pool_text(d, d.text_items[0].text), "Brachial");
  EXPECT_EQ(d.text_items[0].attribute, 28);
  ASSERT_EQ(d.lines.size(), 1u);
  EXPECT_EQ(d.lines[0].x2, 2250);
  EXPECT_EQ(d.lines[0].style, 0x27);
}

// A study captured and left at its review screen, with the printer "Lab"
// of a private CUPS as the default.
struct PrintedStudy : StudyEndToEnd {
  std::unique_ptr<testsupport::PrivateCups> cups;
  void SetUp() override {
    StudyEndToEnd::SetUp();
    cups = std::make_unique<testsupport::PrivateCups>(root.path() + "/cups");
    ASSERT_TRUE(cups->add_printer("Lab", true));
    std::strcpy(hardware_settings().print_control, "+");
    ASSERT_EQ(open_default_printer(), kPrinterOpen);
    write_study();
    input->after(50).tap(kMenuRow1);
    input->after(300).type("ROE RICHARD").key(kReturn).type("C-3").key(kReturn);
    input->after(200).at_time(frames(20));
    input->after(100).tap(kCodeCapture).after(300).tap(kCodeExit);
  }
  void TearDown() override {
    reset_spooler_for_tests();
    cups.reset();
    StudyEndToEnd::TearDown();
  }
};

TEST_F(PrintedStudy, FromTheReviewScreenAndStepByStep) {
  // Print, Print Page: the study's report is queued and printed while the
  // screens wait; key "s" queues the selected step's page.
  input->after(300).tap(kReviewPrint).after(300).tap(kPrintPage).after(2000).tap(kPrintExit);
  input->after(300).key('S').after(3000).tap(kReviewExit);
  input->after(10000).close_window();
  EXPECT_EQ(run_menu(), 0);
  ASSERT_TRUE(cups->wait_for_jobs("Lab", 2)) << cups->jobs("Lab").size();
  const auto jobs = cups->jobs("Lab");
  ASSERT_EQ(jobs.size(), 2u);
  for (const auto& job : jobs) {
    const testsupport::Picture page = testsupport::read_png(job);
    EXPECT_EQ(page.width, 2550) << job;
    EXPECT_EQ(page.height, 3300) << job;
  }
  // The second page took the slot the first one left done.
  EXPECT_EQ(get_print_queue()->slots[0].state, kSlotDone);
  EXPECT_EQ(get_print_queue()->spooler_state, kSpoolIdle);
}

// Print Page tapped twice in a hurry prints one page.
TEST_F(PrintedStudy, PrintPageTappedTwicePrintsOnePage) {
  input->after(300).tap(kReviewPrint).after(300).tap(kPrintPage).after(30).tap_again();
  input->after(5000).tap(kPrintExit).after(300).tap(kReviewExit);
  input->after(10000).close_window();
  EXPECT_EQ(run_menu(), 0);
  ASSERT_TRUE(cups->wait_for_jobs("Lab", 1));
  EXPECT_FALSE(cups->wait_for_jobs("Lab", 2, 3)) << "a second page was printed";
}

}  // namespace
}  // namespace vaslab
