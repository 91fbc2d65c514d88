#include "vaslab/studies/dual_pair.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "study_fixture.h"
#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/toolkit/trace_strips.h"
#include "vaslab/studies/module_entries.h"
#include "vaslab/studies/single_channel.h"

namespace vaslab {
namespace {

using V = std::vector<int>;

struct DualTest : StudyFixture {
  void SetUp() override {
    StudyFixture::SetUp();
    auto& hw = hardware_settings();
    hw.right_bp_offset = 11;
    hw.right_bp_span = 12;
    hw.left_bp_offset = 13;
    hw.left_bp_span = 14;
    hw.inflate_delay = 2;
    hw.deflate_delay = 2;
  }
  template <typename Edit>
  void ppg_pair(const char* location, Edit edit) {
    for (const char* side : {"RIGHT ", " LEFT "}) {
      DualPpgStep s{};
      s.module_type = 5;
      s.step_class = kStudyStepClass;
      std::snprintf(s.label, sizeof s.label, "%s%s", side, location);
      s.gain = 5;
      s.filter_code = 2;
      s.baseline = 128;
      s.filter_nibble = side[0] == 'R' ? 3 : 4;
      s.window = 296;
      add_step(s, encode_dual_ppg_step, edit);
    }
  }
  void ppg_pair(const char* location) {
    ppg_pair(location, [](DualPpgStep&) {});
  }
  template <typename Edit>
  void pressure_pair(const char* location, Edit edit) {
    for (const char* side : {"RIGHT ", " LEFT "}) {
      DualPressureStep s{};
      s.module_type = 11;
      s.step_class = kStudyStepClass;
      std::snprintf(s.label, sizeof s.label, "%s%s", side, location);
      s.inflate_target = 180;
      s.deflate_target = 20;
      s.gain = 5;
      s.filter_code = 4;
      s.baseline = 128;
      s.over_range = 250;
      add_step(s, encode_dual_pressure_step, edit);
    }
  }
  template <typename Edit>
  void pvr_pair(const char* location, Edit edit) {
    for (const char* side : {"RIGHT ", " LEFT "}) {
      DualPvrStep s{};
      s.module_type = 1;
      s.step_class = kStudyStepClass;
      std::snprintf(s.label, sizeof s.label, "%s%s", side, location);
      s.inflate_target = 65;
      s.alt_target = 40;
      s.over_range = 200;
      s.gain = 5;
      s.filter_code = 2;
      s.baseline = 128;
      s.filter_nibble = 2;
      s.window = 296;
      add_step(s, encode_dual_pvr_step, edit);
    }
  }
  int run(int (*entry)(int, char*[]), int first, int count, int current, int exam = 5) {
    std::vector<std::string> s{"C:\\PROGRAMS\\DUAL", "77", std::to_string(exam), std::to_string(first),
                               std::to_string(count), std::to_string(current)};
    std::vector<char*> argv;
    for (auto& x : s) argv.push_back(x.data());
    return entry(6, argv.data());
  }
  // Frames: value 3 on the RIGHT trace, 4 on the LEFT, 1 and 2 beside them.
  void frames(int n, int v3, int v4, int v1 = 0, int v2 = 0) {
    input->at_time([=, this] {
      for (int i = 0; i < n; ++i) module.queue_frame(v1, v2, v3, v4);
    });
  }
  long field(int step, const char* name) { return std::stol(page_fields(step, 5)[name]); }
  static bool contains(const V& all, const V& part) {
    return std::search(all.begin(), all.end(), part.begin(), part.end()) != all.end();
  }
  static int button_state(int code) {
    for (const ButtonRecord* b = current_button_table(); b && !is_table_end(*b); ++b)
      if (b->button_code == code) return b->state;
    return -1;
  }
};

TEST_F(DualTest, PpgSetUpAndEveryLiveButton) {
  ppg_pair("Digits");
  write_template();
  input->after(50).tap(kDualGainUp).after(100).tap(kDualBaselineUp).after(100).tap(kDualSide);
  input->after(100).tap(kDualGainDown).after(100).panel_down(kDualRemoteVolumeUp).after(50).panel_up();
  input->after(100).panel_down(kDualRemoteVolumeDown).after(50).panel_up();
  input->after(100).panel_down(kDualRemoteMute).after(50).panel_up().after(100).tap(kCodeExit);
  EXPECT_EQ(run(dualppg_main, 1, 2, 1), 1);
  const V want{0,                   // entry
               42, 17,              // PPG probes
               208, 0x43,           // hardware filter: LEFT nibble high, RIGHT low
               36, 178, 128,        // RIGHT gain 5, baseline
               11, 153, 128,        // LEFT gain 5, baseline
               78,                  // volume 0
               63,                  // cutoff 2 at the screen's start
               37, 12,              // Gain UP on both sides
               178, 129, 153, 129,  // Baseline UP on both
               36,                  // Side: RIGHT only; Gain DOWN there
               56, 78, 58,          // volume 1, 0, Mute brings back 3
               0};
  EXPECT_EQ(module.sent, want);
  EXPECT_FALSE(page_exists(1, 5));
  EXPECT_FALSE(page_exists(2, 5));
}

TEST_F(DualTest, RefusesOddStretchesAndMismatchedPairs) {
  ppg_pair("Digits");
  ppg_pair("Toes");
  write_template();
  EXPECT_EQ(run(dualppg_main, 1, 3, 1), 4);
  EXPECT_TRUE(module.sent.empty()) << "refused before anything is sent";
  tpl.resize(kTemplateRecordSize);
  ppg_pair("Digits");
  ppg_pair("Toes", [](DualPpgStep& s) {
    if (s.label[1] == 'L') std::snprintf(s.label, sizeof s.label, " LEFT Thumbs");
  });
  write_template();
  input->after(50).tap(kCodeNext);
  EXPECT_EQ(run(dualppg_main, 1, 4, 1), 1) << "the second pair's locations differ";
  EXPECT_EQ(static_cast<std::int16_t>(peek_comm_area_word(0, kStepSlot)), 3);
}

TEST_F(DualTest, ExitWithOneSideCapturedFlagsTheOtherDeleted) {
  ppg_pair("Digits");
  write_template();
  input->after(30);
  frames(100, 120, 80, 3, 4);
  input->after(300).tap(kDualCaptureRight).after(100);
  frames(50, 200, 90, 3, 4);
  input->after(300).tap(kCodeExit);
  EXPECT_EQ(run(dualppg_main, 1, 2, 1), 1);
  auto r = page_fields(1, 5), l = page_fields(2, 5);
  EXPECT_EQ(r["size"], "12013");
  EXPECT_EQ(r["flags"], "0");
  EXPECT_EQ(r["count"], "100") << "the captured side stopped taking samples";
  EXPECT_EQ(r["start"], std::to_string(99 - 296));
  EXPECT_EQ(r["ch1_newest"], "120");
  EXPECT_EQ(r["ch2_newest"], "3");
  EXPECT_EQ(r["probe"], "5");
  EXPECT_EQ(r["point1"], "-1");
  EXPECT_EQ(l["flags"], "1");
  EXPECT_EQ(l["count"], "0");
  EXPECT_EQ(l["start"], "-1");
  EXPECT_EQ(l["probe"], "6");
}

TEST_F(DualTest, ExitWithNothingCapturedRemovesBothFiles) {
  ppg_pair("Digits");
  write_template();
  root.write(page_file_name(1, 5), std::string(12013, 'x'));
  root.write(page_file_name(2, 5), std::string(12013, 'y'));
  input->after(50).tap(kCodeBack);
  EXPECT_EQ(run(dualppg_main, 1, 2, 1), 3) << "Back on the first pair";
  EXPECT_FALSE(page_exists(1, 5));
  EXPECT_FALSE(page_exists(2, 5));
}

TEST_F(DualTest, AFullRingIsStoredOldestFirstAndTheNextPairEndsTheStretch) {
  ppg_pair("Digits", [](DualPpgStep& s) { s.window = 150; });
  write_template();
  input->after(30).at_time([this] {
    for (int i = 0; i < 3000; ++i) module.queue_frame(i & 0x1FF, 0, i % 256, 7);
  });
  input->after(6000).tap(kCodeCapture).after(200).tap(0);  // Next on the post screen
  EXPECT_EQ(run(dualppg_main, 1, 2, 1), 2);
  auto r = page_fields(1, 5);
  EXPECT_EQ(r["count"], "2960");
  EXPECT_EQ(r["newest"], "2959");
  EXPECT_EQ(r["start"], std::to_string(2959 - 150));
  EXPECT_EQ(r["ch1_first"], std::to_string(40 % 256)) << "the 41st frame is the oldest kept";
  EXPECT_EQ(r["ch1_newest"], std::to_string(2999 % 256));
  EXPECT_EQ(page_fields(2, 5)["ch1_newest"], "7");
}

TEST_F(DualTest, GainUpRaisesOnlyTheSideBelowTheTopThenGoes) {
  ppg_pair("Digits", [](DualPpgStep& s) { s.gain = s.label[0] == 'R' ? 10 : 9; });
  write_template();
  input->after(50).tap(kDualGainUp).after(100);
  input->at_time([] { EXPECT_EQ(button_state(kDualGainUp), kButtonHidden); });
  input->at_time([] { EXPECT_EQ(button_state(kDualGainDown), kButtonShown); });
  input->after(50).tap(kCodeExit);
  EXPECT_EQ(run(dualppg_main, 1, 2, 1), 1);
  EXPECT_EQ(std::count(module.sent.begin(), module.sent.end(), 16), 1) << "LEFT gain 10";
  EXPECT_EQ(std::count(module.sent.begin(), module.sent.end(), 42), 1) << "RIGHT gain 11 never";
}

TEST_F(DualTest, ThePickerFilesAStoredPairUnderAnotherPairOnlyOnOk) {
  ppg_pair("Digits");
  ppg_pair("Toes");
  write_template();
  input->after(30);
  frames(40, 100, 100);
  input->after(300).tap(kCodeCapture).after(200).tap(kCodeExit);
  ASSERT_EQ(run(dualppg_main, 1, 4, 1), 1);
  ASSERT_TRUE(page_exists(1, 5) && page_exists(2, 5));
  // Cancel keeps the steps.
  input->after(100).panel_down(kDualRemotePicker).after(50).panel_up();
  input->after(100).tap(103).after(100).tap(1).after(200).tap(kCodeExit);
  EXPECT_EQ(run(dualppg_main, 1, 4, 1), 1);
  EXPECT_TRUE(page_exists(1, 5));
  EXPECT_FALSE(page_exists(3, 5));
  // OK moves the pair to steps 3 and 4; the old files go.
  input->after(100).panel_down(kDualRemotePicker).after(50).panel_up();
  input->after(100).tap(103).after(100).tap(0).after(200).tap(kCodeExit);
  EXPECT_EQ(run(dualppg_main, 1, 4, 1), 1);
  EXPECT_EQ(static_cast<std::int16_t>(peek_comm_area_word(0, kStepSlot)), 3);
  EXPECT_FALSE(page_exists(1, 5));
  EXPECT_FALSE(page_exists(2, 5));
  EXPECT_EQ(page_fields(3, 5)["count"], "40");
  EXPECT_EQ(page_fields(4, 5)["count"], "40");
}

TEST_F(DualTest, PairFilesAreWholeAndKeepOrDropTheWaveformBlock) {
  write_template();
  auto right = std::make_unique<StudyPage>(), left = std::make_unique<StudyPage>();
  *right = StudyPage{};
  *left = StudyPage{};
  std::snprintf(right->template_name, sizeof right->template_name, "00000077.sty");
  std::snprintf(left->template_name, sizeof left->template_name, "00000077.sty");
  right->flags = kPageExtendedBlock;
  right->report_start = left->report_start = -1;
  left->flags = kPageExtendedBlock | kPageDeletedSide;
  root.write(page_file_name(2, 5), std::string(12013, 'a') + std::string(236802, 'B'));
  ASSERT_EQ(write_page_pair(1, 5, *right, *left), 0);
  EXPECT_EQ(page_fields(1, 5)["size"], "12013");
  EXPECT_EQ(page_fields(1, 5)["flags"], "0") << "no block to carry: the flag goes";
  const std::string l = root.read(page_file_name(2, 5));
  ASSERT_EQ(l.size(), 12013u + 236802u);
  EXPECT_EQ(l[13], 3);
  EXPECT_EQ(l.substr(12013, 3), "BBB");
  EXPECT_EQ(read_page_pair(1, 5, "00000077.sty", *right, *left), 1) << "a page with a block is not reused";
  // An empty LEFT page that is not flagged deleted is not reused either.
  left->flags = 0;
  left->count = 0;
  left->newest = 0;
  left->report_start = -1;
  ASSERT_EQ(write_page_pair(1, 5, *right, *left), 0);
  EXPECT_EQ(read_page_pair(1, 5, "00000077.sty", *right, *left), 1);
  left->flags = kPageDeletedSide;
  ASSERT_EQ(write_page_pair(1, 5, *right, *left), 0);
  EXPECT_EQ(read_page_pair(1, 5, "00000077.sty", *right, *left), 0);
  EXPECT_EQ(left->flags, kPageDeletedSide);
}

// --- Dual pressure -----------------------------------------------------------------

TEST(DualPressure, MarkerTimesAndMoves) {
  char t[16];
  marker_time_text(10, 305, 4, t, sizeof t);
  EXPECT_STREQ(t, "3.0");
  marker_time_text(305, 10, 0, t, sizeof t);
  EXPECT_STREQ(t, "75.0");
  marker_time_text(0, 48, 1, t, sizeof t);  // 49 * 750 / 592 = 62.08
  EXPECT_STREQ(t, "6.2");
  int m = 2000;  // outside the window 100..396: forward lands on its first sample
  EXPECT_TRUE(marker_forward(m, 100, 396, 2960));
  EXPECT_EQ(m, 101);
  m = -1;
  EXPECT_TRUE(marker_forward(m, -200, 95, 96));
  EXPECT_EQ(m, 0);
  m = 95;
  EXPECT_FALSE(marker_forward(m, -200, 95, 96)) << "at the newest sample";
  m = 101;
  EXPECT_FALSE(marker_back(m, 100, 396)) << "at the window's first sample";
  m = 50;
  EXPECT_TRUE(marker_back(m, 100, 396));
  EXPECT_EQ(m, 396);
  EXPECT_EQ(dual_strip_width(150), 136);
  EXPECT_EQ(dual_strip_width(0), 296);
  EXPECT_EQ(dual_strip_width(5000), 296);
}

TEST_F(DualTest, PressureSetUpAndHoldingInflateInTargetMode) {
  pressure_pair("Brachial", [](DualPressureStep& s) {
    if (s.label[0] == ' ') s.inflate_target = 99;  // only the RIGHT record's counts
  });
  write_template();
  input->after(50).press(kDualInflate).after(700).release().after(100).tap(kCodeExit);
  EXPECT_EQ(run(dualpres_main, 1, 2, 1), 1);
  const V& s = module.sent;
  EXPECT_TRUE(contains(s, {0, 194, 11, 195, 12, 54, 51, 196, 13, 197, 14, 29, 26, 204, 250, 205, 250,
                           208, 0x22 + 136, 208, 0x22 + 136, 81}))
      << "set-up: calibration, probes, limits, both filters (gain 5: mode 11 at cutoff 4)";
  EXPECT_TRUE(contains(s, {183, 180, 90, 158, 180, 84})) << "Inflate to the RIGHT record's target";
  const auto first_hold = std::find(s.begin(), s.end(), 92);
  ASSERT_NE(first_hold, s.end()) << "the hold after the countdown";
  EXPECT_EQ(*(first_hold + 1), 86);
  EXPECT_TRUE(contains(s, {93, 87, 0})) << "one stop for each side that got the hold";
  EXPECT_EQ(std::count(s.begin(), s.end(), 93), 1);
}

TEST_F(DualTest, PressureDelayedCaptureRotatesItsMarker) {
  pressure_pair("Ankle", [](DualPressureStep& s) { s.options = 0x10 | 0x08; });
  write_template();
  input->after(30).at_time([this] {
    for (int i = 0; i < 3000; ++i) module.queue_frame(120, 130, 100, 100);
  });
  input->after(6000).tap(kCodeCapture).after(100);  // marks newest - 1 = 38
  frames(10, 100, 100, 120, 130);
  input->after(200).tap(kCodeCapture).after(100).tap(kCodeCapture);  // the third press captures
  input->after(300).tap(kCodeExit);
  EXPECT_EQ(run(dualpres_main, 1, 2, 1), 1);
  auto r = page_fields(1, 5);
  EXPECT_EQ(r["count"], "2960");
  EXPECT_EQ(r["newest"], "2959");
  EXPECT_EQ(r["point1"], std::to_string(38 - 49 - 1 + 2960));
  EXPECT_EQ(r["point2"], "2959");
  EXPECT_EQ(r["start"], std::to_string(2959 - 296));
  EXPECT_EQ(r["ch2_newest"], "120");
  EXPECT_EQ(page_fields(2, 5)["ch2_newest"], "130");
}

TEST_F(DualTest, PressureDelayedCaptureEndsWhenTheRingComesRound) {
  pressure_pair("Ankle", [](DualPressureStep& s) { s.options = 0x10; });
  write_template();
  input->after(30);
  frames(100, 100, 100, 50, 60);
  input->after(300).tap(kCodeCapture).after(100);
  input->at_time([this] {
    for (int i = 0; i < 2960; ++i) module.queue_frame(50, 60, 100, 100);
  });
  input->after(6000).tap(0);
  EXPECT_EQ(run(dualpres_main, 1, 2, 1), 2) << "captured by itself, then Next on the post screen";
  EXPECT_EQ(page_fields(1, 5)["count"], "2960");
}

TEST_F(DualTest, PressureStatusOnACapturedSideAndDoOverWithBothOnDoppler) {
  pressure_pair("Toe", [](DualPressureStep&) {});
  write_template();
  input->after(30);
  frames(30, 100, 100, 40, 50);
  input->after(300).tap(kDualCaptureRight).after(100);
  frames(5, 1500, 1600, 40, 50);
  frames(4, 100, 100, 40, 50);
  input->after(300).tap(kCodeCapture).after(200).tap(0);
  EXPECT_EQ(run(dualpres_main, 1, 2, 1), 2);
  auto r = page_fields(1, 5), l = page_fields(2, 5);
  EXPECT_EQ(r["count"], "30");
  EXPECT_EQ(r["status"], "0") << "the captured side ignores status words";
  EXPECT_EQ(l["status"], std::to_string(1600 & 0x1FFF));
  EXPECT_EQ(l["count"], "4") << "the LEFT trace restarted at the status word";

  // Both pages on the Doppler probe: Do Over re-arms the RIGHT side only.
  for (int step : {1, 2}) {
    std::string bytes = root.read(page_file_name(step, 5));
    bytes[32] = 15;
    root.write(page_file_name(step, 5), bytes);
  }
  input->after(100).tap(kCodeDoOver).after(200).panel_down(kDualRemoteDoOver).after(50).panel_up();
  input->after(100).tap(kCodeExit);
  EXPECT_EQ(run(dualpres_main, 1, 2, 1), 1);
  EXPECT_EQ(page_fields(1, 5)["flags"], "1") << "re-armed, then left uncaptured";
  EXPECT_EQ(page_fields(2, 5)["flags"], "0");
}

TEST_F(DualTest, PressureOlderNumberingIsConvertedAfterTheStoredPairIsWritten) {
  pressure_pair("Brachial", [](DualPressureStep&) {});
  pressure_pair("Ankle", [](DualPressureStep&) {});
  write_template();
  input->after(30);
  frames(20, 100, 100, 40, 50);
  input->after(300).tap(kCodeCapture).after(200).tap(kCodeExit);
  ASSERT_EQ(run(dualpres_main, 1, 4, 1), 1);
  // The RIGHT page as an older instrument stored it: flags bit 1 on a
  // 12013-byte file, probe 18, gain step 2.
  std::string bytes = root.read(page_file_name(1, 5));
  bytes[13] = 2;
  bytes[26] = 2;
  bytes[32] = 18;
  root.write(page_file_name(1, 5), bytes);
  module.sent.clear();
  input->after(100).tap(0).after(300).tap(kCodeExit);  // Next on the stored pair; EXIT on the next one
  EXPECT_EQ(run(dualpres_main, 1, 4, 1), 1);
  auto r = page_fields(1, 5);
  EXPECT_EQ(r["flags"], "0") << "no waveform block follows: the claim is not written";
  EXPECT_EQ(r["probe"], "18") << "written as read; converted only afterwards";
  EXPECT_EQ(r["size"], "12013");
  // The next pair carries the converted gain step 5 (31 + 5) on the RIGHT.
  EXPECT_TRUE(contains(module.sent, {204, 250, 205, 250}));
  const auto setup = std::find(module.sent.begin(), module.sent.end(), 81);
  ASSERT_NE(setup, module.sent.end());
  EXPECT_NE(std::find(setup, module.sent.end(), 36), module.sent.end());
  EXPECT_EQ(std::find(setup, module.sent.end(), 33), module.sent.end()) << "not the old gain step 2";
}

// A deleted side's page is taken without sample checks: a damaged one whose
// ring index lies far outside the ring must still show its post screen
// without reading past the samples (the sanitizers stop the run if it does).
TEST_F(DualTest, ADamagedDeletedSideShowsItsPostScreenWithinTheRing) {
  pressure_pair("Toe", [](DualPressureStep&) {});
  write_template();
  input->after(30);
  frames(30, 100, 100, 40, 50);
  input->after(300).tap(kDualCaptureRight).after(100);
  frames(5, 100, 100, 40, 50);
  input->after(300).tap(kCodeExit);
  ASSERT_EQ(run(dualpres_main, 1, 2, 1), 1);
  ASSERT_EQ(page_fields(2, 5)["flags"], "1");
  for (int newest : {32767, -300}) {
    SCOPED_TRACE(newest);
    std::string bytes = root.read(page_file_name(2, 5));
    bytes[14] = 0x7F;  // count 32767
    bytes[15] = 0x7F;
    bytes[16] = static_cast<char>(newest - 1);  // report start just before
    bytes[17] = static_cast<char>((newest - 1) >> 8);
    bytes[18] = static_cast<char>(newest);
    bytes[19] = static_cast<char>(newest >> 8);
    root.write(page_file_name(2, 5), bytes);
    input->after(100).tap(kDualFastBack).after(100).tap(kDualSlowForward).after(100).tap(kCodeExit);
    EXPECT_EQ(run(dualpres_main, 1, 2, 1), 1);
  }
}

TEST_F(DualTest, AFailedPairWriteSaysSoAndEndsWithFour) {
  ppg_pair("Digits");
  write_template();
  input->after(30);
  frames(20, 100, 100);
  input->after(300).at_time([this] { testsupport::remove_tree(platform::map_path("C:\\DATA\\")); });
  input->tap(kCodeCapture).after(200).tap(0).after(500).panel_down(13).after(50).panel_up();  // OK
  EXPECT_EQ(run(dualppg_main, 1, 2, 1), 4);
  EXPECT_FALSE(page_exists(1, 5));
}

// --- Dual PVR ---------------------------------------------------------------------------

TEST_F(DualTest, PvrSetUpWithTheAlternativeTargetAndInflateRestartsTheTrace) {
  pvr_pair("Thigh", [](DualPvrStep& s) {
    if (s.label[0] == 'R') s.inflate_mode = 2;
  });
  write_template();
  input->after(30);
  frames(50, 100, 100, 60, 60);
  input->after(300).tap(kDualInflate).after(50);
  frames(7, 100, 100, 60, 60);
  input->after(200).tap(kCodeCapture).after(200).tap(kCodeExit);
  EXPECT_EQ(run(dualpvr_main, 1, 2, 1), 1);
  const V want_setup{0,  44, 194, 11, 195, 12, 53, 183, 40, 52, 48, 19, 196, 13, 197, 14, 29, 158, 65,
                     27, 23, 204, 200, 205, 200, 208, 0x22, 36, 178, 128, 11, 153, 128, 78, 63};
  ASSERT_GE(module.sent.size(), want_setup.size());
  EXPECT_EQ(V(module.sent.begin(), module.sent.begin() + static_cast<long>(want_setup.size())), want_setup);
  EXPECT_TRUE(contains(module.sent, {90, 84, 0})) << "Inflate to the targets, no target bytes";
  EXPECT_EQ(page_fields(1, 5)["count"], "7");
  EXPECT_EQ(page_fields(1, 5)["probe"], "9");
  EXPECT_EQ(page_fields(2, 5)["probe"], "10");
}

TEST_F(DualTest, PvrStatusWordsAndTheComparisonIndicators) {
  pvr_pair("Calf", [](DualPvrStep&) {});
  write_template();
  input->after(30);
  frames(20, 100, 100, 60, 60);
  input->after(200).tap(kDualCaptureRight).after(100).tap(kDualDeleteRight).after(100);
  input->at_time([] { g_trace_strips = TraceStripState{77, 88}; });
  frames(3, 1200, 1300, 60, 60);
  input->after(200).at_time([] {
    EXPECT_EQ(g_trace_strips.count_a, 77) << "a deleted page leaves the indicators alone";
  });
  input->after(50).tap(kCodeExit);
  EXPECT_EQ(run(dualpvr_main, 1, 2, 1), 1);
  auto r = page_fields(1, 5), l = page_fields(2, 5);
  EXPECT_EQ(r["flags"], "1");
  EXPECT_EQ(r["status"], "0");
  EXPECT_EQ(l["flags"], "1") << "EXIT with the RIGHT side captured flags the LEFT one";
  EXPECT_EQ(l["status"], "1300");
}

}  // namespace
}  // namespace vaslab
