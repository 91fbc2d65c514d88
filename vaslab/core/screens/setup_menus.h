// The service side of the workstation: the options screen (ABI chart, dual
// and toe options, facility name, the configuration menu program), and behind
// its hidden unlock button the set-up menus: video set-up, diagnostics with
// the calibration items, the keypad test and the about box, and the system
// menu with the date and time, the diskette backup and the system data.
#pragma once

#include <string>

#include "vaslab/core/toolkit/buttons.h"

namespace vaslab {

// The main menu's Setup button: the options screen, then the set-up menus
// when it was unlocked.  Non-zero only when "Exit System" was chosen (the
// main menu then ends the workstation), else 0.
int run_setup_menu();

// The options screen.  1 when the unlock button was pressed the required
// number of times in a row, else 0 (cancel, or accept with the menu program
// ending well).
int run_options_screen();
// Presses of the unlock button in a row that open the set-up menus.
constexpr int kUnlockPresses = 5;

// The "Are you sure?" band with YES and NO: 1 for YES, 0 for NO, after the
// release.
int confirm_are_you_sure();

// Clears the screen and draws the diskette backup menu's buttons and title.
// Its codes: 100 backup archive, 101 restore archive, 102 backup study
// configuration, 103 restore study configuration, 104 exit.
void draw_floppy_backup_menu();
// That menu's button table, for the wait of the diskette backup menu.
const ButtonRecord* floppy_backup_menu_buttons();

// The about box: the start picture, the maker's lines and one OK button.
void show_about_box();

// The keypad test: each front-panel or remote key lights its button while
// held; EXIT (touched, or by its keys) returns.
void run_keypad_screen();

// The argument text the configuration menu program is run with, for option
// bits and a facility name: the option number, nine chart values and the
// facility name in double quotes.
std::string options_program_arguments(int option_bits, const char* facility_name);

// The configuration menu program, run with the options' argument text.
extern const char kOptionsMenuProgram[];

// The date and time settings program: its command line (the program, then
// its arguments, split as a command line) is the value kDateTimeProgramValue
// under the key kProgramRegistryKey of the registry file; none by default.
extern const char kProgramRegistryKey[];
extern const char kDateTimeProgramValue[];

}  // namespace vaslab
