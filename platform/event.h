// Auto-reset events: one signal releases one wait, then the event is clear
// again.  A long task on one thread signals each step; another thread waits
// for the steps.  The event is opaque: callers hold an Event* only.
#pragma once

#include <cstdint>

namespace platform {

struct Event;

constexpr std::uint32_t kWaitForever = 0xFFFFFFFFu;

// A new event, not signalled.
Event* event_create();
void event_destroy(Event* e);
// Signals the event; it stays signalled until one wait consumes it.
void event_set(Event* e);
// Clears the event without waiting.
void event_reset(Event* e);
// Waits up to timeout_ms (kWaitForever: no limit) for a signal and consumes
// it.  True when signalled, false on time-out.
bool event_wait(Event* e, std::uint32_t timeout_ms);

}  // namespace platform
