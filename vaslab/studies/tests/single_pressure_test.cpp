#include "vaslab/studies/single_pressure.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "study_fixture.h"
#include "vaslab/core/input/system_utils.h"
#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/toolkit/buttons.h"
#include "vaslab/core/toolkit/screen.h"
#include "vaslab/studies/single_channel.h"

namespace vaslab {
namespace {

using V = std::vector<int>;

// The command list sent before every step, with the calibration below.
const V kStepCommands{42, 194, 11, 195, 12, 54, 51, 48, 17, 196, 13, 197, 14, 29, 26, 23, 204, 250, 205, 250, 81};

struct SinglePressureTest : StudyFixture {
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
  int run(int first, int count, int current, int exam = 5) {
    std::vector<std::string> s{"C:\\PROGRAMS\\ONEPRES", "77", std::to_string(exam), std::to_string(first),
                               std::to_string(count), std::to_string(current)};
    std::vector<char*> argv;
    for (auto& x : s) argv.push_back(x.data());
    return onepres_main(6, argv.data());
  }
  // Frames arrive from `at` ms on, after the screen has drained the link.
  void frames_at(std::uint32_t at, int n, int pressure, int wave) {
    input->at_time([this, n, pressure, wave] {
      for (int i = 0; i < n; ++i) module.queue_frame(pressure, 0, wave, 0);
    });
    (void)at;
  }
  std::unique_ptr<StudyPage> page(int step, int exam = 5) {
    auto p = std::make_unique<StudyPage>();
    EXPECT_EQ(read_study_page(step, exam, "00000077.sty", *p), 0);
    return p;
  }
  int slot() { return static_cast<std::int16_t>(peek_comm_area_word(0, kStepSlot)); }
  static V after(const V& all, std::size_t from) { return V(all.begin() + static_cast<long>(from), all.end()); }
};

TEST_F(SinglePressureTest, ANewStepSendsItsCommandsCapturesAndStoresThePage) {
  add_pressure_step("Rt Brachial");
  write_template();
  input->after(30);
  frames_at(30, 100, 140, 100);
  input->after(300).tap(kPressInflate).after(100).tap(kCodeCapture).after(200).tap(0);
  EXPECT_EQ(run(1, 1, 1), 2);
  EXPECT_EQ(slot(), 2);

  V want{0};
  want.insert(want.end(), kStepCommands.begin(), kStepCommands.end());
  const V settings{46, 48, 59, 208, 204,  // probe 15: volume 4, filter flags 13
                   36, 11, 208, 204,      // gain 5 on both channels
                   178, 128, 153, 128,    // baseline
                   208, 68,               // the step's filter flags
                   46, 48, 59, 208, 204,  // probe again at screen start
                   63,                    // cutoff 2
                   183, 180, 90,          // Inflate to its target
                   0};                    // leaving the screen
  want.insert(want.end(), settings.begin(), settings.end());
  EXPECT_EQ(module.sent, want);

  auto p = page(1);
  EXPECT_EQ(p->count, 100);
  EXPECT_EQ(p->newest, 99);
  EXPECT_EQ(p->report_start, -197);
  EXPECT_EQ(p->channel_1[0], 100);
  EXPECT_EQ(p->channel_1[99], 100);
  EXPECT_EQ(p->channel_2[50], 140);
  EXPECT_EQ(p->gain, 5);
  EXPECT_EQ(p->baseline, 128);
  EXPECT_EQ(p->filter_code, 2);
  EXPECT_EQ(p->probe, 15);
  EXPECT_NE(p->save_time, 0);
}

TEST_F(SinglePressureTest, AStatusWordRestartsTheTrace) {
  add_pressure_step("Ankle", [](PressureStep& s) { s.cuff_channel = 3; });  // pressure of channel 2
  write_template();
  input->after(30).at_time([this] {
    for (int i = 0; i < 40; ++i) module.queue_frame(1, 90, 100, 0);
    module.queue_frame(1, 90, 9191, 0);
    for (int i = 0; i < 7; ++i) module.queue_frame(1, 91, 100, 0);
  });
  input->after(300).tap(kCodeCapture).after(200).tap(kCodeExit);
  EXPECT_EQ(run(1, 1, 1), 1);
  auto p = page(1);
  EXPECT_EQ(p->status, 999);
  EXPECT_EQ(p->count, 7);
  EXPECT_EQ(p->channel_2[p->newest], 91);
}

TEST_F(SinglePressureTest, LockedGainIgnoresItsButtonsAndUnlockedGainIsSent) {
  add_pressure_step("Locked", [](PressureStep& s) { s.gain_flags = kSettingLocked; });
  add_pressure_step("Free");
  write_template();
  input->after(50).tap(kPressGainUp).after(100).tap(kCodeNext);
  input->after(100).tap(kPressGainUp).after(100).tap(kCodeCapture).after(100).tap(kCodeExit);
  EXPECT_EQ(run(1, 2, 1), 1);
  // Next on the acquisition screen leaves without a page; the second step's
  // gain goes up from the carried 5 to 6.
  EXPECT_FALSE(page_exists(1, 5));
  auto p = page(2);
  EXPECT_EQ(p->gain, 6);
  const auto& s = module.sent;
  EXPECT_EQ(std::count(s.begin(), s.end(), 37), 1);  // 31 + 6, once
}

TEST_F(SinglePressureTest, ScrollingRightAtTheNewestSampleBeepsAndChangesNothing) {
  add_pressure_step("One");
  write_template();
  input->after(30);
  frames_at(30, 20, 100, 100);
  input->after(200).tap(kCodeCapture).after(100).panel_down(kRemoteSlowRight).after(50).panel_up();
  input->after(100).tap(kCodeExit);
  EXPECT_EQ(run(1, 1, 1), 1);
  EXPECT_EQ(input->beeps, 1);
  EXPECT_EQ(page(1)->newest, 19);
}

// What SDL's disk audio driver recorded (16-bit mono samples at 44.1 kHz,
// the format the window asks for), from the first to the last sample
// louder than a whisper: its length, loudness and pitch.
struct Heard {
  double ms = 0, hz = 0;
  int peak = 0;
};
Heard listen(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(f)), {});
  std::vector<std::int16_t> s(bytes.size() / 2);
  if (!s.empty()) std::memcpy(s.data(), bytes.data(), s.size() * 2);
  const auto loud = [](std::int16_t v) { return std::abs(v) > 300; };
  const auto first = std::find_if(s.begin(), s.end(), loud);
  const auto last = std::find_if(s.rbegin(), s.rend(), loud).base();
  Heard h;
  int crossings = 0;
  for (auto i = first; i < last; ++i) {
    h.peak = std::max(h.peak, std::abs(int{*i}));
    crossings += i != first && (i[-1] < 0) != (*i < 0);
  }
  h.ms = first < last ? (last - first) * 1000.0 / 44100 : 0;
  h.hz = h.ms > 0 ? crossings / 2.0 / (h.ms / 1000) : 0;
  return h;
}

