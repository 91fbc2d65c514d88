#include "vaslab/core/toolkit/stopwatch.h"

#include <gtest/gtest.h>

#include "core_fixture.h"

namespace vaslab {
namespace {

struct StopwatchTest : CoreFixture {
  Stopwatch* sw = nullptr;
  void SetUp() override {
    CoreFixture::SetUp();
    clock.now = 100000;
    start_stopwatch();
    sw = &tick_stopwatch();
  }
  // Runs the 250 ms timer for `ms`, letting the event wait clear the beep
  // latch between ticks.
  void run(int ms) {
    for (int t = 0; t < ms; t += 250) {
      clock.advance(250);
      tick_stopwatch();
      clear_beep_latch();
    }
  }
  std::string shown() const {
    return {char('0' + sw->digits[3]), char('0' + sw->digits[2]), ':', char('0' + sw->digits[1]),
            char('0' + sw->digits[0])};
  }
};

TEST_F(StopwatchTest, CountsUpAndStopsAtTheEnd) {
  sw->set_time(5998);
  sw->start();
  run(2000);
  EXPECT_EQ(sw->seconds, 5999);
  run(3000);
  EXPECT_EQ(sw->seconds, 5999);
  EXPECT_EQ(shown(), "99:59");
}

TEST_F(StopwatchTest, CountsDownToZeroAndBeepsTheAlarmOneASecond) {
  sw->count_down();
  sw->set_time(3);
  sw->set_alarm(0, 0, 1);
  sw->start();
  run(3250);
  EXPECT_EQ(sw->seconds, 0);
  EXPECT_EQ(backend.beeps, 1);  // the first at zero
  run(500);
  EXPECT_EQ(backend.beeps, 1);  // not within the same second
  run(500);
  EXPECT_EQ(backend.beeps, 2);
  run(5000);
  EXPECT_EQ(backend.beeps, 2);
  EXPECT_EQ(sw->seconds, 0);
}

TEST_F(StopwatchTest, AlarmsAtOneSecondTakeTheLargestBeepCount) {
  sw->set_alarm(0, 2, 0);
  sw->set_alarm(1, 2, 2);
  sw->start();
  run(10000);
  EXPECT_EQ(backend.beeps, 3);
}

TEST_F(StopwatchTest, OtherAlarmTypesBeepFiveTimesAndClearedAlarmsStaySilent) {
  sw->set_alarm(3, 1, 9);
  sw->set_alarm(4, 2, 0);
  sw->clear_alarm(4);
  sw->start();
  run(10000);
  EXPECT_EQ(backend.beeps, 5);
}

TEST_F(StopwatchTest, BadAlarmSlotOrTimeIsIgnored) {
  sw->set_alarm(10, 1, 0);
  sw->set_alarm(0, 6000, 0);
  sw->set_alarm(-1, 1, 0);
  for (const auto& a : sw->alarms) EXPECT_EQ(a.time, -1);
  sw->start();
  run(3000);
  EXPECT_EQ(backend.beeps, 0);
}

TEST_F(StopwatchTest, SetTimeShowsMinutesAndSeconds) {
  sw->set_time(125);
  EXPECT_EQ(shown(), "02:05");
  EXPECT_FALSE(sw->running);
}

TEST_F(StopwatchTest, AStalledTimerCatchesUpAndCarriesTheRemainder) {
  sw->start();
  clock.advance(2500);
  tick_stopwatch();
  EXPECT_EQ(sw->seconds, 2);
  clock.advance(500);
  tick_stopwatch();
  EXPECT_EQ(sw->seconds, 2);  // exactly 3 s is not past the third second yet
  clock.advance(1);
  tick_stopwatch();
  EXPECT_EQ(sw->seconds, 3);
}

TEST_F(StopwatchTest, StopHoldsTheCountAndSetTimeRestartsARunningWatch) {
  sw->start();
  run(2000);
  sw->stop();
  const int held = sw->seconds;
  run(3000);
  EXPECT_EQ(sw->seconds, held);
  sw->start();
  sw->set_time(10);
  EXPECT_TRUE(sw->running);
  run(1250);
  EXPECT_EQ(sw->seconds, 11);
}

}  // namespace
}  // namespace vaslab
