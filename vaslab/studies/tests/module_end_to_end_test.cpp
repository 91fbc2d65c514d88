// The Doppler, dual and diagnostics screens against the measuring-module
// simulator on a pseudo-terminal, which streams in real time in a thread of
// its own; the pages they leave are read back by the independent reader.
// The script waits for the frames a step needs, and the checks for the
// commands, to reach the other side, never for a length of time.
#include <gtest/gtest.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/window.h"
#include "study_fixture.h"
#include "vaslab/core/links/module_link.h"
#include "vaslab/core/screens/setup_menus.h"
#include "vaslab/studies/doppler.h"
#include "vaslab/studies/dual_pair.h"
#include "vaslab/studies/module_entries.h"
#include "vaslab/studies/sample_frames.h"
#include "vaslab/studies/single_channel.h"
#include "vaslab/studies/single_pressure.h"

namespace vaslab {
namespace {

using V = std::vector<int>;

struct ModuleEndToEnd : StudyFixture {
  void link(const sim::ModuleOptions& options = {}) {
    link_simulator(options);
    hardware_settings().inflate_delay = 2;
  }
  std::vector<int> received() {
    std::vector<int> bytes;
    for (const auto& e : simulator->log()) {
      bytes.push_back(e.command);
      if (e.argument >= 0) bytes.push_back(e.argument);
    }
    return bytes;
  }
  static bool contains(const V& all, const V& part) {
    return std::search(all.begin(), all.end(), part.begin(), part.end()) != all.end();
  }
  // Whether the module received these bytes in a row (the screen sent them
  // before it returned; the simulator's thread may take them later).
  bool received_in_a_row(const V& part) {
    return testsupport::wait_until([&] { return contains(received(), part); });
  }
  int run(int (*entry)(int, char*[]), int count) {
    std::vector<std::string> s{"C:\\PROGRAMS\\X", "77", "5", "1", std::to_string(count), "1"};
    std::vector<char*> argv;
    for (auto& x : s) argv.push_back(x.data());
    return entry(6, argv.data());
  }
  long number(const std::map<std::string, std::string>& f, const char* key) { return std::stol(f.at(key)); }

