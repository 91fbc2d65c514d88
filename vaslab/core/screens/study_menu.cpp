#include "vaslab/core/screens/study_menu.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "platform/file_io.h"
#include "platform/le_bytes.h"
#include "platform/paths.h"
#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/toolkit/buttons.h"
#include "vaslab/core/toolkit/fonts.h"
#include "vaslab/core/toolkit/screen.h"

namespace vaslab {

const char kStudyMenuFile[] = "c:\\studies\\uconfig.mnu";

namespace {

constexpr std::size_t kCopyPairSize = 2 * kStudyMenuEntrySize;
constexpr int kRows = 5;

// Row buttons from the top: codes 215 down to 211.
constexpr int kRowTopCode = 215;
constexpr int kEnterCode = 206;
constexpr int kExitCode = kStudyMenuExit;
constexpr int kF10Code = 210;

constexpr std::uint16_t kKeyEscape = 283, kKeyEnter = 269, kKeyF10 = 377;

ButtonRecord g_buttons[] = {
    {kButtonShown, 0, 68, 639, 127, "Study One^stud_01", '1', 215, 0},
    {kButtonShown, 0, 128, 639, 187, "Study Two^stud_02", '2', 214, 0},
    {kButtonShown, 0, 188, 639, 247, "Study Three^stud_03", '3', 213, 0},
    {kButtonShown, 0, 248, 639, 307, "Study Four^stud_04", '4', 212, 0},
    {kButtonShown, 0, 308, 639, 367, "Study Five^stud_05", '5', 211, 0},
    {kButtonShown, 0, 408, 131, 479, "EXIT^glbl_exit", kKeyEscape, kExitCode, 9},
    {kButtonHidden, 0, 0, 0, 0, "", kKeyEnter, kEnterCode, 13},
    {kButtonHidden, 0, 0, 0, 0, "", kKeyF10, kF10Code, 17},
    kButtonTableEnd,
};
constexpr int kExitIndex = 5;

bool is_submenu(const StudyMenuEntry& e) { return e.kind == kMenuKindSubmenu; }

// The walk from the root: every entry listed by exactly one submenu, no
// index outside the file, no submenu entered twice.
bool tree_is_sound(std::vector<StudyMenuEntry>& table, int n) {
  if (n == 0) return true;
  if (!is_submenu(table[0])) return false;
  for (int i = 0; i < n; ++i) table[static_cast<std::size_t>(i)].checksum = 0;
  table[0].checksum = 1;
  std::vector<int> pending{0};
  while (!pending.empty()) {
    const StudyMenuEntry sub = table[static_cast<std::size_t>(pending.back())];
    pending.pop_back();
    for (int j = 0; j < sub.child_count; ++j) {
      const int child = sub.first_child + j;
      if (child < 0 || child >= n) return false;
      StudyMenuEntry& c = table[static_cast<std::size_t>(child)];
      ++c.checksum;
      if (is_submenu(c)) {
        if (c.checksum > 1) return false;
        pending.push_back(child);
      }
    }
  }
  for (int i = 0; i < n; ++i)
    if (table[static_cast<std::size_t>(i)].checksum != 1) return false;
  return true;
}

// --- The screen ---------------------------------------------------------------

struct Level {
  int submenu = 0;   // entry index
  int selected = 1;  // 1-based row within the submenu
};

struct Walk {
  std::vector<StudyMenuEntry> table;
  std::vector<Level> path;  // the levels above the current one
  Level here;
  int first = 1;            // first visible row

  const StudyMenuEntry& sub() const { return table[static_cast<std::size_t>(here.submenu)]; }
  int count() const { return std::max<int>(0, sub().child_count); }
  // The entry of a 1-based row of the current submenu; null outside it.
  const StudyMenuEntry* row_entry(int row) const {
    if (row < 1 || row > count()) return nullptr;
    const int index = sub().first_child + row - 1;
    if (index < 0 || index >= kStudyMenuTableSize) return nullptr;
    return &table[static_cast<std::size_t>(index)];
  }
  int row_index(int row) const { return sub().first_child + row - 1; }

