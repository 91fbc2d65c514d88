#include "vaslab/studies/doppler.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "study_fixture.h"
#include "vaslab/studies/module_entries.h"
#include "vaslab/studies/single_channel.h"

namespace vaslab {
namespace {

using V = std::vector<int>;

struct DopplerTest : StudyFixture {
  int run(int first, int count, int current, int exam = 5) {
    std::vector<std::string> s{"C:\\PROGRAMS\\DOPPLER", "77", std::to_string(exam), std::to_string(first),
                               std::to_string(count), std::to_string(current)};
    std::vector<char*> argv;
    for (auto& x : s) argv.push_back(x.data());
    return doppler_main(6, argv.data());
  }
  void frames(int n, int wave) {
    input->at_time([this, n, wave] {
      for (int i = 0; i < n; ++i) module.queue_frame(0, 0, wave, 0);
    });
  }
  std::unique_ptr<StudyPage> page(int step, int exam = 5) {
    auto p = std::make_unique<StudyPage>();
    EXPECT_EQ(read_study_page(step, exam, "00000077.sty", *p), 0);
    return p;
  }
};

TEST_F(DopplerTest, EveryButtonSendsItsCommands) {
  add_doppler_step("Rt CFA");
  write_template();
  input->after(50).tap(kDopplerInvert).after(100).tap(kDopplerGainUp).after(100).tap(kDopplerBaselineUp);
  input->after(100).tap(kDopplerProbe).after(100).tap(kDopplerVolumeUp).after(100).tap(kDopplerVolumeDown);
  input->after(100).tap(kDopplerFilter).after(100).tap(kDopplerMute).after(100).tap(kCodeExit);
  EXPECT_EQ(run(1, 1, 1), 1);
  const V want{0,                  // entry
               46, 48, 21, 23,     // the step's list
               59, 21,             // volume 4
               36,                 // gain 5
               178, 128,           // baseline
               208, 68,            // filter mode 4 at cutoff 2
               59, 21, 63,         // the screen starts: volume, cutoff
               49,                 // Invert: not inverted before
               37,                 // Gain UP to 6
               178, 129,           // Baseline UP
               59, 21,             // Probe
               70, 59,             // Volume UP to 5, DOWN to 4
               208, 68,            // Filter to mode 5
               78,                 // Mute
               0};                 // leaving
  EXPECT_EQ(module.sent, want);
}

TEST_F(DopplerTest, InvertOnAnInvertedStepSendsTheEndFirstAndLockedButtonsDoNothing) {
  add_doppler_step("Inverted", [](DopplerStep& s) {
    s.probe_flags = 0x04 | 0x08 | 0x10 | kSettingLocked;
    s.gain_flags = kSettingLocked;
    s.baseline_flags = kSettingLocked;
    s.volume_flags = kSettingLocked;
  });
  write_template();
  input->after(50).tap(kDopplerGainUp).after(100).tap(kDopplerBaselineDown).after(100).tap(kDopplerProbe);
  input->after(100).tap(kDopplerVolumeUp).after(100).tap(kDopplerMute);
  input->after(100).tap(kDopplerInvert).after(100).tap(kDopplerInvert).after(100).tap(kCodeExit);
  EXPECT_EQ(run(1, 1, 1), 1);
  const V want{0, 46, 48, 21, 23, 59, 21, 36, 178, 128,
               49, 5, 4,           // inverted, commands 5 and 4 from the probe flags
               208, 68, 59, 21, 63,
               48, 49,             // Invert ends the inversion, then starts it again
               0};
  EXPECT_EQ(module.sent, want);
}

TEST_F(DopplerTest, ACaptureAfterAGainChangeHoldsOnlyTheSamplesSince) {
  add_doppler_step("Rt CFA", [](DopplerStep& s) { s.filter_mode_flags = 0; });
  write_template();
  input->after(30);
  frames(50, 90);
  input->after(200).tap(kDopplerGainDown).after(50);
  frames(12, 100);
  input->after(200).tap(kCodeCapture).after(200).tap(kCodeExit);
  EXPECT_EQ(run(1, 1, 1), 1);
  auto p = page(1);
  EXPECT_EQ(p->count, 12);
  EXPECT_EQ(p->newest, 11);
  EXPECT_EQ(p->report_start, 11 - 296);
  EXPECT_EQ(p->channel_1[0], 100);
  EXPECT_EQ(p->gain, 4);
  EXPECT_EQ(p->probe, 16);
  for (int i = 0; i < 20; ++i) EXPECT_EQ(p->channel_2[i], 0) << "channel 2 is not written";
}

TEST_F(DopplerTest, TheWindowLengthSetsTheReportStartAndFailedMovesBeep) {
  add_doppler_step("Short window", [](DopplerStep& s) {
    s.report_window = 150;
    s.filter_mode_flags = 0;
  });
  write_template();
  input->after(30);
  frames(200, 100);
  input->after(300).tap(kCodeCapture);
  // At the newest sample both moves beep (the five beeps of the fast move
  // sound as one: the beep latch holds until the next pass).
  input->after(200).panel_down(kRemoteFastRight).after(50).panel_up();
  input->after(100).panel_down(kRemoteSlowRight).after(50).panel_up();
  input->after(100).tap(kCodeExit);
  EXPECT_EQ(run(1, 1, 1), 1);
  EXPECT_EQ(input->beeps, 2);
  auto p = page(1);
  EXPECT_EQ(p->newest, 199);
  EXPECT_EQ(p->report_start, 49);
}

TEST(Doppler, FilterModesAndStripWidths) {
  // 13 is mode 5 with bit 3: back to mode 0 keeping bit 3, then mode 2.
  EXPECT_EQ(next_filter_mode_flags(13), 8);
  EXPECT_EQ(next_filter_mode_flags(8), 10);
  EXPECT_EQ(next_filter_mode_flags(1), 2);
  EXPECT_EQ(next_filter_mode_flags(0xF5), 0);
  EXPECT_EQ(next_filter_mode_flags(0x33), 0x34);
  int flags = 1;
  for (int i = 0; i < 12; ++i) {
    flags = next_filter_mode_flags(flags);
    EXPECT_NE(flags & 7, 1);
  }
  EXPECT_EQ(doppler_strip_width(150), 136);
  EXPECT_EQ(doppler_strip_width(296), 296);
  EXPECT_EQ(doppler_strip_width(2960), 296);
  EXPECT_EQ(doppler_strip_width(doppler_window(0)), 296);
  EXPECT_EQ(doppler_window(-20), 296);
  EXPECT_EQ(doppler_strip_width(1), 8);
}

}  // namespace
}  // namespace vaslab
