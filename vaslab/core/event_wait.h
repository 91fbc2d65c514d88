// The event wait: every screen is a loop that asks for the next button event.
// One pass pumps the window messages, sleeps briefly and polls the inputs.
#pragma once

#include "platform/window.h"

namespace vaslab {

// One pass.  With `full` 0 it only pumps every waiting message and sleeps
// 1 ms (long work keeps the window alive this way).
void poll_input_events(int full);

// The event loop dies when the window is destroyed or the quit message is
// read; from then on every wait returns at once.
void stop_event_loop();
bool is_event_loop_live();

// From the window procedure.
void keyboard_input(const platform::WindowMessage& m);
void mouse_input(const platform::WindowMessage& m);
void add_repeat_tick();
// Deactivation releases any hold; activation by a click ignores that click.
void window_deactivated();
void window_activated(bool by_click);

// y * 65536 + x of the mouse during a mouse hold, of the touch point during
// a touch hold (640 by 480 space); 0 otherwise.
int pointer_position();

// Back to the start state (program start, tests).
void reset_event_state();

}  // namespace vaslab
