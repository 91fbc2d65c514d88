#include "vaslab/records/print_screen.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/input/system_utils.h"
#include "vaslab/core/settings/settings.h"
#include "vaslab/core/toolkit/buttons.h"
#include "vaslab/core/toolkit/message_box.h"
#include "vaslab/core/toolkit/screen.h"
#include "vaslab/records/archive_db.h"
#include "vaslab/records/module_dispatch.h"
#include "vaslab/records/study_directory.h"
#include "vaslab/records/temp_studies.h"
#include "vaslab/reports/print_queue.h"
#include "vaslab/reports/report_generator.h"

namespace vaslab {
namespace {

struct PrintScreen {
  bool mono = false;
  int copies = 1;
};
PrintScreen g_screen;

std::string cut(const char* text, std::size_t room) { return std::string(text, ::strnlen(text, room)); }

// The lower row of buttons ends on the button band's top line (y 403), so
// the line showed only right of Copies and as dots between the buttons: it
// is moved one pixel down, under the buttons across the whole width.
void move_band_line_below_buttons() {
  const Bitmap* screen = screen_bitmap();
  if (!screen) return;
  const std::uint32_t line = screen->at(0, scale_y(403)), band = screen->at(0, scale_y(404));
  fill_pixels(0, scale_y(403), scale_x(640), scale_y(404), band);
  fill_pixels(0, scale_y(404), scale_x(640), scale_y(405), line);
}

void draw_indicators() {
  char name[24];
  std::snprintf(name, sizeof name, "print_ind_%d", g_screen.copies);
  DrawBitmap(name, 570, 365, 585, 382);
  DrawBitmap(g_screen.mono ? "print_ind_mono" : "print_ind_color", 546, 305, 614, 320);
}

void draw_print_screen(ButtonRecord* table) {
  load_background("print_bkgd");
  g_draw.fill_color = kColorBackground;
  clear_screen();
  draw_screen_title("Print");
  draw_list_heads(study_list().mode == kListTemporary || list_has_type_column() ? "TYPE" : "ID");
  move_band_line_below_buttons();
  draw_buttons(table);
  draw_indicators();
  draw_list_rows();
}

void show_progress(const StudyListRow& row) {
  fill_rect_color(134, 260, 507, 281, kColorBlack);
  set_text_justify(kJustifyCentre, kJustifyCentre);
  g_draw.draw_color = kColorWhite;
  draw_text(320, 270, "Printing....");
  set_text_justify(kJustifyLeft, kJustifyTop);
  const std::string line = "Adding to Printer Queue: " + cut(row.text, 29);
  clear_text_row(0, 0);
  draw_text_cells(line.c_str(), 0, 0, kColorBackground, kColorWhite);
  flush_dirty();
}

// Queues one listed study; false when the run of studies must stop.
bool queue_study(int row, int source) {
  const StudyList& list = study_list();
  show_progress(list.rows[row]);
  const std::string file = list_row_file(row);
  const HardwareSettings& hw = hardware_settings();
  std::string folder = cut(hw.archive_path_1, sizeof hw.archive_path_1);
  if (source == kPrintTemporary) {
    if (!make_temp_report(file)) return true;
    folder = data_directory_path();
  }
  if (queue_page(folder + file, g_screen.copies, !g_screen.mono)) return true;
  show_error_and_restore();
  return false;
}

void queue_studies(int code, int source) {
  const StudyList& list = study_list();
  if (list.selected < 0 || list.selected >= list.count) return;
  const StudyListRow chosen = list.rows[list.selected];
  for (int i = 0; i < list.count; ++i) {
    if (code == kPrintPage && i != list.selected) continue;
    if (code == kPrintPatient && !same_patient(list.rows[i], chosen)) continue;
    if (!queue_study(i, source)) return;
  }
}

void view_study(int source) {
  const StudyList& list = study_list();
  if (list.count <= 0) return;
  const std::string file = list_row_file(list.selected);
  if (source == kPrintTemporary)
    view_temp_study(file);
  else
    run_vproc(file.c_str(), 0);
}

}  // namespace

int print_queue_screen(int source) {
  StudyList& list = study_list();
  g_screen = PrintScreen{};
  g_screen.mono = hardware_settings().printout_in != 0;
  ButtonRecord table[] = {
      make_button(0, 282, 212, 342, "Print Page^print_page", kPrintPage, 'p', 13),
      make_button(0, 343, 212, 403, "Print Patient^print_pat", kPrintPatient, 1),
      make_button(215, 282, 425, 342, "Print All^print_all", kPrintAll, 2),
      make_button(215, 343, 425, 403, "View^print_view", kPrintView, 'v'),
      make_button(428, 282, 545, 342, "Ink^print_ink", kPrintInk, 'm'),
      make_button(428, 343, 545, 403, "Copies^print_copy", kPrintCopies, 'c'),
      make_button(0, 408, 157, 479, "EXIT^glbl_exit", kPrintExit, kEscapeKeyCode, 17),
      make_button(700, 700, 700, 700, "", kPrintUp, 294, 19, kButtonHidden),
      make_button(700, 700, 700, 700, "", kPrintDown, 296, 20, kButtonHidden),
      make_button(0, kListTop, 639, 275, "", kPrintList, 0, 255, kButtonGreyed),
      kButtonTableEnd,
  };
  // Ink, Copies and a row chosen change only their own part of the screen:
  // the screen stays, and quick taps on them all count.
  bool whole = true, drawn_can_print = false;
  for (;;) {
    const bool can_print = list.count > 0 && get_print_queue()->spooler_state != 1;
    if (whole || can_print != drawn_can_print) {
      for (int i = 0; i < 4; ++i) table[i].state = can_print ? kButtonShown : kButtonHidden;
      draw_print_screen(table);
      drawn_can_print = can_print;
    }
    whole = true;
    int e = kNoEvent;
    while (e == kNoEvent || e < 0) e = get_button_event(table);
    const int code = e & ~kRepeatBit;
    if (code != kPrintList) wait_button_release(table);
    switch (code) {
      case kPrintPage:
      case kPrintPatient:
      case kPrintAll: queue_studies(code, source); break;
      case kPrintView: view_study(source); break;
      case kPrintInk:
        g_screen.mono = !g_screen.mono;
        draw_indicators();
        whole = false;
        break;
      case kPrintCopies:
        if (g_screen.copies < 9) ++g_screen.copies;
        draw_indicators();
        whole = false;
        break;
      case kPrintList: {
        const int index = ((get_pointer_position() >> 16) - kListTop) / kListRowHeight;
        const int row = list.first_visible + index;
        if (index >= 0 && index < kStudyListVisible && row < list.count) list.selected = static_cast<std::int16_t>(row);
        draw_list_rows();
        whole = false;
        break;
      }
      case kPrintExit:
        drain_button_events(table);
        wait_button_release(table);
        return 0;
      default: break;
    }
  }
}

}  // namespace vaslab
