#include <gtest/gtest.h>

#include <vector>

#include "core_fixture.h"
#include "testsupport/scripted_input.h"

namespace {

using namespace vaslab;
using platform::vk::kDown;
using platform::vk::kEscape;
using platform::vk::kReturn;

ButtonRecord button(std::uint8_t state, int x1, int y1, int x2, int y2, const char* label, int keyboard, int code,
                    int remote) {
  return make_button(x1, y1, x2, y2, label, code, keyboard, remote, state);
}

struct EventWait : CoreFixture {
  std::unique_ptr<testsupport::ScriptedInput> input;
  std::vector<ButtonRecord> table;

  void SetUp() override {
    CoreFixture::SetUp();
    input = std::make_unique<testsupport::ScriptedInput>(clock);
    start_window_timers();
    table = {
        button(1, 0, 0, 99, 99, "Next", kReturn + 256, 5, 13),
        button(1, 100, 0, 199, 99, "A", 'a', 65, 15),
        button(0, 200, 0, 299, 99, "Hidden", kEscape + 256, 106, 17),
        button(1, 250, 0, 349, 99, "Overlap", 0, 7, 0),  // keyless: keyboard walks stop here
        button(1, 400, 0, 499, 99, "After", 'z', 8, 0),
        kButtonTableEnd,
    };
  }
  void TearDown() override {
    input.reset();
    set_button_mode_repeat();
    CoreFixture::TearDown();
  }

