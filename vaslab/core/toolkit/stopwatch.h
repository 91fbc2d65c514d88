// The study stopwatch: minutes and seconds counting up or down by whole
// seconds, up to ten alarm times that beep, drawn as four digits on the
// study screens.  The 250 ms window timer advances it by the real time that
// passed; the study modules drive it through the operations of its record.
#pragma once

#include <cstdint>

namespace vaslab {

constexpr int kStopwatchMax = 5999;  // 99:59
constexpr int kStopwatchAlarms = 10;

struct StopwatchAlarm {
  std::int16_t time = -1;  // seconds; -1 none
  std::uint8_t beeps = 0;
  std::uint8_t fired = 0;
};

struct Stopwatch {
  std::int16_t seconds = 0;
  // Seconds units, seconds tens, minute units, minute tens; each with its
  // changed flag, and the flag that the "Timer" label must be drawn.
  std::uint8_t digits[4] = {};
  std::uint8_t changed[4] = {};
  std::uint8_t label_changed = 0;
  bool running = false;
  bool counting_up = true;
  bool visible = false;
  bool end_reached = false;
  std::uint32_t last_second = 0;  // tick count of the last whole second
  int pending_beeps = 0;
  std::uint8_t offset = 0;        // display moved right by this many pixels
  StopwatchAlarm alarms[kStopwatchAlarms];

  // The operations, in their fixed order.
  void (*show)() = nullptr;
  void (*hide)() = nullptr;
  void (*start)() = nullptr;
  void (*stop)() = nullptr;
  void (*count_up)() = nullptr;
  void (*count_down)() = nullptr;
  void (*draw)() = nullptr;
  void (*set_alarm)(int slot, int time, int type) = nullptr;
  void (*clear_alarm)(int slot) = nullptr;
  void (*set_time)(int seconds) = nullptr;
  void (*set_offset)(int pixels) = nullptr;
};

// Resets everything, clears the digit strip and draws its fixed parts, and
// fills in the operations.
void start_stopwatch();
// Advances by the whole seconds elapsed while running (the remainder carries
// over), sounds one pending beep, draws when visible; returns the record.
Stopwatch& tick_stopwatch();

}  // namespace vaslab
