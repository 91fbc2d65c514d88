// The diagnostic steps ("dopalign" from the set-up menus): the unfiltered
// waveform of one module channel while the screen switches the module's
// channel routing every 50 frames and shows how far the waveform moved
// across the switch.  Steps come from "C:\STUDIES\DIAGS\<name>.sty", must
// be diagnostics steps (class 0), and keep their pages in memory only.
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "vaslab/core/input/digital_io.h"
#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/input/system_utils.h"
#include "vaslab/core/toolkit/buttons.h"
#include "vaslab/core/toolkit/screen.h"
#include "vaslab/core/toolkit/stopwatch.h"
#include "vaslab/core/toolkit/trace_strips.h"
#include "vaslab/studies/module_frame.h"
#include "vaslab/studies/sample_frames.h"
#include "vaslab/studies/service_modules.h"
#include "vaslab/studies/single_channel.h"
#include "vaslab/studies/study_template.h"

namespace vaslab {
namespace {

constexpr int kStrip = 296;
constexpr int kSwitchFrames = 50;
constexpr int kDifferenceLimit = 1000;
// The difference readout sits under the strip's left end, on the plate of
// the screen's background: the rows between the title band and the strip
// are fewer than its digits need.
constexpr int kDifferenceX = 8, kDifferenceY = 212;
constexpr int kLabelX = 439, kLabelY = 77;

constexpr int kGainUp = 102, kGainDown = 103, kBaselineUp = 104, kBaselineDown = 105, kSide = 106,
              kVolumeUp = 107, kVolumeDown = 108;
// No Probe and no Mute: Side takes the probe's code.
constexpr AcquisitionCodes kCodes = {kGainUp, kGainDown, kBaselineUp, kBaselineDown, 0, kVolumeUp, kVolumeDown, 0};

// The name comes from the caller: it may only name a file in the folder.
bool plain_name(std::string_view name) {
  return !name.empty() && name.find_first_of("/\\:") == std::string_view::npos &&
         name.find("..") == std::string_view::npos;
}

ButtonRecord button(int x1, int y1, int x2, int y2, const char* label, int code, int remote = 0) {
  return make_button(x1, y1, x2, y2, label, code, 0, remote);
}

class DiagnosticSteps {
 public:
  int run(ModuleRun& run) {
    for (;;) {
      if (read_diagnostics_step(run.template_path, run.current, step_) != 0) return kResultError;
      convert_old_numbering(step_);
      for (int c : {46, 48, 21, 23, 4, 5}) send_module_command(c);
      if (run.stopwatch) {
        run.stopwatch->hide();
        if (step_.show_stopwatch & 1) run.stopwatch->show();
      }
      new_page(run);
      const int r = screen(run);
      if (r == kResultNext || r == kResultStretchDone) {
        if (++run.current >= run.first + run.count) return kResultStretchDone;
      } else if (r == kResultBack) {
        if (--run.current < run.first) return kResultBack;
      } else if (r != kResultDoOver) {
        return r;
      }
    }
  }

 private:
  static int read_diagnostics_step(const std::string& path, int step, DopplerStep& out) {
    return read_doppler_step(path, step, kDiagnosticsStepClass, out);
  }

  void new_page(ModuleRun& run) {
    StudyPage& p = *run.page;
    p = StudyPage{};
    p.report_start = -1;
    p.point_1 = p.point_2 = -1;
    start_page_settings(run, step_);
    volume_ = run.volume;
    const bool inverted = step_.probe_flags & 0x04;
    send_volume();
    send_module_command(gain_command_ch1(p.gain));
    send_module_command(178, p.baseline);
    if (inverted) send_module_command(49);
    send_module_command(gain_command_ch2(p.gain));
    send_module_command(153, p.baseline);
    if (inverted) send_module_command(24);
    // The hardware filter value in both nibbles; only the low byte goes out.
    send_module_command(208, (17 * step_.filter_mode_flags) & 0xFF);
  }

  void send_volume() {
    send_module_command(21);
    send_module_command(volume_command(volume_));
  }

  void draw_screen(const StudyPage& p) {
    // CAPTURE has no button here, only its key.
    make_acquisition_table(table_, kCodes, {button(8, 330, 150, 391, "Side^sdp_side", kSide, 19)}, false);
    // The Doppler screen's background with a light plate under the
    // difference readout, whose digits would not read on the dark ground.
    load_background("dia_bkgd");
    clear_screen();
    char title[30];
    std::snprintf(title, sizeof title, "%.29s", step_.label);
    draw_screen_title(title);
    // The scale beside the strip: 40 at the top down to 0 at the bottom.
    for (int i = 0; i <= 4; ++i) {
      char text[4];
      std::snprintf(text, sizeof text, "%d", 40 - 10 * i);
      const int y = 46 + i * 38;
      fill_rect_color(304, y, 310, y + 1, kColorWhite);
      draw_text_sized(text, y - 6, 314, 16, kColorWhite);
    }
    draw_text_sized("Gain:", 156, 352, 16, kColorWhite);
    if (step_.second_scale == 1) draw_text_sized("Hz/mm", 184, 352, 16, kColorWhite);
    flush_area(304, 30, 438, 200);
    draw_buttons(table_);
    draw_scale_bitmap(p.gain, kLabelX, 150);
  }

  void draw_channel_label() {
    fill_rect_color(kLabelX, kLabelY, kLabelX + 110, kLabelY + 20, kColorBackground);
    draw_text_sized(channel_ == 1 ? "R84 SUP" : "R43 SDW", kLabelY + 2, kLabelX, 16, kColorWhite);
    flush_area(kLabelX, kLabelY, kLabelX + 110, kLabelY + 20);
  }

