// Scripted input for screen tests: a window backend without a display plus
// the touch panel, remote and front panel, driven by a script against the
// fake clock.  A test writes what a person would do, runs the screen loop,
// and reads back what the screen did.
//
//   ScriptedInput in(clock);           // installs itself as backend and inputs
//   in.tap(5).after(300).type("ab").key(vk::kReturn);
//   int r = run_some_screen();
//
// Each step happens at its script time; after(ms) moves the script time on.
// A press (of a button, key, touch, remote or front-panel key) waits, and the
// rest of the script with it, until the screen it comes to has settled, as
// an unhurried operator's would; after hurried() the next one does not.
// Time passes as the screen waits: each pump that finds nothing waiting
// moves the fake clock on by 1 ms, sleeping moves it on as asked, and a wait
// for input moves it on to the next step of the script at the latest.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>

#include "platform/clock.h"
#include "platform/window.h"
#include "vaslab/core/input/event_wait.h"

namespace testsupport {

class ScriptedInput : public platform::NullBackend, public vaslab::InputSources {
 public:
  explicit ScriptedInput(platform::FakeClock& clock);
  ~ScriptedInput() override;

  ScriptedInput& after(std::uint32_t ms);
  // The next press comes when written, settled or not: a hurried second tap.
  ScriptedInput& hurried();
  // The script time moves to the clock's time (for steps added while the
  // screen runs, from an at_time() action).
  ScriptedInput& from_now();
  // Mouse press at the centre of the button with this code in the table the
  // screen is waiting on when the step comes due; and the release.
  ScriptedInput& press(int button_code);
  ScriptedInput& release();
  // Press, 50 ms, release.
  ScriptedInput& tap(int button_code);
  // A hurried tap where the last press() was, on whatever is there now.
  ScriptedInput& tap_again();
  ScriptedInput& mouse_down(int x, int y);
  ScriptedInput& mouse_up(int x, int y);
  // A key pressed and released (with its character message for printable
  // keys and Enter, Backspace, Escape).
  ScriptedInput& key(int vk, bool ctrl = false, bool alt = false);
  // Characters typed one after the other (10 ms apart).
  ScriptedInput& type(const std::string& text);
  ScriptedInput& touch(int x, int y);
  ScriptedInput& lift();
  // One remote frame of a key number (0..31).
  ScriptedInput& remote(int key);
  ScriptedInput& panel_down(int value);
  ScriptedInput& panel_up();
  ScriptedInput& close_window();
  // Any action at its time.
  ScriptedInput& at_time(std::function<void()> action);
  // The script holds here, while the screen goes on with its passes, until
  // `ready()` (a peer got somewhere: a connection made, frames read), then
  // goes on as written from that moment.  Real time passes while it holds,
  // for the peers; one that never gets there in a minute ends the test with
  // an exception.
  ScriptedInput& hold_until(std::function<bool()> ready);

  // Each beep is also sounded by this backend (a real window's, to hear
  // what the screen refused), when set.
  platform::WindowBackend* speaker = nullptr;
  void beep() override {
    NullBackend::beep();
    if (speaker) speaker->beep();
  }

  // Nothing left in the script.
  bool done() const { return script_.empty() && queue.empty(); }

  // The backend side: also plays the script as time passes.
  bool next_message(platform::WindowMessage& out) override;
  // Waiting ends at the next step of the script, as it would at real input.
  void wait_message(std::uint32_t timeout_ms) override;

  // The inputs side.
  int touch_position(std::int16_t& x, std::int16_t& y) override;
  int remote_key() override;
  void push_back_remote_key(int key) override;
  int front_panel_key() override;
  // The workstation's own print spooler, one step a pass as in the program.
  void step_spooler() override;
  // The scripted touch panel, remote and front panel are always there.
  bool needs_polling() override { return true; }


 private:
  struct Step {
    std::uint32_t at;
    std::function<void()> action;
    std::function<bool()> gate;  // a hold_until() step instead
    bool paced = false;          // a press: waits for the screen to settle
  };
  ScriptedInput& add(std::function<void()> action);
  ScriptedInput& add_press(std::function<void()> action);
  void play_due();
  void send(platform::Msg msg, int key = 0, int x = 0, int y = 0, bool ctrl = false, bool alt = false);

  platform::FakeClock& clock_;
  std::uint32_t script_time_;
  std::deque<Step> script_;
  std::chrono::steady_clock::time_point held_since_{};
  bool touching_ = false;
  int touch_x_ = 0, touch_y_ = 0;
  std::deque<int> remote_frames_;
  int pushed_back_ = -1;
  int panel_ = -1;
  bool hurried_ = false;
  int pressed_x_ = 0, pressed_y_ = 0;
};

}  // namespace testsupport
