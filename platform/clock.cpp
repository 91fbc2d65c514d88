#include "platform/clock.h"

#include <time.h>

namespace platform {
namespace {

class SystemClock : public Clock {
 public:
  std::uint32_t tick_ms() override {
    timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
                                      static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u);
  }
  std::int64_t perf_counter() override {
    timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
  }
  std::int64_t perf_frequency() override { return 1000000000; }
  void sleep_ms(std::uint32_t ms) override {
    timespec ts{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (::nanosleep(&ts, &ts) != 0) {
    }
  }
};

SystemClock g_system_clock;
Clock* g_clock = &g_system_clock;

}  // namespace

Clock& clock() { return *g_clock; }
void set_clock(Clock* c) { g_clock = c ? c : &g_system_clock; }

}  // namespace platform
