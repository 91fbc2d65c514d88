#include "vaslab/reports/email_export.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/command_line.h"
#include "platform/failure_cause.h"
#include "platform/debug.h"
#include "platform/file_io.h"
#include "platform/find.h"
#include "platform/paths.h"
#include "platform/process.h"
#include "vaslab/core/input/event_wait.h"
#include "vaslab/core/settings/settings.h"
#include "vaslab/core/toolkit/buttons.h"
#include "vaslab/core/toolkit/main_window.h"
#include "vaslab/core/toolkit/screen.h"
#include "vaslab/reports/export_args.h"
#include "vaslab/reports/module_entries.h"
#include "vaslab/reports/report_generator.h"
#include "vaslab/reports/template_format.h"

namespace vaslab {
namespace {

enum Result : int { kOk = 0, kBadArguments = 1, kNoNumber = 10, kNoMailText = 11 };

constexpr char kMailText[] = "c:\\smtp\\text";
// Present from a batch's first study to its end call.
constexpr char kMailBatchMark[] = "c:\\temp\\smtpbat";
constexpr char kMailOutput[] = "c:\\smtp\\out";
constexpr char kMailBatch[] = "c:\\programs\\dosmtp.bat";
constexpr char kViewer[] = "C:\\PROGRAMS\\VEVIDUDO";
constexpr char kViewerCommand[] = "C:\\PROGRAMS\\VEVIDUDO.CMD";
constexpr int kFirstResultLine = 4;
constexpr int kLastResultLine = 24;
constexpr int kResultColumns = 80;
constexpr int kExitCode = 101;

// The first line of a text file, at most `max` bytes read; empty when the
// file is missing.
std::string first_line(const char* win_path, std::size_t max) {
  auto bytes = platform::read_file(platform::map_path(win_path), max);
  if (!bytes) return {};
  std::string text(bytes->begin(), bytes->end());
  return text.substr(0, text.find_first_of(std::string("\r\n\0", 3)));
}

// The study's report, a number and the copy of its page: 0, or the result
// the export returns.  `before_copy` runs once the number is chosen; a
// result of its own other than 0 is the export's, and nothing is copied.
template <typename BeforeCopy>
int copy_study(const ExportArgs& args, int& number, BeforeCopy before_copy) {
  std::string iproc = "C:\\PROGRAMS\\IPROC", id = args.id_text;
  char* argv[] = {iproc.data(), id.data(), nullptr};
  if (const int r = generate_report(2, argv)) return r;
  number = export_file_number(args.destination, args.options, args.id);
  if (number >= 1000) return kNoNumber;
  if (const int r = before_copy()) return r;
  return copy_export_file(data_directory_path() + args.id_text + ".pdf",
                          export_file(args.destination, std::to_string(number) + ".zvt"), true) == 0
             ? kOk
             : kBadArguments;
}

// --- E-mail ---------------------------------------------------------------

// The copies the mail text names ("Filename: 8.zvt"), as the mail program
// reads them: the export's own numbered names only.
std::vector<std::string> mailed_copies(const std::string& text) {
  std::vector<std::string> names;
  const std::string key = "Filename: ";
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    if (line.compare(0, key.size(), key) != 0) continue;
    const std::string name = line.substr(key.size());
    const std::size_t digits = name.find_first_not_of("0123456789");
    if (digits > 0 && digits != std::string::npos && platform::same_name(name.substr(digits), ".zvt"))
      names.push_back(name);
  }
  return names;
}

// A batch's first study finds no mark in C:\TEMP\ (the export screen's start
// of a batch empties that folder).  Whatever the mail text still names then
// belongs to a batch that never went out, killed or refused by the mail
// program: its copies go and the text is emptied, so that this batch mails
// its own studies only, numbered as if that batch had not been.
int start_mail_batch(const ExportArgs& args) {
  const std::string mark = platform::map_path_create_dirs(kMailBatchMark);
  if (platform::file_size(mark)) return kOk;
  const std::string text_path = platform::map_path_create_dirs(kMailText);
  if (const auto text = platform::read_file(text_path)) {
    for (const std::string& name : mailed_copies(std::string(text->begin(), text->end())))
      if (platform::file_delete(export_file(args.destination, name)) == 0)
        platform::debug_printf("mail: %s of a batch never sent removed\n", name.c_str());
  }
  if (platform::write_file_atomic(text_path, "", 0) != 0) return kNoMailText;
  return platform::write_file_atomic(mark, "", 0) == 0 ? kOk : kNoMailText;
}

int add_mail_study(const ExportArgs& args) {
  if (const int r = start_mail_batch(args)) return r;
  // The entry goes into the text before the copy is made: a copy the text
  // does not name could never be told from one that went out.
  long long text_before = -1;
  int number = 0;
  const int r = copy_study(args, number, [&] {
    // Name, study type and date, as the export screen wrote them; a short
    // file leaves them empty.
    char info[81] = {};
    auto bytes = platform::read_file(platform::map_path("c:\\temp\\exinfo"), sizeof info);
    if (bytes && bytes->size() == sizeof info) std::memcpy(info, bytes->data(), sizeof info);
    const std::string entry = "Filename: " + std::to_string(number) + ".zvt\n" + "Name: " +
                              std::string(field_text(info, 29)) + "\n" + "Type: " +
                              std::string(field_text(info + 30, 29)) + "\n" + "Date: " +
                              std::string(field_text(info + 60, 20)) + "\n\n\n";
    const int f = platform::file_open(kMailText, platform::OpenMode::kAppend);
    if (f < 0) {
      platform::note_failure_cause(kMailText, f);
      return static_cast<int>(kNoMailText);
    }
    text_before = platform::file_length(f);
    const long long written = platform::file_write(f, entry.data(), entry.size());
    const int closed = platform::file_close(f);
    if (written == static_cast<long long>(entry.size()) && closed == 0) return static_cast<int>(kOk);
    platform::note_failure_cause(kMailText, written < 0 ? static_cast<int>(written) : closed < 0 ? closed : -EIO);
    return static_cast<int>(kNoMailText);
  });
  if (r != kOk && text_before >= 0) {
    // The study is not in the batch: its entry goes again.
    const int f = platform::file_open(kMailText, platform::OpenMode::kReadWrite);
    if (f >= 0) {
      (void)platform::file_truncate(f, static_cast<std::uint64_t>(text_before));
      (void)platform::file_close(f);
    }
  }
  return r;
}

// The mail command: the first word names a program of "C:\PROGRAMS\", the
// rest are its arguments.  Its exit status, or kNotStarted with `cause`
// saying why it did not run.
int run_mail_command(std::string& cause) {
  const std::vector<std::string> words = platform::split_command_line(first_line(kMailBatch, 499));
  if (words.empty()) {
    cause = std::string(kMailBatch) + " names no mail command.";
    return platform::kNotStarted;
  }
  const std::string program = "C:\\PROGRAMS\\" + words[0];
  const int result = platform::run_program(program, {words.begin() + 1, words.end()});
  if (result == platform::kNotStarted) cause = "Cannot start " + program + ": " + std::strerror(errno) + ".";
  return result;
}

int send_email_batch(int options) {
  (void)platform::file_delete(kMailBatchMark);
  // What an earlier batch's program wrote must not pass for this one's.
  std::remove(platform::map_path(kMailOutput).c_str());
  if (options & 0x80) minimise_main_window();
  std::string cause;
  const int result = run_mail_command(cause);
  if (options & 0x80) restore_main_window();
  std::string output;
  bool have_output = false;
  if (auto bytes = platform::read_file(platform::map_path(kMailOutput))) {
    output.assign(bytes->begin(), bytes->end());
    have_output = true;
  }
  // White lines on the plain background tile, as the other text screens.
  release_background();
  g_draw.fill_color = kColorBackground;
  clear_screen();
  const std::vector<std::string> lines = mail_result_lines(result, have_output ? &output : nullptr, cause);
  for (std::size_t i = 0; i < lines.size(); ++i)
    draw_text_cells(lines[i].c_str(), (kFirstResultLine + static_cast<int>(i)) * 16, 0, kColorBackground,
                    kColorWhite);
  ButtonRecord table[] = {
      make_button(0, 0, 639, 47, "Exit^mail_exit", kExitCode, 'e', 13),
      make_button(700, 700, 700, 700, "", kExitCode, kEscapeKeyCode, 0, kButtonHidden),
      kButtonTableEnd,
  };
  draw_buttons(table);
  int e = kNoEvent;
  while (e != kExitCode && is_event_loop_live()) e = get_button_event(table) & ~kRepeatBit;
  wait_button_release(table);
  return result;
}

// --- Viewer ---------------------------------------------------------------

// Runs a configured command line: a first word that is a drive path is
// mapped, a bare one looked up on PATH.
void run_viewer_command(const std::string& line) {
  std::vector<std::string> words = platform::split_command_line(line);
  if (words.empty()) return;
  if (words[0].size() > 1 && words[0][1] == ':') words[0] = platform::map_path(words[0]);
  (void)platform::run_command(words);  // the command's result is not the export's
}

int view_study(const ExportArgs& args) {
  const bool minimise = args.options & 0x80;
  int number = 0;
  int result = copy_study(args, number, [&] {
    if (minimise) minimise_main_window();
    return 0;
  });
  const std::string copy =
      platform::map_path(export_file(args.destination, std::to_string(number) + ".zvt"));
  if (result == kOk && (args.options & 0x10)) {
    // The site's viewer when it has one, else the desktop's.
    if (!platform::find_program(kViewer).empty())
      result = platform::run_program(kViewer, {copy});
    else
      result = platform::run_command({"xdg-open", copy});
  }
  if (result == kOk && (args.options & 0x20)) {
    const std::string line = first_line(kViewerCommand, 1999);
    if (!line.empty()) {
      std::string folder = platform::map_path(export_file(args.destination, ""));
      run_viewer_command(substitute_viewer_command(line, args.id_text, folder, std::to_string(args.options), number));
    }
  }
  if (minimise) restore_main_window();
  return result;
}

}  // namespace

