// The one window of the program, its message pump and its timers.
//
// The program draws into its own off-screen surface; a backend only shows the
// finished pixels and delivers input.  Input arrives as window messages in the
// shapes the program's window procedure expects (virtual-key codes, client
// coordinates of the surface).  Window timers are due times checked by the
// pump on the program's one thread, so the program stays single-threaded.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

struct Rect {
  int x = 0, y = 0, w = 0, h = 0;
};

struct DisplayMode {
  int width = 0;
  int height = 0;
};

// Virtual-key codes of the keys the program reads.
namespace vk {
constexpr int kBack = 8, kTab = 9, kReturn = 13, kShift = 16, kControl = 17, kMenu = 18,
              kCapital = 20, kEscape = 27, kSpace = 32, kPrior = 33, kNext = 34, kEnd = 35,
              kHome = 36, kLeft = 37, kUp = 38, kRight = 39, kDown = 40, kInsert = 45,
              kDelete = 46, kF1 = 112, kF2 = 113, kF9 = 120, kF10 = 121;
}

enum class Msg {
  kDestroy,         // the window was closed from outside
  kActivate,        // activated; `click` tells a click activation
  kDeactivate,
  kPaint,
  kKeyDown,         // `key` virtual key; `alt` when Alt is held (system key)
  kKeyUp,
  kChar,            // `key` character code
  kMouseMove,       // x, y in surface pixels
  kLeftDown,
  kLeftUp,
  kCaptureChanged,
};

struct WindowMessage {
  Msg msg = Msg::kPaint;
  int key = 0;
  bool alt = false;
  bool ctrl = false;
  bool click = false;
  bool repeat = false;  // a key-down of the keyboard's own auto-repeat
  int x = 0, y = 0;
};

class WindowBackend {
 public:
  virtual ~WindowBackend() = default;
  virtual bool create(const std::string& title, int client_w, int client_h) = 0;
  virtual void destroy() = 0;
  virtual bool exists() const = 0;
  virtual void minimise() = 0;
  virtual void restore() = 0;
  // Borderless covering the display (true) or a captioned window (false).
  virtual void set_fullscreen_style(bool fullscreen) = 0;
  // Places the window's client area on the desktop.
  virtual void place(const Rect& r) = 0;
  virtual DisplayMode desktop_mode() = 0;
  virtual bool change_display_mode(const DisplayMode& m) = 0;
  virtual bool restore_display_mode() = 0;
  virtual Rect usable_bounds() = 0;
  // Shows the rectangle `dirty` of a surface of 32-bit 0x00RRGGBB pixels.
  virtual void present(const std::uint32_t* pixels, int width, int height, const Rect& dirty) = 0;
  // Takes the next waiting input, if any.
  virtual bool next_message(WindowMessage& out) = 0;
  // Sleeps until input is waiting or `timeout_ms` has passed.
  virtual void wait_message(std::uint32_t timeout_ms);
  // The same, and also ends when one of `fds` has something to read.
  virtual void wait_message_or(std::uint32_t timeout_ms, const std::vector<int>& fds);
  virtual bool caps_lock_on() = 0;
  virtual void beep() {}
  // The window's icon, 0x00RRGGBB pixels.
  virtual void set_icon(const std::uint32_t* /*pixels*/, int /*width*/, int /*height*/) {}
};

// A backend with no display: it keeps what was presented and delivers the
// messages a test queues.  Used by tests and by headless runs.
class NullBackend : public WindowBackend {
 public:
  bool create(const std::string& title, int w, int h) override;
  void destroy() override { exists_ = false; }
  bool exists() const override { return exists_; }
  void minimise() override { minimised = true; }
  void restore() override { minimised = false; }
  void set_fullscreen_style(bool fs) override { fullscreen = fs; }
  void place(const Rect& r) override { placed = r; }
  DisplayMode desktop_mode() override { return current; }
  bool change_display_mode(const DisplayMode& m) override;
  bool restore_display_mode() override;
  Rect usable_bounds() override { return work_area; }
  void present(const std::uint32_t* pixels, int width, int height, const Rect& dirty) override;
  bool next_message(WindowMessage& out) override;
  void wait_message(std::uint32_t timeout_ms) override;
  void wait_message_or(std::uint32_t timeout_ms, const std::vector<int>& fds) override;
  bool caps_lock_on() override { return caps_lock; }
  void beep() override { ++beeps; }

  void push(const WindowMessage& m) { queue.push_back(m); }

  std::string title;
  bool exists_ = false;
  bool minimised = false;
  bool fullscreen = false;
  bool caps_lock = false;
  bool refuse_mode_change = false;
  int beeps = 0;
  int presents = 0;
  Rect placed;
  DisplayMode desktop{640, 480};
  DisplayMode current{640, 480};
  Rect work_area{0, 0, 640, 480};
  int shown_w = 0, shown_h = 0;
  std::vector<std::uint32_t> shown;  // last presented surface
  std::deque<WindowMessage> queue;
};

// A real window through SDL2; nullptr when SDL's video cannot start.
std::unique_ptr<WindowBackend> make_sdl_backend();

// The backend in use (not owned).  Programs install the SDL one; tests a
// NullBackend.
void set_window_backend(WindowBackend* b);
WindowBackend* window_backend();

// The window procedure that the pump hands every message to.
void set_window_proc(std::function<void(const WindowMessage&)> proc);

// Window timers: `proc(id)` runs from the pump once the period has passed.
// A timer that fell behind runs once, not once per missed period.  A timer
// that does not wake ends no wait for input: it runs at the next pump.
void set_timer(int id, std::uint32_t period_ms, std::function<void(int)> proc, bool wakes = true);
void kill_timer(int id);
void kill_all_timers();

// One pass of the message pump: waiting messages to the window procedure
// (while `more`, asked before each message, says so; all of them without
// it), then each due timer.  Returns false once the quit message was read
// (after post_quit()).
bool pump_messages(const std::function<bool()>& more = {});
// Sleeps until input is waiting, the next waking window timer is due or
// `max_ms` has passed, whichever comes first.
void wait_for_input(std::uint32_t max_ms);
// The same, and also ends when one of `fds` has something to read: a source
// that sends no window messages can then be waited for instead of polled.
void wait_for_input(std::uint32_t max_ms, const std::vector<int>& fds);
// Waits up to `timeout_ms` for one of `fds` to have something to read.
void wait_readable(const std::vector<int>& fds, std::uint32_t timeout_ms);
void post_quit();
bool quit_posted();
// Forgets the quit message and every timer (program start, tests).
void reset_pump();

}  // namespace platform
