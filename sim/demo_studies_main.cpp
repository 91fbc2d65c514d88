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

constexpr int kVersion = 7;  // 3: report layouts; 4: notes lines; 5: export rows; 6: symptom study;
                             // 7: at most five rows a level
constexpr char kVersionFile[] = "c:\\studies\\demo-studies.ver";
constexpr char kDiagnostics[] = "dopalign";

// Bytes of a step record that only the report reads: where the step's
// trace, pressure, text or line goes on the page.
struct Patch {
  int offset;
  std::string bytes;
};
Patch text(int offset, const char* t) { return {offset, std::string(t) + '\0'}; }
Patch byte(int offset, int v) { return {offset, std::string(1, static_cast<char>(v))}; }
Patch word(int offset, int v) {
  return {offset, std::string{static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)}};
}

// A line of the notes form: caption, the characters it is right-aligned
// in, answer width, default answer, block tag (1 first, 3 last line), and
// the import field with its fill mode in bits 6-7.
struct NotesLine {
  const char* caption = "";
  int caption_chars = 0;
  int width = 0;
  const char* answer = "";
  int block = 0;
  int import_fill = 0;
};

struct SampleStep {
  int module_type;
  const char* label;
  std::vector<Patch> report = {};
  NotesLine notes = {};
  // Where the delimited-text export puts the step's value (written from
  // version 5 on).
  std::vector<Patch> exported = {};
};

struct SampleStudy {
  int number;
  const char* title;
  std::vector<SampleStep> steps;
};

constexpr int kDoppler = 6, kDualPpg = 5, kDualPressure = 11, kDualPvr = 1, kNotes = 10, kSinglePressure = 2,
              kSymptom = 16;
constexpr int kText = 3, kFormulas = 7, kLines = 20;

// A Doppler trace: letter, place, start in the page's samples and its two
// labels (code 9 the scale, 11 the filter cutoff, 13 the probe, 14 the
// pulse amplitude).
std::vector<Patch> doppler_trace(char letter, int x, int y, int start, const char* site) {
  return {byte(32, letter), word(33, x), word(35, y), byte(39, 1), word(51, start),
          text(53, (std::string(site) + "  \x0d MHz").c_str()), text(125, "\x09  cutoff \x0b Hz  amp \x0e")};
}
// A pressure: letter and place, framed.
std::vector<Patch> pressure_value(char letter, int x, int y) {
  return {byte(32, letter), word(33, x), word(35, y), byte(37, 1)};
}
// A black text (colour index 7) at a place, condition always true.
std::vector<Patch> caption(int x, int y, const char* t) {
  return {text(37, "1"), text(117, "7"), word(32, x), word(34, y), text(198, t), text(278, "%s")};
}

// The notes form's lines: captions padded to one column, the patient's ID
// from the worklist import, a history that wraps over three lines and a
// caption-only line above the impression.
SampleStep notes_line(const char* label, const NotesLine& line) { return {kNotes, label, {}, line}; }

