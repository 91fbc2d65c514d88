#include "vaslab/studies/doppler.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "vaslab/core/input/digital_io.h"
#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/toolkit/buttons.h"
#include "vaslab/core/toolkit/screen.h"
#include "vaslab/core/toolkit/stopwatch.h"
#include "vaslab/core/toolkit/trace_strips.h"
#include "vaslab/studies/module_entries.h"
#include "vaslab/studies/module_frame.h"
#include "vaslab/studies/sample_frames.h"
#include "vaslab/studies/single_channel.h"
#include "vaslab/studies/study_template.h"

namespace vaslab {
namespace {

constexpr int kFullStrip = 296;
constexpr int kInvertedBit = 0x04;
constexpr int kIndicatorX = 439;

ButtonRecord button(int x1, int y1, int x2, int y2, const char* label, int code, int remote = 0) {
  return make_button(x1, y1, x2, y2, label, code, 0, remote);
}

class Doppler : public StepScreens, public PostScreen {
 public:
  // --- The frame's side ---
  int read_prefix(ModuleRun& run) override {
    const int r = read_doppler_step(run.template_path, run.current, kStudyStepClass, step_);
    if (r != 0) return r;
    convert_old_numbering(step_);
    std::snprintf(label_, sizeof label_, "%.29s", step_.label);
    window_ = doppler_window(step_.report_window);
    strip_ = doppler_strip_width(window_);
    return 0;
  }

  void send_step_commands(ModuleRun&) override {
    for (int c : {46, 48, 21, 23}) send_module_command(c);
  }

  bool stopwatch_shown(const ModuleRun&) override { return step_.show_stopwatch & 1; }

  void start_new_page(ModuleRun& run) override {
    StudyPage& p = *run.page;
    run.baseline = carried_setting(run.baseline, step_.baseline_flags, step_.baseline);
    run.gain = carried_setting(run.gain, step_.gain_flags, step_.gain);
    run.probe = carried_setting(run.probe, step_.probe_flags, step_.probe);
    run.volume = carried_setting(run.volume, step_.volume_flags, step_.volume);
    p.baseline = static_cast<std::int16_t>(run.baseline);
    p.gain = static_cast<std::int16_t>(run.gain);
    p.probe = static_cast<std::int16_t>(run.probe);
    p.filter_code = step_.filter_code;
    start_volume(volume_, run.volume);
    send_volume();
    send_gain(p);
    send_baseline(p);
    if (step_.probe_flags & kInvertedBit) send_module_command(49);
    if (step_.probe_flags & 0x08) send_module_command(5);
    if (step_.probe_flags & 0x10) send_module_command(4);
    select_cuffs(step_.cuff_select);
    select_filter(step_.filter_mode_flags, p.filter_code, filter_);
  }

  int acquire(ModuleRun& run) override {
    const int r = acquisition_screen(run);
    carry_settings(run, volume_.volume);
    return r;
  }

  int post(ModuleRun& run) override { return run_post_screen(run, *this); }

  // --- The post screen's side ---
  const char* background() const override { return "sdw_post_bkgd"; }
  int window() const override { return strip_; }
  const char* label() const override { return label_; }
  void set_label(const char* text) override { std::snprintf(label_, sizeof label_, "%.29s", text); }
  bool beep_each_failed_move() const override { return true; }

 private:
  bool locked(std::uint8_t flags) const { return flags & kSettingLocked; }

  void send_volume() {
    send_module_command(volume_command(volume_.volume));
    send_module_command(21);
  }
  void send_gain(StudyPage& p) {
    draw_scale_bitmap(p.gain, kIndicatorX, 150);
    send_module_command(gain_command_ch1(p.gain));
    restart_trace(p);
  }
  void send_baseline(StudyPage& p) {
    get_scale_baseline_row(p.baseline, 4, &trace_.baseline_tick);
    send_module_command(178, p.baseline);
    restart_trace(p);
  }
  void restart_trace(StudyPage& p) {
    p.count = 0;
    p.newest = 0;
    trace_.previous = -1;  // the next sample starts the trace afresh
  }

