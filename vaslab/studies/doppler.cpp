#include "vaslab/studies/doppler.h"

#include <algorithm>
#include <cstdio>
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

constexpr AcquisitionCodes kCodes = {kDopplerGainUp, kDopplerGainDown, kDopplerBaselineUp, kDopplerBaselineDown,
                                     kDopplerProbe,  kDopplerVolumeUp, kDopplerVolumeDown, kDopplerMute};

class Doppler : public SingleChannelModule {
 public:
  // --- The frame's side ---
  int read_prefix(ModuleRun& run) override {
    const int r = read_doppler_step(run.template_path, run.current, kStudyStepClass, step_);
    if (r != 0) return r;
    convert_old_numbering(step_);
    set_label(step_.label);
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
    start_page_settings(run, step_);
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

  // --- The post screen's side ---
  const char* background() const override { return "sdw_post_bkgd"; }
  int window() const override { return strip_; }
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
    make_acquisition_table(table_, kCodes,
                           {make_button(8, 330, 150, 391, "Invert^sdw_invert", kDopplerInvert, 0, 19),
                            make_button(158, 330, 300, 391, "Filter^sdw_filter", kDopplerFilter, 0, 20)});
  }
  void update_buttons(const StudyPage& p) { update_setting_buttons(table_, kCodes, p, volume_.volume); }

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

  int acquisition_screen(ModuleRun& run) {
    StudyPage& p = *run.page;
    make_table();
    draw_acquisition_screen("sdw_bkgd", label_, table_, kCodes, p, volume_.volume);
    draw_scale_bitmap(p.gain, kIndicatorX, 150);
    draw_volume_indicator(volume_.volume);
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
      if (e >= kCodeCapture && e <= kCodeBack) return leave_acquisition(run, table_, e, window_, false);
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
      if (ButtonRecord* b = find_button(table_, -e)) draw_button_normal(*b);
      return;
    }
    switch (press_setting_button(e, kCodes, {step_.gain_flags, step_.baseline_flags, step_.volume_flags}, p, volume_)) {
      case SettingChange::kNone: break;
      case SettingChange::kGain:
        send_gain(p);
        clear_live_trace(trace_);
        return update_buttons(p);
      case SettingChange::kBaseline:
        send_baseline(p);
        clear_live_trace(trace_);
        return update_buttons(p);
      case SettingChange::kVolume: return update_buttons(p);
    }
    // The module's own buttons do not act on their repeats.
    if (e & kRepeatBit) return;
    switch (e) {
      case kDopplerInvert: {
        const bool was = step_.probe_flags & kInvertedBit;
        step_.probe_flags ^= kInvertedBit;
        send_module_command(was ? 48 : 49);
        draw_inversion();
        break;
      }
      case kDopplerProbe:
        if (locked(step_.probe_flags)) break;
        p.probe = static_cast<std::int16_t>(p.probe == 16 ? 15 : 16);
        send_volume();
        draw_probe_indicator(p.probe);
        restart_trace(p);
        clear_live_trace(trace_);
        break;
      case kDopplerFilter:
        step_.filter_mode_flags = static_cast<std::uint8_t>(next_filter_mode_flags(step_.filter_mode_flags));
        draw_filter();
        select_filter(step_.filter_mode_flags, p.filter_code, filter_);
        break;
      default: break;
    }
  }

  DopplerStep step_{};
  int window_ = kFullStrip;
  int strip_ = kFullStrip;
  IirLowPass filter_;
  VolumeControl volume_;
  FrameReader reader_;
  LiveTrace trace_;
  ButtonRecord table_[kAcquisitionButtons + 1];
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
