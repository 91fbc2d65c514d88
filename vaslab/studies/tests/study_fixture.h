// A study-module test bench: the core fixture, a fake measuring module, a
// data directory and a template written step by step.
#pragma once

#include <cstring>
#include <functional>
#include <map>
#include <sstream>
#include <memory>
#include <string>
#include <vector>

#include "../../core/tests/screen_fixture.h"
#include "fake_module.h"
#include "platform/serial.h"
#include "sim/module_sim.h"
#include "testsupport/generator.h"
#include "testsupport/scripted_input.h"
#include "testsupport/wait.h"
#include "vaslab/core/input/system_utils.h"
#include "vaslab/core/links/module_link.h"
#include "vaslab/core/links/serial_links.h"
#include "vaslab/core/toolkit/stopwatch.h"
#include "vaslab/studies/study_page.h"
#include "vaslab/studies/study_template.h"

// A script step for the screens on the simulated module: it holds the
// screen until the simulator's thread has sent `count` more frames, which
// then wait on the line to be read, however long a loaded machine takes.
inline std::function<void()> simulator_frames(sim::ModuleSimulator& simulator, long count) {
  return [&simulator, count] {
    const long until = simulator.frames_total() + count;
    ASSERT_TRUE(testsupport::wait_until([&] { return simulator.frames_total() >= until; }));
  };
}

struct StudyFixture : ScreenFixture {
  FakeModule module;
  std::vector<std::uint8_t> tpl;

  std::unique_ptr<testsupport::ScriptedInput> input;
  // Made by link_simulator(), for the tests on the real link.
  std::unique_ptr<sim::ModuleSimulator> simulator;

  void SetUp() override {
    ScreenFixture::SetUp();
    input = std::make_unique<testsupport::ScriptedInput>(clock);
    ASSERT_TRUE(vaslab::create_main_window(640, 480));
    ASSERT_EQ(vaslab::set_display_mode(0), 1);
    vaslab::poke_comm_area_word(0, vaslab::kStepSlot, 0);
    std::snprintf(vaslab::hardware_settings().data_directory, 64, "C:\\DATA\\");
    platform::make_dirs(platform::map_path("C:\\DATA\\"));
    platform::make_dirs(platform::map_path("C:\\STUDIES\\"));
    vaslab::start_stopwatch();
    tpl.assign(vaslab::kTemplateRecordSize, 0);
  }

  // The screens on the measuring-module simulator instead of the fake module:
  // it streams in real time from a thread of its own, on a pseudo-terminal
  // that stands as COM1.
  void link_simulator(const sim::ModuleOptions& options = {}) {
    vaslab::set_module_bytes(nullptr);
    simulator = std::make_unique<sim::ModuleSimulator>(options);
    ASSERT_TRUE(simulator->start());
    auto& hw = vaslab::hardware_settings();
    hw.vascular_module_present = 1;
    hw.vascular_irq = 0;
    hw.vascular_port = 1;
    vaslab::reset_serial_links();
    platform::set_com_path(1, simulator->device_path());
    ASSERT_EQ(vaslab::open_module_link(), 0);
  }
  std::function<void()> frames(long count) { return simulator_frames(*simulator, count); }

  // A single-pressure step with usable defaults; `edit` may change it.
  template <typename Edit>
  void add_pressure_step(const char* label, Edit edit) {
    vaslab::PressureStep s{};
    s.module_type = 2;
    s.step_class = vaslab::kStudyStepClass;
    std::snprintf(s.label, sizeof s.label, "%s", label);
    s.probe = 15;
    s.gain = 5;
    s.filter_code = 2;
    s.baseline = 128;
    s.filter_mode_flags = 5;
    s.volume = 4;
    s.inflate_target = 180;
    s.deflate_target = 20;
    s.over_range = 250;
    s.cuff_channel = 1;
    edit(s);
    std::uint8_t rec[vaslab::kTemplateRecordSize] = {};
    vaslab::encode_pressure_step(s, rec);
    add_record(rec);
  }
  // A whole record, sealed with its checksum, as the next step.
  void add_record(std::uint8_t* rec) {
    const auto sum = vaslab::template_record_checksum(rec);
    rec[298] = static_cast<std::uint8_t>(sum);
    rec[299] = static_cast<std::uint8_t>(sum >> 8);
    tpl.insert(tpl.end(), rec, rec + vaslab::kTemplateRecordSize);
  }
  // A Doppler step (class 1) or diagnostics step (class 0) with usable
  // defaults; `edit` may change it.
  template <typename Edit>
  void add_doppler_step(const char* label, Edit edit, std::uint8_t step_class = vaslab::kStudyStepClass) {
    vaslab::DopplerStep s{};
    s.module_type = 6;
    s.step_class = step_class;
    std::snprintf(s.label, sizeof s.label, "%s", label);
    s.probe = 16;
    s.gain = 5;
    s.filter_code = 2;
    s.baseline = 128;
    s.filter_mode_flags = 4;
    s.volume = 4;
    s.report_window = 296;
    edit(s);
    std::uint8_t rec[vaslab::kTemplateRecordSize] = {};
    vaslab::encode_doppler_step(s, rec);
    add_record(rec);
  }
  void add_doppler_step(const char* label) {
    add_doppler_step(label, [](vaslab::DopplerStep&) {});
  }
  void add_pressure_step(const char* label) {
    add_pressure_step(label, [](vaslab::PressureStep&) {});
  }
  void write_template(const char* number = "77") {
    vaslab::StudyHeader h{};
    std::snprintf(h.title, sizeof h.title, "Test study");
    h.step_count = static_cast<std::int16_t>(tpl.size() / vaslab::kTemplateRecordSize - 1);
    h.record_size = 300;
    vaslab::encode_study_header(h, tpl.data());
    const auto sum = vaslab::template_record_checksum(tpl.data());
    tpl[298] = static_cast<std::uint8_t>(sum);
    tpl[299] = static_cast<std::uint8_t>(sum >> 8);
    root.write(vaslab::template_file_name(number), std::string(tpl.begin(), tpl.end()));
  }
  void TearDown() override {
    if (simulator) {
      vaslab::reset_serial_links();
      platform::reset_com_paths();
      simulator->stop();
    }
    input.reset();
    ScreenFixture::TearDown();
  }
  bool page_exists(int step, int exam) { return root.exists(vaslab::page_file_name(step, exam)); }
  // A step record of any prefix: the prefix encoded, then sealed.
  template <typename Step, typename Edit>
  void add_step(Step s, void (*encode)(const Step&, std::uint8_t*), Edit edit) {
    edit(s);
    std::uint8_t rec[vaslab::kTemplateRecordSize] = {};
    encode(s, rec);
    add_record(rec);
  }
  // The RIGHT and LEFT steps of one pair at `location`, alike but for their labels.
  template <typename Step, typename Edit>
  void pair(Step s, void (*encode)(const Step&, std::uint8_t*), const char* location, Edit edit) {
    for (const char* side : {"RIGHT ", " LEFT "}) {
      std::snprintf(s.label, sizeof s.label, "%s%s", side, location);
      add_step(s, encode, edit);
    }
  }
  // A stored page read back by the independent reader (read_page.py).
  std::map<std::string, std::string> page_fields(int step, int exam) {
    const std::string text = testsupport::run_generator(
        "vaslab/studies/tests/read_page.py", root.path(), "fields.txt",
        "'" + platform::map_path(vaslab::page_file_name(step, exam)) + "'");
    std::map<std::string, std::string> f;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
      const auto eq = line.find('=');
      if (eq != std::string::npos) f[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return f;
  }
};
