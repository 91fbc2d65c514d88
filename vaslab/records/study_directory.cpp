#include "vaslab/records/study_directory.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/debug.h"
#include "platform/failure_cause.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/input/system_utils.h"
#include "vaslab/core/screens/setup_menus.h"
#include "vaslab/core/screens/study_menu.h"
#include "vaslab/core/toolkit/buttons.h"
#include "vaslab/core/toolkit/message_box.h"
#include "vaslab/core/toolkit/screen.h"
#include "vaslab/records/archive_db.h"
#include "vaslab/records/archive_reindex.h"
#include "vaslab/records/export_screen.h"
#include "vaslab/records/line_editor.h"
#include "vaslab/records/module_dispatch.h"
#include "vaslab/records/print_screen.h"
#include "vaslab/records/study_menu_module.h"
#include "vaslab/records/temp_studies.h"
#include "vaslab/records/worklist.h"
#include "vaslab/reports/print_queue.h"

namespace vaslab {
namespace {

constexpr int kRowHeight = kListRowHeight;
constexpr int kRowsDrawn = kStudyListVisible;
constexpr int kEnterKeyCode = 269;
constexpr int kDeleteKeyCode = 302;

}  // namespace

std::string list_row_file(int row) {
  const StudyList& list = study_list();
  if (row < 0 || row >= list.count) return {};
  return std::string(list.rows[row].file_name, ::strnlen(list.rows[row].file_name, sizeof list.rows[row].file_name));
}

// The worklist exchange files of a listed study are made current around
// each report, view, print or export of it, and cleared after.
void use_worklist_files_of(const std::string& file) {
  char buffer[kWorklistBufferSize] = {};
  std::snprintf(buffer, sizeof buffer, "%s", file.c_str());
  worklist_control(-10, buffer);
}
void clear_worklist_files() {
  char buffer[kWorklistBufferSize] = {};
  worklist_control(-7, buffer);
}

bool make_temp_report(const std::string& file) {
  use_worklist_files_of(file);
  const int r = run_iproc(file.c_str());
  clear_worklist_files();
  if (r != 0) show_error_and_restore();
  return r == 0;
}

void view_temp_study(const std::string& file) {
  if (file.empty()) return;
  use_worklist_files_of(file);
  if (run_iproc(file.c_str()) == 0)
    run_vproc(file.c_str(), 1);
  else
    show_error_and_restore();
  clear_worklist_files();
}

void draw_list_rows() {
  const StudyList& list = study_list();
  for (int i = 0; i < kRowsDrawn; ++i) {
    const int row = list.first_visible + i;
    char text[sizeof(StudyListRow::text) + 1] = {};
    if (row < list.count) std::memcpy(text, list.rows[row].text, sizeof list.rows[row].text);
    draw_temp_list_row(text, i, row < list.count && row == list.selected);
  }
}

namespace {

// Moves the selection and keeps it among the visible rows.
void select_row(int row) {
  StudyList& list = study_list();
  if (row < 0 || row >= list.count) return;
  list.selected = static_cast<std::int16_t>(row);
  if (list.selected < list.first_visible) list.first_visible = list.selected;
  if (list.selected >= list.first_visible + kRowsDrawn)
    list.first_visible = static_cast<std::int16_t>(list.selected - kRowsDrawn + 1);
}

}  // namespace

bool list_event(int code, int area_code) {
  StudyList& list = study_list();
  switch (code) {
    case kListUp: select_row(list.selected - 1); break;
    case kListDown: select_row(list.selected + 1); break;
    default: {
      if (code != area_code) return false;
      const int y = get_pointer_position() >> 16;
      if (y >= kListTop) {
        const int row = list.first_visible + (y - kListTop) / kRowHeight;
        if (row < list.first_visible + kRowsDrawn) select_row(row);
      }
      break;
    }
  }
  draw_list_rows();
  return true;
}

void draw_list_heads(const char* second_column) {
  // Over the row drawing's three columns.
  g_draw.draw_color = kColorWhite;
  set_text_justify(kJustifyLeft, kJustifyTop);
  const char* heads[3] = {"NAME", second_column, "DATE"};
  const int columns[3] = {5, 244, 484};
  for (int i = 0; i < 3; ++i) draw_text(columns[i], 40, heads[i]);
}

namespace {

void draw_list_screen(const char* title, const char* second_column, const ButtonRecord* table) {
  load_background("temp_bkgd");
  g_draw.fill_color = kColorBackground;
  clear_screen();
  draw_screen_title(title);
  draw_list_heads(second_column);
  draw_buttons(const_cast<ButtonRecord*>(table));
  draw_list_rows();
}

}  // namespace

int next_list_event(ButtonRecord* table, int area_code) {
  int e = kNoEvent;
  while (e == kNoEvent || e < 0) e = get_button_event(table);
  const int code = e & ~kRepeatBit;
  if (code != kListUp && code != kListDown && code != area_code) wait_button_release(table);
  return code;
}

void set_button_state(ButtonRecord* table, int code, std::uint8_t state) {
  for (ButtonRecord* b = table; !is_table_end(*b); ++b)
    if (b->button_code == code) b->state = state;
}

bool same_patient(const StudyListRow& a, const StudyListRow& b) {
  for (int i = 0; i < 29; ++i) {
    const unsigned char x = static_cast<unsigned char>(a.text[i]), y = static_cast<unsigned char>(b.text[i]);
    if (std::toupper(x) != std::toupper(y)) return false;
    if (!x) break;
  }
  return true;
}

namespace {

// Saves studies of the list: the selected one, every one of its patient or
// all.  Every report is made first; when any fails nothing is saved.  A
// study that cannot be saved is named and stays listed; the others are
// saved.
void save_studies(int which) {
  const StudyList& list = study_list();
  if (list.selected < 0 || list.selected >= list.count) return;
  const StudyListRow& chosen = list.rows[list.selected];
  std::vector<std::string> reports, saves;
  for (int i = 0; i < list.count; ++i) {
    if (which != kDirSaveAll && !same_patient(list.rows[i], chosen)) continue;
    reports.push_back(list_row_file(i));
    if (which != kDirSavePage || i == list.selected) saves.push_back(list_row_file(i));
  }
  for (const auto& f : reports)
    if (!make_temp_report(f)) return;
  (void)finish_interrupted_reindex();  // else the records go to a database the marker keeps unused
  for (const auto& f : saves) {
    const int r = archive_temp_study(f.c_str());
    if (r == kSaveDone) continue;
    // The folder and the system error tell a full archive from a read-only one.
    std::string cause = platform::take_failure_cause();
    if (!cause.empty()) cause.insert(0, " ");
    std::snprintf(g_message_text, sizeof g_message_text, "%s not saved: %s%s", f.c_str(), archive_save_message(r),
                  cause.c_str());
    show_error_and_restore();
  }
}

}  // namespace

int study_directory_screen() {
  StudyList& list = study_list();
  list.mode = kListTemporary;
  scan_temp_studies();
  ButtonRecord table[] = {
      make_button(0, 300, 127, 371, "Arc. Page^dir_page", kDirSavePage, 'p', 13),
      make_button(128, 300, 255, 371, "Arc. Patient^dir_patient", kDirSavePatient, 1),
      make_button(256, 300, 383, 371, "Arc. All^dir_all", kDirSaveAll, 2),
      make_button(384, 300, 511, 371, "View^temp_view", kDirView, 'v'),
      make_button(508, 408, 639, 471, "Cancel^glbl_exit", kDirCancel, kEscapeKeyCode, 17),
      make_button(700, 700, 700, 700, "", kListUp, 294, 19, kButtonHidden),
      make_button(700, 700, 700, 700, "", kListDown, 296, 20, kButtonHidden),
      make_button(0, kListTop, 639, kListTop + kRowsDrawn * kRowHeight - 1, "", kListArea, 0, 255, kButtonGreyed),
      kButtonTableEnd,
  };
  for (;;) {
    const std::uint8_t save_state = list.count > 0 ? kButtonShown : kButtonGreyed;
    for (int code : {kDirSavePage, kDirSavePatient, kDirSaveAll}) set_button_state(table, code, save_state);
    draw_list_screen("Study Directory", "TYPE", table);
    int code = next_list_event(table, kListArea);
    while (list_event(code, kListArea)) code = next_list_event(table, kListArea);
    switch (code) {
      case kDirSavePage:
      case kDirSavePatient:
      case kDirSaveAll:
        if (!confirm_are_you_sure()) break;
        save_studies(code);
        scan_temp_studies();
        return 0;
      case kDirView: view_temp_study(list_row_file(list.selected)); break;
      case kDirCancel: return 0;
      default: break;
    }
  }
}

int archive_screen() {
  StudyList& list = study_list();
  ButtonRecord search_table[] = {
      make_button(0, 300, 127, 371, "NAME^arc_name", kArcName, 'n'),
      make_button(128, 300, 255, 371, "ID^arc_id", kArcId, 'i'),
      make_button(256, 300, 383, 371, "DATE^arc_date", kArcDate, 'd'),
      make_button(384, 300, 511, 371, "Cancel Search^arc_cancel", kArcSearchToggle, 'c', 0, kButtonGreyed),
      make_button(512, 300, 639, 371, "Update History^arc_history", kArcUpdateHistory, 'u', 0, kButtonGreyed),
      make_button(508, 408, 639, 471, "EXIT^glbl_exit", kArcExit, kEscapeKeyCode, 17),
      make_button(700, 700, 700, 700, "", kListUp, 294, 19, kButtonHidden),
      make_button(700, 700, 700, 700, "", kListDown, 296, 20, kButtonHidden),
      make_button(0, kListTop, 639, kListTop + kRowsDrawn * kRowHeight - 1, "", kListArea, 0, 255, kButtonGreyed),
      kButtonTableEnd,
  };
  ButtonRecord result_table[] = {
      make_button(0, 300, 127, 371, "View^temp_view", kArcView, 'v'),
      make_button(128, 300, 255, 371, "Print^temp_print", kArcPrint, 'p'),
      make_button(256, 300, 383, 371, "Delete^temp_del", kArcDelete, kDeleteKeyCode),
      make_button(384, 300, 511, 371, "Search Again^arc_again", kArcSearchToggle, 's'),
      make_button(512, 300, 639, 371, "Update History^arc_history", kArcUpdateHistory, 'u'),
      make_button(508, 408, 639, 471, "EXIT^glbl_exit", kArcExit, kEscapeKeyCode, 17),
      make_button(700, 700, 700, 700, "", kListUp, 294, 19, kButtonHidden),
      make_button(700, 700, 700, 700, "", kListDown, 296, 20, kButtonHidden),
      make_button(0, kListTop, 639, kListTop + kRowsDrawn * kRowHeight - 1, "", kListArea, 0, 255, kButtonGreyed),
      kButtonTableEnd,
  };
  int mode = 0;
  // A renumbering cut short is completed before any record is read.
  const bool db_opens = finish_interrupted_reindex() && platform::file_size(platform::map_path(kArchiveDbPath)).has_value();
  archive_db_in_use() = db_opens;
  list.mode = kListArchive;
  list_has_type_column() = true;
  list.count = list.selected = list.first_visible = 0;
  archive_patterns() = ArchivePatterns{};
  if (!db_opens) {
    std::snprintf(g_message_text, sizeof g_message_text, "Database missing: Reindex for speed");
    show_error_and_restore();
  }
  int pending = 0;
  char buffer[kWorklistBufferSize] = {};
  if (worklist_control(-6, buffer) == 0 && worklist_control(-8, buffer) == 0) {
    // Cut to 28 characters: the name is matched as a prefix, without "*".
    std::memcpy(archive_patterns().name, buffer, std::min<std::size_t>(::strnlen(buffer, 28), 28));
    set_button_state(result_table, kArcSearchToggle, kButtonGreyed);
    pending = kArcName;
  }
  const bool name_fixed = pending != 0;
  for (;;) {
    ButtonRecord* table = mode == 0 ? search_table : result_table;
    const std::uint8_t row_state = list.count > 0 ? kButtonShown : kButtonGreyed;
    for (int code : {kArcView, kArcPrint, kArcDelete}) set_button_state(result_table, code, row_state);
    if (mode == 1) set_button_state(result_table, kArcUpdateHistory, row_state);
    draw_list_screen("Archive", list_has_type_column() ? "TYPE" : "ID", table);
    int code = pending;
    pending = 0;
    if (!code) {
      code = next_list_event(table, kListArea);
      while (list_event(code, kListArea)) code = next_list_event(table, kListArea);
    }
    switch (code) {
      case kArcName:
      case kArcId:
      case kArcDate: {
        mode = 1;
        ArchivePatterns& p = archive_patterns();
        int edited = 0;
        if (code == kArcName && name_fixed) edited = 0;
        else if (code == kArcName) edited = edit_search_value(p.name, sizeof p.name, "NAME: ", 35);
        else if (code == kArcId) edited = edit_search_value(p.id, sizeof p.id, "ID: ", 33);
        else edited = edit_search_value(p.date, sizeof p.date, "DATE: ", 35);
        if (edited == 0) {
          list.selected = 0;
          search_archive_db();
        }
        break;
      }
      case kArcSearchToggle:
        mode = 1 - mode;
        set_button_state(search_table, kArcSearchToggle, kButtonShown);
        set_button_state(search_table, kArcUpdateHistory, kButtonShown);
        break;
      case kArcPrint:
        if (list.count > 0) print_queue_screen(kPrintArchived);
        break;
      case kArcDelete:
        if (list.count == 0 || !confirm_are_you_sure()) break;
        if (!delete_archived_study(list.selected)) {
          std::snprintf(g_message_text, sizeof g_message_text, "Error deleting %s.", list_row_file(list.selected).c_str());
          show_error_and_restore();
        }
        search_archive_db();
        break;
      case kArcView:
        if (list.count > 0) run_vproc(list_row_file(list.selected).c_str(), 0);
        break;
      case kArcUpdateHistory: {
        if (list.count == 0) break;
        set_fixed_pitch_buttons(true);
        const int t = run_study_menu();
        set_fixed_pitch_buttons(false);
        if (t < 0) break;
        int exam = 0;
        if (create_temp_study(2, std::to_string(t).c_str(), &exam) != 0) {
          std::snprintf(g_message_text, sizeof g_message_text, "Error creating page.");
          show_error_and_restore();
          return 0;
        }
        use_worklist_files_of(std::to_string(exam) + ".PDF");
        review_screen(t, exam);
        clear_worklist_files();
        return 0;
      }
      case kArcExit: return 0;
      default: break;
    }
  }
}

int temp_files_screen() {
  StudyList& list = study_list();
  list.mode = kListTemporary;
  list.selected = list.first_visible = 0;
  scan_temp_studies();
  ButtonRecord table[] = {
      make_button(0, 300, 127, 371, "Edit^temp_edit", kTempEdit, kEnterKeyCode, 13),
      make_button(128, 300, 255, 371, "View^temp_view", kTempView, 'v'),
      make_button(256, 300, 383, 371, "Delete^temp_del", kTempDelete, kDeleteKeyCode),
      make_button(384, 300, 511, 371, "Print^temp_print", kTempPrint, 'p'),
      make_button(512, 300, 639, 371, "Export^temp_save", kTempExport, 'e'),
      make_button(508, 408, 639, 471, "EXIT^glbl_exit", kTempExit, kEscapeKeyCode, 17),
      make_button(700, 700, 700, 700, "", kListUp, 294, 19, kButtonHidden),
      make_button(700, 700, 700, 700, "", kListDown, 296, 20, kButtonHidden),
      make_button(0, kListTop, 639, kListTop + kRowsDrawn * kRowHeight - 1, "", kListArea, 0, 255, kButtonGreyed),
      kButtonTableEnd,
  };
  for (;;) {
    const std::uint8_t row_state = list.count > 0 ? kButtonShown : kButtonGreyed;
    for (int code : {kTempDelete, kTempView, kTempEdit}) set_button_state(table, code, row_state);
    load_background("temp_bkgd");
    g_draw.fill_color = kColorBackground;
    clear_screen();
    draw_screen_title("Temp Files");
    draw_buttons(table);
    draw_list_rows();
    int code = next_list_event(table, kListArea);
    while (list_event(code, kListArea)) code = next_list_event(table, kListArea);
    const std::string file = list_row_file(list.selected);
    switch (code) {
      case kTempDelete:
        if (file.empty() || !confirm_are_you_sure()) break;
        delete_temp_study(file.c_str());
        scan_temp_studies();
        break;
      case kTempEdit: {
        if (file.empty()) break;
        use_worklist_files_of(file);
        const int r = review_screen(0, std::atoi(file.c_str()));
        clear_worklist_files();
        if (r == 8) return 8;
        if (r == 4) {
          std::snprintf(g_message_text, sizeof g_message_text, "Failed to load page.");
          show_error_and_restore();
        }
        list.mode = kListTemporary;
        scan_temp_studies();
        break;
      }
      case kTempView: view_temp_study(file); break;
      case kTempPrint: print_queue_screen(kPrintTemporary); break;
      case kTempExport:
        if (!file.empty()) export_screen();
        break;
      case kTempExit:
        drain_button_events(table);
        return 0;
      default: break;
    }
  }
}

}  // namespace vaslab
