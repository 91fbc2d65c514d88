// The dual modules' engine: one pair of steps from its records to its stored
// pages, the button tables of its screens, the drawing both screens share,
// and the module run over the stretch.
#include "vaslab/studies/dual_pair.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/file_io.h"
#include "platform/paths.h"
#include "vaslab/core/input/digital_io.h"
#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/input/system_utils.h"
#include "vaslab/core/toolkit/buttons.h"
#include "vaslab/core/toolkit/message_box.h"
#include "vaslab/core/toolkit/screen.h"
#include "vaslab/core/toolkit/stopwatch.h"
#include "vaslab/core/toolkit/trace_strips.h"
#include "vaslab/studies/dual_pair_internal.h"
#include "vaslab/studies/module_entries.h"
#include "vaslab/studies/module_frame.h"
#include "vaslab/studies/sample_frames.h"
#include "vaslab/studies/study_page.h"
#include "vaslab/studies/study_template.h"

namespace vaslab::dual_pair_internal {
namespace {

// One column of the strip in a colour (the markers).
void strip_column_line(Bitmap* strip, int column, int color) {
  if (!strip || strip->empty() || column < 0 || column >= 296) return;
  const int xs = g_screen_geometry.x_scale;
  const std::uint32_t rgb = vga_color_to_rgb(color);
  for (int y = 0; y < strip->height; ++y)
    for (int k = 0; k < xs; ++k) strip->pixels[static_cast<std::size_t>(y) * strip->width + column * xs + k] = rgb;
}

}  // namespace

// --- The pair ---------------------------------------------------------------------------

int DualEngine::run_pair() {
  const int n = run_.current;
  if (read_record(kind_, run_.template_path, n, sides_[kRight].rec) != 0) return kResultError;
  if (std::strncmp(sides_[kRight].rec.label, "RIGHT ", 6) != 0) return kResultLeave;
  if (read_record(kind_, run_.template_path, n + 1, sides_[kLeft].rec) != 0) return kResultError;
  if (std::strncmp(sides_[kLeft].rec.label, " LEFT ", 6) != 0 ||
      std::memcmp(sides_[kRight].rec.label + 6, sides_[kLeft].rec.label + 6, kLocation) != 0)
    return kResultLeave;
  for (Side& s : sides_) {
    s.limit = s.rec.over_range + 100;
    s.window = pressure() ? kFull : dual_window(s.rec.window);
    s.strip = pressure() ? kFull : dual_strip_width(s.rec.window);
    s.captured = false;
  }
  g_left_strip_units = (sides_[kRight].strip - 8) / 16;
  g_right_strip_units = (sides_[kLeft].strip - 8) / 16;
  const int rr = read_page_pair(n, run_.exam_id, run_.template_base, page(kRight), page(kLeft));
  int stored_step = -1;
  bool to_post = false;
  if (rr == 0) {
    stored_step = n;
    to_post = true;
    sides_[kRight].captured = sides_[kLeft].captured = true;
    Record& r = sides_[kRight].rec;
    if (pressure() && (r.old_numbering & 1)) {
      if (r.second_scale == 3) r.second_scale = 1;
      r.gain = old_gain(r.gain);
      r.old_numbering &= ~1;
    }
  } else if (rr == 1) {
    for (int side : {kRight, kLeft}) {
      StudyPage& p = page(side);
      const Record& r = sides_[side].rec;
      std::snprintf(p.template_name, sizeof p.template_name, "%s", run_.template_base.c_str());
      p.flags = 0;
      p.report_start = -1;
      p.count = 0;
      p.newest = 0;
      if (p.baseline < 0 || (r.baseline_flags & kSettingOverride)) p.baseline = static_cast<std::int16_t>(r.baseline);
      if (p.gain < 0 || (r.gain_flags & kSettingOverride)) p.gain = static_cast<std::int16_t>(r.gain);
      p.point_1 = p.point_2 = -1;
      p.filter_code = static_cast<std::int16_t>(r.filter_code);
      p.status = 0;
      p.probe = static_cast<std::int16_t>(pvr() ? 9 + side : 5 + side);
      p.short_text[0] = 0;
      p.text[0] = 0;
      erase(side);
    }
  }

  for (;;) {
    if (!to_post) {
      show_live_stopwatch(run_, sides_[kRight].rec.show_stopwatch & 1);
      const int r = acquisition();
      select_cuffs(0);
      if (r != 0) {
        const bool any = sides_[kRight].captured || sides_[kLeft].captured;
        if (any && r >= 1 && r <= 3) {
          for (int side : {kRight, kLeft}) {
            if (sides_[side].captured) continue;
            StudyPage& p = page(side);
            p.flags |= kPageDeletedSide;
            p.report_start = -1;
            p.count = 0;
            p.newest = 0;
          }
          if (write_page_pair(n, run_.exam_id, page(kRight), page(kLeft)) == 0) return r;
          show_message_box(nullptr, "File error.", "Error", 0);
          return kResultError;
        }
        delete_page_pair(n, run_.exam_id);
        return r;
      }
    }
    to_post = false;
    const int p = post_screen();
    if (p == kResultDoOver) continue;
    if (p == 0 || p == 1 || p == 2 || p == 3 || p == kResultView) {
      if (write_page_pair(run_.current, run_.exam_id, page(kRight), page(kLeft)) != 0) {
        show_message_box(nullptr, "File error.", "Error", 0);
        return kResultError;
      }
      // Filed under another pair by the picker: the old pair's files go.
      if (stored_step >= 0 && stored_step != run_.current) delete_page_pair(stored_step, run_.exam_id);
      if (pressure() && stored_step >= 0 && (page(kRight).flags & kPageExtendedBlock)) {
        StudyPage& rp = page(kRight);
        rp.probe = static_cast<std::int16_t>(rp.probe == 18 ? 15 : rp.probe == 19 ? 16 : rp.probe);
        rp.gain = static_cast<std::int16_t>(old_gain(rp.gain));
        rp.flags &= kPageDeletedSide;
      }
    }
    return p;
  }
}

// --- Tables -------------------------------------------------------------------------------

// The lower row of buttons above the button band ends two rows short of
// the band's top line (y 403), which a button reaching it would cut.
constexpr int kLowerRowBottom = 401;
// The side captions stand between the title band and the traces.
constexpr int kSideCaptionY = 30;

void DualEngine::fill_table(std::vector<ButtonRecord>& t, bool post) {
  t.clear();
  auto add = [&t](int x1, int y1, int x2, int y2, const char* label, int code, int key, int remote,
                  std::uint8_t state = kButtonShown) { t.push_back(make_button(x1, y1, x2, y2, label, code, key, remote, state)); };
  if (!post) {
    const int panel_key = pressure() ? 3 : 1;
    add(346, 282, 425, 342, "Gain UP^dpp_scale_rt", kDualGainUp, 1, 5);
    add(215, 282, 294, 342, "Gain DOWN^dpp_scale_lt", kDualGainDown, 2, 6);
    add(346, 343, 425, kLowerRowBottom, "Baseline UP^dpp_bsln_rt", kDualBaselineUp, 4, 3);
    add(215, 343, 294, kLowerRowBottom, "Baseline DOWN^dpp_bsln_lt", kDualBaselineDown, 8, 4);
    add(428, 282, 639, 342, "Side^dpp_side", kDualSide, 16, 14);
    add(132, 408, 274, 479, "Back^glbl_back", kCodeBack, 32, 9);
    add(275, 408, 426, 479, "Next^glbl_next", kCodeNext, 64, 10);
    add(0, 408, 131, 479, "EXIT^glbl_exit", kCodeExit, 512, 17);
    add(427, 408, 639, 479, "CAPTURE^glbl_capt", kCodeCapture, 1024, 13);
    add(0, 0, 0, 0, "Vol UP", kDualVolumeUp, 2048, kDualRemoteVolumeUp, kButtonHidden);
    add(0, 0, 0, 0, "Vol DW", kDualVolumeDown, 4096, kDualRemoteVolumeDown, kButtonHidden);
    add(0, 0, 0, 0, "Mute", codes_.mute, 16384, kDualRemoteMute, kButtonHidden);
    add(0, 0, 0, 0, "Do Over", kCodeDoOver, 16384, kDualRemoteDoOver, kButtonHidden);
    for (int side : {kRight, kLeft}) {
      const int dx = side == kRight ? 0 : 327;
      add(8 + dx, 46, 303 + dx, 201, "CP", codes_.cp[side], panel_key, 0, kButtonGreyed);
      add(8 + dx, 46, 155 + dx, 123, "Delete|dpp_del", codes_.del[side], panel_key, 0, kButtonHidden);
      add(156 + dx, 46, 303 + dx, 123, "Do Over|dpp_dover", codes_.dover[side], panel_key, 0, kButtonHidden);
      add(8 + dx, 124, 303 + dx, 201, "Keep|dpp_keep", codes_.keep[side], panel_key, 0, kButtonHidden);
      // The side's probe label: never shown, and its remote byte 0 is
      // matched by the RIGHT capture panel before it.
      if (pressure()) add(0, 0, 0, 0, "PRB:PPG", side == kRight ? 113 : 118, 3, 0, kButtonHidden);
    }
    if (cuffs()) {
      add(0, 282, 212, 342, "Inflate^dpp_infl", kDualInflate, 128, 1);
      add(0, 343, 212, kLowerRowBottom, "Deflate^dpp_defl", kDualDeflate, 256, 2);
    }
  } else if (pressure()) {
    add(0, 282, 73, 343, "FastLeft^dpp_post_scrfast_lt", kDualFastBack, 2, 6);
    add(74, 282, 140, 343, "SlowLeft^dpp_post_scrslow_lt", kDualSlowBack, 8, 4);
    add(0, 344, 212, kLowerRowBottom, "Side^dpp_post_side", kDualSide, 16, 14);
    // Beside Do Over: where the mode button used to stand it covered EXIT.
    add(481, 344, 639, kLowerRowBottom, "Move^dpp_post_move", kDualMove, 128, 0,
        (sides_[kRight].rec.options & 0x08) ? kButtonShown : kButtonHidden);
    add(246, 282, 319, 343, "FastRight^dpp_post_scrfast_rt", kDualFastForward, 1, 5);
    add(179, 282, 245, 343, "SlowRight^dpp_post_scrslow_rt", kDualSlowForward, 4, 3);
    add(0, 408, 131, 479, "EXIT^glbl_exit", kCodeExit, 512, 17);
    add(132, 408, 274, 479, "Back^glbl_back", kCodeBack, 32, 9);
    add(427, 408, 639, 479, "Proceed^glbl_procd", 0, 64, 10);
    add(481, 282, 639, 343, "Set Output^dpp_post_setout", kDualSetOutput, 8192, 11);
    add(0, 0, 0, 0, "", 121, 4096, kDualRemotePicker, kButtonHidden);
    add(322, 344, 478, kLowerRowBottom, "Do Over^dpp_post_dover", kCodeDoOver, 256, 18);
    add(275, 408, 426, 479, "Next^glbl_next", 0, 1024, 13);
    add(322, 282, 478, 343, "View^dpp_post_view", kCodeView, 32768, 15);
    add(8, 23, 303, 178, "CP", kDualCaptureRight, 0, 0, kButtonGreyed);
    add(336, 23, 631, 178, "CP", 114, 0, 0, kButtonGreyed);
  } else {
    add(0, 282, 73, 343, "FastLeft^dpp_post_scrfast_lt", kDualFastBack, 2, 6);
    add(74, 282, 140, 343, "SlowLeft^dpp_post_scrslow_lt", kDualSlowBack, 8, 4);
    add(246, 282, 319, 343, "FastRight^dpp_post_scrfast_rt", kDualFastForward, 1, 5);
    add(179, 282, 245, 343, "SlowRight^dpp_post_scrslow_rt", kDualSlowForward, 4, 3);
    add(0, 344, 212, kLowerRowBottom, "Side^dpp_post_side", kDualSide, 16, 14);
    add(0, 0, 0, 0, "", kCodePicker, 4096, kDualRemotePicker, kButtonHidden);
    add(322, 344, 478, kLowerRowBottom, "Do Over^dpp_post_dover", kCodeDoOver, 256, 18);
    add(132, 408, 274, 479, "Back^glbl_back", kCodeBack, 32, 9);
    add(275, 408, 426, 479, "Next^glbl_next", 0, 64, 10);
    add(427, 408, 639, 479, "Proceed^glbl_procd", 0, 1024, 13);
    add(322, 282, 478, 343, "View^dpp_post_view", kCodeView, 32768, 15);
    add(0, 408, 131, 479, "EXIT^glbl_exit", kCodeExit, 512, 17);
  }
  t.push_back(kButtonTableEnd);
}

// --- Drawing ------------------------------------------------------------------------------

void DualEngine::erase(int side) {
  erase_strip(strip_of(side), sides_[side].strip);
  sides_[side].previous = 0;
  mark_dirty(dirty_of(side));
}

void DualEngine::draw_sample(int side, int sample) {
  Side& s = sides_[side];
  draw_trace_segment(strip_of(side), s.baseline_tick, s.previous, sample, 0x01, 37);
  show_strip(strip_of(side), s.strip, strip_x(side));
  s.previous = sample;
}

// The captured window from the report start to the newest sample, newest in
// the last column.
void DualEngine::draw_window(int side) {
  Side& s = sides_[side];
  const StudyPage& p = page(side);
  erase_strip(strip_of(side), s.strip);
  if (p.count > 0 && p.newest >= 0 && p.newest < kRingSamples) {
    const int from = std::max(p.report_start + 1, 0);
    int previous = p.channel_1[from];
    for (int i = from; i <= p.newest; ++i) {
      scroll_strip_left(strip_of(side), s.strip);
      draw_trace_segment(strip_of(side), s.baseline_tick, previous, p.channel_1[i], 0x01, 37);
      previous = p.channel_1[i];
    }
  }
  draw_markers(side);
  mark_dirty(dirty_of(side));
}

void DualEngine::draw_markers(int side) {
  if (!pressure() || !(sides_[side].rec.options & 0x08)) return;
  const StudyPage& p = page(side);
  const int s = p.report_start;
  const int marks[2] = {p.point_1, p.point_2};
  for (int k = 0; k < 2; ++k) {
    const int m = marks[k];
    if (m > s && m <= s + kFull && m <= p.newest) strip_column_line(strip_of(side), 295 - (p.newest - m), k == 0 ? 8 : 9);
  }
  if (p.point_1 < 0 || p.point_2 < 0) return;
  char text[16];
  marker_time_text(p.point_1, p.point_2, page(kRight).filter_code, text, sizeof text);
  erase_marker_time(side);
  const int x = time_value_x(side);
  draw_text_sized(text, 218, x, 8, kColorWhite);
  flush_area(x, 218, x + 40, 226);
  if (sides_[kRight].rec.options & 0x20) {
    StudyPage& into = page(x < 320 ? kRight : kLeft);
    std::snprintf(into.text, sizeof into.text, "%s", text);
    std::snprintf(into.short_text, sizeof into.short_text, "%.4s", text);
  }
}

void DualEngine::erase_marker_time(int side) {
  const int x = time_value_x(side);
  fill_rect_color(x, 218, x + 40, 226, kColorBackground);
  flush_area(x, 218, x + 40, 226);
}

void DualEngine::draw_side_readouts(int side, bool post) {
  Side& s = sides_[side];
  const StudyPage& p = page(side);
  const int x = pressure() && post ? (side == kRight ? 176 : 503) : (side == kRight ? 202 : 528);
  if (post || s.captured) {
    // A deleted side is read without sample checks: its ring index may lie
    // anywhere, and only one inside the ring has a reading.
    const bool in_ring = p.count > 0 && p.newest >= 0 && p.newest < kRingSamples;
    const int v = in_ring ? p.channel_2[p.newest] & 0x1FF : 0;
    if (p.short_text[0]) draw_pressure_value(p.short_text, 0, nullptr, s.limit, x, 241, 1);
    else draw_pressure_value(nullptr, v, &s.shown_pressure, s.limit, x, 241, 1);
  } else {
    draw_pressure_value(nullptr, s.last_pressure, &s.shown_pressure, s.limit, x, 241, 1);
  }
  if (pvr()) draw_scaled_value(p.status, &s.shown_status, side == kRight ? 239 : 566, 219);
}

// The pressure screens keep the scales above their readouts.
void DualEngine::draw_scales() {
  const int y = cuffs() ? 212 : 229;
  draw_scale_bitmap(page(kRight).gain, badge_x(kRight), y);
  draw_scale_bitmap(page(kLeft).gain, badge_x(kLeft), y);
}

void DualEngine::draw_screen(const char* background, bool post) {
  load_background(background);
  set_colors(0x0710);
  clear_screen();
  for (int side : {kRight, kLeft}) erase_strip(strip_of(side), sides_[side].strip);
  char title[kLocation + 1];
  std::snprintf(title, sizeof title, "%.24s", sides_[kRight].rec.label + 6);
  draw_screen_title(title);
  // Which trace is which side: the RIGHT step's trace is the left one.
  draw_text_cells("RIGHT", kSideCaptionY, strip_x(kRight) / 8, kColorBackground, kColorWhite);
  draw_text_cells("LEFT", kSideCaptionY, strip_x(kLeft) / 8, kColorBackground, kColorWhite);
  // The capture panels only take touches on the traces: they are not drawn.
  std::vector<std::uint8_t> states;
  for (ButtonRecord& b : table_) {
    states.push_back(b.state);
    if (!is_table_end(b) && b.label[0] == 'C' && b.label[1] == 'P' && b.label[2] == 0) b.state = kButtonHidden;
  }
  draw_buttons(table_.data());
  for (std::size_t i = 0; i < table_.size(); ++i) table_[i].state = states[i];
  draw_scales();
  if (pressure() && post && (sides_[kRight].rec.options & 0x08)) {
    set_text_size(0, 0, 1);
    for (int side : {kRight, kLeft}) draw_text_sized("TIME:", 218, time_label_x(side), 8, kColorWhite);
    flush_area(200, 214, 640, 230);
  }
  mark_dirty(kDirtyLeftStrip | kDirtyRightStrip);
}

}  // namespace vaslab::dual_pair_internal