  // Events of `passes` calls, the nothing-events left out.
  std::vector<int> events(int passes) {
    std::vector<int> out;
    for (int i = 0; i < passes; ++i) {
      const int e = get_button_event(table.data());
      if (e != kNoEvent) out.push_back(e);
    }
    return out;
  }
  // Runs passes until the fake clock reaches `ms`.
  std::vector<int> events_until(std::uint32_t ms) {
    std::vector<int> out;
    while (clock.now < ms) {
      const int e = get_button_event(table.data());
      if (e != kNoEvent) out.push_back(e);
    }
    return out;
  }
};

TEST_F(EventWait, TouchHoldRepeatsAfterTenTicksAndReleasesOnLift) {
  input->touch(50, 50).after(1000).lift();
  const std::vector<int> got = events_until(1100);
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(got.front(), 5);
  EXPECT_EQ(got.back(), -5);
  const int repeats = static_cast<int>(got.size()) - 2;
  // 1000 ms of hold at one tick per 40 ms: 25 ticks, the first 10 silent.
  EXPECT_GE(repeats, 13);
  EXPECT_LE(repeats, 16);
  for (size_t i = 1; i + 1 < got.size(); ++i) EXPECT_EQ(got[i], 5 + kRepeatBit);
}

TEST_F(EventWait, PointerFollowsATouchHoldAndIsForgottenOnRelease) {
  input->touch(50, 50).after(100).touch(61, 57).after(100).lift();
  events_until(50);
  EXPECT_EQ(get_pointer_position(), (50 << 16) | 50);
  events_until(150);
  EXPECT_EQ(get_pointer_position(), (57 << 16) | 61) << "the pen moved while held";
  events_until(300);
  EXPECT_EQ(get_pointer_position(), 0);
}

TEST_F(EventWait, TouchOnHiddenOrNoButtonFallsThroughToTheRemote) {
  input->touch(220, 50).remote(11);  // only the hidden button there; key 11 selects remote byte 1
  table[0].remote_key = 1;
  const std::vector<int> got = events(3);
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(got.front(), 5) << "the remote key pressed in the same pass";
}

TEST_F(EventWait, MousePressTakesTheFirstShownButtonUnderThePoint) {
  input->mouse_down(260, 10).after(20).mouse_up(600, 400);
  EXPECT_EQ(events(60), (std::vector<int>{7, -7})) << "hidden 106 is skipped; release away from the button";
  input->after(100).mouse_down(550, 10).after(20).mouse_up(550, 10);
  EXPECT_TRUE(events(200).empty()) << "a press on no button does nothing";
}

TEST_F(EventWait, LetterCodesFollowCapsLockInTypingMode) {
  input->touch(150, 50).after(20).lift();
  std::vector<int> got;
  while (clock.now < 100) {
    const int e = get_button_event_typing(table.data());
    if (e != kNoEvent) got.push_back(e);
  }
  EXPECT_EQ(got, (std::vector<int>{97, -65}));
  backend.caps_lock = true;
  caps_lock_key_pressed();  // Caps Lock on
  input->after(100).touch(150, 50).after(20).lift();
  got.clear();
  while (clock.now < 300) {
    const int e = get_button_event_typing(table.data());
    if (e != kNoEvent) got.push_back(e);
  }
  EXPECT_EQ(got, (std::vector<int>{65, -65}));
}

TEST_F(EventWait, TypingModeTurnsPrintableKeysIntoTheirCodes) {
  input->type("x").key(kReturn);
  std::vector<int> got;
  while (clock.now < 100) {
    const int e = get_button_event_typing(table.data());
    if (e != kNoEvent) got.push_back(e);
  }
  EXPECT_EQ(got, (std::vector<int>{'x', 5}));
}

// A menu item chosen by its letter opens a typing screen (System Data): the
// letter's character must not arrive there as typed, while a key without a
// character in between must not eat the next one typed.
TEST_F(EventWait, AKeyThatPressedAButtonIsNotTypedIntoTheNextScreen) {
  input->key('A');
  int e = kNoEvent;
  while (e == kNoEvent && clock.now < 100) e = get_button_event(table.data());
  EXPECT_EQ(e, 65);
  input->after(20).key(kDown).after(20).type("x");
  std::vector<int> got;
  while (clock.now < 300) {
    const int t = get_button_event_typing(table.data());
    if (t != kNoEvent) got.push_back(t);
  }
  EXPECT_EQ(got, (std::vector<int>{'x'}));
}

TEST_F(EventWait, KeyboardLookupsStopAtTheFirstKeylessEntry) {
  input->key(kReturn).after(10).key(platform::vk::kEscape).after(10).key('A').after(10).key('Z');
  // Enter presses Next; Escape reaches the hidden button; 'a' presses A;
  // 'z' belongs to a button after a keyless one and is never found.
  EXPECT_EQ(events(100), (std::vector<int>{5, 106, 65}));
}

TEST_F(EventWait, ClosingTheWindowUnwindsThroughTheEscapeButton) {
  input->close_window();
  events(5);
  EXPECT_FALSE(is_event_loop_live());
  EXPECT_EQ(get_button_event(table.data()), 106);
  wait_button_release(table.data());  // returns at once
  std::vector<ButtonRecord> no_escape = {button(1, 0, 0, 9, 9, "x", 0, 3, 0), kButtonTableEnd};
  EXPECT_EQ(get_button_event(no_escape.data()), 1);
  drain_button_events(table.data());  // ends although nothing is ever negative
}

TEST_F(EventWait, DeactivationReleasesTheHeldButton) {
  input->mouse_down(50, 50).after(30).at_time([this] { input->push({platform::Msg::kDeactivate}); });
  EXPECT_EQ(events(100), (std::vector<int>{5, -5}));
}

TEST_F(EventWait, RemoteHoldStaysWhileFramesComeAndADifferentKeyTakesOver) {
  table[0].remote_key = 1;   // key 11
  table[1].remote_key = 15;  // key 1
  input->remote(11);
  for (int t = 40; t <= 800; t += 40) input->after(40).remote(11);
  input->after(40).remote(1);
  const std::vector<int> got = events_until(1400);
  ASSERT_GE(got.size(), 3u);
  EXPECT_EQ(got.front(), 5);
  const auto release = std::find(got.begin(), got.end(), -5);
  ASSERT_NE(release, got.end());
  for (auto it = got.begin() + 1; it != release; ++it) EXPECT_EQ(*it, 5 + kRepeatBit);
  EXPECT_GT(release - got.begin(), 5) << "frames kept the hold alive past the first ticks";
  ASSERT_NE(release + 1, got.end());
  EXPECT_EQ(*(release + 1), 65) << "the pushed-back key is pressed next";
}

TEST_F(EventWait, RemoteHoldEndsWhenFramesStop) {
  table[0].remote_key = 1;
  input->remote(11);
  const std::vector<int> got = events_until(2000);
  ASSERT_GE(got.size(), 2u);
  EXPECT_EQ(got.front(), 5);
  EXPECT_EQ(got.back(), -5);
}

TEST_F(EventWait, CaptureModeKeyBitsHoldUntilKeyUp) {
  table[4].keyboard_code = 2;  // Down arrow's bit
  table[3].keyboard_code = 1;
  set_button_mode_capture();
  input->at_time([this] { input->push({platform::Msg::kKeyDown, kDown}); })
      .after(30)
      .at_time([this] { input->push({platform::Msg::kKeyUp, kDown}); });
  EXPECT_EQ(events(100), (std::vector<int>{8, -8}));
}

TEST_F(EventWait, InactiveWindowInCaptureModeReturnsTheCaptureButton) {
  table[3] = button(1, 250, 0, 349, 99, "CAPTURE^glbl_capt", 0, 0, 0);
  set_button_mode_capture();
  window_deactivated();
  EXPECT_EQ(get_button_event(table.data()), 0);
  set_button_mode_repeat();
  EXPECT_EQ(get_button_event(table.data()), kNoEvent);
}

TEST_F(EventWait, FrontPanelHoldRepeatsAndReleases) {
  table[2].remote_key = 9;
  table[2].state = 0;  // hidden buttons are reachable from the keys
  input->panel_down(9).after(800).panel_up();
  const std::vector<int> got = events_until(900);
  ASSERT_GE(got.size(), 3u);
  EXPECT_EQ(got.front(), 106);
  EXPECT_EQ(got[1], 106 + kRepeatBit);
  EXPECT_EQ(got.back(), -106);
}

}  // namespace