// The refusal through a real window's sound, recorded by SDL's disk driver:
// a short beep is heard.  Where no sound device opens (the recording's
// folder is missing) the screen refuses just the same, silently, and goes on.
TEST_F(SinglePressureTest, ARefusedScrollIsHeardAndWithoutASoundDeviceTheScreenGoesOn) {
  add_pressure_step("One");
  write_template();
  const std::string heard = root.path() + "/heard.raw", unheard = root.path() + "/no such folder/heard.raw";
  int exam = 5;  // each case a study of its own, captured anew
  for (const std::string& recording : {heard, unheard}) {
    ::setenv("SDL_AUDIODRIVER", "disk", 1);
    ::setenv("SDL_DISKAUDIOFILE", recording.c_str(), 1);
    auto window = platform::make_sdl_backend();
    ASSERT_TRUE(window);
    input->speaker = window.get();
    input->beeps = 0;
    input->from_now().after(30);
    frames_at(30, 20, 100, 100);
    input->after(200).tap(kCodeCapture).after(100).panel_down(kRemoteSlowRight).after(50).panel_up();
    input->after(100).tap(kCodeExit);
    EXPECT_EQ(run(1, 1, 1, ++exam), 1) << recording;
    EXPECT_EQ(input->beeps, 1) << recording;
    EXPECT_EQ(page(1, exam)->newest, 19) << recording;
    input->speaker = nullptr;
    // The window's waits play the tone out and close the device: the
    // recording then stops growing.
    std::error_code e;
    std::uintmax_t size = 1;
    for (int still = 0, i = 0; still < 25 && i < 400; ++i) {
      window->wait_message(20);
      for (platform::WindowMessage m; window->next_message(m);) {
      }
      const std::uintmax_t now = std::filesystem::file_size(recording, e);
      still = !e && now == size ? still + 1 : 0;
      size = e ? 0 : now;
    }
    window.reset();
    if (recording == unheard) {
      EXPECT_FALSE(std::filesystem::exists(recording));
      continue;
    }
    ASSERT_GT(size, 0u) << "nothing recorded";
    EXPECT_EQ(std::filesystem::file_size(recording), size) << "the device was closed after the tone";
    const Heard h = listen(recording);
    EXPECT_GE(h.ms, 80) << "a beep, not a click or silence";
    EXPECT_LE(h.ms, 400) << "a beep, not a drone";
    EXPECT_GE(h.peak, 3000) << "loud enough to be heard";
    EXPECT_TRUE(h.hz >= 300 && h.hz <= 3000) << h.hz << " Hz";
  }
  ::setenv("SDL_AUDIODRIVER", "dummy", 1);
  ::unsetenv("SDL_DISKAUDIOFILE");
}

