// The shape every study module shares: the entry checks on the argument
// strings, the walk over the module's stretch of template steps, the page
// handling of one step and the exit that leaves the current step for the
// step runner.  A module supplies its step screens through StepScreens.
//
// Results (StepResult): 0 and 2 next step, 3 previous step, 4 error, 7
// measure the step again, 12 report and view, 1, 5 and 6 leave.  As a module
// result 2 means the stretch is done and 3 the step before it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "vaslab/studies/study_page.h"

namespace vaslab {

struct Stopwatch;

constexpr int kResultNext = 0;
constexpr int kResultLeave = 1;
constexpr int kResultStretchDone = 2;
constexpr int kResultBack = 3;
constexpr int kResultError = 4;
constexpr int kResultDoOver = 7;
constexpr int kResultView = 12;

// One module run.
struct ModuleRun {
  int exam_id = 0;
  int first = 0;
  int count = 0;
  int current = 0;
  std::string template_number;  // argument 1
  std::string template_base;    // "00000123.sty"
  std::string template_path;    // "c:\studies\00000123.sty"
  std::unique_ptr<StudyPage> page;
  // Carried from step to step; -1 until set.
  int gain = -1, baseline = -1, probe = -1, volume = -1;
  Stopwatch* stopwatch = nullptr;
  // The step whose page file the current page came from; -1 for a new page.
  int page_step = -1;
};

// A carried setting for a new page: the template's value when nothing was
// carried yet or the template overrides it (flags bit 1).
int carried_setting(int carried, std::uint8_t flags, int template_value);
// What the operator left on this step's page (gain, baseline, probe) and the
// volume become the starting values of the run's next new page.
void carry_settings(ModuleRun& run, int volume);
// A new page's gain, baseline, probe and filter from a one-channel step, and
// the run's volume to start it with: each the carried setting unless the
// step decides it.
template <typename Step>
void start_page_settings(ModuleRun& run, const Step& step) {
  run.baseline = carried_setting(run.baseline, step.baseline_flags, step.baseline);
  run.gain = carried_setting(run.gain, step.gain_flags, step.gain);
  run.probe = carried_setting(run.probe, step.probe_flags, step.probe);
  run.volume = carried_setting(run.volume, step.volume_flags, step.volume);
  StudyPage& p = *run.page;
  p.baseline = static_cast<std::int16_t>(run.baseline);
  p.gain = static_cast<std::int16_t>(run.gain);
  p.probe = static_cast<std::int16_t>(run.probe);
  p.filter_code = step.filter_code;
}

// A module's own part of the frame.
class StepScreens {
 public:
  virtual ~StepScreens() = default;
  // Reads the prefix of run.current (converting the older numbering): 0, or
  // 4 on a short read or a step of another class.
  virtual int read_prefix(ModuleRun& run) = 0;
  virtual void send_step_commands(ModuleRun& run) = 0;
  virtual bool stopwatch_shown(const ModuleRun& run) = 0;
  // A new page over run.page: settings carried or overridden, sent to the
  // module.
  virtual void start_new_page(ModuleRun& run) = 0;
  virtual int acquire(ModuleRun& run) = 0;
  virtual int post(ModuleRun& run) = 0;
};

// The entry checks on the argument strings and the template's length; fills
// the run's numbers and names.  0, or 4 with nothing shown or touched.
int open_module_run(int argc, char* argv[], ModuleRun& run);

// The whole module: entry checks, step loop, exit.  argv: program path,
// template number, exam id, first step, step count, current step.
int run_study_module(int argc, char* argv[], StepScreens& screens);

// The study stopwatch belongs to the live screens: each acquisition shows it
// as its step asks, and a post screen reviews a capture without it (a count
// and "Timer" left over from the live screen would read as its own).
void show_live_stopwatch(ModuleRun& run, bool shown);
void hide_live_stopwatch(ModuleRun& run);

// The steps of one step (page read or new, screens, page written); exposed
// for the modules' tests.
int run_one_step(ModuleRun& run, StepScreens& screens);

}  // namespace vaslab
