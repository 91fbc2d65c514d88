#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "core_fixture.h"
#include "platform/paths.h"

namespace {

using namespace vaslab;

using SystemUtils = CoreFixture;

TEST_F(SystemUtils, OneShotTimerReportsAtItsPeriodAndForeverAfter) {
  start_tick_timer(2, 200, kTickOneShot);
  int first = -1;
  for (int t = 0; t <= 300; t += 10) {
    if (tick_timer_expired(2) && first < 0) first = t;
    clock.advance(10);
  }
  EXPECT_EQ(first, 200);
  EXPECT_EQ(tick_timer_expired(2), 1) << "switched off: reports expired";
}

TEST_F(SystemUtils, PeriodicTimerCatchesUpOnePeriodAtATime) {
  start_tick_timer(1, 500, kTickPeriodic);
  clock.advance(1200);
  EXPECT_EQ(tick_timer_expired(1), 1);  // start 0 -> 500
  EXPECT_EQ(tick_timer_expired(1), 1);  // 500 -> 1000
  EXPECT_EQ(tick_timer_expired(1), 0);  // 1000 + 500 > 1200
  clock.advance(300);
  EXPECT_EQ(tick_timer_expired(1), 1);
}

TEST_F(SystemUtils, TimerAcrossTheTickWrap) {
  clock.now = 0xFFFFFF00u;
  start_tick_timer(0, 0x200, kTickOneShot);
  clock.advance(0x100);  // wraps to 0
  EXPECT_EQ(tick_timer_expired(0), 0) << "a wrap is not a huge elapsed time";
  clock.advance(0x100);
  EXPECT_EQ(tick_timer_expired(0), 1);
}

TEST_F(SystemUtils, SlotsOutOfRangeOffOrAfterCloseReportExpired) {
  start_tick_timer(-1, 1000, kTickPeriodic);  // ignored, never written
  start_tick_timer(5, 1000, kTickPeriodic);
  EXPECT_EQ(tick_timer_expired(-1), 1);
  EXPECT_EQ(tick_timer_expired(5), 1);
  EXPECT_EQ(tick_timer_expired(4), 1) << "never armed";
  start_tick_timer(4, 1000, kTickPeriodic);
  EXPECT_EQ(tick_timer_expired(4), 0);
  stop_event_loop();
  EXPECT_EQ(tick_timer_expired(4), 1);
}

TEST_F(SystemUtils, SlotThreePumpsTheWindowEvenWhenNotDue) {
  ASSERT_TRUE(create_main_window(640, 480));
  start_tick_timer(3, 500, kTickPeriodic);
  backend.push({platform::Msg::kPaint});
  EXPECT_EQ(tick_timer_expired(3), 0);
  EXPECT_TRUE(backend.queue.empty());
  backend.push({platform::Msg::kDestroy});
  EXPECT_EQ(tick_timer_expired(3), 1) << "the close arrives during the pump";
}

TEST_F(SystemUtils, EmulatedBiosWords) {
  poke_comm_area_word(0, kStepSlot, 0x1234);
  EXPECT_EQ(peek_comm_area_word(0, kStepSlot), 0x1234);
  EXPECT_EQ(peek_comm_area_word(0, 1263), 0xFFFF);
  EXPECT_EQ(peek_comm_area_word(1, kStepSlot), 0xFFFF);
  poke_comm_area_word(0, 1000, 7);
  EXPECT_EQ(peek_comm_area_word(0, kStepSlot), 0x1234);
  EXPECT_EQ(peek_keyboard_flags(0, 1048), 0);

  backend.caps_lock = true;
  EXPECT_EQ(read_caps_lock(), 1);
  EXPECT_EQ(peek_keyboard_flags(0, kKeyboardFlagsAddress), 0x40);
  toggle_caps_lock();
  EXPECT_EQ(peek_keyboard_flags(0, kKeyboardFlagsAddress), 0);
  poke_keyboard_flags(0, kKeyboardFlagsAddress, 0);  // already off: no key press
  EXPECT_EQ(peek_keyboard_flags(0, kKeyboardFlagsAddress), 0);
}

TEST_F(SystemUtils, FindFiltersByAttributesAndKeepsTheFullName) {
  root.write("C:\\STUDIES\\00000001.sty", "x");
  root.write("C:\\STUDIES\\a rather long name.txt", "x");
  platform::make_dirs(platform::map_path("C:\\STUDIES\\") + "DIAGS");
  FileFind f;
  ASSERT_EQ(find_first_file("C:\\STUDIES\\*.*", f, platform::kAttrDirectory), 0);
  EXPECT_STREQ(f.name, "DIAGS");
  EXPECT_EQ(find_next_file(f), 1) << "only folders, never . or ..";
  find_close(f);

  std::vector<std::string> names;
  for (int r = find_first_file("C:\\STUDIES\\*.*", f, 0); r == 0; r = find_next_file(f))
    names.push_back(f.data.name);
  EXPECT_EQ(names, (std::vector<std::string>{"00000001.sty", "DIAGS", "a rather long name.txt"}));
  EXPECT_STREQ(f.name, "a rather lon") << "the short name is cut to 12 characters";
  find_close(f);
  EXPECT_EQ(find_next_file(f), 1);
  EXPECT_EQ(find_first_file("C:\\NONE\\*.*", f, 0), 1);
}

TEST_F(SystemUtils, DateTextAtAFixedTimeAndZone) {
  ::setenv("TZ", "UTC", 1);
  ::tzset();
  char buf[22];
  format_date_time(0, buf);
  EXPECT_STREQ(buf, "01/01/1970 12:00 AM");
  format_date_time(1765314000, buf);  // 2025-12-09 21:00 UTC
  EXPECT_STREQ(buf, "12/09/2025 09:00 PM");
  ::setenv("TZ", "America/New_York", 1);
  ::tzset();
  format_date_time(1765314000, buf);
  EXPECT_STREQ(buf, "12/09/2025 04:00 PM");
  ::unsetenv("TZ");
  ::tzset();
}

TEST_F(SystemUtils, DelayWaitsOnTheCounterAndNegativeReturnsAtOnce) {
  const auto before = clock.perf_counter();
  delay_ms(-5);
  EXPECT_LT(clock.perf_counter() - before, 5);
  delay_ms(2);
  EXPECT_GE(clock.perf_counter() - before, 2000);
}

TEST_F(SystemUtils, BeepOnceIsLatchedUntilCleared) {
  beep_once();
  beep_once();
  EXPECT_EQ(backend.beeps, 1);
  clear_beep_latch();
  beep_once();
  EXPECT_EQ(backend.beeps, 2);
}

void write_script(const std::string& win_path, const std::string& body) {
  const std::string p = platform::map_path_create_dirs(win_path);
  std::ofstream(p) << "#!/bin/sh\n" << body << "\n";
  ::chmod(p.c_str(), 0755);
}

TEST_F(SystemUtils, LauncherReturnsTheOutsideProgramsStatus) {
  ASSERT_TRUE(create_main_window(640, 480));
  write_script("C:\\PROGRAMS\\UCONFIG\\UCONFIG", "exit 7");
  write_script("A:\\Z7ERIVA", "[ \"$1\" = 'A:\\Z7ERIVA' ] && exit 5; exit 1");
  EXPECT_EQ(run_menu_module(2), 7);
  EXPECT_FALSE(backend.minimised) << "restored after the program";
  EXPECT_EQ(run_menu_module(9), 5) << "started with its own path as argument";
  EXPECT_EQ(run_menu_module(3), 0);
  EXPECT_EQ(run_menu_module(99), 0);
}

}  // namespace
