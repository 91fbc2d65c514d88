// Shows the screen toolkit in a real window: a screen background with its
// title, a button table of bitmap and text buttons, and the message box over
// it.  scripts/screenshot runs it under Xvfb and photographs the display.
// The box is shown again after each answer until the window is closed.
// With --report-view PAGE it shows a page file in the report view instead,
// again after each Exit; with --print-screen, the print screen over three
// sample studies.
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/paths.h"
#include "platform/window.h"
#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/toolkit/buttons.h"
#include "vaslab/core/toolkit/main_window.h"
#include "vaslab/core/toolkit/message_box.h"
#include "vaslab/core/toolkit/screen.h"
#include "vaslab/records/archive_db.h"
#include "vaslab/records/print_screen.h"
#include "vaslab/records/temp_studies.h"
#include "vaslab/reports/print_queue.h"
#include "vaslab/reports/spooler.h"
#include "vaslab/studies/module_entries.h"

using namespace vaslab;

namespace {

ButtonRecord g_table[] = {
    {1, 0, 408, 173, 479, "Exit to Windows^main_shut", 115, 107, 0},
    {2, 275, 408, 426, 479, "Next^glbl_next", 0, 2, 10},
    {1, 502, 408, 637, 479, "Studies^main_start", 269, 105, 13},
    {1, 24, 60, 235, 287, "Studies^menu_studies", 0, 1, 0},
    {1, 252, 60, 459, 287, "Temp Files^menu_temp", 0, 3, 0},
    {1, 476, 60, 630, 131, "Options", 0, 4, 0},
    {1, 476, 150, 630, 221, "Page \x18\x19", 0, 5, 0},
    kButtonTableEnd,
};

void draw_screen() {
  load_background("menu_bkgd");
  set_colors(0x0710);
  clear_screen();
  draw_screen_title("Screen toolkit");
  draw_buttons(g_table);
  draw_text_cells("Bitmap buttons, text buttons, code page 437: \xB3\xC4\xC5 \x18\x19\x1A\x1B", 300, 3, kColorNone,
                  kColorWhite);
  mark_dirty(kDirtyWholeWindow);
}

void sample_study_list() {
  StudyList& list = study_list();
  list = StudyList{};
  const char* rows[][3] = {{"SMITH, JOHN", "Lower Arterial Doppler", "12/09/2026"},
                           {"DOE, JANE", "Segmental Pressures", "12/08/2026"},
                           {"SMITH, JOHN", "Toe Pressures", "12/01/2026"}};
  for (const auto& r : rows) {
    StudyListRow& row = list.rows[list.count];
    std::snprintf(row.file_name, sizeof row.file_name, "%d", list.count + 1);
    std::snprintf(row.text, sizeof row.text, "%-29.29s\263%-29.29s\263%-20.20s", r[0], r[1], r[2]);
    ++list.count;
  }
  list_has_type_column() = true;
  // A printer that is still to be started: the print buttons are offered.
  get_print_queue()->spooler_state = kSpoolNotStarted;
}

}  // namespace

int main(int argc, char** argv) {
  const bool report_view = argc == 3 && std::strcmp(argv[1], "--report-view") == 0;
  const bool print_screen = argc == 2 && std::strcmp(argv[1], "--print-screen") == 0;
  auto backend = platform::make_sdl_backend();
  if (!backend) {
    std::fprintf(stderr, "screen demo: no display\n");
    return 1;
  }
  platform::set_window_backend(backend.get());
  platform::set_window_proc(window_proc);
  if (!create_main_window(640, 480) || !set_display_mode(0)) {
    show_message_box(nullptr, "Failed to create window.", "Error", 0);
    return 1;
  }
  while (is_event_loop_live() && report_view) {
    char program[] = "C:\\PROGRAMS\\VPROC";
    std::string page = argv[2];
    char* view_argv[] = {program, page.data(), nullptr};
    vproc_main(2, view_argv, 1);
  }
  if (print_screen) sample_study_list();
  while (is_event_loop_live() && print_screen) print_queue_screen(kPrintArchived);
  while (is_event_loop_live()) {
    draw_screen();
    show_message_box(nullptr,
                     "The study could not be saved: the archive\r\ndisk is full. Free some space and try "
                     "again, or cancel to keep the study.",
                     "Archive", kMbOkCancel);
  }
  free_screen();
  destroy_main_window();
  platform::set_window_backend(nullptr);
  return 0;
}
