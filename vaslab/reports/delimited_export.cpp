#include "vaslab/reports/delimited_export.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cctype>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/dos_time.h"
#include "platform/failure_cause.h"
#include "platform/file_io.h"
#include "platform/find.h"
#include "platform/paths.h"
#include "vaslab/core/settings/settings.h"
#include "vaslab/reports/export_args.h"
#include "vaslab/reports/formula.h"
#include "vaslab/reports/module_entries.h"
#include "vaslab/reports/page_description.h"
#include "vaslab/reports/report_generator.h"
#include "vaslab/reports/report_sections.h"
#include "vaslab/reports/template_format.h"
#include "vaslab/studies/study_template.h"

namespace vaslab {
namespace {

constexpr char kWorkFile[] = "C:\\TEMP\\DELIMDB";
constexpr char kWorkRecord[] = "C:\\TEMP\\DELIMDBT";
constexpr char kWorkCopy[] = "C:\\TEMP\\DELIMDBC";
// The record search reads this many records; a patient beyond them is
// refused rather than merged into someone else's record.
constexpr int kMaxPatients = 100;
// A row's text: its last byte stays the NUL that ends its last string.
constexpr std::size_t kRowText = kDelimitedRowBytes - 1;
// A step's page file name is appended only while the row has room for it.
constexpr std::size_t kNameRoom = 70;
constexpr int kPageTextRow = 200;  // rows 200..208: the header's texts

enum Result : int { kOk = 0, kBadArguments = 1, kNoPage = 9, kNoData = 10, kFileError = 11 };

using StepFields = ExportStepFields;
constexpr StepFields kStepFields[] = {
    {kStepDualPvr, 211, 210, 51},       {kStepSinglePressure, 61, 60, -1}, {kStepText, -1, 289, -1},
    {kStepPicture, -1, 145, -1},        {kStepDualWaveform, 195, 194, 37}, {kStepDoppler, 199, 198, 39},
    {kStepFormulas, -1, 112, -1},       {kStepSinglePvr, 212, 211, 51},    {kStepSingleWaveform, 196, 195, 37},
    {kStepNotes, 203, 204, -1},         {kStepDualPressure, 56, 55, -1},   {kStepVrt, 200, 199, 37},
    {kStepThermal, 254, 253, -1},       {kStepSymptoms, -1, -1, -1},       {kStepLines, -1, -1, -1},
};

std::string_view trim_leading_blanks(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  return s;
}

// --- Rows -------------------------------------------------------------------

// The offset just past the first `n` strings of a row, never past the row.
std::size_t after_strings(const char* row, int n) {
  std::size_t at = 0;
  for (int i = 0; i < n && at < kDelimitedRowBytes; ++i) {
    while (at < kDelimitedRowBytes && row[at]) ++at;
    if (at < kDelimitedRowBytes) ++at;
  }
  return at;
}

// The end of the row's used part: its first empty string.
std::size_t used_part(const char* row) {
  std::size_t at = 0;
  while (at < kDelimitedRowBytes && row[at]) {
    while (at < kDelimitedRowBytes && row[at]) ++at;
    ++at;
  }
  return std::min(at, kDelimitedRowBytes);
}

// String n (from 1) of a row.
std::string_view row_string(const char* row, int n) {
  const std::size_t at = after_strings(row, n - 1);
  if (at >= kDelimitedRowBytes) return {};
  return field_text(row + at, kDelimitedRowBytes - at);
}

// Replaces a row by strings, each cut so that the row keeps its last NUL.
void set_row(char* row, const std::vector<std::string>& strings) {
  std::memset(row, 0, kDelimitedRowBytes);
  std::size_t at = 0;
  for (const std::string& s : strings) {
    if (at >= kRowText) break;
    const std::size_t n = std::min(s.size(), kRowText - at);
    std::memcpy(row + at, s.data(), n);
    at += n + 1;
  }
}

// Fills a header row from a header text: only while it is empty, or
// always when `rewrite`.
template <typename Record>
void fill_header_row(Record& rec, int row, std::string_view text, bool rewrite = false) {
  if (rec.rows[row][0] != 0 && !rewrite) return;
  set_row(rec.rows[row], {std::string(text.substr(0, kRowText))});
}

// A header line from the second character after its first colon; empty
// without a colon.
std::string_view after_colon(std::string_view line) {
  const auto colon = line.find(':');
  if (colon == std::string_view::npos || colon + 2 > line.size()) return {};
  return line.substr(colon + 2);
}

// The 24-hour hour of "hh:mm AM": 12 counts as 0, PM adds 12.  Empty when
// the hour is not two digits.
std::string hour_24(std::string_view time) {
  if (time.size() < 2 || !std::isdigit(static_cast<unsigned char>(time[0])) ||
      !std::isdigit(static_cast<unsigned char>(time[1])))
    return {};
  int h = (time[0] - '0') * 10 + (time[1] - '0');
  if (h == 12) h = 0;
  if (time.size() > 6 && time[6] == 'P') h += 12;
  const char out[2] = {static_cast<char>('0' + h / 10 % 10), static_cast<char>('0' + h % 10)};
  return std::string(out, 2);
}

// The DICOM record keeps the patient name of its first study and takes the
// other header rows from the current one.
template <typename Record>
void fill_header_rows(Record& rec, const PageDescriptionHeader& h, bool rewrite = false) {
  fill_header_row(rec, kPageTextRow + 0, field_text(h.patient_name, sizeof h.patient_name));
  fill_header_row(rec, kPageTextRow + 1, field_text(h.patient_id, sizeof h.patient_id), rewrite);
  const std::string_view date = field_text(h.exam_date, sizeof h.exam_date);
  std::string day(date.substr(0, 10));
  if (!day.empty() && day[0] == ' ') day[0] = '0';
  fill_header_row(rec, kPageTextRow + 2, day, rewrite);
  if (rewrite) std::memset(rec.rows[kPageTextRow + 3], 0, kDelimitedRowBytes);
  if (rec.rows[kPageTextRow + 3][0] == 0 && date.size() > 11) {
    std::string time(date.substr(11));
    if (time[0] == ' ') time[0] = '0';
    char* row = rec.rows[kPageTextRow + 3];
    set_row(row, {time});
    const std::string hour = hour_24(time);
    if (hour.size() == 2) std::memcpy(row + 20, hour.data(), 2);
  }
  fill_header_row(rec, kPageTextRow + 4, after_colon(field_text(h.left_line_4, sizeof h.left_line_4)), rewrite);
  fill_header_row(rec, kPageTextRow + 5, field_text(h.title, sizeof h.title), rewrite);
  fill_header_row(rec, kPageTextRow + 6, after_colon(field_text(h.right_line_2, sizeof h.right_line_2)), rewrite);
  fill_header_row(rec, kPageTextRow + 7, after_colon(field_text(h.right_line_3, sizeof h.right_line_3)), rewrite);
  fill_header_row(rec, kPageTextRow + 8, after_colon(field_text(h.right_line_4, sizeof h.right_line_4)), rewrite);
}

// A row byte names row (byte - 1); the steps write rows 0..199 and
// 209..238; every non-zero byte appends the step's page file name, and 240
// to 249 also choose template (byte - 240).
bool step_writes_row(int row_byte) { return (row_byte >= 1 && row_byte <= 200) || (row_byte >= 210 && row_byte <= 239); }

void append_step_name(DelimitedRecord& rec, int row_byte, int step, int exam, int strings_written) {
  if (row_byte <= 0) return;
  if (row_byte >= 240 && row_byte <= 249) rec.selection[row_byte - 240] = static_cast<char>('0' + row_byte - 240);
  char* row = rec.rows[row_byte - 1];
  // After the strings this step wrote (a trace row's C and V may be empty),
  // else after the row's used part.
  const std::size_t at = strings_written > 0 ? after_strings(row, strings_written) : used_part(row);
  if (at >= kNameRoom) return;
  const std::string name = std::to_string(step) + "." + std::to_string(exam);
  const std::size_t n = std::min(name.size(), kRowText - at);
  std::memcpy(row + at, name.data(), n);
  row[at + n] = 0;
}

// --- Study call ---------------------------------------------------------------

// Packed times compare as unsigned numbers.
void raise_stamp(std::uint32_t& stamp, const std::string& linux_path) {
  struct stat st {};
  if (::stat(linux_path.c_str(), &st) != 0) return;
  stamp = std::max(stamp, platform::dos_time(st.st_mtime));
}

// Right-aligned in `width` columns, as the DICOM feed's readers expect.
std::string right_aligned(std::string_view text, std::size_t width) {
  return std::string(width > text.size() ? width - text.size() : 0, ' ') + std::string(text);
}

// The strings of a step's row; false when the step refuses the export.
// `dicom`: gain and sweep texts padded, a text step written whatever its
// condition gives.
bool format_step(int type, const StepFields& f, const std::uint8_t* rec, const ReportPage* page,
                 std::int32_t start_time, std::vector<std::string>& strings, bool dicom) {
  switch (type) {
    case kStepDualPvr:
    case kStepSinglePvr:
    case kStepDualWaveform:
    case kStepSingleWaveform:
    case kStepVrt:
    case kStepDoppler: {
      if (!page) return true;
      const StudyPage& p = page->page;
      set_step_report_variables(type, rec, *page, start_time);
      const bool pvr = type == kStepDualPvr || type == kStepSinglePvr;
      const std::string gain = trace_gain_text(rec[f.group], p.gain);
      const std::string_view sweep = trim_leading_blanks(trace_sweep_text(p.filter_code));
      strings.push_back(dicom && !gain.empty() ? right_aligned(gain, rec[f.group] == 2 ? 4 : 3) : gain);
      strings.push_back(dicom && !sweep.empty() ? right_aligned(sweep, 2) : std::string(sweep));
      strings.push_back(trace_amplitude_text(type, rec, *page));
      if (pvr) {
        const int c = p.newest >= 0 && p.newest < PAGE_SAMPLES ? p.channel_2[p.newest] : 0;
        const int x = std::min<int>(p.status, 2692);
        const int v = x * 1000 / 2692 + (x * 1000 % 2692 > 1345 ? 1 : 0);
        strings.push_back(std::to_string(std::min(c, 999)));
        strings.push_back(std::to_string(std::min(v, 999)));
      } else {
        strings.push_back("");
        strings.push_back("");
      }
      if (pvr)
        strings.push_back("PVR");
      else if (type == kStepDoppler)
        strings.push_back(p.probe == 16 ? "DP5" : "DP8");
      else
        strings.push_back("PPG");
      return true;
    }
    case kStepSinglePressure:
    case kStepDualPressure: {
      if (!page) return true;
      const StudyPage& p = page->page;
      set_step_report_variables(type, rec, *page, start_time);
      std::string text = page_pressure_text(p);
      if (type == kStepDualPressure) {
        if (rec[37] & 0x20) text = std::string(field_text(p.text, sizeof p.text));
        text = std::string(trim_leading_blanks(text).substr(0, 4));
      }
      strings.push_back(std::string(trim_leading_blanks(text)));
      return true;
    }
    case kStepText:
      if (auto text = text_step_text(rec, dicom)) strings.push_back(*text);
      return true;
    case kStepFormulas:
      formula_field(rec + 32, 81);
      formula_field(rec + 113, 80);
      formula_field(rec + 193, 105);
      return true;
    case kStepNotes:
      if ((rec[36] & 3) == 2) return false;
      if (page) strings.push_back(std::string(field_text(page->page.text, kRowText)));
      return true;
    case kStepThermal:
      evaluate_thermal_formulas(rec, page ? &page->page : nullptr, start_time);
      if (page) {
        const std::string text =
            format_template_text(field_text(rec + 198, 57), field_text(page->page.text, sizeof page->page.text));
        strings.push_back(std::string(trim_leading_blanks(text)));
      }
      return true;
    case kStepLines: evaluate_line_formulas(rec); return true;
    default: return true;
  }
}

// Reads the work file's records; at most kMaxPatients.
template <typename Record>
std::vector<Record> read_records() {
  std::vector<Record> out;
  auto bytes = platform::read_file(platform::map_path(kWorkFile), kMaxPatients * sizeof(Record));
  if (!bytes) return out;
  out.resize(bytes->size() / sizeof(Record));
  if (!out.empty()) std::memcpy(out.data(), bytes->data(), out.size() * sizeof(Record));
  return out;
}

// The record alone, then the whole file beside the old one, then in its
// place: the work file is the old one or the new one, never a mixture.
// `before_swap` runs once both are written; its failure leaves the old file.
template <typename Record>
int store_records(const std::vector<Record>& records, std::size_t changed,
                  const std::function<int()>& before_swap) {
  int r = platform::write_file_atomic(platform::map_path_create_dirs(kWorkRecord), &records[changed], sizeof(Record));
  if (r == 0) r = platform::write_file_atomic(platform::map_path(kWorkCopy), records.data(), records.size() * sizeof(Record));
  if (r != 0) {
    platform::note_failure_cause("C:\\TEMP\\", r);
    return kNoData;
  }
  if (before_swap)
    if (const int r = before_swap()) return r;
  if (r = platform::file_delete(kWorkRecord); r == 0) r = platform::file_rename(kWorkCopy, kWorkFile);
  if (r != 0) {
    platform::note_failure_cause("C:\\TEMP\\", r);
    return kFileError;
  }
  return kOk;
}

// `stamp` (DICOM only) is raised to the modification time of every page of
// this study a step loads, its own or another step's; pages of the
// patient's other studies do not count.  `before_swap` as for store_records.
template <typename Record>
int gather_study(const ExportArgs& args, std::uint32_t* stamp, const std::function<int()>& before_swap) {
  constexpr bool dicom = std::is_same_v<Record, DicomRecord>;
  PageDescriptionHeader header{};
  if (const int r = read_export_header(args, header)) return r;
  reset_formula_variables();
  ReportStudy study;
  ReportTemplate tpl;
  if (const int r = open_export_study(args, header, study, tpl)) return r;

  std::vector<Record> records = read_records<Record>();
  // The key keeps its NUL, so a name filling all 30 header bytes is stored
  // and compared as its first 29: otherwise each of the patient's studies
  // would start a record of its own.
  const std::string_view name =
      field_text(header.patient_name, sizeof header.patient_name).substr(0, sizeof(Record::key) - 1);
  std::size_t at = 0;
  while (at < records.size() && field_text(records[at].key, sizeof records[at].key) != name) ++at;
  if (at == records.size()) {
    if (records.size() >= kMaxPatients) return kFileError;
    records.push_back(Record{});
    std::memcpy(records[at].key, name.data(), name.size());
  }
  Record& rec = records[at];
  fill_header_rows(rec, header, dicom);

  auto page = std::make_unique<ReportPage>();
  for (int step = 1; step <= tpl.steps; ++step) {
    const std::uint8_t* r = tpl.record(step);
    if (!r) return kNoData;
    const int type = r[0];
    if (type == kStepEnd) break;
    const StepFields* f = export_step_fields(type);
    if (!f) return dicom ? kFileError : kNoData;
    const int row_byte = f->row >= 0 ? r[f->row] : 0;
    bool loaded = false;
    std::string own_page;
    if (f->link >= 0) loaded = load_export_step(study, step, r[f->link], tpl.steps, r, *page, &own_page);
    if (dicom && loaded && stamp && !own_page.empty()) raise_stamp(*stamp, own_page);
    std::vector<std::string> strings;
    if constexpr (dicom) {
      if (row_byte >= 240 && row_byte <= 249) rec.selection[row_byte - 240] = static_cast<char>('0' + row_byte - 240);
      if (!format_step(type, *f, r, loaded ? page.get() : nullptr, study.start_time, strings, true)) return kFileError;
      if (!strings.empty() && row_byte >= 1 && row_byte <= 200) set_row(rec.rows[row_byte - 1], strings);
      continue;
    }
    if (!format_step(type, *f, r, loaded ? page.get() : nullptr, study.start_time, strings, false)) return kFileError;
    int written = 0;
    if (!strings.empty() && step_writes_row(row_byte)) {
      set_row(rec.rows[row_byte - 1], strings);
      written = static_cast<int>(strings.size());
    }
    if constexpr (!dicom) append_step_name(rec, row_byte, step, args.id, written);
  }
  return store_records(records, at, before_swap);
}

// --- End call -----------------------------------------------------------------

// The output files of one end call, built aside and put in place together
// once the call has written them whole: an end call that fails leaves every
// output file as it was, so that its retry neither repeats nor merges
// records.  With option 0x01 a file's old text is replaced (no stale tail of
// an older, longer output stays behind); without it the new text follows
// the old.
class Output {
 public:
  Output(std::string folder, int options) : folder_(std::move(folder)), options_(options) {}
  ~Output() { close(false); }

