#include "vaslab/core/input/event_wait.h"

#include <algorithm>
#include <cassert>
#include <cstring>

#include "platform/clock.h"
#include "vaslab/core/input/digital_io.h"
#include "vaslab/core/input/system_utils.h"
#include "vaslab/core/input/touch_remote.h"
#include "vaslab/core/links/module_link.h"
#include "vaslab/core/links/serial_links.h"
#include "vaslab/core/settings/module_table.h"
#include "vaslab/core/settings/settings.h"
#include "vaslab/core/toolkit/main_window.h"
#include "vaslab/core/toolkit/screen.h"

namespace vaslab {
namespace {

enum PressState { kIdle = 0, kKeyboardHold = 1, kMouseHold = 2, kRemoteHold = 3, kPanelHold = 4, kTouchHold = 5 };

constexpr int kRepeatDelayTicks = 10;
// The touch panel, the remote and the front panel deliver no window
// messages: while one is configured, an idle pass polls them at least this
// often; otherwise it waits for input, the next waking window timer (the
// stopwatch's quarter second) or the next tick timer, but never longer than
// the longest quiet wait.  A live study waits on its descriptors at most the
// longest idle wait.
constexpr std::uint32_t kPollingWaitMs = 10;
constexpr std::uint32_t kLongestIdleWaitMs = 50;
constexpr std::uint32_t kLongestQuietWaitMs = 1000;

// What must hold between the fields, asserted on entry to every operation
// in debug and test builds:
//  1. `press` is one of PressState; `mode` one of the button modes.
//  2. A hold is on exactly when `press` is not kIdle: then `held` indexes an
//     entry of `held_table` before its end entry (the table may have been
//     replaced since, so the held button is found in the one it came from);
//     else `held` is -1 and `held_table` null.
//  3. The repeat counters never go below zero; the delay starts at
//     kRepeatDelayTicks and only counts down; `remote_hold` is at most 3.
struct EventState {
  [[maybe_unused]] bool check_invariants() const;

  const ButtonRecord* table = nullptr;
  int pending = kNoEvent;
  int held = -1;
  const ButtonRecord* held_table = nullptr;  // the table `held` indexes
  int press = kIdle;
  int repeat_ticks = 0;
  int repeat_delay = 0;
  int remote_hold = 0;
  int mode = kModeRepeat;
  bool capture_mode = false;
  bool capture_pending = false;
  bool window_active = true;
  bool live = true;
  bool ignore_next_click = false;
  // A letter, digit or space key that pressed a button outside typing mode
  // also sends its character; that character is dropped, or the screen the
  // button opens would take it as typed.
  bool drop_next_char = false;
  int pointer = 0;
  bool short_passes = false;

