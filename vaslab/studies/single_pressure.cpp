#include "vaslab/studies/single_pressure.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "vaslab/core/input/digital_io.h"
#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/input/system_utils.h"
#include "vaslab/core/settings/settings.h"
#include "vaslab/core/toolkit/buttons.h"
#include "vaslab/core/toolkit/keyboard_entry.h"
#include "vaslab/core/toolkit/screen.h"
#include "vaslab/core/toolkit/stopwatch.h"
#include "vaslab/core/toolkit/trace_strips.h"
#include "vaslab/studies/module_frame.h"
#include "vaslab/studies/sample_frames.h"
#include "vaslab/studies/single_channel.h"
#include "vaslab/studies/study_template.h"

namespace vaslab {
namespace {

constexpr int kWindow = 296;
// The cuff pressure readout sits on a light plate of the background, clear of
// the gain and baseline buttons that its box would otherwise cover.
constexpr int kReadoutX = 330, kReadoutY = 260;
// On the post screen the column of Set Output, Do Over and View stands
// there: the readout moves left, under the trace.
constexpr int kPostReadoutX = 140, kPostReadoutY = 260;

ButtonRecord button(int x1, int y1, int x2, int y2, const char* label, int code, int remote = 0) {
  return make_button(x1, y1, x2, y2, label, code, 0, remote);
}

constexpr AcquisitionCodes kCodes = {kPressGainUp, kPressGainDown, kPressBaselineUp, kPressBaselineDown,
                                     kPressProbe,  kPressVolumeUp, kPressVolumeDown, kPressMute};

class SinglePressure : public SingleChannelModule {
 public:
  // --- The frame's side ---
  int read_prefix(ModuleRun& run) override {
    const int r = read_pressure_step(run.template_path, run.current, step_);
    if (r != 0) return r;
    convert_old_numbering(step_);
    set_label(step_.label);
    pressure_limit_ = step_.over_range + 100;
    return 0;
  }

  void send_step_commands(ModuleRun&) override {
    const HardwareSettings& hw = hardware_settings();
    send_module_command(42);
    send_module_command(194, hw.right_bp_offset);
    send_module_command(195, hw.right_bp_span);
    send_module_command(54);
    send_module_command(51);
    send_module_command(48);
    send_module_command(17);
    send_module_command(196, hw.left_bp_offset);
    send_module_command(197, hw.left_bp_span);
    send_module_command(29);
    send_module_command(26);
    send_module_command(23);
    send_module_command(204, step_.over_range);
    send_module_command(205, step_.over_range);
    send_module_command(81);
  }

  bool stopwatch_shown(const ModuleRun&) override { return step_.show_stopwatch & 1; }

  void start_new_page(ModuleRun& run) override {
    StudyPage& p = *run.page;
    start_page_settings(run, step_);
    start_volume(volume_, run.volume);
    probe_setup(p);
    send_gain(p);
    send_baseline(p);
    select_cuffs(step_.cuff_select);
    select_filter(step_.filter_mode_flags, p.filter_code, filter_);
  }

  int acquire(ModuleRun& run) override {
    const int r = acquisition_screen(run);
    select_cuffs(0);
    carry_settings(run, volume_.volume);
    return r;
  }

  // --- The post screen's side ---
  const char* background() const override { return "sdp_bkgd_post"; }
  int window() const override { return kWindow; }

  void draw_readout(ModuleRun& run) override {
    const StudyPage& p = *run.page;
    if (p.short_text[0]) {
      draw_pressure_value(p.short_text, 0, nullptr, pressure_limit_, kPostReadoutX, kPostReadoutY, 1);
      shown_pressure_ = -1;
      return;
    }
    const int v = p.count > 0 ? p.channel_2[p.newest] & 0x1FF : 0;
    draw_pressure_value(nullptr, v, &shown_pressure_, pressure_limit_, kPostReadoutX, kPostReadoutY, 1);
  }

  int own_buttons(ButtonRecord* out, int room) override {
    if (room < 1) return 0;
    out[0] = button(460, 180, 618, 241, "Set Output^dpp_post_setout", kPressSetOutput, 0);
    return 1;
  }

  void redrawn() override { shown_pressure_ = -1; }

  void scroll_pressed(ModuleRun& run) override { run.page->short_text[0] = 0; }

  bool own_button(ModuleRun& run, int e) override {
    if (e != kPressSetOutput) return false;
    wait_button_release(current_button_table());
    set_button_mode_repeat();
    char now[8];
    shown_output(*run.page, now, sizeof now);
    edit_text_field("Set Output to:", run.page->short_text, 4, 0, std::strstr(label_, "Brachial") != nullptr, now);
    run.page->short_text[4] = 0;
    set_button_mode_capture();
    shown_pressure_ = -1;
    return true;
  }

 private:
  bool locked(std::uint8_t flags) const { return flags & kSettingLocked; }
  bool channel_1() const { return step_.cuff_channel & 1; }

  void probe_setup(const StudyPage& p) {
    const int gain_flags = p.gain < 5 ? 3 : 11;
    if (p.probe == 5) {
      send_module_command(42);
      send_module_command(78);
      send_module_command(49);
      select_filter(gain_flags, p.filter_code, filter_);
    } else if (p.probe == 6) {
      send_module_command(17);
      send_module_command(78);
      send_module_command(24);
      select_filter(gain_flags, p.filter_code, filter_);
    } else {
      send_module_command(46);
      send_module_command(48);
      send_module_command(volume_command(volume_.volume));
      select_filter(13, p.filter_code, filter_);
    }
  }