  void keep_window() {
    if (here.selected < first) first = here.selected;
    if (here.selected > first + kRows - 1) first = here.selected - kRows + 1;
    first = std::min(first, count() - kRows + 1);
    first = std::max(first, 1);
  }
};

void draw_row_text(const ButtonRecord& b, const std::string& text, bool selected) {
  const int font = kFontFixedButton;
  const int top = scale_y(b.y1) + (scale_y(b.y2 + 1) - scale_y(b.y1) - font_cell_height(font)) / 2;
  const std::uint32_t color = selected ? 0x00C00000u : 0x00000000u;
  draw_font_text(font, scale_x(b.x1 + 24), top, text.c_str(), color);
  flush_area(b.x1, b.y1, b.x2 + 1, b.y2 + 1);
}

void draw_walk(const Walk& w) {
  clear_screen();
  draw_screen_title("Studies");
  for (int k = 0; k < kRows; ++k) {
    ButtonRecord& b = g_buttons[k];
    const int row = w.first + k;
    const StudyMenuEntry* e = w.row_entry(row);
    b.state = e ? kButtonShown : kButtonHidden;
    if (!e) continue;
    draw_button_normal(b);
    draw_row_text(b, study_menu_row_text(*e), row == w.here.selected);
  }
  draw_button_normal(g_buttons[kExitIndex]);
}

// Enters or chooses the entry of a row: its template number when a study
// was chosen, -1 otherwise.
int choose_row(Walk& w, int row) {
  const StudyMenuEntry* e = w.row_entry(row);
  if (!e) return -1;
  w.here.selected = row;
  if (!is_submenu(*e)) return std::max(0, study_menu_template_number(*e));
  w.path.push_back(w.here);
  w.here = Level{w.row_index(row), 1};
  w.first = 1;
  return -1;
}

void show_rejection() {
  // Eight-pixel text: each line fits the width, and the two keep apart.
  set_text_size(0, 0, 1);
  g_draw.draw_color = kColorWhite;
  set_text_justify(kJustifyLeft, kJustifyTop);
  draw_text(0, 400, "Configuration file was corrupted.  Press any key to continue.");
  draw_text(0, 410, "Then select setup=>configure studies to attempt repair.");
  set_text_size(3, 4, 2);
  for (;;) {
    const int code = get_button_event(g_buttons);
    if (code >= 0 || !is_event_loop_live()) break;
  }
  wait_button_release(g_buttons);
}

}  // namespace

std::uint16_t study_menu_checksum(const std::uint8_t* entry44) {
  std::uint16_t sum = 0;
  for (std::size_t i = 0; i < 42; ++i) sum = static_cast<std::uint16_t>(sum + static_cast<std::int8_t>(entry44[i]));
  return sum;
}

void decode_study_menu_entry(const std::uint8_t* in, StudyMenuEntry& e) {
  e.kind = platform::get_u8(in);
  std::memcpy(e.label, in + 1, sizeof e.label);
  e.child_count = platform::get_s16le(in + 30);
  e.first_child = platform::get_s16le(in + 32);
  std::memcpy(e.template_name, in + 34, sizeof e.template_name);
  e.checksum = platform::get_u16le(in + 42);
}

void encode_study_menu_entry(const StudyMenuEntry& e, std::uint8_t* out) {
  platform::put_u8(out, e.kind);
  std::memcpy(out + 1, e.label, sizeof e.label);
  platform::put_s16le(out + 30, e.child_count);
  platform::put_s16le(out + 32, e.first_child);
  std::memcpy(out + 34, e.template_name, sizeof e.template_name);
  platform::put_u16le(out + 42, study_menu_checksum(out));
}

std::vector<std::uint8_t> encode_study_menu_file(const std::vector<StudyMenuEntry>& entries) {
  const std::size_t n = entries.size();
  std::vector<std::uint8_t> bytes(n * kCopyPairSize);
  for (std::size_t i = 0; i < n; ++i) {
    encode_study_menu_entry(entries[i], bytes.data() + i * kStudyMenuEntrySize);
    encode_study_menu_entry(entries[i], bytes.data() + (n + i) * kStudyMenuEntrySize);
  }
  return bytes;
}

StudyMenuEntry make_submenu_entry(const char* label, int first_child, int child_count) {
  StudyMenuEntry e;
  e.kind = kMenuKindSubmenu;
  std::snprintf(e.label, sizeof e.label, "%s", label);
  e.first_child = static_cast<std::int16_t>(first_child);
  e.child_count = static_cast<std::int16_t>(child_count);
  std::memset(e.template_name, '0', sizeof e.template_name);
  return e;
}

StudyMenuEntry make_study_entry(const char* label, int template_number) {
  StudyMenuEntry e;
  e.kind = kMenuKindStudy;
  std::snprintf(e.label, sizeof e.label, "%s", label);
  char digits[16];
  std::snprintf(digits, sizeof digits, "%08d", std::clamp(template_number, 0, 99999999));
  std::memcpy(e.template_name, digits, sizeof e.template_name);
  return e;
}

int study_menu_template_number(const StudyMenuEntry& e) {
  int n = 0;
  for (char c : e.template_name) {
    if (c < '0' || c > '9') return -1;
    n = n * 10 + (c - '0');
  }
  return n;
}

const char* check_study_menu_image(const std::vector<std::uint8_t>& bytes, std::vector<StudyMenuEntry>& table,
                                   int* entry_count) {
  table.assign(kStudyMenuTableSize, StudyMenuEntry{});
  if (entry_count) *entry_count = 0;
  const std::size_t n = bytes.size() / kCopyPairSize;
  if (n >= static_cast<std::size_t>(kStudyMenuTableSize)) return "Too many records in uconfig.mnu";
  for (std::size_t i = 0; i < n; ++i) {
    const std::uint8_t* first = bytes.data() + i * kStudyMenuEntrySize;
    const std::uint8_t* second = bytes.data() + (n + i) * kStudyMenuEntrySize;
    if (platform::get_u16le(first + 42) != study_menu_checksum(first)) return "Bad checksum in uconfig.mnu file.";
    if (std::memcmp(first, second, kStudyMenuEntrySize) != 0) return "Mismatch in uconfig.mnu file.";
    decode_study_menu_entry(first, table[i]);
  }
  if (!tree_is_sound(table, static_cast<int>(n))) {
    table.assign(kStudyMenuTableSize, StudyMenuEntry{});
    return "Unused or crosslinked entry in uconfig.mnu";
  }
  if (entry_count) *entry_count = static_cast<int>(n);
  return nullptr;
}

int load_study_menu_file(std::vector<StudyMenuEntry>& table, int* entry_count) {
  if (entry_count) *entry_count = 0;
  // One byte past the largest file taken is enough to see that it is too big.
  const std::size_t limit = kStudyMenuTableSize * kCopyPairSize;
  const auto bytes = platform::read_file(platform::map_path(kStudyMenuFile), limit + 1);
  int n = 0;
  if (!bytes || check_study_menu_image(*bytes, table, &n)) {
    table.assign(kStudyMenuTableSize, StudyMenuEntry{});
    return 1;
  }
  // A study must name its template by eight digits, or it cannot start.
  for (int i = 0; i < n; ++i)
    if (!is_submenu(table[i]) && study_menu_template_number(table[i]) < 0) {
      table.assign(kStudyMenuTableSize, StudyMenuEntry{});
      return 1;
    }
  if (entry_count) *entry_count = n;
  return 0;
}

std::string study_menu_row_text(const StudyMenuEntry& e) {
  char text[40];
  std::snprintf(text, sizeof text, "%-29.29s%c", std::string(e.label, strnlen(e.label, sizeof e.label)).c_str(),
                is_submenu(e) ? '>' : ' ');
  return text;
}

int run_study_menu() {
  set_colors(0x0710);
  load_background("stud_bkgd");
  clear_screen();
  Walk w;
  if (load_study_menu_file(w.table) != 0) {
    show_rejection();
    release_background();
    return -1;
  }
  const bool fixed_before = fixed_pitch_buttons();
  set_fixed_pitch_buttons(true);
  int result = -1;
  draw_walk(w);
  for (;;) {
    const int code = get_button_event(g_buttons);
    int chosen = -1;
    bool redraw = false;
    // A touched or clicked row acts when let go; a key typed on the keyboard
    // brings no release, so its press acts.
    int row_code = 0;
    if (code <= -(kRowTopCode - kRows + 1) && code >= -kRowTopCode)
      row_code = -code;
    else if (code >= kRowTopCode - kRows + 1 && code <= kRowTopCode && !touch_or_mouse_held())
      row_code = code;
    if (row_code != 0) {
      const int k = kRowTopCode - row_code + 1;  // 1 for the top row
      const int row = w.first + k - 1;
      if (w.row_entry(row)) {
        chosen = choose_row(w, row);
        redraw = true;
      }
    } else if (code == kEnterCode) {
      if (w.count() > 0) {
        chosen = choose_row(w, std::clamp(w.here.selected, 1, w.count()));
        redraw = true;
      }
    } else if (code == kExitCode) {
      if (w.path.empty()) {
        wait_button_release(g_buttons);
        break;
      }
      w.here = w.path.back();
      w.path.pop_back();
      w.first = w.here.selected;
      w.keep_window();
      redraw = true;
    } else if (code == kF10Code) {
      wait_button_release(g_buttons);
      break;
    }
    if (chosen >= 0) {
      // A digit typed on the keyboard also sends its character: drained
      // here, it cannot fall through into the next screen's typing.
      drain_button_events(g_buttons);
      result = chosen;
      break;
    }
    if (redraw) {
      w.keep_window();
      draw_walk(w);
    }
  }
  set_fixed_pitch_buttons(fixed_before);
  release_background();
  return result;
}

}  // namespace vaslab
