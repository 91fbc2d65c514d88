#include "vaslab/records/worklist.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "platform/debug.h"
#include "platform/file_io.h"
#include "platform/find.h"
#include "platform/paths.h"
#include "vaslab/core/settings/settings.h"
#include "vaslab/records/module_dispatch.h"

namespace vaslab {
namespace {

char g_imported_name[kImportedNameChars + 1];
char g_imported_id[kImportedIdChars + 1];
char g_imported_third[kImportedThirdChars + 1];

// The last field read, for the continuation operation.
std::array<char, kImportRecordSize> g_last_record{};
std::size_t g_last_position = 0;

std::optional<std::string> real_path(const std::string& linux_path) {
  char* r = ::realpath(linux_path.c_str(), nullptr);
  if (!r) return std::nullopt;
  std::string out(r);
  std::free(r);
  return out;
}

// `inner` is `outer` or lies somewhere below it.
bool at_or_below(const std::string& outer, const std::string& inner) {
  return inner.compare(0, outer.size(), outer) == 0 &&
         (inner.size() == outer.size() || inner[outer.size()] == '/');
}

const char* why_not_emptied(const std::string& win_folder) {
  if (win_folder.size() < 2 || win_folder[1] != ':') return "not a folder of a drive";
  const auto folder = real_path(platform::map_path(win_folder));
  if (!folder) return "";  // nothing to delete, nothing to say
  const auto drive = real_path(platform::drive_folder(win_folder[0]));
  if (!drive || !at_or_below(*drive, *folder)) return "outside its drive";
  if (*folder == *drive) return "a drive's root";
  const auto& hw = hardware_settings();
  const std::string own[] = {"C:\\STUDIES\\", "C:\\PROGRAMS\\",
                             std::string(hw.archive_path_1, ::strnlen(hw.archive_path_1, sizeof hw.archive_path_1)),
                             std::string(hw.archive_path_2, ::strnlen(hw.archive_path_2, sizeof hw.archive_path_2))};
  for (const std::string& p : own) {
    if (p.empty()) continue;
    if (const auto r = real_path(platform::map_path(p)); r && at_or_below(*folder, *r))
      return "holds the program's own files";
  }
  const std::string data(hw.data_directory, ::strnlen(hw.data_directory, sizeof hw.data_directory));
  if (const auto r = real_path(platform::map_path(data)); !data.empty() && r && *r != *folder &&
                                                          at_or_below(*folder, *r))
    return "holds the data directory";
  return nullptr;
}

void delete_files_in(const std::string& folder) {
  if (!may_empty_folder(folder)) return;
  for (const auto& f : platform::list_files(folder + "*.*")) {
    if (f.attributes & platform::kAttrDirectory) continue;
    ::unlink(platform::map_path(folder + f.name).c_str());
  }
}

std::string import_folder() { return hardware_settings().import_path; }
std::string import_file() { return import_folder() + "IMPORT.DAT"; }
std::string export_file() { return import_folder() + "EXPORT.DAT"; }

// Copies at most `max` characters of `text` (up to its NUL) into the caller's
// buffer, never more than it holds.  Returns the number copied.
int copy_out(const char* text, std::size_t max, char* buffer, std::size_t buffer_size) {
  if (!buffer || buffer_size == 0) return 0;
  std::size_t n = 0;
  const std::size_t limit = std::min(max, buffer_size - 1);
  while (n < limit && text[n]) {
    buffer[n] = text[n];
    ++n;
  }
  buffer[n] = 0;
  return static_cast<int>(n);
}

void copy_text(char* dst, std::size_t chars, const char* src) {
  std::size_t n = 0;
  while (n < chars && src[n]) {
    dst[n] = src[n];
    ++n;
  }
  dst[n] = 0;
}

// Reads record n (from 1) of "IMPORT.DAT": 0, -1 when the file does not
// open, -2 when the record is short or not ended by a 0 byte.
int read_import_record(int n, std::array<char, kImportRecordSize>& out) {
  const std::string path = platform::map_path(import_file());
  const auto size = platform::file_size(path);
  if (!size) return -1;
  const std::uint64_t end = static_cast<std::uint64_t>(n) * kImportRecordSize;
  if (*size < end) return -2;
  if (!platform::read_file_at(path, end - kImportRecordSize, out.data(), out.size()) || out.back() != 0)
    return -2;
  return 0;
}

int load_patient() {
  clear_imported_patient();
  std::array<char, kImportRecordSize> rec{};
  char* fields[3] = {g_imported_name, g_imported_id, g_imported_third};
  const int widths[3] = {kImportedNameChars, kImportedIdChars, kImportedThirdChars};
  for (int i = 0; i < 3; ++i) {
    const int r = read_import_record(i + 1, rec);
    if (r != 0) {
      clear_imported_patient();
      return r;
    }
    copy_text(fields[i], static_cast<std::size_t>(widths[i]), rec.data());
  }
  return 0;
}

bool import_present() {
  if (!g_imported_name[0]) return false;
  return platform::file_size(platform::map_path(import_file())).has_value();
}

// Copies a file to a target, replacing it.  A missing source removes the
// target, so that no older copy stays behind as if it were this one.
int replace_with_copy(const std::string& from_win, const std::string& to_win) {
  const std::string to = platform::map_path_create_dirs(to_win);
  const int r = platform::copy_file_atomic(platform::map_path(from_win), to, 0600);
  if (r == 0) return 0;
  ::unlink(to.c_str());
  return r;
}

// A study's own exchange files become the import folder's.  Both old files go
// first: a study without its own never picks up the previous patient's.
int restore_study_files(std::string base) {
  ::unlink(platform::map_path(import_file()).c_str());
  ::unlink(platform::map_path(export_file()).c_str());
  clear_imported_patient();
  if (base.empty()) return -1;
  const auto dot = base.find('.');
  base = hardware_settings().data_directory + base.substr(0, dot) + ".";
  const int imp = replace_with_copy(base + "imp", import_file());
  const int exp = replace_with_copy(base + "exp", export_file());
  if (imp != 0 || (exp != 0 && exp != -ENOENT)) {
    ::unlink(platform::map_path(import_file()).c_str());
    ::unlink(platform::map_path(export_file()).c_str());
    return -1;
  }
  return load_patient();
}

int run_import_screen() {
  const auto& hw = hardware_settings();
  purge_work_dirs();
  const std::string control = hw.import_control;
  if (control.size() < 20 || !platform::same_name(control.substr(0, 20), "C:\\PROGRAMS\\DICOMMWL"))
    return -1;
  std::string args[4] = {control, hw.import_path, std::to_string(hw.import_code),
                         std::string("\"") + hw.import_text + "\""};
  char* argv[5] = {args[0].data(), args[1].data(), args[2].data(), args[3].data(), nullptr};
  // The screen's own result is not passed on: the caller reloads the import.
  if (ModuleEntry screen = find_module("C:\\PROGRAMS\\DICOMMWL")) screen(4, argv);
  return 0;
}

}  // namespace

int worklist_control(int operation, char* buffer, std::size_t buffer_size) {
  const auto& hw = hardware_settings();
  if (!hw.import_control[0] || !hw.import_path[0]) return -1;
  if (operation >= 64 || operation < -11) return -2;
  if (operation >= 1) {
    if (!g_imported_name[0]) return -1;
    g_last_record.fill(0);
    g_last_position = 0;
    const int r = read_import_record(operation, g_last_record);
    if (r != 0) {
      g_last_record.fill(0);
      return r;
    }
    const int n = copy_out(g_last_record.data(), kImportFieldChars, buffer, buffer_size);
    g_last_position = static_cast<std::size_t>(n);
    return n;
  }
  switch (operation) {
    case -11: {
      const int n = copy_out(g_last_record.data() + g_last_position, kImportFieldChars, buffer,
                             buffer_size);
      g_last_position += static_cast<std::size_t>(n);
      return n;
    }
    case -10:
      return restore_study_files(buffer ? std::string(buffer, ::strnlen(buffer, buffer_size)) : "");
    case -9: copy_out(g_imported_id, kImportedIdChars, buffer, buffer_size); return 0;
    case -8: copy_out(g_imported_name, kImportedNameChars, buffer, buffer_size); return 0;
    case -7:
      delete_files_in(import_folder());
      clear_imported_patient();
      return 0;
    case -6: return import_present() ? 0 : -1;
    case -5: return run_import_screen();
    case -4: return load_patient();
    case -3:
      // The whole name must match: SMITH's files never go to SMITHSON.
      if (!buffer || !g_imported_name[0]) return -1;
      return std::string_view(buffer, ::strnlen(buffer, buffer_size)) == g_imported_name ? 0 : -1;
    case -2: return buffer && replace_with_copy(export_file(), buffer) == 0 ? 0 : -1;
    case -1: return buffer && replace_with_copy(import_file(), buffer) == 0 ? 0 : -1;
    default: return -2;  // 0 is no operation
  }
}

void clear_imported_patient() {
  g_imported_name[0] = 0;
  g_imported_id[0] = 0;
  g_imported_third[0] = 0;
}

const char* imported_patient_name() { return g_imported_name; }
const char* imported_patient_id() { return g_imported_id; }
const char* imported_patient_third() { return g_imported_third; }

bool may_empty_folder(const std::string& win_folder) {
  const char* why = why_not_emptied(win_folder);
  if (why && *why) platform::debug_printf("purge: \"%s\" left as it is: %s\n", win_folder.c_str(), why);
  return why == nullptr;
}

void purge_work_dirs() {
  delete_files_in("C:\\TEMP\\");
  delete_files_in("c:\\DATA\\");
}

int import_worklist_patient() {
  clear_imported_patient();
  if (hardware_settings().import_code & 2) worklist_control(-7, nullptr);
  if (worklist_control(-5, nullptr) < 0) return -1;
  char field[kWorklistBufferSize] = {};
  if (worklist_control(-4, field) < 0) return 0;
  if (imported_patient_name()[0] == 0) {
    worklist_control(-7, nullptr);
    return 0;
  }
  return 1;
}

}  // namespace vaslab
