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

#include "platform/failure_cause.h"
#include "platform/file_io.h"
#include "platform/le_bytes.h"
#include "platform/paths.h"
#include "vaslab/core/screens/study_menu.h"
#include "vaslab/studies/study_template.h"

namespace {

using namespace vaslab;

constexpr int kVersion = 9;  // 3: report layouts; 4: notes lines; 5: export rows; 6: symptom study;
                             // 7: at most five rows a level; 8: every study's report laid out;
                             // 9: field records
constexpr char kVersionFile[] = "c:\\studies\\demo-studies.ver";
constexpr char kDiagnostics[] = "dopalign";

// Bytes of a step record that only the report reads: where the step's
// trace, pressure, text or line goes on the page.  Each names the width of
// the field it fills, and is written only by the versions from `since` up
// to before `until`, so that what an earlier version wrote can still be
// recognised.
struct Patch {
  int offset;
  std::string bytes;
  int field;
  int since = 0;
  int until = 1000;
};
Patch text(int offset, const std::string& t, int field) { return {offset, t + '\0', field}; }
Patch byte(int offset, int v) { return {offset, std::string(1, static_cast<char>(v)), 1}; }
Patch word(int offset, int v) {
  return {offset, std::string{static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)}, 2};
}
Patch from(int version, Patch p) {
  p.since = version;
  return p;
}
Patch until(int version, Patch p) {
  p.until = version;
  return p;
}
std::vector<Patch> from(int version, std::vector<Patch> ps) {
  for (Patch& p : ps) p.since = version;
  return ps;
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
  // The version that added the step.
  int since = 0;
};

struct SampleStudy {
  int number;
  const char* title;
  std::vector<SampleStep> steps;
};

constexpr int kDoppler = 6, kDualPpg = 5, kDualPressure = 11, kDualPvr = 1, kNotes = 10, kSinglePressure = 2,
              kSymptom = 16;
constexpr int kText = 3, kFormulas = 7, kLines = 20;
// Black text of the first size: colour 7 in bits 2-4.
constexpr int kBlack = 7 * 4;
// A trace box with its two label lines takes 580 rows; the header ends at
// row 200.
constexpr int kLeftX = 100, kRightX = 1250, kTraceRows = 580, kFirstY = 300;

// A Doppler trace: letter, place, start in the page's samples and its two
// labels (code 9 the scale, 11 the page's time-base text, 13 the probe, 14
// the pulse amplitude).
std::vector<Patch> doppler_trace(char letter, int x, int y, int start, const char* site) {
  return {byte(32, letter), word(33, x), word(35, y), byte(39, 1), word(51, start),
          text(53, std::string(site) + "  \x0d MHz", 72),
          until(8, text(125, "\x09  cutoff \x0b Hz  amp \x0e", 72)), from(8, text(125, "\x09  time base \x0b  amp \x0e", 72))};
}
// A pulse volume trace of a dual PVR step: scale row 2 (mmHg a 20 mm
// division) is the module's second scale byte; the cuff pressure (code 10)
// is highlighted outside 55 to 75 mmHg, and the pulse amplitude (code 12)
// outside 1 to 999.
std::vector<Patch> pvr_trace(char letter, int x, int y, int start, const char* site) {
  return from(8, {byte(32, letter), word(33, x), word(35, y), word(40, 55), word(42, 75), word(44, 1),
                  word(46, 999), byte(51, 2), word(61, start), text(63, std::string(site) + "  cuff \x0a mmHg", 72),
                  text(135, "\x09  amplitude \x0c", 72)});
}
// A photoplethysmography trace of a dual PPG step: its scale row is the
// module's second scale byte (row 0).
std::vector<Patch> ppg_trace(char letter, int x, int y, int start, const char* site) {
  return from(8, {byte(32, letter), word(33, x), word(35, y), word(47, start), text(49, site, 72),
                  text(121, "\x09  amp \x0e", 72)});
}
// A pressure: letter and place, framed.  The dual pressure module keeps its
// options in the same byte as the frame bit (0x08: markers on the post
// screen).
std::vector<Patch> pressure_value(char letter, int x, int y, int options = 0) {
  return {byte(32, letter), word(33, x), word(35, y), byte(37, 1 | options)};
}
// A text step, black, condition always true unless given.
std::vector<Patch> caption(int x, int y, const char* t, const char* condition = "1") {
  return {text(37, condition, 80), text(117, "7", 80), word(32, x), word(34, y), text(198, t, 80),
          text(278, "%s", 10)};
}
// A formula's value printed at a place when the condition holds.
std::vector<Patch> value(int x, int y, const char* condition, const char* formula, const char* format) {
  return {text(37, condition, 80), text(117, "7", 80), word(32, x), word(34, y), byte(197, 1),
          text(198, formula, 80), text(278, format, 10)};
}