  void make_table() {
    ButtonRecord t[] = {
        button(8, 410, 220, 472, "CAPTURE^glbl_capt", kCodeCapture, 9),
        button(228, 410, 385, 472, "EXIT^glbl_exit", kCodeExit, 17),
        button(393, 410, 544, 472, "Next^glbl_next", kCodeNext, 16),
        button(552, 410, 632, 472, "Back^sdp_back", kCodeBack, 18),
        button(8, 330, 150, 391, "Invert^sdw_invert", kDopplerInvert, 19),
        button(158, 330, 300, 391, "Filter^sdw_filter", kDopplerFilter, 20),
        button(560, 40, 632, 90, "Gain UP^sdp_gain_up", kDopplerGainUp, 0),
        button(560, 96, 632, 146, "Gain DOWN^sdp_gain_dn", kDopplerGainDown, 0),
        button(560, 152, 632, 202, "Baseline UP^sdp_bsln_up", kDopplerBaselineUp, 0),
        button(560, 208, 632, 258, "Baseline DOWN^sdp_bsln_dn", kDopplerBaselineDown, 0),
        button(439, 40, 552, 70, "Probe^sdp_probe", kDopplerProbe, 0),
        button(308, 330, 392, 391, "Volume UP^sdp_vol_up", kDopplerVolumeUp, 0),
        button(400, 330, 484, 391, "Volume DOWN^sdp_vol_dn", kDopplerVolumeDown, 0),
        button(492, 330, 632, 391, "Mute^sdp_mute", kDopplerMute, 0),
        kButtonTableEnd,
    };
    static_assert(sizeof t / sizeof t[0] == kButtons + 1);
    std::memcpy(static_cast<void*>(table_), t, sizeof t);
  }

  ButtonRecord* find(int code) {
    for (ButtonRecord* b = table_; !is_table_end(*b); ++b)
      if (b->button_code == code) return b;
    return nullptr;
  }
  void enable(int code, bool on) {
    if (ButtonRecord* b = find(code)) b->state = on ? kButtonShown : kButtonGreyed;
  }
  void update_buttons(const StudyPage& p) {
    enable(kDopplerGainUp, p.gain < 10);
    enable(kDopplerGainDown, p.gain > 0);
    enable(kDopplerBaselineUp, p.baseline < 255);
    enable(kDopplerBaselineDown, p.baseline > 0);
    enable(kDopplerVolumeUp, volume_.volume < 10);
    if (ButtonRecord* m = find(kDopplerMute))
      set_button_label(*m, volume_.volume > 0 ? "Mute^sdp_mute" : "UnMute^sdp_unmute");
    draw_buttons(table_);
  }

  void draw_volume() {
    char name[24];
    std::snprintf(name, sizeof name, "sdp_ind_vol_%d", volume_.volume);
    DrawBitmap(name, kIndicatorX, 190, kIndicatorX + 106, 216);
  }
  void draw_inversion() {
    DrawBitmap(step_.probe_flags & kInvertedBit ? "sdw_ind_yes" : "sdw_ind_no", kIndicatorX, 222, kIndicatorX + 106,
               248);
  }
  void draw_filter() {
    static const char* const kCutoff[] = {"28", "14", "7", "3d5"};
    const int mode = step_.filter_mode_flags & 7;
    if (mode < 2 || mode > 5) {
      fill_rect_color(kIndicatorX, 254, kIndicatorX + 106, 280, kColorBackground);
      flush_area(kIndicatorX, 254, kIndicatorX + 106, 280);
      return;
    }
    char name[24];
    std::snprintf(name, sizeof name, "sdw_ind_filt_%s", kCutoff[mode - 2]);
    DrawBitmap(name, kIndicatorX, 254, kIndicatorX + 106, 280);
  }

  int leave(ModuleRun& run, int code) {
    send_module_command(0);
    mark_dirty(kDirtyWholeWindow);
    wait_button_release(table_);
    if (code != kCodeCapture) return code;
    run.page->save_time = static_cast<std::int32_t>(std::time(nullptr));
    capture_window(*run.page, window_, false);
    return 0;
  }

  int acquisition_screen(ModuleRun& run) {
    StudyPage& p = *run.page;
    make_table();
    load_background("sdw_bkgd");
    clear_screen();
    update_buttons(p);
    draw_screen_title(label_);
    draw_scale_bitmap(p.gain, kIndicatorX, 150);
    draw_volume();
    draw_inversion();
    draw_filter();
    trace_.width = strip_;
    clear_live_trace(trace_);
    get_scale_baseline_row(p.baseline, 4, &trace_.baseline_tick);
    send_volume();
    draw_probe_indicator(p.probe);
    drain_module_bytes();
    reader_ = FrameReader{};
    send_module_command(cutoff_command(p.filter_code));

    for (;;) {
      tick_stopwatch().draw();
      const int e = get_button_event(table_);
      if (e >= kCodeCapture && e <= kCodeBack) return leave(run, e);
      handle_button(p, e);
      if (read_frame(reader_)) {
        const int s = take_waveform_sample(p, reader_.value[2], &filter_);
        if (s < 0) clear_live_trace(trace_);
        else draw_live_sample(trace_, s);
      }
    }
  }

