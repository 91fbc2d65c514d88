// Study templates and module entries shared by the live-screen benchmarks:
// the same steps, written as the configuration program writes them, so
// that each benchmark measures its screens on one set of studies.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/le_bytes.h"
#include "platform/paths.h"
#include "vaslab/studies/study_template.h"

namespace bench {

inline void seal(std::uint8_t* rec) { platform::put_u16le(rec + 298, vaslab::template_record_checksum(rec)); }

// Template `number` of the study folder: a header, then the given step
// records, every record sealed with its checksum.
inline void write_template(const char* number, std::vector<std::uint8_t> steps) {
  std::vector<std::uint8_t> bytes(vaslab::kTemplateRecordSize, 0);
  vaslab::StudyHeader h{};
  h.step_count = static_cast<std::int16_t>(steps.size() / vaslab::kTemplateRecordSize);
  h.record_size = 300;
  vaslab::encode_study_header(h, bytes.data());
  seal(bytes.data());
  for (std::size_t at = 0; at < steps.size(); at += vaslab::kTemplateRecordSize) seal(steps.data() + at);
  bytes.insert(bytes.end(), steps.begin(), steps.end());
  std::FILE* f = std::fopen(platform::map_path_create_dirs(vaslab::template_file_name(number)).c_str(), "wb");
  if (!f || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) std::exit(1);
  std::fclose(f);
}

// A right brachial pressure step.
inline std::vector<std::uint8_t> brachial_pressure_step() {
  std::vector<std::uint8_t> rec(vaslab::kTemplateRecordSize, 0);
  vaslab::PressureStep p{};
  p.module_type = 2;
  p.step_class = vaslab::kStudyStepClass;
  std::snprintf(p.label, sizeof p.label, "Rt Brachial");
  p.probe = 15;
  p.gain = 5;
  p.filter_code = 2;
  p.baseline = 128;
  p.filter_mode_flags = 5;
  p.over_range = 250;
  vaslab::encode_pressure_step(p, rec.data());
  return rec;
}

// The right and the left step of a dual screen: `step` with each side's
// label, encoded one record after the other.
template <class Step>
std::vector<std::uint8_t> dual_pair(Step step, const char* site, void (*encode)(const Step&, std::uint8_t*)) {
  std::vector<std::uint8_t> pair(2 * vaslab::kTemplateRecordSize, 0);
  for (int i = 0; i < 2; ++i) {
    std::snprintf(step.label, sizeof step.label, "%s %s", i == 0 ? "RIGHT" : " LEFT", site);
    encode(step, pair.data() + i * vaslab::kTemplateRecordSize);
  }
  return pair;
}

// Right and left digit waveforms on the dual screen.
inline std::vector<std::uint8_t> digits_ppg_pair() {
  vaslab::DualPpgStep s{};
  s.module_type = 5;
  s.step_class = vaslab::kStudyStepClass;
  s.gain = 5;
  s.baseline = 128;
  s.window = 296;
  return dual_pair(s, "Digits", vaslab::encode_dual_ppg_step);
}

// Right and left calf pulse volumes on the dual screen, the cuffs to 65 mmHg.
inline std::vector<std::uint8_t> calf_pvr_pair() {
  vaslab::DualPvrStep s{};
  s.module_type = 1;
  s.step_class = vaslab::kStudyStepClass;
  s.inflate_target = 65;
  s.over_range = 200;
  s.gain = 5;
  s.baseline = 128;
  s.window = 296;
  return dual_pair(s, "Calf", vaslab::encode_dual_pvr_step);
}

// Runs a study module's entry on template `number` from step 1 over `steps`
// steps, as the step runner starts it.
inline int run_module_entry(int (*entry)(int, char*[]), const char* number, int steps) {
  std::vector<std::string> s{"C:\\PROGRAMS\\BENCH", number, "1", "1", std::to_string(steps), "1"};
  std::vector<char*> argv;
  for (auto& x : s) argv.push_back(x.data());
  return entry(6, argv.data());
}

}  // namespace bench
