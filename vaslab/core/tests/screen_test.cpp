#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/paths.h"
#include "platform/process.h"
#include "screen_fixture.h"
#include "vaslab/core/toolkit/builtin_pictures.h"
#include "vaslab/core/toolkit/fonts.h"
#include "vaslab/core/toolkit/main_window.h"

namespace {

using namespace vaslab;

constexpr std::uint32_t kBlack = 0, kWhite = 0xFFFFFF, kRed = 0xFF0000, kGreen = 0x00FF00, kGrey = 0x4D4D4D;

struct Screen : ScreenFixture {};

TEST_F(Screen, FillBarCornersAreInclusive) {
  clear_to(kColorBlack);
  g_draw.fill_color = kColorRed;
  fill_bar(10, 10, 10, 10);
  EXPECT_EQ(px(10, 10), kRed);
  EXPECT_EQ(count_of(0, 0, 640, 480, kRed), 1);
  fill_bar(20, 30, 29, 31);
  EXPECT_EQ(count_of(20, 30, 30, 32, kRed), 20);
  EXPECT_EQ(count_of(0, 0, 640, 480, kRed), 21);
}

TEST_F(Screen, LinesAndFillsAreClippedWhateverTheCoordinates) {
  clear_to(kColorBlack);
  g_draw.draw_color = kColorGreen;
  draw_line(700, 5, -3, 5);
  EXPECT_EQ(count_of(0, 5, 640, 6, kGreen), 640);
  EXPECT_EQ(count_of(0, 0, 640, 480, kGreen), 640) << "one pixel high";

  // Far off the surface in every direction: nothing written anywhere else.
  clear_to(kColorBlack);
  g_draw.fill_color = kColorRed;
  fill_bar(-100000, -100000, -1, -1);
  fill_bar(640, 480, 100000, 100000);
  fill_rect_color(-50, 470, 5, 90000, kColorRed);
  draw_rectangle(-10, -10, 700, 500);
  draw_circle(0, 0, 5000);
  draw_text_at_cell_address("below the first row", 100, 0);  // y is negative
  draw_text_cells("off", 478, 79, kColorRed, kColorWhite);
  EXPECT_EQ(count_of(0, 470, 5, 480, kRed), 50);
  EXPECT_EQ(px(320, 240), kBlack);
}

TEST_F(Screen, ColourSeventeenDrawsAndMarksNothing) {
  clear_to(kColorBlack);
  flush_dirty();
  const int presents = backend.presents;
  fill_rect_color(0, 0, 640, 480, kColorNone);
  g_draw.fill_color = kColorNone;
  fill_bar(5, 5, 50, 50);
  EXPECT_EQ(count_not(0, 0, 640, 480, kBlack), 0);
  flush_dirty();
  EXPECT_EQ(backend.presents, presents) << "nothing was invalidated";
}

TEST_F(Screen, ColourSixteenShowsTheBackgroundTiles) {
  set_colors(0x0710);
  EXPECT_EQ(g_draw.fill_color, kColorBackground);
  EXPECT_EQ(g_draw.text_color, kColorGrey);
  clear_screen();
  const Bitmap tile = make_background_tile();
  for (int y : {0, 127, 128, 300, 479})
    for (int x : {0, 129, 255, 256, 639}) EXPECT_EQ(px(x, y), tile.at(x % 128, y % 128)) << x << "," << y;
}

TEST_F(Screen, ColourTableAndTextColours) {
  EXPECT_EQ(vga_color_to_rgb(6), kBlack);
  EXPECT_EQ(vga_color_to_rgb(12), 0x008080u);
  EXPECT_EQ(vga_color_to_rgb(4), 0x800000u);
  EXPECT_EQ(vga_color_to_rgb(13), 0xFF00FFu);
  EXPECT_EQ(vga_color_to_rgb(15), kGrey);
  EXPECT_EQ(vga_color_to_rgb(99), kGrey);

  // Solid strokes of a glyph reach the text colour exactly.
  clear_to(kColorBlack);
  draw_text_sized("MMMM", 100, 100, 16, 15);
  EXPECT_GT(count_of(100, 100, 164, 116, kGrey), 10);
  EXPECT_EQ(count_of(100, 100, 164, 116, kWhite), 0) << "colour 15 is grey, not white";
  draw_text_sized("MMMM", 200, 100, 16, kColorWhite);
  EXPECT_GT(count_of(100, 200, 164, 216, kWhite), 10);
  draw_text_sized("MMMM", 300, 100, 8, kColorBackground);
  EXPECT_GT(count_of(100, 300, 164, 308, kWhite), 5) << "16 as a text colour is white";
}

TEST_F(Screen, TextSizeAndJustification) {
  set_text_size(3, 0, 3);
  EXPECT_EQ(g_draw.text_height, 8);
  set_text_size(3, 0, 2);
  EXPECT_EQ(g_draw.text_height, 16);
  set_text_size(1, 4, 2);
  EXPECT_EQ(g_draw.text_height, 16);
  set_text_size(1, 4, 1);
  EXPECT_EQ(g_draw.text_height, 8);

  // Centred and baseline: x moves left by half of length times height, y up
  // by half the height.
  clear_to(kColorBlack);
  g_draw.draw_color = kColorWhite;
  set_text_size(3, 4, 2);
  set_text_justify(1, 1);
  draw_text(320, 240, "MM");
  EXPECT_EQ(count_not(0, 0, 304, 480, kBlack), 0);
  EXPECT_EQ(count_not(0, 0, 640, 232, kBlack), 0);
  EXPECT_GT(count_not(304, 232, 336, 248, kBlack), 0);
}

TEST_F(Screen, CursorBeyondTheLastColumnIsABarAtTheRightEdge) {
  clear_to(kColorBlack);
  draw_text_cursor(2, 85, 'x', kColorRed, kColorWhite);
  const int y = 19 * 2 + 1;
  EXPECT_EQ(count_of(639, y - 1, 640, y + 17, kRed), 18);
  EXPECT_EQ(px(632, y), kRed) << "the top line goes to the cell of column 79";
  EXPECT_EQ(count_of(632, y + 1, 639, y + 15, kRed), 0) << "no character cell";
  erase_text_cursor(2, 85, kColorBlack);
  EXPECT_EQ(count_not(0, 0, 640, 480, kBlack), 0);

  draw_text_cursor(1, 3, 'A', kColorTeal, kColorWhite);
  EXPECT_EQ(px(24, 20), 0x008080u);
  EXPECT_GT(count_of(24, 21, 32, 35, kWhite), 0);
}

TEST_F(Screen, WholeWindowCopyWaitsForTheNextPass) {
  clear_to(kColorBlack);
  flush_dirty();
  g_draw.fill_color = kColorRed;
  fill_bar(0, 0, 9, 9);
  mark_dirty(kDirtyWholeWindow);
  const int presents = backend.presents;
  EXPECT_NE(backend.shown[0], kRed) << "not copied yet";
  EXPECT_EQ(backend.presents, presents);
  flush_dirty();
  EXPECT_EQ(dirty_flags(), 0);
  EXPECT_GT(backend.presents, presents);
  EXPECT_EQ(backend.shown[0], kRed);

  // A value box is copied at once.
  g_draw.fill_color = kColorWhite;
  draw_value_box_text("123456789", 100, 100);
  EXPECT_EQ(backend.shown[static_cast<size_t>(110) * 640 + 110], kWhite);
}

TEST_F(Screen, TraceStripsAreCopiedToTheirPlaces) {
  clear_to(kColorBlack);
  Bitmap* left = left_strip();
  ASSERT_NE(left, nullptr);
  EXPECT_EQ(left->width, 593);
  EXPECT_EQ(right_strip()->width, 297);
  for (auto& p : left->pixels) p = kGreen;
  mark_dirty(kDirtyWideStrip);
  flush_dirty();
  EXPECT_EQ(count_of(16, 23, 608, 179, kGreen), 592 * 156);
  EXPECT_EQ(backend.shown[static_cast<size_t>(23) * 640 + 16], kGreen);

  clear_to(kColorBlack);
  g_left_strip_units = 4;
  mark_dirty(kDirtyLeftStrip);
  flush_dirty();
  EXPECT_EQ(count_of(8, 46, 8 + 72, 202, kGreen), 72 * 156);
  EXPECT_EQ(count_of(0, 0, 640, 480, kGreen), 72 * 156);
  g_left_strip_units = 0;
}

TEST_F(Screen, SurfaceDumpOpensInNetpbm) {
  clear_to(kColorTeal);
  g_draw.fill_color = kColorRed;
  fill_bar(0, 0, 0, 0);
  g_draw.draw_color = kColorWhite;
  draw_line(0, 479, 639, 479);
  const std::string bmp = root.path() + "/dump.bmp", ppm = root.path() + "/dump.ppm";
  ASSERT_EQ(dump_screen(bmp), 0);
  ASSERT_EQ(platform::run_shell("bmptopnm " + platform::shell_quote(bmp) + " 2>/dev/null | ppmtoppm > " +
                                platform::shell_quote(ppm)),
            0);
  const Bitmap back = read_ppm(ppm);
  ASSERT_EQ(back.width, 640);
  ASSERT_EQ(back.height, 480);
  EXPECT_EQ(back.pixels, screen_bitmap()->pixels);
}

TEST_F(Screen, MissingTitleFontFailsTheScreenSetUp) {
  free_screen();
  ::unlink(platform::map_path("C:\\PROGRAMS\\_bmp").c_str());
  EXPECT_EQ(init_screen(), 0);
  EXPECT_EQ(set_display_mode(0), 0);
  EXPECT_EQ(screen_pixels(), nullptr);
  // Nothing is drawn without a surface, and nothing breaks.
  fill_bar(0, 0, 10, 10);
  draw_text_sized("x", 0, 0, 16, 8);
  flush_dirty();
}

TEST_F(Screen, LongTextsAreCut) {
  clear_to(kColorBlack);
  const std::string long_text(1000, 'W');
  g_draw.draw_color = kColorWhite;
  draw_text_sized(long_text.c_str(), 0, 0, 8, kColorWhite);
  draw_text_cells(long_text.c_str(), 20, 0, kColorRed, kColorWhite);
  // Cells are 8 pixels: 255 of them reach past the right edge, clipped.
  EXPECT_EQ(px(639, 20), kRed);
  draw_field_text(long_text.c_str(), 3, 0);
  draw_entry_text_wrapped(long_text.c_str(), 1, 30);
}

TEST_F(Screen, FontsFollowTheDisplayScale) {
  const int cell = font_cell_height(kFontCell);
  EXPECT_EQ(cell, 14);
  EXPECT_EQ(font_char_advance(kFontCell, 'M'), 8);
  EXPECT_LE(font_average_width(kFontButton), 12);
  EXPECT_EQ(font_cell_height(kFontSystem), 8);
  EXPECT_TRUE(font_has_own_arrows(kFontCell));
  EXPECT_EQ(cp437_to_unicode(0xB3), U'\u2502');
  EXPECT_EQ(cp437_to_unicode(24), U'\u2191');

  backend.desktop = backend.current = platform::DisplayMode{1280, 1024};
  hardware_settings().touch_type = 8;
  ASSERT_EQ(set_display_mode(1), 1);
  EXPECT_EQ(font_cell_height(kFontCell), static_cast<int>(14 * g_screen_geometry.y_scale) + 1);
  EXPECT_LE(font_average_width(kFontCell), 15);
  EXPECT_GT(font_cell_height(kFontSystem), 8) << "the system font becomes a scaled face";
}

}  // namespace
