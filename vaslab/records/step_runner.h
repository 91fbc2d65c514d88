// The step runner and the review screen of the open study: runs of
// consecutive template steps of one module type go to their study module,
// and the module's result decides where the run goes next.
#pragma once

namespace vaslab {

// Runs steps from plan row `start` of `count` rows; returns the row to
// select next: `count` past the last row, -1 before the first, or the row of
// the step the module stopped on.
int run_study_steps(int start, int count);

// Makes the open study's report and shows it (the View of the post and
// review screens); a failure shows the message line.  While the report
// generator is not part of the program the operator is told that the
// function is not available.
void make_and_view_report();

// True when no plan row of the open study has a whole page on disk.
bool all_steps_pending();

// Whether the measuring module is ready (0) or not; the module link's
// connect_module unless a test installs another.
void set_module_check(int (*check)());
int check_module_ready();

}  // namespace vaslab