  void send_gain(const StudyPage& p) {
    draw_scale_bitmap(p.gain, 439, 150);
    send_module_command(gain_command_ch1(p.gain));
    send_module_command(gain_command_ch2(p.gain));
    select_filter(p.gain < 5 ? 3 : 11, p.filter_code, filter_);
  }

  void send_baseline(const StudyPage& p) {
    send_module_command(178, p.baseline);
    send_module_command(153, p.baseline);
  }

  void make_table() {
    make_acquisition_table(table_, kCodes,
                           {button(8, 330, 150, 391, "Inflate^sdp_infl", kPressInflate, 19),
                            button(158, 330, 300, 391, "Deflate^sdp_defl", kPressDeflate, 20)});
  }
  void update_buttons(const StudyPage& p) { update_setting_buttons(table_, kCodes, p, volume_.volume); }

  void restart_trace(StudyPage& p) {
    p.count = 0;
    p.newest = 0;
    clear_live_trace(trace_);
  }

  void take_frame(StudyPage& p) {
    const int v1 = (step_.cuff_channel & 2) ? reader_.value[1] : reader_.value[0];
    const int v3 = p.probe == 6 ? reader_.value[3] : reader_.value[2];
    const int s = take_waveform_sample(p, v3, &filter_);
    if (s < 0) clear_live_trace(trace_);
    else draw_live_sample(trace_, s);
    p.channel_2[p.newest] = static_cast<std::int16_t>(v1);
    last_pressure_ = v1;
  }

  void cuff_press(bool inflate) {
    if (cuff_tap_repeated(hold_, inflate)) return;
    const bool ch1 = channel_1();
    const int mode = inflate ? step_.inflate_mode : step_.deflate_mode;
    if (mode != 0) {
      cuff_hold_press(hold_, inflate, ch1);
      return;
    }
    send_module_command(ch1 ? 183 : 158, inflate ? step_.inflate_target : step_.deflate_target);
    send_module_command(inflate ? (ch1 ? 90 : 84) : (ch1 ? 91 : 85));
  }

  int acquisition_screen(ModuleRun& run) {
    StudyPage& p = *run.page;
    make_table();
    draw_acquisition_screen("sdp_bkgd", label_, table_, kCodes, p, volume_.volume);
    draw_volume_indicator(volume_.volume);
    trace_.width = kWindow;
    clear_live_trace(trace_);
    get_scale_baseline_row(p.baseline, 4, &trace_.baseline_tick);
    probe_setup(p);
    draw_probe_indicator(p.probe);
    draw_scale_bitmap(p.gain, 439, 150);
    reset_cuff_hold(hold_);
    start_tick_timer(1, 500, kTickPeriodic);
    drain_module_bytes();
    reader_ = FrameReader{};
    send_module_command(cutoff_command(p.filter_code));
    shown_pressure_ = -1;

    for (;;) {
      tick_stopwatch().draw();
      const int e = get_button_event(table_);
      if (e >= kCodeCapture && e <= kCodeBack) return leave_acquisition(run, table_, e, kWindow, true);
      handle_button(p, e);
      if (tick_timer_expired(1) && !(p.flags & kPageDeletedSide))
        draw_pressure_value(nullptr, last_pressure_, &shown_pressure_, pressure_limit_, kReadoutX, kReadoutY, 1);
      if (read_frame(reader_)) take_frame(p);
    }
  }

  void handle_button(StudyPage& p, int e) {
    if (e == kNoEvent) return;
    if (e < 0) {
      if (e == -kPressInflate || e == -kPressDeflate) {
        const int mode = e == -kPressInflate ? step_.inflate_mode : step_.deflate_mode;
        if (mode != 0) cuff_hold_release(hold_);
      }
      if (ButtonRecord* b = find_button(table_, -e)) draw_button_normal(*b);
      return;
    }
    switch (press_setting_button(e, kCodes, {step_.gain_flags, step_.baseline_flags, step_.volume_flags}, p, volume_)) {
      case SettingChange::kNone: break;
      case SettingChange::kGain: send_gain(p); return update_buttons(p);
      case SettingChange::kBaseline:
        get_scale_baseline_row(p.baseline, 4, &trace_.baseline_tick);
        send_baseline(p);
        return update_buttons(p);
      case SettingChange::kVolume: return update_buttons(p);
    }
    switch (e) {
      case kPressInflate: cuff_press(true); break;
      case kPressDeflate: cuff_press(false); break;
      case kPressInflate + kRepeatBit:
        if (step_.inflate_mode != 0) cuff_hold_repeat(hold_, true, channel_1());
        break;
      case kPressDeflate + kRepeatBit:
        if (step_.deflate_mode != 0) cuff_hold_repeat(hold_, false, channel_1());
        break;
      case kPressProbe:
        if (locked(step_.probe_flags)) break;
        p.probe = static_cast<std::int16_t>(next_pressure_probe(p.probe));
        draw_probe_indicator(p.probe);
        restart_trace(p);
        probe_setup(p);
        draw_scale_bitmap(p.gain, 439, 150);
        select_filter(step_.filter_mode_flags, p.filter_code, filter_);
        break;
      default: break;
    }
  }

  PressureStep step_{};
  int pressure_limit_ = 0;
  IirLowPass filter_;
  VolumeControl volume_;
  CuffHold hold_;
  FrameReader reader_;
  LiveTrace trace_;
  int last_pressure_ = 0;
  int shown_pressure_ = -1;
  ButtonRecord table_[kAcquisitionButtons + 1];
};

}  // namespace

int next_pressure_probe(int probe) {
  switch (probe) {
    case 5: return 6;
    case 6: return 16;
    case 16: return 15;
    default: return 5;
  }
}

int onepres_main(int argc, char* argv[]) {
  SinglePressure module;
  return run_study_module(argc, argv, module);
}

}  // namespace vaslab
