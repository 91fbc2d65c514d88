#include <gtest/gtest.h>

#include <string>

#include "screen_fixture.h"
#include "vaslab/core/toolkit/message_box.h"

namespace {

using namespace vaslab;
using Lines = std::vector<std::string>;

TEST(MessageBoxLines, LineEndsWrappingAndTheLineLimit) {
  EXPECT_EQ(message_box_lines("first\rsecond"), (Lines{"first", "second"}));
  EXPECT_EQ(message_box_lines("first\r\nsecond\r\n"), (Lines{"first", "second"}));
  EXPECT_EQ(message_box_lines("first\nsecond"), (Lines{"first", "second"}));
  // Lines of 38 characters (a cell of the band is left free on each side),
  // wrapped at the last blank that fits; a longer word is cut.
  const std::string fifty(50, 'x');
  EXPECT_EQ(message_box_lines(fifty.c_str()), (Lines{std::string(38, 'x'), std::string(12, 'x')}));
  EXPECT_EQ(message_box_lines("The study could not be saved: the archive disk is full."),
            (Lines{"The study could not be saved: the", "archive disk is full."}));
  const std::string exact = std::string(38, 'a') + " b";
  EXPECT_EQ(message_box_lines(exact.c_str()), (Lines{std::string(38, 'a'), "b"}));
  // What a wrapped line leaves flows into the next, so that no word stands
  // alone; a blank line ends the flow.
  EXPECT_EQ(message_box_lines((std::string(100, 'w') + "\rlast").c_str()),
            (Lines{std::string(38, 'w'), std::string(38, 'w'), std::string(24, 'w') + " last"}));
  EXPECT_EQ(message_box_lines("Drive D was not found. Make sure that\ryour external USB drive is properly\r"
                              "connected, you have given it enough time\rto be recognized by Vyro, and you have\r"
                              "only one connected to Vyro."),
            (Lines{"Drive D was not found. Make sure that", "your external USB drive is properly",
                   "connected, you have given it enough", "time to be recognized by Vyro, and you",
                   "have only one connected to Vyro."}));
  EXPECT_EQ(message_box_lines("Temp. Files is FULL. Save/Print and then\rdelete temporary patient files.\r \r"
                              "Only room for 5 pages in Temp. Files."),
            (Lines{"Temp. Files is FULL. Save/Print and", "then delete temporary patient files.", " ",
                   "Only room for 5 pages in Temp. Files."}));
  EXPECT_EQ(message_box_lines("a very long first line that has to wrap here\r \rnext"),
            (Lines{"a very long first line that has to", "wrap here", " ", "next"}));
  // Twelve lines at most: the box grows from seven up to the screen's top.
  EXPECT_EQ(message_box_lines("1\r2\r3\r4\r5\r6\r7\r8\r9\r10\r11\r12\r13"),
            (Lines{"1", "2", "3", "4", "5", "6", "7", "8", "9", "10", "11", "12"}));
  // Characters outside 32..127 are dropped and not counted.
  EXPECT_EQ(message_box_lines("a\tb\x01" "c\xB3" "d"), (Lines{"abcd"}));
  const std::string tabs = std::string(10, '\t') + std::string(38, 'y');
  EXPECT_EQ(message_box_lines(tabs.c_str()), (Lines{std::string(38, 'y')}));
  EXPECT_TRUE(message_box_lines("").empty());
  EXPECT_TRUE(message_box_lines(nullptr).empty());
}

struct MessageBox : ScreenFixture {
  void key(int vk) {
    backend.push({platform::Msg::kKeyDown, vk});
    backend.push({platform::Msg::kKeyUp, vk});
  }
  void click(int x, int y) {
    platform::WindowMessage down{platform::Msg::kLeftDown};
    down.x = x, down.y = y;
    platform::WindowMessage up{platform::Msg::kLeftUp};
    up.x = x, up.y = y;
    backend.push(down);
    backend.push(up);
  }
};

TEST_F(MessageBox, KeysAnswerWhateverButtonsAreShown) {
  key(platform::vk::kEscape);
  EXPECT_EQ(show_message_box(nullptr, "Save the study?", "Question", kMbOkCancel), kMbCancel);
  key(platform::vk::kReturn);
  EXPECT_EQ(show_message_box(nullptr, "Save the study?", "Question", kMbOkCancel), kMbOk);
  // Space reaches the hidden Retry button: keyboard lookups ignore states.
  key(platform::vk::kSpace);
  EXPECT_EQ(show_message_box(nullptr, "Disk full.", nullptr, 0), kMbRetry);
  key(platform::vk::kSpace);
  EXPECT_EQ(show_message_box(nullptr, "Insert a disk.", nullptr, kMbRetryCancel), kMbRetry);
}

TEST_F(MessageBox, TouchingAShownButtonAnswers) {
  click(500, 340);
  EXPECT_EQ(show_message_box(nullptr, "Print it?", nullptr, kMbOkCancel), kMbOk);
  click(50, 340);
  EXPECT_EQ(show_message_box(nullptr, "Print it?", nullptr, kMbOkCancel), kMbCancel);
  const ButtonRecord* t = message_box_buttons();
  EXPECT_EQ(t[3].state, kButtonShown);
  EXPECT_EQ(t[4].state, kButtonShown);
  EXPECT_EQ(t[0].state, kButtonHidden);
}

TEST_F(MessageBox, ClosedWindowAnswersCancel) {
  backend.push({platform::Msg::kDestroy});
  EXPECT_EQ(show_message_box(nullptr, "Anything", nullptr, 0), kMbCancel);
  EXPECT_EQ(show_message_box(nullptr, "Anything", nullptr, kMbRetryCancel), kMbCancel);
}

TEST_F(MessageBox, NoWaitSetDrawsAndReturnsAtOnce) {
  clear_to(kColorBlack);
  key(platform::vk::kEscape);  // left waiting: the box does not take it
  EXPECT_EQ(show_message_box(nullptr, "Working...", "Backup", kMbNoWait), kMbOk);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(message_box_buttons()[i].state, kButtonHidden);
  // The band and its dark red lines; the title centred on 319 in dark red.
  EXPECT_EQ(px(5, 150), 0xFFFFFFu);
  EXPECT_EQ(px(5, 385), 0x800000u);
  EXPECT_EQ(px(5, 112), 0x800000u);
  EXPECT_EQ(px(5, 400), 0u) << "nothing below the band";
  EXPECT_GT(count_of(271, 124, 367, 140, 0x800000u), 10);
  EXPECT_EQ(count_of(0, 124, 260, 140, 0x800000u), 0);
  EXPECT_GT(count_of(16, 169, 200, 185, 0u), 10) << "the text in black at the left";
  EXPECT_EQ(count_of(0, 160, 16, 270, 0u), 0) << "inside the band, clear of its edge";
}

TEST_F(MessageBox, TheScreenDrawnAfterABoxKeepsItsColours) {
  g_draw.fill_color = kColorBackground;
  g_draw.draw_color = kColorWhite;
  set_text_justify(kJustifyCentre, kJustifyBaseline);
  key(platform::vk::kReturn);
  show_message_box(nullptr, "Saved.", "Archive", 0);
  EXPECT_EQ(g_draw.fill_color, kColorBackground);
  EXPECT_EQ(g_draw.draw_color, kColorWhite);
  EXPECT_EQ(g_draw.horizontal, kJustifyCentre);
  EXPECT_EQ(g_draw.vertical, kJustifyBaseline);
  clear_screen();
  EXPECT_EQ(count_of(0, 0, 640, 480, 0x800000u), 0) << "no dark red left on the next screen";
}

TEST_F(MessageBox, NotAvailableNamesTheFunctionAndItsReason) {
  key(platform::vk::kReturn);
  EXPECT_EQ(show_not_available("Archive"), kMbOk);
  key(platform::vk::kReturn);
  show_not_available("Date and Time", "No date and time program is configured.");
  EXPECT_TRUE(noted("message box [Archive]: This function is not available."));
  EXPECT_TRUE(noted("message box [Date and Time]: This function is not available.\rNo date and time program"));
}

TEST_F(MessageBox, WithoutASurfaceTheTextGoesToStandardError) {
  free_screen();
  backend.push({platform::Msg::kDestroy});
  testing::internal::CaptureStderr();
  EXPECT_EQ(show_message_box(nullptr, "Failed to create window.", "Error", 0), kMbCancel);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("Error: Failed to create window."), std::string::npos);
}

TEST_F(MessageBox, ErrorLineShowsWithOneOkAndRestoresTheWindow) {
  std::snprintf(g_message_text, sizeof g_message_text, "File error.");
  backend.minimised = true;
  key(platform::vk::kReturn);
  EXPECT_EQ(show_error_and_restore(), 1);
  EXPECT_FALSE(backend.minimised);
  EXPECT_EQ(message_box_buttons()[2].state, kButtonShown);
  destroy_main_window();
  EXPECT_EQ(show_error_and_restore(), 0);
}

}  // namespace
