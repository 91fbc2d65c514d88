#include <gtest/gtest.h>

#include "platform/clock.h"
#include "platform/window.h"

namespace {

struct PumpFixture : ::testing::Test {
  platform::FakeClock clock;
  platform::NullBackend backend;
  std::vector<int> fired;
  std::vector<platform::Msg> seen;

  void SetUp() override {
    platform::set_clock(&clock);
    platform::reset_pump();
    platform::set_window_backend(&backend);
    platform::set_window_proc([this](const platform::WindowMessage& m) { seen.push_back(m.msg); });
  }
  void TearDown() override {
    platform::reset_pump();
    platform::set_window_proc(nullptr);
    platform::set_window_backend(nullptr);
    platform::set_clock(nullptr);
  }
  void arm(int id, std::uint32_t period) {
    platform::set_timer(id, period, [this](int i) { fired.push_back(i); });
  }
};

TEST_F(PumpFixture, TimersFireOnlyInsideThePumpAndMergeMissedPeriods) {
  arm(101, 40);
  arm(107, 250);
  clock.advance(39);
  platform::pump_messages();
  EXPECT_TRUE(fired.empty());
  clock.advance(1000);  // many periods pass with nobody pumping
  EXPECT_TRUE(fired.empty());
  platform::pump_messages();
  EXPECT_EQ(fired, (std::vector<int>{101, 107}));
  platform::pump_messages();
  EXPECT_EQ(fired.size(), 2u) << "a late timer runs once, not once per missed period";
  clock.advance(40);
  platform::pump_messages();
  EXPECT_EQ(fired, (std::vector<int>{101, 107, 101}));
  platform::kill_timer(101);
  clock.advance(1000);
  platform::pump_messages();
  EXPECT_EQ(fired, (std::vector<int>{101, 107, 101, 107}));
}

TEST_F(PumpFixture, MessagesGoToTheWindowProcedureUntilQuit) {
  backend.push({platform::Msg::kKeyDown, 13});
  backend.push({platform::Msg::kKeyUp, 13});
  EXPECT_TRUE(platform::pump_messages());
  EXPECT_EQ(seen, (std::vector<platform::Msg>{platform::Msg::kKeyDown, platform::Msg::kKeyUp}));
  platform::post_quit();
  backend.push({platform::Msg::kPaint});
  EXPECT_FALSE(platform::pump_messages());
  EXPECT_EQ(seen.size(), 2u);
}

TEST_F(PumpFixture, TimerProcedureMayRearmTimers) {
  platform::set_timer(1, 10, [&](int) {
    fired.push_back(1);
    platform::kill_timer(2);
    platform::set_timer(3, 10, [&](int i) { fired.push_back(i); });
  });
  arm(2, 10);
  clock.advance(10);
  platform::pump_messages();
  EXPECT_EQ(fired, (std::vector<int>{1}));
  clock.advance(10);
  platform::pump_messages();
  EXPECT_EQ(fired, (std::vector<int>{1, 1, 3}));
}

TEST(Clock, TickDifferenceSurvivesTheWrap) {
  EXPECT_EQ(platform::ticks_since(0xFFFFFFF0u, 0x10u), 0x20u);
}

}  // namespace
