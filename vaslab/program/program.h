// The program: the top of the workstation, above every subsystem.  It fills
// the module table through which the lower layers reach the higher ones,
// then runs start-up, the workstation's run sequence or the set-up mode, and
// the shut-down with its exit codes.
#pragma once

namespace vaslab {

// Fills the module table with the subsystems' entries (module_table.h).
// Every program linked with the subsystems has it filled before main runs.
void install_modules();

// The program entry.  `command_line` is the text after the program name
// (empty: run the workstation; anything else: the set-up mode).  Returns the
// exit code.  The window backend must be installed first.
int win_main(const char* command_line);

// 1 when the module link failed, 2 when the remote link failed, else 0
// (whichever way the operator left; the start screen's exit button also
// runs the configured shut-down command).
int run_workstation();
// Reads the settings and runs the Edit System Data screen; always 0.
int run_setup_mode();

}  // namespace vaslab
