#include "vaslab/records/archive_db.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/debug.h"
#include "platform/file_io.h"
#include "platform/find.h"
#include "platform/le_bytes.h"
#include "platform/paths.h"
#include "vaslab/core/settings/settings.h"
#include "vaslab/core/toolkit/message_box.h"
#include "vaslab/studies/study_template.h"

#define LE_LOAD_BYTES(S, f) std::memcpy(s.f, in + offsetof(S, f), sizeof s.f)
#define LE_STORE_BYTES(S, f) std::memcpy(out + offsetof(S, f), s.f, sizeof s.f)

namespace vaslab {
namespace {

constexpr std::size_t kHeaderFieldBytes = 114;

ArchivePatterns g_patterns{};
HeaderFields g_archive_header{};
bool g_list_has_type_column = false;
bool g_archive_db_in_use = false;
void (*g_save_hook)(int) = nullptr;

void step_done(int step) {
  if (g_save_hook) g_save_hook(step);
}

std::string bounded(const char* p, std::size_t max) { return std::string(p, ::strnlen(p, max)); }

const char* archive_folder(int path) {
  const auto& hw = hardware_settings();
  return path == 1 ? hw.archive_path_1 : hw.archive_path_2;
}
std::string archive_ext(int path) {
  const auto& hw = hardware_settings();
  return path == 1 ? bounded(hw.archive_ext_1, sizeof hw.archive_ext_1)
                   : bounded(hw.archive_ext_2, sizeof hw.archive_ext_2);
}
std::string folder_text(int path) {
  return bounded(archive_folder(path), sizeof HardwareSettings::archive_path_1);
}

bool exists(const std::string& linux_path) {
  struct stat st;
  return ::lstat(linux_path.c_str(), &st) == 0;
}

// Writes one archive copy of `data` as number `number` in an archive
// folder, durable before this returns.  kSaveDone or the failure.
int write_archive_copy(int path, int number, const std::vector<std::uint8_t>& data) {
  const std::string folder = folder_text(path);
  // Only this program writes the temporary name, always spelt as here, so it
  // is not looked up in every letter case (which reads the whole folder).
  const bool is_folder = !folder.empty() && (folder.back() == '\\' || folder.back() == '/');
  const std::string temp = is_folder ? platform::map_path_create_dirs(folder) + kSaveTemporary
                                     : platform::map_path_create_dirs(folder + kSaveTemporary);
  const std::string linux_folder = temp.substr(0, temp.rfind('/'));
  ::unlink(temp.c_str());  // a leftover of a save that was killed
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return kSaveWriteFailed;
  bool ok = true;
  for (std::size_t at = 0; ok && at < data.size(); at += kPageHeaderBytes)
    ok = platform::write_all(fd, data.data() + at, std::min(kPageHeaderBytes, data.size() - at)) == 0;
  ok = ok && platform::sync_file(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  step_done(path == 1 ? 1 : 5);
  if (!ok) {
    ::unlink(temp.c_str());
    return kSaveWriteFailed;
  }
  // map_path finds a name existing in any letter case: such a name is taken.
  const std::string target = platform::map_path(folder + archive_file_name(path, number));
  if (exists(target) || !rename_no_replace(temp, target)) {
    ::unlink(temp.c_str());
    return kSaveNameTaken;
  }
  if (!fsync_folder(linux_folder)) return kSaveWriteFailed;
  if (path == 1) step_done(2);
  const std::string counter = std::to_string(number);
  if (platform::write_file_atomic(platform::map_path(folder + "0"), counter.data(), counter.size(), 0600) != 0)
    return kSaveCounterFailed;
  if (path == 1) step_done(3);
  return kSaveDone;
}

// Writes record `number`; a missing database is not an error (a reindex
// builds it), any other failure is.
int write_db_record(int number, const ArchiveDbRecord& record) {
  const int fd = ::open(platform::map_path(kArchiveDbPath).c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? kSaveDone : kSaveRecordFailed;
  std::uint8_t bytes[kDbRecordBytes];
  encode_db_record(record, bytes);
  const off_t at = static_cast<off_t>(number) * static_cast<off_t>(kDbRecordBytes);
  bool ok = ::lseek(fd, at, SEEK_SET) == at && platform::write_all(fd, bytes, sizeof bytes) == 0;
  ok = ok && platform::sync_file(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  return ok ? kSaveDone : kSaveRecordFailed;
}

// Whether the last copy of an archive folder is this study byte for byte:
// a save cut off after its copy took its number left it so.
bool last_copy_is(int path, int last, const std::vector<std::uint8_t>& data) {
  if (last <= 0) return false;
  const auto copy = platform::read_file(platform::map_path(folder_text(path) + archive_file_name(path, last)));
  return copy && *copy == data;
}

// Takes back copy `number` of Archive Path 1 and the counter this save
// wrote, so that a save whose record was refused leaves the archive as it
// found it.
void undo_archive_copy(int number, const std::optional<std::vector<std::uint8_t>>& counter_before) {
  const std::string folder = folder_text(1);
  const std::string copy = platform::map_path(folder + archive_file_name(1, number));
  if (::unlink(copy.c_str()) != 0) platform::debug_printf("archive: copy %d not taken back: %s\n", number, std::strerror(errno));
  const std::string counter = platform::map_path(folder + "0");
  if (!counter_before)
    ::unlink(counter.c_str());
  else if (platform::write_file_atomic(counter, counter_before->data(), counter_before->size(), 0600) != 0)
    platform::debug_printf("archive: counter not put back\n");
  (void)fsync_folder(copy.substr(0, copy.rfind('/')));
}

bool fields_match(const char* a, const char* b, std::size_t width) {
  return ::strncmp(a, b, width) == 0;
}

void add_row(StudyList& list, const std::string& file_name, const std::string& name,
             const std::string& second, const std::string& date) {
  StudyListRow& r = list.rows[list.count++];
  r = StudyListRow{};
  std::snprintf(r.file_name, sizeof r.file_name, "%s", file_name.c_str());
  std::snprintf(r.text, sizeof r.text, "%-29.29s\263%-29.29s\263%-20.20s", name.c_str(), second.c_str(),
                date.c_str());
}

void clear_list(StudyList& list) {
  list.count = 0;
  list.selected = 0;
  list.first_visible = 0;
}

void sort_by_date(StudyList& list) {
  std::stable_sort(list.rows, list.rows + list.count,
                   [](const StudyListRow& a, const StudyListRow& b) { return compare_rows_by_date(a, b) < 0; });
}

// The three search patterns, taken once per search rather than per record.
struct SearchPatterns {
  std::string name, id, date;
};

SearchPatterns current_patterns() {
  const auto& p = g_patterns;
  return {bounded(p.name, sizeof p.name), bounded(p.id, sizeof p.id), bounded(p.date, sizeof p.date)};
}

// A stored field as text: the fields need not hold their terminator.
template <std::size_t N>
const char* field_text(const char (&field)[N], char (&out)[N + 1]) {
  std::memcpy(out, field, N);
  out[N] = 0;
  return out;
}

bool matches_patterns(const SearchPatterns& p, const char (&name)[30], const char (&id)[30], const char (&date)[22]) {
  char n[31], i[31], d[23];
  return match_wildcard(field_text(name, n), p.name.c_str()) && match_wildcard(field_text(id, i), p.id.c_str()) &&
         match_wildcard(field_text(date, d), p.date.c_str());
}

std::uint16_t db_record_sum(const std::uint8_t* bytes) {
  std::uint16_t s = 0;
  for (std::size_t i = 0; i < offsetof(ArchiveDbRecord, checksum); ++i) s = static_cast<std::uint16_t>(s + bytes[i]);
  return s;
}

void report_database(const char* text) {
  std::snprintf(g_message_text, sizeof g_message_text, "%s", text);
  show_message_box(nullptr, text, nullptr, 0);
  g_archive_db_in_use = false;
}

}  // namespace

bool archive_reindex_pending() { return exists(platform::map_path(kReindexMarkerPath)); }

std::string archive_folder_text(int path) { return folder_text(path); }
std::string archive_extension(int path) { return archive_ext(path); }

long leading_number(const char* p, std::size_t max) {
  long n = 0;
  for (std::size_t i = 0; i < max && p[i] >= '0' && p[i] <= '9'; ++i) {
    n = n * 10 + (p[i] - '0');
    if (n > kMaxArchiveNumber) return -1;
  }
  return n;
}

bool fsync_folder(const std::string& linux_folder) {
  const int fd = ::open(linux_folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  ::close(fd);
  return ok;
}

bool rename_no_replace(const std::string& from, const std::string& to) {
  const int r = platform::rename_file_no_replace(from, to);
  if (r != 0) errno = -r;
  return r == 0;
}

void decode_db_record(const std::uint8_t* in, ArchiveDbRecord& s) {
  LE_LOAD_FIELD(ArchiveDbRecord, flags);
  LE_LOAD_BYTES(ArchiveDbRecord, name);
  LE_LOAD_BYTES(ArchiveDbRecord, id);
  LE_LOAD_BYTES(ArchiveDbRecord, date);
  LE_LOAD_FIELD(ArchiveDbRecord, type);
  LE_LOAD_FIELD(ArchiveDbRecord, checksum);
}

void encode_db_record(const ArchiveDbRecord& s, std::uint8_t* out) {
  LE_STORE_FIELD(ArchiveDbRecord, flags);
  LE_STORE_BYTES(ArchiveDbRecord, name);
  LE_STORE_BYTES(ArchiveDbRecord, id);
  LE_STORE_BYTES(ArchiveDbRecord, date);
  LE_STORE_FIELD(ArchiveDbRecord, type);
  LE_STORE_FIELD(ArchiveDbRecord, checksum);
}

bool check_db_record(const ArchiveDbRecord& record, std::uint16_t* sum) {
  std::uint8_t bytes[kDbRecordBytes];
  encode_db_record(record, bytes);
  const std::uint16_t s = db_record_sum(bytes);
  if (sum) *sum = s;
  return s == record.checksum;
}

std::string archive_file_name(int path, int number) {
  const std::string ext = archive_ext(path);
  return std::to_string(number) + (ext.empty() ? "" : "." + ext);
}

int last_archive_number(int path) {
  path = path == 1 ? 1 : 2;
  const std::string folder = folder_text(path);
  long value = 0;
  if (const auto text = platform::read_file(platform::map_path(folder + "0"), 64)) {
    const std::string s(text->begin(), text->end());
    value = leading_number(s.c_str(), s.size());
    if (value < 0 || (value > 0 && value < kMaxArchiveNumber && exists(platform::map_path(folder + archive_file_name(path, static_cast<int>(value) + 1)))))
      value = 0;
  }
  if (value == 0) {
    for (const auto& f : platform::list_files(folder + "*")) {
      if ((f.attributes & platform::kAttrDirectory) || platform::is_temporary_name(f.name)) continue;
      const long n = leading_number(f.name.c_str(), f.name.size());
      if (n < 0) {
        platform::debug_printf("archive: %s is beyond the archive numbers, ignored\n", f.name.c_str());
        continue;
      }
      value = std::max(value, n);
    }
  }
  return static_cast<int>(value);
}

void set_archive_save_hook(void (*hook)(int step)) { g_save_hook = hook; }

int archive_temp_study(const char* file_name) {
  const std::string name = bounded(file_name ? file_name : "", sizeof StudyListRow::file_name - 1);
  const std::string data_dir = hardware_settings().data_directory;
  const std::string source_path = platform::map_path(data_dir + name);
  const auto source = platform::read_file(source_path);
  // A read error ends the data early: a copy shorter than the study would
  // be archived in its place, and the study itself deleted.
  if (!source || source->size() < kPageHeaderBytes || platform::file_size(source_path) != source->size())
    return kSaveNoSource;
  // A save cut off after its copy took its number (killed before the
  // record, or before the temporary study went) is completed, never made a
  // second time: then the folder's last copy is this study, byte for byte.
  const int last = last_archive_number(1);
  const bool copied = last_copy_is(1, last, *source);
  const int n = copied ? last : last + 1;
  if (n > kMaxArchiveNumber) return kSaveArchiveFull;

  ArchiveDbRecord record{};
  std::memcpy(record.name, source->data() + 32, sizeof record.name);
  std::memcpy(record.id, source->data() + 62, sizeof record.id);
  std::memcpy(record.date, source->data() + 92, sizeof record.date);
  record.flags = 1;
  record.type = static_cast<std::uint8_t>(read_exam_template_number(name.c_str()));
  std::uint16_t sum = 0;
  check_db_record(record, &sum);
  record.checksum = sum;

  const auto counter_before = platform::read_file(platform::map_path(folder_text(1) + "0"), 64);
  if (!copied) {
    if (const int r = write_archive_copy(1, n, *source); r != kSaveDone) return r;
  } else {
    platform::debug_printf("archive: copy %d is this study's; its save is completed\n", n);
    const std::string counter = std::to_string(n);
    if (platform::write_file_atomic(platform::map_path(folder_text(1) + "0"), counter.data(), counter.size(), 0600) != 0)
      return kSaveCounterFailed;
  }
  if (const int r = write_db_record(n, record); r != kSaveDone) {
    // Refused (the database read-only, say): the copy goes again, so that
    // the failed save leaves the archive as it was.
    undo_archive_copy(n, counter_before);
    return r;
  }
  step_done(4);
  if (archive_folder(2)[0]) {
    const int last2 = last_archive_number(2);
    if (!last_copy_is(2, last2, *source)) {
      if (last2 + 1 > kMaxArchiveNumber) return kSaveArchiveFull;
      if (const int r = write_archive_copy(2, last2 + 1, *source); r != kSaveDone) return r;
    }
  }
  if (!delete_temp_study(name.c_str())) return kSaveDeleteFailed;
  step_done(6);
  return kSaveDone;
}

const char* archive_save_message(int result) {
  switch (result) {
    case kSaveDone: return "";
    case kSaveNoSource: return "Error reading the study's page file.";
    case kSaveArchiveFull: return "Archive is full: no archive number left.";
    case kSaveWriteFailed: return "Error writing the archive file.";
    case kSaveNameTaken: return "Archive file exists already: Reindex Archive.";
    case kSaveCounterFailed: return "Error writing the archive counter.";
    case kSaveRecordFailed: return "Error writing the archive database.";
    case kSaveDeleteFailed: return "Saved, but the temporary study could not be deleted.";
    default: return "Error saving the study.";
  }
}

bool delete_archived_study(int row) {
  const StudyList& list = study_list();
  if (row < 0 || row >= list.count) return false;
  const std::string file = bounded(list.rows[row].file_name, sizeof StudyListRow::file_name);
  const std::string path = platform::map_path(folder_text(1) + file);
  if (::unlink(path.c_str()) != 0) return false;
  const long n = leading_number(file.c_str(), file.size());
  if (n <= 0) return true;
  const int fd = ::open(platform::map_path(kArchiveDbPath).c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return true;
  const off_t at = static_cast<off_t>(n) * static_cast<off_t>(kDbRecordBytes);
  std::uint8_t bytes[kDbRecordBytes];
  if (::pread(fd, bytes, sizeof bytes, at) == static_cast<ssize_t>(sizeof bytes)) {
    std::memset(bytes, 0, sizeof bytes);
    if (::pwrite(fd, bytes, sizeof bytes, at) != static_cast<ssize_t>(sizeof bytes) || ::fdatasync(fd) != 0)
      platform::debug_printf("archive: record %ld not cleared\n", n);
  }
  ::close(fd);
  return true;
}

ArchivePatterns& archive_patterns() { return g_patterns; }
bool& list_has_type_column() { return g_list_has_type_column; }
bool& archive_db_in_use() { return g_archive_db_in_use; }
HeaderFields& archive_header() { return g_archive_header; }

void search_archive_db() {
  if (!g_archive_db_in_use) return search_archive_files();
  StudyList& list = study_list();
  clear_list(list);
  const int last = last_archive_number(1);
  // A renumbering cut short and not yet rebuilt: the records may name other
  // patients' files.
  if (archive_reindex_pending()) return report_database("Database corrupt: Reindex for speed");
  const int fd = platform::open_regular_file(platform::map_path(kArchiveDbPath));
  if (fd < 0) return report_database("Database missing: Reindex for speed");
  bool damaged = false;
  char caption[30];
  const SearchPatterns patterns = current_patterns();
  // The records are read a block at a time: one read per record was nearly
  // all of a search's cost on a full archive.
  constexpr int kBlockRecords = 1024;
  std::vector<std::uint8_t> block(kBlockRecords * kDbRecordBytes);
  int block_first = 0, block_count = 0;
  for (int n = 0; n <= last && list.count < kStudyListRows; ++n) {
    if (n >= block_first + block_count) {
      const int want = std::min(kBlockRecords, last + 1 - n);
      const std::size_t got = platform::read_at(fd, static_cast<std::uint64_t>(n) * kDbRecordBytes, block.data(),
                                                static_cast<std::size_t>(want) * kDbRecordBytes);
      block_first = n;
      block_count = static_cast<int>(got / kDbRecordBytes);
      // A record that cannot be read whole ends the search as damaged.
      if (block_count == 0) {
        damaged = true;
        break;
      }
    }
    const std::uint8_t* bytes = block.data() + static_cast<std::size_t>(n - block_first) * kDbRecordBytes;
    if (db_record_sum(bytes) != platform::get_u16le(bytes + offsetof(ArchiveDbRecord, checksum))) {
      damaged = true;
      break;
    }
    if (!(bytes[0] & 1)) continue;
    ArchiveDbRecord rec;
    decode_db_record(bytes, rec);
    if (!matches_patterns(patterns, rec.name, rec.id, rec.date)) continue;
    const std::string file = archive_file_name(1, n);
    if (read_archive_header(file.c_str()) != 0 ||
        !fields_match(g_archive_header.name, rec.name, sizeof rec.name) ||
        !fields_match(g_archive_header.id, rec.id, sizeof rec.id) ||
        !fields_match(g_archive_header.date, rec.date, sizeof rec.date)) {
      damaged = true;
      break;
    }
    study_type_caption(rec.type, caption);
    add_row(list, file, bounded(rec.name, sizeof rec.name), caption, bounded(rec.date, sizeof rec.date));
  }
  ::close(fd);
  g_list_has_type_column = true;
  if (damaged) return report_database("Database corrupt: Reindex for speed");
  sort_by_date(list);
}

void search_archive_files() {
  StudyList& list = study_list();
  clear_list(list);
  const SearchPatterns patterns = current_patterns();
  for (const auto& f : platform::list_files(folder_text(1) + "*")) {
    if (list.count >= kStudyListRows) break;
    if ((f.attributes & platform::kAttrDirectory) || platform::is_temporary_name(f.name)) continue;
    if (f.name.size() >= sizeof StudyListRow::file_name) continue;
    if (leading_number(f.name.c_str(), f.name.size()) <= 0) continue;
    if (read_archive_header(f.name.c_str()) != 0) continue;
    const HeaderFields& h = g_archive_header;
    if (!matches_patterns(patterns, h.name, h.id, h.date)) continue;
    add_row(list, f.name, bounded(h.name, sizeof h.name), bounded(h.id, sizeof h.id),
            bounded(h.date, sizeof h.date));
  }
  sort_by_date(list);
  list.selected = 0;
  list.first_visible = 0;
  g_list_has_type_column = false;
}

int read_archive_header(const char* file_name) {
  const std::string file = bounded(file_name ? file_name : "", sizeof StudyListRow::file_name);
  std::uint8_t head[kHeaderFieldBytes];
  if (file.empty() || !platform::read_file_at(platform::map_path(folder_text(1) + file), 0, head, sizeof head))
    return 1;
  std::memcpy(g_archive_header.name, head + 32, sizeof g_archive_header.name);
  std::memcpy(g_archive_header.id, head + 62, sizeof g_archive_header.id);
  std::memcpy(g_archive_header.date, head + 92, sizeof g_archive_header.date);
  return 0;
}

int match_wildcard(const char* text, const char* pattern) {
  auto same = [](char p, char t) {
    return p == '?' || std::toupper(static_cast<unsigned char>(p)) == std::toupper(static_cast<unsigned char>(t));
  };
  const char* t = text;
  const char* p = pattern;
  while (*p) {
    if (*p != '*') {
      if (!*t) return std::strspn(p, "*") == std::strlen(p) ? 1 : 0;
      if (!same(*p, *t)) return 0;
      ++p, ++t;
      continue;
    }
    ++p;
    if (!*p) return 1;
    const std::size_t len = std::strcspn(p, "*");
    auto piece_at = [&](const char* at) {
      for (std::size_t i = 0; i < len; ++i)
        if (!same(p[i], at[i])) return false;
      return true;
    };
    const std::size_t rest = std::strlen(t);
    if (!p[len]) return rest >= len && piece_at(t + rest - len) ? 1 : 0;
    std::size_t at = 0;
    while (at + len <= rest && !piece_at(t + at)) ++at;
    if (at + len > rest) return 0;
    t += at + len;
    p += len;
  }
  return 1;
}

void study_type_caption(int type, char* out) {
  if (type == 0) {
    std::snprintf(out, 30, "*Unknown*");
    return;
  }
  char path[40];
  std::snprintf(path, sizeof path, "c:\\studies\\%08d.sty", type);
  std::uint8_t rec[kTemplateRecordSize];
  out[0] = 0;
  if (read_template_record(path, 0, kTemplateRecordSize, rec) && rec[0] == 0)
    std::snprintf(out, 30, "%s", bounded(reinterpret_cast<const char*>(rec + 2), 29).c_str());
}

}  // namespace vaslab
