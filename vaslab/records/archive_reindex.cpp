#include "vaslab/records/archive_reindex.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/file_io.h"
#include "platform/find.h"
#include "platform/paths.h"
#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/input/system_utils.h"
#include "vaslab/core/toolkit/buttons.h"
#include "vaslab/core/toolkit/message_box.h"
#include "vaslab/core/toolkit/screen.h"
#include "vaslab/records/archive_db.h"
#include "vaslab/records/study_type.h"
#include "vaslab/reports/page_description.h"

namespace vaslab {
namespace {

// The new database is built under this name beside the live one and
// renamed over it once complete, so that a reindex cut short leaves the old
// database (and every study it finds) as it was.
// A temporary name of the file layer's: a reindex killed before it put
// the new database in place leaves it for the next start's sweep.
constexpr const char* kNewDbPath = "c:\\programs\\~DBNEW.tmp~";
constexpr std::size_t kHeaderFieldBytes = 114;
// A study file is at least its page header.
constexpr std::uint64_t kMinStudyBytes = 4869;
constexpr int kTimerSlot = 3;

void (*g_hook)(int) = nullptr;
void hook(int step) {
  if (g_hook) g_hook(step);
}
void tick(const ReindexTick& t) {
  if (t) t();
}

template <typename... A>
void log_format(const char* format, A... args) {
  char line[600];
  std::snprintf(line, sizeof line, format, args...);
  append_dbindex_log(line);
}

std::string folder() { return archive_folder_text(1); }
std::string linux_path(const std::string& name) { return platform::map_path(folder() + name); }

std::string canonical_name(const std::string& base) {
  const std::string ext = archive_extension(1);
  return ext.empty() ? base : base + "." + ext;
}

// The entries a reindex works on, listed once before anything is renamed:
// files only, without the counter file, a save's temporary copy and journal
// and any other writer's temporary (a cut copy must never become a study).
std::vector<std::string> archive_entries() {
  std::vector<std::string> names;
  for (const auto& f : platform::list_files(folder() + "*")) {
    if (f.attributes & platform::kAttrDirectory) continue;
    if (f.name == "0" || ::strcasecmp(f.name.c_str(), kSaveTemporary) == 0) continue;
    if (::strcasecmp(f.name.c_str(), kSaveJournal) == 0) continue;
    if (platform::is_temporary_name(f.name)) continue;
    names.push_back(f.name);
  }
  return names;
}

// The first 114 bytes of an archive file, when it can be a study: as long
// as a page header and beginning with its magic (the identification's own
// check, so that the quick reindex keeps what the full one would index).
// 0 read and a study, 1 missing, 2 too short or no page.
int read_study_head(const std::string& lpath, std::uint8_t* head) {
  const auto size = platform::file_size(lpath);
  if (!size) return 1;
  if (!platform::read_file_at(lpath, 0, head, kHeaderFieldBytes) || *size < kMinStudyBytes) return 2;
  if (head[0] != kPageMagic0 || head[1] != kPageMagic1) return 2;
  return 0;
}

// The study type the identification gives a file; false when it refuses the
// file, which then is not indexed by either reindex.
bool identify_study(const std::string& win_path, std::uint8_t& type) {
  if (riproc_match_study_type(win_path.c_str()) != kRiprocDone) return false;
  type = static_cast<std::uint8_t>(peek_comm_area_word(0, kStepSlot));
  return true;
}

// A record made from a study's header and its type.
ArchiveDbRecord record_from_file(const std::uint8_t* head, std::uint8_t type) {
  ArchiveDbRecord r{};
  r.flags = 1;
  std::memcpy(r.name, head + 32, sizeof r.name);
  std::memcpy(r.id, head + 62, sizeof r.id);
  std::memcpy(r.date, head + 92, sizeof r.date);
  r.type = type;
  std::uint16_t sum = 0;
  check_db_record(r, &sum);
  r.checksum = sum;
  return r;
}

bool write_record(int fd, long number, const ArchiveDbRecord& r) {
  std::uint8_t bytes[kDbRecordBytes];
  encode_db_record(r, bytes);
  const off_t at = static_cast<off_t>(number) * static_cast<off_t>(kDbRecordBytes);
  return ::pwrite(fd, bytes, sizeof bytes, at) == static_cast<ssize_t>(sizeof bytes);
}

// Puts down the marker of a renumbering (kReindexMarkerPath), durably, before
// the first archive file is renamed.  False, errno set, when it could not.
bool mark_renumbering() {
  const std::string path = platform::map_path_create_dirs(kReindexMarkerPath);
  static constexpr char kText[] = "renumbering\r\n";
  if (const int r = platform::write_file_atomic(path, kText, sizeof kText - 1, 0600); r != 0) {
    errno = -r;
    return false;
  }
  return fsync_folder(path.substr(0, path.rfind('/')));
}

// The database rebuilt from the renamed files is in place, or, when it could
// not be made, the old one that no longer describes them is gone: the mark
// goes.  A mark that cannot go makes the next access try again.
void end_renumbering(bool rebuilt) {
  const std::string db = platform::map_path(kArchiveDbPath);
  if (!rebuilt && ::unlink(db.c_str()) != 0 && errno != ENOENT) return;
  const std::string path = platform::map_path(kReindexMarkerPath);
  if (::unlink(path.c_str()) == 0) (void)fsync_folder(path.substr(0, path.rfind('/')));
}

bool header_agrees(const ArchiveDbRecord& r, const std::uint8_t* head) {
  return std::strncmp(r.name, reinterpret_cast<const char*>(head + 32), sizeof r.name) == 0 &&
         std::strncmp(r.id, reinterpret_cast<const char*>(head + 62), sizeof r.id) == 0 &&
         std::strncmp(r.date, reinterpret_cast<const char*>(head + 92), sizeof r.date) == 0;
}

// One record of the quick reindex; false when the operation fails.
bool quick_record(int fd, long k, QuickReindexCounts& c) {
  std::uint8_t bytes[kDbRecordBytes];
  const off_t at = static_cast<off_t>(k) * static_cast<off_t>(kDbRecordBytes);
  if (::pread(fd, bytes, sizeof bytes, at) != static_cast<ssize_t>(sizeof bytes)) {
    log_format("Failed to read record %li from Databse.", k);
    return false;
  }
  ArchiveDbRecord r;
  decode_db_record(bytes, r);
  const std::string win = folder() + archive_file_name(1, static_cast<int>(k));
  const std::string lpath = platform::map_path(win);
  std::uint8_t head[kHeaderFieldBytes];
  auto put = [&](const ArchiveDbRecord& rec) {
    if (write_record(fd, k, rec)) return true;
    log_format("Failed to write record %li to database.", k);
    return false;
  };
  // The record the full reindex would make of the file; zeros (and the
  // full reindex's log line) when the identification refuses it.
  auto rebuilt = [&]() {
    std::uint8_t type = 0;
    if (identify_study(win, type)) return record_from_file(head, type);
    log_format("RIPROC failed, filename \"%s\"", archive_file_name(1, static_cast<int>(k)).c_str());
    return ArchiveDbRecord{};
  };
  if (!check_db_record(r)) {
    ++c.checksum_faults;
    log_format("Checksum failed on record %li.", k);
    const int state = read_study_head(lpath, head);
    if (state == 2) log_format("Failed to read ZVT file number %li.", k);
    const bool written = put(state == 0 ? rebuilt() : ArchiveDbRecord{});
    return written && state != 2;
  }
  if (!(r.flags & 1)) {
    // A study under a number whose record is clear (a compression or a
    // restore cut short) would be hidden from every search: index it.
    std::uint8_t type = 0;
    if (read_study_head(lpath, head) != 0 || !identify_study(win, type)) {
      ++c.disabled;
      return true;
    }
    ++c.failed_verification;
    log_format("Verification failed on record %li.", k);
    return put(record_from_file(head, type));
  }
  ++c.enabled;
  switch (read_study_head(lpath, head)) {
    case 1:
      log_format("ZVT file missing, record number %li.", k);
      ++c.missing_files;
      put(ArchiveDbRecord{});
      return false;
    case 2:
      log_format("ZVT filesize incorrect, file number %li.", k);
      ++c.short_files;
      put(ArchiveDbRecord{});
      return false;
    default: break;
  }
  if (header_agrees(r, head)) {
    ++c.verified;
    return true;
  }
  ++c.failed_verification;
  log_format("Verification failed on record %li.", k);
  return put(rebuilt());
}

// --- Screens -----------------------------------------------------------------

constexpr int kCodeExit = 100, kCodeQuick = 101, kCodeFull = 102, kCodeCompress = 103;
// White on the set-up menus' background, in 8 by 14 cells: the counter
// lines are laid out by character columns.
constexpr int kTextColour = kColorWhite;
constexpr int kTextColumn = 17;

ButtonRecord g_menu[] = {
    make_button(10, 56, 630, 125, "Quick Reindex", kCodeQuick, 'q'),
    make_button(10, 132, 630, 201, "Full Reindex", kCodeFull, 'f'),
    make_button(10, 208, 630, 277, "Full & Compress", kCodeCompress, 'c'),
    make_button(10, 400, 630, 469, "Exit", kCodeExit, kEscapeKeyCode, 17),
    kButtonTableEnd,
};
ButtonRecord g_exit[] = {
    make_button(10, 400, 630, 469, "Exit", kCodeExit, kEscapeKeyCode, 17),
    kButtonTableEnd,
};

// The turning bar of the progress line, one step a redraw.
int g_bar = 0;

void clear_for_screen() {
  release_background();
  g_draw.fill_color = kColorBackground;
  clear_screen();
}

void draw_title(const char* title) {
  fill_rect_color(0, 6, 640, 40, kColorBackground);
  set_text_justify(kJustifyCentre, kJustifyBaseline);
  draw_white_text(320, 30, title);
  set_text_justify(kJustifyLeft, kJustifyTop);
}

void draw_text_at(int y, int column, const char* text) {
  draw_text_cells(text, y, column, kColorBackground, kTextColour);
}

void draw_line_text(int y, const char* text) {
  fill_rect_color(0, y, 640, y + 14, kColorBackground);
  draw_text_at(y, kTextColumn, text);
}

void draw_rule(int y, int x2) {
  g_draw.draw_color = kTextColour;
  draw_line(kTextColumn * 8, y, x2, y);
}

void draw_status(int y, bool finished) {
  static const char kBar[4][2] = {{'\xC4', 0}, {'\\', 0}, {'\xB3', 0}, {'/', 0}};
  char line[120];
  if (finished) {
    std::snprintf(line, sizeof line, "Finished.  Press 'Exit' below to return to the main Archive Reindexing screen.");
    fill_rect_color(0, y, 640, y + 14, kColorBackground);
    draw_text_at(y, 0, line);
    return;
  }
  std::snprintf(line, sizeof line, "Processing, please wait... %s", kBar[g_bar]);
  g_bar = (g_bar + 1) % 4;
  draw_line_text(y, line);
}

// Shows a finished operation: the Exit button, a beep, and a press.
void wait_for_exit() {
  draw_buttons(g_exit);
  flush_dirty();
  beep_once();
  for (;;) {
    const int code = get_button_event(g_exit);
    if (code == kCodeExit) break;
  }
  wait_button_release(g_exit);
}

// Redraws on every second expiry of the 500 ms timer: about once a second.
ReindexTick screen_tick(std::function<void()> redraw) {
  auto half = std::make_shared<int>(0);
  return [redraw, half] {
    if (!tick_timer_expired(kTimerSlot)) return;
    if (++*half % 2 == 0) {
      redraw();
      flush_dirty();
    }
  };
}

void run_quick() {
  QuickReindexCounts c;
  clear_for_screen();
  draw_quick_reindex_progress(c, false);
  const bool ok = quick_reindex(c, screen_tick([&] { draw_quick_reindex_progress(c, false); }));
  if (!ok) {
    // The box is a band across the middle of the screen, where the counts
    // stand: they go first rather than show cut under it.
    clear_for_screen();
    draw_title("Quick Reindex Progress");
    show_message_box(nullptr, "Failed, Please Full Reindex.", nullptr, 0);
    return;
  }
  draw_quick_reindex_progress(c, true);
  wait_for_exit();
}

void run_full(long about) {
  FullReindexCounts c;
  c.about = about;
  clear_for_screen();
  draw_full_reindex_progress(c, false);
  full_reindex(c, about, screen_tick([&] { draw_full_reindex_progress(c, false); }));
  draw_full_reindex_progress(c, true);
  wait_for_exit();
}

void run_compress() {
  CompressCounts c;
  clear_for_screen();
  draw_compression_progress(c, false);
  compress_archive(c, screen_tick([&] { draw_compression_progress(c, false); }));
  draw_compression_progress(c, true);
  beep_once();
  for (int period = 0; period < 10; ++period) {
    char line[80];
    std::snprintf(line, sizeof line, "Full Reindex will begin automatically in %i seconds.", (10 - period) / 2);
    fill_rect_color(0, 118, 640, 132, kColorBackground);
    draw_text_at(118, 40 - static_cast<int>(std::strlen(line)) / 2, line);
    flush_dirty();
    delay_ms(500);
  }
  run_full(c.compressed);
}

}  // namespace

void append_dbindex_log(const char* line) {
  const int h = platform::file_open(kDbIndexLog, platform::OpenMode::kAppend);
  if (h < 0) return;
  std::string text = line ? line : "";
  text += "\r\n";
  (void)platform::file_write(h, text.data(), text.size());  // a log that cannot take a line loses it
  (void)platform::file_close(h);
}

void set_reindex_hook(void (*h)(int)) { g_hook = h; }

bool finish_interrupted_reindex() {
  if (!archive_reindex_pending()) return true;
  FullReindexCounts c;
  full_reindex(c, last_archive_number(1));
  return !archive_reindex_pending();
}

bool quick_reindex(QuickReindexCounts& c, const ReindexTick& t) {
  c = QuickReindexCounts{};
  if (!finish_interrupted_reindex()) return false;
  c.last = last_archive_number(1);
  const int fd = ::open(platform::map_path(kArchiveDbPath).c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return false;
  std::uint8_t bytes[kDbRecordBytes];
  bool ok = true;
  if (::pread(fd, bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) {
    append_dbindex_log("Failed to read 0 record from Database.");
    ok = false;
  }
  for (long k = 1; ok && k <= c.last; ++k) {
    ++c.checked;
    ok = quick_record(fd, k, c);
    hook(1);
    tick(t);
  }
  if (::fdatasync(fd) != 0) ok = false;
  if (::close(fd) != 0) ok = false;
  return ok;
}

void full_reindex(FullReindexCounts& c, long about, const ReindexTick& t) {
  c = FullReindexCounts{};
  c.about = about;
  ::unlink(linux_path("0").c_str());
  const std::string temp = platform::map_path_create_dirs(kNewDbPath);
  ::unlink(temp.c_str());  // the leftover of a reindex cut short
  int fd = ::open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd >= 0 && ::ftruncate(fd, static_cast<off_t>(kNewDbRecords * kDbRecordBytes)) != 0) {
    ::close(fd);
    ::unlink(temp.c_str());
    fd = -1;
  }
  if (fd < 0) append_dbindex_log("Failed to create DB file.");

  // A renumbering cut short, or the first rename of this one, makes the old
  // database untrue until the new one is in place.
  bool marked = archive_reindex_pending();
  bool in_place = false;
  long highest = 0;
  for (const std::string& name : archive_entries()) {
    const std::string canonical = canonical_name(name.substr(0, name.find('.')));
    bool renamed = false;
    if (::strcasecmp(canonical.c_str(), name.c_str()) != 0) {
      // A name that is taken refuses the rename before anything is marked.
      struct stat taken;
      bool moved = false;
      if (::lstat(linux_path(canonical).c_str(), &taken) == 0)
        errno = EEXIST;
      else
        moved = (marked || (marked = mark_renumbering())) && rename_no_replace(linux_path(name), linux_path(canonical));
      if (!moved) {
        log_format("Error renaming %s to %s (errno %i).\r\n", name.c_str(), canonical.c_str(), errno);
        ++c.rename_failed;
        ++c.skipped;
        hook(1);
        tick(t);
        continue;
      }
      ++c.renamed;
      renamed = true;
    }
    ++c.entries;
    const std::string win = folder() + canonical;
    std::uint8_t head[kHeaderFieldBytes];
    const long n = leading_number(name.c_str(), name.size());
    std::uint8_t type = 0;
    if (!identify_study(win, type)) {
      log_format("RIPROC failed, filename \"%s\"", name.c_str());
      ++c.skipped;
    } else if (read_study_head(platform::map_path(win), head) != 0) {
      log_format("Invalid ZVT size, filename \"%s\"", win.c_str());
      ++c.removed;
    } else if (n < 0) {
      log_format("Number beyond the archive's range, filename \"%s\"", name.c_str());
      ++c.skipped;
    } else if (n > 0) {
      highest = std::max(highest, n);
      if (fd >= 0 && !write_record(fd, n, record_from_file(head, type)))
        log_format("Failed to write record %li to database.", n);
      else if (!renamed)
        ++c.processed;
    }
    hook(1);
    tick(t);
  }

  if (fd >= 0) {
    const bool ok = platform::sync_file(fd) == 0;
    if (::close(fd) != 0 || !ok) {
      ::unlink(temp.c_str());
      append_dbindex_log("Failed to create DB file.");
    } else {
      hook(3);
      const std::string live = platform::map_path_create_dirs(kArchiveDbPath);
      if (platform::rename_file(temp, live) != 0) {
        ::unlink(temp.c_str());
        append_dbindex_log("Failed to create DB file.");
      } else {
        // The mark may go only once the new database's name is durable.
        in_place = fsync_folder(live.substr(0, live.rfind('/')));
      }
    }
  }
  if (marked) end_renumbering(in_place);
  const std::string counter = std::to_string(highest);
  if (platform::write_file_atomic(linux_path("0"), counter.data(), counter.size(), 0600) != 0)
    append_dbindex_log("Failed to create 0 file.");
}

void compress_archive(CompressCounts& c, const ReindexTick& t) {
  c = CompressCounts{};
  c.last = last_archive_number(1);
  ::unlink(linux_path("0").c_str());
  const std::string ext = archive_extension(1);
  const std::vector<std::string> entries = archive_entries();
  // An entry's number; one in another folder's form moves into the next gap.
  auto number_of = [&](const std::string& name, long i) -> long {
    const std::size_t dot = name.find('.');
    if (!ext.empty() && (dot == std::string::npos || ::strcasecmp(name.c_str() + dot + 1, ext.c_str()) != 0))
      return i + 1;
    return leading_number(name.c_str(), name.size());
  };
  // The names in the folder, upper-cased: whether a number is taken is asked
  // for every number, and a folder lookup each time would make the
  // compression quadratic in the size of the archive.
  auto upper = [](std::string n) {
    for (char& ch : n) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    return n;
  };
  std::set<std::string> taken;
  for (const auto& f : platform::list_files(folder() + "*")) taken.insert(upper(f.name));
  const std::string dir = platform::map_path(folder());
  std::size_t next = 0;
  long i = 0;
  bool marked = archive_reindex_pending();
  while (i < kMaxArchiveNumber) {
    const std::string target = archive_file_name(1, static_cast<int>(i + 1));
    if (taken.count(upper(target))) {
      c.compressed = ++i;
      tick(t);
      continue;
    }
    bool moved = false;
    while (!moved && next < entries.size()) {
      const std::string& name = entries[next++];
      const long n = number_of(name, i);
      if (n <= i) continue;
      // Without the mark no file may move: a kill would leave the database
      // naming other patients' files with nothing to say so.
      if (!marked && !(marked = mark_renumbering())) {
        log_format("Compress: Error renaming %s to %s (errno %i).\r\n", name.c_str(), target.c_str(), errno);
        break;
      }
      if (rename_no_replace(dir + name, dir + target)) {
        taken.erase(upper(name));
        taken.insert(upper(target));
      } else {
        log_format("Compress: Error renaming %s to %s (errno %i).\r\n", name.c_str(), target.c_str(), errno);
      }
      moved = true;
    }
    if (!moved) break;
    c.compressed = ++i;
    hook(2);
    tick(t);
  }
  (void)fsync_folder(dir);  // renames done; a lost one leaves its file under the old name
}

// --- Screens -----------------------------------------------------------------

void draw_reindex_menu() {
  clear_for_screen();
  draw_buttons(g_menu);
  draw_title("Select Archive Reindexing Option");
}

namespace {

std::string counter_line(const char* label, long value, const char* format = "%-35s %10li") {
  char line[120];
  std::snprintf(line, sizeof line, format, label, value);
  return line;
}

void draw_report(const std::vector<ReportLine>& lines) {
  for (const auto& l : lines) {
    if (l.text.empty())
      draw_rule(l.y, l.rule_end);
    else
      draw_line_text(l.y, l.text.c_str());
  }
}

}  // namespace

std::vector<ReportLine> quick_reindex_report(const QuickReindexCounts& c) {
  char total[120];
  std::snprintf(total, sizeof total, "%-41s %10li/%li", "Total Entries Checked:", c.checked, c.last);
  return {{58, counter_line("Entries verified OK:", c.verified)},
          {73, counter_line("Entries failed verification:", c.failed_verification)},
          {88, counter_line("Entries removed (filesize):", c.short_files)},
          {103, counter_line("Entries removed (no file):", c.missing_files)},
          {120, "", 502},
          {133, counter_line("Total Enabled entries verified:", c.enabled, "%-41s %10li")},
          {148, counter_line("Disabled entries skipped:", c.disabled, "%-41s %10li")},
          {163, counter_line("Checksum faults repaired:", c.checksum_faults, "%-41s %10li")},
          {180, "", 542},
          {193, total}};
}

std::vector<ReportLine> full_reindex_report(const FullReindexCounts& c) {
  std::vector<ReportLine> r;
  int y = 58;
  r.push_back({y, counter_line("Entries processed OK:", c.processed)});
  r.push_back({y += 15, counter_line("Entries removed (filesize):", c.removed)});
  r.push_back({y += 15, counter_line("Old Archive files renamed:", c.renamed)});
  if (c.rename_failed) r.push_back({y += 15, counter_line("Rename Failed:", c.rename_failed, "%-35s %10li (Should be 0)")});
  if (c.skipped > c.rename_failed)
    r.push_back({y += 15, counter_line("Skipped (See log):", c.skipped - c.rename_failed, "%-35s %10li (Should be 0)")});
  r.push_back({y += 18, "", 502});
  char total[120];
  std::snprintf(total, sizeof total, "%-35s %10li/About %li", "Total Entries Created:", c.entries, c.about);
  r.push_back({y + 12, total});
  return r;
}

std::vector<ReportLine> compression_report(const CompressCounts& c) {
  char line[120];
  std::snprintf(line, sizeof line, "%-35s %10li/At Most %li", "Total Files Compressed:", c.compressed, c.last);
  return {{58, line}};
}

void draw_quick_reindex_progress(const QuickReindexCounts& c, bool finished) {
  draw_title("Quick Reindex Progress");
  draw_report(quick_reindex_report(c));
  draw_status(223, finished);
}

void draw_full_reindex_progress(const FullReindexCounts& c, bool finished) {
  draw_title("Full Reindex Progress");
  // The failure lines come and go as the counts change, moving the lines
  // below them: the old ones are wiped first, down to the Exit button.
  fill_rect_color(0, 44, 640, 396, kColorBackground);
  const auto lines = full_reindex_report(c);
  draw_report(lines);
  draw_status(lines.back().y + 30, finished);
}

void draw_compression_progress(const CompressCounts& c, bool finished) {
  draw_title(finished ? "Compression Complete" : "Compression Progress");
  draw_report(compression_report(c));
  if (finished)
    fill_rect_color(0, 80, 640, 104, kColorBackground);
  else
    draw_status(88, false);
}

void reindex_archive_db() {
  start_tick_timer(kTimerSlot, 500, kTickPeriodic);
  for (;;) {
    draw_reindex_menu();
    int code;
    do {
      code = get_button_event(g_menu);
    } while (code < kCodeExit || code > kCodeCompress);
    wait_button_release(g_menu);
    switch (code) {
      case kCodeQuick: run_quick(); break;
      case kCodeFull: run_full(last_archive_number(1)); break;
      case kCodeCompress: run_compress(); break;
      default: return;
    }
  }
}

}  // namespace vaslab
