#include "vaslab/studies/service_modules.h"

#include <cstdint>
#include <limits>

#include "vaslab/core/buttons.h"
#include "vaslab/core/event_wait.h"
#include "vaslab/core/message_box.h"
#include "vaslab/core/screen.h"
#include "vaslab/core/system_utils.h"
#include "vaslab/core/touch_remote.h"

namespace vaslab {

// --- Touch calibration -----------------------------------------------------------

const TouchTarget kTouchTargetTable[kTouchTargets] = {{20, 20},   {320, 20}, {619, 20}, {619, 240},
                                                      {619, 459}, {320, 459}, {20, 459}, {20, 240}};

namespace {

constexpr int kTouchSave = 1, kTouchRetry = 2, kTouchAbort = 3;
constexpr int kTouchKeyA = 97, kTouchKeyS = 115, kTouchKeyR = 114;
constexpr int kTouchPaper = kColorWhite;
constexpr int kTouchInk = kColorBlack;

// The mean of three readings, truncating as the rest of the arithmetic does.
std::int32_t mean3(const std::int16_t* v, int a, int b, int c) {
  return (std::int32_t{v[a]} + v[b] + v[c]) / 3;
}

// A scale that fits 16 bits and is not 0; 0 otherwise.
std::int16_t axis_scale(std::int32_t span_units, std::int32_t difference) {
  if (difference == 0) return 0;
  const std::int32_t scale = span_units / difference;
  if (scale < std::numeric_limits<std::int16_t>::min() || scale > std::numeric_limits<std::int16_t>::max()) return 0;
  return static_cast<std::int16_t>(scale);
}

void draw_target(const TouchTarget& t, int color) {
  g_draw.draw_color = color;
  draw_circle(t.screen_x, t.screen_y, 20);
  draw_circle(t.screen_x, t.screen_y, 1);
}

void start_touch_screen(ButtonRecord* table) {
  set_colors(kTouchInk << 8 | kTouchPaper);
  clear_screen();
  draw_buttons(table);
}

// Waits for one touch: the pressed flag seen set, then back at 0.  False
// when Abort was pressed.
bool wait_touch(ButtonRecord* table) {
  bool seen_pressed = false;
  for (;;) {
    if (get_button_event(table) == kTouchAbort) {
      wait_button_release(table);
      return false;
    }
    if (touch_pressed())
      seen_pressed = true;
    else if (seen_pressed)
      return true;
  }
}

// One pass over the eight targets; false on Abort.
bool take_readings(std::int16_t raw_x[kTouchTargets], std::int16_t raw_y[kTouchTargets]) {
  ButtonRecord table[] = {
      make_button(260, 190, 380, 290, "Abort", kTouchAbort, kTouchKeyA, 17),
      make_button(410, 190, 530, 290, "Abort", kTouchAbort, kEscapeKeyCode, 17, kButtonHidden),
      kButtonTableEnd,
  };
  start_touch_screen(table);
  g_draw.draw_color = kTouchInk;
  set_text_size(0, 0, 1);
  set_text_justify(kJustifyLeft, kJustifyTop);
  draw_text(200, 400, "Touch the center of the circle");
  for (int i = 0; i < kTouchTargets; ++i) {
    draw_target(kTouchTargetTable[i], kTouchInk);
    if (!wait_touch(table)) return false;
    get_touch_raw_position(&raw_x[i], &raw_y[i]);
    draw_target(kTouchTargetTable[i], kTouchPaper);
    wait_button_release(table);
    delay_ms(300);
  }
  return true;
}

// The check screen: each target with a cross where its reading now lands.
int check_calibration(const std::int16_t raw_x[kTouchTargets], const std::int16_t raw_y[kTouchTargets],
                      const TouchCalibration& cal) {
  ButtonRecord table[] = {
      make_button(110, 140, 230, 340, "Save", kTouchSave, kTouchKeyS, 13),
      make_button(260, 140, 380, 340, "Retry", kTouchRetry, kTouchKeyR, 9),
      make_button(410, 140, 530, 340, "Abort", kTouchAbort, kTouchKeyA, 17),
      make_button(410, 350, 530, 360, "Abort", kTouchAbort, kEscapeKeyCode, 17, kButtonHidden),
      kButtonTableEnd,
  };
  start_touch_screen(table);
  for (int i = 0; i < kTouchTargets; ++i) {
    draw_target(kTouchTargetTable[i], kTouchInk);
    const std::int32_t x = (std::int32_t{raw_x[i]} - cal.x_offset) * cal.x_scale / 10000;
    const std::int32_t y = (std::int32_t{raw_y[i]} - cal.y_offset) * cal.y_scale / 10000;
    draw_line(x - 10, y, x + 10, y);
    draw_line(x, y - 10, x, y + 10);
  }
  for (;;) {
    const int event = get_button_event(table);
    if (event == kTouchSave || event == kTouchRetry || event == kTouchAbort) {
      wait_button_release(table);
      return event;
    }
  }
}

}  // namespace

bool compute_touch_calibration(const std::int16_t raw_x[kTouchTargets], const std::int16_t raw_y[kTouchTargets],
                               TouchCalibration& out) {
  const std::int32_t left = mean3(raw_x, 0, 7, 6), right = mean3(raw_x, 2, 3, 4);
  const std::int32_t top = mean3(raw_y, 0, 1, 2), bottom = mean3(raw_y, 6, 5, 4);
  const std::int16_t xs = axis_scale(6000000, right - left);
  const std::int16_t ys = axis_scale(4400000, bottom - top);
  if (xs == 0 || ys == 0) return false;
  out.x_scale = xs;
  out.y_scale = ys;
  out.x_offset = static_cast<std::int16_t>(left - 200000 / xs);
  out.y_offset = static_cast<std::int16_t>(top - 200000 / ys);
  out.extra = 3;
  return true;
}

int touch_calibration() {
  for (;;) {
    std::int16_t raw_x[kTouchTargets] = {}, raw_y[kTouchTargets] = {};
    if (!take_readings(raw_x, raw_y)) return 0;
    TouchCalibration cal;
    if (!compute_touch_calibration(raw_x, raw_y, cal)) continue;
    switch (check_calibration(raw_x, raw_y, cal)) {
      case kTouchRetry: continue;
      case kTouchAbort: return 0;
      default: break;
    }
    HardwareSettings& hw = hardware_settings();
    const HardwareSettings before = hw;
    hw.touch_x_offset = cal.x_offset;
    hw.touch_x_scale = cal.x_scale;
    hw.touch_y_offset = cal.y_offset;
    hw.touch_y_scale = cal.y_scale;
    hw.touch_cal_extra = cal.extra;
    if (write_hardware_settings() != 0) {
      // The file keeps the old calibration; so does the record, so that a
      // later write of other settings does not store what the operator was
      // told was not saved.
      hw = before;
      show_message_box(nullptr, "The touch calibration could not be saved.", "Error", kMbOkOnly);
    }
    return 0;
  }
}

// --- Blood-pressure alignment ------------------------------------------------------

int bp_alignment() {
  show_not_available("Blood Pressure");
  return -1;
}

}  // namespace vaslab