  // Switches to another file of the output folder.
  bool open(const std::string& name) {
    close(true);
    if (name.empty() || name.find_first_not_of('.') == std::string::npos) return false;
    const std::string path = platform::map_path(folder_ + name);
    auto it = std::find_if(files_.begin(), files_.end(), [&](const File& f) { return f.path == path; });
    if (it == files_.end()) {
      File f;
      f.path = path;
      f.where = folder_ + name;
      // Only a regular file of an existing, writable folder: a link or a
      // FIFO put there neither redirects nor blocks the export.
      struct stat st {};
      if (::lstat(path.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) return false;
        if (const int e = platform::check_writable(path)) return refused(f.where, e);
        f.existed = true;
        if (!(options_ & 0x01)) {
          auto old = platform::read_file(path);
          if (!old) return false;
          f.text.assign(old->begin(), old->end());
        }
      } else {
        const std::string parent = path.substr(0, path.rfind('/') + 1);
        if (errno != ENOENT) return false;
        if (::stat(parent.c_str(), &st) != 0) return refused(folder_, -errno);
        if (!S_ISDIR(st.st_mode)) return refused(folder_, -ENOTDIR);
        if (const int e = platform::check_writable(parent)) return refused(folder_, e);
      }
      files_.push_back(std::move(f));
      it = files_.end() - 1;
    }
    file_ = ::open_memstream(&buffer_, &buffer_size_);
    if (!file_) {
      failed_ = true;
      return false;
    }
    current_ = static_cast<std::size_t>(it - files_.begin());
    it->dropped = false;
    first_ = !any_;
    any_ = true;
    return true;
  }
  void close(bool switching) {
    if (!file_) return;
    if (std::fclose(file_) != 0) failed_ = true;
    file_ = nullptr;
    File& f = files_[current_];
    f.text.append(buffer_, buffer_size_);
    std::free(buffer_);
    buffer_ = nullptr;
    buffer_size_ = 0;
    // The batch's first file, left empty by a switch to another, goes.
    if (switching && first_ && f.text.empty()) f.dropped = true;
    first_ = false;
  }
  void put(char c) {
    if (file_) std::fputc(c, file_);
  }
  void write(std::string_view s) {
    if (file_ && !s.empty()) std::fwrite(s.data(), 1, s.size(), file_);
  }
  std::FILE* file() { return file_; }

