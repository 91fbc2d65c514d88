// The sibling-database export ("C:\PLUS\ZELMAR", run_zelmar_export in
// module_entries.h).  Each study call translates one study into the capture
// stream the sibling database records from its own instruments and appends
// it to "c:\temp\freedata": a sample run and a header block for each
// waveform, then the study's pressure table as text blocks.  The finishing
// call reads the stream back and writes the record files.
//
// Capture stream: byte 15 is an escape.  15,0 is a data byte 15; 15,1 opens
// a pressure block, 15,2 a waveform header block (after the samples it
// describes), 15,3,g a sample run of gain byte g.  Block texts are lines
// ended by CR with five-character labels.
#pragma once

#include <cstdint>
#include <cstddef>

namespace vaslab {

inline constexpr char kZelmarGroupFile[] = "c:\\temp\\zelmardb";
inline constexpr char kZelmarStreamFile[] = "c:\\temp\\freedata";

inline constexpr std::uint8_t kZelmarEscape = 15;
enum ZelmarTag : std::uint8_t {
  kZelmarData = 0,          // 15,0: a data byte 15
  kZelmarPressureBlock = 1,
  kZelmarWaveformBlock = 2,
  kZelmarSampleRun = 3,     // followed by the gain byte
  kZelmarRunMark = 4,       // inside a run; read, never written here
};

// One patient of the batch in "c:\temp\zelmardb", in order of first
// appearance: the group file name (the exam id of the patient's first study
// and ".pdf") that every block of the patient carries after "I.D.:".
inline constexpr std::size_t kZelmarGroupRecordBytes = 43;
struct ZelmarGroupRecord {
  char file_name[13];
  char patient_name[30];
};
static_assert(sizeof(ZelmarGroupRecord) == kZelmarGroupRecordBytes);

}  // namespace vaslab
