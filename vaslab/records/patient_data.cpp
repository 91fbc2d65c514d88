#include "vaslab/records/patient_data.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/debug.h"
#include "platform/file_io.h"
#include "platform/paths.h"
#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/input/system_utils.h"
#include "vaslab/core/settings/settings.h"
#include "vaslab/core/toolkit/buttons.h"
#include "vaslab/records/line_editor.h"
#include "vaslab/records/temp_studies.h"
#include "vaslab/records/worklist.h"
#include "vaslab/reports/page_description.h"

namespace vaslab {
namespace {

using H = PageDescriptionHeader;

// Where each field lives in the header and how much it may hold.
struct FieldPlace {
  int offset;
  int room;
  int capacity;
  std::uint8_t label_stored;
  const char* fixed_label;
};
constexpr FieldPlace kPlaces[kPatientFields] = {
    {offsetof(H, patient_name), sizeof(H::patient_name), 40, 0, "     Name: "},
    {offsetof(H, patient_id), sizeof(H::patient_id), 40, 0, "     ID #: "},
    {offsetof(H, exam_date), sizeof(H::exam_date), 32, 0, "Exam Date: "},
    {offsetof(H, left_line_4), sizeof(H::left_line_4), 40, 1, nullptr},
    {offsetof(H, title), sizeof(H::title), 29, 1, ""},
    {offsetof(H, right_line_2), sizeof(H::right_line_2), 29, 1, nullptr},
    {offsetof(H, right_line_3), sizeof(H::right_line_3), 29, 1, nullptr},
    {offsetof(H, right_line_4), sizeof(H::right_line_4), 29, 1, nullptr},
};
static_assert(offsetof(H, right_line_4) + sizeof(H::right_line_4) == kPatientHeaderBytes);

// The field record (and the remembered block laid out like it): label and
// default of each labelled row, with the room the record gives them.
struct RecordText {
  int offset;
  int room;
};
constexpr RecordText kRecordLabels[kPatientFields] = {
    {0, 0}, {0, 0}, {0, 0}, {32, 41}, {0, 0}, {114, 30}, {174, 30}, {234, 30}};
constexpr RecordText kRecordDefaults[kPatientFields] = {
    {0, 0}, {0, 0}, {0, 0}, {73, 41}, {2, 30}, {144, 30}, {204, 30}, {264, 30}};
constexpr int kRememberedRows[4] = {3, 5, 6, 7};

PatientField g_fields[kPatientFields];
std::uint8_t g_remembered[kFieldRecordSize];
bool g_have_remembered = false;
std::uint8_t g_header_copy[kPageHeaderBytes];
bool g_have_copy = false;

void set_text(char* dst, std::size_t size, const char* src, std::size_t max) {
  const std::size_t n = std::min(::strnlen(src, max), size - 1);
  std::memcpy(dst, src, n);
  dst[n] = 0;
}

void set_record_text(char* dst, std::size_t size, const std::uint8_t* rec, RecordText where) {
  if (where.room == 0) return;
  set_text(dst, size, reinterpret_cast<const char*>(rec + where.offset), static_cast<std::size_t>(where.room - 1));
}

int label_length(int row) { return static_cast<int>(std::strlen(g_fields[row].label)); }

// Characters the header keeps: label and value together where the label is
// stored, else the value alone.  Never more than the header field holds.
int stored_chars(int row) {
  const PatientField& f = g_fields[row];
  const int room = kPlaces[row].room - 1;
  return f.label_stored ? std::min<int>(f.capacity, room) : std::min<int>(f.capacity - label_length(row), room);
}

// Room for the value alone; never negative, whatever the template's label.
int value_room(int row) {
  return std::max(0, g_fields[row].label_stored ? stored_chars(row) - label_length(row) : stored_chars(row));
}

void set_value(int row, const char* text) {
  set_text(g_fields[row].value, sizeof g_fields[row].value, text, static_cast<std::size_t>(value_room(row)));
}

std::string data_file(const char* ending) {
  return std::string(hardware_settings().data_directory) + current_exam_id() + ending;
}

}  // namespace

PatientField* patient_fields() { return g_fields; }

void reset_patient_fields() {
  for (int r = 0; r < kPatientFields; ++r) {
    PatientField& f = g_fields[r];
    const FieldPlace& p = kPlaces[r];
    f.header_offset = p.offset;
    f.header_room = p.room;
    f.capacity = static_cast<std::int16_t>(p.capacity);
    f.label_stored = p.label_stored;
    if (p.fixed_label) set_text(f.label, sizeof f.label, p.fixed_label, sizeof f.label);
    else f.label[0] = 0;
    if (r >= 3) f.default_text[0] = 0;
    f.editable = f.importable = r < 2 ? 1 : 0;
    f.ask_after_import = 0;
  }
}

void apply_field_record(const std::uint8_t* rec) {
  for (int r = 3; r < kPatientFields; ++r) {
    set_record_text(g_fields[r].label, sizeof g_fields[r].label, rec, kRecordLabels[r]);
    set_record_text(g_fields[r].default_text, sizeof g_fields[r].default_text, rec, kRecordDefaults[r]);
  }
  const std::uint8_t edit = rec[294];
  g_fields[4].editable = edit & 1;
  g_fields[3].editable = (edit >> 1) & 1;
  g_fields[5].editable = (edit >> 2) & 1;
  g_fields[6].editable = (edit >> 3) & 1;
  g_fields[7].editable = (edit >> 4) & 1;
  for (int r = 0; r < 2; ++r) {
    const bool keep = edit & 0x20;
    g_fields[r].editable = keep ? 1 : 0;
    g_fields[r].ask_after_import = keep ? 0 : 1;
  }
  g_fields[4].importable = (edit >> 6) & 1;
  g_fields[4].ask_after_import = (edit >> 7) & 1;
  const std::uint8_t import = rec[297];
  for (int i = 0; i < 4; ++i) {
    g_fields[kRememberedRows[i]].importable = (import >> i) & 1;
    g_fields[kRememberedRows[i]].ask_after_import = (import >> (4 + i)) & 1;
  }
}

void remember_patient_fields() {
  std::memset(g_remembered, 0, sizeof g_remembered);
  for (int r : kRememberedRows) {
    const RecordText l = kRecordLabels[r], v = kRecordDefaults[r];
    set_text(reinterpret_cast<char*>(g_remembered + l.offset), static_cast<std::size_t>(l.room), g_fields[r].label,
             sizeof g_fields[r].label);
    set_text(reinterpret_cast<char*>(g_remembered + v.offset), static_cast<std::size_t>(v.room), g_fields[r].value,
             sizeof g_fields[r].value);
  }
  g_have_remembered = true;
}

void load_patient_fields(const std::uint8_t* remembered) {
  std::uint8_t* header = study_header();
  std::memset(header, 0, kPageHeaderBytes);
  g_have_copy = false;
  for (auto& f : g_fields) f.value[0] = 0;
  const auto bytes = platform::read_file(platform::map_path(data_file(".PDF")), kPageHeaderBytes);
  if (bytes && bytes->size() == kPageHeaderBytes) {
    std::memcpy(header, bytes->data(), kPageHeaderBytes);
    std::memcpy(g_header_copy, header, kPageHeaderBytes);
    g_have_copy = true;
    for (int r = 0; r < kPatientFields; ++r) {
      const char* stored = reinterpret_cast<const char*>(header + kPlaces[r].offset);
      const std::size_t n = ::strnlen(stored, static_cast<std::size_t>(kPlaces[r].room));
      std::string text(stored, n);
      // Only a value that really begins with its label loses it.
      const std::string label = g_fields[r].label;
      if (g_fields[r].label_stored && !label.empty() && text.compare(0, label.size(), label) == 0)
        text.erase(0, label.size());
      set_text(g_fields[r].value, sizeof g_fields[r].value, text.c_str(), sizeof g_fields[r].value);
    }
    if (!remembered) return;
  }
  const bool import_present = worklist_control(-6, nullptr) == 0;
  for (int r = 0; r < kPatientFields; ++r) {
    PatientField& f = g_fields[r];
    if (remembered) f.editable = 0;
    char imported[kWorklistBufferSize] = {};
    const int n = worklist_control(r + 1, imported, sizeof imported);
    if (f.importable && import_present && n > 0 && imported[0]) {
      set_value(r, imported);
      if (!f.ask_after_import) f.editable = 0;
      continue;
    }
    if (f.ask_after_import) f.editable = 1;
    bool taken = false;
    if (remembered && f.label[0]) {
      for (int m : kRememberedRows) {
        char label[42] = {}, value[42] = {};
        set_record_text(label, sizeof label, remembered, kRecordLabels[m]);
        if (std::strcmp(label, f.label) != 0) continue;
        set_record_text(value, sizeof value, remembered, kRecordDefaults[m]);
        set_value(r, value);
        taken = true;
        break;
      }
    }
    if (taken) continue;
    const char* def = r == 2 ? study_date_text() : f.default_text;
    if (def[0]) set_value(r, def);
  }
  if (import_present) {
    char text[kWorklistBufferSize] = {};
    worklist_control(-8, text, sizeof text);
    set_value(0, text);
    worklist_control(-9, text, sizeof text);
    set_value(1, text);
  }
}

void store_patient_fields() {
  std::uint8_t* header = study_header();
  for (int r = 0; r < kPatientFields; ++r) {
    const FieldPlace& p = kPlaces[r];
    const PatientField& f = g_fields[r];
    std::string text = f.value;
    if (f.label_stored && !text.empty()) text = f.label + text;
    text.resize(std::min<std::size_t>(text.size(), static_cast<std::size_t>(std::max(0, stored_chars(r)))));
    if (f.label_stored && f.value[0] == 0) text.clear();
    std::memset(header + p.offset, 0, static_cast<std::size_t>(p.room));
    std::memcpy(header + p.offset, text.data(), text.size());
  }
}

int save_patient_header() {
  store_patient_fields();
  const std::uint8_t* header = study_header();
  if (g_have_copy && std::memcmp(header, g_header_copy, kPatientHeaderBytes) == 0) return 0;
  if (worklist_control(-6, nullptr) == 0) {
    char name[sizeof g_fields[0].value];
    set_text(name, sizeof name, g_fields[0].value, sizeof name);
    if (worklist_control(-3, name, sizeof name) == 0) {
      std::string exp = data_file(".exp"), imp = data_file(".imp");
      worklist_control(-2, exp.data(), exp.size() + 1);
      worklist_control(-1, imp.data(), imp.size() + 1);
    }
  }
  const int r = platform::write_file_atomic(platform::map_path_create_dirs(data_file(".pdf")), header,
                                            kPageHeaderBytes, 0600);
  if (r != 0) {
    platform::debug_printf("patient data: cannot write %s (%d)\n", data_file(".pdf").c_str(), r);
    return -1;
  }
  std::memcpy(g_header_copy, header, kPageHeaderBytes);
  g_have_copy = true;
  return 0;
}

// --- The screen -------------------------------------------------------------------

namespace {

// Edits one field; kEditAccept, kEditExit or kEditPrevious.  The insert
// mode carries over from field to field.
int edit_field(int field, bool& insert) {
  PatientField& f = g_fields[field];
  LineEditor e{};
  e.insert = insert;
  const int capacity = f.label_stored ? stored_chars(field) : label_length(field) + stored_chars(field);
  start_line_edit(e, f.label, f.value, capacity);
  const int result = run_patient_line_editor(e);
  insert = e.insert;
  set_text(f.value, sizeof f.value, line_edit_value(e), static_cast<std::size_t>(value_room(field)));
  return result;
}

// The first field to edit from `start`: forwards from it; from 7 backwards to
// field 1.  -1 when there is none.
int first_field(int start) {
  if (g_fields[start].editable) return start;
  if (start == 7) {
    for (int r = 6; r >= 1; --r)
      if (g_fields[r].editable) return r;
    return -1;
  }
  for (int r = start + 1; r < kPatientFields; ++r)
    if (g_fields[r].editable) return r;
  return -1;
}

int next_field(int c) {
  for (int r = c + 1; r < kPatientFields; ++r)
    if (g_fields[r].editable) return r;
  return -1;
}

int previous_field(int c) {
  for (int r = c - 1; r >= 0; --r)
    if (g_fields[r].editable) return r;
  return c;
}

}  // namespace

int patient_data_screen(int start) {
  load_background("set_bkgd");
  g_have_copy = false;
  if (start == -1) {
    g_fields[0].ask_after_import = 0;
    g_fields[1].ask_after_import = 0;
    load_patient_fields(g_have_remembered ? g_remembered : nullptr);
  } else {
    load_patient_fields(nullptr);
  }
  start = std::clamp(start, 0, 7);
  if (hardware_settings().caps_lock_mode == 0 && !read_caps_lock()) toggle_caps_lock();
  bool insert = false;
  int result = 0;
  int c = first_field(start);
  for (;;) {
    while (c >= 0) {
      const int r = edit_field(c, insert);
      if (r == kEditExit) {
        result = 1;
        break;
      }
      c = r == kEditPrevious ? previous_field(c) : next_field(c);
    }
    if (save_patient_header() == 0) break;
    // Not written: back to the last field until it can be.
    c = first_field(7);
    if (c < 0 || !is_event_loop_live()) break;
    result = 0;
  }
  return result;
}

}  // namespace vaslab