  // Puts every file in place: each is written whole under a temporary name
  // first, and only when all are written do they take their names.  False
  // with every output file as it was when one could not be written.
  bool commit() {
    close(false);
    if (failed_) return false;
    std::vector<std::string> temps;
    auto drop_temps = [&] {
      for (const auto& t : temps) ::unlink(t.c_str());
    };
    for (const File& f : files_) {
      if (f.dropped) continue;
      temps.push_back(f.path + ".out.tmp~");
      if (const int e = platform::write_file_atomic(temps.back(), f.text.data(), f.text.size())) {
        drop_temps();
        return refused(f.where, e);
      }
    }
    std::size_t next = 0;
    for (const File& f : files_) {
      if (f.dropped) {
        if (f.existed) ::unlink(f.path.c_str());
        continue;
      }
      if (const int e = platform::rename_file(temps[next], f.path)) {
        temps.erase(temps.begin(), temps.begin() + static_cast<std::ptrdiff_t>(next));
        drop_temps();
        return refused(f.where, e);
      }
      ++next;
    }
    return true;
  }

 private:
  // A file or folder that cannot be written: noted as the cause of the
  // export's failure.
  static bool refused(const std::string& where, int error) {
    platform::note_failure_cause(where, error);
    return false;
  }

  struct File {
    std::string path;
    std::string where;  // the same as the operator names it
    bool existed = false;
    bool dropped = false;
    std::string text;  // the whole file as it is to be
  };
  std::string folder_;
  int options_;
  std::vector<File> files_;
  std::size_t current_ = 0;
  std::FILE* file_ = nullptr;
  char* buffer_ = nullptr;
  std::size_t buffer_size_ = 0;
  bool first_ = false, any_ = false, failed_ = false;
};

// The template interpreter.  "~~" writes "~"; "~F name^" switches the
// output file; "~" with a letter of GSACVP (or none) and a field number
// writes that string of the field's row; D and T take a date or time
// pattern after the number; W a waveform text up to "^".
//
// The DICOM text knows no F or W code, reads field numbers of any length
// (saturating) up to field 210 and drops one left unfinished at the end.
class TemplateRun {
 public:
  using Row = char[kDelimitedRowBytes];
  TemplateRun(const DelimitedRecord& rec, Output& out) : rows_(rec.rows), out_(out) {}
  TemplateRun(const DicomRecord& rec, Output& out) : rows_(rec.rows), out_(out), dicom_(true) {}

