#include "vaslab/records/export_screen.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/debug.h"
#include "platform/file_io.h"
#include "platform/find.h"
#include "platform/paths.h"
#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/input/system_utils.h"
#include "vaslab/core/settings/settings.h"
#include "vaslab/core/toolkit/buttons.h"
#include "vaslab/core/toolkit/message_box.h"
#include "vaslab/core/toolkit/screen.h"
#include "vaslab/records/module_dispatch.h"
#include "vaslab/records/study_directory.h"
#include "vaslab/records/worklist.h"

namespace vaslab {
namespace {

constexpr int kLockTries = 20;
constexpr std::uint32_t kLockRetryMs = 500;
constexpr int kEnterKeyCode = 269;

// 0 until the export screen chose one: the accessors then follow the
// destination the screen would start with.
int g_destination = 0;
// The batch's lock file, held open (and flock()ed) from lock_export_dir()
// to finish_export(); -1 between batches.
int g_lock_fd = -1;

bool destination_exists(int d) {
  const HardwareSettings& hw = hardware_settings();
  return (d == 1 ? hw.export_control_1 : hw.export_control_2)[0] != 0;
}

int current_destination() {
  if (g_destination == 1 || g_destination == 2) return g_destination;
  return destination_exists(1) ? 1 : 2;
}

std::string text_of(const char* field, std::size_t size) { return std::string(field, ::strnlen(field, size)); }

std::string with_separator(std::string folder) {
  if (!folder.empty() && folder.back() != '\\' && folder.back() != '/') folder += '\\';
  return folder;
}

// The same folder once both are resolved (case, "..", links); false when
// either does not exist.
bool same_folder(const std::string& a_win, const std::string& b_win) {
  if (a_win.empty() || b_win.empty()) return false;
  char* a = ::realpath(platform::map_path(a_win).c_str(), nullptr);
  char* b = ::realpath(platform::map_path(b_win).c_str(), nullptr);
  const bool same = a && b && std::strcmp(a, b) == 0;
  std::free(a);
  std::free(b);
  return same;
}

// A print job waiting in the queue ("NN.PRT"): the purge of C:\TEMP\ at a
// batch's start must not cancel queued prints.
bool is_print_job(const std::string& name) {
  const auto dot = name.find('.');
  if (dot == 0 || dot == std::string::npos || !platform::same_name(name.substr(dot), ".PRT")) return false;
  return std::all_of(name.begin(), name.begin() + static_cast<long>(dot),
                     [](unsigned char c) { return std::isdigit(c) != 0; });
}

void clear_temp_folder() {
  for (const auto& f : platform::list_files("C:\\TEMP\\*.*")) {
    if ((f.attributes & platform::kAttrDirectory) || is_print_job(f.name)) continue;
    platform::file_delete("C:\\TEMP\\" + f.name);
  }
}

void show_message_line(const char* text) {
  std::snprintf(g_message_text, sizeof g_message_text, "%s", text);
  show_error_and_restore();
}

// Exports one row of the list between its worklist files; false (the
// message shown) when the module failed.
bool export_row(int row) {
  const StudyList& list = study_list();
  const std::string file = list_row_file(row);
  if (file.empty()) return false;
  use_worklist_files_of(file);
  write_export_info(list.rows[row]);
  const int r = run_export_program(file.c_str());
  clear_worklist_files();
  if (r != 0) show_error_and_restore();
  return r == 0;
}

void view_row(int row) {
  const StudyList& list = study_list();
  const std::string file = list_row_file(row);
  if (file.empty()) return;
  use_worklist_files_of(file);
  if (run_iproc(file.c_str()) == 0)
    run_vproc(file.c_str(), list.mode == kListTemporary ? 1 : 0);
  else
    show_error_and_restore();
  clear_worklist_files();
}

// A batch over the rows `take` accepts, stopping at the first failure; the
// end call is made whatever happened.  False when the lock was not taken.
template <typename Take>
bool export_batch(Take take) {
  if (!lock_export_dir()) return false;
  const StudyList& list = study_list();
  bool studies_done = true;
  for (int row = 0; row < list.count; ++row) {
    if (take(row) && !export_row(row)) {
      studies_done = false;
      break;
    }
  }
  // The end call is where the PDF is made and the text files written: its
  // failure is the batch's.  After a failed study the operator has already
  // been told, and the end call's own complaint would only repeat it.
  if (finish_export() != 0 && studies_done) show_error_and_restore();
  return true;
}

void draw_export_screen(ButtonRecord* table) {
  load_background("exp_bkgd");
  g_draw.fill_color = kColorBackground;
  clear_screen();
  draw_screen_title("Main Menu");
  draw_buttons(table);
  draw_list_rows();
}

}  // namespace

const char* export_control() {
  const HardwareSettings& hw = hardware_settings();
  return current_destination() == 1 ? hw.export_control_1 : hw.export_control_2;
}

const char* export_path() {
  const HardwareSettings& hw = hardware_settings();
  return current_destination() == 1 ? hw.export_path_1 : hw.export_path_2;
}

int export_option_byte() {
  const HardwareSettings& hw = hardware_settings();
  return current_destination() == 1 ? hw.export_code_1 : hw.export_code_2;
}

void empty_export_folder(const char* path) {
  const std::string folder = with_separator(path ? text_of(path, 64) : "");
  if (folder.empty() || !may_empty_folder(folder)) return;
  const HardwareSettings& hw = hardware_settings();
  for (const std::string& own : {text_of(hw.data_directory, sizeof hw.data_directory), std::string("C:\\TEMP\\")}) {
    if (same_folder(folder, own)) {
      platform::debug_printf("export: \"%s\" is not emptied: it is \"%s\"\n", folder.c_str(), own.c_str());
      return;
    }
  }
  for (const auto& f : platform::list_files(folder + "*.*")) {
    if (f.attributes & platform::kAttrDirectory) continue;
    std::string lower = f.name;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower.find("lock.fil") != std::string::npos) continue;
    platform::file_delete(folder + f.name);
  }
}

