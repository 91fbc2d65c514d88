#include "vaslab/core/screens/setup_menus.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/command_line.h"
#include "platform/debug.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/input/system_utils.h"
#include "vaslab/core/screens/edit_system_data.h"
#include "vaslab/core/settings/module_table.h"
#include "vaslab/core/settings/settings.h"
#include "vaslab/core/toolkit/buttons.h"
#include "vaslab/core/toolkit/keyboard_entry.h"
#include "vaslab/core/toolkit/main_window.h"
#include "vaslab/core/toolkit/message_box.h"
#include "vaslab/core/toolkit/screen.h"

namespace vaslab {

const char kOptionsMenuProgram[] = "C:\\PROGRAMS\\UCONFIG\\ZODODOV";
const char kProgramRegistryKey[] = "Software\\Korvani\\vaslab";
const char kDateTimeProgramValue[] = "DateTimeProgram";

namespace {

// Keyboard codes of the special keys the tables use.
constexpr std::uint16_t kKeyEnter = 269;
constexpr std::uint16_t kKeyEscape = kEscapeKeyCode;

// Remote keys: 13 enter, 17 exit; 0 is "none" (255 would end the remote
// lookup of a table early).
constexpr std::uint8_t kRemoteNone = 0;
constexpr std::uint8_t kRemoteEnter = 13;
constexpr std::uint8_t kRemoteExit = 17;

// --- Shared menu look ------------------------------------------------------

struct Menu {
  const char* title;
  int title_y;
  ButtonRecord* table;
};

void draw_menu(const Menu& m) {
  release_background();
  g_draw.fill_color = kColorBackground;
  clear_screen();
  draw_buttons(m.table);
  // In white in the title face, standing on the first button's top.
  set_text_justify(kJustifyCentre, kJustifyBaseline);
  draw_white_text(320, m.title_y + 5, m.title);
  set_text_justify(kJustifyLeft, kJustifyTop);
}

// The next press on a table; the release is left for the caller to wait for.
int wait_press(const ButtonRecord* table) {
  for (;;) {
    const int code = get_button_event(table);
    if (code >= 0 && code < kRepeatBit) return code;
  }
}

// A press and its release.
int wait_choice(const ButtonRecord* table) {
  const int code = wait_press(table);
  wait_button_release(table);
  return code;
}

// Menu buttons: text buttons across the screen.  Keyed ones come first in a
// table, since a keyboard lookup stops at the first button without a key.
ButtonRecord item(int y1, int y2, int key, int code, int remote = kRemoteNone) {
  return make_button(10, y1, 630, y2, "", code, key, remote);
}

template <std::size_t N>
struct Table {
  ButtonRecord b[N + 1];
};

template <std::size_t N>
Table<N> make_table(const ButtonRecord (&items)[N], const char* const (&labels)[N]) {
  Table<N> t;
  for (std::size_t i = 0; i < N; ++i) {
    t.b[i] = items[i];
    set_button_label(t.b[i], labels[i]);
  }
  t.b[N] = kButtonTableEnd;
  return t;
}

// --- Tables ------------------------------------------------------------------

auto g_setup_menu = make_table<5>(
    {item(30, 110, 'v', 100), item(120, 200, 'd', 101), item(210, 290, 's', 102),
     item(300, 380, 'c', 103), item(390, 470, kKeyEscape, 104, kRemoteExit)},
    {"Video setup", "Diagnostics", "System setup", "Configure studies", "EXIT"});

auto g_video_menu = make_table<2>({item(70, 160, 't', 100), item(370, 460, kKeyEscape, 103, kRemoteExit)},
                                  {"Calibrate TOUCH", "EXIT"});

auto g_diagnostics_menu = make_table<6>(
    {item(30, 99, 'c', 100), item(106, 175, 'k', 101), item(182, 251, 'r', 102),
     item(258, 327, 'a', 103), item(334, 400, 'e', 104), item(410, 479, kKeyEscape, 105, kRemoteExit)},
    {"Calibrate", "Keypad", "Reindex Archive", "About", "Exit System", "EXIT"});

auto g_calibration_menu = make_table<5>(
    {item(30, 110, 'd', 100), item(120, 200, 'b', 101), item(210, 290, '3', 102),
     item(300, 380, '4', 103), item(390, 470, kKeyEscape, 104, kRemoteExit)},
    {"Doppler Frequency", "Blood Pressure", "Calibrate 3", "Calibrate 4", "EXIT"});

auto g_system_menu = make_table<4>({item(30, 99, 'd', 100), item(182, 251, 'b', 102),
                                    item(258, 327, 's', 103), item(410, 479, kKeyEscape, 105, kRemoteExit)},
                                   {"Date and Time", "Backup to Floppy", "System Data", "EXIT"});

// EXIT first, then the four items.
auto g_floppy_menu = make_table<5>(
    {item(390, 470, kKeyEscape, 104, kRemoteExit), item(30, 110, 'a', 100), item(120, 200, 'b', 101),
     item(210, 290, 'c', 102), item(300, 380, 'd', 103)},
    {"EXIT", "Backup Archive", "Restore Archive", "Backup Study Configuration", "Restore Study Configuration"});

// --- Options screen ----------------------------------------------------------

constexpr int kCodeAbi = 110, kCodeDual = 111, kCodeToePressure = 112, kCodeToeWaveform = 113;
constexpr int kCodeFacility = 114, kCodeDate = 115, kCodeCancel = 116, kCodeAccept = 117, kCodeUnlock = 118;

constexpr int kAbiMask = 0x03;
constexpr int kDualBit = 0x04;
constexpr int kToePressureBit = 0x08;
constexpr int kToeWaveformBit = 0x10;

ButtonRecord g_options[] = {
    {kButtonShown, 0, 58, 398, 122, "^opt_dual", 'a', kCodeDual, kRemoteNone},
    {kButtonShown, 0, 123, 398, 187, "^opt_toep", 'b', kCodeToePressure, kRemoteNone},
    {kButtonShown, 0, 188, 398, 252, "^opt_toew", 'c', kCodeToeWaveform, kRemoteNone},
    {kButtonShown, 0, 253, 398, 317, "^opt_abi", 'd', kCodeAbi, kRemoteNone},
    {kButtonShown, 0, 318, 319, 382, "^opt_facility", 'f', kCodeFacility, kRemoteNone},
    {kButtonShown, 320, 318, 639, 382, "^opt_date", 'e', kCodeDate, kRemoteNone},
    {kButtonShown, 427, 408, 639, 479, "^glbl_accept", kKeyEnter, kCodeAccept, kRemoteEnter},
    {kButtonShown, 0, 408, 157, 479, "^glbl_cancel", kKeyEscape, kCodeCancel, kRemoteExit},
    // Greyed: a text button in that state is not drawn, yet it takes presses.
    {kButtonGreyed, 160, 408, 317, 479, "unlock", 'u', kCodeUnlock, kRemoteNone},
    kButtonTableEnd,
};

void draw_option_indicators(int& bits) {
  if ((bits & kAbiMask) == kAbiMask) bits &= ~kAbiMask;
  static const char* const kAbi[] = {"opt_ind_abi_off", "opt_ind_abi_chart1", "opt_ind_abi_chart2"};
  DrawBitmap(kAbi[bits & kAbiMask], 445, 270, 547, 300);
  DrawBitmap(bits & kDualBit ? "opt_ind_dual_on" : "opt_ind_dual_off", 445, 76, 547, 106);
  DrawBitmap(bits & kToePressureBit ? "opt_ind_toep_on" : "opt_ind_toep_off", 445, 141, 547, 171);
  DrawBitmap(bits & kToeWaveformBit ? "opt_ind_toew_on" : "opt_ind_toew_off", 445, 206, 547, 236);
}

void draw_options_screen(int& bits) {
  load_background("opt_bkgd");
  g_draw.fill_color = kColorBackground;
  clear_screen();
  draw_buttons(g_options);
  draw_option_indicators(bits);
}

// The date and time panel is the desktop's own settings program, named with
// its arguments in the registry file; started without a shell and waited for.
void run_date_time_panel() {
  const auto command = platform::registry_value(kProgramRegistryKey, kDateTimeProgramValue);
  const auto argv = platform::split_command_line(command.value_or(""));
  if (argv.empty()) {
    show_not_available("Date and Time", "No date and time program is configured.");
    return;
  }
  errno = 0;
  if (platform::run_command(argv) == platform::kNotStarted) {
    char reason[kMessageLineSize];
    std::snprintf(reason, sizeof reason, "%.40s: %s", argv[0].c_str(), std::strerror(errno));
    show_message_box(nullptr, reason, "Date and Time", 0);
  }
}

void report_start_failure(int error) {
  char text[64];
  switch (error) {
    case ENOENT: std::snprintf(text, sizeof text, "ZodoDOV.EXE not found"); break;
    case E2BIG: std::snprintf(text, sizeof text, "Argument list is too big"); break;
    case ENOEXEC: std::snprintf(text, sizeof text, "Bad file format"); break;
    case ENOMEM: std::snprintf(text, sizeof text, "Not enough memory"); break;
    case EINVAL: std::snprintf(text, sizeof text, "Invalid Mode"); break;
    default: std::snprintf(text, sizeof text, "Error code: %d", error); break;
  }
  show_message_box(nullptr, text, "Error running ZodoDOV", 0);
}

// Runs the menu program; true when it ended with 0.
bool run_options_program(const std::string& arguments) {
  minimise_main_window();
  errno = 0;
  const int rc = platform::run_program(kOptionsMenuProgram, platform::split_command_line(arguments));
  const int error = errno;
  restore_main_window();
  mark_dirty(kDirtyWholeWindow);
  if (rc == platform::kNotStarted) {
    report_start_failure(error);
    return false;
  }
  if (rc == 0) return true;
  char text[32];
  std::snprintf(text, sizeof text, "\r\rError #%d", rc);
  show_message_box(nullptr, text, rc < 128 ? "ZodoDOV Fatal Error" : "ZodoDOV Runtime Error", kMbRetryCancel);
  return false;
}

// --- Set-up menus ------------------------------------------------------------

void run_video_menu() {
  const Menu m{"Select video item to setup", 60, g_video_menu.b};
  for (;;) {
    draw_menu(m);
    const int code = wait_choice(m.table);
    if (code == 100) {
      run_menu_module(1);
      read_hardware_settings();
    } else if (code == 103) {
      write_settings_or_warn();
      return;
    }
  }
}

void run_calibration_menu() {
  const Menu m{"Select item", 20, g_calibration_menu.b};
  for (;;) {
    draw_menu(m);
    const int code = wait_choice(m.table);
    if (code == 100) {
      run_menu_module(7);
    } else if (code == 101) {
      run_menu_module(8);
      read_hardware_settings();
    } else if (code == 104) {
      return;
    }
  }
}

int run_diagnostics_menu() {
  const Menu m{"Select item", 20, g_diagnostics_menu.b};
  for (;;) {
    draw_menu(m);
    const int code = wait_choice(m.table);
    switch (code) {
      case 100: run_calibration_menu(); break;
      case 101: run_keypad_screen(); break;
      case 102:
        if (const auto reindex = module_table().reindex_archive) reindex();
        break;
      case 103: show_about_box(); break;
      case 104: return 1;
      case 105: return 0;
      default: break;
    }
  }
}

void run_system_menu() {
  const Menu m{"Select item to setup", 20, g_system_menu.b};
  for (;;) {
    draw_menu(m);
    const int code = wait_choice(m.table);
    switch (code) {
      case 100:
        if (g_is_windows_nt) {
          g_draw.fill_color = 15;
          clear_screen();
          run_date_time_panel();
        }
        break;
      case 102:
        if (const auto backup = module_table().floppy_backup_menu) backup();
        break;
      case 103: edit_system_data(); break;
      case 105: return;
      default: break;
    }
  }
}

// --- Keypad test ---------------------------------------------------------------

ButtonRecord keypad_key(int x, int y, const char* label, int code, int remote, int key = 0) {
  return make_button(x, y, x + 74, y + 49, label, code, key, remote);
}

struct KeypadTable {
  ButtonRecord b[16];
};

// Laid out as the instrument's front panel: navigation on the left, the
// three up and down pairs under their column labels, the cuff keys right.
KeypadTable make_keypad_table() {
  KeypadTable t;
  int n = 0;
  t.b[n++] = keypad_key(20, 380, "EXIT", 100, 17, kKeyEscape);
  t.b[n++] = keypad_key(20, 160, "BACK", 101, 9);
  t.b[n++] = keypad_key(20, 230, "PROBE", 102, 12);
  t.b[n++] = keypad_key(20, 300, "NEXT", 103, 10);
  t.b[n++] = keypad_key(142, 232, "\x18", 104, 7);
  t.b[n++] = keypad_key(227, 232, "\x18", 105, 5);
  t.b[n++] = keypad_key(312, 232, "\x18", 106, 3);
  t.b[n++] = keypad_key(142, 380, "SIDE", 107, 14);
  t.b[n++] = keypad_key(142, 300, "\x19", 108, 8);
  t.b[n++] = keypad_key(227, 300, "\x19", 109, 6);
  t.b[n++] = keypad_key(312, 300, "\x19", 110, 4);
  t.b[n++] = keypad_key(460, 160, "INV.", 111, 11);
  t.b[n++] = keypad_key(460, 230, "DEF.", 112, 2);
  t.b[n++] = keypad_key(460, 300, "INF.", 113, 1);
  t.b[n++] = keypad_key(460, 380, "CAP.", 114, 13);
  t.b[n] = kButtonTableEnd;
  return t;
}

// Only the front panel and the remote reach the keys under test: the table
// the wait hit-tests has their rectangles off the screen.  EXIT (the first)
// keeps its place, so that the test can be left by touch as well.
KeypadTable g_keypad_drawn = make_keypad_table();
KeypadTable g_keypad_keys = [] {
  KeypadTable t = make_keypad_table();
  for (int i = 1; i < 15; ++i) {
    t.b[i].x1 = t.b[i].x2 = 10000;
    t.b[i].y1 = t.b[i].y2 = 10000;
  }
  return t;
}();

const ButtonRecord* keypad_button(int code) {
  for (const ButtonRecord* b = g_keypad_drawn.b; !is_table_end(*b); ++b)
    if (b->button_code == code) return b;
  return nullptr;
}

}  // namespace

// --- Interface -------------------------------------------------------------------

std::string options_program_arguments(int option_bits, const char* facility_name) {
  const int n = 1 + ((option_bits & kDualBit) ? 1 : 0) + 2 * ((option_bits & kToeWaveformBit) ? 1 : 0) +
                4 * ((option_bits & kToePressureBit) ? 1 : 0);
  static const char* const kChart1 = "1.25 0.97 0.96 0.75 0.74 0.50 0 0 0 ";
  static const char* const kChart2 = "1.30 0.90 0.89 0.70 0.69 0.40 0 0 0 ";
  static const char* const kOff = "0 0 0 0 0 0 0 0 0 ";
  const int chart = option_bits & kAbiMask;
  std::string text = std::to_string(n) + " ";
  text += chart == 1 ? kChart1 : chart == 2 ? kChart2 : kOff;
  text += '"';
  text.append(facility_name, strnlen(facility_name, sizeof HardwareSettings::facility_name - 1));
  text += '"';
  return text;
}

int run_options_screen() {
  if (!main_window_exists()) return 0;
  HardwareSettings& hw = hardware_settings();
  int bits = hw.option_bits;
  int unlock_presses = 0;
  draw_options_screen(bits);
  for (;;) {
    const int code = wait_press(g_options);
    if (code == kCodeUnlock) {
      wait_button_release(g_options);
      if (++unlock_presses >= kUnlockPresses) return 1;
      continue;
    }
    unlock_presses = 0;
    switch (code) {
      case kCodeAbi: bits = (bits & ~kAbiMask) | (((bits & kAbiMask) + 1) % 3); break;
      case kCodeDual: bits ^= kDualBit; break;
      case kCodeToePressure: bits ^= kToePressureBit; break;
      case kCodeToeWaveform: bits ^= kToeWaveformBit; break;
      case kCodeFacility:
        wait_button_release(g_options);
        edit_text_field("Set Facility Name to:", hw.facility_name, sizeof hw.facility_name - 1, 0, false);
        draw_options_screen(bits);
        continue;
      case kCodeDate:
        wait_button_release(g_options);
        if (g_is_windows_nt) run_date_time_panel();
        draw_options_screen(bits);
        continue;
      case kCodeCancel: wait_button_release(g_options); return 0;
      case kCodeAccept: {
        wait_button_release(g_options);
        hw.option_bits = static_cast<std::uint8_t>(bits);
        write_settings_or_warn();
        if (run_options_program(options_program_arguments(bits, hw.facility_name))) return 0;
        draw_options_screen(bits);
        continue;
      }
      default: continue;
    }
    draw_option_indicators(bits);
    wait_button_release(g_options);
  }
}

int run_setup_menu() {
  if (run_options_screen() == 0) return 0;
  const Menu m{"Select item to setup", 20, g_setup_menu.b};
  for (;;) {
    draw_menu(m);
    const int code = wait_choice(m.table);
    switch (code) {
      case 100: run_video_menu(); break;
      case 101:
        if (run_diagnostics_menu() != 0) return 1;
        break;
      case 102: run_system_menu(); break;
      case 103: run_menu_module(2); break;
      case 104: return 0;
      default: break;
    }
  }
}

int confirm_are_you_sure() {
  static ButtonRecord table[] = {
      {kButtonShown, 215, 222, 315, 272, "YES", 'y', 100, kRemoteEnter},
      {kButtonShown, 325, 222, 425, 272, "NO", 'n', 101, kRemoteExit},
      {kButtonHidden, 0, 0, 1, 1, "", kKeyEscape, 101, kRemoteNone},
      kButtonTableEnd,
  };
  g_draw.fill_color = 1;
  fill_bar(205, 197, 435, 282);
  g_draw.draw_color = kColorWhite;
  draw_rectangle(205, 197, 435, 282);
  set_text_size(0, 0, 2);
  set_text_justify(kJustifyCentre, kJustifyTop);
  draw_text(320, 202, "Are you sure?");
  set_text_justify(kJustifyLeft, kJustifyTop);
  draw_buttons(table);
  int code;
  do code = wait_press(table);
  while (code != 100 && code != 101);
  wait_button_release(table);
  return code == 100 ? 1 : 0;
}

void draw_floppy_backup_menu() { draw_menu(Menu{"Select item", 20, g_floppy_menu.b}); }

const ButtonRecord* floppy_backup_menu_buttons() { return g_floppy_menu.b; }

void show_about_box() {
  static ButtonRecord table[] = {
      {kButtonShown, 0, 380, 639, 479, "OK", kKeyEnter, 100, kRemoteEnter},
      {kButtonHidden, 0, 0, 1, 1, "", kKeyEscape, 100, kRemoteNone},
      kButtonTableEnd,
  };
  static const char* const kLines[] = {"Korvani  (c) 2026  Q7 V5.00", "Korvani Instruments, 12 Harbour Road",
                                       "Westfield, WF3 8QT", "Tel. 0100 555 0142"};
  static const int kLineY[] = {270, 302, 320, 338};
  release_background();
  draw_splash();
  set_text_size(0, 0, 2);
  set_text_justify(kJustifyCentre, kJustifyTop);
  g_draw.draw_color = kColorWhite;
  for (int i = 0; i < 4; ++i) draw_text(320, kLineY[i], kLines[i]);
  set_text_justify(kJustifyLeft, kJustifyTop);
  draw_buttons(table);
  while (wait_press(table) != 100) {
  }
  wait_button_release(table);
}

void run_keypad_screen() {
  release_background();
  g_draw.fill_color = kColorBackground;
  clear_screen();
  set_text_justify(kJustifyCentre, kJustifyTop);
  draw_white_text(320, 105, "Cuff Selector");
  draw_white_text(179, 208, "Volume");
  draw_white_text(264, 208, "Gain");
  draw_white_text(349, 208, "Base");
  set_text_justify(kJustifyLeft, kJustifyTop);
  draw_buttons(g_keypad_drawn.b);
  for (;;) {
    const int code = get_button_event(g_keypad_keys.b);
    if (code == kNoEvent) continue;
    const int plain = code < 0 ? -code : code & ~kRepeatBit;
    const ButtonRecord* b = keypad_button(plain);
    if (!b) continue;
    if (code < 0) {
      draw_button_normal(*b);
    } else if (code < kRepeatBit) {
      draw_button_pressed(*b);
      // EXIT leaves on its press: a key of the keyboard has no release.
      if (plain == 100) {
        wait_button_release(g_keypad_keys.b);
        draw_button_normal(*b);
        return;
      }
    }
  }
}

}  // namespace vaslab