  void feed(char c) {
    switch (state_) {
      case State::kLiteral: literal(c); return;
      case State::kCode: code(c); return;
      case State::kNumber:
        if (std::isdigit(static_cast<unsigned char>(c)) && (dicom_ || digits_ < 3)) {
          number_ = std::min(number_ * 10 + (c - '0'), 256);
          ++digits_;
          return;
        }
        end_number(c);
        return;
      case State::kDate: date(c); return;
      case State::kTime: time(c); return;
      case State::kWave: wave(c); return;
      case State::kFileName: file_name(c); return;
    }
  }

  // A field number still being read at the end is written; a D, T or W
  // code there writes nothing.
  void finish() {
    if (!dicom_ && state_ == State::kNumber && letter_ != 'D' && letter_ != 'T' && letter_ != 'W' && in_range())
      out_.write(row_string(row(), string_index()));
    state_ = State::kLiteral;
  }

 private:
  enum class State { kLiteral, kCode, kNumber, kDate, kTime, kWave, kFileName };

  bool in_range() const { return number_ >= 1 && number_ <= (dicom_ ? kDicomRows : 239); }
  int string_index() const {
    const char* letters = "GSACVP";
    const char* p = letter_ ? std::strchr(letters, letter_) : nullptr;
    return p ? static_cast<int>(p - letters) + 1 : 1;
  }
  const char* row() const { return rows_[number_ - 1]; }
  void put_row_char(std::size_t i) {
    if (i < kDelimitedRowBytes && row()[i]) out_.put(row()[i]);
  }

