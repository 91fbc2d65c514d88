#include "vaslab/records/step_runner.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/debug.h"
#include "vaslab/core/input/system_utils.h"
#include "vaslab/records/module_dispatch.h"
#include "vaslab/records/tests/records_test_support.h"

namespace vaslab {
namespace {

struct Call {
  std::string path;
  int first, count, current;
  bool operator==(const Call&) const = default;
};
std::vector<Call> g_calls;
// Each call takes the next scripted result and the step it leaves in the
// value store (-100: the current step it was given).
std::vector<std::pair<int, int>> g_script;
int g_ready = 0;
std::function<void()> g_during;

int fake_module(int argc, char* argv[]) {
  Call c{argv[0], std::atoi(argv[3]), std::atoi(argv[4]), std::atoi(argv[5])};
  g_calls.push_back(c);
  EXPECT_EQ(argc, 6);
  if (g_during) g_during();
  auto [result, slot] = g_script.empty() ? std::pair{1, -100} : g_script.front();
  if (!g_script.empty()) g_script.erase(g_script.begin());
  poke_comm_area_word(0, kStepSlot, slot == -100 ? c.current : slot);
  return result;
}
int module_ready() { return g_ready; }

const char* const kDoppler = "C:\\PROGRAMS\\DOPPLER";
const char* const kDualPvr = "C:\\PROGRAMS\\DUALPVR";

struct StepRunnerTest : RecordsFixture {
  void SetUp() override {
    RecordsFixture::SetUp();
    g_calls.clear();
    g_script.clear();
    g_ready = 0;
    g_during = nullptr;
    set_module(kDoppler, fake_module);
    set_module(kDualPvr, fake_module);
    set_module("C:\\PROGRAMS\\IPROC", [](int, char*[]) { return 0; });
    set_view_module([](int, char*[], int) { return 0; });
    set_module_check(module_ready);
    // Steps 1-3 Doppler, 4-5 dual PVR, 6 not a plan step, 7 Doppler.
    make_study_file("template", "C:\\STUDIES\\00000123.sty",
                    R"({"title": "Runner", "steps": [
                        {"type": 6, "caption": "A"}, {"type": 6, "caption": "B"},
                        {"type": 6, "caption": "C"}, {"type": 1, "caption": "D"},
                        {"type": 1, "caption": " LEFT D"}, {"type": 3, "caption": "skip"},
                        {"type": 6, "caption": "E"}]})");
    set_current_study("123", "9");
    ASSERT_EQ(load_study_plan("C:\\STUDIES\\00000123.sty", 1), 6);
  }
  void TearDown() override {
    set_module(kDoppler, nullptr);
    set_module(kDualPvr, nullptr);
    set_module("C:\\PROGRAMS\\IPROC", nullptr);
    set_view_module(nullptr);
    set_module_check(nullptr);
    RecordsFixture::TearDown();
  }
  void capture(int step) {
    make_study_file("page", "C:\\DATA\\" + std::to_string(step) + ".9",
                    R"({"template": "00000123.sty", "count": 10, "start": 0, "newest": 9})");
  }
};

TEST_F(StepRunnerTest, GroupsRunsOfOneModuleTypeWithConsecutiveSteps) {
  g_script = {{2, 4}, {2, 6}, {2, 8}};
  EXPECT_EQ(run_study_steps(1, 6), 6);
  EXPECT_EQ(g_calls, (std::vector<Call>{{kDoppler, 1, 3, 2}, {kDualPvr, 4, 2, 4}, {kDoppler, 7, 1, 7}}));
}

TEST_F(StepRunnerTest, ResultCodesChooseTheNextRow) {
  struct Case {
    int result, slot, want_row;
    int calls;
  } cases[] = {
      {1, 2, 1, 1},     // leave: the row of the stored step
      {4, 3, 2, 1},
      {5, 1, 0, 1},
      {6, 2, 1, 1},
      {0x31, 3, 2, 1},  // only the low four bits count
      {-1, 3, 1, 1},    // no entry: the start row at once
      {-7, 2, 1, 1},
  };
  for (const Case& c : cases) {
    g_calls.clear();
    g_script = {{c.result, c.slot}};
    EXPECT_EQ(run_study_steps(1, 6), c.want_row) << c.result;
    EXPECT_EQ(static_cast<int>(g_calls.size()), c.calls) << c.result;
  }
}

