#include <gtest/gtest.h>

#include <cstring>

#include "screen_fixture.h"
#include "testsupport/scripted_input.h"
#include "vaslab/core/toolkit/fonts.h"
#include "vaslab/core/toolkit/keyboard_entry.h"

namespace {

using namespace vaslab;

struct KeyboardEntry : ScreenFixture {
  std::unique_ptr<testsupport::ScriptedInput> input;
  char text[41] = {};

  void SetUp() override {
    ScreenFixture::SetUp();
    input = std::make_unique<testsupport::ScriptedInput>(clock);
    ASSERT_TRUE(create_main_window(640, 480));
    ASSERT_EQ(set_display_mode(0), 1);
  }
  void TearDown() override {
    input.reset();
    ScreenFixture::TearDown();
  }
  void caps(bool on) {
    if (((peek_keyboard_flags(0, kKeyboardFlagsAddress) & 0x40) != 0) != on) caps_lock_key_pressed();
  }
};

constexpr int kAccept = 0, kExit = 1, kBackspace = 1050, kClear = 1070;

TEST_F(KeyboardEntry, TypingOnKeysAndKeyboardThenAccept) {
  std::strcpy(text, "AB");
  // Caps Lock goes on at entry: a touched letter is a capital; the keyboard
  // types its own characters.
  input->after(20).tap('Q').after(100).type("x1").after(50).tap(kAccept);
  EXPECT_EQ(run_keyboard_entry("Site", text, 10, 0, kFontEntry), 0);
  EXPECT_STREQ(text, "ABQx1");
  EXPECT_NE(peek_keyboard_flags(0, kKeyboardFlagsAddress) & 0x40, 0);
}

TEST_F(KeyboardEntry, LettersFollowCapsLockWhenKeptAsItIs) {
  caps(false);
  input->after(20).tap('Q').after(100).tap(kAccept);
  EXPECT_EQ(run_keyboard_entry("Site", text, 10, kEntryKeepCapsLock, kFontEntry), 0);
  EXPECT_STREQ(text, "q");
}

TEST_F(KeyboardEntry, LengthLimitBackspaceAndClear) {
  // The fixed-pitch variant shows the punctuation keys, backspace among them.
  input->after(20).type("abcdef").tap(kBackspace).after(100).type("z").after(50).tap(kAccept);
  EXPECT_EQ(run_keyboard_entry("Site", text, 4, 0, kFontSized), 0);
  EXPECT_STREQ(text, "abcz") << "typing past 4 is ignored";

  input->after(20).tap(kClear).after(100).tap(kBackspace).after(100).tap(kAccept);
  EXPECT_EQ(run_keyboard_entry("Site", text, 4, 0, kFontSized), 0);
  EXPECT_STREQ(text, "") << "accept of an empty line stores an empty text";
}

TEST_F(KeyboardEntry, ExitLeavesTheCallersTextAlone) {
  std::strcpy(text, "keep");
  input->after(20).type("more").after(50).tap(kExit);
  EXPECT_EQ(run_keyboard_entry("Site", text, 10, 0, kFontEntry), 1);
  EXPECT_STREQ(text, "keep");
}

TEST_F(KeyboardEntry, BadArgumentsShowNothing) {
  const int presents = input->presents;
  EXPECT_EQ(run_keyboard_entry("Site", text, 0, 0, kFontEntry), -1);
  EXPECT_EQ(run_keyboard_entry("Site", text, 41, 0, kFontEntry), -1);
  EXPECT_EQ(run_keyboard_entry("", text, 10, 0, kFontEntry), -1);
  EXPECT_EQ(run_keyboard_entry("Site", nullptr, 10, 0, kFontEntry), -1);
  EXPECT_EQ(input->presents, presents);
}

TEST_F(KeyboardEntry, ClosingTheWindowLeavesByExit) {
  std::strcpy(text, "keep");
  input->after(20).type("zz").close_window();
  EXPECT_EQ(run_keyboard_entry("Site", text, 10, 0, kFontEntry), 1);
  EXPECT_STREQ(text, "keep");
}

}  // namespace