  void handle_button(StudyPage& p, int e) {
    if (e == kNoEvent) return;
    if (e < 0) {
      if (ButtonRecord* b = find(-e)) draw_button_normal(*b);
      return;
    }
    const int code = e & ~kRepeatBit;
    const bool repeat = e & kRepeatBit;
    // Only the baseline and volume buttons act on their repeats.
    if (repeat && code != kDopplerBaselineUp && code != kDopplerBaselineDown && code != kDopplerVolumeUp &&
        code != kDopplerVolumeDown)
      return;
    switch (code) {
      case kDopplerInvert: {
        const bool was = step_.probe_flags & kInvertedBit;
        step_.probe_flags ^= kInvertedBit;
        send_module_command(was ? 48 : 49);
        draw_inversion();
        break;
      }
      case kDopplerGainUp:
      case kDopplerGainDown:
        if (locked(step_.gain_flags)) break;
        if (code == kDopplerGainUp && p.gain < 10) ++p.gain;
        else if (code == kDopplerGainDown && p.gain > 0) --p.gain;
        else break;
        send_gain(p);
        clear_live_trace(trace_);
        update_buttons(p);
        break;
      case kDopplerBaselineUp:
      case kDopplerBaselineDown:
        if (locked(step_.baseline_flags)) break;
        if (code == kDopplerBaselineUp && p.baseline < 255) ++p.baseline;
        else if (code == kDopplerBaselineDown && p.baseline > 0) --p.baseline;
        else break;
        send_baseline(p);
        clear_live_trace(trace_);
        update_buttons(p);
        break;
      case kDopplerProbe:
        if (locked(step_.probe_flags)) break;
        p.probe = static_cast<std::int16_t>(p.probe == 16 ? 15 : 16);
        send_volume();
        draw_probe_indicator(p.probe);
        restart_trace(p);
        clear_live_trace(trace_);
        break;
      case kDopplerVolumeUp:
      case kDopplerVolumeDown:
        if (locked(step_.volume_flags)) break;
        if (code == kDopplerVolumeUp) volume_up(volume_);
        else volume_down(volume_);
        send_module_command(volume_command(volume_.volume));
        draw_volume();
        update_buttons(p);
        break;
      case kDopplerFilter:
        step_.filter_mode_flags = static_cast<std::uint8_t>(next_filter_mode_flags(step_.filter_mode_flags));
        draw_filter();
        select_filter(step_.filter_mode_flags, p.filter_code, filter_);
        break;
      case kDopplerMute:
        if (locked(step_.volume_flags)) break;
        toggle_mute(volume_);
        send_module_command(volume_command(volume_.volume));
        draw_volume();
        update_buttons(p);
        break;
      default: break;
    }
  }

  static constexpr int kButtons = 14;
  DopplerStep step_{};
  char label_[30] = {};
  int window_ = kFullStrip;
  int strip_ = kFullStrip;
  IirLowPass filter_;
  VolumeControl volume_;
  FrameReader reader_;
  LiveTrace trace_;
  ButtonRecord table_[kButtons + 1];
};

}  // namespace

int next_filter_mode_flags(int flags) {
  const int mode = flags & 7;
  const int keep = flags & 0x08;
  switch (mode) {
    case 2: return keep | (flags & 0xF0) | 3;
    case 3: return keep | (flags & 0xF0) | 4;
    case 4: return keep | (flags & 0xF0) | 5;
    case 5: return keep;
    default: return keep | (flags & 0xF0) | 2;
  }
}

int doppler_window(int report_window) { return report_window <= 0 ? kFullStrip : report_window; }

int doppler_strip_width(int window) {
  const int w = window <= 0 ? kFullStrip : window;
  return std::min(((w / 8 - 1) / 2) * 16 + 8, kFullStrip);
}

int doppler_main(int argc, char* argv[]) {
  Doppler module;
  return run_study_module(argc, argv, module);
}

}  // namespace vaslab
