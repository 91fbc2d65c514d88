// The start screen and the main menu.
#pragma once

namespace vaslab {

// Runs the start screen and the main menu until the program is to end:
// 1 when the start screen's exit button ended it, 0 otherwise.
int run_main_menu();

// Shows or hides the menu entries that need the measuring module (the
// first four of the main menu); the module connection decides.
void set_module_buttons_shown(bool shown);

}  // namespace vaslab
