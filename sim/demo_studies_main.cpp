// demo-studies: writes the sample site data of the demo machine under
// $VASLAB_ROOT: a study configuration menu "c:\studies\uconfig.mnu", the
// study templates it names and the diagnostics template
// "C:\STUDIES\DIAGS\dopalign.sty".  On a real instrument the outside
// configuration program writes these; here they are built from the record
// formats.  A file that is already there is left alone (it may be the
// site's own) unless it is exactly what an earlier version of this tool
// wrote: those are replaced, and "c:\studies\demo-studies.ver" records the
// version that wrote the set.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "platform/paths.h"
#include "vaslab/core/study_menu.h"
#include "vaslab/studies/study_template.h"

namespace {

using namespace vaslab;

constexpr int kVersion = 2;
constexpr char kVersionFile[] = "c:\\studies\\demo-studies.ver";
constexpr char kDiagnostics[] = "dopalign";

struct SampleStep {
  int module_type;
  const char* label;
};

struct SampleStudy {
  int number;
  const char* title;
  std::vector<SampleStep> steps;
};

constexpr int kDoppler = 6, kDualPpg = 5, kDualPressure = 11, kDualPvr = 1, kNotes = 10, kSinglePressure = 2;

// The set this version writes: the dual studies as RIGHT/LEFT pairs.
const std::vector<SampleStudy>& samples() {
  static const std::vector<SampleStudy> s = {
      {101, "ABI Resting",
       {{kDualPressure, "RIGHT Brachial"}, {kDualPressure, " LEFT Brachial"}, {kDualPressure, "RIGHT Ankle"},
        {kDualPressure, " LEFT Ankle"}, {kNotes, "Notes"}}},
      {102, "Lower Arterial Doppler",
       {{kDoppler, "Right CFA"}, {kDoppler, "Right POP"}, {kDoppler, "Left CFA"}, {kDoppler, "Left POP"}}},
      {103, "Lower PVR",
       {{kDualPvr, "RIGHT Thigh"}, {kDualPvr, " LEFT Thigh"}, {kDualPvr, "RIGHT Calf"}, {kDualPvr, " LEFT Calf"},
        {kDualPvr, "RIGHT Ankle"}, {kDualPvr, " LEFT Ankle"}}},
      {104, "Upper PVR",
       {{kDualPvr, "RIGHT Upper arm"}, {kDualPvr, " LEFT Upper arm"}, {kDualPvr, "RIGHT Forearm"},
        {kDualPvr, " LEFT Forearm"}}},
      {105, "Segmental Pressures",
       {{kSinglePressure, "Rt Brachial"}, {kSinglePressure, "Rt Thigh"}, {kSinglePressure, "Rt Ankle"}}},
      {106, "Digit PPG",
       {{kDualPpg, "RIGHT Fingers"}, {kDualPpg, " LEFT Fingers"}, {kDualPpg, "RIGHT Toes"}, {kDualPpg, " LEFT Toes"}}},
  };
  return s;
}

// What the first version wrote, to recognise its files: single dual steps
// without their settings and a Doppler window of 2960.
const std::vector<SampleStudy>& first_version_samples() {
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

void doppler_step(const SampleStep& st, int version, std::uint8_t step_class, std::uint8_t* out) {
  DopplerStep d{};
  d.module_type = static_cast<std::uint8_t>(st.module_type);
  d.step_class = step_class;
  std::snprintf(d.label, sizeof d.label, "%s", st.label);
  d.probe = 15;
  d.gain = 5;
  d.baseline = 128;
  d.volume = 5;
  d.report_window = 2960;
  if (version >= 2) {
    // The 7 Hz filter, a report window of one strip.
    d.report_window = 296;
    d.filter_code = 2;
    d.filter_mode_flags = 4;
    d.second_scale = step_class == kDiagnosticsStepClass ? 1 : 0;
  }
  encode_doppler_step(d, out);
}

template <typename Step>
void common_dual(Step& s, const SampleStep& st) {
  s.module_type = static_cast<std::uint8_t>(st.module_type);
  s.step_class = kStudyStepClass;
  std::snprintf(s.label, sizeof s.label, "%s", st.label);
  s.gain = 5;
  s.filter_code = 2;
  s.baseline = 128;
}

void step_bytes(const SampleStep& st, int version, std::uint8_t* out) {
  if (st.module_type == kDoppler) return doppler_step(st, version, kStudyStepClass, out);
  if (st.module_type == kSinglePressure) {
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
    return encode_pressure_step(p, out);
  }
  if (version >= 2 && st.module_type == kDualPpg) {
    DualPpgStep s{};
    common_dual(s, st);
    s.filter_nibble = 3;
    s.window = 296;
    return encode_dual_ppg_step(s, out);
  }
  if (version >= 2 && st.module_type == kDualPressure) {
    // Both cuffs to 180 mmHg (200 at the ankles), let down to 20; markers
    // and the time between them on the post screen.
    DualPressureStep s{};
    common_dual(s, st);
    s.options = 0x08;
    s.inflate_target = std::strstr(st.label, "Ankle") ? 200 : 180;
    s.deflate_target = 20;
    s.over_range = 250;
    return encode_dual_pressure_step(s, out);
  }
  if (version >= 2 && st.module_type == kDualPvr) {
    // Both cuffs held at 65 mmHg.
    DualPvrStep s{};
    common_dual(s, st);
    s.inflate_target = 65;
    s.alt_target = 65;
    s.over_range = 200;
    s.filter_nibble = 2;
    s.window = 296;
    return encode_dual_pvr_step(s, out);
  }
  StudyStep s{};
  s.module_type = static_cast<std::uint8_t>(st.module_type);
  s.step_class = kStudyStepClass;
  std::snprintf(s.label, sizeof s.label, "%s", st.label);
  encode_study_step(s, out);
}

std::vector<std::uint8_t> header_bytes(const char* title, std::size_t steps) {
  std::vector<std::uint8_t> bytes((steps + 1) * kTemplateRecordSize, 0);
  StudyHeader h{};
  std::snprintf(h.title, sizeof h.title, "%s", title);
  h.step_count = static_cast<std::int16_t>(steps);
  h.record_size = static_cast<std::int16_t>(kTemplateRecordSize);
  encode_study_header(h, bytes.data());
  seal(bytes.data());
  return bytes;
}

std::vector<std::uint8_t> template_bytes(const SampleStudy& study, int version) {
  std::vector<std::uint8_t> bytes = header_bytes(study.title, study.steps.size());
  for (std::size_t i = 0; i < study.steps.size(); ++i) {
    std::uint8_t* out = bytes.data() + (i + 1) * kTemplateRecordSize;
    step_bytes(study.steps[i], version, out);
    seal(out);
  }
  return bytes;
}

std::vector<std::uint8_t> diagnostics_bytes() {
  std::vector<std::uint8_t> bytes = header_bytes("Diagnostics", 1);
  doppler_step({kDoppler, "Doppler Frequency"}, kVersion, kDiagnosticsStepClass, bytes.data() + kTemplateRecordSize);
  seal(bytes.data() + kTemplateRecordSize);
  return bytes;
}

std::vector<StudyMenuEntry> menu_entries(int version) {
  if (version < 2) {
    const auto& s = first_version_samples();
    return {make_submenu_entry("Studies", 1, 4), make_study_entry(s[0].title, s[0].number),
            make_study_entry(s[1].title, s[1].number), make_study_entry(s[4].title, s[4].number),
            make_submenu_entry("PVR Studies", 5, 2), make_study_entry(s[2].title, s[2].number),
            make_study_entry(s[3].title, s[3].number)};
  }
  const auto& s = samples();
  return {make_submenu_entry("Studies", 1, 5), make_study_entry(s[0].title, s[0].number),
          make_study_entry(s[1].title, s[1].number), make_study_entry(s[4].title, s[4].number),
          make_study_entry(s[5].title, s[5].number), make_submenu_entry("PVR Studies", 6, 2),
          make_study_entry(s[2].title, s[2].number), make_study_entry(s[3].title, s[3].number)};
}

// Writes a sample file when it is missing or holds exactly what an earlier
// version wrote (`earlier`, empty when there was none).
bool write_sample(const std::string& win_path, const std::vector<std::uint8_t>& bytes,
                  const std::vector<std::uint8_t>& earlier) {
  const std::string path = platform::map_path_create_dirs(win_path);
  if (const auto size = platform::file_size(path)) {
    if (earlier.empty() || *size != earlier.size()) return true;
    const auto old = platform::read_file(path, earlier.size() + 1);
    if (!old || *old != earlier) return true;
  }
  if (platform::write_file_atomic(path, bytes.data(), bytes.size()) == 0) return true;
  std::fprintf(stderr, "demo-studies: cannot write %s\n", path.c_str());
  return false;
}

int written_version() {
  const auto text = platform::read_file(platform::map_path(kVersionFile), 16);
  if (!text) return 1;  // the first version left no marker
  return std::atoi(std::string(text->begin(), text->end()).c_str());
}

}  // namespace

int main() {
  const bool replace_first = written_version() < 2;
  auto earlier = [replace_first](std::vector<std::uint8_t> bytes) {
    return replace_first ? bytes : std::vector<std::uint8_t>{};
  };
  bool ok = write_sample(kStudyMenuFile, encode_study_menu_file(menu_entries(kVersion)),
                         earlier(encode_study_menu_file(menu_entries(1))));
  for (const auto& study : samples()) {
    std::vector<std::uint8_t> old;
    for (const auto& first : first_version_samples())
      if (first.number == study.number) old = template_bytes(first, 1);
    ok = write_sample(template_file_name(std::to_string(study.number)), template_bytes(study, kVersion),
                      earlier(old)) && ok;
  }
  ok = write_sample(diagnostics_template_file_name(kDiagnostics), diagnostics_bytes(), {}) && ok;
  const std::string version = std::to_string(kVersion) + "\n";
  if (ok && platform::write_file_atomic(platform::map_path_create_dirs(kVersionFile), version.data(), version.size()) != 0)
    ok = false;
  return ok ? 0 : 1;
}
