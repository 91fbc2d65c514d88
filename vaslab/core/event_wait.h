// The event wait: every screen is a loop that asks for the next button event.
// One pass pumps the window messages, sleeps briefly and polls the inputs.
#pragma once

#include "platform/window.h"
#include "vaslab/core/buttons.h"

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

// The next button event of a table: the code of a pressed button, its
// negation on release, -1 for nothing.  Once the event loop is dead: the
// code of the table's Escape button (keyboard code 283), else 1.
int get_button_event(const ButtonRecord* table);
// Passes until no button is held (or the loop is dead).
void wait_button_release(const ButtonRecord* table);
// Passes until three found nothing (or only releases), so that a press does
// not fall through to the next screen.
void drain_button_events(const ButtonRecord* table);
// A touch or mouse press is in progress.
bool touch_or_mouse_held();

// Back to the start state (program start, tests).
void reset_event_state();

}  // namespace vaslab
