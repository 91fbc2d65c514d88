#include "vaslab/studies/module_frame.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/paths.h"
#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/input/system_utils.h"
#include "vaslab/core/toolkit/buttons.h"
#include "vaslab/core/toolkit/message_box.h"
#include "vaslab/core/toolkit/stopwatch.h"
#include "vaslab/studies/sample_frames.h"
#include "vaslab/studies/study_template.h"

namespace vaslab {
namespace {

bool result_saves_page(int r) { return r == 0 || r == 1 || r == 2 || r == 3 || r == 12; }

// -1 when the template cannot be opened.
long long template_length(const std::string& win_path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(platform::map_path(win_path), ec);
  return ec ? -1 : static_cast<long long>(size);
}

void start_page(ModuleRun& run) {
  StudyPage& p = *run.page;
  p = StudyPage{};
  std::snprintf(p.template_name, sizeof p.template_name, "%s", run.template_base.c_str());
  p.flags = 0;
  p.report_start = -1;
  p.count = 0;
  p.newest = 0;
  p.point_1 = -1;
  p.point_2 = -1;
  p.status = 0;
  p.text[0] = 0;
  p.short_text[0] = 0;
}

void exit_module(ModuleRun& run) {
  release_background();
  set_button_mode_repeat();
  poke_comm_area_word(0, kStepSlot, run.current);
}

}  // namespace

int carried_setting(int carried, std::uint8_t flags, int template_value) {
  if (carried == -1 || (flags & kSettingOverride)) return template_value;
  return carried;
}

void carry_settings(ModuleRun& run, int volume) {
  run.gain = run.page->gain;
  run.baseline = run.page->baseline;
  run.probe = run.page->probe;
  run.volume = volume;
}

void show_live_stopwatch(ModuleRun& run, bool shown) {
  if (!run.stopwatch) return;
  run.stopwatch->hide();
  if (shown) run.stopwatch->show();
}

void hide_live_stopwatch(ModuleRun& run) {
  if (run.stopwatch) run.stopwatch->hide();
}

int run_one_step(ModuleRun& run, StepScreens& screens) {
  show_live_stopwatch(run, screens.stopwatch_shown(run));
  const int step = run.current;
  int r = read_study_page(step, run.exam_id, run.template_base, *run.page);
  if (r == 4) return kResultError;
  if (r == 0) {
    // A reviewed page keeps its file until the outcome is known: a crash or
    // an unexpected result during review must not lose the measurement.
    run.page_step = step;
    r = screens.post(run);
  } else {
    run.page_step = -1;
    start_page(run);
    screens.start_new_page(run);
    r = screens.acquire(run);
    if (r != 0) return r;
    r = screens.post(run);
  }
  if (!result_saves_page(r)) return r;
  if (write_study_page(run.current, run.exam_id, *run.page) != 0) {
    show_message_box(nullptr, "File error.", "Error", 0);
    return kResultError;
  }
  // Moved to another step by the location picker: the old file goes.
  if (run.page_step >= 0 && run.page_step != run.current) delete_study_page(run.page_step, run.exam_id);
  run.page_step = run.current;
  return r;
}

int open_module_run(int argc, char* argv[], ModuleRun& run) {
  if (argc < 6) return kResultError;
  run.template_number = argv[1];
  run.exam_id = static_cast<std::int16_t>(std::atoi(argv[2]));
  run.first = static_cast<std::int16_t>(std::atoi(argv[3]));
  run.count = static_cast<std::int16_t>(std::atoi(argv[4]));
  run.current = static_cast<std::int16_t>(std::atoi(argv[5]));
  // Record 0 is the study header: a first step below 1 reads no step.
  if (run.first < 1 || run.count < 0) return kResultError;
  if (run.current < run.first || run.current > run.first + run.count) return kResultError;
  run.template_base = template_base_name(run.template_number);
  run.template_path = template_file_name(run.template_number);
  const long long length = template_length(run.template_path);
  if (length < 0) return kResultError;
  if (length < static_cast<long long>(run.first + run.count) * static_cast<long long>(kTemplateRecordSize))
    return kResultError;
  return 0;
}

int run_study_module(int argc, char* argv[], StepScreens& screens) {
  ModuleRun run;
  if (open_module_run(argc, argv, run) != 0) return kResultError;

  run.stopwatch = &tick_stopwatch();
  send_module_command(0);
  set_button_mode_capture();
  run.page = std::make_unique<StudyPage>();
  start_page(run);

  int result = 0;
  for (;;) {
    if (screens.read_prefix(run) != 0) {
      result = kResultError;
      break;
    }
    screens.send_step_commands(run);
    const int r = run_one_step(run, screens);
    if (r == 0 || r == 2) {
      ++run.current;
      if (run.current >= run.first + run.count) {
        result = kResultStretchDone;
        break;
      }
    } else if (r == 3) {
      --run.current;
      if (run.current < run.first) {
        result = kResultBack;
        break;
      }
    } else if (r == 7) {
      delete_study_page(run.current, run.exam_id);
    } else {
      result = r;
      break;
    }
  }
  exit_module(run);
  return result;
}

}  // namespace vaslab
