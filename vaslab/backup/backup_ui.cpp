#include "vaslab/backup/backup_ui.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/diskette.h"
#include "platform/paths.h"
#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/toolkit/bitmap_file.h"
#include "vaslab/core/toolkit/message_box.h"
#include "vaslab/core/toolkit/screen.h"

namespace vaslab {
namespace {

constexpr int kBarLeft = 270, kBarRight = 615, kBarSpan = 344;
constexpr std::int64_t kOverflow = 2000000000;

void fill_rgb(int x1, int y1, int x2, int y2, std::uint32_t color) {
  fill_pixels(scale_x(x1), scale_y(y1), scale_x(x2 + 1), scale_y(y2 + 1), color);
}

// A filled rectangle with corners rounded to `radius`.
void fill_rounded(int x1, int y1, int x2, int y2, int radius, std::uint32_t color) {
  for (int y = y1; y <= y2; ++y) {
    int inset = 0;
    const int dy = y < y1 + radius ? y1 + radius - y : y > y2 - radius ? y - (y2 - radius) : 0;
    while (inset < radius && (radius - inset) * (radius - inset) + dy * dy > radius * radius) ++inset;
    if (dy == 0) inset = 0;
    fill_rgb(x1 + inset, y, x2 - inset, y, color);
  }
}

std::int64_t query_free(char drive) {
  namespace dk = platform::diskette;
  if (drive == 'A' || drive == 'a') {
    const auto bytes = dk::free_bytes();
    const auto geometry = dk::current_geometry('A');
    if (!bytes || !geometry) return 0;
    const std::int64_t cluster = geometry->media == dk::MediaType::k35_720K ? 1024 : 512;
    return std::max<std::int64_t>(0, static_cast<std::int64_t>(*bytes) - cluster);
  }
  const auto bytes = platform::free_space(drive_path(drive, ""));
  if (!bytes) return 0;
  // One block is held back, as one cluster is on a diskette.
  return std::min<std::int64_t>(kOverflow, std::max<std::int64_t>(0, static_cast<std::int64_t>(*bytes) - 4096));
}

std::int64_t (*g_free_source)(char) = query_free;

}  // namespace

std::string drive_path(char drive, const char* rest) { return std::string(1, drive) + ":\\" + rest; }

std::string backup_file_path(char drive, int disk) {
  char name[32];
  std::snprintf(name, sizeof name, "ZVT_%04i.ZIP", disk);
  return drive_path(drive, name);
}

MessageLines split_message(const char* text, bool blank_controls) {
  MessageLines m;
  if (text == nullptr) return m;
  const char* br = std::strchr(text, '\n');
  const std::size_t first = std::min<std::size_t>(br ? static_cast<std::size_t>(br - text) : std::strlen(text), 40);
  std::memcpy(m.first, text, first);
  m.first[first] = 0;
  if (br) {
    std::snprintf(m.second, sizeof m.second, "%s", br + 1);
  }
  if (blank_controls)
    for (char* line : {m.first, m.second})
      for (char* p = line; *p; ++p)
        if (static_cast<unsigned char>(*p) < 32 || static_cast<unsigned char>(*p) > 126) *p = ' ';
  return m;
}

void draw_drive_frame(const char* title, const char* drive_caption, char drive) {
  set_colors(kColorBackground);
  clear_screen();
  g_draw.draw_color = kColorWhite;
  set_text_size(0, 0, 2);
  set_text_justify(kJustifyCentre, kJustifyCentre);
  draw_text(320, 25, title);
  const char letter[3] = {drive, ':', 0};
  draw_text(140, 100, letter);
  set_text_justify(kJustifyLeft, kJustifyTop);
  draw_rectangle(70, 80, 210, 120);
  draw_line(0, 49, 639, 49);
  draw_line(0, 390, 639, 390);
  draw_line(245, 50, 245, 390);
  draw_text_cells(drive_caption, 55, 2, kColorNone, kColorWhite);
}

void draw_message_panel(const MessageLines& m) {
  if (m.empty()) return;
  if (g_screen_geometry.x_scale > 1) fill_rounded(270, 235, 620, 355, 10, rgb(50, 50, 50));
  fill_rounded(265, 230, 615, 350, 10, rgb(200, 200, 200));
  auto centred = [](const char* line, int y) {
    const int column = (440 - static_cast<int>(std::strlen(line)) * 4) / 8;
    draw_text_cells(line, y, std::max(column, 33), kColorNone, kColorBlack);
  };
  if (m.second[0] == 0) {
    centred(m.first, 285);
  } else {
    centred(m.first, 275);
    centred(m.second, 290);
  }
}

void draw_progress_bar(bool upper, int percent, int& last_width) {
  const int top = upper ? 120 : 180, bottom = upper ? 150 : 210;
  const std::uint32_t color = upper ? rgb(190, 200, 225) : rgb(150, 77, 76);
  const int width = std::clamp(percent, 0, 100) * kBarSpan / 100;
  if (width < last_width) fill_rect_color(kBarLeft + 1, top + 1, kBarRight, bottom, kColorBackground);
  g_draw.draw_color = kColorWhite;
  draw_rectangle(kBarLeft, top, kBarRight, bottom);
  if (width > 0) {
    const int scale = g_screen_geometry.x_scale;
    if (scale == 1) {
      fill_rgb(kBarLeft + 1, top + 1, kBarLeft + width, bottom - 1, color);
    } else {
      // On the larger displays the bar is shaded darker towards its foot.
      for (int line = 0; line < bottom - top - 1; ++line) {
        const int d = line * line / (10 * scale);
        auto dim = [d](int c) { return std::max(0, c - d); };
        const std::uint32_t shaded = rgb(dim((color >> 16) & 0xFF), dim((color >> 8) & 0xFF), dim(color & 0xFF));
        fill_rgb(kBarLeft + 1, top + 1 + line, kBarLeft + width, top + 1 + line, shaded);
      }
    }
  }
  last_width = width;
}

void draw_progress_text(int row, const char* text) { draw_text_cells(text, row, 33, kColorBackground, kColorWhite); }

void draw_panel(int x1, int y1, int x2, int y2, const char* line1, int line1_y, const char* line2, int line2_y,
                ButtonRecord* table, bool small_text) {
  g_draw.fill_color = 1;
  fill_bar(x1, y1, x2, y2);
  g_draw.draw_color = kColorWhite;
  draw_rectangle(x1, y1, x2, y2);
  set_text_size(0, 0, small_text ? 1 : 2);
  set_text_justify(kJustifyCentre, kJustifyTop);
  if (line1) draw_text(320, line1_y, line1);
  if (line2) draw_text(320, line2_y, line2);
  set_text_justify(kJustifyLeft, kJustifyTop);
  draw_buttons(table);
}

namespace {

int run_panel_drawn(ButtonRecord* table, const std::vector<int>& codes, int on_close) {
  for (;;) {
    if (!is_event_loop_live()) return on_close;
    const int code = get_button_event(table);
    if (std::find(codes.begin(), codes.end(), code) == codes.end()) continue;
    wait_button_release(table);
    return code;
  }
}

}  // namespace

int run_panel(int x1, int y1, int x2, int y2, const char* line1, int line1_y, const char* line2, int line2_y,
              ButtonRecord* table, const std::vector<int>& codes, int on_close, bool small_text) {
  draw_panel(x1, y1, x2, y2, line1, line1_y, line2, line2_y, table, small_text);
  return run_panel_drawn(table, codes, on_close);
}

int run_question_panel(const char* title, const char* text, ButtonRecord* table, const std::vector<int>& codes,
                       int on_close) {
  // Lines of 36 cells centred in the panel (10 to 630), 20 pixels apart,
  // the first 50 below the panel's top; nine fit above the buttons (y 330)
  // from the usual top at y 100, and each further line raises the top by
  // one line.
  constexpr int kUsualTop = 100, kLineSpacing = 20, kFirstLine = 50;
  constexpr std::size_t kLineChars = 36;
  constexpr std::size_t kUsualLines = 9, kMostLines = kUsualLines + kUsualTop / kLineSpacing - 1;
  std::vector<std::string> lines = wrap_box_text(text, kLineChars);
  if (lines.size() > kMostLines) lines.resize(kMostLines);
  const int top = kUsualTop - kLineSpacing * static_cast<int>(std::max(lines.size(), kUsualLines) - kUsualLines);
  draw_panel(10, top, 630, 390, title, top + 10, nullptr, 0, table);
  set_text_size(0, 0, 2);
  set_text_justify(kJustifyCentre, kJustifyTop);
  for (std::size_t i = 0; i < lines.size(); ++i)
    draw_text(320, top + kFirstLine + kLineSpacing * static_cast<int>(i), lines[i].c_str());
  set_text_justify(kJustifyLeft, kJustifyTop);
  return run_panel_drawn(table, codes, on_close);
}

int next_screen_code(ButtonRecord* table, bool working) {
  keep_passes_short(working);
  int code = get_button_event(table);
  if (code < -1) return -1;
  if (code == (kBackupDriveDownCode | kRepeatBit) || code == (kBackupDriveUpCode | kRepeatBit)) code &= ~kRepeatBit;
  if (code == kBackupExitCode || code == kBackupStartCode || code == kBackupDriveDownCode ||
      code == kBackupDriveUpCode)
    wait_button_release(table);
  return code;
}

char next_drive(char drive, int direction) {
  if (direction < 0) return drive == 'A' ? 'Z' : drive == 'D' ? 'B' : static_cast<char>(drive - 1);
  return drive == 'Z' ? 'A' : drive == 'B' ? 'D' : static_cast<char>(drive + 1);
}

std::int64_t backup_free_space(char drive) {
  std::int64_t free = g_free_source(drive);
  if (drive != 'C' && drive != 'c') {
    const std::int64_t c = g_free_source('C');
    free = std::min(free, std::max<std::int64_t>(0, c - 10000000));
  }
  return free;
}

void set_backup_free_space_source(std::int64_t (*source)(char drive)) { g_free_source = source ? source : query_free; }

}  // namespace vaslab
