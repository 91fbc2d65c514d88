// The start screen and the main menu.
#pragma once

namespace vaslab {

// Runs the start screen and the main menu until the program is to end:
// 1 when the start screen's exit button ended it, 0 otherwise.
int run_main_menu();

}  // namespace vaslab
