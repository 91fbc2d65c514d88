#include "vaslab/core/screens/edit_system_data.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>

#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/input/system_utils.h"
#include "vaslab/core/settings/settings.h"
#include "vaslab/core/toolkit/buttons.h"
#include "vaslab/core/toolkit/message_box.h"
#include "vaslab/core/toolkit/screen.h"

namespace vaslab {
namespace {

enum class Kind { kDecimal, kHex, kText };

struct Field {
  const char* label;
  Kind kind;
  int capacity;  // label length + the longest value
  std::uint8_t HardwareSettings::*u8;
  std::uint16_t HardwareSettings::*u16;
  std::span<char> (*text)(HardwareSettings&);
};

#define DEC8(label, cap, f) Field{label, Kind::kDecimal, cap, &HardwareSettings::f, nullptr, nullptr}
#define HEX8(label, cap, f) Field{label, Kind::kHex, cap, &HardwareSettings::f, nullptr, nullptr}
#define HEX16(label, cap, f) Field{label, Kind::kHex, cap, nullptr, &HardwareSettings::f, nullptr}
#define TEXT(label, cap, f) \
  Field{label, Kind::kText, cap, nullptr, nullptr, [](HardwareSettings& s) { return std::span<char>(s.f); }}

const Field kFields[kSystemDataFields] = {
    DEC8("Printout in (0-Color  1-Mono): ", 39, printout_in),
    DEC8("View Printout (0-Color  1-Mono): ", 41, view_printout),
    TEXT("Print Control: ", 78, print_control),
    TEXT("Data Entry (1=small, 2=large, 3=touch: ", 40, data_entry),
    DEC8("Caps Lock (0-Always set  1-Leave Alone): ", 49, caps_lock_mode),
    DEC8("Start Menu (0=P,1=CP,2=EXIT,3=WINDOWS,4-SHUTDOWN: ", 51, start_menu),
    HEX16("Touch Port: ", 20, touch_port),
    DEC8("Touch IRQ: ", 20, touch_irq),
    // 2 (no panel) is the default and what a machine without a panel holds:
    // the prompt offers it beside the two panels.
    DEC8("Touch Type (0=DYNAPRO 1=ELOTOUCH 2=NONE): ", 50, touch_type),
    DEC8("DIO type (0=port 1=LPT 2=SUSI): ", 33, dio_type),
    HEX16("DIO OUT Port: ", 22, dio_out_port),
    HEX16("DIO IN Port: ", 21, dio_in_port),
    HEX16("Vascular Port: ", 23, vascular_port),
    DEC8("Vascular IRQ: ", 22, vascular_irq),
    DEC8("IR Remote Enabled (1-Yes, 0-No): ", 41, ir_remote_enabled),
    HEX16("IR Remote Port: ", 24, ir_remote_port),
    DEC8("IR Remote IRQ: ", 23, ir_remote_irq),
    DEC8("AUTO cuff select (1-Yes, 0-No): ", 40, auto_cuff_select),
    TEXT("Initial Run: ", 43, initial_run),
    TEXT("Shut Down Run: ", 78, shutdown_run),
    DEC8("Vascular Module Present (1-Yes, 0-No): ", 40, vascular_module_present),
    DEC8("Spectral Module Present (1-Yes, 0-No): ", 40, spectral_module_present),
    DEC8("Spectral Mute Switch (1-Active, 0-No): ", 40, spectral_mute_switch),
    TEXT("Button Color (0-Normal): ", 26, button_color),
    TEXT("Archive Path 1: ", 46, archive_path_1),
    TEXT("Archive Ext. 1: ", 19, archive_ext_1),
    TEXT("Archive Path 2: ", 46, archive_path_2),
    TEXT("Archive Ext. 2: ", 19, archive_ext_2),
    TEXT("Export Button: ", 21, export_button),
    TEXT("Exp. Control 1: ", 79, export_control_1),
    TEXT("Export Path 1: ", 78, export_path_1),
    DEC8("Export Code 1: ", 21, export_code_1),
    TEXT("Export Name 1: ", 30, export_name_1),
    TEXT("Exp. Control 2: ", 79, export_control_2),
    TEXT("Export Path 2: ", 78, export_path_2),
    DEC8("Export Code 2: ", 21, export_code_2),
    TEXT("Export Name 2: ", 30, export_name_2),
    TEXT("Import Control: ", 79, import_control),
    TEXT("Import Path: ", 76, import_path),
    DEC8("Import Code: ", 21, import_code),
    TEXT("Import Button: ", 21, import_button),
    TEXT("Import Text: ", 33, import_text),
    DEC8("Inflate Delay: ", 23, inflate_delay),
    DEC8("Deflate Delay: ", 23, deflate_delay),
    HEX8("Right BP Offset: ", 25, right_bp_offset),
    HEX8("Right BP Span: ", 23, right_bp_span),
    HEX8("Left BP Offset: ", 24, left_bp_offset),
    HEX8("Left BP Span: ", 22, left_bp_span),
};

#undef DEC8
#undef HEX8
#undef HEX16
#undef TEXT

// Button codes.
constexpr int kCodeNext = 0;
constexpr int kCodeLeave = 1;
constexpr int kCodePrevious = 3;
constexpr int kCodeRight = 1000;
constexpr int kCodeLeft = 1010;
constexpr int kCodeInsert = 1040;
constexpr int kCodeCaps = 1050;
constexpr int kCodeBack = 1060;
constexpr int kCodeDelete = 1070;
constexpr int kCodeClear = 1080;

constexpr int kCapsLockBit = 0x40;

// Colours of the screen: white text on black, the cursor cell inverted.
// On the background tile, as the set-up menus around it and the search
// editor of the same layout.
constexpr int kScreenColor = kColorBackground;
constexpr int kTextColor = kColorWhite;
constexpr int kLineRow = 1;  // text row of the edit line (y 20)
constexpr int kLineY = 20;

// Room for the longest line: 79 cells of the screen.
constexpr int kLineSize = 96;
constexpr int kNumberSize = 16;

// The texts of the numeric fields; text fields are edited inside the record.
char g_numbers[kSystemDataFields][kNumberSize];
bool g_insert = false;
int g_caps_shown = -1;

ButtonRecord button(int x, int y, int w, int h, const char* label, int key, int code, int remote = 0,
                    std::uint8_t state = kButtonShown) {
  return make_button(x, y, x + w - 1, y + h - 1, label, code, key, remote, state);
}

struct ScreenTable {
  ButtonRecord b[64];
};

// The keyed buttons come first: a keyboard lookup stops at the first button
// without a key.
ScreenTable make_table() {
  ScreenTable t;
  int n = 0;
  t.b[n++] = button(0, 430, 120, 50, "INSERT", 301, kCodeInsert);
  t.b[n++] = button(260, 430, 120, 50, "DELETE", 302, kCodeDelete);
  t.b[n++] = button(390, 430, 120, 50, "EXIT", kEscapeKeyCode, kCodeLeave, 17);
  t.b[n++] = button(520, 430, 120, 50, "NEXT", 269, kCodeNext, 13);
  t.b[n++] = button(520, 430, 120, 50, "NEXT", 290, kCodeNext, 10, kButtonHidden);  // Page Down
  t.b[n++] = button(0, 370, 120, 50, "\x1b", 293, kCodeLeft, 19);
  t.b[n++] = button(130, 370, 120, 50, "\x1a", 295, kCodeRight, 20);
  t.b[n++] = button(260, 370, 120, 50, "\x1b BACK", 264, kCodeBack);
  t.b[n++] = button(520, 370, 120, 50, "PREVIOUS", 289, kCodePrevious, 9);  // Page Up
  t.b[n++] = button(130, 430, 120, 50, "CAPS", 0, kCodeCaps);
  t.b[n++] = button(390, 370, 120, 50, "CLEAR", 0, kCodeClear);
  struct Row {
    int x, y;
    const char* keys;
  };
  static const Row kRows[] = {
      {3, 56, "1234567890-/"}, {28, 109, "QWERTYUIOP@"}, {3, 162, "#ASDFGHJKL*&"}, {28, 215, ">ZXCVBNM.,'"}};
  for (const Row& row : kRows)
    for (int i = 0; row.keys[i]; ++i) {
      const char label[2] = {row.keys[i], 0};
      t.b[n++] = button(row.x + 53 * i, row.y, 50, 50, label, 0, row.keys[i]);
    }
  t.b[n++] = make_button(260, 268, 380, 318, "SPACE", 32);
  t.b[n] = kButtonTableEnd;
  return t;
}

ScreenTable g_table = make_table();

// --- The line being edited -------------------------------------------------

struct Line {
  char text[kLineSize] = {};
  int label_length = 0;
  int length = 0;
  int capacity = 0;
  int cursor = 0;

