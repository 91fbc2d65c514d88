// A live study (capture mode) waits for its sources instead of looking at
// them without pause, yet takes whatever is already waiting at once.  The
// module is on a pseudo-terminal and the clock is the real one: the figures
// below are wide bounds on the number of passes, far from either way of
// getting it wrong (thousands of passes when it spins, one time-out per
// pass when it waits past bytes that are there).
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include "link_fixture.h"
#include "platform/clock.h"
#include "sim/pty.h"
#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/input/system_utils.h"
#include "vaslab/core/toolkit/main_window.h"

namespace vaslab {
namespace {

using Clock = std::chrono::steady_clock;

struct CaptureWait : LinkFixture {
  sim::Pty line;
  std::vector<ButtonRecord> table{kButtonTableEnd};

  void SetUp() override {
    LinkFixture::SetUp();
    platform::set_clock(nullptr);
    reset_event_state();
    HardwareSettings& hw = hardware_settings();
    hw.vascular_module_present = 1;
    hw.vascular_irq = 0;
    hw.vascular_port = 1;
    hw.touch_type = 2;
    hw.ir_remote_enabled = 0;
    ASSERT_TRUE(create_main_window(640, 480));
    // The repeat and stopwatch timers would end every wait within 250 ms;
    // without them only the sources and the longest wait do.
    platform::kill_all_timers();
    ASSERT_TRUE(line.open());
    platform::set_com_path(1, line.slave_path());
    ASSERT_EQ(open_module_link(), 0);
    set_button_mode_capture();
  }
  void TearDown() override {
    set_button_mode_repeat();
    set_module_source_descriptor(false, kNothingToWatch);
    LinkFixture::TearDown();
  }

  // Passes made in `ms` of real time.
  int passes_in(int ms) {
    int passes = 0;
    const auto end = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < end) {
      get_button_event(table.data());
      ++passes;
    }
    return passes;
  }
  // Real time that `count` passes take, each followed by one module byte.
  double seconds_for_bytes(int count, std::vector<int>& got) {
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
      get_button_event(table.data());
      got.push_back(receive_module_byte());
    }
    return std::chrono::duration<double>(Clock::now() - start).count();
  }
};

TEST_F(CaptureWait, WaitsWhileNothingComesEvenPastATimerNobodyTakes) {
  // A refresh slot left running by an earlier screen has run out and is
  // never taken here: it must not end every wait.
  start_tick_timer(1, 5, kTickPeriodic);
  ::usleep(20000);
  const int passes = passes_in(500);
  EXPECT_GE(passes, 1);
  EXPECT_LE(passes, 60) << "a live screen with nothing coming spins";
}

TEST_F(CaptureWait, TakesWhatIsWaitingAtOnce) {
  std::vector<std::uint8_t> frames;
  for (int i = 0; i < 40; ++i) frames.push_back(static_cast<std::uint8_t>(0x80 | (i & 0x7F)));
  ASSERT_EQ(::write(line.master(), frames.data(), frames.size()), static_cast<ssize_t>(frames.size()));
  std::vector<int> got;
  const double seconds = seconds_for_bytes(40, got);
  EXPECT_EQ(got, std::vector<int>(frames.begin(), frames.end()));
  // Waiting out the time-out once per byte would take two seconds.
  EXPECT_LT(seconds, 1.0);

  // A byte sent while a pass waits ends that pass.
  std::thread late([&] {
    ::usleep(30000);
    const std::uint8_t b = 0x55;
    ASSERT_EQ(::write(line.master(), &b, 1), 1);
  });
  int byte = -1;
  const auto start = Clock::now();
  while (byte < 0 && Clock::now() - start < std::chrono::seconds(5)) {
    get_button_event(table.data());
    const std::uint16_t b = receive_module_byte();
    if (b != 0xFFFF) byte = b;
  }
  late.join();
  EXPECT_EQ(byte, 0x55);
}

// The main menu while it connects the module waits the same way between its
// steps, and a module byte ends the wait.  Ten-millisecond looks would make
// some fifty passes in half a second.
TEST_F(CaptureWait, TheConnectingMenuWaitsForTheModuleToo) {
  set_button_mode_repeat();
  keep_passes_short(true);
  EXPECT_LE(passes_in(500), 25) << "the connecting menu looks without waiting";
  std::thread late([&] {
    ::usleep(30000);
    const std::uint8_t b = 0x05;
    ASSERT_EQ(::write(line.master(), &b, 1), 1);
  });
  int byte = -1;
  int passes = 0;
  for (const auto start = Clock::now(); byte < 0 && Clock::now() - start < std::chrono::seconds(5); ++passes) {
    get_button_event(table.data());
    const std::uint16_t b = receive_module_byte();
    if (b != 0xFFFF) byte = b;
  }
  late.join();
  keep_passes_short(false);
  EXPECT_EQ(byte, 0x05);
  EXPECT_LE(passes, 5) << "a spinning pass makes thousands";
}

// Module bytes from a source without a descriptor (a test's, a bench's
// feeder) cannot be waited for: each pass looks again at once.
TEST_F(CaptureWait, ASourceWithoutADescriptorIsNotWaitedFor) {
  set_module_source_descriptor(true, kCannotWatch);
  EXPECT_GT(passes_in(300), 30) << "waiting for a source that cannot wake the wait";
}

}  // namespace
}  // namespace vaslab
