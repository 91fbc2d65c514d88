// Shared set-up of the records tests: a scratch drive root with the import
// folder configured, and the independent generators beside the tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/paths.h"
#include "testsupport/scripted_input.h"
#include "testsupport/temp_root.h"
#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/input/system_utils.h"
#include "vaslab/core/settings/settings.h"
#include "vaslab/core/toolkit/main_window.h"
#include "vaslab/core/toolkit/message_box.h"
#include "vaslab/records/temp_studies.h"
#include "vaslab/records/worklist.h"

inline std::string records_test_dir() { return std::string(VASLAB_SOURCE_DIR) + "/vaslab/records/tests/"; }

// What a command printed; "<failed>" is added when it did not end well.
inline std::string run_output(const std::string& cmd) {
  std::string out;
  if (FILE* p = ::popen(cmd.c_str(), "r")) {
    char buf[256];
    while (std::fgets(buf, sizeof buf, p)) out += buf;
    if (::pclose(p) != 0) out += "<failed>";
  }
  return out;
}

// The interpreter behind "python3", found once: a version manager's shim in
// front of it costs a chain of shell starts on every one of the many script
// runs of a kill sweep.
inline const std::string& python_command() {
  static const std::string cmd = [] {
    std::string exe = run_output("python3 -c 'import sys; print(sys.executable)'");
    while (!exe.empty() && (exe.back() == '\n' || exe.back() == '\r')) exe.pop_back();
    if (exe.empty() || exe.find('\'') != std::string::npos || exe.find("<failed>") != std::string::npos)
      return std::string("python3");
    return "'" + exe + "'";
  }();
  return cmd;
}

// Runs a generator script with its arguments; false when it failed.
inline bool run_generator(const std::string& script, const std::vector<std::string>& args) {
  std::string cmd = python_command() + " '" + records_test_dir() + script + "'";
  for (const auto& a : args) cmd += " '" + a + "'";
  return std::system(cmd.c_str()) == 0;
}

// The outside check of the archive database: the records in use, one a
// line as "n NAME", or "bad n" at a record whose checksum is wrong.
inline std::string check_archive_db(const std::string& linux_path) {
  return run_output(python_command() + " '" + records_test_dir() + "check_db.py' '" + linux_path + "'");
}

struct RecordsFixture : ::testing::Test {
  testsupport::TempRoot root;

  void SetUp() override {
    vaslab::hardware_settings() = vaslab::HardwareSettings{};
    vaslab::default_hardware_settings(0);
    auto& hw = vaslab::hardware_settings();
    std::strcpy(hw.import_control, "C:\\PROGRAMS\\DICOMMWL");
    std::strcpy(hw.import_path, "C:\\IMPORT\\");
    std::strcpy(hw.data_directory, "C:\\DATA\\");
    platform::map_path_create_dirs("C:\\IMPORT\\");
    platform::map_path_create_dirs("C:\\DATA\\");
    vaslab::clear_imported_patient();
    vaslab::study_list() = vaslab::StudyList{};
    vaslab::study_list().mode = vaslab::kListArchive;
    vaslab::g_message_text[0] = 0;
    // Message boxes answer at once, as after the window has gone.
    vaslab::reset_event_state();
    vaslab::stop_event_loop();
  }
  void TearDown() override { vaslab::reset_event_state(); }

  // Writes a template or a page from a JSON description (make_study.py).
  void make_study_file(const std::string& kind, const std::string& win_path, const std::string& json) {
    ASSERT_TRUE(run_generator("make_study.py", {kind, platform::map_path_create_dirs(win_path), json}));
  }

  // A finished temporary study as the scan expects it: page description
  // with name and date, and its first page of template 123.
  void make_study(int exam, const char* name, const char* date) {
    std::string header(vaslab::kPageHeaderBytes, '\0');
    std::memcpy(&header[32], name, std::strlen(name));
    std::memcpy(&header[92], date, std::strlen(date));
    root.write("C:\\DATA\\" + std::to_string(exam) + ".PDF", header);
    make_study_file("page", "C:\\DATA\\0." + std::to_string(exam), R"({"template": "00000123.sty"})");
  }

  // Writes "IMPORT.DAT" of the import folder (or another file) from texts.
  void write_import(const std::vector<std::string>& texts,
                    const std::string& win_path = "C:\\IMPORT\\IMPORT.DAT") {
    std::vector<std::string> args{platform::map_path_create_dirs(win_path)};
    args.insert(args.end(), texts.begin(), texts.end());
    ASSERT_TRUE(run_generator("make_import.py", args));
  }
};

// A records screen driven by scripted input against the fake clock, with a
// live event loop.
struct ScriptedRecordsFixture : RecordsFixture {
  platform::FakeClock clock;
  std::unique_ptr<testsupport::ScriptedInput> input;

  void SetUp() override {
    RecordsFixture::SetUp();
    platform::set_clock(&clock);
    platform::reset_pump();
    platform::set_window_proc(vaslab::window_proc);
    vaslab::reset_event_state();
    vaslab::reset_main_window();
    vaslab::reset_tick_timers();
    input = std::make_unique<testsupport::ScriptedInput>(clock);
    vaslab::start_window_timers();
  }
  void TearDown() override {
    input.reset();
    platform::reset_pump();
    platform::set_window_proc(nullptr);
    platform::set_clock(nullptr);
    RecordsFixture::TearDown();
  }
};