int export_file_number(const std::string& destination, int options, int id) {
  if (options & 0x08) return id;
  long highest = 0;
  for (const auto& f : platform::list_files(export_file(destination, "*.*"))) {
    long n = 0;
    for (char c : f.name) {
      if (!std::isdigit(static_cast<unsigned char>(c)) || n > 100000) break;
      n = n * 10 + (c - '0');
    }
    highest = std::max(highest, n);
  }
  return static_cast<int>(std::min<long>(highest + 1, 100000));
}

std::string substitute_viewer_command(std::string_view line, const std::string& id, const std::string& folder,
                                      const std::string& options, int number) {
  const std::string quoted_folder = folder.find_first_of(" \t") != std::string::npos ? "\"" + folder + "\"" : folder;
  std::string out;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] != '%') {
      out += line[i];
      continue;
    }
    if (i + 1 >= line.size()) break;
    switch (line[++i]) {
      case '1': out += id; break;
      case '2': out += quoted_folder; break;
      case '3': out += options; break;
      case '4': out += std::to_string(number); break;
      default: break;
    }
  }
  return out;
}

std::vector<std::string> mail_result_lines(int result, const std::string* output, const std::string& cause) {
  const std::size_t limit = kLastResultLine - kFirstResultLine + 1;
  std::vector<std::string> lines;
  // A text as screen lines: a new line at each line feed or after 80
  // characters, characters below 32 dropped.
  auto add = [&](const std::string& text) {
    std::string line;
    for (char c : text) {
      if (lines.size() >= limit) return;
      if (c == '\n') {
        lines.push_back(line);
        line.clear();
        continue;
      }
      if (static_cast<unsigned char>(c) < 32) continue;
      line += c;
      if (line.size() == kResultColumns) {
        lines.push_back(line);
        line.clear();
      }
    }
    if (!line.empty() && lines.size() < limit) lines.push_back(line);
  };
  if (result == 0) {
    add("Send Email Complete.  Results follow:\n");
  } else if (!cause.empty()) {
    add("MAIL Send Error!\nDOS Error!\n" + cause + "\n");
  } else {
    add("MAIL Send Error!\nThe mail command ended with status " + std::to_string(result) + ".\n");
  }
  if (output && output->find_first_not_of(" \t\r\n") != std::string::npos)
    add(*output);
  else if (cause.empty())
    add("The mail command left no report in c:\\smtp\\out.");
  return lines;
}

int run_email_export(int argc, char* argv[]) {
  ExportArgs args;
  if (parse_export_args(argc, argv, kNumberedExportIdLimit, args) != 0) return kBadArguments;
  return args.end ? send_email_batch(args.options) : add_mail_study(args);
}

int run_viewer_export(int argc, char* argv[]) {
  ExportArgs args;
  if (parse_export_args(argc, argv, kNumberedExportIdLimit, args) != 0) return kBadArguments;
  return args.end ? kOk : view_study(args);
}

}  // namespace vaslab