namespace vaslab {

using dual_pair_internal::DualEngine;
using dual_pair_internal::kFull;

// --- Strip widths ----------------------------------------------------------------------

int dual_window(int w) { return w <= 0 || w > kFull ? kFull : w; }

int dual_strip_width(int w) {
  w = dual_window(w);
  return std::clamp(((w / 8 - 1) / 2) * 16 + 8, 8, kFull);
}

// --- The module run ---------------------------------------------------------------------------

int run_dual_module(int argc, char* argv[], DualKind kind) {
  if (argc < 6) return kResultError;
  ModuleRun run;
  run.template_number = argv[1];
  run.exam_id = static_cast<std::int16_t>(std::atoi(argv[2]));
  run.first = static_cast<std::int16_t>(std::atoi(argv[3]));
  run.count = static_cast<std::int16_t>(std::atoi(argv[4]));
  run.current = static_cast<std::int16_t>(std::atoi(argv[5]));
  if (run.first < 1 || run.count < 0 || run.count % 2 != 0) return kResultError;
  if (run.current < run.first || run.current > run.first + run.count) return kResultError;
  run.template_base = template_base_name(run.template_number);
  run.template_path = template_file_name(run.template_number);
  // The template must hold the whole stretch: its last record read whole.
  std::uint8_t last[kTemplateRecordSize];
  if (run.count > 0 && !read_template_record(run.template_path, run.first + run.count - 1, sizeof last, last))
    return kResultError;
  if (run.count == 0 && !platform::file_size(platform::map_path(run.template_path))) return kResultError;

  run.stopwatch = &tick_stopwatch();
  send_module_command(0);
  set_button_mode_capture();
  run.page = std::make_unique<StudyPage>();
  DualEngine engine(kind, run);
  int result = 0;
  for (;;) {
    const int r = engine.run_pair();
    if (r == 0 || r == 2) {
      run.current += 2;
      if (run.current >= run.first + run.count) {
        result = kResultStretchDone;
        break;
      }
    } else if (r == 3) {
      run.current -= 2;
      if (run.current < run.first) {
        result = kResultBack;
        break;
      }
    } else {
      result = r;
      break;
    }
  }
  release_background();
  set_button_mode_repeat();
  poke_comm_area_word(0, kStepSlot, run.current);
  return result;
}

int dualppg_main(int argc, char* argv[]) { return run_dual_module(argc, argv, DualKind::kPpg); }
int dualpres_main(int argc, char* argv[]) { return run_dual_module(argc, argv, DualKind::kPressure); }
int dualpvr_main(int argc, char* argv[]) { return run_dual_module(argc, argv, DualKind::kPvr); }

}  // namespace vaslab
