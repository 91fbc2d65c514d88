#include "vaslab/core/input/system_utils.h"

#include <time.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/clock.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "platform/window.h"
#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/settings/module_table.h"
#include "vaslab/core/toolkit/main_window.h"
#include "vaslab/core/toolkit/message_box.h"
#include "vaslab/core/toolkit/screen.h"
#include "vaslab/core/toolkit/stopwatch.h"

namespace vaslab {
namespace {

struct TickTimer {
  std::uint32_t start = 0;
  std::uint32_t period = 0;
  std::int16_t mode = 0;
};

constexpr int kSlots = 5;
TickTimer g_timers[kSlots];

std::uint8_t g_keyboard_flags = 0;
std::uint16_t g_step_slot = 0;
bool g_beep_latch = false;

// The high-resolution counter's frequency: negative until first asked.
std::int64_t g_counter_frequency = -1;

bool slot_valid(int slot) { return slot >= 0 && slot < kSlots; }

bool accept(const platform::FoundFile& e, std::uint32_t mask) { return (e.attributes & mask) == mask; }

int take_next(FileFind& f) {
  while (f.next < f.entries.size()) {
    const platform::FoundFile& e = f.entries[f.next++];
    if (!accept(e, f.attribute_mask)) continue;
    f.data = e;
    std::snprintf(f.name, sizeof f.name, "%s", e.name.c_str());
    return 0;
  }
  return 1;
}

// The launcher's writable argument texts: modules may rewrite them.
char g_arg_name[2][12];
char g_arg_one[4][2];

int run_module(int (*entry)(int, char*[]), const char* name, const char* second, int argc) {
  if (entry == nullptr) return 0;
  std::snprintf(g_arg_name[0], sizeof g_arg_name[0], "%s", name);
  std::snprintf(g_arg_name[1], sizeof g_arg_name[1], "%s", second);
  char* argv[7] = {g_arg_name[0], g_arg_name[1]};
  for (int i = 0; i < 4; ++i) {
    std::snprintf(g_arg_one[i], sizeof g_arg_one[i], "1");
    argv[2 + i] = g_arg_one[i];
  }
  argv[argc] = nullptr;
  return entry(argc, argv);
}

}  // namespace

// --- Tick timers ---------------------------------------------------------------

void start_tick_timer(int slot, std::uint32_t period_ms, int mode) {
  if (!slot_valid(slot)) return;
  g_timers[slot] = TickTimer{platform::tick_ms(), period_ms, static_cast<std::int16_t>(mode)};
}

int tick_timer_expired(int slot) {
  if (!is_event_loop_live() || !slot_valid(slot)) return 1;
  TickTimer& t = g_timers[slot];
  if (t.mode == 0) return 1;
  if (slot == 3) poll_input_events(0);
  if (!is_event_loop_live()) return 1;
  // Modular difference: right across the 32-bit wrap of the tick count.
  if (platform::ticks_since(t.start, platform::tick_ms()) < t.period) return 0;
  if (t.mode == kTickOneShot)
    t.mode = 0;
  else
    t.start += t.period;
  return 1;
}

std::uint32_t until_next_tick_timer(std::uint32_t max_ms) {
  std::uint32_t ms = max_ms;
  const std::uint32_t now = platform::tick_ms();
  for (const TickTimer& t : g_timers) {
    if (t.mode == 0) continue;
    // A slot whose period ran out before the wait is one the waiting screen
    // does not look at (a slot the screen watches is taken when it runs
    // out): waiting for it would end every wait at once.
    const std::uint32_t elapsed = platform::ticks_since(t.start, now);
    if (elapsed < t.period) ms = std::min(ms, t.period - elapsed);
  }
  return ms;
}

void reset_tick_timers() {
  for (auto& t : g_timers) t = TickTimer{};
}

// --- Emulated BIOS data area -------------------------------------------------

int read_caps_lock() {
  auto* b = platform::window_backend();
  const bool on = b && b->caps_lock_on();
  g_keyboard_flags = on ? 0x40 : 0;
  return on ? 1 : 0;
}

int peek_keyboard_flags(int segment, int address) {
  if (segment == 0 && address == kKeyboardFlagsAddress) return g_keyboard_flags;
  return 0;
}

void poke_keyboard_flags(int segment, int address, int value) {
  if (segment != 0 || address != kKeyboardFlagsAddress) return;
  if ((value & 0x40) == (g_keyboard_flags & 0x40)) return;
  // Press and release Caps Lock; the flag follows from the key-down, so the
  // system's state and the emulated one change together.
  platform::WindowMessage down;
  down.msg = platform::Msg::kKeyDown;
  down.key = platform::vk::kCapital;
  platform::WindowMessage up = down;
  up.msg = platform::Msg::kKeyUp;
  window_proc(down);
  window_proc(up);
}

void toggle_caps_lock() { poke_keyboard_flags(0, kKeyboardFlagsAddress, g_keyboard_flags ^ 0x40); }

void caps_lock_key_pressed() { g_keyboard_flags ^= 0x40; }

void poke_comm_area_word(int segment, int address, int value) {
  if (segment == 0 && address == kStepSlot) g_step_slot = static_cast<std::uint16_t>(value);
}

std::uint16_t peek_comm_area_word(int segment, int address) {
  if (segment == 0 && address == kStepSlot) return g_step_slot;
  return 0xFFFF;
}

// --- File search ----------------------------------------------------------------

int find_first_file(const std::string& pattern, FileFind& f, std::uint32_t attribute_mask) {
  f = FileFind{};
  f.attribute_mask = attribute_mask;
  f.entries = platform::list_files(pattern);
  if (f.entries.empty()) return 1;
  f.handle = 1;
  return take_next(f);
}

int find_next_file(FileFind& f) {
  if (f.handle == -1) return 1;
  return take_next(f);
}

void find_close(FileFind& f) {
  f.handle = -1;
  f.entries.clear();
  f.next = 0;
}

// --- Time, delay, beep, pointer ----------------------------------------------

void format_now_date_time(char* buf) { format_date_time(::time(nullptr), buf); }

void format_date_time(std::int64_t when, char* buf) {
  const time_t now = static_cast<time_t>(when);
  struct tm local;
  ::localtime_r(&now, &local);
  if (::strftime(buf, 22, "%m/%d/%Y %I:%M %p", &local) == 0) buf[0] = 0;
}

void delay_ms(std::int16_t ms) {
  if (ms < 0) return;
  platform::Clock& c = platform::clock();
  if (g_counter_frequency < 0) g_counter_frequency = c.perf_frequency();
  if (g_counter_frequency == 0) {
    c.sleep_ms(static_cast<std::uint32_t>(ms));
    return;
  }
  std::int64_t units = static_cast<std::int64_t>(ms) * g_counter_frequency / 1000;
  if (units == 0) units = 10;
  const std::int64_t end = c.perf_counter() + units;
  while (c.perf_counter() < end) {
  }
}

void beep_once() {
  if (g_beep_latch) return;
  if (auto* b = platform::window_backend()) b->beep();
  g_beep_latch = true;
}

void clear_beep_latch() { g_beep_latch = false; }

std::int32_t get_pointer_position() { return pointer_position(); }

// --- Module launcher --------------------------------------------------------------

namespace {

// An outside program that did not start is told in a box naming it, as the
// options screen tells its own; the screen under it is redrawn by its owner.
void tell_not_started(const std::string& program, int error) {
  std::string name = program.substr(program.find_last_of('\\') + 1);
  const std::string title = "Error running " + name;
  std::string text = error == ENOENT ? program + " not found" : program + ": " + std::strerror(error);
  show_message_box(nullptr, text.c_str(), title.c_str(), 0);
  mark_dirty(kDirtyWholeWindow);
}

}  // namespace

int run_menu_module(int code) {
  start_stopwatch();
  int result = 0;
  switch (code) {
    case 1:
      if (const auto calibrate = module_table().touch_calibration) calibrate();
      break;
    case 2: {
      const std::string program = "C:\\PROGRAMS\\UCONFIG\\UCONFIG";
      const std::string path = platform::find_program(program);
      if (path.empty()) {
        result = platform::kNotStarted;
        tell_not_started(program, ENOENT);
        break;
      }
      minimise_main_window();
      errno = 0;
      result = platform::run_shell(platform::shell_quote(path));
      const int error = errno;
      restore_main_window();
      mark_dirty(kDirtyWholeWindow);
      // The command interpreter says 126 for a file it cannot run and 127
      // for one it cannot find (a script whose interpreter is missing).
      if (result == platform::kNotStarted || result == 126 || result == 127)
        tell_not_started(program, result == 126 ? EACCES : result == 127 ? ENOENT : error ? error : ENOENT);
      break;
    }
    case 4: result = run_module(module_table().study_menu, "mastermn", "M", 2); break;
    case 6: result = run_module(module_table().study_menu, "mastermn", "L", 2); break;
    case 10: result = run_module(module_table().study_menu, "mastermn", "P", 2); break;
    case 7: result = run_module(module_table().diagnostic_steps, "dopalign", "dopalign", 6); break;
    case 8:
      if (const auto align = module_table().pressure_alignment) result = align();
      break;
    case 9: {
      const std::string program = "A:\\Z7ERIVA";
      errno = 0;
      result = platform::run_program(program, {program});
      if (result == platform::kNotStarted) tell_not_started(program, errno ? errno : ENOENT);
      break;
    }
    default: break;
  }
  start_stopwatch();
  return static_cast<std::int16_t>(result);
}

}  // namespace vaslab
