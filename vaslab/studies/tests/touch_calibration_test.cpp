#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <thread>

#include "../../core/tests/screen_fixture.h"
#include "platform/paths.h"
#include "platform/serial.h"
#include "sim/peer_sim.h"
#include "testsupport/generator.h"
#include "testsupport/scripted_input.h"
#include "vaslab/core/input/touch_remote.h"
#include "vaslab/studies/service_modules.h"

namespace {

using namespace vaslab;

TEST(TouchCalibrationMath, FiguresDeadAxesAndReversedAxes) {
  TouchCalibration cal;
  // Averages left 200, right 3200, top 300, bottom 3500, each from three
  // readings that truncate to them.
  const std::int16_t x[8] = {199, 1700, 3200, 3201, 3199, 1700, 200, 201};
  const std::int16_t y[8] = {300, 301, 299, 1900, 3500, 3501, 3499, 1900};
  ASSERT_TRUE(compute_touch_calibration(x, y, cal));
  EXPECT_EQ(cal.x_scale, 2000);
  EXPECT_EQ(cal.y_scale, 1375);
  EXPECT_EQ(cal.x_offset, 100);
  EXPECT_EQ(cal.y_offset, 155);
  EXPECT_EQ(cal.extra, 3);

  const std::int16_t same[8] = {500, 500, 500, 500, 500, 500, 500, 500};
  EXPECT_FALSE(compute_touch_calibration(same, same, cal)) << "identical readings";

  // Columns 183 apart give 32786, which does not fit 16 bits; 184 apart fit.
  std::int16_t close_x[8] = {100, 0, 283, 283, 283, 0, 100, 100};
  EXPECT_FALSE(compute_touch_calibration(close_x, y, cal));
  close_x[2] = close_x[3] = close_x[4] = 284;
  ASSERT_TRUE(compute_touch_calibration(close_x, y, cal));
  EXPECT_EQ(cal.x_scale, 32608);
  // Rows 134 apart overflow too.
  const std::int16_t close_y[8] = {100, 100, 100, 0, 234, 234, 234, 0};
  EXPECT_FALSE(compute_touch_calibration(x, close_y, cal));

  // A panel mounted the other way round keeps its negative scale.
  const std::int16_t reversed[8] = {3200, 0, 200, 200, 200, 0, 3200, 3200};
  ASSERT_TRUE(compute_touch_calibration(reversed, y, cal));
  EXPECT_EQ(cal.x_scale, -2000);
  EXPECT_EQ(cal.x_offset, 3300);
}

// The screen driven end to end: the touch panel on a pseudo-terminal gets the
// touchsim program's packets, the buttons come from scripted input.
struct TouchCalibrationScreen : ScreenFixture {
  std::unique_ptr<testsupport::ScriptedInput> in;
  sim::Pty panel;
  int type = 0;

