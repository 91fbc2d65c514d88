// The dual modules' acquisition screen: both live traces, the settings of the
// active sides, the cuffs, and the capture of either side or both.
#include <cstdio>
#include <ctime>

#include "vaslab/core/input/digital_io.h"
#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/input/system_utils.h"
#include "vaslab/core/settings/settings.h"
#include "vaslab/core/toolkit/buttons.h"
#include "vaslab/core/toolkit/screen.h"
#include "vaslab/core/toolkit/stopwatch.h"
#include "vaslab/core/toolkit/trace_strips.h"
#include "vaslab/studies/dual_pair_internal.h"
#include "vaslab/studies/sample_frames.h"
#include "vaslab/studies/single_channel.h"
#include "vaslab/studies/study_template.h"

namespace vaslab::dual_pair_internal {
namespace {

constexpr int kHeldInflate = kDualInflate + kRepeatBit;   // 4196
constexpr int kHeldDeflate = kDualDeflate + kRepeatBit;   // 4197

}  // namespace

// --- Acquisition --------------------------------------------------------------------------

void DualEngine::send_gain(int side) {
  const StudyPage& p = page(side);
  send_module_command(side == kRight ? gain_command_ch1(p.gain) : gain_command_ch2(p.gain));
  if (pressure()) select_filter(p.gain < 5 ? 3 : 11, page(kRight).filter_code, sides_[side].filter);
}

void DualEngine::send_baseline(int side) {
  const StudyPage& p = page(side);
  get_scale_baseline_row(p.baseline, sides_[side].rec.baseline_flags, &sides_[side].baseline_tick);
  send_module_command(side == kRight ? 178 : 153, p.baseline);
}

void DualEngine::restart(int side) {
  page(side).count = 0;
  page(side).newest = 0;
}

void DualEngine::send_setup() {
  const HardwareSettings& hw = hardware_settings();
  const Record& r = sides_[kRight].rec;
  const Record& l = sides_[kLeft].rec;
  if (kind_ == DualKind::kPpg) {
    send_module_command(42);
    send_module_command(17);
  } else if (pressure()) {
    send_module_command(194, hw.right_bp_offset);
    send_module_command(195, hw.right_bp_span);
    send_module_command(54);
    send_module_command(51);
    send_module_command(196, hw.left_bp_offset);
    send_module_command(197, hw.left_bp_span);
    send_module_command(29);
    send_module_command(26);
    send_module_command(204, r.over_range);
    send_module_command(205, l.over_range);
    select_cuffs(r.cuff_select | l.cuff_select);
    for (int side : {kRight, kLeft})
      select_filter(page(side).gain < 5 ? 3 : 11, page(kRight).filter_code, sides_[side].filter);
    send_module_command(81);
    return;
  } else {
    send_module_command(44);
    send_module_command(194, hw.right_bp_offset);
    send_module_command(195, hw.right_bp_span);
    send_module_command(r.inflate_mode == 2 ? 53 : 54);
    send_module_command(183, r.inflate_mode == 2 ? r.alt_target : r.inflate_target);
    send_module_command(52);
    send_module_command(48);
    send_module_command(19);
    send_module_command(196, hw.left_bp_offset);
    send_module_command(197, hw.left_bp_span);
    send_module_command(l.inflate_mode == 2 ? 28 : 29);
    send_module_command(158, l.inflate_mode == 2 ? l.alt_target : l.inflate_target);
    send_module_command(27);
    send_module_command(23);
    send_module_command(204, r.over_range);
    send_module_command(205, l.over_range);
  }
  select_cuffs(r.cuff_select | l.cuff_select);
  send_module_command(208, ((l.nibble & 15) << 4 | (r.nibble & 15)) & 0xFF);
  send_module_command(gain_command_ch1(page(kRight).gain));
  send_module_command(178, page(kRight).baseline);
  send_module_command(gain_command_ch2(page(kLeft).gain));
  send_module_command(153, page(kLeft).baseline);
  send_module_command(volume_command(volume_.volume));
}

void DualEngine::set_probe(int side) {
  StudyPage& p = page(side);
  p.flags &= kPageDeletedSide;
  const bool ppg = p.probe == (side == kRight ? 5 : 6);
  if (ButtonRecord* b = find(side == kRight ? 113 : 118)) set_button_label(*b, ppg ? "PRB:PPG" : "PRB:DOP");
  if (sides_[side].captured) return;
  if (ppg) {
    for (int s : {kRight, kLeft}) {
      send_module_command(s == kRight ? gain_command_ch1(page(s).gain) : gain_command_ch2(page(s).gain));
      send_module_command(s == kRight ? 178 : 153, page(s).baseline);
    }
    send_module_command(side == kRight ? 42 : 17);
    send_module_command(side == kRight ? 49 : 24);
  } else {
    send_module_command(46);
    send_module_command(48);
  }
}

void DualEngine::open_panel(int side) {
  set_state(codes_.cp[side], kButtonHidden);
  for (int code : {codes_.del[side], codes_.dover[side], codes_.keep[side]}) {
    if (ButtonRecord* b = find(code)) {
      enable_button(*b);
      draw_button_normal(*b);
    }
  }
}

void DualEngine::close_panel(int side) {
  for (int code : {codes_.del[side], codes_.dover[side], codes_.keep[side]}) {
    if (ButtonRecord* b = find(code)) {
      disable_button(*b);
      b->state = kButtonHidden;
    }
  }
  set_state(codes_.cp[side], kButtonGreyed);
  // The strip shows again where the panel's buttons stood.
  mark_dirty(dirty_of(side));
}

void DualEngine::draw_side_indicator(const char* prefix, int set, int x1, int y1, int x2, int y2) {
  static const char* const kNames[] = {"none", "right", "left", "both"};
  char name[40];
  std::snprintf(name, sizeof name, "%s%s", prefix, kNames[set & 3]);
  DrawBitmap(name, x1, y1, x2, y2);
}

void DualEngine::show_cuff_buttons() {
  if (!cuffs()) return;
  for (int code : {kDualInflate, kDualDeflate}) {
    ButtonRecord* b = find(code);
    if (!b) continue;
    if (active_) show_button(*b);
    else hide_button(*b);
  }
}

// Captured sides leave the set; an empty set takes every side still to be
// captured.
void DualEngine::normalise(bool redraw) {
  for (int side : {kRight, kLeft})
    if (sides_[side].captured) active_ &= ~side_bit(side);
  if (active_ == 0)
    for (int side : {kRight, kLeft})
      if (!sides_[side].captured) active_ |= side_bit(side);
  if (!redraw) return;
  update_limit_buttons(0);
  draw_side_indicator("dpp_ind_side_", active_, 503, 362, 564, 376);
  if (ButtonRecord* b = find(kDualSide)) {
    if (active_) show_button(*b);
    else hide_button(*b);
  }
  show_cuff_buttons();
}

// An UP (DOWN) button goes when every active side is at its upper (lower)
// limit; after a press of the pair it is held instead while the press lasts.
void DualEngine::update_limit_buttons(int pressed_pair) {
  struct Pair { int up, down; bool gain; };
  for (const Pair& pr : {Pair{kDualGainUp, kDualGainDown, true}, Pair{kDualBaselineUp, kDualBaselineDown, false}}) {
    for (int code : {pr.up, pr.down}) {
      ButtonRecord* b = find(code);
      if (!b) continue;
      bool all_at_limit = true;
      for (int side : {kRight, kLeft})
        if ((active_ & side_bit(side)) && !limit_reached(side, pr.gain, code == pr.up)) all_at_limit = false;
      if (!active_ || !all_at_limit) {
        show_button(*b);
      } else if (pressed_pair == pr.up || pressed_pair == pr.down) {
        hold_button(*b);
      } else {
        hide_button(*b);
      }
    }
  }
}

void DualEngine::change_gain(bool up) {
  for (int side : {kRight, kLeft}) {
    if (!(active_ & side_bit(side)) || (sides_[side].rec.gain_flags & kSettingLocked)) continue;
    StudyPage& p = page(side);
    if (up ? p.gain >= 10 : p.gain <= 0) continue;
    p.gain = static_cast<std::int16_t>(p.gain + (up ? 1 : -1));
    send_gain(side);
    restart(side);
  }
  draw_scales();
  update_limit_buttons(up ? kDualGainUp : kDualGainDown);
}

void DualEngine::change_baseline(bool up) {
  for (int side : {kRight, kLeft}) {
    if (!(active_ & side_bit(side)) || (sides_[side].rec.baseline_flags & kSettingLocked)) continue;
    StudyPage& p = page(side);
    if (up ? p.baseline >= 255 : p.baseline <= 0) continue;
    p.baseline = static_cast<std::int16_t>(p.baseline + (up ? 1 : -1));
    send_baseline(side);
    restart(side);
  }
  update_limit_buttons(up ? kDualBaselineUp : kDualBaselineDown);
}

void DualEngine::capture_side(int side) {
  sides_[side].captured = true;
  page(side).save_time = static_cast<std::int32_t>(std::time(nullptr));
  if (pressure()) {
    if (side == kRight) swap_cuff_selection_1();
    else swap_cuff_selection_2();
    open_panel(side);
    active_ = kBoth;
  } else {
    open_panel(side);
  }
  normalise();
}

void DualEngine::end_marker(int side) {
  const int dx = side == kRight ? 0 : 328;
  const int x = sides_[side].window + 9 + dx;
  if (x > 303 + dx) return;
  fill_rect_color(x, 21, 303 + dx, 178, kColorBackground);
  set_colors(0x0B10);
  g_draw.draw_color = 11;
  draw_line(x, 21, x, 180);
  flush_area(x, 21, 304 + dx, 181);
}

void DualEngine::rearm(int side, bool marker) {
  if (marker) end_marker(side);
  Side& s = sides_[side];
  StudyPage& p = page(side);
  s.captured = false;
  if (pressure()) set_probe(side);
  p.flags &= static_cast<std::uint8_t>(~kPageDeletedSide);
  p.short_text[0] = 0;
  restart(side);
  if (pressure()) {
    p.point_1 = p.point_2 = -1;
    if (s.rec.options & 0x08) erase_marker_time(side);
    select_cuffs(s.rec.cuff_select);
  }
  close_panel(side);
  erase(side);
}

void DualEngine::do_over_all() {
  if (pressure()) {
    for (int side : {kRight, kLeft}) {
      const int other = 1 - side;
      if (sides_[other].captured || (page(kRight).probe < 15 && page(kLeft).probe < 15)) rearm(side, false);
    }
    active_ = kBoth;
  } else {
    for (int side : {kRight, kLeft})
      if (!(active_ & side_bit(side))) {
        rearm(side, false);
        active_ |= side_bit(side);
      }
  }
  normalise();
}

void DualEngine::cuff_press(bool inflate) {
  if (cuff_tap_repeated(hold_, inflate)) return;
  const Record& r = sides_[kRight].rec;
  for (int side : {kRight, kLeft}) {
    if (!(active_ & side_bit(side))) continue;
    const Record& rec = sides_[side].rec;
    const bool ch1 = side == kRight;
    const bool hold = inflate ? rec.inflate_mode == 1 : rec.deflate_mode != 0;
    if (hold) {
      cuff_hold_press(hold_, inflate, ch1);
      continue;
    }
    if (pressure()) send_module_command(ch1 ? 183 : 158, inflate ? r.inflate_target : r.deflate_target);
    send_module_command(inflate ? (ch1 ? 90 : 84) : (ch1 ? 91 : 85));
    if (pvr()) {
      restart(side);
      sides_[side].previous = 0;
    }
  }
}

void DualEngine::cuff_repeat(bool inflate) {
  int& countdown = inflate ? hold_.inflate_countdown : hold_.deflate_countdown;
  if (countdown > 0) {
    --countdown;
    return;
  }
  for (int side : {kRight, kLeft})
    if (active_ & side_bit(side)) cuff_hold_press(hold_, inflate, side == kRight);
}

int DualEngine::feed(int side, int trace, int other, bool& status_seen) {
  Side& s = sides_[side];
  StudyPage& p = page(side);
  if (s.captured) return trace;
  if (trace >= 1000) {
    p.status = static_cast<std::uint16_t>(trace & 0x1FFF);
    restart(side);
    s.last_pressure = other;
    if (pvr()) draw_scaled_value(p.status, &s.shown_status, side == kRight ? 239 : 566, 219);
    status_seen = true;
    return trace;
  }
  if (pressure()) trace = filter_sample(trace, s.filter);
  if (p.count < kRingSamples) {
    if (p.count == 0) {
      s.previous = trace;
      --p.newest;
    }
    ++p.count;
  }
  p.newest = static_cast<std::int16_t>((p.newest + 1) % kRingSamples);
  if (p.newest < 0) p.newest = 0;
  p.channel_1[p.newest] = static_cast<std::int16_t>(trace);
  p.channel_2[p.newest] = static_cast<std::int16_t>(other);
  s.last_pressure = other;
  draw_sample(side, trace);
  return trace;
}

int DualEngine::leave_acquisition(int code) {
  send_module_command(0);
  mark_dirty(kDirtyLeftStrip | kDirtyRightStrip);
  wait_button_release(table_.data());
  if (code != kCodeCapture && !sides_[kRight].captured && !sides_[kLeft].captured) return code;
  for (int side : {kRight, kLeft}) {
    StudyPage& p = page(side);
    if (p.count >= kRingSamples) {
      if (p.newest >= 0) {
        if (pressure() && p.point_1 >= 0) {
          int m = p.point_1 - p.newest - 1;
          if (m < 0) m += kRingSamples;
          p.point_1 = static_cast<std::int16_t>(m);
        }
        capture_window(p, 0, true);
      }
      p.newest = kRingSamples - 1;
    }
    if (pressure()) {
      if (p.point_1 < 0) p.point_1 = 0;
      if (p.point_2 < 0) p.point_2 = p.newest;
    }
    p.report_start = static_cast<std::int16_t>(p.newest - sides_[side].window);
  }
  return code;
}

int DualEngine::acquisition() {
  fill_table(table_, false);
  send_setup();
  const char* background = pressure() ? "dpp_bkgd" : pvr() ? "dpv_bkgd" : "dpw_bkgd";
  active_ = kBoth;
  for (int side : {kRight, kLeft}) {
    Side& s = sides_[side];
    s.shown_pressure = -1;
    s.shown_status = -1;
  }
  draw_screen(background, false);
  for (int side : {kRight, kLeft}) {
    if (sides_[side].captured) draw_window(side);
    get_scale_baseline_row(page(side).baseline, sides_[side].rec.baseline_flags, &sides_[side].baseline_tick);
  }
  // A captured side's panel stands over its trace: the strips go onto the
  // screen first, else they would cover the panel's buttons (a side
  // captured on the post screen came back with its buttons unseen).
  flush_dirty();
  for (int side : {kRight, kLeft})
    if (sides_[side].captured) open_panel(side);
  if (pressure()) {
    for (int side : {kRight, kLeft}) {
      send_gain(side);
      send_baseline(side);
    }
    for (int side : {kRight, kLeft}) set_probe(side);
    send_module_command(volume_command(volume_.volume));
  }
  normalise();
  if (cuffs()) {
    reset_cuff_hold(hold_);
    for (int side : {kRight, kLeft})
      if (sides_[side].captured) draw_side_readouts(side, false);
    start_tick_timer(1, 500, kTickPeriodic);
  }
  capture_presses_ = 0;
  delayed_armed_ = false;
  drain_module_bytes();
  reader_ = FrameReader{};
  send_module_command(cutoff_command(page(kRight).filter_code));

  for (;;) {
    tick_stopwatch().draw();
    const int e = get_button_event(table_.data());
    if (e >= kCodeCapture && e <= kCodeBack) {
      if (e != kCodeCapture) return leave_acquisition(e);
      for (int side : {kRight, kLeft})
        if (active_ & side_bit(side)) page(side).save_time = static_cast<std::int32_t>(std::time(nullptr));
      if (!(pressure() && (sides_[kRight].rec.options & 0x10))) {
        sides_[kRight].captured = sides_[kLeft].captured = true;
        return leave_acquisition(e);
      }
      // Delayed capture: the first press marks the sample before the newest
      // one and acquisition runs on until the ring comes round to it; the
      // third press captures at once.
      // The release of code 0 would read as another press.
      wait_button_release(table_.data());
      ++capture_presses_;
      if (capture_presses_ == 1 && page(kRight).point_1 < 0) {
        for (int side : {kRight, kLeft}) {
          StudyPage& p = page(side);
          int m = p.newest - 1;
          if (m < 0) m += kRingSamples;
          p.point_1 = static_cast<std::int16_t>(m);
        }
        delayed_armed_ = true;
      } else if (capture_presses_ >= 3) {
        sides_[kRight].captured = sides_[kLeft].captured = true;
        return leave_acquisition(e);
      }
      continue;
    }
    handle(e);
    if (cuffs() && tick_timer_expired(1))
      for (int side : {kRight, kLeft})
        if (!sides_[side].captured) draw_side_readouts(side, false);
    if (!read_frame(reader_)) continue;
    bool status_seen = false;
    const int v1 = reader_.value[0], v2 = reader_.value[1], v3 = reader_.value[2], v4 = reader_.value[3];
    const int right_value = feed(kRight, v3, v1, status_seen);
    // A LEFT Doppler probe shares the RIGHT channel's wave, in the form the
    // RIGHT side's filter left it; its status words still come in value 4.
    if (pressure() && page(kLeft).probe == 15 && v4 < 1000) {
      if (right_value < 1000) feed(kLeft, right_value, v2, status_seen);
    } else {
      feed(kLeft, v4, v2, status_seen);
    }
    if (pvr() && status_seen && !(page(kRight).flags & kPageDeletedSide) && !(page(kLeft).flags & kPageDeletedSide)) {
      g_trace_strips.count_a = page(kRight).status;
      g_trace_strips.count_b = page(kLeft).status;
      update_cc_indicators();
    }
    if (delayed_armed_) {
      const bool left_acquiring = !sides_[kLeft].captured;
      if ((left_acquiring && page(kLeft).newest == page(kLeft).point_1) ||
          (!left_acquiring && page(kRight).newest == page(kRight).point_1)) {
        sides_[kRight].captured = sides_[kLeft].captured = true;
        return leave_acquisition(kCodeCapture);
      }
    }
  }
}

void DualEngine::handle(int e) {
  if (e == kNoEvent) return;
  if (e < 0) {
    const int code = -e;
    if (cuffs() && (code == kDualInflate || code == kDualDeflate)) cuff_hold_release(hold_);
    if (code >= kDualGainUp && code <= kDualBaselineDown)
      if (ButtonRecord* b = find(code)) {
        release_held_button(*b);
        update_limit_buttons(0);
      }
    return;
  }
  if (e == kHeldInflate || e == kHeldDeflate) {
    if (cuffs()) cuff_repeat(e == kHeldInflate);
    return;
  }
  const int code = e & ~kRepeatBit;
  const bool repeat = e & kRepeatBit;
  if (repeat && code != kDualBaselineUp && code != kDualBaselineDown && code != kDualVolumeUp &&
      code != kDualVolumeDown)
    return;
  if (code == kDualGainUp || code == kDualGainDown) return change_gain(code == kDualGainUp);
  if (code == kDualBaselineUp || code == kDualBaselineDown) return change_baseline(code == kDualBaselineUp);
  if (code == kDualSide) {
    active_ = active_ == kBoth ? 1 : active_ == 1 ? 2 : kBoth;
    return normalise();
  }
  if (code == kDualVolumeUp || code == kDualVolumeDown || code == codes_.mute) {
    if (code == kDualVolumeUp) volume_up(volume_);
    else if (code == kDualVolumeDown) volume_down(volume_);
    else toggle_mute(volume_);
    send_module_command(volume_command(volume_.volume));
    return;
  }
  if (cuffs() && (code == kDualInflate || code == kDualDeflate)) return cuff_press(code == kDualInflate);
  if (code == kCodeDoOver) return do_over_all();
  if (int side = own_side_code(codes_.cp, code); side >= 0) return capture_side(side);
  if (int side = own_side_code(codes_.del, code); side >= 0) {
    StudyPage& p = page(side);
    p.flags |= kPageDeletedSide;
    restart(side);
    close_panel(side);
    erase(side);
    return;
  }
  if (int side = own_side_code(codes_.dover, code); side >= 0) {
    if (pressure()) {
      const int other = 1 - side;
      if (sides_[other].captured || (page(kRight).probe < 15 && page(kLeft).probe < 15)) rearm(side, true);
      active_ = kBoth;
    } else {
      rearm(side, true);
      active_ |= side_bit(side);
    }
    return normalise();
  }
  if (int side = own_side_code(codes_.keep, code); side >= 0) {
    end_marker(side);
    close_panel(side);
    return;
  }
}

}  // namespace vaslab::dual_pair_internal
