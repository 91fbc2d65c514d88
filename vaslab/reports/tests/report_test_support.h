// What the report tests share: their folder, where the independent
// generators and models lie, and a way to run those.
#pragma once

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/paths.h"

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

}  // namespace vaslab