  // A press was acted on: the next new screen (see screen_settling) must
  // settle before a press counts on it.  The table it came from, the
  // screen fills by then and the key that made it (0 for the other inputs).
  bool armed = false;
  const ButtonRecord* armed_table = nullptr;
  std::uint32_t armed_fills = 0;
  int armed_key = 0;
  // The key of the last press taken (0 when it was not a key).
  int last_key = 0;
  bool settling = false;
  std::uint32_t settle_until = 0;
  int settle_key = 0;
  // A hold begun on the screen before: its repeats and release are not
  // this screen's.
  bool hold_dropped = false;
  // A dropped press lasts until it is let go; its hold is not taken up later.
  bool touch_dropped = false;
  bool panel_dropped = false;
  int dropped_key = 0;
};

EventState g_ev;

bool EventState::check_invariants() const {
  if (press < kIdle || press > kTouchHold) return false;
  if (mode != kModeTyping && mode != kModeRepeat && mode != kModeCapture) return false;
  if ((press == kIdle) != (held < 0) || (held < 0) != (held_table == nullptr)) return false;
  if (held < -1) return false;
  for (int i = 0; i < held; ++i)
    if (is_table_end(held_table[i])) return false;
  if (held >= 0 && is_table_end(held_table[held])) return false;
  return repeat_ticks >= 0 && repeat_delay >= 0 && repeat_delay <= kRepeatDelayTicks && remote_hold >= 0 &&
         remote_hold <= 3;
}

// Key bits of capture mode.
int key_bit(int vk) {
  using namespace platform::vk;
  switch (vk) {
    case kUp: return 1;
    case kDown: return 2;
    case kRight: return 4;
    case kLeft: return 8;
    case 107: return 16;  // numeric-pad plus
    case kPrior: return 32;
    case kNext: return 64;
    case kInsert: return 128;
    case kDelete: return 256;
    case kEscape: return 512;
    case kSpace: return 1024;
    case kHome: return 2048;
    case kEnd: return 4096;
    case kF9: return 8192;
    case kF10: return 16384;
    case kF1: return 32768;
    default: return 0;
  }
}

bool is_special_key(int vk) {
  using namespace platform::vk;
  return vk == kBack || vk == kReturn || vk == 14 || vk == kEscape || (vk >= kPrior && vk <= kDown) ||
         vk == kInsert || vk == kDelete || vk == kF2 || vk == kF9 || vk == kF10;
}

// The keyboard code of a key in typing and repeat modes; 0 for a key that is
// left to the character message or ignored.
int keyboard_code(const platform::WindowMessage& m) {
  int vk = m.key;
  if (vk == platform::vk::kReturn && m.ctrl) vk = 14;
  if (is_special_key(vk)) return vk + 256;
  if (g_ev.mode == kModeTyping) return 0;
  if (vk == platform::vk::kSpace || (vk >= '0' && vk <= '9')) return vk;
  if (vk >= 'A' && vk <= 'Z') return vk + 32;
  return 0;
}

bool caps_lock_on() { return (peek_keyboard_flags(0, kKeyboardFlagsAddress) & 0x40) != 0; }

int letter_rule(int code) {
  if (code >= 'A' && code <= 'Z' && !caps_lock_on()) return code + 32;
  return code;
}

int low_byte_letter_rule(int code) {
  const int low = code & 0xFF;
  if (low >= 'A' && low <= 'Z' && !caps_lock_on()) return code + 32;
  return code;
}

// --- Table walks: each stops at its own sentinel and never past the end entry.

int hit_test(int x, int y) {
  if (!g_ev.table) return -1;
  for (int i = 0; !is_table_end(g_ev.table[i]); ++i) {
    const ButtonRecord& b = g_ev.table[i];
    if (b.state != 0 && x >= b.x1 && x <= b.x2 && y >= b.y1 && y <= b.y2) return i;
  }
  return -1;
}

int find_remote(int byte) {
  if (!g_ev.table) return -1;
  for (int i = 0; !is_table_end(g_ev.table[i]) && g_ev.table[i].remote_key != 255; ++i)
    if (g_ev.table[i].remote_key == byte) return i;
  return -1;
}

int find_keyboard(int code) {
  if (!g_ev.table) return -1;
  for (int i = 0; !is_table_end(g_ev.table[i]) && g_ev.table[i].keyboard_code != 0; ++i)
    if (g_ev.table[i].keyboard_code == code) return i;
  return -1;
}

const ButtonRecord& held_button() { return g_ev.held_table[g_ev.held]; }

void start_hold(int index, int press_state) {
  g_ev.held = index;
  g_ev.held_table = g_ev.table;
  g_ev.repeat_delay = kRepeatDelayTicks;
  g_ev.repeat_ticks = 0;
  g_ev.press = press_state;
}

void release_hold(bool redraw) {
  if (g_ev.held >= 0 && g_ev.held_table && !g_ev.hold_dropped) {
    if (redraw) draw_button_normal(held_button());
    g_ev.pending = -held_button().button_code;
  }
  g_ev.hold_dropped = false;
  g_ev.held = -1;
  g_ev.held_table = nullptr;
  g_ev.press = kIdle;
}

// One repeat tick of a hold; true when it produced the repeat.
bool repeat_step() {
  if (g_ev.repeat_ticks <= 0) return false;
  --g_ev.repeat_ticks;
  if (g_ev.repeat_delay != 0) {
    --g_ev.repeat_delay;
    return false;
  }
  return true;
}

// --- Settling ----------------------------------------------------------------

// The screen a press acted on is followed by another once the whole screen
// has been filled anew or the wait asks for another table.  Until that one
// has been up for kPressSettleMs a press is dropped: it was meant for what was
// there before (the second tap of a hurried double tap, a touch still down).
// Keys are the exception: typing ahead is deliberate, so only the key that
// acted is dropped, as a key bounce or a double Enter.
bool screen_settling() {
  const std::uint32_t now = platform::tick_ms();
  if (g_ev.armed && (whole_screen_fills() != g_ev.armed_fills || g_ev.table != g_ev.armed_table)) {
    g_ev.armed = false;
    g_ev.settling = true;
    g_ev.settle_until = now + kPressSettleMs;
    g_ev.settle_key = g_ev.armed_key;
    // Taken against the last screen's table and not yet asked for.
    g_ev.pending = kNoEvent;
    // A button held on through a repaint of its own screen goes on
    // repeating (a list scrolled by holding its arrow).
    if (g_ev.press != kIdle && g_ev.table != g_ev.held_table) g_ev.hold_dropped = true;
  }
  if (g_ev.settling && static_cast<std::int32_t>(now - g_ev.settle_until) >= 0) g_ev.settling = false;
  return g_ev.settling;
}

// True when a press is dropped; `key` is its key code for a keyboard press,
// else 0.
bool press_dropped(int key) {
  if (screen_settling() && (key == 0 || key == g_ev.settle_key)) return true;
  g_ev.last_key = key;
  return false;
}

// --- Input sources -----------------------------------------------------------

class InstrumentInputs : public InputSources {
  static bool spooler_busy() {
    const auto busy = module_table().print_spooler_busy;
    return busy != nullptr && busy();
  }