  int last_cursor() const { return length >= capacity ? capacity - 1 : length; }
  void clamp_cursor() { cursor = std::clamp(cursor, label_length, std::max(label_length, last_cursor())); }
  void remove_at_cursor() {
    if (cursor >= length) return;
    std::memmove(text + cursor, text + cursor + 1, static_cast<std::size_t>(length - cursor));
    --length;
  }
  void put(char c, bool insert) {
    if (insert) {
      if (length >= capacity) return;
      std::memmove(text + cursor + 1, text + cursor, static_cast<std::size_t>(length - cursor + 1));
      text[cursor] = c;
      ++length;
    } else if (cursor < length) {
      text[cursor] = c;
    } else {
      if (length >= capacity) return;
      text[length++] = c;
      text[length] = 0;
    }
    ++cursor;
  }
};

Line g_line;

// The field's value as text, and where it is stored back.
const char* value_text(int field) {
  const Field& f = kFields[field];
  if (f.kind == Kind::kText) return f.text(hardware_settings()).data();
  return g_numbers[field];
}

void start_line(int field) {
  const Field& f = kFields[field];
  g_line = Line{};
  const int label_length = static_cast<int>(std::strlen(f.label));
  int value_room = f.capacity - label_length;
  if (f.kind == Kind::kText)
    value_room = std::min(value_room, static_cast<int>(f.text(hardware_settings()).size()) - 1);
  const char* value = value_text(field);
  const int value_length = static_cast<int>(strnlen(value, kLineSize - 1 - label_length));
  std::snprintf(g_line.text, sizeof g_line.text, "%s%s", f.label, value);
  g_line.label_length = label_length;
  g_line.length = static_cast<int>(std::strlen(g_line.text));
  // A stored number may need more digits than the line was laid out for:
  // the line grows to hold it, so that leaving the field keeps the value.
  g_line.capacity = std::max(label_length + value_room, label_length + value_length);
  g_line.capacity = std::min(g_line.capacity, kLineSize - 1);
  g_line.cursor = label_length;
}

void store_line(int field) {
  const Field& f = kFields[field];
  const char* value = g_line.text + g_line.label_length;
  const std::size_t n = static_cast<std::size_t>(g_line.length - g_line.label_length);
  if (f.kind == Kind::kText) {
    const std::span<char> dest = f.text(hardware_settings());
    const std::size_t m = std::min(n, dest.size() - 1);
    std::memcpy(dest.data(), value, m);
    dest[m] = 0;
  } else {
    const std::size_t m = std::min(n, sizeof g_numbers[field] - 1);
    std::memcpy(g_numbers[field], value, m);
    g_numbers[field][m] = 0;
  }
}

// --- Drawing -------------------------------------------------------------------

void draw_line_text(bool with_cursor) {
  fill_rect_color(0, kLineY, 640, kLineY + 18, kScreenColor);
  draw_text_cells(g_line.text, kLineY + 1, 0, kScreenColor, kTextColor);
  if (with_cursor) {
    const char under = g_line.cursor < g_line.length ? g_line.text[g_line.cursor] : ' ';
    draw_text_cursor(kLineRow, g_line.cursor, under, kTextColor, kColorBlack);
  }
}

void draw_insert_indicator() {
  draw_text_cells("INSERT", 40, 1, kScreenColor, g_insert ? kTextColor : kColorNone);
}

void draw_caps_indicator() {
  const int on = (peek_keyboard_flags(0, kKeyboardFlagsAddress) & kCapsLockBit) ? 1 : 0;
  if (on == g_caps_shown) return;
  g_caps_shown = on;
  draw_text_cells("CAPS", 40, 10, kScreenColor, on ? kTextColor : kColorNone);
}

void draw_screen() {
  release_background();
  g_draw.fill_color = kScreenColor;
  clear_screen();
  set_text_size(0, 0, 2);
  set_text_justify(kJustifyCentre, kJustifyTop);
  g_draw.draw_color = kTextColor;
  draw_text(320, 0, "Edit System Data");
  set_text_justify(kJustifyLeft, kJustifyTop);
  draw_line(0, 18, 639, 18);
  draw_line(0, 38, 639, 38);
  draw_buttons(g_table.b);
  g_caps_shown = -1;
  draw_insert_indicator();
  draw_caps_indicator();
}

bool repeatable(int code) {
  return code == kCodeRight || code == kCodeLeft || code == kCodeBack || code == kCodeDelete ||
         (code >= 32 && code <= 126);
}

}  // namespace

const char* system_data_label(int field) {
  return field >= 0 && field < kSystemDataFields ? kFields[field].label : "";
}

const char* system_data_value(int field) {
  return field >= 0 && field < kSystemDataFields ? value_text(field) : "";
}

void load_system_data_fields() {
  HardwareSettings& hw = hardware_settings();
  for (int i = 0; i < kSystemDataFields; ++i) {
    const Field& f = kFields[i];
    if (f.kind == Kind::kText) {
      const std::span<char> t = f.text(hw);
      t[t.size() - 1] = 0;
      continue;
    }
    const unsigned v = f.u8 ? hw.*f.u8 : hw.*f.u16;
    std::snprintf(g_numbers[i], kNumberSize, f.kind == Kind::kHex ? "%x" : "%u", v);
  }
}

void store_system_data_fields() {
  HardwareSettings& hw = hardware_settings();
  for (int i = 0; i < kSystemDataFields; ++i) {
    const Field& f = kFields[i];
    if (f.kind == Kind::kText) continue;
    // strtol takes the "0x" prefix in base 16; the field keeps the low bits.
    const long v = std::strtol(g_numbers[i], nullptr, f.kind == Kind::kHex ? 16 : 10);
    if (f.u8)
      hw.*f.u8 = static_cast<std::uint8_t>(v);
    else
      hw.*f.u16 = static_cast<std::uint16_t>(v);
  }
}

int edit_system_data_field(int field) {
  if (field < 0 || field >= kSystemDataFields) return kCodeLeave;
  start_line(field);
  draw_line_text(true);
  int code = kNoEvent;
  for (;;) {
    draw_caps_indicator();
    code = get_button_event_typing(g_table.b);
    if (code < 0) continue;
    if (code >= kRepeatBit) {
      code -= kRepeatBit;
      if (!repeatable(code)) continue;
    }
    if (code == kCodeNext || code == kCodeLeave || code == kCodePrevious) break;
    switch (code) {
      case kCodeRight: ++g_line.cursor; break;
      case kCodeLeft: --g_line.cursor; break;
      case kCodeBack:
        // Left, then delete: at the first value character the cursor cannot
        // go left, and that character goes.
        if (g_line.cursor > g_line.label_length) --g_line.cursor;
        g_line.remove_at_cursor();
        break;
      case kCodeDelete: g_line.remove_at_cursor(); break;
      case kCodeClear:
        g_line.length = g_line.label_length;
        g_line.text[g_line.length] = 0;
        g_line.cursor = g_line.label_length;
        break;
      case kCodeInsert:
        g_insert = !g_insert;
        draw_insert_indicator();
        break;
      case kCodeCaps: toggle_caps_lock(); break;
      default:
        if (code >= 32 && code <= 126) g_line.put(static_cast<char>(code), g_insert);
        break;
    }
    g_line.clamp_cursor();
    draw_line_text(true);
  }
  store_line(field);
  draw_line_text(false);
  // NEXT's code is 0, and so is its release (the negated code): unless the
  // release is waited for here, the next field takes it as a second NEXT
  // and every tap moves two fields.
  wait_button_release_typing(g_table.b);
  return code;
}

int edit_system_data() {
  load_system_data_fields();
  g_insert = false;
  draw_screen();
  int field = 0;
  for (;;) {
    const int r = edit_system_data_field(field);
    if (r == kCodeLeave) break;
    if (r == kCodeNext && field < kSystemDataFields - 1) ++field;
    if (r == kCodePrevious && field > 0) --field;
  }
  store_system_data_fields();
  write_settings_or_warn();
  return 0;
}

bool write_settings_or_warn() {
  if (write_hardware_settings() == 0) return true;
  show_message_box(nullptr, "The settings could not be saved.", "Error", kMbOkOnly);
  return false;
}

}  // namespace vaslab
