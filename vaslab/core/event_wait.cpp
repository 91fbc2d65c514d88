#include "vaslab/core/event_wait.h"

#include "platform/clock.h"
#include "vaslab/core/main_window.h"
#include "vaslab/core/screen.h"
#include "vaslab/core/system_utils.h"

namespace vaslab {
namespace {

struct EventState {
  bool live = true;
  bool window_active = true;
  bool ignore_next_click = false;
  int repeat_ticks = 0;
  int pointer_position = 0;
};

EventState g_ev;

}  // namespace

void reset_event_state() { g_ev = EventState{}; }

void stop_event_loop() { g_ev.live = false; }
bool is_event_loop_live() { return g_ev.live; }

int pointer_position() { return g_ev.pointer_position; }

void add_repeat_tick() { ++g_ev.repeat_ticks; }

void window_deactivated() { g_ev.window_active = false; }

void window_activated(bool by_click) {
  g_ev.window_active = true;
  if (by_click) g_ev.ignore_next_click = true;
}

void keyboard_input(const platform::WindowMessage& m) {
  if (m.msg == platform::Msg::kKeyDown && m.key == platform::vk::kCapital) caps_lock_key_pressed();
}

void mouse_input(const platform::WindowMessage&) {}

void poll_input_events(int full) {
  if (!full) {
    if (!platform::pump_messages()) g_ev.live = false;
    platform::sleep_ms(1);
    return;
  }
  if (!g_ev.live || !main_window_exists()) return;
  flush_dirty();
  if (!platform::pump_messages()) g_ev.live = false;
  platform::sleep_ms(g_ev.window_active ? 1 : 5);
}

}  // namespace vaslab
