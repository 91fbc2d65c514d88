#include "vaslab/records/archive_db.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "platform/debug.h"
#include "platform/failure_cause.h"
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

// The Linux path of `name` under an archive folder setting (a Windows path
// that the name follows, as the counter's "0" does).  Names only this
// program writes, always spelt as here, are not looked up in every letter
// case, which reads the whole folder.
std::string linux_in(const std::string& folder, const char* name, bool create) {
  const bool is_folder = !folder.empty() && (folder.back() == '\\' || folder.back() == '/');
  if (!create) return is_folder ? platform::map_path(folder) + name : platform::map_path(folder + name);
  return is_folder ? platform::map_path_create_dirs(folder) + name : platform::map_path_create_dirs(folder + name);
}
std::string parent_of(const std::string& linux_path) { return linux_path.substr(0, linux_path.rfind('/')); }

// Notes why a step failed, for the message the screen shows: the folder or
// file as the operator knows it and the system's error.
int failed(int result, const std::string& where, int error) {
  platform::note_failure_cause(where, error ? error : EIO);
  return result;
}

// The counter file's number, -1 when it has none.
long counter_value(const std::string& folder) {
  const auto text = platform::read_file(platform::map_path(folder + "0"), 64);
  if (!text || text->empty()) return -1;
  return leading_number(reinterpret_cast<const char*>(text->data()), text->size());
}

int write_counter(const std::string& folder, const std::string& text) {
  if (const int e = platform::write_file_atomic(platform::map_path(folder + "0"), text.data(), text.size(), 0600))
    return failed(kSaveCounterFailed, folder + "0", e);
  return kSaveDone;
}

// Writes one archive copy of `data` as `name` in an archive folder and sets
// the folder's counter to `number`, durable before this returns.  kSaveDone
// or the failure.  `first`: Archive Path 1's copy (the test hook's steps).
int write_archive_copy(const std::string& folder, const std::string& name, int number,
                       const std::vector<std::uint8_t>& data, bool first) {
  const std::string temp = linux_in(folder, kSaveTemporary, true);
  ::unlink(temp.c_str());  // a leftover of a save that was killed
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return failed(kSaveWriteFailed, folder, errno);
  int err = 0;
  for (std::size_t at = 0; !err && at < data.size(); at += kPageHeaderBytes)
    err = platform::write_all(fd, data.data() + at, std::min(kPageHeaderBytes, data.size() - at));
  if (!err) err = platform::sync_file(fd);
  if (::close(fd) != 0 && !err) err = -errno;
  step_done(first ? kStepCopyWritten : kStepSecondWritten);
  if (err) {
    ::unlink(temp.c_str());
    return failed(kSaveWriteFailed, folder, err);
  }
  // map_path finds a name existing in any letter case: such a name is taken.
  const std::string target = platform::map_path(folder + name);
  const int e = exists(target) ? EEXIST : rename_no_replace(temp, target) ? 0 : errno;
  if (e) {
    ::unlink(temp.c_str());
    return failed(e == EEXIST ? kSaveNameTaken : kSaveWriteFailed, e == EEXIST ? folder + name : folder, e);
  }
  if (!fsync_folder(parent_of(temp))) return failed(kSaveWriteFailed, folder, errno);
  step_done(first ? kStepNumbered : kStepSecondNumbered);
  if (const int r = write_counter(folder, std::to_string(number)); r != kSaveDone) return r;
  step_done(first ? kStepCounted : kStepSecondCounted);
  return kSaveDone;
}

