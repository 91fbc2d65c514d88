#include "vaslab/backup/restore_screen.h"

#include <minizip/unzip.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/debug.h"
#include "platform/failure_cause.h"
#include "platform/file_io.h"
#include "platform/find.h"
#include "platform/paths.h"
#include "vaslab/backup/backup_ui.h"
#include "vaslab/backup/backup_zip.h"
#include "vaslab/backup/floppy_backup.h"
#include "vaslab/backup/zip_file_functions.h"
#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/input/system_utils.h"
#include "vaslab/core/settings/settings.h"
#include "vaslab/core/toolkit/message_box.h"
#include "vaslab/core/toolkit/screen.h"
#include "vaslab/records/archive_db.h"
#include "vaslab/records/study_type.h"
#include "vaslab/reports/page_description.h"
#include "ziplib/unziplib.h"

namespace vaslab {
namespace {

constexpr const char* kTempFolder = "C:\\TEMP\\";
constexpr const char* kRestoreLog = "C:\\TEMP\\LOG\\restore.log";
constexpr std::int64_t kNeededOnC = 9999999;
constexpr std::size_t kReadPiece = 4096;

enum State { kIdle = 1, kWaiting = 2, kExtracting = 3, kMoving = 4 };
enum Code { kExit = kBackupExitCode, kStart = kBackupStartCode, kDriveDown = kBackupDriveDownCode, kDriveUp = kBackupDriveUpCode };
// Conflict actions.
enum Action { kAsk = 100, kOverwrite = 101, kAppend = 102, kSkip = 103, kAlwaysBox = 104 };
enum Index { iLeft, iRight, iStart, iExit };

ButtonRecord g_table[] = {
    kDriveDownButton,
    kDriveUpButton,
    {kButtonShown, 30, 410, 310, 460, "Start Restore", kBackupKeyEnter, kStart, kBackupRemoteEnter},
    kBackupExitButton,
    kButtonTableEnd,
};

struct Screen {
  int state = kIdle;
  char drive = 'A';
  int disk = 1;  // expected next
  int phase = kExtracting;
  int percent = 0;
  char status[51] = "";
  int entries = 0, extracted = 0, moved = 0;
  int index = 0;  // entries of the open backup file handled
  int temp_error = 0;  // the negative errno that stopped a write to C:\TEMP, else 0
  int action = kAsk;
  int next_number = 0;  // the last number given out; an append takes the next
  unzFile reader = nullptr;
  ZipFileFunctionTable table{};
  zlib_filefunc_def io{};
  FileFind listing;
  bool listing_open = false;
  bool listed = false;  // the listing holds a file not handled yet
  MessageLines message;
  bool progress_shown = false;
  bool start_enabled = true;
  bool arrows_shown = true;
  BarWidths bars;
  bool leave = false;
};
Screen s;
bool g_reindex_notice_shown = false;

void set_message(const char* text) {
  s.message = split_message(text, false);
  platform::debug_printf("restore: %s\n", text);
}

void set_status(const char* text) {
  std::snprintf(s.status, sizeof s.status, "%s", text);
  if (*text) platform::debug_printf("restore status: %s\n", text);
}

std::string archive_folder() {
  const HardwareSettings& hw = hardware_settings();
  return std::string(hw.archive_path_1, strnlen(hw.archive_path_1, sizeof hw.archive_path_1));
}

std::string archive_suffix() {
  const HardwareSettings& hw = hardware_settings();
  return std::string(hw.archive_ext_1, strnlen(hw.archive_ext_1, sizeof hw.archive_ext_1));
}

// move_file() that says why: 0, -EEXIST when `to` is there and may not be
// replaced, else the negative errno of the copy.
int move_into_archive(const std::string& from, const std::string& to, bool overwrite) {
  if (!overwrite && platform::file_facts(to)) return -EEXIST;
  if (const int r = platform::copy_file_atomic(platform::map_path(from), platform::map_path(to)); r != 0) return r;
  (void)platform::file_delete(from);  // the copy is in place: a leftover source is cleaned with C:\TEMP
  return 0;
}

void idle_buttons() {
  g_table[iLeft].state = g_table[iRight].state = kButtonShown;
  s.arrows_shown = true;
  set_button_label(g_table[iStart], "Start Restore");
  set_button_label(g_table[iExit], "Exit");
  g_table[iStart].state = kButtonShown;
  s.start_enabled = true;
}

void enable_start() {
  g_table[iStart].state = kButtonShown;
  s.start_enabled = true;
}

void draw_progress() {
  if (!s.progress_shown) return;
  char line[64];
  std::snprintf(line, sizeof line, "Current Disk Number: %i     ", s.disk);
  draw_progress_text(55, line);
  const int percent = std::clamp(s.percent, 0, 100);
  if (s.phase == kExtracting)
    std::snprintf(line, sizeof line, "ZIP Extract Progress: %i%%     ", percent);
  else if (s.phase == kMoving)
    std::snprintf(line, sizeof line, "File Copy Progress: %i%%     ", percent);
  else
    std::snprintf(line, sizeof line, "Progress:                    ");
  draw_progress_text(100, line);
  const int disk_percent = std::clamp(percent / 2 + (s.phase == kMoving ? 50 : 0), 0, 100);
  std::snprintf(line, sizeof line, "Estimated Disk Progress: %i%%     ", disk_percent);
  draw_progress_text(160, line);
  std::snprintf(line, sizeof line, "%-50s", s.status);
  draw_progress_text(365, line);
  draw_progress_bar(true, percent, s.bars.phase);
  draw_progress_bar(false, disk_percent, s.bars.total);
  flush_area(245, 50, 640, 390);
}

void restore_draw() {
  s.bars = BarWidths{};
  draw_drive_frame("Restore Archive", "Source Drive:", s.drive);
  draw_message_panel(s.message);
  draw_progress();
  for (int i : {iLeft, iRight, iStart, iExit})
    if (g_table[i].state != kButtonHidden) draw_button_normal(g_table[i]);
  mark_dirty(kDirtyWholeWindow);
}

void redraw_message() {
  draw_message_panel(s.message);
  flush_area(265, 230, 616, 351);
}

// A folder of the hard disk that refused a write: the folder and the
// system error on the first line, what to do on the second.  The hard disk
// is the one to see to, so the same diskette is asked for again.  A folder
// too long for a line with its error gets a line of its own and the error
// the other.
std::string folder_refused_text(const std::string& folder, int error) {
  constexpr std::size_t kLine = sizeof MessageLines{}.first - 1;
  const std::string cause = platform::cause_text(folder, error);
  if (cause.size() > kLine) return folder + "\n" + platform::error_text(error);
  const bool full = error == -ENOSPC || error == -EDQUOT;
  return cause + (full ? "\nFree space, insert this disk again." : "\nFix it, then insert this disk again.");
}

void log_append(const std::string& text) {
  if (!append_log_text(kRestoreLog, text) && platform::dir_create("C:\\TEMP\\LOG") == 0)
    (void)append_log_text(kRestoreLog, text);  // dropped when it still cannot open
}

// Only regular files: the log folder C:\TEMP\LOG is listed by the same
// pattern and must be neither deleted nor moved into the archive.
bool next_regular(FileFind& f, int r) {
  while (r == 0 && (f.data.attributes & platform::kAttrDirectory)) r = find_next_file(f);
  return r == 0;
}

void clean_temp() {
  FileFind f;
  for (bool more = next_regular(f, find_first_file(std::string(kTempFolder) + "*.*", f, 0)); more;
       more = next_regular(f, find_next_file(f)))
    (void)platform::file_delete(kTempFolder + f.data.name);  // what cannot go stays until next time
  find_close(f);
}

void close_listing() {
  if (s.listing_open) find_close(s.listing);
  s.listing_open = false;
  s.listed = false;
}

void zip_close() {
  if (s.reader) unzClose(s.reader);
  s.reader = nullptr;
}

int zip_open(const std::string& path) {
  zip_close();
  zip_file_functions(&s.table);
  zip_minizip_functions(&s.table, &s.io);
  s.reader = unzOpen2(path.c_str(), &s.io);
  if (s.reader == nullptr) return -1;
  unz_global_info info;
  if (unzGetGlobalInfo(s.reader, &info) != UNZ_OK) return -2;
  s.index = 0;
  return static_cast<int>(std::min<uLong>(info.number_entry, INT32_MAX));
}

// A name that would leave C:\TEMP or name a drive is refused: the backup
// never stores one, so such an entry means a damaged or foreign archive.
bool safe_name(const std::string& name) {
  return name != "." && name != ".." && name.find(':') == std::string::npos;
}

// A name the backup gives a study: its number (1 to 65535, no leading
// zero), alone or with a suffix.  The counter "0", the database or any
// other file a foreign archive carries is none.
bool study_entry_name(const std::string& name) {
  const std::size_t digits = name.find_first_not_of("0123456789");
  const std::string number = name.substr(0, digits);
  if (number.empty() || number.size() > 5 || number[0] == '0' || std::stol(number) > kMaxArchiveNumber) return false;
  if (digits == std::string::npos) return true;
  const std::string suffix = name.substr(digits + 1);
  return name[digits] == '.' && !suffix.empty() && suffix.size() <= 3 &&
         suffix.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789") == std::string::npos;
}

// Why an entry cannot be a study, judged from its directory record; null
// when it may be one.  A link or a folder stored by a Unix archiver would
// otherwise come back as a file holding the link's target text.
const char* entry_refusal(const std::string& name, const unz_file_info& info) {
  if (!study_entry_name(name)) return "not a study's name";
  const unsigned mode = static_cast<unsigned>(info.external_fa >> 16);
  const bool unix_made = (info.version >> 8) == 3;
  if ((unix_made && (mode & S_IFMT) != 0 && (mode & S_IFMT) != S_IFREG) || (info.external_fa & 0x10) != 0)
    return "not a regular file";
  if (info.uncompressed_size > kMaxStudyBytes) return "larger than any study";
  if (info.uncompressed_size < kPageHeaderBytes) return "shorter than a study's page";
  return nullptr;
}

void log_skipped(const std::string& name, const char* why) {
  platform::debug_printf("restore: skipped %s: %s\n", name.c_str(), why);
  log_append("Not a study (" + std::string(why) + "), skipping: '" + name + "'\n");
}

// 0 extracted or passed over, else the failure; an entry that proves not to
// be a study is passed over with its partial file removed.
int zip_extract_current() {
  if (s.reader == nullptr) return -1;
  char full[256];
  unz_file_info info;
  if (const int r = unzGetCurrentFileInfo(s.reader, &info, full, sizeof full, nullptr, 0, nullptr, 0); r != UNZ_OK)
    return r;
  // minizip cuts a long name to the buffer without a terminator.
  std::string name(full, std::min<std::size_t>(info.size_filename, sizeof full));
  if (const auto cut = name.find_last_of("/\\"); cut != std::string::npos) name.erase(0, cut + 1);
  if (name.empty()) return 0;
  if (!safe_name(name)) return -1;
  if (const char* why = entry_refusal(name, info)) {
    log_skipped(name, why);
    return 0;
  }
  std::vector<char> buf(kReadPiece);
  if (const int r = unzOpenCurrentFile(s.reader); r != UNZ_OK) return r;
  const std::string path = kTempFolder + name;
  const int out = platform::file_open(path, platform::OpenMode::kCreateAlways);
  int err = out < 0 ? -1 : 0;
  if (out < 0) s.temp_error = out;
  const char* why = nullptr;
  std::uint64_t total = 0;
  while (err == 0) {
    const int n = unzReadCurrentFile(s.reader, buf.data(), static_cast<unsigned>(buf.size()));
    if (n < 0) err = n;
    if (n <= 0) break;
    // The directory's sizes may lie: the data itself is held to them.
    if (total == 0 && (n < 2 || static_cast<std::uint8_t>(buf[0]) != kPageMagic0 ||
                       static_cast<std::uint8_t>(buf[1]) != kPageMagic1))
      why = "no study page header";
    total += static_cast<std::uint64_t>(n);
    if (total > kMaxStudyBytes) why = "larger than any study";
    if (why) break;
    if (const long long w = platform::file_write(out, buf.data(), static_cast<std::size_t>(n)); w != n) {
      err = -1;
      // A short count keeps its reason: the rest, tried once more, tells it.
      const long long rest = w < 0 ? w : platform::file_write(out, buf.data() + w, static_cast<std::size_t>(n - w));
      s.temp_error = rest < 0 ? static_cast<int>(rest) : -EIO;
    }
  }
  if (out >= 0)
    if (const int closed = platform::file_close(out); closed != 0 && err == 0) {
      err = -1;
      s.temp_error = closed;
    }
  const int closed = unzCloseCurrentFile(s.reader);  // the CRC check
  if (err == 0 && !why && total < kPageHeaderBytes) why = "shorter than a study's page";
  if (why && err == 0) {
    (void)platform::file_delete(path);
    log_skipped(name, why);
    return 0;
  }
  return err != 0 ? err : closed;
}

int zip_next() {
  if (s.index >= s.entries) return 0;
  ++s.index;
  if (zip_extract_current() != 0) return -1;
  if (s.index < s.entries && unzGoToNextFile(s.reader) != UNZ_OK) return -2;
  return 1;
}

void delete_database() {
  (void)platform::file_delete(kArchiveDbPath);  // may be gone already
  (void)platform::file_delete(archive_folder() + "0");
}

void reindex_notice() {
  if (g_reindex_notice_shown) return;
  g_reindex_notice_shown = true;
  platform::debug_printf("restore: reindex notice\n");
  static ButtonRecord table[] = {
      {kButtonShown, 290, 230, 350, 280, "Ok", kBackupKeyEnter, 100, kBackupRemoteEnter},
      kButtonTableEnd,
  };
  run_panel(10, 170, 630, 300,
            "Your archive database has been deleted automatically by the restore process.", 180,
            "Please reindex via the diagnostics menu when the restore is complete.", 205, table, {100}, 100, true);
}

bool confirm_disk_number() {
  static ButtonRecord table[] = {
      {kButtonShown, 205, 230, 305, 280, "YES", 'y', 100, kBackupRemoteEnter},
      {kButtonShown, 335, 230, 435, 280, "NO", 'n', 101, kBackupRemoteExit},
      {kButtonHidden, 0, 0, 1, 1, "", kBackupKeyEscape, 101, 0},
      kButtonTableEnd,
  };
  platform::debug_printf("restore: Incorrect disk number.\n");
  return run_panel(100, 170, 540, 300, "Incorrect disk number.", 180, "Continue anyway?", 205, table, {100, 101},
                   101) == 100;
}

void draw_always_box(const ButtonRecord& b, bool on) {
  const int h = b.y2 - b.y1;
  g_draw.fill_color = 1;
  fill_bar(b.x1, b.y1, b.x1 + h, b.y2);
  g_draw.draw_color = kColorWhite;
  draw_rectangle(b.x1, b.y1, b.x1 + h, b.y2);
  if (on) {
    g_draw.fill_color = kColorWhite;
    fill_bar(b.x1 + 5, b.y1 + 5, b.x1 + h - 5, b.y2 - 5);
  }
  draw_text_cells(b.label, (b.y1 + b.y2) / 2 - 7, 30, kColorNone, kColorWhite);
  flush_area(b.x1, b.y1, b.x2 + 1, b.y2 + 1);
}

int conflict_prompt(const std::string& target) {
  static ButtonRecord table[] = {
      {kButtonShown, 200, 295, 450, 320, "Always perform this action", ' ', kAlwaysBox, 0},
      {kButtonShown, 39, 230, 208, 280, "Overwrite", 'o', kOverwrite, 0},
      {kButtonShown, 236, 230, 404, 280, "Append", 'a', kAppend, 0},
      {kButtonShown, 433, 230, 601, 280, "Skip", 's', kSkip, 0},
      {kButtonHidden, 0, 0, 1, 1, "", kBackupKeyEscape, kAsk, 0},
      kButtonTableEnd,
  };
  platform::debug_printf("restore: Archive file already exists: %s\n", target.c_str());
  // The check box is drawn by this prompt, not as a button.
  table[0].state = kButtonHidden;
  draw_panel(5, 165, 635, 330, "Archive file already exists:", 175, target.c_str(), 200, table);
  table[0].state = kButtonShown;
  bool always = s.action != kAsk;
  draw_always_box(table[0], always);
  for (;;) {
    if (!is_event_loop_live()) return kAsk;
    const int code = get_button_event(table);
    if (code < kAsk || code > kAlwaysBox) continue;
    wait_button_release(table);
    if (code == kAlwaysBox) {
      s.action = s.action == kAsk ? kSkip : kAsk;
      always = s.action != kAsk;
      draw_always_box(table[0], always);
      continue;
    }
    if (always) s.action = code;
    return code;
  }
}

// A diskette of another number is taken only when the operator says so.
bool confirm_other_disk() {
  restore_draw();
  return confirm_disk_number();
}

// The diskette's backup file: the one of the expected number, else the
// first "ZVT_*.ZIP" with the number its name gives.  0 when there is none.
int find_backup_file(std::string& path) {
  path = backup_file_path(s.drive, s.disk);
  if (backup_file_exists(path.c_str())) return s.disk;
  FileFind f;
  int n = 0;
  if (find_first_file(drive_path(s.drive, "ZVT_*.ZIP"), f, 0) == 0 && f.data.name.size() >= 5) {
    path = drive_path(s.drive, f.data.name.c_str());
    n = std::atoi(f.data.name.c_str() + 4);
  }
  find_close(f);
  return n;
}

// The screen then says what came of it, so that a restore that went well is
// not taken for one that did nothing and run again.
void restore_older_archive(const std::string& path) {
  delete_database();
  reindex_notice();
  bool restored = false;
  if (zip_library_start()) {
    restored = unzip_count_then_extract(path.c_str(), archive_folder().c_str(), "Restore Archive Count Failure",
                                        "Restore Archive Failure");
    zip_library_stop();
  }
  const std::string name = drive_path(s.drive, "q7arcbk.zip");
  if (restored)
    set_message(("Archive restored from " + name + ".\nPlease reindex via the diagnostics menu.").c_str());
  else
    set_message(("Not restored: " + name + ".\nPlease reindex via the diagnostics menu.").c_str());
  s.progress_shown = false;
  s.state = kIdle;
  idle_buttons();
}

void step_disk() {
  set_status("");
  if (s.state == kIdle) {
    g_table[iLeft].state = g_table[iRight].state = kButtonHidden;
    s.arrows_shown = false;
    set_button_label(g_table[iStart], "Continue");
    set_button_label(g_table[iExit], "Cancel");
    s.disk = 1;
    s.phase = kExtracting;
    s.progress_shown = true;
    s.state = kWaiting;
    set_message("Please insert a diskette and press\n'Continue'.");
  } else if (s.state == kWaiting) {
    const std::string older = drive_path(s.drive, "q7arcbk.zip");
    std::string path;
    if (backup_free_space('C') <= kNeededOnC) {
      set_message("Insufficent disk space on drive C:");
      s.state = kIdle;
    } else if (backup_file_exists(older.c_str())) {
      restore_older_archive(older);
    } else {
      s.extracted = 0;
      s.temp_error = 0;
      clean_temp();
      const int n = find_backup_file(path);
      if (n == 0) {
        s.progress_shown = false;
        set_message("No backup found on that drive.\nPlease select a different drive.");
        s.state = kIdle;
        idle_buttons();
      } else if (n == s.disk || confirm_other_disk()) {
        s.phase = kExtracting;
        s.percent = 0;
        platform::clear_failure_cause();
        const int r = zip_open(path);
        if (r < 0) {
          // The diskette stays asked for: nothing of it was taken.  A file
          // that reads but has no end record was cut short, as a
          // cancelled backup copy leaves it.
          zip_close();
          std::string cause = platform::take_failure_cause();
          if (cause.empty()) cause = path + ": not a whole ZIP file";
          log_append("Initialization error: " + cause + "\n");
          set_message(("Initialization error.\n" + cause).c_str());
        } else {
          s.entries = r;
          s.state = kExtracting;
          s.message = MessageLines{};
          delete_database();
          reindex_notice();
        }
      }
    }
  }
  restore_draw();
}

// The archive folder refused a file (full, read-only, not ours to write):
// every other file of this diskette would fail the same way, so the
// diskette stops here and stays the one asked for, its files not yet moved
// kept for the run after the fault is mended.
bool archive_refused(int error) {
  return error == -ENOSPC || error == -EDQUOT || error == -EROFS || error == -EACCES || error == -EPERM;
}

void stop_disk_unwritten(const std::string& source, int error) {
  log_append(platform::cause_text(archive_folder(), error) + ", not restored: '" + source + "'\n");
  const std::string text = folder_refused_text(archive_folder(), error);
  zip_close();
  close_listing();
  s.action = kAsk;
  s.phase = kExtracting;
  s.percent = 0;
  enable_start();
  s.state = kWaiting;
  set_message(text.c_str());
  restore_draw();
}

void end_of_disk() {
  close_listing();
  set_message("Disk completed successfully.\nPress 'Cancel' if you have no more disks.");
  s.action = kAsk;
  s.phase = kExtracting;
  s.percent = 0;
  ++s.disk;
  s.state = kWaiting;
  restore_draw();
}

std::string target_of(const std::string& name) {
  std::string target = archive_folder() + name.substr(0, name.find('.'));
  if (!archive_suffix().empty()) target += "." + archive_suffix();
  return target;
}

// Each returns false when the archive refused the file and the diskette
// has been stopped.
bool overwrite(const std::string& source, const std::string& target) {
  const int r = move_into_archive(source, target, true);
  if (r == 0) return true;
  if (archive_refused(r)) {
    stop_disk_unwritten(source, r);
    return false;
  }
  (void)platform::file_delete(source);
  set_message(("Error overwriting file, skipping:\n" + source).c_str());
  log_append("Error overwriting file, skipping: '" + source + "'\n");
  redraw_message();
  return true;
}

bool append(const std::string& source) {
  ++s.next_number;
  std::string target = archive_folder() + std::to_string(s.next_number);
  if (!archive_suffix().empty()) target += "." + archive_suffix();
  const int r = move_into_archive(source, target, false);
  if (r == 0) return true;
  if (archive_refused(r)) {
    --s.next_number;  // not given out: the next run appends under it
    stop_disk_unwritten(source, r);
    return false;
  }
  (void)platform::file_delete(source);
  set_message(("Error appending file, skipping:\n" + source).c_str());
  log_append("Error appending file, skipping: '" + source + "'\n");
  redraw_message();
  return true;
}

void step_move() {
  if (!s.listed) return end_of_disk();
  const std::string source = kTempFolder + s.listing.data.name;
  const std::string target = target_of(s.listing.data.name);
  // Only a file of that name already there is a conflict; any other
  // failure is the archive refusing to be written.
  const int moved = s.action == kOverwrite ? 0 : move_into_archive(source, target, false);
  if (moved != 0 && moved != -EEXIST) return stop_disk_unwritten(source, moved);
  bool going = true;
  switch (s.action) {
    case kOverwrite: going = overwrite(source, target); break;
    case kAppend:
      if (moved != 0) going = append(source);
      break;
    case kSkip:
      (void)platform::file_delete(source);  // moved, or skipped: the archive keeps its own
      break;
    default:
      if (moved == 0) break;
      switch (conflict_prompt(target)) {
        case kAsk:
          zip_close();
          close_listing();
          s.phase = kExtracting;
          enable_start();
          s.state = kWaiting;
          set_message("Disk Cancelled.\nInsert disk and press 'Continue'.");
          restore_draw();
          return;
        case kOverwrite: going = overwrite(source, target); break;
        case kAppend: going = append(source); break;
        default: (void)platform::file_delete(source); break;
      }
      if (going) restore_draw();
  }
  if (!going) return;
  s.listed = next_regular(s.listing, find_next_file(s.listing));
  ++s.moved;
  s.percent = s.extracted > 0 ? s.moved * 100 / s.extracted : 100;
  draw_progress();
}

void step_extract() {
  if (s.state == kExtracting) {
    const int r = zip_next();
    if (r == 0) {
      zip_close();
      s.percent = 0;
      s.moved = 0;
      s.state = kMoving;
      s.phase = kMoving;
      close_listing();
      s.listing_open = true;
      s.listed = next_regular(s.listing, find_first_file(std::string(kTempFolder) + "*.*", s.listing, 0));
    } else if (r > 0) {
      ++s.extracted;
      s.percent = s.entries > 0 ? s.extracted * 100 / s.entries : 100;
      draw_progress();
    } else {
      zip_close();
      set_status("Extract Error.");
      s.state = kWaiting;
      if (s.temp_error != 0) {
        // C:\TEMP would refuse any diskette: this one is asked for again
        // once the folder takes files.
        log_append("Extract Error: " + platform::cause_text(kTempFolder, s.temp_error) + "\n");
        set_message(folder_refused_text(kTempFolder, s.temp_error).c_str());
        s.temp_error = 0;
      } else {
        set_message("Please insert another diskette.");
      }
      restore_draw();
    }
  } else if (s.state == kMoving) {
    step_move();
  }
}

void exit_pressed() {
  s.action = kAsk;
  s.message = MessageLines{};
  switch (s.state) {
    case kIdle:
      clean_temp();
      zip_close();
      s.leave = true;
      return;
    case kExtracting:
    case kMoving:
      s.phase = kExtracting;
      zip_close();
      close_listing();
      enable_start();
      s.state = kWaiting;
      set_message("Disk Cancelled.\nInsert disk and press 'Continue'.");
      break;
    case kWaiting:
      s.progress_shown = false;
      idle_buttons();
      s.state = kIdle;
      s.disk = 1;
      break;
  }
  restore_draw();
}

void step_drive(int direction) {
  if (!s.arrows_shown) return;
  s.drive = next_drive(s.drive, direction);
  restore_draw();
}

}  // namespace

int move_file(const char* from, const char* to, bool overwrite) { return move_into_archive(from, to, overwrite) == 0 ? 0 : 1; }

void restore_reset_reindex_notice() { g_reindex_notice_shown = false; }

int restore_screen() {
  close_listing();
  zip_close();
  s = Screen{};
  idle_buttons();
  s.next_number = static_cast<std::uint16_t>(last_archive_number(1));
  (void)pointer_position();
  restore_draw();
  while (!s.leave) {
    // Extracting and moving go one step a pass: the passes stay short.
    switch (next_screen_code(g_table, s.state == kExtracting || s.state == kMoving)) {
      case kExit: exit_pressed(); break;
      case kStart:
        if (s.start_enabled) step_disk();
        break;
      case kDriveDown: step_drive(-1); break;
      case kDriveUp: step_drive(+1); break;
      default: step_extract(); break;
    }
  }
  keep_passes_short(false);
  return 0;
}

}  // namespace vaslab
