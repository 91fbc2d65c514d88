#include "vaslab/studies/single_channel.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "platform/clock.h"
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

void draw_volume_indicator(int volume) {
  char name[24];
  std::snprintf(name, sizeof name, "sdp_ind_vol_%d", volume);
  DrawBitmap(name, 439, 190, 545, 216);
}

// --- The acquisition screen's buttons ---------------------------------------------

int make_acquisition_table(ButtonRecord* table, const AcquisitionCodes& c, std::initializer_list<ButtonRecord> own,
                           bool capture_shown) {
  auto button = [](int x1, int y1, int x2, int y2, const char* label, int code, int remote = 0) {
    return make_button(x1, y1, x2, y2, label, code, 0, remote);
  };
  int n = 0;
  auto add = [&](const ButtonRecord& b) {
    if (n < kAcquisitionButtons) table[n++] = b;
  };
  if (capture_shown) {
    add(button(8, 410, 220, 472, "CAPTURE^glbl_capt", kCodeCapture, 9));
  } else {
    add(button(700, 700, 700, 700, "", kCodeCapture, 9));
    table[n - 1].state = kButtonHidden;
  }
  add(button(228, 410, 385, 472, "EXIT^glbl_exit", kCodeExit, 17));
  add(button(393, 410, 544, 472, "Next^glbl_next", kCodeNext, 16));
  add(button(552, 410, 632, 472, "Back^sdp_back", kCodeBack, 18));
  for (const ButtonRecord& b : own) add(b);
  add(button(560, 40, 632, 90, "Gain UP^sdp_gain_up", c.gain_up));
  add(button(560, 96, 632, 146, "Gain DOWN^sdp_gain_dn", c.gain_down));
  add(button(560, 152, 632, 202, "Baseline UP^sdp_bsln_up", c.baseline_up));
  add(button(560, 208, 632, 258, "Baseline DOWN^sdp_bsln_dn", c.baseline_down));
  if (c.probe) add(button(439, 40, 552, 70, "Probe^sdp_probe", c.probe));
  add(button(308, 330, 392, 391, "Volume UP^sdp_vol_up", c.volume_up));
  add(button(400, 330, 484, 391, "Volume DOWN^sdp_vol_dn", c.volume_down));
  if (c.mute) add(button(492, 330, 632, 391, "Mute^sdp_mute", c.mute));
  table[n] = kButtonTableEnd;
  return n;
}

void draw_acquisition_screen(const char* background, const char* title, ButtonRecord* table,
                             const AcquisitionCodes& codes, const StudyPage& p, int volume) {
  load_background(background);
  clear_screen();
  draw_screen_title(title);
  update_setting_buttons(table, codes, p, volume);
}

SettingChange press_setting_button(int e, const AcquisitionCodes& c, const SettingFlags& flags, StudyPage& p,
                                   VolumeControl& volume) {
  if (e == kNoEvent || e < 0) return SettingChange::kNone;
  const int code = e & ~kRepeatBit;
  if ((e & kRepeatBit) && code != c.baseline_up && code != c.baseline_down && code != c.volume_up &&
      code != c.volume_down)
    return SettingChange::kNone;
  if (code == c.gain_up || code == c.gain_down) {
    if (flags.gain & kSettingLocked) return SettingChange::kNone;
    if (code == c.gain_up && p.gain < 10) ++p.gain;
    else if (code == c.gain_down && p.gain > 0) --p.gain;
    else return SettingChange::kNone;
    return SettingChange::kGain;
  }
  if (code == c.baseline_up || code == c.baseline_down) {
    if (flags.baseline & kSettingLocked) return SettingChange::kNone;
    if (code == c.baseline_up && p.baseline < 255) ++p.baseline;
    else if (code == c.baseline_down && p.baseline > 0) --p.baseline;
    else return SettingChange::kNone;
    return SettingChange::kBaseline;
  }
  const bool mute = c.mute && code == c.mute;
  if (code != c.volume_up && code != c.volume_down && !mute) return SettingChange::kNone;
  if (flags.volume & kSettingLocked) return SettingChange::kNone;
  if (mute) toggle_mute(volume);
  else if (code == c.volume_up) volume_up(volume);
  else volume_down(volume);
  send_module_command(volume_command(volume.volume));
  draw_volume_indicator(volume.volume);
  return SettingChange::kVolume;
}

void update_setting_buttons(ButtonRecord* table, const AcquisitionCodes& c, const StudyPage& p, int volume) {
  auto enable = [table](int code, bool on) {
    if (ButtonRecord* b = find_button(table, code)) b->state = on ? kButtonShown : kButtonGreyed;
  };
  enable(c.gain_up, p.gain < 10);
  enable(c.gain_down, p.gain > 0);
  enable(c.baseline_up, p.baseline < 255);
  enable(c.baseline_down, p.baseline > 0);
  enable(c.volume_up, volume < 10);
  if (ButtonRecord* m = c.mute ? find_button(table, c.mute) : nullptr)
    set_button_label(*m, volume > 0 ? "Mute^sdp_mute" : "UnMute^sdp_unmute");
  draw_buttons(table);
}

int leave_acquisition(ModuleRun& run, ButtonRecord* table, int code, int window, bool both_channels) {
  send_module_command(0);
  mark_dirty(kDirtyWholeWindow);
  wait_button_release(table);
  if (code != kCodeCapture) return code;
  run.page->save_time = static_cast<std::int32_t>(std::time(nullptr));
  capture_window(*run.page, window, both_channels);
  return 0;
}

// --- Cuff holds ----------------------------------------------------------------------

void reset_cuff_hold(CuffHold& h) {
  h.inflate_countdown = hardware_settings().inflate_delay;
  h.deflate_countdown = hardware_settings().deflate_delay;
}

bool cuff_tap_repeated(CuffHold& h, bool inflate) {
  const int tap = inflate ? 1 : 2;
  const std::uint32_t now = platform::tick_ms();
  const bool repeated = tap == h.last_tap && platform::ticks_since(h.last_tap_at, now) < kPressSettleMs;
  h.last_tap = tap;
  if (!repeated) h.last_tap_at = now;
  return repeated;
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

void SingleChannelModule::set_label(const char* text) { std::snprintf(label_, sizeof label_, "%.29s", text); }

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

  hide_live_stopwatch(run);
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
