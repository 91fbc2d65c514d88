#include "platform/window.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <map>

#include "platform/clock.h"

namespace platform {
namespace {

struct Timer {
  std::uint32_t period = 0;
  std::uint32_t due_from = 0;  // tick of the last run (or of setting)
  std::function<void(int)> proc;
  bool wakes = true;
};

WindowBackend* g_backend = nullptr;
std::function<void(const WindowMessage&)> g_proc;
std::map<int, Timer> g_timers;
bool g_quit = false;

}  // namespace

bool NullBackend::create(const std::string& t, int w, int h) {
  title = t;
  exists_ = true;
  placed = Rect{0, 0, w, h};
  return true;
}

bool NullBackend::change_display_mode(const DisplayMode& m) {
  if (refuse_mode_change) return false;
  current = m;
  return true;
}

bool NullBackend::restore_display_mode() {
  current = desktop;
  return true;
}

void NullBackend::present(const std::uint32_t* pixels, int width, int height, const Rect&) {
  ++presents;
  shown_w = width;
  shown_h = height;
  shown.assign(pixels, pixels + static_cast<size_t>(width) * static_cast<size_t>(height));
}

void WindowBackend::wait_message(std::uint32_t timeout_ms) { sleep_ms(timeout_ms); }

void WindowBackend::wait_message_or(std::uint32_t timeout_ms, const std::vector<int>& fds) {
  if (fds.empty()) return wait_message(timeout_ms);
  wait_readable(fds, timeout_ms);
}

void NullBackend::wait_message(std::uint32_t timeout_ms) {
  if (queue.empty()) sleep_ms(timeout_ms);
}

void NullBackend::wait_message_or(std::uint32_t timeout_ms, const std::vector<int>& fds) {
  if (queue.empty()) wait_readable(fds, timeout_ms);
}

bool NullBackend::next_message(WindowMessage& out) {
  if (queue.empty()) return false;
  out = queue.front();
  queue.pop_front();
  return true;
}

void set_window_backend(WindowBackend* b) { g_backend = b; }
WindowBackend* window_backend() { return g_backend; }
void set_window_proc(std::function<void(const WindowMessage&)> proc) { g_proc = std::move(proc); }

void set_timer(int id, std::uint32_t period_ms, std::function<void(int)> proc, bool wakes) {
  g_timers[id] = Timer{period_ms, tick_ms(), std::move(proc), wakes};
}

void kill_timer(int id) { g_timers.erase(id); }
void kill_all_timers() { g_timers.clear(); }

bool pump_messages(const std::function<bool()>& more) {
  if (g_quit) return false;
  if (g_backend) {
    WindowMessage m;
    while (!g_quit && (!more || more()) && g_backend->next_message(m)) {
      if (g_proc) g_proc(m);
    }
  }
  // Timers are looked up again for each run: a timer procedure may kill or
  // set timers (a display-mode change rebuilds all three).
  const std::uint32_t now = tick_ms();
  std::vector<int> due;
  for (const auto& [id, t] : g_timers)
    if (ticks_since(t.due_from, now) >= t.period) due.push_back(id);
  for (int id : due) {
    auto it = g_timers.find(id);
    if (it == g_timers.end()) continue;
    it->second.due_from = now;
    auto proc = it->second.proc;
    if (proc) proc(id);
  }
  return !g_quit;
}

namespace {

// `max_ms`, or less when a waking timer is due sooner.
std::uint32_t until_next_timer(std::uint32_t max_ms) {
  std::uint32_t ms = max_ms;
  const std::uint32_t now = tick_ms();
  for (const auto& [id, t] : g_timers) {
    if (!t.wakes) continue;
    const std::uint32_t elapsed = ticks_since(t.due_from, now);
    ms = std::min(ms, elapsed >= t.period ? 0u : t.period - elapsed);
  }
  return ms;
}

}  // namespace

void wait_for_input(std::uint32_t max_ms) {
  const std::uint32_t ms = until_next_timer(max_ms);
  if (ms == 0) return;
  if (g_backend)
    g_backend->wait_message(ms);
  else
    sleep_ms(ms);
}

void wait_for_input(std::uint32_t max_ms, const std::vector<int>& fds) {
  const std::uint32_t ms = until_next_timer(max_ms);
  if (ms == 0) return;
  if (g_backend)
    g_backend->wait_message_or(ms, fds);
  else
    wait_readable(fds, ms);
}

void wait_readable(const std::vector<int>& fds, std::uint32_t timeout_ms) {
  if (fds.empty()) return sleep_ms(timeout_ms);
  std::vector<pollfd> polled;
  for (int fd : fds) polled.push_back(pollfd{fd, POLLIN, 0});
  // The time-out is not restarted after a signal: the caller looks at its
  // sources and deadlines again anyway.
  ::poll(polled.data(), polled.size(), static_cast<int>(std::min<std::uint32_t>(timeout_ms, 0x7FFFFFFF)));
}

void post_quit() { g_quit = true; }
bool quit_posted() { return g_quit; }

void reset_pump() {
  g_quit = false;
  g_timers.clear();
}

}  // namespace platform
