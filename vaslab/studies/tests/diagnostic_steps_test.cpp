#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "study_fixture.h"
#include "vaslab/studies/service_modules.h"
#include "vaslab/studies/single_channel.h"

namespace vaslab {
namespace {

using V = std::vector<int>;

struct DiagnosticsTest : StudyFixture {
  void write_diags(const char* name = "dopalign") {
    write_template();
    root.write(diagnostics_template_file_name(name), std::string(tpl.begin(), tpl.end()));
  }
  int run(const char* name, int count = 1) {
    std::vector<std::string> s{name, name, "1", "1", std::to_string(count), "1"};
    std::vector<char*> argv;
    for (auto& x : s) argv.push_back(x.data());
    return dopalign_main(6, argv.data());
  }
  void frames(int n) {
    input->at_time([this, n] {
      for (int i = 0; i < n; ++i) module.queue_frame(0, 0, 100 + (i % 3), 0);
    });
  }
  // The bytes sent from the first cutoff command (the screen's start) on.
  V after_start() {
    const auto& s = module.sent;
    for (std::size_t i = 0; i < s.size(); ++i)
      if (s[i] == 63) return V(s.begin() + static_cast<long>(i) + 1, s.end());
    return {};
  }
};

TEST_F(DiagnosticsTest, SetUpThenTheAlternationOfChannelOneEveryFiftyFrames) {
  add_doppler_step("Self test", [](DopplerStep& s) {
    s.probe_flags = 0x04;
    s.filter_mode_flags = 3;
  }, kDiagnosticsStepClass);
  write_diags();
  input->after(30);
  frames(99);
  input->after(300).at_time([this] { EXPECT_EQ(after_start(), (V{3, 4})) << "one switch after 50 frames"; });
  frames(1);
  input->after(100).tap(kCodeExit);
  EXPECT_EQ(run("dopalign"), 1);
  const V want{0,                     // entry
               46, 48, 21, 23, 4, 5,  // the step's list
               21, 59,                // volume 4
               36, 178, 128, 49,      // channel 1: gain, baseline, inverted
               11, 153, 128, 24,      // channel 2
               208, 51,               // hardware filter 3 in both nibbles
               21, 59, 63,            // the screen starts: volume, cutoff
               3, 4,                  // after 50 frames: remember, route
               5,                     // after 100: the difference, route back
               0};
  EXPECT_EQ(module.sent, want);
}

TEST_F(DiagnosticsTest, TheSecondChannelAlternatesTheOtherWay) {
  add_doppler_step("Self test", [](DopplerStep&) {}, kDiagnosticsStepClass);
  write_diags();
  input->after(30).tap(106).after(100);
  frames(100);
  input->after(300).tap(kCodeNext);
  EXPECT_EQ(run("dopalign"), 2) << "Next on the only step";
  EXPECT_EQ(after_start(), (V{3, 5, 4, 0}));
}

TEST_F(DiagnosticsTest, RefusesStudyStepsAndNamesOutsideTheFolder) {
  add_doppler_step("A study step");
  write_diags();
  EXPECT_EQ(run("dopalign"), 4);
  EXPECT_EQ(run("..\\00000077"), 4);
  EXPECT_EQ(run("sub/dopalign"), 4);
  EXPECT_EQ(run("missing"), 4);
  EXPECT_EQ(run("dopalign", 2), 4) << "the template is shorter than the stretch";
}

}  // namespace
}  // namespace vaslab