TEST_F(SinglePressureTest, AReviewedPageIsRewrittenWithOnlyItsChanges) {
  add_pressure_step("One");
  write_template();
  input->after(30);
  frames_at(30, 50, 100, 100);
  input->after(200).tap(kCodeCapture).after(100).tap(kCodeExit);
  ASSERT_EQ(run(1, 1, 1), 1);
  const std::string before = root.read(page_file_name(1, 5));
  module.sent.clear();
  // Opens on the post screen: one step left, then Back.
  input->after(100).tap(105).after(100).tap(kCodeBack);
  EXPECT_EQ(run(1, 1, 1), 3);
  const std::string after = root.read(page_file_name(1, 5));
  ASSERT_EQ(after.size(), before.size());
  std::vector<std::size_t> changed;
  for (std::size_t i = 0; i < after.size(); ++i)
    if (after[i] != before[i]) changed.push_back(i);
  // Report start and newest index (16..19); the save time may move on.
  for (std::size_t i : changed) EXPECT_TRUE((i >= 16 && i < 20) || i >= 12009) << i;
  EXPECT_EQ(page(1)->newest, 48);
  EXPECT_EQ(module.sent, [] {
    V w{0};
    w.insert(w.end(), kStepCommands.begin(), kStepCommands.end());
    return w;
  }());
}

// Set Output opens on what the post screen shows: the pressure stands
// beside the line, the typed digits inside the screen's margin, and the digit
// keys are alike in width and spacing.
TEST_F(SinglePressureTest, SetOutputShowsTheCurrentOutputAndTypesInsideTheMargin) {
  add_pressure_step("Rt Ankle");
  write_template();
  input->after(30);
  frames_at(30, 50, 140, 100);
  const std::uint32_t white = rgb(255, 255, 255);
  int now_ink = 0, line_left = 640;
  std::vector<int> lefts, widths;
  input->after(200).tap(kCodeCapture).after(200).tap(kPressSetOutput).after(300).type("1").after(100);
  input->at_time([&] {
    now_ink = count_of(400, 30, 640, 84, white);
    for (int y = 30; y < 84; ++y)
      for (int x = 0; x < 400; ++x)
        if (px(x, y) == white) line_left = std::min(line_left, x);
    for (const ButtonRecord* b = current_button_table(); b && !is_table_end(*b); ++b)
      if (b->button_code >= '0' && b->button_code <= '9' && b->y1 < 150) {
        lefts.push_back(b->x1);
        widths.push_back(b->x2 - b->x1);
      }
  });
  input->tap(0).after(200).tap(kCodeExit);
  EXPECT_EQ(run(1, 1, 1), 1);
  EXPECT_STREQ(page(1)->short_text, "1");
  EXPECT_GT(now_ink, 20) << "the current output is not shown";
  EXPECT_GE(line_left, 10) << "the typed digit stands at the screen's edge";
  ASSERT_EQ(widths.size(), 10u);
  std::sort(lefts.begin(), lefts.end());
  for (std::size_t i = 0; i < 10; ++i) EXPECT_EQ(widths[i], widths[0]) << "key " << i;
  for (std::size_t i = 1; i < 10; ++i) EXPECT_EQ(lefts[i] - lefts[i - 1], widths[0]) << "key " << i;
  EXPECT_GT(lefts[0], 0) << "the first key against the screen's edge";
}