 public:
  int touch_position(std::int16_t& x, std::int16_t& y) override { return get_touch_position(&x, &y); }
  int remote_key() override { return receive_remote_key(); }
  void push_back_remote_key(int key) override { vaslab::push_back_remote_key(key); }
  int front_panel_key() override { return read_front_panel_key(); }
  void step_spooler() override {
    if (const auto step = module_table().step_print_spooler) step();
  }
  bool needs_polling() override {
    const HardwareSettings& hw = hardware_settings();
    return (hw.touch_type & 3) < 2 || hw.ir_remote_enabled || front_panel_present() || spooler_busy();
  }
  bool wait_descriptors(std::vector<int>& fds, std::uint32_t& max_ms) override {
    // The front panel is read from its port, and a pushed-back remote key
    // is already here: neither can be waited for.
    if (front_panel_present() || remote_key_pushed_back()) return false;
    for (const int fd : {module_wait_descriptor(), link_wait_descriptor(SerialDevice::kTouch),
                         link_wait_descriptor(SerialDevice::kRemote)}) {
      if (fd == kCannotWatch) return false;
      if (fd >= 0) fds.push_back(fd);
    }
    // Printing goes on in the passes.
    if (spooler_busy()) max_ms = std::min(max_ms, kPollingWaitMs);
    return true;
  }
};

InstrumentInputs g_instrument_inputs;
InputSources* g_sources = &g_instrument_inputs;

// A live study, and the main menu while it connects the module, take each
// module byte and each input as soon as it comes: they wait on the sources'
// descriptors and the window, with the next timer as the time-out.  False
// (at once) where a source offers nothing to wait on.
bool wait_on_sources() {
  std::vector<int> fds;
  std::uint32_t max_ms = kLongestIdleWaitMs;
  if (!g_sources->wait_descriptors(fds, max_ms)) return false;
  platform::wait_for_input(until_next_tick_timer(max_ms), fds);
  return true;
}

void idle_step() {
  if (!g_ev.window_active) return;
  std::int16_t tx = 0, ty = 0;
  const bool touched = g_sources->touch_position(tx, ty) != 0;
  if (!touched) g_ev.touch_dropped = false;
  if (touched && !g_ev.touch_dropped) {
    const int i = hit_test(tx, ty);
    if (i >= 0 && press_dropped(0)) {
      g_ev.touch_dropped = true;
    } else if (i >= 0) {
      start_hold(i, kTouchHold);
      draw_button_pressed(g_ev.table[i]);
      const int code = g_ev.table[i].button_code;
      g_ev.pending = g_ev.mode == kModeTyping ? low_byte_letter_rule(code) : code;
      g_ev.pointer = (ty << 16) | (tx & 0xFFFF);
      return;
    }
  }
  const int k = g_sources->remote_key();
  const int v = remote_key_value(k);
  if (k > 0 && v >= 0) {
    const int i = find_remote(v & 0xFF);
    if (i >= 0 && !press_dropped(0)) {
      start_hold(i, kRemoteHold);
      g_ev.remote_hold = 2;
      g_ev.pending = g_ev.table[i].button_code;
      return;
    }
  }
  const int panel = g_sources->front_panel_key();
  if (panel < 0) g_ev.panel_dropped = false;
  if (panel >= 0 && !g_ev.panel_dropped) {
    const int i = find_remote(panel & 0xFF);
    if (i >= 0 && press_dropped(0)) {
      g_ev.panel_dropped = true;
    } else if (i >= 0) {
      start_hold(i, kPanelHold);
      g_ev.pending = g_ev.table[i].button_code;
      return;
    }
  }
  if (!touched && k == -1 && panel < 0) clear_beep_latch();
}

void pointer_hold_step(bool touch) {
  if (!repeat_step()) return;
  const int code = held_button().button_code;
  if (g_ev.mode != kModeTyping)
    g_ev.pending = code + kRepeatBit;
  else if (touch || g_ev.press == kMouseHold)
    g_ev.pending = letter_rule(code);
  else
    g_ev.pending = code;
}

void remote_hold_step() {
  const int k = g_sources->remote_key();
  if (g_ev.repeat_ticks > 0) {
    --g_ev.repeat_ticks;
    if (g_ev.repeat_delay != 0) {
      --g_ev.repeat_delay;
    } else if (g_ev.remote_hold != 0) {
      --g_ev.remote_hold;
      if (g_ev.remote_hold != 0) {
        g_ev.pending = held_button().button_code + kRepeatBit;
        return;
      }
    }
  }
  const int v = remote_key_value(k);
  if (k > 0 && v >= 0 && (v & 0xFF) == held_button().remote_key) {
    g_ev.remote_hold = 3;
  } else if (k > 0 && v >= 0) {
    g_sources->push_back_remote_key(k);
    release_hold(false);
  } else if (k > 0 || k == 0) {
    release_hold(false);
  } else if (g_ev.remote_hold == 0) {
    release_hold(false);
  }
}

void panel_hold_step() {
  if (g_sources->front_panel_key() < 0) {
    release_hold(false);
    return;
  }
  if (repeat_step()) g_ev.pending = held_button().button_code + kRepeatBit;
}

void full_pass() {
  if (!g_ev.live || !main_window_exists()) return;
  screen_settling();
  flush_dirty();
  const int pending_before = g_ev.pending;
  const int press_before = g_ev.press;
  // At most one message that changes the event state is taken per pass, so
  // no press is lost between two passes.
  if (!platform::pump_messages([&] { return g_ev.pending == pending_before && g_ev.press == press_before; }))
    g_ev.live = false;
  if (!g_ev.live) return;

  if (!g_ev.window_active) {
    if (g_ev.capture_mode)
      g_ev.capture_pending = true;
    else
      platform::sleep_ms(5);
  } else if (g_ev.press == kIdle && g_ev.capture_mode) {
    wait_on_sources();  // a live study looks again at once when it cannot wait
  } else if (g_ev.press == kIdle && g_ev.short_passes && wait_on_sources()) {
    // Woken by the module, a press or the connection's time-out.
  } else if (g_ev.press == kIdle) {
    // Idle: sleep until input comes or a timer is due, instead of waking a
    // thousand times a second, or twenty.
    platform::wait_for_input(g_ev.short_passes || g_sources->needs_polling()
                                 ? kPollingWaitMs
                                 : until_next_tick_timer(kLongestQuietWaitMs));
  }
  if (g_ev.pending != kNoEvent) return;

  switch (g_ev.press) {
    case kIdle: idle_step(); break;
    case kKeyboardHold:
    case kMouseHold: pointer_hold_step(false); break;
    case kTouchHold: {
      // The pointer follows the pen while it is down and is forgotten when
      // it lifts, as for the mouse.
      std::int16_t x = 0, y = 0;
      if (g_sources->touch_position(x, y) == 0) {
        g_ev.pointer = 0;
        release_hold(true);
      } else {
        g_ev.pointer = (y << 16) | (x & 0xFFFF);
        pointer_hold_step(true);
      }
      break;
    }
    case kRemoteHold: remote_hold_step(); break;
    case kPanelHold: panel_hold_step(); break;
    default: break;
  }
  if (g_ev.hold_dropped) g_ev.pending = kNoEvent;
}

int first_code_where(const ButtonRecord* table, bool (*pred)(const ButtonRecord&), int otherwise) {
  if (!table) return otherwise;
  for (int i = 0; table[i].x1 >= 0; ++i)
    if (pred(table[i])) return table[i].button_code;
  return otherwise;
}

bool is_escape_button(const ButtonRecord& b) { return b.keyboard_code == kEscapeKeyCode; }

bool is_capture_button(const ButtonRecord& b) {
  char text[kButtonLabelSize];
  button_label_text(b, text, sizeof text);
  return std::strcmp(text, "CAPTURE") == 0;
}

int with_mode(int mode, const ButtonRecord* table, int (*call)(const ButtonRecord*)) {
  const int saved = g_ev.mode;
  g_ev.mode = mode;
  const int r = call(table);
  g_ev.mode = saved;
  return r;
}

}  // namespace

void set_input_sources(InputSources* sources) { g_sources = sources ? sources : &g_instrument_inputs; }

void reset_event_state() { g_ev = EventState{}; }

void stop_event_loop() { g_ev.live = false; }
bool is_event_loop_live() { return g_ev.live; }
int pointer_position() { return g_ev.pointer; }
const ButtonRecord* current_button_table() { return g_ev.table; }
bool touch_or_mouse_held() { return g_ev.press == kMouseHold || g_ev.press == kTouchHold; }
void add_repeat_tick() { ++g_ev.repeat_ticks; }

void set_button_mode_capture() {
  assert(g_ev.check_invariants());
  g_ev.mode = kModeCapture;
  g_ev.capture_mode = true;
}

void keep_passes_short(bool on) { g_ev.short_passes = on; }

bool in_capture_mode() { return g_ev.capture_mode; }

void set_button_mode_repeat() {
  assert(g_ev.check_invariants());
  g_ev.mode = kModeRepeat;
  g_ev.capture_mode = false;
}

void poll_input_events(int full) {
  assert(g_ev.check_invariants());
  if (full) {
    full_pass();
    return;
  }
  if (!platform::pump_messages()) g_ev.live = false;
  platform::sleep_ms(1);
}

int get_button_event(const ButtonRecord* table) {
  assert(g_ev.check_invariants());
  g_ev.table = table;
  full_pass();
  // Taken before the spooler's step: a box the spooler shows waits for its
  // own answer and must not take, or answer with, a press of this screen.
  const int code = g_ev.pending;
  g_ev.pending = kNoEvent;
  g_sources->step_spooler();
  g_ev.table = table;
  // Without a window every screen leaves at once, as after the window closed.
  if (!g_ev.live || !main_window_exists()) return first_code_where(table, is_escape_button, 1);
  if (g_ev.capture_pending) {
    g_ev.capture_pending = false;
    return first_code_where(table, is_capture_button, code);
  }
  // Button code 0 is a press too (CAPTURE, Proceed, Accept).
  if (code >= 0 && (code & kRepeatBit) == 0) {
    g_ev.armed = true;
    g_ev.armed_table = table;
    g_ev.armed_fills = whole_screen_fills();
    g_ev.armed_key = g_ev.last_key;
  }
  return code;
}

std::uint32_t press_settling_ms() {
  if (!screen_settling()) return 0;
  return platform::ticks_since(platform::tick_ms(), g_ev.settle_until);
}

void wait_button_release(const ButtonRecord* table) {
  assert(g_ev.check_invariants());
  g_ev.table = table;
  while (g_ev.press != kIdle && g_ev.live && main_window_exists()) {
    full_pass();
    g_ev.pending = kNoEvent;
  }
}

void drain_button_events(const ButtonRecord* table) {
  int quiet = 0;
  while (quiet < 3) {
    const int r = get_button_event(table);
    if (r < 0 || !g_ev.live || !main_window_exists()) ++quiet;
    wait_button_release(table);
  }
}

int get_button_event_typing(const ButtonRecord* table) { return with_mode(kModeTyping, table, get_button_event); }

void wait_button_release_typing(const ButtonRecord* table) {
  with_mode(kModeTyping, table, [](const ButtonRecord* t) {
    wait_button_release(t);
    return 0;
  });
}

// --- The window procedure's side ---------------------------------------------

void keyboard_input(const platform::WindowMessage& m) {
  assert(g_ev.check_invariants());
  using platform::Msg;
  if (m.msg == Msg::kKeyDown && m.key == platform::vk::kCapital && !m.repeat) caps_lock_key_pressed();

  if (m.msg == Msg::kChar) {
    if (g_ev.drop_next_char) {
      g_ev.drop_next_char = false;
      return;
    }
    if (g_ev.mode == kModeTyping && g_ev.press == kIdle && m.key >= 32 && m.key <= 126) g_ev.pending = m.key;
    return;
  }

  if (m.msg == Msg::kKeyDown) {
    g_ev.drop_next_char = false;
    if (g_ev.press != kIdle || !g_ev.table) return;
    // A dropped key, and its auto-repeats until it is let go, give nothing:
    // not even the character it types.  The auto-repeats of a key that was
    // taken are a key held on purpose and all count.
    const auto dropped = [&] {
      if (m.repeat ? m.key != g_ev.dropped_key : !press_dropped(m.key)) return false;
      g_ev.dropped_key = m.key;
      g_ev.drop_next_char = true;
      return true;
    };
    if (m.alt) {
      // Alt+K, Alt+L and Alt+S in typing mode; other Alt keys do nothing.
      if (g_ev.mode == kModeTyping && (m.key == 'K' || m.key == 'L' || m.key == 'S')) {
        const int i = find_keyboard(m.key + 256);
        if (i >= 0 && !dropped()) g_ev.pending = g_ev.table[i].button_code;
      }
      return;
    }
    if (g_ev.mode == kModeCapture) {
      const int bit = key_bit(m.key);
      const int i = bit ? find_keyboard(bit) : -1;
      if (i >= 0 && !dropped()) {
        start_hold(i, kKeyboardHold);
        g_ev.pending = g_ev.table[i].button_code;
      }
      return;
    }
    const int code = keyboard_code(m);
    const int i = code ? find_keyboard(code) : -1;
    if (i >= 0 && !dropped()) {
      g_ev.pending = g_ev.table[i].button_code;
      g_ev.drop_next_char = code < 256;
    } else if (i < 0 && g_ev.mode == kModeTyping && code == 0) {
      // A typed character: only the key that acted is dropped.
      (void)dropped();
    }
    return;
  }

  if (m.msg == Msg::kKeyUp && m.key == g_ev.dropped_key) g_ev.dropped_key = 0;
  if (m.msg == Msg::kKeyUp && g_ev.press == kKeyboardHold && g_ev.held >= 0) {
    const int code = g_ev.mode == kModeCapture ? key_bit(m.key) : keyboard_code(m);
    if (code != 0 && code == held_button().keyboard_code) release_hold(false);
  }
}

void mouse_input(const platform::WindowMessage& m) {
  assert(g_ev.check_invariants());
  using platform::Msg;
  const int x = m.x / (g_screen_geometry.x_scale > 0 ? g_screen_geometry.x_scale : 1);
  const int y = static_cast<int>(m.y / (g_screen_geometry.y_scale > 0 ? g_screen_geometry.y_scale : 1.0));
  switch (m.msg) {
    case Msg::kLeftDown: {
      if (g_ev.ignore_next_click) {
        g_ev.ignore_next_click = false;
        return;
      }
      if (g_ev.press != kIdle) return;
      const int i = hit_test(x, y);
      if (i < 0 || press_dropped(0)) return;
      start_hold(i, kMouseHold);
      draw_button_pressed(g_ev.table[i]);
      g_ev.pending = letter_rule(g_ev.table[i].button_code);
      g_ev.pointer = (y << 16) | (x & 0xFFFF);
      return;
    }
    case Msg::kMouseMove:
      if (g_ev.press == kMouseHold) g_ev.pointer = (y << 16) | (x & 0xFFFF);
      return;
    case Msg::kLeftUp:
      if (g_ev.press != kMouseHold) return;
      release_hold(true);
      g_ev.pointer = 0;
      return;
    default:
      return;
  }
}

void window_deactivated() {
  assert(g_ev.check_invariants());
  if (g_ev.press != kIdle) release_hold(false);
  g_ev.window_active = false;
}

void window_activated(bool by_click) {
  assert(g_ev.check_invariants());
  g_ev.window_active = true;
  if (by_click) g_ev.ignore_next_click = true;
}

}  // namespace vaslab
