// The screen surface: the program draws in a fixed 640 by 480 space into one
// off-screen surface, scaled by the display mode, and the surface is copied
// to the window at once or at the next pass of the event wait.
//
// Coordinates given to the drawing operations are in the 640 by 480 space;
// x is multiplied by the whole-number x scale and y by the real y scale
// (truncating).  Everything is clipped to the surface: no coordinate, however
// far off, writes outside it.  Without a surface every operation does nothing.
#pragma once

#include <cstdint>
#include <string>

#include "vaslab/core/toolkit/bitmap_file.h"

namespace vaslab {

// Set only by the display-mode code.
struct ScreenGeometry {
  std::int32_t x_scale = 1;  // whole-number horizontal factor
  double y_scale = 1.0;      // surface height / 480
  std::int32_t width = 640;  // surface width in pixels (640 * x_scale)
  std::int32_t height = 480; // surface height in pixels
};
extern ScreenGeometry g_screen_geometry;

inline int scale_x(int x) { return x * g_screen_geometry.x_scale; }
inline int scale_y(int y) { return static_cast<int>(y * g_screen_geometry.y_scale); }

// Dirty flags: what flush_dirty copies.
constexpr int kDirtyLeftStrip = 1;
constexpr int kDirtyRightStrip = 2;
constexpr int kDirtyWideStrip = 4;
constexpr int kDirtyWholeWindow = 8;

// Colour indexes: the old 16-colour numbering; 16 is the background picture
// (white as a text colour), 17 draws nothing.
constexpr int kColorBlack = 0;
constexpr int kColorGreen = 2;
constexpr int kColorTeal = 3;
constexpr int kColorDarkRed = 4;
constexpr int kColorGrey = 7;
constexpr int kColorWhite = 8;
constexpr int kColorRed = 9;
constexpr int kColorMagenta = 13;
constexpr int kColorBackground = 16;
constexpr int kColorNone = 17;
std::uint32_t vga_color_to_rgb(int index);

// Justification codes.
constexpr int kJustifyLeft = 5;    // horizontal; anything else centres
constexpr int kJustifyCentre = 1;
constexpr int kJustifyTop = 6;     // vertical; anything else is baseline
constexpr int kJustifyBaseline = 2;

// The current colours and text settings shared by every screen.
struct DrawState {
  int fill_color = kColorBlack;
  int text_color = kColorWhite;
  int draw_color = kColorWhite;  // lines, rectangles, circles, draw_text
  int text_height = 16;
  int horizontal = kJustifyLeft;
  int vertical = kJustifyTop;
};
extern DrawState g_draw;

// The title font file, relative to the current directory.
extern const char kTitleFontFile[];

// Makes the fonts (the title font from kTitleFontFile), starts the three
// window timers, then the surfaces; each object only when missing.  1 on
// success, 0 at the first failure (what was made stays for the next try).
int init_screen();
// Frees them; the window timers stop.
void free_screen();
bool screen_ready();

// Copies a rectangle of surface pixels (not scaled) to the window at once.
void flush_rect(int x, int y, int w, int h);
// Copies a rectangle of the 640 by 480 space (scaled, right and bottom
// exclusive) to the window at once.
void flush_area(int left, int top, int right, int bottom);
void mark_dirty(int flags);
int dirty_flags();
// Performs the pending copies and clears the flags.
void flush_dirty();
// Copies the whole surface to the window (the window's paint message).
void paint_window();
// How many times the whole 640 by 480 space was filled: each new screen
// starts so, which lets the event layer tell one screen from the next.
std::uint32_t whole_screen_fills();

// The surface pixels, 0x00RRGGBB, g_screen_geometry.width by .height; null
// before init_screen.
std::uint32_t* screen_pixels();
Bitmap* screen_bitmap();
// The trace strips, drawn by the trace-strip code; null without a surface.
Bitmap* left_strip();
Bitmap* right_strip();
// Widths of the left and right trace strips in 16-pixel units, kept by the
// trace-strip code; flush_dirty copies that much of each strip.
extern int g_left_strip_units;
extern int g_right_strip_units;

// The one-bit picture of the stopwatch, 224 by 62 * x scale: one byte a
// pixel (0 or 1) and its two colours (button face and button grey level).
struct MonoBitmap {
  int width = 0, height = 0;
  std::uint32_t color0 = 0, color1 = 0;
  std::vector<std::uint8_t> bits;
};
MonoBitmap* stopwatch_bitmap();

// The background picture that colour 16 shows: the default tile, or a loaded
// 640 by 480 background.
void set_loaded_background(std::shared_ptr<const Bitmap> bmp);
void clear_loaded_background();
bool background_loaded();
// The background picture (for drawing onto a loaded background); null
// without a surface.
Bitmap* background_bitmap();

// Fills and lines.  fill_rect_color takes right and bottom exclusive.
void fill_rect_color(int left, int top, int right, int bottom, int color);
void fill_bar(int x1, int y1, int x2, int y2);
void draw_line(int x1, int y1, int x2, int y2);
void draw_rectangle(int left, int top, int right, int bottom);
void draw_circle(int cx, int cy, int radius);
void clear_screen();
// Low byte fill colour, high byte text colour.
void set_colors(int colors);

// Fills a rectangle of surface pixels (already scaled, right and bottom
// exclusive) with a colour, clipped.
void fill_pixels(int left, int top, int right, int bottom, std::uint32_t color);
// Copies a picture (or its part from (sx, sy), w by h) to surface pixel
// (x, y), clipped to the surface and to the clip rectangle (surface pixels,
// right and bottom exclusive).
void blit_pixels(const Bitmap& src, int sx, int sy, int w, int h, int x, int y, int clip_left, int clip_top,
                 int clip_right, int clip_bottom);

// Text.
void set_text_size(int font, int direction, int size);
void set_text_justify(int horizontal, int vertical);
void draw_text(int x, int y, const char* text);
void draw_text_sized(const char* text, int y, int x, int height, int color);
void draw_white_text(int x, int y, const char* text);
void draw_text_cells(const char* text, int y, int column, int background, int color);
void draw_text_cursor(int row, int column, char ch, int cell_color, int text_color);
void erase_text_cursor(int row, int column, int color);
// A one-pixel rule under `count` cells of a text row from `column`, where the
// cursor's lower bar lies: it shows how far a field reaches.
void underline_text_cells(int row, int column, int count, int color);
void clear_text_row(int row, int column);
void draw_probe_indicator_at(int probe_type, int x, int y);
void draw_probe_indicator(int probe_type);
void draw_value_box_text(const char* text, int y, int x);
void draw_text_at_cell_address(const char* text, int address, int column);
// Wide text: 16-column cells, each line kWideTextRows rows high from its
// top (the 28-row font cell with its descenders, and a margin).  Whatever
// clears or marks a line of it covers that many rows, or the descenders of
// the letters it replaces stay on the screen.
constexpr int kWideTextRows = 32;
void draw_text_wide(const char* text, int y, int x, int color);
// The same with cells `pitch` pixels apart (16 and less), for a line that
// would not fit the screen at 16.
void draw_text_wide_pitch(const char* text, int y, int x, int pitch, int color);
// The same over an earlier text: its cells are filled with the fill colour
// first, so a readout redrawn in place keeps no pixels of the last value.
void draw_text_wide_over(const char* text, int y, int x, int color);
void draw_field_text(const char* text, int row, int column);
void draw_entry_text_wrapped(const char* text, int row, int column);
void draw_entry_cursor(int row, int column, char ch, int cell_color, int text_color);
void erase_entry_cursor(int row, int column, int color);
// The same rule for the two-half entry layout; a field that runs on into the
// second half is ruled on both.
void underline_entry_cells(int row, int column, int count, int color);
void clear_entry_rows(int row, int column);

// Draws text in one of the 15 fonts with its cell's top-left at surface
// pixel (x, y), transparent; returns the advance in pixels.  Used by the
// button, title and list drawing.
int draw_font_text(int font, int x, int y, const char* text, std::uint32_t color);
int font_text_width(int font, const char* text);

// Writes the surface as a .bmp file (Linux path); 0 on success.
int dump_screen(const std::string& linux_path);

}  // namespace vaslab
