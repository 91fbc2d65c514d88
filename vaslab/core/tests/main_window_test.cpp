#include <gtest/gtest.h>

#include "core_fixture.h"

namespace {

using namespace vaslab;
using platform::DisplayMode;
using platform::Rect;

struct LayoutCase {
  DisplayMode display;
  int bits;
  bool spectral;
  bool ok;
  bool change;
  DisplayMode mode;
  int top, bottom;
  int x_scale, width, height;
};

TEST(FullscreenLayout, Table) {
  const Rect work{0, 20, 1280, 900};  // task bars above and below
  const LayoutCase cases[] = {
      // 1280x1024 fitted to the display height: scale 2, no change, y scale 1024/480
      {{1280, 1024}, 8, false, true, false, {}, 0, 1024, 2, 1280, 1024},
      // no fitting: always a 640x480 resolution
      {{1024, 768}, 0, false, true, true, {640, 480}, 0, 480, 1, 640, 480},
      {{640, 480}, 0, false, true, false, {}, 0, 480, 1, 640, 480},
      // narrower than the surface: no scale fits
      {{600, 480}, 4, false, false, false, {}, 0, 0, 0, 0, 0},
      // 1024 wide: scale 1, 640 differs from 1024, so the resolution changes
      {{1024, 768}, 4, false, true, true, {640, 480}, 0, 480, 1, 640, 480},
      // scale 3 on 1920x1440 is kept as it is
      {{1920, 1440}, 4, false, true, false, {}, 0, 1440, 3, 1920, 1440},
      // above scale 2 with a change: clamped to 1280x960
      {{1950, 1500}, 4, false, true, true, {1280, 960}, 0, 960, 2, 1280, 960},
      // the work area is shorter than 960: the surface keeps 960 and moves up
      {{1280, 1024}, 12, false, true, false, {}, 0, 960, 2, 1280, 960},
      // a spectral module keeps the plain scaled height
      {{1280, 1024}, 8, true, true, false, {}, 0, 960, 2, 1280, 960},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.display.width << "x" << c.display.height << " bits " << c.bits);
    const FullscreenLayout lay = fullscreen_layout(c.display, work, c.bits, c.spectral);
    ASSERT_EQ(lay.ok, c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(lay.change_resolution, c.change);
    if (c.change) {
      EXPECT_EQ(lay.mode.width, c.mode.width);
      EXPECT_EQ(lay.mode.height, c.mode.height);
    }
    EXPECT_EQ(lay.top, c.top);
    EXPECT_EQ(lay.bottom, c.bottom);
    EXPECT_EQ(lay.geometry.x_scale, c.x_scale);
    EXPECT_EQ(lay.geometry.width, c.width);
    EXPECT_EQ(lay.geometry.height, c.height);
    EXPECT_DOUBLE_EQ(lay.geometry.y_scale, c.height / 480.0);
  }
}

struct Window : CoreFixture {
  void SetUp() override {
    CoreFixture::SetUp();
    ASSERT_TRUE(create_main_window(640, 480));
  }
};

TEST_F(Window, FullscreenChangesTheResolutionAndGivesItBackOnDeactivation) {
  backend.desktop = backend.current = DisplayMode{1024, 768};
  hardware_settings().touch_type = 0;  // a touch panel, no display fitting
  ASSERT_EQ(set_display_mode(1), 1);
  EXPECT_EQ(backend.current.width, 640);
  EXPECT_TRUE(backend.fullscreen);
  EXPECT_EQ(g_screen_geometry.width, 640);

  window_proc({platform::Msg::kDeactivate});
  EXPECT_EQ(backend.current.width, 1024) << "the user's resolution is back";
  EXPECT_TRUE(backend.minimised);

  window_proc({platform::Msg::kActivate});
  EXPECT_EQ(backend.current.width, 640) << "full-screen applied again";

  ASSERT_EQ(set_display_mode(0), 1);
  EXPECT_EQ(backend.current.width, 1024);
  EXPECT_FALSE(backend.fullscreen);
  EXPECT_EQ(backend.placed.w, 640);
  EXPECT_EQ(backend.placed.h, 480);
}

TEST_F(Window, RefusedResolutionFailsTheSwitch) {
  backend.desktop = backend.current = DisplayMode{1024, 768};
  backend.refuse_mode_change = true;
  hardware_settings().touch_type = 0;
  EXPECT_EQ(set_display_mode(1), 0);
  EXPECT_EQ(backend.current.width, 1024);
}

TEST_F(Window, ScaledSurfaceFillsATallDisplay) {
  backend.desktop = backend.current = DisplayMode{1280, 1024};
  hardware_settings().touch_type = 8;
  ASSERT_EQ(set_display_mode(1), 1);
  EXPECT_EQ(backend.current.width, 1280) << "no resolution change needed";
  EXPECT_EQ(g_screen_geometry.height, 1024);
  ASSERT_NE(screen_pixels(), nullptr);
  paint_window();
  EXPECT_EQ(backend.shown_w, 1280);
  EXPECT_EQ(backend.shown_h, 1024);
}

TEST_F(Window, ClosingTheWindowStopsTheEventLoop) {
  ASSERT_EQ(set_display_mode(0), 1);
  EXPECT_TRUE(is_event_loop_live());
  backend.push({platform::Msg::kDestroy});
  poll_input_events(1);
  EXPECT_FALSE(is_event_loop_live());
  EXPECT_TRUE(platform::quit_posted());
}

TEST_F(Window, ThreeTimersRunTheirJobsFromThePump) {
  ASSERT_EQ(set_display_mode(0), 1);
  // The Caps Lock key-down toggles the emulated flag through the window
  // procedure, as a real key would.
  EXPECT_EQ(peek_keyboard_flags(0, kKeyboardFlagsAddress), 0);
  backend.push({platform::Msg::kKeyDown, platform::vk::kCapital});
  poll_input_events(0);
  EXPECT_EQ(peek_keyboard_flags(0, kKeyboardFlagsAddress), 0x40);
  free_screen();
  clock.advance(1000);
  poll_input_events(0);  // no timers after the surface is freed: nothing to run, nothing to crash
  SUCCEED();
}

}  // namespace
