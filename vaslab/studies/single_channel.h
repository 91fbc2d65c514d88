// The screens the single-channel study modules share (the single-pressure
// and the Doppler waveform modules): the live trace of one channel, the
// capture of its newest window, the post screen that reviews and moves the
// window, the location picker that files the page under another step of the
// stretch, the volume and mute pair, and the cuff holds.  Each module keeps
// its own buttons and commands and hands its differences in through
// PostScreen.
#pragma once

#include <cstdint>

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

// --- Cuff holds ---------------------------------------------------------------
// Inflate and Deflate on hold: the hold command goes out on the press, again
// on each repeat once the countdown of repeats has run out, and the stop
// command of every hold started goes out on the release.
struct CuffHold {
  int inflate_countdown = 0, deflate_countdown = 0;
  bool inflate_ch1 = false, inflate_ch2 = false, deflate_ch1 = false, deflate_ch2 = false;
};
void reset_cuff_hold(CuffHold& h);  // countdowns from the settings' delays
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

// The location picker over the post screen: OK files the page under the
// shown step (run.current and the label change), Cancel or a failed read
// keeps the step.  Returns 0 when a step was taken, 1 otherwise.
int run_location_picker(ModuleRun& run, PostScreen& screen);

// The step label (29 bytes at record offset 2) of a step of the template.
bool read_step_label(const ModuleRun& run, int step, char* out30);

}  // namespace vaslab
