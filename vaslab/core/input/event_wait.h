// The event wait: every screen is a loop that draws its background and its
// button table and then asks for the next button event.  Five inputs become
// one stream of button codes: the keyboard and the mouse (through the window
// procedure), the touch panel, the infrared remote and the front-panel keys.
//
// An event is a button's code on a press, its negation on the release,
// the code plus 0x1000 for each repeat of a held button, and -1 for nothing.
// In typing mode a printable key typed on a keyboard is its character code.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/window.h"
#include "vaslab/core/toolkit/buttons.h"

namespace vaslab {

constexpr int kNoEvent = -1;
constexpr int kRepeatBit = 0x1000;
constexpr int kEscapeKeyCode = 283;
// How long a new screen must have been up before a press counts on it: a
// hurried double tap comes 50 to 200 ms apart, and a touch panel bounces.
constexpr std::uint32_t kPressSettleMs = 250;

// Event modes.
constexpr int kModeTyping = 0;
constexpr int kModeRepeat = 1;
constexpr int kModeCapture = 2;

// One full pass against the table, one step of the print spooler, and the
// event it produced.  Once the window is gone: the code of the table's Escape
// button (1 without one), at once.
int get_button_event(const ButtonRecord* table);
// Full passes, discarding what they produce, while a press is held.
void wait_button_release(const ButtonRecord* table);
// Passes until three in a row produced nothing or a release, so that a press
// does not fall through to the next screen.
void drain_button_events(const ButtonRecord* table);
// A press that was acted on and then followed by a new screen (one filled
// anew, or a wait on another table) leaves the new screen settling for a
// short while: a press that comes meanwhile is dropped, as the second tap of
// a hurried double tap meant for the screen before.  Only the key that
// acted is dropped of the keyboard's.  The milliseconds until presses count
// again; 0 when they count now.
std::uint32_t press_settling_ms();
// The same in typing mode: printable keys come as their character codes.
int get_button_event_typing(const ButtonRecord* table);
void wait_button_release_typing(const ButtonRecord* table);

void set_button_mode_capture();
void set_button_mode_repeat();
// Capture mode is on: a live study must not be held up by a box.
bool in_capture_mode();

// A screen that works between passes (the main menu while it connects the
// measuring module) keeps its idle passes short: each ends as soon as the
// module or another input has something, or the next tick timer is due.
void keep_passes_short(bool on);

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
// A touch or mouse press is in progress.
bool touch_or_mouse_held();
// The table the last wait matched presses against.
const ButtonRecord* current_button_table();

// The inputs other than the window: the touch panel, the remote, the front
// panel and the print spooler.  The instrument's own are used unless a test
// installs others.
class InputSources {
 public:
  virtual ~InputSources() = default;
  // Non-zero while the panel is pressed, with the point in 640 by 480 space.
  virtual int touch_position(std::int16_t& x, std::int16_t& y) = 0;
  // Key number 0..31 of a remote frame, 0 for a zero byte, -1 for nothing.
  virtual int remote_key() = 0;
  virtual void push_back_remote_key(int key) = 0;
  // -1 when no front-panel key is down, else its value.
  virtual int front_panel_key() = 0;
  virtual void step_spooler() = 0;
  // True while a source that sends no window messages is configured, or a
  // print job is under way, so that idle passes must look at it often.
  virtual bool needs_polling() = 0;
  // The descriptors that turn readable when one of these sources (or the
  // measuring module) has input, and the longest a wait may last before the
  // sources are looked at anyway.  False when a source cannot be waited on:
  // a live study then looks at them again at once.
  virtual bool wait_descriptors(std::vector<int>& /*fds*/, std::uint32_t& /*max_ms*/) { return false; }
};
void set_input_sources(InputSources* sources);

// Back to the start state (program start, tests).
void reset_event_state();

}  // namespace vaslab
