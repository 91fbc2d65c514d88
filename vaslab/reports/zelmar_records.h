// The sibling database's finishing call: the capture stream that the
// batch's study calls gathered (zelmar_export.h) is read back into entries,
// the entries of one patient are grouped by the kind of study they belong
// to, and each group becomes one 3354-byte record file in the export folder,
// numbered like the folder's other files.  Both work files are deleted at
// the end, whatever was written.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "vaslab/reports/export_args.h"

namespace vaslab {

// The record file, little-endian.  Waveform entries sit at 264 + place x 309
// (x 132 for the thoracic outlet test), whatever their length: the long
// entries of some kinds run on over the places that kind leaves empty.
constexpr std::size_t kZelmarRecordBytes = 3354;
constexpr std::size_t kZelmarEntryArea = 264;
constexpr std::size_t kZelmarEntryHead = 13;  // flag, five codes, two values, count, gain
struct ZelmarRecord {
  std::uint8_t magic[2];  // 0xFF 0x01
  std::int16_t kind;      // the group's record kind
  char patient_id[30];
  char patient_name[30];
  char exam_date[22];
  char title[30];
  char site[30];          // first field of the kind's line of "c:\plus\default.inf"
  char site_text[40];     // its second field, or the report's "CP" line
  char operator_name[30]; // the report's "Op" line
  char pressures[12][4];
  std::uint8_t entries[kZelmarRecordBytes - kZelmarEntryArea];
};
static_assert(sizeof(ZelmarRecord) == kZelmarRecordBytes);
static_assert(offsetof(ZelmarRecord, patient_id) == 4);
static_assert(offsetof(ZelmarRecord, site) == 116);
static_assert(offsetof(ZelmarRecord, operator_name) == 186);
static_assert(offsetof(ZelmarRecord, pressures) == 216);
static_assert(offsetof(ZelmarRecord, entries) == kZelmarEntryArea);

// One entry of the stream: a pressure block, or a waveform header block
// with the sample run before it.
constexpr int kZelmarMaxRunSamples = 6000;
constexpr int kZelmarMinRunSamples = 12;  // shorter runs make no entry
constexpr int kZelmarNoKind = 255;
struct ZelmarEntry {
  bool pressure_block = false;
  std::string group_file;  // "<exam id>.pdf" of the patient's first study
  int group = 0;           // 1.. once grouped; 0 ungrouped or dropped
  int test = 0, location = 0, probe = 0, gain = 0, sweep = 0;  // -1: text in no table
  std::int16_t value_1 = 0, value_2 = 0;                        // reference values
  std::array<std::string, 12> pressures;  // at most 3 characters each
  int gain_byte = 0;                      // g - 128
  std::vector<std::uint8_t> samples;      // escapes resolved, marks left out
  int kind = kZelmarNoKind;
};

// The entries of a stream, in stream order, with their reference values.
// A damaged or cut stream gives fewer entries, never a read past its end.
std::vector<ZelmarEntry> parse_zelmar_stream(const std::uint8_t* data, std::size_t size);

// The finishing call ("END") of run_zelmar_export: 0, or 11 when the stream
// cannot be read or a record file cannot be written whole.
int finish_zelmar_export(const ExportArgs& args);

// Where a finishing call notes the record files it is putting in place, so
// that a batch cut off half-way is taken back rather than handed over in
// part (and then again whole).
inline constexpr char kZelmarJournal[] = "c:\\plus\\zelmar.jnl";
// Removes the record files of a batch whose publishing was cut off; every
// start runs it, and so does every finishing call before its own.
void take_back_unfinished_zelmar_batch();

}  // namespace vaslab
