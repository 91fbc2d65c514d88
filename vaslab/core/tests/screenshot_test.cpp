// Whole screens drawn with the build's own bitmaps and fonts, compared with
// the expected pictures in tests/expected (screenshot_check.h).
#include <gtest/gtest.h>

#include <string>

#include "screen_fixture.h"
#include "screenshot_check.h"
#include "testsupport/scripted_input.h"
#include "vaslab/core/screens/main_menu.h"
#include "vaslab/core/screens/setup_menus.h"
#include "vaslab/core/screens/study_menu.h"
#include "vaslab/core/settings/settings.h"
#include "vaslab/core/toolkit/buttons.h"
#include "vaslab/core/toolkit/keyboard_entry.h"
#include "vaslab/core/toolkit/message_box.h"

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

TEST_F(Screenshot, LongestMessageBoxShowsItsWholeText) {
  // The longest box text of the program, asked for real: the USB drive is
  // not there.  Every line stands clear of the buttons.
  main_menu_like_screen();
  testsupport::ScriptedInput in(clock);
  in.after(50).at_time([this] { check("message_box_longest"); }).tap(kMbCancel);
  check_usb_drive();
  EXPECT_TRUE(in.done());
  // A text longer than the band holds raises the band's top.
  main_menu_like_screen();
  in.from_now().after(50).at_time([this] { check("message_box_grown"); }).tap(kMbOk);
  show_message_box(nullptr,
                   "Line 1\rLine 2\rLine 3\rLine 4\rLine 5\rLine 6\rLine 7\rLine 8\rLine 9\rLine 10\rLine 11\r"
                   "Line 12, the last one with room",
                   "Twelve Lines", kMbOkCancel);
}

TEST_F(Screenshot, ScreenDrawnAfterAMessageBox) {
  main_menu_like_screen();
  g_draw.fill_color = kColorBackground;
  backend.push({platform::Msg::kKeyDown, platform::vk::kReturn});
  show_message_box(nullptr, "Saved.", "Archive", 0);
  // A screen that takes the colours as it finds them.
  load_background("stud_bkgd");
  clear_screen();
  draw_screen_title("Studies");
  check("after_message_box");
}

TEST_F(Screenshot, SetUpScreens) {
  draw_floppy_backup_menu();
  check("setup_menu");
  testsupport::ScriptedInput in(clock);
  in.after(50).at_time([this] { check("options"); }).tap(116);
  run_options_screen();
  in.after(50).at_time([this] { check("keypad_test"); }).tap(100);
  run_keypad_screen();
  HardwareSettings& hw = hardware_settings();
  std::snprintf(hw.facility_name, sizeof hw.facility_name, "%s", "Vascular Lab");
  in.after(50).at_time([this] { check("keyboard_entry"); }).tap(1);
  edit_text_field("Set Facility Name to:", hw.facility_name, 29, 0, false);
}

TEST_F(Screenshot, StudyMenuAndItsRejection) {
  const auto menu = encode_study_menu_file({make_submenu_entry("Studies", 1, 3), make_study_entry("ABI Resting", 101),
                                            make_study_entry("Segmental Pressures", 102),
                                            make_submenu_entry("PVR Studies", 4, 1), make_study_entry("PVR", 103)});
  root.write(kStudyMenuFile, std::string(menu.begin(), menu.end()));
  testsupport::ScriptedInput in(clock);
  in.after(50).at_time([this] { check("study_menu"); }).key(platform::vk::kEscape);
  EXPECT_EQ(run_study_menu(), -1);
  root.write(kStudyMenuFile, std::string(88, 'x'));
  in.after(50).at_time([this] { check("study_menu_rejected"); }).key(platform::vk::kReturn);
  EXPECT_EQ(run_study_menu(), -1);
}

TEST_F(Screenshot, StartPicture) {
  draw_splash();
  EXPECT_EQ(g_draw.fill_color, kColorBackground);
  check("splash");
}

}  // namespace
