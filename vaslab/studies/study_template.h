// Study templates: "c:\studies\NNNNNNNN.sty", a sequence of 300-byte records
// written by the outside configuration program.  Record 0 is the study
// header, records 1..n the steps; step numbers everywhere are record numbers.
// Every record ends with a checksum, the 16-bit sum of its bytes 0..297.
// Fields no part of the workstation reads are kept as opaque bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vaslab {

constexpr std::size_t kTemplateRecordSize = 300;
constexpr int kMaxTemplateSteps = 200;

// Step class byte (offset 1): study modules take only study steps, the
// diagnostics module only diagnostics steps.
constexpr std::uint8_t kStudyStepClass = 1;
constexpr std::uint8_t kDiagnosticsStepClass = 0;

// Prefix lengths: the leading part of a step record each module reads.
constexpr std::size_t kDopplerPrefix = 204;  // also the diagnostics steps
constexpr std::size_t kPressurePrefix = 66;
constexpr std::size_t kNotesPrefix = 206;
constexpr std::size_t kSymptomPrefix = 288;

// Lock/override flag bytes in front of a setting.
constexpr std::uint8_t kSettingLocked = 0x01;    // buttons that change it do nothing
constexpr std::uint8_t kSettingOverride = 0x02;  // template value replaces the carried one

struct __attribute__((packed)) StudyHeader {
  std::uint16_t leading_word;  // the archive caption uses the title only when byte 0 is 0
  char title[30];
  std::int16_t step_count;     // as stored; use template_step_count()
  std::int16_t zero_word;      // must be 0 for the report generators
  std::int16_t record_size;    // must be 300 for the report generators
  std::uint8_t unused[260];
  std::uint16_t checksum;
};
static_assert(sizeof(StudyHeader) == kTemplateRecordSize);
static_assert(offsetof(StudyHeader, title) == 2);
static_assert(offsetof(StudyHeader, step_count) == 32);
static_assert(offsetof(StudyHeader, zero_word) == 34);
static_assert(offsetof(StudyHeader, record_size) == 36);
static_assert(offsetof(StudyHeader, checksum) == 298);

// The common part of every step record; the module's settings stay raw.
struct __attribute__((packed)) StudyStep {
  std::uint8_t module_type;
  std::uint8_t step_class;
  char label[30];              // at most 29 characters; NUL forced at 31 on reading
  std::uint8_t settings[266];  // module-specific (see the prefixes below)
  std::uint16_t checksum;
};
static_assert(sizeof(StudyStep) == kTemplateRecordSize);
static_assert(offsetof(StudyStep, settings) == 32);
static_assert(offsetof(StudyStep, checksum) == 298);

// The Doppler waveform and diagnostics prefix.
struct __attribute__((packed)) DopplerStep {
  std::uint8_t module_type;
  std::uint8_t step_class;
  char label[30];
  std::uint8_t unused_32[5];
  std::uint8_t probe_flags;    // lock, override; bit 2 inverted; bit 3 cmd 5, bit 4 cmd 4
  std::uint8_t probe;          // 15 and 16 are the Doppler probes
  std::uint8_t second_scale;
  std::uint8_t gain_flags;
  std::uint8_t gain;           // 0..10
  std::uint8_t filter_code;    // 0..4
  std::uint8_t baseline_flags;
  std::int16_t baseline;       // 0..255
  std::uint8_t filter_mode_flags;
  std::uint8_t volume_flags;
  std::uint8_t volume;         // 0..10, 0 muted
  std::int16_t report_window;  // samples shown in the report; 0..2960 after reading
  std::uint8_t unused_51[146];
  std::uint8_t cuff_select;
  std::uint8_t unused_198[2];
  std::uint8_t old_numbering;  // bit 0: older code numbering
  std::uint8_t unused_201[2];
  std::uint8_t show_stopwatch; // bit 0
};
static_assert(sizeof(DopplerStep) == kDopplerPrefix);
static_assert(offsetof(DopplerStep, probe_flags) == 37);
static_assert(offsetof(DopplerStep, gain) == 41);
static_assert(offsetof(DopplerStep, baseline) == 44);
static_assert(offsetof(DopplerStep, report_window) == 49);
static_assert(offsetof(DopplerStep, cuff_select) == 197);
static_assert(offsetof(DopplerStep, old_numbering) == 200);
static_assert(offsetof(DopplerStep, show_stopwatch) == 203);

