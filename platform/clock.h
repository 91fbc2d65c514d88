// The program's sense of time: a 32-bit millisecond tick (wraps after ~49 days,
// as the instrument's did), a high-resolution counter and sleeping.  Tests
// replace the clock with a fake one so that timers run without waiting.
#pragma once

#include <cstdint>

namespace platform {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual std::uint32_t tick_ms() = 0;
  // High-resolution counter and its frequency in counts per second
  // (0 when there is no such counter).
  virtual std::int64_t perf_counter() = 0;
  virtual std::int64_t perf_frequency() = 0;
  virtual void sleep_ms(std::uint32_t ms) = 0;
};

// The clock in use: the system clock unless a test set another.
Clock& clock();
// Installs a clock (nullptr restores the system clock).  Not owned.
void set_clock(Clock* c);

inline std::uint32_t tick_ms() { return clock().tick_ms(); }
inline void sleep_ms(std::uint32_t ms) { clock().sleep_ms(ms); }

// Milliseconds from `since` to `now`, correct across the 32-bit wrap.
inline std::uint32_t ticks_since(std::uint32_t since, std::uint32_t now) { return now - since; }

// A clock that only moves when told to; sleeping advances it.
class FakeClock : public Clock {
 public:
  std::uint32_t now = 0;
  std::uint32_t tick_ms() override { return now; }
  // Creeps forward by one count a read, so that busy-waits end.
  std::int64_t perf_counter() override { return static_cast<std::int64_t>(now) * 1000 + ++reads_; }
  std::int64_t perf_frequency() override { return 1000000; }
  void sleep_ms(std::uint32_t ms) override { now += ms; }
  void advance(std::uint32_t ms) { now += ms; }

 private:
  std::int64_t reads_ = 0;
};

}  // namespace platform
