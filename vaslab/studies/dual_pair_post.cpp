// The dual modules' post screen: the captured windows scrolled together or
// side by side, the dual pressure screen's markers and output text, and the
// location picker that files the pair under another pair of the stretch.
#include "vaslab/studies/dual_pair.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/input/system_utils.h"
#include "vaslab/core/toolkit/buttons.h"
#include "vaslab/core/toolkit/keyboard_entry.h"
#include "vaslab/core/toolkit/screen.h"
#include "vaslab/core/toolkit/stopwatch.h"
#include "vaslab/core/toolkit/trace_strips.h"
#include "vaslab/studies/dual_pair_internal.h"
#include "vaslab/studies/study_template.h"

namespace vaslab::dual_pair_internal {
namespace {

// The marker mode's name: row 214 in the cell addressing (40960 + 5 y).
constexpr int kModeNameAddress = 40960 + 5 * 214;

}  // namespace

// --- Post screen ------------------------------------------------------------------------------

void DualEngine::update_scroll_buttons(int pressed) {
  bool all_newest = true, all_oldest = true;
  for (int side : {kRight, kLeft}) {
    if (!(scroll_set_ & side_bit(side))) continue;
    const StudyPage& p = page(side);
    if (p.newest + 1 < p.count) all_newest = false;
    if (p.newest > 0) all_oldest = false;
  }
  for (int code : {kDualFastForward, kDualSlowForward, kDualFastBack, kDualSlowBack}) {
    ButtonRecord* b = find(code);
    if (!b) continue;
    const bool forward = code == kDualFastForward || code == kDualSlowForward;
    if (!(forward ? all_newest : all_oldest)) show_button(*b);
    else if (code == pressed) hold_button(*b);
    else hide_button(*b);
  }
}

bool DualEngine::scroll_step(int side, bool forward) {
  Side& s = sides_[side];
  StudyPage& p = page(side);
  Bitmap* strip = strip_of(side);
  if (forward) {
    if (p.newest < 0 || p.newest + 1 >= p.count || p.newest + 1 >= kRingSamples) return false;
    scroll_strip_left(strip, s.strip);
    draw_trace_segment(strip, s.baseline_tick, p.channel_1[p.newest], p.channel_1[p.newest + 1], 0x01, 37);
    ++p.newest;
    ++p.report_start;
  } else {
    if (p.newest <= 0) return false;
    scroll_strip_right(strip, s.strip);
    if (p.report_start >= 0 && p.report_start < kRingSamples) {
      const int col = kFull - s.strip;
      const int from = p.report_start > 0 ? p.channel_1[p.report_start - 1] : p.channel_1[0];
      draw_trace_segment(strip, s.baseline_tick, from, p.channel_1[p.report_start], 0x80 >> (col % 8), col / 8 + 1);
    }
    --p.newest;
    --p.report_start;
  }
  if (pressure()) p.short_text[0] = 0;
  mark_dirty(dirty_of(side));
  return true;
}

void DualEngine::scroll(bool forward, int steps) {
  for (int i = 0; i < steps; ++i) {
    bool moved = false;
    for (int side : {kRight, kLeft})
      if ((scroll_set_ & side_bit(side)) && scroll_step(side, forward)) moved = true;
    if (!moved) {
      // The dual pressure screen tries all five and beeps for each; the
      // others stop at the first step that moved nothing.
      if (pressure() || i == 0) beep_once();
      if (!pressure()) break;
    }
  }
  for (int side : {kRight, kLeft}) {
    if (!(scroll_set_ & side_bit(side))) continue;
    if (pressure()) draw_window(side);
    if (pvr()) draw_side_readouts(side, true);
  }
}

void DualEngine::move_markers(int which, bool forward, int steps) {
  for (int i = 0; i < steps; ++i) {
    bool moved = false;
    for (int side : {kRight, kLeft}) {
      if (!(scroll_set_ & side_bit(side))) continue;
      StudyPage& p = page(side);
      int m = which == 1 ? p.point_1 : p.point_2;
      const bool ok = forward ? marker_forward(m, p.report_start, p.newest, p.count) : marker_back(m, p.report_start, p.newest);
      if (!ok) continue;
      (which == 1 ? p.point_1 : p.point_2) = static_cast<std::int16_t>(m);
      moved = true;
    }
    if (!moved) beep_once();
  }
  for (int side : {kRight, kLeft})
    if (scroll_set_ & side_bit(side)) draw_window(side);
}

void DualEngine::touch_marker(int side, int which, int x) {
  if (!(scroll_set_ & side_bit(side))) return;
  StudyPage& p = page(side);
  if (which == 0) {
    const bool forward = x > (side == kRight ? 155 : 483);
    if (!scroll_step(side, forward)) beep_once();
    if (pressure()) draw_window(side);
    return;
  }
  const int column = std::clamp(x - (side == kRight ? 7 : 335), 1, kFull);
  const int m = std::max(p.report_start + column, 0);
  (which == 1 ? p.point_1 : p.point_2) = static_cast<std::int16_t>(m);
  draw_window(side);
}

void DualEngine::set_output() {
  wait_button_release(table_.data());
  set_button_mode_repeat();
  for (int side : {kRight, kLeft}) {
    if (!(scroll_set_ & side_bit(side))) continue;
    StudyPage& p = page(side);
    const bool brachial = std::strstr(sides_[side].rec.label, "Brachial") != nullptr;
    char now[8];
    shown_output(p, now, sizeof now);
    edit_text_field(side == kRight ? "Set RIGHT Output to:" : "Set LEFT Output to:", p.short_text, 4, 0, brachial,
                    now);
    p.short_text[sizeof p.short_text - 1] = 0;
    sides_[side].shown_pressure = -1;
    load_background("dpp_post_bkgd");
  }
  set_button_mode_capture();
}

void DualEngine::location_picker() {
  const int remembered = run_.current;
  const int first = run_.first, last = run_.first + run_.count - 2;
  // Room for what a read brings (29 bytes) and its NUL.
  char line[30] = {};
  std::memcpy(line, sides_[kRight].rec.label + 6, kLocation);
  line[kLocation] = 0;
  ButtonRecord t[] = {
      make_button(553, 241, 639, 318, "\x18^loc_up", 102, 1, 19),
      make_button(553, 318, 639, 395, "\x19^loc_down", 103, 2, 20),
      make_button(427, 408, 639, 479, "OK^glbl_accept", 0, 1024, 13),
      make_button(0, 408, 158, 479, "Cancel^glbl_cancel", 1, 512, 17),
      make_button(0, 0, 0, 0, "keyout", 139, 8192, 0, kButtonHidden),
      kButtonTableEnd,
  };
  draw_bitmap_on_background("loc_bkgd", 0, 220, 639, 479);
  fill_rect_color(0, 220, 639, 479, kColorBackground);
  flush_area(0, 220, 639, 479);
  if (run_.current <= first) t[0].state = kButtonHidden;
  if (run_.current >= last) t[1].state = kButtonHidden;
  for (;;) {
    fill_rect_color(100, 307, 500, 329, kColorBackground);
    const bool earlier = run_.current >= first + 2, later = run_.current + 2 <= last;
    const char* more = earlier && later ? "loc_ind_more_1" : earlier ? "loc_ind_more_2" : later ? "loc_ind_more_3" : nullptr;
    fill_rect_color(0, 241, 100, 395, kColorBackground);
    if (more) DrawBitmap(more, 6, 306, 93, 329);
    draw_font_text(0, scale_x(108), scale_y(309), line, 0xFFFFFF);
    flush_area(0, 241, 500, 395);
    draw_buttons(t);
    int e = kNoEvent;
    while ((e = get_button_event(t)) == kNoEvent || e < 0) {
    }
    wait_button_release(t);
    if (e == 102 || e == 103) {
      const int next = run_.current + (e == 102 ? -2 : 2);
      if (next < first || next > last) continue;
      run_.current = next;
      if (next == first) hold_button(t[0]);
      else show_button(t[0]);
      if (next == last) hold_button(t[1]);
      else show_button(t[1]);
      std::uint8_t rec[37];
      if (!read_template_record(run_.template_path, run_.current, sizeof rec, rec)) {
        run_.current = remembered;
        return;
      }
      std::memcpy(line, rec + 8, 29);
      line[29] = 0;
    } else if (e == 0) {
      line[kLocation - 1] = 0;
      for (Side& s : sides_) std::memcpy(s.rec.label + 6, line, kLocation);
      return;
    } else if (e == 139) {
      set_button_mode_repeat();
    } else if (e == 1) {
      run_.current = remembered;
      return;
    }
  }
}

int DualEngine::post_screen() {
  fill_table(table_, true);
  const char* background = pressure() ? "dpp_post_bkgd" : pvr() ? "dpv_post_bkgd" : "dpw_post_bkgd";
  static const char* const kModes[] = {"WVFRM", "MARK1", "MARK2"};
  const int picker = pressure() ? 121 : kCodePicker;
  const bool markers = pressure() && (sides_[kRight].rec.options & 0x08);
  mode_ = 0;
  scroll_set_ = kBoth;
  for (int side : {kRight, kLeft})
    if (page(side).flags & kPageDeletedSide) scroll_set_ &= ~side_bit(side);
  hide_live_stopwatch(run_);
  bool redraw = true;
  for (;;) {
    if (redraw) {
      draw_screen(background, true);
      for (int side : {kRight, kLeft}) {
        get_scale_baseline_row(page(side).baseline, sides_[side].rec.baseline_flags, &sides_[side].baseline_tick);
        sides_[side].shown_pressure = sides_[side].shown_status = -1;
        draw_window(side);
        if (pvr()) draw_side_readouts(side, true);
      }
      draw_side_indicator("dpp_post_ind_side_", scroll_set_, 221, 366, 282, 380);
      update_scroll_buttons(0);
      redraw = false;
    }
    if (markers) {
      set_colors(0x0C10);
      // Above the Side button, clear of the bottom row of buttons.
      draw_text_at_cell_address(kModes[mode_], kModeNameAddress, 2);
    }
    if (pressure())
      for (int side : {kRight, kLeft}) draw_side_readouts(side, true);
    tick_stopwatch().draw();
    const int e = get_button_event(table_.data());
    if (e == kNoEvent) continue;
    if (e < 0) {
      if (ButtonRecord* b = find(-e); b && -e >= kDualFastForward && -e <= kDualSlowBack) {
        release_held_button(*b);
        update_scroll_buttons(0);
      }
      continue;
    }
    const int code = e & ~kRepeatBit;
    const bool repeat = e & kRepeatBit;
    if (code == 0 || code == 1 || code == 2 || code == 3 || code == kCodeDoOver || code == kCodeView) {
      if (repeat) continue;
      wait_button_release(table_.data());
      mark_dirty(kDirtyWholeWindow);
      return code;
    }
    if (code >= kDualFastForward && code <= kDualSlowBack) {
      const bool forward = code == kDualFastForward || code == kDualSlowForward;
      const int steps = code == kDualFastForward || code == kDualFastBack ? 5 : 1;
      if (mode_ > 0) move_markers(mode_, forward, steps);
      else scroll(forward, steps);
      update_scroll_buttons(code);
      continue;
    }
    if (repeat) continue;
    if (code == kDualSide) {
      const bool left_deleted = page(kLeft).flags & kPageDeletedSide;
      scroll_set_ = scroll_set_ == kBoth ? 1 : scroll_set_ == 1 ? (left_deleted ? kBoth : 2) : kBoth;
      for (int side : {kRight, kLeft})
        if (page(side).flags & kPageDeletedSide) scroll_set_ &= ~side_bit(side);
      draw_side_indicator("dpp_post_ind_side_", scroll_set_, 221, 366, 282, 380);
      update_scroll_buttons(0);
    } else if (code == kDualMove && markers) {
      mode_ = (mode_ + 1) % 3;
    } else if (code == picker) {
      wait_button_release(table_.data());
      location_picker();
      redraw = true;
    } else if (pressure() && code == kDualSetOutput) {
      set_output();
      redraw = true;
    } else if (pressure() && (code == kDualCaptureRight || code == 114)) {
      const int side = code == kDualCaptureRight ? kRight : kLeft;
      touch_marker(side, mode_, pointer_position() & 0xFFFF);
    }
  }
}

}  // namespace vaslab::dual_pair_internal

namespace vaslab {

using dual_pair_internal::kFull;

// --- Markers ----------------------------------------------------------------------------

void marker_time_text(int m1, int m2, int cutoff, char* out, std::size_t size) {
  static const int kDivisor[] = {1, 2, 5, 10, 25};
  const int d = kDivisor[std::clamp(cutoff, 0, 4)];
  const long n = std::labs(static_cast<long>(m1) - m2) + 1;
  const long whole = static_cast<long>(d) * kFull;
  long t = n * 750 / whole;
  if ((n * 750 % whole) * 2 >= whole) ++t;
  std::snprintf(out, size, "%ld.%ld", t / 10, t % 10);
}

bool marker_forward(int& m, int s, int i, int n) {
  if (m > i || m <= s) {
    m = std::max(s + 1, 0);
    return true;
  }
  if (m < n - 1 && m != i) {
    ++m;
    return true;
  }
  return false;
}

bool marker_back(int& m, int s, int i) {
  if (m > i || m <= s) {
    m = i;
    return true;
  }
  if (m <= 0 || m == s + 1) return false;
  --m;
  return true;
}

}  // namespace vaslab