int lock_export_dir() {
  const std::string folder = text_of(export_path(), 64);
  // An empty path would lock and purge the program's own folder.
  if (folder.empty()) {
    show_message_line("export error:File error.");
    return 0;
  }
  const std::string lock_file = platform::map_path(folder + "lock.fil");
  start_tick_timer(1, kLockRetryMs, kTickPeriodic);
  bool taken = false;
  for (int attempt = 1; attempt <= kLockTries && !taken; ++attempt) {
    int fd = ::open(lock_file.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0 && errno == ENOENT) {
      const int made = ::open(lock_file.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
      if (made < 0) break;
      ::close(made);
      fd = ::open(lock_file.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    }
    if (fd < 0) break;
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      g_lock_fd = fd;
      taken = true;
      break;
    }
    const bool in_use = errno == EWOULDBLOCK;
    ::close(fd);
    if (!in_use) break;
    if (attempt == kLockTries) break;
    const ButtonRecord* table = current_button_table();
    while (!tick_timer_expired(1)) get_button_event(table);
  }
  if (!taken) {
    show_message_line("Export in use; try again later.");
    return 0;
  }
  if (export_option_byte() & 1) empty_export_folder(folder.c_str());
  // What killed exports left here: a stick may be read elsewhere before the
  // next start sweeps it.  The lock keeps every other writer out.
  platform::remove_stale_temporaries(platform::map_path(folder), false);
  clear_temp_folder();
  return 1;
}

int finish_export() {
  char end_name[] = "END.END";
  const int r = run_export_program(end_name);
  if (g_lock_fd >= 0) ::close(g_lock_fd);
  g_lock_fd = -1;
  return r;
}

void write_export_info(const StudyListRow& row) {
  const std::string path = platform::map_path_create_dirs("c:\\temp\\exinfo");
  // A study whose exinfo cannot be written is exported all the same.
  (void)platform::write_file_atomic(path, row.text, sizeof row.text, 0600);
}

int wait_for_usb_drive() {
  while (!platform::drive_present('D')) {
    const int answer = show_message_box(nullptr,
                                        "Drive D was not found. Make sure that\ryour external USB drive is properly\r"
                                        "connected, you have given it enough time\rto be recognized by Vyro, and you "
                                        "have\ronly one connected to Vyro.",
                                        "Save Failure", kMbRetryCancel);
    if (answer != kMbRetry) return 0;
  }
  return 1;
}

namespace {

int run_export_screen() {
  const int count = destination_exists(1) + destination_exists(2);
  if (count == 0) return 0;
  g_destination = destination_exists(1) ? 1 : 2;
  StudyList& list = study_list();
  ButtonRecord table[] = {
      make_button(700, 700, 700, 700, "", kExportSelected, kEnterKeyCode, 13, kButtonHidden),
      make_button(0, 300, 212, 371, "Export Patient^exp_save", kExportPatient, 1),
      make_button(700, 700, 700, 700, "", kExportAll, 'a', 0, kButtonHidden),
      make_button(213, 300, 370, 371, "View^exp_view", kExportView, 'v'),
      make_button(508, 408, 639, 471, "EXIT^glbl_exit", kExportExit, kEscapeKeyCode, 17),
      make_button(700, 700, 700, 700, "", kExportPrevious, 293, 0, kButtonHidden),
      make_button(700, 700, 700, 700, "", kExportNext, 295, 0, kButtonHidden),
      make_button(700, 700, 700, 700, "", kExportUp, 294, 19, kButtonHidden),
      make_button(700, 700, 700, 700, "", kExportDown, 296, 20, kButtonHidden),
      make_button(0, kListTop, 639, kListTop + kStudyListVisible * kListRowHeight - 1, "", kExportList, 0, 255,
                  kButtonGreyed),
      kButtonTableEnd,
  };
  const bool rows = list.count > 0;
  if (list.selected < 0 || list.selected >= list.count) list.selected = 0;
  if (list.first_visible < 0 || list.first_visible > list.selected) list.first_visible = list.selected;
  for (int code : {kExportSelected, kExportAll}) set_button_state(table, code, rows ? kButtonHidden : kButtonGreyed);
  for (int code : {kExportPatient, kExportView}) set_button_state(table, code, rows ? kButtonShown : kButtonGreyed);
  for (int code : {kExportPrevious, kExportNext})
    set_button_state(table, code, count == 2 ? kButtonHidden : kButtonGreyed);
  for (;;) {
    draw_export_screen(table);
    int code = next_list_event(table, kExportList);
    while (list_event(code, kExportList)) code = next_list_event(table, kExportList);
    const int selected = list.selected;
    switch (code) {
      case kExportSelected:
        if (!rows) break;
        if (!export_batch([&](int row) { return row == selected; })) break;
        drain_button_events(table);
        return 0;
      case kExportAll:
        if (!rows || !export_batch([](int) { return true; })) break;
        drain_button_events(table);
        return 0;
      case kExportPatient: {
        if (!rows) break;
        if (!wait_for_usb_drive()) {
          drain_button_events(table);
          return 0;
        }
        show_message_box(nullptr, "\r\rCreating PDF File on USB Drive...", "Please Wait", kMbNoWait);
        const StudyListRow chosen = list.rows[selected];
        if (!export_batch([&](int row) { return same_patient(list.rows[row], chosen); })) break;
        drain_button_events(table);
        return 0;
      }
      case kExportView:
        if (rows) view_row(selected);
        break;
      case kExportPrevious:
      case kExportNext:
        if (count != 2) break;
        g_destination = code == kExportNext ? (g_destination + count) % count + 1
                                            : (g_destination + count - 2) % count + 1;
        break;
      case kExportExit:
        drain_button_events(table);
        return 0;
      default: break;
    }
  }
}

}  // namespace

int export_screen() {
  const int r = run_export_screen();
  // Outside the screen the accessors follow the settings again.
  g_destination = 0;
  return r;
}

}  // namespace vaslab