// The notes form's lines: captions padded to one column, the patient's ID
// from the worklist import, a history that wraps over three lines and a
// caption-only line above the impression.  On the page the caption ends at
// the column's edge (the step's caption width) and the note follows it, on
// the row given, or without one 50 rows below the line before.
SampleStep notes_line(const char* label, const NotesLine& line, int row = -1) {
  std::vector<Patch> place = {byte(37, kBlack), byte(120, kBlack)};
  if (row >= 0) place.push_back(word(34, row));
  else place.push_back(byte(36, 4));
  return {kNotes, label, from(8, place), line};
}

// The set this version writes: the dual studies as RIGHT/LEFT pairs.
const std::vector<SampleStudy>& samples() {
  constexpr int kRow2 = kFirstY + kTraceRows, kRow3 = kFirstY + 2 * kTraceRows;
  static const std::vector<SampleStudy> s = {
      {101, "ABI Resting",
       {{kDualPressure, "RIGHT Brachial", from(8, pressure_value('A', 900, 450, 0x08))},
        {kDualPressure, " LEFT Brachial", from(8, pressure_value('B', 1500, 450, 0x08))},
        {kDualPressure, "RIGHT Ankle", from(8, pressure_value('C', 900, 650, 0x08))},
        {kDualPressure, " LEFT Ankle", from(8, pressure_value('D', 1500, 650, 0x08))},
        notes_line("Notes", {"Comments: ", 12, 60}, 1100),
        // The index takes the higher of the two arm pressures.
        {kFormulas, "Indexes", {text(32, "ar = pc / max(pa, pb)", 81), text(113, "al = pd / max(pa, pb)", 80)}, {}, {}, 8},
        {kText, "", caption(900, 320, "Right"), {}, {}, 8},
        {kText, "", caption(1500, 320, "Left"), {}, {}, 8},
        {kText, "", caption(200, 460, "Brachial"), {}, {}, 8},
        {kText, "", caption(200, 660, "Ankle"), {}, {}, 8},
        {kText, "", caption(1800, 460, "mmHg"), {}, {}, 8},
        {kText, "", caption(200, 850, "Ankle/Brachial index", "max(pa, pb) > 0 && (pc > 0 || pd > 0)"), {}, {}, 8},
        {kText, "", value(880, 850, "max(pa, pb) > 0 && pc > 0", "ar", "%4.2f"), {}, {}, 8},
        {kText, "", value(1480, 850, "max(pa, pb) > 0 && pd > 0", "al", "%4.2f"), {}, {}, 8}}},
      {102, "Lower Arterial Doppler",
       {{kDoppler, "Right CFA", doppler_trace('A', 100, 300, 0, "Right CFA")},
        {kDoppler, "Right POP", doppler_trace('B', 1250, 300, 296, "Right POP")},
        {kDoppler, "Left CFA", doppler_trace('C', 100, 1000, 592, "Left CFA")},
        {kDoppler, "Left POP", doppler_trace('D', 1250, 1000, 888, "Left POP")}}},
      {103, "Lower PVR",
       {{kDualPvr, "RIGHT Thigh", pvr_trace('A', kLeftX, kFirstY, 0, "RIGHT Thigh")},
        {kDualPvr, " LEFT Thigh", pvr_trace('B', kRightX, kFirstY, 296, "LEFT Thigh")},
        {kDualPvr, "RIGHT Calf", pvr_trace('C', kLeftX, kRow2, 592, "RIGHT Calf")},
        {kDualPvr, " LEFT Calf", pvr_trace('D', kRightX, kRow2, 888, "LEFT Calf")},
        {kDualPvr, "RIGHT Ankle", pvr_trace('E', kLeftX, kRow3, 1184, "RIGHT Ankle")},
        {kDualPvr, " LEFT Ankle", pvr_trace('F', kRightX, kRow3, 1480, "LEFT Ankle")}}},
      {104, "Upper PVR",
       {{kDualPvr, "RIGHT Upper arm", pvr_trace('A', kLeftX, kFirstY, 0, "RIGHT Upper arm")},
        {kDualPvr, " LEFT Upper arm", pvr_trace('B', kRightX, kFirstY, 296, "LEFT Upper arm")},
        {kDualPvr, "RIGHT Forearm", pvr_trace('C', kLeftX, kRow2, 592, "RIGHT Forearm")},
        {kDualPvr, " LEFT Forearm", pvr_trace('D', kRightX, kRow2, 888, "LEFT Forearm")}}},
      {105, "Segmental Pressures",
       {{kSinglePressure, "Rt Brachial", pressure_value('A', 600, 500), {}, {byte(60, 1)}},
        {kSinglePressure, "Rt Thigh", pressure_value('B', 600, 800), {}, {byte(60, 2)}},
        {kSinglePressure, "Rt Ankle", pressure_value('C', 600, 1100), {}, {byte(60, 3)}},
        // The formula step also chooses the site's first export template.
        {kFormulas, "Indexes", {text(32, "ti = pb / pa", 81), text(113, "ai = pc / pa", 80)}, {}, {byte(112, 240)}},
        {kText, "", caption(200, 510, "Brachial")},
        {kText, "", caption(200, 810, "Thigh")},
        {kText, "", caption(200, 1110, "Ankle")},
        {kText, "", caption(1100, 300, "mmHg")},
        // Version 7 wrote each caption with its value into the 10-byte
        // format field; what stayed in the record of it is kept to know
        // those files again.  From version 8 the caption is a step of its own.
        {kText, "", {text(37, "pa > 0 && pc > 0", 80), text(117, "7", 80), word(34, 1400), byte(197, 1),
                     text(198, "ai", 80), until(8, word(32, 200)), {278, "Ankle/Brachial index", 20, 3, 8},
                     from(8, word(32, 900)), from(8, text(278, "%4.2f", 10))}},
        {kText, "", {text(37, "pa > 0 && pb > 0", 80), text(117, "7", 80), word(34, 1480), byte(197, 1),
                     text(198, "ti", 80), until(8, word(32, 200)), {278, "Thigh/Brachial index", 20, 3, 8},
                     from(8, word(32, 900)), from(8, text(278, "%4.2f", 10))}},
        {kLines, "", {text(32, "1", 21), text(53, "2", 6), text(59, "7", 6), text(74, "150", 25), text(99, "400", 25),
                      text(124, "2250", 25), text(149, "400", 25), word(66, 11), word(68, 216), word(70, 2388),
                      word(72, 3138)}},
        {kText, "", caption(200, 1400, "Ankle/Brachial index", "pa > 0 && pc > 0"), {}, {}, 8},
        {kText, "", caption(200, 1480, "Thigh/Brachial index", "pa > 0 && pb > 0"), {}, {}, 8}}},
      {106, "Digit PPG",
       {{kDualPpg, "RIGHT Fingers", ppg_trace('A', kLeftX, kFirstY, 0, "RIGHT Fingers")},
        {kDualPpg, " LEFT Fingers", ppg_trace('B', kRightX, kFirstY, 296, "LEFT Fingers")},
        {kDualPpg, "RIGHT Toes", ppg_trace('C', kLeftX, kRow2, 592, "RIGHT Toes")},
        {kDualPpg, " LEFT Toes", ppg_trace('D', kRightX, kRow2, 888, "LEFT Toes")}}},
      {107, "Study Notes",
       {notes_line("Patient ID", {"Patient ID: ", 18, 30, "", 0, 0x80 | 2}, kFirstY),
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
void symptom_step(const SampleStep& st, int version, std::uint8_t* out) {
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
  if (version < 8) return;
  // A blank after the site word keeps it apart from the time that follows
  // it on the page.
  for (int i = 0; i < 4; ++i)
    std::snprintf(reinterpret_cast<char*>(out + 109 + 46 * i), 31, "%s ", rows[i]);
  // On the page: the step's caption and its stopwatch time (bit 1 of byte
  // 68, the caption with bits 2-3 once captured), then each captured
  // symptom 50 rows below the one before, its row text with side and site
  // ending where its time begins.
  const int y = walk ? kFirstY : kFirstY + 350;
  out[68] |= 0x02 | 0x08;
  platform::put_s16le(out + 32, 800);
  platform::put_s16le(out + 34, static_cast<std::int16_t>(y));
  out[36] = kBlack;
  std::snprintf(reinterpret_cast<char*>(out + 37), 31, "%s", walk ? "Walking time: " : "Recovery time: ");
  out[103] = kBlack;
  for (int i = 0; i < 4; ++i) {
    std::uint8_t* slot = out + 104 + 46 * i;
    slot[0] = 0x01 | 0x02 | 0x08;
    platform::put_s16le(slot + 1, 1500);
    platform::put_s16le(slot + 3, static_cast<std::int16_t>(y + 50 * (i + 1)));
  }
}

void step_bytes(const SampleStep& st, int version, std::uint8_t* out) {
  if (st.module_type == kDoppler) return doppler_step(st, version, kStudyStepClass, out);
  if (version >= 4 && st.module_type == kNotes) {
    NotesStep n{};
    n.module_type = kNotes;
    n.step_class = kStudyStepClass;
    std::snprintf(n.label, sizeof n.label, "%s", st.label);
    // A caption-only line ends where its caption does (from version 9):
    // placed at its left edge, the archive would not find it on the page.
    int chars = st.notes.caption_chars;
    if (version >= 9 && chars == 0 && st.notes.width == 0) chars = static_cast<int>(std::strlen(st.notes.caption));
    n.caption_width = static_cast<std::int16_t>(chars * 30);
    std::snprintf(n.caption, sizeof n.caption, "%s", st.notes.caption);
    n.answer_width = static_cast<std::uint8_t>(st.notes.width);
    std::snprintf(n.default_answer, sizeof n.default_answer, "%s", st.notes.answer);
    n.block_tag = static_cast<std::uint8_t>(st.notes.block);
    n.import_fill = static_cast<std::uint8_t>(st.notes.import_fill);
    return encode_notes_step(n, out);
  }
  if (version >= 6 && st.module_type == kSymptom) return symptom_step(st, version, out);
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

// The template's last record, its patient fields: no labelled fields, the
// study caption as the header's caption, name and ID editable as without
// one.  The archive's identification takes a study for this template only
// when the template ends in it, so without it a reindex loses every study's
// type.
constexpr int kFieldRecord = 255;
void field_record(const char* title, std::uint8_t* out) {
  out[0] = kFieldRecord;
  std::snprintf(reinterpret_cast<char*>(out + 2), 30, "%s", title);
  out[294] = 0x20;
}

// Writes a step's patches of `version` into its record.  A patch longer
// than its field, or a field that runs past the record's bytes before the
// checksum, is a fault of this tool: it is refused and nothing is written.
bool apply_patches(const std::vector<Patch>& patches, int version, std::uint8_t* out) {
  for (const Patch& p : patches) {
    if (version < p.since || version >= p.until) continue;
    if (p.offset < 2 || p.field < 1 || p.offset + p.field > static_cast<int>(kTemplateRecordSize) - 2 ||
        p.bytes.size() > static_cast<std::size_t>(p.field)) {
      std::fprintf(stderr, "demo-studies: %zu bytes at offset %d do not fit their %d-byte field\n", p.bytes.size(),
                   p.offset, p.field);
      return false;
    }
    std::memcpy(out + p.offset, p.bytes.data(), p.bytes.size());
  }
  return true;
}

// The template a version wrote; empty when a patch does not fit.
std::vector<std::uint8_t> template_bytes(const SampleStudy& study, int version) {
  // Versions before 3 had no report layouts and no report-only steps.
  std::vector<SampleStep> steps;
  for (const SampleStep& st : study.steps) {
    const bool report_only = st.module_type == kText || st.module_type == kFormulas || st.module_type == kLines;
    if ((version >= 3 || !report_only) && version >= st.since) steps.push_back(st);
  }
  const bool fields = version >= 9;
  std::vector<std::uint8_t> bytes = header_bytes(study.title, steps.size() + (fields ? 1 : 0));
  if (fields) {
    std::uint8_t* out = bytes.data() + (steps.size() + 1) * kTemplateRecordSize;
    field_record(study.title, out);
    seal(out);
  }
  for (std::size_t i = 0; i < steps.size(); ++i) {
    std::uint8_t* out = bytes.data() + (i + 1) * kTemplateRecordSize;
    step_bytes(steps[i], version, out);
    if (version >= 3 && !apply_patches(steps[i].report, version, out)) return {};
    if (version >= 5 && !apply_patches(steps[i].exported, version, out)) return {};
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
  const int r = platform::write_file_atomic(path, bytes.data(), bytes.size());
  if (r == 0) return true;
  std::fprintf(stderr, "demo-studies: cannot write %s: %s\n", path.c_str(), platform::error_text(r));
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
    const std::vector<std::uint8_t> bytes = template_bytes(study, kVersion);
    if (bytes.empty()) {
      ok = false;
      continue;
    }
    ok = write_sample(template_file_name(std::to_string(study.number)), bytes, earlier(old)) && ok;
  }
  ok = write_sample(diagnostics_template_file_name(kDiagnostics), diagnostics_bytes(), {}) && ok;
  const std::string version = std::to_string(kVersion) + "\n";
  if (ok && platform::write_file_atomic(platform::map_path_create_dirs(kVersionFile), version.data(), version.size()) != 0)
    ok = false;
  return ok ? 0 : 1;
}
