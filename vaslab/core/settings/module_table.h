// What the core, and the subsystems between it and the records, reach of
// the subsystems above them.  Calls run down the layers only: the program
// (vaslab/program) fills this table once at start with the modules' entries,
// and a lower module calls through it instead of including a higher one.
// An entry left empty does nothing, and answers as its comment says.
#pragma once

#include <cstddef>

namespace vaslab {

struct ModuleTable {
  // The launcher's menu modules (argument count and texts, as a module's
  // entry takes them): the study menu ("mastermn": studies, temporary files,
  // archive), the diagnostic steps ("dopalign"), the pressure channels'
  // alignment and the touch panel's calibration.  Empty: result 0.
  int (*study_menu)(int argc, char* argv[]) = nullptr;
  int (*diagnostic_steps)(int argc, char* argv[]) = nullptr;
  int (*pressure_alignment)() = nullptr;
  int (*touch_calibration)() = nullptr;

  // The set-up menus' archive reindex and diskette backup menu.
  void (*reindex_archive)() = nullptr;
  void (*floppy_backup_menu)() = nullptr;

  // The print spooler: every pass of the event wait steps it, and a busy
  // one keeps the wait polling.  Empty: never busy.
  void (*step_print_spooler)() = nullptr;
  bool (*print_spooler_busy)() = nullptr;

  // The worklist of imported patients: its control operations (as the
  // records' worklist_control takes them; empty: -1), and the main menu's
  // import, which answers -1 when the import control failed to run, 0 when
  // no patient came in, 1 when one did.  Empty: 0.
  int (*worklist_control)(int operation, char* buffer, std::size_t buffer_size) = nullptr;
  int (*import_worklist_patient)() = nullptr;
  // Empties the two work folders (a way out of the menu that leaves
  // temporary studies behind deletes them).
  void (*purge_work_dirs)() = nullptr;

  // The module link tells the main menu when the measuring module comes
  // and goes, so the menu shows or hides the entries that need it.
  void (*module_connection_changed)(bool connected) = nullptr;
};

// The one table of the run.
ModuleTable& module_table();

// Longest text one worklist field read hands out, and the buffer that holds it.
constexpr int kImportFieldChars = 80;
constexpr std::size_t kWorklistBufferSize = kImportFieldChars + 1;

// A worklist control operation through the table; -1 without a worklist.
int call_worklist_control(int operation, char* buffer, std::size_t buffer_size);

}  // namespace vaslab
