// demo-studies: writes the sample site data of the demo machine under
// $VASLAB_ROOT: a study configuration menu "c:\studies\uconfig.mnu" and the
// study templates it names.  On a real instrument the outside configuration
// program writes these; here they are built from the record formats.  Files
// already there are left alone (they may be the site's own).
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "platform/paths.h"
#include "vaslab/core/study_menu.h"
#include "vaslab/studies/study_template.h"

namespace {

using namespace vaslab;

struct SampleStep {
  int module_type;
  const char* label;
};

struct SampleStudy {
  int number;
  const char* title;
  std::vector<SampleStep> steps;
};

constexpr int kDoppler = 6, kDualPressure = 11, kDualPvr = 1, kNotes = 10, kSinglePressure = 2;

const std::vector<SampleStudy>& samples() {
  static const std::vector<SampleStudy> s = {
      {101, "ABI Resting", {{kDualPressure, "Brachial pressures"}, {kDualPressure, "Ankle pressures"}, {kNotes, "Notes"}}},
      {102, "Lower Arterial Doppler",
       {{kDoppler, "Right CFA"}, {kDoppler, "Right POP"}, {kDoppler, "Left CFA"}, {kDoppler, "Left POP"}}},
      {103, "Lower PVR", {{kDualPvr, "Thigh"}, {kDualPvr, "Calf"}, {kDualPvr, "Ankle"}}},
      {104, "Upper PVR", {{kDualPvr, "Upper arm"}, {kDualPvr, "Forearm"}}},
      {105, "Segmental Pressures",
       {{kSinglePressure, "Rt Brachial"}, {kSinglePressure, "Rt Thigh"}, {kSinglePressure, "Rt Ankle"}}},
  };
  return s;
}

void seal(std::uint8_t* record) {
  const std::uint16_t sum = template_record_checksum(record);
  record[298] = static_cast<std::uint8_t>(sum);
  record[299] = static_cast<std::uint8_t>(sum >> 8);
}

std::vector<std::uint8_t> template_bytes(const SampleStudy& study) {
  std::vector<std::uint8_t> bytes((study.steps.size() + 1) * kTemplateRecordSize, 0);
  StudyHeader h{};
  std::snprintf(h.title, sizeof h.title, "%s", study.title);
  h.step_count = static_cast<std::int16_t>(study.steps.size());
  h.record_size = static_cast<std::int16_t>(kTemplateRecordSize);
  encode_study_header(h, bytes.data());
  seal(bytes.data());
  for (std::size_t i = 0; i < study.steps.size(); ++i) {
    std::uint8_t* out = bytes.data() + (i + 1) * kTemplateRecordSize;
    const SampleStep& st = study.steps[i];
    if (st.module_type == kDoppler) {
      DopplerStep d{};
      d.module_type = static_cast<std::uint8_t>(st.module_type);
      d.step_class = kStudyStepClass;
      std::snprintf(d.label, sizeof d.label, "%s", st.label);
      d.probe = 15;
      d.gain = 5;
      d.baseline = 128;
      d.volume = 5;
      d.report_window = 296;
      d.filter_code = 2;
      d.filter_mode_flags = 4;
      encode_doppler_step(d, out);
    } else if (st.module_type == kSinglePressure) {
      // A cuff inflated to 180 mmHg and let down to 20; the trace of the
      // pulse with the 7 Hz filter.
      PressureStep p{};
      p.module_type = static_cast<std::uint8_t>(st.module_type);
      p.step_class = kStudyStepClass;
      std::snprintf(p.label, sizeof p.label, "%s", st.label);
      p.probe = 15;
      p.inflate_target = 180;
      p.deflate_target = 20;
      p.gain = 5;
      p.filter_code = 2;
      p.baseline = 128;
      p.filter_mode_flags = 5;
      p.volume = 4;
      p.over_range = 250;
      p.cuff_channel = 1;
      p.show_stopwatch = 1;
      encode_pressure_step(p, out);
    } else {
      StudyStep s{};
      s.module_type = static_cast<std::uint8_t>(st.module_type);
      s.step_class = kStudyStepClass;
      std::snprintf(s.label, sizeof s.label, "%s", st.label);
      encode_study_step(s, out);
    }
    seal(out);
  }
  return bytes;
}

std::vector<StudyMenuEntry> menu_entries() {
  const auto& s = samples();
  return {
      make_submenu_entry("Studies", 1, 4),
      make_study_entry(s[0].title, s[0].number),
      make_study_entry(s[1].title, s[1].number),
      make_study_entry(s[4].title, s[4].number),
      make_submenu_entry("PVR Studies", 5, 2),
      make_study_entry(s[2].title, s[2].number),
      make_study_entry(s[3].title, s[3].number),
  };
}

bool write_if_missing(const std::string& win_path, const std::vector<std::uint8_t>& bytes) {
  const std::string path = platform::map_path_create_dirs(win_path);
  if (platform::file_size(path)) return true;
  if (platform::write_file_atomic(path, bytes.data(), bytes.size()) == 0) return true;
  std::fprintf(stderr, "demo-studies: cannot write %s\n", path.c_str());
  return false;
}

}  // namespace

int main() {
  bool ok = write_if_missing(kStudyMenuFile, encode_study_menu_file(menu_entries()));
  for (const auto& study : samples())
    ok = write_if_missing(template_file_name(std::to_string(study.number)), template_bytes(study)) && ok;
  return ok ? 0 : 1;
}