  void literal(char c) {
    if (c == '~')
      state_ = State::kCode;
    else
      out_.put(c);
  }

  void code(char c) {
    number_ = digits_ = 0;
    letter_ = 0;
    if (c == '~') {
      out_.put('~');
      state_ = State::kLiteral;
    } else if (c == 'F' && !dicom_) {
      name_.clear();
      dot_ = false;
      state_ = State::kFileName;
    } else if (c != 0 && std::strchr(dicom_ ? "GSACVPDT" : "GSACVPDTW", c)) {
      letter_ = c;
      state_ = State::kNumber;
    } else if (std::isdigit(static_cast<unsigned char>(c))) {
      number_ = c - '0';
      digits_ = 1;
      state_ = State::kNumber;
    } else {
      out_.put(c);
      state_ = State::kLiteral;
    }
  }

  void end_number(char c) {
    state_ = State::kLiteral;
    if (!in_range()) return literal(c);
    switch (letter_) {
      case 'D':
        state_ = State::kDate;
        month_ = day_ = year_ = 0;
        return date(c);
      case 'T':
        state_ = State::kTime;
        hour_ = minute_ = ampm_ = 0;
        return time(c);
      case 'W':
        state_ = State::kWave;
        wave_.clear();
        protected_ = false;
        return wave(c);
      default:
        out_.write(row_string(row(), string_index()));
        return literal(c);
    }
  }

