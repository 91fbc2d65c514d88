// The 15 fonts of the screen, drawn with FreeType from faces found through
// fontconfig (a metric-compatible sans for "Arial", a monospace face for
// "Lucida Console"), the title font file of the program, and a built-in 8 by
// 8 bitmap font.  Fonts are sized by cell height and fitted to an average
// character width, and draw anti-aliased over what is already there.
#pragma once

#include <cstdint>
#include <string>

#include "vaslab/core/toolkit/bitmap_file.h"

namespace vaslab {

constexpr int kFontCount = 15;
// The fonts by use.
constexpr int kFontButtonArrows = 1;
constexpr int kFontButton = 2;
constexpr int kFontFixedButton = 3;
constexpr int kFontFixedButtonArrows = 4;
constexpr int kFontCellArrows = 5;
constexpr int kFontCell = 6;
constexpr int kFontWide = 7;
constexpr int kFontSystem = 8;
constexpr int kFontSizedArrows = 9;
constexpr int kFontSized = 10;
constexpr int kFontValue = 11;
constexpr int kFontPressure = 12;
constexpr int kFontEntry = 13;
constexpr int kFontTitle = 14;
constexpr int kFontValueBox = 15;

// Makes font n (1..15) for a display scale; the title fonts (14, 15) come
// from `title_font_path` (a Linux path).  False when no face can be opened.
bool make_font(int n, int x_scale, double y_scale, const std::string& title_font_path);
bool font_made(int n);
void free_font(int n);

// Starts fontconfig for a library that uses it behind the program's back
// (Ghostscript), so that it is shut down at exit as the screen fonts' own use
// is, and gives back what that library left in it.  False when it cannot
// start.
bool start_fontconfig();

// True when the font draws the arrow characters 24..27 itself.
bool font_has_own_arrows(int n);
// The cell height in pixels and the distance from the cell's top to the
// baseline.
int font_cell_height(int n);
int font_ascent(int n);
int font_average_width(int n);
// Advance of one character (a byte of the font's character set).
int font_char_advance(int n, unsigned char c);

// Draws one character with its cell's top-left at (x, y) into `dst`, clipped
// to `dst` and to the clip box (right and bottom exclusive); returns its
// advance.  Unmade fonts draw nothing and advance 0.
int draw_font_char(Bitmap& dst, int n, int x, int y, unsigned char c, std::uint32_t color, int clip_left,
                   int clip_top, int clip_right, int clip_bottom);

// Draws text that was set at full size into `coverage` (white on black: the
// red channel is how much of each pixel the text covers) onto `dst`, shrunk
// to w by h with box averages, in `color`, its top-left at (x, y), clipped
// to `dst` and to the clip box.  Text too large for its place keeps its face
// this way instead of changing to a smaller font.
void blend_shrunk_text(Bitmap& dst, const Bitmap& coverage, int x, int y, int w, int h, std::uint32_t color,
                       int clip_left, int clip_top, int clip_right, int clip_bottom);

// The character a byte of code page 437 stands for.
char32_t cp437_to_unicode(unsigned char c);

}  // namespace vaslab
