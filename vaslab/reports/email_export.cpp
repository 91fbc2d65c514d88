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
#include "vaslab/core/toolkit/message_box.h"
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

// Every copy a batch makes, with the folder it went to, one line each
// ("C:\MAIL\8.zvt"), written before the copy: the export folder may be
// another by the time the batch is found unsent.  Emptied once the batch
// went out, and at every batch's start.
constexpr char kMailCopies[] = "c:\\smtp\\copies";

// An export copy's name as this module makes it: a number and ".zvt".
bool is_mail_copy_name(const std::string& name) {
  const std::size_t digits = name.find_first_not_of("0123456789");
  return digits > 0 && digits != std::string::npos && platform::same_name(name.substr(digits), ".zvt");
}

struct MailedStudy {
  std::string file, patient;
};

// The studies the mail text lists ("Filename: 8.zvt", then "Name: ..."),
// the export's own numbered names only.
std::vector<MailedStudy> mailed_studies(const std::string& text) {
  std::vector<MailedStudy> studies;
  const std::string file_key = "Filename: ", name_key = "Name: ";
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    if (line.compare(0, file_key.size(), file_key) == 0) {
      const std::string name = line.substr(file_key.size());
      if (is_mail_copy_name(name)) studies.push_back({name, ""});
    } else if (line.compare(0, name_key.size(), name_key) == 0 && !studies.empty() && studies.back().patient.empty()) {
      std::string patient = line.substr(name_key.size());
      patient.erase(patient.find_last_not_of(' ') + 1);
      studies.back().patient = patient;
    }
  }
  return studies;
}

// The copies of the record, as written whole: a line cut short by a kill
// names no copy.
std::vector<std::string> recorded_copies(const std::string& record) {
  std::vector<std::string> copies;
  for (std::size_t at = 0, end; (end = record.find('\n', at)) != std::string::npos; at = end + 1) {
    const std::string path = record.substr(at, end - at);
    if (is_mail_copy_name(path.substr(path.find_last_of("\\/") + 1))) copies.push_back(path);
  }
  return copies;
}

std::string file_text(const char* win_path) {
  const auto bytes = platform::read_file(platform::map_path(win_path));
  return bytes ? std::string(bytes->begin(), bytes->end()) : std::string();
}

// What the operator is told of a batch that never went out.
std::string unsent_notice(const std::vector<MailedStudy>& studies) {
  constexpr std::size_t kShown = 8;  // the box's twelve lines
  std::string text = "The last e-mail batch was not sent:";
  for (std::size_t i = 0; i < studies.size() && i < kShown; ++i)
    text += "\r" + studies[i].file + " " + studies[i].patient;
  if (studies.size() > kShown) text += "\rand " + std::to_string(studies.size() - kShown) + " more";
  return text + "\rIts copies are removed. Export\rthese studies again to mail them.";
}

// A batch's first study finds no mark in C:\TEMP\ (the export screen's start
// of a batch empties that folder).  What the mail text still lists then
// belongs to a batch that never went out, killed or refused by the mail
// program: the operator is told, the copies the record holds of it go from
// the folders they were written to, and text and record are emptied, so
// that this batch mails its own studies only, numbered as if that batch had
// not been.  A listed copy the record does not hold went out with a batch
// whose mail program keeps the text, or is not this module's: it stays.
int start_mail_batch() {
  const std::string mark = platform::map_path_create_dirs(kMailBatchMark);
  if (platform::file_size(mark)) return kOk;
  const std::string text_path = platform::map_path_create_dirs(kMailText);
  const std::string copies_path = platform::map_path(kMailCopies);
  const std::vector<std::string> copies = recorded_copies(file_text(kMailCopies));
  std::vector<MailedStudy> unsent;
  std::vector<std::string> unsent_copies;
  for (const MailedStudy& study : mailed_studies(file_text(kMailText))) {
    bool held = false;
    for (const std::string& copy : copies) {
      if (!platform::same_name(copy.substr(copy.find_last_of("\\/") + 1), study.file)) continue;
      unsent_copies.push_back(copy);
      held = true;
    }
    if (held) unsent.push_back(study);
  }
  // Told before anything goes: cut off here, the next start tells it again.
  if (!unsent.empty()) show_message_box(nullptr, unsent_notice(unsent).c_str(), "E-mail not sent", kMbOkOnly);
  for (const std::string& copy : unsent_copies)
    if (platform::file_delete(copy) == 0) platform::debug_printf("mail: %s of a batch never sent removed\n", copy.c_str());
  for (const auto& [path, where] : {std::pair{text_path, kMailText}, std::pair{copies_path, kMailCopies}})
    if (const int r = platform::write_file_atomic(path, "", 0); r != 0) {
      platform::note_failure_cause(where, r);
      return kNoMailText;
    }
  if (const int r = platform::write_file_atomic(mark, "", 0); r != 0) {
    platform::note_failure_cause(kMailBatchMark, r);
    return kNoMailText;
  }
  return kOk;
}

