// The study screens as the operator sees them, compared with the expected
// pictures in tests/expected (see screenshot_check.h to regenerate them).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "../../core/tests/screenshot_check.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "study_fixture.h"
#include "vaslab/studies/doppler.h"
#include "vaslab/studies/dual_pair.h"
#include "vaslab/studies/module_entries.h"
#include "vaslab/reports/module_entries.h"
#include "vaslab/studies/service_modules.h"
#include "vaslab/records/export_screen.h"
#include "vaslab/records/step_runner.h"
#include "vaslab/records/study_menu_module.h"
#include "vaslab/records/temp_studies.h"
#include "vaslab/studies/single_channel.h"
#include "vaslab/studies/single_pressure.h"

namespace vaslab {
namespace {

constexpr const char* kExpected = "vaslab/studies/tests/expected";

struct StudyScreenshot : StudyFixture {
  // A pulse-like wave of `n` frames on both channels.
  void pulse(int n) {
    input->at_time([this, n] {
      for (int i = 0; i < n; ++i) {
        const double ph = std::fmod(i / 80.0, 1.0);
        const int v = 60 + static_cast<int>(120 * std::exp(-std::pow((ph - 0.2) / 0.07, 2)));
        module.queue_frame(100 + i % 50, 90, v, 250 - v);
      }
    });
  }
  // A right and a left ankle pressure with markers.
  void ankle_pair() {
    DualPressureStep s{};
    s.module_type = 11;
    s.step_class = kStudyStepClass;
    s.options = 0x08;
    s.inflate_target = 180;
    s.gain = 5;
    s.filter_code = 2;
    s.baseline = 128;
    s.over_range = 250;
    pair(s, encode_dual_pressure_step, "Ankle", [](DualPressureStep&) {});
    write_template();
  }
  // The RIGHT and LEFT PPG steps of one pair, in the template.
  void digits_pair() {
    DualPpgStep s{};
    s.module_type = 5;
    s.step_class = kStudyStepClass;
    s.gain = 5;
    s.filter_code = 2;
    s.baseline = 128;
    s.window = 296;
    pair(s, encode_dual_ppg_step, "Digits", [](DualPpgStep&) {});
    write_template();
  }
  int run(int (*entry)(int, char*[]), int count) {
    std::vector<std::string> s{"C:\\PROGRAMS\\X", "77", "5", "1", std::to_string(count), "1"};
    std::vector<char*> argv;
    for (auto& x : s) argv.push_back(x.data());
    return entry(6, argv.data());
  }
};

TEST_F(StudyScreenshot, DopplerAcquisition) {
  add_doppler_step("Right CFA", [](DopplerStep& s) { s.report_window = 296; });
  write_template();
  input->after(30);
  pulse(400);
  input->after(2000).at_time([] { check_screenshot("doppler_acquisition", kExpected); });
  input->after(100).tap(kCodeExit);
  EXPECT_EQ(run(doppler_main, 1), 1);
}

TEST_F(StudyScreenshot, DiagnosticSteps) {
  add_doppler_step("Doppler Frequency", [](DopplerStep& s) { s.second_scale = 1; }, kDiagnosticsStepClass);
  write_template();
  root.write(diagnostics_template_file_name("dopalign"), std::string(tpl.begin(), tpl.end()));
  input->after(30);
  pulse(400);
  input->after(2000).at_time([] { check_screenshot("diagnostic_steps", kExpected); });
  input->after(100).tap(kCodeExit);
  std::vector<std::string> s{"dopalign", "dopalign", "1", "1", "1", "1"};
  std::vector<char*> argv;
  for (auto& x : s) argv.push_back(x.data());
  EXPECT_EQ(dopalign_main(6, argv.data()), 1);
}

TEST_F(StudyScreenshot, DualPressureAcquisitionAndPost) {
  ankle_pair();
  input->after(30);
  pulse(400);
  input->after(2000).at_time([] { check_screenshot("dual_pressure_acquisition", kExpected); });
  input->after(100).tap(kCodeCapture).after(300).tap(kDualMove).after(100).tap(kDualSlowBack);
  input->after(300).at_time([] {
    check_screenshot("dual_pressure_post", kExpected);
    // Both sides show the same marker time: its text stands clear of the
    // scale badge, and both sides lay badge, "TIME:" and value out alike.
    const std::uint32_t white = rgb(255, 255, 255);
    std::vector<bool> ink[2];
    const int badge[2] = {169, 496};
    for (int side = 0; side < 2; ++side) {
      for (int y = 212; y < 239; ++y)
        for (int x = badge[side]; x < badge[side] + 131; ++x) ink[side].push_back(px(x, y) == white);
      EXPECT_EQ(count_of(badge[side] + 36, 212, badge[side] + 40, 239, white), 0) << "side " << side;
    }
    EXPECT_TRUE(ink[0] == ink[1]) << "the two sides' marker times are laid out differently";
  });
  input->after(100).tap(kCodeExit);
  EXPECT_EQ(run(dualpres_main, 2), 1);
}

// The dual screens say which trace is which side, and the lower row of
// buttons leaves the top line of the button band whole.
TEST_F(StudyScreenshot, DualScreensNameTheirSidesAndKeepTheBandLineWhole) {
  ankle_pair();
  struct Seen {
    int line = 0, right_caption = 0, left_caption = 0;
  } seen[2];
  auto look = [this](Seen& s) {
    return [this, &s] {
      const std::uint32_t white = rgb(255, 255, 255);
      s.line = count_of(0, 403, 640, 404, rgb(120, 170, 180));
      s.right_caption = count_of(8, 28, 120, 46, white);
      s.left_caption = count_of(336, 28, 448, 46, white);
    };
  };
  input->after(30);
  pulse(400);
  input->after(1000).at_time(look(seen[0]));
  input->after(100).tap(kCodeCapture).after(300).at_time(look(seen[1]));
  input->after(100).tap(kCodeExit);
  EXPECT_EQ(run(dualpres_main, 2), 1);
  for (const Seen& s : seen) {
    const char* screen = &s == &seen[0] ? "acquisition" : "post";
    EXPECT_EQ(s.line, 640) << screen << ": the band's line is cut";
    EXPECT_GT(s.right_caption, 20) << screen << ": no RIGHT over the left trace";
    EXPECT_GT(s.left_caption, 20) << screen << ": no LEFT over the right trace";
  }
}

TEST_F(StudyScreenshot, DualPpgAcquisition) {
  digits_pair();
  input->after(30);
  pulse(400);
  input->after(2000).tap(kDualCaptureRight).after(300);
  input->at_time([] { check_screenshot("dual_ppg_acquisition", kExpected); });
  input->after(100).tap(kCodeExit);
  EXPECT_EQ(run(dualppg_main, 2), 1);
}

// Do Over on the post screen comes back to the traces with both sides still
// captured: each side's panel (Delete, Do Over, Keep) stands over its trace,
// drawn, not hidden under the strip, and its Do Over takes the side anew.
TEST_F(StudyScreenshot, DoOverFromThePostScreenShowsBothPanels) {
  digits_pair();
  input->after(30);
  pulse(400);
  input->after(2000).tap(kCodeCapture).after(300).tap(kCodeDoOver).after(300);
  const std::uint32_t black = rgb(0, 0, 0);
  input->at_time([&] {
    // The Keep buttons' faces; under the strip they are black trace ground.
    for (int dx : {0, 327}) EXPECT_LT(count_of(20 + dx, 135, 290 + dx, 190, black), 500) << "panel at " << dx;
  });
  input->tap(kDualDoOverRight).after(300).at_time([&] {
    EXPECT_GT(count_of(20, 135, 290, 190, black), 10000) << "the RIGHT trace runs again";
    EXPECT_LT(count_of(347, 135, 617, 190, black), 500) << "the LEFT panel stays";
  });
  input->after(100).tap(kCodeExit);
  EXPECT_EQ(run(dualppg_main, 2), 1);
}

// A side captured again after Do Over has no marker time yet: the old one
// does not stay on the screen.
TEST_F(StudyScreenshot, DoOverOfAPressureSideTakesItsMarkerTimeAway) {
  constexpr int kPressureDoOverLeft = 116;
  ankle_pair();
  input->after(30);
  pulse(400);
  input->after(2000).tap(kCodeCapture).after(300).tap(kCodeDoOver).after(300);
  input->tap(kDualDoOverRight).after(100).tap(kPressureDoOverLeft).after(300).at_time([&] {
    const std::uint32_t white = rgb(255, 255, 255);
    for (const int badge : {169, 496})
      EXPECT_EQ(count_of(badge + 42, 212, badge + 140, 230, white), 0) << "marker time beside the badge at " << badge;
  });
  input->after(100).tap(kCodeExit);
  run(dualpres_main, 2);
}

TEST_F(StudyScreenshot, PressureStepAndItsPostScreen) {
  add_pressure_step("Rt Brachial", [](PressureStep& s) { s.show_stopwatch = 1; });
  write_template();
  input->after(30);
  pulse(400);
  input->after(2000).at_time([] { check_screenshot("pressure_acquisition", kExpected); });
  input->after(100).tap(kCodeCapture).after(500).at_time([] { check_screenshot("pressure_post", kExpected); });
  input->after(100).tap(kCodeExit);
  EXPECT_EQ(run(onepres_main, 1), 1);
}

// A new study: the patient screen, a captured step, the review screen and
// its patient data with every field.
TEST_F(StudyScreenshot, PatientAndReviewScreens) {
  add_pressure_step("Rt Brachial");
  add_pressure_step("Rt Ankle");
  write_template();
  set_module_check([] { return 0; });
  std::strcpy(hardware_settings().export_control_2, "C:\\PROGRAMS\\DELIMEX");
  std::strcpy(hardware_settings().export_path_2, "C:\\EXPORT\\");
  // Letters typed and taken back leave the line as it was, their
  // descenders too.
  std::vector<std::uint32_t> untouched, erased;
  auto name_line = [](std::vector<std::uint32_t>& rows) {
    for (int y = 40; y < 86; ++y)
      for (int x = 0; x < 640; ++x) rows.push_back(px(x, y));
  };
  input->after(100).at_time([&] {
    check_screenshot("patient_data", kExpected);
    name_line(untouched);
  });
  input->type("gjpqy");
  for (int i = 0; i < 5; ++i) input->key(platform::vk::kBack);
  input->after(100).at_time([&] { name_line(erased); });
  input->type("SMITH JOHN").key(platform::vk::kReturn).type("A-17").key(platform::vk::kReturn).after(300);
  pulse(300);
  input->after(1000).tap(kCodeCapture).after(300).tap(kCodeExit).after(300);
  input->at_time([] { check_screenshot("review", kExpected); });
  // The export screen lists the study's date: a fixed one keeps the picture
  // the same from run to run (a move of the selection redraws the row).
  input->at_time([] { std::memcpy(study_header() + 92, "03/04/2026 10:15 AM", 20); });
  input->key(platform::vk::kUp).after(300);
  input->tap(kReviewExport).after(300).at_time([] { check_screenshot("export", kExpected); });
  input->tap(kExportExit).after(300);
  // The ID field (the exam date after it holds the time of the run).
  input->tap(kReviewPatient).after(300).key(platform::vk::kReturn).after(300);
  input->at_time([] { check_screenshot("patient_info", kExpected); });
  input->key(platform::vk::kEscape).after(300).tap(kReviewExit);
  EXPECT_EQ(review_screen(77, 0), 8);
  set_module_check(nullptr);
  ASSERT_EQ(erased.size(), untouched.size());
  EXPECT_TRUE(erased == untouched) << "the erased letters left pixels on the name line";
}

// The e-mail export's result screen says one thing: the failure with its
// cause (here the mail command line is missing), or success with the mail
// program's report of what it sent.
TEST_F(StudyScreenshot, MailResultOfAFailedAndASentBatch) {
  std::string a[] = {"C:\\PROGRAMS\\SMTPEX", "END", "C:\\MAIL\\", "0"};
  char* argv[] = {a[0].data(), a[1].data(), a[2].data(), a[3].data(), nullptr};
  input->after(300).at_time([] { check_screenshot("mail_result", kExpected); });
  input->after(100).tap(101);
  EXPECT_EQ(run_email_export(4, argv), platform::kNotStarted);

  // A mail program that reports as the project's does.
  root.write("C:\\PROGRAMS\\report.sh",
             "#!/bin/sh\n"
             "printf 'mailsim: message to reports@localhost kept as /var/mail/demo/0001.eml\\n' > \"$1\"\n"
             "printf 'mailbatch: sent to reports@localhost: 1.zvt, 2.zvt\\n' >> \"$1\"\n");
  ::chmod(platform::map_path("C:\\PROGRAMS\\report.sh").c_str(), 0755);
  root.write("C:\\PROGRAMS\\dosmtp.bat", "report.sh " + platform::map_path("c:\\smtp\\out") + "\r\n");
  platform::map_path_create_dirs("c:\\smtp\\out");
  input->from_now().after(300).at_time([] { check_screenshot("mail_sent", kExpected); });
  input->after(100).tap(101);
  EXPECT_EQ(run_email_export(4, argv), 0);
}

}  // namespace
}  // namespace vaslab
