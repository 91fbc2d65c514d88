#include "vaslab/studies/module_frame.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "study_fixture.h"
#include "vaslab/core/input/system_utils.h"

namespace vaslab {
namespace {

using V = std::vector<int>;

// Scripted step screens: each acquisition and post screen takes the next
// result of its script and may edit the page.
struct ScriptedScreens : StepScreens {
  std::vector<int> acquire_results, post_results;
  std::vector<std::string> calls;
  std::function<void(ModuleRun&)> on_post;
  int template_gain = 5, gain_flags = 0;
  std::vector<int> gains_seen;

  int read_prefix(ModuleRun& run) override {
    PressureStep s;
    const int r = read_pressure_step(run.template_path, run.current, s);
    if (r == 0) {
      template_gain = s.gain;
      gain_flags = s.gain_flags;
    }
    return r;
  }
  void send_step_commands(ModuleRun& run) override { calls.push_back("step " + std::to_string(run.current)); }
  bool stopwatch_shown(const ModuleRun&) override { return false; }
  void start_new_page(ModuleRun& run) override {
    run.gain = carried_setting(run.gain, static_cast<std::uint8_t>(gain_flags), template_gain);
    run.page->gain = static_cast<std::int16_t>(run.gain);
    gains_seen.push_back(run.gain);
    calls.push_back("new " + std::to_string(run.current));
  }
  int acquire(ModuleRun& run) override {
    calls.push_back("acquire " + std::to_string(run.current));
    run.page->count = 10;
    run.page->newest = 9;
    run.page->report_start = 0;
    return take(acquire_results);
  }
  int post(ModuleRun& run) override {
    calls.push_back("post " + std::to_string(run.current));
    if (on_post) on_post(run);
    return take(post_results);
  }
  static int take(std::vector<int>& script) {
    if (script.empty()) return 1;
    const int r = script.front();
    script.erase(script.begin());
    return r;
  }
};

struct FrameTest : StudyFixture {
  ScriptedScreens screens;
  void SetUp() override {
    StudyFixture::SetUp();
    for (const char* l : {"One", "Two", "Three", "Four"}) add_pressure_step(l);
    write_template("77");
  }
  int run(V args_after_exam) {  // first, count, current
    std::vector<std::string> s{"C:\\PROGRAMS\\ONEPRES", "77", "5"};
    for (int a : args_after_exam) s.push_back(std::to_string(a));
    std::vector<char*> argv;
    for (auto& x : s) argv.push_back(x.data());
    return run_study_module(static_cast<int>(argv.size()), argv.data(), screens);
  }
  int step_slot() { return static_cast<std::int16_t>(peek_comm_area_word(0, kStepSlot)); }
};

TEST_F(FrameTest, EntryChecks) {
  EXPECT_EQ(run({1, 2}), 4);        // five arguments
  EXPECT_EQ(run({2, 2, 1}), 4);     // current before the first
  EXPECT_EQ(run({2, 2, 5}), 4);     // current past first + count
  EXPECT_EQ(run({0, 2, 0}), 4);     // the header is no step
  EXPECT_EQ(run({-3, 4, -3}), 4);
  EXPECT_EQ(run({3, 3, 3}), 4);     // template too short for steps 3..5
  EXPECT_TRUE(module.sent.empty());
  EXPECT_TRUE(screens.calls.empty());
}

TEST_F(FrameTest, NextOnTheLastStepEndsTheStretchAndSendsCommandZeroFirst) {
  screens.acquire_results = {0, 0};
  screens.post_results = {0, 2};
  EXPECT_EQ(run({1, 2, 1}), 2);
  EXPECT_EQ(step_slot(), 3);
  EXPECT_EQ(module.sent, (V{0}));
  EXPECT_TRUE(page_exists(1, 5));
  EXPECT_TRUE(page_exists(2, 5));
  EXPECT_EQ(screens.calls.front(), "step 1");
}

TEST_F(FrameTest, BackOnTheFirstStepGivesThree) {
  screens.acquire_results = {0};
  screens.post_results = {3};
  EXPECT_EQ(run({2, 2, 2}), 3);
  EXPECT_EQ(step_slot(), 1);
  EXPECT_TRUE(page_exists(2, 5));  // Back saves the step too
}

TEST_F(FrameTest, AcquisitionLeftWithoutCaptureSavesNothing) {
  screens.acquire_results = {1};
  EXPECT_EQ(run({1, 3, 2}), 1);
  EXPECT_FALSE(page_exists(2, 5));
  EXPECT_EQ(step_slot(), 2);
}

TEST_F(FrameTest, DoOverDeletesThePageAndMeasuresAgain) {
  screens.acquire_results = {0};
  screens.post_results = {1};
  ASSERT_EQ(run({1, 3, 2}), 1);
  ASSERT_TRUE(page_exists(2, 5));
  screens.calls.clear();
  screens.acquire_results = {0};
  screens.post_results = {7, 5};
  EXPECT_EQ(run({1, 3, 2}), 5);
  EXPECT_EQ(screens.calls, (std::vector<std::string>{"step 2", "post 2", "step 2", "new 2", "acquire 2", "post 2"}));
  EXPECT_FALSE(page_exists(2, 5));  // result 5 saves nothing
}

TEST_F(FrameTest, AReviewedPageSurvivesAResultOutsideTheSavedSet) {
  screens.acquire_results = {0};
  screens.post_results = {1};
  ASSERT_EQ(run({1, 3, 2}), 1);
  screens.post_results = {6};
  EXPECT_EQ(run({1, 3, 2}), 6);
  EXPECT_TRUE(page_exists(2, 5));
}

TEST_F(FrameTest, AReviewedPageIsRewrittenWithItsChanges) {
  screens.acquire_results = {0};
  screens.post_results = {1};
  ASSERT_EQ(run({1, 3, 2}), 1);
  screens.on_post = [](ModuleRun& r) { std::snprintf(r.page->short_text, 5, "R12"); };
  screens.post_results = {12};
  EXPECT_EQ(run({1, 3, 2}), 12);
  auto p = std::make_unique<StudyPage>();
  ASSERT_EQ(read_study_page(2, 5, "00000077.sty", *p), 0);
  EXPECT_STREQ(p->short_text, "R12");
  EXPECT_EQ(p->count, 10);
}

TEST_F(FrameTest, AFailedWriteIsReportedAsAnError) {
  screens.acquire_results = {0};
  screens.post_results = {0};
  std::snprintf(hardware_settings().data_directory, 64, "C:\\NOWHERE\\AT\\ALL\\");
  stop_event_loop();  // the message box answers at once
  EXPECT_EQ(run({1, 3, 1}), 4);
  EXPECT_EQ(step_slot(), 1);
}

TEST_F(FrameTest, RelocatedPageMovesItsFile) {
  screens.acquire_results = {0};
  screens.post_results = {1};
  ASSERT_EQ(run({1, 3, 1}), 1);
  ASSERT_TRUE(page_exists(1, 5));
  screens.on_post = [](ModuleRun& r) { r.current = 3; };
  screens.post_results = {1};
  EXPECT_EQ(run({1, 3, 1}), 1);
  EXPECT_FALSE(page_exists(1, 5));
  EXPECT_TRUE(page_exists(3, 5));
  EXPECT_EQ(step_slot(), 3);
}

TEST_F(FrameTest, CarriedSettingsAndTheirOverride) {
  tpl.resize(kTemplateRecordSize);
  add_pressure_step("A", [](PressureStep& s) { s.gain = 3; });
  add_pressure_step("B", [](PressureStep& s) { s.gain = 9; });
  add_pressure_step("C", [](PressureStep& s) {
    s.gain = 7;
    s.gain_flags = kSettingOverride;
  });
  write_template("77");
  screens.acquire_results = {0, 0, 0};
  screens.post_results = {0, 0, 0};
  EXPECT_EQ(run({1, 3, 1}), 2);
  EXPECT_EQ(screens.gains_seen, (V{3, 3, 7}));
}

TEST_F(FrameTest, AStepOfAnotherClassEndsWithAnError) {
  tpl[2 * kTemplateRecordSize + 1] = 0;
  write_template("77");
  screens.acquire_results = {0};
  screens.post_results = {0};
  EXPECT_EQ(run({1, 3, 1}), 4);
  EXPECT_EQ(step_slot(), 2);
}

}  // namespace
}  // namespace vaslab