// Cuts a file of the batch back to its length before an entry.
void take_back_batch_entry(const char* win_path, long long before) {
  if (before < 0) return;
  const int f = platform::file_open(win_path, platform::OpenMode::kReadWrite);
  if (f < 0) return;
  (void)platform::file_truncate(f, static_cast<std::uint64_t>(before));
  (void)platform::file_close(f);
}

// Appends `entry` to a file of the batch whole: its length before, or -1
// with the cause noted.
long long append_batch_entry(const char* win_path, const std::string& entry) {
  const int f = platform::file_open(win_path, platform::OpenMode::kAppend);
  if (f < 0) {
    platform::note_failure_cause(win_path, f);
    return -1;
  }
  const long long before = platform::file_length(f);
  const long long written = platform::file_write(f, entry.data(), entry.size());
  const int closed = platform::file_close(f);
  if (before >= 0 && written == static_cast<long long>(entry.size()) && closed == 0) return before;
  platform::note_failure_cause(win_path, written < 0 ? static_cast<int>(written) : closed < 0 ? closed : -EIO);
  take_back_batch_entry(win_path, before);  // whatever got in goes again
  return -1;
}

int add_mail_study(const ExportArgs& args) {
  if (const int r = start_mail_batch()) return r;
  // The copy goes into the record, and its entry into the text, before it
  // is made: a copy neither names could never be told from one that went
  // out, nor found again once the export folder is another.
  long long record_before = -1, text_before = -1;
  int number = 0;
  const int r = copy_study(args, number, [&] {
    const std::string name = std::to_string(number) + ".zvt";
    record_before = append_batch_entry(kMailCopies, export_file(args.destination, name) + "\n");
    if (record_before < 0) return static_cast<int>(kNoMailText);
    // Name, study type and date, as the export screen wrote them; a short
    // file leaves them empty.
    char info[81] = {};
    auto bytes = platform::read_file(platform::map_path("c:\\temp\\exinfo"), sizeof info);
    if (bytes && bytes->size() == sizeof info) std::memcpy(info, bytes->data(), sizeof info);
    const std::string entry = "Filename: " + name + "\n" + "Name: " + std::string(field_text(info, 29)) + "\n" +
                              "Type: " + std::string(field_text(info + 30, 29)) + "\n" + "Date: " +
                              std::string(field_text(info + 60, 20)) + "\n\n\n";
    text_before = append_batch_entry(kMailText, entry);
    return static_cast<int>(text_before < 0 ? kNoMailText : kOk);
  });
  if (r != kOk) {
    // The study is not in the batch: its entries go again.
    take_back_batch_entry(kMailText, text_before);
    take_back_batch_entry(kMailCopies, record_before);
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
  // Sent: its copies are the export's now, whatever the mail text still
  // says.  A record left behind matters only where the mail program keeps
  // the text it sent (the project's empties it).
  if (result == 0) (void)platform::write_file_atomic(platform::map_path(kMailCopies), "", 0);
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
