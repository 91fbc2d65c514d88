#include "platform/event.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace platform {

struct Event {
  std::mutex mutex;
  std::condition_variable cv;
  bool signalled = false;
};

Event* event_create() { return new Event; }

void event_destroy(Event* e) { delete e; }

void event_set(Event* e) {
  {
    std::lock_guard<std::mutex> lock(e->mutex);
    e->signalled = true;
  }
  e->cv.notify_one();
}

void event_reset(Event* e) {
  std::lock_guard<std::mutex> lock(e->mutex);
  e->signalled = false;
}

bool event_wait(Event* e, std::uint32_t timeout_ms) {
  std::unique_lock<std::mutex> lock(e->mutex);
  auto ready = [e] { return e->signalled; };
  if (timeout_ms == kWaitForever) {
    e->cv.wait(lock, ready);
  } else if (!e->cv.wait_for(lock, std::chrono::milliseconds(timeout_ms), ready)) {
    return false;
  }
  e->signalled = false;
  return true;
}

}  // namespace platform
