#include "vaslab/studies/service_modules.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <limits>
#include <memory>

#include "vaslab/core/input/digital_io.h"
#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/input/system_utils.h"
#include "vaslab/core/input/touch_remote.h"
#include "vaslab/core/toolkit/buttons.h"
#include "vaslab/core/toolkit/message_box.h"
#include "vaslab/core/toolkit/screen.h"
#include "vaslab/core/toolkit/trace_strips.h"
#include "vaslab/studies/sample_frames.h"
#include "vaslab/studies/study_page.h"

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

int bp_point_300(int offset, int span) {
  return static_cast<int>(std::floor((span / 256.0 + 9.5) * 300 + 0.5)) + offset;
}

BpCalibration bp_calibration_from_points(int point_0, int point_300) {
  const double slope = std::floor(((point_300 - point_0) / 300.0 - 9.5) * 256 + 0.5);
  BpCalibration c;
  c.offset = static_cast<std::uint8_t>(point_0 & 0xFF);
  c.span = static_cast<std::uint8_t>(std::clamp(slope, 0.0, 255.0));
  return c;
}

namespace {

constexpr int kBpSave = 0, kBpCancel = 1, kBpPoint = 100;
constexpr int kBpRawOffset = 6144;
constexpr int kBpLimit = 350;
constexpr int kBpRightX = 0, kBpLeftX = 328, kBpValueY = 110;

class BpAlignment {
 public:
  int run() {
    HardwareSettings& hw = hardware_settings();
    const HardwareSettings entry = hw;
    send_module_command(0);
    set_button_mode_capture();
    send_setup(hw);
    select_cuffs(9);
    for (int side = 0; side < 2; ++side) start_page(side, hw);
    send_module_command(37);
    send_module_command(178, 128);
    send_module_command(12);
    send_module_command(153, 128);
    make_table();
    draw_screen();

    start_tick_timer(1, 500, kTickPeriodic);
    drain_module_bytes();
    reader_ = FrameReader{};
    send_module_command(cutoff_command(4));
    send_module_command(95);
    send_module_command(89);
    for (;;) {
      const int e = get_button_event(table_);
      if (e == kBpSave || e == kBpCancel) return leave(e, entry);
      if (e >= kBpPoint && e < kBpPoint + 4) take_point(e - kBpPoint);
      if (tick_timer_expired(1)) draw_readings();
      while (read_raw_frame(reader_)) take_frame();
    }
  }

 private:
  // Point 0 of a side is the page's first point, 300 its second.
  StudyPage& page(int side) { return side ? *left_ : *right_; }

  void send_setup(const HardwareSettings& hw) {
    send_module_command(47);
    send_module_command(194, hw.right_bp_offset);
    send_module_command(195, hw.right_bp_span);
    send_module_command(54);
    send_module_command(183, 100);
    send_module_command(52);
    send_module_command(22);
    send_module_command(196, hw.left_bp_offset);
    send_module_command(197, hw.left_bp_span);
    send_module_command(29);
    send_module_command(158, 100);
    send_module_command(27);
    send_module_command(23);
    send_module_command(204, 250);
    send_module_command(205, 250);
    send_module_command(1);
  }

  void send_calibration(const HardwareSettings& hw) {
    send_module_command(194, hw.right_bp_offset);
    send_module_command(195, hw.right_bp_span);
    send_module_command(196, hw.left_bp_offset);
    send_module_command(197, hw.left_bp_span);
  }

  void start_page(int side, const HardwareSettings& hw) {
    StudyPage& p = page(side);
    p = StudyPage{};
    p.report_start = -1;
    p.baseline = 128;
    p.gain = 6;
    p.filter_code = 4;
    p.probe = static_cast<std::int16_t>(side ? 14 : 13);
    const int offset = side ? hw.left_bp_offset : hw.right_bp_offset;
    const int span = side ? hw.left_bp_span : hw.right_bp_span;
    p.point_1 = static_cast<std::int16_t>(offset);
    p.point_2 = static_cast<std::int16_t>(bp_point_300(offset, span));
  }

  // Raw readings can be negative: shown as their low 16 bits.
  static void hex_label(char* out, std::size_t size, const char* format, int value) {
    std::snprintf(out, size, format, static_cast<unsigned>(value) & 0xFFFFu);
  }

  void format_labels() {
    static const char* const formats[4] = {"\x1b) R   0mm=%4x", "\x1b) R 300mm=%4x", "\x1b) L   0mm=%4x",
                                           "\x1b) L 300mm=%4x"};
    for (int i = 0; i < 4; ++i) {
      const StudyPage& p = page(i / 2);
      char label[32];
      hex_label(label, sizeof label, formats[i], i % 2 ? p.point_2 : p.point_1);
      set_button_label(table_[i], label);
    }
  }