namespace {

// A press acted on, then the next screen (another table): what comes before
// it has settled is the last screen's, except keys typed ahead.
TEST_F(EventWait, ANewScreenTakesNoPressUntilItHasSettled) {
  std::vector<ButtonRecord> next = table;
  const auto run = [&](std::uint32_t until) {
    std::vector<int> got;
    int e = kNoEvent;
    while (e < 0 && clock.now < until) e = get_button_event(table.data());
    got.push_back(e);
    wait_button_release(table.data());
    while (clock.now < until) {
      const int n = get_button_event(next.data());
      if (n >= 0) got.push_back(n);
    }
    return got;
  };
  // A second tap 80 ms after the first, then a settled one.
  input->after(10).tap(5).after(30).tap_again().after(300).tap(8);
  EXPECT_EQ(run(1000), (std::vector<int>{5, 8}));
  // Enter twice: the second is dropped; a key typed ahead counts.
  input->from_now().after(10).key(kReturn).after(80).hurried().key(kReturn).after(20).hurried().key('A');
  EXPECT_EQ(run(clock.now + 1000), (std::vector<int>{5, 65}));
}

}  // namespace

namespace {

// Inputs that give nothing; `polled` stands for a touch panel, remote or
// front panel that is configured and sends no window messages.
struct QuietInputs : vaslab::InputSources {
  bool polled = false;
  int touch_position(std::int16_t&, std::int16_t&) override { return 0; }
  int remote_key() override { return -1; }
  void push_back_remote_key(int) override {}
  int front_panel_key() override { return -1; }
  void step_spooler() override {}
  bool needs_polling() override { return polled; }
};

struct IdleWait : CoreFixture {
  QuietInputs inputs;
  std::vector<vaslab::ButtonRecord> table{vaslab::kButtonTableEnd};
  void SetUp() override {
    CoreFixture::SetUp();
    vaslab::set_input_sources(&inputs);
    ASSERT_TRUE(vaslab::create_main_window(640, 480));
  }
  void TearDown() override {
    vaslab::set_input_sources(nullptr);
    CoreFixture::TearDown();
  }
  // The fake time each of `passes` idle passes took.
  std::vector<std::uint32_t> pass_lengths(int passes) {
    std::vector<std::uint32_t> out;
    for (int i = 0; i < passes; ++i) {
      const std::uint32_t before = clock.now;
      EXPECT_EQ(vaslab::get_button_event(table.data()), vaslab::kNoEvent);
      out.push_back(clock.now - before);
    }
    return out;
  }
};

// With nothing to poll an idle pass sleeps until the stopwatch's quarter
// second or a tick timer a screen waits on, whichever comes first; a
// configured panel is looked at every 10 ms.
TEST_F(IdleWait, AQuietPassSleepsUntilTheNextTimerAndAPanelIsPolled) {
  struct Case {
    const char* name;
    bool polled;
    int tick_ms;  // a one-shot tick timer in slot 0, 0 for none
    std::vector<std::uint32_t> want;
  };
  const Case cases[] = {
      {"nothing to poll", false, 0, {250, 250, 250, 250}},
      {"a tick timer at 100 ms", false, 100, {100, 150, 250, 250}},
      {"a panel configured", true, 0, {10, 10, 10, 10}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    inputs.polled = k.polled;
    vaslab::reset_tick_timers();
    vaslab::start_window_timers();  // the stopwatch's is due 250 ms from now
    if (k.tick_ms) vaslab::start_tick_timer(0, static_cast<std::uint32_t>(k.tick_ms), vaslab::kTickOneShot);
    EXPECT_EQ(pass_lengths(4), k.want);
  }
}

}  // namespace
