#include "vaslab/records/study_menu_module.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/file_io.h"
#include "platform/paths.h"
#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/input/system_utils.h"
#include "vaslab/core/links/module_link.h"
#include "vaslab/core/screens/study_menu.h"
#include "vaslab/core/settings/settings.h"
#include "vaslab/core/toolkit/buttons.h"
#include "vaslab/core/toolkit/message_box.h"
#include "vaslab/core/toolkit/screen.h"
#include "vaslab/records/export_screen.h"
#include "vaslab/records/module_dispatch.h"
#include "vaslab/records/patient_data.h"
#include "vaslab/records/print_screen.h"
#include "vaslab/records/step_runner.h"
#include "vaslab/records/study_directory.h"
#include "vaslab/records/temp_studies.h"
#include "vaslab/records/worklist.h"
#include "vaslab/reports/page_description.h"
#include "vaslab/reports/print_queue.h"
#include "vaslab/studies/study_template.h"


namespace vaslab {
namespace {

constexpr int kPlanRowsVisible = 22;

struct Review {
  int selected = -2;
  int first_visible = 0;
};
Review g_review;

int choose_study() {
  set_fixed_pitch_buttons(true);
  const int t = run_study_menu();
  set_fixed_pitch_buttons(false);
  return t;
}

void clear_worklist() {
  char buffer[kWorklistBufferSize] = {};
  worklist_control(-7, buffer);
}

std::string data_dir() { return hardware_settings().data_directory; }
std::string pdf_name() { return std::string(current_exam_id()) + ".PDF"; }

// Header fields are fixed-width and may fill their room without a NUL.
std::string header_text(int offset, int room) {
  const char* p = reinterpret_cast<const char*>(study_header()) + offset;
  return std::string(p, strnlen(p, static_cast<std::size_t>(room)));
}

// The selected study list row: name, study caption, date, each cut to its
// column so that no field can overrun the 81-byte row.
void refresh_list_row(const char* caption) {
  StudyList& list = study_list();
  if (list.selected < 0 || list.selected >= list.count) return;
  StudyListRow& row = list.rows[list.selected];
  std::snprintf(row.text, sizeof row.text, "%-29.29s\263%-29.29s\263%-20.20s", header_text(32, 30).c_str(),
                caption, header_text(92, 22).c_str());
}

std::string row_caption() {
  const StudyList& list = study_list();
  if (list.selected < 0 || list.selected >= list.count) return current_study_caption();
  const char* t = list.rows[list.selected].text;
  const std::size_t len = strnlen(t, sizeof list.rows[0].text);
  if (len <= 30) return "";
  return std::string(t + 30, std::min<std::size_t>(29, len - 30));
}

// The export screen works on the whole list; the review screen's study
// is selected again afterwards, with its worklist files.
void export_from_review() {
  const std::int16_t selected = study_list().selected;
  export_screen();
  study_list().selected = selected;
  use_worklist_files_of(list_row_file(selected));
}

void delete_study_files() {
  const std::string n = current_exam_id();
  for (const char* ext : {".PDF", ".imp", ".exp"}) std::remove(platform::map_path(data_dir() + n + ext).c_str());
}

bool load_reopened_study(int& template_number, int exam_id) {
  const std::string exam = std::to_string(exam_id);
  const auto header = platform::read_file(platform::map_path(data_dir() + exam + ".PDF"), kPageHeaderBytes);
  if (header) std::memcpy(study_header(), header->data(), std::min(header->size(), kPageHeaderBytes));
  if (template_number == 0) {
    const auto idf = platform::read_file(platform::map_path(data_dir() + "0." + exam), STUDY_PAGE_BYTES);
    if (!idf || idf->size() != STUDY_PAGE_BYTES) return false;
    char name[13] = {};
    std::memcpy(name, idf->data(), 12);
    template_number = std::atoi(name);
  }
  set_current_study(std::to_string(template_number).c_str(), exam.c_str());
  return load_study_plan(std::string("C:\\STUDIES\\") + current_template_name(), exam_id) >= 0;
}

void draw_review(ButtonRecord* table) {
  const int n = study_plan_count();
  Review& r = g_review;
  r.selected = std::clamp(r.selected, 0, std::max(n - 1, 0));
  if (r.selected < r.first_visible) r.first_visible = r.selected;
  if (r.selected >= r.first_visible + kPlanRowsVisible) r.first_visible = r.selected - kPlanRowsVisible + 1;
  load_background("eos_bkgd");
  g_draw.fill_color = kColorBackground;
  clear_screen();
  draw_buttons(table);
  for (int i = 0; i < kPlanRowsVisible; ++i) {
    const int row = r.first_visible + i;
    if (row >= n) break;
    char text[37];
    std::snprintf(text, sizeof text, "%.35s", study_plan()[row].text);
    draw_study_list_row(text, i, row == r.selected);
  }
  const std::string title = "Name: " + header_text(32, 30);
  draw_screen_title(title.c_str());
}

// Runs the steps from the selection; false when the operator left the
// patient data screen instead.
void proceed() {
  Review& r = g_review;
  const int n = study_plan_count();
  if (r.selected == -2) {
    if (patient_data_screen(0) == 1) return;
  }
  r.selected = run_study_steps(r.selected, n);
  while (r.selected == -1) {
    if (patient_data_screen(7) == 1) {
      r.selected = 0;
      return;
    }
    r.selected = run_study_steps(0, n);
  }
}

void step_report() {
  const int row = g_review.selected;
  if (row < 0 || row >= study_plan_count()) return;
  int position = row + 1;
  const char* caption = study_plan()[row].text + kStatusChars + 1;
  if (std::strncmp(caption, " LEFT", 5) == 0 && row > 0) position = row;
  if (run_sprint(pdf_name().c_str(), position) != 0) {
    show_error_and_restore();
    return;
  }
  queue_print_file(pdf_name().c_str());
}

// The print screen works on the study list and leaves the worklist files
// cleared: the review's own study is made current again after it.
void print_from_review() {
  const std::int16_t selected = study_list().selected;
  print_queue_screen(kPrintTemporary);
  study_list().selected = selected;
  use_worklist_files_of(list_row_file(selected));
}

void patient_info() {
  std::uint8_t saved[kPatientFields];
  PatientField* f = patient_fields();
  // Every field that has something to show: a field the template left
  // without a label would be an unnamed line.
  for (int i = 0; i < kPatientFields; ++i) {
    saved[i] = f[i].editable;
    f[i].editable = saved[i] || f[i].label[0] != 0;
  }
  patient_data_screen(0);
  for (int i = 0; i < kPatientFields; ++i) f[i].editable = saved[i];
  refresh_list_row(row_caption().c_str());
}

// Another study for the same patient; false when none was made.
bool new_study() {
  const int t = choose_study();
  if (t < 0) return false;
  remember_patient_fields();
  if (create_temp_study(1, std::to_string(t).c_str(), nullptr) != 0) {
    std::snprintf(g_message_text, sizeof g_message_text, "Error creating page.");
    show_error_and_restore();
    return false;
  }
  patient_data_screen(-1);
  PatientField* f = patient_fields();
  for (int i = 0; i < kPatientFields; ++i) f[i].editable = 1;
  g_review.selected = 0;
  return true;
}

}  // namespace

int review_screen(int template_number, int exam_id) {
  bool fresh = false;
  if (exam_id == 0) {
    if (template_number <= 0) return 4;
    int exam = 0;
    if (create_temp_study(0, std::to_string(template_number).c_str(), &exam) != 0) return 4;
    fresh = true;
  } else if (!load_reopened_study(template_number, exam_id)) {
    return 4;
  }
  g_review = Review{};
  ButtonRecord table[] = {
      make_button(440, 40, 632, 112, "Proceed^glbl_procd", kReviewProceed, 289, 9),
      make_button(440, 408, 632, 479, "Exit^glbl_exit", kReviewExit, kEscapeKeyCode, 17),
      make_button(440, 120, 632, 192, "Pat. Info^eos_pat", kReviewPatient, 290, 10),
      make_button(440, 200, 632, 272, "View^eos_view", kReviewView, 'v', 12),
      make_button(440, 280, 632, 352, "New study^eos_new", kReviewNewStudy, 'n', 16),
      make_button(0, 408, 157, 479, "Print^eos_print", kReviewPrint, 'p', 13),
      make_button(165, 408, 322, 479, "Export^eos_exp", kReviewExport, 'e', 0),
      make_button(700, 700, 700, 700, "", kReviewStepReport, 's', 0),
      make_button(700, 700, 700, 700, "", kReviewUp, 294, 19),
      make_button(700, 700, 700, 700, "", kReviewDown, 296, 20),
      make_button(700, 700, 700, 700, "", kReviewStudyDirectory, 'a', 0),
      // The list area takes touches but draws nothing: a text button that
      // is greyed is not drawn, and the rows lie on the background's plate.
      make_button(0, 37, 427, 388, "", kReviewList, 0, 255, kButtonGreyed),
      kButtonTableEnd,
  };
  for (int i = 7; i <= 10; ++i) table[i].state = kButtonHidden;

  bool run_now = fresh;
  for (;;) {
    if (run_now) {
      proceed();
      run_now = false;
    }
    refresh_list_row(current_study_caption());
    draw_review(table);
    int e = kNoEvent;
    if (check_module_ready() != 0) e = kReviewExit;
    while (e == kNoEvent || e < 0) e = get_button_event(table);
    const int code = e & ~kRepeatBit;
    if (code != kReviewUp && code != kReviewDown && code != kReviewList) wait_button_release(table);
    if (code == kReviewExit) break;
    if (code == kReviewStudyDirectory && !all_steps_pending()) {
      study_directory_screen();
      return 8;
    }
    switch (code) {
      case kReviewProceed: run_now = true; break;
      case kReviewPatient: patient_info(); break;
      case kReviewNewStudy:
        if (!all_steps_pending() && new_study()) run_now = true;
        break;
      case kReviewView:
        if (!all_steps_pending()) make_and_view_report();
        break;
      case kReviewStepReport: step_report(); break;
      case kReviewPrint:
        if (!all_steps_pending()) print_from_review();
        break;
      case kReviewExport:
        if (!all_steps_pending()) export_from_review();
        break;
      case kReviewUp: --g_review.selected; break;
      case kReviewDown: ++g_review.selected; break;
      case kReviewList: {
        const int y = get_pointer_position() >> 16;
        if (y >= 37) g_review.selected = g_review.first_visible + (y - 37) / 16;
        break;
      }
      default: break;
    }
  }
  if (all_steps_pending()) delete_study_files();
  return 8;
}

int mastermn_main(int argc, char* argv[]) {
  if (argc != 2) return 4;
  const char letter = argv[1] ? argv[1][0] : 0;
  if (letter == 'M') {
    const int t = choose_study();
    if (t > 0) {
      scan_temp_studies();
      review_screen(t, 0);
    }
    clear_worklist();
  } else if (letter == 'P') {
    clear_worklist();
    temp_files_screen();
    clear_worklist();
  } else {
    archive_screen();
    clear_worklist();
  }
  return 0;
}

}  // namespace vaslab
