#include <gtest/gtest.h>

#include <cstring>

#include "screen_fixture.h"
#include "vaslab/core/toolkit/trace_strips.h"

namespace {

using namespace vaslab;

constexpr std::uint32_t kYellow = rgb(255, 255, 0);
constexpr std::uint32_t kRed = rgb(255, 0, 0);
constexpr std::uint32_t kGreen = rgb(0, 255, 0);

TEST(TraceStripMath, RowsColumnsAndDigits) {
  EXPECT_EQ(sample_to_row(0, 0), 155);
  EXPECT_EQ(sample_to_row(255, 0), 0);
  EXPECT_EQ(sample_to_row(128, 0), 77);
  EXPECT_EQ(strip_column(3, 0x10), 19);
  EXPECT_EQ(strip_column(1, 0x80), 0);
  EXPECT_EQ(strip_column(1, 0x01), 7);
  char b[4];
  format_three_digits(b, 7);
  EXPECT_STREQ(b, "  7");
  format_three_digits(b, 999);
  EXPECT_STREQ(b, "999");
  format_three_digits(b, 12345);
  EXPECT_STREQ(b, "999") << "clamped, never a longer text";
  format_three_digits(b, -4);
  EXPECT_STREQ(b, "  0");
  int row = 0;
  get_scale_baseline_row(0, 4, &row);
  EXPECT_EQ(row, 155 + 23);
  get_scale_baseline_row(0, 3, &row);
  EXPECT_EQ(row, -1);
}

struct Strips : ScreenFixture {
  Bitmap* strip() { return right_strip(); }
  // Colours of one column of the strip, top to bottom.
  std::vector<std::uint32_t> column(int x) {
    std::vector<std::uint32_t> c;
    for (int y = 0; y < strip()->height; ++y) c.push_back(strip()->at(x, y));
    return c;
  }
  static int count(const std::vector<std::uint32_t>& c, std::uint32_t color) {
    return static_cast<int>(std::count(c.begin(), c.end(), color));
  }
};

TEST_F(Strips, TraceColumnsAtTheirRowsWithTicks) {
  ASSERT_NE(strip(), nullptr);
  erase_strip(strip(), 296);
  // A flat in-range trace: one yellow pixel at the sample's row.
  draw_trace_segment(strip(), 0, 128, 128, 0x80, 1);
  auto c = column(0);
  EXPECT_EQ(count(c, kYellow), 1);
  EXPECT_EQ(c[77], kYellow);
  // A rise from 0 to 255 fills the whole column between the two rows.
  draw_trace_segment(strip(), 0, 0, 255, 0x40, 1);
  EXPECT_EQ(count(column(1), kYellow), 156);
  // Both below the bottom: only the red bottom tick.
  draw_trace_segment(strip(), 0, kBelowStrip, kBelowStrip, 0x20, 1);
  c = column(2);
  EXPECT_EQ(count(c, kYellow), 0);
  EXPECT_EQ(c[155], kRed);
  // Above the top on both sides, different values: a full run.
  draw_trace_segment(strip(), 0, 0x1FF, 0x180, 0x10, 1);
  EXPECT_EQ(count(column(3), kYellow), 156);
  // Row ticks: 22 draws nothing, 23 draws at row 0.
  draw_trace_segment(strip(), 22, 128, 128, 0x08, 1);
  EXPECT_EQ(count(column(4), kGreen), 0);
  draw_trace_segment(strip(), 23 + 10, 128, 128, 0x04, 1);
  EXPECT_EQ(column(5)[10], kGreen);
  // Byte 3, mask 0x10 is column 19.
  draw_trace_segment(strip(), 0, 128, 128, 0x10, 3);
  EXPECT_EQ(column(19)[77], kYellow);
}

TEST_F(Strips, ScrollingMovesTheUsedColumnsOnly) {
  erase_strip(strip(), 296);
  const int width = 40;  // columns 256..295
  draw_trace_segment(strip(), 0, 128, 128, 0x01, 37);  // column 295
  EXPECT_EQ(column(295)[77], kYellow);
  scroll_strip_left(strip(), width);
  EXPECT_EQ(column(294)[77], kYellow);
  EXPECT_EQ(count(column(295), kYellow), 0) << "the right-most column is cleared";
  for (int i = 0; i < 60; ++i) scroll_strip_left(strip(), width);
  for (int x = 0; x < strip()->width; ++x) ASSERT_EQ(count(column(x), kYellow), 0) << x;
  draw_trace_segment(strip(), 0, 128, 128, 0x80, 33);  // column 256, the first used
  scroll_strip_right(strip(), width);
  EXPECT_EQ(column(257)[77], kYellow);
  EXPECT_EQ(count(column(256), kYellow), 0);
  scroll_strip_left(strip(), 5000);  // widths past the surface stay inside it
  scroll_strip_right(strip(), -5);
  erase_strip(strip(), 5000);
}

TEST_F(Strips, ShowStripCopiesTheUsedColumnsToTheScreen) {
  g_right_strip_units = 2;  // 40 columns
  erase_strip(strip(), 40);
  draw_trace_segment(strip(), 0, 255, 255, 0x01, 37);  // column 295, row 0
  show_strip(strip(), 40, 336);                        // scrolls it to 294 first
  const int col = 336 + (294 - 256);
  EXPECT_EQ(screen_bitmap()->at(col, 46), kYellow);
}

TEST_F(Strips, ScaledValueRoundsAndRedrawsOnlyOnChange) {
  int last = -1;
  clear_to(kColorWhite);
  draw_scaled_value(1346, &last, 100, 100);
  EXPECT_EQ(last, 1346);
  const int drawn = count_not(100, 98, 149, 115, vga_color_to_rgb(kColorWhite));
  EXPECT_GT(drawn, 0);
  clear_to(kColorWhite);
  draw_scaled_value(1346, &last, 100, 100);
  EXPECT_EQ(count_not(100, 98, 149, 115, vga_color_to_rgb(kColorWhite)), 0) << "same value: nothing drawn";
  draw_scaled_value(99999, &last, 100, 100);
  EXPECT_EQ(last, 2692) << "clamped";
}

TEST_F(Strips, ValueWithLimitDrawsOncePerValueAndAlarmOncePerText) {
  int last = -1;
  char flag = 0;
  clear_to(kColorWhite);
  draw_value_with_limit(250, 200, 50, &last, &flag, 300, 10, 10);
  EXPECT_EQ(flag, 'O');
  EXPECT_GT(count_not(10, 26, 59, 41, vga_color_to_rgb(kColorWhite)), 0) << "alarm text drawn";
  clear_to(kColorWhite);
  draw_value_with_limit(250, 200, 50, &last, &flag, 300, 10, 10);
  EXPECT_EQ(count_not(10, 8, 59, 41, vga_color_to_rgb(kColorWhite)), 0);
  draw_value_with_limit(20, 200, 50, &last, &flag, 300, 10, 10);
  EXPECT_EQ(flag, 'U');
}

}  // namespace
