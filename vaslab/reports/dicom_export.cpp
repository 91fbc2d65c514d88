// The DICOM hand-off.  Study calls copy each study's page description and
// worklist file into the export folder, stamp its time and gather its values
// like the delimited-text export; the end call writes each study's text
// file, runs the site's converter once per study and shows how each went.
// The workstation writes no DICOM itself: the converter does, from the files
// it finds in the export folder, which is why it runs there.
#include "vaslab/reports/dicom_export.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/dos_time.h"
#include "platform/failure_cause.h"
#include "platform/file_io.h"
#include "platform/find.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/settings/settings.h"
#include "vaslab/core/toolkit/buttons.h"
#include "vaslab/core/toolkit/main_window.h"
#include "vaslab/core/toolkit/screen.h"
#include "vaslab/reports/delimited_export.h"
#include "vaslab/reports/export_args.h"
#include "vaslab/reports/module_entries.h"
#include "vaslab/reports/report_generator.h"
#include "vaslab/reports/template_format.h"

namespace vaslab {
namespace {

enum Result : int { kOk = 0, kBadArguments = 1, kNoPage = 9, kNoData = 10, kFileError = 11 };

constexpr char kConverter[] = "C:\\PROGRAMS\\DODARER.EXE";
constexpr char kWorkFile[] = "C:\\TEMP\\DELIMDB";
constexpr int kMaxStudies = 50;
constexpr int kVisibleRows = 23;
constexpr char kColumnBar = static_cast<char>(0xB3);
constexpr int kStatusWidth = 20;

enum Code : int { kUp = 100, kDown = 101, kRetry = 102, kStatus = 103, kExit = 104 };

// --- Study call -------------------------------------------------------------

int study_call(const ExportArgs& args) {
  std::string iproc = "C:\\PROGRAMS\\IPROC", id = args.id_text;
  char* argv[] = {iproc.data(), id.data(), nullptr};
  if (const int r = generate_report(2, argv)) return r;
  const std::string data = data_directory_path();
  const std::string pdf = platform::map_path(data + args.id_text + ".pdf");
  if (copy_export_file(data + args.id_text + ".pdf", export_file(args.destination, args.id_text + ".zvt"), true) != 0)
    return kBadArguments;
  const std::string exp = platform::map_path(data + args.id_text + ".exp");
  if (platform::file_size(exp))
    (void)platform::copy_file_atomic(exp, platform::map_path(export_file(args.destination, args.id_text + ".exp")));

  std::uint32_t stamp = 0;
  if (!dicom_file_stamp(pdf, stamp)) return kNoPage;
  return gather_dicom_study(args, stamp, [&](std::uint32_t final_stamp) {
    std::uint8_t bytes[4];
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<std::uint8_t>(final_stamp >> (8 * i));
    const std::string tim = platform::map_path(export_file(args.destination, args.id_text + ".tim"));
    const int r = platform::write_file_atomic(tim, bytes, sizeof bytes);
    platform::note_failure_cause(export_file(args.destination, ""), r);
    return r == 0 ? kOk : kNoData;
  });
}

// --- End call ---------------------------------------------------------------

struct StatusRow {
  std::string file;  // "<n>.zvt"
  std::string name, type, status;

  // Name, type and status in their columns, each cut to fit.
  std::string text() const {
    auto column = [](const std::string& s, std::size_t w) {
      std::string c = s.substr(0, w);
      c.resize(w, ' ');
      return c;
    };
    return column(name, 29) + kColumnBar + column(type, 29) + kColumnBar + column(status, kStatusWidth);
  }
};

// The progress lines and the log view stand on the plain background tile.
void clear_to_tile() {
  release_background();
  g_draw.fill_color = kColorBackground;
  clear_screen();
}

std::string stem_of(const std::string& file) { return file.substr(0, file.rfind('.')); }

const char* failure_text(int r) {
  switch (r) {
    case kBadArguments: return "Internal error.";
    case kNoPage: return "No patient name, etc...";
    case kNoData: return "No waveforms or pressures.";
    case kFileError: return "File error.";
    default: return nullptr;
  }
}

std::string dos_error_text(int error) {
  char text[96];
  std::snprintf(text, sizeof text, "DOS%d:%s", -error, std::strerror(error));
  return text;
}

class DicomBatch {
 public:
  explicit DicomBatch(const ExportArgs& args) : args_(args), text_mode_(args.options & 0x80) {}

  int run() {
    for (const auto& f : platform::list_files(export_file(args_.destination, "*.zvt"))) {
      if (f.attributes & platform::kAttrDirectory) continue;
      if (rows_.size() >= kMaxStudies) break;
      rows_.push_back(StatusRow{f.name, {}, {}, {}});
      process(rows_.size() - 1, false);
    }
    status_screen();
    platform::file_delete(kWorkFile);
    return kOk;
  }

