#include "vaslab/core/setup_menu.h"

namespace vaslab {

// Stand-in until the set-up menus are built: nothing to set up yet, and the
// main menu simply redraws.
int run_setup_menu() { return 0; }

}  // namespace vaslab