// The single-pressure prefix.
struct __attribute__((packed)) PressureStep {
  std::uint8_t module_type;
  std::uint8_t step_class;
  char label[30];
  std::uint8_t unused_32[6];
  std::uint8_t probe_flags;
  std::uint8_t probe;          // 5 and 6 the special set-ups, 15 and 16 the others
  std::uint8_t inflate_mode;   // 0 to the target, else while held
  std::int16_t inflate_target;
  std::uint8_t deflate_mode;
  std::int16_t deflate_target;
  std::uint8_t second_scale;
  std::uint8_t gain_flags;
  std::uint8_t gain;
  std::uint8_t filter_code;
  std::uint8_t baseline_flags;
  std::int16_t baseline;
  std::uint8_t filter_mode_flags;
  std::uint8_t volume_flags;
  std::uint8_t volume;
  std::int16_t over_range;     // argument of commands 204/205
  std::uint8_t cuff_channel;   // bit 0 channel 1 commands; bit 1 pressure of channel 2
  std::uint8_t cuff_select;
  std::uint8_t unused_60[2];
  std::uint8_t old_numbering;  // bit 0
  std::uint8_t unused_63[2];
  std::uint8_t show_stopwatch; // bit 0
};
static_assert(sizeof(PressureStep) == kPressurePrefix);
static_assert(offsetof(PressureStep, probe_flags) == 38);
static_assert(offsetof(PressureStep, inflate_target) == 41);
static_assert(offsetof(PressureStep, deflate_target) == 44);
static_assert(offsetof(PressureStep, gain) == 48);
static_assert(offsetof(PressureStep, baseline) == 51);
static_assert(offsetof(PressureStep, over_range) == 56);
static_assert(offsetof(PressureStep, cuff_select) == 59);
static_assert(offsetof(PressureStep, old_numbering) == 62);
static_assert(offsetof(PressureStep, show_stopwatch) == 65);

// The dual modules read a RIGHT record and the LEFT record after it; each has
// its own prefix.  Window widths are raw template values (see dual_pair.h).
constexpr std::size_t kDualPpgPrefix = 197;
constexpr std::size_t kDualPressurePrefix = 61;
constexpr std::size_t kDualPvrPrefix = 213;

struct __attribute__((packed)) DualPpgStep {
  std::uint8_t module_type;
  std::uint8_t step_class;
  char label[30];              // "RIGHT " or " LEFT ", then the location text
  std::uint8_t unused_32[5];
  std::uint8_t second_scale;
  std::uint8_t gain_flags;
  std::uint8_t gain;
  std::uint8_t filter_code;
  std::uint8_t baseline_flags;
  std::int16_t baseline;
  std::uint8_t filter_nibble;  // hardware filter value of the side
  std::int16_t window;         // samples in the report window
  std::uint8_t unused_47[146];
  std::uint8_t cuff_select;
  std::uint8_t unused_194[2];
  std::uint8_t show_stopwatch; // bit 0 (RIGHT record)
};
static_assert(sizeof(DualPpgStep) == kDualPpgPrefix);
static_assert(offsetof(DualPpgStep, second_scale) == 37);
static_assert(offsetof(DualPpgStep, baseline) == 42);
static_assert(offsetof(DualPpgStep, filter_nibble) == 44);
static_assert(offsetof(DualPpgStep, window) == 45);
static_assert(offsetof(DualPpgStep, cuff_select) == 193);
static_assert(offsetof(DualPpgStep, show_stopwatch) == 196);

