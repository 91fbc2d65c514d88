// Whole screens drawn with the build's own bitmaps and fonts, compared with
// the expected pictures in tests/expected (screenshot_check.h).
#include <gtest/gtest.h>

#include <string>

#include "screen_fixture.h"
#include "screenshot_check.h"
#include "vaslab/core/buttons.h"
#include "vaslab/core/message_box.h"

namespace {

using namespace vaslab;

struct Screenshot : ScreenFixture {
  void check(const std::string& name) { check_screenshot(name, "vaslab/core/tests/expected"); }

  void main_menu_like_screen() {
    load_background("menu_bkgd");
    set_colors(0x0710);
    clear_screen();
    draw_screen_title("Main Menu");
    static ButtonRecord table[] = {
        {1, 0, 408, 173, 479, "Exit to Windows^main_shut", 115, 107, 0},
        {1, 502, 408, 637, 479, "Studies^main_start", 269, 105, 13},
        {2, 275, 408, 426, 479, "Next^glbl_next", 0, 2, 10},
        {1, 24, 60, 235, 287, "Studies^menu_studies", 0, 1, 0},
        {1, 252, 60, 459, 287, "Temp Files^menu_temp", 0, 2, 0},
        {1, 476, 60, 630, 131, "Options", 0, 3, 0},
        {1, 476, 150, 630, 221, "Page \x18\x19", 0, 4, 0},
        {1, 476, 300, 560, 340, "Gone^no_such_bitmap", 0, 5, 0},
        kButtonTableEnd,
    };
    draw_buttons(table);
    draw_text_cells("Code page 437: \xB3 \xC4\xC4\xC5\xC4\xC4 \x18\x19\x1A\x1B", 296, 3, kColorNone, kColorWhite);
    draw_text_sized("16-pixel text", 316, 24, 16, kColorWhite);
    draw_text_sized("8x8 system text", 340, 24, 8, kColorGreen);
    g_draw.fill_color = kColorBlack;
    draw_study_list_row("C  01 Carotid duplex, both sides", 20, false);
    draw_study_list_row("   02 Lower extremity arterial", 21, true);
  }
};

TEST_F(Screenshot, ScreenWithBackgroundTextAndButtons) {
  main_menu_like_screen();
  check("main_menu_like");
}

TEST_F(Screenshot, MessageBoxOverAScreen) {
  main_menu_like_screen();
  backend.push({platform::Msg::kKeyDown, platform::vk::kReturn});
  EXPECT_EQ(show_message_box(nullptr,
                             "The study could not be saved: the archive\r\ndisk is full. Free some space and try "
                             "again, or cancel to keep the study.",
                             "Archive", kMbOkCancel),
            kMbOk);
  check("message_box");
}

TEST_F(Screenshot, StartPicture) {
  draw_splash();
  EXPECT_EQ(g_draw.fill_color, kColorBackground);
  check("splash");
}

}  // namespace