 private:
  std::string folder_file(const std::string& name) const {
    return platform::map_path(export_file(args_.destination, name));
  }

  // A progress line: on the screen at `y` (column `column`), or on standard
  // output.
  void say(const std::string& text, int y, int column = 0) {
    if (text_mode_) {
      std::printf("%s\n", text.c_str());
      std::fflush(stdout);
    } else {
      draw_text_cells(text.substr(0, 80 - column).c_str(), y, column, kColorBackground, kColorWhite);
      flush_dirty();
    }
  }

  void process(std::size_t i, bool retry) {
    StatusRow& row = rows_[i];
    int r = 0;
    if (!retry) {
      DicomStudyInfo info;
      r = write_dicom_text(args_.destination, row.file, info);
      row.name = info.name;
      row.type = info.type;
      if (text_mode_) {
        std::printf("Processing...\nName: %s\nI.D.: %s\nType: %s\n\n", info.name.c_str(), info.id.c_str(),
                    info.type.c_str());
      } else {
        clear_to_tile();
        say("Processing...", 15);
        say("Name:", 30);
        say(info.name, 30, 7);
        say("I.D.:", 45);
        say(info.id, 45, 7);
        say("Type:", 60);
        say(info.type, 60, 7);
      }
    } else {
      row.status = "Retrying, wait...";
      draw_status_screen();
    }
    if (r == 0) {
      const int code = start_dicom_converter(args_.destination, stem_of(row.file), args_.options);
      if (!retry) say("Processing complete.", 90);
      if (code == 0)
        row.status = dicom_log_status(folder_file(stem_of(row.file) + ".log"));
      else
        row.status = "ERM:" + dos_error_text(code);
      row.status.resize(std::min(row.status.size(), std::size_t{kStatusWidth}));
      if (!retry) say(row.status, 115);
    } else {
      const char* known = failure_text(r);
      const std::string text = known ? known : dos_error_text(errno);
      if (!retry && text_mode_) {
        say("Processing failed:..." + text, 90);
      } else if (!retry) {
        say("Processing failed:", 90);
        say(text, 90, 19);
      }
      row.status = "ERR:" + text.substr(0, 16);
    }
    if (retry) draw_status_screen();
    if ((args_.options & 0x40) && !retry) {
      say("Press any key to continue...", 130);
      wait_key();
    }
  }

  void wait_key() {
    const ButtonRecord none[] = {kButtonTableEnd};
    int e = kNoEvent;
    while (e <= 0 && is_event_loop_live()) e = get_button_event_typing(none);
    wait_button_release_typing(none);
  }

  void draw_status_screen() {
    if (text_mode_) {
      for (const StatusRow& row : rows_) std::printf("%s %s\n", row.file.c_str(), row.text().c_str());
      std::fflush(stdout);
    }
    // The list stands on a light plate whose edges are the lines under the
    // header (y 14) and above the buttons (y 366); the selected row is
    // highlighted as in the other lists.
    load_background("dcm_bkgd");
    g_draw.fill_color = kColorBackground;
    clear_screen();
    const StatusRow header{"", "NAME", "TYPE", "STATUS"};
    draw_text_cells(header.text().c_str(), 0, 0, kColorBackground, kColorWhite);
    const bool above = top_ > 0, below = top_ + kVisibleRows < static_cast<int>(rows_.size());
    draw_text_cells(std::string(80, above ? '\x18' : ' ').c_str(), 15, 0, kColorBackground, kColorTeal);
    draw_text_cells(std::string(80, below ? '\x19' : ' ').c_str(), 351, 0, kColorBackground, kColorTeal);
    for (int k = 0; k < kVisibleRows && top_ + k < static_cast<int>(rows_.size()); ++k) {
      const int i = top_ + k, y = 29 + 14 * k;
      draw_cell_list_row(rows_[i].text().c_str(), y, i == selected_);
    }
    draw_text_cells("KORVANI", 384, 62, kColorBackground, kColorWhite);
    draw_text_cells("DICOM", 397, 63, kColorBackground, kColorWhite);
    draw_buttons(buttons_);
    flush_dirty();
  }

  void select(int step) {
    if (rows_.empty()) return;
    selected_ = std::clamp(selected_ + step, 0, static_cast<int>(rows_.size()) - 1);
    if (selected_ < top_) top_ = selected_;
    if (selected_ >= top_ + kVisibleRows) top_ = selected_ - kVisibleRows + 1;
    draw_status_screen();
  }