TEST_F(StepRunnerTest, BackFromTheFirstGroupEndsBeforeTheFirstRow) {
  g_script = {{3, 0}};
  EXPECT_EQ(run_study_steps(2, 6), -1);
  g_calls.clear();
  g_script = {{3, 4}, {3, 1}};  // back from the PVR pair to the Doppler run, then out
  EXPECT_EQ(run_study_steps(3, 6), -1);
  EXPECT_EQ(g_calls, (std::vector<Call>{{kDualPvr, 4, 2, 4}, {kDoppler, 1, 3, 3}}));
}

TEST_F(StepRunnerTest, EighteenCountsAsTwoAndOtherCodesRerunTheStoredStep) {
  g_script = {{18, 4}, {9, 5}, {2, 6}, {0, 8}};
  EXPECT_EQ(run_study_steps(0, 6), 6);
  EXPECT_EQ(g_calls, (std::vector<Call>{{kDoppler, 1, 3, 1}, {kDualPvr, 4, 2, 4}, {kDualPvr, 4, 2, 4},
                                        {kDoppler, 7, 1, 7}}));
}

TEST_F(StepRunnerTest, ReportOnlyWhenSomethingWasCaptured) {
  static int reports;
  reports = 0;
  set_module("C:\\PROGRAMS\\IPROC", [](int, char*[]) { ++reports; return 0; });
  // With nothing captured View makes no report, and says why.
  int told = 0;
  platform::set_debug_sink([&](const std::string& n) { told += n.rfind("message box [View]: No step is captured", 0) == 0; });
  g_script = {{12, 2}, {1, 2}};
  EXPECT_EQ(run_study_steps(0, 6), 1);
  platform::set_debug_sink({});
  EXPECT_EQ(reports, 0);
  EXPECT_EQ(told, 1);
  capture(2);
  g_calls.clear();
  g_script = {{12, 2}, {1, 2}};
  EXPECT_EQ(run_study_steps(0, 6), 1);
  EXPECT_EQ(reports, 1);
  EXPECT_EQ(g_calls.size(), 2u);
  EXPECT_EQ(g_calls[1], (Call{kDoppler, 1, 3, 2}));

  // The program's own generator runs: the study here has no page
  // description, so the view is not reached and its error is shown.
  set_module("C:\\PROGRAMS\\IPROC", nullptr);
  int unavailable = 0;
  platform::set_debug_sink([&](const std::string& n) { unavailable += n.rfind("message box [View]", 0) == 0; });
  g_script = {{12, 2}, {1, 2}};
  EXPECT_EQ(run_study_steps(0, 6), 1);
  platform::set_debug_sink({});
  EXPECT_EQ(unavailable, 0);
  EXPECT_EQ(std::string(g_message_text), "iproc error:No patient name, etc...");
}

TEST_F(StepRunnerTest, ALostModuleLinkEndsTheRun) {
  g_ready = 1;
  g_script = {{2, 4}};
  EXPECT_EQ(run_study_steps(0, 6), 3);  // taken as 1: the row of the stored step
  EXPECT_EQ(g_calls.size(), 1u);
}

TEST_F(StepRunnerTest, AStoredStepOutsideThePlanIsClamped) {
  g_script = {{1, 250}};
  EXPECT_EQ(run_study_steps(0, 6), 6);
  g_script = {{9, -30000}};
  EXPECT_EQ(run_study_steps(0, 6), -1);
}

TEST_F(StepRunnerTest, StatusesAreRefilledAfterEachGroup) {
  EXPECT_TRUE(all_steps_pending());
  g_script = {{1, 1}};
  g_during = [this] { capture(2); };
  EXPECT_EQ(run_study_steps(0, 6), 0);
  EXPECT_FALSE(all_steps_pending());
}

}  // namespace
}  // namespace vaslab
