// Waiting for something another thread does (a simulator serving a
// pseudo-terminal, a spawned program): the condition is looked at every few
// milliseconds, up to a bound that only a hung peer reaches.  A loaded
// machine then makes a test slower, never wrong.
#pragma once

#include <unistd.h>

#include <chrono>

namespace testsupport {

// Whether `done()` came true within the bound.
template <typename Done>
bool wait_until(Done done, std::chrono::milliseconds bound = std::chrono::seconds(30)) {
  const auto end = std::chrono::steady_clock::now() + bound;
  for (;;) {
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    ::usleep(5 * 1000);
  }
}

}  // namespace testsupport