  void status_screen() {
    draw_status_screen();
    for (;;) {
      const int e = get_button_event(buttons_);
      if (e <= 0) continue;
      wait_button_release(buttons_);
      switch (e & ~kRepeatBit) {
        case kExit: return;
        case kUp: select(-1); break;
        case kDown: select(1); break;
        case kStatus:
          if (rows_.empty()) break;
          show_dicom_log(folder_file(stem_of(rows_[selected_].file) + ".log"));
          draw_status_screen();
          break;
        case kRetry:
          if (rows_.empty()) break;
          (void)::remove(folder_file(stem_of(rows_[selected_].file) + ".log").c_str());
          process(selected_, true);
          break;
        default: break;
      }
    }
  }

  const ExportArgs& args_;
  const bool text_mode_;
  std::vector<StatusRow> rows_;
  int selected_ = 0, top_ = 0;
  ButtonRecord buttons_[6] = {
      make_button(430, 430, 640, 480, "EXIT^dcm_exit", kExit, kEscapeKeyCode, 17),
      make_button(0, 370, 210, 420, "\x18^dcm_up", kUp, 294, 19),
      make_button(0, 430, 210, 480, "\x19^dcm_down", kDown, 296, 20),
      make_button(215, 370, 425, 420, "STATUS^dcm_status", kStatus, 's', 12),
      make_button(215, 430, 425, 480, "RETRY^dcm_retry", kRetry, 'r', 13),
      kButtonTableEnd,
  };
};

}  // namespace

bool dicom_file_stamp(const std::string& linux_path, std::uint32_t& stamp) {
  struct stat st {};
  if (::stat(linux_path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  stamp = platform::dos_time(st.st_mtime);
  return true;
}

std::string dicom_stamp_text(std::uint32_t v) {
  char text[32];
  std::snprintf(text, sizeof text, "%04u%02u%02u%02u%02u%02u", (v >> 25) + 1980, (v >> 21) & 15, (v >> 16) & 31,
                (v >> 11) & 31, (v >> 5) & 63, (v & 31) * 2);
  return text;
}

std::string dicom_log_status(const std::string& linux_path) {
  auto bytes = platform::read_file(linux_path);
  if (!bytes) return "ERR:no log file";
  std::string last, line;
  for (std::uint8_t b : *bytes) {
    if (b == '\r' || b == '\n') {
      if (!line.empty()) last = line;
      line.clear();
    } else if (line.size() < kStatusWidth) {
      line += static_cast<char>(b);
    }
  }
  if (!line.empty()) last = line;
  return last;
}

int start_dicom_converter(const std::string& destination, const std::string& stem, int options) {
  std::uint32_t stamp = 0;
  auto tim = platform::read_file(platform::map_path(export_file(destination, stem + ".tim")), 4);
  if (tim && tim->size() == 4)
    stamp = (*tim)[0] | (*tim)[1] << 8 | (*tim)[2] << 16 | static_cast<std::uint32_t>((*tim)[3]) << 24;
  const std::string program = platform::find_program(kConverter);
  if (program.empty()) return ENOENT;
  if (options & 0x80) minimise_main_window();
  const std::string folder = platform::map_path(export_file(destination, ""));
  const int r = platform::run_program(kConverter, {stem, dicom_stamp_text(stamp)}, folder);
  const int error = errno;
  if (options & 0x80) {
    restore_main_window();
    mark_dirty(~0);
  }
  return r == platform::kNotStarted ? (error ? error : ENOENT) : r;
}

void show_dicom_log(const std::string& linux_path) {
  clear_to_tile();
  auto bytes = platform::read_file(linux_path).value_or(std::vector<std::uint8_t>{});
  // The text stays above the EXIT button and inside 80 columns.
  constexpr int kLastLineY = 370 - 14 - 24 - 14;
  int y = 0, column = 0;
  for (std::uint8_t b : bytes) {
    if (b == '\r') {
      column = 0;
    } else if (b == '\n') {
      if (y + 14 > kLastLineY) break;
      y += 14;
    } else {
      if (column < 80 && b != 0) {
        const char cell[2] = {static_cast<char>(b), 0};
        draw_text_cells(cell, y, column, kColorBackground, kColorWhite);
      }
      ++column;
    }
  }
  draw_text_cells("Touch exit to continue...", y + 24, 0, kColorBackground, kColorWhite);
  ButtonRecord exit_button[] = {make_button(0, 370, 640, 480, "EXIT^dcm_log_exit", kExit, kEscapeKeyCode, 17),
                                kButtonTableEnd};
  draw_buttons(exit_button);
  flush_dirty();
  int e = kNoEvent;
  while ((e & ~kRepeatBit) != kExit && is_event_loop_live()) e = get_button_event(exit_button);
  wait_button_release(exit_button);
}

int run_dicom_export(int argc, char* argv[]) {
  ExportArgs args;
  if (parse_export_args(argc, argv, kNumberedExportIdLimit, args) != 0) return kBadArguments;
  if (!args.end) return study_call(args);
  DicomBatch batch(args);
  return batch.run();
}

}  // namespace vaslab
