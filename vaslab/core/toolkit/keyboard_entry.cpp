#include "vaslab/core/toolkit/keyboard_entry.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/input/system_utils.h"
#include "vaslab/core/toolkit/buttons.h"
#include "vaslab/core/toolkit/fonts.h"
#include "vaslab/core/toolkit/screen.h"

namespace vaslab {
namespace {

constexpr int kKeys = 48;
constexpr int kCodeAccept = 0;
constexpr int kCodeExit = 1;
constexpr int kCodeBackspace = 1050;
constexpr int kCodeBackspaceAlt = 1060;
constexpr int kCodeClear = 1070;
constexpr int kFirstLetterKey = 16;
constexpr int kLastLetterKey = 45;
constexpr int kPunctuationKeys = 5;  // entries 0 to 4
constexpr int kLineX = 16;
constexpr int kNowRight = 624, kNowY = 40;

// The line being edited, and where it was last drawn (640 by 480 space).
struct TextLine {
  char text[101] = {};
  int length = 0;
  int capacity = 0;
  int left = 0, top = 0, right = 0, bottom = 0;
  int font = 0;
  std::uint32_t color = 0;
};

TextLine g_line;

using KeyTable = std::array<ButtonRecord, kKeys + 1>;

ButtonRecord key(int x1, int y1, int x2, int y2, const char* label, int code, int keyboard = 0, int remote = 0) {
  return make_button(x1, y1, x2, y2, label, code, keyboard, remote);
}

KeyTable make_key_table() {
  KeyTable t;
  int n = 0;
  // Ten keys of 63 across, as evenly inside the screen's 640 as they go.
  static const int kEdges[] = {5, 68, 131, 194, 257, 320, 383, 446, 509, 572, 635};
  t[n++] = key(kEdges[0], 338, 68, 401, "-^pde_hyph", 45);
  t[n++] = key(68, 338, 131, 401, ",^pde_comma", 44);
  t[n++] = key(131, 338, 194, 401, "^pde_apos", 39);
  t[n++] = key(194, 338, 348, 399, " ^pde_space", 32);
  t[n++] = key(320, 338, 474, 399, " ^pde_bksp", kCodeBackspace, 264);
  t[n++] = key(465, 338, 619, 399, "CLEAR^set_clear", kCodeClear);
  struct Row {
    int top, bottom;
    const char* labels[10];
  };
  static const Row kRows[] = {
      {86, 149, {"1^set_1", "2^set_2", "3^set_3", "4^set_4", "5^set_5", "6^set_6", "7^set_7", "8^set_8", "9^set_9", "0^set_0"}},
      {149, 212, {"Q^set_q", "W^set_w", "E^set_e", "R^set_r", "T^set_t", "Y^set_y", "U^set_u", "I^set_i", "O^set_o", "P^set_p"}},
      {212, 275, {"+^set_plus", "A^set_a", "S^set_s", "D^set_d", "F^set_f", "G^set_g", "H^set_h", "J^set_j", "K^set_k", "L^set_l"}},
      {275, 338, {">^set_greater", "Z^set_z", "X^set_x", "C^set_c", "V^set_v", "B^set_b", "N^set_n", "M^set_m", "/^set_slash", ".^set_period"}},
  };
  for (const Row& row : kRows)
    for (int i = 0; i < 10; ++i) {
      // The key's code is the character before the delimiter.
      t[n++] = key(kEdges[i], row.top, kEdges[i + 1], row.bottom, row.labels[i], row.labels[i][0]);
    }
  t[n++] = key(0, 408, 157, 479, "EXIT^glbl_cancel", kCodeExit, 512, 17);
  t[n++] = key(427, 408, 639, 479, "ACCEPT^glbl_accept", kCodeAccept, 1024, 13);
  t[n] = kButtonTableEnd;
  return t;
}

KeyTable& key_table() {
  static KeyTable table = make_key_table();
  return table;
}

bool line_start(int x, int y, int font, std::uint32_t color, int capacity) {
  if (capacity > 100) return false;
  g_line = TextLine{};
  g_line.capacity = capacity;
  g_line.font = font;
  g_line.color = color;
  g_line.left = g_line.right = x;
  g_line.top = g_line.bottom = font == kFontSized ? y + 14 : y;
  return true;
}

void line_erase() {
  if (g_line.right > g_line.left && g_line.bottom > g_line.top)
    fill_rect_color(g_line.left, g_line.top, g_line.right, g_line.bottom, kColorBackground);
}

void line_redraw() {
  const int old_right = g_line.right, old_bottom = g_line.bottom;
  line_erase();
  const int xs = std::max(1, g_screen_geometry.x_scale);
  draw_font_text(g_line.font, scale_x(g_line.left), scale_y(g_line.top), g_line.text, g_line.color);
  const int width = g_line.length ? font_text_width(g_line.font, g_line.text) / xs : 0;
  const int height = g_line.length ? static_cast<int>(font_cell_height(g_line.font) / g_screen_geometry.y_scale) : 0;
  g_line.right = g_line.left + width;
  g_line.bottom = g_line.top + height;
  flush_area(g_line.left, g_line.top, std::max(old_right, g_line.right) + 1,
             std::max(old_bottom, g_line.bottom) + 1);
}

void line_set(const char* text) {
  const size_t n = std::strlen(text);
  if (n > static_cast<size_t>(g_line.capacity)) return;
  std::memcpy(g_line.text, text, n + 1);
  g_line.length = static_cast<int>(n);
}

void line_append(char c) {
  if (g_line.length >= g_line.capacity) return;
  g_line.text[g_line.length++] = c;
  g_line.text[g_line.length] = 0;
}

void line_remove_last() {
  if (g_line.length == 0) return;
  g_line.text[--g_line.length] = 0;
}

void line_clear() {
  g_line.length = 0;
  g_line.text[0] = 0;
}

void set_keys(int first, int last, std::uint8_t state) {
  for (int i = first; i <= last; ++i) key_table()[i].state = state;
}

}  // namespace

int run_keyboard_entry(const char* prompt, char* text, int max_length, int flags, int font, const char* now) {
  if (!prompt || !prompt[0] || !text || max_length < 1 || max_length > 40 || !screen_ready()) return -1;
  if (!(flags & kEntryKeepCapsLock) && !(peek_keyboard_flags(0, kKeyboardFlagsAddress) & 0x40)) toggle_caps_lock();
  KeyTable& table = key_table();
  set_keys(0, kPunctuationKeys - 1, font == kFontSized ? kButtonShown : kButtonHidden);
  // White, as the other texts on the screens' dark backgrounds.
  // The line starts inside the screen's margin, above the keys' left edge.
  line_start(kLineX, 23, font, rgb(255, 255, 255), max_length);
  // The caller's buffer holds max_length + 1 bytes: read no further.
  char start[41];
  std::snprintf(start, sizeof start, "%.*s", max_length, text);
  line_set(start);

  load_background("set_bkgd");
  g_draw.fill_color = kColorBackground;
  clear_screen();
  clear_screen();
  set_text_size(0, 0, 2);
  draw_screen_title(prompt);
  if (now && now[0]) {
    // What the value stands at before it is changed, right of the line.
    char caption[48];
    std::snprintf(caption, sizeof caption, "Now: %.40s", now);
    draw_font_text(kFontSized, scale_x(kNowRight) - font_text_width(kFontSized, caption), scale_y(kNowY), caption,
                   rgb(255, 255, 255));
  }
  line_redraw();
  draw_buttons(table.data());

  int code = kNoEvent;
  for (;;) {
    code = get_button_event_typing(table.data());
    if (code < 0) continue;
    if (code == kCodeAccept || code == kCodeExit) break;
    if (code == kCodeBackspace || code == kCodeBackspaceAlt)
      line_remove_last();
    else if (code == kCodeClear)
      line_clear();
    else if (code >= 32 && code <= 126)
      line_append(static_cast<char>(code));
    else
      continue;
    line_redraw();
  }
  if (code == kCodeAccept) std::memcpy(text, g_line.text, static_cast<size_t>(max_length) + 1);
  wait_button_release_typing(table.data());
  return code;
}

void edit_text_field(const char* prompt, char* text, int max_length, int flags, bool hide_letters, const char* now) {
  set_keys(kFirstLetterKey, kLastLetterKey, hide_letters ? kButtonHidden : kButtonShown);
  if (!font_made(kFontEntry)) return;
  run_keyboard_entry(prompt, text, max_length, flags, kFontEntry, now);
}

void edit_text_field_options(const char* prompt, char* text, int max_length, int flags) {
  if (!font_made(kFontSized)) return;
  run_keyboard_entry(prompt, text, max_length, flags, kFontSized);
}

}  // namespace vaslab
