// The screens the single-channel study modules share (the single-pressure
// and the Doppler waveform modules): the live trace of one channel, the
// capture of its newest window, the acquisition screen's common buttons and
// its way out (the diagnostic steps use them too), the post screen that
// reviews and moves the window, the location picker that files the page
// under another step of the stretch, the volume and mute pair, and the cuff
// holds.  Each module keeps its own buttons and commands and hands its
// differences in through PostScreen.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "vaslab/core/toolkit/buttons.h"
#include "vaslab/studies/module_frame.h"

namespace vaslab {

constexpr int kCodeCapture = 0;
constexpr int kCodeExit = 1;
constexpr int kCodeNext = 2;
constexpr int kCodeBack = 3;
constexpr int kCodeDoOver = 7;
constexpr int kCodeView = 12;
constexpr int kCodePicker = 120;
constexpr int kRemotePicker = 14;  // the picker's remote and front-panel key
// Remote and front-panel keys of the post screen's scroll buttons.
constexpr int kRemoteFastLeft = 21, kRemoteSlowLeft = 22, kRemoteSlowRight = 23, kRemoteFastRight = 24;

// --- The live trace -------------------------------------------------------
constexpr int kStripX = 8;
struct LiveTrace {
  int width = 296;          // columns of the strip
  int baseline_tick = -1;   // row tick of the baseline, -1 none
  int previous = -1;        // the last sample drawn, -1 before the first
};
void clear_live_trace(LiveTrace& t);
// One sample (0..257) as a new column of the strip, shown at once.
void draw_live_sample(LiveTrace& t, int sample);

// CAPTURE: a full ring is turned so that its oldest sample is at index 0
// (both channels, or channel 1 only) and the newest at 2959; the report
// start becomes the newest index minus the window.
void capture_window(StudyPage& page, int window, bool both_channels);

// Moves the captured window by up to `steps` samples (negative: left);
// returns the samples moved.
int move_window(StudyPage& page, int steps);

// --- Volume and mute --------------------------------------------------------
struct VolumeControl {
  int volume = 0;  // 0..10, 0 muted
  int saved = 0;   // what Mute brings back
};
// The saved volume at the start of a step: 3 when muted, else 0.
void start_volume(VolumeControl& v, int volume);
void volume_up(VolumeControl& v);
void volume_down(VolumeControl& v);
void toggle_mute(VolumeControl& v);
// The volume indicator beside the strip.
void draw_volume_indicator(int volume);

// --- The acquisition screen's buttons -----------------------------------------
// The one-channel acquisition screens (Doppler, single pressure and the
// diagnostic steps) put the buttons they have in common in the same places:
// CAPTURE, EXIT, Next and Back along the bottom; gain and baseline UP and
// DOWN down the right edge; Probe over the indicators; volume UP and DOWN and
// Mute in the row above the bottom, whose left end holds the module's own
// buttons.  Each module names the codes; a code of 0 leaves Probe or Mute out.
struct AcquisitionCodes {
  int gain_up, gain_down, baseline_up, baseline_down, probe, volume_up, volume_down, mute;
};
// The most buttons an acquisition table holds, its end entry not counted.
constexpr int kAcquisitionButtons = 14;

// Fills `table` (room for kAcquisitionButtons + 1 entries): CAPTURE, EXIT,
// Next and Back, the module's `own` buttons, the setting buttons and the end
// entry.  Where `capture_shown` is false CAPTURE keeps only its remote key,
// hidden and with no place.  Returns the buttons written.
int make_acquisition_table(ButtonRecord* table, const AcquisitionCodes& codes, std::initializer_list<ButtonRecord> own,
                           bool capture_shown = true);

// Draws an acquisition screen afresh: its background, the title and the
// buttons as update_setting_buttons leaves them.
void draw_acquisition_screen(const char* background, const char* title, ButtonRecord* table,
                             const AcquisitionCodes& codes, const StudyPage& p, int volume);

// What a press of a setting button changed.
enum class SettingChange { kNone, kGain, kBaseline, kVolume };
// The step's flags of the settings a press may change (kSettingLocked: the
// buttons do nothing).
struct SettingFlags {
  std::uint8_t gain, baseline, volume;
};
// A press from the event wait: gain (0..10) and baseline (0..255) step by one;
// volume UP, DOWN and Mute change `volume`, send it to the module and draw
// its indicator.  Only baseline and volume act on repeats.  kNone for any
// other button, a locked setting or a setting at the end of its range.
SettingChange press_setting_button(int e, const AcquisitionCodes& codes, const SettingFlags& flags, StudyPage& p,
                                   VolumeControl& volume);
// Greys gain and baseline at the ends of their ranges and volume UP at 10,
// names Mute or UnMute by the volume, and draws the table.
void update_setting_buttons(ButtonRecord* table, const AcquisitionCodes& codes, const StudyPage& p, int volume);

// The way out of an acquisition screen on CAPTURE, EXIT, Next or Back: the
// module is stopped and the button let go; CAPTURE stamps the page, takes its
// newest window (see capture_window) and returns 0, any other its code.
int leave_acquisition(ModuleRun& run, ButtonRecord* table, int code, int window, bool both_channels);

// --- Cuff holds ---------------------------------------------------------------
// Inflate and Deflate on hold: the hold command goes out on the press, again
// on each repeat once the countdown of repeats has run out, and the stop
// command of every hold started goes out on the release.
struct CuffHold {
  int inflate_countdown = 0, deflate_countdown = 0;
  bool inflate_ch1 = false, inflate_ch2 = false, deflate_ch1 = false, deflate_ch2 = false;
  int last_tap = 0;  // 1 Inflate, 2 Deflate
  std::uint32_t last_tap_at = 0;
};
void reset_cuff_hold(CuffHold& h);  // countdowns from the settings' delays
// True for a tap on Inflate or Deflate that repeats the one before it within
// the settling time of a press: a hurried double or triple tap sends the
// cuff's command once.
bool cuff_tap_repeated(CuffHold& h, bool inflate);
// `inflate` chooses the button, `channel_1` the command set.
void cuff_hold_press(CuffHold& h, bool inflate, bool channel_1);
void cuff_hold_repeat(CuffHold& h, bool inflate, bool channel_1);
void cuff_hold_release(CuffHold& h);

// --- Post screen and location picker --------------------------------------------
class PostScreen {
 public:
  virtual ~PostScreen() = default;
  virtual const char* background() const = 0;
  virtual int window() const = 0;
  virtual const char* label() const = 0;
  virtual void set_label(const char* text) = 0;
  // Each pass: the module's readout (pressure or output text).
  virtual void draw_readout(ModuleRun&) {}
  // The screen was drawn afresh: the readout must be drawn again.
  virtual void redrawn() {}
  // A button of the module's own (Set Output); true when handled.
  virtual bool own_button(ModuleRun&, int) { return false; }
  // A scroll press (before the move).
  virtual void scroll_pressed(ModuleRun&) {}
  // Fast scrolls beep for each move not possible (else once when none was).
  virtual bool beep_each_failed_move() const { return false; }
  // The buttons of the module's own, put in the table after the shared ones.
  virtual int own_buttons(ButtonRecord* out, int room) { (void)out; (void)room; return 0; }
};

// The post screen: 0 next, 1 exit, 3 back, 7 do over, 12 view.
int run_post_screen(ModuleRun& run, PostScreen& screen);

// A single-channel module: its step screens, the acquisition screen its own,
// then the shared post screen, titled by the step's label.
class SingleChannelModule : public StepScreens, public PostScreen {
 public:
  int post(ModuleRun& run) override { return run_post_screen(run, *this); }
  const char* label() const override { return label_; }
  void set_label(const char* text) override;

 protected:
  char label_[30] = {};
};

// The location picker over the post screen: OK files the page under the
// shown step (run.current and the label change), Cancel or a failed read
// keeps the step.  Returns 0 when a step was taken, 1 otherwise.
int run_location_picker(ModuleRun& run, PostScreen& screen);

// The step label (29 bytes at record offset 2) of a step of the template.
bool read_step_label(const ModuleRun& run, int step, char* out30);

}  // namespace vaslab