struct __attribute__((packed)) DualPressureStep {
  std::uint8_t module_type;
  std::uint8_t step_class;
  char label[30];
  std::uint8_t unused_32[5];
  std::uint8_t options;        // bit 3 markers, bit 4 delayed capture, bit 5 time text stored
  std::uint8_t inflate_mode;   // 1 while held, else to the target
  std::int16_t inflate_target; // the RIGHT record's serves both cuffs
  std::uint8_t deflate_mode;   // 0 to the target, else while held
  std::int16_t deflate_target;
  std::uint8_t second_scale;
  std::uint8_t gain_flags;
  std::uint8_t gain;
  std::uint8_t filter_code;    // the RIGHT record's serves both filters
  std::uint8_t baseline_flags;
  std::int16_t baseline;
  std::uint8_t unused_51;
  std::int16_t over_range;     // argument of 204/205; shown over range above it + 100
  std::uint8_t cuff_select;
  std::uint8_t unused_55[2];
  std::uint8_t old_numbering;  // bit 0 (RIGHT record)
  std::uint8_t unused_58[2];
  std::uint8_t show_stopwatch; // bit 0 (RIGHT record)
};
static_assert(sizeof(DualPressureStep) == kDualPressurePrefix);
static_assert(offsetof(DualPressureStep, options) == 37);
static_assert(offsetof(DualPressureStep, inflate_target) == 39);
static_assert(offsetof(DualPressureStep, deflate_target) == 42);
static_assert(offsetof(DualPressureStep, gain) == 46);
static_assert(offsetof(DualPressureStep, baseline) == 49);
static_assert(offsetof(DualPressureStep, over_range) == 52);
static_assert(offsetof(DualPressureStep, cuff_select) == 54);
static_assert(offsetof(DualPressureStep, old_numbering) == 57);
static_assert(offsetof(DualPressureStep, show_stopwatch) == 60);

struct __attribute__((packed)) DualPvrStep {
  std::uint8_t module_type;
  std::uint8_t step_class;
  char label[30];
  std::uint8_t unused_32[5];
  std::uint8_t inflate_mode;   // 1 while held, 2 the alternative target, else the target
  std::int16_t inflate_target;
  std::uint8_t unused_40[8];
  std::int16_t over_range;     // argument of 204/205
  std::uint8_t deflate_mode;   // 0 to the target, else while held
  std::uint8_t second_scale;
  std::uint8_t gain_flags;
  std::uint8_t gain;
  std::uint8_t filter_code;
  std::uint8_t baseline_flags;
  std::int16_t baseline;
  std::uint8_t filter_nibble;
  std::int16_t window;
  std::uint8_t unused_61[146];
  std::int16_t alt_target;
  std::uint8_t cuff_select;
  std::uint8_t unused_210[2];
  std::uint8_t show_stopwatch; // bit 0 (RIGHT record)
};
static_assert(sizeof(DualPvrStep) == kDualPvrPrefix);
static_assert(offsetof(DualPvrStep, inflate_target) == 38);
static_assert(offsetof(DualPvrStep, over_range) == 48);
static_assert(offsetof(DualPvrStep, deflate_mode) == 50);
static_assert(offsetof(DualPvrStep, gain) == 53);
static_assert(offsetof(DualPvrStep, baseline) == 56);
static_assert(offsetof(DualPvrStep, filter_nibble) == 58);
static_assert(offsetof(DualPvrStep, window) == 59);
static_assert(offsetof(DualPvrStep, alt_target) == 207);
static_assert(offsetof(DualPvrStep, cuff_select) == 209);
static_assert(offsetof(DualPvrStep, show_stopwatch) == 212);

