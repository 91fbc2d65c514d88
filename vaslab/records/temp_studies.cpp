#include "vaslab/records/temp_studies.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/debug.h"
#include "platform/file_io.h"
#include "platform/find.h"
#include "platform/le_bytes.h"
#include "platform/paths.h"
#include "vaslab/core/input/system_utils.h"
#include "vaslab/core/settings/settings.h"
#include "vaslab/core/toolkit/message_box.h"
#include "vaslab/records/patient_data.h"
#include "vaslab/records/study_type.h"
#include "vaslab/studies/study_template.h"

namespace vaslab {
namespace {

constexpr std::uint8_t kColumnBar = 0xB3;
constexpr std::size_t kHeaderCopyBytes = 38;

StudyList g_list{};
StudyPlanRow g_plan[kMaxPlanRows];
bool g_note_heading[kMaxPlanRows];  // a notes line without room for an answer
int g_plan_count = 0;

char g_template_number[16];
char g_template_name[16];
char g_exam_id[8];
std::uint8_t g_header_copy[kHeaderCopyBytes];
char g_caption[30];
char g_date_text[22];
char g_archived_name[13];

std::uint8_t g_header[kPageHeaderBytes];
StudyPage g_page{};

std::string data_dir() { return hardware_settings().data_directory; }

// A text of at most `max` characters from a byte field that need not end in
// a NUL.
std::string field_text(const void* p, std::size_t max) {
  const char* c = static_cast<const char*>(p);
  return std::string(c, ::strnlen(c, max));
}

void copy_field(char* dst, std::size_t size, const std::string& src) {
  std::snprintf(dst, size, "%s", src.c_str());
}

// The leading decimal number of a file name ("12.PDF" gives 12).
int leading_number(const char* name) {
  int n = 0;
  for (int i = 0; i < 6 && name[i] >= '0' && name[i] <= '9'; ++i) n = n * 10 + (name[i] - '0');
  return n;
}

std::string exam_part(const std::string& name) { return name.substr(0, name.find('.')); }

bool exists_in_data_dir(const std::string& name) {
  return platform::file_size(platform::map_path(data_dir() + name)).has_value();
}

bool unlink_in_data_dir(const std::string& name) {
  const std::string path = platform::map_path(data_dir() + name);
  return ::unlink(path.c_str()) == 0 || errno == ENOENT;
}

void delete_pages_of(const std::string& exam) {
  for (const auto& f : platform::list_files(data_dir() + "*." + exam))
    if (!(f.attributes & platform::kAttrDirectory)) unlink_in_data_dir(f.name);
}

// The first file of the data directory that belongs to study `exam` by its
// ending ("0.3", "5.3"): its first page.
std::string first_page_of(const std::string& exam) {
  for (const auto& f : platform::list_files(data_dir() + "*." + exam))
    if (!(f.attributes & platform::kAttrDirectory)) return f.name;
  return {};
}

// The message line holds 95 characters; the box gets the whole text, which
// may be longer.
int fail(const char* text) {
  const std::size_t n = std::min(std::strlen(text), sizeof g_message_text - 1);
  std::memcpy(g_message_text, text, n);
  g_message_text[n] = 0;
  show_message_box(nullptr, text, nullptr, 0);
  return 4;
}

// Writes a file of the data directory whole or not at all.  0, 1 when it
// could not be created, 2 when it could not be written completely.
int write_data_file(const std::string& name, const void* data, std::size_t size) {
  const int r = platform::write_file_atomic(platform::map_path_create_dirs(data_dir() + name), data,
                                            size, 0600);
  if (r == 0) return 0;
  return (r == -ENOSPC || r == -EIO || r == -EFBIG || r == -EDQUOT) ? 2 : 1;
}

void set_status(int row, const char* text) {
  std::memcpy(g_plan[row].text, text, std::min<std::size_t>(std::strlen(text), kStatusChars));
}

bool rows_valid(int row) { return row >= 0 && row < g_plan_count; }

int skip_byte_offset(int type) {
  switch (type) {
    case 1: return 211;
    case 2: return 61;
    case 5: return 195;
    case 6: return 199;
    case 8: return 212;
    case 9: return 196;
    case 10: return 203;
    case 11: return 56;
    case 12: return 200;
    case 14: return 254;
    default: return -1;
  }
}

bool plan_type(int type) {
  switch (type) {
    case 1: case 2: case 5: case 6: case 8: case 9: case 10: case 11: case 12: case 14: case 16:
      return true;
    default:
      return false;
  }
}

void fill_status(int row) {
  switch (g_plan[row].type) {
    case 1: case 5: case 6: case 8: case 9: case 12: format_waveform_step_status(row); break;
    case 2: case 11: format_pressure_step_status(row); break;
    case 10: case 14: case 16: format_text_step_status(row); break;
    default: break;
  }
}

void append_list_row(int exam) {
  if (g_list.count >= kStudyListRows) return;
  StudyListRow& r = g_list.rows[g_list.count];
  r = StudyListRow{};
  std::snprintf(r.file_name, sizeof r.file_name, "%d.PDF", exam);
  g_list.selected = g_list.count++;
  if (g_list.first_visible > g_list.selected) g_list.first_visible = g_list.selected;
  if (g_list.selected >= g_list.first_visible + kStudyListVisible)
    g_list.first_visible = static_cast<std::int16_t>(g_list.selected - kStudyListVisible + 1);
}

// One page description found by the scan.  False when its study was deleted
// (the scan then starts again).
bool scan_study(const std::string& name) {
  const std::string exam = exam_part(name);
  HeaderFields fields{};
  read_temp_study_header(name.c_str(), fields);
  const std::string page = first_page_of(exam);
  std::uint8_t page_head[13] = {};
  bool template_opens = false;
  std::uint8_t record0[kTemplateRecordSize];
  bool whole = false;
  if (!page.empty()) {
    const auto bytes = platform::read_file(platform::map_path(data_dir() + page), STUDY_PAGE_BYTES);
    if (bytes) {
      std::memcpy(page_head, bytes->data(), std::min<std::size_t>(bytes->size(), sizeof page_head));
      const std::string tmpl = "c:\\studies\\" + field_text(page_head, 12);
      template_opens = page_head[0] && platform::file_size(platform::map_path(tmpl)).has_value();
      whole = bytes->size() == STUDY_PAGE_BYTES && template_opens &&
              read_template_record(tmpl, 0, kTemplateRecordSize, record0);
    }
  }
  if (page.empty() || !template_opens) {
    if (delete_temp_study(name.c_str())) return false;
    // A read-only drive: the study stays listed-out and the scan goes on.
    platform::debug_printf("scan_temp_studies: cannot delete %s\n", name.c_str());
    return true;
  }
  if (!whole || g_list.count >= kStudyListRows) return true;
  StudyListRow& r = g_list.rows[g_list.count++];
  r = StudyListRow{};
  copy_field(r.file_name, sizeof r.file_name, name);
  std::snprintf(r.text, sizeof r.text, "%-29.29s\263%-29.29s\263%-20.20s",
                field_text(fields.name, sizeof fields.name).c_str(),
                field_text(record0 + 2, 30).c_str(), field_text(fields.date, sizeof fields.date).c_str());
  return true;
}

bool scan_once() {
  g_list.count = 0;
  for (const auto& f : platform::list_files(data_dir() + "*.*")) {
    if (f.attributes & platform::kAttrDirectory) continue;
    const std::string& name = f.name;
    const char last = name.empty() ? 0 : name.back();
    if (last == 'F' || last == 'f') {
      if (name.size() >= sizeof(StudyListRow::file_name)) continue;
      if (!scan_study(name)) return false;
    } else if (last == 'P' || last == 'p') {
      if (!exists_in_data_dir(exam_part(name) + ".pdf")) unlink_in_data_dir(name);
    } else {
      const auto dot = name.find('.');
      if (dot == std::string::npos || !exists_in_data_dir(name.substr(dot + 1) + ".pdf"))
        unlink_in_data_dir(name);
    }
  }
  return true;
}

}  // namespace

StudyList& study_list() { return g_list; }
StudyPlanRow* study_plan() { return g_plan; }
int study_plan_count() { return g_plan_count; }

const char* current_template_number() { return g_template_number; }
const char* current_template_name() { return g_template_name; }
const char* current_exam_id() { return g_exam_id; }
const char* current_study_caption() { return g_caption; }
const char* study_date_text() { return g_date_text; }
std::uint8_t* study_header() { return g_header; }
StudyPage& step_page() { return g_page; }

void set_current_study(const char* template_number, const char* exam_id) {
  std::snprintf(g_template_number, sizeof g_template_number, "%s", template_number ? template_number : "");
  std::snprintf(g_exam_id, sizeof g_exam_id, "%s", exam_id ? exam_id : "");
  copy_field(g_template_name, sizeof g_template_name, template_base_name(g_template_number));
}

int create_temp_study(int mode, const char* template_number, int* exam_id) {
  if (mode == 2) {
    if (g_list.mode != kListArchive) return fail("Invalid filtype.");
    if (g_list.selected >= 0 && g_list.selected < g_list.count)
      copy_field(g_archived_name, sizeof g_archived_name,
                 field_text(g_list.rows[g_list.selected].file_name, 12));
  }
  if (g_list.mode != kListTemporary) {
    g_list.mode = kListTemporary;
    scan_temp_studies();
  }
  if (g_list.count >= kMaxTempStudies)
    return fail(
        "Temp. Files is FULL. Save/Print and then\rdelete temporary patient files.\r \r"
        "Only room for 5 pages in Temp. Files.");

  const int exam = next_temp_exam_id();
  const std::string exam_text = std::to_string(exam);
  set_current_study(template_number, exam_text.c_str());
  delete_pages_of(exam_text);

  std::uint8_t idf[STUDY_PAGE_BYTES] = {};
  std::memcpy(idf, g_template_name, std::min<std::size_t>(std::strlen(g_template_name), 12));
  const std::time_t now = std::time(nullptr);
  platform::put_u32le(idf + 12009, static_cast<std::uint32_t>(now));
  switch (write_data_file("0." + exam_text, idf, sizeof idf)) {
    case 1: return fail("Error creating 0-idf.");
    case 2: return fail("Error writing to 0-idf.");
    default: break;
  }
  format_date_time(now, g_date_text);

  const std::string pdf = exam_text + ".PDF";
  if (mode == 1) {
    switch (write_data_file(pdf, g_header, sizeof g_header)) {
      case 1: return fail("Error creating newer pdf file.");
      case 2: return fail("Error writing new pdf file.");
      default: break;
    }
  } else if (mode == 2) {
    std::memset(g_header, 0, sizeof g_header);
    std::memcpy(g_header + 92, g_date_text, std::min<std::size_t>(std::strlen(g_date_text), 21));
    g_header[113] = 0;
    switch (write_data_file(pdf, g_header, sizeof g_header)) {
      case 1: return fail("Error creating new pdf file.");
      case 2: return fail("Error writing new pdf file.");
      default: break;
    }
    const std::string archived = std::string(hardware_settings().archive_path_1) + g_archived_name;
    if (update_study_history(exam_text.c_str(), archived.c_str(), g_template_name) != 0)
      return fail("Error performing update history.");
  }
  if (load_study_plan(std::string("c:\\studies\\") + g_template_name, std::atoi(g_template_number)) < 0)
    return fail("Error setting up study");
  if (exam_id) *exam_id = exam;
  return 0;
}

int next_temp_exam_id() {
  bool used[60] = {};
  int highest = 0;
  for (int i = 0; i < g_list.count; ++i) {
    const int n = leading_number(g_list.rows[i].file_name);
    if (n >= 1 && n <= 59) used[n] = true;
    highest = std::max(highest, n);
  }
  auto has_files = [](int n) {
    const std::string exam = std::to_string(n);
    return !first_page_of(exam).empty() || exists_in_data_dir(exam + ".PDF");
  };
  int exam = 0;
  for (int n = 1; n <= 59 && !exam; ++n)
    if (!used[n] && !has_files(n)) exam = n;
  for (int n = std::max(highest + 1, 60); n <= 999 && !exam; ++n)
    if (!has_files(n)) exam = n;
  if (!exam) exam = std::clamp(highest + 1, 1, 999);
  append_list_row(exam);
  return exam;
}

void scan_temp_studies() {
  // Each pass that deletes a study starts again; one that cannot delete goes
  // on, so the passes end once no deletable orphan is left.
  while (!scan_once()) {
  }
  std::stable_sort(g_list.rows, g_list.rows + g_list.count,
                   [](const StudyListRow& a, const StudyListRow& b) { return compare_rows_by_date(a, b) < 0; });
  g_list.selected = static_cast<std::int16_t>(std::clamp<int>(g_list.selected, 0, std::max(0, g_list.count - 1)));
}

bool delete_temp_study(const char* file_name) {
  const std::string name = field_text(file_name, 12);
  const std::string exam = exam_part(name);
  const bool gone = unlink_in_data_dir(name);
  unlink_in_data_dir(exam + ".imp");
  unlink_in_data_dir(exam + ".exp");
  delete_pages_of(exam);
  return gone && !exists_in_data_dir(name);
}

int check_step_record(const std::uint8_t* record300) {
  return template_record_checksum(record300) == platform::get_u16le(record300 + 298) ? 0 : 1;
}

int load_study_plan(const std::string& template_path, int fill) {
  g_plan_count = 0;
  const std::string path = platform::map_path(template_path);
  const auto size = platform::file_size(path);
  std::uint8_t rec[kTemplateRecordSize];
  if (!size || !read_template_record(template_path, 0, kTemplateRecordSize, rec)) return -1;
  std::memcpy(g_header_copy, rec, kHeaderCopyBytes);
  copy_field(g_caption, sizeof g_caption, field_text(rec + 2, 30));
  const int count = std::clamp<int>(platform::get_s16le(rec + 32), 0, kMaxTemplateSteps);
  if (*size < static_cast<std::uint64_t>(count + 1) * kTemplateRecordSize) return -1;
  if (check_step_record(rec) != 0) return -2;
  reset_patient_fields();
  for (int i = 1; i <= count; ++i) {
    if (!read_template_record(template_path, i, kTemplateRecordSize, rec)) return -1;
    if (check_step_record(rec) != 0) return -2;
    int type = rec[0];
    if (type == 255) {
      apply_field_record(rec);
      settle_note_headings();
      return g_plan_count;
    }
    const int skip = skip_byte_offset(type);
    if (skip >= 0 && rec[skip]) type = 3;
    if (!plan_type(type)) continue;
    StudyPlanRow& row = g_plan[g_plan_count];
    row.step = static_cast<std::int16_t>(i);
    row.type = static_cast<std::uint8_t>(type);
    g_note_heading[g_plan_count] = type == 10 && rec[offsetof(NotesStep, answer_width)] == 0;
    std::memset(row.text, ' ', 35);
    row.text[kStatusChars] = static_cast<char>(kColumnBar);
    const std::string caption = field_text(rec + 2, 29);
    std::memcpy(row.text + kStatusChars + 1, caption.data(), caption.size());
    row.text[35] = 0;
    ++g_plan_count;
    if (fill && read_step_page(g_plan_count - 1, g_exam_id)) fill_status(g_plan_count - 1);
  }
  settle_note_headings();
  return g_plan_count;
}

int read_step_page(int row, const char* exam_id) {
  if (!rows_valid(row)) return 0;
  if (!exam_id || !exam_id[0]) return 0;
  const std::string path = platform::map_path(page_file_name(g_plan[row].step, std::atoi(exam_id)));
  const auto bytes = platform::read_file(path, STUDY_PAGE_BYTES);
  if (!bytes || bytes->size() != STUDY_PAGE_BYTES) return 0;
  decode_study_page(bytes->data(), g_page);
  return 1;
}

bool step_page_on_disk(int row, const char* exam_id) {
  if (!rows_valid(row) || !exam_id || !exam_id[0]) return false;
  const auto size = platform::file_size(platform::map_path(page_file_name(g_plan[row].step, std::atoi(exam_id))));
  return size && *size >= STUDY_PAGE_BYTES;
}

void format_waveform_step_status(int row) {
  if (row < 0 || row >= kMaxPlanRows) return;
  if (g_page.flags & kPageDeletedSide) return set_status(row, "D");
  int distance = g_page.report_start < 0 ? g_page.newest + 1 : g_page.newest - g_page.report_start;
  distance = std::clamp(distance, 0, 60147);
  const int mm = std::min(distance * 75 / 296, 999);
  char text[8];
  std::snprintf(text, sizeof text, "%dmm", mm);
  set_status(row, text);
}

void format_pressure_step_status(int row) {
  if (row < 0 || row >= kMaxPlanRows) return;
  if (g_page.flags & kPageDeletedSide) return set_status(row, "D");
  if (g_page.short_text[0]) return set_status(row, field_text(g_page.short_text, kStatusChars).c_str());
  // The ring index comes from the file: one outside the ring shows nothing.
  if (g_page.newest < 0 || g_page.newest >= PAGE_SAMPLES) return;
  const int value = g_page.channel_2[g_page.newest];
  char text[8];
  if (value >= 1000)
    std::snprintf(text, sizeof text, "***");
  else
    std::snprintf(text, sizeof text, "%d", value);
  set_status(row, text);
}

// The answer's first characters, from its first non-blank one: an answer
// that starts with a blank is an answer all the same, and a row whose status
// starts with a blank is marked as not done.
void format_text_step_status(int row) {
  if (row < 0 || row >= kMaxPlanRows) return;
  if (g_page.flags & kPageDeletedSide) return set_status(row, "D");
  const std::string answer = field_text(g_page.text, sizeof g_page.text);
  const std::size_t first = answer.find_first_not_of(' ');
  if (first == std::string::npos) return;
  set_status(row, answer.substr(first, kStatusChars).c_str());
}

void refill_step_status(int row) {
  if (!rows_valid(row)) return;
  std::memset(g_plan[row].text, ' ', kStatusChars);
  if (read_step_page(row, g_exam_id)) fill_status(row);
  settle_note_headings();
}

void settle_note_headings() {
  for (int h = 0; h < g_plan_count; ++h) {
    // A heading's own page (a template changed under a study) speaks for it.
    if (!g_note_heading[h] || (g_plan[h].text[0] != ' ' && g_plan[h].text[0] != '-')) continue;
    // The heading's notes: the run of notes rows of consecutive steps.
    auto same_run = [](int a, int b) {
      return g_plan[a].type == g_plan[b].type && g_plan[b].step - g_plan[a].step == b - a;
    };
    int first = h, last = h;
    while (first > 0 && same_run(first - 1, h)) --first;
    while (last + 1 < g_plan_count && same_run(h, last + 1)) ++last;
    bool answered = false;
    for (int i = first; i <= last; ++i)
      answered |= !g_note_heading[i] && g_plan[i].text[0] != ' ' && g_plan[i].text[0] != 'D';
    std::memset(g_plan[h].text, ' ', kStatusChars);
    if (answered) g_plan[h].text[0] = '-';
  }
}

int read_temp_study_header(const char* file_name, HeaderFields& out) {
  out = HeaderFields{};
  const auto bytes = platform::read_file(platform::map_path(data_dir() + (file_name ? file_name : "")), 114);
  if (!bytes) return -1;
  std::uint8_t head[114] = {};
  std::memcpy(head, bytes->data(), bytes->size());
  std::memcpy(out.name, head + 32, sizeof out.name);
  std::memcpy(out.id, head + 62, sizeof out.id);
  std::memcpy(out.date, head + 92, sizeof out.date);
  out.name[sizeof out.name - 1] = 0;
  out.id[sizeof out.id - 1] = 0;
  out.date[sizeof out.date - 1] = 0;
  return 0;
}

int read_exam_template_number(const char* file_name) {
  const std::string page = first_page_of(exam_part(field_text(file_name, 12)));
  if (page.empty()) return 0;
  const auto bytes = platform::read_file(platform::map_path(data_dir() + page), 13);
  if (!bytes || bytes->size() != 13) return 0;
  char head[14] = {};
  std::memcpy(head, bytes->data(), 13);
  return std::atoi(head);
}

void make_date_sort_key(const char* date, char* key13) {
  // Positions past the end of a short text read as blanks.
  char d[18];
  const std::size_t n = date ? ::strnlen(date, sizeof d) : 0;
  std::memset(d, ' ', sizeof d);
  if (n) std::memcpy(d, date, n);
  const char k[12] = {d[6], d[7], d[8], d[9], d[0], d[1], d[3], d[4], d[11], d[12], d[14], d[15]};
  std::memcpy(key13, k, 12);
  key13[12] = 0;
  if (key13[8] == '1' && key13[9] == '2') key13[8] = ' ', key13[9] = '0';
  if (d[17] > 'A') key13[8] = static_cast<char>(key13[8] + 65);
  if (key13[4] == '0') key13[4] = ' ';
}

int compare_rows_by_date(const StudyListRow& a, const StudyListRow& b) {
  char ka[13], kb[13];
  char da[sizeof a.text - kDateColumn + 1] = {}, db[sizeof b.text - kDateColumn + 1] = {};
  std::memcpy(da, a.text + kDateColumn, sizeof a.text - kDateColumn);
  std::memcpy(db, b.text + kDateColumn, sizeof b.text - kDateColumn);
  make_date_sort_key(da, ka);
  make_date_sort_key(db, kb);
  return std::memcmp(ka, kb, 12);
}

}  // namespace vaslab