  void SetUp() override {
    ScreenFixture::SetUp();
    in = std::make_unique<testsupport::ScriptedInput>(clock);
    ASSERT_TRUE(panel.open());
    reset_touch_remote();
  }
  void TearDown() override {
    close_touch_link();
    in.reset();
    ScreenFixture::TearDown();
  }
  void open_panel(int panel_type) {
    type = panel_type;
    HardwareSettings& hw = hardware_settings();
    hw.touch_type = static_cast<std::uint8_t>(panel_type);
    hw.touch_irq = 0;
    hw.touch_port = 3;
    platform::set_com_path(3, panel.slave_path());
    ASSERT_EQ(write_hardware_settings(), 0);
    open_touch_link();
  }
  // Writes a touchsim script's packets and waits until they are on the
  // panel's side, so that the screen's next packet read finds them.
  void play_now(const std::string& script) {
    std::vector<sim::ScriptStep> steps;
    std::string error;
    ASSERT_TRUE(sim::parse_script(script, type, steps, error)) << error;
    for (const auto& s : steps) {
      if (s.bytes.empty()) continue;
      ASSERT_EQ(::write(panel.master(), s.bytes.data(), s.bytes.size()), ssize_t(s.bytes.size()));
      const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(5);
      for (int waiting = 0; std::chrono::steady_clock::now() < give_up;) {
        ::ioctl(panel.slave(), FIONREAD, &waiting);
        if (waiting >= int(s.bytes.size())) break;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
      }
    }
  }
  // Eight touches at raw readings, in target order, 600 ms apart.
  void touch_targets(const std::int16_t (&x)[8], const std::int16_t (&y)[8]) {
    for (int i = 0; i < 8; ++i) {
      const std::string press = "touch " + std::to_string(x[i]) + " " + std::to_string(y[i]);
      in->after(100).at_time([this, press] { play_now(press); });
      in->after(100).at_time([this] { play_now("release"); });
      in->after(400);
    }
  }
  std::string settings_bytes() const {
    std::ifstream f(platform::map_path(kHardwareSettingsFile), std::ios::binary);
    return {std::istreambuf_iterator<char>(f), {}};
  }
  std::string stored_calibration() {
    const std::string out = testsupport::run_generator("vaslab/studies/tests/read_calibration.py", root.path(),
                                                       "cal.txt", platform::map_path(kHardwareSettingsFile));
    const auto at = out.find("touch=");
    return at == std::string::npos ? "" : out.substr(at + 6, out.find('\n', at) - at - 6);
  }
};

TEST_F(TouchCalibrationScreen, EightTouchesOnEitherPanelAreSavedAndTakeEffectWhenReread) {
  const std::int16_t x0[8] = {100, 400, 700, 700, 700, 400, 100, 100};
  const std::int16_t y0[8] = {100, 100, 100, 320, 540, 540, 540, 320};
  const std::int16_t x1[8] = {200, 1700, 3200, 3200, 3200, 1700, 200, 200};
  const std::int16_t y1[8] = {300, 300, 300, 1900, 3500, 3500, 3500, 1900};
  struct Case {
    int panel;
    const std::int16_t (&x)[8];
    const std::int16_t (&y)[8];
    const char* stored;
    int corner_x, corner_y;  // where the bottom-right reading lands
  } cases[] = {{0, x0, y0, "80 10000 80 10000 3", 620, 460}, {1, x1, y1, "100 2000 155 1375 3", 620, 459}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.panel);
    open_panel(c.panel);
    touch_targets(c.x, c.y);
    in->after(300).tap(1);  // Save
    EXPECT_EQ(touch_calibration(), 0);
    EXPECT_TRUE(in->done());
    EXPECT_EQ(stored_calibration(), c.stored);

    // The run-time calibration changes only with the next settings read.
    read_hardware_settings();
    const TouchCalibration& cal = runtime_touch_calibration();
    EXPECT_EQ(cal.x_scale, hardware_settings().touch_x_scale);
    ASSERT_EQ(set_display_mode(1), 1);
    play_now("touch " + std::to_string(c.x[4]) + " " + std::to_string(c.y[4]));
    read_touch_packet();
    std::int16_t sx = 0, sy = 0;
    EXPECT_EQ(get_touch_position(&sx, &sy), 1);
    EXPECT_EQ(sx, c.corner_x);
    EXPECT_EQ(sy, c.corner_y);
    play_now("release");
    read_touch_packet();
    ASSERT_EQ(set_display_mode(0), 1);
    close_touch_link();
  }
}

TEST_F(TouchCalibrationScreen, DeadAxesRestartAndRetryAndAbortLeaveTheFileAlone) {
  open_panel(0);
  const std::string before = settings_bytes();
  const std::int16_t same[8] = {500, 500, 500, 500, 500, 500, 500, 500};
  const std::int16_t close_x[8] = {100, 150, 200, 200, 200, 150, 100, 100};  // 100 apart
  const std::int16_t x[8] = {100, 400, 700, 700, 700, 400, 100, 100};
  const std::int16_t y[8] = {100, 100, 100, 320, 540, 540, 540, 320};
  touch_targets(same, same);      // restarts at once
  touch_targets(close_x, y);      // restarts at once
  touch_targets(x, y);            // reaches the check screen
  in->after(300).tap(2);          // Retry
  in->after(300).tap(3);          // Abort on the first target
  EXPECT_EQ(touch_calibration(), 0);
  EXPECT_TRUE(in->done());
  EXPECT_EQ(settings_bytes(), before);

  // Abort on the check screen, and by Escape on a later target.
  touch_targets(x, y);
  in->after(300).key(platform::vk::kEscape);
  EXPECT_EQ(touch_calibration(), 0);
  in->after(100).at_time([this] { play_now("touch 100 100"); });
  in->after(100).at_time([this] { play_now("release"); });
  in->after(500).key('A');
  EXPECT_EQ(touch_calibration(), 0);
  EXPECT_EQ(settings_bytes(), before);
}

}  // namespace