  void date(char c) {
    if (c == '~') {
      state_ = State::kCode;
      return;
    }
    if (c == 'M' && month_ < 2)
      put_row_char(0 + month_++);
    else if (c == 'D' && day_ < 2)
      put_row_char(3 + day_++);
    else if (c == 'Y' && year_ < 4)
      put_row_char(6 + year_++);
    else
      out_.put(c);
    if (month_ == 2 && day_ == 2 && year_ == 4) state_ = State::kLiteral;
  }

  void time(char c) {
    if (c == '~') {
      state_ = State::kCode;
      return;
    }
    if (c == 'H' && hour_ < 2) {
      put_row_char(0 + hour_++);
    } else if (c == 'G' && hour_ < 2) {
      put_row_char(20 + hour_++);
    } else if (c == 'M' && minute_ < 2) {
      put_row_char(3 + minute_++);
    } else if (c == 'P' && ampm_ < 1) {
      put_row_char(6);
      put_row_char(7);
      ++ampm_;
    } else {
      out_.put(c);
    }
    if (hour_ == 2 && minute_ == 2 && ampm_ == 1) state_ = State::kLiteral;
  }

  void wave(char c) {
    if (c == '^' && !protected_) {
      state_ = State::kLiteral;
      write_page_samples();
      return;
    }
    if (c == '\\') protected_ = !protected_;
    if (wave_.size() < 80) wave_ += c;
  }

  // The page named by the row's seventh string, from the data directory.
  void write_page_samples() {
    const std::string_view name = row_string(row(), 7);
    if (name.empty() || name.find_first_not_of("0123456789.") != std::string_view::npos) return;
    auto bytes = platform::read_file(platform::map_path(data_directory_path() + std::string(name)), STUDY_PAGE_BYTES);
    if (!bytes || bytes->size() < STUDY_PAGE_BYTES) return;
    auto page = std::make_unique<StudyPage>();
    decode_study_page(bytes->data(), *page);
    write_waveform_samples(out_.file(), wave_, *page);
  }

  // Names stay inside the output folder: separators and drive colons are
  // dropped, and a name of dots alone opens nothing.
  void file_name(char c) {
    if (c == '^') {
      state_ = State::kLiteral;
      out_.open(name_);
      return;
    }
    if (c == '\\' || c == '/' || c == ':' || static_cast<unsigned char>(c) < 32) return;
    if (name_.size() < 8 || (c == '.' && !dot_ && name_.size() < 12) || (dot_ && name_.size() < 12)) {
      name_ += c;
      if (c == '.') dot_ = true;
    }
  }