  // Inflate on the screen, then the script holds until the module's cuff
  // on `channel` stands at `mmhg` or more.
  void inflate_to(int inflate_code, int channel, int mmhg) {
    input->from_now().after(100).tap(inflate_code).after(100).at_time([this, channel, mmhg] {
      ASSERT_TRUE(testsupport::wait_until([&] { return simulator->cuff_pressure(channel) >= mmhg; }));
    });
    input->after(100);
  }
  // Every byte the simulator put on the line has been read by the screen.
  static bool line_read() {
    int waiting = 0;
    return ::ioctl(module_wait_descriptor(), FIONREAD, &waiting) == 0 && waiting == 0;
  }
  // Both cuffs empty soon after the screen returned: the module vents them
  // within seconds of command 0, while a cuff left standing only leaks.
  bool cuffs_let_down() {
    return testsupport::wait_until(
        [&] { return simulator->cuff_pressure(1) == 0 && simulator->cuff_pressure(2) == 0; },
        std::chrono::seconds(10));
  }
};

TEST_F(ModuleEndToEnd, ADopplerStepKeepsTheFilteredWaveItWasSent) {
  link();
  add_doppler_step("Right CFA", [](DopplerStep& s) { s.report_window = 150; });
  write_template();
  input->after(100).at_time(frames(90)).after(100);
  input->tap(kCodeCapture).after(300).tap(0);  // capture, Next
  EXPECT_EQ(run(doppler_main, 1), 2);
  auto p = page_fields(1, 5);
  const long count = number(p, "count");
  EXPECT_GT(count, 40);
  EXPECT_EQ(number(p, "start"), number(p, "newest") - 150);
  EXPECT_EQ(number(p, "probe"), 16);
  EXPECT_GE(number(p, "ch1_newest"), 100) << "the Doppler wave rests at 128";
  EXPECT_LE(number(p, "ch1_newest"), 256);
  EXPECT_TRUE(received_in_a_row({46, 48, 21, 23, 59, 21, 36, 178, 128, 208, 68, 59, 21, 63}));
}

// Invert turns the simulated flow over: the captured window's peaks point
// down from the rest level instead of up.
TEST_F(ModuleEndToEnd, InvertTurnsTheCapturedDopplerWaveOver) {
  link();
  add_doppler_step("Rt PT");
  add_doppler_step("Rt DP");
  write_template();
  // Upright: any window of the stream will do.
  input->after(100).at_time(frames(400)).after(350);
  input->tap(kCodeCapture).after(300).tap(0);
  // The wave turns over when the simulator's thread takes the command, which
  // may be well after the screen sent it; the frames it sent before are
  // still upright and on the line.  Capture only once the screen has read
  // every frame up to 400 sent after the command, more than the 296 samples
  // the capture keeps.
  input->after(300).tap(kDopplerInvert).after(100);
  long turned = 0;
  input->at_time([&] {
    ASSERT_TRUE(received_in_a_row({63, 49}));
    turned = simulator->frames_total();
  });
  input->hold_until([&] { return simulator->frames_total() >= turned + 400 && line_read(); });
  input->tap(kCodeCapture).after(300).tap(0);
  EXPECT_EQ(run(doppler_main, 2), 2);
  auto upright = page_fields(1, 5), inverted = page_fields(2, 5);
  EXPECT_GT(number(upright, "ch1_high"), 200);
  EXPECT_GT(number(upright, "ch1_low"), 90);
  EXPECT_LT(number(inverted, "ch1_low"), 60);
  EXPECT_LT(number(inverted, "ch1_high"), 170);
}

// Gain, baseline and volume raised on the first step are where the second
// step starts: its page and the volume sent with its probe set-up.
TEST_F(ModuleEndToEnd, SettingsRaisedOnOneStepStartTheNext) {
  link();
  add_pressure_step("Rt Brachial");  // gain 5, baseline 128, volume 4
  add_pressure_step("Rt Ankle");
  write_template();
  input->after(100).tap(kPressGainUp).after(100).tap(kPressBaselineUp).after(100).tap(kPressVolumeUp);
  input->after(100).at_time(frames(30)).after(100).tap(kCodeCapture).after(300).tap(0);
  input->after(100).at_time(frames(30)).after(100).tap(kCodeCapture).after(300).tap(0);
  EXPECT_EQ(run(onepres_main, 2), 2);
  for (int step : {1, 2}) {
    auto p = page_fields(step, 5);
    EXPECT_EQ(number(p, "gain"), 6) << step;
    EXPECT_EQ(number(p, "baseline"), 129) << step;
  }
  V got;
  testsupport::wait_until([&] {
    got = received();
    return std::count(got.begin(), got.end(), 81) >= 2;
  });
  const auto second = std::find(std::find(got.begin(), got.end(), 81) + 1, got.end(), 81);
  ASSERT_NE(second, got.end());
  EXPECT_TRUE(contains(V(second, got.end()), {46, 48, volume_command(5)})) << "volume 5 at the second step's start";
}

TEST_F(ModuleEndToEnd, ADualPpgPairTakesTheLeftTraceFromValueFour) {
  sim::ModuleOptions opt;
  opt.wave1 = sim::Wave::kDoppler;  // the PPG set-ups switch both channels
  opt.wave2 = sim::Wave::kDoppler;
  link(opt);
  DualPpgStep s{};
  s.module_type = 5;
  s.step_class = kStudyStepClass;
  s.gain = 5;
  s.baseline = 128;
  s.window = 296;
  pair(s, encode_dual_ppg_step, "Fingers", [](DualPpgStep&) {});
  write_template();
  input->after(100).at_time(frames(120)).after(100);
  input->tap(kCodeCapture).after(300).tap(0);
  EXPECT_EQ(run(dualppg_main, 2), 2);
  for (int step : {1, 2}) {
    auto p = page_fields(step, 5);
    EXPECT_GT(number(p, "count"), 60) << step;
    EXPECT_GE(number(p, "ch1_newest"), 60) << "a PPG wave, never below its rest level";
    EXPECT_EQ(number(p, "probe"), 4 + step);
  }
  EXPECT_TRUE(received_in_a_row({42, 17, 208, 0, 36, 178, 128, 11, 153, 128, 78}));
}

TEST_F(ModuleEndToEnd, AnAbiPairInflatesBothCuffsAndKeepsItsOutput) {
  link();
  DualPressureStep s{};
  s.module_type = 11;
  s.step_class = kStudyStepClass;
  s.options = 0x08;
  s.inflate_target = 180;
  s.deflate_target = 20;
  s.gain = 5;
  s.filter_code = 2;
  s.baseline = 128;
  s.over_range = 250;
  pair(s, encode_dual_pressure_step, "Brachial", [](DualPressureStep&) {});
  write_template();
  input->after(100).tap(kDualInflate).after(100).at_time(frames(150)).after(100);
  input->tap(kCodeCapture).after(300).tap(kDualMove).after(100).tap(kDualSlowBack).after(100);
  // Set Output on both sides: typed on each keyboard, then Accept.
  input->tap(kDualSetOutput).after(300).type("120").after(50).tap(0);
  input->after(300).type("120").after(50).tap(0).after(300).tap(0);
  EXPECT_EQ(run(dualpres_main, 2), 2);
  EXPECT_TRUE(received_in_a_row({183, 180, 90, 158, 180, 84}));
  for (int step : {1, 2}) {
    auto p = page_fields(step, 5);
    EXPECT_EQ(p["short"], "120") << step;
    EXPECT_GT(number(p, "ch2_newest"), 20) << "the cuff was inflating";
    EXPECT_GE(number(p, "point1"), 0);
    EXPECT_GE(number(p, "point2"), 0);
  }
  const std::string page = root.read(page_file_name(2, 5));
  EXPECT_EQ(page.substr(11874, 4), std::string("120\0", 4));
}

TEST_F(ModuleEndToEnd, APvrPairKeepsTheStatusWordsOfBothChannels) {
  sim::ModuleOptions opt;
  opt.status_word = 1200;
  opt.status_every = 30;
  opt.status_word2 = 1300;
  opt.status_every2 = 40;
  link(opt);
  DualPvrStep s{};
  s.module_type = 1;
  s.step_class = kStudyStepClass;
  s.inflate_target = 65;
  s.over_range = 200;
  s.gain = 5;
  s.baseline = 128;
  s.window = 296;
  pair(s, encode_dual_pvr_step, "Calf", [](DualPvrStep&) {});
  write_template();
  input->after(100).tap(kDualInflate).after(100).at_time(frames(150)).after(100);
  input->tap(kCodeCapture).after(300).tap(0);
  EXPECT_EQ(run(dualpvr_main, 2), 2);
  EXPECT_EQ(number(page_fields(1, 5), "status"), 1200);
  EXPECT_EQ(number(page_fields(2, 5), "status"), 1300);
  EXPECT_TRUE(received_in_a_row({44, 194}));
  EXPECT_TRUE(received_in_a_row({90, 84}));
}

// However a pressure screen is left, the cuffs it inflated go down; a cuff
// inflated while Inflate is held stops rising when it is let go.
TEST_F(ModuleEndToEnd, LeavingASinglePressureScreenLetsTheCuffDown) {
  link();
  add_pressure_step("Rt Ankle", [](PressureStep& s) { s.inflate_target = 150; });
  add_pressure_step("Rt Calf", [](PressureStep& s) { s.inflate_mode = 1; });
  write_template();
  inflate_to(kPressInflate, 1, 40);
  input->tap(kCodeExit);
  EXPECT_EQ(run(onepres_main, 2), 1);
  EXPECT_TRUE(cuffs_let_down()) << "EXIT";

  inflate_to(kPressInflate, 1, 40);
  input->tap(kCodeCapture).after(300).tap(0);  // capture, Proceed
  // The second step inflates while Inflate is held, repeats included.
  input->after(100).press(kPressInflate).after(100).at_time([this] {
    ASSERT_TRUE(testsupport::wait_until([&] { return simulator->cuff_pressure(1) >= 30; }));
  });
  input->after(300).release().after(100).at_time([this] {
    ASSERT_TRUE(testsupport::wait_until([&] {
      const V got = received();
      const auto last_hold = std::find(got.rbegin(), got.rend(), 92);
      return last_hold != got.rend() && std::find(got.rbegin(), last_hold, 93) != last_hold;
    })) << "the hold's stop on release";
    const int stopped = simulator->cuff_pressure(1);
    ::usleep(500 * 1000);
    EXPECT_LE(simulator->cuff_pressure(1), stopped) << "no longer inflating once let go";
    EXPECT_GT(simulator->cuff_pressure(1), stopped - 5) << "only its slow leak";
  });
  // Back to the first step's review, and EXIT there.
  input->after(100).tap(kCodeBack).after(300).tap(kCodeExit);
  EXPECT_EQ(run(onepres_main, 2), 1);
  EXPECT_TRUE(cuffs_let_down()) << "CAPTURE, then Back";
}

TEST_F(ModuleEndToEnd, LeavingADualPressureOrPvrScreenLetsBothCuffsDown) {
  link();
  DualPressureStep s{};
  s.module_type = 11;
  s.step_class = kStudyStepClass;
  s.inflate_target = 180;
  s.deflate_target = 20;
  s.gain = 5;
  s.baseline = 128;
  s.over_range = 250;
  pair(s, encode_dual_pressure_step, "Ankle", [](DualPressureStep&) {});
  write_template();
  inflate_to(kDualInflate, 2, 40);
  input->tap(kCodeNext);
  EXPECT_EQ(run(dualpres_main, 2), 2);
  EXPECT_TRUE(cuffs_let_down()) << "Next";

  tpl.resize(kTemplateRecordSize);
  DualPvrStep v{};
  v.module_type = 1;
  v.step_class = kStudyStepClass;
  v.inflate_target = 65;
  v.over_range = 200;
  v.gain = 5;
  v.baseline = 128;
  v.window = 296;
  pair(v, encode_dual_pvr_step, "Calf", [](DualPvrStep&) {});
  write_template();
  inflate_to(kDualInflate, 1, 40);
  input->tap(kCodeCapture).after(300).tap(0);
  EXPECT_EQ(run(dualpvr_main, 2), 2);
  EXPECT_TRUE(cuffs_let_down()) << "CAPTURE";

  // The window closed while both cuffs hold their pressure.
  delete_page_pair(1, 5);
  inflate_to(kDualInflate, 2, 40);
  input->close_window();
  run(dualpvr_main, 2);
  EXPECT_TRUE(cuffs_let_down()) << "the window closed";
}

TEST_F(ModuleEndToEnd, TheDiagnosticsFromTheSetUpMenuAlternateTheRouting) {
  link();
  add_doppler_step("Doppler Frequency", [](DopplerStep&) {}, kDiagnosticsStepClass);
  write_template();
  root.write(diagnostics_template_file_name("dopalign"), std::string(tpl.begin(), tpl.end()));
  for (int i = 0; i < kUnlockPresses; ++i) input->after(80).tap(118);
  // Diagnostics, Calibrate, Doppler Frequency.
  input->after(80).tap(101).after(80).tap(100).after(80).tap(100);
  // The step reads one frame a pass and routes back after 100: the frames
  // wait on the line, and the passes before Exit are enough to read them.
  input->after(100).at_time(frames(150)).after(200).tap(kCodeExit);
  input->after(100).tap(104).after(80).tap(105).after(80).tap(104);
  EXPECT_EQ(run_setup_menu(), 0);
  const V step_list{46, 48, 21, 23, 4, 5};
  auto routed_back = [&] {
    const V got = received();
    const auto start = std::search(got.begin(), got.end(), step_list.begin(), step_list.end());
    return start != got.end() && contains(V(start, got.end()), {63, 3, 4, 5});
  };
  ASSERT_TRUE(received_in_a_row(step_list)) << "the diagnostics step ran";
  EXPECT_TRUE(testsupport::wait_until(routed_back)) << "remember, route, route back";
}

}  // namespace
}  // namespace vaslab
