// The set-up menus that the main menu's Setup button opens.
#pragma once

namespace vaslab {

// Runs the options screen and, behind it, the set-up menus.  Non-zero only
// when the operator chose to leave the workstation from there.
int run_setup_menu();

}  // namespace vaslab
