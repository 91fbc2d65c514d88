#include "vaslab/records/step_runner.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/paths.h"
#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/input/system_utils.h"
#include "vaslab/core/links/module_link.h"
#include "vaslab/core/toolkit/buttons.h"
#include "vaslab/core/toolkit/message_box.h"
#include "vaslab/core/toolkit/screen.h"
#include "vaslab/records/module_dispatch.h"
#include "vaslab/records/patient_data.h"
#include "vaslab/records/temp_studies.h"
#include "vaslab/reports/page_description.h"
#include "vaslab/studies/sample_frames.h"
#include "vaslab/studies/study_template.h"

namespace vaslab {
namespace {

int (*g_module_check)() = connect_module;

}  // namespace

void make_and_view_report() {
  const std::string name = std::string(current_exam_id()) + ".PDF";
  if (run_iproc(name.c_str()) != 0) {
    show_error_and_restore();
    return;
  }
  run_vproc(name.c_str(), 1);
}

void set_module_check(int (*check)()) { g_module_check = check ? check : connect_module; }
int check_module_ready() { return g_module_check(); }

// Judged from the pages on disk, not from the status characters: a step
// whose status text is blank (a symptom note, a pressure without a reading)
// is captured all the same, and its study must not be purged or refused.
bool all_steps_pending() {
  for (int i = 0; i < study_plan_count(); ++i)
    if (step_page_on_disk(i, current_exam_id())) return false;
  return true;
}

int run_study_steps(int s, int n) {
  if (n <= 0) return 0;
  if (n > study_plan_count()) n = study_plan_count();
  if (s >= n) s = n - 1;
  if (s < 0) s = 0;
  const StudyPlanRow* plan = study_plan();
  while (s >= 0 && s < n) {
    int g = s;
    while (g > 0 && plan[g - 1].type == plan[g].type && plan[g - 1].step == plan[g].step - 1) --g;
    int k = 1;
    while (g + k < n && plan[g + k].type == plan[g].type && plan[g + k].step == plan[g].step + k) ++k;

    wait_button_release(current_button_table());
    int res = run_step_module(plan[g].type, plan[g].step, k, plan[s].step);
    wait_button_release(current_button_table());
    for (int row = g; row < g + k; ++row) refill_step_status(row);
    if (res < 0) return s;

    // The module's own word: clamp it, a stray value must not select a row
    // outside the plan.
    const int slot = static_cast<std::int16_t>(peek_comm_area_word(0, kStepSlot));
    const int r = std::clamp(g + (slot - plan[g].step), -1, n);
    // A step that went straight to its post screen (a page on disk, as
    // after View) set the module up without an acquisition screen to stop
    // it; a module still streaming never answers the version query, and
    // the instrument would be left with nothing but Exit.
    send_module_command(0);
    if (check_module_ready() != 0) res = 1;

    switch (res & 15) {
      case 0: case 2: s = g + k; break;
      case 3: s = g - 1; break;
      case 1: case 4: case 5: case 6: return r;
      case 12:
        // With nothing captured there is no report to make: say so rather
        // than return to the step as if View had not been pressed.
        if (!all_steps_pending())
          make_and_view_report();
        else
          show_message_box(nullptr, "No step is captured yet:\rthere is no report to view.", "View", kMbOkOnly);
        s = r;
        break;
      default: s = r; break;
    }
  }
  return s;
}

}  // namespace vaslab
