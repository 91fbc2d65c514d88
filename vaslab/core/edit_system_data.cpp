#include "vaslab/core/edit_system_data.h"

#include "vaslab/core/event_wait.h"

namespace vaslab {

// Until the screen exists, set-up mode waits for the window to close.
int edit_system_data() {
  while (is_event_loop_live()) poll_input_events(1);
  return 0;
}

}  // namespace vaslab
