#include "vaslab/program/program.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/debug.h"
#include "platform/failure_cause.h"
#include "platform/file_io.h"
#include "platform/instance_lock.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "vaslab/backup/floppy_backup.h"
#include "vaslab/core/input/digital_io.h"
#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/input/system_utils.h"
#include "vaslab/core/input/touch_remote.h"
#include "vaslab/core/links/module_link.h"
#include "vaslab/core/links/serial_links.h"
#include "vaslab/core/screens/edit_system_data.h"
#include "vaslab/core/screens/main_menu.h"
#include "vaslab/core/settings/module_table.h"
#include "vaslab/core/settings/settings.h"
#include "vaslab/core/toolkit/main_window.h"
#include "vaslab/core/toolkit/message_box.h"
#include "vaslab/core/toolkit/screen.h"
#include "vaslab/records/archive_db.h"
#include "vaslab/records/archive_reindex.h"
#include "vaslab/records/export_screen.h"
#include "vaslab/records/study_menu_module.h"
#include "vaslab/reports/zelmar_records.h"
#include "vaslab/records/worklist.h"
#include "vaslab/reports/spooler.h"
#include "vaslab/studies/service_modules.h"

namespace vaslab {
namespace {

constexpr char kMutexName[] = "PULSARIS";

// Bits 0-1 of touch_type: 2 means no touch panel.
constexpr int kNoTouchPanel = 2;

int init_hardware_links() {
  const HardwareSettings& hw = hardware_settings();
  if ((hw.touch_type & 3) != kNoTouchPanel) g_pending_display_switch = 1;
  if (g_is_windows_nt && (hw.dio_out_port != 0 || hw.dio_in_port != 0)) open_port_driver();
  return init_serial_card();
}

// The screen is built from the program's own bitmap folder and title font;
// on a drive root that was never prepared, say which is missing instead of
// showing a window that cannot draw.  Empty when both are there.
std::string missing_screen_file() {
  const std::string folder = platform::map_path("_bmp\\");
  const std::string font = platform::map_path(kTitleFontFile);
  struct stat st {};
  std::string what;
  if (::stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    what = "The bitmap folder " + folder;
  else if (!platform::file_size(font))
    what = "The title font " + font;
  if (what.empty()) return what;
  return what + " is missing.\rThe drive root " + platform::root() + " is not prepared (scripts/demo-root prepares one).";
}

void empty_export_folders() {
  const HardwareSettings& hw = hardware_settings();
  if (hw.export_code_1 & 4) empty_export_folder(hw.export_path_1);
  if (hw.export_code_2 & 4) empty_export_folder(hw.export_path_2);
}

}  // namespace

void install_modules() {
  ModuleTable& t = module_table();
  t.study_menu = mastermn_main;
  t.diagnostic_steps = dopalign_main;
  t.pressure_alignment = bp_alignment;
  t.touch_calibration = touch_calibration;
  t.reindex_archive = reindex_archive_db;
  t.floppy_backup_menu = floppy_backup_menu;
  t.step_print_spooler = step_print_spooler;
  t.print_spooler_busy = print_spooler_busy;
  t.worklist_control = worklist_control;
  t.import_worklist_patient = import_worklist_patient;
  t.purge_work_dirs = purge_work_dirs;
  t.module_connection_changed = set_module_buttons_shown;
}

int run_workstation() {
  read_hardware_settings();
  if (init_hardware_links() == 0) return 1;
  if (open_module_link() != 0) return 1;
  send_module_byte(0);
  if (open_remote_link() != 0) {
    close_module_link();
    return 2;
  }
  open_touch_link();
  open_default_printer();
  select_cuffs(0);
  HardwareSettings& hw = hardware_settings();
  std::snprintf(hw.data_directory, sizeof hw.data_directory, "%s", "C:\\DATA\\");
  set_hardware_volume(runtime_volume());
  clear_imported_patient();
  if (hw.import_code & 1) worklist_control(-7, nullptr);
  // A save cut off by the end of the last run is settled while its
  // temporary study is still there: the purge below deletes it.
  if (settle_interrupted_save() != kSaveDone)
    platform::debug_printf("start: a cut-off archive save stays pending: %s\n", platform::take_failure_cause().c_str());
  purge_work_dirs();

  const std::int16_t result = static_cast<std::int16_t>(run_main_menu());

  close_printer();
  close_touch_link();
  close_remote_link();
  close_module_link();
  empty_export_folders();
  purge_work_dirs();
  const std::string shutdown_run(hw.shutdown_run, strnlen(hw.shutdown_run, sizeof hw.shutdown_run));
  if (result != 0 && !shutdown_run.empty()) platform::run_shell(shutdown_run);
  // Every way out of the menus is a normal end of the program.
  return 0;
}

int run_setup_mode() {
  read_hardware_settings();
  edit_system_data();
  return 0;
}

int win_main(const char* command_line) {
  install_modules();
  // The program's icon and cursor are built in, so they are always present.
  if (!platform::acquire_instance_lock(kMutexName)) return 0;
  // A run killed while writing a record left its temporary file; this copy
  // alone writes to the drives now, so every such file is stale.
  platform::remove_stale_temporaries(platform::root());
  take_back_unfinished_zelmar_batch();
  reset_event_state();
  if (const std::string missing = missing_screen_file(); !missing.empty()) {
    // No window yet: the box goes to standard error and returns at once.
    show_message_box(nullptr, missing.c_str(), "Error", 0);
    platform::release_instance_lock();
    return 0;
  }
  if (!register_window_class()) {
    platform::release_instance_lock();
    return 0;
  }
  detect_windows_nt();
  if (!create_main_window(640, 480)) {
    platform::release_instance_lock();
    return 0;
  }
  platform::set_window_proc(window_proc);
  mark_dirty(kDirtyWholeWindow);
  if (!set_display_mode(0)) {
    show_message_box(nullptr, "Failed to create window.", "Error", 0);
    destroy_main_window();
    platform::release_instance_lock();
    return 0;
  }
  read_caps_lock();

  const bool workstation = command_line == nullptr || command_line[0] == 0;
  const std::int16_t result = static_cast<std::int16_t>(workstation ? run_workstation() : run_setup_mode());

  unload_susi();
  free_screen();
  destroy_main_window();
  platform::release_instance_lock();
  unload_serial_card_driver();
  return result;
}

}  // namespace vaslab
