// What the report tests share: their folder, where the independent
// generators and models lie, and a way to run those.
#pragma once

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/settings/settings.h"
#include "vaslab/reports/formula.h"

namespace vaslab {

inline std::string tests_dir() { return std::string(VASLAB_SOURCE_DIR) + "/vaslab/reports/tests/"; }

// Runs a Python script with its arguments; false when it failed.
inline bool run_script(const std::string& script, const std::vector<std::string>& args) {
  std::string cmd = "python3 '" + script + "'";
  for (const auto& a : args) cmd += " '" + a + "'";
  return std::system(cmd.c_str()) == 0;
}

// Writes a study file ("template", "page", ...) described by `json` at a
// Windows path, its folders made first; false when the generator failed.
inline bool make_study_file(const std::string& kind, const std::string& win_path, const std::string& json) {
  return run_script(tests_dir() + "../../records/tests/make_study.py",
                    {kind, platform::map_path_create_dirs(win_path), json});
}

// Where every export test starts: the settings as made, with the data
// folder "C:\DATA\"; no formula variables; `folders` made below the test
// root.  With `window_gone` every wait of a screen (a status or result
// screen, a message box) ends at once, as after the window has gone.
inline void start_export_test(const std::vector<const char*>& folders, bool window_gone) {
  hardware_settings() = HardwareSettings{};
  std::strcpy(hardware_settings().data_directory, "C:\\DATA\\");
  reset_formula_variables();
  if (window_gone) {
    reset_event_state();
    stop_event_loop();
  }
  for (const char* folder : folders) platform::map_path_create_dirs(folder);
}

}  // namespace vaslab