TEST_F(SinglePressureTest, ThePickerFilesThePageUnderTheChosenStep) {
  add_pressure_step("Rt Ankle");
  add_pressure_step("Lt Ankle");
  add_pressure_step("Rt Toe");
  write_template();
  input->after(30);
  frames_at(30, 30, 100, 100);
  input->after(200).tap(kCodeCapture);
  input->after(200).panel_down(kRemotePicker).after(100).panel_up();
  input->after(200).tap(103).after(100).tap(103).after(100).tap(0);  // down twice, OK
  input->after(200).tap(kCodeExit);
  EXPECT_EQ(run(1, 3, 1), 1);
  EXPECT_EQ(slot(), 3);
  EXPECT_FALSE(page_exists(1, 5));
  EXPECT_EQ(page(3)->count, 30);
}

TEST(SinglePressure, ProbeCycle) {
  V seen{15};
  for (int i = 0; i < 4; ++i) seen.push_back(next_pressure_probe(seen.back()));
  EXPECT_EQ(seen, (V{15, 5, 6, 16, 15}));
  EXPECT_EQ(next_pressure_probe(0), 5);
}

TEST(SingleChannel, VolumeDownToMuteThenMuteRestoresThree) {
  VolumeControl v;
  start_volume(v, 1);
  volume_down(v);
  EXPECT_EQ(v.volume, 0);
  toggle_mute(v);
  EXPECT_EQ(v.volume, 3);
  volume_up(v);
  EXPECT_EQ(v.volume, 4);
  toggle_mute(v);
  EXPECT_EQ(v.volume, 0);
  toggle_mute(v);
  EXPECT_EQ(v.volume, 4);
  start_volume(v, 0);
  EXPECT_EQ(v.saved, 3);
}

TEST(SingleChannel, HoldSendsOnceThenAfterTheCountdownThenOneStop) {
  FakeModule m;
  hardware_settings().inflate_delay = 2;
  CuffHold h;
  reset_cuff_hold(h);
  cuff_hold_press(h, true, true);
  for (int i = 0; i < 5; ++i) cuff_hold_repeat(h, true, true);
  cuff_hold_release(h);
  EXPECT_EQ(m.take_sent(), (V{92, 92, 92, 92, 93}));
  cuff_hold_press(h, false, false);
  cuff_hold_release(h);
  EXPECT_EQ(m.take_sent(), (V{88, 89}));
  cuff_hold_release(h);
  EXPECT_TRUE(m.take_sent().empty());
}

TEST(SingleChannel, CaptureTurnsAFullRingOldestFirst) {
  auto p = std::make_unique<StudyPage>();
  *p = StudyPage{};
  p->count = kRingSamples;
  p->newest = 100;
  for (int i = 0; i < kRingSamples; ++i) {
    p->channel_1[i] = static_cast<std::int16_t>(i);
    p->channel_2[i] = static_cast<std::int16_t>(-i);
  }
  capture_window(*p, 296, true);
  EXPECT_EQ(p->newest, 2959);
  EXPECT_EQ(p->report_start, 2663);
  EXPECT_EQ(p->channel_1[0], 101);
  EXPECT_EQ(p->channel_1[2959], 100);
  EXPECT_EQ(p->channel_2[0], -101);
  p->count = 100;
  p->newest = 99;
  capture_window(*p, 296, true);
  EXPECT_EQ(p->report_start, -197);
  EXPECT_EQ(p->newest, 99);
}

TEST(SingleChannel, MovingTheWindowStopsAtTheEnds) {
  StudyPage p{};
  p.count = 10;
  p.newest = 8;
  p.report_start = 2;
  EXPECT_EQ(move_window(p, 5), 1);
  EXPECT_EQ(p.newest, 9);
  EXPECT_EQ(p.report_start, 3);
  EXPECT_EQ(move_window(p, 1), 0);
  EXPECT_EQ(move_window(p, -20), 9);
  EXPECT_EQ(p.newest, 0);
  EXPECT_EQ(p.report_start, -6);
}

}  // namespace
}  // namespace vaslab
