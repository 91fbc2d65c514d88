#include "testsupport/scripted_input.h"

#include <unistd.h>

#include <algorithm>
#include <stdexcept>

#include "vaslab/reports/spooler.h"

namespace testsupport {

ScriptedInput::ScriptedInput(platform::FakeClock& clock) : clock_(clock), script_time_(clock.now) {
  platform::set_clock(&clock_);
  platform::set_window_backend(this);
  vaslab::set_input_sources(this);
  exists_ = true;
}

ScriptedInput::~ScriptedInput() {
  vaslab::set_input_sources(nullptr);
  if (platform::window_backend() == this) platform::set_window_backend(nullptr);
}

ScriptedInput& ScriptedInput::add(std::function<void()> action) {
  script_.push_back(Step{script_time_, std::move(action), {}});
  return *this;
}

ScriptedInput& ScriptedInput::add_press(std::function<void()> action) {
  add(std::move(action));
  script_.back().paced = !hurried_;
  hurried_ = false;
  return *this;
}

ScriptedInput& ScriptedInput::hurried() {
  hurried_ = true;
  return *this;
}

ScriptedInput& ScriptedInput::after(std::uint32_t ms) {
  script_time_ += ms;
  return *this;
}

ScriptedInput& ScriptedInput::from_now() {
  script_time_ = clock_.now;
  return *this;
}

ScriptedInput& ScriptedInput::at_time(std::function<void()> action) { return add(std::move(action)); }

ScriptedInput& ScriptedInput::hold_until(std::function<bool()> ready) {
  script_.push_back(Step{script_time_, {}, std::move(ready)});
  return *this;
}

void ScriptedInput::send(platform::Msg msg, int key, int x, int y, bool ctrl, bool alt) {
  platform::WindowMessage m;
  m.msg = msg;
  m.key = key;
  m.x = x;
  m.y = y;
  m.ctrl = ctrl;
  m.alt = alt;
  push(m);
}

ScriptedInput& ScriptedInput::press(int button_code) {
  return add_press([this, button_code] {
    const vaslab::ButtonRecord* t = vaslab::current_button_table();
    // A table may hold one code twice, hidden in one layout and shown in
    // another (the message box's OK): the shown one is the one to touch.
    const vaslab::ButtonRecord* found = nullptr;
    for (int i = 0; t && !vaslab::is_table_end(t[i]); ++i) {
      if (t[i].button_code != button_code) continue;
      if (!found || (found->state == vaslab::kButtonHidden && t[i].state != vaslab::kButtonHidden)) found = &t[i];
    }
    if (found) {
      pressed_x_ = (found->x1 + found->x2) / 2;
      pressed_y_ = (found->y1 + found->y2) / 2;
      send(platform::Msg::kLeftDown, 0, pressed_x_, pressed_y_);
      return;
    }
    throw std::runtime_error("no button " + std::to_string(button_code) + " in the current table");
  });
}

ScriptedInput& ScriptedInput::release() {
  return add([this] { send(platform::Msg::kLeftUp); });
}

ScriptedInput& ScriptedInput::tap(int button_code) { return press(button_code).after(50).release(); }

ScriptedInput& ScriptedInput::tap_again() {
  hurried().add_press([this] { send(platform::Msg::kLeftDown, 0, pressed_x_, pressed_y_); });
  return after(50).add([this] { send(platform::Msg::kLeftUp, 0, pressed_x_, pressed_y_); });
}

ScriptedInput& ScriptedInput::mouse_down(int x, int y) {
  return add_press([this, x, y] { send(platform::Msg::kLeftDown, 0, x, y); });
}

ScriptedInput& ScriptedInput::mouse_up(int x, int y) {
  return add([this, x, y] { send(platform::Msg::kLeftUp, 0, x, y); });
}

ScriptedInput& ScriptedInput::key(int vk, bool ctrl, bool alt) {
  return add_press([this, vk, ctrl, alt] {
    send(platform::Msg::kKeyDown, vk, 0, 0, ctrl, alt);
    const bool printable = vk == platform::vk::kSpace || (vk >= '0' && vk <= '9') || (vk >= 'A' && vk <= 'Z');
    if (!alt && !ctrl && printable) send(platform::Msg::kChar, vk >= 'A' && vk <= 'Z' ? vk + 32 : vk);
    if (vk == platform::vk::kReturn || vk == platform::vk::kBack || vk == platform::vk::kEscape)
      send(platform::Msg::kChar, vk);
    send(platform::Msg::kKeyUp, vk, 0, 0, ctrl, alt);
  });
}

ScriptedInput& ScriptedInput::type(const std::string& text) {
  for (char c : text) {
    add([this, c] { send(platform::Msg::kChar, static_cast<unsigned char>(c)); });
    after(10);
  }
  return *this;
}

ScriptedInput& ScriptedInput::touch(int x, int y) {
  return add_press([this, x, y] {
    touching_ = true;
    touch_x_ = x;
    touch_y_ = y;
  });
}

ScriptedInput& ScriptedInput::lift() {
  return add([this] { touching_ = false; });
}

ScriptedInput& ScriptedInput::remote(int key) {
  return add_press([this, key] { remote_frames_.push_back(key); });
}

ScriptedInput& ScriptedInput::panel_down(int value) {
  return add_press([this, value] { panel_ = value; });
}

ScriptedInput& ScriptedInput::panel_up() {
  return add([this] { panel_ = -1; });
}

ScriptedInput& ScriptedInput::close_window() {
  return add([this] { send(platform::Msg::kDestroy); });
}

void ScriptedInput::play_due() {
  while (!script_.empty() && static_cast<std::int32_t>(clock_.now - script_.front().at) >= 0) {
    Step& front = script_.front();
    if (front.gate) {
      if (held_since_ == std::chrono::steady_clock::time_point{}) held_since_ = std::chrono::steady_clock::now();
      if (!front.gate()) {
        if (std::chrono::steady_clock::now() - held_since_ > std::chrono::minutes(1))
          throw std::runtime_error("the script held in vain for a minute");
        ::usleep(1000);
        return;
      }
      held_since_ = {};
      // What follows keeps its spacing, from now.
      const std::uint32_t late = clock_.now - front.at;
      script_.pop_front();
      for (Step& s : script_) s.at += late;
      script_time_ += late;
      continue;
    }
    if (front.paced) {
      if (const std::uint32_t settling = vaslab::press_settling_ms()) {
        for (Step& s : script_) s.at += settling;
        script_time_ += settling;
        return;
      }
    }
    auto action = std::move(script_.front().action);
    script_.pop_front();
    action();
  }
}

bool ScriptedInput::next_message(platform::WindowMessage& out) {
  play_due();
  if (NullBackend::next_message(out)) return true;
  clock_.advance(1);
  return false;
}

void ScriptedInput::wait_message(std::uint32_t timeout_ms) {
  if (!queue.empty()) return;
  std::uint32_t ms = timeout_ms;
  if (!script_.empty()) {
    const std::int32_t until = static_cast<std::int32_t>(script_.front().at - clock_.now);
    ms = until <= 0 ? 0 : std::min<std::uint32_t>(ms, static_cast<std::uint32_t>(until));
  }
  clock_.advance(ms);
}

int ScriptedInput::touch_position(std::int16_t& x, std::int16_t& y) {
  x = static_cast<std::int16_t>(touching_ ? touch_x_ : 0);
  y = static_cast<std::int16_t>(touching_ ? touch_y_ : 0);
  return touching_ ? 1 : 0;
}

int ScriptedInput::remote_key() {
  if (pushed_back_ >= 0) {
    const int k = pushed_back_;
    pushed_back_ = -1;
    return k;
  }
  if (remote_frames_.empty()) return -1;
  const int k = remote_frames_.front();
  remote_frames_.pop_front();
  return k;
}

void ScriptedInput::push_back_remote_key(int key) { pushed_back_ = key; }

int ScriptedInput::front_panel_key() { return panel_; }

void ScriptedInput::step_spooler() { vaslab::step_print_spooler(); }

}  // namespace testsupport
