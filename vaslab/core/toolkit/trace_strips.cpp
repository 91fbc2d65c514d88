#include "vaslab/core/toolkit/trace_strips.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "vaslab/core/toolkit/buttons.h"
#include "vaslab/core/toolkit/fonts.h"
#include "vaslab/core/toolkit/screen.h"

namespace vaslab {

TraceStripState g_trace_strips;

namespace {

constexpr std::uint32_t kYellow = rgb(255, 255, 0);
constexpr std::uint32_t kRed = rgb(255, 0, 0);
constexpr std::uint32_t kGreen = rgb(0, 255, 0);
constexpr std::uint32_t kBlack = 0;
constexpr std::uint32_t kValueColor = rgb(36, 67, 74);
constexpr int kStripRows = 156;

int xs() { return std::max(1, g_screen_geometry.x_scale); }

// Fills surface pixels of a strip, clipped to it.
void fill(Bitmap* s, int left, int top, int right, int bottom, std::uint32_t c) {
  left = std::max(left, 0);
  top = std::max(top, 0);
  right = std::min(right, s->width);
  bottom = std::min(bottom, s->height);
  for (int y = top; y < bottom; ++y)
    for (int x = left; x < right; ++x) s->at(x, y) = c;
}

// The first and one-past-last used column of a strip of `width` columns.
void used_columns(int width, int& first, int& end) {
  if (width > 296) {
    first = 0;
    end = 592;
  } else {
    first = 296 - std::max(width, 0);
    end = 296;
  }
}

// Moves the pixel columns [from, to) of every row by `shift` pixels.
void move_columns(Bitmap* s, int from, int to, int shift) {
  from = std::clamp(from, 0, s->width);
  to = std::clamp(to, 0, s->width);
  if (from >= to) return;
  for (int y = 0; y < s->height; ++y) {
    std::uint32_t* row = &s->at(0, y);
    const int dst = std::clamp(from + shift, 0, s->width);
    const int n = std::min(to - from, s->width - dst);
    if (n > 0) std::memmove(row + dst, row + from, static_cast<size_t>(n) * sizeof *row);
  }
}

bool in_range(int v) { return (v & 0x100) == 0; }
bool below(int v) { return (v & 0x1FF) == kBelowStrip; }

int surface_row(int row) { return static_cast<int>(row * 156.0 / 255.0 * g_screen_geometry.y_scale); }

void text_value(int font, int x, int y, const char* text, std::uint32_t color) {
  draw_font_text(font, scale_x(x), scale_y(y), text, color);
}

}  // namespace

int sample_to_row(int v, int flag) {
  v &= 0xFF;
  if (xs() == 1 || flag) return (9945 - 39 * v + 32) / 64;
  return 255 - v;
}

int strip_column(int byte_number, int mask) {
  mask &= 0xFF;
  if (mask == 0) return 8 * (byte_number - 1);
  int zeros = 0;
  for (int bit = 0x80; bit && !(mask & bit); bit >>= 1) ++zeros;
  return 8 * (byte_number - 1) + zeros;
}

void scroll_strip_left(Bitmap* strip, int width) {
  if (!strip || strip->empty()) return;
  int first, end;
  used_columns(width, first, end);
  const int s = xs();
  move_columns(strip, (first + 1) * s, end * s, -s);
  fill(strip, (end - 1) * s, 0, end * s, strip->height, kBlack);
}

void scroll_strip_right(Bitmap* strip, int width) {
  if (!strip || strip->empty()) return;
  int first, end;
  used_columns(width, first, end);
  const int s = xs();
  move_columns(strip, first * s, (end - 1) * s, s);
  fill(strip, first * s, 0, (first + 1) * s, strip->height, kBlack);
}

void erase_strip(Bitmap* strip, int width) {
  if (!strip || strip->empty()) return;
  const int s = xs();
  // A strip of 296 columns or more is cleared from column 0 over its whole
  // width, the wide strip included.
  if (width >= 296)
    fill(strip, 0, 0, std::max(width, 296) * s, strip->height, kBlack);
  else
    fill(strip, (296 - std::max(width, 0)) * s, 0, 296 * s, strip->height, kBlack);
}

void draw_trace_segment(Bitmap* strip, int row_tick, int a, int b, int mask, int byte_number) {
  if (!strip || strip->empty()) return;
  const int s = xs();
  const int full = s == 1 ? kStripRows : 255;
  a &= 0x1FF;
  b &= 0x1FF;
  const int ra = sample_to_row(a, 0), rb = sample_to_row(b, 0);
  int y = 0, len = 0;
  bool bottom_flag = false, top_flag = false;
  if (in_range(a) && in_range(b)) {
    y = std::min(ra, rb);
    len = std::abs(ra - rb) + 1;
  } else if (in_range(a) && below(b)) {
    y = ra;
    len = full - ra;
    bottom_flag = len == 0;
  } else if (in_range(a)) {
    y = 0;
    len = ra + 1;
  } else if (in_range(b)) {
    if (below(a)) {
      y = rb;
      len = full - rb;
      bottom_flag = true;
    } else {
      y = 0;
      len = rb + 1;
      top_flag = true;
    }
  } else {
    len = a == b ? 0 : full;
    y = 0;
    (below(a) ? bottom_flag : top_flag) = true;
  }

  const int col = strip_column(byte_number, mask);
  const int x0 = col * s;
  auto red_tick = [&](int left, int right) {
    if (bottom_flag) fill(strip, left, scale_y(155), right, scale_y(155) + std::max(1, scale_y(1)), kRed);
    if (top_flag) fill(strip, left, 0, right, std::max(1, scale_y(1)), kRed);
  };
  if (row_tick > 22) {
    const int r = scale_y(row_tick - 23);
    fill(strip, x0, r, x0 + s, r + 1, kGreen);
  }
  if (len <= 0) {
    red_tick(x0, x0 + s);
    return;
  }
  if (s == 1) {
    fill(strip, x0, y, x0 + 1, y + len, kYellow);
    return;
  }

  // A wider column is S sub-columns: the run is spread over them as a
  // staircase of 2-pixel-wide shares, the new sample's end on the left.
  const int start = surface_row(y);
  const double exact = len * 156.0 / 255.0 * g_screen_geometry.y_scale;
  int rows = static_cast<int>(exact);
  if (rows < exact) ++rows;
  if (in_range(a) && in_range(b) && ra == rb) {
    fill(strip, x0, start, x0 + s, start + 2, kYellow);
  } else {
    const bool new_above = (in_range(a) && in_range(b) && rb < ra) || (!in_range(b) && !below(b));
    const int base = rows / s, rem = rows % s;
    const int every = rem ? (s + rem - 1) / rem : 0;
    int row = start;
    for (int i = 0; i < s; ++i) {
      const int share = base + (rem && i % every == 0 ? 1 : 0);
      const int sub = new_above ? i : s - 1 - i;
      fill(strip, x0 + sub, row, x0 + sub + 2, row + share, kYellow);
      row += share;
    }
  }
  red_tick(x0 + s - 2, x0 + s);
}

void show_strip(Bitmap* strip, int width, int x) {
  if (!strip || strip->empty() || !screen_bitmap()) return;
  scroll_strip_left(strip, width);
  int first, end;
  used_columns(width, first, end);
  const int s = xs();
  const int rows = std::min(179, strip->height);
  blit_pixels(*strip, first * s, 0, (end - first) * s, rows, x * s, 46, 0, 0, g_screen_geometry.width,
              g_screen_geometry.height);
  flush_rect(x * s, 46, (end - first) * s, rows);
}

void save_strips_from_background(int flags) {
  Bitmap* bg = background_bitmap();
  if (!bg) return;
  auto save = [&](Bitmap* strip, int from_x, int units) {
    if (!strip || strip->empty()) return;
    const int w = units * 16 + 8;
    copy_pixels(*strip, *bg, from_x, 46, w, kStripRows, 0, 0, 0, 0, strip->width, strip->height);
  };
  if (flags & 1) save(left_strip(), 8, g_left_strip_units);
  if (flags & 2) save(right_strip(), 336, g_right_strip_units);
}

void draw_scale_bitmap(int step, int x, int y) {
  static const char* const kNames[] = {"d50", "d75", "1", "1d5", "2", "3", "4", "6", "8", "12", "16"};
  const char* name = step >= 1 && step <= 10 ? kNames[step] : kNames[0];
  char bitmap[32];
  std::snprintf(bitmap, sizeof bitmap, "glbl_scale_%s", name);
  DrawBitmap(bitmap, x, y, x + 35, y + 26);
}

void get_scale_baseline_row(int sample, int flags, int* out) {
  if (!out) return;
  *out = (flags & 4) ? sample_to_row(sample, 1) + 23 : -1;
}

void format_three_digits(char* buf, int value) {
  std::snprintf(buf, 4, "%3d", std::clamp(value, 0, 999));
}

void draw_pressure_value(const char* text, int value, int* last_shown, int upper_limit, int x, int y, int unit_flag) {
  if (x == 0 && y == 0) {
    x = 442;
    y = 117;
  }
  if (text && text[0]) {
    fill_rect_color(x, y, x + 88, y + 33, g_draw.fill_color);
    if (unit_flag) fill_rect_color(x + 67, y + 20, x + 108, y + 34, g_draw.fill_color);
    set_colors(kColorBackground);
    const int font = std::strlen(text) > 3 ? kFontPressure : kFontEntry;
    text_value(font, x - 2, y - 9, text, kValueColor);
    // A figure typed in place of the measured one is a pressure all the
    // same, and keeps its unit; another text ("NC") stands alone.
    const std::size_t figure = std::strspn(text, "0123456789");
    if (unit_flag && figure > 0 && figure <= 3 && text[figure] == 0)
      DrawBitmap("glbl_ind_mmhg", x + 67, y + 20, x + 107, y + 33);
    flush_area(x - 3, y, x + 175, y + 33);
    return;
  }
  if (last_shown && value == *last_shown) return;
  if (last_shown) *last_shown = value;
  fill_rect_color(x - 3, y, x + 175, y + 33, g_draw.fill_color);
  if (value > upper_limit) {
    DrawBitmap("glbl_ind_ovr", x - 3, y + 4, x + 62, y + 32);
  } else {
    char digits[4];
    format_three_digits(digits, value);
    for (int i = 0; i < 3; ++i) {
      const char one[2] = {digits[i], 0};
      text_value(kFontEntry, x - 2 + 21 * i, y - 9, one, kValueColor);
    }
    if (unit_flag) DrawBitmap("glbl_ind_mmhg", x + 67, y + 20, x + 107, y + 33);
  }
  flush_area(x, y, x + 88, y + 33);
}

void draw_scaled_value(int raw, int* last_shown, int x, int y) {
  raw = std::min(raw, 2692);
  if (last_shown && raw == *last_shown) return;
  if (last_shown) *last_shown = raw;
  fill_rect_color(x, y, x + 49, y + 15, g_draw.fill_color);
  const long product = static_cast<long>(raw) * 1000;
  long shown = product / 2692;
  if (product % 2692 > 1345) ++shown;
  char digits[4];
  format_three_digits(digits, static_cast<int>(std::min(shown, 999L)));
  text_value(kFontValue, x, xs() == 1 ? y - 2 : y - 1, digits, kValueColor);
  flush_area(x, y, x + 49, y + 15);
}

void draw_value_with_limit(int value, int upper_alarm, int lower_alarm, int* last_shown, char* last_flag_char,
                           int display_limit, int x, int y) {
  const int text_y = xs() == 1 ? y - 2 : y - 1;
  if (!last_shown || value != *last_shown) {
    if (last_shown) *last_shown = value;
    fill_rect_color(x, y, x + 49, y + 15, g_draw.fill_color);
    char digits[4];
    if (value > display_limit) {
      set_colors(0x0D10);
      text_value(kFontValue, x, text_y, "OVR", vga_color_to_rgb(13));
    } else {
      set_colors(0x0C10);
      format_three_digits(digits, value);
      text_value(kFontValue, x, text_y, digits, vga_color_to_rgb(12));
    }
    flush_area(x, y, x + 49, y + 15);
  }
  const char* alarm = value > upper_alarm ? "OVR" : value < lower_alarm ? "UND" : " ";
  if (last_flag_char && alarm[0] != *last_flag_char) {
    *last_flag_char = alarm[0];
    fill_rect_color(x, y + 16, x + 49, y + 31, g_draw.fill_color);
    set_colors(0x0D10);
    text_value(kFontValue, x, y + 16 - (xs() == 1 ? 2 : 1), alarm, vga_color_to_rgb(13));
    flush_area(x, y + 16, x + 49, y + 31);
  }
}

void update_cc_indicators() {
  set_colors(0x0310);
  const int a = g_trace_strips.count_a, b = g_trace_strips.count_b;
  auto indicator = [](int left, int top, bool lit) {
    if (lit)
      DrawBitmap("dpv_ind_cc", left, top, left + 22, top + 26);
    else {
      fill_rect_color(left, top, left + 23, top + 27, g_draw.fill_color);
      flush_area(left, top, left + 23, top + 27);
    }
  };
  // 15 percent of a count, rounded half up.
  auto fifteen_percent = [](int n) { return (n * 15 + 50) / 100; };
  if (b < a) {
    indicator(213, 212, false);
    indicator(540, 212, a - b > fifteen_percent(b));
  } else {
    indicator(540, 212, false);
    indicator(213, 212, b - a > fifteen_percent(a));
  }
}

}  // namespace vaslab