// The set this version writes: the dual studies as RIGHT/LEFT pairs.
const std::vector<SampleStudy>& samples() {
  static const std::vector<SampleStudy> s = {
      {101, "ABI Resting",
       {{kDualPressure, "RIGHT Brachial"}, {kDualPressure, " LEFT Brachial"}, {kDualPressure, "RIGHT Ankle"},
        {kDualPressure, " LEFT Ankle"}, notes_line("Notes", {"Comments: ", 12, 60})}},
      {102, "Lower Arterial Doppler",
       {{kDoppler, "Right CFA", doppler_trace('A', 100, 300, 0, "Right CFA")},
        {kDoppler, "Right POP", doppler_trace('B', 1250, 300, 296, "Right POP")},
        {kDoppler, "Left CFA", doppler_trace('C', 100, 1000, 592, "Left CFA")},
        {kDoppler, "Left POP", doppler_trace('D', 1250, 1000, 888, "Left POP")}}},
      {103, "Lower PVR",
       {{kDualPvr, "RIGHT Thigh"}, {kDualPvr, " LEFT Thigh"}, {kDualPvr, "RIGHT Calf"}, {kDualPvr, " LEFT Calf"},
        {kDualPvr, "RIGHT Ankle"}, {kDualPvr, " LEFT Ankle"}}},
      {104, "Upper PVR",
       {{kDualPvr, "RIGHT Upper arm"}, {kDualPvr, " LEFT Upper arm"}, {kDualPvr, "RIGHT Forearm"},
        {kDualPvr, " LEFT Forearm"}}},
      {105, "Segmental Pressures",
       {{kSinglePressure, "Rt Brachial", pressure_value('A', 600, 500), {}, {byte(60, 1)}},
        {kSinglePressure, "Rt Thigh", pressure_value('B', 600, 800), {}, {byte(60, 2)}},
        {kSinglePressure, "Rt Ankle", pressure_value('C', 600, 1100), {}, {byte(60, 3)}},
        // The formula step also chooses the site's first export template.
        {kFormulas, "Indexes", {text(32, "ti = pb / pa"), text(113, "ai = pc / pa")}, {}, {byte(112, 240)}},
        {kText, "", caption(200, 510, "Brachial")},
        {kText, "", caption(200, 810, "Thigh")},
        {kText, "", caption(200, 1110, "Ankle")},
        {kText, "", caption(1100, 300, "mmHg")},
        {kText, "", {text(37, "pa > 0 && pc > 0"), text(117, "7"), word(32, 200), word(34, 1400),
                     byte(197, 1), text(198, "ai"), text(278, "Ankle/Brachial index  %4.2f")}},
        {kText, "", {text(37, "pa > 0 && pb > 0"), text(117, "7"), word(32, 200), word(34, 1480),
                     byte(197, 1), text(198, "ti"), text(278, "Thigh/Brachial index  %4.2f")}},
        {kLines, "", {text(32, "1"), text(53, "2"), text(59, "7"), text(74, "150"), text(99, "400"),
                      text(124, "2250"), text(149, "400"), word(66, 11), word(68, 216), word(70, 2388),
                      word(72, 3138)}}}},
      {106, "Digit PPG",
       {{kDualPpg, "RIGHT Fingers"}, {kDualPpg, " LEFT Fingers"}, {kDualPpg, "RIGHT Toes"}, {kDualPpg, " LEFT Toes"}}},
      {107, "Study Notes",
       {notes_line("Patient ID", {"Patient ID: ", 18, 30, "", 0, 0x80 | 2}),
        notes_line("Indication", {"Indication: ", 18, 50, "Claudication"}),
        notes_line("History", {"History: ", 18, 60, "", 1}),
        notes_line("History", {"", 18, 60}),
        notes_line("History", {"", 18, 60, "", 3}),
        notes_line("Impression heading", {"  Impression (after review by the physician)", 0, 0}),
        notes_line("Impression", {"Impression: ", 18, 60})}},
      {108, "Treadmill", {{kSymptom, "Treadmill walk"}, {kSymptom, "Recovery"}}},
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

// A timed exercise: the stopwatch set to 00:00 and started counting up at
// each step, alarms at one and five minutes on the walk, four symptom rows
// with their side (code 15) and site (code 16) words.
void symptom_step(const SampleStep& st, std::uint8_t* out) {
  StudyStep s{};
  s.module_type = kSymptom;
  s.step_class = kStudyStepClass;
  std::snprintf(s.label, sizeof s.label, "%s", st.label);
  encode_study_step(s, out);
  const bool walk = std::strcmp(st.label, "Treadmill walk") == 0;
  out[68] = 1;
  out[69] = 0xFF;
  out[70] = 0x08 | 0x04 | 0x01;
  out[71] = out[72] = 0;
  if (walk) {
    out[83] = 60;
    out[84] = 0x20;
    out[85] = 300 & 0xFF;
    out[86] = 0x20 | 0x40 | (300 >> 8);
  }
  const char* rows[4] = {"Claudication \x0f \x10", "Cramp \x0f \x10", "Numbness \x0f \x10", "Fatigue \x0f \x10"};
  for (int i = 0; i < 4; ++i) std::snprintf(reinterpret_cast<char*>(out + 109 + 46 * i), 41, "%s", rows[i]);
}

void step_bytes(const SampleStep& st, int version, std::uint8_t* out) {
  if (st.module_type == kDoppler) return doppler_step(st, version, kStudyStepClass, out);
  if (version >= 4 && st.module_type == kNotes) {
    NotesStep n{};
    n.module_type = kNotes;
    n.step_class = kStudyStepClass;
    std::snprintf(n.label, sizeof n.label, "%s", st.label);
    n.caption_width = static_cast<std::int16_t>(st.notes.caption_chars * 30);
    std::snprintf(n.caption, sizeof n.caption, "%s", st.notes.caption);
    n.answer_width = static_cast<std::uint8_t>(st.notes.width);
    std::snprintf(n.default_answer, sizeof n.default_answer, "%s", st.notes.answer);
    n.block_tag = static_cast<std::uint8_t>(st.notes.block);
    n.import_fill = static_cast<std::uint8_t>(st.notes.import_fill);
    return encode_notes_step(n, out);
  }
  if (version >= 6 && st.module_type == kSymptom) return symptom_step(st, out);
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
  // Versions before 3 had no report layouts and no report-only steps.
  std::vector<SampleStep> steps;
  for (const SampleStep& st : study.steps) {
    const bool report_only = st.module_type == kText || st.module_type == kFormulas || st.module_type == kLines;
    if (version >= 3 || !report_only) steps.push_back(st);
  }
  std::vector<std::uint8_t> bytes = header_bytes(study.title, steps.size());
  for (std::size_t i = 0; i < steps.size(); ++i) {
    std::uint8_t* out = bytes.data() + (i + 1) * kTemplateRecordSize;
    step_bytes(steps[i], version, out);
    if (version >= 3) {
      for (const Patch& p : steps[i].report) std::memcpy(out + p.offset, p.bytes.data(), p.bytes.size());
    }
    if (version >= 5) {
      for (const Patch& p : steps[i].exported) std::memcpy(out + p.offset, p.bytes.data(), p.bytes.size());
    }
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
  if (version < 4)
    return {make_submenu_entry("Studies", 1, 5), make_study_entry(s[0].title, s[0].number),
            make_study_entry(s[1].title, s[1].number), make_study_entry(s[4].title, s[4].number),
            make_study_entry(s[5].title, s[5].number), make_submenu_entry("PVR Studies", 6, 2),
            make_study_entry(s[2].title, s[2].number), make_study_entry(s[3].title, s[3].number)};
  if (version < 6)
    return {make_submenu_entry("Studies", 1, 6), make_study_entry(s[0].title, s[0].number),
            make_study_entry(s[1].title, s[1].number), make_study_entry(s[4].title, s[4].number),
            make_study_entry(s[5].title, s[5].number), make_study_entry(s[6].title, s[6].number),
            make_submenu_entry("PVR Studies", 7, 2), make_study_entry(s[2].title, s[2].number),
            make_study_entry(s[3].title, s[3].number)};
  if (version < 7)
    return {make_submenu_entry("Studies", 1, 7), make_study_entry(s[0].title, s[0].number),
          make_study_entry(s[1].title, s[1].number), make_study_entry(s[4].title, s[4].number),
          make_study_entry(s[5].title, s[5].number), make_study_entry(s[6].title, s[6].number),
          make_study_entry(s[7].title, s[7].number), make_submenu_entry("PVR Studies", 8, 2),
          make_study_entry(s[2].title, s[2].number), make_study_entry(s[3].title, s[3].number)};
  // The study menu shows five rows a level and does not scroll.
  return {make_submenu_entry("Studies", 1, 5),       make_study_entry(s[0].title, s[0].number),
          make_study_entry(s[1].title, s[1].number), make_study_entry(s[4].title, s[4].number),
          make_submenu_entry("More Studies", 6, 3),  make_submenu_entry("PVR Studies", 9, 2),
          make_study_entry(s[5].title, s[5].number), make_study_entry(s[6].title, s[6].number),
          make_study_entry(s[7].title, s[7].number), make_study_entry(s[2].title, s[2].number),
          make_study_entry(s[3].title, s[3].number)};
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
  // Files exactly as the version that wrote the set left them are replaced.
  const int was = written_version();
  auto earlier = [was](std::vector<std::uint8_t> bytes) {
    return was < kVersion ? bytes : std::vector<std::uint8_t>{};
  };
  bool ok = write_sample(kStudyMenuFile, encode_study_menu_file(menu_entries(kVersion)),
                         earlier(encode_study_menu_file(menu_entries(was))));
  for (const auto& study : samples()) {
    std::vector<std::uint8_t> old;
    for (const auto& before : was < 2 ? first_version_samples() : samples())
      if (before.number == study.number) old = template_bytes(before, was);
    ok = write_sample(template_file_name(std::to_string(study.number)), template_bytes(study, kVersion),
                      earlier(old)) && ok;
  }
  ok = write_sample(diagnostics_template_file_name(kDiagnostics), diagnostics_bytes(), {}) && ok;
  const std::string version = std::to_string(kVersion) + "\n";
  if (ok && platform::write_file_atomic(platform::map_path_create_dirs(kVersionFile), version.data(), version.size()) != 0)
    ok = false;
  return ok ? 0 : 1;
}
