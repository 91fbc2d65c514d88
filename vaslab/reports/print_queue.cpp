#include "vaslab/reports/print_queue.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/command_line.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "vaslab/core/buttons.h"
#include "vaslab/core/event_wait.h"
#include "vaslab/core/message_box.h"
#include "vaslab/core/screen.h"
#include "vaslab/core/settings.h"
#include "vaslab/core/system_utils.h"
#include "vaslab/records/archive_db.h"
#include "vaslab/records/module_dispatch.h"
#include "vaslab/records/study_directory.h"
#include "vaslab/records/temp_studies.h"
#include "vaslab/reports/report_generator.h"
#include "vaslab/reports/spooler.h"

namespace vaslab {
namespace {

PrintQueue g_queue{};

struct PrintScreen {
  bool mono = false;
  int copies = 1;
};
PrintScreen g_screen;

int pproc_error(int result) {
  std::snprintf(g_message_text, sizeof g_message_text, "pproc error: %d .", result);
  return result;
}

int pproc_dos_error(int negative_errno) {
  std::snprintf(g_message_text, sizeof g_message_text, "pproc error:DOS %d .", -negative_errno);
  return negative_errno;
}

// The raw path: the print processor turns the page into the printer's own
// language.  It is started as its command line names it, without a shell,
// so no character of a file name can run a command.
int run_print_processor(const std::string& source, const std::string& job, bool colour) {
  const std::string program = colour ? "C:\\PROGRAMS\\PPROC" : "C:\\PROGRAMS\\PPROCM";
  const std::vector<std::string> argv = platform::split_command_line(program + " " + source + " " + job);
  platform::file_delete(job);
  const int status = platform::run_program(program + ".EXE", {argv.begin() + 1, argv.end()});
  if (status == platform::kNotStarted) return pproc_dos_error(-errno);
  if (status != 0) return pproc_error(status);
  // A processor that ended well but left nothing would lose the page unseen.
  if (!platform::file_size(platform::map_path(job))) return pproc_dos_error(-ENOENT);
  return 0;
}

// The renderer path: a flag byte, then the page file byte for byte.  A job
// file that could not be made whole is not left behind.
int copy_page_job(const std::string& source, const std::string& job, bool colour) {
  platform::file_delete(job);
  const int in = platform::file_open(source, platform::OpenMode::kRead);
  if (in < 0) return pproc_dos_error(in);
  const int out = platform::file_open(job, platform::OpenMode::kCreateAlways);
  if (out < 0) {
    platform::file_close(in);
    return pproc_dos_error(out);
  }
  const std::uint8_t flag = colour ? 1 : 0;
  long long result = platform::file_write(out, &flag, 1);
  std::uint8_t piece[256];
  while (result >= 0) {
    const long long n = platform::file_read(in, piece, sizeof piece);
    if (n <= 0) {
      result = n;
      break;
    }
    result = platform::file_write(out, piece, static_cast<std::size_t>(n));
    if (result >= 0 && result < n) result = -EIO;
  }
  platform::file_close(in);
  const int closed = platform::file_close(out);
  if (result >= 0 && closed < 0) result = closed;
  if (result < 0) {
    platform::file_delete(job);
    return pproc_dos_error(static_cast<int>(result));
  }
  return 0;
}

// Takes a free slot for the page at `source` and queues it; false (the
// message line set, the slot left free) when that failed.
bool queue_page(const std::string& source, int copies, bool colour) {
  const int slot = find_free_print_slot();
  if (slot < 0) {
    std::snprintf(g_message_text, sizeof g_message_text, "Print queue is full");
    return false;
  }
  g_queue.slots[slot] = PrintSlot{0, kSlotFree};
  if (start_print_processor(slot, source, colour) != 0) return false;
  g_queue.slots[slot] = PrintSlot{static_cast<std::uint8_t>(copies), kSlotQueued};
  wake_print_spooler();
  return true;
}

// --- The print screen -----------------------------------------------------

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

void draw_print_screen(ButtonRecord* table) {
  load_background("print_bkgd");
  g_draw.fill_color = kColorBackground;
  clear_screen();
  draw_screen_title("Print");
  draw_list_heads(study_list().mode == kListTemporary || list_has_type_column() ? "TYPE" : "ID");
  move_band_line_below_buttons();
  draw_buttons(table);
  char name[24];
  std::snprintf(name, sizeof name, "print_ind_%d", g_screen.copies);
  DrawBitmap(name, 570, 365, 585, 382);
  DrawBitmap(g_screen.mono ? "print_ind_mono" : "print_ind_color", 546, 305, 614, 320);
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

PrintQueue* get_print_queue() { return &g_queue; }

int find_free_print_slot() {
  const int start = g_queue.current_slot >= 0 && g_queue.current_slot < kPrintSlots ? g_queue.current_slot : 0;
  int slot = start;
  do {
    const std::uint8_t state = g_queue.slots[slot].state;
    if (state == kSlotFree || state == kSlotDone) return slot;
    slot = (slot + 1) % kPrintSlots;
  } while (slot != start);
  return -1;
}

std::string print_job_file(int slot) {
  char name[24];
  std::snprintf(name, sizeof name, "C:\\TEMP\\%02d.PRT", slot);
  return name;
}

int start_print_processor(int slot, const std::string& source, bool colour) {
  const std::string job = print_job_file(slot);
  platform::map_path_create_dirs(job);
  return printing_through_renderer() ? copy_page_job(source, job, colour) : run_print_processor(source, job, colour);
}

void wake_print_spooler() {
  std::int8_t& state = g_queue.spooler_state;
  if ((state & 7) == 6) state = 5;
  state &= 7;
}

int queue_print_file(const char* file_name) {
  const std::string source = data_directory_path() + (file_name ? file_name : "");
  if (queue_page(source, 1, false)) return 0;
  show_error_and_restore();
  return -1;
}

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
  for (;;) {
    const bool can_print = list.count > 0 && g_queue.spooler_state != 1;
    for (int i = 0; i < 4; ++i) table[i].state = can_print ? kButtonShown : kButtonHidden;
    draw_print_screen(table);
    int e = kNoEvent;
    while (e == kNoEvent || e < 0) e = get_button_event(table);
    const int code = e & ~kRepeatBit;
    if (code != kPrintList) wait_button_release(table);
    switch (code) {
      case kPrintPage:
      case kPrintPatient:
      case kPrintAll: queue_studies(code, source); break;
      case kPrintView: view_study(source); break;
      case kPrintInk: g_screen.mono = !g_screen.mono; break;
      case kPrintCopies:
        if (g_screen.copies < 9) ++g_screen.copies;
        break;
      case kPrintList: {
        const int index = ((get_pointer_position() >> 16) - kListTop) / kListRowHeight;
        const int row = list.first_visible + index;
        if (index >= 0 && index < kStudyListVisible && row < list.count) list.selected = static_cast<std::int16_t>(row);
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