  void make_table() {
    ButtonRecord t[] = {
        make_button(8, 250, 312, 310, "", kBpPoint, 0, 0),
        make_button(8, 320, 312, 380, "", kBpPoint + 1, 0, 0),
        make_button(328, 250, 632, 310, "", kBpPoint + 2, 0, 0),
        make_button(328, 320, 632, 380, "", kBpPoint + 3, 0, 0),
        make_button(8, 410, 312, 472, "CANCEL", kBpCancel, 0, 17),
        make_button(328, 410, 632, 472, "SAVE", kBpSave, 0, 9),
        kButtonTableEnd,
    };
    static_assert(sizeof t / sizeof t[0] == kButtons + 1);
    std::copy(std::begin(t), std::end(t), table_);
    format_labels();
  }

  void draw_screen() {
    load_background("bpa_bkgd");
    clear_screen();
    draw_screen_title("Blood Pressure Alignment");
    set_colors(kColorBackground | (kColorWhite << 8));
    draw_text_wide("RIGHT", 50, 120, kColorWhite);
    draw_text_wide("LEFT", 50, 456, kColorWhite);
    draw_text_wide("mmHg", 160, 120, kColorWhite);
    draw_text_wide("mmHg", 160, 448, kColorWhite);
    draw_buttons(table_);
    shown_[0] = shown_[1] = -1;
    draw_readings();
  }

  void draw_readings() {
    draw_pressure_value(nullptr, pressure_[0], &shown_[0], kBpLimit, kBpRightX + 100, kBpValueY, 0);
    draw_pressure_value(nullptr, pressure_[1], &shown_[1], kBpLimit, kBpLeftX + 100, kBpValueY, 0);
    char raw[16];
    set_colors(kColorBackground | (kColorWhite << 8));
    hex_label(raw, sizeof raw, "RAW:%4x", raw_[0]);
    draw_text_wide_over(raw, 200, kBpRightX + 80, kColorWhite);
    hex_label(raw, sizeof raw, "RAW:%4x", raw_[1]);
    draw_text_wide_over(raw, 200, kBpLeftX + 80, kColorWhite);
  }

  void take_frame() {
    const int values[2][2] = {{reader_.value[2], reader_.value[0]}, {reader_.value[3], reader_.value[1]}};
    for (int side = 0; side < 2; ++side) {
      StudyPage& p = page(side);
      const int at = p.count == 0 ? 0 : (p.newest + 1) % PAGE_SAMPLES;
      p.channel_1[at] = static_cast<std::int16_t>(values[side][0]);
      p.channel_2[at] = static_cast<std::int16_t>(values[side][1]);
      p.newest = static_cast<std::int16_t>(at);
      if (p.count < PAGE_SAMPLES) ++p.count;
      raw_[side] = values[side][0] - kBpRawOffset;
      pressure_[side] = values[side][1];
    }
  }

  void take_point(int button) {
    StudyPage& p = page(button / 2);
    (button % 2 ? p.point_2 : p.point_1) = static_cast<std::int16_t>(raw_[button / 2]);
    HardwareSettings& hw = hardware_settings();
    const BpCalibration right = bp_calibration_from_points(right_->point_1, right_->point_2);
    const BpCalibration left = bp_calibration_from_points(left_->point_1, left_->point_2);
    hw.right_bp_offset = right.offset;
    hw.right_bp_span = right.span;
    hw.left_bp_offset = left.offset;
    hw.left_bp_span = left.span;
    send_calibration(hw);
    format_labels();
    wait_button_release(table_);
    draw_screen();
  }

  int leave(int code, const HardwareSettings& entry) {
    HardwareSettings& hw = hardware_settings();
    if (code == kBpCancel) {
      // What the points changed is undone in memory and in the module, so no
      // later settings write can store a calibration the operator cancelled.
      hw.right_bp_offset = entry.right_bp_offset;
      hw.right_bp_span = entry.right_bp_span;
      hw.left_bp_offset = entry.left_bp_offset;
      hw.left_bp_span = entry.left_bp_span;
      send_calibration(hw);
    }
    send_module_command(0);
    wait_button_release(table_);
    if (code == kBpSave && write_hardware_settings() != 0)
      show_message_box(nullptr, "The blood-pressure alignment could not be saved.", "Error", kMbOkOnly);
    set_button_mode_repeat();
    return code;
  }

  static constexpr int kButtons = 6;
  ButtonRecord table_[kButtons + 1];
  std::unique_ptr<StudyPage> right_ = std::make_unique<StudyPage>();
  std::unique_ptr<StudyPage> left_ = std::make_unique<StudyPage>();
  FrameReader reader_;
  int raw_[2] = {};
  int pressure_[2] = {};
  int shown_[2] = {-1, -1};
};

}  // namespace

int bp_alignment() {
  BpAlignment screen;
  return screen.run();
}

}  // namespace vaslab