// Writes record `number`; a missing database is not an error (a reindex
// builds it), any other failure is.
int write_db_record(int number, const std::uint8_t* bytes) {
  const int fd = ::open(platform::map_path(kArchiveDbPath).c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return errno == ENOENT ? kSaveDone : failed(kSaveRecordFailed, kArchiveDbPath, errno);
  const off_t at = static_cast<off_t>(number) * static_cast<off_t>(kDbRecordBytes);
  int err = ::lseek(fd, at, SEEK_SET) == at ? 0 : -errno;
  if (!err) err = platform::write_all(fd, bytes, kDbRecordBytes);
  if (!err) err = platform::sync_file(fd);
  if (::close(fd) != 0 && !err) err = -errno;
  return err ? failed(kSaveRecordFailed, kArchiveDbPath, err) : kSaveDone;
}

// --- The save's journal --------------------------------------------------
//
// Before a save's copy may take its number, the journal "~SAVING.JNL"
// beside Archive Path 1's counter names the temporary study, the number and
// the record; once the copy and the record are in place it says so and names
// the second copy's number.  Whatever cuts the save off, the next save or the
// next start settles exactly that entry, so that no later save, whatever its
// study's bytes or order, can be taken for this one:
//  - not yet recorded: when the copy has its number (the file there is this
//    study's) the record is written and the save finished, else what the
//    save did is taken back (its counter) and the study stays to be saved;
//  - recorded: the second copy, when one is due and not there, is made from
//    the temporary study (or the first copy) and the study is deleted.
// A pending entry that cannot be settled (a refused database, a read-only
// folder) stays, and every save fails with its cause until it can be.
struct SaveJournal {
  int phase = 1;  // 1: copying; 2: the copy and its record are in place
  std::string study;  // the temporary study's file name in the data directory
  std::uint64_t size = 0;  // its length
  std::string folder, name;  // Archive Path 1 and the copy's name there
  int number = 0;
  std::optional<std::string> counter_before;  // the counter file as it was
  std::uint8_t record[kDbRecordBytes] = {};
  std::string second_folder, second_name;  // the second copy, from phase 2
  int second_number = 0;
};

std::string journal_path(bool create) { return linux_in(folder_text(1), kSaveJournal, create); }

std::string to_hex(const std::uint8_t* p, std::size_t n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string s;
  for (std::size_t i = 0; i < n; ++i) s += {kDigits[p[i] >> 4], kDigits[p[i] & 15]};
  return s;
}
std::optional<std::string> from_hex(const std::string& s) {
  auto digit = [](char c) { return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1; };
  if (s.size() % 2) return std::nullopt;
  std::string out;
  for (std::size_t i = 0; i < s.size(); i += 2) {
    const int hi = digit(s[i]), lo = digit(s[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    out += static_cast<char>(hi * 16 + lo);
  }
  return out;
}

int write_journal(const SaveJournal& j) {
  std::string text = "phase=" + std::to_string(j.phase) + "\nstudy=" + j.study + "\nsize=" + std::to_string(j.size) +
                     "\nfolder=" + j.folder + "\nname=" + j.name + "\nnumber=" + std::to_string(j.number) +
                     "\ncounter=" +
                     (j.counter_before ? to_hex(reinterpret_cast<const std::uint8_t*>(j.counter_before->data()),
                                                j.counter_before->size())
                                       : "-") +
                     "\nrecord=" + to_hex(j.record, sizeof j.record) + "\n";
  if (j.phase == 2 && !j.second_folder.empty())
    text += "second_folder=" + j.second_folder + "\nsecond_name=" + j.second_name +
            "\nsecond_number=" + std::to_string(j.second_number) + "\n";
  // One field a line: a line end inside one would make another entry of it.
  for (const std::string* f : {&j.study, &j.folder, &j.name, &j.second_folder, &j.second_name})
    if (f->find_first_of("\r\n") != std::string::npos) return failed(kSaveWriteFailed, j.folder, EINVAL);
  const std::string path = journal_path(true);
  // Durable in the folder before the copy's name can be.
  if (const int e = platform::write_file_atomic(path, text.data(), text.size(), 0600))
    return failed(kSaveWriteFailed, j.folder, e);
  if (!fsync_folder(parent_of(path))) return failed(kSaveWriteFailed, j.folder, errno);
  step_done(j.phase == 1 ? kStepJournalled : kStepJournalRecorded);
  return kSaveDone;
}

// The pending entry; nullopt when there is none.  A journal that is not
// one of ours (it is written whole or not at all) is named in a note and
// dropped: it cannot say what to settle.
std::optional<SaveJournal> read_journal() {
  const std::string path = journal_path(false);
  if (!exists(path)) return std::nullopt;
  const auto bytes = platform::read_file(path, 4096);
  std::string text = bytes ? std::string(bytes->begin(), bytes->end()) : std::string();
  std::vector<std::pair<std::string, std::string>> fields;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    const std::string line = text.substr(at, end - at);
    const std::size_t eq = line.find('=');
    if (eq != std::string::npos) fields.emplace_back(line.substr(0, eq), line.substr(eq + 1));
    at = end + 1;
  }
  auto field = [&](const char* key) -> std::string {
    for (const auto& [k, v] : fields)
      if (k == key) return v;
    return {};
  };
  SaveJournal j;
  j.phase = std::atoi(field("phase").c_str());
  j.study = field("study");
  j.size = std::strtoull(field("size").c_str(), nullptr, 10);
  j.folder = field("folder");
  j.name = field("name");
  j.number = std::atoi(field("number").c_str());
  if (field("counter") != "-") j.counter_before = from_hex(field("counter"));
  const auto record = from_hex(field("record"));
  j.second_folder = field("second_folder");
  j.second_name = field("second_name");
  j.second_number = std::atoi(field("second_number").c_str());
  const bool whole = (j.phase == 1 || j.phase == 2) && !j.study.empty() && !j.name.empty() && j.number > 0 &&
                     j.number <= kMaxArchiveNumber && record && record->size() == kDbRecordBytes &&
                     (field("counter") == "-" || j.counter_before) &&
                     (j.second_folder.empty() || (!j.second_name.empty() && j.second_number > 0));
  if (!whole) {
    platform::debug_printf("archive: %s is no save journal, dropped\n", path.c_str());
    ::unlink(path.c_str());
    return std::nullopt;
  }
  std::memcpy(j.record, record->data(), kDbRecordBytes);
  return j;
}

int remove_journal() {
  const std::string path = journal_path(false);
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) return failed(kSaveWriteFailed, folder_text(1), errno);
  (void)fsync_folder(parent_of(path));  // lost, the entry is settled again: nothing is done twice
  return kSaveDone;
}

// The temporary study's bytes, when it is still there whole.
std::optional<std::vector<std::uint8_t>> read_study(const std::string& name) {
  const std::string path = platform::map_path(std::string(hardware_settings().data_directory) + name);
  auto bytes = platform::read_file(path);
  if (!bytes || platform::file_size(path) != bytes->size()) return std::nullopt;
  return bytes;
}

// Whether the file at `linux_path` is the copy this entry made: it is there
// and, while the study is there to compare with, holds its bytes.  (The
// number was free when the entry was written; only a hand from outside puts
// another file under it.)
enum class Copy { kAbsent, kOurs, kForeign };
Copy copy_state(const std::string& linux_path, const std::optional<std::vector<std::uint8_t>>& study) {
  if (!exists(linux_path)) return Copy::kAbsent;
  if (!study) return Copy::kOurs;
  const auto bytes = platform::read_file(linux_path);
  return bytes && *bytes == *study ? Copy::kOurs : Copy::kForeign;
}

// Takes back a save that did not get as far as its record: its copy (when
// it is there and this study's) and its counter, then the entry.
int take_back(const SaveJournal& j, const std::optional<std::vector<std::uint8_t>>& study) {
  const std::string copy = platform::map_path(j.folder + j.name);
  bool changed = false;
  if (copy_state(copy, study) == Copy::kOurs) {
    if (::unlink(copy.c_str()) != 0) return failed(kSaveWriteFailed, j.folder, errno);
    changed = true;
  }
  if (!exists(copy) && counter_value(j.folder) == j.number) {
    if (!j.counter_before) {
      if (::unlink(platform::map_path(j.folder + "0").c_str()) != 0 && errno != ENOENT)
        return failed(kSaveCounterFailed, j.folder + "0", errno);
    } else if (const int r = write_counter(j.folder, *j.counter_before); r != kSaveDone) {
      return r;
    }
    changed = true;
  }
  // Taken back for good before the entry that says what to take back goes.
  if (changed && !fsync_folder(parent_of(copy))) return failed(kSaveWriteFailed, j.folder, errno);
  return remove_journal();
}

// Finishes a save whose copy and record are in place: the second copy when
// one is due, then the temporary study goes, then the entry.
int finish_save(SaveJournal& j, const std::optional<std::vector<std::uint8_t>>& study) {
  if (j.phase == 1 && archive_folder(2)[0]) {
    const int last2 = last_archive_number(2);
    if (last2 + 1 > kMaxArchiveNumber) return kSaveArchiveFull;
    j.second_folder = folder_text(2);
    j.second_number = last2 + 1;
    j.second_name = archive_file_name(2, j.second_number);
  }
  if (j.phase == 1) {
    j.phase = 2;
    if (const int r = write_journal(j); r != kSaveDone) return r;
  }
  if (!j.second_folder.empty()) {
    // The second copy is made from the study, or, once the study is gone,
    // from the first copy.
    auto source = study;
    if (!source) source = platform::read_file(platform::map_path(j.folder + j.name));
    const Copy second = copy_state(platform::map_path(j.second_folder + j.second_name), source);
    if (second != Copy::kOurs && !source) {
      platform::debug_printf("archive: no bytes left for the second copy of %s\n", j.study.c_str());
    } else if (second != Copy::kOurs) {
      if (second == Copy::kForeign) {
        // Taken from outside since: the copy takes the folder's next number.
        const int last2 = last_archive_number(2);
        if (last2 + 1 > kMaxArchiveNumber) return kSaveArchiveFull;
        j.second_number = last2 + 1;
        j.second_name = archive_file_name(2, j.second_number);
        if (const int r = write_journal(j); r != kSaveDone) return r;
      }
      if (const int r = write_archive_copy(j.second_folder, j.second_name, j.second_number, *source, false);
          r != kSaveDone)
        return r;
    }
  }
  // Deleted only while it is this save's study: the name may have been given
  // to another study since.
  if (study && study->size() == j.size) {
    if (!delete_temp_study(j.study.c_str()))
      return failed(kSaveDeleteFailed, std::string(hardware_settings().data_directory) + j.study, errno);
  }
  step_done(kStepStudyDeleted);
  if (const int r = remove_journal(); r != kSaveDone)
    platform::debug_printf("archive: the finished save of %s stays journalled\n", j.study.c_str());
  step_done(kStepDone);
  return kSaveDone;
}

// Whether record `number` of the database holds these bytes; a missing
// database counts as holding them (it gets no records until a reindex).
bool record_is(int number, const std::uint8_t* bytes) {
  const int fd = platform::open_regular_file(platform::map_path(kArchiveDbPath));
  if (fd < 0) return fd == -ENOENT;
  std::uint8_t have[kDbRecordBytes];
  const bool same = platform::read_at(fd, static_cast<std::uint64_t>(number) * kDbRecordBytes, have, sizeof have) ==
                        sizeof have &&
                    std::memcmp(have, bytes, sizeof have) == 0;
  ::close(fd);
  return same;
}

int settle(SaveJournal& j) {
  const auto study = read_study(j.study);
  if (j.phase == 2) return finish_save(j, study);
  if (copy_state(platform::map_path(j.folder + j.name), study) != Copy::kOurs) return take_back(j, study);
  platform::debug_printf("archive: copy %s of %s has its number; its save is finished\n", j.name.c_str(),
                         j.study.c_str());
  if (counter_value(j.folder) < j.number)
    if (const int r = write_counter(j.folder, std::to_string(j.number)); r != kSaveDone) return r;
  if (!record_is(j.number, j.record))
    if (const int r = write_db_record(j.number, j.record); r != kSaveDone) return r;
  return finish_save(j, study);
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

int settle_interrupted_save() {
  platform::clear_failure_cause();
  auto j = read_journal();
  return j ? settle(*j) : kSaveDone;
}

int archive_temp_study(const char* file_name) {
  platform::clear_failure_cause();
  const std::string name = bounded(file_name ? file_name : "", sizeof StudyListRow::file_name - 1);
  const std::string data_dir = hardware_settings().data_directory;
  const std::string source_path = platform::map_path(data_dir + name);
  if (auto pending = read_journal()) {
    if (const int r = settle(*pending); r != kSaveDone) return r;
    // This study's own save, cut off and now finished.
    if (pending->study == name && !exists(source_path)) return kSaveDone;
  }
  const auto source = platform::read_file(source_path);
  // A read error ends the data early: a copy shorter than the study would
  // be archived in its place, and the study itself deleted.
  if (!source || source->size() < kPageHeaderBytes || platform::file_size(source_path) != source->size())
    return failed(kSaveNoSource, data_dir + name, source ? EIO : exists(source_path) ? EIO : ENOENT);
  const int n = last_archive_number(1) + 1;
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

  SaveJournal j;
  j.study = name;
  j.size = source->size();
  j.folder = folder_text(1);
  j.name = archive_file_name(1, n);
  j.number = n;
  if (const auto counter = platform::read_file(platform::map_path(j.folder + "0"), 64))
    j.counter_before = std::string(counter->begin(), counter->end());
  encode_db_record(record, j.record);
  if (const int r = write_journal(j); r != kSaveDone) return r;
  int r = write_archive_copy(j.folder, j.name, n, *source, true);
  // Refused (the database read-only, say): the copy goes again, so that
  // the failed save leaves the archive as it was.
  if (r == kSaveDone) r = write_db_record(n, j.record);
  if (r != kSaveDone) {
    (void)take_back(j, source);
    return r;
  }
  step_done(kStepRecorded);
  return finish_save(j, source);
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
