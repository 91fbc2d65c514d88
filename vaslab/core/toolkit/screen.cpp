#include "vaslab/core/toolkit/screen.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "platform/paths.h"
#include "platform/window.h"
#include "vaslab/core/toolkit/builtin_pictures.h"
#include "vaslab/core/toolkit/buttons.h"
#include "vaslab/core/toolkit/fonts.h"
#include "vaslab/core/toolkit/main_window.h"

namespace vaslab {

ScreenGeometry g_screen_geometry;
DrawState g_draw;
const char kTitleFontFile[] = "_bmp\\kartika-VYRO.ttf";
int g_left_strip_units = 0;
int g_right_strip_units = 0;

namespace {

// Texts handed to the drawing operations are cut here.
constexpr std::size_t kMaxText = 255;

struct Surface {
  Bitmap screen;
  Bitmap tile;        // the default background tile, kept while a picture is loaded
  Bitmap background;  // what colour 16 shows: the tile or a loaded picture
  bool loaded = false;
  Bitmap left, right;
  MonoBitmap stopwatch;
  bool timers = false;
  int dirty = 0;
  // Bounding box of what changed since the last copy (surface pixels).
  int inv_l = 0, inv_t = 0, inv_r = 0, inv_b = 0;
};

Surface g_s;
// Fills of the whole screen so far (see whole_screen_fills).
std::uint32_t g_whole_fills = 0;

bool have_surface() { return !g_s.screen.empty(); }

std::string_view bounded(const char* text) {
  if (!text) return {};
  return std::string_view(text, strnlen(text, kMaxText));
}

void invalidate(int l, int t, int r, int b) {
  l = std::max(l, 0);
  t = std::max(t, 0);
  r = std::min(r, g_s.screen.width);
  b = std::min(b, g_s.screen.height);
  if (l >= r || t >= b) return;
  if (g_s.inv_l >= g_s.inv_r) {
    g_s.inv_l = l, g_s.inv_t = t, g_s.inv_r = r, g_s.inv_b = b;
    return;
  }
  g_s.inv_l = std::min(g_s.inv_l, l);
  g_s.inv_t = std::min(g_s.inv_t, t);
  g_s.inv_r = std::max(g_s.inv_r, r);
  g_s.inv_b = std::max(g_s.inv_b, b);
}

void present(int l, int t, int r, int b) {
  auto* backend = platform::window_backend();
  if (!backend || !backend->exists() || !have_surface()) return;
  l = std::max(l, 0);
  t = std::max(t, 0);
  r = std::min(r, g_s.screen.width);
  b = std::min(b, g_s.screen.height);
  if (l >= r || t >= b) return;
  backend->present(g_s.screen.pixels.data(), g_s.screen.width, g_s.screen.height, platform::Rect{l, t, r - l, b - t});
}

// Copies the background tiles that overlap a box of surface pixels.
void fill_from_background(int l, int t, int r, int b) {
  const Bitmap& bg = g_s.background;
  if (bg.empty()) return;
  for (int ty = (t / bg.height) * bg.height; ty < b; ty += bg.height)
    for (int tx = (l / bg.width) * bg.width; tx < r; tx += bg.width) {
      const int x0 = std::max(l, tx), y0 = std::max(t, ty);
      const int x1 = std::min(r, tx + bg.width), y1 = std::min(b, ty + bg.height);
      if (x0 >= x1 || y0 >= y1) continue;
      blit_pixels(bg, x0 - tx, y0 - ty, x1 - x0, y1 - y0, x0, y0, x0, y0, x1, y1);
    }
}

std::uint32_t text_rgb(int index) { return index == kColorBackground ? rgb(255, 255, 255) : vga_color_to_rgb(index); }

// Draws text one character after the other from surface pixel (x, y), each
// `step` pixels on (0: the glyph's own advance); the arrows 24..27 go to the
// symbol twin when the font lacks them.  Returns the width drawn.
int draw_chars(std::string_view s, int font, int twin, int x, int y, int step, std::uint32_t color) {
  Bitmap& dst = g_s.screen;
  const int start = x;
  for (unsigned char c : s) {
    int adv = 0;
    if (c >= 24 && c <= 27 && twin && !font_has_own_arrows(font)) {
      static constexpr unsigned char kSymbol[4] = {225, 226, 224, 223};
      adv = draw_font_char(dst, twin, x, y, kSymbol[c - 24], color, 0, 0, dst.width, dst.height);
    } else {
      adv = draw_font_char(dst, font, x, y, c, color, 0, 0, dst.width, dst.height);
    }
    x += step ? step : adv;
  }
  return x - start;
}

bool has_arrows(std::string_view s) {
  return std::any_of(s.begin(), s.end(), [](char c) { return c >= 24 && c <= 27; });
}

}  // namespace

std::uint32_t vga_color_to_rgb(int index) {
  switch (index) {
    case 0:
    case 6: return rgb(0, 0, 0);
    case 2: return rgb(0, 255, 0);
    case 3:
    case 12: return rgb(0, 128, 128);
    case 4: return rgb(128, 0, 0);
    case 8:
    case 16: return rgb(255, 255, 255);
    case 9: return rgb(255, 0, 0);
    case 13: return rgb(255, 0, 255);
    default: return rgb(77, 77, 77);
  }
}

// --- Surface life ----------------------------------------------------------

int init_screen() {
  const int xs = g_screen_geometry.x_scale;
  const double ys = g_screen_geometry.y_scale;
  for (int n = 1; n <= kFontCount; ++n) {
    std::string title;
    if (n >= kFontTitle) {
      // The title face is the program's own file; without it there is no
      // screen.
      title = platform::map_path(kTitleFontFile);
    }
    if (!make_font(n, xs, ys, title)) return 0;
  }
  if (!g_s.timers) {
    start_window_timers();
    g_s.timers = true;
  }
  if (g_s.screen.empty()) {
    if (g_screen_geometry.width <= 0 || g_screen_geometry.height <= 0) return 0;
    g_s.screen = Bitmap(g_screen_geometry.width, g_screen_geometry.height);
    g_s.inv_l = g_s.inv_r = 0;
  }
  if (g_s.tile.empty()) g_s.tile = make_background_tile();
  if (g_s.background.empty()) {
    g_s.background = g_s.tile;
    g_s.loaded = false;
  }
  if (g_s.left.empty()) g_s.left = Bitmap(592 * xs + 1, static_cast<int>(156 * ys));
  if (g_s.right.empty()) g_s.right = Bitmap(296 * xs + 1, static_cast<int>(156 * ys));
  load_button_colors();
  if (g_s.stopwatch.bits.empty()) {
    const ButtonColors bc = button_colors();
    g_s.stopwatch.width = 224;
    g_s.stopwatch.height = 62 * xs;
    g_s.stopwatch.color0 = rgb(bc.face_r, bc.face_g, bc.face_b);
    g_s.stopwatch.color1 = rgb(bc.grey, bc.grey, bc.grey);
    g_s.stopwatch.bits.assign(static_cast<std::size_t>(g_s.stopwatch.width) * g_s.stopwatch.height, 0);
  }
  return 1;
}

void free_screen() {
  for (int n = kFontCount; n >= 1; --n) free_font(n);
  if (g_s.timers && main_window_exists()) stop_window_timers();
  g_s.timers = false;
  const int dirty = g_s.dirty;
  g_s = Surface{};
  g_s.dirty = dirty;
}

bool screen_ready() { return have_surface(); }

// --- Copying to the window ---------------------------------------------------

void flush_rect(int x, int y, int w, int h) { present(x, y, x + w, y + h); }

void flush_area(int left, int top, int right, int bottom) {
  present(scale_x(left), scale_y(top), scale_x(right), scale_y(bottom));
}

void mark_dirty(int flags) { g_s.dirty |= flags; }
int dirty_flags() { return g_s.dirty; }

void flush_dirty() {
  auto* backend = platform::window_backend();
  if (!have_surface() || !backend || !backend->exists()) return;
  const int xs = g_screen_geometry.x_scale;
  const int h = scale_y(156);
  auto copy_strip = [&](const Bitmap& strip, int at_x, int units) {
    const int w = (units * 16 + 8) * xs;
    const int src_x = (288 - 16 * units) * xs;
    const int dx = scale_x(at_x), dy = scale_y(46);
    blit_pixels(strip, std::max(src_x, 0), 0, w, h, dx + std::max(-src_x, 0), dy, dx, dy, dx + w, dy + h);
    invalidate(dx, dy, dx + w, dy + h);
  };
  if (g_s.dirty & kDirtyLeftStrip) copy_strip(g_s.left, 8, g_left_strip_units);
  if (g_s.dirty & kDirtyRightStrip) copy_strip(g_s.right, 336, g_right_strip_units);
  if (g_s.dirty & kDirtyWideStrip) {
    const int dx = scale_x(16), dy = scale_y(23), w = 592 * xs;
    blit_pixels(g_s.left, 0, 0, w, h, dx, dy, dx, dy, dx + w, dy + h);
    invalidate(dx, dy, dx + w, dy + h);
  }
  if (g_s.dirty & kDirtyWholeWindow) invalidate(0, 0, g_s.screen.width, g_s.screen.height);
  g_s.dirty = 0;
  // What was invalidated is repainted now, as the window's paint would.
  if (g_s.inv_l < g_s.inv_r) {
    present(g_s.inv_l, g_s.inv_t, g_s.inv_r, g_s.inv_b);
    g_s.inv_l = g_s.inv_r = 0;
  }
}

void paint_window() { present(0, 0, g_s.screen.width, g_s.screen.height); }

std::uint32_t* screen_pixels() { return have_surface() ? g_s.screen.pixels.data() : nullptr; }
Bitmap* screen_bitmap() { return have_surface() ? &g_s.screen : nullptr; }
Bitmap* left_strip() { return g_s.left.empty() ? nullptr : &g_s.left; }
Bitmap* right_strip() { return g_s.right.empty() ? nullptr : &g_s.right; }
MonoBitmap* stopwatch_bitmap() { return g_s.stopwatch.bits.empty() ? nullptr : &g_s.stopwatch; }

void set_loaded_background(std::shared_ptr<const Bitmap> bmp) {
  if (!have_surface() || !bmp || bmp->empty()) return;
  g_s.background = *bmp;
  g_s.loaded = true;
}

void clear_loaded_background() {
  if (g_s.tile.empty()) return;
  g_s.background = g_s.tile;
  g_s.loaded = false;
}

bool background_loaded() { return g_s.loaded; }
Bitmap* background_bitmap() { return g_s.background.empty() ? nullptr : &g_s.background; }

// --- Fills -----------------------------------------------------------------

void fill_pixels(int l, int t, int r, int b, std::uint32_t color) {
  if (!have_surface()) return;
  l = std::max(l, 0);
  t = std::max(t, 0);
  r = std::min(r, g_s.screen.width);
  b = std::min(b, g_s.screen.height);
  if (l >= r || t >= b) return;
  for (int y = t; y < b; ++y) std::fill_n(&g_s.screen.at(l, y), r - l, color);
  invalidate(l, t, r, b);
}

void blit_pixels(const Bitmap& src, int sx, int sy, int w, int h, int x, int y, int cl, int ct, int cr, int cb) {
  if (!have_surface()) return;
  const PixelBox box = copy_pixels(g_s.screen, src, sx, sy, w, h, x, y, cl, ct, cr, cb);
  if (!box.empty()) invalidate(box.left, box.top, box.right, box.bottom);
}

void fill_rect_color(int left, int top, int right, int bottom, int color) {
  if (color == kColorNone || !have_surface()) return;
  if (left <= 0 && top <= 0 && right >= 640 && bottom >= 480) ++g_whole_fills;
  const int l = scale_x(left), t = scale_y(top), r = scale_x(right), b = scale_y(bottom);
  if (color == kColorBackground) {
    const int cl = std::max(l, 0), ct = std::max(t, 0);
    const int cr = std::min(r, g_s.screen.width), cb = std::min(b, g_s.screen.height);
    if (cl < cr && ct < cb) fill_from_background(cl, ct, cr, cb);
    return;
  }
  fill_pixels(l, t, r, b, vga_color_to_rgb(color));
}

void fill_bar(int x1, int y1, int x2, int y2) { fill_rect_color(x1, y1, x2 + 1, y2 + 1, g_draw.fill_color); }

void draw_line(int x1, int y1, int x2, int y2) {
  if (x1 > x2) std::swap(x1, x2);
  if (y1 > y2) std::swap(y1, y2);
  x1 = std::max(x1, 0);
  y1 = std::max(y1, 0);
  const int r = std::min(x2 + 1, 640), b = std::min(y2 + 1, 480);
  fill_rect_color(x1, y1, r, b, g_draw.draw_color);
}

void draw_rectangle(int left, int top, int right, int bottom) {
  draw_line(left, top, left, bottom);
  draw_line(left, bottom, right, bottom);
  draw_line(right, top, right, bottom);
  draw_line(left, top, right, top);
}

void draw_circle(int cx, int cy, int radius) {
  if (!have_surface() || g_draw.draw_color == kColorNone || radius < 0) return;
  const std::uint32_t color = vga_color_to_rgb(g_draw.draw_color);
  const int x0 = scale_x(cx), y0 = scale_y(cy), r = scale_x(radius);
  auto plot = [&](int x, int y) {
    if (x >= 0 && y >= 0 && x < g_s.screen.width && y < g_s.screen.height) g_s.screen.at(x, y) = color;
  };
  int x = r, y = 0, err = 1 - r;
  while (x >= y) {
    plot(x0 + x, y0 + y), plot(x0 + y, y0 + x), plot(x0 - y, y0 + x), plot(x0 - x, y0 + y);
    plot(x0 - x, y0 - y), plot(x0 - y, y0 - x), plot(x0 + y, y0 - x), plot(x0 + x, y0 - y);
    ++y;
    if (err < 0) {
      err += 2 * y + 1;
    } else {
      --x;
      err += 2 * (y - x) + 1;
    }
  }
  invalidate(x0 - r, y0 - r, x0 + r + 1, y0 + r + 1);
}

std::uint32_t whole_screen_fills() { return g_whole_fills; }

void clear_screen() { fill_rect_color(0, 0, 640, 480, g_draw.fill_color); }

void set_colors(int colors) {
  g_draw.fill_color = colors & 0xFF;
  g_draw.text_color = (colors >> 8) & 0xFF;
}

// --- Text ------------------------------------------------------------------

void set_text_size(int font, int direction, int size) {
  if (font == 3 || direction == 4) size = size == 2 ? 2 : 1;
  g_draw.text_height = 8 * size;
}

void set_text_justify(int horizontal, int vertical) {
  g_draw.horizontal = horizontal == kJustifyLeft ? kJustifyLeft : kJustifyCentre;
  g_draw.vertical = vertical == kJustifyTop ? kJustifyTop : kJustifyBaseline;
}

int draw_font_text(int font, int x, int y, const char* text, std::uint32_t color) {
  if (!have_surface()) return 0;
  return draw_chars(bounded(text), font, 0, x, y, 0, color);
}

int font_text_width(int font, const char* text) {
  int w = 0;
  for (unsigned char c : bounded(text)) w += font_char_advance(font, c);
  return w;
}

void draw_text(int x, int y, const char* text) {
  const std::string_view s = bounded(text);
  const int h = g_draw.text_height;
  if (g_draw.horizontal != kJustifyLeft) x -= static_cast<int>(s.size()) * h / 2;
  if (g_draw.vertical != kJustifyTop) y -= h / 2;
  draw_text_sized(text, y, x, h, g_draw.draw_color);
}

void draw_text_sized(const char* text, int y, int x, int height, int color) {
  if (!have_surface() || color == kColorNone) return;
  const std::string_view s = bounded(text);
  const int px = scale_x(x), py = scale_y(y);
  if (height == 16) {
    const int font = has_arrows(s) && !font_has_own_arrows(kFontSized) ? kFontSizedArrows : kFontSized;
    draw_chars(s, font, kFontSizedArrows, px, py, 0, text_rgb(color));
  } else {
    draw_chars(s, kFontSystem, 0, px, py, 0, text_rgb(color));
  }
  invalidate(px, py, px + scale_x(static_cast<int>(s.size()) * height), py + scale_y(height));
}

void draw_white_text(int x, int y, const char* text) {
  if (!have_surface()) return;
  const std::string_view s = bounded(text);
  const int n = static_cast<int>(s.size());
  int left = x, top = y;
  if (g_draw.horizontal != kJustifyLeft) left = x - font_text_width(kFontTitle, text) / 2;
  if (g_draw.vertical != kJustifyTop) top = y - font_ascent(kFontTitle);
  draw_chars(s, kFontTitle, 0, left, top, 0, rgb(255, 255, 255));
  const int inv_left = g_draw.horizontal != kJustifyLeft ? x - 8 * n : x;
  const int inv_top = g_draw.vertical != kJustifyTop ? y - 17 : y;
  invalidate(inv_left, inv_top, inv_left + 16 * n, inv_top + 22);
}

void draw_text_cells(const char* text, int y, int column, int background, int color) {
  const std::string_view s = bounded(text);
  if (!have_surface() || s.empty()) return;
  const int x = column * 8;
  fill_rect_color(x, y, x + 8 * static_cast<int>(s.size()), y + 14, background);
  if (color == kColorNone) return;
  const int px = scale_x(x), py = scale_y(y);
  draw_chars(s, kFontCell, kFontCellArrows, px, py, scale_x(8), text_rgb(color));
}

void underline_text_cells(int row, int column, int count, int color) {
  const int from = std::clamp(column, 0, 80), to = std::clamp(column + count, 0, 80);
  if (to > from) fill_rect_color(from * 8, 19 * row + 17, to * 8, 19 * row + 18, color);
}

void draw_text_cursor(int row, int column, char ch, int cell_color, int text_color) {
  const int y = 19 * row + 1;
  const int c = std::clamp(column, 0, 79);
  const int x = c * 8;
  fill_rect_color(x, y, x + 8, y + 1, cell_color);
  if (column < 80) {
    const char s[2] = {ch ? ch : ' ', 0};
    draw_text_cells(s, y + 1, c, cell_color, text_color);
  } else {
    fill_rect_color(639, y - 1, 640, y + 17, cell_color);
  }
  fill_rect_color(x, y + 15, x + 8, y + 17, cell_color);
}

void erase_text_cursor(int row, int column, int color) {
  const int y = 19 * row + 1;
  const int c = std::clamp(column, 0, 79);
  const int x = c * 8;
  fill_rect_color(x, y + 15, x + 8, y + 17, color);
  if (column >= 80) {
    fill_rect_color(x, y, x + 8, y + 1, color);
    fill_rect_color(639, y - 1, 640, y + 17, color);
  }
}

void clear_text_row(int row, int column) {
  const int y = 19 * row;
  fill_rect_color(column * 8, y, 640, y + 19, g_draw.fill_color);
}

void draw_probe_indicator_at(int probe_type, int x, int y) {
  const char* name = probe_type == 5    ? "sdp_ind_ppgr"
                     : probe_type == 6  ? "sdp_ind_ppgl"
                     : probe_type == 15 ? "sdp_ind_dop8"
                                        : "sdp_ind_dop5";
  if (x == 0 && y == 0) x = 439, y = 77;
  DrawBitmap(name, x, y, x + 106, y + 26);
}

void draw_probe_indicator(int probe_type) { draw_probe_indicator_at(probe_type, 439, 77); }

void draw_value_box_text(const char* text, int y, int x) {
  if (!have_surface()) return;
  fill_rect_color(x, y, x + 248, y + 64, g_draw.fill_color);
  const std::string_view s = bounded(text).substr(0, std::min<std::size_t>(5, bounded(text).size()));
  if (g_draw.text_color != kColorNone)
    draw_chars(s, kFontValueBox, 0, scale_x(x), scale_y(y - 2), 0, text_rgb(g_draw.text_color));
  flush_area(x, y, x + 248, y + 64);
}

void draw_text_at_cell_address(const char* text, int address, int column) {
  const int y = (address - 40960) / 5;
  const int x = column * 8;
  const int n = static_cast<int>(bounded(text).size());
  fill_rect_color(x, y, x + 16 * n, y + 16, g_draw.fill_color);
  draw_text_sized(text, y, x, 16, g_draw.text_color);
  flush_area(x, y, x + 16 * n, y + 16);
}

void draw_text_wide(const char* text, int y, int x, int color) { draw_text_wide_pitch(text, y, x, 16, color); }

void draw_text_wide_pitch(const char* text, int y, int x, int pitch, int color) {
  if (!have_surface() || color == kColorNone) return;
  const std::string_view s = bounded(text);
  const int twin = font_has_own_arrows(kFontSized) ? 0 : kFontSizedArrows;
  const int px = scale_x(x), py = scale_y(y);
  draw_chars(s, kFontWide, twin, px, py, scale_x(pitch), text_rgb(color));
  invalidate(px, py, px + scale_x(pitch * static_cast<int>(s.size()) + 16 - pitch), py + scale_y(kWideTextRows));
  mark_dirty(kDirtyWholeWindow);
}

void draw_text_wide_over(const char* text, int y, int x, int color) {
  const int n = static_cast<int>(bounded(text).size());
  fill_rect_color(x, y, x + 16 * n, y + kWideTextRows, g_draw.fill_color);
  draw_text_wide(text, y, x, color);
}

void draw_field_text(const char* text, int row, int column) {
  draw_text_wide_over(text, (row % 8) * 60 + 42, column * 16, g_draw.text_color);
}

namespace {

// Where a column of the two-half entry layout sits: x in the 640 space, the
// top of the cursor cell, and the top of the text box.
struct EntryCell {
  int x, cell_top, text_top;
};

EntryCell entry_cell(int row, int column) {
  const int r = row % 8;
  if (column < 40) return EntryCell{column * 16, 69 * r + 28, 69 * r + 29};
  return EntryCell{(std::min(column, 79) - 40) * 16, 69 * r + 59, 69 * r + 60};
}

}  // namespace

void draw_entry_text_wrapped(const char* text, int row, int column) {
  std::string_view s = bounded(text);
  if (column < 40) {
    const std::size_t upper = std::min<std::size_t>(s.size(), static_cast<std::size_t>(40 - std::max(column, 0)));
    const std::string part(s.substr(0, upper));
    const EntryCell c = entry_cell(row, column);
    fill_rect_color(c.x, c.text_top, c.x + 16 * static_cast<int>(part.size()), c.text_top + kWideTextRows, g_draw.fill_color);
    draw_text_wide(part.c_str(), c.text_top, c.x, g_draw.text_color);
    s.remove_prefix(upper);
    if (s.empty()) return;
    column = 40;
  }
  const std::string rest(s);
  const EntryCell c = entry_cell(row, column);
  fill_rect_color(c.x, c.text_top, c.x + 16 * static_cast<int>(rest.size()), c.text_top + kWideTextRows, g_draw.fill_color);
  draw_text_wide(rest.c_str(), c.text_top, c.x, g_draw.text_color);
}

void underline_entry_cells(int row, int column, int count, int color) {
  for (int c = std::max(column, 0), end = std::min(column + count, 80); c < end;) {
    const int stop = c < 40 ? std::min(end, 40) : end;
    const EntryCell cell = entry_cell(row, c);
    fill_rect_color(cell.x, cell.cell_top + 30, cell.x + 16 * (stop - c), cell.cell_top + 31, color);
    c = stop;
  }
}

void draw_entry_cursor(int row, int column, char ch, int cell_color, int text_color) {
  const EntryCell c = entry_cell(row, column);
  const int y0 = c.cell_top;
  fill_rect_color(c.x, y0, c.x + 16, y0 + 1, cell_color);
  if (column < 80) {
    fill_rect_color(c.x, y0 + 1, c.x + 16, y0 + 29, cell_color);
    const char s[2] = {ch ? ch : ' ', 0};
    draw_text_wide(s, y0 + 1, c.x, text_color);
  } else {
    fill_rect_color(639, y0, 640, y0 + 31, cell_color);
  }
  fill_rect_color(c.x, y0 + 29, c.x + 16, y0 + 31, cell_color);
}

void erase_entry_cursor(int row, int column, int color) {
  const EntryCell c = entry_cell(row, column);
  const int y0 = c.cell_top;
  fill_rect_color(c.x, y0 + 29, c.x + 16, y0 + 31, color);
  if (column >= 80) {
    fill_rect_color(c.x, y0, c.x + 16, y0 + 1, color);
    fill_rect_color(639, y0, 640, y0 + 31, color);
  }
}

void clear_entry_rows(int row, int column) {
  const int r = row % 8;
  if (column < 40) {
    fill_rect_color(column * 16, 69 * r + 27, 640, 69 * r + 60, g_draw.fill_color);
    fill_rect_color(0, 69 * r + 60, 640, 69 * r + 93, g_draw.fill_color);
  } else {
    fill_rect_color((column - 40) * 16, 69 * r + 58, 640, 69 * r + 91, g_draw.fill_color);
  }
}

int dump_screen(const std::string& linux_path) {
  if (!have_surface()) return -1;
  return write_bmp_file(linux_path, g_s.screen);
}

}  // namespace vaslab