  void restart(StudyPage& p) {
    p.count = 0;
    p.newest = 0;
  }

  // Every 50 frames: remember the value and route the other way; 50 frames
  // later show how far it moved and route back.
  void alternate(int v3) {
    if (!second_phase_) {
      remembered_ = v3;
      send_module_command(3);
      send_module_command(channel_ == 1 ? 4 : 5);
    } else {
      const int diff = std::abs(v3 - remembered_);
      draw_value_with_limit(diff, 0x7FFF, -1, &shown_difference_, &shown_flag_, kDifferenceLimit, kDifferenceX,
                            kDifferenceY);
      send_module_command(channel_ == 1 ? 5 : 4);
    }
    second_phase_ = !second_phase_;
  }

  int screen(ModuleRun& run) {
    StudyPage& p = *run.page;
    draw_screen(p);
    trace_.width = kStrip;
    clear_live_trace(trace_);
    get_scale_baseline_row(p.baseline, 4, &trace_.baseline_tick);
    send_volume();
    draw_channel_label();
    start_tick_timer(1, 500, kTickPeriodic);
    drain_module_bytes();
    reader_ = FrameReader{};
    frames_ = 0;
    second_phase_ = false;
    shown_difference_ = -1;
    shown_flag_ = ' ';
    send_module_command(cutoff_command(p.filter_code));
    for (;;) {
      const int e = get_button_event(table_);
      if (e == kCodeExit || e == kCodeNext || e == kCodeBack) {
        const int r = leave_acquisition(run, table_, e, kStrip, false);
        run.gain = p.gain;
        run.baseline = p.baseline;
        run.volume = volume_;
        return r;
      }
      handle_button(p, e);
      if (!read_frame(reader_)) continue;
      const int v3 = reader_.value[2];
      if (++frames_ >= kSwitchFrames) {
        frames_ = 0;
        alternate(v3);
      }
      const int s = take_waveform_sample(p, v3, nullptr);
      if (s < 0) clear_live_trace(trace_);
      else draw_live_sample(trace_, s);
    }
  }

  void handle_button(StudyPage& p, int e) {
    if (e == kNoEvent) return;
    if (e < 0) {
      for (ButtonRecord* b = table_; !is_table_end(*b); ++b)
        if (b->button_code == -e && b->state != kButtonHidden) draw_button_normal(*b);
      return;
    }
    const int code = e & ~kRepeatBit;
    if ((e & kRepeatBit) && code != kBaselineUp && code != kBaselineDown && code != kVolumeUp && code != kVolumeDown)
      return;
    switch (code) {
      case kCodeCapture:
        capture_window(p, kStrip, false);
        break;
      case kGainUp:
      case kGainDown:
        if (step_.gain_flags & kSettingLocked) break;
        if (code == kGainUp && p.gain < 10) ++p.gain;
        else if (code == kGainDown && p.gain > 0) --p.gain;
        else break;
        draw_scale_bitmap(p.gain, kLabelX, 150);
        send_module_command(gain_command_ch1(p.gain));
        restart(p);
        clear_live_trace(trace_);
        break;
      case kBaselineUp:
      case kBaselineDown:
        if (step_.baseline_flags & kSettingLocked) break;
        if (code == kBaselineUp && p.baseline < 255) ++p.baseline;
        else if (code == kBaselineDown && p.baseline > 0) --p.baseline;
        else break;
        get_scale_baseline_row(p.baseline, 4, &trace_.baseline_tick);
        send_module_command(178, p.baseline);
        restart(p);
        clear_live_trace(trace_);
        break;
      case kSide:
        channel_ = channel_ == 1 ? 2 : 1;
        draw_channel_label();
        break;
      case kVolumeUp:
      case kVolumeDown:
        if (step_.volume_flags & kSettingLocked) break;
        if (code == kVolumeUp && volume_ < 10) ++volume_;
        else if (code == kVolumeDown && volume_ > 0) --volume_;
        else break;
        send_volume();
        break;
      default: break;
    }
  }

  DopplerStep step_{};
  int volume_ = 0;
  int channel_ = 1;
  int frames_ = 0;
  bool second_phase_ = false;
  int remembered_ = 0;
  int shown_difference_ = -1;
  char shown_flag_ = ' ';
  FrameReader reader_;
  LiveTrace trace_;
  ButtonRecord table_[kAcquisitionButtons + 1];
};

}  // namespace

int dopalign_main(int argc, char* argv[]) {
  if (argc < 6 || !plain_name(argv[1])) return kResultError;
  ModuleRun run;
  run.template_number = argv[1];
  run.first = static_cast<std::int16_t>(std::atoi(argv[3]));
  run.count = static_cast<std::int16_t>(std::atoi(argv[4]));
  run.current = static_cast<std::int16_t>(std::atoi(argv[5]));
  if (run.first < 1 || run.count < 0) return kResultError;
  if (run.current < run.first || run.current > run.first + run.count) return kResultError;
  run.template_path = diagnostics_template_file_name(argv[1]);
  // The template must hold the whole stretch: its last record read whole.
  std::uint8_t last[kTemplateRecordSize];
  if (run.count > 0 && !read_template_record(run.template_path, run.first + run.count - 1, sizeof last, last))
    return kResultError;

  run.stopwatch = &tick_stopwatch();
  send_module_command(0);
  set_button_mode_capture();
  run.page = std::make_unique<StudyPage>();
  DiagnosticSteps screens;
  const int result = screens.run(run);
  release_background();
  set_button_mode_repeat();
  poke_comm_area_word(0, kStepSlot, run.current);
  return result;
}

}  // namespace vaslab
