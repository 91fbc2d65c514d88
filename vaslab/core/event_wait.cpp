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
  const ButtonRecord* table = nullptr;
  int pending = -1;
  int held = -1;        // index in the table of a button held by the mouse
  bool key_held = false;
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

namespace {

// Keyboard code of a key as the button tables carry it: special keys are
// the virtual-key code plus 256; space, digits and letters lower-case.
int key_code(const platform::WindowMessage& m) {
  namespace vk = platform::vk;
  const int k = m.key;
  if (k == vk::kReturn) return m.ctrl ? 270 : 269;
  if (k == vk::kBack || k == vk::kEscape || (k >= vk::kPrior && k <= vk::kDown) || k == vk::kInsert ||
      k == vk::kDelete || k == vk::kF2 || k == 120 || k == 121)
    return k + 256;
  if (k == ' ' || (k >= '0' && k <= '9')) return k;
  if (k >= 'A' && k <= 'Z') return k + 32;
  if (k >= 'a' && k <= 'z') return k;
  return 0;
}

int code_of_key(const ButtonRecord* t, int code) {
  if (!t || code == 0) return -1;
  for (; !is_table_end(*t) && t->keyboard_code != 0; ++t)
    if (t->keyboard_code == code) return t->button_code;
  return -1;
}

}  // namespace

void keyboard_input(const platform::WindowMessage& m) {
  if (m.msg == platform::Msg::kKeyDown && m.key == platform::vk::kCapital) caps_lock_key_pressed();
  if (m.msg == platform::Msg::kKeyDown && g_ev.held < 0) {
    const int code = code_of_key(g_ev.table, key_code(m));
    if (code != -1) g_ev.pending = code;
  }
}

void mouse_input(const platform::WindowMessage& m) {
  const ButtonRecord* t = g_ev.table;
  if (!t) return;
  if (m.msg == platform::Msg::kLeftDown && g_ev.held < 0) {
    const int x = m.x / g_screen_geometry.x_scale, y = static_cast<int>(m.y / g_screen_geometry.y_scale);
    for (int i = 0; !is_table_end(t[i]); ++i) {
      const ButtonRecord& b = t[i];
      if (b.state != 0 && x >= b.x1 && x <= b.x2 && y >= b.y1 && y <= b.y2) {
        g_ev.held = i;
        g_ev.pending = b.button_code;
        draw_button_pressed(b);
        return;
      }
    }
  } else if (m.msg == platform::Msg::kLeftUp && g_ev.held >= 0) {
    draw_button_normal(t[g_ev.held]);
    g_ev.pending = -t[g_ev.held].button_code;
    g_ev.held = -1;
  }
}

bool touch_or_mouse_held() { return g_ev.held >= 0; }

namespace {

// Without a window nothing can be pressed: the wait behaves as after the
// window was closed.
bool loop_dead() { return !g_ev.live || !main_window_exists(); }

}  // namespace

int get_button_event(const ButtonRecord* table) {
  g_ev.table = table;
  if (loop_dead()) {
    for (const ButtonRecord* b = table; b && !is_table_end(*b); ++b)
      if (b->keyboard_code == 283) return b->button_code;
    return 1;
  }
  poll_input_events(1);
  const int code = g_ev.pending;
  g_ev.pending = -1;
  return code;
}

void wait_button_release(const ButtonRecord* table) {
  g_ev.table = table;
  while (g_ev.held >= 0 && !loop_dead()) {
    poll_input_events(1);
    g_ev.pending = -1;
  }
}

void drain_button_events(const ButtonRecord* table) {
  int quiet = 0;
  while (quiet < 3) {
    if (loop_dead() || get_button_event(table) < 0) ++quiet;
    wait_button_release(table);
  }
}

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