  const Row* rows_;
  Output& out_;
  bool dicom_ = false;
  State state_ = State::kLiteral;
  char letter_ = 0;
  int number_ = 0, digits_ = 0;
  int month_ = 0, day_ = 0, year_ = 0;
  int hour_ = 0, minute_ = 0, ampm_ = 0;
  std::string wave_;
  bool protected_ = false;
  std::string name_;
  bool dot_ = false;
};

// Runs the site's templates "<prefix>0.CFG" to "<prefix>9.CFG" that the
// record selects, in that order; a missing template is passed over.
template <typename Record>
void apply_templates(const Record& rec, const std::string& prefix, Output& out) {
  for (int k = 0; k < 10; ++k) {
    if (!rec.selection[k]) continue;
    auto tpl = platform::read_file(platform::map_path(prefix + std::to_string(k) + ".CFG"));
    if (!tpl) continue;
    TemplateRun run(rec, out);
    for (std::uint8_t b : *tpl) run.feed(static_cast<char>(b));
    run.finish();
  }
}

// The leading decimal number of a name ("17.ASC" 17, "abc" 0).
long leading_number(const std::string& name) {
  long n = 0;
  for (char c : name) {
    if (!std::isdigit(static_cast<unsigned char>(c)) || n > 100000000) break;
    n = n * 10 + (c - '0');
  }
  return n;
}

long next_output_number(const std::string& folder, bool in_folder) {
  long highest = 0;
  for (const auto& f : platform::list_files(folder + (in_folder ? "*" : "*.ASC"))) {
    if (((f.attributes & platform::kAttrDirectory) != 0) != in_folder) continue;
    highest = std::max(highest, leading_number(f.name));
  }
  return highest + 1;
}

int end_call(const ExportArgs& args) {
  auto db = platform::read_file(platform::map_path(kWorkFile));
  if (!db) return kNoData;
  std::string folder = export_file(args.destination, "");
  const bool numbered = args.options & 0x08, own_folder = args.options & 0x10;
  std::string name = "KORVANI.ASC";
  if (numbered) {
    const std::string n = std::to_string(next_output_number(folder, own_folder));
    name = n + ".ASC";
    if (own_folder) folder += n + "\\";
  } else if (own_folder) {
    folder += "KORVANI\\";
  }
  // A folder made for this call and left empty by its failure would take
  // the retry's number.
  const bool made_folder = own_folder && !platform::file_facts(folder);
  if (own_folder)
    if (const int r = platform::dir_create(folder); r != 0) {
      platform::note_failure_cause(export_file(args.destination, ""), r);
      return kNoData;
    }
  Output out(folder, args.options);
  if (!out.open(name)) {
    if (made_folder) (void)platform::dir_remove(folder);
    return kNoData;
  }

  const std::size_t count = db->size() / sizeof(DelimitedRecord);
  auto rec = std::make_unique<DelimitedRecord>();
  for (std::size_t i = 0; i < count; ++i) {
    std::memcpy(rec.get(), db->data() + i * sizeof(DelimitedRecord), sizeof(DelimitedRecord));
    apply_templates(*rec, "C:\\PROGRAMS\\DELIM", out);
  }
  // Text lost on its way out is not a finished batch: the gathered records
  // stay for another end call.
  if (!out.commit()) {
    if (made_folder) (void)platform::dir_remove(folder);
    return kFileError;
  }
  platform::file_delete(kWorkFile);
  return kOk;
}

// Width and precision of a W conversion: at most two digits each, so that
// no conversion can ask for more than its 127 characters.
struct ConversionFormat {
  std::string text = "%";
  int stage = 0;  // 0 flags, 1 width, 2 precision
  int digits = 0;

