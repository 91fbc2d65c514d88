#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>

#include "platform/le_bytes.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "screen_fixture.h"
#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/toolkit/bitmap_file.h"
#include "vaslab/core/toolkit/buttons.h"

namespace {

using namespace vaslab;
using platform::shell_quote;

constexpr std::uint32_t kRed = 0xFF0000, kBlack = 0;

struct Buttons : ScreenFixture {
  // A private bitmap folder, so fixtures do not land in the build's.
  void SetUp() override {
    ScreenFixture::SetUp();
    platform::set_current_directory("C:\\WORK\\");
    // The title font is already loaded; only bitmaps are read from here.
    platform::make_dirs(platform::map_path_create_dirs("C:\\WORK\\_bmp\\"));
  }
  std::string bmp_path(const std::string& name) { return platform::map_path("C:\\WORK\\_bmp\\" + name + ".bmp"); }
  // A plain picture made by netpbm.
  void make_bmp(const std::string& name, int w, int h, const char* color) {
    const std::string cmd = "ppmmake " + std::string(color) + " " + std::to_string(w) + " " + std::to_string(h) +
                            " | ppmtobmp -bpp 24 > " + shell_quote(bmp_path(name)) + " 2>/dev/null";
    ASSERT_EQ(platform::run_shell(cmd), 0) << cmd;
  }
};

std::vector<std::uint8_t> file_bytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

TEST_F(Buttons, EnableAndDisableSwapTheDelimiterInPlace) {
  ButtonRecord b{0, 10, 10, 50, 50, "UnMute|sdw_unmute", 0, 7, 0};
  enable_button(b);
  EXPECT_STREQ(b.label, "UnMute^sdw_unmute");
  EXPECT_EQ(b.state, kButtonShown);
  disable_button(b);
  EXPECT_STREQ(b.label, "UnMute|sdw_unmute");
  EXPECT_EQ(b.state, kButtonHidden);
  EXPECT_TRUE(notes.empty());

  ButtonRecord plain{0, 10, 10, 50, 50, "CAPTURE", 0, 7, 0};
  enable_button(plain);
  EXPECT_STREQ(plain.label, "CAPTURE");
  EXPECT_EQ(plain.state, kButtonHidden);
  EXPECT_TRUE(noted("Failed to enable a disabled button. Delimiter '|' not found in 'CAPTURE'\n"));
  plain.state = kButtonShown;
  disable_button(plain);
  EXPECT_EQ(plain.state, kButtonShown);
  EXPECT_TRUE(noted("Failed to disable an enabled button. Delimiter '^' not found in 'CAPTURE'\n"));

  char text[8];
  button_label_text(b, text, sizeof text);
  EXPECT_STREQ(text, "UnMute");
  set_button_label(b, std::string(300, 'x').c_str());
  EXPECT_EQ(std::strlen(b.label), kButtonLabelSize - 1);
}

TEST_F(Buttons, DisabledButtonDrawsNothingUntilEnabled) {
  make_bmp("sdw_unmute_n", 41, 41, "rgb:00/00/ff");
  clear_to(kColorBlack);
  ButtonRecord b{0, 10, 10, 50, 50, "UnMute|sdw_unmute", 0, 7, 0};
  draw_button_normal(b);
  EXPECT_EQ(count_not(0, 0, 640, 480, kBlack), 0);
  enable_button(b);
  draw_button_normal(b);
  EXPECT_EQ(count_of(10, 10, 51, 51, 0x0000FF), 41 * 41);
  EXPECT_EQ(count_not(0, 0, 640, 480, kBlack), 41 * 41);
}

TEST_F(Buttons, BitmapStatesPickTheirFiles) {
  make_bmp("glbl_next_n", 20, 10, "rgb:00/00/ff");
  make_bmp("glbl_next_p", 20, 10, "rgb:ff/ff/ff");
  make_bmp("glbl_next_g", 20, 10, "rgb:80/80/80");
  ButtonRecord b{1, 100, 100, 119, 109, "Next^glbl_next", 0, 2, 10};
  draw_button_normal(b);
  EXPECT_EQ(px(100, 100), 0x0000FFu);
  draw_button_pressed(b);
  EXPECT_EQ(px(100, 100), 0xFFFFFFu);
  b.state = kButtonGreyed;
  draw_button_normal(b);
  EXPECT_EQ(px(119, 109), 0x808080u);

  // Hidden: painted over with the fill colour (the background with 16).
  b.state = kButtonHidden;
  set_colors(0x0710);
  draw_button_normal(b);
  EXPECT_NE(px(100, 100), 0x808080u);
  EXPECT_EQ(px(100, 100), background_bitmap()->at(100 % 128, 100 % 128));

  // A picture larger than the button is cut at its rectangle.
  make_bmp("glbl_back_n", 200, 200, "rgb:00/ff/00");
  clear_to(kColorBlack);
  ButtonRecord small{1, 0, 0, 9, 9, "Back^glbl_back", 0, 3, 0};
  draw_button_normal(small);
  EXPECT_EQ(count_not(0, 0, 640, 480, kBlack), 100);
}

TEST_F(Buttons, ChangedFileIsReadAgain) {
  make_bmp("opt_date_n", 8, 8, "rgb:00/00/ff");
  ButtonRecord b{1, 0, 0, 7, 7, "Date^opt_date", 0, 1, 0};
  draw_button_normal(b);
  EXPECT_EQ(px(0, 0), 0x0000FFu);
  make_bmp("opt_date_n", 8, 8, "rgb:00/ff/00");
  draw_button_normal(b);
  EXPECT_EQ(px(0, 0), 0x00FF00u);
}

TEST_F(Buttons, MissingFileIsARedBox) {
  clear_to(kColorBlack);
  ButtonRecord b{1, 20, 30, 39, 44, "Gone^no_such_button", 0, 5, 0};
  draw_button_normal(b);
  EXPECT_EQ(count_of(20, 30, 40, 45, kRed), 20 * 15);
  EXPECT_EQ(count_of(0, 0, 640, 480, kRed), 20 * 15);
  EXPECT_TRUE(noted("winButton - LoadImage of bitmap button failed\n"));
  EXPECT_EQ(backend.shown[static_cast<size_t>(30) * 640 + 20], kRed) << "copied at once";
}

TEST_F(Buttons, DrawButtonsStopsAtTheFirstNegativeLeftEdge) {
  clear_to(kColorBlack);
  ButtonRecord table[] = {
      {1, 0, 0, 9, 9, "A^missing_a", 0, 1, 0},
      {1, -5, 20, 29, 29, "end", 0, 9, 0},  // the end, whatever else it holds
      {1, 40, 40, 49, 49, "B^missing_b", 0, 2, 0},
      kButtonTableEnd,
  };
  EXPECT_EQ(draw_buttons(table), -5);
  EXPECT_EQ(count_of(0, 0, 640, 480, kRed), 100);
}

TEST_F(Buttons, TextButtonsAreBevelledOnlyAtTheLargerScale) {
  EXPECT_EQ(button_bevel_rings(212, 72), 0);
  clear_to(kColorBlack);
  ButtonRecord table[] = {{1, 0, 308, 639, 379, "OK", 269, 1, 13}, {0, 200, 0, 300, 50, "Hidden", 0, 2, 0},
                          kButtonTableEnd};
  draw_buttons(table);
  const ButtonColors c = button_colors();
  const std::uint32_t face = rgb(c.face_r, c.face_g, c.face_b);
  EXPECT_EQ(px(20, 340), face);
  EXPECT_EQ(px(0, 340), kBlack) << "black outline";
  EXPECT_EQ(count_not(200, 0, 301, 51, kBlack), 0) << "hidden text buttons draw nothing";
  EXPECT_GT(count_of(300, 320, 340, 370, normal_label_rgb()), 10) << "the label in the labels' ink";

  backend.desktop = backend.current = platform::DisplayMode{1280, 960};
  hardware_settings().touch_type = 4;
  platform::set_current_directory("C:\\PROGRAMS\\");  // where the title font is
  ASSERT_EQ(set_display_mode(1), 1);
  EXPECT_EQ(button_bevel_rings(scale_x(640), scale_y(72)), 15);
  EXPECT_EQ(button_bevel_rings(40, 40), 6);
  draw_buttons(table);
  EXPECT_NE(px(scale_x(5), scale_y(340)), face) << "the outer rings are shaded";
}

TEST_F(Buttons, ButtonColourSchemeFollowsTheSettings) {
  std::strcpy(hardware_settings().button_color, "1");
  load_button_colors();
  EXPECT_EQ(button_colors().grey, 255);
  EXPECT_EQ(button_colors().face_r, 86);
  std::strcpy(hardware_settings().button_color, "2");
  load_button_colors();
  EXPECT_EQ(button_colors().grey, 77);
  EXPECT_EQ(button_colors().face_b, 224);
}

TEST_F(Buttons, HoldGreysOnlyDuringAPress) {
  make_bmp("glbl_capt_g", 10, 10, "rgb:80/80/80");
  ButtonRecord b{1, 0, 0, 9, 9, "CAPTURE^glbl_capt", 0, 0, 0};
  hold_button(b);
  EXPECT_EQ(b.state, kButtonHidden);
  b.state = kButtonGreyed;
  release_held_button(b);
  EXPECT_EQ(b.state, kButtonHidden);
  b.state = kButtonShown;
  release_held_button(b);
  EXPECT_EQ(b.state, kButtonShown);
}

TEST_F(Buttons, ShrinkAveragesEachBox) {
  Bitmap src(4, 2);
  src.at(0, 0) = rgb(0, 0, 0), src.at(1, 0) = rgb(100, 200, 40);
  src.at(0, 1) = rgb(100, 0, 0), src.at(1, 1) = rgb(0, 0, 40);
  for (int x = 2; x < 4; ++x)
    for (int y = 0; y < 2; ++y) src.at(x, y) = rgb(255, 255, 255);
  const Bitmap half = shrink_bitmap_half(src);
  ASSERT_EQ(half.width, 2);
  ASSERT_EQ(half.height, 1);
  EXPECT_EQ(half.at(0, 0), rgb(50, 50, 20));
  EXPECT_EQ(half.at(1, 0), rgb(255, 255, 255));
  EXPECT_TRUE(shrink_bitmap_half(Bitmap(1, 5)).empty());
}

TEST_F(Buttons, ListRowsLeaveTheCallersTextAndOutOfRangeRows) {
  set_colors(0x0700);
  clear_to(kColorBlack);
  draw_study_list_row("C  01 Carotid", 22, false);
  draw_temp_list_row("whatever", 6, false);
  draw_temp_list_row("whatever", -1, true);
  EXPECT_EQ(count_not(0, 0, 640, 480, kBlack), 0);

  // Short rows and rows cut into columns: the caller's text is unchanged.
  char row[] = "0123456789012345678901234567890123456789012345678901234567890123456789";
  const std::string before = row;
  draw_temp_list_row(row, 0, false);
  EXPECT_EQ(before, row);
  draw_study_list_row("D", 0, false);
  draw_study_list_row("", 1, true);
  draw_study_list_row(nullptr, 2, false);
  EXPECT_GT(count_of(0, 37, 428, 53, kRed), 0) << "indicator bitmaps missing here: red boxes";
}

TEST_F(Buttons, ArrowsMapToTheSymbolGlyphs) {
  char s[] = "a\x18\x19\x1a\x1b";
  EXPECT_TRUE(map_arrow_chars(s));
  EXPECT_EQ(std::string(s), std::string("a\xE1\xE2\xE0\xDF"));
  char none[] = "plain";
  EXPECT_FALSE(map_arrow_chars(none));
}

TEST_F(Buttons, BackgroundsLoadShowThroughAndFallBackToTheTile) {
  make_bmp("menu_bkgd", 640, 480, "rgb:10/20/30");
  make_bmp("menu_mark", 10, 10, "rgb:ff/ff/00");
  set_colors(0x0710);
  load_background("menu_bkgd");
  EXPECT_TRUE(background_loaded());
  draw_bitmap_on_background("menu_mark", 5, 5, 9, 9);
  clear_screen();
  EXPECT_EQ(px(300, 300), 0x102030u);
  EXPECT_EQ(px(5, 5), 0xFFFF00u);
  EXPECT_EQ(px(10, 10), 0x102030u) << "cut to the rectangle";

  load_background("no_such_bkgd");
  EXPECT_FALSE(background_loaded());
  clear_screen();
  EXPECT_NE(px(300, 300), 0x102030u);
  release_background();
  EXPECT_FALSE(background_loaded());
}

// --- The bitmap reader against netpbm -----------------------------------------

struct BmpReader : Buttons {
  std::string dir() { return root.path(); }
  // A picture with many colours: gradients and a pattern.
  void make_source(const std::string& ppm) {
    std::ofstream f(ppm, std::ios::binary);
    const int w = 37, h = 21;  // odd sizes exercise the row padding
    f << "P6\n" << w << " " << h << "\n255\n";
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const unsigned char c[3] = {static_cast<unsigned char>(x * 7), static_cast<unsigned char>(y * 12),
                                    static_cast<unsigned char>(((x / 3 + y / 3) & 1) ? 200 : 30)};
        f.write(reinterpret_cast<const char*>(c), 3);
      }
  }
  void expect_same_as_netpbm(const std::string& bmp) {
    const std::string ppm = bmp + ".ppm";
    ASSERT_EQ(platform::run_shell("bmptopnm " + shell_quote(bmp) + " 2>/dev/null | ppmtoppm > " + shell_quote(ppm)), 0);
    const Bitmap expected = read_ppm(ppm);
    ASSERT_FALSE(expected.empty()) << bmp;
    const auto bytes = file_bytes(bmp);
    const auto got = decode_bmp(bytes.data(), bytes.size());
    ASSERT_TRUE(got.has_value()) << bmp;
    EXPECT_EQ(got->width, expected.width);
    EXPECT_EQ(got->height, expected.height);
    EXPECT_EQ(got->pixels, expected.pixels) << bmp;
  }
};

