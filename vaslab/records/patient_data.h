// The patient data of a study: eight fields of the page description header
// (name, ID, exam date and five fields whose labels the study template
// gives), and the screen that edits them one at a time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vaslab {

constexpr int kPatientFields = 8;
constexpr std::size_t kPatientHeaderBytes = 245;  // the screen writes bytes 2..244
constexpr std::size_t kFieldRecordSize = 300;

// One field.  `capacity` is the room for label and value in characters;
// rows with `label_stored` keep the label in front of the value in the header.
struct PatientField {
  char label[42];
  char default_text[42];
  char value[42];              // without its label
  int header_offset;
  int header_room;             // bytes of the header field, NUL included
  std::int16_t capacity;
  std::uint8_t label_stored;
  std::uint8_t editable;
  std::uint8_t importable;
  std::uint8_t ask_after_import;
};
PatientField* patient_fields();

// What a template load starts from: name and ID editable and importable,
// everything else off, no template labels or defaults.
void reset_patient_fields();
// Applies the template's field record (the step record of type 255).
void apply_field_record(const std::uint8_t* record300);

// Remembers the values of the labelled fields 3, 5, 6 and 7 for the next
// study of the same patient (a block laid out as a field record).
void remember_patient_fields();

// Fills the field values from the study's header, or from the worklist
// import, the remembered fields (`remembered`, may be null) and defaults.
void load_patient_fields(const std::uint8_t* remembered);

// Composes the fields into study_header() (bytes 2..244).
void store_patient_fields();

// Writes the header as the study's page description when bytes 0..244
// differ from what was loaded, with the worklist files beside it when the
// import is this patient's.  0 when written or unchanged, -1 when it could
// not be written.
int save_patient_header();

// The screen: start 0..7 at that field, -1 at field 0 of a new study of the
// same patient.  1 when left with EXIT, 0 when accepted to the end.
int patient_data_screen(int start);

}  // namespace vaslab