// The notes prefix: one line of the notes form.
struct __attribute__((packed)) NotesStep {
  std::uint8_t module_type;
  std::uint8_t step_class;
  char label[30];
  std::int16_t caption_width;  // the caption is right-aligned in caption_width / 30 characters
  std::uint8_t unused_34[2];
  std::uint8_t attribute;      // bits 0-1
  std::uint8_t unused_37;
  char caption[81];
  std::uint8_t answer_width;   // the most answer characters the line holds, its wrap width
  std::uint8_t unused_120;
  char default_answer[81];
  std::uint8_t block_tag;      // 1 first line of a block, 3 its last line
  std::uint8_t unused_203[2];
  std::uint8_t import_fill;    // bits 0-5 import field (0 none), bits 6-7 how it fills the answer
};
static_assert(sizeof(NotesStep) == kNotesPrefix);
static_assert(offsetof(NotesStep, caption_width) == 32);
static_assert(offsetof(NotesStep, attribute) == 36);
static_assert(offsetof(NotesStep, caption) == 38);
static_assert(offsetof(NotesStep, answer_width) == 119);
static_assert(offsetof(NotesStep, default_answer) == 121);
static_assert(offsetof(NotesStep, block_tag) == 202);
static_assert(offsetof(NotesStep, import_fill) == 205);

// "00000123.sty" for template "123"; names of 8 or more characters unpadded.
std::string template_base_name(std::string_view template_number);
// "c:\studies\" + template_base_name().
std::string template_file_name(std::string_view template_number);
// "C:\STUDIES\DIAGS\<name>.sty", never padded.
std::string diagnostics_template_file_name(std::string_view name);

// The legacy program path of a module type code, or "" for an unknown code.
std::string_view module_program_path(int module_type);

// The 16-bit sum of bytes 0..297 of a record.
std::uint16_t template_record_checksum(const std::uint8_t* record300);

// Step count of the header as used: negative as 0, above 200 as 200.
int template_step_count(const StudyHeader& h);

// Reads `length` (at most 300) bytes of record `record` (0..200) of a template
// file at a Windows path.  False when the record is out of range or cannot be
// read whole.
bool read_template_record(const std::string& win_path, int record, std::size_t length,
                          std::uint8_t* out);

// Decoding of whole records (300 bytes) and of prefixes (their own length).
// Text fields get a NUL in their last byte; the Doppler report window is
// clamped to 0..2960.  Encoding writes the same bytes back.
void decode_study_header(const std::uint8_t* in, StudyHeader& h);
void encode_study_header(const StudyHeader& h, std::uint8_t* out);
void decode_study_step(const std::uint8_t* in, StudyStep& s);
void encode_study_step(const StudyStep& s, std::uint8_t* out);
void decode_doppler_step(const std::uint8_t* in, DopplerStep& s);
void encode_doppler_step(const DopplerStep& s, std::uint8_t* out);
void decode_pressure_step(const std::uint8_t* in, PressureStep& s);
void encode_pressure_step(const PressureStep& s, std::uint8_t* out);

void decode_dual_ppg_step(const std::uint8_t* in, DualPpgStep& s);
void encode_dual_ppg_step(const DualPpgStep& s, std::uint8_t* out);
void decode_dual_pressure_step(const std::uint8_t* in, DualPressureStep& s);
void encode_dual_pressure_step(const DualPressureStep& s, std::uint8_t* out);
void decode_dual_pvr_step(const std::uint8_t* in, DualPvrStep& s);
void encode_dual_pvr_step(const DualPvrStep& s, std::uint8_t* out);
void decode_notes_step(const std::uint8_t* in, NotesStep& s);
void encode_notes_step(const NotesStep& s, std::uint8_t* out);

// Reads a step's prefix as a module does: 0 when read whole and of the wanted
// class, 4 when the template ends early or the class differs.
int read_doppler_step(const std::string& win_path, int step, std::uint8_t wanted_class,
                      DopplerStep& out);
int read_pressure_step(const std::string& win_path, int step, PressureStep& out);

// Older code numbering: converts probe, second scale and gain in place and
// clears the bit.  Nothing happens when the bit is clear.
void convert_old_numbering(DopplerStep& s);
void convert_old_numbering(PressureStep& s);

}  // namespace vaslab