  void add(char c) {
    const bool digit = std::isdigit(static_cast<unsigned char>(c)) != 0;
    if (stage == 0 && std::strchr("-+ #0", c) && c != 0) {
      text += c;
    } else if (digit && stage <= 1 && (stage == 0 || digits < 2)) {
      if (stage == 0) stage = 1;
      text += c;
      ++digits;
    } else if (c == '.' && stage <= 1) {
      stage = 2;
      digits = 0;
      text += c;
    } else if (digit && stage == 2 && digits < 2) {
      text += c;
      ++digits;
    }
  }
};

}  // namespace

const ExportStepFields* export_step_fields(int type) {
  for (const StepFields& f : kStepFields)
    if (f.type == type) return &f;
  return nullptr;
}

std::string first_export_page(const std::string& data, const std::string& exam) {
  for (const auto& f : platform::list_files(data + "*." + exam))
    if (!(f.attributes & platform::kAttrDirectory)) return platform::map_path(data + f.name);
  return {};
}

int read_export_header(const ExportArgs& args, PageDescriptionHeader& header) {
  auto head = platform::read_file(platform::map_path(data_directory_path() + args.id_text + ".pdf"), kPageHeaderBytes);
  if (!head || head->size() < kPageHeaderBytes) return kNoPage;
  decode_page_header(head->data(), header);
  return kOk;
}

int open_export_study(const ExportArgs& args, const PageDescriptionHeader& header, ReportStudy& study,
                      ReportTemplate& tpl) {
  study.exam_id = args.id;
  std::memcpy(study.patient_name, header.patient_name, sizeof study.patient_name);
  study.start_time = study_start_time(args.id, study.start_known);
  const std::string first_page = first_export_page(data_directory_path(), args.id_text);
  if (first_page.empty()) return kNoData;
  auto page_bytes = platform::read_file(first_page, STUDY_PAGE_BYTES);
  if (!page_bytes || page_bytes->size() < STUDY_PAGE_BYTES) return kNoData;
  study.template_name = std::string(field_text(page_bytes->data(), sizeof StudyPage::template_name));
  return open_report_template(study.template_name, tpl) ? kOk : kNoData;
}

void write_waveform_samples(std::FILE* out, std::string_view text, const StudyPage& page) {
  if (!out) return;
  const int start = page.report_start;
  const int first = std::max(start + 1, 0);
  const int last = std::min<int>(page.newest, PAGE_SAMPLES - 1);
  for (int k = first; k <= last; ++k) {
    bool in_conversion = false;
    ConversionFormat format;
    for (char c : text) {
      if (!in_conversion) {
        if (c == '^') break;
        if (c == '\\') {
          in_conversion = true;
          format = ConversionFormat{};
        } else {
          std::fputc(c, out);
        }
        continue;
      }
      if (format.text == "%" && (c == '^' || c == '\\')) {
        std::fputc(c, out);
        in_conversion = false;
        continue;
      }
      char buf[128];
      int n = -1;
      const double sample = page.channel_1[k];
      switch (c) {
        case 'D': n = std::snprintf(buf, sizeof buf, (format.text + "f").c_str(), sample); break;
        case 'd': n = std::snprintf(buf, sizeof buf, (format.text + "f").c_str(), sample / 255.0); break;
        case 'I': n = std::snprintf(buf, sizeof buf, (format.text + "i").c_str(), k - start); break;
        case 'i': n = std::snprintf(buf, sizeof buf, (format.text + "i").c_str(), k - start - 1); break;
        default: format.add(c); continue;
      }
      if (n > 0) std::fwrite(buf, 1, std::min<std::size_t>(static_cast<std::size_t>(n), sizeof buf - 1), out);
      in_conversion = false;
    }
  }
}

int gather_dicom_study(const ExportArgs& args, std::uint32_t& stamp,
                       const std::function<int(std::uint32_t)>& write_stamp) {
  return gather_study<DicomRecord>(args, &stamp, [&] { return write_stamp(stamp); });
}

int write_dicom_text(const std::string& destination, const std::string& zvt_name, DicomStudyInfo& info) {
  const std::string stem = zvt_name.substr(0, zvt_name.rfind('.'));
  auto head = platform::read_file(platform::map_path(export_file(destination, zvt_name)), kPageHeaderBytes);
  if (!head || head->size() < kPageHeaderBytes) return kNoPage;
  PageDescriptionHeader header{};
  decode_page_header(head->data(), header);
  info.name = std::string(field_text(header.patient_name, sizeof header.patient_name));
  info.id = std::string(field_text(header.patient_id, sizeof header.patient_id));

  const std::string page = first_export_page(data_directory_path(), stem);
  if (page.empty()) return kNoData;
  auto page_bytes = platform::read_file(page, STUDY_PAGE_BYTES);
  if (!page_bytes || page_bytes->size() < STUDY_PAGE_BYTES) return kNoData;
  const std::string tpl_name(field_text(page_bytes->data(), sizeof StudyPage::template_name));
  auto tpl_head = platform::read_file(platform::map_path("C:\\STUDIES\\" + tpl_name), kTemplateRecordSize);
  if (tpl_name.empty() || !tpl_head || tpl_head->size() < kTemplateRecordSize) return kNoData;
  info.type = std::string(field_text(tpl_head->data() + 2, 30));

  auto db = platform::read_file(platform::map_path(kWorkFile));
  if (!db) return kNoData;
  Output out(export_file(destination, ""), 0);
  if (!out.open(stem + ".txt")) return kNoData;
  auto rec = std::make_unique<DicomRecord>();
  for (std::size_t i = 0; i < db->size() / sizeof(DicomRecord); ++i) {
    std::memcpy(rec.get(), db->data() + i * sizeof(DicomRecord), sizeof(DicomRecord));
    if (field_text(rec->key, sizeof rec->key) != info.name) continue;
    fill_header_rows(*rec, header, true);
    set_row(rec->rows[kDicomRows - 1], {info.type});
    rec->selection[0] = '0';
    apply_templates(*rec, "C:\\PROGRAMS\\DICOM", out);
  }
  // The converter must not be handed a text file cut short.
  return out.commit() ? kOk : kFileError;
}

bool load_export_step(const ReportStudy& study, int step, int link, int step_count, const std::uint8_t* record300,
                      ReportPage& out, std::string* own_page) {
  return load_report_step(study, step, link, step_count, record300, out, ReferenceTie::kLater, false, own_page);
}

int run_delimited_export(int argc, char* argv[]) {
  ExportArgs args;
  if (parse_export_args(argc, argv, kExportIdLimit, args) != 0) return kBadArguments;
  return args.end ? end_call(args) : gather_study<DelimitedRecord>(args, nullptr, {});
}

}  // namespace vaslab
