// Trace strips and live value displays: the study modules show live
// waveforms as scrolling strips, one new column a sample, drawn into the
// off-screen strip surfaces and copied to the screen, with small readouts
// beside them.  Strips are 156 rows high and addressed in the old byte and
// bit-mask columns: byte d (from 1) and a one-bit mask c give column
// 8 (d - 1) plus the zero bits above the set bit.
#pragma once

#include <cstdint>

#include "vaslab/core/toolkit/bitmap_file.h"

namespace vaslab {

// Kept by the study modules besides the strip widths (g_left_strip_units and
// g_right_strip_units of the screen; a strip of u units is 16 u + 8 columns
// wide): the two counts the comparison indicators weigh.
struct TraceStripState {
  int count_a = 0;
  int count_b = 0;
};
extern TraceStripState g_trace_strips;

// Samples: the low 9 bits; 0..255 in range, 0x101 below the bottom, any
// other value with 0x100 above the top.
constexpr int kBelowStrip = 0x101;

// The strip row of an 8-bit sample: 0 maps to 155 and 255 to 0 at x scale 1
// (or with `flag`), else 255 - v.
int sample_to_row(int v, int flag);
// The column of a byte number and bit mask (0 for a mask without a bit).
int strip_column(int byte_number, int mask);

void scroll_strip_left(Bitmap* strip, int width);
void scroll_strip_right(Bitmap* strip, int width);
void erase_strip(Bitmap* strip, int width);
// One column of trace from the previous sample to the new one; a row tick
// above 22 draws a green tick at row tick - 23.
void draw_trace_segment(Bitmap* strip, int row_tick, int previous, int sample, int mask, int byte_number);
// Scrolls the strip and copies its used columns to the screen at (x, 46).
void show_strip(Bitmap* strip, int width, int x);
// Flag 1: the background at (8, 46) into the left strip; flag 2: at (336, 46)
// into the right one.
void save_strips_from_background(int flags);

void draw_scale_bitmap(int step, int x, int y);
// Flag 4: the baseline's row tick (the row plus 23); else -1.
void get_scale_baseline_row(int sample, int flags, int* out);

// Three characters, right-aligned with blanks; values outside 0..999 are
// clamped to it.  `buf` holds 4 bytes.
void format_three_digits(char* buf, int value);

// The live readouts.  Each keeps what it last showed in the caller's
// variables and redraws only on a change.
void draw_pressure_value(const char* text, int value, int* last_shown, int upper_limit, int x, int y, int unit_flag);
void draw_scaled_value(int raw, int* last_shown, int x, int y);
void draw_value_with_limit(int value, int upper_alarm, int lower_alarm, int* last_shown, char* last_flag_char,
                           int display_limit, int x, int y);
void update_cc_indicators();

}  // namespace vaslab