TEST_F(BmpReader, AgreesWithNetpbmAtEveryDepth) {
  const std::string src = dir() + "/src.ppm";
  make_source(src);
  const std::string q = shell_quote(src);
  struct Case {
    const char* name;
    std::string cmd;
  } cases[] = {
      {"d1.bmp", "ppmtopgm " + q + " | pgmtopbm -threshold | ppmtobmp -bpp 1"},
      {"d4.bmp", "pnmquant 16 " + q + " | ppmtobmp -bpp 4"},
      {"d8.bmp", "pnmquant 200 " + q + " | ppmtobmp -bpp 8"},
      {"d24.bmp", "ppmtobmp -bpp 24 " + q},
  };
  for (const Case& c : cases) {
    const std::string out = dir() + "/" + c.name;
    ASSERT_EQ(platform::run_shell(c.cmd + " > " + shell_quote(out) + " 2>/dev/null"), 0) << c.cmd;
    expect_same_as_netpbm(out);
  }
}

TEST_F(BmpReader, ThirtyTwoBitsAndTopDownRows) {
  // 32 bits a pixel, written here (netpbm does not write it), read by both.
  Bitmap pic(5, 3);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) pic.at(x, y) = rgb(x * 50, y * 100, 255 - x * 40);
  std::vector<std::uint8_t> d(54 + 5 * 3 * 4, 0);
  d[0] = 'B', d[1] = 'M';
  platform::put_u32le(&d[2], static_cast<std::uint32_t>(d.size()));
  platform::put_u32le(&d[10], 54);
  platform::put_u32le(&d[14], 40);
  platform::put_s32le(&d[18], 5);
  platform::put_s32le(&d[22], 3);
  platform::put_u16le(&d[26], 1);
  platform::put_u16le(&d[28], 32);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) platform::put_u32le(&d[54 + ((2 - y) * 5 + x) * 4], pic.at(x, y));
  const std::string path = dir() + "/d32.bmp";
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(d.data()), static_cast<long>(d.size()));
  expect_same_as_netpbm(path);
  auto got = decode_bmp(d.data(), d.size());
  ASSERT_TRUE(got);
  EXPECT_EQ(got->pixels, pic.pixels);

  // The same rows stored top-down (negative height).
  platform::put_s32le(&d[22], -3);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) platform::put_u32le(&d[54 + (y * 5 + x) * 4], pic.at(x, y));
  got = decode_bmp(d.data(), d.size());
  ASSERT_TRUE(got);
  EXPECT_EQ(got->pixels, pic.pixels);

  // Our own writer round-trips.
  const auto enc = encode_bmp24(pic);
  got = decode_bmp(enc.data(), enc.size());
  ASSERT_TRUE(got);
  EXPECT_EQ(got->pixels, pic.pixels);
}

