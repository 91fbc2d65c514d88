// The worklist import screen.  The query buttons come from the button
// script; a query asks the button's user inputs, runs the worklist program
// with them and lists the "*.scr" files it left in "C:\TEMP\", one patient
// each, whose ".inf", ".imp" and ".exp" files lie beside them under the same
// base name.  Select copies the chosen patient's ".imp" and ".exp" files to
// "import.dat" and "export.dat" of the import folder.
#include "vaslab/records/worklist_import.h"

#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/file_io.h"
#include "platform/find.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/toolkit/buttons.h"
#include "vaslab/core/toolkit/main_window.h"
#include "vaslab/core/toolkit/message_box.h"
#include "vaslab/core/toolkit/screen.h"
#include "vaslab/records/import_buttons.h"
#include "vaslab/records/line_editor.h"

namespace vaslab {
namespace {

constexpr int kLineBytes = 80;
constexpr int kMaxRows = 50;
constexpr int kRowsShown = 19;
constexpr int kListTop = 29;
constexpr int kRowHeight = 14;
constexpr int kTitleChars = 20;

constexpr int kCodeUp = 100;
constexpr int kCodeDown = 101;
constexpr int kCodeSelect = 103;
constexpr int kCodeQuery1 = 104;
constexpr int kCodeCancel = 107;
constexpr int kCodeInfo = 108;
constexpr int kCodeList = 109;

constexpr int kViewerLines = 29;
constexpr int kViewerStep = 5;

constexpr const char* kWorklistProgram = "C:\\PROGRAMS\\KorvMWL.exe";
constexpr const char* kRequiredText = "C:\\PROGRAMS\\required.txt";
constexpr const char* kResultFolder = "C:\\TEMP\\";
constexpr const char* kNoPatientText = "No patient matches this query.";

struct ResultRow {
  std::string key;  // the whole base name: a cut one could name another patient's files
  std::string text;
};

struct ImportScreen {
  std::string folder;  // the import folder, with its trailing backslash
  int option = 0;
  std::string title;
  ImportButtonSet set;
  std::string values[kImportUserInputs];
  std::vector<ResultRow> rows;
  // A query has run and answered: an empty list then means nobody matched.
  bool answered = false;
  int selected = 0;
  int first_shown = 0;
  // Time since the auto button last ran, kept in 64 bits: a period of
  // minutes times 60000 outgrows the 32-bit tick.
  std::uint64_t auto_elapsed_ms = 0;
  std::uint32_t last_tick = 0;
};
ImportScreen g;
std::vector<std::string> g_viewer_page;
std::vector<std::string> g_list_page;

ButtonRecord g_table[] = {
    make_button(0, 314, 209, 365, "Query 1", kCodeQuery1, '1'),
    make_button(215, 314, 424, 365, "Query 2", kCodeQuery1 + 1, '2'),
    make_button(430, 314, 639, 365, "Query 3", kCodeQuery1 + 2, '3'),
    make_button(0, 371, 209, 422, "\x18", kCodeUp, 294, 19),
    make_button(215, 371, 424, 422, "Info", kCodeInfo, 'i'),
    make_button(0, 428, 209, 479, "\x19", kCodeDown, 296, 20),
    make_button(215, 428, 424, 479, "Select", kCodeSelect, 269),
    make_button(430, 428, 639, 479, "Cancel", kCodeCancel, 283, 17),
    make_button(0, kListTop, 639, 294, "", kCodeList, 0, 255, kButtonGreyed),
    kButtonTableEnd,
};
const ButtonRecord kDefaultQueryButtons[3] = {g_table[0], g_table[1], g_table[2]};

ButtonRecord g_viewer_table[] = {
    make_button(0, 428, 209, 479, "\x18", kCodeUp, 294, 19),
    make_button(215, 428, 424, 479, "\x19", kCodeDown, 296, 20),
    make_button(430, 428, 639, 479, "Continue", kCodeCancel, 269, 17),
    make_button(0, 0, 0, 0, "", kCodeCancel, kEscapeKeyCode, 0, kButtonHidden),
    kButtonTableEnd,
};


// 80 bytes as one drawable line: whatever the file holds, a NUL or a line
// end never cuts or breaks it.
std::string drawable(const char* bytes, std::size_t n) {
  std::string out(bytes, std::min<std::size_t>(n, kLineBytes));
  for (char& c : out)
    if (c == '\0' || c == '\r' || c == '\n') c = ' ';
  return out;
}

// The heading line stands on the tile above the list's plate.
void draw_heading_cells(const std::string& text) {
  draw_text_cells(text.c_str(), 0, 0, kColorBackground, kColorWhite);
}

void restart_auto_period() {
  g.auto_elapsed_ms = 0;
  g.last_tick = platform::tick_ms();
}

bool auto_period_due() {
  const std::uint32_t now = platform::tick_ms();
  g.auto_elapsed_ms += platform::ticks_since(g.last_tick, now);
  g.last_tick = now;
  if (!g.set.auto_button) return false;
  const ImportButton* b = g.set.buttons[g.set.auto_button - 1].get();
  if (!b || b->auto_period <= 0) return false;
  return g.auto_elapsed_ms >= static_cast<std::uint64_t>(b->auto_period) * 60000u;
}

// --- The viewer ------------------------------------------------------------------------

void draw_viewer(const std::string& title, const std::vector<std::string>& lines, const std::string& blank,
                 bool at_start, bool at_end) {
  g_viewer_page = {title};
  g_viewer_page.insert(g_viewer_page.end(), lines.begin(), lines.end());
  // The text lies on a plate whose edges are the lines under the title
  // (y 15) and above the buttons (y 423).
  load_background("wl_view_bkgd");
  fill_rect_color(0, 0, 640, 480, kColorBackground);
  set_colors(kColorBlack << 8 | kColorBackground);
  draw_heading_cells(title);
  for (int i = 0; i < kViewerLines; ++i)
    draw_cell_list_row((i < static_cast<int>(lines.size()) ? lines[i] : blank).c_str(), 17 + i * kRowHeight, false);
  g_viewer_table[0].state = at_start ? kButtonHidden : kButtonShown;
  g_viewer_table[1].state = at_end ? kButtonHidden : kButtonShown;
  draw_buttons(g_viewer_table);
  mark_dirty(kDirtyWholeWindow);
}

}  // namespace

const std::vector<std::string>& last_viewer_page() { return g_viewer_page; }
const std::vector<std::string>& last_list_page() { return g_list_page; }

void show_text_file(const std::string& win_path) {
  const std::string path = platform::map_path(win_path);
  const std::string ending = win_path.substr(win_path.size() >= 3 ? win_path.size() - 3 : 0);
  std::string title;
  std::string blank;
  char header[kLineBytes + 1];
  if (platform::same_name(ending, "inf")) {
    std::snprintf(header, sizeof header, "%-9s\263%-35s\263%-34s", "TAG", "DESCRIPTION", "VALUE");
    title = header;
    std::snprintf(header, sizeof header, "%-9s\263%-35s\263%-34s", "", "", "");
    blank = header;
  } else {
    title = platform::same_name(ending, "err") ? "Error File:" : "Info:";
  }
  int first = 0;
  for (;;) {
    std::vector<std::string> lines;
    bool at_end = true;
    const int fd = platform::open_regular_file(path);
    if (fd < 0) {
      title = "Error:";
      lines.push_back("File Error.  Press continue to return to Import menu.");
      first = 0;
    } else {
      // One page and one byte more, to tell whether there is more.
      std::vector<char> page(kViewerLines * kLineBytes + 1);
      const ssize_t n = ::pread(fd, page.data(), page.size(), static_cast<off_t>(first) * kLineBytes);
      ::close(fd);
      const std::size_t got = n > 0 ? static_cast<std::size_t>(n) : 0;
      at_end = got <= kViewerLines * kLineBytes;
      for (std::size_t off = 0; off < got && lines.size() < kViewerLines; off += kLineBytes)
        lines.push_back(drawable(page.data() + off, got - off));
    }
    draw_viewer(title, lines, blank, first == 0, at_end);
    wait_button_release(g_viewer_table);
    int code = kNoEvent;
    for (;;) {
      code = get_button_event(g_viewer_table);
      if (code == kNoEvent && !is_event_loop_live()) code = kCodeCancel;
      if (code == kCodeCancel || (code & ~kRepeatBit) == kCodeUp || (code & ~kRepeatBit) == kCodeDown) break;
      if (code == kNoEvent) platform::sleep_ms(1);
    }
    if (code == kCodeCancel) break;
    if ((code & ~kRepeatBit) == kCodeUp) first = std::max(0, first - kViewerStep);
    else if (!at_end) first += kViewerStep;
  }
  wait_button_release(g_viewer_table);
  restart_auto_period();
}

namespace {

// --- The list screen -------------------------------------------------------------------

void keep_selection_in_view() {
  if (g.selected < g.first_shown) g.first_shown = g.selected;
  if (g.selected >= g.first_shown + kRowsShown) g.first_shown = g.selected - kRowsShown + 1;
}

void draw_list() {
  keep_selection_in_view();
  fill_rect_color(0, kListTop - 1, 640, kListTop + kRowsShown * kRowHeight, kColorBackground);
  g_list_page.clear();
  for (int i = 0; i < kRowsShown; ++i) {
    const int row = g.first_shown + i;
    if (row >= static_cast<int>(g.rows.size())) break;
    g_list_page.push_back(drawable(g.rows[row].text.data(), g.rows[row].text.size()));
    draw_cell_list_row(g_list_page.back().c_str(), kListTop + i * kRowHeight, row == g.selected);
  }
  if (g.rows.empty() && g.answered) {
    g_list_page.push_back(kNoPatientText);
    set_colors(kColorBlack << 8 | kColorBackground);
    set_text_justify(kJustifyCentre, kJustifyTop);
    // In the list's own ink: white on the light plate could hardly be read.
    g_draw.draw_color = kColorBlack;
    draw_text(319, kListTop + 8 * kRowHeight, kNoPatientText);
    set_text_justify(kJustifyLeft, kJustifyTop);
  }
  mark_dirty(kDirtyWholeWindow);
}

void draw_screen() {
  // The list lies on a plate whose edges are the lines under the heading
  // (y 14) and above the buttons (y 309).
  load_background("wl_bkgd");
  fill_rect_color(0, 0, 640, 480, kColorBackground);
  set_colors(kColorBlack << 8 | kColorBackground);
  char header[kLineBytes + 1];
  std::snprintf(header, sizeof header, "%-29s\263%-29s\263%-20.20s", "NAME", "I.D.", g.title.c_str());
  draw_heading_cells(header);
  draw_buttons(g_table);
  set_text_justify(kJustifyCentre, kJustifyTop);
  g_draw.draw_color = kColorWhite;
  draw_text(534, 378, "KORVANI");
  draw_text(534, 400, "DICOM");
  set_text_justify(kJustifyLeft, kJustifyTop);
  draw_list();
}

// The worklist program only adds its answer to the result folder: the
// patients of the last run go first, each "*.scr" with the files beside it,
// or they would be listed (and could be imported) as if they matched.
void clear_results() {
  for (const platform::FoundFile& f : platform::list_files(std::string(kResultFolder) + "*.scr")) {
    if (f.attributes & platform::kAttrDirectory) continue;
    const std::string base = kResultFolder + f.name.substr(0, f.name.size() - 4);
    for (const char* ending : {".scr", ".inf", ".imp", ".exp"}) ::unlink(platform::map_path(base + ending).c_str());
  }
  g.rows.clear();
  g.answered = false;
}

// Each "*.scr" of the result folder that opens, at most 50: key and the
// first 80 bytes.
void rescan_results() {
  g.rows.clear();
  g.selected = 0;
  g.first_shown = 0;
  for (const platform::FoundFile& f : platform::list_files(std::string(kResultFolder) + "*.scr")) {
    if (g.rows.size() >= kMaxRows) break;
    if (f.attributes & platform::kAttrDirectory) continue;
    const auto bytes = platform::read_file(platform::map_path(kResultFolder + f.name), kLineBytes);
    if (!bytes) continue;
    ResultRow r;
    r.key = f.name.substr(0, f.name.size() - 4);
    r.text.assign(bytes->begin(), bytes->end());
    g.rows.push_back(std::move(r));
  }
}

bool select_patient() {
  if (g.rows.empty()) return false;
  const std::string key = std::string(kResultFolder) + g.rows[g.selected].key;
  const std::string import_dat = platform::map_path_create_dirs(g.folder + "import.dat");
  const std::string export_dat = platform::map_path_create_dirs(g.folder + "export.dat");
  ::unlink(import_dat.c_str());
  ::unlink(export_dat.c_str());
  // A patient whose data did not copy must not come in half: no
  // "import.dat" then, and no "export.dat" without its source.
  if (platform::copy_file_atomic(platform::map_path(key + ".imp"), import_dat) != 0) {
    show_message_box(nullptr, "The chosen patient's data could not be copied.", "Import", kMbOkOnly);
    return false;
  }
  if (platform::copy_file_atomic(platform::map_path(key + ".exp"), export_dat) != 0) ::unlink(export_dat.c_str());
  return true;
}

// The query labels and states of the script's buttons.
void install_buttons() {
  for (int i = 0; i < kImportButtons; ++i) {
    g_table[i] = kDefaultQueryButtons[i];
    if (const ImportButton* b = g.set.buttons[i].get()) {
      set_button_label(g_table[i], b->text.c_str());
      g_table[i].state = b->enabled ? kButtonShown : kButtonHidden;
    }
  }
}

void show_query_errors() { show_text_file(g.folder + "query.err"); }

}  // namespace

int run_worklist_query(int button_number) {
  if (button_number < 1 || button_number > kImportButtons || !g.set.buttons[button_number - 1]) return -2;
  const ImportButton& b = *g.set.buttons[button_number - 1];
  if (button_number == g.set.auto_button) restart_auto_period();
  for (int i = 0; i < kImportUserInputs; ++i) {
    const ImportUserInput* in = b.inputs[i].get();
    if (!in) continue;
    std::string value = in->default_text;
    for (bool again = false;; again = true) {
      if (edit_import_value(value, in->prompt.c_str(), in->max_length, in->disallow.c_str(), again) == 1) return 0;
      if (!in->required || value.size() >= 3) break;
      show_text_file(kRequiredText);
    }
    g.values[i] = value;
  }
  std::vector<std::string> args = {std::to_string(button_number), g.folder + "query.err"};
  for (const std::string& v : g.values) args.push_back(v.size() >= 128 ? std::string() : v);
  clear_results();
  fill_rect_color(0, 0, 640, 480, kColorBackground);
  mark_dirty(kDirtyWholeWindow);
  minimise_main_window();
  const int rc = platform::run_program(kWorklistProgram, args);
  restore_main_window();
  if (g.option & 0x80) {
    fill_rect_color(0, 0, 640, 480, kColorBackground);
    std::puts("");
  }
  int result = rc;
  if (rc == platform::kNotStarted) {
    char line[kLineBytes + 1];
    std::snprintf(line, sizeof line, "*ERROR*\263spawnv returned error code: %i", rc);
    // The error line is the only report of a program that did not start;
    // with no room for it the result list simply stays empty.
    (void)platform::write_file_atomic(platform::map_path_create_dirs(g.folder + "query.err"), line,
                                      std::strlen(line));
  }
  rescan_results();
  g.answered = rc == 0;
  return result;
}

int dicommwl_main(int argc, char* argv[]) {
  if (argc < 4 || !argv) return 1;
  g.folder = argv[1] ? argv[1] : "";
  g.option = argv[2] ? std::atoi(argv[2]) : 0;
  // The title may begin with a double quote and run over further
  // arguments; it ends at its next double quote and at 20 characters.
  std::string title = argv[3] ? argv[3] : "";
  for (int i = 4; i < argc && argv[i] && title.size() < kTitleChars && title.find('"', 1) == std::string::npos; ++i)
    title = (title + " " + argv[i]).substr(0, 29);
  if (!title.empty() && title[0] == '"') title.erase(0, 1);
  title = title.substr(0, title.find('"')).substr(0, kTitleChars);
  g.title = title;
  for (auto& v : g.values) v.clear();
  g.rows.clear();
  g.answered = false;
  g.selected = g.first_shown = 0;
  restart_auto_period();

  if (!load_import_buttons(g.folder, g.set)) {
    show_text_file(g.folder + "import.err");
    return 1;
  }
  install_buttons();
  if (g.set.warnings) show_text_file(g.folder + "import.err");
  if (g.set.auto_button) {
    if (run_worklist_query(g.set.auto_button) != 0) show_query_errors();
    ImportButton* b = g.set.buttons[g.set.auto_button - 1].get();
    if (b && b->auto_period < 0) g.set.auto_button = 0;
  }
  draw_screen();
  wait_button_release(g_table);
  for (;;) {
    int code = kNoEvent;
    const bool auto_code = auto_period_due();
    if (auto_code) code = kCodeQuery1 + g.set.auto_button - 1;
    else code = get_button_event(g_table);
    if (code == kNoEvent && !is_event_loop_live()) code = kCodeCancel;
    const int n = static_cast<int>(g.rows.size());
    switch (code) {
      case kCodeUp:
      case kCodeUp | kRepeatBit:
        if (n && g.selected > 0) {
          --g.selected;
          draw_list();
        }
        break;
      case kCodeDown:
      case kCodeDown | kRepeatBit:
        if (n && g.selected < n - 1) {
          ++g.selected;
          draw_list();
        }
        break;
      case kCodeList:
      case kCodeList | kRepeatBit: {
        const int y = pointer_position() >> 16;
        const int row = g.first_shown + std::clamp((y - kListTop) / kRowHeight, 0, kRowsShown - 1);
        if (row < n && row != g.selected) {
          g.selected = row;
          draw_list();
        }
        break;
      }
      case kCodeQuery1:
      case kCodeQuery1 + 1:
      case kCodeQuery1 + 2:
        // A hidden button's key does nothing; the auto query runs whatever.
        if (g_table[code - kCodeQuery1].state == kButtonHidden && !auto_code) break;
        // The key's own character must not reach the first input's editor.
        drain_button_events(g_table);
        if (run_worklist_query(code - kCodeQuery1 + 1) != 0) show_query_errors();
        draw_screen();
        break;
      case kCodeInfo:
        if (n) {
          wait_button_release(g_table);
          show_text_file(std::string(kResultFolder) + g.rows[g.selected].key + ".inf");
          draw_screen();
        }
        break;
      case kCodeSelect:
        if (n && select_patient()) {
          for (auto& b : g.set.buttons) free_import_button(b);
          wait_button_release(g_table);
          return 0;
        }
        if (n) draw_screen();
        break;
      case kCodeCancel:
        for (auto& b : g.set.buttons) free_import_button(b);
        wait_button_release(g_table);
        return 0;
      default:
        if (code == kNoEvent) platform::sleep_ms(1);
        break;
    }
  }
}

}  // namespace vaslab
