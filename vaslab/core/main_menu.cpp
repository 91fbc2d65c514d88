#include "vaslab/core/main_menu.h"

#include "vaslab/core/event_wait.h"

namespace vaslab {

// Until the menus exist, the workstation waits for the window to close.
int run_main_menu() {
  while (is_event_loop_live()) poll_input_events(1);
  return 0;
}

void set_module_buttons_shown(bool) {}

}  // namespace vaslab