TEST_F(BmpReader, DamagedFilesAreRefused) {
  Bitmap pic(7, 4, rgb(1, 2, 3));
  const auto good = encode_bmp24(pic);
  for (std::size_t cut : {std::size_t{0}, std::size_t{20}, std::size_t{54}, good.size() - 1}) {
    std::vector<std::uint8_t> d(good.begin(), good.begin() + static_cast<long>(cut));
    EXPECT_FALSE(decode_bmp(d.data(), d.size())) << cut;
  }
  auto d = good;
  platform::put_s32le(&d[18], 1 << 30);  // absurd width
  EXPECT_FALSE(decode_bmp(d.data(), d.size()));
  d = good;
  platform::put_u32le(&d[10], 0xFFFFFFF0u);  // pixels past the end
  EXPECT_FALSE(decode_bmp(d.data(), d.size()));
  d = good;
  platform::put_u16le(&d[28], 16);
  EXPECT_FALSE(decode_bmp(d.data(), d.size()));
  d = good;
  platform::put_u32le(&d[30], 1);  // run-length compressed
  EXPECT_FALSE(decode_bmp(d.data(), d.size()));
}

}  // namespace

namespace {

// The acquisition screen's narrow text buttons: their labels are longer than
// the big button font allows, and must shrink rather than lose both ends.
TEST_F(Buttons, LabelTooWideForItsTextButtonKeepsClearOfBothSides) {
  for (const char* label : {"Baseline DOWN", "Volume UP", "Gain UP"}) {
    clear_to(kColorBlack);
    ButtonRecord b = make_button(560, 208, 632, 258, label, 105, 0, 0, kButtonShown);
    draw_button_normal(b);
    const std::uint32_t ink = normal_label_rgb();
    EXPECT_GT(count_of(566, 210, 627, 257, ink), 20) << label;
    EXPECT_EQ(count_of(560, 208, 564, 259, ink), 0) << label;
    EXPECT_EQ(count_of(629, 208, 633, 259, ink), 0) << label;
  }
}

}  // namespace
