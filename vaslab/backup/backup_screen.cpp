#include "vaslab/backup/backup_screen.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/debug.h"
#include "platform/failure_cause.h"
#include "platform/file_io.h"
#include "vaslab/backup/backup_ui.h"
#include "vaslab/backup/backup_zip.h"
#include "vaslab/backup/floppy.h"
#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/toolkit/screen.h"
#include "vaslab/records/archive_db.h"
#include "vaslab/records/archive_reindex.h"

namespace vaslab {
namespace {

constexpr const char* kWorkZip = "C:\\TEMP\\1.ZIP";
constexpr std::int64_t kFreeCap = 90000000;
constexpr std::uint32_t kDiskHeadroom = 0x60000;  // kept free beyond an empty ZIP on a new diskette
constexpr int kCopyPiece = 512;
constexpr std::int64_t kKeptFreeOnC = 10000000;  // backup_free_space() leaves this much on C: for other drives

enum State { kIdle = 1, kWaiting = 2, kBuilding = 3, kCopying = 4, kPreparing = 5, kFinished = 6 };
enum Code {
  kExit = kBackupExitCode,
  kStart = kBackupStartCode,
  kDriveDown = kBackupDriveDownCode,
  kDriveUp = kBackupDriveUpCode,
  kPrepNone = 103,
  kPrepErase = 104,
  kPrepFormat = 105,
  kChoiceUp = 106,
  kChoiceDown = 107,
  kType720 = 108,
  kType144 = 109,
};
enum Index { i720, i144, iFormat, iErase, iNone, iUp, iDown, iLeft, iRight, iStart, iExit };

ButtonRecord g_table[] = {
    {kButtonShown, 30, 140, 125, 165, "720 KB", '7', kType720, 0},
    {kButtonShown, 135, 140, 230, 165, "1.44 MB", '1', kType144, 0},
    {kButtonShown, 50, 230, 220, 255, "Format", 'f', kPrepFormat, 0},
    {kButtonShown, 50, 280, 220, 305, "Erase", 'e', kPrepErase, 0},
    {kButtonShown, 50, 325, 220, 350, "None", 'n', kPrepNone, 0},
    {kButtonHidden, 0, 0, 1, 1, "", kBackupKeyUp, kChoiceUp, 0},
    {kButtonHidden, 0, 0, 1, 1, "", kBackupKeyDown, kChoiceDown, 0},
    kDriveDownButton,
    kDriveUpButton,
    {kButtonShown, 30, 410, 310, 460, "Start Backup", kBackupKeyEnter, kStart, kBackupRemoteEnter},
    kBackupExitButton,
    kButtonTableEnd,
};

struct Screen {
  int state = kIdle;
  char drive = 'A';
  int disk_type = kType144;
  int prep = kPrepErase;
  int disk = 1;
  // Progress: the phase, its percent, studies on earlier diskettes (D), the
  // next archive number (N) and the last one (T).
  int phase = kBuilding;
  int percent = 0;
  int done_before = 0;
  int next = 1;
  int last = 0;
  bool progress_shown = false;
  std::int64_t free = 0;
  int db = -1;
  int src = -1, dst = -1;
  long long src_size = 0, copied = 0;
  MessageLines message;
  char status[51] = "";
  BarWidths bars;
  int drawn_percent = -1, drawn_total = -1;
  bool start_enabled = true;
  bool arrows_shown = true;
  bool options_shown = true;
  bool skipped = false;  // a study too large for an empty diskette was left out
  bool leave = false;
};
Screen s;

bool options_drive(char d) { return d == 'A' || d == 'B'; }

void set_message(const char* text) {
  s.message = split_message(text, true);
  platform::debug_printf("backup: %s\n", text);
}

void show_options(bool on) {
  s.options_shown = on;
  for (int i : {i720, i144, iFormat, iErase}) g_table[i].state = on ? kButtonShown : kButtonHidden;
  g_table[iNone].state = kButtonShown;
  if (!on) s.prep = kPrepNone;
}

void hide_all_options() {
  s.options_shown = false;
  for (int i : {i720, i144, iFormat, iErase, iNone}) g_table[i].state = kButtonHidden;
}

void show_arrows(bool on) {
  s.arrows_shown = on;
  g_table[iLeft].state = g_table[iRight].state = on ? kButtonShown : kButtonHidden;
}

void set_start(bool enabled, const char* label) {
  if (label) set_button_label(g_table[iStart], label);
  s.start_enabled = enabled;
  g_table[iStart].state = enabled ? kButtonShown : kButtonGreyed;
}

void set_exit(const char* label) { set_button_label(g_table[iExit], label); }

void idle_buttons() {
  show_options(options_drive(s.drive));
  show_arrows(true);
  set_start(true, "Start Backup");
  set_exit("Exit");
}

int total_percent() {
  if (s.last <= 0) return 0;
  const int t = s.last, d = s.done_before, n = s.next;
  int p = d * 100 / t + (n - d - 1) * 50 / t;
  if (s.phase == kCopying) p += (n - d) * s.percent / (2 * t);
  return std::clamp(p, 0, 100);
}

void draw_progress() {
  if (!s.progress_shown) return;
  s.drawn_percent = s.percent;
  s.drawn_total = total_percent();
  char line[64];
  std::snprintf(line, sizeof line, "Current Disk Number: %i     ", s.disk);
  draw_progress_text(55, line);
  const int percent = std::clamp(s.percent, 0, 100);
  switch (s.phase) {
    case kBuilding: std::snprintf(line, sizeof line, "ZIP Build Progress: %i%%     ", percent); break;
    case kCopying: std::snprintf(line, sizeof line, "ZIP Copy Progress: %i%%     ", percent); break;
    case kPreparing: std::snprintf(line, sizeof line, "Disk Format Progress: %i%%     ", percent); break;
    default: std::snprintf(line, sizeof line, "Progress:                      ");
  }
  draw_progress_text(100, line);
  draw_progress_bar(true, percent, s.bars.phase);
  if (s.phase != kPreparing) {
    std::snprintf(line, sizeof line, "Estimated Total Progress: %i%%     ", total_percent());
    draw_progress_text(160, line);
    draw_progress_bar(false, total_percent(), s.bars.total);
  }
  std::snprintf(line, sizeof line, "%-50s", s.status);
  draw_progress_text(365, line);
  flush_area(245, 50, 640, 390);
}

// An option button is a square box of its height with its label beside it,
// filled while it is the current choice.
void draw_option(const ButtonRecord& b, bool chosen) {
  if (b.state == kButtonHidden) return;
  const int h = b.y2 - b.y1;
  g_draw.draw_color = kColorWhite;
  draw_rectangle(b.x1, b.y1, b.x1 + h, b.y2);
  if (chosen) {
    g_draw.fill_color = kColorWhite;
    fill_bar(b.x1 + 5, b.y1 + 5, b.x1 + h - 5, b.y2 - 5);
  }
  draw_text_cells(b.label, (b.y1 + b.y2) / 2 - 7, (b.x1 + h + 12) / 8, kColorNone, kColorWhite);
}

void backup_draw() {
  s.bars = BarWidths{};
  draw_drive_frame("Backup Archive", "Destination Drive:", s.drive);
  draw_option(g_table[i720], s.disk_type == kType720);
  draw_option(g_table[i144], s.disk_type == kType144);
  draw_option(g_table[iFormat], s.prep == kPrepFormat);
  draw_option(g_table[iErase], s.prep == kPrepErase);
  draw_option(g_table[iNone], s.prep == kPrepNone);
  if (g_table[iNone].state != kButtonHidden) draw_text_cells("Disk Preparation:", 200, 2, kColorNone, kColorWhite);
  draw_message_panel(s.message);
  draw_progress();
  for (int i : {iLeft, iRight, iStart, iExit})
    if (g_table[i].state != kButtonHidden) draw_button_normal(g_table[i]);
  mark_dirty(kDirtyWholeWindow);
}

// Most steps move the figures by less than a percent: only a change is drawn.
void update_progress() {
  if (s.percent != s.drawn_percent || total_percent() != s.drawn_total) draw_progress();
}

void close_copy_files() {
  if (s.src >= 0) (void)platform::file_close(s.src);  // read only
  s.src = -1;
  if (s.dst >= 0) (void)platform::file_close(s.dst);  // a cancelled copy is partial anyway
  s.dst = -1;
}

void set_state(int state) {
  if (s.state == kPreparing && state != kPreparing) (void)floppy_write_boot_sector();
  if (s.state == kBuilding && state != kBuilding) (void)backup_zip_close();
  s.state = state;
  switch (state) {
    case kIdle:
      idle_buttons();
      s.progress_shown = false;
      break;
    case kWaiting:
      set_start(true, "Continue");
      set_exit("Cancel");
      s.progress_shown = false;
      set_message("Please insert a diskette and press\n'Continue'.");
      show_arrows(false);
      show_options(options_drive(s.drive));
      break;
    case kBuilding:
    case kCopying:
      s.message = MessageLines{};
      set_start(false, nullptr);
      s.phase = state;
      s.percent = 0;
      std::snprintf(s.status, sizeof s.status, "%s", state == kBuilding ? "Building ZIP..." : "Copying ZIP...");
      s.progress_shown = true;
      show_arrows(false);
      hide_all_options();
      s.copied = 0;
      if (state == kCopying) s.src_size = s.src >= 0 ? std::max(0LL, platform::file_length(s.src)) : 0;
      break;
    case kPreparing:
      set_start(false, nullptr);
      s.phase = kPreparing;
      s.percent = 0;
      std::snprintf(s.status, sizeof s.status, "Preparing diskette...");
      s.progress_shown = true;
      show_arrows(false);
      hide_all_options();
      s.message = MessageLines{};
      break;
    case kFinished:
      set_start(false, nullptr);
      set_exit("Exit");
      show_arrows(false);
      hide_all_options();
      s.progress_shown = false;
      break;
  }
}

void fail_to(int state, const std::string& message) {
  set_state(state);
  set_message(message.c_str());
}

// A failure of the work file on drive C: (or of a study read for it).  The
// cause the file layer noted takes the place of the text's second line,
// which asks for another diskette and would not help:
// "AddZip error.\nC:\TEMP\1.ZIP: No space left on device".
void fail_on_drive_c(int state, const std::string& text) {
  const std::string cause = platform::take_failure_cause();
  if (!cause.empty()) backup_log_append(text.substr(0, text.find('\n')) + " " + cause + "\n");
  fail_to(state, cause.empty() ? text : text.substr(0, text.find('\n')) + "\n" + cause);
}

std::string zvt_path() { return backup_file_path(s.drive, s.disk); }

bool overwrite_prompt() {
  static ButtonRecord table[] = {
      {kButtonShown, 205, 235, 305, 285, "YES", 'y', 100, 0},
      {kButtonShown, 335, 235, 435, 285, "NO", 'n', 101, 0},
      {kButtonHidden, 0, 0, 1, 1, "", kBackupKeyEscape, 101, 0},
      kButtonTableEnd,
  };
  platform::debug_printf("backup: A backup already exists on this disk. Overwrite?\n");
  const int code = run_panel(10, 170, 630, 310, "A backup already exists on this disk.", 180, "Overwrite?", 205, table,
                             {100, 101}, 101);
  backup_draw();
  return code == 100;
}

// The largest archive an empty diskette of the chosen type takes; on other
// drives what is free now is all there is.
std::int64_t empty_disk_room() {
  if (!options_drive(s.drive)) return s.free;
  return s.disk_type == kType144 ? 2846 * 512 : 712 * 1024;
}

int zip_begin_disk() {
  platform::clear_failure_cause();
  (void)platform::file_delete(kWorkZip);  // usually not there
  (void)platform::dir_create("C:\\TEMP");
  const int r = backup_zip_open(kWorkZip, 1);
  s.next = s.done_before + 1;
  if (s.db >= 0) (void)platform::file_seek(s.db, static_cast<long long>(s.done_before + 1) * kDbRecordBytes, SEEK_SET);
  const std::uint32_t estimate = backup_zip_estimate_size();
  if (s.free - static_cast<std::int64_t>(kDiskHeadroom) < static_cast<std::int64_t>(estimate)) return 1;
  return r;
}

int zip_add_next() {
  if (s.next > s.last) return 0;
  std::uint8_t record[kDbRecordBytes];
  if (s.db < 0 || platform::file_read(s.db, record, sizeof record) != static_cast<long long>(sizeof record)) return -1;
  int r = static_cast<int>(backup_zip_estimate_size());
  if (record[0] & 1) {
    std::string path;
    if (backup_zip_add_file(s.next, path) != 0) {
      (void)backup_zip_close();
      return -2;
    }
    const std::uint32_t estimate = backup_zip_estimate_size();
    r = static_cast<int>(estimate);
    if (static_cast<std::int64_t>(estimate) > s.free) {
      if (backup_zip_remove_last() != 0) {
        (void)backup_zip_close();
        return -3;
      }
      if (s.next == s.done_before + 1 && static_cast<std::int64_t>(estimate) > empty_disk_room()) {
        // Starting it again on the next diskette would never end: it is left
        // out, said so in the log and at the end, and the backup goes on.
        char line[96];
        std::snprintf(line, sizeof line, "Study %d does not fit on an empty diskette; not backed up.\n", s.next);
        backup_log_append(line);
        s.skipped = true;
        s.done_before = s.next;  // this diskette starts after it
        r = static_cast<int>(backup_zip_estimate_size());
      } else {
        r = 0;
        --s.next;
      }
    }
  }
  ++s.next;
  return r;
}

void step_prepare() {
  if (s.prep != kPrepNone) {
    const int r = floppy_format_track();
    if (r < 0) {
      fail_to(kWaiting, std::string(floppy_last_error()) + "\nPlease insert another diskette.");
      backup_draw();
      return;
    }
    if (r > 0) {
      s.percent = r;
      draw_progress();
      return;
    }
    if (floppy_write_boot_sector() != 0) {
      fail_to(kWaiting, std::string(floppy_last_error()) + "\nFailed, please insert another diskette.");
      backup_draw();
      return;
    }
  }
  const std::string zvt = zvt_path();
  if (backup_file_exists(zvt.c_str())) {
    if (!overwrite_prompt()) {
      set_state(kWaiting);
      backup_draw();
      return;
    }
    (void)platform::file_delete(zvt);  // a failure shows when the copy creates it
  }
  s.free = backup_free_space(s.drive);
  if (s.free < 0 || s.free > kFreeCap) s.free = kFreeCap;
  const int r = zip_begin_disk();
  if (r == 1 && s.drive != 'C' && s.free >= backup_free_space('C') - kKeptFreeOnC)
    // The room drive C: keeps for the work file is what is short: another
    // diskette would not help.
    fail_to(kWaiting, "Insufficient disk space on drive C:\nFree space on C:, then press 'Continue'.");
  else if (r == 1)
    fail_to(kWaiting, "Insufficient disk space.  Please\nerase or insert another diskette.");
  else if (r < 0)
    fail_on_drive_c(kIdle, "Fatal error: Failed to build ZIP.");
  else
    set_state(kBuilding);
  backup_draw();
}

void step_build() {
  const int r = zip_add_next();
  if (r > 0) {
    s.percent = static_cast<int>(static_cast<std::int64_t>(r) * 100 / std::max<std::int64_t>(1, s.free));
    if (s.last > 0 && s.next * 100 / s.last > s.percent) s.percent = s.next * 100 / s.last;
    update_progress();
    return;
  }
  if (r == 0) {
    if (backup_zip_close() != 0) {
      fail_on_drive_c(kWaiting, "Failed to close ZIP.\nPlease insert another disk.");
    } else if ((s.src = platform::file_open(kWorkZip, platform::OpenMode::kRead)) < 0) {
      platform::note_failure_cause(kWorkZip, s.src);
      fail_on_drive_c(kWaiting, "ZIP Copy failed to open source.\nPlease insert another diskette.");
    } else if ((s.dst = platform::file_open(zvt_path(), platform::OpenMode::kCreateAlways)) < 0) {
      close_copy_files();
      fail_to(kWaiting, "ZIP Copy failed to open destination.\nPlease insert another diskette.");
    } else {
      set_state(kCopying);
    }
    backup_draw();
    return;
  }
  (void)backup_zip_close();
  if (r == -1)
    fail_to(kIdle, "Archive database error.\nReindex archive and try again.");
  else if (r == -2)
    fail_on_drive_c(kWaiting, "AddZip error.\nPlease insert another diskette.");
  else if (r == -3)
    fail_on_drive_c(kWaiting, "RemZip error.\nPlease insert another diskette.");
  else
    fail_on_drive_c(kWaiting, "Build error.\nPlease insert another diskette.");
  backup_draw();
}

void copy_failed(int which) {
  close_copy_files();
  char text[80];
  std::snprintf(text, sizeof text, "Copy failed(%d).  Please insert another\ndiskette and press 'Continue'.", which);
  fail_to(kWaiting, text);
  backup_draw();
}

void step_copy() {
  if (s.src < 0 || s.dst < 0) return copy_failed(1);
  char buf[kCopyPiece];
  const long long n = platform::file_read(s.src, buf, sizeof buf);
  if (n < 0) return copy_failed(2);  // the work file cannot be read: the diskette is not whole
  if (n == 0) {
    (void)platform::file_close(s.src);  // read only
    s.src = -1;
    // The diskette's last cluster and directory entry are written on close:
    // only then is the copy whole.
    const int closed = platform::file_close(s.dst);
    s.dst = -1;
    if (closed != 0) return copy_failed(2);
    s.done_before = s.next - 1;
    if (s.next > s.last) {
      set_state(kFinished);
      set_message(s.skipped ? "Backup completed, but some studies\nwere skipped: see c:\\temp\\backup.log."
                            : "Backup Completed Successfully.");
    } else {
      ++s.disk;
      set_state(kWaiting);
      set_message("Success. Please insert another diskette\n and press 'Continue'.");
    }
    backup_draw();
    return;
  }
  if (platform::file_write(s.dst, buf, static_cast<std::size_t>(n)) != n) return copy_failed(2);
  s.copied += n;
  s.percent = s.src_size > 0 ? static_cast<int>(s.copied * 100 / s.src_size) : 0;
  update_progress();
}

void backup_step() {
  switch (s.state) {
    case kPreparing: step_prepare(); break;
    case kBuilding: step_build(); break;
    case kCopying: step_copy(); break;
    default: break;
  }
}

const char* prepare_message(int r) {
  switch (r) {
    case 1: return "Insufficient memory error.\nPlease insert another diskette.";
    case 2: return "Invalid options error.\nPlease insert another diskette.";
    case 3: return "Invalid drive error.\nPlease insert another diskette.";
    case 4: return "Failed to initialize drive.\nPlease insert another diskette.";
    case 5: return "Invalid disk type.\nPlease insert another diskette.";
    case 6: return "Incompatible media type.\nPlease insert another diskette.";
    default: return "Unknown disk preparation error.\nPlease insert another diskette.";
  }
}

void start_pressed() {
  if (s.state == kIdle) {
    s.disk = 1;
    s.done_before = 0;
    s.skipped = false;
    set_state(kWaiting);
  } else if (s.state == kWaiting) {
    backup_draw();
    (void)get_button_event(g_table);
    wait_button_release(g_table);
    if (s.prep == kPrepNone) {
      s.free = backup_free_space(s.drive);
      set_state(kPreparing);
    } else {
      const char request[4] = {s.drive, s.disk_type == kType720 ? '7' : '1', s.prep == kPrepErase ? 'Q' : 'F', 0};
      const int r = floppy_prepare(request);
      if (r == 0) {
        set_state(kPreparing);
      } else {
        (void)floppy_write_boot_sector();
        if (r == -1) {
          const char* e = floppy_last_error();
          set_message((std::string(*e ? e : "Unknown format error") + ".\nPlease insert another diskette.").c_str());
        } else {
          set_message(prepare_message(r));
        }
      }
    }
  }
  backup_draw();
}

void exit_pressed() {
  s.message = MessageLines{};
  switch (s.state) {
    case kIdle:
    case kFinished:
      (void)backup_zip_close();
      (void)floppy_write_boot_sector();
      if (s.db >= 0) (void)platform::file_close(s.db);  // read only
      s.db = -1;
      s.leave = true;
      return;
    case kCopying:
      close_copy_files();
      [[fallthrough]];
    case kBuilding:
      (void)backup_zip_close();
      set_state(kWaiting);
      set_message("Build Cancelled.\nInsert a disk and press 'Continue'.");
      break;
    case kPreparing:
      (void)floppy_write_boot_sector();
      set_state(kWaiting);
      set_message("Format Cancelled.\nInsert a disk and press 'Continue'.");
      break;
    case kWaiting: set_state(kIdle); break;
  }
}

void step_drive(int direction) {
  if (!s.arrows_shown) return;
  s.drive = next_drive(s.drive, direction);
  show_options(options_drive(s.drive));
}

}  // namespace

int backup_screen() {
  s = Screen{};
  set_state(kIdle);
  // A renumbering cut short leaves a database that names other files: it
  // is rebuilt before it is copied.
  s.db = finish_interrupted_reindex() ? platform::file_open(kArchiveDbPath, platform::OpenMode::kRead) : -1;
  if (s.db < 0) {
    set_start(false, nullptr);
    set_message("Archive DB missing.  Please reindex.\nPress 'Exit' to go back.");
  }
  (void)pointer_position();
  backup_draw();
  s.last = static_cast<std::uint16_t>(last_archive_number(1));
  while (!s.leave) {
    // Building, copying and formatting go one step a pass: the passes stay short.
    const int code = next_screen_code(g_table, s.state == kBuilding || s.state == kCopying || s.state == kPreparing);
    switch (code) {
      case kExit: exit_pressed(); break;
      case kStart:
        if (!s.start_enabled) continue;
        s.message = MessageLines{};
        start_pressed();
        continue;
      case kDriveDown: step_drive(-1); break;
      case kDriveUp: step_drive(+1); break;
      case kPrepNone:
      case kPrepErase:
      case kPrepFormat:
        if (g_table[code == kPrepNone ? iNone : code == kPrepErase ? iErase : iFormat].state == kButtonHidden) continue;
        s.prep = code;
        break;
      case kChoiceUp:
        if (!s.options_shown || s.prep >= kPrepFormat) continue;
        ++s.prep;
        break;
      case kChoiceDown:
        if (!s.options_shown || s.prep <= kPrepNone) continue;
        --s.prep;
        break;
      case kType720:
      case kType144:
        if (g_table[code == kType720 ? i720 : i144].state == kButtonHidden) continue;
        s.disk_type = code;
        break;
      default: backup_step(); continue;
    }
    if (s.leave) break;
    backup_draw();
  }
  keep_passes_short(false);
  return 0;
}

}  // namespace vaslab
