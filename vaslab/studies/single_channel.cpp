#include "vaslab/studies/single_channel.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/input/system_utils.h"
#include "vaslab/core/settings/settings.h"
#include "vaslab/core/toolkit/screen.h"
#include "vaslab/core/toolkit/stopwatch.h"
#include "vaslab/core/toolkit/trace_strips.h"
#include "vaslab/studies/sample_frames.h"
#include "vaslab/studies/study_template.h"

namespace vaslab {
namespace {

// The newest column of a strip of `width` columns, in byte and mask form: the
// last of the strip area, whose right-most `width` columns the strip uses.
void newest_column(int width, int& byte_number, int& mask) {
  const int col = (width > 296 ? 592 : 296) - 1;
  byte_number = col / 8 + 1;
  mask = 0x80 >> (col % 8);
}

// The page is packed: the ring is turned in an aligned copy.
void rotate_ring(void* ring, int newest) {
  std::vector<std::int16_t> copy(kRingSamples);
  std::memcpy(copy.data(), ring, copy.size() * sizeof(std::int16_t));
  std::rotate(copy.begin(), copy.begin() + (newest + 1) % kRingSamples, copy.end());
  std::memcpy(ring, copy.data(), copy.size() * sizeof(std::int16_t));
}

ButtonRecord* find_button(ButtonRecord* table, int code) {
  for (ButtonRecord* b = table; !is_table_end(*b); ++b)
    if (b->button_code == code) return b;
  return nullptr;
}

void set_enabled(ButtonRecord* b, bool on) {
  if (!b) return;
  if (on) enable_button(*b);
  else disable_button(*b);
}

constexpr int kLeftFast = 103, kRightFast = 102, kLeftSlow = 105, kRightSlow = 104;

void update_scroll_buttons(ButtonRecord* table, const StudyPage& p) {
  const bool left = p.newest > 0, right = p.newest < p.count - 1;
  set_enabled(find_button(table, kLeftFast), left);
  set_enabled(find_button(table, kLeftSlow), left);
  set_enabled(find_button(table, kRightFast), right);
  set_enabled(find_button(table, kRightSlow), right);
}

void draw_captured_window(const StudyPage& p, LiveTrace& t) {
  clear_live_trace(t);
  if (p.count <= 0) return;
  const int from = p.report_start < 0 ? 0 : p.report_start + 1;
  for (int i = from; i <= p.newest && i < kRingSamples; ++i) draw_live_sample(t, p.channel_1[i]);
}

}  // namespace

// --- The live trace ------------------------------------------------------------

void clear_live_trace(LiveTrace& t) {
  erase_strip(left_strip(), t.width);
  t.previous = -1;
}

void draw_live_sample(LiveTrace& t, int sample) {
  int byte_number = 0, mask = 0;
  newest_column(t.width, byte_number, mask);
  // The first sample of a trace is a point, not a line up from the bottom.
  draw_trace_segment(left_strip(), t.baseline_tick, t.previous < 0 ? sample : t.previous, sample, mask,
                     byte_number);
  show_strip(left_strip(), t.width, kStripX);
  t.previous = sample;
}

void capture_window(StudyPage& page, int window, bool both_channels) {
  if (page.count >= kRingSamples) {
    rotate_ring(&page.channel_1, page.newest);
    if (both_channels) rotate_ring(&page.channel_2, page.newest);
    page.newest = kRingSamples - 1;
  }
  page.report_start = static_cast<std::int16_t>(page.newest - window);
}

int move_window(StudyPage& page, int steps) {
  int moved = 0;
  while (steps > 0 && page.newest < page.count - 1) {
    ++page.newest;
    ++page.report_start;
    --steps;
    ++moved;
  }
  while (steps < 0 && page.newest > 0) {
    --page.newest;
    --page.report_start;
    ++steps;
    ++moved;
  }
  return moved;
}

// --- Volume ------------------------------------------------------------------------

void start_volume(VolumeControl& v, int volume) {
  v.volume = std::clamp(volume, 0, 10);
  v.saved = v.volume == 0 ? 3 : 0;
}

void volume_up(VolumeControl& v) {
  if (v.volume < 10) ++v.volume;
  v.saved = 0;
}

void volume_down(VolumeControl& v) {
  if (v.volume > 0) --v.volume;
  if (v.volume == 0) v.saved = 3;
}

void toggle_mute(VolumeControl& v) { std::swap(v.volume, v.saved); }

// --- Cuff holds ----------------------------------------------------------------------

void reset_cuff_hold(CuffHold& h) {
  h.inflate_countdown = hardware_settings().inflate_delay;
  h.deflate_countdown = hardware_settings().deflate_delay;
}

void cuff_hold_press(CuffHold& h, bool inflate, bool channel_1) {
  if (inflate) {
    send_module_command(channel_1 ? 92 : 86);
    (channel_1 ? h.inflate_ch1 : h.inflate_ch2) = true;
  } else {
    send_module_command(channel_1 ? 94 : 88);
    (channel_1 ? h.deflate_ch1 : h.deflate_ch2) = true;
  }
}

void cuff_hold_repeat(CuffHold& h, bool inflate, bool channel_1) {
  int& countdown = inflate ? h.inflate_countdown : h.deflate_countdown;
  if (countdown > 0) {
    --countdown;
    return;
  }
  cuff_hold_press(h, inflate, channel_1);
}

void cuff_hold_release(CuffHold& h) {
  reset_cuff_hold(h);
  if (h.inflate_ch1) send_module_command(93);
  if (h.inflate_ch2) send_module_command(87);
  if (h.deflate_ch1) send_module_command(95);
  if (h.deflate_ch2) send_module_command(89);
  h.inflate_ch1 = h.inflate_ch2 = h.deflate_ch1 = h.deflate_ch2 = false;
}

// --- Location picker ------------------------------------------------------------------

bool read_step_label(const ModuleRun& run, int step, char* out30) {
  std::uint8_t rec[32] = {};
  if (!read_template_record(run.template_path, step, sizeof rec, rec)) return false;
  std::memcpy(out30, rec + 2, 29);
  out30[29] = 0;
  return true;
}

int run_location_picker(ModuleRun& run, PostScreen& screen) {
  const int remembered = run.current;
  const int last = run.first + run.count - 1;
  int shown = run.current;
  char label[30];
  std::snprintf(label, sizeof label, "%.29s", screen.label());
  ButtonRecord table[] = {
      make_button(540, 250, 627, 327, "^loc_up", 102, 294, 19),
      make_button(540, 334, 627, 411, "^loc_down", 103, 296, 20),
      make_button(427, 408, 639, 479, "OK^glbl_accept", 0, 13, 9),
      make_button(0, 408, 157, 479, "Cancel^glbl_cancel", 1, kEscapeKeyCode, 17),
      kButtonTableEnd,
  };
  draw_bitmap_on_background("loc_bkgd", 0, 240, 639, 479);
  for (;;) {
    set_enabled(&table[0], shown > run.first);
    set_enabled(&table[1], shown < last);
    const char* more = shown > run.first && shown < last ? "loc_ind_more_1"
                       : shown > run.first               ? "loc_ind_more_2"
                       : shown < last                    ? "loc_ind_more_3"
                                                         : nullptr;
    fill_rect_color(440, 250, 530, 276, kColorBackground);
    if (more) DrawBitmap(more, 440, 250, 527, 273);
    fill_rect_color(100, 300, 530, 330, kColorBackground);
    draw_font_text(0, scale_x(120), scale_y(304), label, 0xFFFFFF);
    flush_area(100, 300, 530, 330);
    draw_buttons(table);
    int e = kNoEvent;
    while ((e = get_button_event(table)) == kNoEvent || e < 0) {
    }
    wait_button_release(table);
    if (e == 102 || e == 103) {
      const int next = e == 102 ? shown - 1 : shown + 1;
      if (next < run.first || next > last) continue;
      char got[30];
      if (!read_step_label(run, next, got)) {
        run.current = remembered;
        return 1;
      }
      shown = next;
      std::memcpy(label, got, sizeof label);
      continue;
    }
    if (e == 0) {
      run.current = shown;
      screen.set_label(label);
      return 0;
    }
    run.current = remembered;
    return 1;
  }
}

// --- Post screen ------------------------------------------------------------------------

int run_post_screen(ModuleRun& run, PostScreen& screen) {
  StudyPage& p = *run.page;
  // The picker has no place on the screen, only its remote and panel key;
  // it comes first so that the key walks, which stop at the first entry
  // without a key, reach it.
  std::vector<ButtonRecord> table = {
      make_button(700, 700, 700, 700, "", kCodePicker, 0, kRemotePicker),
      make_button(8, 410, 160, 472, "Proceed^glbl_procd", 0, 289, 9),
      make_button(168, 410, 326, 472, "EXIT^glbl_exit", 1, kEscapeKeyCode, 17),
      make_button(334, 410, 477, 472, "Back^glbl_back", 3, 0, 18),
      make_button(460, 250, 617, 311, "Do Over^dpp_post_dover", 7, 'd', 11),
      make_button(460, 320, 617, 381, "View^dpp_post_view", 12, 'v', 12),
      // The keys still reach a scroll button that is greyed at its end.
      make_button(8, 330, 81, 391, "\x1b\x1b^sdp_scrfast_lt", kLeftFast, 0, kRemoteFastLeft),
      make_button(88, 330, 154, 391, "\x1b^sdp_scrslow_lt", kLeftSlow, 294, kRemoteSlowLeft),
      make_button(162, 330, 228, 391, "\x1a^sdp_scrslow_rt", kRightSlow, 296, kRemoteSlowRight),
      make_button(236, 330, 309, 391, "\x1a\x1a^sdp_scrfast_rt", kRightFast, 0, kRemoteFastRight),
  };
  table.front().state = kButtonHidden;
  ButtonRecord own[8];
  const int n_own = screen.own_buttons(own, 8);
  for (int i = 0; i < n_own; ++i) table.push_back(own[i]);
  table.push_back(kButtonTableEnd);

  LiveTrace trace;
  trace.width = screen.window();
  get_scale_baseline_row(p.baseline, 4, &trace.baseline_tick);
  bool redraw = true;
  for (;;) {
    if (redraw) {
      load_background(screen.background());
      clear_screen();
      update_scroll_buttons(table.data(), p);
      draw_screen_title(screen.label());
      draw_buttons(table.data());
      draw_captured_window(p, trace);
      screen.redrawn();
      redraw = false;
    }
    screen.draw_readout(run);
    tick_stopwatch().draw();
    const int e = get_button_event(table.data());
    if (e == kNoEvent || e < 0) continue;
    const int code = e & ~kRepeatBit;
    switch (code) {
      case 0: case 1: case 3: case 7: case 12:
        if (e & kRepeatBit) break;
        wait_button_release(table.data());
        mark_dirty(kDirtyWholeWindow);
        return code;
      case kLeftFast: case kRightFast: case kLeftSlow: case kRightSlow: {
        screen.scroll_pressed(run);
        const int want = code == kLeftFast ? -5 : code == kRightFast ? 5 : code == kLeftSlow ? -1 : 1;
        const int moved = move_window(p, want);
        const int failed = (want < 0 ? -want : want) - moved;
        if (screen.beep_each_failed_move()) {
          for (int i = 0; i < failed; ++i) beep_once();
        } else if (moved == 0) {
          beep_once();
        }
        update_scroll_buttons(table.data(), p);
        draw_buttons(table.data());
        if (moved) draw_captured_window(p, trace);
        break;
      }
      case kCodePicker:
        if (e & kRepeatBit) break;
        wait_button_release(table.data());
        run_location_picker(run, screen);
        redraw = true;
        break;
      default:
        if (screen.own_button(run, e)) redraw = true;
        break;
    }
  }
}

}  // namespace vaslab
