#include "vaslab/records/line_editor.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/input/system_utils.h"
#include "vaslab/core/toolkit/buttons.h"
#include "vaslab/core/toolkit/screen.h"

namespace vaslab {
namespace {

constexpr int kMaxText = static_cast<int>(sizeof(LineEditor::text)) - 1;

// Right: up to the last character when the text fills the capacity, else up
// to one past the text.
void move_right(LineEditor& e) {
  const int last = e.length >= e.capacity ? e.capacity - 1 : e.length;
  e.cursor = std::max(e.label_length, std::min(e.cursor + 1, last));
}

void end_position(LineEditor& e) {
  e.cursor = (e.length >= e.capacity && e.capacity > e.label_length) ? e.capacity - 1 : e.length;
}

void type_char(LineEditor& e, char c) {
  if (e.insert) {
    if (e.length >= e.capacity) return;
    std::memmove(e.text + e.cursor + 1, e.text + e.cursor, static_cast<std::size_t>(e.length - e.cursor));
    e.text[e.cursor] = c;
    ++e.length;
  } else if (e.cursor < e.length) {
    e.text[e.cursor] = c;
  } else {
    if (e.length >= e.capacity) return;
    e.text[e.length++] = c;
  }
  e.text[e.length] = 0;
  move_right(e);
}

void delete_at_cursor(LineEditor& e) {
  if (e.cursor >= e.length) return;
  std::memmove(e.text + e.cursor, e.text + e.cursor + 1, static_cast<std::size_t>(e.length - e.cursor));
  --e.length;
  e.text[e.length] = 0;
}

// --- The patient data screen's layout ---------------------------------------------

constexpr int kBackHeld = 1050 | 0x1000;
constexpr int kTextY = 52;
constexpr int kCellWidth = 16;
constexpr int kLineMargin = 10;  // kept clear at the right edge
constexpr int kCursorColor = 14;
constexpr int kKey = 63;

std::vector<ButtonRecord> g_keys;

void add_button(std::vector<ButtonRecord>& table, int x1, int y1, int x2, int y2, const char* label,
                int keyboard, int code, int remote, std::uint8_t state = kButtonShown) {
  table.push_back(make_button(x1, y1, x2, y2, label, code, keyboard, remote, state));
}

void add_key(int column, int y, char c, const char* bitmap) {
  const int x = 5 + kKey * column;
  char label[32];
  std::snprintf(label, sizeof label, "%c^%s", c, bitmap);
  const int keyboard = (c >= 'A' && c <= 'Z') ? c + 32 : c;
  add_button(g_keys, x, y, x + kKey - 1, y + kKey - 1, label, keyboard, c, 0);
}

// The keyboard of the screen.  Keyed entries come first: the keyboard lookup
// stops at the first entry without a keyboard code.
void build_keys() {
  if (!g_keys.empty()) return;
  add_button(g_keys, 0, 408, 157, 479, "EXIT^glbl_cancel", 283, kEditExit, 17);
  add_button(g_keys, 427, 408, 639, 479, "ACCEPT^glbl_accept", 269, kEditAccept, 13);
  add_button(g_keys, 509, 338, 639, 400, "BACK^pde_bksp", 264, 1050, 0);
  // Keys without a picture of their own: previous field (which stays on the
  // first field), a second accept, the cursor and editing keys.
  add_button(g_keys, 0, 0, 0, 0, "", 289, kEditPrevious, 9, kButtonHidden);
  add_button(g_keys, 0, 0, 0, 0, "", 290, kEditAccept, 10, kButtonHidden);
  add_button(g_keys, 0, 0, 0, 0, "", 295, 1010, 0, kButtonHidden);
  add_button(g_keys, 0, 0, 0, 0, "", 293, 1020, 0, kButtonHidden);
  add_button(g_keys, 0, 0, 0, 0, "", 301, 1030, 0, kButtonHidden);
  add_button(g_keys, 0, 0, 0, 0, "", 302, 1060, 0, kButtonHidden);
  add_button(g_keys, 0, 0, 0, 0, "", 292, 1080, 0, kButtonHidden);
  add_button(g_keys, 0, 0, 0, 0, "", 291, 1090, 0, kButtonHidden);
  char name[8];
  for (int i = 0; i < 10; ++i) {
    const char c = static_cast<char>(i == 9 ? '0' : '1' + i);
    std::snprintf(name, sizeof name, "set_%c", c);
    add_key(i, 86, c, name);
  }
  const char* rows[] = {"QWERTYUIOP", "ASDFGHJKL", "ZXCVBNM"};
  for (int i = 0; i < 10; ++i) {
    std::snprintf(name, sizeof name, "set_%c", rows[0][i] + 32);
    add_key(i, 149, rows[0][i], name);
  }
  add_key(0, 212, '+', "set_plus");
  for (int i = 0; i < 9; ++i) {
    std::snprintf(name, sizeof name, "set_%c", rows[1][i] + 32);
    add_key(i + 1, 212, rows[1][i], name);
  }
  add_key(0, 275, '>', "set_greater");
  for (int i = 0; i < 7; ++i) {
    std::snprintf(name, sizeof name, "set_%c", rows[2][i] + 32);
    add_key(i + 1, 275, rows[2][i], name);
  }
  add_key(8, 275, '.', "set_period");
  add_key(9, 275, '/', "set_slash");
  add_key(0, 338, '-', "pde_hyph");
  add_key(1, 338, ',', "pde_comma");
  add_key(2, 338, '\'', "pde_apos");
  add_key(3, 338, '*', "pde_star");
  add_key(4, 338, '&', "pde_amp");
  add_key(5, 338, '#', "pde_hash");
  add_button(g_keys, 5 + 6 * kKey, 338, 508, 400, "SPACE^pde_space", 32, ' ', 0);
  g_keys.push_back(kButtonTableEnd);
}

// Where the edit line's cells lie.  A whole line of 40 cells would run to
// the screen's edge with the cursor on its last cell: the label's leading
// blanks give way first, then the cells narrow, so that every cell of the
// capacity lies inside the right margin.
struct LineLayout {
  int skip;   // leading characters not drawn
  int pitch;  // pixels a cell
};

LineLayout line_layout(const LineEditor& e) {
  int lead = 0;
  while (lead < e.label_length && e.text[lead] == ' ') ++lead;
  const int room = 640 - kLineMargin;
  const int skip = std::clamp((e.capacity * kCellWidth - room + kCellWidth - 1) / kCellWidth, 0, lead);
  const int cells = std::max(1, e.capacity - skip);
  return {skip, std::min(kCellWidth, room / cells)};
}

void draw_edit_line(const LineEditor& e) {
  const LineLayout l = line_layout(e);
  fill_rect_color(0, kTextY, 640, kTextY + kWideTextRows, kColorBackground);
  draw_text_wide_pitch(e.text + std::min(l.skip, e.length), kTextY, 0, l.pitch, kColorWhite);
  const int cell = std::clamp(e.cursor, l.skip, std::max(l.skip, e.capacity - 1)) - l.skip;
  const int x = cell * l.pitch;
  fill_rect_color(x, kTextY, x + l.pitch, kTextY + kWideTextRows, kCursorColor);
  const char under[2] = {e.cursor < e.length ? e.text[e.cursor] : ' ', 0};
  draw_text_wide_pitch(under, kTextY, x, l.pitch, kColorBackground);
  mark_dirty(kDirtyWholeWindow);
}

void draw_patient_screen(const LineEditor& e) {
  fill_rect_color(0, 0, 640, 480, kColorBackground);
  draw_screen_title("Patient Data");
  draw_buttons(g_keys.data());
  draw_edit_line(e);
}

// --- The search editor layout -----------------------------------------------------

constexpr int kSearchTextY = 20;

std::vector<ButtonRecord> g_search_keys;

void add_search_button(int x1, int y1, int x2, int y2, const char* label, int keyboard, int code,
                       int remote = 0) {
  add_button(g_search_keys, x1, y1, x2, y2, label, keyboard, code, remote);
}

void add_search_row(int y, const char* keys) {
  for (int i = 0; keys[i]; ++i) {
    const char c = keys[i];
    const char label[2] = {c, 0};
    const int keyboard = (c >= 'A' && c <= 'Z') ? c + 32 : c;
    add_search_button(20 + 50 * i, y, 20 + 50 * i + 49, y + 49, label, keyboard, c);
  }
}

// Keyed entries first: the keyboard lookup stops at the first entry
// without a keyboard code.
void build_search_keys() {
  if (!g_search_keys.empty()) return;
  add_search_button(360, 430, 479, 479, "OK", 269, kEditAccept, 13);
  add_search_button(480, 430, 599, 479, "CANCEL", 283, kEditExit, 17);
  add_search_button(0, 430, 119, 479, "INSERT", 301, 1030);
  add_search_button(240, 430, 359, 479, "DELETE", 302, 1060);
  add_search_button(0, 370, 119, 419, "\x1b", 293, 1020);
  add_search_button(120, 370, 239, 419, "\x1a", 295, 1010);
  add_search_button(240, 370, 359, 419, "\x1b BACK", 264, 1050);
  add_search_button(0, 0, 0, 0, "", 292, 1080);
  g_search_keys.back().state = kButtonHidden;
  add_search_button(0, 0, 0, 0, "", 291, 1090);
  g_search_keys.back().state = kButtonHidden;
  add_search_row(120, "1234567890-/");
  add_search_row(170, "QWERTYUIOP@");
  add_search_row(220, "#ASDFGHJKL*?");
  add_search_row(270, ">ZXCVBNM.,'");
  add_search_button(170, 320, 469, 369, "SPACE", 32, ' ');
  add_search_button(120, 430, 239, 479, "CAPS", 0, 1040);
  add_search_button(480, 370, 599, 419, "CLEAR", 0, 1070);
  g_search_keys.push_back(kButtonTableEnd);
}

void draw_search_line(const LineEditor& e) {
  fill_rect_color(0, kSearchTextY, 640, kSearchTextY + 14, kColorBackground);
  draw_text_cells(e.text, kSearchTextY, 0, kColorBackground, kColorWhite);
  const int x = std::min(e.cursor, 79) * 8;
  const char under[2] = {e.cursor < e.length ? e.text[e.cursor] : ' ', 0};
  fill_rect_color(x, kSearchTextY, x + 8, kSearchTextY + 10, kColorBlack);
  draw_text_cells(under, kSearchTextY, x / 8, kColorBlack, kColorWhite);
  fill_rect_color(0, 40, 160, 56, kColorBackground);
  set_colors(kColorBlack << 8 | kColorBackground);
  set_text_justify(kJustifyLeft, kJustifyTop);
  if (e.insert) draw_text(8, 40, "INSERT");
  if (read_caps_lock()) draw_text(80, 40, "CAPS");
  mark_dirty(kDirtyWholeWindow);
}

void draw_search_screen(const LineEditor& e) {
  // Over the plain tile: the background of the screen that called the editor
  // would show its own title band and list plate through the keys.
  release_background();
  fill_rect_color(0, 0, 640, 480, kColorBackground);
  set_colors(kColorBlack << 8 | kColorBackground);
  set_text_justify(kJustifyCentre, kJustifyTop);
  draw_text(319, 0, "Enter Search Parameter");
  set_text_justify(kJustifyLeft, kJustifyTop);
  draw_line(0, 18, 639, 18);
  draw_line(0, 38, 639, 38);
  draw_buttons(g_search_keys.data());
  draw_search_line(e);
}


// Runs editor events from the typing wait until the edit ends.  Characters
// in `refused` are not taken.
int run_editor(LineEditor& e, ButtonRecord* table, void (*draw_line)(const LineEditor&), bool previous,
               const char* refused = "") {
  int result = -1;
  while (result < 0) {
    int code = get_button_event_typing(table);
    if (code == kBackHeld && previous) code = 1050;
    if (code < 0 || code >= 0x1000) {
      if (!is_event_loop_live()) result = kEditExit;
      continue;
    }
    if (code >= 32 && code <= 126 && std::strchr(refused, code)) continue;
    result = line_edit_event(e, code);
    if (result == kEditPrevious && !previous) result = -1;
    draw_line(e);
  }
  // Only the release of a held press is waited for: keys typed ahead of the
  // next field must not be drained away.
  wait_button_release_typing(table);
  return result;
}

}  // namespace

int run_patient_line_editor(LineEditor& e) {
  build_keys();
  draw_patient_screen(e);
  return run_editor(e, g_keys.data(), draw_edit_line, true);
}

void start_line_edit(LineEditor& e, const char* label, const char* value, int capacity) {
  e.capacity = std::clamp(capacity, 0, kMaxText);
  const int label_length = static_cast<int>(label ? ::strnlen(label, static_cast<std::size_t>(kMaxText)) : 0);
  e.label_length = std::min(label_length, e.capacity);
  std::memset(e.text, 0, sizeof e.text);
  if (e.label_length) std::memcpy(e.text, label, static_cast<std::size_t>(e.label_length));
  const int room = e.capacity - e.label_length;
  const int value_length = static_cast<int>(value ? ::strnlen(value, static_cast<std::size_t>(room)) : 0);
  if (value_length) std::memcpy(e.text + e.label_length, value, static_cast<std::size_t>(value_length));
  e.length = e.label_length + value_length;
  end_position(e);
}

int line_edit_event(LineEditor& e, int code) {
  if (code >= 32 && code <= 126) {
    type_char(e, static_cast<char>(code));
    return -1;
  }
  switch (code) {
    case kEditAccept:
    case kEditExit:
    case kEditPrevious:
      return code;
    case 1010: move_right(e); break;
    case 1020:
      if (e.cursor > e.label_length) --e.cursor;
      break;
    case 1030: e.insert = !e.insert; break;
    case 1040: toggle_caps_lock(); break;
    case 1050:
      if (e.cursor > e.label_length) {
        --e.cursor;
        delete_at_cursor(e);
      }
      break;
    case 1060: delete_at_cursor(e); break;
    case 1070:
      e.length = e.label_length;
      std::memset(e.text + e.length, 0, sizeof e.text - static_cast<std::size_t>(e.length));
      e.cursor = e.label_length;
      break;
    case 1080: e.cursor = e.label_length; break;
    case 1090: end_position(e); break;
    default: break;
  }
  return -1;
}

const char* line_edit_value(const LineEditor& e) { return e.text + e.label_length; }

int edit_search_value(char* pattern, std::size_t size, const char* label, int width) {
  if (!pattern || size == 0) return 1;
  build_search_keys();
  // The stored pattern carries one "*" at each end; the operator sees what is
  // between them.
  std::string shown(pattern, ::strnlen(pattern, size));
  shown = shown.size() >= 2 ? shown.substr(1, shown.size() - 2) : std::string();
  LineEditor e{};
  e.insert = false;
  start_line_edit(e, label, shown.c_str(), width - 2);
  draw_search_screen(e);
  if (run_editor(e, g_search_keys.data(), draw_search_line, false) != kEditAccept) return 1;
  std::snprintf(pattern, size, "*%s*", line_edit_value(e));
  return 0;
}

int edit_import_value(std::string& value, const char* prompt, int max_length, const char* disallow, bool correcting) {
  build_search_keys();
  LineEditor e{};
  e.insert = false;
  start_line_edit(e, prompt, value.c_str(), max_length);
  // A value sent back to be corrected is typed over from its start: the
  // operator who types the whole value again gets that value, not the old
  // text with the new one after it.
  if (correcting) e.cursor = e.label_length;
  draw_search_screen(e);
  // A double quote would end the value early on the worklist program's side.
  const std::string refused = std::string(disallow ? disallow : "") + '"';
  if (run_editor(e, g_search_keys.data(), draw_search_line, false, refused.c_str()) != kEditAccept) return 1;
  value = line_edit_value(e);
  return 0;
}

}  // namespace vaslab
