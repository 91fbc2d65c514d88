#include "vaslab/studies/study_template.h"

#include <algorithm>
#include <cstring>

#include "platform/file_io.h"
#include "platform/le_bytes.h"
#include "platform/paths.h"

namespace vaslab {

// Field-by-field copies between a packed record and its little-endian bytes.
namespace {

template <std::size_t N>
void force_nul(char (&text)[N]) {
  text[N - 1] = '\0';
}

// Old record numbering, used by records whose numbering bit is set.
std::uint8_t old_probe(std::uint8_t p) { return p == 18 ? 15 : p == 19 ? 16 : p; }
std::uint8_t old_scale(std::uint8_t s) { return s == 3 ? 1 : s; }
std::uint8_t old_gain(std::uint8_t g) {
  switch (g) {
    case 0: return 3;
    case 2: return 5;
    case 4: return 7;
    case 6: return 9;
    default: return 10;
  }
}

}  // namespace

std::string template_base_name(std::string_view template_number) {
  std::string name(template_number);
  if (name.size() < 8) name.insert(0, 8 - name.size(), '0');
  return name + ".sty";
}

std::string template_file_name(std::string_view template_number) {
  return "c:\\studies\\" + template_base_name(template_number);
}

std::string diagnostics_template_file_name(std::string_view name) {
  return "C:\\STUDIES\\DIAGS\\" + std::string(name) + ".sty";
}

std::string_view module_program_path(int module_type) {
  switch (module_type) {
    case 1: return "C:\\PROGRAMS\\DUALPVR";
    case 2: return "C:\\PROGRAMS\\ONEPRES";
    case 5: return "C:\\PROGRAMS\\DUALPPG";
    case 6: return "C:\\PROGRAMS\\DOPPLER";
    case 8: return "C:\\PROGRAMS\\ONEPVR";
    case 9: return "C:\\PROGRAMS\\ONEPPG";
    case 10: return "C:\\PROGRAMS\\LINEEDIT";
    case 11: return "C:\\PROGRAMS\\DUALPRES";
    case 12: return "C:\\PROGRAMS\\VRT";
    case 14: return "C:\\PROGRAMS\\THERMO";
    case 16: return "C:\\PROGRAMS\\TIMER";
    default: return "";
  }
}

std::uint16_t template_record_checksum(const std::uint8_t* record300) {
  std::uint16_t sum = 0;
  for (std::size_t i = 0; i < kTemplateRecordSize - 2; ++i)
    sum = static_cast<std::uint16_t>(sum + record300[i]);
  return sum;
}

int template_step_count(const StudyHeader& h) {
  return std::clamp<int>(h.step_count, 0, kMaxTemplateSteps);
}

bool read_template_record(const std::string& win_path, int record, std::size_t length,
                          std::uint8_t* out) {
  if (record < 0 || record > kMaxTemplateSteps || length > kTemplateRecordSize) return false;
  return platform::read_file_at(platform::map_path(win_path),
                               static_cast<std::uint64_t>(record) * kTemplateRecordSize, out, length);
}

void decode_study_header(const std::uint8_t* in, StudyHeader& s) {
  LE_LOAD_FIELD(StudyHeader, leading_word);
  LE_LOAD_BYTES(StudyHeader, title);
  LE_LOAD_FIELD(StudyHeader, step_count);
  LE_LOAD_FIELD(StudyHeader, zero_word);
  LE_LOAD_FIELD(StudyHeader, record_size);
  LE_LOAD_BYTES(StudyHeader, unused);
  LE_LOAD_FIELD(StudyHeader, checksum);
  force_nul(s.title);
}

void encode_study_header(const StudyHeader& s, std::uint8_t* out) {
  LE_STORE_FIELD(StudyHeader, leading_word);
  LE_STORE_BYTES(StudyHeader, title);
  LE_STORE_FIELD(StudyHeader, step_count);
  LE_STORE_FIELD(StudyHeader, zero_word);
  LE_STORE_FIELD(StudyHeader, record_size);
  LE_STORE_BYTES(StudyHeader, unused);
  LE_STORE_FIELD(StudyHeader, checksum);
}

void decode_study_step(const std::uint8_t* in, StudyStep& s) {
  LE_LOAD_FIELD(StudyStep, module_type);
  LE_LOAD_FIELD(StudyStep, step_class);
  LE_LOAD_BYTES(StudyStep, label);
  LE_LOAD_BYTES(StudyStep, settings);
  LE_LOAD_FIELD(StudyStep, checksum);
  force_nul(s.label);
}

void encode_study_step(const StudyStep& s, std::uint8_t* out) {
  LE_STORE_FIELD(StudyStep, module_type);
  LE_STORE_FIELD(StudyStep, step_class);
  LE_STORE_BYTES(StudyStep, label);
  LE_STORE_BYTES(StudyStep, settings);
  LE_STORE_FIELD(StudyStep, checksum);
}

#define DOPPLER_FIELDS(F, B)                                                       \
  F(DopplerStep, module_type); F(DopplerStep, step_class); B(DopplerStep, label); \
  B(DopplerStep, unused_32); F(DopplerStep, probe_flags); F(DopplerStep, probe);  \
  F(DopplerStep, second_scale); F(DopplerStep, gain_flags); F(DopplerStep, gain); \
  F(DopplerStep, filter_code); F(DopplerStep, baseline_flags);                    \
  F(DopplerStep, baseline); F(DopplerStep, filter_mode_flags);                    \
  F(DopplerStep, volume_flags); F(DopplerStep, volume);                           \
  F(DopplerStep, report_window); B(DopplerStep, unused_51);                       \
  F(DopplerStep, cuff_select); B(DopplerStep, unused_198);                        \
  F(DopplerStep, old_numbering); B(DopplerStep, unused_201);                      \
  F(DopplerStep, show_stopwatch)

#define PRESSURE_FIELDS(F, B)                                                          \
  F(PressureStep, module_type); F(PressureStep, step_class); B(PressureStep, label);   \
  B(PressureStep, unused_32); F(PressureStep, probe_flags); F(PressureStep, probe);   \
  F(PressureStep, inflate_mode); F(PressureStep, inflate_target);                     \
  F(PressureStep, deflate_mode); F(PressureStep, deflate_target);                     \
  F(PressureStep, second_scale); F(PressureStep, gain_flags); F(PressureStep, gain);  \
  F(PressureStep, filter_code); F(PressureStep, baseline_flags);                      \
  F(PressureStep, baseline); F(PressureStep, filter_mode_flags);                      \
  F(PressureStep, volume_flags); F(PressureStep, volume); F(PressureStep, over_range); \
  F(PressureStep, cuff_channel); F(PressureStep, cuff_select);                        \
  B(PressureStep, unused_60); F(PressureStep, old_numbering);                         \
  B(PressureStep, unused_63); F(PressureStep, show_stopwatch)

void decode_doppler_step(const std::uint8_t* in, DopplerStep& s) {
  DOPPLER_FIELDS(LE_LOAD_FIELD, LE_LOAD_BYTES);
  force_nul(s.label);
  // The window length sizes the report stretch and the live strip: never
  // more samples than a page holds.
  s.report_window = std::clamp<int>(s.report_window, 0, 2960);
}

void encode_doppler_step(const DopplerStep& s, std::uint8_t* out) {
  DOPPLER_FIELDS(LE_STORE_FIELD, LE_STORE_BYTES);
}

void decode_pressure_step(const std::uint8_t* in, PressureStep& s) {
  PRESSURE_FIELDS(LE_LOAD_FIELD, LE_LOAD_BYTES);
  force_nul(s.label);
}

void encode_pressure_step(const PressureStep& s, std::uint8_t* out) {
  PRESSURE_FIELDS(LE_STORE_FIELD, LE_STORE_BYTES);
}

#define DUAL_PPG_FIELDS(F, B)                                                            \
  F(DualPpgStep, module_type); F(DualPpgStep, step_class); B(DualPpgStep, label);       \
  B(DualPpgStep, unused_32); F(DualPpgStep, second_scale); F(DualPpgStep, gain_flags);  \
  F(DualPpgStep, gain); F(DualPpgStep, filter_code); F(DualPpgStep, baseline_flags);    \
  F(DualPpgStep, baseline); F(DualPpgStep, filter_nibble); F(DualPpgStep, window);      \
  B(DualPpgStep, unused_47); F(DualPpgStep, cuff_select); B(DualPpgStep, unused_194);   \
  F(DualPpgStep, show_stopwatch)

#define DUAL_PRESSURE_FIELDS(F, B)                                                                   \
  F(DualPressureStep, module_type); F(DualPressureStep, step_class); B(DualPressureStep, label);    \
  B(DualPressureStep, unused_32); F(DualPressureStep, options); F(DualPressureStep, inflate_mode);  \
  F(DualPressureStep, inflate_target); F(DualPressureStep, deflate_mode);                           \
  F(DualPressureStep, deflate_target); F(DualPressureStep, second_scale);                           \
  F(DualPressureStep, gain_flags); F(DualPressureStep, gain); F(DualPressureStep, filter_code);     \
  F(DualPressureStep, baseline_flags); F(DualPressureStep, baseline);                               \
  F(DualPressureStep, unused_51); F(DualPressureStep, over_range);                                  \
  F(DualPressureStep, cuff_select); B(DualPressureStep, unused_55);                                 \
  F(DualPressureStep, old_numbering); B(DualPressureStep, unused_58);                               \
  F(DualPressureStep, show_stopwatch)

#define DUAL_PVR_FIELDS(F, B)                                                                   \
  F(DualPvrStep, module_type); F(DualPvrStep, step_class); B(DualPvrStep, label);              \
  B(DualPvrStep, unused_32); F(DualPvrStep, inflate_mode); F(DualPvrStep, inflate_target);     \
  B(DualPvrStep, unused_40); F(DualPvrStep, over_range); F(DualPvrStep, deflate_mode);         \
  F(DualPvrStep, second_scale); F(DualPvrStep, gain_flags); F(DualPvrStep, gain);              \
  F(DualPvrStep, filter_code); F(DualPvrStep, baseline_flags); F(DualPvrStep, baseline);       \
  F(DualPvrStep, filter_nibble); F(DualPvrStep, window); B(DualPvrStep, unused_61);            \
  F(DualPvrStep, alt_target); F(DualPvrStep, cuff_select); B(DualPvrStep, unused_210);         \
  F(DualPvrStep, show_stopwatch)

void decode_dual_ppg_step(const std::uint8_t* in, DualPpgStep& s) {
  DUAL_PPG_FIELDS(LE_LOAD_FIELD, LE_LOAD_BYTES);
  force_nul(s.label);
}
void encode_dual_ppg_step(const DualPpgStep& s, std::uint8_t* out) { DUAL_PPG_FIELDS(LE_STORE_FIELD, LE_STORE_BYTES); }
void decode_dual_pressure_step(const std::uint8_t* in, DualPressureStep& s) {
  DUAL_PRESSURE_FIELDS(LE_LOAD_FIELD, LE_LOAD_BYTES);
  force_nul(s.label);
}
void encode_dual_pressure_step(const DualPressureStep& s, std::uint8_t* out) {
  DUAL_PRESSURE_FIELDS(LE_STORE_FIELD, LE_STORE_BYTES);
}
void decode_dual_pvr_step(const std::uint8_t* in, DualPvrStep& s) {
  DUAL_PVR_FIELDS(LE_LOAD_FIELD, LE_LOAD_BYTES);
  force_nul(s.label);
}
void encode_dual_pvr_step(const DualPvrStep& s, std::uint8_t* out) { DUAL_PVR_FIELDS(LE_STORE_FIELD, LE_STORE_BYTES); }

#define NOTES_FIELDS(F, B)                                                                  \
  F(NotesStep, module_type); F(NotesStep, step_class); B(NotesStep, label);                \
  F(NotesStep, caption_width); B(NotesStep, unused_34); F(NotesStep, attribute);           \
  F(NotesStep, unused_37); B(NotesStep, caption); F(NotesStep, answer_width);              \
  F(NotesStep, unused_120); B(NotesStep, default_answer); F(NotesStep, block_tag);         \
  B(NotesStep, unused_203); F(NotesStep, import_fill)

void decode_notes_step(const std::uint8_t* in, NotesStep& s) {
  NOTES_FIELDS(LE_LOAD_FIELD, LE_LOAD_BYTES);
  force_nul(s.label);
  force_nul(s.caption);
  force_nul(s.default_answer);
}
void encode_notes_step(const NotesStep& s, std::uint8_t* out) { NOTES_FIELDS(LE_STORE_FIELD, LE_STORE_BYTES); }

#undef NOTES_FIELDS
#undef DOPPLER_FIELDS
#undef PRESSURE_FIELDS
#undef DUAL_PPG_FIELDS
#undef DUAL_PRESSURE_FIELDS
#undef DUAL_PVR_FIELDS

int read_doppler_step(const std::string& win_path, int step, std::uint8_t wanted_class,
                      DopplerStep& out) {
  std::uint8_t buf[kDopplerPrefix];
  if (!read_template_record(win_path, step, sizeof buf, buf)) return 4;
  decode_doppler_step(buf, out);
  return out.step_class == wanted_class ? 0 : 4;
}

int read_pressure_step(const std::string& win_path, int step, PressureStep& out) {
  std::uint8_t buf[kPressurePrefix];
  if (!read_template_record(win_path, step, sizeof buf, buf)) return 4;
  decode_pressure_step(buf, out);
  return out.step_class == kStudyStepClass ? 0 : 4;
}

void convert_old_numbering(DopplerStep& s) {
  if (!(s.old_numbering & 1)) return;
  s.probe = old_probe(s.probe);
  s.second_scale = old_scale(s.second_scale);
  s.gain = old_gain(s.gain);
  s.old_numbering &= static_cast<std::uint8_t>(~1u);
}

void convert_old_numbering(PressureStep& s) {
  if (!(s.old_numbering & 1)) return;
  s.probe = old_probe(s.probe);
  s.second_scale = old_scale(s.second_scale);
  s.gain = old_gain(s.gain);
  s.old_numbering &= static_cast<std::uint8_t>(~1u);
}

}  // namespace vaslab
